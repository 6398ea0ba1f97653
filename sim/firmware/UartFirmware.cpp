// SPDX-License-Identifier: MIT
#include "sim/firmware/UartFirmware.h"

#include <algorithm>

#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr uint8_t kSevenBits = 0;
constexpr size_t kLengthSize = 2;

}  // namespace

UartFirmware::UartFirmware() {
    serve<UartFirmware>({
        {uart::cmd::kDeinit, 0, &UartFirmware::deinit},
        {uart::cmd::kInit, 5, &UartFirmware::configure},
        {uart::cmd::kSetParameters, 5, &UartFirmware::configure},
        {uart::cmd::kSend, kLengthSize, &UartFirmware::send},
    });
}

void UartFirmware::reset() {
    state_ = UartState{};
}

void UartFirmware::deinit(const Request& request, Firmware& firmware) {
    if (!state_.initialized) return firmware.respond(request, status::kInterfaceNotInitialized);
    state_ = UartState{};
    firmware.respond(request, status::kSuccess);
}

void UartFirmware::configure(const Request& request, Firmware& firmware) {
    const bool init = request.commandCode() == uart::cmd::kInit;
    if (init && state_.initialized) {
        return firmware.respond(request, status::kInterfaceAlreadyInitialized);
    }
    if (!init && !state_.initialized) {
        return firmware.respond(request, status::kInterfaceNotInitialized);
    }
    UartState next;
    next.initialized = true;
    next.baudRate = request.u8(0);
    next.hardwareHandshake = request.u8(1);
    next.parity = request.u8(2);
    next.dataSize = request.u8(3);
    next.stopBit = request.u8(4);
    if (next.baudRate > kMaxBaudRate || next.hardwareHandshake > 1 || next.parity > 2 ||
        next.dataSize > 1 || next.stopBit > 1) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    state_ = next;
    firmware.respond(request, status::kSuccess);
}

uint8_t UartFirmware::onLine(uint8_t byte) const {
    return state_.dataSize == kSevenBits ? static_cast<uint8_t>(byte & 0x7F) : byte;
}

void UartFirmware::send(const Request& request, Firmware& firmware) {
    if (!state_.initialized) return firmware.respond(request, status::kInterfaceNotInitialized);
    const uint16_t length = request.u16(0);
    // The data must be exactly what the length announces.
    if (request.paramSize() != kLengthSize + length) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    // Start bit, 7 or 8 data bits, the parity bit if any, one or two stop bits.
    const unsigned bits = timing::uartBitsPerByte(state_.dataSize == kSevenBits ? 7 : 8,
                                                  state_.parity != 0, state_.stopBit != 0 ? 2 : 1);
    timing::spendBusTime(
        timing::uartBytes(length, timing::uartBaud(state_.baudRate).value_or(0), bits));
    const size_t start = sent_.size();
    const uint8_t* data = request.params() + kLengthSize;
    sent_.reserve(start + length);
    for (size_t i = 0; i < length; ++i) sent_.push_back(onLine(data[i]));
    firmware.respond(request, status::kSuccess);
    // The wire brings the bytes straight back, after the answer.
    if (loopback_) notifyReceived(sent_.data() + start, length, firmware);
}

bool UartFirmware::receive(const uint8_t* data, size_t size, Firmware& firmware) {
    if (!state_.initialized || !firmware.adapter().isPlugged()) return false;
    if (state_.dataSize != kSevenBits) {
        notifyReceived(data, size, firmware);
        return true;
    }
    Bytes line(data, data + size);
    for (uint8_t& byte : line) byte = onLine(byte);
    notifyReceived(line.data(), line.size(), firmware);
    return true;
}

void UartFirmware::notifyReceived(const uint8_t* data, size_t size, Firmware& firmware) const {
    for (size_t offset = 0; offset < size; offset += kMaxNotificationData) {
        const size_t chunk = std::min(kMaxNotificationData, size - offset);
        firmware.notify(MessageBuilder::notification(uart::notification::kReceived)
                            .u16(static_cast<uint16_t>(chunk))
                            .append(data + offset, chunk)
                            .take());
    }
}

}  // namespace vantor::sim
