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

}  // namespace

Notification::Notification(const uint8_t* message, size_t length)
    : kind_(length >= kRequestHeaderSize ? notificationKindForCode(readU16le(message + 2))
                                         : NOTIF_UNKNOWN),
      message_(message),
      length_(length) {}

const I3cHotJoinNotification* Notification::i3cHotJoin() const {
    if (kind_ != NOTIF_I3C_HJ || length_ < kMinI3cHotJoin) return nullptr;
    std::memcpy(hotJoin_.pid, message_ + 6, sizeof(hotJoin_.pid));
    hotJoin_.bcr = message_[12];
    hotJoin_.dcr = message_[13];
    hotJoin_.dynamicAddress = message_[14];
    return &hotJoin_;
}

const I3cIbiNotification* Notification::i3cIbi() const {
    if (kind_ != NOTIF_I3C_IBI || length_ < kMinI3cIbi) return nullptr;
    ibi_.address = message_[6];
    ibi_.payload = message_ + 8;
    ibi_.payloadLength = std::min<size_t>(message_[7], length_ - 8);
    return &ibi_;
}

const GpioInterruptNotification* Notification::gpio() const {
    if (kind_ != NOTIF_GPIO || length_ < kMinGpio) return nullptr;
    gpio_.pinNumber = message_[6];
    gpio_.triggeredEdge = message_[7];
    gpio_.logicLevel = message_[8];
    return &gpio_;
}

const UartRxNotification* Notification::uartRx() const {
    if (kind_ != NOTIF_UART || length_ < kMinUart) return nullptr;
    uart_.data = message_ + 8;
    uart_.dataLength = std::min<size_t>(readU16le(message_ + 6), length_ - 8);
    return &uart_;
}

const I3cConnectorEventNotification* Notification::i3cConnectorEvent() const {
    if (kind_ != NOTIF_I3C_CONNECTOR_EVENT || length_ < kMinI3cConnector) return nullptr;
    connector_.port = message_[6];
    connector_.event = message_[7];
    connector_.connectorType = message_[8];
    return &connector_;
}

const I2cTargetBusEventNotification* Notification::i2cTargetBusEvent() const {
    if (kind_ != NOTIF_I2C_TARGET_BUS_EVENT || length_ < kMinTargetBusEvent) return nullptr;
    i2cTarget_.event = message_[6];
    i2cTarget_.targetAddress = message_[7];
    i2cTarget_.memoryAddress = readU16le(message_ + 8);
    i2cTarget_.payloadLength = readU16le(message_ + 10);
    return &i2cTarget_;
}

const SpiTargetBusEventNotification* Notification::spiTargetBusEvent() const {
    if (kind_ != NOTIF_SPI_TARGET_BUS_EVENT || length_ < kMinTargetBusEvent) return nullptr;
    spiTarget_.event = message_[6];
    spiTarget_.chipSelect = message_[7];
    spiTarget_.memoryAddress = readU16le(message_ + 8);
    spiTarget_.payloadLength = readU16le(message_ + 10);
    return &spiTarget_;
}

const I3cTargetBusEvent* Notification::i3cTargetBusEvent() const {
    if (kind_ != NOTIF_I3C_TARGET_BUS_EVENT || length_ < kMinTargetBusEvent) return nullptr;
    const uint8_t kind = message_[6];
    i3cTarget_.kind = kind;
    i3cTarget_.headerWord = readU16le(message_ + 4);
    i3cTarget_.targetAddress = message_[7];
    if (kind < kI3cTargetCccTransfer) {
        // Write and read transfers carry the data they moved.
        i3cTarget_.memoryAddress = readU16le(message_ + 8);
        i3cTarget_.data = message_ + 12;
        i3cTarget_.dataLength = std::min<size_t>(readU16le(message_ + 10), length_ - 12);
    } else {
        i3cTarget_.memoryAddress = 0;
        i3cTarget_.data = nullptr;
        i3cTarget_.dataLength = 0;
    }
    return &i3cTarget_;
}

}  // namespace vantor
