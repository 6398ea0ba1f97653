// SPDX-License-Identifier: MIT
// The virtual adapter's I2C controller firmware and its bench targets, through
// the USB seam. The plain paths are also exercised end to end by the Python
// tests; these pin down the device rules and the refusals the SDK never lets
// through.

#include <gtest/gtest.h>

#include "sim/devices/I2cDevices.h"
#include "tests/cpp/TestSupport.h"

namespace {

using namespace vantor::sim;
using namespace vantor::sim::testing;

constexpr uint16_t kInit = 0x0901;
constexpr uint16_t kWrite = 0x0904;
constexpr uint16_t kRead = 0x0905;
constexpr uint16_t kScan = 0x0906;
constexpr uint16_t kWriteBulk = 0x0907;
constexpr uint16_t kReadBulk = 0x0908;

// The transfer header after the command code: bus, length, address,
// subaddress length and value, non-stop flag.
Bytes header(uint8_t bus, uint16_t length, uint8_t address, uint8_t subSize, uint32_t sub) {
    const Bytes subaddress = concat(le16(sub & 0xFFFF), le16(sub >> 16));
    return concat(concat(concat({bus}, le16(length)), {address, subSize}), concat(subaddress, {0}));
}

// Bus `bus` at 400 kHz with 2.2 kOhm pull-ups.
Bytes init(uint8_t bus) {
    return {bus, 0x80, 0x1A, 0x06, 0x00, 7};
}

Bytes dataOf(const Bytes& readResponse) {
    return readResponse.size() > 9 ? Bytes(readResponse.begin() + 9, readResponse.end()) : Bytes{};
}

// A target that keeps what it is sent.
class RecordingTarget final : public I2cTarget {
  public:
    uint16_t write(const uint8_t* subaddress, size_t subaddressSize, const uint8_t* data,
                   size_t size) override {
        lastSubaddress.assign(subaddress, subaddress + subaddressSize);
        received.insert(received.end(), data, data + size);
        return 0;
    }
    uint16_t read(const uint8_t*, size_t, uint8_t*, size_t) override { return 0; }
    Bytes lastSubaddress;
    Bytes received;
};

TEST(VirtualI2c, BenchTargetsWrapAndKeepTheirAddressPointer) {
    VirtualAdapter adapter(adapterOptions("I2C-EEPROM", Model::Quillex));
    Seam seam(adapter);
    ASSERT_TRUE(adapter.i2c().attachEeprom(0, 0x50));  // 256 bytes, 16-byte pages
    ASSERT_EQ(seam.status(kInit, init(0)), 0);

    // Four bytes from 0x0E: the last two wrap to the start of page 0.
    // Answer: status, then the target address and the byte count.
    EXPECT_EQ(
        tail(seam.call(kWrite, concat(header(0, 4, 0x50, 1, 0x0E), {0xA1, 0xB2, 0xC3, 0xD4}))),
        (Bytes{0, 0, 0x50, 4, 0}));
    const Bytes memory = adapter.i2c().memory(0, 0x50);
    EXPECT_EQ(Bytes(memory.begin(), memory.begin() + 2), (Bytes{0xC3, 0xD4}));
    EXPECT_EQ(Bytes(memory.begin() + 0x0E, memory.begin() + 0x11), (Bytes{0xA1, 0xB2, 0xFF}));

    // Sequential reads do not wrap at the page, only at the end of memory.
    ASSERT_TRUE(adapter.i2c().writeMemory(0, 0x50, 0xFE, {0x11, 0x22}));
    EXPECT_FALSE(adapter.i2c().writeMemory(0, 0x50, 0xFF, {1, 2}));
    EXPECT_EQ(dataOf(seam.call(kRead, header(0, 3, 0x50, 1, 0xFF))), (Bytes{0x22, 0xC3, 0xD4}));

    // A write of the bare memory address sets the pointer for a read without one.
    EXPECT_EQ(seam.status(kWrite, header(0, 0, 0x50, 1, 0x0F)), 0);
    EXPECT_EQ(dataOf(seam.call(kRead, header(0, 2, 0x50, 0, 0))), (Bytes{0xB2, 0xFF}));
    EXPECT_EQ(dataOf(seam.call(kRead, header(0, 1, 0x50, 0, 0))), (Bytes{0xFF}));

    // Two-byte memory addresses: from the subaddress, or from the data
    // stream when the subaddress is empty.
    I2cEepromOptions large;
    large.size = 4096;
    large.pageSize = 32;
    large.addressBytes = 2;
    ASSERT_TRUE(adapter.i2c().attachEeprom(0, 0x51, large));
    EXPECT_EQ(seam.status(kWrite, concat(header(0, 3, 0x51, 2, 0x0FFE), {1, 2, 3})), 0);
    EXPECT_EQ(seam.status(kWrite, concat(header(0, 3, 0x51, 0, 0), {0x01, 0x00, 0x77})), 0);
    const Bytes wide = adapter.i2c().memory(0, 0x51);
    EXPECT_EQ((Bytes{wide[0xFFE], wide[0xFFF], wide[0xFE0], wide[0x100]}), (Bytes{1, 2, 3, 0x77}));

    // A register map auto-increments across its end, on its own bus.
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(1, 0x68));
    ASSERT_EQ(seam.status(kInit, init(1)), 0);
    EXPECT_EQ(seam.status(kWrite, concat(header(1, 3, 0x68, 1, 0xFE), {7, 8, 9})), 0);
    const Bytes registers = adapter.i2c().memory(1, 0x68);
    EXPECT_EQ((Bytes{registers[0xFE], registers[0xFF], registers[0]}), (Bytes{7, 8, 9}));
    EXPECT_EQ(dataOf(seam.call(kRead, header(1, 2, 0x68, 1, 0xFF))), (Bytes{8, 9}));
    EXPECT_TRUE(adapter.i2c().memory(0, 0x68).empty());
}

