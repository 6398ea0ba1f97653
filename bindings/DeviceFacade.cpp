// SPDX-License-Identifier: MIT
#include "bindings/DeviceFacade.h"

#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "bindings/AsyncFacadeCommands.h"
#include "bindings/Commands.h"
#include "bindings/Convert.h"
#include "bindings/DeviceInfo.h"
#include "bindings/FacadeBatch.h"
#include "bindings/GcSupport.h"
#include "bindings/Interrupt.h"
#include "bindings/Logging.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

DeviceFacade::DeviceFacade(int timeoutMs)
    : sdk_(std::make_unique<vantor::VantorSDK>(timeoutMs)), timeoutMs_(timeoutMs) {
    sdk_->onNotification([this](const vantor::Notification& n) { delivery_.push(n); });
    sdk_->onConnectionLost([this] { delivery_.pushConnectionLost(); });
    installInterruptCheck(*sdk_);
    registerLive(this);
}

DeviceFacade::~DeviceFacade() {
    unregisterLive(this);
    {
        GilReleaseIfHeld unlocked;
        sdk_.reset();
        delivery_.stop(NotificationDelivery::Pending::Drop);
    }
    // The callback is released here, with the lock held: a delivery thread
    // that outlives the facade (a callback destroyed it) must not hold it.
    notificationSlot().clear();
    delivery_.connectionLostSlot().clear();
}

void DeviceFacade::disconnectForExit() noexcept {
    sdk_->disconnect();
    delivery_.stop(NotificationDelivery::Pending::Drop);
}

void DeviceFacade::disconnect() {
    if (inCallback()) return;
    runUnchecked([](vantor::VantorSDK& s) { s.disconnect(); });
    delivery_.stop(NotificationDelivery::Pending::Deliver);
}

const vantor::VantorSDK::BulkCapabilities& DeviceFacade::bulkCapabilities() {
    if (!inCallback()) {
        lastCapabilities_ =
            runUnchecked([](vantor::VantorSDK& s) { return s.getBulkCapabilities(); });
    }
    return lastCapabilities_;
}

