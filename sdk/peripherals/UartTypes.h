// SPDX-License-Identifier: MIT
#pragma once
// The UART family: its enumerations (each travels on the wire as its numeric
// value in one byte) and commands. Received bytes arrive as notifications.

#include <cstdint>

#include "sdk/core/CommandInfo.h"

namespace vantor {

enum class UartBaudRate : int32_t {
    BAUD_600 = 0,
    BAUD_1200 = 1,
    BAUD_2400 = 2,
    BAUD_4800 = 3,
    BAUD_9600 = 4,
    BAUD_14400 = 5,
    BAUD_19200 = 6,
    BAUD_38400 = 7,
    BAUD_56000 = 8,
    BAUD_57600 = 9,
    BAUD_115200 = 10,
};

enum class UartParity : int32_t {
    NONE = 0,
    EVEN = 1,
    ODD = 2,
};

enum class UartDataSize : int32_t {
    BITS_7 = 0,
    BITS_8 = 1,
};

enum class UartStopBit : int32_t {
    ONE = 0,
    TWO = 1,
};

enum class UartHwHandshake : int32_t {
    DISABLED = 0,
    ENABLED = 1,
};

namespace uart {

inline constexpr CommandInfo kDeinit = statusOnlyCommand(0x1001);
inline constexpr CommandInfo kInit = statusOnlyCommand(0x1002);
inline constexpr CommandInfo kSetParameters = statusOnlyCommand(0x1003);
inline constexpr CommandInfo kSendMessage = statusOnlyCommand(0x1005);

}  // namespace uart

}  // namespace vantor
