// SPDX-License-Identifier: MIT
// The bulk transport against virtual adapters: finding and claiming the
// vendor interface, timeouts and errors, writes, and the
// choice of adapter when the HID transport opens it.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/core/Protocol.h"
#include "sdk/transport/BulkTransport.h"
#include "sdk/transport/HidTransport.h"
#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;
using sim::Model;
using sim::VirtualAdapter;

TEST(BulkTransportOpen, ClaimsTheVendorInterfaceWithItsPacketSize) {
    VirtualAdapter adapter(adapterOptions("BULK-Q", Model::Quillex));
    BulkTransport bulk;
    ASSERT_TRUE(bulk.open(kVendorId, kProductIdQuillex, ""));
    EXPECT_TRUE(bulk.isOpen());
    EXPECT_EQ(bulk.maxPacketSize(), 512u);
    EXPECT_EQ(bulk.lastError(), "");

    // The interface stays claimed: a second claimant is turned away.
    BulkTransport other;
    EXPECT_FALSE(other.open(kVendorId, kProductIdQuillex, ""));
    EXPECT_EQ(other.lastError(), "could not claim the vendor interface");

    bulk.close();
    EXPECT_FALSE(bulk.isOpen());
    EXPECT_TRUE(other.open(kVendorId, kProductIdQuillex, ""));
}

TEST(BulkTransportOpen, MissingInterfaceIsReported) {
    VirtualAdapter adapter(adapterOptions("NOBULK", Model::Teranox, false));
    BulkTransport bulk;
    EXPECT_FALSE(bulk.open(kVendorId, kProductIdTeranox, ""));
    EXPECT_EQ(bulk.lastError(), "no vendor bulk interface found");

    uint8_t byte = 0;
    EXPECT_FALSE(bulk.read(&byte, 1, 100));
    EXPECT_EQ(bulk.lastError(), "bulk transport not open");
    EXPECT_FALSE(bulk.write(&byte, 1, 100));
    EXPECT_EQ(bulk.lastError(), "bulk transport not open");
    // (That the HID connection does not depend on it: WithoutBulkInterface.)
}

// The HID path or serial number picks the adapter; the bulk interface must be
// that adapter's, not the first of the same model in the USB list.
TEST(BulkTransportOpen, EachConnectionUsesTheBulkInterfaceOfItsOwnAdapter) {
    VirtualAdapter first(adapterOptions("PAIR-A"));
    VirtualAdapter second(adapterOptions("PAIR-B"));
    BulkTransport bulk;
    EXPECT_FALSE(bulk.open(kVendorId, kProductIdTeranox, "PAIR-C"));
    EXPECT_EQ(bulk.lastError(), "no vendor bulk interface found");

    const Bytes data = pattern(16);
    HidTransport transport;
    ASSERT_TRUE(transport.open(second.path(), ""));
    ASSERT_TRUE(transport.bulk().write(data.data(), data.size(), kBulkDataTimeoutMs));
    EXPECT_EQ(second.bulkReceived(), data);
    EXPECT_TRUE(first.bulkReceived().empty());
    transport.close();
    EXPECT_FALSE(transport.bulk().isOpen());

    ASSERT_TRUE(transport.open("", "PAIR-A"));
    ASSERT_TRUE(transport.bulk().write(data.data(), data.size(), kBulkDataTimeoutMs));
    EXPECT_EQ(first.bulkReceived(), data);
}

TEST(BulkTransportIo, FailuresTellWhatHappened) {
    VirtualAdapter adapter(adapterOptions("SHORT"));
    BulkTransport bulk;
    ASSERT_TRUE(bulk.open(kVendorId, kProductIdTeranox, ""));
    adapter.sendBulk(pattern(100));
    Bytes buffer(300);
    EXPECT_FALSE(bulk.read(buffer.data(), buffer.size(), 200));
    EXPECT_EQ(bulk.lastError(), "bulk read timed out with 100 of 300 bytes");

    // The next transfer starts clean and clears the error.
    adapter.sendBulk(Bytes(10, 0x5A));
    buffer.resize(10);
    ASSERT_TRUE(bulk.read(buffer.data(), buffer.size(), kBulkDataTimeoutMs));
    EXPECT_EQ(buffer, Bytes(10, 0x5A));
    EXPECT_EQ(bulk.lastError(), "");

    adapter.faults().stallBulkIn(true);
    EXPECT_FALSE(bulk.read(buffer.data(), buffer.size(), kBulkDataTimeoutMs));
    EXPECT_EQ(bulk.lastError(), "bulk read failed: LIBUSB_ERROR_PIPE");
    adapter.unplug();
    EXPECT_FALSE(bulk.write(buffer.data(), buffer.size(), kBulkDataTimeoutMs));
    EXPECT_EQ(bulk.lastError(), "bulk write failed: LIBUSB_ERROR_NO_DEVICE");
}

