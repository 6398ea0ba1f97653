// SPDX-License-Identifier: MIT
#pragma once
// The I2C controller family of the virtual adapter's firmware: two buses with
// their init state, register-style transfers over the command channel, the
// bus scan, and bulk transfers whose data moves over the vendor interface.
// The targets on the buses are `I2cTarget`s attached by the bench.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "sim/devices/I2cDevices.h"
#include "sim/firmware/Firmware.h"
#include "sim/records/I2cRecords.h"

namespace vantor::sim {

namespace i2c::cmd {
constexpr uint16_t kDeinit = 0x0801;
constexpr uint16_t kSetPullUps = 0x0802;
constexpr uint16_t kInit = 0x0901;
constexpr uint16_t kSetParameters = 0x0902;
constexpr uint16_t kWrite = 0x0904;
constexpr uint16_t kRead = 0x0905;
constexpr uint16_t kScan = 0x0906;
constexpr uint16_t kWriteBulk = 0x0907;
constexpr uint16_t kReadBulk = 0x0908;
}  // namespace i2c::cmd

namespace i2c::status {
constexpr uint16_t kNackAddress = 0x0203;
constexpr uint16_t kInvalidParameter = 0x020C;
}  // namespace i2c::status

class I2cFirmware final : public FirmwareFamily {
  public:
    static constexpr uint8_t kBuses = 2;
    static constexpr size_t kMaxTransfer = 1024;       // command channel
    static constexpr size_t kMaxBulkTransfer = 32768;  // vendor interface
    static constexpr uint32_t kMinFrequencyHz = 1000;
    static constexpr uint32_t kMaxFrequencyHz = 1000000;
    static constexpr uint8_t kMaxPullUp = 12;  // 12: pull-ups disabled

    I2cFirmware();
    void reset() override;  // both buses uninitialised; targets stay

    // The bench (firmware mutex held).
    bool attach(uint8_t bus, uint16_t address, bool tenBit, std::shared_ptr<I2cTarget> target);
    bool detach(uint8_t bus, uint16_t address, bool tenBit);
    I2cTarget* target(uint8_t bus, uint16_t address, bool tenBit) const;
    // The addresses of a bus's targets (10-bit ones flagged): 7-bit ones
    // first, each kind in address order.
    std::vector<std::pair<uint16_t, bool>> addresses(uint8_t bus) const;
    I2cBusState busState(uint8_t bus) const;

  private:
    // The 14-byte transfer header of 0x0904, 0x0905, 0x0907 and 0x0908.
    struct Transfer {
        uint16_t transactionId;
        uint16_t code;
        uint8_t bus;
        uint16_t length;
        uint8_t address;
        uint8_t subaddressSize;
        std::array<uint8_t, 4> subaddress;  // most significant byte first
    };
    struct Bus {
        I2cBusState state;
        // Keyed by address, 10-bit ones with kTenBitKey set: 7-bit targets
        // sort first, each kind in address order.
        std::map<uint16_t, std::shared_ptr<I2cTarget>> targets;
    };
    static constexpr uint16_t kTenBitKey = 0x8000;

    static Transfer parseTransfer(const Request& request);
    static std::optional<uint16_t> key(uint16_t address, bool tenBit);
    Bus* bus(uint8_t number);

    void configure(const Request& request, Firmware& firmware);
    void setPullUps(const Request& request, Firmware& firmware);
    void deinit(const Request& request, Firmware& firmware);
    void scan(const Request& request, Firmware& firmware);
    void write(const Request& request, Firmware& firmware);
    void read(const Request& request, Firmware& firmware);
    void writeBulk(const Request& request, Firmware& firmware);
    void readBulk(const Request& request, Firmware& firmware);

    // Checks common to every transfer; 0 when the transfer may go ahead.
    uint16_t checkTransfer(const Transfer& transfer, size_t maxLength) const;
    // The target a transfer addresses, or null (the address is not acknowledged).
    I2cTarget* addressed(const Transfer& transfer) const;
    // A transfer answer: the status, then the target address and the byte count.
    static MessageBuilder answer(const Transfer& transfer, uint16_t status, uint16_t count);
    // Bus time of a transfer that reached the bus: the address byte alone
    // when nobody acknowledged it, else the subaddress, written and read bytes.
    void spendBusTime(const Transfer& transfer, bool acknowledged, size_t written,
                      size_t read) const;
    // A write about to reach its target: when it will end (timing::transferEnd).
    void announceTransfer(const Transfer& transfer, size_t written) const;

    std::array<Bus, kBuses> buses_;
};

}  // namespace vantor::sim
