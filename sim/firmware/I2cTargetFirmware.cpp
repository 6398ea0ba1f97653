// SPDX-License-Identifier: MIT
#include "sim/firmware/I2cTargetFirmware.h"

#include <algorithm>

#include "sim/firmware/I2cFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr uint8_t kModelEeprom = 1;
constexpr uint8_t kModelRegisterMap = 2;

}  // namespace

I2cTargetFirmware::I2cTargetFirmware()
    : MemoryTargetFamily(i2c_target::status::kSurpassedMemorySize,
                         i2c_target::status::kPayloadTransferFailed) {
    serve<I2cTargetFirmware>({
        {i2c_target::cmd::kInit, 7, &I2cTargetFirmware::configure},
        {i2c_target::cmd::kSetParameters, 7, &I2cTargetFirmware::configure},
        {i2c_target::cmd::kWriteMemory, 4, &I2cTargetFirmware::writeMemory, bulk::kI2c},
        {i2c_target::cmd::kReadMemory, 4, &I2cTargetFirmware::readMemory, bulk::kI2c},
        {i2c_target::cmd::kSetEepromConfig, 18, &I2cTargetFirmware::setEepromConfig},
        {i2c_target::cmd::kErase, 3, &I2cTargetFirmware::erase},
        {i2c_target::cmd::kSetRegisterRegion, 7, &I2cTargetFirmware::setRegisterRegion},
    });
}

void I2cTargetFirmware::reset() {
    state_ = I2cTargetState{};
    memory_ = TargetMemory{};
    pointer_ = 0;
    busyUntilUs_ = clockUs_;
}

uint16_t I2cTargetFirmware::checkModel(uint8_t model) const {
    if (!state_.active) return status::kInterfaceNotInitialized;
    if (state_.model != model) return i2c_target::status::kWrongModel;
    return status::kSuccess;
}

// ------------------------------------------------------------ host commands

void I2cTargetFirmware::configure(const Request& request, Firmware& firmware) {
    const bool init = request.commandCode() == i2c_target::cmd::kInit;
    const uint8_t bus = request.u8(0);
    const uint16_t address = request.u16(1);
    const uint8_t mode = request.u8(3);
    const uint8_t layout = request.u8(4);
    const uint8_t model = request.u8(6);
    if (init && state_.active)
        return reply(firmware, request, status::kInterfaceAlreadyInitialized);
    if (!init && !state_.active) return reply(firmware, request, status::kInterfaceNotInitialized);
    if (bus >= I2cFirmware::kBuses || mode > 1 || layout > 1 || model > kModelRegisterMap) {
        return reply(firmware, request, status::kInvalidParameter);
    }
    if (address > (mode == 0 ? 0x7F : 0x3FF)) {
        return reply(firmware, request, i2c_target::status::kInvalidConfig);
    }
    if (firmware.family<I2cFirmware>().busState(bus).initialized) {
        return reply(firmware, request, i2c_target::status::kRoleConflict);
    }

    const size_t size = layout == 0 ? kSmallMemory : kLargeMemory;
    // Parameters that keep the model and the memory size keep the contents.
    const bool keep = state_.active && state_.model == model && memory_.size() == size;
    I2cTargetState next;
    next.active = true;
    next.bus = bus;
    next.address = address;
    next.addressMode = mode;
    next.memoryLayout = layout;
    next.model = model;
    next.memorySize = static_cast<uint32_t>(size);
    if (model == kModelEeprom) {
        next.pageSize = layout == 0 ? 16 : 64;
        next.writeCycleUs = kDefaultCycleUs;
        next.eraseCycleUs = kDefaultCycleUs;
    }
    if (keep) {
        // The EEPROM settings survive a change of address or bus.
        next.pageSize = state_.pageSize;
        next.writeCycleUs = state_.writeCycleUs;
        next.eraseCycleUs = state_.eraseCycleUs;
        next.busyBehavior = state_.busyBehavior;
        next.erasedValue = state_.erasedValue;
        next.wpStart = state_.wpStart;
        next.wpEnd = state_.wpEnd;
        next.memorySize = state_.memorySize;
    } else {
        memory_.resize(size, model == kModelEeprom ? next.erasedValue : 0x00);
        pointer_ = 0;
        busyUntilUs_ = clockUs_;
    }
    state_ = next;
    reply(
        firmware,
        MessageBuilder::response(request, status::kSuccess).u8(bus).u32(state_.memorySize).take());
}

void I2cTargetFirmware::setEepromConfig(const Request& request, Firmware& firmware) {
    if (const uint16_t refused = checkModel(kModelEeprom)) {
        return reply(firmware, request, refused);
    }
    const uint16_t total = request.u16(0);
    const uint16_t page = request.u16(2);
    const uint8_t behavior = request.u8(12);
    const size_t capacity = state_.memoryLayout == 0 ? kSmallMemory : kLargeMemory;
    if (total == 0 || total > capacity || page == 0 || page > total || total % page != 0 ||
        behavior > 1) {
        return reply(firmware, request, i2c_target::status::kInvalidConfig);
    }
    state_.memorySize = total;
    state_.pageSize = page;
    state_.writeCycleUs = request.u32(4);
    state_.eraseCycleUs = request.u32(8);
    state_.busyBehavior = behavior;
    state_.erasedValue = request.u8(13);
    state_.wpStart = request.u16(14);
    state_.wpEnd = request.u16(16);
    // The contents survive a new configuration of the same size.
    if (total != memory_.size()) {
        memory_.resize(total, state_.erasedValue);
        pointer_ = 0;
    }
    busyUntilUs_ = clockUs_;
    reply(firmware, request, status::kSuccess);
}

