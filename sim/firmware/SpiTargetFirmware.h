// SPDX-License-Identifier: MIT
#pragma once
// The SPI target family of the virtual adapter's firmware: the adapter
// answers on one chip select as a plain memory, a serial flash or a register
// map. The host configures it and moves the memory over the vendor bulk
// interface; the bench's external controller clocks frames into it, and
// each frame the target serves is reported as an SPI target bus event.
//
// Frames of the memory and the register map: 0x02 write or 0x03 read, a
// 2-byte memory address (most significant first), then the data. The flash
// serves JEDEC id (0x9F), status (0x05: bit 0 busy, bit 1 write enable
// latch), write enable and disable (0x06, 0x04), read (0x03), fast read
// (0x0B, one dummy byte), page program (0x02), 4 KiB sector, 64 KiB block
// and chip erase (0x20, 0xD8, 0xC7 or 0x60), with the configured address
// width; addresses beyond the memory wrap.

#include <cstddef>
#include <cstdint>

#include "sim/firmware/Firmware.h"
#include "sim/firmware/MemoryTargetFamily.h"
#include "sim/records/TargetRecords.h"

namespace vantor::sim {

namespace spi_target::cmd {
constexpr uint16_t kInit = 0x0E01;
constexpr uint16_t kSetParameters = 0x0E02;
constexpr uint16_t kWriteMemory = 0x0E03;
constexpr uint16_t kReadMemory = 0x0E04;
constexpr uint16_t kSetFlashConfig = 0x0E05;
constexpr uint16_t kBusEvent = 0x0E81;  // notification
}  // namespace spi_target::cmd

namespace spi_target::status {
constexpr uint16_t kSurpassedMemorySize = 0x0311;
constexpr uint16_t kPayloadTransferFailed = 0x0312;
constexpr uint16_t kWrongModel = 0x0313;
constexpr uint16_t kInvalidConfig = 0x0314;
constexpr uint16_t kRoleConflict = 0x0316;
}  // namespace spi_target::status

// Byte 6 of the bus-event notification.
namespace spi_target::event {
constexpr uint8_t kWrite = 0;    // bytes stored or programmed
constexpr uint8_t kRead = 1;     // bytes read
constexpr uint8_t kCommand = 2;  // any other command served (status, id, write enable, ...)
constexpr uint8_t kErase = 3;    // memory address and erased length (capped at 65535)
constexpr uint8_t kRefused = 4;  // flash busy or write not enabled: nothing done
}  // namespace spi_target::event

class SpiTargetFirmware final : public MemoryTargetFamily {
  public:
    static constexpr size_t kMemorySize = 32768;
    static constexpr uint8_t kChipSelects = 4;
    static constexpr uint32_t kByteTimeUs = 8;  // 8 clocks at 1 MHz

    SpiTargetFirmware();
    void reset() override;  // target role off, memory gone

    bool active() const { return state_.active; }

    // The bench (firmware mutex held).
    const SpiTargetState& state() const { return state_; }
    const Bytes& memory() const { return memory_.bytes(); }
    bool addRegion(const RegisterRegion& region);
    uint64_t clockUs() const { return clockUs_; }
    void advanceClock(uint32_t us) { clockUs_ += us; }
    bool busy() const { return clockUs_ < busyUntilUs_; }
    Bytes frame(Firmware& firmware, const Bytes& mosi, const SpiFrameSettings& settings);

  private:
    bool configured() const override { return state_.active; }
    void configure(const Request& request, Firmware& firmware);
    void setFlashConfig(const Request& request, Firmware& firmware);
    uint16_t checkActive() const;

    // The frame as the target decodes it (MOSI in, MISO out, same size).
    void serveMemory(Firmware& firmware, const Bytes& mosi, Bytes& miso);
    void serveFlash(Firmware& firmware, const Bytes& mosi, Bytes& miso);
    void notify(Firmware& firmware, uint8_t event, size_t memoryAddress, const uint8_t* data,
                size_t size) const;

    SpiTargetState state_;
    bool writeEnabled_ = false;
    uint64_t clockUs_ = 0;
    uint64_t busyUntilUs_ = 0;
};

}  // namespace vantor::sim
