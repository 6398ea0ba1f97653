// SPDX-License-Identifier: MIT
// The virtual adapter's SPI controller firmware and its bench flash, through
// the USB seam. The plain paths are also exercised end to end by the Python
// tests; these pin down the flash's rules and the refusals the SDK never
// lets through.

#include <gtest/gtest.h>

#include "tests/cpp/TestSupport.h"

namespace {

using namespace vantor::sim;
using namespace vantor::sim::testing;

constexpr uint16_t kInit = 0x0D01;
constexpr uint16_t kSetParameters = 0x0D02;
constexpr uint16_t kDeinit = 0x0C01;
constexpr uint16_t kTransfer = 0x0D04;
constexpr uint16_t kTransferBulk = 0x0D05;
constexpr uint16_t kWriteBulk = 0x0D07;
constexpr uint16_t kReadBulk = 0x0D08;

// MSB first, mode 0, 8 bits, active low, 10 MHz, on `chipSelect`.
Bytes init(uint8_t chipSelect, uint8_t bitOrder = 0) {
    return {bitOrder, 0, 0, chipSelect, 0, 0x80, 0x96, 0x98, 0x00};
}

// Two u16 lengths, then the bytes.
Bytes lengths(uint16_t first, uint16_t second, const Bytes& data = {}) {
    return concat(concat(le16(first), le16(second)), data);
}

// One full-duplex frame on the command channel; the bytes received.
Bytes frame(Seam& seam, const Bytes& sent, uint16_t transferLength) {
    const Bytes answer =
        seam.call(kTransfer, lengths(static_cast<uint16_t>(sent.size()), transferLength, sent));
    EXPECT_GE(answer.size(), 8u);
    EXPECT_EQ(u16At(answer, 4), 0);
    EXPECT_EQ(u16At(answer, 6), transferLength);
    return answer.size() > 8 ? Bytes(answer.begin() + 8, answer.end()) : Bytes{};
}

uint8_t status(Seam& seam) {
    return frame(seam, {0x05}, 2).at(1);
}

TEST(VirtualSpi, ControllerRefusalsFrameLengthsAndChipSelects) {
    VirtualAdapter adapter(adapterOptions("SPI-ID", Model::Quillex));
    Seam seam(adapter);
    SpiFlashOptions options;
    options.size = 64 * 1024;
    options.jedecId = {0x12, 0x34, 0x56};
    ASSERT_TRUE(adapter.spi().attachFlash(1, options));
    EXPECT_FALSE(adapter.spi().attachFlash(1));  // taken
    seam.expectStatuses({
        {kTransfer, lengths(1, 1, {0x9F}), 0x0006},  // not initialised
        {kSetParameters, init(0), 0x0006},
        {kDeinit, {}, 0x0006},
        {kInit, {0, 4, 0, 0, 0, 0x80, 0x96, 0x98, 0}, 0x0004},  // mode 4
        {kInit, init(0), 0},
        {kInit, init(0), 0x0007},
        {kTransfer, lengths(0, 1025), 0x0004},  // longer than a frame
        {kTransfer, lengths(1025, 0, Bytes(1025, 0)), 0x0004},
        {kTransfer, lengths(4, 4, {1, 2}), 0x0004},  // data cut short
    });

    // Nothing on chip select 0: MISO floats high. The frame is as long as
    // the longer length; the answer carries `transferLength` bytes.
    EXPECT_EQ(frame(seam, {0x9F}, 5), Bytes(5, 0xFF));
    EXPECT_EQ(frame(seam, {1, 2, 3}, 0), Bytes{});
    EXPECT_EQ(frame(seam, {}, 1024), Bytes(1024, 0xFF));

    // The flash on chip select 1; its reads wrap at the end of memory, and
    // an unknown command is ignored.
    EXPECT_EQ(seam.status(kSetParameters, init(1)), 0);
    EXPECT_EQ(frame(seam, {0x9F}, 5), (Bytes{0xFF, 0x12, 0x34, 0x56, 0xFF}));
    ASSERT_TRUE(adapter.spi().writeMemory(1, 0xFFFE, {0xAB, 0xCD}));
    ASSERT_TRUE(adapter.spi().writeMemory(1, 0, {0xEF}));
    EXPECT_FALSE(adapter.spi().writeMemory(1, 0xFFFF, {1, 2}));
    EXPECT_EQ(frame(seam, {0x03, 0x00, 0xFF, 0xFE}, 7),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(frame(seam, {0x77, 0, 0, 0}, 6), Bytes(6, 0xFF));

    // A controller shifting LSB first shows the device every byte mirrored:
    // 0xF9 reaches it as 0x9F, and its answer comes back mirrored.
    EXPECT_EQ(seam.status(kSetParameters, init(1, 1)), 0);
    EXPECT_EQ(frame(seam, {0x9F}, 4), Bytes(4, 0xFF));
    EXPECT_EQ(frame(seam, {0xF9}, 4), (Bytes{0xFF, 0x48, 0x2C, 0x6A}));
    EXPECT_EQ(seam.status(kDeinit, {}), 0);
    EXPECT_FALSE(adapter.spi().controller().initialized);
}

TEST(VirtualSpiFlash, ProgramNeedsWriteEnableAndStaysBusyForPolls) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    ASSERT_TRUE(adapter.spi().attachFlash(0));  // busy for 2 status bytes
    ASSERT_EQ(seam.status(kInit, init(0)), 0);

    // Without the write enable latch a program does nothing.
    frame(seam, {0x02, 0x00, 0x01, 0x00, 0x00}, 0);
    EXPECT_EQ(status(seam), 0x00);
    EXPECT_EQ(adapter.spi().memory(0)[0x100], 0xFF);

    ASSERT_TRUE(adapter.spi().writeMemory(0, 0x1FE, {0x0F}));
    frame(seam, {0x06}, 0);
    EXPECT_EQ(status(seam), 0x02);
    // Four bytes from 0x1FE: the last two wrap to the start of the page; the
    // 0x0F already there only loses bits.
    frame(seam, {0x02, 0x00, 0x01, 0xFE, 0xF3, 0x11, 0x22, 0x33}, 0);

    // Busy (with the latch still set) for two status bytes, then done; the
    // device ignores everything but status reads until then.
    EXPECT_EQ(frame(seam, {0x03, 0x00, 0x01, 0xFE}, 6), Bytes(6, 0xFF));
    EXPECT_EQ(frame(seam, {0x05}, 4), (Bytes{0xFF, 0x03, 0x03, 0x00}));
    EXPECT_EQ(frame(seam, {0x03, 0x00, 0x01, 0xFE}, 6),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x11}));
    const Bytes memory = adapter.spi().memory(0);
    EXPECT_EQ((Bytes{memory[0x100], memory[0x101], memory[0x200]}), (Bytes{0x22, 0x33, 0xFF}));

    // The latch went with the completed program: a second one needs a new 0x06.
    frame(seam, {0x02, 0x00, 0x00, 0x00, 0x00}, 0);
    EXPECT_EQ(adapter.spi().memory(0)[0], 0xFF);
    // Write disable drops the latch.
    frame(seam, {0x06}, 0);
    frame(seam, {0x04}, 0);
    EXPECT_EQ(status(seam), 0x00);
}

