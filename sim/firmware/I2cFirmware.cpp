// SPDX-License-Identifier: MIT
#include "sim/firmware/I2cFirmware.h"

#include <utility>

#include "sim/firmware/I2cTargetFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr size_t kTransferHeaderSize = 10;  // parameter bytes of the transfer header
constexpr uint8_t kMaxSubaddressSize = 4;
constexpr uint16_t kFirst7Bit = 0x08;  // 0x00..0x07 and 0x78..0x7F are reserved
constexpr uint16_t kLast7Bit = 0x77;
constexpr uint16_t kLast10Bit = 0x3FF;
constexpr size_t kMaxListed = 255;  // the scan answer counts 10-bit addresses in one byte

}  // namespace

I2cFirmware::I2cFirmware() {
    serve<I2cFirmware>({
        {i2c::cmd::kDeinit, 1, &I2cFirmware::deinit},
        {i2c::cmd::kSetPullUps, 2, &I2cFirmware::setPullUps},
        {i2c::cmd::kInit, 6, &I2cFirmware::configure},
        {i2c::cmd::kSetParameters, 6, &I2cFirmware::configure},
        {i2c::cmd::kWrite, kTransferHeaderSize, &I2cFirmware::write},
        {i2c::cmd::kRead, kTransferHeaderSize, &I2cFirmware::read},
        {i2c::cmd::kScan, 2, &I2cFirmware::scan},
        {i2c::cmd::kWriteBulk, kTransferHeaderSize, &I2cFirmware::writeBulk, bulk::kI2c},
        {i2c::cmd::kReadBulk, kTransferHeaderSize, &I2cFirmware::readBulk, bulk::kI2c},
    });
}

void I2cFirmware::reset() {
    for (Bus& each : buses_) each.state = I2cBusState{};
}

// ------------------------------------------------------------------- bench

std::optional<uint16_t> I2cFirmware::key(uint16_t address, bool tenBit) {
    if (tenBit || address > 0x7F) {
        if (address > kLast10Bit) return std::nullopt;
        return static_cast<uint16_t>(kTenBitKey | address);
    }
    if (address < kFirst7Bit || address > kLast7Bit) return std::nullopt;
    return address;
}

std::vector<std::pair<uint16_t, bool>> I2cFirmware::addresses(uint8_t number) const {
    std::vector<std::pair<uint16_t, bool>> out;
    if (number >= kBuses) return out;
    for (const auto& entry : buses_[number].targets) {
        const bool tenBit = (entry.first & kTenBitKey) != 0;
        out.emplace_back(static_cast<uint16_t>(entry.first & ~kTenBitKey), tenBit);
    }
    return out;
}

I2cFirmware::Bus* I2cFirmware::bus(uint8_t number) {
    return number < kBuses ? &buses_[number] : nullptr;
}

bool I2cFirmware::attach(uint8_t busNumber, uint16_t address, bool tenBit,
                         std::shared_ptr<I2cTarget> target) {
    Bus* const found = bus(busNumber);
    const auto k = key(address, tenBit);
    if (found == nullptr || !k || !target) return false;
    return found->targets.emplace(*k, std::move(target)).second;
}

bool I2cFirmware::detach(uint8_t busNumber, uint16_t address, bool tenBit) {
    Bus* const found = bus(busNumber);
    const auto k = key(address, tenBit);
    return found != nullptr && k && found->targets.erase(*k) > 0;
}

I2cTarget* I2cFirmware::target(uint8_t busNumber, uint16_t address, bool tenBit) const {
    const auto k = key(address, tenBit);
    if (busNumber >= kBuses || !k) return nullptr;
    const auto& targets = buses_[busNumber].targets;
    const auto it = targets.find(*k);
    return it == targets.end() ? nullptr : it->second.get();
}

I2cBusState I2cFirmware::busState(uint8_t busNumber) const {
    return busNumber < kBuses ? buses_[busNumber].state : I2cBusState{};
}

