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

#include "sim/VirtualAdapter.h"

namespace vantor::sim {

class I2cTarget;  // "sim/devices/I2cDevices.h"

// A serial EEPROM on an I2C bus.
struct I2cEepromOptions {
    size_t size = 256;         // bytes; a multiple of the page size
    size_t pageSize = 16;      // a page write wraps at this boundary
    uint8_t addressBytes = 1;  // memory address width: 1 (up to 256 bytes) or 2 (up to 64 KiB)
};

// What a device attached by the bench is.
enum class I2cDeviceKind : uint8_t {
    Eeprom,
    RegisterMap,
    Other,  // a target of the caller's own
};

// An attached I2C device as the bench reports it.
struct I2cDeviceInfo {
    uint8_t bus = 0;  // always 0 on the I3C bus
    uint16_t address = 0;
    bool tenBit = false;
    I2cDeviceKind kind = I2cDeviceKind::Other;
    size_t size = 0;           // memory bytes (256 for a register map, 0 without memory)
    size_t pageSize = 0;       // an EEPROM's page; 0 for the other kinds
    uint8_t addressBytes = 0;  // an EEPROM's memory address width; 1 for a register map
};

// Fills kind, size, page size and address width from the device itself.
void describeI2cDevice(const I2cTarget& target, I2cDeviceInfo& info);

// What an I2C controller bus is set to (bus 0 or 1).
struct I2cBusState {
    bool initialized = false;
    uint32_t frequencyHz = 0;
    uint8_t pullUp = 0;  // the pull-up selection, 0..12
};

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
