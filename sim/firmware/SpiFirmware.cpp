// SPDX-License-Identifier: MIT
#include "sim/firmware/SpiFirmware.h"

#include <algorithm>
#include <utility>

#include "sim/firmware/SpiTargetFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr size_t kLengthsSize = 4;  // the two u16 lengths at the start of a transfer
constexpr uint8_t kLsbFirst = 1;
constexpr uint8_t kFloatingLine = 0xFF;

uint8_t reversedBits(uint8_t value) {
    value = static_cast<uint8_t>((value & 0xF0) >> 4 | (value & 0x0F) << 4);
    value = static_cast<uint8_t>((value & 0xCC) >> 2 | (value & 0x33) << 2);
    return static_cast<uint8_t>((value & 0xAA) >> 1 | (value & 0x55) << 1);
}

}  // namespace

SpiFirmware::SpiFirmware() {
    serve<SpiFirmware>({
        {spi::cmd::kDeinit, 0, &SpiFirmware::deinit},
        {spi::cmd::kInit, 9, &SpiFirmware::configure},
        {spi::cmd::kSetParameters, 9, &SpiFirmware::configure},
        {spi::cmd::kTransfer, kLengthsSize, &SpiFirmware::transfer},
        {spi::cmd::kTransferBulk, kLengthsSize, &SpiFirmware::transferBulk, bulk::kSpi},
        {spi::cmd::kWriteBulk, kLengthsSize, &SpiFirmware::writeBulk, bulk::kSpi},
        {spi::cmd::kReadBulk, kLengthsSize, &SpiFirmware::readBulk, bulk::kSpi},
    });
}

void SpiFirmware::reset() {
    state_ = SpiControllerState{};
}

// ------------------------------------------------------------------- bench

bool SpiFirmware::attach(uint8_t chipSelect, std::shared_ptr<SpiTarget> target) {
    if (chipSelect >= kChipSelects || !target || targets_[chipSelect]) return false;
    targets_[chipSelect] = std::move(target);
    return true;
}

bool SpiFirmware::detach(uint8_t chipSelect) {
    if (chipSelect >= kChipSelects || !targets_[chipSelect]) return false;
    targets_[chipSelect].reset();
    return true;
}

SpiTarget* SpiFirmware::target(uint8_t chipSelect) const {
    return chipSelect < kChipSelects ? targets_[chipSelect].get() : nullptr;
}

// ---------------------------------------------------------- controller set-up

void SpiFirmware::configure(const Request& request, Firmware& firmware) {
    const bool init = request.commandCode() == spi::cmd::kInit;
    if (init && state_.initialized) {
        return firmware.respond(request, status::kInterfaceAlreadyInitialized);
    }
    if (!init && !state_.initialized) {
        return firmware.respond(request, status::kInterfaceNotInitialized);
    }
    // The target role holds the SPI pins.
    if (init && firmware.family<SpiTargetFirmware>().active()) {
        return firmware.respond(request, spi_target::status::kRoleConflict);
    }
    SpiControllerState next;
    next.initialized = true;
    next.bitOrder = request.u8(0);
    next.mode = request.u8(1);
    next.dataWidth = request.u8(2);
    next.chipSelect = request.u8(3);
    next.chipSelectPolarity = request.u8(4);
    next.frequencyHz = request.u32(5);
    if (next.bitOrder > 1 || next.mode > 3 || next.dataWidth > 1 ||
        next.chipSelect >= kChipSelects || next.chipSelectPolarity > 1 ||
        next.frequencyHz < kMinFrequencyHz || next.frequencyHz > kMaxFrequencyHz) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    state_ = next;
    firmware.respond(request, status::kSuccess);
}

void SpiFirmware::deinit(const Request& request, Firmware& firmware) {
    if (!state_.initialized) return firmware.respond(request, status::kInterfaceNotInitialized);
    state_ = SpiControllerState{};
    firmware.respond(request, status::kSuccess);
}

// ------------------------------------------------------------------ transfers

