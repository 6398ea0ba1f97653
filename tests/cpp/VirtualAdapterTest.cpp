// SPDX-License-Identifier: MIT
// The virtual adapter's own USB side, driven through its seam objects: what
// it makes of malformed traffic, unplugging, the system firmware's answers,
// bulk endpoint faults and concurrent use. What the SDK's tests establish
// through the adapter (request records, scripted handlers, injected failures,
// delays, enumeration, bulk chunking and claims) is not repeated here.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "sim/usb/AdapterState.h"
#include "tests/cpp/TestSupport.h"

namespace {

using namespace vantor;
using namespace vantor::sim;
using namespace vantor::sim::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ------------------------------------------------------------------ HID side

// Notifications of one report each, queued while nobody reads: the queue
// keeps the oldest up to its bound and counts the rest as dropped.
struct InputQueueCase {
    const char* name;
    std::optional<size_t> limit;  // nothing: the queue as created
    bool setLimit;
    size_t sent;
    size_t kept;
};

class VirtualAdapterInputQueue : public ::testing::TestWithParam<InputQueueCase> {};

TEST_P(VirtualAdapterInputQueue, KeepsTheOldestUpToItsBoundAndCountsTheRest) {
    const InputQueueCase& c = GetParam();
    VirtualAdapter adapter;
    Seam seam(adapter);
    if (c.setLimit) adapter.faults().limitInputQueue(c.limit);
    for (size_t i = 0; i < c.sent; ++i) adapter.notify(0x0A81, le16(i));

    for (size_t i = 0; i < c.kept; ++i) {
        const auto message = seam.next(0);
        ASSERT_TRUE(message) << "notification " << i;
        EXPECT_EQ(*message, concat({0, 0, 0x81, 0x0A, 0, 0}, le16(i)));
    }
    EXPECT_TRUE(seam.quiet());
    EXPECT_EQ(adapter.droppedReports(), c.sent - c.kept);
    adapter.clear();
    EXPECT_EQ(adapter.droppedReports(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Bounds, VirtualAdapterInputQueue,
                         ::testing::Values(InputQueueCase{"DefaultBoundOverflowed", std::nullopt,
                                                          false, 100, 64},
                                           InputQueueCase{"ZeroDropsEverything", 0, true, 5, 0}),
                         RowName{});

// Like the HID driver, the adapter gives every open handle its own copy of
// each report sent after the handle was opened, in a queue bounded on its
// own. The answer to one handle's request reaches the other handles too,
// where it is unsolicited: a full queue drops it.
TEST(VirtualAdapterHid, EveryOpenHandleGetsItsOwnCopyOfWhatFollowsItsOpening) {
    VirtualAdapter adapter;
    Seam first(adapter);
    adapter.notify(0x0A81, {1});  // before the second handle was opened
    Seam second(adapter);
    adapter.faults().limitInputQueue(2);
    adapter.notify(0x0A81, {2});
    adapter.notify(0x0A81, {3});              // the first handle's queue is full
    EXPECT_EQ(second.status(0x040E, {}), 0);  // dropped for the first handle too

    // The last byte of each message read (a notification's field, an
    // answer's cdc mode); -1 when nothing came.
    const auto lastBytes = [](Seam& seam, size_t count) {
        std::vector<int> bytes;
        for (size_t i = 0; i < count; ++i) {
            const auto message = seam.next(0);
            bytes.push_back(message && !message->empty() ? message->back() : -1);
        }
        return bytes;
    };
    EXPECT_EQ(lastBytes(first, 2), (std::vector<int>{1, 2}));
    EXPECT_TRUE(first.quiet());
    EXPECT_EQ(lastBytes(second, 2), (std::vector<int>{2, 3}));
    EXPECT_TRUE(second.quiet());
    EXPECT_EQ(adapter.droppedReports(), 2u);

    EXPECT_EQ(second.status(0x040E, {}), 0);  // now the first handle has room
    const auto answer = first.next(0);
    ASSERT_TRUE(answer);
    EXPECT_EQ(commandOf(*answer), 0x040E);
}

// An answer longer than the input queue holds (a legal read of the longest
// length) arrives whole, also behind a queue full of notifications: the
// adapter sends its reports only as fast as the host reads them. A
// notification queued behind it still finds no room, and is counted.
struct LongAnswerCase {
    const char* name;
    Model model;
    size_t dataLength;          // after the 10-byte header of a transfer answer
    size_t notificationsFirst;  // queued before the request
};

class VirtualAdapterLongAnswer : public ::testing::TestWithParam<LongAnswerCase> {};

TEST_P(VirtualAdapterLongAnswer, ArrivesWholeWhileNotificationsKeepTheBound) {
    const LongAnswerCase& c = GetParam();
    VirtualAdapter adapter(adapterOptions("LONG", c.model));
    Seam seam(adapter);
    const Bytes data = pattern(c.dataLength);
    script(adapter, [&](const Bytes& request) {
        return reply(request, 0, concat({0, 0, 0, 0}, data));
    });
    for (size_t i = 0; i < c.notificationsFirst; ++i) adapter.notify(0x0A81, {1});
    const uint16_t id = seam.write(0x1908, {});
    adapter.notify(0x0A81, {2});  // behind the answer

    for (size_t i = 0; i < c.notificationsFirst; ++i) ASSERT_TRUE(seam.next(0)) << i;
    const auto answer = seam.next(0);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, responseMessage(id, 0x1908, 0, concat({0, 0, 0, 0}, data)));
    EXPECT_TRUE(seam.quiet());
    EXPECT_EQ(adapter.droppedReports(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Models, VirtualAdapterLongAnswer,
    ::testing::Values(LongAnswerCase{"QuillexRead65535", Model::Quillex, 65535, 0},
                      LongAnswerCase{"BehindAFullQueue", Model::Teranox, 4096, 64}),
    RowName{});

// A burst arrives whole and in order at a reader that keeps up (no bound, so
// that a slow machine cannot make it drop), paced or not; unplugging ends it.
struct BurstCase {
    const char* name;
    double perSecond;
};

class VirtualAdapterBurst : public ::testing::TestWithParam<BurstCase> {};

TEST_P(VirtualAdapterBurst, ArrivesWholeAndInOrder) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    adapter.faults().limitInputQueue(std::nullopt);
    constexpr size_t kCount = 200;
    adapter.notify(0x1081, {7, 8, 9}, 0x0102, kCount, GetParam().perSecond);
    for (size_t i = 0; i < kCount; ++i) {
        const auto message = seam.next(0);
        ASSERT_TRUE(message) << "notification " << i;
        EXPECT_EQ(*message, (Bytes{0, 0, 0x81, 0x10, 0x02, 0x01, 7, 8, 9}));
    }
    EXPECT_TRUE(seam.quiet());
}

INSTANTIATE_TEST_SUITE_P(
    Rates, VirtualAdapterBurst,
    ::testing::Values(BurstCase{"AsFastAsPossible", 0}, BurstCase{"Paced", 100000},
                      BurstCase{"InfiniteMeansUnpaced", std::numeric_limits<double>::infinity()},
                      BurstCase{"NaNMeansUnpaced", std::numeric_limits<double>::quiet_NaN()}),
    RowName{});

TEST(VirtualAdapterHid, UnpluggingEndsAPacedBurst) {
    VirtualAdapter adapter;
    std::thread burst([&] { adapter.notify(0x0A81, {}, 0, 1000000, 1000); });  // ~17 minutes
    // The burst has begun once the queue holds something (nobody reads).
    Seam seam(adapter);
    ASSERT_TRUE(seam.next(kWaitMs));
    adapter.unplug();
    burst.join();  // a regression hangs here rather than passing
}

// Durations too long for the clock mean "no limit" instead of overflowing:
// an endless wait for requests returns once they came, an endless response
// delay holds the answer back, and an endless write failure lasts until the
// adapter is unplugged.
TEST(VirtualAdapterHid, EndlessDurationsMeanNoLimit) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    EXPECT_FALSE(adapter.waitForRequests(1, 0ms));
    std::atomic<int> result{-1};
    std::thread waiter(
        [&] { result = adapter.waitForRequests(1, std::chrono::milliseconds::max()); });
    adapter.faults().setResponseDelay(std::chrono::milliseconds::max());
    seam.write(0x040E, {});
    waiter.join();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(seam.quiet());

    adapter.faults().failWrites(1, std::chrono::milliseconds::max());
    std::atomic<int> written{1};
    std::thread writer([&] {
        Bytes report(adapter.reportSize() + 1, 0);
        written = seam.hid().write(report.data(), report.size());
    });
    adapter.unplug();
    writer.join();
    EXPECT_EQ(written, -1);
}

TEST(VirtualAdapterHid, DropsMalformedReportsAndServesTheNextMessage) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    const auto report = [](unsigned header) {
        Bytes bytes(65, 0);
        bytes[1] = static_cast<uint8_t>(header & 0xFF);
        bytes[2] = static_cast<uint8_t>(header >> 8);
        return bytes;
    };
    const std::vector<Bytes> malformed = {
        {0x00, 0x13},                   // half a header
        report(3 | (63 << 2)),          // 63 bytes announced in a 62-byte chunk
        report(3 | (4 << 2) | 0x1000),  // a reserved header bit
        report(2 | (4 << 2)),           // a continuation without a first segment
        report(1 | (62 << 2)),          // a first segment never completed
    };
    for (const Bytes& bytes : malformed) {
        EXPECT_EQ(seam.hid().write(bytes.data(), bytes.size()), static_cast<int>(bytes.size()));
    }
    EXPECT_TRUE(adapter.requests().empty());

    // The next well-formed message is served; it also abandons the
    // unfinished one, which counts as malformed.
    EXPECT_EQ(seam.status(0x040E, {}), 0);
    EXPECT_EQ(adapter.malformedReports(), malformed.size());
    EXPECT_EQ(adapter.requests().size(), 1u);
}

TEST(VirtualAdapterHid, UnpluggingFailsOpenHandlesForGoodEvenPastTheAdapter) {
    std::unique_ptr<usb::HidDevice> hid;
    std::unique_ptr<usb::UsbDeviceHandle> bulk;
    Bytes input(64);
    const Bytes request{0x00, 0x13, 0x00, 0x01, 0x00, 0x0E, 0x04};
    {
        VirtualAdapter adapter(adapterOptions("UNPLUG"));
        Seam seam(adapter);
        adapter.send({1, 2, 3, 4, 5, 6});
        adapter.unplug();
        adapter.plug();
        seam.reopen();
        // A non-blocking read of the empty queue finds nothing, but an
        // injected read failure still shows, waiting or not.
        EXPECT_EQ(seam.hid().readTimeout(input.data(), input.size(), 0), 0);
        adapter.faults().failReads(1);
        EXPECT_EQ(seam.hid().readTimeout(input.data(), input.size(), 0), -1);
        EXPECT_EQ(seam.hid().readTimeout(input.data(), input.size(), 0), 0);
        EXPECT_TRUE(seam.quiet());  // the pending input went with the unplug
        EXPECT_EQ(seam.status(0x040E, {}), 0);

        hid = virtualHidBackend().openPath(adapter.path());
        bulk = openBulk(adapter);
        ASSERT_NE(bulk, nullptr);
    }
    // Handles kept past the adapter's end fail like unplugged ones.
    int transferred = -1;
    EXPECT_EQ(hid->readTimeout(input.data(), input.size(), 0), -1);
    EXPECT_EQ(hid->write(request.data(), request.size()), -1);
    EXPECT_EQ(bulk->bulkTransfer(0x81, input.data(), 64, &transferred, 10), usb::kUsbErrorNoDevice);
    EXPECT_EQ(transferred, 0);
}

// ------------------------------------------------------------ system firmware

TEST(VirtualAdapterFirmware, SystemCommandAnswers) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    seam.expectStatuses({
        {0x0407, {0}, 0x0004},  // no such string
        {0x0407, {6}, 0x0004},
    });

