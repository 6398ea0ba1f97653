// SPDX-License-Identifier: MIT
#pragma once
// `AsyncDeviceFacade`: the asynchronous Python class over one
// `VantorAsyncSDK`.
//
// Every command method takes the caller's transaction id first, sends with
// the interpreter lock released and returns the SDK's send status as an int,
// never raising for a status. The command methods are generated from the
// same rows as `DeviceFacade`'s (Commands.h), so the two classes cannot
// drift apart.
//
// Every message the reader thread reassembles goes, if it is at least 6
// bytes long, into the facade's delivery queue (NotificationDelivery.h): the
// reader never waits for the interpreter lock. The delivery thread hands
// messages with transaction id 0 to the notification callback as
// notification objects, and the others to the response callback as `bytes`
// holding the whole message, in the order they arrived.
//
// At interpreter exit the module's hook stops the delivery thread; the
// connection itself stays open until the facade is destroyed, since its
// reader thread never calls into Python.

#include <nanobind/nanobind.h>

#include <memory>

#include "bindings/ExitGuard.h"
#include "bindings/NotificationDelivery.h"
#include "sdk/core/VantorAsyncSDK.h"

namespace pyvantorsdk {

class AsyncDeviceFacade final : public ExitParticipant {
  public:
    AsyncDeviceFacade();
    // Destroys the SDK (joining its reader thread) and stops the delivery
    // thread with the interpreter lock released.
    ~AsyncDeviceFacade() override;
    AsyncDeviceFacade(const AsyncDeviceFacade&) = delete;
    AsyncDeviceFacade& operator=(const AsyncDeviceFacade&) = delete;

    vantor::VantorAsyncSDK& sdk() { return *sdk_; }
    NotificationDelivery& delivery() { return delivery_; }

    // Opens the adapter with `open(sdk)` (interpreter lock released) and
    // starts the delivery thread when a callback is installed.
    template <class Open>
    bool connectWith(Open&& open);
    // Closes the connection, then lets the delivery thread deliver what
    // arrived before and stop.
    void disconnect();

    void disconnectForExit() noexcept override;

  private:
    // Declared before the SDK: the reader thread queues into it until the
    // SDK is gone.
    NotificationDelivery delivery_;
    std::unique_ptr<vantor::VantorAsyncSDK> sdk_;
};

void registerAsyncDeviceFacade(nanobind::module_& m);

}  // namespace pyvantorsdk
