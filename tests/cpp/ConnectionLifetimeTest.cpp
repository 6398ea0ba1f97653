// SPDX-License-Identifier: MIT
// The synchronous engine around the life of a connection: waiting calls that
// the connection's end must end, waits abandoned from outside, bulk data that
// outlives the call it belonged to, and a connect while already connected.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;
using namespace std::chrono_literals;

constexpr uint16_t kGetUsbConfig = 0x040E;
constexpr uint8_t kSerialStringIndex = 3;

// ------------------------------------------------- waits the connection ends

enum class Cut { Disconnect, Unplug };

struct WaitEndRow {
    std::string name;
    int timeoutMs;
    Cut cut;
    bool inBulkDataPhase;  // else waiting for the HID response
};

class WaitEndThread : public ::testing::TestWithParam<WaitEndRow> {};

// A call that waits (for its response, or for the data its response
// announced) ends with SDK_ERROR_DISCONNECT as soon as the connection ends,
// whatever its timeout; a connect from another thread then goes through and
// the connection works again.
TEST_P(WaitEndThread, EndsTheWaitingCallWithDisconnect) {
    const WaitEndRow& row = GetParam();
    sim::VirtualAdapter adapter;
    VantorSDK sdk(row.timeoutMs);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    if (row.inBulkDataPhase) {
        ASSERT_TRUE(sdk.getBulkCapabilities().supported);
    }
    // Bulk reads are answered with a count whose data never comes; nothing
    // else is answered.
    script(adapter, [](const Bytes& req) {
        return commandOf(req) == 0x0908 ? reply(req, 0, {0x00, 0x10, 0x00}) : Bytes{};
    });
    adapter.clear();

    Inbox<uint16_t> result;
    std::thread caller([&] {
        Bytes out;
        UsbConfig config;
        result.push(row.inBulkDataPhase ? sdk.i2cReadBulk(0, 0x50, {}, 16, out, false)
                                        : sdk.getUsbConfig(config));
    });
    EXPECT_TRUE(adapter.waitForRequests(1, kWaitLimit));
    if (row.cut == Cut::Disconnect) {
        sdk.disconnect();
    } else {
        adapter.unplug();
    }
    EXPECT_TRUE(result.waitFor(1));
    caller.join();
    EXPECT_EQ(result.items(), std::vector<uint16_t>{kDisconnect});

    if (row.cut == Cut::Unplug) adapter.plug();
    Inbox<bool> connected;
    std::thread connector([&] { connected.push(sdk.connect(adapter.path())); });
    EXPECT_TRUE(connected.waitFor(1));
    connector.join();
    EXPECT_EQ(connected.items(), std::vector<bool>{true});
    adapter.setHandler({});
    UsbConfig config;
    EXPECT_EQ(sdk.getUsbConfig(config), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, WaitEndThread,
    ::testing::Values(WaitEndRow{"DisconnectDuringAnUnlimitedWait", -1, Cut::Disconnect, false},
                      WaitEndRow{"DisconnectDuringAnHourLongWait", 3600000, Cut::Disconnect, false},
                      WaitEndRow{"UnplugDuringAnUnlimitedWait", -1, Cut::Unplug, false},
                      WaitEndRow{"DisconnectDuringABulkDataPhase", -1, Cut::Disconnect, true}),
    RowName{});

// ------------------------------------------------------ abandoned waits

TEST(InterruptCheckThread, EndsAnUnlimitedWaitAndTheNextCallGetsItsOwnAnswer) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorSDK sdk(-1);
    std::atomic<bool> stop{false};
    std::atomic<int> asked{0};
    sdk.setInterruptCheck(
        [&] {
            ++asked;
            return stop.load();
        },
        5);
    ASSERT_TRUE(sdk.connect(adapter.path()));

    Inbox<uint16_t> result;
    std::thread caller([&] {
        UsbConfig config;
        result.push(sdk.getUsbConfig(config));
    });
    const auto requests = requestsOf(adapter, 1);
    // Asked again and again while the call waits; false keeps it waiting.
    EXPECT_TRUE(eventually([&] { return asked.load() >= 3; }));
    EXPECT_TRUE(result.items().empty());
    stop = true;
    EXPECT_TRUE(result.waitFor(1));
    caller.join();
    EXPECT_EQ(result.items(), std::vector<uint16_t>{kTimeout});

    // The abandoned request's answer comes late; the next request must get
    // its own.
    stop = false;
    ASSERT_FALSE(requests.empty());
    adapter.send(responseMessage(idOf(requests[0]), kGetUsbConfig, 0, {1, 1, 1}));
    script(adapter, [](const Bytes& req) { return reply(req, 0, {0, 0, 2}); });
    UsbConfig config{9, 9, 9};
    EXPECT_EQ(sdk.getUsbConfig(config), 0);
    EXPECT_EQ(config.webusbEnabled, 0u);
    EXPECT_EQ(config.cdcMode, 2u);
    EXPECT_TRUE(eventually([&] { return sdk.getDiscardedResponseCount() == 1; }));

    // Removed, it is no longer asked.
    sdk.setInterruptCheck({}, 5);
    const int before = asked.load();
    EXPECT_EQ(sdk.getUsbConfig(config), 0);
    EXPECT_EQ(asked.load(), before);
}