    // A string longer than its length byte can count is cut to 254 bytes
    // (five reports on this model); an empty one is the length byte alone.
    Identity identity;
    identity.manufacturer = std::string(300, 'm');
    identity.hwVersion = "";
    adapter.system().setIdentity(identity);
    EXPECT_EQ(tail(seam.call(0x0407, {1})), concat({0, 0, 255}, Bytes(254, 'm')));
    EXPECT_EQ(tail(seam.call(0x0407, {4})), (Bytes{0, 0, 1}));
}

// A family of the test's own, installed beside the adapter's: its table
// routes each code to its handler after the length check, and its codes take
// over a code another family served.
class EchoFamily final : public FirmwareFamily {
  public:
    static constexpr uint16_t kEcho = 0x7E01;
    static constexpr uint16_t kSilent = 0x7E02;

    EchoFamily() {
        serve<EchoFamily>({
            {kEcho, 2, &EchoFamily::echo},
            {kSilent, 0, &EchoFamily::silent},
            {0x040E, 0, &EchoFamily::echo},  // taken over from the system family
        });
    }

  private:
    void echo(const Request& request, Firmware& firmware) {
        const auto [data, size] = request.bytes(0, request.paramSize());
        firmware.respond(MessageBuilder::response(request, 0x00EC).append(data, size).take());
    }
    void silent(const Request&, Firmware&) {}
};

