// SPDX-License-Identifier: MIT
#include "sim/devices/I3cDevices.h"

#include <algorithm>

namespace vantor::sim {

namespace {

constexpr uint64_t kPidMask = (uint64_t{1} << 48) - 1;
constexpr size_t kMaxMemory = 64 * 1024;
constexpr uint8_t kI3cVersion = 0x01;    // GETCAPS: I3C Basic v1.1
constexpr uint8_t kGroupCapable = 0x10;  // GETCAPS: one group address
constexpr uint8_t kHdrDdrMode = 0x01;    // GETCAPS: HDR-DDR

}  // namespace

I3cTarget::I3cTarget(const I3cTargetOptions& options)
    : options_(options),
      memory_(options.memorySize, 0),
      mwl_(options.mwl),
      mrl_(options.mrl),
      ibiPayload_(options.maxIbiPayload) {}

bool I3cTarget::valid(const I3cTargetOptions& options) {
    if (options.pid > kPidMask || options.memorySize == 0 || options.memorySize > kMaxMemory) {
        return false;
    }
    if (options.staticAddress && (*options.staticAddress < 0x08 || *options.staticAddress > 0x77)) {
        return false;
    }
    // The IBI payload size belongs to targets whose interrupts carry a payload.
    return options.maxIbiPayload == 0 || (options.bcr & i3c::bcr::kIbiPayload) != 0;
}

std::array<uint8_t, 6> I3cTarget::pidBytes() const {
    std::array<uint8_t, 6> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>((options_.pid >> (8 * (5 - i))) & 0xFF);
    }
    return bytes;
}

uint64_t I3cTarget::arbitrationKey() const {
    return (options_.pid << 16) | (static_cast<uint64_t>(options_.bcr) << 8) | options_.dcr;
}

void I3cTarget::setMrl(uint16_t mrl, std::optional<uint8_t> ibiPayload) {
    mrl_ = mrl;
    if (ibiPayload && (options_.bcr & i3c::bcr::kIbiPayload) != 0) ibiPayload_ = *ibiPayload;
}

bool I3cTarget::resetPattern() {
    const uint8_t action = resetAction_;
    resetAction_ = i3c::rstact::kResetPeripheral;
    switch (action) {
        case i3c::rstact::kResetPeripheral:
            // The I3C peripheral restarts: enables and activity state go back
            // to their defaults; the dynamic address is kept.
            events_ = i3c::event::kAll;
            activityState_ = 0;
            pendingInterrupt_ = false;
            return false;
        case i3c::rstact::kResetWholeTarget:
            resetBusState();
            return true;
        default:
            return false;
    }
}

void I3cTarget::resetBusState() {
    dynamicAddress_.reset();
    groupAddress_.reset();
    events_ = i3c::event::kAll;
    mwl_ = options_.mwl;
    mrl_ = options_.mrl;
    ibiPayload_ = options_.maxIbiPayload;
    activityState_ = 0;
    resetAction_ = i3c::rstact::kResetPeripheral;
    pendingInterrupt_ = false;
    pointer_ = 0;
}

Bytes I3cTarget::getStatus() {
    // Most significant byte first: the vendor byte, then activity mode
    // (bits 7..6), protocol error (bit 5) and the pending interrupt (3..0).
    const uint8_t low =
        static_cast<uint8_t>((activityState_ & 0x03) << 6 | (pendingInterrupt_ ? 1 : 0));
    pendingInterrupt_ = false;
    return {0x00, low};
}

Bytes I3cTarget::getMrl() const {
    Bytes answer{static_cast<uint8_t>(mrl_ >> 8), static_cast<uint8_t>(mrl_ & 0xFF)};
    if ((options_.bcr & i3c::bcr::kIbiPayload) != 0) answer.push_back(ibiPayload_);
    return answer;
}

Bytes I3cTarget::getMwl() const {
    return {static_cast<uint8_t>(mwl_ >> 8), static_cast<uint8_t>(mwl_ & 0xFF)};
}

Bytes I3cTarget::getCaps() const {
    return {static_cast<uint8_t>(options_.hdrDdr ? kHdrDdrMode : 0),
            static_cast<uint8_t>(kI3cVersion | kGroupCapable), 0x00, 0x00};
}

Bytes I3cTarget::getMxds() const {
    return Bytes(options_.maxDataSpeed.begin(), options_.maxDataSpeed.end());
}

size_t I3cTarget::write(std::optional<size_t> offset, const uint8_t* data, size_t size) {
    const size_t start = offset.value_or(pointer_);
    const size_t taken = std::min<size_t>(size, mwl_);
    if (start > memory_.size() || taken > memory_.size() - start) return 0;
    pointer_ = start;
    std::copy(data, data + taken, memory_.begin() + static_cast<std::ptrdiff_t>(pointer_));
    pointer_ += taken;
    return taken;
}

size_t I3cTarget::read(std::optional<size_t> offset, uint8_t* out, size_t size) {
    if (offset) pointer_ = std::min(*offset, memory_.size());
    const size_t count = std::min({size, static_cast<size_t>(mrl_), memory_.size() - pointer_});
    std::copy_n(memory_.begin() + static_cast<std::ptrdiff_t>(pointer_), count, out);
    pointer_ += count;
    return count;
}

bool I3cTarget::writeMemory(size_t offset, const uint8_t* data, size_t size) {
    if (offset > memory_.size() || size > memory_.size() - offset) return false;
    std::copy(data, data + size, memory_.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

I3cTargetState I3cTarget::state() const {
    I3cTargetState state;
    state.pid = options_.pid;
    state.bcr = options_.bcr;
    state.dcr = options_.dcr;
    state.staticAddress = options_.staticAddress;
    state.dynamicAddress = dynamicAddress_;
    state.mwl = mwl_;
    state.mrl = mrl_;
    state.maxIbiPayload = ibiPayload_;
    state.events = events_;
    state.activityState = activityState_;
    state.groupAddress = groupAddress_;
    state.resetAction = resetAction_;
    state.pendingInterrupt = pendingInterrupt_;
    return state;
}

}  // namespace vantor::sim
