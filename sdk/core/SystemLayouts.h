// SPDX-License-Identifier: MIT
#pragma once
// Message layouts of the system commands (see CommandLayout.h), the I/O and
// I3C supply commands and the bulk capability query included.

#include "sdk/core/CommandLayout.h"
#include "sdk/core/SystemTypes.h"

namespace vantor::device::layouts {

using namespace vantor::layout;

inline constexpr FieldLayout kGetUsbStringRequest[] = {u8("string_index")};
// The length byte counts itself and the string bytes after it.
inline constexpr FieldLayout kGetUsbStringResponse[] = {u8("string_length"), bytes("text", "*")};
inline constexpr FieldLayout kAnalogMeasurementsResponse[] = {
    u16("io_voltage_mv"), u16("i3c_low_voltage_mv"), u16("i3c_high_voltage_mv"),
    bytes("reserved", "6")};
inline constexpr FieldLayout kUsbConfig[] = {u8("webusb_enabled"), u8("cdc_enabled"),
                                             u8("cdc_mode")};
inline constexpr FieldLayout kSetIoVoltageRequest[] = {u16("voltage_mv"), u8("persist")};
inline constexpr FieldLayout kUseExternalIoVoltageRequest[] = {u8("persist")};
inline constexpr FieldLayout kSetI3cVoltageRequest[] = {u16("voltage_mv")};
inline constexpr FieldLayout kUseExternalI3cVoltageRequest[] = {u8("enable")};
// The records are 7 bytes each: group (u8), maximum payload (u16), command
// mask (u32). The decoder takes whatever part of the list is present.
inline constexpr FieldLayout kBulkCapabilitiesResponse[] = {
    optional(u8("capability_info")), optional(u8("supported")), optional(bytes("reserved", "2")),
    optional(u8("group_count")), optional(bytes("groups", "*"))};

inline constexpr CommandDescription kCommands[] = {
    {"CMD_SYSTEM_RESET_DEVICE", "resetDevice", "resetDevice", kResetDevice, "system", ""},
    {"CMD_SYSTEM_ENTER_BOOT_MODE", "enterBootMode", "enterBootMode", kEnterBootMode, "system", ""},
    {"CMD_SYSTEM_SET_I3C_VOLTAGE", "i3cSetBusVoltage", "i3cSetBusVoltage", kSetI3cVoltage, "system",
     "", kSetI3cVoltageRequest},
    {"CMD_SYSTEM_SET_IO_VOLTAGE", "i2cSetBusVoltage",
     "i2cSetBusVoltage spiSetBusVoltage uartSetBusVoltage gpioSetVoltage", kSetIoVoltage, "system",
     "", kSetIoVoltageRequest},
    {"CMD_SYSTEM_GET_USB_STRING", "getUsbString", "getUsbString getDeviceInfo", kGetUsbString,
     "system", "", kGetUsbStringRequest, kGetUsbStringResponse},
    {"CMD_SYSTEM_GET_ANALOG_MEASUREMENTS",
     "getAnalogMeasurements",
     "getAnalogMeasurements i2cGetBusVoltage spiGetBusVoltage uartGetBusVoltage gpioGetVoltage "
     "i3cGetBusVoltage",
     kGetAnalogMeasurements,
     "system",
     "",
     {},
     kAnalogMeasurementsResponse},
    {"CMD_SYSTEM_USE_EXTERNAL_I3C_VOLTAGE", "i3cUseExternalVoltage", "i3cUseExternalVoltage",
     kUseExternalI3cVoltage, "system", "", kUseExternalI3cVoltageRequest},
    {"CMD_SYSTEM_USE_EXTERNAL_IO_VOLTAGE", "i2cUseExternalVoltage",
     "i2cUseExternalVoltage spiUseExternalVoltage uartUseExternalVoltage gpioUseExternalVoltage",
     kUseExternalIoVoltage, "system", "", kUseExternalIoVoltageRequest},
    {"CMD_SYSTEM_SET_USB_CONFIG", "setUsbConfig", "setUsbConfig", kSetUsbConfig, "system", "",
     kUsbConfig},
    {"CMD_SYSTEM_GET_USB_CONFIG",
     "getUsbConfig",
     "getUsbConfig",
     kGetUsbConfig,
     "system",
     "",
     {},
     kUsbConfig},
    {"CMD_SYSTEM_GET_BULK_CAPABILITIES",
     "getBulkCapabilities",
     "getBulkCapabilities",
     kGetBulkCapabilities,
     "system",
     "",
     {},
     kBulkCapabilitiesResponse},
};

}  // namespace vantor::device::layouts
