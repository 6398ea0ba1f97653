#pragma once
// Enumerations of the SPI controller family. Each travels on the wire as its
// numeric value in one byte.

#include <cstdint>

namespace vantor {

enum class SpiBitOrder : int32_t {
    MSB = 0,
    LSB = 1,
};

enum class SpiMode : int32_t {
    MODE_0 = 0,
    MODE_1 = 1,
    MODE_2 = 2,
    MODE_3 = 3,
};

enum class SpiDataWidth : int32_t {
    BITS_8 = 0,
    BITS_16 = 1,
};

enum class SpiChipSelect : int32_t {
    CS_0 = 0,
    CS_1 = 1,
    CS_2 = 2,
    CS_3 = 3,
};

enum class SpiChipSelectPolarity : int32_t {
    ACTIVE_LOW = 0,
    ACTIVE_HIGH = 1,
};

}  // namespace vantor
