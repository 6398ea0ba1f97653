// SPDX-License-Identifier: MIT
#pragma once
// The I3C bus's records: what a target is made of and what the controller
// set it to, the controller's table and settings, the two I3C ports, and
// what became of an event a target raised.
//
// Plain data, shared by the firmware, the devices and the bench.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace vantor::sim {

// The two I3C ports, and the connector type of a port with nothing plugged in.
constexpr uint8_t kI3cLvPort = 0;
constexpr uint8_t kI3cHvPort = 1;
constexpr uint8_t kI3cNoConnector = 4;

// What an I3C target is made of. A static address, when there is one, is a
// 7-bit I2C-style address (0x08..0x77).
struct I3cTargetOptions {
    uint64_t pid = 0;    // 48-bit provisioned id
    uint8_t bcr = 0x06;  // IBI capable, with payload
    uint8_t dcr = 0;
    std::optional<uint8_t> staticAddress;
    uint16_t mwl = 256;
    uint16_t mrl = 256;
    uint8_t maxIbiPayload = 0;              // only with a payload bit in BCR; 0: no limit
    size_t memorySize = 1024;               // 1..65536 bytes, zero-filled at attachment
    bool hdrDdr = true;                     // serves HDR-DDR transfers (GETCAPS says so)
    std::array<uint8_t, 5> maxDataSpeed{};  // the GETMXDS answer
};

// A target as the controller has set it.
struct I3cTargetState {
    uint64_t pid = 0;
    uint8_t bcr = 0;
    uint8_t dcr = 0;
    std::optional<uint8_t> staticAddress;
    std::optional<uint8_t> dynamicAddress;
    uint16_t mwl = 0;
    uint16_t mrl = 0;
    uint8_t maxIbiPayload = 0;
    uint8_t events = 0;  // enabled ENEC bits: 0x01 interrupts, 0x02 controller role, 0x08 hot-join
    uint8_t activityState = 0;  // the last ENTASx, 0..3
    std::optional<uint8_t> groupAddress;
    uint8_t resetAction = 0;        // the armed RSTACT defining byte
    bool pendingInterrupt = false;  // an interrupt refused while disabled, until GETSTATUS
};

// One entry of the controller's table of targets (as i3cGetDeviceTable reports it).
struct I3cTableEntry {
    uint8_t staticAddress = 0;  // 0: none
    uint8_t dynamicAddress = 0;
    uint64_t pid = 0;
    uint8_t bcr = 0;
    uint8_t dcr = 0;
    uint16_t mwl = 0;
    uint16_t mrl = 0;
    uint8_t maxIbiPayload = 0;
    uint8_t configuration = 0;
};

// What the host set the I3C controller to (values as on the wire).
struct I3cControllerState {
    bool initialized = false;
    uint8_t pushPullRate = 0;
    uint8_t openDrainRate = 0;
    uint8_t i2cRate = 0;
    uint8_t driveStrength = 0;
    bool hotJoinEnabled = true;  // broadcast ENEC/DISEC with the hot-join bit
    uint8_t busContext = 0;      // the last SETBUSCON context byte
};

// The two I3C ports (0 LV, 1 HV): their connectors, the voltage each carries,
// and the supplies a target board may put on them.
struct I3cPortsState {
    uint16_t lvMv = 0;
    uint16_t hvMv = 0;
    bool external = false;    // the host handed the ports to an external supply
    uint8_t lvConnector = 4;  // a connector type; 4: none plugged
    uint8_t hvConnector = 4;
    uint16_t lvExternalMv = 0;  // 0: no supply on the port
    uint16_t hvExternalMv = 0;
};

// What became of an event a target raised from the bench.
enum class I3cEventOutcome {
    Reported,        // the host got the notification
    Dropped,         // the notification was lost: an open handle's input queue was
                     // full, or no handle was open to receive it
    Disabled,        // the event is disabled; nothing reaches the host
    NoSuchTarget,    // no target with that id
    NotOnBus,        // an interrupt from a target without a dynamic address, or a
                     // hot-join from one that has one
    NotCapable,      // BCR does not allow the interrupt, or its payload
    PayloadTooLong,  // longer than the target's IBI payload size, or 255
};

}  // namespace vantor::sim
