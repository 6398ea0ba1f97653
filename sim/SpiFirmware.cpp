#include "sim/SpiFirmware.h"

#include <algorithm>
#include <utility>

#include "sim/AdapterState.h"

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

std::vector<FirmwareFamily::Command> SpiFirmware::commands() const {
    return {
        {cmd::kSpiDeinit, 0},
        {cmd::kSpiInit, 9},
        {cmd::kSpiSetParameters, 9},
        {cmd::kSpiTransfer, kLengthsSize},
        {cmd::kSpiTransferBulk, kLengthsSize},
        {cmd::kSpiWriteBulk, kLengthsSize},
        {cmd::kSpiReadBulk, kLengthsSize},
    };
}

void SpiFirmware::reset() {
    state_ = SpiControllerState{};
}

void SpiFirmware::handle(const Request& request, Firmware& firmware) {
    switch (request.commandCode()) {
        case cmd::kSpiInit:
        case cmd::kSpiSetParameters:
            configure(request, firmware);
            return;
        case cmd::kSpiDeinit:
            deinit(request, firmware);
            return;
        case cmd::kSpiTransfer:
            transfer(request, firmware);
            return;
        case cmd::kSpiTransferBulk:
            transferBulk(request, firmware);
            return;
        case cmd::kSpiWriteBulk:
            writeBulk(request, firmware);
            return;
        case cmd::kSpiReadBulk:
            readBulk(request, firmware);
            return;
        default:
            firmware.respond(request, fw::kUnsupportedCommand);
            return;
    }
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
    const bool init = request.commandCode() == cmd::kSpiInit;
    if (init && state_.initialized) {
        return firmware.respond(request, fw::kInterfaceAlreadyInitialized);
    }
    if (!init && !state_.initialized) {
        return firmware.respond(request, fw::kInterfaceNotInitialized);
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
        return firmware.respond(request, fw::kInvalidParameter);
    }
    state_ = next;
    firmware.respond(request, fw::kSuccess);
}

void SpiFirmware::deinit(const Request& request, Firmware& firmware) {
    if (!state_.initialized) return firmware.respond(request, fw::kInterfaceNotInitialized);
    state_ = SpiControllerState{};
    firmware.respond(request, fw::kSuccess);
}

// ------------------------------------------------------------------ transfers

void SpiFirmware::clock(const uint8_t* sent, size_t sentSize, uint8_t* received, size_t size) {
    std::fill(received, received + size, kFloatingLine);
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
    if (!state_.initialized) return firmware.respond(request, fw::kInterfaceNotInitialized);
    if (sentSize > kMaxTransfer || transferLength > kMaxTransfer ||
        request.paramSize() != kLengthsSize + sentSize) {
        return firmware.respond(request, fw::kInvalidParameter);
    }
    // The frame lasts as long as the longer of the two: the data is padded
    // with zeros, and the answer carries the first `transferLength` bytes
    // received.
    const size_t frame = std::max<size_t>(sentSize, transferLength);
    Bytes message = MessageBuilder::response(request, fw::kSuccess).u16(transferLength).take();
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
        return firmware.respond(request, fw::kFeatureNotSupportedByHardware);
    }
    if (!state_.initialized) return firmware.respond(request, fw::kInterfaceNotInitialized);
    if (sentSize > kMaxTransfer || transferLength == 0 || transferLength > kMaxBulkTransfer ||
        request.paramSize() != kLengthsSize + sentSize) {
        return firmware.respond(request, fw::kInvalidParameter);
    }
    Bytes received(std::max<size_t>(sentSize, transferLength));
    clock(request.params() + kLengthsSize, sentSize, received.data(), received.size());
    firmware.respond(MessageBuilder::response(request, fw::kSuccess).u16(transferLength).take());
    firmware.queueBulkIn(received.data(), transferLength);
}

void SpiFirmware::writeBulk(const Request& request, Firmware& firmware) {
    const uint16_t length = request.u16(0);
    if (!firmware.adapter().bulk) {
        return firmware.respond(request, fw::kFeatureNotSupportedByHardware);
    }
    // Without one agreed length there is no telling how much data follows.
    if (length == 0 || length > kMaxBulkTransfer || request.u16(2) != length) {
        return firmware.respond(request, fw::kInvalidParameter);
    }
    // The data follows the request even when the controller is down: take it
    // in before answering so that it cannot linger for the next transfer.
    const uint16_t id = request.transactionId();
    firmware.awaitBulkOut(length, [this, id](Firmware& later, std::optional<Bytes> data) {
        uint16_t status = fw::kSuccess;
        if (!data) {
            status = fw::kBusTimeout;
        } else if (!state_.initialized) {
            status = fw::kInterfaceNotInitialized;
        } else {
            Bytes received(data->size());
            clock(data->data(), data->size(), received.data(), received.size());
        }
        later.respond(MessageBuilder::response(id, cmd::kSpiWriteBulk, status).take());
    });
}

void SpiFirmware::readBulk(const Request& request, Firmware& firmware) {
    const uint16_t commandSize = request.u16(0);
    const uint16_t readLength = request.u16(2);
    if (!firmware.adapter().bulk) {
        return firmware.respond(request, fw::kFeatureNotSupportedByHardware);
    }
    if (!state_.initialized) return firmware.respond(request, fw::kInterfaceNotInitialized);
    if (commandSize > kMaxTransfer || readLength == 0 || readLength > kMaxBulkTransfer ||
        request.paramSize() != kLengthsSize + commandSize) {
        return firmware.respond(request, fw::kInvalidParameter);
    }
    // One frame: the command bytes, then `readLength` bytes clocked in; only
    // those go back.
    Bytes received(size_t{commandSize} + readLength);
    clock(request.params() + kLengthsSize, commandSize, received.data(), received.size());
    firmware.respond(MessageBuilder::response(request, fw::kSuccess).u16(readLength).take());
    firmware.queueBulkIn(received.data() + commandSize, readLength);
}

// -------------------------------------------------- the adapter's bench API

bool VirtualAdapter::attachSpiFlash(uint8_t chipSelect, const SpiFlashOptions& options) {
    if (!SpiFlash::valid(options)) return false;
    return attachSpiTarget(chipSelect, std::make_shared<SpiFlash>(options));
}

bool VirtualAdapter::attachSpiTarget(uint8_t chipSelect, std::shared_ptr<SpiTarget> target) {
    return state_->firmware().withLock([&](Firmware& fw) {
        return fw.family<SpiFirmware>().attach(chipSelect, std::move(target));
    });
}

bool VirtualAdapter::detachSpi(uint8_t chipSelect) {
    return state_->firmware().withLock(
        [&](Firmware& fw) { return fw.family<SpiFirmware>().detach(chipSelect); });
}

Bytes VirtualAdapter::spiMemory(uint8_t chipSelect) const {
    return state_->firmware().withLock([&](Firmware& fw) {
        const SpiTarget* target = fw.family<SpiFirmware>().target(chipSelect);
        return target != nullptr ? target->memory() : Bytes{};
    });
}

bool VirtualAdapter::writeSpiMemory(uint8_t chipSelect, size_t offset, const Bytes& data) {
    return state_->firmware().withLock([&](Firmware& fw) {
        SpiTarget* target = fw.family<SpiFirmware>().target(chipSelect);
        return target != nullptr && target->writeMemory(offset, data.data(), data.size());
    });
}

SpiControllerState VirtualAdapter::spiController() const {
    return state_->firmware().withLock(
        [](Firmware& fw) { return fw.family<SpiFirmware>().state(); });
}

}  // namespace vantor::sim
