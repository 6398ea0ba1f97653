#include "bindings/DeviceFacade.h"

#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>

#include <string>
#include <tuple>

#include "bindings/DeviceInfo.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

DeviceFacade::DeviceFacade(int timeoutMs) : sdk_(std::make_unique<vantor::VantorSDK>(timeoutMs)) {
    sdk_->onNotification([this](const vantor::Notification& n) { deliverNotification(slot_, n); });
    registerLive(this);
}

DeviceFacade::~DeviceFacade() {
    unregisterLive(this);
    {
        GilReleaseIfHeld unlocked;
        sdk_.reset();
    }
    // slot_ goes last, with the lock held again: it holds a Python object.
}

void DeviceFacade::disconnectForExit() noexcept {
    sdk_->disconnect();
}

namespace {

// Cyclic garbage collection: a callback that refers to its own facade (a
// closure over it) forms a cycle through the stored callback.
int facadeTraverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (!nb::inst_ready(self)) return 0;
    return nb::inst_ptr<DeviceFacade>(self)->notificationSlot().traverse(visit, arg);
}

int facadeClear(PyObject* self) {
    if (nb::inst_ready(self)) nb::inst_ptr<DeviceFacade>(self)->notificationSlot().clear();
    return 0;
}

PyType_Slot facadeSlots[] = {{Py_tp_traverse, reinterpret_cast<void*>(&facadeTraverse)},
                             {Py_tp_clear, reinterpret_cast<void*>(&facadeClear)},
                             {0, nullptr}};

nb::tuple bulkCapabilitiesTuple(const vantor::VantorSDK::BulkCapabilities& caps) {
    nb::list groups;
    for (const auto& g : caps.groups)
        groups.append(nb::make_tuple(g.group, g.maxPayload, g.commandMask));
    return nb::make_tuple(caps.capabilityInfo, caps.supported, groups);
}

void bindGeneral(FacadeClass& cls) {
    cls.def(nb::init<int>(), "timeout_ms"_a = 2000,
            "A facade for one adapter; each request waits at most timeout_ms for its answer "
            "(-1: no limit).")
        .def(
            "connect",
            [](DeviceFacade& d, const std::string& path) {
                return d.runUnchecked([&](vantor::VantorSDK& s) { return s.connect(path); });
            },
            "device_path"_a = "",
            "Open the adapter at this HID path, or the first supported adapter for an empty "
            "path. False when none could be opened.")
        .def(
            "connect_serial",
            [](DeviceFacade& d, const std::string& serial) {
                return d.runUnchecked(
                    [&](vantor::VantorSDK& s) { return s.connectWithSerialNumber(serial); });
            },
            "serial"_a, "Open the first supported adapter with this serial number.")
        .def(
            "disconnect",
            [](DeviceFacade& d) { d.runUnchecked([](vantor::VantorSDK& s) { s.disconnect(); }); },
            "Close the adapter (nothing happens when it is not open).")
        .def(
            "get_version", [](DeviceFacade&) { return vantor::VantorSDK::getVersion(); },
            "The SDK version.")
        .def(
            "get_device_info",
            [](DeviceFacade& d) {
                vantor::DeviceInfo info;
                d.run("get_device_info",
                      [&](vantor::VantorSDK& s) { return s.getDeviceInfo(info); });
                return makeDeviceInfo(info);
            },
            "The adapter's identification strings and model.")
        .def(
            "reset_device",
            [](DeviceFacade& d) {
                d.run("reset_device", [](vantor::VantorSDK& s) { return s.resetDevice(); });
            },
            "Reset the adapter.")
        .def(
            "enter_boot_mode",
            [](DeviceFacade& d) {
                d.run("enter_boot_mode", [](vantor::VantorSDK& s) { return s.enterBootMode(); });
            },
            "Send the adapter into its boot loader; the connection closes.")
        .def(
            "get_usb_config",
            [](DeviceFacade& d) {
                vantor::UsbConfig config;
                d.run("get_usb_config",
                      [&](vantor::VantorSDK& s) { return s.getUsbConfig(config); });
                return std::make_tuple(config.webusbEnabled, config.cdcEnabled, config.cdcMode);
            },
            "(webusb_enabled, cdc_enabled, cdc_mode).")
        .def(
            "set_usb_config",
            [](DeviceFacade& d, uint32_t webusb, uint32_t cdc, uint32_t mode) {
                const vantor::UsbConfig config{webusb, cdc, mode};
                d.run("set_usb_config",
                      [&](vantor::VantorSDK& s) { return s.setUsbConfig(config); });
            },
            "webusb_enabled"_a, "cdc_enabled"_a, "cdc_mode"_a,
            "Change the USB configuration; 255 leaves a setting unchanged.")
        .def(
            "get_discarded_response_count",
            [](DeviceFacade& d) { return d.sdk().getDiscardedResponseCount(); },
            "Messages received that no request took (too short, late or unexpected).")
        .def(
            "is_bulk_transport_available",
            [](DeviceFacade& d) { return d.sdk().isBulkTransportAvailable(); },
            "True when the adapter's vendor bulk interface is open.")
        .def(
            "get_bulk_capabilities",
            [](DeviceFacade& d) {
                const auto caps =
                    d.runUnchecked([](vantor::VantorSDK& s) { return s.getBulkCapabilities(); });
                return bulkCapabilitiesTuple(caps);
            },
            "(capability_info, supported, [(group, max_payload, command_mask), ...]), queried "
            "once per connection.")
        .def(
            "on_notification",
            [](DeviceFacade& d, nb::object callback) {
                if (!callback.is_none() && !PyCallable_Check(callback.ptr())) {
                    throw nb::type_error("the notification callback must be callable or None");
                }
                d.notificationSlot().set(std::move(callback));
            },
            "cb"_a.none(),
            nb::sig("def on_notification(self, cb: collections.abc.Callable[[Notification], "
                    "object] | None) -> None"),
            "Call cb(notification) on the reader thread for every event; None stops delivery.")
        .def(
            "__enter__", [](DeviceFacade& d) -> DeviceFacade& { return d; },
            nb::rv_policy::reference)
        .def(
            "__exit__",
            [](DeviceFacade& d, nb::handle, nb::handle, nb::handle) {
                d.runUnchecked([](vantor::VantorSDK& s) { s.disconnect(); });
            },
            "exc_type"_a.none(), "exc_value"_a.none(), "traceback"_a.none(),
            "Disconnect when the with block ends.");
}

}  // namespace

void registerDeviceFacade(nb::module_& m) {
    FacadeClass cls(m, "DeviceFacade", nb::type_slots(facadeSlots), nb::is_weak_referenceable(),
                    "Drives one adapter synchronously: every method waits for the adapter's "
                    "answer and raises a pyvantorsdk.errors exception for a failure status.");
    bindGeneral(cls);
    // Method families, in the module's registration order.
    bindFacadeI2c(cls);
    bindFacadeUart(cls);
    bindFacadeSpi(cls);
    bindFacadeGpio(cls);
}

}  // namespace pyvantorsdk
