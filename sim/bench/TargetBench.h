// SPDX-License-Identifier: MIT
#pragma once
// The adapter in its target roles, seen from the bench: what the host set the
// I2C, SPI and I3C targets to, their memory, and an external controller on
// each bus that performs transactions against the emulated target. Every
// transaction the target answers raises the target's bus-event notification
// towards the host, exactly as the host's own commands would see it.
//
// Time is virtual: a per-bus clock in microseconds, advanced by each byte on
// the bus (90 us per I2C byte, 8 us per SPI byte) and by `advanceClock`, so
// that write cycles and busy windows behave the same on every run.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/VirtualAdapterCore.h"
#include "sim/devices/TargetMemory.h"
#include "sim/records/TargetRecords.h"

namespace vantor::sim {

class I2cTargetController {
  public:
    explicit I2cTargetController(VirtualAdapter::State& state) : state_(state) {}
    I2cTargetController(const I2cTargetController&) = delete;
    I2cTargetController& operator=(const I2cTargetController&) = delete;

    // A write transaction: address, then `data` (the memory address bytes,
    // most significant first, then the bytes to store), then STOP.
    I2cBusTransaction write(uint16_t address, const Bytes& data, uint8_t bus = 0,
                            bool tenBit = false);
    // A read transaction of `count` bytes from the target's address pointer.
    I2cBusTransaction read(uint16_t address, size_t count, uint8_t bus = 0, bool tenBit = false);
    // A write, a repeated START and a read, then STOP.
    I2cBusTransaction writeRead(uint16_t address, const Bytes& data, size_t count, uint8_t bus = 0,
                                bool tenBit = false);

  private:
    VirtualAdapter::State& state_;
};

class I2cTargetBench {
  public:
    explicit I2cTargetBench(VirtualAdapter::State& state) : state_(state), controller_(state) {}
    I2cTargetBench(const I2cTargetBench&) = delete;
    I2cTargetBench& operator=(const I2cTargetBench&) = delete;

    // Runs a host command of this target family (`code` with its
    // parameters) straight on the firmware, as the host would send it; a
    // memory write takes its data from `bulkOut`. For setting up the target
    // without a host program; the answer is returned, not sent over USB.
    HostCommandResult command(uint16_t code, const Bytes& params, const Bytes& bulkOut = {});

    I2cTargetController& controller() { return controller_; }
    I2cTargetState state() const;
    Bytes memory() const;  // raw bytes, no access rules
    std::vector<RegisterRegion> regions() const;
    uint64_t clockUs() const;
    void advanceClock(uint32_t us);
    bool busy() const;  // an EEPROM write or erase cycle is running

  private:
    VirtualAdapter::State& state_;
    I2cTargetController controller_;
};

class SpiTargetController {
  public:
    explicit SpiTargetController(VirtualAdapter::State& state) : state_(state) {}
    SpiTargetController(const SpiTargetController&) = delete;
    SpiTargetController& operator=(const SpiTargetController&) = delete;

    // One chip-select frame, full duplex: what MISO carried (0xFF where the
    // target did not drive it).
    Bytes transfer(const Bytes& mosi, const SpiFrameSettings& settings = {});

  private:
    VirtualAdapter::State& state_;
};

class SpiTargetBench {
  public:
    explicit SpiTargetBench(VirtualAdapter::State& state) : state_(state), controller_(state) {}
    SpiTargetBench(const SpiTargetBench&) = delete;
    SpiTargetBench& operator=(const SpiTargetBench&) = delete;

    // Runs a host command of this target family (`code` with its
    // parameters) straight on the firmware, as the host would send it; a
    // memory write takes its data from `bulkOut`. For setting up the target
    // without a host program; the answer is returned, not sent over USB.
    HostCommandResult command(uint16_t code, const Bytes& params, const Bytes& bulkOut = {});

    SpiTargetController& controller() { return controller_; }
    SpiTargetState state() const;
    Bytes memory() const;
    // A register-map region (the SPI target has no command for them);
    // false when the table is full or the region does not fit.
    bool addRegion(const RegisterRegion& region);
    uint64_t clockUs() const;
    void advanceClock(uint32_t us);
    bool busy() const;  // a flash program or erase is running

  private:
    VirtualAdapter::State& state_;
    SpiTargetController controller_;
};

class I3cTargetController {
  public:
    explicit I3cTargetController(VirtualAdapter::State& state) : state_(state) {}
    I3cTargetController(const I3cTargetController&) = delete;
    I3cTargetController& operator=(const I3cTargetController&) = delete;

    // Direct SETDASA: the target at `staticAddress` takes `dynamicAddress`.
    I3cBusTransaction setdasa(uint8_t staticAddress, uint8_t dynamicAddress);
    // ENTDAA offering `dynamicAddress`: a target without a dynamic address
    // answers with its PID, BCR and DCR (8 bytes) and takes the address.
    I3cBusTransaction entdaa(uint8_t dynamicAddress);
    // Broadcast RSTDAA: dynamic addresses are forgotten.
    I3cBusTransaction rstdaa();
    // Private write: the register index (2 bytes, most significant first),
    // then the data.
    I3cBusTransaction privateWrite(uint8_t address, const Bytes& data);
    // Private read of up to `count` bytes from the register pointer; the
    // target ends the read at its MRL.
    I3cBusTransaction privateRead(uint8_t address, size_t count);
    // A direct GET CCC (GETMWL 0x8B, GETMRL 0x8C, GETPID 0x8D, GETBCR 0x8E,
    // GETDCR 0x8F) to `address`.
    I3cBusTransaction cccGet(uint8_t ccc, uint8_t address);

  private:
    VirtualAdapter::State& state_;
};

class I3cTargetBench {
  public:
    explicit I3cTargetBench(VirtualAdapter::State& state) : state_(state), controller_(state) {}
    I3cTargetBench(const I3cTargetBench&) = delete;
    I3cTargetBench& operator=(const I3cTargetBench&) = delete;

    // Runs a host command of this target family (`code` with its
    // parameters) straight on the firmware, as the host would send it; a
    // memory write takes its data from `bulkOut`. For setting up the target
    // without a host program; the answer is returned, not sent over USB.
    HostCommandResult command(uint16_t code, const Bytes& params, const Bytes& bulkOut = {});

    I3cTargetController& controller() { return controller_; }
    I3cTargetRoleState state() const;
    Bytes memory() const;

  private:
    VirtualAdapter::State& state_;
    I3cTargetController controller_;
};

}  // namespace vantor::sim
