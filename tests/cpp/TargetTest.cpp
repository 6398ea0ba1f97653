// SPDX-License-Identifier: MIT
// Target-role commands of both SDK classes (I2C, SPI and I3C target): the
// request bytes, the refusals before sending, the decoding of init and
// memory-read responses, and the bulk gate of the memory transfers.

#include <gtest/gtest.h>

#include <functional>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

const Bytes kPid = {0x04, 0x6A, 0x00, 0x00, 0x00, 0x01};
const uint8_t kJedec[8] = {0xEF, 0x40, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00};

// Bulk capabilities that offer both target memory commands of groups 2 and 3.
sim::BulkCapabilityConfig targetCapabilities(uint16_t maxPayload = 32768, uint32_t mask = 0x18) {
    sim::BulkCapabilityConfig caps;
    caps.groups = {{2, maxPayload, mask}, {3, maxPayload, mask}};
    return caps;
}

// The requests of a test without the capability query the bulk gate makes.
std::vector<Bytes> commandsSent(sim::VirtualAdapter& adapter) {
    std::vector<Bytes> sent;
    for (const Bytes& r : adapter.requests()) {
        if (commandOf(r) != 0x040F) sent.push_back(r);
    }
    return sent;
}

// ------------------------------------------------------------ request bytes

constexpr uint16_t kId = kRequestId;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Target, RequestBytes, ::testing::Values(
    SentRequest{"I2cInitEeprom7BitWith16BitAddressing", [](VantorAsyncSDK& s) { return s.i2cTargetInit(kId, 0, 0x50, I2cTargetAddressMode::BIT_7, I2cTargetMemoryLayout::BIT_16, I2cTargetModel::EEPROM); }, {0x01, 0x0A, 0x00, 0x50, 0x00, 0x00, 0x01, 0x00, 0x01}},
    SentRequest{"I2cSetParameters10BitAddress", [](VantorAsyncSDK& s) { return s.i2cTargetSetParameters(kId, 1, 0x2A3, I2cTargetAddressMode::BIT_10, I2cTargetMemoryLayout::BIT_8, I2cTargetModel::REGISTER_MAP); }, {0x02, 0x0A, 0x01, 0xA3, 0x02, 0x01, 0x00, 0x00, 0x02}},
    SentRequest{"I2cEepromConfig", [](VantorAsyncSDK& s) { return s.i2cTargetSetEepromConfig(kId, 0x8000, 64, 5000, 0x30D40, I2cTargetEepromBusyBehavior::CLOCK_STRETCH, 0xFF, 0x7F00, 0x7FFF); }, {0x05, 0x0A, 0x00, 0x80, 0x40, 0x00, 0x88, 0x13, 0x00, 0x00, 0x40, 0x0D, 0x03, 0x00, 0x01, 0xFF, 0x00, 0x7F, 0xFF, 0x7F}},
    SentRequest{"I2cErasePage", [](VantorAsyncSDK& s) { return s.i2cTargetErase(kId, I2cTargetEraseScope::PAGE, 0x0140); }, {0x06, 0x0A, 0x00, 0x40, 0x01}},
    SentRequest{"I2cRegisterRegion", [](VantorAsyncSDK& s) { return s.i2cTargetSetRegisterRegion(kId, 0x10, 0x1F, I2cTargetRegisterAccess::W1C, 2, 0x81); }, {0x07, 0x0A, 0x10, 0x00, 0x1F, 0x00, 0x04, 0x02, 0x81}},
    SentRequest{"I2cReadMemoryWholeTransfer", [](VantorAsyncSDK& s) { return s.i2cTargetReadMemory(kId, 0x1234, 32768); }, {0x04, 0x0A, 0x34, 0x12, 0x00, 0x80}},
    SentRequest{"SpiInitModeBeforeBitOrder", [](VantorAsyncSDK& s) { return s.spiTargetInit(kId, SpiMode::MODE_3, SpiBitOrder::LSB, SpiChipSelect::CS_1, SpiChipSelectPolarity::ACTIVE_HIGH, SpiTargetModel::FLASH, SpiTargetEngine::ISR); }, {0x01, 0x0E, 0x03, 0x01, 0x01, 0x01, 0x01, 0x01}},
    SentRequest{"SpiFlashConfigZeroPaddedJedec", [](VantorAsyncSDK& s) { return s.spiTargetSetFlashConfig(kId, 3, 256, 5000, 3, kJedec, 0); }, {0x05, 0x0E, 0x03, 0x00, 0x01, 0x88, 0x13, 0x00, 0x00, 0x03, 0xEF, 0x40, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    SentRequest{"SpiFlashConfigWithoutJedec", [](VantorAsyncSDK& s) { return s.spiTargetSetFlashConfig(kId, 4, 512, 1, 0, nullptr, 9); }, {0x05, 0x0E, 0x04, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09}},
    SentRequest{"I3cInitSplitsThePid", [](VantorAsyncSDK& s) { return s.i3cTargetInit(kId, I3cTargetMemoryLayout::MEMORY_2_BYTES_X_512_REGS, kPid, I3cBCR{0x06}, 0xC5, 0x30, 1024, 256); }, {0x01, 0x1A, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x35, 0x02, 0x06, 0xC5, 0x30, 0x00, 0x04, 0x00, 0x01}},
    SentRequest{"I3cSetParametersPidBit32", [](VantorAsyncSDK& s) { return s.i3cTargetSetParameters(kId, I3cTargetMemoryLayout::MEMORY_1_BYTE_X_1024_REGS, {0xFF, 0xFF, 0x12, 0x34, 0x56, 0x78}, I3cBCR{0}, 0x01, 0x7F, 0, 0); }, {0x02, 0x1A, 0x00, 0x78, 0x56, 0x34, 0x12, 0x01, 0xFF, 0x7F, 0x00, 0x01, 0x7F, 0x00, 0x00, 0x00, 0x00}},
    SentRequest{"I3cWritePastTheEndIsTheAdaptersCall", [](VantorAsyncSDK& s) { return s.i3cTargetWriteMemory(kId, 1023, {0xAA, 0xBB}); }, {0x03, 0x1A, 0xFF, 0x03, 0x02, 0x00, 0xAA, 0xBB}},
    SentRequest{"I3cReadOfNothing", [](VantorAsyncSDK& s) { return s.i3cTargetReadMemory(kId, 0, 0); }, {0x04, 0x1A, 0x00, 0x00, 0x00, 0x00}},
    SentRequest{"I3cReadWholeMemory", [](VantorAsyncSDK& s) { return s.i3cTargetReadMemory(kId, 0, 1024); }, {0x04, 0x1A, 0x00, 0x00, 0x00, 0x04}}),
    RowName{});
// clang-format on

TEST(TargetRequest, MemoryWritesSendTheirDataOnBulkOut) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.i2cTargetWriteMemory(1, 0x0100, pattern(300)), 0);
    EXPECT_EQ(sdk.spiTargetWriteMemory(2, 0xFFFF, pattern(32768, 5)), 0);
    EXPECT_EQ(requestsOf(adapter, 2),
              (std::vector<Bytes>{{0x01, 0x00, 0x03, 0x0A, 0x00, 0x01, 0x2C, 0x01},
                                  {0x02, 0x00, 0x03, 0x0E, 0xFF, 0xFF, 0x00, 0x80}}));
    EXPECT_EQ(adapter.bulkReceived(), concat(pattern(300), pattern(32768, 5)));
}

