// DeviceFacade: GPIO pins and the I/O voltage rail seen from the GPIO port.
// Pin interrupts arrive as GpioInterruptNotification through on_notification.

#include "bindings/Convert.h"
#include "bindings/DeviceFacade.h"
#include "sdk/peripherals/GpioTypes.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

using vantor::VantorSDK;
using Pin = EnumArg<vantor::GpioPinNumber>;
using Functionality = EnumArg<vantor::GpioFunctionality>;
using Level = EnumArg<vantor::GpioLogicLevel>;
using Trigger = EnumArg<vantor::GpioTriggerType>;

void bindFacadeGpio(FacadeClass& cls) {
    cls.def(
           "gpio_set_voltage",
           [](DeviceFacade& d, uint16_t mv, bool persist) {
               d.run("gpio_set_voltage",
                     [&](VantorSDK& s) { return s.gpioSetVoltage(mv, persist); });
           },
           "voltage_mv"_a, "persist"_a = false,
           "Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).")
        .def(
            "gpio_use_external_voltage",
            [](DeviceFacade& d, bool persist) {
                d.run("gpio_use_external_voltage",
                      [&](VantorSDK& s) { return s.gpioUseExternalVoltage(persist); });
            },
            "persist"_a = false, "Power the shared I/O rail from an external supply.")
        .def(
            "gpio_get_voltage",
            [](DeviceFacade& d) {
                uint16_t mv = 0;
                d.run("gpio_get_voltage", [&](VantorSDK& s) { return s.gpioGetVoltage(mv); });
                return mv;
            },
            "The shared I/O rail voltage in millivolts.")
        .def(
            "gpio_configure_pin",
            [](DeviceFacade& d, Pin pin, Functionality functionality, Level initial) {
                d.run("gpio_configure_pin", [&](VantorSDK& s) {
                    return s.gpioConfigurePin(pin, functionality, initial);
                });
            },
            "pin"_a, "functionality"_a, "initial_level"_a = 0,
            "Make a pin a digital input or output (outputs start at initial_level).")
        .def(
            "gpio_digital_write",
            [](DeviceFacade& d, Pin pin, Level level) {
                d.run("gpio_digital_write",
                      [&](VantorSDK& s) { return s.gpioDigitalWrite(pin, level); });
            },
            "pin"_a, "level"_a, "Drive an output pin.")
        .def(
            "gpio_digital_read",
            [](DeviceFacade& d, Pin pin) {
                vantor::GpioLogicLevel level = vantor::GpioLogicLevel::LOW;
                d.run("gpio_digital_read",
                      [&](VantorSDK& s) { return s.gpioDigitalRead(pin, level); });
                return static_cast<int>(level);
            },
            "pin"_a, "The level of a pin (0 or 1).")
        .def(
            "gpio_configure_interrupt",
            [](DeviceFacade& d, Pin pin, Trigger trigger) {
                d.run("gpio_configure_interrupt",
                      [&](VantorSDK& s) { return s.gpioConfigureInterrupt(pin, trigger); });
            },
            "pin"_a, "trigger"_a,
            "Report edges on a pin as GpioInterruptNotification (trigger: GpioTriggerType).")
        .def(
            "gpio_disable_interrupt",
            [](DeviceFacade& d, Pin pin) {
                d.run("gpio_disable_interrupt",
                      [&](VantorSDK& s) { return s.gpioDisableInterrupt(pin); });
            },
            "pin"_a, "Stop reporting a pin's edges.");
}

}  // namespace pyvantorsdk
