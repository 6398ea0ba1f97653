#pragma once
// Enumerations and response layouts of the I2C target family. Each
// enumeration travels on the wire as its numeric value in one byte.

#include <cstdint>

namespace vantor {

enum class I2cTargetModel : int32_t {
    MEMORY = 0,
    EEPROM = 1,
    REGISTER_MAP = 2,
};

enum class I2cTargetAddressMode : int32_t {
    BIT_7 = 0,
    BIT_10 = 1,
};

enum class I2cTargetMemoryLayout : int32_t {
    BIT_8 = 0,
    BIT_16 = 1,
};

enum class I2cTargetEepromBusyBehavior : int32_t {
    NACK = 0,
    CLOCK_STRETCH = 1,
};

enum class I2cTargetEraseScope : int32_t {
    PAGE = 0,
    CHIP = 1,
};

enum class I2cTargetRegisterAccess : int32_t {
    RW = 0,
    RO = 1,
    WO = 2,
    RC = 3,
    W1C = 4,
    RESERVED = 5,
};

#pragma pack(push, 1)
// Parameter block of the target init response (offsets 6..).
struct I2cTargetInitResponseParameters {
    uint8_t busId;
    uint32_t memorySize;
};
#pragma pack(pop)

static_assert(sizeof(I2cTargetInitResponseParameters) == 5);

}  // namespace vantor
