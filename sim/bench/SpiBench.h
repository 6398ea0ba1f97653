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

#include "sim/VirtualAdapterCore.h"
#include "sim/records/SpiRecords.h"

namespace vantor::sim {

class SpiTarget;  // "sim/devices/SpiDevices.h"

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
