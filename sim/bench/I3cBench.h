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

#include "sim/VirtualAdapterCore.h"
#include "sim/records/I3cRecords.h"

namespace vantor::sim {

class I2cTarget;          // "sim/devices/I2cDevices.h"
struct I2cEepromOptions;  // "sim/records/I2cRecords.h"
struct I2cDeviceInfo;     // "sim/records/I2cRecords.h"

class I3cBench {
  public:
    static constexpr uint8_t kLvPort = kI3cLvPort;
    static constexpr uint8_t kHvPort = kI3cHvPort;
    static constexpr uint8_t kNoConnector = kI3cNoConnector;

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