// ------------------------------------------------------------ refusals

constexpr auto kL0 = I3cTargetMemoryLayout::MEMORY_1_BYTE_X_1024_REGS;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Target, WrongRequestRefusal, ::testing::Values(
    RefusedCall{"I3cPidOf5Bytes", [](VantorAsyncSDK& a) { return a.i3cTargetInit(1, kL0, Bytes(5), I3cBCR{0}, 0, 0x30, 8, 8); }},
    RefusedCall{"I3cPidOf7Bytes", nullptr, [](VantorSDK& s) { return s.i3cTargetSetParameters(kL0, Bytes(7), I3cBCR{0}, 0, 0x30, 8, 8); }},
    RefusedCall{"I3cStaticAddress0x80", nullptr, [](VantorSDK& s) { return s.i3cTargetInit(kL0, kPid, I3cBCR{0}, 0, 0x80, 8, 8); }},
    RefusedCall{"I3cStaticAddressBroadcast", [](VantorAsyncSDK& a) { return a.i3cTargetInit(1, kL0, kPid, I3cBCR{0}, 0, 0x7E, 8, 8); }},
    RefusedCall{"I3cStaticAddressZero", nullptr, [](VantorSDK& s) { return s.i3cTargetSetParameters(kL0, kPid, I3cBCR{0}, 0, 0x00, 8, 8); }},
    RefusedCall{"I3cMwl1025", nullptr, [](VantorSDK& s) { return s.i3cTargetInit(kL0, kPid, I3cBCR{0}, 0, 0x30, 1025, 8); }},
    RefusedCall{"I3cMrl1025", [](VantorAsyncSDK& a) { return a.i3cTargetSetParameters(1, kL0, kPid, I3cBCR{0}, 0, 0x30, 8, 1025); }},
    RefusedCall{"I3cWriteAt1024", nullptr, [](VantorSDK& s) { return s.i3cTargetWriteMemory(1024, {1}); }},
    RefusedCall{"I3cWriteOf1025Bytes", nullptr, [](VantorSDK& s) { return s.i3cTargetWriteMemory(0, Bytes(1025)); }},
    RefusedCall{"I3cReadAt1024", [](VantorAsyncSDK& a) { return a.i3cTargetReadMemory(1, 1024, 1); }},
    RefusedCall{"I3cReadOf1025Bytes", nullptr, [](VantorSDK& s) { Bytes out; return s.i3cTargetReadMemory(0, 1025, out); }},
    RefusedCall{"SpiJedecLengthAboveItsField", nullptr, [](VantorSDK& s) { return s.spiTargetSetFlashConfig(3, 256, 0, 9, kJedec, 0); }},
    RefusedCall{"SpiJedecLengthWithoutBytes", [](VantorAsyncSDK& a) { return a.spiTargetSetFlashConfig(1, 3, 256, 0, 1, nullptr, 0); }},
    RefusedCall{"I2cWriteOfNothingAtTheGate", nullptr, [](VantorSDK& s) { return s.i2cTargetWriteMemory(0, {}); }},
    RefusedCall{"I2cAsyncWriteOver32768Bytes", [](VantorAsyncSDK& a) { return a.i2cTargetWriteMemory(1, 0, Bytes(32769)); }},
    RefusedCall{"I2cAsyncReadOfNothing", [](VantorAsyncSDK& a) { return a.i2cTargetReadMemory(1, 0, 0); }},
    RefusedCall{"SpiReadOver32768Bytes", nullptr, [](VantorSDK& s) { Bytes out; return s.spiTargetReadMemory(0, 32769, out); }},
    RefusedCall{"SpiAsyncWriteOfNothing", [](VantorAsyncSDK& a) { return a.spiTargetWriteMemory(1, 0, {}); }}),
    RowName{});
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(Target, NotConnected, ::testing::Values(
    RefusedCall{"I2cReadMemory", nullptr, [](VantorSDK& s) { Bytes out; return s.i2cTargetReadMemory(0, 1, out); }},
    RefusedCall{"AsyncSpiWriteMemory", [](VantorAsyncSDK& a) { return a.spiTargetWriteMemory(1, 0, {1}); }},
    // The memory size output is zeroed too.
    RefusedCall{"SpiInitZeroesTheSize", nullptr, [](VantorSDK& s) {
        uint32_t size = 1;
        const uint16_t st = s.spiTargetInit(SpiMode::MODE_0, SpiBitOrder::MSB, SpiChipSelect::CS_0, SpiChipSelectPolarity::ACTIVE_LOW, SpiTargetModel::MEMORY, SpiTargetEngine::DMA, size);
        return size == 0 ? st : uint16_t{0xFFFF}; }}),
    RowName{});

