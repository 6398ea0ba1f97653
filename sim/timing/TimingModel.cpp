// SPDX-License-Identifier: MIT
#include "sim/timing/TimingModel.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "sim/VirtualAdapterCore.h"
#include "sim/usb/Wire.h"

namespace vantor::sim::timing {

namespace {

// Whole nanoseconds of `clocks` periods of a `hz` clock (a zero clock takes
// no time: the callers validate clocks before they run a bus).
Nanos clocks(double count, double hz) {
    if (hz <= 0) return Nanos(0);
    return Nanos(static_cast<int64_t>(std::llround(count * 1e9 / hz)));
}

constexpr size_t kBitsPerByte = 8;
constexpr size_t kI2cClocksPerByte = 9;      // 8 data bits and the acknowledge
constexpr size_t kI3cSdrClocksPerByte = 9;   // 8 data bits and the T bit
constexpr size_t kI3cDdrClocksPerWord = 10;  // 20 bits on both edges
constexpr size_t kI3cDdrCrcClocks = 5;
constexpr size_t kI3cEnterHdrClocks = 18;  // 0x7E header and the ENTHDR0 code

thread_local ExecutionScope* tlsExecution = nullptr;

}  // namespace

Nanos reportInterval(UsbSpeed speed) {
    switch (speed) {
        case UsbSpeed::FullSpeed:
            return std::chrono::milliseconds(1);
        case UsbSpeed::HighSpeed:
            return std::chrono::microseconds(125);
        case UsbSpeed::Off:
            break;
    }
    return Nanos(0);
}

size_t maxInterruptPacket(UsbSpeed speed) {
    return speed == UsbSpeed::HighSpeed ? 1024 : 64;
}

bool modelFits(Model model, UsbSpeed speed) {
    const size_t report = model == Model::Quillex ? 1024 : 64;
    return speed == UsbSpeed::Off || report <= maxInterruptPacket(speed);
}

size_t reportsFor(size_t messageBytes, size_t reportSize) {
    const size_t capacity = chunkCapacity(reportSize);
    if (capacity == 0) return 0;
    return (messageBytes + capacity - 1) / capacity;
}

Nanos roundTrip(UsbSpeed speed, size_t reportSize, size_t requestBytes, size_t responseBytes) {
    const size_t reports =
        reportsFor(requestBytes, reportSize) + reportsFor(responseBytes, reportSize);
    return reportInterval(speed) * static_cast<int64_t>(reports);
}

double defaultBulkBytesPerSecond(UsbSpeed speed) {
    switch (speed) {
        case UsbSpeed::FullSpeed:
            return 19.0 * 64 * 1000;  // 19 packets of 64 bytes per 1 ms frame
        case UsbSpeed::HighSpeed:
            return 13.0 * 512 * 8000;  // 13 packets of 512 bytes per 125 us microframe
        case UsbSpeed::Off:
            break;
    }
    return 0;
}

Nanos bulk(size_t bytes, double bytesPerSecond) {
    return clocks(static_cast<double>(bytes), bytesPerSecond);
}

Nanos i2cTransfer(size_t writeBytes, size_t readBytes, uint32_t clockHz) {
    // Start, address byte, data, stop; a read after a write adds the repeated
    // start and the second address byte.
    size_t count = 1 + kI2cClocksPerByte * (1 + writeBytes + readBytes) + 1;
    if (writeBytes > 0 && readBytes > 0) count += 1 + kI2cClocksPerByte;
    return clocks(static_cast<double>(count), clockHz);
}

Nanos i2cBytes(size_t bytes, uint32_t clockHz) {
    return i2cTransfer(bytes, 0, clockHz);
}

Nanos spiBytes(size_t bytes, uint32_t clockHz) {
    return clocks(static_cast<double>(bytes * kBitsPerByte), clockHz);
}

unsigned uartBitsPerByte(unsigned dataBits, bool parity, unsigned stopBits) {
    return 1 + dataBits + (parity ? 1 : 0) + stopBits;
}

Nanos uartBytes(size_t bytes, uint32_t baud, unsigned bitsPerByte) {
    return clocks(static_cast<double>(bytes * bitsPerByte), baud);
}

Nanos i3cSdrBytes(size_t bytes, uint32_t pushPullHz, uint32_t openDrainHz) {
    return clocks(kI3cSdrClocksPerByte, openDrainHz) +
           clocks(static_cast<double>(bytes * kI3cSdrClocksPerByte), pushPullHz);
}

Nanos i3cDdrBytes(size_t bytes, uint32_t pushPullHz) {
    const size_t words = 1 + (bytes + 1) / 2;  // the command word and the data words
    return clocks(
        static_cast<double>(kI3cEnterHdrClocks + words * kI3cDdrClocksPerWord + kI3cDdrCrcClocks),
        pushPullHz);
}

std::optional<uint32_t> i3cPushPullHz(uint8_t rate) {
    // The frequencies of PUSH_PULL_* in value order (duty cycles do not
    // change the rate).
    static constexpr std::array<uint32_t, 22> kHz = {
        2500000, 2500000,  2500000,  2500000, 3125000, 3125000, 3125000, 3125000,
        5000000, 5000000,  5000000,  5000000, 6250000, 6250000, 6250000, 7500000,
        7500000, 10000000, 12500000, 1000000, 400000,  100000};
    if (rate >= kHz.size()) return std::nullopt;
    return kHz[rate];
}

std::optional<uint32_t> i3cOpenDrainHz(uint8_t rate) {
    static constexpr std::array<uint32_t, 5> kHz = {100000, 400000, 1000000, 2000000, 4170000};
    if (rate >= kHz.size()) return std::nullopt;
    return kHz[rate];
}

std::optional<uint32_t> uartBaud(uint8_t rate) {
    static constexpr std::array<uint32_t, 11> kBaud = {600,   1200,  2400,  4800,  9600,  14400,
                                                       19200, 38400, 56000, 57600, 115200};
    if (rate >= kBaud.size()) return std::nullopt;
    return kBaud[rate];
}

Nanos flashOperation(FlashOperation kind, size_t chipBytes) {
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    switch (kind) {
        case FlashOperation::PageProgram:
            return microseconds(700);
        case FlashOperation::Erase4K:
            return milliseconds(45);
        case FlashOperation::Erase32K:
            return milliseconds(120);
        case FlashOperation::Erase64K:
            return milliseconds(150);
        case FlashOperation::EraseChip: {
            constexpr double kMsPerMiB = 2500.0;  // 20 s for 8 MiB
            const double ms = kMsPerMiB * static_cast<double>(chipBytes) / (1024.0 * 1024.0);
            return std::max<Nanos>(milliseconds(150), Nanos(static_cast<int64_t>(ms * 1e6)));
        }
    }
    return Nanos(0);
}

ExecutionScope::ExecutionScope(Nanos start) : start_(start), outer_(tlsExecution) {
    tlsExecution = this;
}

ExecutionScope::~ExecutionScope() {
    tlsExecution = outer_;
}

std::optional<Nanos> deviceNow() {
    if (tlsExecution == nullptr) return std::nullopt;
    return tlsExecution->start_ + tlsExecution->spent_;
}

void spendBusTime(Nanos duration) {
    if (tlsExecution == nullptr) return;
    tlsExecution->spent_ += duration;
    tlsExecution->announced_ = Nanos(0);
}

void announceTransfer(Nanos duration) {
    if (tlsExecution != nullptr) tlsExecution->announced_ = duration;
}

std::optional<Nanos> transferEnd() {
    if (tlsExecution == nullptr) return std::nullopt;
    return tlsExecution->start_ + tlsExecution->spent_ + tlsExecution->announced_;
}

}  // namespace vantor::sim::timing