// ----------------------------------------------------------------- bus set-up

void I2cFirmware::configure(const Request& request, Firmware& firmware) {
    Bus* const target = bus(request.u8(0));
    if (target == nullptr) return firmware.respond(request, status::kInvalidParameter);
    const bool init = request.commandCode() == i2c::cmd::kInit;
    if (init && target->state.initialized) {
        return firmware.respond(request, status::kInterfaceAlreadyInitialized);
    }
    if (!init && !target->state.initialized) {
        return firmware.respond(request, status::kInterfaceNotInitialized);
    }
    // A bus that the target role holds cannot also be driven.
    if (init && firmware.family<I2cTargetFirmware>().holds(request.u8(0))) {
        return firmware.respond(request, i2c_target::status::kRoleConflict);
    }
    const uint32_t frequency = request.u32(1);
    const uint8_t pullUp = request.u8(5);
    if (frequency < kMinFrequencyHz || frequency > kMaxFrequencyHz || pullUp > kMaxPullUp) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    target->state = I2cBusState{true, frequency, pullUp};
    firmware.respond(request, status::kSuccess);
}

void I2cFirmware::setPullUps(const Request& request, Firmware& firmware) {
    Bus* const target = bus(request.u8(0));
    if (target == nullptr) return firmware.respond(request, status::kInvalidParameter);
    if (!target->state.initialized)
        return firmware.respond(request, status::kInterfaceNotInitialized);
    if (request.u8(1) > kMaxPullUp) return firmware.respond(request, status::kInvalidParameter);
    target->state.pullUp = request.u8(1);
    firmware.respond(request, status::kSuccess);
}

void I2cFirmware::deinit(const Request& request, Firmware& firmware) {
    Bus* const target = bus(request.u8(0));
    if (target == nullptr) return firmware.respond(request, status::kInvalidParameter);
    if (!target->state.initialized)
        return firmware.respond(request, status::kInterfaceNotInitialized);
    target->state = I2cBusState{};
    firmware.respond(request, status::kSuccess);
}

void I2cFirmware::scan(const Request& request, Firmware& firmware) {
    const uint8_t number = request.u8(0);
    const Bus* const scanned = bus(number);
    if (scanned == nullptr) return firmware.respond(request, status::kInvalidParameter);
    if (!scanned->state.initialized) {
        return firmware.respond(request, status::kInterfaceNotInitialized);
    }
    const bool tenBit = request.u8(1) != 0;
    // Bus time: the scan probes each non-reserved 7-bit address (0x08 to
    // 0x77) with an address-only write, and with 10-bit scanning every 10-bit
    // address with its two address bytes.
    constexpr int64_t kProbed7 = 0x78 - 0x08;
    constexpr int64_t kProbed10 = 1024;
    const uint32_t hz = scanned->state.frequencyHz;
    timing::spendBusTime(timing::i2cTransfer(0, 0, hz) * kProbed7 +
                         (tenBit ? timing::i2cTransfer(1, 0, hz) * kProbed10 : timing::Nanos(0)));
    // The map holds the 7-bit keys first, then the 10-bit ones, each sorted.
    Bytes found7;
    std::vector<uint16_t> found10;
    for (const auto& entry : scanned->targets) {
        if ((entry.first & kTenBitKey) == 0) {
            found7.push_back(static_cast<uint8_t>(entry.first));
        } else if (tenBit && found10.size() < kMaxListed) {
            found10.push_back(static_cast<uint16_t>(entry.first & ~kTenBitKey));
        }
    }
    MessageBuilder answer = MessageBuilder::response(request, status::kSuccess);
    answer.u8(number)
        .u8(static_cast<uint8_t>(found7.size()))
        .u8(static_cast<uint8_t>(found10.size()))
        .append(found7.data(), found7.size());
    for (uint16_t address : found10) answer.u16(address);
    firmware.respond(answer.take());
}