struct DispatchRow {
    const char* name;
    uint16_t code;
    Bytes params;
    std::optional<Bytes> answer;  // from the status field on; nothing: no answer
};

class VirtualAdapterDispatch : public ::testing::TestWithParam<DispatchRow> {};

TEST_P(VirtualAdapterDispatch, TableRoutesByCodeAfterTheLengthCheck) {
    VirtualAdapter adapter;
    adapter.state().firmware().withLock(
        [](Firmware& fw) { fw.install(std::make_unique<EchoFamily>()); });
    Seam seam(adapter);
    const DispatchRow& row = GetParam();
    const uint16_t id = seam.write(row.code, row.params);
    if (!row.answer) {
        EXPECT_TRUE(adapter.waitForRequests(1, std::chrono::milliseconds(kWaitMs)));
        EXPECT_TRUE(seam.quiet());
        return;
    }
    const auto message = seam.next();
    ASSERT_TRUE(message);
    EXPECT_EQ(u16At(*message, 0), id);
    EXPECT_EQ(tail(*message), *row.answer);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, VirtualAdapterDispatch, ::testing::Values(
    DispatchRow{"ExactlyTheLeastLength", EchoFamily::kEcho, {9, 8}, Bytes{0xEC, 0, 9, 8}},
    DispatchRow{"UnknownCodeIsUnsupported", 0x7E03, {}, Bytes{0x01, 0}},
    DispatchRow{"HandlerMayAnswerNothing", EchoFamily::kSilent, {}, std::nullopt},
    DispatchRow{"LaterFamilyTakesOverACode", 0x040E, {}, Bytes{0xEC, 0}}),
    RowName{});
