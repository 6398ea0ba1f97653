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

struct Layout {
    const char* name;
    std::function<uint16_t(VantorAsyncSDK&)> call;
    Bytes expected;  // from the command code on
};

class TargetRequest : public ::testing::TestWithParam<Layout> {};

TEST_P(TargetRequest, CarriesItsBytes) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(GetParam().call(sdk), 0);
    const std::vector<Bytes> sent = requestsOf(adapter, 1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(idOf(sent[0]), 7);
    EXPECT_EQ(withoutId(sent[0]), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TargetRequest,
    ::testing::Values(
        Layout{"I2cInitEeprom7BitWith16BitAddressing",
               [](VantorAsyncSDK& s) {
                   return s.i2cTargetInit(7, 0, 0x50, I2cTargetAddressMode::BIT_7,
                                          I2cTargetMemoryLayout::BIT_16, I2cTargetModel::EEPROM);
               },
               {0x01, 0x0A, 0x00, 0x50, 0x00, 0x00, 0x01, 0x00, 0x01}},
        Layout{"I2cSetParameters10BitAddress",
               [](VantorAsyncSDK& s) {
                   return s.i2cTargetSetParameters(7, 1, 0x2A3, I2cTargetAddressMode::BIT_10,
                                                   I2cTargetMemoryLayout::BIT_8,
                                                   I2cTargetModel::REGISTER_MAP);
               },
               {0x02, 0x0A, 0x01, 0xA3, 0x02, 0x01, 0x00, 0x00, 0x02}},
        Layout{"I2cEepromConfig",
               [](VantorAsyncSDK& s) {
                   return s.i2cTargetSetEepromConfig(7, 0x8000, 64, 5000, 0x30D40,
                                                     I2cTargetEepromBusyBehavior::CLOCK_STRETCH,
                                                     0xFF, 0x7F00, 0x7FFF);
               },
               {0x05, 0x0A, 0x00, 0x80, 0x40, 0x00, 0x88, 0x13, 0x00, 0x00, 0x40, 0x0D, 0x03,
                0x00, 0x01, 0xFF, 0x00, 0x7F, 0xFF, 0x7F}},
        Layout{"I2cErasePage",
               [](VantorAsyncSDK& s) { return s.i2cTargetErase(7, I2cTargetEraseScope::PAGE, 0x0140); },
               {0x06, 0x0A, 0x00, 0x40, 0x01}},
        Layout{"I2cRegisterRegion",
               [](VantorAsyncSDK& s) {
                   return s.i2cTargetSetRegisterRegion(7, 0x10, 0x1F, I2cTargetRegisterAccess::W1C, 2, 0x81);
               },
               {0x07, 0x0A, 0x10, 0x00, 0x1F, 0x00, 0x04, 0x02, 0x81}},
        Layout{"I2cReadMemoryWholeTransfer",
               [](VantorAsyncSDK& s) { return s.i2cTargetReadMemory(7, 0x1234, 32768); },
               {0x04, 0x0A, 0x34, 0x12, 0x00, 0x80}},
        Layout{"SpiInitModeBeforeBitOrder",
               [](VantorAsyncSDK& s) {
                   return s.spiTargetInit(7, SpiMode::MODE_3, SpiBitOrder::LSB, SpiChipSelect::CS_1,
                                          SpiChipSelectPolarity::ACTIVE_HIGH, SpiTargetModel::FLASH,
                                          SpiTargetEngine::ISR);
               },
               {0x01, 0x0E, 0x03, 0x01, 0x01, 0x01, 0x01, 0x01}},
        Layout{"SpiFlashConfigZeroPaddedJedec",
               [](VantorAsyncSDK& s) { return s.spiTargetSetFlashConfig(7, 3, 256, 5000, 3, kJedec, 0); },
               {0x05, 0x0E, 0x03, 0x00, 0x01, 0x88, 0x13, 0x00, 0x00, 0x03, 0xEF, 0x40, 0x18, 0x00,
                0x00, 0x00, 0x00, 0x00, 0x00}},
        Layout{"SpiFlashConfigWithoutJedec",
               [](VantorAsyncSDK& s) { return s.spiTargetSetFlashConfig(7, 4, 512, 1, 0, nullptr, 9); },
               {0x05, 0x0E, 0x04, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x00, 0x00, 0x09}},
        Layout{"I3cInitSplitsThePid",
               [](VantorAsyncSDK& s) {
                   return s.i3cTargetInit(7, I3cTargetMemoryLayout::MEMORY_2_BYTES_X_512_REGS, kPid,
                                          I3cBCR{0x06}, 0xC5, 0x30, 1024, 256);
               },
               {0x01, 0x1A, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x35, 0x02, 0x06, 0xC5, 0x30,
                0x00, 0x04, 0x00, 0x01}},
        Layout{"I3cSetParametersPidBit32",
               [](VantorAsyncSDK& s) {
                   return s.i3cTargetSetParameters(7, I3cTargetMemoryLayout::MEMORY_1_BYTE_X_1024_REGS,
                                                   {0xFF, 0xFF, 0x12, 0x34, 0x56, 0x78},
                                                   I3cBCR{0}, 0x01, 0x7F, 0, 0);
               },
               {0x02, 0x1A, 0x00, 0x78, 0x56, 0x34, 0x12, 0x01, 0xFF, 0x7F, 0x00, 0x01, 0x7F,
                0x00, 0x00, 0x00, 0x00}},
        Layout{"I3cWritePastTheEndIsTheAdaptersCall",
               [](VantorAsyncSDK& s) { return s.i3cTargetWriteMemory(7, 1023, {0xAA, 0xBB}); },
               {0x03, 0x1A, 0xFF, 0x03, 0x02, 0x00, 0xAA, 0xBB}},
        Layout{"I3cReadOfNothing",
               [](VantorAsyncSDK& s) { return s.i3cTargetReadMemory(7, 0, 0); },
               {0x04, 0x1A, 0x00, 0x00, 0x00, 0x00}},
        Layout{"I3cReadWholeMemory",
               [](VantorAsyncSDK& s) { return s.i3cTargetReadMemory(7, 0, 1024); },
               {0x04, 0x1A, 0x00, 0x00, 0x00, 0x04}}),
    RowName{});

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

INSTANTIATE_TEST_SUITE_P(
    Target, WrongRequestRefusal,
    ::testing::Values(
        RefusedCall{"I3cPidOf5Bytes",
                    [](VantorAsyncSDK& a) {
                        return a.i3cTargetInit(1, kL0, Bytes(5), I3cBCR{0}, 0, 0x30, 8, 8);
                    }},
        RefusedCall{"I3cPidOf7Bytes", nullptr,
                    [](VantorSDK& s) {
                        return s.i3cTargetSetParameters(kL0, Bytes(7), I3cBCR{0}, 0, 0x30, 8, 8);
                    }},
        RefusedCall{
            "I3cStaticAddress0x80", nullptr,
            [](VantorSDK& s) { return s.i3cTargetInit(kL0, kPid, I3cBCR{0}, 0, 0x80, 8, 8); }},
        RefusedCall{
            "I3cMwl1025", nullptr,
            [](VantorSDK& s) { return s.i3cTargetInit(kL0, kPid, I3cBCR{0}, 0, 0x30, 1025, 8); }},
        RefusedCall{"I3cMrl1025",
                    [](VantorAsyncSDK& a) {
                        return a.i3cTargetSetParameters(1, kL0, kPid, I3cBCR{0}, 0, 0x30, 8, 1025);
                    }},
        RefusedCall{"I3cWriteAt1024", nullptr,
                    [](VantorSDK& s) { return s.i3cTargetWriteMemory(1024, {1}); }},
        RefusedCall{"I3cWriteOf1025Bytes", nullptr,
                    [](VantorSDK& s) { return s.i3cTargetWriteMemory(0, Bytes(1025)); }},
        RefusedCall{"I3cReadAt1024",
                    [](VantorAsyncSDK& a) { return a.i3cTargetReadMemory(1, 1024, 1); }},
        RefusedCall{"I3cReadOf1025Bytes", nullptr,
                    [](VantorSDK& s) {
                        Bytes out;
                        return s.i3cTargetReadMemory(0, 1025, out);
                    }},
        RefusedCall{
            "SpiJedecLengthAboveItsField", nullptr,
            [](VantorSDK& s) { return s.spiTargetSetFlashConfig(3, 256, 0, 9, kJedec, 0); }},
        RefusedCall{"SpiJedecLengthWithoutBytes",
                    [](VantorAsyncSDK& a) {
                        return a.spiTargetSetFlashConfig(1, 3, 256, 0, 1, nullptr, 0);
                    }},
        RefusedCall{"I2cWriteOfNothingAtTheGate", nullptr,
                    [](VantorSDK& s) { return s.i2cTargetWriteMemory(0, {}); }},
        RefusedCall{"I2cAsyncWriteOver32768Bytes",
                    [](VantorAsyncSDK& a) { return a.i2cTargetWriteMemory(1, 0, Bytes(32769)); }},
        RefusedCall{"I2cAsyncReadOfNothing",
                    [](VantorAsyncSDK& a) { return a.i2cTargetReadMemory(1, 0, 0); }},
        RefusedCall{"SpiReadOver32768Bytes", nullptr,
                    [](VantorSDK& s) {
                        Bytes out;
                        return s.spiTargetReadMemory(0, 32769, out);
                    }},
        RefusedCall{"SpiAsyncWriteOfNothing",
                    [](VantorAsyncSDK& a) { return a.spiTargetWriteMemory(1, 0, {}); }}),
    RowName{});

TEST(TargetBulkGate, MemoryTransfersNeedTheBulkInterfaceAndTheAdaptersOffer) {
    Bytes out;
    uint32_t size = 1;
    VantorAsyncSDK async;
    VantorSDK sdk(2000);
    EXPECT_EQ(sdk.i2cTargetReadMemory(0, 1, out), kDisconnect);
    EXPECT_EQ(async.spiTargetWriteMemory(1, 0, {1}), kDisconnect);
    EXPECT_EQ(sdk.spiTargetInit(SpiMode::MODE_0, SpiBitOrder::MSB, SpiChipSelect::CS_0,
                                SpiChipSelectPolarity::ACTIVE_LOW, SpiTargetModel::MEMORY,
                                SpiTargetEngine::DMA, size),
              kDisconnect);
    EXPECT_EQ(size, 0u);

    sim::VirtualAdapter noBulk(adapterOptions("TGTNOBULK", sim::Model::Teranox, false));
    ASSERT_TRUE(async.connect(noBulk.path()) && sdk.connect(noBulk.path()));
    EXPECT_EQ(async.i2cTargetWriteMemory(1, 0, {1}), kBulkUnavailable);
    EXPECT_EQ(async.spiTargetReadMemory(2, 0, 1), kBulkUnavailable);
    EXPECT_EQ(sdk.i2cTargetWriteMemory(0, {}), kBulkUnavailable);  // before the length
    EXPECT_EQ(sdk.spiTargetReadMemory(0, 1, out), kBulkUnavailable);
    EXPECT_TRUE(noBulk.reports().empty());
    async.disconnect();
    sdk.disconnect();

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

struct InitAnswer {
    const char* name;
    bool spi;
    uint16_t status;
    Bytes params;
    uint16_t expectedStatus;
    uint32_t expectedSize;
};

class TargetInitResponse : public ::testing::TestWithParam<InitAnswer> {};

TEST_P(TargetInitResponse, ReportsTheMemorySizeOnlyWhenPresent) {
    const InitAnswer& row = GetParam();
    sim::VirtualAdapter adapter;
    script(adapter, [&](const Bytes& req) { return reply(req, row.status, row.params); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    uint32_t size = 0xDEAD;
    const uint16_t status =
        row.spi ? sdk.spiTargetSetParameters(SpiMode::MODE_0, SpiBitOrder::MSB, SpiChipSelect::CS_0,
                                             SpiChipSelectPolarity::ACTIVE_LOW,
                                             SpiTargetModel::MEMORY, SpiTargetEngine::DMA, size)
                : sdk.i2cTargetInit(0, 0x50, I2cTargetAddressMode::BIT_7,
                                    I2cTargetMemoryLayout::BIT_16, I2cTargetModel::EEPROM, size);
    EXPECT_EQ(status, row.expectedStatus);
    EXPECT_EQ(size, row.expectedSize);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TargetInitResponse,
    ::testing::Values(
        InitAnswer{"I2cSizeAfterTheBusId", false, 0, {0x00, 0x00, 0x80, 0x00, 0x00}, 0, 0x8000},
        InitAnswer{"I2cTenBytesLeaveSize0", false, 0, {0x00, 0x00, 0x80, 0x00}, 0, 0},
        InitAnswer{
            "I2cFailureLeavesSize0", false, 0x0216, {0x00, 0x00, 0x80, 0x00, 0x00}, 0x0216, 0},
        InitAnswer{"SpiSizeAtOffset6", true, 0, {0x00, 0x00, 0x01, 0x00}, 0, 0x10000},
        InitAnswer{"SpiNineBytesLeaveSize0", true, 0, {0x00, 0x00, 0x01}, 0, 0},
        InitAnswer{"SpiStatusOnly", true, 0x0316, {}, 0x0316, 0}),
    RowName{});

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

INSTANTIATE_TEST_SUITE_P(
    Answers, TargetMemoryRead,
    ::testing::Values(
        ReadAnswer{"I2cDeliversTheCount",
                   false,
                   0,
                   {0xAB, 0xCD, 0x40, 0x00},
                   pattern(64),
                   64,
                   0,
                   pattern(64)},
        ReadAnswer{
            "I2cCountAboveRequested", false, 0, {0, 0, 80, 0}, pattern(80), 64, kWrongResponse, {}},
        ReadAnswer{"I2cNoRoomForTheCount", false, 0, {0, 0, 4}, pattern(4), 4, kWrongResponse, {}},
        ReadAnswer{"I2cFirmwareStatus", false, 0x0212, {0, 0, 4, 0}, {}, 4, 0x0212, {}},
        ReadAnswer{"SpiCountZero", true, 0, {0, 0, 0, 0}, {}, 16, 0, {}},
        ReadAnswer{"SpiFewerThanRequested", true, 0, {0, 0, 3, 0}, {1, 2, 3}, 16, 0, {1, 2, 3}},
        ReadAnswer{"SpiDataNeverComes", true, 0, {0, 0, 5, 0}, {}, 16, kTimeout, {}}),
    RowName{});

struct I3cReadAnswer {
    const char* name;
    uint16_t status;
    Bytes params;
    uint16_t expectedStatus;
    Bytes expectedOut;
};

class I3cTargetMemoryRead : public ::testing::TestWithParam<I3cReadAnswer> {};

TEST_P(I3cTargetMemoryRead, DeliversWhatIsAnnouncedAndPresent) {
    const I3cReadAnswer& row = GetParam();
    sim::VirtualAdapter adapter;
    script(adapter, [&](const Bytes& req) { return reply(req, row.status, row.params); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    Bytes out = {0xEE};
    EXPECT_EQ(sdk.i3cTargetReadMemory(0, 16, out), row.expectedStatus);
    EXPECT_EQ(out, row.expectedOut);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, I3cTargetMemoryRead,
    ::testing::Values(
        I3cReadAnswer{"Announced16Carries10", 0, concat({16, 0}, pattern(10)), 0, pattern(10)},
        I3cReadAnswer{"CarriesMoreThanAnnounced", 0, concat({2, 0}, pattern(10)), 0, pattern(2)},
        I3cReadAnswer{"SixBytesGiveTheStatus", 0x0617, {}, 0x0617, {}},
        I3cReadAnswer{"SevenBytesGiveTheStatus", 0, {4}, 0, {}},
        I3cReadAnswer{"DataWithAFailureStatus", 0x0616, {1, 0, 9}, 0x0616, {9}}),
    RowName{});

TEST(I3cTarget, ConfigurationAndWritesReturnTheAdaptersStatus) {
    sim::VirtualAdapter adapter;
    uint16_t status = 0x0617;  // FW_SURPASSED_MEMORY_SIZE
    script(adapter, [&](const Bytes& req) { return reply(req, status); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.i3cTargetWriteMemory(1023, {1, 2}), 0x0617);
    status = 0;
    EXPECT_EQ(sdk.i3cTargetInit(kL0, kPid, I3cBCR{0}, 0xC6, 0x08, 1024, 1024), 0);
    Bytes out = {1};
    EXPECT_EQ(sdk.i3cTargetReadMemory(1024, 1, out), kWrongRequest);
    EXPECT_TRUE(out.empty());  // emptied before the refusal
}

}  // namespace
}  // namespace vantor
