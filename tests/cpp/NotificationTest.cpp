// Decoding of notification messages, on byte vectors written out by hand.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "sdk/core/Notification.h"

namespace vantor {
namespace {

using Bytes = std::vector<uint8_t>;

Notification wrap(const Bytes& message) {
    return Notification(message.data(), message.size());
}

// The shortest message each kind decodes.
const Bytes kHotJoin = {0x00, 0x00, 0x82, 0x19, 0x00, 0x00, 0x11, 0x22,
                        0x33, 0x44, 0x55, 0x66, 0xA7, 0xB8, 0x09};
const Bytes kIbi = {0x00, 0x00, 0x81, 0x19, 0x00, 0x00, 0x30, 0x00};
const Bytes kGpio = {0x00, 0x00, 0x81, 0x14, 0x00, 0x00, 0x05, 0x02, 0x01};
const Bytes kUart = {0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x00, 0x00};
const Bytes kConnector = {0x00, 0x00, 0x81, 0x04, 0x00, 0x00, 0x01, 0x01, 0x03};
const Bytes kI2cTarget = {0x00, 0x00, 0x81, 0x0A, 0x00, 0x00, 0x01, 0x50, 0x34, 0x12, 0x08, 0x01};
const Bytes kSpiTarget = {0x00, 0x00, 0x81, 0x0E, 0x00, 0x00, 0x02, 0x01, 0x00, 0x80, 0xFF, 0xFF};
const Bytes kI3cTarget = {0x00, 0x00, 0x81, 0x1A, 0x00, 0x00, 0x00, 0x08, 0x10, 0x00, 0x00, 0x00};

Bytes shorter(Bytes b) {
    b.pop_back();
    return b;
}

TEST(NotificationAccessors, EachAccessorNeedsItsKindAndMinimumLength) {
    EXPECT_NE(wrap(kHotJoin).i3cHotJoin(), nullptr);
    EXPECT_EQ(wrap(shorter(kHotJoin)).i3cHotJoin(), nullptr);
    EXPECT_NE(wrap(kIbi).i3cIbi(), nullptr);
    EXPECT_EQ(wrap(shorter(kIbi)).i3cIbi(), nullptr);
    EXPECT_NE(wrap(kGpio).gpio(), nullptr);
    EXPECT_EQ(wrap(shorter(kGpio)).gpio(), nullptr);  // 8 bytes
    EXPECT_NE(wrap(kUart).uartRx(), nullptr);
    EXPECT_EQ(wrap(shorter(kUart)).uartRx(), nullptr);
    EXPECT_NE(wrap(kConnector).i3cConnectorEvent(), nullptr);
    EXPECT_EQ(wrap(shorter(kConnector)).i3cConnectorEvent(), nullptr);
    EXPECT_NE(wrap(kI2cTarget).i2cTargetBusEvent(), nullptr);
    EXPECT_EQ(wrap(shorter(kI2cTarget)).i2cTargetBusEvent(), nullptr);
    EXPECT_NE(wrap(kSpiTarget).spiTargetBusEvent(), nullptr);
    EXPECT_EQ(wrap(shorter(kSpiTarget)).spiTargetBusEvent(), nullptr);
    EXPECT_NE(wrap(kI3cTarget).i3cTargetBusEvent(), nullptr);
    EXPECT_EQ(wrap(shorter(kI3cTarget)).i3cTargetBusEvent(), nullptr);

    // Another kind's accessor gives nothing, however long the message.
    EXPECT_EQ(wrap(kIbi).gpio(), nullptr);
    EXPECT_EQ(wrap(kHotJoin).i3cIbi(), nullptr);
    EXPECT_EQ(wrap(kSpiTarget).i2cTargetBusEvent(), nullptr);  // same layout, other kind
    EXPECT_EQ(wrap(kI2cTarget).i3cTargetBusEvent(), nullptr);
    Bytes unknown = kHotJoin;
    unknown[2] = 0x83;  // 0x1983 is no notification code: kind 5, no accessor
    EXPECT_EQ(wrap(unknown).kind(), NOTIF_UNKNOWN);
    EXPECT_EQ(wrap(unknown).i3cHotJoin(), nullptr);
    EXPECT_EQ(wrap(unknown).i3cIbi(), nullptr);
}

TEST(NotificationAccessors, FixedFieldsDecodeFromTheirOffsets) {
    const Notification hotJoin = wrap(kHotJoin);
    const auto* hj = hotJoin.i3cHotJoin();
    const uint8_t pid[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};  // in message order
    EXPECT_EQ(0, std::memcmp(hj->pid, pid, 6));
    EXPECT_EQ(hj->bcr, 0xA7);
    EXPECT_EQ(hj->dcr, 0xB8);
    EXPECT_EQ(hj->dynamicAddress, 0x09);

    const Notification gpio = wrap(kGpio);
    EXPECT_EQ(gpio.gpio()->pinNumber, 5);
    EXPECT_EQ(gpio.gpio()->triggeredEdge, 2);
    EXPECT_EQ(gpio.gpio()->logicLevel, 1);

    const Notification i2c = wrap(kI2cTarget);
    const auto* t = i2c.i2cTargetBusEvent();
    EXPECT_EQ(t->event, 1);
    EXPECT_EQ(t->targetAddress, 0x50);
    EXPECT_EQ(t->memoryAddress, 0x1234);
    EXPECT_EQ(t->payloadLength, 0x0108);

    const Notification spi = wrap(kSpiTarget);
    EXPECT_EQ(spi.spiTargetBusEvent()->chipSelect, 1);
    EXPECT_EQ(spi.spiTargetBusEvent()->memoryAddress, 0x8000);
    EXPECT_EQ(spi.spiTargetBusEvent()->payloadLength, 0xFFFF);  // no data follows: no cap
}

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
