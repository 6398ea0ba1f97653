// SPDX-License-Identifier: MIT
#pragma once
// Wire-level facts shared by every command family: the supported adapters,
// the message header and the notification codes. Each family's commands,
// limits and response layouts live in its own type header.

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantor {

// ---------------------------------------------------------------- adapters

struct SupportedDevice {
    uint16_t vendorId;
    uint16_t productId;
    size_t reportSize;  // payload bytes of one HID report, report id excluded
};

// Vendor id 0x1209 with two of its product ids reserved for test hardware.
// Entry 0 is the 64-byte model, entry 1 the 1024-byte model.
constexpr uint16_t kVendorId = 0x1209;
constexpr uint16_t kProductIdTeranox = 0x0001;
constexpr uint16_t kProductIdQuillex = 0x0002;

inline constexpr std::array<SupportedDevice, 2> kSupportedDevices{{
    {kVendorId, kProductIdTeranox, 64},
    {kVendorId, kProductIdQuillex, 1024},
}};

// Entry for a vendor/product pair, or nullptr when the pair is not supported.
const SupportedDevice* findSupportedDevice(uint16_t vendorId, uint16_t productId);

// ------------------------------------------------------------ message header

constexpr uint16_t NOTIFICATION_ID = 0;
constexpr size_t kRequestHeaderSize = 4;   // transaction id + command code
constexpr size_t kResponseHeaderSize = 6;  // ... + status
constexpr size_t kTransactionIdOffset = 0;
constexpr size_t kCommandCodeOffset = 2;
constexpr size_t kStatusOffset = 4;

// A command code is group << 10 | role << 8 | index.
constexpr unsigned commandGroup(uint16_t code) {
    return code >> 10;
}

inline uint16_t readU16le(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t readU32le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

#pragma pack(push, 1)
struct CommandResponseHeader {
    uint16_t transactionId;
    uint16_t commandCode;
    uint16_t status;
};
#pragma pack(pop)

static_assert(sizeof(CommandResponseHeader) == 6);

// ----------------------------------------------------------- notifications

enum NotificationKind : int32_t {
    NOTIF_I3C_HJ = 0,
    NOTIF_I3C_IBI = 1,
    NOTIF_GPIO = 2,
    NOTIF_UART = 3,
    NOTIF_I3C_CONNECTOR_EVENT = 4,
    NOTIF_UNKNOWN = 5,
    NOTIF_I2C_TARGET_BUS_EVENT = 6,
    NOTIF_SPI_TARGET_BUS_EVENT = 7,
    NOTIF_I3C_TARGET_BUS_EVENT = 8,
};

constexpr uint16_t kNotifCodeI3cHotJoin = 0x1982;
constexpr uint16_t kNotifCodeI3cIbi = 0x1981;
constexpr uint16_t kNotifCodeGpio = 0x1481;
constexpr uint16_t kNotifCodeUart = 0x1081;
constexpr uint16_t kNotifCodeI3cConnector = 0x0481;
constexpr uint16_t kNotifCodeI2cTargetBusEvent = 0x0A81;
constexpr uint16_t kNotifCodeSpiTargetBusEvent = 0x0E81;
constexpr uint16_t kNotifCodeI3cTargetBusEvent = 0x1A81;

// Kind of a notification code; codes outside the table are NOTIF_UNKNOWN.
NotificationKind notificationKindForCode(uint16_t code);

// ------------------------------------------------------------ bulk interface

// Every bulk data phase uses this timeout.
constexpr uint32_t kBulkDataTimeoutMs = 2000;

}  // namespace vantor
