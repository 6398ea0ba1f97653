// SPDX-License-Identifier: MIT
#pragma once
// The SPI controller family: its enumerations (each travels on the wire as
// its numeric value in one byte), limits, commands and response layouts.

#include <cstddef>
#include <cstdint>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"

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

constexpr size_t SPI_BULK_MAX_PAYLOAD = 32768;

#pragma pack(push, 1)
// Parameter block of a transfer response (offsets 6..); over the command
// channel the received bytes follow it.
struct SpiTransferResponseParameters {
    uint16_t length;
};
#pragma pack(pop)

static_assert(sizeof(SpiTransferResponseParameters) == 2);

namespace spi {

inline constexpr CommandInfo kDeinit = statusOnlyCommand(0x0C01);
inline constexpr CommandInfo kInit = statusOnlyCommand(0x0D01);
inline constexpr CommandInfo kSetParameters = statusOnlyCommand(0x0D02);
// The received bytes are delivered as far as they are present.
inline constexpr CommandInfo kTransfer = commandWithResponse(0x0D04, 0);
inline constexpr CommandInfo kTransferBulk = bulkCommand(0x0D05);
inline constexpr CommandInfo kWriteBulk = bulkCommand(0x0D07);
inline constexpr CommandInfo kReadBulk = bulkCommand(0x0D08);

// A command-channel transfer sends and clocks at most this many bytes; so
// does the inline part of a bulk transfer.
constexpr size_t kMaxTransferBytes = 1024;

// Response offsets, header included: the received-byte count, then (command
// channel only) the bytes themselves.
constexpr size_t kCountOffset =
    kResponseHeaderSize + offsetof(SpiTransferResponseParameters, length);
constexpr size_t kDataOffset = kResponseHeaderSize + sizeof(SpiTransferResponseParameters);

}  // namespace spi

// Bit of each bulk command in its group's supported-command mask.
constexpr uint32_t CMD_SPI_CONTROLLER_WRITE_BULK = spi::kWriteBulk.bulkMaskBit;
constexpr uint32_t CMD_SPI_CONTROLLER_READ_BULK = spi::kReadBulk.bulkMaskBit;

}  // namespace vantor
