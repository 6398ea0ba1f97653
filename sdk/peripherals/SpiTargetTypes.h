#pragma once
// Enumerations and response layouts of the SPI target family. Each
// enumeration travels on the wire as its numeric value in one byte.

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

#pragma pack(push, 1)
// Parameter block of the target init response (offsets 6..).
struct SpiTargetInitResponseParameters {
    uint32_t memorySize;
};
#pragma pack(pop)

static_assert(sizeof(SpiTargetInitResponseParameters) == 4);

}  // namespace vantor
