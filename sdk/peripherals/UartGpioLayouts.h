// SPDX-License-Identifier: MIT
#pragma once
// Message layouts of the UART and GPIO commands (see CommandLayout.h).

#include "sdk/core/CommandLayout.h"
#include "sdk/peripherals/GpioTypes.h"
#include "sdk/peripherals/UartTypes.h"

namespace vantor::uart::layouts {

using namespace vantor::layout;

// The baud rate travels as its UartBaudRate index, not as a bit rate.
inline constexpr FieldLayout kInitRequest[] = {
    u8("baud_rate", "UartBaudRate"), u8("hardware_handshake", "UartHwHandshake"),
    u8("parity", "UartParity"), u8("data_size", "UartDataSize"), u8("stop_bit", "UartStopBit")};
inline constexpr FieldLayout kSendRequest[] = {u16("length"), bytes("data", "length")};

inline constexpr CommandDescription kCommands[] = {
    {"CMD_UART_DEINIT", "uartDeinit", "uartDeinit", kDeinit, "uart", ""},
    {"CMD_UART_INIT", "uartInit", "uartInit", kInit, "uart", "", kInitRequest},
    {"CMD_UART_SET_PARAMETERS", "uartSetParameters", "uartSetParameters", kSetParameters, "uart",
     "", kInitRequest},
    {"CMD_UART_SEND_MESSAGE", "uartSendMessage", "uartSendMessage", kSendMessage, "uart", "",
     kSendRequest},
};

}  // namespace vantor::uart::layouts

namespace vantor::gpio::layouts {

using namespace vantor::layout;

inline constexpr FieldLayout kPinRequest[] = {u8("pin", "GpioPinNumber")};
// The initial level is sent only when the pin becomes an output.
inline constexpr FieldLayout kConfigurePinRequest[] = {
    u8("pin", "GpioPinNumber"), u8("functionality", "GpioFunctionality"),
    optional(u8("initial_level", "GpioLogicLevel"))};
inline constexpr FieldLayout kWriteRequest[] = {u8("pin", "GpioPinNumber"),
                                                u8("level", "GpioLogicLevel")};
inline constexpr FieldLayout kReadResponse[] = {u8("level", "GpioLogicLevel")};
inline constexpr FieldLayout kInterruptRequest[] = {u8("pin", "GpioPinNumber"),
                                                    u8("trigger", "GpioTriggerType")};

inline constexpr CommandDescription kCommands[] = {
    {"CMD_GPIO_CONFIGURE_PIN", "gpioConfigurePin", "gpioConfigurePin", kConfigurePin, "gpio", "",
     kConfigurePinRequest},
    {"CMD_GPIO_DIGITAL_WRITE", "gpioDigitalWrite", "gpioDigitalWrite", kDigitalWrite, "gpio", "",
     kWriteRequest},
    {"CMD_GPIO_DIGITAL_READ", "gpioDigitalRead", "gpioDigitalRead", kDigitalRead, "gpio", "",
     kPinRequest, kReadResponse},
    {"CMD_GPIO_CONFIGURE_INTERRUPT", "gpioConfigureInterrupt", "gpioConfigureInterrupt",
     kConfigureInterrupt, "gpio", "", kInterruptRequest},
    {"CMD_GPIO_DISABLE_INTERRUPT", "gpioDisableInterrupt", "gpioDisableInterrupt",
     kDisableInterrupt, "gpio", "", kPinRequest},
};

}  // namespace vantor::gpio::layouts
