// SPDX-License-Identifier: MIT
#pragma once
// The I2C target family of the virtual adapter's firmware: the adapter
// answers on one of its I2C buses as a plain memory, an EEPROM or a register
// map. The host configures it and moves the memory over the vendor bulk
// interface; the bench's external controller drives the bus side, and every
// transaction the target answers (or refuses while busy or write-protected)
// is reported to the host as an I2C target bus event.

#include <cstddef>
#include <cstdint>

#include "sim/firmware/Firmware.h"
#include "sim/firmware/MemoryTargetFamily.h"
#include "sim/records/TargetRecords.h"

namespace vantor::sim {

namespace i2c_target::cmd {
constexpr uint16_t kInit = 0x0A01;
constexpr uint16_t kSetParameters = 0x0A02;
constexpr uint16_t kWriteMemory = 0x0A03;
constexpr uint16_t kReadMemory = 0x0A04;
constexpr uint16_t kSetEepromConfig = 0x0A05;
constexpr uint16_t kErase = 0x0A06;
constexpr uint16_t kSetRegisterRegion = 0x0A07;
constexpr uint16_t kBusEvent = 0x0A81;  // notification
}  // namespace i2c_target::cmd

namespace i2c_target::status {
constexpr uint16_t kSurpassedMemorySize = 0x0211;
constexpr uint16_t kPayloadTransferFailed = 0x0212;
constexpr uint16_t kWrongModel = 0x0213;
constexpr uint16_t kInvalidConfig = 0x0214;
constexpr uint16_t kRegionTableFull = 0x0215;
constexpr uint16_t kRoleConflict = 0x0216;
}  // namespace i2c_target::status

// Byte 6 of the bus-event notification.
namespace i2c_target::event {
constexpr uint8_t kWrite = 0;           // bytes stored (or only the pointer set)
constexpr uint8_t kRead = 1;            // bytes read
constexpr uint8_t kBusyNack = 2;        // address refused during a write or erase cycle
constexpr uint8_t kWriteProtected = 3;  // data refused: it touched the protected range
}  // namespace i2c_target::event

class I2cTargetFirmware final : public MemoryTargetFamily {
  public:
    static constexpr size_t kSmallMemory = 256;    // 8-bit memory addresses
    static constexpr size_t kLargeMemory = 32768;  // 16-bit memory addresses
    static constexpr uint32_t kByteTimeUs = 90;    // 9 clocks at 100 kHz
    static constexpr uint32_t kDefaultCycleUs = 5000;

    I2cTargetFirmware();
    void reset() override;  // target role off, memory gone

    // Whether the target role holds `bus` (for the controller family).
    bool holds(uint8_t bus) const { return state_.active && state_.bus == bus; }

    // The bench (firmware mutex held).
    const I2cTargetState& state() const { return state_; }
    const Bytes& memory() const { return memory_.bytes(); }
    const std::vector<RegisterRegion>& regions() const { return memory_.regions(); }
    uint64_t clockUs() const { return clockUs_; }
    void advanceClock(uint32_t us) { clockUs_ += us; }
    bool busy() const { return clockUs_ < busyUntilUs_; }
    I2cBusTransaction busTransfer(Firmware& firmware, uint8_t bus, uint16_t address, bool tenBit,
                                  const Bytes& written, size_t readCount, bool read);

  private:
    bool configured() const override { return state_.active; }
    void configure(const Request& request, Firmware& firmware);
    void setEepromConfig(const Request& request, Firmware& firmware);
    void erase(const Request& request, Firmware& firmware);
    void setRegisterRegion(const Request& request, Firmware& firmware);

    // 0 when a configured target of `model` may take the command.
    uint16_t checkModel(uint8_t model) const;
    size_t addressBytes() const { return state_.memoryLayout == 0 ? 1 : 2; }
    bool isProtected(size_t address) const {
        return address >= state_.wpStart && address < state_.wpEnd;
    }
    // The write phase of a transaction; false when the data was refused.
    bool writePhase(Firmware& firmware, const Bytes& written, bool& startsCycle);
    void notify(Firmware& firmware, uint8_t event, size_t memoryAddress, const uint8_t* data,
                size_t size) const;

    I2cTargetState state_;
    size_t pointer_ = 0;
    uint64_t clockUs_ = 0;
    uint64_t busyUntilUs_ = 0;
};

}  // namespace vantor::sim
