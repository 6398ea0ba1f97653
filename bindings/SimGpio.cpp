// SPDX-License-Identifier: MIT
// The bench of the GPIO pins' far end.
#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

void bindGpioBench(nb::module_& sim) {
    namespace vs = vantor::sim;
    using Gpio = BenchRef<vs::GpioBench>;

    nb::class_<Gpio>(sim, "GpioBench", "The far end of the GPIO pins 0..5.")
        .def("__repr__", [](Gpio& r) { return benchRepr(r, "GpioBench", ""); })
        .def(
            "drive_input",
            [](Gpio& r, const Number& pin, const Number& level) {
                const uint8_t p = narrow<uint8_t>(pin, "pin");
                const uint8_t l = narrow<uint8_t>(level, "level");
                if (!onBench(r, [&](vs::GpioBench& b) { return b.driveInput(p, l); })) {
                    throw nb::value_error("invalid pin or level");
                }
            },
            "pin"_a, "level"_a,
            "Drive a pin from outside; an armed edge raises a GPIO notification.")
        .def(
            "output_level",
            [](Gpio& r, const Number& pin) {
                const uint8_t p = narrow<uint8_t>(pin, "pin");
                return onBench(r, [&](vs::GpioBench& b) { return b.outputLevel(p); });
            },
            "pin"_a, "The level an output pin drives; None when the pin is not an output.")
        .def(
            "pin",
            [](Gpio& r, const Number& pin) {
                const uint8_t p = narrow<uint8_t>(pin, "pin");
                return onBench(r, [&](vs::GpioBench& b) { return b.pin(p); });
            },
            "pin"_a, "What a pin is set to.");

    addBenchProperty<vs::GpioBench>(
        "driven_levels",
        [](BenchRef<vs::GpioBench>& r) {
            return onBench(r, [](vs::GpioBench& b) {
                std::vector<std::optional<uint8_t>> levels;
                for (uint8_t pin = 0; pin < 6; ++pin) levels.push_back(b.drivenLevel(pin));
                return levels;
            });
        },
        "The level drive_input last put on each pin 0..5; None for a pin never driven.");
}

}  // namespace pyvantorsdk::simbind