// ------------------------------------------------------------------ transfers

I2cFirmware::Transfer I2cFirmware::parseTransfer(const Request& request) {
    Transfer transfer{};
    transfer.transactionId = request.transactionId();
    transfer.code = request.commandCode();
    transfer.bus = request.u8(0);
    transfer.length = request.u16(1);
    transfer.address = request.u8(3);
    transfer.subaddressSize = request.u8(4);
    const uint32_t value = request.u32(5);
    if (transfer.subaddressSize <= kMaxSubaddressSize) {
        for (uint8_t i = 0; i < transfer.subaddressSize; ++i) {
            const unsigned shift = 8u * (transfer.subaddressSize - 1u - i);
            transfer.subaddress[i] = static_cast<uint8_t>((value >> shift) & 0xFF);
        }
    }
    return transfer;
}

uint16_t I2cFirmware::checkTransfer(const Transfer& transfer, size_t maxLength) const {
    if (transfer.bus >= kBuses) return status::kInvalidParameter;
    if (!buses_[transfer.bus].state.initialized) return status::kInterfaceNotInitialized;
    // A 7-bit address travels in the byte; anything above 0x7F cannot be sent.
    if (transfer.subaddressSize > kMaxSubaddressSize || transfer.length > maxLength ||
        transfer.address > 0x7F) {
        return i2c::status::kInvalidParameter;
    }
    return status::kSuccess;
}

I2cTarget* I2cFirmware::addressed(const Transfer& transfer) const {
    const auto& targets = buses_[transfer.bus].targets;
    const auto it = targets.find(transfer.address);
    return it == targets.end() ? nullptr : it->second.get();
}

MessageBuilder I2cFirmware::answer(const Transfer& transfer, uint16_t status, uint16_t count) {
    MessageBuilder message =
        MessageBuilder::response(transfer.transactionId, transfer.code, status);
    message.u8(transfer.address).u16(count);
    return message;
}

void I2cFirmware::spendBusTime(const Transfer& transfer, bool acknowledged, size_t written,
                               size_t read) const {
    const uint32_t hz = buses_[transfer.bus].state.frequencyHz;
    const size_t subaddress = transfer.subaddressSize;
    timing::spendBusTime(acknowledged ? timing::i2cTransfer(subaddress + written, read, hz)
                                      : timing::i2cTransfer(0, 0, hz));
}

void I2cFirmware::announceTransfer(const Transfer& transfer, size_t written) const {
    timing::announceTransfer(timing::i2cTransfer(transfer.subaddressSize + written, 0,
                                                 buses_[transfer.bus].state.frequencyHz));
}

void I2cFirmware::write(const Request& request, Firmware& firmware) {
    const Transfer transfer = parseTransfer(request);
    uint16_t status = checkTransfer(transfer, kMaxTransfer);
    // The data must be exactly what the length announces.
    if (status == status::kSuccess &&
        request.paramSize() != kTransferHeaderSize + transfer.length) {
        status = i2c::status::kInvalidParameter;
    }
    I2cTarget* const target = status == status::kSuccess ? addressed(transfer) : nullptr;
    if (status == status::kSuccess && (target == nullptr || !target->acknowledge())) {
        status = i2c::status::kNackAddress;
    }
    if (status == status::kSuccess) {
        announceTransfer(transfer, transfer.length);
        status = target->write(transfer.subaddress.data(), transfer.subaddressSize,
                               request.params() + kTransferHeaderSize, transfer.length);
    }
    if (status == status::kSuccess || status == i2c::status::kNackAddress) {
        spendBusTime(transfer, status == status::kSuccess, transfer.length, 0);
    }
    firmware.respond(
        answer(transfer, status, status == status::kSuccess ? transfer.length : 0).take());
}

