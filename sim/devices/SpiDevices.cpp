// SPDX-License-Identifier: MIT
#include "sim/devices/SpiDevices.h"

#include <algorithm>

namespace vantor::sim {

namespace {

constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kWriteDisable = 0x04;
constexpr uint8_t kReadStatus = 0x05;
constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kSectorErase = 0x20;
constexpr uint8_t kBlockErase32K = 0x52;
constexpr uint8_t kChipErase = 0x60;
constexpr uint8_t kChipEraseAlternate = 0xC7;
constexpr uint8_t kBlockErase64K = 0xD8;
constexpr uint8_t kJedecId = 0x9F;

constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusWriteEnabled = 0x02;
constexpr size_t kAddressedFrame = 4;  // command and 3 address bytes

}  // namespace

SpiFlash::SpiFlash(const SpiFlashOptions& options)
    : memory_(options.size, 0xFF), jedecId_(options.jedecId), busyPolls_(options.busyPolls) {}

bool SpiFlash::valid(const SpiFlashOptions& options) {
    return options.size > 0 && options.size <= kMaxSize && options.size % kSectorSize == 0;
}

uint8_t SpiFlash::status() const {
    return static_cast<uint8_t>((busyLeft_ > 0 || busyUntil_ ? kStatusBusy : 0) |
                                (writeEnabled_ ? kStatusWriteEnabled : 0));
}

size_t SpiFlash::addressOf(const uint8_t* mosi) const {
    const size_t address = (static_cast<size_t>(mosi[1]) << 16) |
                           (static_cast<size_t>(mosi[2]) << 8) | static_cast<size_t>(mosi[3]);
    return address % memory_.size();
}

void SpiFlash::transfer(const uint8_t* mosi, uint8_t* miso, size_t size) {
    if (size == 0) return;
    const uint8_t command = mosi[0];
    // A busy device answers nothing but its status.
    if ((busyLeft_ > 0 || timedBusy()) && command != kReadStatus) return;

    switch (command) {
        case kJedecId:
            for (size_t i = 1; i < size && i <= jedecId_.size(); ++i) miso[i] = jedecId_[i - 1];
            return;
        case kReadStatus:
            for (size_t i = 1; i < size; ++i) {
                miso[i] = status();
                if (busyLeft_ > 0 && --busyLeft_ == 0) writeEnabled_ = false;
            }
            return;
        case kWriteEnable:
            writeEnabled_ = true;
            return;
        case kWriteDisable:
            writeEnabled_ = false;
            return;
        case kRead:
            if (size <= kAddressedFrame) return;
            for (size_t i = kAddressedFrame, at = addressOf(mosi); i < size; ++i) {
                miso[i] = memory_[at];
                at = (at + 1) % memory_.size();
            }
            return;
        case kPageProgram:
            // Without the latch or without a single data byte nothing happens.
            if (!writeEnabled_ || size <= kAddressedFrame) return;
            pageProgram(addressOf(mosi), mosi + kAddressedFrame, size - kAddressedFrame);
            return;
        case kSectorErase:
        case kBlockErase32K:
        case kBlockErase64K:
            if (!writeEnabled_ || size < kAddressedFrame) return;
            if (command == kSectorErase) {
                erase(addressOf(mosi), kSectorSize, timing::FlashOperation::Erase4K);
            } else if (command == kBlockErase32K) {
                erase(addressOf(mosi), kBlock32KSize, timing::FlashOperation::Erase32K);
            } else {
                erase(addressOf(mosi), kBlock64KSize, timing::FlashOperation::Erase64K);
            }
            return;
        case kChipErase:
        case kChipEraseAlternate:
            if (!writeEnabled_) return;
            erase(0, memory_.size(), timing::FlashOperation::EraseChip);
            return;
        default:
            return;  // not a command of this device
    }
}

void SpiFlash::pageProgram(size_t address, const uint8_t* data, size_t size) {
    // The page buffer keeps the last 256 bytes clocked in; programming only
    // clears bits.
    const size_t pageStart = address - address % kPageSize;
    const size_t column = address % kPageSize;
    const size_t first = size > kPageSize ? size - kPageSize : 0;
    for (size_t i = first; i < size; ++i) {
        memory_[pageStart + (column + i) % kPageSize] &= data[i];
    }
    startOperation(timing::FlashOperation::PageProgram);
}

void SpiFlash::erase(size_t address, size_t blockSize, timing::FlashOperation kind) {
    // The block around the address; a flash smaller than one block loses
    // all of its memory.
    const size_t first = address - address % blockSize;
    const size_t end = std::min(first + blockSize, memory_.size());
    std::fill(memory_.begin() + static_cast<std::ptrdiff_t>(first),
              memory_.begin() + static_cast<std::ptrdiff_t>(end), 0xFF);
    startOperation(kind);
}

void SpiFlash::startOperation(timing::FlashOperation kind) {
    if (const auto now = timing::deviceNow()) {
        busyUntil_ = *now + timing::flashOperation(kind, memory_.size());
        return;
    }
    busyLeft_ = busyPolls_;
    if (busyLeft_ == 0) writeEnabled_ = false;
}

bool SpiFlash::timedBusy() {
    if (!busyUntil_) return false;
    // Outside a timed request (a bench call) there is no clock to wait for.
    const auto now = timing::deviceNow();
    if (now && *now < *busyUntil_) return true;
    busyUntil_.reset();
    writeEnabled_ = false;
    return false;
}

bool SpiFlash::writeMemory(size_t offset, const uint8_t* data, size_t size) {
    if (offset > memory_.size() || size > memory_.size() - offset) return false;
    std::copy(data, data + size, memory_.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

}  // namespace vantor::sim
