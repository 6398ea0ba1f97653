// SPDX-License-Identifier: MIT
#pragma once
// The I2C controller family: its enumerations (each travels on the wire as
// its numeric value in one byte), limits, commands and response layouts.

#include <cstddef>
#include <cstdint>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"

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

constexpr size_t MAX_I2C_TRANSFER_LENGTH = 1024;
constexpr size_t I2C_BULK_MAX_PAYLOAD = 32768;

#pragma pack(push, 1)
// Parameter block of a write or read response (offsets 6..), followed by
// the read data.
struct I2cTransferParameters {
    uint8_t reserved;
    uint16_t length;
};
// Parameter block of a scan response, followed by the 7-bit addresses (one
// byte each) and the 10-bit ones (u16 little-endian each).
struct I2cScanBusParameters {
    uint8_t reserved;
    uint8_t count7;
    uint8_t count10;
};
#pragma pack(pop)

static_assert(sizeof(I2cTransferParameters) == 3);
static_assert(sizeof(I2cScanBusParameters) == 3);

namespace i2c {

inline constexpr CommandInfo kDeinit = statusOnlyCommand(0x0801);
inline constexpr CommandInfo kSetPullUp = statusOnlyCommand(0x0802);
inline constexpr CommandInfo kInit = statusOnlyCommand(0x0901);
inline constexpr CommandInfo kSetParameters = statusOnlyCommand(0x0902);
inline constexpr CommandInfo kWrite = statusOnlyCommand(0x0904);
// The read data is delivered as far as it is present.
inline constexpr CommandInfo kRead = commandWithResponse(0x0905, 0);
inline constexpr CommandInfo kScanBus =
    commandWithResponse(0x0906, sizeof(I2cScanBusParameters), ShortResponse::Status);
inline constexpr CommandInfo kWriteBulk = bulkCommand(0x0907);
inline constexpr CommandInfo kReadBulk = bulkCommand(0x0908);

constexpr size_t kMaxSubaddressBytes = 4;
constexpr uint8_t kMaxBus = 1;

// Response offsets, header included.
constexpr size_t kTransferCountOffset =
    kResponseHeaderSize + offsetof(I2cTransferParameters, length);
constexpr size_t kReadDataOffset = kResponseHeaderSize + sizeof(I2cTransferParameters);
constexpr size_t kScanCount7Offset = kResponseHeaderSize + offsetof(I2cScanBusParameters, count7);
constexpr size_t kScanCount10Offset = kResponseHeaderSize + offsetof(I2cScanBusParameters, count10);
constexpr size_t kScanAddressOffset = kResponseHeaderSize + sizeof(I2cScanBusParameters);

}  // namespace i2c

// Bit of each bulk command in its group's supported-command mask.
constexpr uint32_t CMD_I2C_CONTROLLER_WRITE_BULK = i2c::kWriteBulk.bulkMaskBit;
constexpr uint32_t CMD_I2C_CONTROLLER_READ_BULK = i2c::kReadBulk.bulkMaskBit;

}  // namespace vantor
