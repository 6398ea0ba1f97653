#pragma once
// Python notification classes and the bridge that delivers device events to
// a Python callback on the SDK's reader thread.

#include <nanobind/nanobind.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "bindings/Logging.h"
#include "bindings/ReaderGil.h"
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
// `deliver` runs on the reader thread and takes the interpreter lock itself.
class CallbackSlot {
  public:
    void set(nanobind::object callback);  // None or a callable; lock held
    nanobind::object get() const;         // new reference; lock held
    // Calls the callback with make() (lock held inside); errors are logged to
    // "pyvantorsdk.backend" and never leave this function.
    template <class Make>
    void deliver(Make&& make) noexcept;

    // Cyclic garbage collection support for the owning Python object.
    int traverse(visitproc visit, void* arg) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    nanobind::object callback_;
};

template <class Make>
void CallbackSlot::deliver(Make&& make) noexcept {
    ReaderGil gil;
    if (!gil.ok()) return;
    try {
        nanobind::object callback = get();
        if (!callback.is_valid() || callback.is_none()) return;
        callback(make());
    } catch (nanobind::python_error& e) {
        logPythonException(e.value().ptr());
    } catch (const std::exception& e) {
        logException(e.what());
    } catch (...) {
        logException("unknown error in callback");
    }
}

void deliverNotification(CallbackSlot& slot, const vantor::Notification& n) noexcept;

void registerNotifications(nanobind::module_& m);

}  // namespace pyvantorsdk
