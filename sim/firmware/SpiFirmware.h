// SPDX-License-Identifier: MIT
#pragma once
// The SPI controller family of the virtual adapter's firmware: controller
// set-up, the full-duplex transfer over the command channel and the bulk
// variants whose data moves over the vendor interface. Each transfer is one
// chip-select frame on the configured chip select; the devices there are
// `SpiTarget`s attached by the bench.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/devices/SpiDevices.h"
#include "sim/firmware/Firmware.h"
#include "sim/records/SpiRecords.h"

namespace vantor::sim {

namespace spi::cmd {
constexpr uint16_t kDeinit = 0x0C01;
constexpr uint16_t kInit = 0x0D01;
constexpr uint16_t kSetParameters = 0x0D02;
constexpr uint16_t kTransfer = 0x0D04;
constexpr uint16_t kTransferBulk = 0x0D05;
constexpr uint16_t kWriteBulk = 0x0D07;
constexpr uint16_t kReadBulk = 0x0D08;
}  // namespace spi::cmd

class SpiFirmware final : public FirmwareFamily {
  public:
    static constexpr uint8_t kChipSelects = 4;
    static constexpr size_t kMaxTransfer = 1024;       // command channel, each direction
    static constexpr size_t kMaxBulkTransfer = 32768;  // vendor interface
    static constexpr uint32_t kMinFrequencyHz = 1000;
    static constexpr uint32_t kMaxFrequencyHz = 50000000;

    SpiFirmware();
    void reset() override;  // uninitialised; devices stay

    // The bench (firmware mutex held).
    bool attach(uint8_t chipSelect, std::shared_ptr<SpiTarget> target);
    bool detach(uint8_t chipSelect);
    SpiTarget* target(uint8_t chipSelect) const;
    const SpiControllerState& state() const { return state_; }

  private:
    void configure(const Request& request, Firmware& firmware);
    void deinit(const Request& request, Firmware& firmware);
    void transfer(const Request& request, Firmware& firmware);
    void transferBulk(const Request& request, Firmware& firmware);
    void writeBulk(const Request& request, Firmware& firmware);
    void readBulk(const Request& request, Firmware& firmware);

    // Clocks one frame of `size` bytes on the configured chip select: the
    // first `sentSize` bytes of `sent`, then zeros. `received` (`size`
    // bytes) takes what MISO carried.
    void clock(const uint8_t* sent, size_t sentSize, uint8_t* received, size_t size);

    SpiControllerState state_;
    std::array<std::shared_ptr<SpiTarget>, kChipSelects> targets_;
    Bytes scratch_;  // the frame's MOSI bytes when they must be padded or reordered
};

}  // namespace vantor::sim
