// The virtual adapter's SPI controller firmware and its bench flash, driven
// through the USB seam with hand-made requests.

#include <gtest/gtest.h>

#include "VirtualSeam.h"

namespace {

using namespace vantor::sim;
using namespace vantor::sim::testing;

constexpr uint16_t kInit = 0x0D01;
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
    return concat({static_cast<uint8_t>(first & 0xFF), static_cast<uint8_t>(first >> 8),
                   static_cast<uint8_t>(second & 0xFF), static_cast<uint8_t>(second >> 8)},
                  data);
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

TEST(VirtualSpi, ControllerStateAndFrameLengths) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    EXPECT_EQ(seam.status(kTransfer, lengths(1, 1, {0x9F})), 0x0006);
    EXPECT_EQ(seam.status(0x0D02, init(0)), 0x0006);
    EXPECT_EQ(seam.status(0x0C01, {}), 0x0006);
    EXPECT_EQ(seam.status(kInit, {0, 4, 0, 0, 0, 0x80, 0x96, 0x98, 0}), 0x0004);  // mode 4
    EXPECT_EQ(seam.status(kInit, init(0)), 0);
    EXPECT_EQ(seam.status(kInit, init(0)), 0x0007);
    EXPECT_EQ(seam.status(0x0D02, {0, 3, 1, 2, 1, 0x40, 0x42, 0x0F, 0}), 0);
    const SpiControllerState state = adapter.spiController();
    EXPECT_TRUE(state.initialized);
    EXPECT_EQ(state.mode, 3);
    EXPECT_EQ(state.chipSelect, 2);
    EXPECT_EQ(state.frequencyHz, 1000000u);

    // Nothing on the chip select: MISO floats high. The frame is as long as
    // the longer length; the answer carries `transferLength` bytes.
    EXPECT_EQ(frame(seam, {1, 2, 3}, 5), Bytes(5, 0xFF));
    EXPECT_EQ(frame(seam, {1, 2, 3}, 0), Bytes{});
    EXPECT_EQ(frame(seam, {}, 1024), Bytes(1024, 0xFF));
    EXPECT_EQ(seam.status(kTransfer, lengths(0, 1025)), 0x0004);
    EXPECT_EQ(seam.status(kTransfer, lengths(1025, 0, Bytes(1025, 0))), 0x0004);
    EXPECT_EQ(seam.status(kTransfer, lengths(4, 4, {1, 2})), 0x0004);  // data cut short
    EXPECT_EQ(seam.status(0x0C01, {}), 0);
    EXPECT_FALSE(adapter.spiController().initialized);
}

TEST(VirtualSpiFlash, IdentifiesItselfAndReadsWrapAtTheEnd) {
    VirtualAdapter adapter(adapterOptions(Model::Quillex, "SPI-ID"));
    Seam seam(adapter);
    SpiFlashOptions options;
    options.size = 64 * 1024;
    options.jedecId = {0x12, 0x34, 0x56};
    ASSERT_TRUE(adapter.attachSpiFlash(1, options));
    EXPECT_FALSE(adapter.attachSpiFlash(1));  // taken

    ASSERT_EQ(seam.status(kInit, init(1)), 0);
    EXPECT_EQ(frame(seam, {0x9F}, 5), (Bytes{0xFF, 0x12, 0x34, 0x56, 0xFF}));
    ASSERT_TRUE(adapter.writeSpiMemory(1, 0xFFFE, {0xAB, 0xCD}));
    ASSERT_TRUE(adapter.writeSpiMemory(1, 0, {0xEF}));
    EXPECT_FALSE(adapter.writeSpiMemory(1, 0xFFFF, {1, 2}));
    EXPECT_EQ(frame(seam, {0x03, 0x00, 0xFF, 0xFE}, 7),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD, 0xEF}));
    // An unknown command is ignored.
    EXPECT_EQ(frame(seam, {0x77, 0, 0, 0}, 6), Bytes(6, 0xFF));

    // Another chip select selects another device (none here).
    EXPECT_EQ(seam.status(0x0D02, init(0)), 0);
    EXPECT_EQ(frame(seam, {0x9F}, 4), Bytes(4, 0xFF));

    // A controller shifting LSB first shows the device every byte mirrored:
    // 0xF9 reaches it as 0x9F, and its answer comes back mirrored.
    EXPECT_EQ(seam.status(0x0D02, init(1, 1)), 0);
    EXPECT_EQ(frame(seam, {0x9F}, 4), Bytes(4, 0xFF));
    EXPECT_EQ(frame(seam, {0xF9}, 4), (Bytes{0xFF, 0x48, 0x2C, 0x6A}));
}

