// SPDX-License-Identifier: MIT
#pragma once
// The I3C target family: the adapter's identity on an external I3C bus and
// its 1024-byte target memory. The memory layouts, device characteristics
// and bus-event kinds are with the other I3C enumerations (I3cTypes.h).

#include <cstddef>
#include <cstdint>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"
#include "sdk/i3c/I3cTypes.h"

namespace vantor {

// The bus characteristics register the target presents. The host sends
// `value` unchanged; `bits` names its fields for the caller's convenience
// (their meaning is the adapter's).
union I3cBCR {
    uint8_t value;
    struct {
        uint8_t maxDataSpeedLimitation : 1;
        uint8_t ibiRequestCapable : 1;
        uint8_t ibiPayload : 1;
        uint8_t offlineCapable : 1;
        uint8_t virtualTargetSupport : 1;
        uint8_t advancedCapabilities : 1;
        uint8_t deviceRole : 2;
    } bits;
};

static_assert(sizeof(I3cBCR) == 1);

namespace i3c_target {

inline constexpr CommandInfo kInit = statusOnlyCommand(0x1A01);
inline constexpr CommandInfo kSetParameters = statusOnlyCommand(0x1A02);
inline constexpr CommandInfo kWriteMemory = statusOnlyCommand(0x1A03);
// The read data is delivered as far as the response carries it.
inline constexpr CommandInfo kReadMemory = commandWithResponse(0x1A04, 0);

constexpr size_t kPidBytes = 6;
constexpr uint8_t kMaxStaticAddress = 127;
// MWL and MRL cannot exceed the target memory.
constexpr uint16_t kMaxTransferLength = I3C_TARGET_MEMORY_SIZE;
// Parameter bytes of the configuration request after the command code.
constexpr size_t kConfigurationBytes = 15;
// Parameter bytes of a memory request before its data.
constexpr size_t kMemoryHeaderBytes = 4;

// Response offsets, header included.
constexpr size_t kReadCountOffset =
    kResponseHeaderSize + offsetof(I3cTargetMemoryParameters, length);
constexpr size_t kReadDataOffset = kResponseHeaderSize + sizeof(I3cTargetMemoryParameters);

}  // namespace i3c_target

}  // namespace vantor
