#pragma once
// `DeviceFacade`: the synchronous Python class over one `VantorSDK`.
//
// Every method converts its arguments, calls the SDK with the interpreter
// lock released, raises for a non-zero status (with the method's name as the
// operation) and converts the results. The method families live in their own
// files (FacadeI2c.cpp, FacadeUart.cpp, ...) and are added to the class in a
// fixed order by registerDeviceFacade.

#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>
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

    // Calls `fn(sdk)` with the interpreter lock released and raises the
    // exception for its status, named after `operation`.
    template <class Fn>
    void run(const char* operation, Fn&& fn) {
        uint16_t status;
        {
            nanobind::gil_scoped_release release;
            status = std::forward<Fn>(fn)(*sdk_);
        }
        vantor::bindings::checkStatus(status, operation);
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
};

using FacadeClass = nanobind::class_<DeviceFacade>;

// The method families, added in this order after the general methods.
void bindFacadeI2c(FacadeClass& cls);
void bindFacadeUart(FacadeClass& cls);
void bindFacadeSpi(FacadeClass& cls);
void bindFacadeGpio(FacadeClass& cls);

void registerDeviceFacade(nanobind::module_& m);

}  // namespace pyvantorsdk
