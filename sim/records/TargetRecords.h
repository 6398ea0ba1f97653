// SPDX-License-Identifier: MIT
#pragma once
// The adapter's target roles: what the host set the I2C, SPI and I3C
// targets to, what a transaction of an external controller met on the bus,
// and the answer of a host command run straight on the firmware.
//
// Plain data, shared by the firmware, the devices and the bench.

#include <cstdint>
#include <string>

#include "sim/usb/Wire.h"

namespace vantor::sim {

// What the host set the I2C target to (values as on the wire).
struct I2cTargetState {
    bool active = false;
    uint8_t bus = 0;
    uint16_t address = 0;
    uint8_t addressMode = 0;   // 0: 7-bit, 1: 10-bit
    uint8_t memoryLayout = 0;  // 0: 8-bit memory addresses, 1: 16-bit
    uint8_t model = 0;         // 0 memory, 1 EEPROM, 2 register map
    uint32_t memorySize = 0;
    uint16_t pageSize = 0;  // EEPROM only
    uint32_t writeCycleUs = 0;
    uint32_t eraseCycleUs = 0;
    uint8_t busyBehavior = 0;  // 0: NACK, 1: clock stretching
    uint8_t erasedValue = 0xFF;
    uint16_t wpStart = 0;  // write-protected [wpStart, wpEnd); empty when wpEnd <= wpStart
    uint16_t wpEnd = 0;
};

// What one I2C transaction of the external controller met on the bus.
struct I2cBusTransaction {
    bool addressAck = false;   // the target answered its address
    bool ack = false;          // ... and every byte written
    std::string data;          // the bytes read
    uint32_t stretchedUs = 0;  // time the target held the clock low
};

// What the host set the SPI target to (values as on the wire).
struct SpiTargetState {
    bool active = false;
    uint8_t mode = 0;
    uint8_t bitOrder = 0;  // 0: MSB first, 1: LSB first
    uint8_t chipSelect = 0;
    uint8_t chipSelectPolarity = 0;  // 0: active low, 1: active high
    uint8_t model = 0;               // 0 memory, 1 flash, 2 register map
    uint8_t engine = 0;
    uint32_t memorySize = 0;
    uint8_t addressBytes = 3;  // flash only
    uint16_t pageSize = 256;
    uint32_t writeCycleUs = 0;
    std::string jedecId;
    uint8_t flags = 0;
};

// How the external SPI controller drives one frame; -1 takes the target's own
// setting (so that the frame reaches it as configured).
struct SpiFrameSettings {
    int chipSelect = -1;
    int mode = -1;
    int bitOrder = -1;
    int chipSelectPolarity = -1;
};

// What the host set the I3C target to.
struct I3cTargetRoleState {
    bool active = false;
    uint8_t layout = 0;  // register width: 0 one byte, 1 two, 2 four
    std::string pid;     // 6 bytes, most significant first
    uint8_t bcr = 0;
    uint8_t dcr = 0;
    uint8_t staticAddress = 0;
    uint8_t dynamicAddress = 0;  // 0: none assigned
    uint16_t mwl = 0;
    uint16_t mrl = 0;
};

// What one I3C transaction of the external controller met on the bus.
struct I3cBusTransaction {
    bool ack = false;
    std::string data;  // the bytes read (private read, CCC GET, ENTDAA's id)
};

// A host command run by the bench straight on the firmware: its response
// message and the bytes its data phase put on bulk IN.
struct HostCommandResult {
    Bytes response;
    Bytes bulkIn;
};

}  // namespace vantor::sim