// clang-format on

// ------------------------------------------------------------------ bulk side

TEST(VirtualAdapterBulk, AStalledEndpointKeepsItsDataAndTheSerialStringIsTruncated) {
    VirtualAdapter adapter(adapterOptions("BULK-IN", Model::Quillex));
    Seam seam(adapter);
    uint8_t serialIndex = 0;
    const auto other = openBulk(adapter, &serialIndex);
    ASSERT_NE(other, nullptr);
    uint8_t text[4];  // cut to 3 characters and terminated
    ASSERT_EQ(other->getStringDescriptorAscii(serialIndex, text, sizeof text), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), "BUL");

    Bytes received(512);
    int transferred = -1;
    const auto in = [&](unsigned timeoutMs) {
        return seam.bulk().bulkTransfer(0x81, received.data(), 512, &transferred, timeoutMs);
    };
    // A stalled endpoint fails every transfer; the data waits for it.
    adapter.faults().stallBulkIn(true);
    adapter.sendBulk({1, 2, 3});
    EXPECT_EQ(in(kWaitMs), usb::kUsbErrorPipe);
    adapter.faults().stallBulkIn(false);
    ASSERT_EQ(in(kWaitMs), usb::kUsbSuccess);
    EXPECT_EQ(transferred, 3);
}

// ------------------------------------------------------------------ threading

