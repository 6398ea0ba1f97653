// SPDX-License-Identifier: MIT
#include "sim/firmware/SpiTargetFirmware.h"

#include <algorithm>

#include "sim/firmware/SpiFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr uint8_t kModelFlash = 1;
constexpr uint8_t kModelRegisterMap = 2;

constexpr uint8_t kWrite = 0x02;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kWriteDisable = 0x04;
constexpr uint8_t kReadStatus = 0x05;
constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kFastRead = 0x0B;
constexpr uint8_t kSectorErase = 0x20;
constexpr uint8_t kChipErase = 0x60;
constexpr uint8_t kJedecId = 0x9F;
constexpr uint8_t kChipErase2 = 0xC7;
constexpr uint8_t kBlockErase = 0xD8;

uint8_t reversed(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r << 1 | ((b >> i) & 1));
    return r;
}

// A frame sampled one clock edge off: every bit arrives one place later.
Bytes shiftedLate(const Bytes& bytes, bool firstBit) {
    Bytes out(bytes.size());
    unsigned carry = firstBit ? 1 : 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<uint8_t>(carry << 7 | bytes[i] >> 1);
        carry = bytes[i] & 1;
    }
    return out;
}

}  // namespace

SpiTargetFirmware::SpiTargetFirmware()
    : MemoryTargetFamily(spi_target::status::kSurpassedMemorySize,
                         spi_target::status::kPayloadTransferFailed) {
    serve<SpiTargetFirmware>({
        {spi_target::cmd::kInit, 6, &SpiTargetFirmware::configure},
        {spi_target::cmd::kSetParameters, 6, &SpiTargetFirmware::configure},
        {spi_target::cmd::kWriteMemory, 4, &SpiTargetFirmware::writeMemory, bulk::kSpi},
        {spi_target::cmd::kReadMemory, 4, &SpiTargetFirmware::readMemory, bulk::kSpi},
        {spi_target::cmd::kSetFlashConfig, 17, &SpiTargetFirmware::setFlashConfig},
    });
}

void SpiTargetFirmware::reset() {
    state_ = SpiTargetState{};
    memory_ = TargetMemory{};
    writeEnabled_ = false;
    busyUntilUs_ = clockUs_;
}

uint16_t SpiTargetFirmware::checkActive() const {
    return state_.active ? status::kSuccess : status::kInterfaceNotInitialized;
}

bool SpiTargetFirmware::addRegion(const RegisterRegion& region) {
    if (!state_.active || state_.model != kModelRegisterMap || region.start > region.end ||
        region.end >= memory_.size() ||
        region.access > static_cast<uint8_t>(RegisterAccess::Reserved)) {
        return false;
    }
    return memory_.addRegion(region);
}

// ------------------------------------------------------------ host commands

void SpiTargetFirmware::configure(const Request& request, Firmware& firmware) {
    const bool init = request.commandCode() == spi_target::cmd::kInit;
    if (init && state_.active)
        return reply(firmware, request, status::kInterfaceAlreadyInitialized);
    if (!init && !state_.active) return reply(firmware, request, status::kInterfaceNotInitialized);
    const uint8_t mode = request.u8(0);
    const uint8_t bitOrder = request.u8(1);
    const uint8_t chipSelect = request.u8(2);
    const uint8_t polarity = request.u8(3);
    const uint8_t model = request.u8(4);
    const uint8_t engine = request.u8(5);
    if (mode > 3 || bitOrder > 1 || chipSelect >= kChipSelects || polarity > 1 ||
        model > kModelRegisterMap || engine > 1) {
        return reply(firmware, request, status::kInvalidParameter);
    }
    if (firmware.family<SpiFirmware>().state().initialized) {
        return reply(firmware, request, spi_target::status::kRoleConflict);
    }
    const bool keep = state_.active && state_.model == model;
    SpiTargetState next = keep ? state_ : SpiTargetState{};
    next.active = true;
    next.mode = mode;
    next.bitOrder = bitOrder;
    next.chipSelect = chipSelect;
    next.chipSelectPolarity = polarity;
    next.model = model;
    next.engine = engine;
    next.memorySize = kMemorySize;
    if (!keep) {
        memory_.resize(kMemorySize, model == kModelFlash ? 0xFF : 0x00);
        writeEnabled_ = false;
        busyUntilUs_ = clockUs_;
        if (model == kModelFlash) next.writeCycleUs = 5000;
    }
    state_ = next;
    reply(firmware,
          MessageBuilder::response(request, status::kSuccess).u32(state_.memorySize).take());
}

