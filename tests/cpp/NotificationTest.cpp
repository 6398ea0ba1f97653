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

TEST(NotificationKinds, CodesMapToKindsAndUnknownCodesAreNotErrors) {
    struct Case {
        uint8_t lo, hi;
        NotificationKind kind;
    } cases[] = {
        {0x82, 0x19, NOTIF_I3C_HJ},
        {0x81, 0x19, NOTIF_I3C_IBI},
        {0x81, 0x14, NOTIF_GPIO},
        {0x81, 0x10, NOTIF_UART},
        {0x81, 0x04, NOTIF_I3C_CONNECTOR_EVENT},
        {0x81, 0x0A, NOTIF_I2C_TARGET_BUS_EVENT},
        {0x81, 0x0E, NOTIF_SPI_TARGET_BUS_EVENT},
        {0x81, 0x1A, NOTIF_I3C_TARGET_BUS_EVENT},
        {0x83, 0x19, NOTIF_UNKNOWN},
        {0x0E, 0x04, NOTIF_UNKNOWN},
    };
    for (const auto& c : cases) {
        const Bytes message = {0x00, 0x00, c.lo, c.hi, 0x00, 0x00};
        const Notification n = wrap(message);
        EXPECT_EQ(n.kind(), c.kind) << std::hex << int(c.hi) << int(c.lo);
        EXPECT_EQ(n.length(), 6u);
        EXPECT_EQ(n.message(), message.data());
    }
    const Notification unknown =
        wrap({0x00, 0x00, 0x83, 0x19, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(unknown.i3cHotJoin(), nullptr);
    EXPECT_EQ(unknown.i3cIbi(), nullptr);
}

TEST(NotificationAccessors, EachAccessorNeedsItsMinimumLength) {
    // The shortest message each kind decodes, then one byte less.
    const Bytes hotJoin = {0x00, 0x00, 0x82, 0x19, 0x00, 0x00, 0x11, 0x22,
                           0x33, 0x44, 0x55, 0x66, 0xA7, 0xB8, 0x09};
    const Bytes ibi = {0x00, 0x00, 0x81, 0x19, 0x00, 0x00, 0x30, 0x00};
    const Bytes gpio = {0x00, 0x00, 0x81, 0x14, 0x00, 0x00, 0x03, 0x02, 0x01};
    const Bytes uart = {0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x00, 0x00};
    const Bytes connector = {0x00, 0x00, 0x81, 0x04, 0x00, 0x00, 0x01, 0x00, 0x02};
    const Bytes i2cTarget = {0x00, 0x00, 0x81, 0x0A, 0x00, 0x00,
                             0x01, 0x50, 0x34, 0x12, 0x08, 0x00};
    const Bytes spiTarget = {0x00, 0x00, 0x81, 0x0E, 0x00, 0x00,
                             0x02, 0x01, 0x00, 0x80, 0x00, 0x01};
    const Bytes i3cTarget = {0x00, 0x00, 0x81, 0x1A, 0x00, 0x00,
                             0x00, 0x08, 0x10, 0x00, 0x00, 0x00};

    auto shorter = [](Bytes b) {
        b.pop_back();
        return b;
    };
    EXPECT_NE(wrap(hotJoin).i3cHotJoin(), nullptr);
    EXPECT_EQ(wrap(shorter(hotJoin)).i3cHotJoin(), nullptr);
    EXPECT_NE(wrap(ibi).i3cIbi(), nullptr);
    EXPECT_EQ(wrap(shorter(ibi)).i3cIbi(), nullptr);
    EXPECT_NE(wrap(gpio).gpio(), nullptr);
    EXPECT_EQ(wrap(shorter(gpio)).gpio(), nullptr);  // the 8-byte GPIO notification
    EXPECT_NE(wrap(uart).uartRx(), nullptr);
    EXPECT_EQ(wrap(shorter(uart)).uartRx(), nullptr);
    EXPECT_NE(wrap(connector).i3cConnectorEvent(), nullptr);
    EXPECT_EQ(wrap(shorter(connector)).i3cConnectorEvent(), nullptr);
    EXPECT_NE(wrap(i2cTarget).i2cTargetBusEvent(), nullptr);
    EXPECT_EQ(wrap(shorter(i2cTarget)).i2cTargetBusEvent(), nullptr);
    EXPECT_NE(wrap(spiTarget).spiTargetBusEvent(), nullptr);
    EXPECT_EQ(wrap(shorter(spiTarget)).spiTargetBusEvent(), nullptr);
    EXPECT_NE(wrap(i3cTarget).i3cTargetBusEvent(), nullptr);
    EXPECT_EQ(wrap(shorter(i3cTarget)).i3cTargetBusEvent(), nullptr);
}

TEST(NotificationAccessors, AccessorsOfAnotherKindReturnNull) {
    const Bytes ibi = {0x00, 0x00, 0x81, 0x19, 0x00, 0x00, 0x30, 0x02,
                       0xAA, 0xBB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Notification n = wrap(ibi);
    ASSERT_NE(n.i3cIbi(), nullptr);
    EXPECT_EQ(n.gpio(), nullptr);
    EXPECT_EQ(n.i3cHotJoin(), nullptr);
    EXPECT_EQ(n.uartRx(), nullptr);
    EXPECT_EQ(n.i3cConnectorEvent(), nullptr);
    EXPECT_EQ(n.i2cTargetBusEvent(), nullptr);
    EXPECT_EQ(n.spiTargetBusEvent(), nullptr);
    EXPECT_EQ(n.i3cTargetBusEvent(), nullptr);

    // The two target bus events share a layout but not a kind.
    const Bytes spi = {0x00, 0x00, 0x81, 0x0E, 0x00, 0x00, 0x02, 0x01, 0x00, 0x80, 0x00, 0x01};
    EXPECT_EQ(wrap(spi).i2cTargetBusEvent(), nullptr);
    EXPECT_EQ(wrap(spi).i3cTargetBusEvent(), nullptr);
}

TEST(NotificationAccessors, FixedFieldsDecodeFromTheirOffsets) {
    const Bytes hotJoin = {0x00, 0x00, 0x82, 0x19, 0x00, 0x00, 0x11, 0x22,
                           0x33, 0x44, 0x55, 0x66, 0xA7, 0xB8, 0x09};
    const Notification hjMessage = wrap(hotJoin);
    const auto* hj = hjMessage.i3cHotJoin();
    ASSERT_NE(hj, nullptr);
    const uint8_t pid[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};  // message order
    EXPECT_EQ(0, std::memcmp(hj->pid, pid, 6));
    EXPECT_EQ(hj->bcr, 0xA7);
    EXPECT_EQ(hj->dcr, 0xB8);
    EXPECT_EQ(hj->dynamicAddress, 0x09);

    const Bytes gpio = {0x00, 0x00, 0x81, 0x14, 0x00, 0x00, 0x05, 0x02, 0x01};
    const Notification gMessage = wrap(gpio);
    const auto* g = gMessage.gpio();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->pinNumber, 5);
    EXPECT_EQ(g->triggeredEdge, 2);
    EXPECT_EQ(g->logicLevel, 1);

    const Bytes connector = {0x00, 0x00, 0x81, 0x04, 0x00, 0x00, 0x01, 0x01, 0x03};
    const Notification cMessage = wrap(connector);
    const auto* c = cMessage.i3cConnectorEvent();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->port, static_cast<int32_t>(I3cConnectorPort::HV));
    EXPECT_EQ(c->event, static_cast<int32_t>(I3cConnectorEvent::UNPLUGGED));
    EXPECT_EQ(c->connectorType, 3);

    const Bytes i2c = {0x00, 0x00, 0x81, 0x0A, 0x00, 0x00, 0x01, 0x50, 0x34, 0x12, 0x08, 0x01};
    const Notification tMessage = wrap(i2c);
    const auto* t = tMessage.i2cTargetBusEvent();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->event, 1);
    EXPECT_EQ(t->targetAddress, 0x50);
    EXPECT_EQ(t->memoryAddress, 0x1234);
    EXPECT_EQ(t->payloadLength, 0x0108);

    const Bytes spi = {0x00, 0x00, 0x81, 0x0E, 0x00, 0x00, 0x02, 0x01, 0x00, 0x80, 0xFF, 0xFF};
    const Notification sMessage = wrap(spi);
    const auto* s = sMessage.spiTargetBusEvent();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->event, 2);
    EXPECT_EQ(s->chipSelect, 1);
    EXPECT_EQ(s->memoryAddress, 0x8000);
    EXPECT_EQ(s->payloadLength, 0xFFFF);  // no data follows, so nothing to cap
}

