// SPDX-License-Identifier: MIT
#pragma once
// Virtual SPI devices for the virtual adapter's SPI controller.
//
// A device sees one chip-select frame at a time: the bytes clocked out on
// MOSI while it was selected and the MISO buffer to drive. Bytes it does not
// drive stay as the caller filled them (0xFF: the line floats high).
// Devices are called with the firmware mutex held.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/records/SpiRecords.h"
#include "sim/timing/TimingModel.h"
#include "sim/usb/Wire.h"

namespace vantor::sim {

class SpiTarget {
  public:
    virtual ~SpiTarget() = default;

    // One frame of `size` bytes, full duplex.
    virtual void transfer(const uint8_t* mosi, uint8_t* miso, size_t size) = 0;

    // The device's memory, for the bench; empty when it has none.
    virtual Bytes memory() const { return {}; }
    // Changes the memory directly; false when it does not fit.
    virtual bool writeMemory(size_t /*offset*/, const uint8_t* /*data*/, size_t /*size*/) {
        return false;
    }
};

// A serial NOR flash with 3-byte addresses: JEDEC id (0x9F), read (0x03),
// write enable and disable (0x06, 0x04), page program (0x02: only 1 to 0
// bits, wrapping within the 256-byte page), erase of the 4 KiB sector
// (0x20), the 32 KiB block (0x52) or the 64 KiB block (0xD8) around the
// address, chip erase (0xC7 or 0x60) and the status register (0x05: bit 0
// busy, bit 1 write enable latch).
//
// Program and erase need the write enable latch and take effect when the
// frame ends. The device then stays busy: with the adapter's timing off, for
// the configured number of status bytes (counted, not timed, so that polling
// scripts and tests are deterministic); with timing on, for the operation's
// typical duration (timing::flashOperation). While busy it ignores every
// command but the status read. The latch clears when the operation completes.
class SpiFlash final : public SpiTarget {
  public:
    static constexpr size_t kPageSize = 256;
    static constexpr size_t kSectorSize = 4096;
    static constexpr size_t kBlock32KSize = 32 * 1024;
    static constexpr size_t kBlock64KSize = 64 * 1024;
    static constexpr size_t kMaxSize = 16 * 1024 * 1024;  // 3-byte addresses

    // `options` must be `valid`.
    explicit SpiFlash(const SpiFlashOptions& options);
    static bool valid(const SpiFlashOptions& options);

    void transfer(const uint8_t* mosi, uint8_t* miso, size_t size) override;
    Bytes memory() const override { return memory_; }
    bool writeMemory(size_t offset, const uint8_t* data, size_t size) override;

    uint8_t status() const;
    SpiFlashOptions options() const {
        return SpiFlashOptions{memory_.size(), jedecId_, busyPolls_};
    }

  private:
    size_t addressOf(const uint8_t* mosi) const;  // bytes 1..3 of a frame
    void pageProgram(size_t address, const uint8_t* data, size_t size);
    // Sets the `blockSize`-aligned block around `address` to 0xFF and
    // starts the `kind` of erase.
    void erase(size_t address, size_t blockSize, timing::FlashOperation kind);
    // A program or erase was started: busy for a while.
    void startOperation(timing::FlashOperation kind);
    // Ends a timed operation whose time has come; true while one is running.
    bool timedBusy();

    Bytes memory_;
    std::array<uint8_t, 3> jedecId_;
    unsigned busyPolls_;
    unsigned busyLeft_ = 0;
    std::optional<timing::Nanos> busyUntil_;  // a timed operation's end
    bool writeEnabled_ = false;
};

}  // namespace vantor::sim
