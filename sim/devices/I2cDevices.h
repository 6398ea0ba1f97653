// SPDX-License-Identifier: MIT
#pragma once
// Virtual I2C targets for the virtual adapter's controller buses.
//
// A target sees a transfer as a byte stream: a write transfer carries the
// subaddress bytes (most significant first) and then the data; a read
// transfer writes the subaddress bytes, then reads. Targets are called with
// the firmware mutex held.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/records/I2cRecords.h"
#include "sim/timing/TimingModel.h"
#include "sim/usb/Wire.h"

namespace vantor::sim {

class I2cTarget {
  public:
    virtual ~I2cTarget() = default;

    // A write transfer. Returns a firmware status (0: every byte acknowledged).
    virtual uint16_t write(const uint8_t* subaddress, size_t subaddressSize, const uint8_t* data,
                           size_t size) = 0;
    // A read transfer of `size` bytes into `out`; without subaddress bytes
    // the target reads from where its address pointer stands.
    virtual uint16_t read(const uint8_t* subaddress, size_t subaddressSize, uint8_t* out,
                          size_t size) = 0;

    // Whether the target acknowledges its address for the transfer about to
    // start; false while it is busy (an EEPROM's write cycle). Called once
    // per transfer addressed to it.
    virtual bool acknowledge() { return true; }

    // The target's memory, for the bench; empty when it has none.
    virtual Bytes memory() const { return {}; }
    // Changes the memory directly; false when it does not fit.
    virtual bool writeMemory(size_t /*offset*/, const uint8_t* /*data*/, size_t /*size*/) {
        return false;
    }
};

// A byte-addressed memory with an address pointer: the base of the EEPROM
// and the register map. The first `addressBytes` bytes of a write (subaddress
// bytes first) set the pointer; a read with at least that many subaddress
// bytes sets it from them before reading. Reads run on sequentially and wrap
// at the end of memory.
class I2cPointerMemory : public I2cTarget {
  public:
    uint16_t read(const uint8_t* subaddress, size_t subaddressSize, uint8_t* out,
                  size_t size) override;
    Bytes memory() const override { return memory_; }
    bool writeMemory(size_t offset, const uint8_t* data, size_t size) override;

    size_t pointer() const { return pointer_; }

  protected:
    I2cPointerMemory(size_t size, uint8_t fill, uint8_t addressBytes);

    // The memory address formed by the first `addressBytes` stream bytes.
    size_t addressFrom(const uint8_t* subaddress, size_t subaddressSize, const uint8_t* data) const;

    Bytes memory_;
    uint8_t addressBytes_;
    size_t pointer_ = 0;
};

// A serial EEPROM. Page writes wrap at the page boundary (bytes past the end
// of the page overwrite its start); a write of only the memory address sets
// the pointer for a following read without subaddress. A write that stores
// data starts the write cycle: the next `writeCycleNacks` transfers are not
// acknowledged, which is what acknowledge polling waits out.
class I2cEeprom final : public I2cPointerMemory {
  public:
    // `options` must be `valid`.
    explicit I2cEeprom(const I2cEepromOptions& options);
    static bool valid(const I2cEepromOptions& options);

    uint16_t write(const uint8_t* subaddress, size_t subaddressSize, const uint8_t* data,
                   size_t size) override;
    bool acknowledge() override;

    uint16_t read(const uint8_t* subaddress, size_t subaddressSize, uint8_t* out,
                  size_t size) override;

    I2cEepromOptions options() const {
        return I2cEepromOptions{memory_.size(), pageSize_, addressBytes_, writeCycleNacks_};
    }

  private:
    // With timing on, a write that stored data starts the internal write
    // cycle; until it ends the device does not acknowledge its address, so
    // a host polls with address-only writes. (Untimed, writes complete at
    // once.)
    bool inWriteCycle() const;

    size_t pageSize_;
    unsigned writeCycleNacks_;
    unsigned nacksLeft_ = 0;
    std::optional<timing::Nanos> writeCycleEnd_;
};

// 256 registers with 1-byte register addresses. Writes and reads
// auto-increment the register pointer, wrapping from 0xFF to 0x00.
class I2cRegisterMap final : public I2cPointerMemory {
  public:
    static constexpr size_t kRegisters = 256;

    I2cRegisterMap();

    uint16_t write(const uint8_t* subaddress, size_t subaddressSize, const uint8_t* data,
                   size_t size) override;
};

}  // namespace vantor::sim