TEST(NotificationAccessors, AnnouncedLengthsAreCappedAtTheBytesPresent) {
    // IBI announcing 5 payload bytes, 2 present.
    const Bytes ibi = {0x00, 0x00, 0x81, 0x19, 0x00, 0x00, 0x30, 0x05, 0xAA, 0xBB};
    const Notification iMessage = wrap(ibi);
    const auto* i = iMessage.i3cIbi();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->address, 0x30);
    EXPECT_EQ(i->payloadLength, 2u);
    EXPECT_EQ(i->payload, ibi.data() + 8);

    // IBI announcing fewer bytes than present: the announced count wins.
    const Bytes ibiShortCount = {0x00, 0x00, 0x81, 0x19, 0x00, 0x00, 0x30, 0x01, 0xAA, 0xBB};
    EXPECT_EQ(wrap(ibiShortCount).i3cIbi()->payloadLength, 1u);

    // UART announcing 0x0103 bytes (a u16, low byte first), 3 present.
    const Bytes uart = {0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x03, 0x01, 'a', 'b', 'c'};
    const Notification uMessage = wrap(uart);
    const auto* u = uMessage.uartRx();
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->dataLength, 3u);
    EXPECT_EQ(u->data, uart.data() + 8);

    const Bytes uartExact = {0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x02, 0x00, 'x', 'y', 'z'};
    EXPECT_EQ(wrap(uartExact).uartRx()->dataLength, 2u);
}