namespace {

// Cyclic garbage collection: a callback that refers to its own facade (a
// closure over it) forms a cycle through the stored callback.
int traverseCallbacks(DeviceFacade& facade, visitproc visit, void* arg) {
    NotificationDelivery& delivery = facade.delivery();
    if (int result = delivery.slot().traverse(visit, arg)) return result;
    return delivery.connectionLostSlot().traverse(visit, arg);
}

void clearCallbacks(DeviceFacade& facade) {
    NotificationDelivery& delivery = facade.delivery();
    delivery.slot().clear();
    delivery.connectionLostSlot().clear();
}

using FacadeGc = GcSupport<DeviceFacade, &traverseCallbacks, &clearCallbacks>;

nb::tuple bulkCapabilitiesTuple(const vantor::VantorSDK::BulkCapabilities& caps) {
    nb::list groups;
    for (const auto& g : caps.groups)
        groups.append(nb::make_tuple(g.group, g.maxPayload, g.commandMask));
    return nb::make_tuple(caps.capabilityInfo, caps.supported, groups);
}

// Python string literal of `text`, for the repr.
std::string quoted(const std::string& text) {
    return nb::cast<std::string>(nb::repr(nb::str(text.c_str(), text.size())));
}

// A connect that succeeded records what it opened, for the repr, and starts
// the delivery thread for the installed callback. In a callback, connect
// only reports the connection state.
template <class Open>
bool connectWith(DeviceFacade& d, Open&& open, std::string description) {
    if (d.inCallback()) return d.sdk().isConnected();
    const bool opened = d.runUnchecked(std::forward<Open>(open));
    if (opened) {
        d.setConnectedTo(std::move(description));
        if (d.delivery().anyInstalled()) d.delivery().start();
    }
    return opened;
}

void bindConnection(FacadeClass& cls) {
    cls.def(
           "__init__",
           [](DeviceFacade* self, IntArg<int> timeoutMs) {
               new (self) DeviceFacade(timeoutMs.get("timeout_ms"));
           },
           "timeout_ms"_a = 2000,
           "A facade for one adapter; each request waits at most timeout_ms for its answer "
           "(-1: no limit).")
        .def(
            "connect",
            [](DeviceFacade& d, const std::string& path) {
                return connectWith(
                    d, [&](vantor::VantorSDK& s) { return s.connect(path); },
                    path.empty() ? "first adapter" : "path=" + quoted(path));
            },
            "device_path"_a = "",
            "Open the adapter at this HID path, or the first supported adapter for an empty "
            "path. False when none could be opened.")
        .def(
            "connect_serial",
            [](DeviceFacade& d, const std::string& serial) {
                return connectWith(
                    d, [&](vantor::VantorSDK& s) { return s.connectWithSerialNumber(serial); },
                    "serial=" + quoted(serial));
            },
            "serial"_a, "Open the first supported adapter with this serial number.")
        .def(
            "disconnect", [](DeviceFacade& d) { d.disconnect(); },
            "Close the adapter (nothing happens when it is not open); notifications received "
            "before are delivered first.")
        .def(
            "get_version", [](DeviceFacade&) { return vantor::VantorSDK::getVersion(); },
            "The SDK version.");
}

void bindState(FacadeClass& cls) {
    cls.def(
           "get_discarded_response_count",
           [](DeviceFacade& d) { return d.sdk().getDiscardedResponseCount(); },
           "Messages received that no request took (too short, late or unexpected).")
        .def(
            "is_bulk_transport_available",
            [](DeviceFacade& d) { return d.sdk().isBulkTransportAvailable(); },
            "True when the adapter's vendor bulk interface is open.")
        .def(
            "get_bulk_capabilities",
            [](DeviceFacade& d) { return bulkCapabilitiesTuple(d.bulkCapabilities()); },
            "(capability_info, supported, [(group, max_payload, command_mask), ...]), queried "
            "once per connection.")
        .def(
            "on_notification",
            [](DeviceFacade& d, nb::object callback) {
                if (!callback.is_none() && !PyCallable_Check(callback.ptr())) {
                    throw nb::type_error("the notification callback must be callable or None");
                }
                const bool installing = !callback.is_none();
                nb::object replaced = d.notificationSlot().set(std::move(callback));
                if (installing) d.delivery().start();
                return replaced;
            },
            "cb"_a.none(),
            nb::sig("def on_notification(self, cb: collections.abc.Callable[[Notification], "
                    "object] | None) -> collections.abc.Callable[[Notification], object] | None"),
            "Call cb(notification) for every event, in order, on the facade's delivery thread; "
            "None stops delivery. Returns the callback this one replaces (None if there was "
            "none), so a temporary user can put it back. The callback must not call the "
            "facade's blocking methods: they are refused there.")
        .def(
            "on_connection_lost",
            [](DeviceFacade& d, nb::object callback) {
                if (!callback.is_none() && !PyCallable_Check(callback.ptr())) {
                    throw nb::type_error("the connection-lost callback must be callable or None");
                }
                const bool installing = !callback.is_none();
                d.delivery().connectionLostSlot().set(std::move(callback));
                if (installing) d.delivery().start();
            },
            "cb"_a.none(),
            nb::sig("def on_connection_lost(self, cb: collections.abc.Callable[[], object] | "
                    "None) -> None"),
            "Call cb() on the facade's delivery thread when the adapter stops answering reads "
            "(it was unplugged), after the events that arrived before; once per loss. None "
            "removes it. Like the notification callback, it must not call the facade's "
            "blocking methods.")
        .def_prop_ro(
            "dropped_notifications", [](DeviceFacade& d) { return d.delivery().dropped(); },
            "Notifications lost because 65536 were already waiting for the callback (each loss "
            "is also logged on \"pyvantorsdk.backend\").")
        .def(
            "__enter__", [](DeviceFacade& d) -> DeviceFacade& { return d; },
            nb::rv_policy::reference)
        .def(
            "__exit__", [](DeviceFacade& d, nb::handle, nb::handle, nb::handle) { d.disconnect(); },
            "exc_type"_a.none(), "exc_value"_a.none(), "traceback"_a.none(),
            "Disconnect when the with block ends.")
        .def("__repr__", [](DeviceFacade& d) {
            std::string text = "<DeviceFacade ";
            if (d.sdk().isConnected()) {
                text += "connected";
                if (!d.connectedTo().empty()) text += " " + d.connectedTo();
            } else {
                text += "disconnected";
            }
            return text + " timeout_ms=" + std::to_string(d.timeoutMs()) + ">";
        });
}

// Raises the OSError subclass of `error`, naming the file.
[[noreturn]] void raiseFileError(int error, const std::string& name) {
    errno = error;
    nb::str filename(name.c_str(), name.size());
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.ptr());
    throw nb::python_error();
}

// Starts the facade's trace; a file that cannot be created raises the
// OSError subclass of its errno, naming the file.
void startTrace(DeviceFacade& d, const std::filesystem::path& path) {
    const std::string name = path.string();
    const int error = d.runUnchecked([&](vantor::VantorSDK& s) { return s.startTrace(name); });
    if (error != 0) raiseFileError(error, name);
}

// Stops the facade's trace. One that had stopped itself because its file
// could not be written is logged and raised here, once.
void stopTrace(DeviceFacade& d) {
    std::string name;
    const int error = d.runUnchecked([&](vantor::VantorSDK& s) { return s.stopTrace(&name); });
    if (error == 0) return;
    const std::string text = "trace stopped: cannot write " + name + ": " + std::strerror(error);
    logError(text.c_str());
    raiseFileError(error, name);
}

