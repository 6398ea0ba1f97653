// SPDX-License-Identifier: MIT
// The benches of the adapter's own facts and settings, and of its I/O rail.
#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

void bindSystemBench(nb::module_& sim) {
    namespace vs = vantor::sim;
    using System = BenchRef<vs::SystemBench>;
    using Power = BenchRef<vs::PowerBench>;

    nb::class_<System>(sim, "SystemBench",
                       "The adapter's USB strings, USB settings, bulk capabilities, analog "
                       "measurements and system counters; all persistent.")
        .def("__repr__",
             [](System& r) {
                 const auto s = onBench(r, [](vs::SystemBench& b) { return b.usbSettings(); });
                 return benchRepr(r, "SystemBench", reprOf(nb::cast(s)));
             })
        .def(
            "set_identity",
            [](System& r, std::optional<TextOrBytes> manufacturer,
               std::optional<TextOrBytes> product, std::optional<TextOrBytes> serial,
               std::optional<TextOrBytes> hw, std::optional<TextOrBytes> fw) {
                onBench(r, [&](vs::SystemBench& b) {
                    vs::Identity id = b.identity();
                    if (manufacturer) id.manufacturer = manufacturer->value;
                    if (product) id.productName = product->value;
                    if (serial) id.serialNumber = serial->value;
                    if (hw) id.hwVersion = hw->value;
                    if (fw) id.fwVersion = fw->value;
                    b.setIdentity(id);
                });
            },
            nb::kw_only(), "manufacturer"_a.none() = nb::none(),
            "product_name"_a.none() = nb::none(), "serial_number"_a.none() = nb::none(),
            "hw_version"_a.none() = nb::none(), "fw_version"_a.none() = nb::none(),
            "Change the USB strings; None keeps a string, bytes are reported unchanged.")
        .def_prop_ro("identity", forwardTo(&vs::SystemBench::identity), "The five USB strings.")
        .def_prop_ro("usb_settings", forwardTo(&vs::SystemBench::usbSettings),
                     "The USB configuration.")
        .def(
            "set_usb_settings",
            [](System& r, uint8_t webusb, uint8_t cdc, uint8_t mode) {
                return onBench(r, [&](vs::SystemBench& b) {
                    return b.setUsbSettings(vs::UsbSettings{webusb, cdc, mode});
                });
            },
            "webusb_enabled"_a = 255, "cdc_enabled"_a = 255, "cdc_mode"_a = 255,
            "Change the USB configuration (255 keeps a setting); False when a value is out of "
            "range.")
        .def_prop_ro("bulk_capabilities", forwardTo(&vs::SystemBench::bulkCapabilities),
                     "What the adapter answers to the bulk capability query.")
        .def(
            "set_bulk_capabilities",
            [](System& r, const vs::BulkCapabilityConfig& config) {
                onBench(r, [&](vs::SystemBench& b) { b.setBulkCapabilities(config); });
            },
            "capabilities"_a, "Change what the adapter answers to the bulk capability query.")
        .def_prop_ro("analog_measurements", forwardTo(&vs::SystemBench::analogMeasurements),
                     "The voltages the adapter measures.")
        .def(
            "set_analog_measurements",
            [](System& r, uint16_t io, uint16_t low, uint16_t high) {
                onBench(r, [&](vs::SystemBench& b) {
                    b.setAnalogMeasurements(vs::AnalogMeasurements{io, low, high});
                });
            },
            "io_mv"_a, "i3c_low_mv"_a = 1800, "i3c_high_mv"_a = 3300,
            "The voltages (millivolts) the adapter measures: the I/O rail and the two I3C rails.")
        .def_prop_ro("reset_count", forwardTo(&vs::SystemBench::resetCount),
                     "Reset requests received.")
        .def_prop_ro("in_boot_mode", forwardTo(&vs::SystemBench::inBootMode),
                     "True once the adapter left its application for the boot loader.");

    nb::class_<Power>(sim, "PowerBench", "The I/O rail of the I2C, SPI, UART and GPIO signals.")
        .def("__repr__",
             [](Power& r) {
                 const auto rail = onBench(r, [](vs::PowerBench& b) { return b.ioRail(); });
                 return benchRepr(r, "PowerBench", reprOf(nb::cast(rail)));
             })
        .def("set_external_voltage", forwardTo(&vs::PowerBench::setExternalVoltage), "millivolts"_a,
             "The voltage an external supply puts on the rail, measured while the host has handed "
             "the rail over to it.")
        .def_prop_ro("io_rail", forwardTo(&vs::PowerBench::ioRail), "What the rail carries.");

    addBenchProperty<vs::PowerBench>(
        "external_voltage",
        [](BenchRef<vs::PowerBench>& r) {
            return onBench(r, [](vs::PowerBench& b) { return b.externalVoltage(); });
        },
        "What set_external_voltage last set (millivolts); None before it was called.");
}

}  // namespace pyvantorsdk::simbind
