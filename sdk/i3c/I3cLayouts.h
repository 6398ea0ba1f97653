// SPDX-License-Identifier: MIT
#pragma once
// Message layouts of the I3C controller and target commands (see
// CommandLayout.h).

#include "sdk/core/CommandLayout.h"
#include "sdk/i3c/I3cTargetTypes.h"
#include "sdk/i3c/I3cTypes.h"

namespace vantor::i3c::layouts {

using namespace vantor::layout;

// The generic command every common command code travels in, as the catalog
// sees it: its decoders differ per code in what the response must hold
// (I3cCcc.cpp), the least of them nothing.
inline constexpr CommandInfo kCcc = commandWithResponse(kCccCode, 0);

inline constexpr FieldLayout kRatesRequest[] = {
    u8("push_pull_rate", "I3cPushPullRate"), u8("open_drain_rate", "I3cOpenDrainRate"),
    u8("i2c_rate", "I2cOpenDrainRate"), u8("drive_strength", "I3cDriveStrength")};
// Target records are the 16-byte I3cTargetInfo, target_count of them.
inline constexpr FieldLayout kTargetTable[] = {u8("target_count"), bytes("targets", "*")};
inline constexpr FieldLayout kTargetConfigurationRequest[] = {u8("address"), u8("configuration")};
// The control byte holds the direction in bit 0, the mode in bits 1-2 and
// the flags from bit 3 on; the subaddress field is 4 bytes, zero padded.
inline constexpr FieldLayout kTransferHeader[] = {u8("address"),
                                                  u8("control"),
                                                  u8("hdr_command"),
                                                  u8("subaddress_length"),
                                                  bytes("subaddress", "4"),
                                                  u16("length")};
// Writes over the command channel carry their data; reads end at the header.
inline constexpr FieldLayout kTransferData[] = {optional(bytes("data", "length"))};
inline constexpr auto kTransferRequest = join(kTransferHeader, kTransferData);
inline constexpr FieldLayout kTransferCount[] = {optional(bytes("reserved", "2")),
                                                 optional(u16("count"))};
inline constexpr FieldLayout kReceivedData[] = {optional(bytes("data", "count"))};
inline constexpr auto kTransferResponse = join(kTransferCount, kReceivedData);
// The control byte adds the command type in bits 4-7.
inline constexpr FieldLayout kCccRequest[] = {u8("address"),       u8("control"),
                                              u8("length"),        {"ccc", FieldType::U8, "ccc"},
                                              u8("defining_byte"), bytes("data", "*")};
// The host reads one count byte at offset 9 and the data after it.
inline constexpr FieldLayout kCccResponse[] = {
    optional(bytes("reserved", "3")), optional(u8("count")), optional(bytes("data", "count"))};
// 0 sends the target reset pattern, 1 the HDR exit pattern.
inline constexpr FieldLayout kBusPatternRequest[] = {u8("pattern")};

inline constexpr CommandDescription kCommands[] = {
    {"CMD_I3C_CONTROLLER_INIT", "i3cControllerInit", "i3cControllerInit", kControllerInit, "i3c",
     "controller", kRatesRequest},
    {"CMD_I3C_CONTROLLER_SET_PARAMETERS", "i3cSetParameters", "i3cSetParameters", kSetParameters,
     "i3c", "controller", kRatesRequest},
    {"CMD_I3C_CONTROLLER_INIT_BUS", "i3cInitBus", "i3cInitBus", kInitBus, "i3c", "controller",
     kTargetTable},
    {"CMD_I3C_CONTROLLER_RESET_BUS", "i3cResetBus", "i3cResetBus", kResetBus, "i3c", "controller"},
    {"CMD_I3C_CONTROLLER_GET_DEVICE_TABLE",
     "i3cGetDeviceTable",
     "i3cGetDeviceTable",
     kGetDeviceTable,
     "i3c",
     "controller",
     {},
     kTargetTable},
    {"CMD_I3C_CONTROLLER_SET_TARGET_DEVICE_CONFIGURATION", "i3cSetTargetDeviceConfiguration",
     "i3cSetTargetDeviceConfiguration", kSetTargetDeviceConfiguration, "i3c", "controller",
     kTargetConfigurationRequest},
    {"CMD_I3C_CONTROLLER_TRANSFER", "i3cSdrWrite",
     "i3cSdrWrite i3cSdrRead i3cHdrDdrWrite i3cHdrDdrRead i3cLegacyI2cWrite i3cLegacyI2cRead",
     kTransfer, "i3c", "controller", kTransferRequest, kTransferResponse},
    {"CMD_I3C_CONTROLLER_CCC_TRANSFER", "i3cCccTransfer", "i3cCccTransfer", kCcc, "i3c",
     "controller", kCccRequest, kCccResponse},
    {"CMD_I3C_CONTROLLER_BUS_PATTERN", "i3cTargetResetPattern",
     "i3cTargetResetPattern i3cHdrExitPattern", kBusPattern, "i3c", "controller",
     kBusPatternRequest},
    {"CMD_I3C_CONTROLLER_TRANSFER_BULK", "i3cSdrWriteBulk",
     "i3cSdrWriteBulk i3cSdrReadBulk i3cHdrDdrWriteBulk i3cHdrDdrReadBulk i3cLegacyI2cWriteBulk "
     "i3cLegacyI2cReadBulk",
     kTransferBulk, "i3c", "controller", kTransferHeader, kTransferCount, "length", "count",
     "control"},
};

}  // namespace vantor::i3c::layouts

namespace vantor::i3c_target::layouts {

using namespace vantor::layout;

// The PID goes split: bits 31..0, bit 32, bits 47..33.
inline constexpr FieldLayout kConfigurationRequest[] = {
    u8("memory_layout", "I3cTargetMemoryLayout"),
    u32("pid_low"),
    u8("pid_bit32"),
    u16("pid_high"),
    u8("bcr"),
    u8("dcr"),
    u8("static_address"),
    u16("mwl"),
    u16("mrl")};
inline constexpr FieldLayout kWriteMemoryRequest[] = {u16("memory_address"), u16("length"),
                                                      bytes("data", "length")};
inline constexpr FieldLayout kReadMemoryRequest[] = {u16("memory_address"), u16("length")};
inline constexpr FieldLayout kReadMemoryResponse[] = {optional(u16("count")),
                                                      optional(bytes("data", "count"))};

inline constexpr CommandDescription kCommands[] = {
    {"CMD_I3C_TARGET_INIT", "i3cTargetInit", "i3cTargetInit", kInit, "i3c", "target",
     kConfigurationRequest},
    {"CMD_I3C_TARGET_SET_PARAMETERS", "i3cTargetSetParameters", "i3cTargetSetParameters",
     kSetParameters, "i3c", "target", kConfigurationRequest},
    {"CMD_I3C_TARGET_WRITE_MEMORY", "i3cTargetWriteMemory", "i3cTargetWriteMemory", kWriteMemory,
     "i3c", "target", kWriteMemoryRequest},
    {"CMD_I3C_TARGET_READ_MEMORY", "i3cTargetReadMemory", "i3cTargetReadMemory", kReadMemory, "i3c",
     "target", kReadMemoryRequest, kReadMemoryResponse},
};

}  // namespace vantor::i3c_target::layouts
