// SPDX-License-Identifier: MIT
#pragma once
// The memory behind the adapter's emulated targets (I2C, SPI and I3C target
// roles), with the access rules of register-map regions.
//
// The host's memory commands reach the bytes directly (`hostWrite`,
// `hostRead`); an external controller goes through `busWrite`/`busRead`,
// which apply the region rules. Called with the firmware mutex held.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor::sim {

// Access rule of a register region, as its byte on the wire.
enum class RegisterAccess : uint8_t {
    ReadWrite = 0,
    ReadOnly = 1,
    WriteOnly = 2,      // reads as 0x00
    ReadClear = 3,      // a bus read returns the value and clears it; bus writes ignored
    WriteOneClear = 4,  // a bus write clears the bits written as 1
    Reserved = 5,       // reads as 0x00, writes ignored
};

struct RegisterRegion {
    uint16_t start = 0;
    uint16_t end = 0;  // inclusive
    uint8_t access = 0;
    uint8_t width = 1;  // kept for the bench; rules apply byte by byte
    uint8_t flags = 0;  // kept for the bench
};

class TargetMemory {
  public:
    static constexpr size_t kMaxRegions = 16;

    explicit TargetMemory(size_t size = 0, uint8_t fill = 0) : bytes_(size, fill) {}

    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    void fill(uint8_t value) { bytes_.assign(bytes_.size(), value); }
    void resize(size_t size, uint8_t fill) {
        bytes_.assign(size, fill);
        regions_.clear();
    }

    // Host side: false when [offset, offset + size) is outside the memory.
    bool hostWrite(size_t offset, const uint8_t* data, size_t size);
    bool hostRead(size_t offset, size_t size, std::vector<uint8_t>& out) const;

    // Bus side, one byte at an address taken modulo the size. Without
    // regions every byte is read-write.
    void busWrite(size_t address, uint8_t value);
    uint8_t busRead(size_t address);
    // The raw byte, for models with rules of their own (EEPROM, flash).
    uint8_t& at(size_t address) { return bytes_[address % bytes_.size()]; }

    // Region table. `addRegion` refuses (false) a full table; the caller
    // checks the region itself. A later region wins where two overlap.
    bool addRegion(const RegisterRegion& region);
    const std::vector<RegisterRegion>& regions() const { return regions_; }
    void clearRegions() { regions_.clear(); }
    RegisterAccess accessAt(size_t address) const;

  private:
    std::vector<uint8_t> bytes_;
    std::vector<RegisterRegion> regions_;
};

}  // namespace vantor::sim
