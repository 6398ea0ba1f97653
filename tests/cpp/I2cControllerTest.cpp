// SPDX-License-Identifier: MIT
// I2C controller commands of both SDK classes: the transfer header and its
// subaddress, refusals, read and scan decoding, the bulk data phases and
// transport faults.

#include <gtest/gtest.h>

#include <functional>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

const Bytes kFiveBytes = {1, 2, 3, 4, 5};

constexpr uint16_t kId = kRequestId;

// Subaddresses go most significant byte first into a 4-byte field.
// clang-format off
INSTANTIATE_TEST_SUITE_P(I2cController, RequestBytes, ::testing::Values(
    SentRequest{"ControllerInit", [](VantorAsyncSDK& s) { return s.i2cControllerInit(kId, 1, 400000, 7); }, {0x01, 0x09, 0x01, 0x80, 0x1A, 0x06, 0x00, 0x07}},
    SentRequest{"SetParameters", [](VantorAsyncSDK& s) { return s.i2cSetParameters(kId, 0, 100000, 12); }, {0x02, 0x09, 0x00, 0xA0, 0x86, 0x01, 0x00, 0x0C}},
    SentRequest{"SetPullUpResistors", [](VantorAsyncSDK& s) { return s.i2cSetPullUpResistors(kId, 1, 11); }, {0x02, 0x08, 0x01, 0x0B}},
    SentRequest{"Deinit", [](VantorAsyncSDK& s) { return s.i2cDeinit(kId, 1); }, {0x01, 0x08, 0x01}},
    SentRequest{"WriteNonstopFourByteSubaddress", [](VantorAsyncSDK& s) { return s.i2cWrite(kId, 0, 0x50, {1, 2, 3, 4}, {0xAA, 0xBB}, true); }, {0x04, 0x09, 0x00, 0x02, 0x00, 0x50, 0x04, 0x04, 0x03, 0x02, 0x01, 0x01, 0xAA, 0xBB}},
    SentRequest{"Read", [](VantorAsyncSDK& s) { return s.i2cRead(kId, 1, 0x51, {0x12, 0x34}, 16, false); }, {0x05, 0x09, 0x01, 0x10, 0x00, 0x51, 0x02, 0x34, 0x12, 0x00, 0x00, 0x00}},
    SentRequest{"ScanBusWithTenBit", [](VantorAsyncSDK& s) { return s.i2cScanBus(kId, 1, true); }, {0x06, 0x09, 0x01, 0x01}},
    SentRequest{"ReadBulkLongest", [](VantorAsyncSDK& s) { return s.i2cReadBulk(kId, 0, 0x52, {}, 32768, false); }, {0x08, 0x09, 0x00, 0x00, 0x80, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    SentRequest{"WriteBulkHeaderOnly", [](VantorAsyncSDK& s) { return s.i2cWriteBulk(kId, 1, 0x53, {0x7F}, pattern(100), false); }, {0x07, 0x09, 0x01, 0x64, 0x00, 0x53, 0x01, 0x7F, 0x00, 0x00, 0x00, 0x00}}),
    RowName{});
// clang-format on

// The most data a 16-bit length can announce still goes out; one byte more
// would be announced short, and is refused.
TEST(I2cControllerAsync, WriteLengthUpToTheLengthField) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.i2cWrite(10, 1, 0x68, {}, Bytes(65535), false), 0);
    const Bytes first = adapter.reports().at(0);  // report id, segment header, message
    EXPECT_EQ(Bytes(first.begin() + 3, first.begin() + 10),
              (Bytes{0x0A, 0x00, 0x04, 0x09, 0x01, 0xFF, 0xFF}));
    ASSERT_TRUE(adapter.waitForRequests(1, kWaitLimit));
    EXPECT_EQ(adapter.requests().at(0).size(), 14u + 65535u);
    adapter.clear();
    EXPECT_EQ(sdk.i2cWrite(11, 1, 0x68, {}, Bytes(65536), false), kWrongRequest);
    EXPECT_TRUE(adapter.reports().empty());
}

