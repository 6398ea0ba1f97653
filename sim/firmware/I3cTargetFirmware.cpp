// SPDX-License-Identifier: MIT
#include "sim/firmware/I3cTargetFirmware.h"

#include <algorithm>

#include "sim/firmware/I3cFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr uint8_t kMaxLayout = 2;
constexpr uint16_t kMaxLength = 1024;  // MWL and MRL

// A static address an external controller can reach the target at: 7-bit,
// neither 0 nor the broadcast address.
bool reachableStaticAddress(uint8_t address) {
    return address != 0 && address != I3cFirmware::kBroadcastAddress && address <= 0x7F;
}

}  // namespace

I3cTargetFirmware::I3cTargetFirmware() {
    serve<I3cTargetFirmware>({
        {i3c_target::cmd::kInit, 15, &I3cTargetFirmware::configure},
        {i3c_target::cmd::kSetParameters, 15, &I3cTargetFirmware::configure},
        {i3c_target::cmd::kWriteMemory, 4, &I3cTargetFirmware::writeMemory},
        {i3c_target::cmd::kReadMemory, 4, &I3cTargetFirmware::readMemory},
    });
}

void I3cTargetFirmware::reset() {
    memory_.fill(0);
    active_ = false;
    layout_ = 0;
    pid_ = 0;
    bcr_ = dcr_ = staticAddress_ = dynamicAddress_ = 0;
    mwl_ = mrl_ = 0;
    pointer_ = 0;
}

I3cTargetRoleState I3cTargetFirmware::state() const {
    I3cTargetRoleState s;
    s.active = active_;
    s.layout = layout_;
    for (int shift = 40; shift >= 0; shift -= 8) {
        s.pid.push_back(static_cast<char>((pid_ >> shift) & 0xFF));
    }
    s.bcr = bcr_;
    s.dcr = dcr_;
    s.staticAddress = staticAddress_;
    s.dynamicAddress = dynamicAddress_;
    s.mwl = mwl_;
    s.mrl = mrl_;
    return s;
}

// ------------------------------------------------------------ host commands

void I3cTargetFirmware::configure(const Request& request, Firmware& firmware) {
    const uint8_t layout = request.u8(0);
    const uint8_t staticAddress = request.u8(10);
    const uint16_t mwl = request.u16(11);
    const uint16_t mrl = request.u16(13);
    if (layout > kMaxLayout || !reachableStaticAddress(staticAddress) || mwl > kMaxLength ||
        mrl > kMaxLength) {
        return reply(firmware, request, status::kInvalidParameter);
    }
    // The I3C engine drives the bus as its controller: it cannot also answer
    // on it as a target.
    if (firmware.family<I3cFirmware>().controller().initialized) {
        return reply(firmware, request, i3c::status::kEngineBusy);
    }
    // The PID travels split: bits 31..0, bit 32, then bits 47..33.
    pid_ = static_cast<uint64_t>(request.u16(6) & 0x7FFF) << 33 |
           static_cast<uint64_t>(request.u8(5) & 1) << 32 | request.u32(1);
    layout_ = layout;
    bcr_ = request.u8(8);
    dcr_ = request.u8(9);
    // A new static address makes the target forget its dynamic one.
    if (staticAddress != staticAddress_) dynamicAddress_ = 0;
    staticAddress_ = staticAddress;
    mwl_ = mwl;
    mrl_ = mrl;
    active_ = true;
    reply(firmware, request, status::kSuccess);
}

void I3cTargetFirmware::writeMemory(const Request& request, Firmware& firmware) {
    const uint16_t address = request.u16(0);
    const uint16_t length = request.u16(2);
    const auto data = request.bytes(4, request.paramSize());
    if (data.second != length) return reply(firmware, request, status::kInvalidParameter);
    if (address >= kMemorySize) {
        return reply(firmware, request, i3c_target::status::kRegisterAddressOutOfRange);
    }
    if (length > kMemorySize - address) {
        return reply(firmware, request, i3c_target::status::kSurpassedMemorySize);
    }
    std::copy_n(data.first, length, memory_.begin() + address);
    reply(firmware, request, status::kSuccess);
}

void I3cTargetFirmware::readMemory(const Request& request, Firmware& firmware) {
    const uint16_t address = request.u16(0);
    const uint16_t length = request.u16(2);
    if (address >= kMemorySize) {
        return reply(firmware, request, i3c_target::status::kRegisterAddressOutOfRange);
    }
    if (length > kMemorySize - address) {
        return reply(firmware, request, i3c_target::status::kSurpassedMemorySize);
    }
    reply(firmware, MessageBuilder::response(request, status::kSuccess)
                        .u16(length)
                        .append(memory_.data() + address, length)
                        .take());
}

// ------------------------------------------------------------------ the bus

void I3cTargetFirmware::notify(Firmware& firmware, uint8_t event, uint16_t headerWord,
                               size_t memoryAddress, const uint8_t* data, size_t size) const {
    firmware.notify(MessageBuilder::notification(i3c_target::cmd::kBusEvent, headerWord)
                        .u8(event)
                        .u8(dynamicAddress_)
                        .u16(static_cast<uint16_t>(memoryAddress))
                        .u16(static_cast<uint16_t>(size))
                        .append(data, size)
                        .take());
}

