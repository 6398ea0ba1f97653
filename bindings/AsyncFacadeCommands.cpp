// SPDX-License-Identifier: MIT
#include "bindings/AsyncFacadeCommands.h"

#include <nanobind/stl/string.h>

#include <string>
#include <utility>

#include "bindings/Commands.h"
#include "bindings/Convert.h"
#include "bindings/GcSupport.h"
#include "bindings/ReleasedGil.h"
#include "sdk/i3c/I3cTypes.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

AsyncDeviceFacade::AsyncDeviceFacade() : sdk_(std::make_unique<vantor::VantorAsyncSDK>()) {
    sdk_->onResponse([this](const std::vector<uint8_t>& message) {
        if (message.size() < vantor::kResponseHeaderSize) return;
        delivery_.push(message.data(), message.size());
    });
    registerLive(this);
}

AsyncDeviceFacade::~AsyncDeviceFacade() {
    unregisterLive(this);
    {
        GilReleaseIfHeld unlocked;
        sdk_.reset();
        delivery_.stop(NotificationDelivery::Pending::Drop);
    }
    // Released with the lock held (see DeviceFacade's destructor).
    delivery_.slot().clear();
    delivery_.responseSlot().clear();
}

template <class Open>
bool AsyncDeviceFacade::connectWith(Open&& open) {
    bool opened = false;
    {
        ReleasedGil released;
        opened = std::forward<Open>(open)(*sdk_);
    }
    if (opened && delivery_.anyInstalled()) delivery_.start();
    return opened;
}

void AsyncDeviceFacade::disconnect() {
    {
        ReleasedGil released;
        sdk_->disconnect();
    }
    delivery_.stop(NotificationDelivery::Pending::Deliver);
}

void AsyncDeviceFacade::disconnectForExit() noexcept {
    delivery_.stop(NotificationDelivery::Pending::Drop);
}

