// SPDX-License-Identifier: MIT
#pragma once
// The GPIO family: its enumerations (each travels on the wire as its numeric
// value in one byte), commands and response layout.

#include <cstddef>
#include <cstdint>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"

namespace vantor {

enum class GpioPinNumber : int32_t {
    PIN_1 = 0,
    PIN_2 = 1,
    PIN_3 = 2,
    PIN_4 = 3,
    PIN_5 = 4,
    PIN_6 = 5,
};

enum class GpioFunctionality : int32_t {
    DIGITAL_INPUT = 0,
    DIGITAL_OUTPUT = 1,
};

enum class GpioLogicLevel : int32_t {
    LOW = 0,
    HIGH = 1,
};

enum class GpioTriggerType : int32_t {
    RISING_EDGE = 1,
    FALLING_EDGE = 2,
    BOTH_EDGES = 3,
};

namespace gpio {

inline constexpr CommandInfo kConfigurePin = statusOnlyCommand(0x1401);
inline constexpr CommandInfo kDigitalWrite = statusOnlyCommand(0x1402);
// A bare header reports the firmware's error (an unconfigured pin).
inline constexpr CommandInfo kDigitalRead = commandWithResponse(0x1403, 1, ShortResponse::Status);
inline constexpr CommandInfo kConfigureInterrupt = statusOnlyCommand(0x1404);
inline constexpr CommandInfo kDisableInterrupt = statusOnlyCommand(0x1405);

// Response offset of the level a digital read returns.
constexpr size_t kLevelOffset = kResponseHeaderSize;

}  // namespace gpio

}  // namespace vantor
