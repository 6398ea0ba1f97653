// SPDX-License-Identifier: MIT
#pragma once
// Devices on the adapter's two I2C controller buses, and what the host set
// the buses to.
//
// A 7-bit address is 0x08..0x77; addresses above 0x7F (up to 0x3FF), and
// any address with `tenBit`, are 10-bit. Commands carry 7-bit addresses
// only, so 10-bit targets answer scans, not transfers. Devices are outside
// the adapter: they keep their contents across resets and unplugging.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/VirtualAdapterCore.h"
#include "sim/records/I2cRecords.h"

namespace vantor::sim {

class I2cTarget;  // "sim/devices/I2cDevices.h"

// Fills kind, size, page size and address width from the device itself.
void describeI2cDevice(const I2cTarget& target, I2cDeviceInfo& info);

class I2cBench {
  public:
    explicit I2cBench(VirtualAdapter::State& state) : state_(state) {}
    I2cBench(const I2cBench&) = delete;
    I2cBench& operator=(const I2cBench&) = delete;

    // Attaching fails (false) on an invalid bus, address or option, or an
    // address already taken.
    bool attachEeprom(uint8_t bus, uint16_t address, const I2cEepromOptions& options = {},
                      bool tenBit = false);
    // 256 registers with 1-byte register addresses and auto-increment.
    bool attachRegisterMap(uint8_t bus, uint16_t address, bool tenBit = false);
    // A target of the caller's own; touch it only through the bench while
    // the adapter may be in use.
    bool attach(uint8_t bus, uint16_t address, std::shared_ptr<I2cTarget> target,
                bool tenBit = false);
    bool detach(uint8_t bus, uint16_t address, bool tenBit = false);
    // A target's memory (EEPROM contents, the 256 registers); empty when
    // nothing is attached there.
    Bytes memory(uint8_t bus, uint16_t address, bool tenBit = false) const;
    // Changes a target's memory directly (no page rules); false when there
    // is no such target or the bytes do not fit.
    bool writeMemory(uint8_t bus, uint16_t address, size_t offset, const Bytes& data,
                     bool tenBit = false);
    I2cBusState bus(uint8_t number) const;
    // Every attached device: bus 0 first, on each bus 7-bit addresses before
    // 10-bit ones, each in address order.
    std::vector<I2cDeviceInfo> devices() const;

  private:
    VirtualAdapter::State& state_;
};

}  // namespace vantor::sim