void I2cFirmware::read(const Request& request, Firmware& firmware) {
    const Transfer transfer = parseTransfer(request);
    uint16_t status = checkTransfer(transfer, kMaxTransfer);
    I2cTarget* const target = status == status::kSuccess ? addressed(transfer) : nullptr;
    if (status == status::kSuccess && (target == nullptr || !target->acknowledge())) {
        status = i2c::status::kNackAddress;
    }
    if (status == i2c::status::kNackAddress) spendBusTime(transfer, false, 0, 0);
    if (status != status::kSuccess) return firmware.respond(answer(transfer, status, 0).take());

    constexpr size_t kDataOffset = kResponseHeaderSize + 3;
    Bytes message = answer(transfer, status::kSuccess, transfer.length).take();
    message.resize(kDataOffset + transfer.length);
    status = target->read(transfer.subaddress.data(), transfer.subaddressSize,
                          message.data() + kDataOffset, transfer.length);
    spendBusTime(transfer, status == status::kSuccess, 0, transfer.length);
    if (status != status::kSuccess) return firmware.respond(answer(transfer, status, 0).take());
    firmware.respond(message);
}

void I2cFirmware::writeBulk(const Request& request, Firmware& firmware) {
    const Transfer transfer = parseTransfer(request);
    if (!firmware.adapter().bulk) {
        return firmware.respond(answer(transfer, status::kFeatureNotSupportedByHardware, 0).take());
    }
    // Without a usable length there is no telling how much data follows.
    if (transfer.length == 0 || transfer.length > kMaxBulkTransfer) {
        return firmware.respond(answer(transfer, i2c::status::kInvalidParameter, 0).take());
    }
    // The data phase follows the request whatever else is wrong with it, so
    // take it in before answering; it must not linger for the next transfer.
    firmware.awaitBulkOut(transfer.length, [this, transfer](Firmware& later,
                                                            std::optional<Bytes> data) {
        uint16_t status = data ? checkTransfer(transfer, kMaxBulkTransfer) : status::kBusTimeout;
        I2cTarget* const target = status == status::kSuccess ? addressed(transfer) : nullptr;
        if (status == status::kSuccess && (target == nullptr || !target->acknowledge())) {
            status = i2c::status::kNackAddress;
        }
        if (status == status::kSuccess) {
            announceTransfer(transfer, transfer.length);
            status = target->write(transfer.subaddress.data(), transfer.subaddressSize,
                                   data->data(), data->size());
        }
        if (status == status::kSuccess || status == i2c::status::kNackAddress) {
            spendBusTime(transfer, status == status::kSuccess, transfer.length, 0);
        }
        later.respond(
            answer(transfer, status, status == status::kSuccess ? transfer.length : 0).take());
    });
}

void I2cFirmware::readBulk(const Request& request, Firmware& firmware) {
    const Transfer transfer = parseTransfer(request);
    uint16_t status = firmware.adapter().bulk ? checkTransfer(transfer, kMaxBulkTransfer)
                                              : status::kFeatureNotSupportedByHardware;
    if (status == status::kSuccess && transfer.length == 0) status = i2c::status::kInvalidParameter;
    I2cTarget* const target = status == status::kSuccess ? addressed(transfer) : nullptr;
    if (status == status::kSuccess && (target == nullptr || !target->acknowledge())) {
        status = i2c::status::kNackAddress;
    }
    Bytes data;
    if (status == status::kSuccess) {
        data.resize(transfer.length);
        status = target->read(transfer.subaddress.data(), transfer.subaddressSize, data.data(),
                              data.size());
    }
    if (status == status::kSuccess || status == i2c::status::kNackAddress) {
        spendBusTime(transfer, status == status::kSuccess, 0, transfer.length);
    }
    if (status != status::kSuccess) return firmware.respond(answer(transfer, status, 0).take());
    // The count first; the host reads the data only after this answer.
    firmware.respond(answer(transfer, status::kSuccess, transfer.length).take());
    firmware.queueBulkIn(data.data(), data.size());
}

}  // namespace vantor::sim
