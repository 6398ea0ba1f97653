// SPDX-License-Identifier: MIT
// Decoding of notification messages, on byte vectors written out by hand:
// which accessor answers and how announced lengths are capped. The fixed
// fields of every kind, and codes of no kind, are decoded end to end in
// tests/python/test_notifications.py.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/core/Notification.h"
#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using Bytes = std::vector<uint8_t>;

Notification wrap(const Bytes& message) {
    return Notification(message.data(), message.size());
}

// The shortest message each kind decodes.
const Bytes kHotJoin = {0x00, 0x00, 0x82, 0x19, 0x00, 0x00, 0x11, 0x22,
                        0x33, 0x44, 0x55, 0x66, 0xA7, 0xB8, 0x09};
const Bytes kShortest[] = {
    kHotJoin,
    {0x00, 0x00, 0x81, 0x19, 0x00, 0x00, 0x30, 0x00},                          // IBI
    {0x00, 0x00, 0x81, 0x14, 0x00, 0x00, 0x05, 0x02, 0x01},                    // GPIO
    {0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x00, 0x00},                          // UART
    {0x00, 0x00, 0x81, 0x04, 0x00, 0x00, 0x01, 0x01, 0x03},                    // connector
    {0x00, 0x00, 0x81, 0x0A, 0x00, 0x00, 0x01, 0x50, 0x34, 0x12, 0x08, 0x01},  // I2C target
    {0x00, 0x00, 0x81, 0x0E, 0x00, 0x00, 0x02, 0x01, 0x00, 0x80, 0xFF, 0xFF},  // SPI target
    {0x00, 0x00, 0x81, 0x1A, 0x00, 0x00, 0x00, 0x08, 0x10, 0x00, 0x00, 0x00},  // I3C target
};

// Which accessors decode `message`, in the order of kShortest.
std::vector<bool> decoders(const Bytes& message) {
    const Notification n = wrap(message);
    return {n.i3cHotJoin() != nullptr,
            n.i3cIbi() != nullptr,
            n.gpio() != nullptr,
            n.uartRx() != nullptr,
            n.i3cConnectorEvent() != nullptr,
            n.i2cTargetBusEvent() != nullptr,
            n.spiTargetBusEvent() != nullptr,
            n.i3cTargetBusEvent() != nullptr};
}

// One notification kind: its index in kShortest and decoders().
struct KindRow {
    const char* name;
    size_t kind;
};

class NotificationKindAccessor : public ::testing::TestWithParam<KindRow> {};

TEST_P(NotificationKindAccessor, NeedsItsKindAndMinimumLength) {
    const size_t kind = GetParam().kind;
    const std::vector<bool> none(8, false);
    std::vector<bool> own = none;
    own[kind] = true;
    Bytes message = kShortest[kind];
    EXPECT_EQ(decoders(message), own);
    message.pop_back();
    EXPECT_EQ(decoders(message), none);
    // Other kinds' accessors give nothing, however long the message (the I2C
    // and SPI target events even share their layout).
    message.resize(64, 0);
    EXPECT_EQ(decoders(message), own);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotificationKindAccessor,
                         ::testing::Values(KindRow{"I3cHotJoin", 0}, KindRow{"I3cIbi", 1},
                                           KindRow{"Gpio", 2}, KindRow{"Uart", 3},
                                           KindRow{"I3cConnector", 4}, KindRow{"I2cTarget", 5},
                                           KindRow{"SpiTarget", 6}, KindRow{"I3cTarget", 7}),
                         test::RowName{});

TEST(NotificationAccessors, AnnouncedLengthsAreCappedAtTheBytesPresent) {
    // IBI announcing 5 payload bytes with 2 present, then 1 with 2 present.
    const Bytes ibiLong = {0x00, 0x00, 0x81, 0x19, 0x00, 0x00, 0x30, 0x05, 0xAA, 0xBB};
    const Notification ibi = wrap(ibiLong);
    EXPECT_EQ(ibi.i3cIbi()->address, 0x30);
    EXPECT_EQ(ibi.i3cIbi()->payload, ibiLong.data() + 8);
    EXPECT_EQ(ibi.i3cIbi()->payloadLength, 2u);
    EXPECT_EQ(
        wrap({0x00, 0x00, 0x81, 0x19, 0x00, 0x00, 0x30, 0x01, 0xAA, 0xBB}).i3cIbi()->payloadLength,
        1u);

    // UART announcing 0x0103 bytes (u16, low byte first) with 3 present.
    const Bytes uartLong = {0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x03, 0x01, 'a', 'b', 'c'};
    const Notification uart = wrap(uartLong);
    EXPECT_EQ(uart.uartRx()->data, uartLong.data() + 8);
    EXPECT_EQ(uart.uartRx()->dataLength, 3u);
    EXPECT_EQ(
        wrap({0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x02, 0x00, 'x', 'y', 'z'}).uartRx()->dataLength,
        2u);
}

TEST(NotificationI3cTargetBusEvent, TransfersCarryCappedDataOtherKindsNone) {
    // Write transfer (kind 0) announcing 20 data bytes in a 16-byte message.
    const Bytes writeBytes = {0x00, 0x00, 0x81, 0x1A, 0x34, 0x12, 0x00, 0x08,
                              0x10, 0x02, 0x14, 0x00, 0xD0, 0xD1, 0xD2, 0xD3};
    const Notification write = wrap(writeBytes);
    const auto* w = write.i3cTargetBusEvent();
    EXPECT_EQ(w->kind, 0);
    EXPECT_EQ(w->headerWord, 0x1234);
    EXPECT_EQ(w->targetAddress, 0x08);
    EXPECT_EQ(w->memoryAddress, 0x0210);
    EXPECT_EQ(w->data, writeBytes.data() + 12);
    EXPECT_EQ(w->dataLength, 4u);

    Bytes readBytes = writeBytes;
    readBytes[6] = 1;   // read transfer
    readBytes[10] = 2;  // announcing 2 of the 4 bytes
    EXPECT_EQ(wrap(readBytes).i3cTargetBusEvent()->dataLength, 2u);

    // CCC transfer (2), address change (3) and anything above: the memory
    // address field is ignored and no data is offered.
    for (uint8_t kind : {uint8_t{2}, uint8_t{3}, uint8_t{0x7F}}) {
        Bytes cccBytes = writeBytes;
        cccBytes[6] = kind;
        const Notification ccc = wrap(cccBytes);
        const auto* e = ccc.i3cTargetBusEvent();
        EXPECT_EQ(e->kind, kind);
        EXPECT_EQ(e->headerWord, 0x1234);
        EXPECT_EQ(e->targetAddress, 0x08);
        EXPECT_EQ(e->memoryAddress, 0) << "kind " << int(kind);
        EXPECT_EQ(e->data, nullptr);
        EXPECT_EQ(e->dataLength, 0u);
    }
}

}  // namespace
}  // namespace vantor
