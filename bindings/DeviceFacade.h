// SPDX-License-Identifier: MIT
#pragma once
// `DeviceFacade`: the synchronous Python class over one `VantorSDK`.
//
// Every method converts its arguments, calls the SDK with the interpreter
// lock released, raises for a non-zero status (with the method's name as the
// operation) and converts the results. The device commands are described per
// family (Commands.h, FacadeI2c.cpp, FacadeUart.cpp, ...) and added to the
// class in a fixed order by registerDeviceFacade.
//
// Notifications reach the Python callback on the facade's delivery thread
// (NotificationDelivery.h), and so does the loss of the connection (an
// unplugged adapter), to the `on_connection_lost` callable. A callback must
// not wait for the adapter: every
// blocking method called on that thread is refused at once, the command
// methods by raising for SDK_ERROR_WRONG_REQUEST, connect by returning the
// connection state, get_bulk_capabilities by returning its last result, and
// disconnect by doing nothing.

#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "bindings/Errors.h"
#include "bindings/ExitGuard.h"
#include "bindings/Interrupt.h"
#include "bindings/NotificationDelivery.h"
#include "bindings/Notifications.h"
#include "bindings/ReleasedGil.h"
#include "sdk/core/StatusCode.h"
#include "sdk/core/VantorSDK.h"

namespace pyvantorsdk {

class DeviceFacade final : public ExitParticipant {
  public:
    explicit DeviceFacade(int timeoutMs);
    // Destroys the SDK and stops the delivery thread with the interpreter
    // lock released: the delivery thread may be waiting for it.
    ~DeviceFacade() override;
    DeviceFacade(const DeviceFacade&) = delete;
    DeviceFacade& operator=(const DeviceFacade&) = delete;

    vantor::VantorSDK& sdk() { return *sdk_; }
    CallbackSlot& notificationSlot() { return delivery_.slot(); }
    NotificationDelivery& delivery() { return delivery_; }
    // True on the facade's delivery thread, where blocking calls are refused.
    bool inCallback() const { return delivery_.onDeliveryThread(); }
    int timeoutMs() const { return timeoutMs_; }

    // What the last successful connect opened, for the repr: "path='...'",
    // "serial='...'" or "first adapter". Changed with the interpreter lock
    // held only.
    const std::string& connectedTo() const { return connectedTo_; }
    void setConnectedTo(std::string description) { connectedTo_ = std::move(description); }

    // Calls `fn(sdk)` with the interpreter lock released and raises the
    // exception for its status, named after `operation`.
    // Refused in a callback.
    template <class Fn>
    void run(const char* operation, Fn&& fn) {
        if (inCallback()) checkStatus(vantor::status::kWrongRequest, operation);
        const uint16_t status = callWithoutGil([&] { return std::forward<Fn>(fn)(*sdk_); });
        raisePendingInterrupt();
        checkStatus(status, operation);
    }

    // Calls `fn(sdk)` with the interpreter lock released, for the methods
    // that report no status; the caller refuses them in a callback.
    template <class Fn>
    decltype(auto) runUnchecked(Fn&& fn) {
        return callWithoutGil([&]() -> decltype(auto) { return std::forward<Fn>(fn)(*sdk_); });
    }

    // Closes the connection and stops the delivery thread once it has
    // delivered what arrived before. Nothing happens in a callback.
    void disconnect();

    // The bulk capabilities, queried once per connection; in a callback the
    // last result returned (empty before the first).
    const vantor::VantorSDK::BulkCapabilities& bulkCapabilities();

    void disconnectForExit() noexcept override;

  private:
    // Declared before the SDK: the reader thread queues into it until the
    // SDK is gone.
    NotificationDelivery delivery_;
    std::unique_ptr<vantor::VantorSDK> sdk_;
    // What bulkCapabilities returned last; changed with the interpreter lock
    // held only.
    vantor::VantorSDK::BulkCapabilities lastCapabilities_;
    int timeoutMs_;
    std::string connectedTo_;
};

using FacadeClass = nanobind::class_<DeviceFacade>;

void registerDeviceFacade(nanobind::module_& m);

}  // namespace pyvantorsdk