void I2cTargetFirmware::erase(const Request& request, Firmware& firmware) {
    if (const uint16_t refused = checkModel(kModelEeprom)) {
        return reply(firmware, request, refused);
    }
    const uint8_t scope = request.u8(0);
    const uint16_t address = request.u16(1);
    if (scope > 1) return reply(firmware, request, i2c_target::status::kInvalidConfig);
    if (address >= memory_.size()) {
        return reply(firmware, request, i2c_target::status::kSurpassedMemorySize);
    }
    size_t first = 0;
    size_t end = memory_.size();
    if (scope == 0) {
        first = address - address % state_.pageSize;
        end = first + state_.pageSize;
    }
    // Protected bytes keep their contents through either erase.
    for (size_t i = first; i < end; ++i) {
        if (!isProtected(i)) memory_.at(i) = state_.erasedValue;
    }
    busyUntilUs_ = clockUs_ + state_.eraseCycleUs;
    reply(firmware, request, status::kSuccess);
}

void I2cTargetFirmware::setRegisterRegion(const Request& request, Firmware& firmware) {
    if (const uint16_t refused = checkModel(kModelRegisterMap)) {
        return reply(firmware, request, refused);
    }
    RegisterRegion region;
    region.start = request.u16(0);
    region.end = request.u16(2);
    region.access = request.u8(4);
    region.width = request.u8(5);
    region.flags = request.u8(6);
    const bool widthOk = region.width == 1 || region.width == 2 || region.width == 4;
    if (region.start > region.end || region.end >= memory_.size() ||
        region.access > static_cast<uint8_t>(RegisterAccess::Reserved) || !widthOk) {
        return reply(firmware, request, i2c_target::status::kInvalidConfig);
    }
    if (!memory_.addRegion(region)) {
        return reply(firmware, request, i2c_target::status::kRegionTableFull);
    }
    reply(firmware, request, status::kSuccess);
}

// ------------------------------------------------------------------ the bus

void I2cTargetFirmware::notify(Firmware& firmware, uint8_t event, size_t memoryAddress,
                               const uint8_t* data, size_t size) const {
    // The 12-byte event; the bytes moved follow it for whoever wants them.
    firmware.notify(MessageBuilder::notification(i2c_target::cmd::kBusEvent)
                        .u8(event)
                        .u8(static_cast<uint8_t>(state_.address & 0xFF))
                        .u16(static_cast<uint16_t>(memoryAddress))
                        .u16(static_cast<uint16_t>(size))
                        .append(data, size)
                        .take());
}

bool I2cTargetFirmware::writePhase(Firmware& firmware, const Bytes& written, bool& startsCycle) {
    const size_t width = addressBytes();
    const size_t size = memory_.size();
    if (written.size() >= width) {
        size_t address = written[0];
        if (width == 2) address = address << 8 | written[1];
        pointer_ = address % size;
    }
    const size_t start = pointer_;
    const uint8_t* data = written.data() + std::min(width, written.size());
    const size_t count = written.size() > width ? written.size() - width : 0;
    clockUs_ += kByteTimeUs * written.size();

    if (state_.model == kModelEeprom && count > 0) {
        // A page write wraps inside its page; a byte in the protected range
        // refuses the whole write.
        const size_t page = start - start % state_.pageSize;
        auto at = [&](size_t i) { return page + (start - page + i) % state_.pageSize; };
        for (size_t i = 0; i < count; ++i) {
            if (isProtected(at(i))) {
                notify(firmware, i2c_target::event::kWriteProtected, start, data, count);
                return false;
            }
        }
        for (size_t i = 0; i < count; ++i) memory_.at(at(i)) = data[i];
        pointer_ = at(count);
        startsCycle = true;
    } else {
        for (size_t i = 0; i < count; ++i) {
            if (state_.model == kModelRegisterMap) {
                memory_.busWrite(pointer_, data[i]);
            } else {
                memory_.at(pointer_) = data[i];
            }
            pointer_ = (pointer_ + 1) % size;
        }
    }
    notify(firmware, i2c_target::event::kWrite, start, data, count);
    return true;
}

I2cBusTransaction I2cTargetFirmware::busTransfer(Firmware& firmware, uint8_t bus, uint16_t address,
                                                 bool tenBit, const Bytes& written,
                                                 size_t readCount, bool read) {
    I2cBusTransaction result;
    clockUs_ += kByteTimeUs;  // the address byte
    const bool addressed = state_.active && bus == state_.bus && address == state_.address &&
                           tenBit == (state_.addressMode == 1);
    if (!addressed) return result;
    if (busy()) {
        if (state_.busyBehavior == 0) {
            notify(firmware, i2c_target::event::kBusyNack, pointer_, nullptr, 0);
            return result;
        }
        result.stretchedUs = static_cast<uint32_t>(busyUntilUs_ - clockUs_);
        clockUs_ = busyUntilUs_;
    }
    result.addressAck = true;
    result.ack = true;
    bool startsCycle = false;
    // A plain read has no write phase; a combined one always has.
    if (!read || !written.empty()) result.ack = writePhase(firmware, written, startsCycle);
    if (read && result.ack) {
        const size_t start = pointer_;
        for (size_t i = 0; i < readCount; ++i) {
            const uint8_t value = state_.model == kModelRegisterMap ? memory_.busRead(pointer_)
                                                                    : memory_.at(pointer_);
            result.data.push_back(static_cast<char>(value));
            pointer_ = (pointer_ + 1) % memory_.size();
        }
        clockUs_ += kByteTimeUs * readCount;
        notify(firmware, i2c_target::event::kRead, start,
               reinterpret_cast<const uint8_t*>(result.data.data()), result.data.size());
    }
    // The write cycle starts at STOP.
    if (startsCycle) busyUntilUs_ = clockUs_ + state_.writeCycleUs;
    return result;
}

}  // namespace vantor::sim