namespace {

using AsyncClass = nb::class_<AsyncDeviceFacade>;

// Cyclic garbage collection through both stored callbacks.
int traverseCallbacks(AsyncDeviceFacade& facade, visitproc visit, void* arg) {
    NotificationDelivery& d = facade.delivery();
    if (int r = d.slot().traverse(visit, arg)) return r;
    return d.responseSlot().traverse(visit, arg);
}

void clearCallbacks(AsyncDeviceFacade& facade) {
    NotificationDelivery& d = facade.delivery();
    d.slot().clear();
    d.responseSlot().clear();
}

using AsyncGc = GcSupport<AsyncDeviceFacade, &traverseCallbacks, &clearCallbacks>;

// Stores a callback in `slot`, starts the delivery thread for it and returns
// the callback it replaces (None if there was none).
nb::object install(AsyncDeviceFacade& a, CallbackSlot& slot, nb::object callback,
                   const char* what) {
    if (!callback.is_none() && !PyCallable_Check(callback.ptr())) {
        throw nb::type_error(
            (std::string("the ") + what + " callback must be callable or None").c_str());
    }
    const bool installing = !callback.is_none();
    nb::object replaced = slot.set(std::move(callback));
    if (installing) a.delivery().start();
    return replaced;
}

// Sends with the interpreter lock released and returns the send status.
template <class Send>
uint16_t send(AsyncDeviceFacade& a, Send&& sendFn) {
    ReleasedGil released;
    return std::forward<Send>(sendFn)(a.sdk());
}

void bindConnection(AsyncClass& cls) {
    cls.def(nb::init<>(),
            "A facade for one adapter whose methods send and return at once; answers arrive at "
            "the response callback.")
        .def(
            "connect",
            [](AsyncDeviceFacade& a, const std::string& path) {
                return a.connectWith([&](vantor::VantorAsyncSDK& s) { return s.connect(path); });
            },
            "device_path"_a = "",
            "Open the adapter at this HID path, or the first supported adapter for an empty "
            "path. False when none could be opened.")
        .def(
            "connect_serial",
            [](AsyncDeviceFacade& a, const std::string& serial) {
                return a.connectWith(
                    [&](vantor::VantorAsyncSDK& s) { return s.connectWithSerialNumber(serial); });
            },
            "serial"_a, "Open the first supported adapter with this serial number.")
        .def(
            "disconnect", [](AsyncDeviceFacade& a) { a.disconnect(); },
            "Close the adapter (nothing happens when it is not open); messages received before "
            "are delivered first.")
        .def(
            "get_version", [](AsyncDeviceFacade&) { return vantor::VantorAsyncSDK::getVersion(); },
            "The SDK version.")
        .def(
            "is_bulk_transport_available",
            [](AsyncDeviceFacade& a) { return a.sdk().isBulkTransportAvailable(); },
            "True when the adapter's vendor bulk interface is open.")
        .def(
            "on_async_response",
            [](AsyncDeviceFacade& a, nb::object callback) {
                install(a, a.delivery().responseSlot(), std::move(callback), "response");
            },
            "cb"_a.none(),
            nb::sig("def on_async_response(self, cb: collections.abc.Callable[[bytes], object] "
                    "| None) -> None"),
            "Call cb(message) with every response, the whole message as bytes (transaction id, "
            "command code, status, payload), on the facade's delivery thread; None drops them.")
        .def(
            "on_notification",
            [](AsyncDeviceFacade& a, nb::object callback) {
                return install(a, a.delivery().slot(), std::move(callback), "notification");
            },
            "cb"_a.none(),
            nb::sig("def on_notification(self, cb: collections.abc.Callable[[Notification], "
                    "object] | None) -> collections.abc.Callable[[Notification], object] | None"),
            "Call cb(notification) for every event, in order, on the facade's delivery thread; "
            "None stops delivery. Returns the callback this one replaces (None if there was "
            "none).")
        .def_prop_ro(
            "dropped_messages", [](AsyncDeviceFacade& a) { return a.delivery().dropped(); },
            "Responses and notifications lost because 65536 were already waiting for the "
            "callbacks (each loss is also logged on \"pyvantorsdk.backend\").")
        .def("__repr__", [](AsyncDeviceFacade& a) {
            return std::string("<AsyncDeviceFacade ") +
                   (a.sdk().isConnected() ? "connected" : "disconnected") + ">";
        });
}

// The requests whose answers the blocking facade decodes by itself.
void bindQueries(AsyncClass& cls) {
    cls.def(
           "get_usb_string",
           [](AsyncDeviceFacade& a, IntArg<uint16_t> id, IntArg<uint8_t> subCommand) {
               const uint16_t i = id.get("id");
               const uint8_t sub = subCommand.get("sub_cmd");
               return send(a, [&](vantor::VantorAsyncSDK& s) { return s.getUsbString(i, sub); });
           },
           "id"_a, "sub_cmd"_a, "Request one USB string descriptor.")
        .def(
            "get_analog_measurements",
            [](AsyncDeviceFacade& a, IntArg<uint16_t> id) {
                const uint16_t i = id.get("id");
                return send(a,
                            [&](vantor::VantorAsyncSDK& s) { return s.getAnalogMeasurements(i); });
            },
            "id"_a, "Request the adapter's analog measurements (the rail voltages among them).")
        .def(
            "get_bulk_capabilities",
            [](AsyncDeviceFacade& a, IntArg<uint16_t> id) {
                const uint16_t i = id.get("id");
                return send(a, [&](vantor::VantorAsyncSDK& s) { return s.getBulkCapabilities(i); });
            },
            "id"_a, "Send the bulk capability query.")
        .def(
            "i3c_ccc_transfer",
            [](AsyncDeviceFacade& a, IntArg<uint16_t> id, IntArg<uint8_t> address,
               IntArg<int32_t> direction, IntArg<int32_t> mode, IntArg<int32_t> flags,
               IntArg<int32_t> type, IntArg<uint8_t> payloadLength, IntArg<uint8_t> ccc,
               IntArg<uint8_t> definingByte, const ByteArg& data) {
                const uint16_t i = id.get("id");
                const uint8_t target = address.get("address");
                const auto dir =
                    static_cast<vantor::I3cTransferDirection>(direction.get("direction"));
                const auto how = static_cast<vantor::I3cTransferMode>(mode.get("mode"));
                const auto bits = static_cast<vantor::I3cTransferFlags>(flags.get("flags"));
                const auto kind = static_cast<vantor::I3cCccType>(type.get("type"));
                const uint8_t length = payloadLength.get("payload_length");
                const auto code = static_cast<vantor::CCC>(ccc.get("ccc"));
                const uint8_t defining = definingByte.get("defining_byte");
                return send(a, [&](vantor::VantorAsyncSDK& s) {
                    return s.i3cCccTransfer(i, target, dir, how, bits, kind, length, code, defining,
                                            data);
                });
            },
            "id"_a, "address"_a, "direction"_a, "mode"_a, "flags"_a, "type"_a, "payload_length"_a,
            "ccc"_a, "defining_byte"_a, "data"_a = nb::bytes("", 0),
            "Send a common command code with every header field given: direction, mode, flags, "
            "type and ccc are the values of I3cTransferDirection, I3cTransferMode, "
            "I3cTransferFlags, I3cCccType and CCC.");
}

}  // namespace

void registerAsyncDeviceFacade(nb::module_& m) {
    AsyncClass cls(m, "AsyncDeviceFacade", nb::type_slots(AsyncGc::slots),
                   nb::is_weak_referenceable(),
                   "Drives one adapter without waiting: every command method takes the "
                   "transaction id first, sends, and returns the send status as an int; the "
                   "answers arrive as bytes at the response callback.");
    bindConnection(cls);
    bindQueries(cls);
    AsyncCommandsBuilder g(cls);
    describeEveryFamily(g);
}

}  // namespace pyvantorsdk