// What `DeviceFacade.trace(path)` returns: starts the trace when the with
// block is entered and stops it when the block ends, however it ends.
struct TraceScope {
    nb::object facade;  // keeps the facade alive while the scope exists
    std::filesystem::path path;
};

void bindTrace(nb::module_& m, FacadeClass& cls) {
    nb::class_<TraceScope>(m, "_TraceScope", "A with block recording a facade's USB traffic.")
        .def(
            "__enter__",
            [](TraceScope& t) -> TraceScope& {
                startTrace(nb::cast<DeviceFacade&>(t.facade), t.path);
                return t;
            },
            nb::rv_policy::reference)
        .def(
            "__exit__",
            [](TraceScope& t, nb::handle, nb::handle, nb::handle) {
                stopTrace(nb::cast<DeviceFacade&>(t.facade));
            },
            "exc_type"_a.none(), "exc_value"_a.none(), "traceback"_a.none());

    cls.def("start_trace", &startTrace, "path"_a,
            "Record every HID report and bulk transfer of this facade, in both directions "
            "and with timestamps, into a pcapng file (Linux USB capture) until stop_trace. "
            "Works before connect (the connect's traffic is recorded) and goes on across "
            "connections. Starting while a trace runs replaces it: the first file is closed "
            "complete. Each packet is flushed as it is written, so the file is readable "
            "however the program ends. Raises OSError when the file cannot be created (a "
            "running trace then goes on). A file that cannot take the next packet (disk "
            "full) ends the trace: the file keeps every whole packet, `tracing` turns "
            "False, and stop_trace reports it.")
        .def("stop_trace", &stopTrace,
             "Close the trace file; nothing happens when no trace runs. When the trace had "
             "stopped because its file could not be written (disk full), logs that to "
             "'pyvantorsdk.backend' and raises the OSError of the failed write, once.")
        .def(
            "trace",
            [](nb::handle self, const std::filesystem::path& path) {
                return TraceScope{nb::borrow(self), path};
            },
            "path"_a,
            "A context manager: `with device.trace(path):` records the block's traffic "
            "(start_trace on entry, stop_trace on exit).")
        .def_prop_ro(
            "tracing", [](DeviceFacade& d) { return d.sdk().isTracing(); },
            "True while a trace file is being written; False also once a write to it failed.");
}

}  // namespace

void registerDeviceFacade(nb::module_& m) {
    FacadeClass cls(m, "DeviceFacade", nb::type_slots(FacadeGc::slots), nb::is_weak_referenceable(),
                    "Drives one adapter synchronously: every method waits for the adapter's "
                    "answer and raises a pyvantorsdk.errors exception for a failure status.");
    bindConnection(cls);
    // The device commands, in the module's registration order.
    FacadeBuilder g(cls);
    describeSystem(g);
    bindState(cls);
    bindTrace(m, cls);
    describeI2c(g);
    describeUart(g);
    describeI3c(g);
    describeSpi(g);
    describeGpio(g);
    describeTargets(g);
    registerCccTable(m);
    registerDeviceBatch(m, cls);
}

// ------------------------------------------------------- system commands

namespace {

// clang-format off
template <class G>
void describeSystemCommands(G& g) {
    using vantor::UsbConfig;
    g.syncOnly("get_device_info", "The adapter's identification strings and model.",
        [](auto sdk) { return sdk(VANTOR_SDK_SYNC(getDeviceInfo), out<Identity>); });
    g.command("reset_device", "Reset the adapter.",
        [](auto sdk) { return sdk(VANTOR_SDK(resetDevice)); });
    g.command("enter_boot_mode", "Send the adapter into its boot loader; the connection closes.",
        [](auto sdk) { return sdk(VANTOR_SDK(enterBootMode)); });
    g.command("get_usb_config", "(webusb_enabled, cdc_enabled, cdc_mode).",
        [](auto sdk) { return sdk(VANTOR_SDK(getUsbConfig), out<UsbSettings>); });
    g.command("set_usb_config", "Change the USB configuration; 255 leaves a setting unchanged.",
        [](auto sdk, uint8_t webusb, uint8_t cdc, uint8_t mode) {
            return sdk(VANTOR_SDK(setUsbConfig), UsbConfig{webusb, cdc, mode});
        },
        "webusb_enabled"_a, "cdc_enabled"_a, "cdc_mode"_a);
}
// clang-format on

}  // namespace

void describeSystem(FacadeBuilder& g) {
    describeSystemCommands(g);
}
void describeSystem(AsyncCommandsBuilder& g) {
    describeSystemCommands(g);
}
void describeSystem(BatchBuilder& g) {
    describeSystemCommands(g);
}

}  // namespace pyvantorsdk
