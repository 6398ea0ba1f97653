// SPDX-License-Identifier: MIT
#pragma once
// Message layouts of the I2C controller and target commands (see
// CommandLayout.h).

#include "sdk/core/CommandLayout.h"
#include "sdk/peripherals/I2cTargetTypes.h"
#include "sdk/peripherals/I2cTypes.h"

namespace vantor::i2c::layouts {

using namespace vantor::layout;

inline constexpr FieldLayout kBusRequest[] = {u8("bus", "I2cBus")};
inline constexpr FieldLayout kSetPullUpRequest[] = {u8("bus", "I2cBus"),
                                                    u8("pull_up", "I2cPullUp")};
inline constexpr FieldLayout kInitRequest[] = {u8("bus", "I2cBus"), u32("frequency"),
                                               u8("pull_up", "I2cPullUp")};
// The subaddress travels as its length and the number its bytes form.
inline constexpr FieldLayout kTransferRequest[] = {u8("bus", "I2cBus"), u16("length"),
                                                   u8("address"),       u8("subaddress_length"),
                                                   u32("subaddress"),   u8("non_stop")};
inline constexpr FieldLayout kWriteData[] = {bytes("data", "length")};
inline constexpr auto kWriteRequest = join(kTransferRequest, kWriteData);
// Every transfer response starts so; only a read carries data after it.
inline constexpr FieldLayout kTransferResponse[] = {optional(u8("reserved")),
                                                    optional(u16("count"))};
inline constexpr FieldLayout kReadData[] = {optional(bytes("data", "count"))};
inline constexpr auto kReadResponse = join(kTransferResponse, kReadData);
inline constexpr FieldLayout kScanRequest[] = {u8("bus", "I2cBus"), u8("include_10bit")};
// The 10-bit addresses are u16 each, count10 of them.
inline constexpr FieldLayout kScanResponse[] = {u8("reserved"), u8("count7"), u8("count10"),
                                                bytes("addresses_7bit", "count7"),
                                                bytes("addresses_10bit", "*")};

inline constexpr CommandDescription kCommands[] = {
    {"CMD_I2C_DEINIT", "i2cDeinit", "i2cDeinit", kDeinit, "i2c", "", kBusRequest},
    {"CMD_I2C_SET_PULL_UP_RESISTORS", "i2cSetPullUpResistors", "i2cSetPullUpResistors", kSetPullUp,
     "i2c", "", kSetPullUpRequest},
    {"CMD_I2C_CONTROLLER_INIT", "i2cControllerInit", "i2cControllerInit", kInit, "i2c",
     "controller", kInitRequest},
    {"CMD_I2C_CONTROLLER_SET_PARAMETERS", "i2cSetParameters", "i2cSetParameters", kSetParameters,
     "i2c", "controller", kInitRequest},
    {"CMD_I2C_CONTROLLER_WRITE", "i2cWrite", "i2cWrite", kWrite, "i2c", "controller", kWriteRequest,
     kTransferResponse},
    {"CMD_I2C_CONTROLLER_READ", "i2cRead", "i2cRead", kRead, "i2c", "controller", kTransferRequest,
     kReadResponse},
    {"CMD_I2C_CONTROLLER_SCAN_BUS", "i2cScanBus", "i2cScanBus", kScanBus, "i2c", "controller",
     kScanRequest, kScanResponse},
    {"CMD_I2C_CONTROLLER_WRITE_BULK", "i2cWriteBulk", "i2cWriteBulk", kWriteBulk, "i2c",
     "controller", kTransferRequest, kTransferResponse, "length"},
    {"CMD_I2C_CONTROLLER_READ_BULK", "i2cReadBulk", "i2cReadBulk", kReadBulk, "i2c", "controller",
     kTransferRequest, kTransferResponse, "", "count"},
};

}  // namespace vantor::i2c::layouts

namespace vantor::i2c_target::layouts {

using namespace vantor::layout;

inline constexpr FieldLayout kInitRequest[] = {u8("bus", "I2cBus"),
                                               u16("address"),
                                               u8("address_mode", "I2cTargetAddressMode"),
                                               u8("memory_layout", "I2cTargetMemoryLayout"),
                                               u8("reserved"),
                                               u8("model", "I2cTargetModel")};
// The memory size is reported when the response holds it.
inline constexpr FieldLayout kInitResponse[] = {optional(u8("bus", "I2cBus")),
                                                optional(u32("memory_size"))};
inline constexpr FieldLayout kMemoryRequest[] = {u16("memory_address"), u16("length")};
// Offsets 6..7 are not the host's; the count announces the bulk IN data.
inline constexpr FieldLayout kReadMemoryResponse[] = {optional(bytes("reserved", "2")),
                                                      optional(u16("count"))};
inline constexpr FieldLayout kEepromConfigRequest[] = {
    u16("total_size"),
    u16("page_size"),
    u32("write_cycle_us"),
    u32("erase_cycle_us"),
    u8("busy_behavior", "I2cTargetEepromBusyBehavior"),
    u8("erased_value"),
    u16("wp_start"),
    u16("wp_end")};
inline constexpr FieldLayout kEraseRequest[] = {u8("scope", "I2cTargetEraseScope"),
                                                u16("memory_address")};
inline constexpr FieldLayout kRegisterRegionRequest[] = {u16("start_address"), u16("end_address"),
                                                         u8("access", "I2cTargetRegisterAccess"),
                                                         u8("width"), u8("flags")};

inline constexpr CommandDescription kCommands[] = {
    {"CMD_I2C_TARGET_INIT", "i2cTargetInit", "i2cTargetInit", kInit, "i2c", "target", kInitRequest,
     kInitResponse},
    {"CMD_I2C_TARGET_SET_PARAMETERS", "i2cTargetSetParameters", "i2cTargetSetParameters",
     kSetParameters, "i2c", "target", kInitRequest, kInitResponse},
    {"CMD_I2C_TARGET_WRITE_MEMORY",
     "i2cTargetWriteMemory",
     "i2cTargetWriteMemory",
     kWriteMemory,
     "i2c",
     "target",
     kMemoryRequest,
     {},
     "length"},
    {"CMD_I2C_TARGET_READ_MEMORY", "i2cTargetReadMemory", "i2cTargetReadMemory", kReadMemory, "i2c",
     "target", kMemoryRequest, kReadMemoryResponse, "", "count"},
    {"CMD_I2C_TARGET_SET_EEPROM_CONFIG", "i2cTargetSetEepromConfig", "i2cTargetSetEepromConfig",
     kSetEepromConfig, "i2c", "target", kEepromConfigRequest},
    {"CMD_I2C_TARGET_ERASE", "i2cTargetErase", "i2cTargetErase", kErase, "i2c", "target",
     kEraseRequest},
    {"CMD_I2C_TARGET_SET_REGISTER_REGION", "i2cTargetSetRegisterRegion",
     "i2cTargetSetRegisterRegion", kSetRegisterRegion, "i2c", "target", kRegisterRegionRequest},
};

}  // namespace vantor::i2c_target::layouts
