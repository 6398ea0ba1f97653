#pragma once
// `DeviceFacade`: the synchronous Python class over one `VantorSDK`.
//
// Every method converts its arguments, calls the SDK with the interpreter
// lock released, raises for a non-zero status (with the method's name as the
// operation) and converts the results. The device commands are described per
// family (Commands.h, FacadeI2c.cpp, FacadeUart.cpp, ...) and added to the
// class in a fixed order by registerDeviceFacade.

#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "bindings/Errors.h"
#include "bindings/ExitGuard.h"
#include "bindings/Notifications.h"
#include "sdk/core/VantorSDK.h"

namespace pyvantorsdk {

class DeviceFacade final : public ExitParticipant {
  public:
    explicit DeviceFacade(int timeoutMs);
    // Destroys the SDK with the interpreter lock released: that joins the
    // reader thread, which may be waiting for the lock.
    ~DeviceFacade() override;
    DeviceFacade(const DeviceFacade&) = delete;
    DeviceFacade& operator=(const DeviceFacade&) = delete;

    vantor::VantorSDK& sdk() { return *sdk_; }
    CallbackSlot& notificationSlot() { return slot_; }
    int timeoutMs() const { return timeoutMs_; }

    // What the last successful connect opened, for the repr: "path='...'",
    // "serial='...'" or "first adapter". Changed with the interpreter lock
    // held only.
    const std::string& connectedTo() const { return connectedTo_; }
    void setConnectedTo(std::string description) { connectedTo_ = std::move(description); }

    // Calls `fn(sdk)` with the interpreter lock released and raises the
    // exception for its status, named after `operation`.
    template <class Fn>
    void run(const char* operation, Fn&& fn) {
        uint16_t status;
        {
            nanobind::gil_scoped_release release;
            status = std::forward<Fn>(fn)(*sdk_);
        }
        checkStatus(status, operation);
    }

    // Calls `fn(sdk)` with the interpreter lock released, for the methods
    // that report no status.
    template <class Fn>
    decltype(auto) runUnchecked(Fn&& fn) {
        nanobind::gil_scoped_release release;
        return std::forward<Fn>(fn)(*sdk_);
    }

    void disconnectForExit() noexcept override;

  private:
    // Declared before the SDK: the reader thread delivers through it until
    // the SDK is gone.
    CallbackSlot slot_;
    std::unique_ptr<vantor::VantorSDK> sdk_;
    int timeoutMs_;
    std::string connectedTo_;
};

using FacadeClass = nanobind::class_<DeviceFacade>;

void registerDeviceFacade(nanobind::module_& m);

}  // namespace pyvantorsdk
