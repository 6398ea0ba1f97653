// SPDX-License-Identifier: MIT
#pragma once
// The I2C controller buses' records: the options an EEPROM is made with, an
// attached device as the bench reports it, and what the host set a bus to.
//
// Plain data, shared by the firmware, the devices and the bench.

#include <cstddef>
#include <cstdint>

namespace vantor::sim {

// A serial EEPROM on an I2C bus.
struct I2cEepromOptions {
    size_t size = 256;         // bytes; a multiple of the page size
    size_t pageSize = 16;      // a page write wraps at this boundary
    uint8_t addressBytes = 1;  // memory address width: 1 (up to 256 bytes) or 2 (up to 64 KiB)
    // After a write that stores data, this many transfers addressed to the
    // EEPROM are not acknowledged (its write cycle); counted, not timed.
    unsigned writeCycleNacks = 0;
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

// What an I2C controller bus is set to (bus 0 or 1).
struct I2cBusState {
    bool initialized = false;
    uint32_t frequencyHz = 0;
    uint8_t pullUp = 0;  // the pull-up selection, 0..12
};

}  // namespace vantor::sim
