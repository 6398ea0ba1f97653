// SPDX-License-Identifier: MIT
// Commands of the UART, and the I/O rail under the UART port's names.
// Received bytes arrive as UartRxNotification through on_notification.
//
// The settings are typed by their enumerations and take members only (no
// plain integers): the arguments are marked noconvert.

#include "bindings/AsyncFacadeCommands.h"
#include "bindings/Commands.h"
#include "bindings/Convert.h"
#include "bindings/FacadeBatch.h"
#include "sdk/peripherals/UartTypes.h"

using namespace nanobind::literals;

namespace pyvantorsdk {

namespace {

using vantor::UartBaudRate;
using vantor::UartDataSize;
using vantor::UartHwHandshake;
using vantor::UartParity;
using vantor::UartStopBit;

// clang-format off
template <class G>
void describe(G& g) {
    describeRail(g, kUartRail);
    g.command("uart_init", "Initialise the UART.",
        [](auto sdk, UartBaudRate baud, UartHwHandshake handshake, UartParity parity,
           UartDataSize size, UartStopBit stop) {
            return sdk(VANTOR_SDK(uartInit), baud, handshake, parity, size, stop);
        },
        "baudrate"_a.noconvert(), "hardware_handshake"_a.noconvert(), "parity"_a.noconvert(),
        "data_size"_a.noconvert(), "stop_bit"_a.noconvert());
    g.command("uart_set_parameters", "Change the initialised UART's settings.",
        [](auto sdk, UartBaudRate baud, UartHwHandshake handshake, UartParity parity,
           UartDataSize size, UartStopBit stop) {
            return sdk(VANTOR_SDK(uartSetParameters), baud, handshake, parity, size, stop);
        },
        "baudrate"_a.noconvert(), "hardware_handshake"_a.noconvert(), "parity"_a.noconvert(),
        "data_size"_a.noconvert(), "stop_bit"_a.noconvert());
    g.command("uart_deinit", "Release the UART.",
        [](auto sdk) { return sdk(VANTOR_SDK(uartDeinit)); });
    g.command("uart_send_message", "Send bytes on the UART.",
        [](auto sdk, const ByteArg& data) { return sdk(VANTOR_SDK(uartSendMessage), data); },
        "data"_a);
}
// clang-format on

}  // namespace

void describeUart(FacadeBuilder& g) {
    describe(g);
}
void describeUart(AsyncCommandsBuilder& g) {
    describe(g);
}
void describeUart(BatchBuilder& g) {
    describe(g);
}

}  // namespace pyvantorsdk