// Arguments the adapter could not take. The subaddress check is one for
// every transfer; the bulk lengths and the scan's outputs have their own.
// clang-format off
INSTANTIATE_TEST_SUITE_P(I2cController, WrongRequestRefusal, ::testing::Values(
    RefusedCall{"WriteSubaddressOverFourBytes", [](VantorAsyncSDK& a) { return a.i2cWrite(1, 0, 0x50, kFiveBytes, {1}, false); }},
    RefusedCall{"ReadBulkSubaddressOverFourBytes", [](VantorAsyncSDK& a) { return a.i2cReadBulk(4, 0, 0x50, kFiveBytes, 1, false); }},
    RefusedCall{"WriteBulkOfNothing", [](VantorAsyncSDK& a) { return a.i2cWriteBulk(6, 0, 0x50, {}, {}, false); }},
    RefusedCall{"WriteBulkOver32768Bytes", [](VantorAsyncSDK& a) { return a.i2cWriteBulk(7, 0, 0x50, {}, Bytes(32769), false); }},
    RefusedCall{"ReadBulkOfNothing", [](VantorAsyncSDK& a) { return a.i2cReadBulk(8, 0, 0x50, {}, 0, false); }},
    RefusedCall{"ReadBulkOver32768Bytes", [](VantorAsyncSDK& a) { return a.i2cReadBulk(9, 0, 0x50, {}, 32769, false); }},
    RefusedCall{"ScanOfBus2", [](VantorAsyncSDK& a) { return a.i2cScanBus(5, 2, false); }},
    RefusedCall{"ScanWithoutCount7", nullptr, [](VantorSDK& s) {Bytes out; uint8_t n = 0; return s.i2cScanBus(out, nullptr, &n, 0, false); }},
    RefusedCall{"ScanWithoutCount10", nullptr, [](VantorSDK& s) {Bytes out; uint8_t n = 0; return s.i2cScanBus(out, &n, nullptr, 0, false); }}),
    RowName{});
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(I2cController, NotConnected, ::testing::Values(
    RefusedCall{"WriteBulkWithSubaddressOverFourBytes", [](VantorAsyncSDK& a) { return a.i2cWriteBulk(1, 0, 0x50, kFiveBytes, {}, false); }},
    RefusedCall{"ReadBulk", nullptr, [](VantorSDK& s) { Bytes out; return s.i2cReadBulk(0, 0x50, {}, 1, out, false); }}),
    RowName{});

INSTANTIATE_TEST_SUITE_P(I2cController, WithoutBulkInterface, ::testing::Values(
    RefusedCall{"AsyncWriteBulk", [](VantorAsyncSDK& a) { return a.i2cWriteBulk(1, 0, 0x50, {}, {1}, false); }},
    RefusedCall{"AsyncReadBulk", [](VantorAsyncSDK& a) { return a.i2cReadBulk(2, 0, 0x50, {}, 1, false); }},
    RefusedCall{"WriteBulk", nullptr, [](VantorSDK& s) { return s.i2cWriteBulk(0, 0x50, {}, {1}, false); }},
    RefusedCall{"ReadBulk", nullptr, [](VantorSDK& s) { Bytes out; return s.i2cReadBulk(0, 0x50, {}, 1, out, false); }}),
    RowName{});
// clang-format on

TEST(I2cController, ScanArgumentsAreCheckedBeforeTheConnection) {
    VantorSDK sdk(2000);
    Bytes out;
    uint8_t count7 = 0, count10 = 0;
    EXPECT_EQ(sdk.i2cScanBus(out, &count7, &count10, 2, false), kWrongRequest);
}

// A read's bytes (0xEE when untouched); a scan's counts, then its addresses
// (0xEE each when untouched).
Decoded read16(VantorSDK& s) {
    Bytes out = {0xEE};
    const uint16_t st = s.i2cRead(0, 0x50, {0x00, 0x20}, 16, out, true);
    return {st, out};
}
Decoded scan(VantorSDK& s) {
    Bytes out = {0xEE};
    uint8_t count7 = 0xEE, count10 = 0xEE;
    const uint16_t st = s.i2cScanBus(out, &count7, &count10, 1, true);
    return {st, concat({count7, count10}, out)};
}
const Bytes kUntouchedScan(3, 0xEE);

