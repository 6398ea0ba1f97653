// SPDX-License-Identifier: MIT
#include "sim/devices/I2cDevices.h"

#include <algorithm>

namespace vantor::sim {

namespace {

constexpr uint8_t kErasedByte = 0xFF;
constexpr size_t kMaxOneByteAddressed = 256;
constexpr size_t kMaxTwoByteAddressed = 64 * 1024;
// The firmware's status for an address nobody acknowledged.
constexpr uint16_t kNackAddress = 0x0203;

// Byte `index` of the stream formed by the subaddress bytes and then the data.
uint8_t streamByte(const uint8_t* subaddress, size_t subaddressSize, const uint8_t* data,
                   size_t index) {
    return index < subaddressSize ? subaddress[index] : data[index - subaddressSize];
}

}  // namespace

// ------------------------------------------------------------ pointer memory

I2cPointerMemory::I2cPointerMemory(size_t size, uint8_t fill, uint8_t addressBytes)
    : memory_(size, fill), addressBytes_(addressBytes) {}

size_t I2cPointerMemory::addressFrom(const uint8_t* subaddress, size_t subaddressSize,
                                     const uint8_t* data) const {
    size_t address = 0;
    for (size_t i = 0; i < addressBytes_; ++i) {
        address = (address << 8) | streamByte(subaddress, subaddressSize, data, i);
    }
    return address % memory_.size();
}

uint16_t I2cPointerMemory::read(const uint8_t* subaddress, size_t subaddressSize, uint8_t* out,
                                size_t size) {
    // Fewer subaddress bytes than an address: the pointer is left alone.
    if (subaddressSize >= addressBytes_)
        pointer_ = addressFrom(subaddress, subaddressSize, nullptr);
    for (size_t i = 0; i < size; ++i) {
        out[i] = memory_[pointer_];
        pointer_ = (pointer_ + 1) % memory_.size();
    }
    return 0;
}

bool I2cPointerMemory::writeMemory(size_t offset, const uint8_t* data, size_t size) {
    if (offset > memory_.size() || size > memory_.size() - offset) return false;
    std::copy(data, data + size, memory_.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

// -------------------------------------------------------------------- EEPROM

I2cEeprom::I2cEeprom(const I2cEepromOptions& options)
    : I2cPointerMemory(options.size, kErasedByte, options.addressBytes),
      pageSize_(options.pageSize),
      writeCycleNacks_(options.writeCycleNacks) {}

bool I2cEeprom::acknowledge() {
    if (inWriteCycle()) return false;
    if (nacksLeft_ == 0) return true;
    --nacksLeft_;
    return false;
}

bool I2cEeprom::valid(const I2cEepromOptions& options) {
    const size_t limit = options.addressBytes == 1   ? kMaxOneByteAddressed
                         : options.addressBytes == 2 ? kMaxTwoByteAddressed
                                                     : 0;
    return options.size > 0 && options.size <= limit && options.pageSize > 0 &&
           options.size % options.pageSize == 0;
}

bool I2cEeprom::inWriteCycle() const {
    const auto now = timing::deviceNow();
    return writeCycleEnd_ && now && *now < *writeCycleEnd_;
}

uint16_t I2cEeprom::read(const uint8_t* subaddress, size_t subaddressSize, uint8_t* out,
                         size_t size) {
    if (inWriteCycle()) return kNackAddress;
    return I2cPointerMemory::read(subaddress, subaddressSize, out, size);
}

uint16_t I2cEeprom::write(const uint8_t* subaddress, size_t subaddressSize, const uint8_t* data,
                          size_t size) {
    if (inWriteCycle()) return kNackAddress;
    const size_t total = subaddressSize + size;
    // An incomplete memory address (a bare address probe included) changes nothing.
    if (total < addressBytes_) return 0;
    const size_t address = addressFrom(subaddress, subaddressSize, data);
    const size_t pageStart = address - address % pageSize_;
    const size_t column = address % pageSize_;
    const size_t count = total - addressBytes_;
    for (size_t i = 0; i < count; ++i) {
        memory_[pageStart + (column + i) % pageSize_] =
            streamByte(subaddress, subaddressSize, data, addressBytes_ + i);
    }
    pointer_ = pageStart + (column + count) % pageSize_;
    if (count > 0) {
        nacksLeft_ = writeCycleNacks_;
        // The cycle starts at the stop condition that ends the transfer.
        if (const auto end = timing::transferEnd())
            writeCycleEnd_ = *end + timing::kEepromWriteCycle;
    }
    return 0;
}

// -------------------------------------------------------------- register map

I2cRegisterMap::I2cRegisterMap() : I2cPointerMemory(kRegisters, 0x00, 1) {}

uint16_t I2cRegisterMap::write(const uint8_t* subaddress, size_t subaddressSize,
                               const uint8_t* data, size_t size) {
    const size_t total = subaddressSize + size;
    if (total == 0) return 0;
    pointer_ = addressFrom(subaddress, subaddressSize, data);
    for (size_t i = 1; i < total; ++i) {
        memory_[pointer_] = streamByte(subaddress, subaddressSize, data, i);
        pointer_ = (pointer_ + 1) % kRegisters;
    }
    return 0;
}

}  // namespace vantor::sim