// Host requests, bench events through the firmware and raw injections, all
// at once: every answer comes, events keep their order, and a two-report
// message is never cut into by another.
TEST(VirtualAdapterConcurrency, HostTrafficAndInjectionsArriveWholeAndInOrder) {
    VirtualAdapter adapter;  // 64-byte reports
    Seam seam(adapter);
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(0, 0x68));
    ASSERT_EQ(seam.status(0x0901, {0, 0xA0, 0x86, 0x01, 0, 5}), 0);
    ASSERT_EQ(seam.status(0x1002, {10, 0, 0, 1, 0}), 0);
    ASSERT_EQ(seam.status(0x1401, {5, 0}), 0);
    ASSERT_EQ(seam.status(0x1404, {5, 3}), 0);
    constexpr size_t kRounds = 200;
    // Order and wholeness are checked here, not the input queue's bound: the
    // injecting thread may run ahead of the reader.
    adapter.faults().limitInputQueue(std::nullopt);

    size_t responses = 0;
    Bytes edges;
    Bytes uart;
    std::vector<Bytes> raw;
    std::thread reader([&] {
        const auto deadline = Clock::now() + 10s;
        while ((responses < kRounds || edges.size() < kRounds || uart.size() < kRounds ||
                raw.size() < kRounds) &&
               Clock::now() < deadline) {
            const auto message = seam.next(100);
            if (!message || message->size() < 6) continue;
            if (u16At(*message, 0) != 0) {
                responses += u16At(*message, 4) == 0 ? 1 : 0;
            } else if (u16At(*message, 2) == 0x1481 && message->size() == 9) {
                edges.push_back((*message)[7]);
            } else if (u16At(*message, 2) == 0x1081 && message->size() == 9) {
                uart.push_back((*message)[8]);
            } else {
                raw.push_back(*message);
            }
        }
    });
    std::thread bench([&] {
        for (size_t i = 0; i < kRounds; ++i) {
            adapter.gpio().driveInput(5, static_cast<uint8_t>((i + 1) % 2));
            adapter.uart().inject({static_cast<uint8_t>(i)});
            adapter.notify(0x0A81, Bytes(100, static_cast<uint8_t>(i)));
        }
    });
    for (size_t i = 0; i < kRounds; ++i) {
        seam.write(0x0904, {0, 1, 0, 0x68, 1, static_cast<uint8_t>(i), 0, 0, 0, 0, 0x5A});
    }
    bench.join();
    reader.join();

    EXPECT_EQ(responses, kRounds);
    ASSERT_EQ(edges.size(), kRounds);
    ASSERT_EQ(uart.size(), kRounds);
    ASSERT_EQ(raw.size(), kRounds);
    for (size_t i = 0; i < kRounds; ++i) {
        EXPECT_EQ(edges[i], i % 2 == 0 ? 1 : 2);  // rising, falling, ...
        EXPECT_EQ(uart[i], static_cast<uint8_t>(i));
        EXPECT_EQ(raw[i], concat({0, 0, 0x81, 0x0A, 0, 0}, Bytes(100, static_cast<uint8_t>(i))));
    }
    EXPECT_EQ(adapter.i2c().memory(0, 0x68)[kRounds - 1], 0x5A);
}

TEST(VirtualAdapterConcurrency, UnplugWakesBlockedReaders) {
    VirtualAdapter adapter(adapterOptions("WAKE"));
    Seam seam(adapter);
    std::atomic<int> hidResult{1};
    std::atomic<int> bulkResult{1};
    std::thread hidReader([&] {
        uint8_t buffer[64];
        hidResult = seam.hid().readTimeout(buffer, sizeof buffer, 5000);
    });
    std::thread bulkReader([&] {
        uint8_t buffer[64];
        int transferred = 0;
        bulkResult = seam.bulk().bulkTransfer(0x81, buffer, sizeof buffer, &transferred, 5000);
    });
    // Unplug once both are blocked, so that the wake-up is what ends them.
    const auto waitUntil = Clock::now() + 2s;
    while (adapter.state().blockedReaders() < 2 && Clock::now() < waitUntil)
        std::this_thread::yield();
    const size_t blocked = adapter.state().blockedReaders();
    adapter.unplug();  // also when the wait above ran out, so that both threads end
    hidReader.join();
    bulkReader.join();
    EXPECT_EQ(blocked, 2u);
    EXPECT_EQ(hidResult, -1);
    EXPECT_EQ(bulkResult, usb::kUsbErrorNoDevice);  // not the timeout's 0 and timeout error
}

}  // namespace
