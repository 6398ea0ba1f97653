// SPDX-License-Identifier: MIT
// I3C controller set-up, port supply and private transfers of both SDK
// classes: the request bytes and control-byte arithmetic, the refusals of
// requests whose fields cannot hold their arguments, and the decoding of the
// device table, the port voltages and reads over HID and bulk.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;
using F = I3cTransferFlags;

const F kNone = F::NONE;
const Bytes kFiveBytes = {1, 2, 3, 4, 5};

F operator|(F a, F b) {
    return static_cast<F>(static_cast<int32_t>(a) | static_cast<int32_t>(b));
}

I3cTargetInfo target(uint8_t seed) {
    I3cTargetInfo t{};
    t.staticAddress = seed;
    t.dynamicAddress = static_cast<uint8_t>(seed + 1);
    for (uint8_t i = 0; i < 6; ++i) t.pid[i] = static_cast<uint8_t>(seed + 2 + i);
    t.bcr = 0x06;
    t.dcr = 0xC5;
    t.mwl = 0x0102;
    t.mrl = 0x0304;
    t.maxIbiPayloadLength = 8;
    t.configuration = 0x11;
    return t;
}
Bytes targetBytes(uint8_t seed) {
    Bytes b = {seed, static_cast<uint8_t>(seed + 1)};
    for (uint8_t i = 0; i < 6; ++i) b.push_back(static_cast<uint8_t>(seed + 2 + i));
    return concat(b, {0x06, 0xC5, 0x02, 0x01, 0x04, 0x03, 0x08, 0x11});
}

constexpr uint16_t kId = kRequestId;

// clang-format off
INSTANTIATE_TEST_SUITE_P(I3cController, RequestBytes, ::testing::Values(
    SentRequest{"ControllerInit", [](VantorAsyncSDK& s) { return s.i3cControllerInit(kId, I3cPushPullRate::PUSH_PULL_12_5_MHZ_DC_50, I3cOpenDrainRate::OPEN_DRAIN_1_MHZ, I2cOpenDrainRate::FAST_MODE_PLUS, I3cDriveStrength::FAST); }, {0x01, 0x19, 18, 2, 2, 1}},
    SentRequest{"SetParameters", [](VantorAsyncSDK& s) { return s.i3cSetParameters(kId, I3cPushPullRate::PUSH_PULL_100_KHZ_DC_34, I3cOpenDrainRate::OPEN_DRAIN_4_17_MHZ, I2cOpenDrainRate::ULTRA_FAST_MODE, I3cDriveStrength::STANDARD); }, {0x02, 0x19, 21, 4, 4, 0}},
    SentRequest{"InitBusEmpty", [](VantorAsyncSDK& s) { return s.i3cInitBus(kId, {}); }, {0x04, 0x19, 0x00}},
    SentRequest{"InitBusTwoTargetsLowByteFirst", [](VantorAsyncSDK& s) { return s.i3cInitBus(kId, {target(0x50), target(0x60)}); }, concat(concat({0x04, 0x19, 0x02}, targetBytes(0x50)), targetBytes(0x60))},
    SentRequest{"InitBus255Targets", [](VantorAsyncSDK& s) { return s.i3cInitBus(kId, std::vector<I3cTargetInfo>(255)); }, concat({0x04, 0x19, 0xFF}, Bytes(255 * 16))},
    SentRequest{"ResetBus", [](VantorAsyncSDK& s) { return s.i3cResetBus(kId); }, {0x05, 0x19}},
    SentRequest{"GetDeviceTable", [](VantorAsyncSDK& s) { return s.i3cGetDeviceTable(kId); }, {0x06, 0x19}},
    SentRequest{"SetTargetDeviceConfiguration", [](VantorAsyncSDK& s) { return s.i3cSetTargetDeviceConfiguration(kId, 0x08, 0x03); }, {0x07, 0x19, 0x08, 0x03}},
    SentRequest{"TargetResetPattern", [](VantorAsyncSDK& s) { return s.i3cTargetResetPattern(kId); }, {0x0A, 0x19, 0x00}},
    SentRequest{"HdrExitPattern", [](VantorAsyncSDK& s) { return s.i3cHdrExitPattern(kId); }, {0x0A, 0x19, 0x01}},
    SentRequest{"SetBusVoltage", [](VantorAsyncSDK& s) { return s.i3cSetBusVoltage(kId, 1800); }, {0x04, 0x04, 0x08, 0x07}},
    SentRequest{"UseExternalVoltage", [](VantorAsyncSDK& s) { return s.i3cUseExternalVoltage(kId, true); }, {0x0A, 0x04, 0x01}},
    SentRequest{"UseOwnVoltage", [](VantorAsyncSDK& s) { return s.i3cUseExternalVoltage(kId, false); }, {0x0A, 0x04, 0x00}}),
    RowName{});