// ------------------------------------------ bulk data of an abandoned read

struct StaleBulkRow {
    std::string name;
    bool interrupted;          // else the first read times out
    bool lateAnswerSeenFirst;  // the late answer arrives before the next request
};

class StaleBulkDataThread : public ::testing::TestWithParam<StaleBulkRow> {};

// The adapter puts a bulk read's data on bulk IN at once but answers late;
// the caller gives up. The next bulk read must return its own data, never
// the abandoned read's.
TEST_P(StaleBulkDataThread, NeverReachesTheNextRead) {
    const StaleBulkRow& row = GetParam();
    sim::VirtualAdapter adapter;
    ASSERT_TRUE(adapter.i2c().attachEeprom(0, 0x50));
    const Bytes memory = pattern(256, 3);
    ASSERT_TRUE(adapter.i2c().writeMemory(0, 0x50, 0, memory));
    // The timeout leaves room for a loaded machine, below the delay below.
    VantorSDK sdk(row.interrupted ? 5000 : 250);
    std::atomic<bool> abandon{false};
    sdk.setInterruptCheck([&] { return abandon.load(); }, 5);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_TRUE(sdk.getBulkCapabilities().supported);
    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, 0), 0);

    adapter.faults().setResponseDelay(750ms);
    abandon = row.interrupted;
    Bytes out;
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {0x00}, 32, out, false), kTimeout);
    EXPECT_TRUE(out.empty());
    abandon = false;
    if (row.lateAnswerSeenFirst) {
        EXPECT_TRUE(eventually([&] { return sdk.getDiscardedResponseCount() == 1; }));
        adapter.faults().setResponseDelay(0ms);
    }
    ASSERT_EQ(sdk.i2cReadBulk(0, 0x50, {0x40}, 16, out, false), 0);
    EXPECT_EQ(out, Bytes(memory.begin() + 0x40, memory.begin() + 0x50));
    EXPECT_EQ(sdk.getDiscardedResponseCount(), 1u);
    adapter.faults().setResponseDelay(0ms);
    ASSERT_EQ(sdk.i2cReadBulk(0, 0x50, {0x80}, 8, out, false), 0);
    EXPECT_EQ(out, Bytes(memory.begin() + 0x80, memory.begin() + 0x88));
}

INSTANTIATE_TEST_SUITE_P(
    Abandoned, StaleBulkDataThread,
    ::testing::Values(StaleBulkRow{"InterruptedAndAnsweredBeforeTheNextRead", true, true},
                      StaleBulkRow{"InterruptedAndAnsweredWhileTheNextReadWaits", true, false}),
    RowName{});

// ------------------------------------------------ connect while connected

