#pragma once
// Enumerations of the GPIO family. Each travels on the wire as its
// numeric value in one byte.

#include <cstdint>

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

}  // namespace vantor
