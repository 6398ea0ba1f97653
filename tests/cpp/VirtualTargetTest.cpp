// SPDX-License-Identifier: MIT
// The virtual adapter in its target roles: the I2C, SPI and I3C target
// commands on raw request bytes, the memory over the bulk endpoints, and each
// model as the bench's external controller sees it, with the bus events the
// host receives.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/cpp/TestSupport.h"

namespace {

using namespace vantor::sim;
using namespace vantor::sim::testing;

constexpr uint16_t kI2cInit = 0x0901;
constexpr uint16_t kI2cTargetInit = 0x0A01;
constexpr uint16_t kI2cTargetSetParameters = 0x0A02;
constexpr uint16_t kI2cTargetWriteMemory = 0x0A03;
constexpr uint16_t kI2cTargetReadMemory = 0x0A04;
constexpr uint16_t kI2cTargetEeprom = 0x0A05;
constexpr uint16_t kI2cTargetErase = 0x0A06;
constexpr uint16_t kI2cTargetRegion = 0x0A07;
constexpr uint16_t kSpiInit = 0x0D01;
constexpr uint16_t kSpiTargetInit = 0x0E01;
constexpr uint16_t kSpiTargetWriteMemory = 0x0E03;
constexpr uint16_t kSpiTargetReadMemory = 0x0E04;
constexpr uint16_t kSpiTargetFlash = 0x0E05;
constexpr uint16_t kI3cTargetInit = 0x1A01;
constexpr uint16_t kI3cTargetWriteMemory = 0x1A03;
constexpr uint16_t kI3cTargetReadMemory = 0x1A04;

// 0x0A01 parameters: bus, address, address mode, memory layout, 0, model.
Bytes i2cTarget(uint8_t bus, uint16_t address, uint8_t mode, uint8_t layout, uint8_t model) {
    return concat(concat({bus}, le16(address)), {mode, layout, 0, model});
}

Bytes le32(uint32_t value) {
    return concat(le16(value & 0xFFFF), le16(value >> 16));
}

// 0x0A05 parameters.
Bytes eeprom(uint16_t total, uint16_t page, uint32_t writeUs, uint32_t eraseUs, uint8_t behavior,
             uint8_t erased, uint16_t wpStart, uint16_t wpEnd) {
    Bytes p = concat(concat(le16(total), le16(page)), concat(le32(writeUs), le32(eraseUs)));
    return concat(concat(p, {behavior, erased}), concat(le16(wpStart), le16(wpEnd)));
}

Bytes region(uint16_t start, uint16_t end, uint8_t access) {
    return concat(concat(le16(start), le16(end)), {access, 1, 0});
}

// 0x0E01: mode, bit order, chip select, polarity, model, engine.
Bytes spiTarget(uint8_t model, uint8_t chipSelect = 0) {
    return {0, 0, chipSelect, 0, model, 0};
}

// 0x0E05: address bytes, page size, write cycle, JEDEC id (count + 8), flags.
Bytes flash(uint8_t addressBytes, uint16_t page, uint32_t cycleUs, const Bytes& id) {
    Bytes field = id;
    field.resize(8, 0);
    return concat(concat(concat({addressBytes}, le16(page)), le32(cycleUs)),
                  concat(concat({static_cast<uint8_t>(id.size())}, field), {0}));
}

// 0x1A01: layout, PID (split), BCR, DCR, static address, MWL, MRL.
Bytes i3cTarget(uint8_t layout, const Bytes& pid, uint8_t bcr, uint8_t dcr, uint8_t sa,
                uint16_t mwl, uint16_t mrl) {
    const unsigned high = (pid[0] << 8 | pid[1]) >> 1;
    Bytes p = {layout, pid[5], pid[4], pid[3], pid[2], static_cast<uint8_t>(pid[1] & 1)};
    p = concat(p, le16(high));
    p = concat(p, {bcr, dcr, sa});
    return concat(concat(p, le16(mwl)), le16(mrl));
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// The notifications waiting for the host: each from offset 4 (header word,
// then the fields).
std::vector<Bytes> events(Seam& seam) {
    std::vector<Bytes> out;
    while (auto message = seam.next(0)) {
        if (u16At(*message, 0) == 0)
            out.push_back(concat(le16(u16At(*message, 2)), tail(*message)));
    }
    return out;
}

// A notification as `events` returns it: code, header word, fields.
Bytes event(uint16_t code, uint16_t word, const Bytes& fields) {
    return concat(concat(le16(code), le16(word)), fields);
}

// ------------------------------------------------------- statuses per situation

struct StatusRow {
    const char* name;
    std::vector<Seam::Step> steps;  // the last one is the rule under test
};

class VirtualTargetStatus : public ::testing::TestWithParam<StatusRow> {};

TEST_P(VirtualTargetStatus, AnswersWithItsFirmwareCode) {
    VirtualAdapter adapter(adapterOptions("TGT-STATUS"));
    Seam seam(adapter);
    seam.expectStatuses(GetParam().steps);
}

const Seam::Step kI2cMemory{kI2cTargetInit, i2cTarget(0, 0x50, 0, 0, 0), 0};
const Seam::Step kI2cEeprom{kI2cTargetInit, i2cTarget(0, 0x50, 0, 0, 1), 0};
const Seam::Step kI2cRegisters{kI2cTargetInit, i2cTarget(0, 0x50, 0, 0, 2), 0};
const Seam::Step kSpiMemory{kSpiTargetInit, spiTarget(0), 0};

std::vector<Seam::Step> fullRegionTable() {
    std::vector<Seam::Step> steps{kI2cRegisters};
    for (uint16_t i = 0; i < 16; ++i) steps.push_back({kI2cTargetRegion, region(i, i, 1), 0});
    steps.push_back({kI2cTargetRegion, region(20, 20, 1), 0x0215});
    return steps;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, VirtualTargetStatus, ::testing::Values(
    StatusRow{"I2cInitTwice", {kI2cMemory, {kI2cTargetInit, i2cTarget(0, 0x50, 0, 0, 0), 7}}},
    StatusRow{"I2cParametersBeforeInit", {{kI2cTargetSetParameters, i2cTarget(0, 0x50, 0, 0, 0), 6}}},
    StatusRow{"I2cThirdBus", {{kI2cTargetInit, i2cTarget(2, 0x50, 0, 0, 0), 4}}},
    StatusRow{"I2cModelOutOfRange", {{kI2cTargetInit, i2cTarget(0, 0x50, 0, 0, 3), 4}}},
    StatusRow{"I2cSevenBitAddressAbove7F", {{kI2cTargetInit, i2cTarget(0, 0x80, 0, 0, 0), 0x0214}}},
    StatusRow{"I2cTenBitAddressAccepted", {{kI2cTargetInit, i2cTarget(1, 0x3FF, 1, 1, 0), 0}}},
    StatusRow{"I2cTargetOnControllerBus", {{kI2cInit, {0, 0x80, 0x1A, 0x06, 0x00, 7}, 0}, {kI2cTargetInit, i2cTarget(0, 0x50, 0, 0, 0), 0x0216}}},
    StatusRow{"I2cTargetOnTheOtherBus", {{kI2cInit, {0, 0x80, 0x1A, 0x06, 0x00, 7}, 0}, {kI2cTargetInit, i2cTarget(1, 0x50, 0, 0, 0), 0}}},
    StatusRow{"I2cControllerOnTargetBus", {kI2cMemory, {kI2cInit, {0, 0x80, 0x1A, 0x06, 0x00, 7}, 0x0216}}},
    StatusRow{"EepromConfigOnMemory", {kI2cMemory, {kI2cTargetEeprom, eeprom(256, 16, 0, 0, 0, 0xFF, 0, 0), 0x0213}}},
    StatusRow{"EepromConfigBeforeInit", {{kI2cTargetEeprom, eeprom(256, 16, 0, 0, 0, 0xFF, 0, 0), 6}}},
    StatusRow{"EepromPageNotDividingTheSize", {kI2cEeprom, {kI2cTargetEeprom, eeprom(256, 24, 0, 0, 0, 0xFF, 0, 0), 0x0214}}},
    StatusRow{"EepromLargerThanEightBitAddresses", {kI2cEeprom, {kI2cTargetEeprom, eeprom(512, 16, 0, 0, 0, 0xFF, 0, 0), 0x0214}}},
    StatusRow{"EraseOnRegisterMap", {kI2cRegisters, {kI2cTargetErase, {0, 0, 0}, 0x0213}}},
    StatusRow{"EraseBeyondTheMemory", {kI2cEeprom, {kI2cTargetErase, concat({0}, le16(256)), 0x0211}}},
    StatusRow{"EraseScopeOutOfRange", {kI2cEeprom, {kI2cTargetErase, {2, 0, 0}, 0x0214}}},
    StatusRow{"RegionOnEeprom", {kI2cEeprom, {kI2cTargetRegion, region(0, 3, 0), 0x0213}}},
    StatusRow{"RegionBeyondTheMemory", {kI2cRegisters, {kI2cTargetRegion, region(0, 256, 0), 0x0214}}},
    StatusRow{"RegionAccessOutOfRange", {kI2cRegisters, {kI2cTargetRegion, region(0, 3, 6), 0x0214}}},
    StatusRow{"RegionTableFull", fullRegionTable()},
    StatusRow{"I2cReadMemoryBeyondTheMemory", {kI2cMemory, {kI2cTargetReadMemory, concat(le16(250), le16(7)), 0x0211}}},
    StatusRow{"I2cReadMemoryBeforeInit", {{kI2cTargetReadMemory, concat(le16(0), le16(1)), 6}}},
    StatusRow{"SpiTargetOnController", {{kSpiInit, {0, 0, 0, 0, 0, 0x40, 0x42, 0x0F, 0x00}, 0}, {kSpiTargetInit, spiTarget(0), 0x0316}}},
    StatusRow{"SpiControllerOnTarget", {kSpiMemory, {kSpiInit, {0, 0, 0, 0, 0, 0x40, 0x42, 0x0F, 0x00}, 0x0316}}},
    StatusRow{"SpiChipSelectOutOfRange", {{kSpiTargetInit, spiTarget(0, 4), 4}}},
    StatusRow{"FlashConfigOnMemory", {kSpiMemory, {kSpiTargetFlash, flash(3, 256, 0, {}), 0x0313}}},
    StatusRow{"FlashJedecIdTooLong", {{kSpiTargetInit, spiTarget(1), 0}, {kSpiTargetFlash, [] { Bytes p = flash(3, 256, 0, {1, 2, 3, 4, 5, 6, 7, 8}); p[7] = 9; return p; }(), 0x0314}}},
    StatusRow{"FlashPageZero", {{kSpiTargetInit, spiTarget(1), 0}, {kSpiTargetFlash, flash(3, 0, 0, {}), 0x0314}}},
    StatusRow{"SpiWriteMemoryEmpty", {kSpiMemory, {kSpiTargetWriteMemory, concat(le16(0), le16(0)), 4}}},
    StatusRow{"I3cStaticAddressAbove7F", {{kI3cTargetInit, i3cTarget(0, {0, 0, 0, 0, 0, 1}, 0, 0, 0x80, 8, 8), 4}}},
    StatusRow{"I3cStaticAddressBroadcast", {{kI3cTargetInit, i3cTarget(0, {0, 0, 0, 0, 0, 1}, 0, 0, 0x7E, 8, 8), 4}}},
    StatusRow{"I3cStaticAddressZero", {{kI3cTargetInit, i3cTarget(0, {0, 0, 0, 0, 0, 1}, 0, 0, 0x00, 8, 8), 4}}},
    StatusRow{"I3cMwlAbove1024", {{kI3cTargetInit, i3cTarget(0, {0, 0, 0, 0, 0, 1}, 0, 0, 0x30, 1025, 8), 4}}},
    StatusRow{"I3cLayoutOutOfRange", {{kI3cTargetInit, i3cTarget(3, {0, 0, 0, 0, 0, 1}, 0, 0, 0x30, 8, 8), 4}}},
    StatusRow{"I3cWriteAt1024", {{kI3cTargetWriteMemory, concat(le16(1024), concat(le16(1), {7})), 0x0616}}},
    StatusRow{"I3cWritePastTheEnd", {{kI3cTargetWriteMemory, concat(le16(1023), concat(le16(2), {7, 8})), 0x0617}}},
    StatusRow{"I3cWriteLengthNotTheData", {{kI3cTargetWriteMemory, concat(le16(0), concat(le16(3), {7, 8})), 4}}},
    StatusRow{"I3cReadPastTheEnd", {{kI3cTargetReadMemory, concat(le16(1020), le16(8)), 0x0617}}}),
    RowName{});
// clang-format on

// ------------------------------------------------------------------------ I2C

// The memory seen by both sides and its events are
// tests/python/test_targets_end_to_end.py's and test_sim_targets.py's; here
// the 16-bit layout, and that only the target's own bus, address and address
// mode are answered.
TEST(VirtualI2cTarget, SixteenBitLayoutAnsweredOnlyOnItsBusAndAddress) {
    VirtualAdapter adapter(adapterOptions("TGT-I2C-MEM", Model::Quillex));
    Seam seam(adapter);
    // 16-bit memory addressing: the adapter's 32 KiB.
    EXPECT_EQ(tail(seam.call(kI2cTargetInit, i2cTarget(1, 0x52, 0, 1, 0))),
              (Bytes{0, 0, 1, 0x00, 0x80, 0x00, 0x00}));
    I2cTargetController& controller = adapter.i2cTarget().controller();
    EXPECT_TRUE(controller.write(0x52, {0x20, 0x00, 0x5A, 0x5B}, 1).ack);
    EXPECT_EQ(adapter.i2cTarget().memory()[0x2000], 0x5A);
    EXPECT_EQ(bytesOf(controller.writeRead(0x52, {0x20, 0x00}, 2, 1).data), (Bytes{0x5A, 0x5B}));

    // Wrong bus, address or address mode: nobody answers and nothing is reported.
    EXPECT_FALSE(controller.read(0x52, 1, 0).addressAck);
    EXPECT_FALSE(controller.read(0x52, 1, 1, true).addressAck);
    EXPECT_EQ(events(seam).size(), 3u);  // write, write of the address, read
}

TEST(VirtualI2cTarget, MemoryCommandsNeedTheBulkInterface) {
    VirtualAdapter adapter(adapterOptions("TGT-I2C-NOBULK", Model::Teranox, false));
    Seam seam(adapter);
    seam.expectStatuses({kI2cMemory,
                         {kI2cTargetReadMemory, concat(le16(0), le16(4)), 5},
                         {kI2cTargetWriteMemory, concat(le16(0), le16(4)), 5}});
}

// The write cycle's length in bus time and the chip erase. Page wrap, the
// busy NACK and its event, clock stretching, write protection and page erase
// are tests/python/test_targets_end_to_end.py's.
TEST(VirtualI2cTarget, EepromBusyWindowLastsItsCycleInBusTime) {
    VirtualAdapter adapter(adapterOptions("TGT-EEPROM"));
    Seam seam(adapter);
    // 128 bytes, 8-byte pages, 1000 us write cycle, NACK while busy, erased 0xEE.
    seam.expectStatuses(
        {kI2cEeprom, {kI2cTargetEeprom, eeprom(128, 8, 1000, 3000, 0, 0xEE, 0, 0), 0}});
    I2cTargetBench& bench = adapter.i2cTarget();
    I2cTargetController& controller = bench.controller();
    EXPECT_EQ(bench.memory(), Bytes(128, 0xEE));

    // Acknowledge polling: every poll moves the virtual clock by one
    // address byte (90 us at the bench's rate) until the cycle is over.
    EXPECT_TRUE(controller.write(0x50, {0x06, 1, 2, 3}).ack);
    int polls = 0;
    while (!controller.write(0x50, {}).addressAck) ++polls;
    EXPECT_EQ(polls, 1000 / 90);
    EXPECT_FALSE(bench.busy());

    // Clock stretching waits out exactly the rest of the cycle.
    seam.expectStatuses({{kI2cTargetEeprom, eeprom(128, 8, 1000, 3000, 1, 0xEE, 0, 0), 0}});
    EXPECT_TRUE(controller.write(0x50, {0x10, 0x77}).ack);
    const I2cBusTransaction stretched = controller.writeRead(0x50, {0x10}, 1);
    EXPECT_EQ(stretched.stretchedUs, 1000u - 90u);
    EXPECT_EQ(bytesOf(stretched.data), (Bytes{0x77}));

    // A chip erase takes everything and keeps the device busy for the erase cycle.
    bench.advanceClock(1000);
    seam.expectStatuses({{kI2cTargetErase, concat({1}, le16(0)), 0}});
    EXPECT_EQ(bench.memory(), Bytes(128, 0xEE));
    EXPECT_TRUE(bench.busy());
    bench.advanceClock(3000);
    EXPECT_FALSE(bench.busy());
}

struct RuleRow {
    const char* name;
    uint8_t access;
    uint8_t written;     // by the bus over the initial 0xF0
    uint8_t afterWrite;  // the memory byte then
    uint8_t read;        // what a bus read returns
    uint8_t afterRead;   // the memory byte then
};

class VirtualI2cRegisterRule : public ::testing::TestWithParam<RuleRow> {};

TEST_P(VirtualI2cRegisterRule, BusAccessFollowsTheRegionRule) {
    const RuleRow& row = GetParam();
    VirtualAdapter adapter(adapterOptions("TGT-REGS"));
    Seam seam(adapter);
    seam.expectStatuses({{kI2cTargetInit, i2cTarget(0, 0x3C, 0, 1, 2), 0},
                         {kI2cTargetRegion, region(0x0100, 0x010F, row.access), 0}});
    I2cTargetController& controller = adapter.i2cTarget().controller();
    // The host sets the register without rules; then the bus writes it.
    const uint16_t id = seam.write(kI2cTargetWriteMemory, concat(le16(0x0104), le16(1)));
    ASSERT_EQ(seam.bulkOut({0xF0}), 0);
    ASSERT_EQ(seam.next()->at(0), id & 0xFF);
    controller.write(0x3C, {0x01, 0x04, row.written});
    EXPECT_EQ(adapter.i2cTarget().memory()[0x0104], row.afterWrite);
    EXPECT_EQ(bytesOf(controller.writeRead(0x3C, {0x01, 0x04}, 1).data), Bytes{row.read});
    EXPECT_EQ(adapter.i2cTarget().memory()[0x0104], row.afterRead);
    // Outside the region every byte is read-write.
    controller.write(0x3C, {0x02, 0x00, 0x42});
    EXPECT_EQ(adapter.i2cTarget().memory()[0x0200], 0x42);
}

INSTANTIATE_TEST_SUITE_P(Rows, VirtualI2cRegisterRule,
                         ::testing::Values(RuleRow{"ReadWrite", 0, 0x3C, 0x3C, 0x3C, 0x3C},
                                           RuleRow{"ReadOnly", 1, 0x3C, 0xF0, 0xF0, 0xF0},
                                           RuleRow{"WriteOnlyReadsZero", 2, 0x3C, 0x3C, 0x00, 0x3C},
                                           RuleRow{"ReadClear", 3, 0x3C, 0xF0, 0xF0, 0x00},
                                           RuleRow{"WriteOneToClear", 4, 0x30, 0xC0, 0xC0, 0xC0},
                                           RuleRow{"Reserved", 5, 0x3C, 0xF0, 0x00, 0xF0}),
                         RowName{});

// ------------------------------------------------------------------------ SPI

TEST(VirtualSpiTarget, FlashProgramAndEraseCycle) {
    VirtualAdapter adapter(adapterOptions("TGT-FLASH", Model::Quillex));
    Seam seam(adapter);
    EXPECT_EQ(tail(seam.call(kSpiTargetInit, {3, 0, 2, 0, 1, 0})), (Bytes{0, 0, 0, 0x80, 0, 0}));
    seam.expectStatuses({{kSpiTargetFlash, flash(3, 256, 400, {0xEF, 0x40, 0x18}), 0}});
    SpiTargetController& controller = adapter.spiTarget().controller();

    EXPECT_EQ(controller.transfer({0x9F, 0, 0, 0, 0}), (Bytes{0xFF, 0xEF, 0x40, 0x18, 0xFF}));
    // Without the write enable latch the program is refused.
    controller.transfer({0x02, 0, 0x01, 0x00, 0x12});
    EXPECT_EQ(adapter.spiTarget().memory()[0x100], 0xFF);
    EXPECT_EQ(controller.transfer({0x06}), Bytes{0xFF});
    EXPECT_EQ(controller.transfer({0x05, 0}), (Bytes{0xFF, 0x02}));
    // A page program wraps inside its page and only clears bits.
    controller.transfer({0x02, 0, 0x01, 0xFE, 0x12, 0x34, 0x0F});
    EXPECT_EQ(controller.transfer({0x05, 0}), (Bytes{0xFF, 0x01}));
    // Busy: everything but the status read is ignored.
    EXPECT_EQ(controller.transfer({0x03, 0, 0x01, 0xFE, 0}), Bytes(5, 0xFF));
    int polls = 0;
    while (controller.transfer({0x05, 0})[1] & 1) ++polls;
    // A 2-byte frame takes 16 us; the status and read frames above took 56.
    EXPECT_EQ(polls, (400 - 16 - 40) / 16);
    // Seen through the host's memory read.
    EXPECT_EQ(tail(seam.call(kSpiTargetReadMemory, concat(le16(0x1FE), le16(3)))),
              (Bytes{0, 0, 0xFE, 0x01, 3, 0}));
    EXPECT_EQ(seam.bulkIn(3), (Bytes{0x12, 0x34, 0xFF}));
    EXPECT_EQ(adapter.spiTarget().memory()[0x100], 0x0F);
    // The frame on another chip select never reached it.
    EXPECT_EQ(controller.transfer({0x9F, 0, 0},
                                  [] {
                                      SpiFrameSettings s;
                                      s.chipSelect = 0;
                                      return s;
                                  }()),
              Bytes(3, 0xFF));

    std::vector<Bytes> seen = events(seam);
    ASSERT_EQ(seen.size(), static_cast<size_t>(polls) + 8);
    EXPECT_EQ(seen[0], event(0x0E81, 0, {2, 2, 0, 0, 0, 0}));        // JEDEC id
    EXPECT_EQ(seen[1], event(0x0E81, 0, {4, 2, 0, 1, 1, 0, 0x02}));  // refused program
    EXPECT_EQ(seen[4], event(0x0E81, 0, {0, 2, 0xFE, 1, 3, 0, 0x12, 0x34, 0x0F}));
    EXPECT_EQ(seen[6], event(0x0E81, 0, {4, 2, 0, 0, 1, 0, 0x03}));  // read while busy

    // A sector erase brings the bytes back to 0xFF.
    controller.transfer({0x06});
    controller.transfer({0x20, 0, 0x01, 0x00});
    EXPECT_EQ(events(seam).back(), event(0x0E81, 0, {3, 2, 0, 0, 0, 0x10}));
    EXPECT_TRUE(adapter.spiTarget().busy());
    adapter.spiTarget().advanceClock(400);
    EXPECT_EQ(controller.transfer({0x03, 0, 0x01, 0xFE, 0, 0}),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(adapter.spiTarget().memory(), Bytes(32768, 0xFF));
}

TEST(VirtualSpiTarget, BitOrderAndClockPhaseAsTheControllerDrivesThem) {
    VirtualAdapter adapter(adapterOptions("TGT-SPI-MEM"));
    Seam seam(adapter);
    seam.expectStatuses({{kSpiTargetInit, {0, 1, 0, 0, 0, 0}, 0}});  // LSB first
    SpiTargetController& controller = adapter.spiTarget().controller();
    controller.transfer({0x02, 0x00, 0x10, 0xA5, 0x01});
    EXPECT_EQ(adapter.spiTarget().memory()[0x10], 0xA5);
    EXPECT_EQ(controller.transfer({0x03, 0x00, 0x10, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xA5, 0x01}));
    // A controller sending MSB first: every byte arrives mirrored.
    SpiFrameSettings msbFirst;
    msbFirst.bitOrder = 0;
    controller.transfer({0x40, 0x00, 0x08, 0x80}, msbFirst);  // 0x02, 0x00, 0x10, 0x01 mirrored
    EXPECT_EQ(adapter.spiTarget().memory()[0x10], 0x01);
    // The other polarity never selects it; the other phase garbles the command.
    SpiFrameSettings highActive;
    highActive.chipSelectPolarity = 1;
    EXPECT_EQ(controller.transfer({0x03, 0, 0x10, 0}, highActive), Bytes(4, 0xFF));
    SpiFrameSettings mode1;
    mode1.mode = 1;
    controller.transfer({0x02, 0x00, 0x20, 0x55}, mode1);
    EXPECT_EQ(adapter.spiTarget().memory()[0x20], 0x00);
    const auto seen = events(seam);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3], event(0x0E81, 0, {2, 0, 0, 0, 4, 0, 0x01, 0x00, 0x10, 0x2A}));
}

// ------------------------------------------------------------------------ I3C

// The identity read by GET codes and the bus events are
// tests/python/test_targets_end_to_end.py's.
TEST(VirtualI3cTarget, IdentityAddressAssignmentAndPrivateTransfers) {
    VirtualAdapter adapter(adapterOptions("TGT-I3C"));
    Seam seam(adapter);
    const Bytes pid{0x04, 0x6A, 0x00, 0x00, 0x00, 0x01};
    // Two-byte registers, MWL 8, MRL 4.
    seam.expectStatuses(
        {{kI3cTargetInit, i3cTarget(1, pid, 0x26, 0xC5, 0x30, 8, 4), 0},
         {kI3cTargetWriteMemory, concat(le16(0x10), concat(le16(2), {0xAB, 0xCD})), 0}});
    I3cTargetController& controller = adapter.i3cTarget().controller();

    EXPECT_FALSE(controller.privateRead(0x08, 1).ack);  // no dynamic address yet
    EXPECT_FALSE(controller.setdasa(0x31, 0x08).ack);   // not its static address
    EXPECT_FALSE(controller.setdasa(0x30, 0x7E).ack);   // the broadcast address
    EXPECT_FALSE(controller.entdaa(0x3E).ack);          // one bit from it
    EXPECT_TRUE(controller.setdasa(0x30, 0x08).ack);

    // Register 8 of two bytes is memory address 0x10; the read ends at MRL.
    EXPECT_TRUE(controller.privateWrite(0x08, {0x00, 0x09, 1, 2}).ack);
    EXPECT_EQ(controller.privateWrite(0x08, {0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9}).ack, false);
    controller.privateWrite(0x08, {0x00, 0x08});
    EXPECT_EQ(bytesOf(controller.privateRead(0x08, 10).data), (Bytes{0xAB, 0xCD, 1, 2}));
    EXPECT_EQ(tail(seam.call(kI3cTargetReadMemory, concat(le16(0), le16(10)))),
              (Bytes{0, 0, 10, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0}));

    // ENTDAA after RSTDAA: the target offers its PID, BCR and DCR.
    EXPECT_TRUE(controller.rstdaa().ack);
    EXPECT_EQ(bytesOf(controller.entdaa(0x09).data), (Bytes{0x04, 0x6A, 0, 0, 0, 1, 0x26, 0xC5}));
    EXPECT_FALSE(controller.entdaa(0x0A).ack);  // nobody left without an address
    EXPECT_EQ(adapter.i3cTarget().state().dynamicAddress, 0x09);
}

// The end of the 1024-byte memory, one-byte registers: a write that would
// run past it is refused whole and reported nowhere, a read stops there, and
// the events carry exactly the bytes moved.
TEST(VirtualI3cTarget, MemoryEndIsNeverWrappedPast) {
    VirtualAdapter adapter(adapterOptions("TGT-I3C-END"));
    Seam seam(adapter);
    seam.expectStatuses(
        {{kI3cTargetInit, i3cTarget(0, {0, 0, 0, 0, 0, 1}, 0, 0, 0x30, 64, 64), 0},
         {kI3cTargetWriteMemory, concat(le16(0), concat(le16(2), {0xA0, 0xA1})), 0}});
    I3cTargetController& controller = adapter.i3cTarget().controller();
    ASSERT_TRUE(controller.setdasa(0x30, 0x08).ack);
    events(seam);

    EXPECT_FALSE(controller.privateWrite(0x08, {0x03, 0xFE, 1, 2, 3, 4}).ack);
    EXPECT_FALSE(controller.privateWrite(0x08, {0x04, 0x00, 5}).ack);
    EXPECT_TRUE(controller.privateWrite(0x08, {0x03, 0xFE, 1, 2}).ack);
    EXPECT_TRUE(controller.privateRead(0x08, 4).data.empty());  // the pointer is at the end
    controller.privateWrite(0x08, {0x03, 0xFE});
    EXPECT_EQ(bytesOf(controller.privateRead(0x08, 4).data), (Bytes{1, 2}));
    EXPECT_EQ(events(seam),
              (std::vector<Bytes>{event(0x1A81, 0, {0, 0x08, 0xFE, 0x03, 2, 0, 1, 2}),
                                  event(0x1A81, 0, {1, 0x08, 0x00, 0x04, 0, 0}),
                                  event(0x1A81, 0, {0, 0x08, 0xFE, 0x03, 0, 0}),
                                  event(0x1A81, 0, {1, 0x08, 0xFE, 0x03, 2, 0, 1, 2})}));
    const Bytes memory = adapter.i3cTarget().memory();
    EXPECT_EQ(Bytes(memory.begin(), memory.begin() + 2), (Bytes{0xA0, 0xA1}));
}

}  // namespace