// One erase command on a 256 KiB flash full of zeros: the block it clears.
struct EraseCase {
    const char* name;
    Bytes command;
    bool writeEnabled;
    size_t first;  // the erased range; empty when nothing changes
    size_t end;
};

class VirtualSpiFlashErase : public ::testing::TestWithParam<EraseCase> {};

TEST_P(VirtualSpiFlashErase, ClearsTheAlignedBlockAroundTheAddressAndGoesBusy) {
    const EraseCase& c = GetParam();
    constexpr size_t kSize = 256 * 1024;
    VirtualAdapter adapter;
    Seam seam(adapter);
    SpiFlashOptions options;
    options.size = kSize;
    ASSERT_TRUE(adapter.spi().attachFlash(0, options));
    ASSERT_EQ(seam.status(kInit, init(0)), 0);
    ASSERT_TRUE(adapter.spi().writeMemory(0, 0, Bytes(kSize, 0x00)));

    if (c.writeEnabled) frame(seam, {0x06}, 0);
    frame(seam, c.command, 0);
    // Busy with the latch for the two counted polls, then done with the
    // latch cleared; a refused or ignored command leaves the status alone.
    const uint8_t idle = c.writeEnabled ? 0x02 : 0x00;
    const Bytes polls =
        c.end > c.first ? Bytes{0xFF, 0x03, 0x03, 0x00} : Bytes{0xFF, idle, idle, idle};
    EXPECT_EQ(frame(seam, {0x05}, 4), polls);
    const Bytes memory = adapter.spi().memory(0);
    for (size_t at = 0; at < kSize; ++at) {
        const uint8_t expected = at >= c.first && at < c.end ? 0xFF : 0x00;
        ASSERT_EQ(memory[at], expected) << "at 0x" << std::hex << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, VirtualSpiFlashErase,
    ::testing::Values(
        EraseCase{"Sector4K", {0x20, 0x01, 0x23, 0x45}, true, 0x12000, 0x13000},
        EraseCase{"Block32K", {0x52, 0x01, 0x23, 0x45}, true, 0x10000, 0x18000},
        EraseCase{"Block32KUpperHalf", {0x52, 0x01, 0x80, 0x00}, true, 0x18000, 0x20000},
        EraseCase{"Block64K", {0xD8, 0x03, 0xFF, 0xFF}, true, 0x30000, 0x40000},
        EraseCase{"ChipC7", {0xC7}, true, 0, 256 * 1024},
        EraseCase{"Chip60", {0x60}, true, 0, 256 * 1024},
        EraseCase{"Block64KWithoutWriteEnable", {0xD8, 0x00, 0x00, 0x00}, false, 0, 0},
        EraseCase{"Block32KWithoutAddress", {0x52, 0x00}, true, 0, 0}),
    RowName{});

TEST(VirtualSpiBulk, WritesWaitForTheirDataPhaseAndRefusalsMoveNoData) {
    VirtualAdapter adapter(adapterOptions("SPI-BULK"));
    Seam seam(adapter);
    SpiFlashOptions options;
    options.busyPolls = 0;
    ASSERT_TRUE(adapter.spi().attachFlash(0, options));

    // A bulk write to a controller that is down still takes its data in, so
    // the next bulk write is not fed stale bytes.
    const uint16_t early = seam.write(kWriteBulk, lengths(1, 1));
    ASSERT_EQ(seam.bulkOut({0x06}), 0);
    const auto refused = seam.next();
    ASSERT_TRUE(refused);
    EXPECT_EQ(u16At(*refused, 0), early);
    EXPECT_EQ(tail(*refused), (Bytes{0x06, 0x00}));
    ASSERT_EQ(seam.status(kInit, init(0)), 0);
    EXPECT_EQ(status(seam), 0x00);

    // One frame per data phase, answered once the data arrived.
    const uint16_t enable = seam.write(kWriteBulk, lengths(1, 1));
    EXPECT_TRUE(seam.quiet());
    ASSERT_EQ(seam.bulkOut({0x06}), 0);
    EXPECT_EQ(u16At(*seam.next(), 0), enable);
    seam.write(kWriteBulk, lengths(5, 5));
    ASSERT_EQ(seam.bulkOut({0x02, 0x00, 0x00, 0x00, 0x00}), 0);
    EXPECT_EQ(tail(*seam.next()), (Bytes{0, 0}));
    const Bytes memory = adapter.spi().memory(0);
    EXPECT_EQ((Bytes{memory[0], memory[1]}), (Bytes{0x00, 0xFF}));

    // Refused before any data phase: disagreeing or zero lengths, empty or
    // oversized reads.
    seam.expectStatuses({
        {kWriteBulk, lengths(4, 5), 0x0004},
        {kWriteBulk, lengths(0, 0), 0x0004},
        {kReadBulk, lengths(1, 0, {0x03}), 0x0004},
        {kTransferBulk, lengths(1, 32769, {0x03}), 0x0004},
    });
    EXPECT_TRUE(seam.bulkIn(1, 20).empty());
}

}  // namespace
