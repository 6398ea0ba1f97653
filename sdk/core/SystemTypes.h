// SPDX-License-Identifier: MIT
#pragma once
// The system command family: its records, commands and response layouts,
// the I/O voltage rail and the bulk capability query included.

#include <cstddef>
#include <cstdint>
#include <string>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"

namespace vantor {

constexpr uint32_t USB_WEBUSB_DISABLED = 0;
constexpr uint32_t USB_WEBUSB_ENABLED = 1;
constexpr uint32_t USB_WEBUSB_NO_CHANGE = 255;
constexpr uint32_t USB_CDC_DISABLED = 0;
constexpr uint32_t USB_CDC_ENABLED = 1;
constexpr uint32_t USB_CDC_NO_CHANGE = 255;
constexpr uint32_t USB_CDC_UART_PASSTHROUGH = 0;
constexpr uint32_t USB_CDC_TERMINAL = 1;
constexpr uint32_t USB_CDC_VELNA_COMPAT = 2;
constexpr uint32_t USB_CDC_RS485 = 3;
constexpr uint32_t USB_CDC_CANFD = 4;

struct UsbConfig {
    uint32_t webusbEnabled = 0;
    uint32_t cdcEnabled = 0;
    uint32_t cdcMode = 0;
};

// The five identification strings, as the adapter sends them (no character
// conversion).
struct DeviceInfo {
    std::string manufacturer;  // string index 1
    std::string productName;   // 2
    std::string serialNumber;  // 3
    std::string hwVersion;     // 4
    std::string fwVersion;     // 5
};

// Each travels on the wire as its numeric value in one byte.
enum class DeviceModel : uint8_t {
    UNKNOWN = 0,
    TERANOX = 1,
    QUILLEX = 2,
};

#pragma pack(push, 1)
// Parameter block of a getUsbConfig response (offsets 6..).
struct UsbConfigResponseParameters {
    uint8_t webusbEnabled;
    uint8_t cdcEnabled;
    uint8_t cdcMode;
};
// Parameter block of a getAnalogMeasurements response (offsets 6..).
struct GetAnalogMeasurementsParameters {
    uint16_t ioVoltageMv;
    uint16_t i3cLowVoltageMv;
    uint16_t i3cHighVoltageMv;
    uint8_t reserved[6];
};
#pragma pack(pop)

static_assert(sizeof(UsbConfigResponseParameters) == 3);
static_assert(sizeof(GetAnalogMeasurementsParameters) == 12);

namespace device {

// Neither awaits a response: the adapter restarts or leaves its application
// firmware.
inline constexpr CommandInfo kResetDevice = statusOnlyCommand(0x0401);
inline constexpr CommandInfo kEnterBootMode = statusOnlyCommand(0x0402);
// The supply of the two I3C ports, apart from the I/O rail.
inline constexpr CommandInfo kSetI3cVoltage = statusOnlyCommand(0x0404);
inline constexpr CommandInfo kUseExternalI3cVoltage = statusOnlyCommand(0x040A);
// The I/O voltage rail of the I2C, SPI, UART and GPIO signals.
inline constexpr CommandInfo kSetIoVoltage = statusOnlyCommand(0x0405);
// A bare header carrying an error (an unknown string index) reports the
// firmware's status instead of hiding it behind a malformed-response code.
inline constexpr CommandInfo kGetUsbString = commandWithResponse(0x0407, 1, ShortResponse::Status);
inline constexpr CommandInfo kGetAnalogMeasurements =
    commandWithResponse(0x0409, sizeof(GetAnalogMeasurementsParameters), ShortResponse::Status);
inline constexpr CommandInfo kUseExternalIoVoltage = statusOnlyCommand(0x040B);
inline constexpr CommandInfo kSetUsbConfig = statusOnlyCommand(0x040D);
inline constexpr CommandInfo kGetUsbConfig =
    commandWithResponse(0x040E, sizeof(UsbConfigResponseParameters));
// The decoder reads whatever part of the record list is present.
inline constexpr CommandInfo kGetBulkCapabilities = commandWithResponse(0x040F, 0);

// USB string index of each DeviceInfo field, in field order.
constexpr uint8_t kFirstDeviceInfoString = 1;
constexpr uint8_t kDeviceInfoStrings = 5;

// Response offsets, header included.
// getUsbString: a length byte that counts itself and the string bytes after
// it.
constexpr size_t kUsbStringLengthOffset = kResponseHeaderSize;
constexpr size_t kUsbStringTextOffset = kUsbStringLengthOffset + 1;
// getUsbConfig.
constexpr size_t kWebusbEnabledOffset =
    kResponseHeaderSize + offsetof(UsbConfigResponseParameters, webusbEnabled);
constexpr size_t kCdcEnabledOffset =
    kResponseHeaderSize + offsetof(UsbConfigResponseParameters, cdcEnabled);
constexpr size_t kCdcModeOffset =
    kResponseHeaderSize + offsetof(UsbConfigResponseParameters, cdcMode);
// getAnalogMeasurements: the rail voltage is its first field.
constexpr size_t kRailVoltageOffset =
    kResponseHeaderSize + offsetof(GetAnalogMeasurementsParameters, ioVoltageMv);
// getAnalogMeasurements: the voltages of the two I3C ports.
constexpr size_t kI3cLowVoltageOffset =
    kResponseHeaderSize + offsetof(GetAnalogMeasurementsParameters, i3cLowVoltageMv);
constexpr size_t kI3cHighVoltageOffset =
    kResponseHeaderSize + offsetof(GetAnalogMeasurementsParameters, i3cHighVoltageMv);
// getBulkCapabilities: capability info, supported flag, two bytes not
// interpreted, the record count, then 7-byte records of group (u8), maximum
// payload (u16) and command mask (u32).
constexpr size_t kCapabilityInfoOffset = kResponseHeaderSize;
constexpr size_t kBulkSupportedOffset = kResponseHeaderSize + 1;
constexpr size_t kBulkGroupCountOffset = kResponseHeaderSize + 4;
constexpr size_t kFirstBulkGroupOffset = kResponseHeaderSize + 5;
constexpr size_t kBulkGroupRecordSize = 7;
constexpr size_t kBulkGroupMaxPayloadField = 1;  // within a record
constexpr size_t kBulkGroupMaskField = 3;        // within a record

}  // namespace device

}  // namespace vantor