TEST(VirtualSpiFlash, ProgramNeedsWriteEnableClearsOnlyBitsAndStaysBusyForPolls) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    ASSERT_TRUE(adapter.attachSpiFlash(0));  // busy for 2 status bytes
    ASSERT_EQ(seam.status(kInit, init(0)), 0);

    // Without the write enable latch a program does nothing.
    frame(seam, {0x02, 0x00, 0x01, 0x00, 0x00}, 0);
    EXPECT_EQ(status(seam), 0x00);
    EXPECT_EQ(adapter.spiMemory(0)[0x100], 0xFF);

    ASSERT_TRUE(adapter.writeSpiMemory(0, 0x1FE, {0x0F}));
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
    const Bytes memory = adapter.spiMemory(0);
    EXPECT_EQ(memory[0x100], 0x22);
    EXPECT_EQ(memory[0x101], 0x33);
    EXPECT_EQ(memory[0x200], 0xFF);

    // The latch went with the completed program: a second one needs a new 0x06.
    frame(seam, {0x02, 0x00, 0x00, 0x00, 0x00}, 0);
    EXPECT_EQ(adapter.spiMemory(0)[0], 0xFF);
    // Write disable drops the latch.
    frame(seam, {0x06}, 0);
    frame(seam, {0x04}, 0);
    EXPECT_EQ(status(seam), 0x00);
}

TEST(VirtualSpiFlash, SectorEraseSetsFourKibibytesToFF) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    SpiFlashOptions options;
    options.busyPolls = 0;  // completes at once
    ASSERT_TRUE(adapter.attachSpiFlash(3, options));
    ASSERT_EQ(seam.status(kInit, init(3)), 0);
    ASSERT_TRUE(adapter.writeSpiMemory(3, 0x0FFF, Bytes(4098, 0x00)));

    frame(seam, {0x20, 0x00, 0x12, 0x34}, 0);  // no latch: ignored
    EXPECT_EQ(adapter.spiMemory(3)[0x1234], 0x00);
    frame(seam, {0x06}, 0);
    frame(seam, {0x20, 0x00, 0x12, 0x34}, 0);
    EXPECT_EQ(status(seam), 0x00);  // done, latch cleared
    const Bytes memory = adapter.spiMemory(3);
    EXPECT_EQ(memory[0x0FFF], 0x00);
    EXPECT_EQ(Bytes(memory.begin() + 0x1000, memory.begin() + 0x2000), Bytes(4096, 0xFF));
    EXPECT_EQ(memory[0x2000], 0x00);
}

TEST(VirtualSpiBulk, DataPhasesOverTheVendorInterface) {
    VirtualAdapter adapter(adapterOptions(Model::Teranox, "SPI-BULK"));
    Seam seam(adapter);
    SpiFlashOptions options;
    options.busyPolls = 0;
    ASSERT_TRUE(adapter.attachSpiFlash(0, options));
    Bytes pattern(8192);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 31 + i / 256);
    ASSERT_TRUE(adapter.writeSpiMemory(0, 0, pattern));

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

    // Full duplex: the command goes inline, 5000 received bytes on bulk IN.
    const Bytes answer = seam.call(kTransferBulk, lengths(4, 5000, {0x03, 0x00, 0x00, 0x10}));
    EXPECT_EQ(tail(answer), (Bytes{0, 0, 0x88, 0x13}));
    const Bytes duplex = seam.bulkIn(5000);
    ASSERT_EQ(duplex.size(), 5000u);
    EXPECT_EQ(Bytes(duplex.begin(), duplex.begin() + 4), Bytes(4, 0xFF));
    EXPECT_EQ(Bytes(duplex.begin() + 4, duplex.end()),
              Bytes(pattern.begin() + 0x10, pattern.begin() + 0x10 + 4996));

    // Read: the command bytes, then only the bytes read come back.
    EXPECT_EQ(tail(seam.call(kReadBulk, lengths(4, 3000, {0x03, 0x00, 0x01, 0x00}))),
              (Bytes{0, 0, 0xB8, 0x0B}));
    EXPECT_EQ(seam.bulkIn(3000), Bytes(pattern.begin() + 0x100, pattern.begin() + 0x100 + 3000));

    // Write: one frame per data phase, answered after it arrived.
    const uint16_t enable = seam.write(kWriteBulk, lengths(1, 1));
    EXPECT_TRUE(seam.quiet());
    ASSERT_EQ(seam.bulkOut({0x06}), 0);
    EXPECT_EQ(u16At(*seam.next(), 0), enable);
    seam.write(kWriteBulk, lengths(5, 5));
    ASSERT_EQ(seam.bulkOut({0x02, 0x00, 0x00, 0x00, 0x00}), 0);
    EXPECT_EQ(tail(*seam.next()), (Bytes{0, 0}));
    EXPECT_EQ(adapter.spiMemory(0)[0], 0x00);
    EXPECT_EQ(adapter.spiMemory(0)[1], pattern[1]);

    // Refused before any data phase: disagreeing or zero lengths, empty reads.
    EXPECT_EQ(seam.status(kWriteBulk, lengths(4, 5)), 0x0004);
    EXPECT_EQ(seam.status(kWriteBulk, lengths(0, 0)), 0x0004);
    EXPECT_EQ(seam.status(kReadBulk, lengths(1, 0, {0x03})), 0x0004);
    EXPECT_EQ(seam.status(kTransferBulk, lengths(1, 32769, {0x03})), 0x0004);
    EXPECT_TRUE(seam.bulkIn(1, 20).empty());
}

}  // namespace
