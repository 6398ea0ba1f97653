// SPDX-License-Identifier: MIT
#pragma once
// Records, limits and response layouts shared by the I3C command families.

#include <cstddef>
#include <cstdint>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"

namespace vantor {

// A target's configuration byte: the adapter interprets its bits per target;
// the host stores, sends and returns it unchanged.
using I3cTargetConfiguration = uint8_t;

#pragma pack(push, 1)
// One I3C target: the same 16 bytes in memory, in requests and in responses.
struct I3cTargetInfo {
    uint8_t staticAddress;
    uint8_t dynamicAddress;
    uint8_t pid[6];
    uint8_t bcr;
    uint8_t dcr;
    uint16_t mwl;
    uint16_t mrl;
    uint8_t maxIbiPayloadLength;
    I3cTargetConfiguration configuration;
};
#pragma pack(pop)

static_assert(sizeof(I3cTargetInfo) == 16);
static_assert(offsetof(I3cTargetInfo, pid) == 2);
static_assert(offsetof(I3cTargetInfo, mwl) == 10);
static_assert(offsetof(I3cTargetInfo, configuration) == 15);

constexpr size_t I3C_TARGET_MEMORY_SIZE = 1024;
constexpr size_t I3C_BULK_MAX_PAYLOAD = 32767;

#pragma pack(push, 1)
// Fixed response parameter blocks (offsets 6.. of a response).
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
#pragma pack(pop)

static_assert(sizeof(I3cCccTransferParameters) == 4);
static_assert(sizeof(I3cTransferResponseParameters) == 4);
static_assert(sizeof(I3cTableHeaderParameters) == 1);
static_assert(sizeof(I3cTargetMemoryParameters) == 2);

// Each travels on the wire as its numeric value in one byte.
enum class I3cPushPullRate : int32_t {
    PUSH_PULL_2_5_MHZ_DC_10 = 0,
    PUSH_PULL_2_5_MHZ_DC_15 = 1,
    PUSH_PULL_2_5_MHZ_DC_20 = 2,
    PUSH_PULL_2_5_MHZ_DC_25 = 3,
    PUSH_PULL_3_125_MHZ_DC_12_5 = 4,
    PUSH_PULL_3_125_MHZ_DC_18_75 = 5,
    PUSH_PULL_3_125_MHZ_DC_25 = 6,
    PUSH_PULL_3_125_MHZ_DC_31_25 = 7,
    PUSH_PULL_5_MHZ_DC_20 = 8,
    PUSH_PULL_5_MHZ_DC_30 = 9,
    PUSH_PULL_5_MHZ_DC_40 = 10,
    PUSH_PULL_5_MHZ_DC_50 = 11,
    PUSH_PULL_6_25_MHZ_DC_25 = 12,
    PUSH_PULL_6_25_MHZ_DC_37_5 = 13,
    PUSH_PULL_6_25_MHZ_DC_50 = 14,
    PUSH_PULL_7_5_MHZ_DC_30 = 15,
    PUSH_PULL_7_5_MHZ_DC_45 = 16,
    PUSH_PULL_10_MHZ_DC_40 = 17,
    PUSH_PULL_12_5_MHZ_DC_50 = 18,
    PUSH_PULL_1_MHZ_DC_40 = 19,
    PUSH_PULL_400_KHZ_DC_46 = 20,
    PUSH_PULL_100_KHZ_DC_34 = 21,
};

// The open-drain clock of I3C transfers (published to Python as
// I3cOpenDrainRate, the name it also keeps here).
enum class I3cOpenDrainTransferRate : int32_t {
    OPEN_DRAIN_100_KHZ = 0,
    OPEN_DRAIN_400_KHZ = 1,
    OPEN_DRAIN_1_MHZ = 2,
    OPEN_DRAIN_2_MHZ = 3,
    OPEN_DRAIN_4_17_MHZ = 4,
};

// The open-drain rate used for legacy I2C devices on the I3C bus (published
// to Python as I2cOpenDrainRate, the name it also keeps here).
enum class I2cTransferRate : int32_t {
    STANDARD_MODE = 0,
    FAST_MODE = 1,
    FAST_MODE_PLUS = 2,
    HIGH_SPEED_MODE = 3,
    ULTRA_FAST_MODE = 4,
};

using I3cOpenDrainRate = I3cOpenDrainTransferRate;
using I2cOpenDrainRate = I2cTransferRate;

enum class I3cDriveStrength : int32_t {
    STANDARD = 0,
    FAST = 1,
};

enum class I3cTransferFlags : int32_t {
    NONE = 0,
    NONSTOP = 1,
    SKIP_EXIT_PATTERN = 1,
    START_WITH_7E = 2,
};

enum class I3cTransferDirection : int32_t {
    WRITE = 0,
    READ = 1,
};

// Chosen by the transfer operation; bits 1-2 of a control byte.
enum class I3cTransferMode : int32_t {
    SDR = 0,
    HDR_DDR = 1,
    LEGACY_I2C = 2,
};

// Whether a common command carries a defining byte; bits 4-7 of its control
// byte.
enum class I3cCccType : int32_t {
    WITHOUT_DEFINING_BYTE = 0,
    WITH_DEFINING_BYTE = 1,
};

// The MIPI I3C common command codes the SDK names; any other 8-bit code may
// be sent through i3cCccTransfer.
enum class CCC : uint8_t {
    ENEC_BROADCAST = 0x00,
    DISEC_BROADCAST = 0x01,
    ENTAS0_BROADCAST = 0x02,
    ENTAS1_BROADCAST = 0x03,
    ENTAS2_BROADCAST = 0x04,
    ENTAS3_BROADCAST = 0x05,
    RSTDAA = 0x06,
    ENTDAA = 0x07,
    SETMWL_BROADCAST = 0x09,
    SETMRL_BROADCAST = 0x0A,
    SETBUSCON = 0x0C,
    SETXTIME_BROADCAST = 0x28,
    SETAASA = 0x29,
    RSTACT_BROADCAST = 0x2A,
    RSTGRPA_BROADCAST = 0x2C,
    ENEC_DIRECT = 0x80,
    DISEC_DIRECT = 0x81,
    ENTAS0_DIRECT = 0x82,
    ENTAS1_DIRECT = 0x83,
    ENTAS2_DIRECT = 0x84,
    ENTAS3_DIRECT = 0x85,
    SETDASA = 0x87,
    SETNEWDA = 0x88,
    SETMWL_DIRECT = 0x89,
    SETMRL_DIRECT = 0x8A,
    GETMWL = 0x8B,
    GETMRL = 0x8C,
    GETPID = 0x8D,
    GETBCR = 0x8E,
    GETDCR = 0x8F,
    GETSTATUS = 0x90,
    GETMXDS = 0x94,
    GETCAPS = 0x95,
    SETXTIME_DIRECT = 0x98,
    GETXTIME = 0x99,
    RSTACT_DIRECT = 0x9A,
    SETGRPA = 0x9B,
    RSTGRPA_DIRECT = 0x9C,
};

enum class I3cTargetResetDefByte : int32_t {
    NO_RESET = 0,
    RESET_I3C_PERIPHERAL = 1,
    RESET_WHOLE_TARGET = 2,
    RESET_DEBUG_NETWORK = 3,
    VIRTUAL_TARGET_DETECT = 4,
    RETURN_TIME_RESET_PERIPHERAL = 129,
    RETURN_TIME_RESET_WHOLE_TARGET = 130,
    RETURN_TIME_DEBUG_NETWORK_RESET = 131,
    RETURN_VIRTUAL_TARGET_INDICATION = 132,
};

enum class I3cEvent : int32_t {
    IBI = 1,
    CR = 2,
    HJ = 8,
};

enum class I3cTargetMemoryLayout : int32_t {
    MEMORY_1_BYTE_X_1024_REGS = 0,
    MEMORY_2_BYTES_X_512_REGS = 1,
    MEMORY_4_BYTES_X_256_REGS = 2,
};

enum class I3cTargetDcr : int32_t {
    SECONDARY_CONTROLLER = 196,
    MEMORY = 197,
    MICROCONTROLLER = 198,
};

enum class I3cTargetBusEventKind : int32_t {
    WRITE_TRANSFER = 0,
    READ_TRANSFER = 1,
    CCC_TRANSFER = 2,
    DYN_ADDR_CHANGE = 3,
};

namespace i3c {

inline constexpr CommandInfo kControllerInit = statusOnlyCommand(0x1901);
inline constexpr CommandInfo kSetParameters = statusOnlyCommand(0x1902);
inline constexpr CommandInfo kInitBus = statusOnlyCommand(0x1904);
inline constexpr CommandInfo kResetBus = statusOnlyCommand(0x1905);
// The table header (entry count) must be present; the entries are checked
// against it by the decoder.
inline constexpr CommandInfo kGetDeviceTable =
    commandWithResponse(0x1906, sizeof(I3cTableHeaderParameters));
inline constexpr CommandInfo kSetTargetDeviceConfiguration = statusOnlyCommand(0x1907);
// Private transfers over HID; a read delivers the data as far as present.
inline constexpr CommandInfo kTransfer = commandWithResponse(0x1908, 0);
// One generic command carries every common command code; its decoders are
// described with the common-command table (I3cCcc.cpp).
inline constexpr uint16_t kCccCode = 0x1909;
inline constexpr CommandInfo kBusPattern = statusOnlyCommand(0x190A);
// Private transfers whose data phase runs over the bulk interface.
inline constexpr CommandInfo kTransferBulk = bulkCommand(0x190B);

// Selector byte of kBusPattern.
constexpr uint8_t kTargetResetPattern = 0;
constexpr uint8_t kHdrExitPattern = 1;

constexpr uint8_t kBroadcastAddress = 0x7E;
// Addresses are 7-bit; SETDASA, SETNEWDA and SETGRPA carry one shifted left
// by one in a single byte.
constexpr uint8_t kMaxAddress = 0x7F;
constexpr size_t kMaxSubaddressBytes = 4;
// Count and length fields one byte wide.
constexpr size_t kMaxInitBusTargets = 255;
constexpr size_t kMaxCccData = 255;
// ENTDAA announces 16 bytes per target in its one-byte length.
constexpr size_t kMaxEntdaaTargets = kMaxCccData / sizeof(I3cTargetInfo);
// HID writes announce their data in a u16.
constexpr size_t kMaxHidWriteData = 65535;
// HDR-DDR moves whole 16-bit words, at least one, over either channel; the
// bulk interface takes at most 1024 bytes of them.
constexpr size_t kHdrDdrWordBytes = 2;
constexpr size_t kHdrDdrBulkMax = 1024;

// Bytes of a private transfer request after the command code.
constexpr size_t kTransferHeaderBytes = 10;

// Response offsets, header included.
constexpr size_t kTransferCountOffset =
    kResponseHeaderSize + offsetof(I3cTransferResponseParameters, length);
constexpr size_t kTransferDataOffset = kResponseHeaderSize + sizeof(I3cTransferResponseParameters);
// Common command responses: the host reads one count byte and the data.
constexpr size_t kCccCountOffset = kResponseHeaderSize + 3;
constexpr size_t kCccDataOffset = kResponseHeaderSize + sizeof(I3cCccTransferParameters);
constexpr size_t kTableCountOffset = kResponseHeaderSize;
constexpr size_t kTableEntriesOffset = kResponseHeaderSize + sizeof(I3cTableHeaderParameters);

// Control byte of a private transfer: direction in bit 0, mode in bits 1-2,
// the flags from bit 3 on.
constexpr uint8_t transferControl(I3cTransferDirection direction, I3cTransferMode mode,
                                  I3cTransferFlags flags) {
    return static_cast<uint8_t>((static_cast<unsigned>(flags) * 8 +
                                 static_cast<unsigned>(mode) * 2 +
                                 static_cast<unsigned>(direction)) &
                                0xFF);
}

// Control byte of a common command: as a transfer's, but only the NONSTOP
// bit of the flags, and the command type in bits 4-7.
constexpr uint8_t cccControl(I3cTransferDirection direction, I3cTransferMode mode,
                             I3cTransferFlags flags, I3cCccType type) {
    return static_cast<uint8_t>(
        (static_cast<unsigned>(type) * 16 + (static_cast<unsigned>(flags) & 1) * 8 +
         static_cast<unsigned>(mode) * 2 + static_cast<unsigned>(direction)) &
        0xFF);
}

}  // namespace i3c

// Bit of the bulk transfer command in its group's supported-command mask.
constexpr uint32_t CMD_I3C_CONTROLLER_TRANSFER_BULK = i3c::kTransferBulk.bulkMaskBit;

}  // namespace vantor
