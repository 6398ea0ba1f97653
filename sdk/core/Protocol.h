#pragma once
// Wire-level facts shared by every command family: the supported adapters,
// the message header, notification codes, published limits and the fixed
// response parameter blocks.

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

// Fixed response parameter blocks (offsets 6.. of a response).
struct I2cTransferParameters {
    uint8_t reserved;
    uint16_t length;
};
struct I2cScanBusParameters {
    uint8_t reserved;
    uint8_t count7;
    uint8_t count10;
};
struct SpiTransferResponseParameters {
    uint16_t length;
};
struct UsbConfigResponseParameters {
    uint8_t webusbEnabled;
    uint8_t cdcEnabled;
    uint8_t cdcMode;
};
struct GetAnalogMeasurementsParameters {
    uint16_t ioVoltageMv;
    uint16_t i3cLowVoltageMv;
    uint16_t i3cHighVoltageMv;
    uint8_t reserved[6];
};
struct I3cCccTransferParameters {
    uint8_t reserved[2];
    uint16_t length;
};
struct I3cTransferResponseParameters {
    uint8_t reserved[2];
    uint16_t length;
};
struct I3cTableHeaderParameters {
    uint8_t count;
};
struct I3cTargetMemoryParameters {
    uint16_t length;
};
struct I2cTargetInitResponseParameters {
    uint8_t busId;
    uint32_t memorySize;
};
struct SpiTargetInitResponseParameters {
    uint32_t memorySize;
};
#pragma pack(pop)

static_assert(sizeof(CommandResponseHeader) == 6);
static_assert(sizeof(I2cTransferParameters) == 3);
static_assert(sizeof(I2cScanBusParameters) == 3);
static_assert(sizeof(SpiTransferResponseParameters) == 2);
static_assert(sizeof(UsbConfigResponseParameters) == 3);
static_assert(sizeof(GetAnalogMeasurementsParameters) == 12);
static_assert(sizeof(I3cCccTransferParameters) == 4);
static_assert(sizeof(I3cTransferResponseParameters) == 4);
static_assert(sizeof(I3cTableHeaderParameters) == 1);
static_assert(sizeof(I3cTargetMemoryParameters) == 2);
static_assert(sizeof(I2cTargetInitResponseParameters) == 5);
static_assert(sizeof(SpiTargetInitResponseParameters) == 4);

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

// ------------------------------------------------------- published limits

constexpr size_t MAX_I2C_TRANSFER_LENGTH = 1024;
constexpr size_t I3C_TARGET_MEMORY_SIZE = 1024;
constexpr size_t I2C_BULK_MAX_PAYLOAD = 32768;
constexpr size_t SPI_BULK_MAX_PAYLOAD = 32768;
constexpr size_t I3C_BULK_MAX_PAYLOAD = 32767;

// Bit of each bulk command in its group's supported-command mask.
constexpr uint32_t CMD_I2C_CONTROLLER_WRITE_BULK = 0x80;
constexpr uint32_t CMD_I2C_CONTROLLER_READ_BULK = 0x100;
constexpr uint32_t CMD_SPI_CONTROLLER_WRITE_BULK = 0x80;
constexpr uint32_t CMD_SPI_CONTROLLER_READ_BULK = 0x100;

// Every bulk data phase uses this timeout.
constexpr uint32_t kBulkDataTimeoutMs = 2000;

}  // namespace vantor