INSTANTIATE_TEST_SUITE_P(Target, WithoutBulkInterface, ::testing::Values(
    RefusedCall{"AsyncI2cWriteMemory", [](VantorAsyncSDK& a) { return a.i2cTargetWriteMemory(1, 0, {1}); }},
    RefusedCall{"AsyncSpiReadMemory", [](VantorAsyncSDK& a) { return a.spiTargetReadMemory(2, 0, 1); }},
    RefusedCall{"I2cWriteMemoryBeforeItsLength", nullptr, [](VantorSDK& s) { return s.i2cTargetWriteMemory(0, {}); }},
    RefusedCall{"SpiReadMemory", nullptr, [](VantorSDK& s) { Bytes out; return s.spiTargetReadMemory(0, 1, out); }}),
    RowName{});
// clang-format on

// The adapter's offer decides each memory transfer with its length.
TEST(TargetBulkGate, MemoryTransfersPassTheAdaptersOffer) {
    Bytes out;
    VantorSDK sdk(2000);
    // The adapter offers bulk writes of at most 64 bytes and no reads.
    sim::VirtualAdapter adapter;
    adapter.system().setBulkCapabilities(targetCapabilities(64, 0x08));
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_TRUE(sdk.getBulkCapabilities().supported);  // cached before the script answers
    script(adapter, [](const Bytes& req) { return reply(req, 0); });
    EXPECT_EQ(sdk.i2cTargetWriteMemory(0, pattern(64)), 0);
    EXPECT_EQ(sdk.spiTargetWriteMemory(0, pattern(64)), 0);
    EXPECT_EQ(sdk.i2cTargetWriteMemory(0, pattern(65)), kWrongRequest);
    EXPECT_EQ(sdk.i2cTargetReadMemory(0, 1, out), kBulkUnavailable);
    EXPECT_EQ(sdk.spiTargetReadMemory(0, 1, out), kBulkUnavailable);
    EXPECT_EQ(commandsSent(adapter).size(), 2u);
    EXPECT_EQ(adapter.bulkReceived(), concat(pattern(64), pattern(64)));
}