void SpiFirmware::clock(const uint8_t* sent, size_t sentSize, uint8_t* received, size_t size) {
    std::fill(received, received + size, kFloatingLine);
    timing::spendBusTime(timing::spiBytes(size, state_.frequencyHz));
    SpiTarget* const device = targets_[state_.chipSelect].get();
    if (device == nullptr || size == 0) return;
    const bool lsbFirst = state_.bitOrder == kLsbFirst;
    // Devices read bytes most significant bit first: a controller shifting
    // the other way shows them every byte mirrored, in both directions.
    const uint8_t* mosi = sent;
    if (sentSize < size || lsbFirst) {
        scratch_.assign(size, 0x00);
        std::copy(sent, sent + std::min(sentSize, size), scratch_.begin());
        if (lsbFirst) {
            for (uint8_t& byte : scratch_) byte = reversedBits(byte);
        }
        mosi = scratch_.data();
    }
    device->transfer(mosi, received, size);
    if (lsbFirst) {
        for (size_t i = 0; i < size; ++i) received[i] = reversedBits(received[i]);
    }
}

void SpiFirmware::transfer(const Request& request, Firmware& firmware) {
    const uint16_t sentSize = request.u16(0);
    const uint16_t transferLength = request.u16(2);
    if (!state_.initialized) return firmware.respond(request, status::kInterfaceNotInitialized);
    if (sentSize > kMaxTransfer || transferLength > kMaxTransfer ||
        request.paramSize() != kLengthsSize + sentSize) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    // The frame lasts as long as the longer of the two: the data is padded
    // with zeros, and the answer carries the first `transferLength` bytes
    // received.
    const size_t frame = std::max<size_t>(sentSize, transferLength);
    Bytes message = MessageBuilder::response(request, status::kSuccess).u16(transferLength).take();
    const size_t dataOffset = message.size();
    message.resize(dataOffset + frame);
    clock(request.params() + kLengthsSize, sentSize, message.data() + dataOffset, frame);
    message.resize(dataOffset + transferLength);
    firmware.respond(message);
}

void SpiFirmware::transferBulk(const Request& request, Firmware& firmware) {
    const uint16_t sentSize = request.u16(0);
    const uint16_t transferLength = request.u16(2);
    if (!firmware.adapter().bulk) {
        return firmware.respond(request, status::kFeatureNotSupportedByHardware);
    }
    if (!state_.initialized) return firmware.respond(request, status::kInterfaceNotInitialized);
    if (sentSize > kMaxTransfer || transferLength == 0 || transferLength > kMaxBulkTransfer ||
        request.paramSize() != kLengthsSize + sentSize) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    Bytes received(std::max<size_t>(sentSize, transferLength));
    clock(request.params() + kLengthsSize, sentSize, received.data(), received.size());
    firmware.respond(
        MessageBuilder::response(request, status::kSuccess).u16(transferLength).take());
    firmware.queueBulkIn(received.data(), transferLength);
}

void SpiFirmware::writeBulk(const Request& request, Firmware& firmware) {
    const uint16_t length = request.u16(0);
    if (!firmware.adapter().bulk) {
        return firmware.respond(request, status::kFeatureNotSupportedByHardware);
    }
    // Without one agreed length there is no telling how much data follows.
    if (length == 0 || length > kMaxBulkTransfer || request.u16(2) != length) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    // The data follows the request even when the controller is down: take it
    // in before answering so that it cannot linger for the next transfer.
    const uint16_t id = request.transactionId();
    firmware.awaitBulkOut(length, [this, id](Firmware& later, std::optional<Bytes> data) {
        uint16_t status = status::kSuccess;
        if (!data) {
            status = status::kBusTimeout;
        } else if (!state_.initialized) {
            status = status::kInterfaceNotInitialized;
        } else {
            Bytes received(data->size());
            clock(data->data(), data->size(), received.data(), received.size());
        }
        later.respond(MessageBuilder::response(id, spi::cmd::kWriteBulk, status).take());
    });
}

void SpiFirmware::readBulk(const Request& request, Firmware& firmware) {
    const uint16_t commandSize = request.u16(0);
    const uint16_t readLength = request.u16(2);
    if (!firmware.adapter().bulk) {
        return firmware.respond(request, status::kFeatureNotSupportedByHardware);
    }
    if (!state_.initialized) return firmware.respond(request, status::kInterfaceNotInitialized);
    if (commandSize > kMaxTransfer || readLength == 0 || readLength > kMaxBulkTransfer ||
        request.paramSize() != kLengthsSize + commandSize) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    // One frame: the command bytes, then `readLength` bytes clocked in; only
    // those go back.
    Bytes received(size_t{commandSize} + readLength);
    clock(request.params() + kLengthsSize, commandSize, received.data(), received.size());
    firmware.respond(MessageBuilder::response(request, status::kSuccess).u16(readLength).take());
    firmware.queueBulkIn(received.data() + commandSize, readLength);
}

}  // namespace vantor::sim