void SpiTargetFirmware::setFlashConfig(const Request& request, Firmware& firmware) {
    if (const uint16_t refused = checkActive()) return reply(firmware, request, refused);
    if (state_.model != kModelFlash) {
        return reply(firmware, request, spi_target::status::kWrongModel);
    }
    const uint8_t addressBytes = request.u8(0);
    const uint16_t page = request.u16(1);
    const uint8_t idLength = request.u8(7);
    if (addressBytes < 1 || addressBytes > 4 || page == 0 || page > memory_.size() ||
        memory_.size() % page != 0 || idLength > 8) {
        return reply(firmware, request, spi_target::status::kInvalidConfig);
    }
    state_.addressBytes = addressBytes;
    state_.pageSize = page;
    state_.writeCycleUs = request.u32(3);
    const auto id = request.bytes(8, idLength);
    state_.jedecId.assign(reinterpret_cast<const char*>(id.first), id.second);
    state_.flags = request.u8(16);
    reply(firmware, request, status::kSuccess);
}

// ------------------------------------------------------------------ the bus

void SpiTargetFirmware::notify(Firmware& firmware, uint8_t event, size_t memoryAddress,
                               const uint8_t* data, size_t size) const {
    firmware.notify(MessageBuilder::notification(spi_target::cmd::kBusEvent)
                        .u8(event)
                        .u8(state_.chipSelect)
                        .u16(static_cast<uint16_t>(memoryAddress))
                        .u16(static_cast<uint16_t>(std::min<size_t>(size, 0xFFFF)))
                        .append(data, data != nullptr ? size : 0)
                        .take());
}

Bytes SpiTargetFirmware::frame(Firmware& firmware, const Bytes& mosi,
                               const SpiFrameSettings& settings) {
    Bytes miso(mosi.size(), 0xFF);
    clockUs_ += kByteTimeUs * mosi.size();
    auto pick = [](int given, uint8_t own) {
        return given < 0 ? own : static_cast<uint8_t>(given);
    };
    // A frame on another line, or with the select driven the other way, never
    // selects the target.
    if (!state_.active || mosi.empty() ||
        pick(settings.chipSelect, state_.chipSelect) != state_.chipSelect ||
        pick(settings.chipSelectPolarity, state_.chipSelectPolarity) != state_.chipSelectPolarity) {
        return miso;
    }
    // The other bit order reverses every byte both ways; the other clock
    // phase makes each side sample one bit late.
    const bool flipped = pick(settings.bitOrder, state_.bitOrder) != state_.bitOrder;
    const bool late = ((pick(settings.mode, state_.mode) ^ state_.mode) & 1) != 0;
    Bytes seen = mosi;
    if (flipped) std::transform(seen.begin(), seen.end(), seen.begin(), reversed);
    if (late) seen = shiftedLate(seen, false);
    if (state_.model == kModelFlash) {
        serveFlash(firmware, seen, miso);
    } else {
        serveMemory(firmware, seen, miso);
    }
    if (late) miso = shiftedLate(miso, true);
    if (flipped) std::transform(miso.begin(), miso.end(), miso.begin(), reversed);
    return miso;
}

