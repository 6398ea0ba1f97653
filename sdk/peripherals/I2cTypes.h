#pragma once
// Enumerations of the I2C controller family. Each travels on the wire as its
// numeric value in one byte.

#include <cstdint>

namespace vantor {

enum class I2cBus : uint8_t {
    A = 0,
    B = 1,
};

enum class I2cPullUp : uint8_t {
    OHM_150 = 0,
    OHM_220 = 1,
    OHM_330 = 2,
    OHM_470 = 3,
    OHM_680 = 4,
    KOHM_1_0 = 5,
    KOHM_1_5 = 6,
    KOHM_2_2 = 7,
    KOHM_3_3 = 8,
    KOHM_4_0 = 9,
    KOHM_4_7 = 10,
    KOHM_10_0 = 11,
    DISABLE = 12,
};

}  // namespace vantor
