#pragma once
// Records, limits and response layouts shared by the I3C command families.

#include <cstddef>
#include <cstdint>

namespace vantor {

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
    uint8_t configuration;
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

enum class I3cOpenDrainRate : int32_t {
    OPEN_DRAIN_100_KHZ = 0,
    OPEN_DRAIN_400_KHZ = 1,
    OPEN_DRAIN_1_MHZ = 2,
    OPEN_DRAIN_2_MHZ = 3,
    OPEN_DRAIN_4_17_MHZ = 4,
};

enum class I2cOpenDrainRate : int32_t {
    STANDARD_MODE = 0,
    FAST_MODE = 1,
    FAST_MODE_PLUS = 2,
    HIGH_SPEED_MODE = 3,
    ULTRA_FAST_MODE = 4,
};

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

}  // namespace vantor