I3cBusTransaction I3cTargetFirmware::setdasa(Firmware& firmware, uint8_t staticAddress,
                                             uint8_t dynamicAddress) {
    I3cBusTransaction result;
    if (!active_ || staticAddress_ == 0 || staticAddress != staticAddress_ ||
        dynamicAddress_ != 0 || !I3cFirmware::validDynamicAddress(dynamicAddress)) {
        return result;
    }
    dynamicAddress_ = dynamicAddress;
    result.ack = true;
    notify(firmware, i3c_target::event::kAddressChange, i3c_target::ccc::kSetdasa, 0, nullptr, 0);
    return result;
}

I3cBusTransaction I3cTargetFirmware::entdaa(Firmware& firmware, uint8_t dynamicAddress) {
    I3cBusTransaction result;
    if (!active_ || dynamicAddress_ != 0 || !I3cFirmware::validDynamicAddress(dynamicAddress)) {
        return result;
    }
    for (int shift = 40; shift >= 0; shift -= 8) {
        result.data.push_back(static_cast<char>((pid_ >> shift) & 0xFF));
    }
    result.data.push_back(static_cast<char>(bcr_));
    result.data.push_back(static_cast<char>(dcr_));
    dynamicAddress_ = dynamicAddress;
    result.ack = true;
    notify(firmware, i3c_target::event::kAddressChange, i3c_target::ccc::kEntdaa, 0, nullptr, 0);
    return result;
}

I3cBusTransaction I3cTargetFirmware::rstdaa(Firmware& firmware) {
    I3cBusTransaction result;
    if (!active_ || dynamicAddress_ == 0) return result;
    dynamicAddress_ = 0;
    result.ack = true;
    notify(firmware, i3c_target::event::kAddressChange, i3c_target::ccc::kRstdaa, 0, nullptr, 0);
    return result;
}

I3cBusTransaction I3cTargetFirmware::privateWrite(Firmware& firmware, uint8_t address,
                                                  const Bytes& data) {
    I3cBusTransaction result;
    if (!addressed(address)) return result;
    // A register outside the memory, or data that would run past its end,
    // is refused whole, as the host's memory commands refuse theirs: nothing
    // is stored and there is nothing to report.
    size_t start = pointer_;
    if (data.size() >= 2) {
        const size_t index = static_cast<size_t>(data[0]) << 8 | data[1];
        start = index * registerWidth();
        if (start >= kMemorySize) return result;
    }
    const uint8_t* payload = data.data() + std::min<size_t>(2, data.size());
    const size_t count = data.size() > 2 ? data.size() - 2 : 0;
    // Bytes beyond the MWL are not taken.
    const size_t taken = std::min<size_t>(count, mwl_);
    if (taken > kMemorySize - start) return result;
    result.ack = taken == count;
    pointer_ = start;
    std::copy_n(payload, taken, memory_.begin() + static_cast<std::ptrdiff_t>(pointer_));
    pointer_ += taken;
    notify(firmware, i3c_target::event::kWrite, 0, start, payload, taken);
    return result;
}

I3cBusTransaction I3cTargetFirmware::privateRead(Firmware& firmware, uint8_t address,
                                                 size_t count) {
    I3cBusTransaction result;
    if (!addressed(address)) return result;
    result.ack = true;
    const size_t start = pointer_;
    // The target ends the read at its MRL and at the end of its memory.
    count = std::min({count, static_cast<size_t>(mrl_), kMemorySize - pointer_});
    result.data.assign(memory_.begin() + static_cast<std::ptrdiff_t>(pointer_),
                       memory_.begin() + static_cast<std::ptrdiff_t>(pointer_ + count));
    pointer_ += count;
    notify(firmware, i3c_target::event::kRead, 0, start,
           reinterpret_cast<const uint8_t*>(result.data.data()), result.data.size());
    return result;
}

I3cBusTransaction I3cTargetFirmware::cccGet(Firmware& firmware, uint8_t ccc, uint8_t address) {
    I3cBusTransaction result;
    if (!addressed(address)) return result;
    auto put16 = [&](uint16_t v) {
        result.data.push_back(static_cast<char>(v >> 8));
        result.data.push_back(static_cast<char>(v & 0xFF));
    };
    switch (ccc) {
        case i3c_target::ccc::kGetmwl:
            put16(mwl_);
            break;
        case i3c_target::ccc::kGetmrl:
            put16(mrl_);
            break;
        case i3c_target::ccc::kGetpid:
            result.data = state().pid;
            break;
        case i3c_target::ccc::kGetbcr:
            result.data.push_back(static_cast<char>(bcr_));
            break;
        case i3c_target::ccc::kGetdcr:
            result.data.push_back(static_cast<char>(dcr_));
            break;
        default:
            return result;  // not a CCC this target answers
    }
    result.ack = true;
    notify(firmware, i3c_target::event::kCcc, ccc, 0, nullptr, 0);
    return result;
}

}  // namespace vantor::sim