// Control byte: flags × 8 + mode × 2 + direction.
INSTANTIATE_TEST_SUITE_P(I3cTransfers, RequestBytes, ::testing::Values(
    SentRequest{"SdrWrite", [](VantorAsyncSDK& s) { return s.i3cSdrWrite(kId, 0x30, {0x01, 0x02}, {0xAA}, kNone); }, {0x08, 0x19, 0x30, 0x00, 0x00, 0x02, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0xAA}},
    SentRequest{"SdrReadNonstopStartWith7e", [](VantorAsyncSDK& s) { return s.i3cSdrRead(kId, 0x30, {}, 4, F::NONSTOP | F::START_WITH_7E); }, {0x08, 0x19, 0x30, 0x19, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00}},
    SentRequest{"SdrReadFourByteSubaddress", [](VantorAsyncSDK& s) { return s.i3cSdrRead(kId, 0x30, {1, 2, 3, 4}, 0x0102, kNone); }, {0x08, 0x19, 0x30, 0x01, 0x00, 0x04, 1, 2, 3, 4, 0x02, 0x01}},
    SentRequest{"HdrDdrWriteSkipExitPattern", [](VantorAsyncSDK& s) { return s.i3cHdrDdrWrite(kId, 0x30, 0x20, {1, 2}, F::SKIP_EXIT_PATTERN); }, {0x08, 0x19, 0x30, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 1, 2}},
    SentRequest{"HdrDdrRead", [](VantorAsyncSDK& s) { return s.i3cHdrDdrRead(kId, 0x30, 0x80, 4, kNone); }, {0x08, 0x19, 0x30, 0x03, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00}},
    SentRequest{"LegacyI2cWrite", [](VantorAsyncSDK& s) { return s.i3cLegacyI2cWrite(kId, 0x50, {0x00}, {0x05}, kNone); }, {0x08, 0x19, 0x50, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x05}},
    SentRequest{"LegacyI2cReadStartWith7e", [](VantorAsyncSDK& s) { return s.i3cLegacyI2cRead(kId, 0x50, {}, 2, F::START_WITH_7E); }, {0x08, 0x19, 0x50, 0x15, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00}},
    SentRequest{"SdrReadBulkLongest", [](VantorAsyncSDK& s) { return s.i3cSdrReadBulk(kId, 0x30, {}, 32767, kNone); }, {0x0B, 0x19, 0x30, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x7F}},
    SentRequest{"LegacyI2cReadBulk", [](VantorAsyncSDK& s) { return s.i3cLegacyI2cReadBulk(kId, 0x50, {0x01}, 1, F::NONSTOP); }, {0x0B, 0x19, 0x50, 0x0D, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00}}),
    RowName{});
// clang-format on

