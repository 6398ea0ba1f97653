// SPDX-License-Identifier: MIT
#include "sim/devices/TargetMemory.h"

namespace vantor::sim {

bool TargetMemory::hostWrite(size_t offset, const uint8_t* data, size_t size) {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    for (size_t i = 0; i < size; ++i) bytes_[offset + i] = data[i];
    return true;
}

bool TargetMemory::hostRead(size_t offset, size_t size, std::vector<uint8_t>& out) const {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    out.assign(bytes_.begin() + static_cast<long>(offset),
               bytes_.begin() + static_cast<long>(offset + size));
    return true;
}

bool TargetMemory::addRegion(const RegisterRegion& region) {
    if (regions_.size() >= kMaxRegions) return false;
    regions_.push_back(region);
    return true;
}

RegisterAccess TargetMemory::accessAt(size_t address) const {
    for (auto it = regions_.rbegin(); it != regions_.rend(); ++it) {
        if (address >= it->start && address <= it->end) {
            return static_cast<RegisterAccess>(it->access);
        }
    }
    return RegisterAccess::ReadWrite;
}

void TargetMemory::busWrite(size_t address, uint8_t value) {
    if (bytes_.empty()) return;
    address %= bytes_.size();
    switch (accessAt(address)) {
        case RegisterAccess::ReadWrite:
        case RegisterAccess::WriteOnly:
            bytes_[address] = value;
            break;
        case RegisterAccess::WriteOneClear:
            bytes_[address] = static_cast<uint8_t>(bytes_[address] & ~value);
            break;
        case RegisterAccess::ReadOnly:
        case RegisterAccess::ReadClear:
        case RegisterAccess::Reserved:
            break;
    }
}

uint8_t TargetMemory::busRead(size_t address) {
    if (bytes_.empty()) return 0xFF;
    address %= bytes_.size();
    switch (accessAt(address)) {
        case RegisterAccess::WriteOnly:
        case RegisterAccess::Reserved:
            return 0x00;
        case RegisterAccess::ReadClear: {
            const uint8_t value = bytes_[address];
            bytes_[address] = 0;
            return value;
        }
        default:
            return bytes_[address];
    }
}

}  // namespace vantor::sim
