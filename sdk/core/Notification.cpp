// SPDX-License-Identifier: MIT
#include "sdk/core/Notification.h"

#include <algorithm>
#include <cstring>

namespace vantor {

namespace {

// Message lengths below which a kind's accessor has nothing to decode.
constexpr size_t kMinI3cHotJoin = 15;
constexpr size_t kMinI3cIbi = 8;
constexpr size_t kMinGpio = 9;
constexpr size_t kMinUart = 8;
constexpr size_t kMinI3cConnector = 9;
constexpr size_t kMinTargetBusEvent = 12;

// I3C target bus event kinds below this one are transfers that carry data.
constexpr uint8_t kI3cTargetCccTransfer = 2;

// Field offsets, header included. A notification's body starts after the
// transaction id, the code and a u16 header word.
constexpr size_t kHeaderWordOffset = kStatusOffset;
constexpr size_t kBodyOffset = kResponseHeaderSize;
// I3C hot-join: the provisional id, BCR, DCR and the assigned address.
constexpr size_t kHotJoinPid = kBodyOffset;
constexpr size_t kHotJoinBcr = kHotJoinPid + 6;
constexpr size_t kHotJoinDcr = kHotJoinBcr + 1;
constexpr size_t kHotJoinAddress = kHotJoinDcr + 1;
// I3C in-band interrupt: address, payload length, payload.
constexpr size_t kIbiAddress = kBodyOffset;
constexpr size_t kIbiLength = kIbiAddress + 1;
constexpr size_t kIbiPayload = kIbiLength + 1;
// GPIO interrupt: pin, edge, level.
constexpr size_t kGpioPin = kBodyOffset;
constexpr size_t kGpioEdge = kGpioPin + 1;
constexpr size_t kGpioLevel = kGpioEdge + 1;
// UART reception: u16 length, data.
constexpr size_t kUartLength = kBodyOffset;
constexpr size_t kUartData = kUartLength + 2;
// I3C connector: port, event, connector type.
constexpr size_t kConnectorPort = kBodyOffset;
constexpr size_t kConnectorEvent = kConnectorPort + 1;
constexpr size_t kConnectorType = kConnectorEvent + 1;
// Target bus events of every target family: event (kind), address or chip
// select, u16 memory address, u16 length, then (I3C transfers) the data.
constexpr size_t kTargetEvent = kBodyOffset;
constexpr size_t kTargetSelect = kTargetEvent + 1;
constexpr size_t kTargetMemoryAddress = kTargetSelect + 1;
constexpr size_t kTargetLength = kTargetMemoryAddress + 2;
constexpr size_t kTargetData = kTargetLength + 2;

static_assert(kMinI3cHotJoin == kHotJoinAddress + 1);
static_assert(kMinI3cIbi == kIbiPayload);
static_assert(kMinGpio == kGpioLevel + 1);
static_assert(kMinUart == kUartData);
static_assert(kMinI3cConnector == kConnectorType + 1);
static_assert(kMinTargetBusEvent == kTargetData);

}  // namespace

Notification::Notification(const uint8_t* message, size_t length)
    : kind_(length >= kRequestHeaderSize
                ? notificationKindForCode(readU16le(message + kCommandCodeOffset))
                : NOTIF_UNKNOWN),
      message_(message),
      length_(length) {}

const I3cHotJoinNotification* Notification::i3cHotJoin() const {
    if (kind_ != NOTIF_I3C_HJ || length_ < kMinI3cHotJoin) return nullptr;
    std::memcpy(hotJoin_.pid, message_ + kHotJoinPid, sizeof(hotJoin_.pid));
    hotJoin_.bcr = message_[kHotJoinBcr];
    hotJoin_.dcr = message_[kHotJoinDcr];
    hotJoin_.dynamicAddress = message_[kHotJoinAddress];
    return &hotJoin_;
}

const I3cIbiNotification* Notification::i3cIbi() const {
    if (kind_ != NOTIF_I3C_IBI || length_ < kMinI3cIbi) return nullptr;
    ibi_.address = message_[kIbiAddress];
    ibi_.payload = message_ + kIbiPayload;
    ibi_.payloadLength = std::min<size_t>(message_[kIbiLength], length_ - kIbiPayload);
    return &ibi_;
}

const GpioInterruptNotification* Notification::gpio() const {
    if (kind_ != NOTIF_GPIO || length_ < kMinGpio) return nullptr;
    gpio_.pinNumber = message_[kGpioPin];
    gpio_.triggeredEdge = message_[kGpioEdge];
    gpio_.logicLevel = message_[kGpioLevel];
    return &gpio_;
}

const UartRxNotification* Notification::uartRx() const {
    if (kind_ != NOTIF_UART || length_ < kMinUart) return nullptr;
    uart_.data = message_ + kUartData;
    uart_.dataLength = std::min<size_t>(readU16le(message_ + kUartLength), length_ - kUartData);
    return &uart_;
}

const I3cConnectorEventNotification* Notification::i3cConnectorEvent() const {
    if (kind_ != NOTIF_I3C_CONNECTOR_EVENT || length_ < kMinI3cConnector) return nullptr;
    connector_.port = message_[kConnectorPort];
    connector_.event = message_[kConnectorEvent];
    connector_.connectorType = message_[kConnectorType];
    return &connector_;
}

const I2cTargetBusEventNotification* Notification::i2cTargetBusEvent() const {
    if (kind_ != NOTIF_I2C_TARGET_BUS_EVENT || length_ < kMinTargetBusEvent) return nullptr;
    i2cTarget_.event = message_[kTargetEvent];
    i2cTarget_.targetAddress = message_[kTargetSelect];
    i2cTarget_.memoryAddress = readU16le(message_ + kTargetMemoryAddress);
    i2cTarget_.payloadLength = readU16le(message_ + kTargetLength);
    return &i2cTarget_;
}

const SpiTargetBusEventNotification* Notification::spiTargetBusEvent() const {
    if (kind_ != NOTIF_SPI_TARGET_BUS_EVENT || length_ < kMinTargetBusEvent) return nullptr;
    spiTarget_.event = message_[kTargetEvent];
    spiTarget_.chipSelect = message_[kTargetSelect];
    spiTarget_.memoryAddress = readU16le(message_ + kTargetMemoryAddress);
    spiTarget_.payloadLength = readU16le(message_ + kTargetLength);
    return &spiTarget_;
}

const I3cTargetBusEvent* Notification::i3cTargetBusEvent() const {
    if (kind_ != NOTIF_I3C_TARGET_BUS_EVENT || length_ < kMinTargetBusEvent) return nullptr;
    const uint8_t kind = message_[kTargetEvent];
    i3cTarget_.kind = kind;
    i3cTarget_.headerWord = readU16le(message_ + kHeaderWordOffset);
    i3cTarget_.targetAddress = message_[kTargetSelect];
    if (kind < kI3cTargetCccTransfer) {
        // Write and read transfers carry the data they moved.
        i3cTarget_.memoryAddress = readU16le(message_ + kTargetMemoryAddress);
        i3cTarget_.data = message_ + kTargetData;
        i3cTarget_.dataLength =
            std::min<size_t>(readU16le(message_ + kTargetLength), length_ - kTargetData);
    } else {
        i3cTarget_.memoryAddress = 0;
        i3cTarget_.data = nullptr;
        i3cTarget_.dataLength = 0;
    }
    return &i3cTarget_;
}

}  // namespace vantor