TEST(I3cTransfers, BulkWritesSendOnlyTheHeaderOverHid) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i3cHdrDdrWriteBulk(1, 0x30, 0x20, pattern(1024), kNone), 0);
    ASSERT_EQ(sdk.i3cSdrWriteBulk(2, 0x31, {0x07}, pattern(32767, 3), kNone), 0);
    ASSERT_EQ(sdk.i3cLegacyI2cWriteBulk(3, 0x50, {}, {0x09}, kNone), 0);
    const auto requests = requestsOf(adapter, 3);
    EXPECT_EQ(withoutId(requests.at(0)),
              (Bytes{0x0B, 0x19, 0x30, 0x02, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}));
    EXPECT_EQ(withoutId(requests.at(1)),
              (Bytes{0x0B, 0x19, 0x31, 0x00, 0x00, 0x01, 0x07, 0x00, 0x00, 0x00, 0xFF, 0x7F}));
    EXPECT_EQ(withoutId(requests.at(2)),
              (Bytes{0x0B, 0x19, 0x50, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(adapter.bulkReceived(), concat(concat(pattern(1024), pattern(32767, 3)), {0x09}));

    // The most a 16-bit length announces still goes out over HID.
    adapter.clear();
    ASSERT_EQ(sdk.i3cSdrWrite(4, 0x30, {}, Bytes(65535), kNone), 0);
    ASSERT_TRUE(adapter.waitForRequests(1, kWaitLimit));
    EXPECT_EQ(adapter.requests().at(0).size(), 14u + 65535u);
}

// Fields that cannot hold their arguments. Every transfer goes through one
// check of the subaddress and the HID write length; bulk lengths follow one
// rule for SDR and legacy I2C and another for HDR-DDR, whose whole 16-bit
// words HID transfers need as well.
// clang-format off
INSTANTIATE_TEST_SUITE_P(I3c, WrongRequestRefusal, ::testing::Values(
    RefusedCall{"HdrDdrWriteOddLength", [](VantorAsyncSDK& a) { return a.i3cHdrDdrWrite(1, 0x30, 0x20, Bytes(3), kNone); }},
    RefusedCall{"HdrDdrWriteOfNothing", nullptr, [](VantorSDK& s) { return s.i3cHdrDdrWrite(0x30, 0x20, {}, kNone); }},
    RefusedCall{"HdrDdrReadOddLength", nullptr, [](VantorSDK& s) { Bytes out; return s.i3cHdrDdrRead(0x30, 0xA0, 5, out, kNone); }},
    RefusedCall{"HdrDdrReadOfNothing", [](VantorAsyncSDK& a) { return a.i3cHdrDdrRead(1, 0x30, 0xA0, 0, kNone); }},
    RefusedCall{"InitBus256Targets", [](VantorAsyncSDK& a) { return a.i3cInitBus(1, std::vector<I3cTargetInfo>(256)); }},
    RefusedCall{"SdrWriteOver65535Bytes", [](VantorAsyncSDK& a) { return a.i3cSdrWrite(1, 0x30, {}, Bytes(65536), kNone); }},
    RefusedCall{"SdrReadSubaddressOverFourBytes", [](VantorAsyncSDK& a) { return a.i3cSdrRead(1, 0x30, kFiveBytes, 1, kNone); }},
    RefusedCall{"SdrWriteBulkOfNothing", [](VantorAsyncSDK& a) { return a.i3cSdrWriteBulk(1, 0x30, {}, {}, kNone); }},
    RefusedCall{"SdrReadBulk32768Bytes", [](VantorAsyncSDK& a) { return a.i3cSdrReadBulk(1, 0x30, {}, 32768, kNone); }},
    RefusedCall{"HdrDdrWriteBulkOddLength", [](VantorAsyncSDK& a) { return a.i3cHdrDdrWriteBulk(1, 0x30, 0x20, Bytes(3), kNone); }},
    RefusedCall{"HdrDdrWriteBulkOneWordTooMany", [](VantorAsyncSDK& a) { return a.i3cHdrDdrWriteBulk(1, 0x30, 0x20, Bytes(1026), kNone); }},
    RefusedCall{"HdrDdrReadBulkOfNothing", [](VantorAsyncSDK& a) { return a.i3cHdrDdrReadBulk(1, 0x30, 0xA0, 0, kNone); }}),
    RowName{});
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(I3c, NotConnected, ::testing::Values(
    RefusedCall{"InitBus256Targets", [](VantorAsyncSDK& a) { return a.i3cInitBus(1, std::vector<I3cTargetInfo>(256)); }},
    RefusedCall{"SdrWriteSubaddressOverFourBytes", [](VantorAsyncSDK& a) { return a.i3cSdrWrite(1, 0x30, kFiveBytes, {}, kNone); }},
    RefusedCall{"SdrReadBulk", nullptr, [](VantorSDK& s) { Bytes out; return s.i3cSdrReadBulk(0x30, {}, 1, out, kNone); }},
    RefusedCall{"CccEntdaaSixteenTargets", [](VantorAsyncSDK& a) { return a.i3cCccENTDAA(1, std::vector<I3cTargetInfo>(16)); }}),
    RowName{});

INSTANTIATE_TEST_SUITE_P(I3c, WithoutBulkInterface, ::testing::Values(
    RefusedCall{"AsyncHdrDdrWriteBulk", [](VantorAsyncSDK& a) { return a.i3cHdrDdrWriteBulk(1, 0x30, 0x20, {1, 2}, kNone); }},
    RefusedCall{"AsyncSdrReadBulk", [](VantorAsyncSDK& a) { return a.i3cSdrReadBulk(1, 0x30, {}, 1, kNone); }},
    RefusedCall{"LegacyI2cReadBulk", nullptr, [](VantorSDK& s) { Bytes out; return s.i3cLegacyI2cReadBulk(0x50, {}, 1, out, kNone); }}),
    RowName{});
// clang-format on

// ------------------------------------------------------------- decoding

constexpr uint16_t kIncomplete = 0x061A;  // FW_I3C_TRANSFER_INCOMPLETE_READ

// The table flattened to bytes; untouched, it holds one sentinel entry.
Decoded deviceTable(VantorSDK& s) {
    std::vector<I3cTargetInfo> out(1);
    std::memset(out.data(), 0xEE, sizeof(I3cTargetInfo));
    const uint16_t st = s.i3cGetDeviceTable(out);
    Bytes flat(out.size() * sizeof(I3cTargetInfo));
    if (!out.empty()) std::memcpy(flat.data(), out.data(), flat.size());
    return {st, flat};
}
Decoded busVoltage(VantorSDK& s) {
    uint16_t a = 0xEEEE, b = 0xEEEE;
    const uint16_t st = s.i3cGetBusVoltage(a, b);
    return {st,
            {static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(b),
             static_cast<uint8_t>(b >> 8)}};
}
Decoded sdrRead(VantorSDK& s) {
    Bytes out = {0xEE};
    const uint16_t st = s.i3cSdrRead(0x30, {}, 20, out, kNone);
    return {st, out};
}
const Bytes kUntouchedTable(16, 0xEE);
const Bytes kUntouchedVoltages(4, 0xEE);

// clang-format off
INSTANTIATE_TEST_SUITE_P(I3cController, ReplyDecoding, ::testing::Values(
    ScriptedReply{"TableOfOneIgnoresAWholeEntryMore", 0, concat(concat({1}, targetBytes(0x50)), concat(targetBytes(0x60), {0xAB})), deviceTable, {0, targetBytes(0x50)}},
    ScriptedReply{"TableOfTwoIgnoresTrailingBytes", 0, concat(concat({2}, targetBytes(0x50)), concat(targetBytes(0x60), {0xAB})), deviceTable, {0, concat(targetBytes(0x50), targetBytes(0x60))}},
    ScriptedReply{"TableEmpty", 0, {0}, deviceTable, {0, {}}},
    ScriptedReply{"TableKeepsItsStatus", 0x0601, concat({1}, targetBytes(0x50)), deviceTable, {0x0601, targetBytes(0x50)}},
    ScriptedReply{"TableShortOfAnnouncedEntries", 0, concat(concat({3}, targetBytes(0x50)), targetBytes(0x60)), deviceTable, {kWrongResponse, kUntouchedTable}},
    ScriptedReply{"TableWithoutCount", 0x0601, {}, deviceTable, {kWrongResponse, kUntouchedTable}},
    ScriptedReply{"BusVoltagesAtOffsets8And10", 0, {0x08, 0x07, 0x14, 0x05, 0xB8, 0x0B, 0, 0, 0, 0, 0, 0}, busVoltage, {0, {0x14, 0x05, 0xB8, 0x0B}}},
    ScriptedReply{"BusVoltages17BytesIsWrongResponse", 0, Bytes(11), busVoltage, {kWrongResponse, kUntouchedVoltages}},
    ScriptedReply{"BusVoltagesShortKeepsItsStatus", 0x0104, Bytes(11), busVoltage, {0x0104, kUntouchedVoltages}},
    ScriptedReply{"ReadTakesOnlyTheAnnouncedBytes", 0, concat({0, 0, 2, 0}, pattern(5)), sdrRead, {0, pattern(2)}},
    ScriptedReply{"IncompleteReadKeepsItsBytes", kIncomplete, concat({0, 0, 3, 0}, pattern(3)), sdrRead, {kIncomplete, pattern(3)}},
    ScriptedReply{"ReadWithoutCountIsEmpty", 0x060B, {0, 0}, sdrRead, {0x060B, {}}}),
    RowName{});
// clang-format on

TEST(I3cTransfersBulk, ReadsReceiveTheAnnouncedDataPhase) {
    sim::VirtualAdapter adapter;
    sim::BulkCapabilityConfig caps;
    caps.groups = {{6, 32767, CMD_I3C_CONTROLLER_TRANSFER_BULK}};
    adapter.system().setBulkCapabilities(caps);
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.getBulkCapabilities().maxPayloadFor(6), 32767);
    uint16_t status = 0;
    uint16_t announced = 0;
    Bytes queued;
    script(adapter, [&](const Bytes& req) {
        if (!queued.empty()) adapter.sendBulk(queued);
        return reply(req, status, {0, 0, static_cast<uint8_t>(announced), 0});
    });

    Bytes out;
    queued = pattern(32, 5);
    announced = 32;
    EXPECT_EQ(sdk.i3cHdrDdrReadBulk(0x30, 0xA0, 32, out, kNone), 0);
    EXPECT_EQ(out, queued);
    status = kIncomplete;  // the bytes that came are kept with the status
    queued = pattern(7, 1);
    announced = 7;
    EXPECT_EQ(sdk.i3cSdrReadBulk(0x30, {}, 16, out, kNone), kIncomplete);
    EXPECT_EQ(out, queued);
    queued.clear();
    status = 0x060B;  // any other status: nothing delivered
    out = {0xEE};
    EXPECT_EQ(sdk.i3cLegacyI2cReadBulk(0x50, {}, 16, out, kNone), 0x060B);
    EXPECT_TRUE(out.empty());
    status = kIncomplete;  // an incomplete read whose data never comes
    announced = 4;
    EXPECT_EQ(sdk.i3cSdrReadBulk(0x30, {}, 16, out, kNone), kTimeout);
    EXPECT_TRUE(out.empty());

    // Writes: the gate, then the header and the data phase.
    status = 0;
    EXPECT_EQ(sdk.i3cHdrDdrWriteBulk(0x30, 0x20, pattern(1024), kNone), 0);
    EXPECT_EQ(adapter.bulkReceived(), pattern(1024));
    EXPECT_EQ(sdk.i3cHdrDdrWriteBulk(0x30, 0x20, pattern(5), kNone), kWrongRequest);
}

}  // namespace
}  // namespace vantor
