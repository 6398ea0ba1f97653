// SPDX-License-Identifier: MIT
#pragma once
// Message layouts of the SPI controller and target commands (see
// CommandLayout.h).

#include "sdk/core/CommandLayout.h"
#include "sdk/peripherals/SpiTargetTypes.h"
#include "sdk/peripherals/SpiTypes.h"

namespace vantor::spi::layouts {

using namespace vantor::layout;

inline constexpr FieldLayout kInitRequest[] = {u8("bit_order", "SpiBitOrder"),
                                               u8("mode", "SpiMode"),
                                               u8("data_width", "SpiDataWidth"),
                                               u8("chip_select", "SpiChipSelect"),
                                               u8("chip_select_polarity", "SpiChipSelectPolarity"),
                                               u32("frequency")};
// The bytes sent inline, the bytes to clock (or read), then the inline bytes.
inline constexpr FieldLayout kTransferRequest[] = {u16("data_length"), u16("length"),
                                                   bytes("data", "data_length")};
// A bulk write announces its length twice.
inline constexpr FieldLayout kWriteBulkRequest[] = {u16("length"), u16("length_again")};
inline constexpr FieldLayout kCountResponse[] = {optional(u16("count"))};
inline constexpr FieldLayout kReceivedData[] = {optional(bytes("data", "count"))};
inline constexpr auto kTransferResponse = join(kCountResponse, kReceivedData);

inline constexpr CommandDescription kCommands[] = {
    {"CMD_SPI_DEINIT", "spiDeinit", "spiDeinit", kDeinit, "spi", ""},
    {"CMD_SPI_CONTROLLER_INIT", "spiControllerInit", "spiControllerInit", kInit, "spi",
     "controller", kInitRequest},
    {"CMD_SPI_CONTROLLER_SET_PARAMETERS", "spiSetParameters", "spiSetParameters", kSetParameters,
     "spi", "controller", kInitRequest},
    {"CMD_SPI_CONTROLLER_TRANSFER", "spiTransfer", "spiTransfer", kTransfer, "spi", "controller",
     kTransferRequest, kTransferResponse},
    {"CMD_SPI_CONTROLLER_TRANSFER_BULK", "spiTransferBulk", "spiTransferBulk", kTransferBulk, "spi",
     "controller", kTransferRequest, kCountResponse, "", "count"},
    {"CMD_SPI_CONTROLLER_WRITE_BULK", "spiWriteBulk", "spiWriteBulk", kWriteBulk, "spi",
     "controller", kWriteBulkRequest, kCountResponse, "length"},
    {"CMD_SPI_CONTROLLER_READ_BULK", "spiReadBulk", "spiReadBulk", kReadBulk, "spi", "controller",
     kTransferRequest, kCountResponse, "", "count"},
};

}  // namespace vantor::spi::layouts

namespace vantor::spi_target::layouts {

using namespace vantor::layout;

inline constexpr FieldLayout kInitRequest[] = {u8("mode", "SpiMode"),
                                               u8("bit_order", "SpiBitOrder"),
                                               u8("chip_select", "SpiChipSelect"),
                                               u8("chip_select_polarity", "SpiChipSelectPolarity"),
                                               u8("model", "SpiTargetModel"),
                                               u8("engine", "SpiTargetEngine")};
// The memory size is reported when the response holds it.
inline constexpr FieldLayout kInitResponse[] = {optional(u32("memory_size"))};
inline constexpr FieldLayout kMemoryRequest[] = {u16("memory_address"), u16("length")};
// Offsets 6..7 are not the host's; the count announces the bulk IN data.
inline constexpr FieldLayout kReadMemoryResponse[] = {optional(bytes("reserved", "2")),
                                                      optional(u16("count"))};
// The JEDEC id travels in an 8-byte field padded with zeros.
inline constexpr FieldLayout kFlashConfigRequest[] = {u8("address_bytes"),    u16("page_size"),
                                                      u32("write_cycle_us"),  u8("jedec_id_length"),
                                                      bytes("jedec_id", "8"), u8("flags")};

inline constexpr CommandDescription kCommands[] = {
    {"CMD_SPI_TARGET_INIT", "spiTargetInit", "spiTargetInit", kInit, "spi", "target", kInitRequest,
     kInitResponse},
    {"CMD_SPI_TARGET_SET_PARAMETERS", "spiTargetSetParameters", "spiTargetSetParameters",
     kSetParameters, "spi", "target", kInitRequest, kInitResponse},
    {"CMD_SPI_TARGET_WRITE_MEMORY",
     "spiTargetWriteMemory",
     "spiTargetWriteMemory",
     kWriteMemory,
     "spi",
     "target",
     kMemoryRequest,
     {},
     "length"},
    {"CMD_SPI_TARGET_READ_MEMORY", "spiTargetReadMemory", "spiTargetReadMemory", kReadMemory, "spi",
     "target", kMemoryRequest, kReadMemoryResponse, "", "count"},
    {"CMD_SPI_TARGET_SET_FLASH_CONFIG", "spiTargetSetFlashConfig", "spiTargetSetFlashConfig",
     kSetFlashConfig, "spi", "target", kFlashConfigRequest},
};

}  // namespace vantor::spi_target::layouts
