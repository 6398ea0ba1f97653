// SPDX-License-Identifier: MIT
// Arbitrary message bytes through vantor::Notification and every typed
// accessor.
//
// Input: byte 0 picks the notification code written at offset 2 (one of the
// known codes, or the message's own bytes); the rest is the message. The
// message is copied into a buffer of exactly its length, so that a read past
// its end is caught by AddressSanitizer.
//
// Checked: exactly the accessor of the message's kind may answer, and only
// for a message long enough for its fields; every pointer an accessor hands
// out lies inside the message, with its length; the notification code maps
// to the kind.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "sdk/core/Notification.h"

namespace {

using vantor::Notification;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

constexpr uint16_t kCodes[] = {0x1982, 0x1981, 0x1481, 0x1081, 0x0481,
                               0x0A81, 0x0E81, 0x1A81, 0x0000};

// A span handed out by an accessor lies inside the message.
void checkSpan(const Notification& n, const uint8_t* data, size_t length, const char* what) {
    if (data == nullptr) {
        check(length == 0, what);
        return;
    }
    const uint8_t* begin = n.message();
    const uint8_t* end = begin + n.length();
    check(data >= begin && data <= end && length <= static_cast<size_t>(end - data), what);
    // Touch every byte, so that the sanitizer sees a bad span.
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    (void)sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t pick = data[0];
    const size_t length = size - 1;
    std::unique_ptr<uint8_t[]> message(new uint8_t[length == 0 ? 1 : length]);
    if (length > 0) std::memcpy(message.get(), data + 1, length);
    const size_t codeIndex = pick % (sizeof kCodes / sizeof kCodes[0] + 1);
    if (codeIndex < sizeof kCodes / sizeof kCodes[0] && length >= 4) {
        message[2] = static_cast<uint8_t>(kCodes[codeIndex] & 0xFF);
        message[3] = static_cast<uint8_t>(kCodes[codeIndex] >> 8);
    }

    const Notification n(message.get(), length);
    check(n.message() == message.get() && n.length() == length, "the view is the message");
    if (length >= 4) {
        const auto code = static_cast<uint16_t>(message[2] | (message[3] << 8));
        check(n.kind() == vantor::notificationKindForCode(code), "the kind follows the code");
    } else {
        check(n.kind() == vantor::NOTIF_UNKNOWN, "a message without a code is of no kind");
    }

    // Accessor of each kind, with the length its fields need.
    struct Answer {
        vantor::NotificationKind kind;
        size_t minimum;
        bool answered;
    };
    const auto* hotJoin = n.i3cHotJoin();
    const auto* ibi = n.i3cIbi();
    const auto* gpio = n.gpio();
    const auto* uart = n.uartRx();
    const auto* connector = n.i3cConnectorEvent();
    const auto* i2cTarget = n.i2cTargetBusEvent();
    const auto* spiTarget = n.spiTargetBusEvent();
    const auto* i3cTarget = n.i3cTargetBusEvent();
    const Answer answers[] = {
        {vantor::NOTIF_I3C_HJ, 15, hotJoin != nullptr},
        {vantor::NOTIF_I3C_IBI, 8, ibi != nullptr},
        {vantor::NOTIF_GPIO, 9, gpio != nullptr},
        {vantor::NOTIF_UART, 8, uart != nullptr},
        {vantor::NOTIF_I3C_CONNECTOR_EVENT, 9, connector != nullptr},
        {vantor::NOTIF_I2C_TARGET_BUS_EVENT, 12, i2cTarget != nullptr},
        {vantor::NOTIF_SPI_TARGET_BUS_EVENT, 12, spiTarget != nullptr},
        {vantor::NOTIF_I3C_TARGET_BUS_EVENT, 12, i3cTarget != nullptr},
    };
    for (const Answer& a : answers) {
        check(a.answered == (n.kind() == a.kind && length >= a.minimum),
              "only the message's own kind answers, when long enough");
    }

    if (ibi != nullptr) {
        checkSpan(n, ibi->payload, ibi->payloadLength, "IBI payload inside the message");
        check(ibi->payloadLength <= message[7], "IBI payload within its length byte");
    }
    if (uart != nullptr) {
        checkSpan(n, uart->data, uart->dataLength, "UART data inside the message");
    }
    if (i3cTarget != nullptr) {
        checkSpan(n, i3cTarget->data, i3cTarget->dataLength, "I3C target data inside the message");
        if (message[6] >= 2) {
            check(i3cTarget->data == nullptr && i3cTarget->memoryAddress == 0,
                  "a CCC or address event carries no data");
        }
    }
    if (hotJoin != nullptr) {
        check(std::memcmp(hotJoin->pid, message.get() + 6, 6) == 0, "PID in message order");
    }
    // Decoding twice gives the same record.
    if (gpio != nullptr) {
        const auto pin = gpio->pinNumber;
        check(n.gpio() == gpio && gpio->pinNumber == pin, "decoding twice is stable");
    }
    (void)connector;
    (void)i2cTarget;
    (void)spiTarget;
    return 0;
}
