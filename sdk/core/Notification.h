// SPDX-License-Identifier: MIT
#pragma once
// An unsolicited message from the adapter (transaction id 0), with typed
// accessors that decode the kind-specific fields on demand.
//
// A Notification refers to the reader thread's reassembly buffer: it and every
// pointer its accessors return are valid only while the notification callback
// runs. Copy what you keep.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "sdk/core/Protocol.h"

namespace vantor {

struct I3cHotJoinNotification {
    uint8_t pid[6];
    uint8_t bcr;
    uint8_t dcr;
    uint8_t dynamicAddress;
};

struct I3cIbiNotification {
    uint8_t address;
    const uint8_t* payload;
    size_t payloadLength;
};

struct GpioInterruptNotification {
    uint8_t pinNumber;
    int32_t triggeredEdge;
    int32_t logicLevel;
};

struct UartRxNotification {
    const uint8_t* data;
    size_t dataLength;
};

struct I3cConnectorEventNotification {
    int32_t port;
    int32_t event;
    int32_t connectorType;
};

struct I3cTargetBusEvent {
    int32_t kind;
    uint16_t headerWord;
    uint8_t targetAddress;
    uint16_t memoryAddress;
    const uint8_t* data;
    size_t dataLength;
};

struct I2cTargetBusEventNotification {
    uint8_t event;
    uint8_t targetAddress;
    uint16_t memoryAddress;
    uint16_t payloadLength;
};

struct SpiTargetBusEventNotification {
    uint8_t event;
    uint8_t chipSelect;
    uint16_t memoryAddress;
    uint16_t payloadLength;
};

class Notification {
  public:
    // Wraps a message of at least 6 bytes; the kind follows from its code.
    Notification(const uint8_t* message, size_t length);

    NotificationKind kind() const { return kind_; }
    const uint8_t* message() const { return message_; }
    size_t length() const { return length_; }

    // Each accessor returns null when the kind differs or the message is too
    // short for the kind's fields.
    const I3cHotJoinNotification* i3cHotJoin() const;
    const I3cIbiNotification* i3cIbi() const;
    const GpioInterruptNotification* gpio() const;
    const UartRxNotification* uartRx() const;
    const I3cConnectorEventNotification* i3cConnectorEvent() const;
    const I2cTargetBusEventNotification* i2cTargetBusEvent() const;
    const SpiTargetBusEventNotification* spiTargetBusEvent() const;
    const I3cTargetBusEvent* i3cTargetBusEvent() const;

  private:
    NotificationKind kind_;
    const uint8_t* message_;
    size_t length_;
    // Decoded records; the accessors fill them on demand.
    mutable I3cHotJoinNotification hotJoin_{};
    mutable I3cIbiNotification ibi_{};
    mutable GpioInterruptNotification gpio_{};
    mutable UartRxNotification uart_{};
    mutable I3cConnectorEventNotification connector_{};
    mutable I3cTargetBusEvent i3cTarget_{};
    mutable I2cTargetBusEventNotification i2cTarget_{};
    mutable SpiTargetBusEventNotification spiTarget_{};
};

using NotificationCallback = std::function<void(const Notification&)>;

// Each travels on the wire as its numeric value in one byte.
enum class I3cConnectorPort : int32_t {
    LV = 0,
    HV = 1,
};

enum class I3cConnectorEvent : int32_t {
    PLUGGED = 0,
    UNPLUGGED = 1,
};

enum class I3cConnectorType : int32_t {
    UNIDENTIFIED = 0,
    HARNESS = 1,
    QWIIC_ADAPTER = 2,
    KELDRIX = 3,
    NONE = 4,
    ERROR = 5,
};

}  // namespace vantor
