// SPDX-License-Identifier: MIT
#pragma once
// How long things take on a real adapter: the USB side (interrupt reports,
// bulk), the buses (I2C, SPI, UART, I3C) and the devices on them (EEPROM
// write cycles, flash program and erase).
//
// The functions here are pure: they turn sizes and clocks into durations, so
// that the virtual adapter (which waits for them when its timing is on) and
// the benchmarks (which compute lower bounds from them) use the same figures.
// Every figure is written next to its source.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace vantor::sim {

enum class Model;

namespace timing {

using Nanos = std::chrono::nanoseconds;

enum class UsbSpeed {
    Off,        // no timing: the adapter answers as fast as it can
    FullSpeed,  // 12 Mbit/s: 1 ms frames
    HighSpeed,  // 480 Mbit/s: 125 us microframes
};

// What the virtual adapter models when its timing is on.
struct TimingOptions {
    UsbSpeed speed = UsbSpeed::Off;
    // Modelled seconds per wall-clock second: 1 runs in real time, 100 runs a
    // hundred times faster (every wait is divided by it). Must be > 0.
    double timeScale = 1.0;
    // Requests the adapter holds waiting to execute (the one executing is not
    // counted); one more is answered FW_FULL_RECEPTION_QUEUE.
    unsigned receptionQueueDepth = 16;
    // Bulk throughput in bytes per second; 0: the speed's default
    // (defaultBulkBytesPerSecond).
    double bulkBytesPerSecond = 0;
};

// ------------------------------------------------------------------- USB

// One interrupt transaction per interval and direction. The HID endpoints use
// bInterval 1: every frame at full speed (1 ms, USB 2.0 section 5.7.4 and
// 9.6.6) and every microframe at high speed (125 us, section 5.7.4, one
// transaction per microframe: the endpoint is not high-bandwidth).
Nanos reportInterval(UsbSpeed speed);
// Largest report one interrupt transaction carries: 64 bytes at full speed
// and 1024 at high speed (USB 2.0 section 5.7.3, table 5-7).
size_t maxInterruptPacket(UsbSpeed speed);
// Whether an adapter model's reports fit the speed: the 1024-byte reports
// need high speed.
bool modelFits(Model model, UsbSpeed speed);
// HID reports a message of `messageBytes` takes in a model's reports (each
// carries a 2-byte segment header and at most 1023 message bytes).
size_t reportsFor(size_t messageBytes, size_t reportSize);
// Interrupt intervals a request and its answer take: the request's reports go
// out one per interval, the answer's come back one per interval, with no time
// spent in the adapter. A report sent in an interval is at the far end when
// that interval ends.
Nanos roundTrip(UsbSpeed speed, size_t reportSize, size_t requestBytes, size_t responseBytes);
// Bulk throughput: at most 19 packets of 64 bytes per 1 ms frame at full speed
// (1,216,000 B/s) and 13 packets of 512 bytes per microframe at high speed
// (53,248,000 B/s): USB 2.0 section 5.8.4, tables 5-9 and 5-10.
double defaultBulkBytesPerSecond(UsbSpeed speed);
Nanos bulk(size_t bytes, double bytesPerSecond);

// ------------------------------------------------------------------ buses

// I2C: a start, the address byte, `bytes` data bytes, each 8 bits plus the
// acknowledge (9 clocks), and a stop; start and stop count one clock each
// (their setup and hold times at 100 and 400 kHz are about one clock period,
// NXP I2C-bus manual UM10204, table 10). A combined write-read adds a
// repeated start and a second address byte (readBytes > 0 with
// writeBytes > 0).
Nanos i2cTransfer(size_t writeBytes, size_t readBytes, uint32_t clockHz);
// `bytes` bytes in one addressed transfer (either direction).
Nanos i2cBytes(size_t bytes, uint32_t clockHz);
// SPI: 8 clocks per byte at the configured clock (chip-select setup and hold
// are a few ns and left out).
Nanos spiBytes(size_t bytes, uint32_t clockHz);
// UART: a start bit, the data bits, the parity bit when there is one, and the
// stop bits: 10 bits per byte at 8N1.
unsigned uartBitsPerByte(unsigned dataBits, bool parity, unsigned stopBits);
Nanos uartBytes(size_t bytes, uint32_t baud, unsigned bitsPerByte = 10);
// I3C SDR private transfer: the address header (start, 7-bit address, RnW and
// acknowledge: 9 clocks) at the open-drain rate, then 9 clocks per byte (8
// data bits and the T bit) at the push-pull rate (MIPI I3C Basic 1.1.1
// section 5.1.2).
Nanos i3cSdrBytes(size_t bytes, uint32_t pushPullHz, uint32_t openDrainHz);
// I3C HDR-DDR: the ENTHDR0 broadcast in SDR (two 9-clock bytes at the
// push-pull rate), then 20-bit words (2 preamble bits, 16 data bits, 2 parity
// bits) carried on both clock edges, 10 clocks each: the command word, one
// word per two data bytes, and the CRC word (5 clocks), MIPI I3C Basic
// section 5.2.2.
Nanos i3cDdrBytes(size_t bytes, uint32_t pushPullHz);
// The push-pull and open-drain clocks of the I3C rate settings (the values of
// I3cPushPullRate and I3cOpenDrainRate); nothing for an unknown value.
std::optional<uint32_t> i3cPushPullHz(uint8_t rate);
std::optional<uint32_t> i3cOpenDrainHz(uint8_t rate);
// The baud rates of the UartBaudRate values; nothing for an unknown value.
std::optional<uint32_t> uartBaud(uint8_t rate);

// ---------------------------------------------------------------- devices

// Serial EEPROM write cycle: 5 ms maximum and typical design figure for the
// 24xx family (tWR); during it the device does not acknowledge its address.
constexpr Nanos kEepromWriteCycle = std::chrono::milliseconds(5);

// Serial NOR flash operations, typical figures of the 25-series 3.0 V parts
// with 4/32/64 KiB erase (e.g. the 64 Mbit datasheets: tPP 0.7 ms, tSE 45 ms,
// tBE1 120 ms, tBE2 150 ms; chip erase 20 s typical for 8 MiB), busy until
// done.
enum class FlashOperation {
    PageProgram,
    Erase4K,
    Erase32K,
    Erase64K,
    EraseChip,
};
// Chip erase scales with size: 20 s for 8 MiB, as 2.5 s per MiB, at least the
// 64 KiB erase.
Nanos flashOperation(FlashOperation kind, size_t chipBytes);

// ----------------------------------------------------------------- clock

// While the adapter's scheduler executes a request with timing on, the
// executing thread carries the modelled time the request started at and the
// bus time the firmware has spent on it so far. Outside (and with timing off)
// there is none, and devices fall back to their untimed behaviour.
class ExecutionScope {
  public:
    explicit ExecutionScope(Nanos start);
    ~ExecutionScope();
    ExecutionScope(const ExecutionScope&) = delete;
    ExecutionScope& operator=(const ExecutionScope&) = delete;

    // Bus time spent by the request so far.
    Nanos spent() const { return spent_; }

  private:
    friend std::optional<Nanos> deviceNow();
    friend std::optional<Nanos> transferEnd();
    friend void announceTransfer(Nanos);
    friend void spendBusTime(Nanos);
    Nanos start_;
    Nanos spent_{0};
    Nanos announced_{0};
    ExecutionScope* outer_;
};

// Modelled now on the executing thread: the request's start plus the bus time
// spent so far. Nothing outside an ExecutionScope.
std::optional<Nanos> deviceNow();
// The firmware spent `duration` on the bus for the executing request (ignored
// outside an ExecutionScope). It ends an announced transfer.
void spendBusTime(Nanos duration);
// A transfer of `duration` is on the bus while the firmware hands it to a
// device: transferEnd() is when it ends (the stop condition), where a device
// starts what the transfer set off (an EEPROM's write cycle). Nothing outside
// an ExecutionScope.
void announceTransfer(Nanos duration);
std::optional<Nanos> transferEnd();

}  // namespace timing
}  // namespace vantor::sim
