#pragma once
// Enumerations of the SPI target family. Each travels on the wire as its
// numeric value in one byte.

#include <cstdint>

namespace vantor {

enum class SpiTargetModel : int32_t {
    MEMORY = 0,
    FLASH = 1,
    REGISTER_MAP = 2,
};

enum class SpiTargetEngine : int32_t {
    DMA = 0,
    ISR = 1,
};

}  // namespace vantor
