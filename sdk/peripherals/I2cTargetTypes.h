// SPDX-License-Identifier: MIT
#pragma once
// The I2C target family: its enumerations (each travels on the wire as its
// numeric value in one byte), limits, commands and response layouts.

#include <cstddef>
#include <cstdint>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"

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

// Data bytes of one target memory transfer over the bulk interface.
constexpr size_t I2C_TARGET_MEMORY_MAX_TRANSFER = 32768;

namespace i2c_target {

// Init and set-parameters report the memory size when the response holds
// it; a shorter successful response reports 0.
inline constexpr CommandInfo kInit = commandWithResponse(0x0A01, 0);
inline constexpr CommandInfo kSetParameters = commandWithResponse(0x0A02, 0);
inline constexpr CommandInfo kWriteMemory = bulkCommand(0x0A03);
inline constexpr CommandInfo kReadMemory = bulkCommand(0x0A04);
inline constexpr CommandInfo kSetEepromConfig = statusOnlyCommand(0x0A05);
inline constexpr CommandInfo kErase = statusOnlyCommand(0x0A06);
inline constexpr CommandInfo kSetRegisterRegion = statusOnlyCommand(0x0A07);

// Response offsets, header included.
constexpr size_t kMemorySizeOffset =
    kResponseHeaderSize + offsetof(I2cTargetInitResponseParameters, memorySize);
constexpr size_t kInitResponseSize = kResponseHeaderSize + sizeof(I2cTargetInitResponseParameters);
// A memory read announces its bulk data phase here (offsets 6..7 are not
// the host's).
constexpr size_t kReadCountOffset = kResponseHeaderSize + 2;

}  // namespace i2c_target

}  // namespace vantor