// ------------------------------------------- the rest of a failed read

enum class Rest { HeldBack, Lost, AfterTheNextRead };

struct LateRestRow {
    std::string name;
    Rest rest;
};

class LateRest : public ::testing::TestWithParam<LateRestRow> {};

// A read gets 3 of 8 bytes and times out. The other 5 come after the next
// read was sent (ahead of its own data), after the next read was done, or
// never. Either way the next reads return their own bytes.
TEST_P(LateRest, NeverReachesTheNextReads) {
    using namespace std::chrono_literals;
    const Rest rest = GetParam().rest;
    VirtualAdapter adapter(adapterOptions("LATE-REST"));
    BulkTransport bulk;
    ASSERT_TRUE(bulk.open(kVendorId, kProductIdTeranox, ""));
    const Bytes first = pattern(8, 1);
    if (rest == Rest::Lost) adapter.faults().limitBulkIn(3);
    if (rest == Rest::HeldBack) adapter.faults().delayBulkIn(3, 1000ms);  // beyond the 100 ms
    adapter.sendBulk(rest == Rest::AfterTheNextRead ? Bytes(first.begin(), first.begin() + 3)
                                                    : first);
    Bytes buffer(8);
    EXPECT_FALSE(bulk.read(buffer.data(), buffer.size(), 100));
    EXPECT_EQ(bulk.lastError(), "bulk read timed out with 3 of 8 bytes");
    adapter.faults().limitBulkIn(std::nullopt);

    for (const uint8_t seed : {7, 9}) {
        bulk.discardStale();  // as before every read request
        if (rest == Rest::AfterTheNextRead && seed == 9) {
            adapter.sendBulk(Bytes(first.begin() + 3, first.end()));
        }
        adapter.sendBulk(pattern(8, seed));
        ASSERT_TRUE(bulk.read(buffer.data(), buffer.size(), kBulkDataTimeoutMs))
            << bulk.lastError();
        EXPECT_EQ(buffer, pattern(8, seed));
    }
    EXPECT_EQ(bulk.owedBytes(), rest == Rest::Lost ? 5u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    FailedRead, LateRest,
    ::testing::Values(LateRestRow{"HeldBackPastTheNextRequest", Rest::HeldBack},
                      LateRestRow{"ArrivesAfterTheNextRead", Rest::AfterTheNextRead},
                      LateRestRow{"Lost", Rest::Lost}),
    RowName{});

// ------------------------------------------------ reads nobody answered

struct UnansweredRow {
    std::string name;
    bool dataCameInTime;  // else the data comes late, then the answer too
};

class UnansweredBulkRead : public ::testing::TestWithParam<UnansweredRow> {};

// The first bulk read gets no answer in time: its data came and its answer
// was lost, or both come late (the data before the next request, the
// answer after it). The next reads return their own data: the old data is
// neither taken as theirs nor counted twice.
TEST_P(UnansweredBulkRead, LeavesNoDataForTheNextReads) {
    VirtualAdapter adapter;
    VantorSDK sdk(250);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_TRUE(sdk.getBulkCapabilities().supported);
    const bool inTime = GetParam().dataCameInTime;
    int call = 0;
    Bytes firstRequest;
    script(adapter, [&](const Bytes& req) {
        if (commandOf(req) != 0x0908) return Bytes{};
        const uint8_t seed = static_cast<uint8_t>(call++);
        if (seed == 0) {
            firstRequest = req;
            if (inTime) adapter.sendBulk(pattern(16, seed));
            return Bytes{};  // no answer
        }
        // The first read's late answer comes before this one's.
        if (seed == 1 && !inTime) adapter.send(reply(firstRequest, 0, {0x50, 16, 0}));
        adapter.sendBulk(pattern(16, seed));
        return reply(req, 0, {0x50, 16, 0});
    });

    Bytes out;
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 16, out, false), kTimeout);
    if (!inTime) adapter.sendBulk(pattern(16, 0));
    for (const uint8_t seed : {1, 2}) {
        ASSERT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 16, out, false), 0);
        EXPECT_EQ(out, pattern(16, seed));
    }
}

INSTANTIATE_TEST_SUITE_P(Abandoned, UnansweredBulkRead,
                         ::testing::Values(UnansweredRow{"DataCameAndTheAnswerWasLost", true},
                                           UnansweredRow{"DataAndAnswerBothLate", false}),
                         RowName{});

}  // namespace
}  // namespace vantor
