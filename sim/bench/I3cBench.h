// SPDX-License-Identifier: MIT
#pragma once
// The adapter's I3C bus as the bench sees it: I3C targets and legacy I2C
// devices attached to it, what the controller set them to, the controller's
// table of targets, the events a target raises (in-band interrupts, hot-join
// requests), and the two I3C ports with their connectors and supplies.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sim/VirtualAdapter.h"

namespace vantor::sim {

class I2cTarget;          // "sim/devices/I2cDevices.h"
struct I2cEepromOptions;  // "sim/bench/I2cBench.h"
struct I2cDeviceInfo;     // "sim/bench/I2cBench.h"

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

class I3cBench {
  public:
    static constexpr uint8_t kLvPort = 0;
    static constexpr uint8_t kHvPort = 1;
    static constexpr uint8_t kNoConnector = 4;

    explicit I3cBench(VirtualAdapter::State& state) : state_(state) {}
    I3cBench(const I3cBench&) = delete;
    I3cBench& operator=(const I3cBench&) = delete;

    // Nothing when the options are invalid, or the id or the static address is
    // taken (by another target or a legacy I2C device).
    std::optional<I3cTargetState> attachTarget(const I3cTargetOptions& options);
    bool detachTarget(uint64_t pid);
    std::optional<I3cTargetState> target(uint64_t pid) const;
    std::vector<I3cTargetState> targets() const;  // by provisioned id
    Bytes memory(uint64_t pid) const;             // empty when there is no such target
    bool writeMemory(uint64_t pid, size_t offset, const Bytes& data);

    // An in-band interrupt with its payload (the mandatory data byte first).
    I3cEventOutcome raiseIbi(uint64_t pid, const Bytes& payload);
    // An attached target without a dynamic address asks to join.
    I3cEventOutcome requestHotJoin(uint64_t pid);

    // Legacy I2C devices on the I3C bus (7-bit addresses 0x08..0x77, not
    // taken by a target's static address).
    bool attachI2cEeprom(uint8_t address);  // 256 bytes, 16-byte pages
    bool attachI2cEeprom(uint8_t address, const I2cEepromOptions& options);
    bool attachI2cRegisterMap(uint8_t address);
    bool attachI2c(uint8_t address, std::shared_ptr<I2cTarget> device);
    bool detachI2c(uint8_t address);
    Bytes i2cMemory(uint8_t address) const;
    // The legacy I2C devices, in address order (bus 0, 7-bit).
    std::vector<I2cDeviceInfo> i2cDevices() const;

    // Connector insertion and removal, reported to the host; false when the
    // port is already in that state or does not exist.
    bool plugConnector(uint8_t port, uint8_t connectorType = 1);
    bool unplugConnector(uint8_t port);
    // The supply a target board puts on a port (0: none).
    bool setExternalSupply(uint8_t port, uint16_t millivolts);
    I3cPortsState ports() const;

    I3cControllerState controller() const;
    std::vector<I3cTableEntry> deviceTable() const;

  private:
    VirtualAdapter::State& state_;
};

}  // namespace vantor::sim
