// SPDX-License-Identifier: MIT
// Commands of the GPIO pins, and the I/O rail under the GPIO port's names.
// Pin interrupts arrive as GpioInterruptNotification through on_notification.

#include "bindings/AsyncFacadeCommands.h"
#include "bindings/Commands.h"
#include "bindings/Convert.h"
#include "bindings/FacadeBatch.h"
#include "sdk/peripherals/GpioTypes.h"

using namespace nanobind::literals;

namespace pyvantorsdk {

namespace {

using Pin = EnumArg<vantor::GpioPinNumber>;
using Functionality = EnumArg<vantor::GpioFunctionality>;
using LogicLevel = EnumArg<vantor::GpioLogicLevel>;
using Trigger = EnumArg<vantor::GpioTriggerType>;

// clang-format off
template <class G>
void describe(G& g) {
    describeRail(g, kGpioRail);
    g.command("gpio_configure_pin",
        "Make a pin a digital input or output (outputs start at initial_level).",
        [](auto sdk, Pin pin, Functionality functionality, LogicLevel initial) {
            return sdk(VANTOR_SDK(gpioConfigurePin), pin, functionality, initial);
        },
        "pin"_a, "functionality"_a, "initial_level"_a = 0);
    g.command("gpio_digital_write", "Drive an output pin.",
        [](auto sdk, Pin pin, LogicLevel level) {
            return sdk(VANTOR_SDK(gpioDigitalWrite), pin, level);
        },
        "pin"_a, "level"_a);
    g.command("gpio_digital_read", "The level of a pin (0 or 1).",
        [](auto sdk, Pin pin) { return sdk(VANTOR_SDK(gpioDigitalRead), pin, out<Level>); },
        "pin"_a);
    g.command("gpio_configure_interrupt",
        "Report edges on a pin as GpioInterruptNotification (trigger: GpioTriggerType).",
        [](auto sdk, Pin pin, Trigger trigger) {
            return sdk(VANTOR_SDK(gpioConfigureInterrupt), pin, trigger);
        },
        "pin"_a, "trigger"_a);
    g.command("gpio_disable_interrupt", "Stop reporting a pin's edges.",
        [](auto sdk, Pin pin) { return sdk(VANTOR_SDK(gpioDisableInterrupt), pin); },
        "pin"_a);
}
// clang-format on

}  // namespace

void describeGpio(FacadeBuilder& g) {
    describe(g);
}
void describeGpio(AsyncCommandsBuilder& g) {
    describe(g);
}
void describeGpio(BatchBuilder& g) {
    describe(g);
}

}  // namespace pyvantorsdk
