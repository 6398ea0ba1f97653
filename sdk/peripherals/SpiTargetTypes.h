// SPDX-License-Identifier: MIT
#pragma once
// The SPI target family: its enumerations (each travels on the wire as its
// numeric value in one byte), limits, commands and response layouts. The
// bus-level enumerations (mode, bit order, chip select and its polarity) are
// the SPI controller's.

#include <cstddef>
#include <cstdint>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"

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

// Data bytes of one target memory transfer over the bulk interface.
constexpr size_t SPI_TARGET_MEMORY_MAX_TRANSFER = 32768;
// The flash configuration carries the JEDEC identification in a field of
// this many bytes, padded with zeros.
constexpr size_t SPI_TARGET_JEDEC_ID_FIELD = 8;

namespace spi_target {

// Init and set-parameters report the memory size when the response holds
// it; a shorter successful response reports 0.
inline constexpr CommandInfo kInit = commandWithResponse(0x0E01, 0);
inline constexpr CommandInfo kSetParameters = commandWithResponse(0x0E02, 0);
inline constexpr CommandInfo kWriteMemory = bulkCommand(0x0E03);
inline constexpr CommandInfo kReadMemory = bulkCommand(0x0E04);
inline constexpr CommandInfo kSetFlashConfig = statusOnlyCommand(0x0E05);

// Response offsets, header included.
constexpr size_t kMemorySizeOffset =
    kResponseHeaderSize + offsetof(SpiTargetInitResponseParameters, memorySize);
constexpr size_t kInitResponseSize = kResponseHeaderSize + sizeof(SpiTargetInitResponseParameters);
// A memory read announces its bulk data phase here (offsets 6..7 are not
// the host's).
constexpr size_t kReadCountOffset = kResponseHeaderSize + 2;

}  // namespace spi_target

}  // namespace vantor
