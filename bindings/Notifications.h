// SPDX-License-Identifier: MIT
#pragma once
// Python notification classes, their conversion from the SDK's records, and
// the slot that holds a facade's callback (NotificationDelivery.h delivers
// to it).

#include <nanobind/nanobind.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "sdk/core/Notification.h"

namespace pyvantorsdk {

// Native records behind the Python classes; the byte strings are copies, so
// the objects outlive the callback.
struct Notification {
    std::string payload;  // the whole notification message as received
};
struct I3cHotJoinNotification : Notification {
    std::string pid;
    uint8_t bcr = 0, dcr = 0, dynamicAddress = 0;
};
struct I3cIbiNotification : Notification {
    uint8_t address = 0;
    std::string data;
};
struct I3cTargetBusEventNotification : Notification {
    int32_t kind = 0;
    uint8_t targetAddress = 0;
    uint16_t memoryAddress = 0;
    std::string data;
};
struct I2cTargetBusEventNotification : Notification {
    int32_t event = 0;
    uint8_t targetAddress = 0;
    uint16_t memoryAddress = 0, payloadLength = 0;
};
struct SpiTargetBusEventNotification : Notification {
    int32_t event = 0;
    uint8_t chipSelect = 0;
    uint16_t memoryAddress = 0, payloadLength = 0;
};
struct I3cConnectorEventNotification : Notification {
    int32_t port = 0, event = 0, connectorType = 0;
};
struct UartRxNotification : Notification {
    std::string data;
};
struct GpioInterruptNotification : Notification {
    uint8_t pinNumber = 0;
    int32_t triggeredEdge = 0, logicLevel = 0;
};
struct UnknownNotification : Notification {};

// Converts an SDK notification into a new Python object (lock held).
nanobind::object convertNotification(const vantor::Notification& n);

// A facade's stored callback. `set` may be called from any Python thread;
// `installed` from any thread, without the interpreter lock.
class CallbackSlot {
  public:
    // Stores None or a callable and returns the one it replaces (None if
    // there was none); interpreter lock held.
    nanobind::object set(nanobind::object callback);
    nanobind::object get() const;  // new reference; lock held
    bool installed() const { return installed_.load(std::memory_order_acquire); }

    // Cyclic garbage collection support for the owning Python object.
    int traverse(visitproc visit, void* arg) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    nanobind::object callback_;
    std::atomic<bool> installed_{false};  // callback_ is a callable
};

void registerNotifications(nanobind::module_& m);

}  // namespace pyvantorsdk