TEST(NotificationI3cTargetBusEvent, TransfersCarryCappedData) {
    // Write transfer (kind 0) announcing 20 data bytes in a 16-byte message.
    const Bytes write = {0x00, 0x00, 0x81, 0x1A, 0x34, 0x12, 0x00, 0x08,
                         0x10, 0x02, 0x14, 0x00, 0xD0, 0xD1, 0xD2, 0xD3};
    const Notification wMessage = wrap(write);
    const auto* w = wMessage.i3cTargetBusEvent();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->kind, 0);
    EXPECT_EQ(w->headerWord, 0x1234);
    EXPECT_EQ(w->targetAddress, 0x08);
    EXPECT_EQ(w->memoryAddress, 0x0210);
    EXPECT_EQ(w->data, write.data() + 12);
    EXPECT_EQ(w->dataLength, 4u);

    // Read transfer (kind 1) announcing 2 of 4 present bytes.
    const Bytes read = {0x00, 0x00, 0x81, 0x1A, 0x00, 0x00, 0x01, 0x08,
                        0x05, 0x00, 0x02, 0x00, 0xD0, 0xD1, 0xD2, 0xD3};
    const Notification rMessage = wrap(read);
    const auto* r = rMessage.i3cTargetBusEvent();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->kind, 1);
    EXPECT_EQ(r->memoryAddress, 5);
    EXPECT_EQ(r->dataLength, 2u);
}

TEST(NotificationI3cTargetBusEvent, CccAndAddressChangeCarryNoAddressOrData) {
    for (uint8_t kind : {uint8_t{2}, uint8_t{3}, uint8_t{0x7F}}) {
        const Bytes ccc = {0x00, 0x00, 0x81, 0x1A, 0x01, 0x00, kind, 0x08,
                           0x34, 0x12, 0x04, 0x00, 0xD0, 0xD1, 0xD2, 0xD3};
        const Notification eMessage = wrap(ccc);
        const auto* e = eMessage.i3cTargetBusEvent();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->kind, kind);
        EXPECT_EQ(e->headerWord, 1);
        EXPECT_EQ(e->targetAddress, 0x08);
        EXPECT_EQ(e->memoryAddress, 0) << "kind " << int(kind);
        EXPECT_EQ(e->data, nullptr);
        EXPECT_EQ(e->dataLength, 0u);
    }
}

}  // namespace
}  // namespace vantor