TEST(VirtualI2c, RefusalsByBusStateArgumentsAndTarget) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    ASSERT_TRUE(adapter.i2c().attachEeprom(0, 0x50));
    // Arguments are checked before the state; each bus has its own.
    seam.expectStatuses({
        {kWrite, concat(header(0, 1, 0x50, 0, 0), {1}), 0x0006},  // not initialised
        {kScan, {0, 0}, 0x0006},
        {0x0802, {0, 3}, 0x0006},
        {0x0902, init(0), 0x0006},
        {kInit, init(2), 0x0004},             // no bus 2
        {kInit, {0, 0, 0, 0, 0, 7}, 0x0004},  // 0 Hz
        {kInit, init(0), 0},
        {kInit, init(0), 0x0007},  // already initialised
        {kScan, {1, 0}, 0x0006},   // the other bus
        {0x0902, {0, 0x40, 0x42, 0x0F, 0x00, 12}, 0},
        {0x0802, {0, 10}, 0},
        {kWrite, concat(header(0, 1, 0xA0, 1, 0), {5}), 0x020C},                // 8-bit address
        {kWrite, concat(header(0, 1025, 0x50, 0, 0), Bytes(1025, 0)), 0x020C},  // too long
        {kRead, header(0, 1025, 0x50, 0, 0), 0x020C},
        {kRead, header(0, 1, 0x50, 5, 0), 0x020C},                   // 5-byte subaddress
        {kWrite, concat(header(0, 4, 0x50, 1, 0), {1, 2}), 0x020C},  // length and data
        {kWrite, concat(header(0, 1, 0x50, 1, 0), {1, 2}), 0x020C},  // disagree
        {kRead, {0, 1, 0, 0x50}, 0x0004},  // a header cut short, answered by the dispatcher
    });
    EXPECT_EQ(adapter.i2c().memory(0, 0x50), Bytes(256, 0xFF));

    // Absent address: no acknowledge, nothing transferred.
    const Bytes nack{0x03, 0x02, 0x51, 0, 0};
    EXPECT_EQ(tail(seam.call(kWrite, concat(header(0, 1, 0x51, 1, 0), {5}))), nack);
    EXPECT_EQ(tail(seam.call(kRead, header(0, 8, 0x51, 1, 0))), nack);

    // The largest command-channel read comes back whole.
    const Bytes full = seam.call(kRead, header(0, 1024, 0x50, 1, 0));
    EXPECT_EQ(u16At(full, 7), 1024);
    EXPECT_EQ(dataOf(full), Bytes(1024, 0xFF));

    EXPECT_EQ(seam.status(0x0801, {0}), 0);
    EXPECT_EQ(seam.status(0x0801, {0}), 0x0006);
}

