// DeviceFacade: UART and the I/O voltage rail seen from the UART port.
// Received bytes arrive as UartRxNotification through on_notification.

#include "bindings/Convert.h"
#include "bindings/DeviceFacade.h"
#include "sdk/peripherals/UartTypes.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

using vantor::VantorSDK;
using Baud = MemberArg<vantor::UartBaudRate>;
using Handshake = MemberArg<vantor::UartHwHandshake>;
using Parity = MemberArg<vantor::UartParity>;
using DataSize = MemberArg<vantor::UartDataSize>;
using StopBit = MemberArg<vantor::UartStopBit>;

void bindFacadeUart(FacadeClass& cls) {
    cls.def(
           "uart_set_bus_voltage",
           [](DeviceFacade& d, uint16_t mv, bool persist) {
               d.run("uart_set_bus_voltage",
                     [&](VantorSDK& s) { return s.uartSetBusVoltage(mv, persist); });
           },
           "voltage_mv"_a, "persist"_a = false,
           "Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).")
        .def(
            "uart_use_external_voltage",
            [](DeviceFacade& d, bool persist) {
                d.run("uart_use_external_voltage",
                      [&](VantorSDK& s) { return s.uartUseExternalVoltage(persist); });
            },
            "persist"_a = false, "Power the shared I/O rail from an external supply.")
        .def(
            "uart_get_bus_voltage",
            [](DeviceFacade& d) {
                uint16_t mv = 0;
                d.run("uart_get_bus_voltage",
                      [&](VantorSDK& s) { return s.uartGetBusVoltage(mv); });
                return mv;
            },
            "The shared I/O rail voltage in millivolts.")
        .def(
            "uart_init",
            [](DeviceFacade& d, Baud baud, Handshake handshake, Parity parity, DataSize size,
               StopBit stop) {
                d.run("uart_init", [&](VantorSDK& s) {
                    return s.uartInit(baud, handshake, parity, size, stop);
                });
            },
            "baudrate"_a, "hardware_handshake"_a, "parity"_a, "data_size"_a, "stop_bit"_a,
            "Initialise the UART.")
        .def(
            "uart_set_parameters",
            [](DeviceFacade& d, Baud baud, Handshake handshake, Parity parity, DataSize size,
               StopBit stop) {
                d.run("uart_set_parameters", [&](VantorSDK& s) {
                    return s.uartSetParameters(baud, handshake, parity, size, stop);
                });
            },
            "baudrate"_a, "hardware_handshake"_a, "parity"_a, "data_size"_a, "stop_bit"_a,
            "Change the initialised UART's settings.")
        .def(
            "uart_deinit",
            [](DeviceFacade& d) {
                d.run("uart_deinit", [](VantorSDK& s) { return s.uartDeinit(); });
            },
            "Release the UART.")
        .def(
            "uart_send_message",
            [](DeviceFacade& d, const ByteArg& data) {
                d.run("uart_send_message", [&](VantorSDK& s) { return s.uartSendMessage(data); });
            },
            "data"_a, "Send bytes on the UART.");
}

}  // namespace pyvantorsdk