// clang-format off
INSTANTIATE_TEST_SUITE_P(I2cController, ReplyDecoding, ::testing::Values(
    ScriptedReply{"ReadTakesTheAnnouncedCount", 0, concat({0x00, 0x0A, 0x00}, pattern(10)), read16, {0, pattern(10)}},
    ScriptedReply{"ReadCappedAtTheRequestedLength", 0, concat({0x00, 0x14, 0x00}, pattern(20)), read16, {0, pattern(16)}},
    ScriptedReply{"ReadBytesBeforeANackArrive", 0x0204, {0x00, 0x02, 0x00, 0x61, 0x62}, read16, {0x0204, {0x61, 0x62}}},
    ScriptedReply{"ScanSevenBitThenTenBitLowByteFirst", 0, {0x00, 2, 1, 0x10, 0x50, 0x34, 0x02}, scan, {0, {2, 1, 0x10, 0x50, 0x34, 0x02}}},
    ScriptedReply{"ScanShortOfItsAddressesIsMalformed", 0x020F, {0x00, 3, 1, 0x10, 0x11, 0x12, 0x34}, scan, {kWrongResponse, kUntouchedScan}},
    ScriptedReply{"ScanWithoutCountsKeepsItsStatus", 0x020F, {0x00}, scan, {0x020F, kUntouchedScan}},
    ScriptedReply{"ScanWithoutCountsOnSuccessIsMalformed", 0, {0x00}, scan, {kWrongResponse, kUntouchedScan}}),
    RowName{});
// clang-format on

TEST(I2cControllerBulk, DataPhasesMoveThroughTheBulkEndpoints) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_TRUE(sdk.getBulkCapabilities().supported);  // asked of the firmware, then cached
    script(adapter, [](const Bytes& req) { return reply(req, 0, {0x00, 0x00, 0x00}); });

    EXPECT_EQ(sdk.i2cWriteBulk(1, 0x50, {0x01, 0x00}, pattern(200, 9), false), 0);
    EXPECT_EQ(withoutId(adapter.requests().back()),
              (Bytes{0x07, 0x09, 0x01, 0xC8, 0x00, 0x50, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(adapter.bulkReceived(), pattern(200, 9));

    // The gate sees each command with its length.
    sim::BulkCapabilityConfig caps;
    caps.groups = {{2, 64, 0x80}};  // bulk writes of up to 64 bytes only
    adapter.setHandler({});
    adapter.system().setBulkCapabilities(caps);
    ASSERT_TRUE(sdk.connect(adapter.path()));  // already connected: only the cache is dropped
    ASSERT_EQ(sdk.getBulkCapabilities().maxPayloadFor(2), 64);
    script(adapter, [](const Bytes& req) { return reply(req, 0, {0, 0, 0}); });
    EXPECT_EQ(sdk.i2cWriteBulk(0, 0x50, {}, pattern(64), false), 0);
    EXPECT_EQ(sdk.i2cWriteBulk(0, 0x50, {}, pattern(65), false), kWrongRequest);
    Bytes out;
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 1, out, false), kBulkUnavailable);
}

// An adapter unplugged during a call ends it with SDK_ERROR_DISCONNECT, the
// next call finds no device either, and once the adapter is back the device
// is reopened and the call succeeds. (A slowly failing write is the fault
// matrix's i2c-write-fails-slow row.)
TEST(I2cControllerFaults, AnUnpluggedAdapterIsReopenedOnceBack) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(500);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    const auto call = [&] { return sdk.i2cWrite(1, 0x50, {0x00}, pattern(100), false); };
    adapter.setHandler([&adapter](const Bytes&) {
        adapter.unplug();
        return std::vector<Bytes>{};
    });
    EXPECT_EQ(call(), kDisconnect);
    EXPECT_EQ(call(), kDisconnect);
    adapter.plug();
    script(adapter, [](const Bytes& req) { return reply(req, 0); });
    EXPECT_EQ(call(), 0);
}

}  // namespace
}  // namespace vantor