struct SwitchRow {
    std::string name;
    // The second connect, given the two adapters' paths; its expected result
    // and which adapter is in use afterwards.
    std::function<bool(VantorSDK&, const sim::VirtualAdapter&, sim::VirtualAdapter&)> connect;
    bool result;
    bool onSecond;
};

class ConnectSwitchThread : public ::testing::TestWithParam<SwitchRow> {};

// The first adapter has 64-byte reports and a bulk interface, the second
// 1024-byte reports and none, so a switch must replace both.
TEST_P(ConnectSwitchThread, OpensTheNamedAdapterOrKeepsTheFirst) {
    const SwitchRow& row = GetParam();
    sim::VirtualAdapter first(adapterOptions("SWITCH-A", sim::Model::Teranox, true));
    sim::VirtualAdapter second(adapterOptions("SWITCH-B", sim::Model::Quillex, false));
    sim::BulkCapabilityConfig caps;
    caps.capabilityInfo = 0x0A;
    first.system().setBulkCapabilities(caps);
    caps.capabilityInfo = 0x0B;
    second.system().setBulkCapabilities(caps);
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(first.path()));
    ASSERT_EQ(sdk.getBulkCapabilities().capabilityInfo, 0x0A);
    first.clear();

    EXPECT_EQ(row.connect(sdk, first, second), row.result);
    EXPECT_TRUE(sdk.isConnected());
    sim::VirtualAdapter& inUse = row.onSecond ? second : first;
    sim::VirtualAdapter& other = row.onSecond ? first : second;
    Bytes serial;
    ASSERT_EQ(sdk.getUsbString(serial, kSerialStringIndex), 0);
    EXPECT_EQ(std::string(serial.begin(), serial.end()), inUse.serial());
    EXPECT_EQ(sdk.getBulkCapabilities().capabilityInfo, row.onSecond ? 0x0B : 0x0A);
    EXPECT_EQ(sdk.isBulkTransportAvailable(), !row.onSecond);
    EXPECT_TRUE(other.requests().empty());
    EXPECT_EQ(sdk.getDiscardedResponseCount(), 0u);
}

bool connectPath(VantorSDK& sdk, const std::string& path) {
    return sdk.connect(path);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Connects, ConnectSwitchThread, ::testing::Values(
    SwitchRow{"ItsOwnPathIsANoOp", [](VantorSDK& s, auto& a, auto&) { return connectPath(s, a.path()); }, true, false},
    SwitchRow{"AnEmptyPathIsANoOp", [](VantorSDK& s, auto&, auto&) { return s.connect(""); }, true, false},
    SwitchRow{"ItsOwnSerialIsANoOp", [](VantorSDK& s, auto&, auto&) { return s.connectWithSerialNumber("SWITCH-A"); }, true, false},
    SwitchRow{"AnAbsentPathFailsAndKeepsTheFirst", [](VantorSDK& s, auto&, auto&) { return s.connect("/no/such/path"); }, false, false},
    SwitchRow{"AnAbsentSerialFailsAndKeepsTheFirst", [](VantorSDK& s, auto&, auto&) { return s.connectWithSerialNumber("NONE"); }, false, false},
    SwitchRow{"AnUnpluggedAdapterFailsAndKeepsTheFirst", [](VantorSDK& s, auto&, sim::VirtualAdapter& b) { b.unplug(); return connectPath(s, b.path()); }, false, false},
    SwitchRow{"AnotherPathSwitches", [](VantorSDK& s, auto&, auto& b) { return connectPath(s, b.path()); }, true, true},
    SwitchRow{"AnotherSerialSwitches", [](VantorSDK& s, auto&, auto&) { return s.connectWithSerialNumber("SWITCH-B"); }, true, true},
    SwitchRow{"SwitchingBackReturnsToTheFirst", [](VantorSDK& s, auto& a, auto& b) { return connectPath(s, b.path()) && connectPath(s, a.path()); }, true, false}),
    RowName{});
// clang-format on

}  // namespace
}  // namespace vantor