TEST(VirtualI2c, TenBitTargetsAreApartFromSevenBitOnes) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    ASSERT_TRUE(adapter.i2c().attachEeprom(0, 0x50));
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(0, 0x2A5));        // 10-bit by value
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(0, 0x050, true));  // 10-bit by flag
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(1, 0x30));         // other bus
    EXPECT_FALSE(adapter.i2c().attachRegisterMap(0, 0x78));        // reserved
    EXPECT_FALSE(adapter.i2c().attachRegisterMap(0, 0x400));
    ASSERT_EQ(seam.status(kInit, init(0)), 0);

    // Status, bus, count7, count10, the 7-bit addresses, the 10-bit ones (LE).
    EXPECT_EQ(tail(seam.call(kScan, {0, 1})), (Bytes{0, 0, 0, 1, 2, 0x50, 0x50, 0x00, 0xA5, 0x02}));
    // Detaching the 7-bit 0x50 leaves the 10-bit one, which no command reaches.
    EXPECT_TRUE(adapter.i2c().detach(0, 0x50));
    EXPECT_FALSE(adapter.i2c().detach(0, 0x50));
    EXPECT_EQ(tail(seam.call(kScan, {0, 1})), (Bytes{0, 0, 0, 0, 2, 0x50, 0x00, 0xA5, 0x02}));
    EXPECT_EQ(seam.status(kRead, header(0, 1, 0x50, 0, 0)), 0x0203);
}

TEST(VirtualI2cBulk, DataPhasesAnswerInOrderAndRefusalsMoveNoData) {
    VirtualAdapter adapter(adapterOptions("I2C-BULK"));
    Seam seam(adapter);
    auto target = std::make_shared<RecordingTarget>();
    ASSERT_TRUE(adapter.i2c().attach(1, 0x3C, target));

    // On a bus that is down the data is still taken in before the error, so
    // it cannot be mistaken for the next transfer's.
    seam.write(kWriteBulk, header(1, 10, 0x3C, 0, 0));
    EXPECT_TRUE(seam.quiet());
    ASSERT_EQ(seam.bulkOut(Bytes(10, 0xEE)), 0);
    EXPECT_EQ(seam.next(), (Bytes{1, 0, 0x07, 0x09, 0x06, 0, 0x3C, 0, 0}));

    // A write is answered once all of its data arrived.
    ASSERT_EQ(seam.status(kInit, init(1)), 0);
    Bytes data(3000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    const uint16_t id = seam.write(kWriteBulk, header(1, 3000, 0x3C, 2, 0xBEEF));
    ASSERT_EQ(seam.bulkOut(Bytes(data.begin(), data.begin() + 1000)), 0);
    EXPECT_TRUE(seam.quiet());
    ASSERT_EQ(seam.bulkOut(Bytes(data.begin() + 1000, data.end())), 0);
    const auto answer = seam.next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(u16At(*answer, 0), id);
    EXPECT_EQ(tail(*answer), (Bytes{0, 0, 0x3C, 0xB8, 0x0B}));
    EXPECT_EQ(target->received, data);
    EXPECT_EQ(target->lastSubaddress, (Bytes{0xBE, 0xEF}));

    // A data phase that never comes ends with the next request; a length of
    // 0 is refused at once.
    const uint16_t abandoned = seam.write(kWriteBulk, header(1, 8, 0x3C, 0, 0));
    EXPECT_EQ(seam.status(kWriteBulk, header(1, 0, 0x3C, 0, 0)), 0x020C);
    const auto timedOut = seam.next();
    ASSERT_TRUE(timedOut);
    EXPECT_EQ(u16At(*timedOut, 0), abandoned);
    EXPECT_EQ(tail(*timedOut), (Bytes{0x09, 0, 0x3C, 0, 0}));
    EXPECT_EQ(target->received.size(), 3000u);

    // A refused read queues nothing on bulk IN (what a served one queues is
    // checked end to end by the Python tests).
    EXPECT_EQ(seam.status(kReadBulk, header(1, 16, 0x3D, 0, 0)), 0x0203);
    EXPECT_EQ(seam.status(kReadBulk, header(1, 32769, 0x3C, 0, 0)), 0x020C);
    EXPECT_TRUE(seam.bulkIn(1, 20).empty());

    // Without the vendor interface the bulk commands are not served.
    VirtualAdapter hidOnly(adapterOptions("I2C-NO-BULK", Model::Teranox, false));
    Seam plain(hidOnly);
    EXPECT_EQ(plain.status(kWriteBulk, header(0, 4, 0x3C, 0, 0)), 0x0005);
    EXPECT_EQ(plain.status(kReadBulk, header(0, 4, 0x3C, 0, 0)), 0x0005);
}

}  // namespace