void SpiTargetFirmware::serveMemory(Firmware& firmware, const Bytes& mosi, Bytes& miso) {
    const uint8_t command = mosi[0];
    if ((command != kWrite && command != kRead) || mosi.size() < 3) {
        return notify(firmware, spi_target::event::kCommand, 0, mosi.data(), mosi.size());
    }
    const size_t start = (static_cast<size_t>(mosi[1]) << 8 | mosi[2]) % memory_.size();
    const bool rules = state_.model == kModelRegisterMap;
    size_t at = start;
    for (size_t i = 3; i < mosi.size(); ++i, at = (at + 1) % memory_.size()) {
        if (command == kWrite) {
            if (rules) {
                memory_.busWrite(at, mosi[i]);
            } else {
                memory_.at(at) = mosi[i];
            }
        } else {
            miso[i] = rules ? memory_.busRead(at) : memory_.at(at);
        }
    }
    const Bytes& moved = command == kWrite ? mosi : miso;
    notify(firmware, command == kWrite ? spi_target::event::kWrite : spi_target::event::kRead,
           start, moved.data() + 3, moved.size() - 3);
}

void SpiTargetFirmware::serveFlash(Firmware& firmware, const Bytes& mosi, Bytes& miso) {
    const uint8_t command = mosi[0];
    const size_t width = state_.addressBytes;
    size_t address = 0;
    for (size_t i = 0; i < width && 1 + i < mosi.size(); ++i) address = address << 8 | mosi[1 + i];
    address %= memory_.size();
    const size_t dataAt = 1 + width;

    if (command == kReadStatus) {
        const uint8_t status = static_cast<uint8_t>((busy() ? 1 : 0) | (writeEnabled_ ? 2 : 0));
        std::fill(miso.begin() + 1, miso.end(), status);
        return notify(firmware, spi_target::event::kCommand, 0, nullptr, 0);
    }
    if (busy()) return notify(firmware, spi_target::event::kRefused, 0, &command, 1);

    switch (command) {
        case kJedecId:
            for (size_t i = 1; i < miso.size() && i - 1 < state_.jedecId.size(); ++i) {
                miso[i] = static_cast<uint8_t>(state_.jedecId[i - 1]);
            }
            return notify(firmware, spi_target::event::kCommand, 0, nullptr, 0);
        case kWriteEnable:
        case kWriteDisable:
            writeEnabled_ = command == kWriteEnable;
            return notify(firmware, spi_target::event::kCommand, 0, nullptr, 0);
        case kRead:
        case kFastRead: {
            const size_t first = dataAt + (command == kFastRead ? 1 : 0);
            size_t at = address;
            for (size_t i = first; i < mosi.size(); ++i, at = (at + 1) % memory_.size()) {
                miso[i] = memory_.at(at);
            }
            const size_t count = mosi.size() > first ? mosi.size() - first : 0;
            return notify(firmware, spi_target::event::kRead, address, miso.data() + first, count);
        }
        default:
            break;
    }

    const bool program = command == kWrite;
    const bool erase = command == kSectorErase || command == kBlockErase || command == kChipErase ||
                       command == kChipErase2;
    if (!program && !erase) {
        return notify(firmware, spi_target::event::kCommand, 0, nullptr, 0);
    }
    if (!writeEnabled_ ||
        (mosi.size() < dataAt && command != kChipErase && command != kChipErase2)) {
        return notify(firmware, spi_target::event::kRefused, address, &command, 1);
    }
    if (program) {
        // Programming clears bits only and wraps inside the page.
        const size_t page = address - address % state_.pageSize;
        const size_t count = mosi.size() > dataAt ? mosi.size() - dataAt : 0;
        for (size_t i = 0; i < count; ++i) {
            memory_.at(page + (address - page + i) % state_.pageSize) &= mosi[dataAt + i];
        }
        notify(firmware, spi_target::event::kWrite, address, mosi.data() + dataAt, count);
    } else {
        size_t block = memory_.size();
        if (command == kSectorErase) block = 4096;
        if (command == kBlockErase) block = 65536;
        block = std::min(block, memory_.size());
        const size_t first =
            command == kChipErase || command == kChipErase2 ? 0 : address - address % block;
        for (size_t i = first; i < first + block; ++i) memory_.at(i) = 0xFF;
        notify(firmware, spi_target::event::kErase, first, nullptr, block);
    }
    writeEnabled_ = false;
    busyUntilUs_ = clockUs_ + state_.writeCycleUs;
}

}  // namespace vantor::sim