// ------------------------------------------------------------ decoding

// The memory size an init reports (0xDEAD when untouched), low byte first.
Bytes sizeBytes(uint32_t size) {
    return concat(le16(size & 0xFFFF), le16(size >> 16));
}
Decoded i2cInit(VantorSDK& s) {
    uint32_t size = 0xDEAD;
    const uint16_t st =
        s.i2cTargetInit(0, 0x50, I2cTargetAddressMode::BIT_7, I2cTargetMemoryLayout::BIT_16,
                        I2cTargetModel::EEPROM, size);
    return {st, sizeBytes(size)};
}
Decoded spiParameters(VantorSDK& s) {
    uint32_t size = 0xDEAD;
    const uint16_t st = s.spiTargetSetParameters(
        SpiMode::MODE_0, SpiBitOrder::MSB, SpiChipSelect::CS_0, SpiChipSelectPolarity::ACTIVE_LOW,
        SpiTargetModel::MEMORY, SpiTargetEngine::DMA, size);
    return {st, sizeBytes(size)};
}
Decoded i3cRead(VantorSDK& s, uint16_t address) {
    Bytes out = {0xEE};
    const uint16_t st = s.i3cTargetReadMemory(address, 16, out);
    return {st, out};
}
Decoded i3cRead0(VantorSDK& s) {
    return i3cRead(s, 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Target, ReplyDecoding, ::testing::Values(
    ScriptedReply{"I2cInitSizeAfterTheBusId", 0, {0x00, 0x00, 0x80, 0x00, 0x00}, i2cInit, {0, sizeBytes(0x8000)}},
    ScriptedReply{"I2cInitTenBytesLeaveSize0", 0, {0x00, 0x00, 0x80, 0x00}, i2cInit, {0, sizeBytes(0)}},
    ScriptedReply{"I2cInitFailureLeavesSize0", 0x0216, {0x00, 0x00, 0x80, 0x00, 0x00}, i2cInit, {0x0216, sizeBytes(0)}},
    ScriptedReply{"SpiParametersSizeAtOffset6", 0, {0x00, 0x00, 0x01, 0x00}, spiParameters, {0, sizeBytes(0x10000)}},
    ScriptedReply{"SpiParametersNineBytesLeaveSize0", 0, {0x00, 0x00, 0x01}, spiParameters, {0, sizeBytes(0)}},
    ScriptedReply{"SpiParametersStatusOnly", 0x0316, {}, spiParameters, {0x0316, sizeBytes(0)}},
    ScriptedReply{"I3cReadAnnounced16Carries10", 0, concat({16, 0}, pattern(10)), i3cRead0, {0, pattern(10)}},
    ScriptedReply{"I3cReadCarriesMoreThanAnnounced", 0, concat({2, 0}, pattern(10)), i3cRead0, {0, pattern(2)}},
    ScriptedReply{"I3cReadSixBytesGiveTheStatus", 0x0617, {}, i3cRead0, {0x0617, {}}},
    ScriptedReply{"I3cReadSevenBytesGiveTheStatus", 0, {4}, i3cRead0, {0, {}}},
    ScriptedReply{"I3cReadDataWithAFailureStatus", 0x0616, {1, 0, 9}, i3cRead0, {0x0616, {9}}},
    ScriptedReply{"I3cReadPastTheEndEmptiedAndRefused", 0, {}, [](VantorSDK& s) { return i3cRead(s, 1024); }, {kWrongRequest, {}}},
    ScriptedReply{"I3cWriteGivesTheAdaptersStatus", 0x0617, {}, [](VantorSDK& s) { return Decoded{s.i3cTargetWriteMemory(1023, {1, 2}), {}}; }, {0x0617, {}}}),
    RowName{});
// clang-format on

// The data phase of a bulk read is one piece of code for every family; its
// rules (the announced count against the request, a missing count, data
// that never comes, a failure status) are these rows. The controller tests
// keep what their own commands add.
struct ReadAnswer {
    const char* name;
    bool spi;
    uint16_t status;
    Bytes params;  // the response parameters
    Bytes bulk;    // queued on bulk IN with the response
    uint16_t length;
    uint16_t expectedStatus;
    Bytes expectedOut;
};

void PrintTo(const ReadAnswer& row, std::ostream* os) {
    *os << row.name;
}

class TargetMemoryRead : public ::testing::TestWithParam<ReadAnswer> {};

TEST_P(TargetMemoryRead, TakesTheAnnouncedCountFromBulk) {
    const ReadAnswer& row = GetParam();
    sim::VirtualAdapter adapter;
    adapter.system().setBulkCapabilities(targetCapabilities());
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_TRUE(sdk.getBulkCapabilities().supported);
    script(adapter, [&](const Bytes& req) {
        if (!row.bulk.empty()) adapter.sendBulk(row.bulk);
        return reply(req, row.status, row.params);
    });
    Bytes out = {0xEE};
    EXPECT_EQ(row.spi ? sdk.spiTargetReadMemory(0x10, row.length, out)
                      : sdk.i2cTargetReadMemory(0x10, row.length, out),
              row.expectedStatus);
    EXPECT_EQ(out, row.expectedOut);
    EXPECT_EQ(withoutId(commandsSent(adapter).at(0)),
              (Bytes{0x04, static_cast<uint8_t>(row.spi ? 0x0E : 0x0A), 0x10, 0x00,
                     static_cast<uint8_t>(row.length), static_cast<uint8_t>(row.length >> 8)}));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Answers, TargetMemoryRead, ::testing::Values(
    ReadAnswer{"I2cDeliversTheCount", false, 0, {0xAB, 0xCD, 0x40, 0x00}, pattern(64), 64, 0, pattern(64)},
    ReadAnswer{"I2cCountAboveRequested", false, 0, {0, 0, 80, 0}, pattern(80), 64, kWrongResponse, {}},
    ReadAnswer{"I2cNoRoomForTheCount", false, 0, {0, 0, 4}, pattern(4), 4, kWrongResponse, {}},
    ReadAnswer{"I2cFirmwareStatus", false, 0x0212, {0, 0, 4, 0}, {}, 4, 0x0212, {}},
    ReadAnswer{"SpiCountZero", true, 0, {0, 0, 0, 0}, {}, 16, 0, {}},
    ReadAnswer{"SpiFewerThanRequested", true, 0, {0, 0, 3, 0}, {1, 2, 3}, 16, 0, {1, 2, 3}},
    ReadAnswer{"SpiDataNeverComes", true, 0, {0, 0, 5, 0}, {}, 16, kTimeout, {}}),
    RowName{});
// clang-format on

}  // namespace
}  // namespace vantor
