// SPDX-License-Identifier: MIT
#pragma once
// Devices on the SPI controller's chip selects 0..3, and what the host set
// the controller to. Devices keep their contents across resets and
// unplugging.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/VirtualAdapter.h"

namespace vantor::sim {

class SpiTarget;  // "sim/devices/SpiDevices.h"

// A NOR flash on an SPI chip select.
struct SpiFlashOptions {
    size_t size = 1024 * 1024;                         // bytes; a multiple of 4 KiB, at most 16 MiB
    std::array<uint8_t, 3> jedecId{0xA7, 0x40, 0x14};  // answered to 0x9F
    // After a page program or sector erase, this many status bytes still
    // read busy before the operation completes (0: completes at once).
    unsigned busyPolls = 2;
};

// A flash attached by the bench, with the options it was attached with.
struct SpiFlashInfo {
    uint8_t chipSelect = 0;
    size_t size = 0;
    std::array<uint8_t, 3> jedecId{};
    unsigned busyPolls = 0;
};

// What the SPI controller is set to (values as on the wire).
struct SpiControllerState {
    bool initialized = false;
    uint8_t bitOrder = 0;  // 0 MSB first, 1 LSB first
    uint8_t mode = 0;
    uint8_t dataWidth = 0;
    uint8_t chipSelect = 0;
    uint8_t chipSelectPolarity = 0;
    uint32_t frequencyHz = 0;
};

class SpiBench {
  public:
    explicit SpiBench(VirtualAdapter::State& state) : state_(state) {}
    SpiBench(const SpiBench&) = delete;
    SpiBench& operator=(const SpiBench&) = delete;

    // False on an invalid chip select or option, or one already taken.
    bool attachFlash(uint8_t chipSelect, const SpiFlashOptions& options = {});
    bool attach(uint8_t chipSelect, std::shared_ptr<SpiTarget> target);
    bool detach(uint8_t chipSelect);
    // The device's memory; empty when nothing is attached there.
    Bytes memory(uint8_t chipSelect) const;
    bool writeMemory(uint8_t chipSelect, size_t offset, const Bytes& data);
    SpiControllerState controller() const;
    // The flashes, in chip-select order; targets of the caller's own are not
    // listed.
    std::vector<SpiFlashInfo> flashes() const;

  private:
    VirtualAdapter::State& state_;
};

}  // namespace vantor::sim
