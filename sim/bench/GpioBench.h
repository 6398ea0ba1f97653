// SPDX-License-Identifier: MIT
#pragma once
// The far end of the adapter's GPIO pins 0..5: levels driven onto inputs,
// and what the pins are set to.

#include <cstdint>
#include <optional>

#include "sim/VirtualAdapterCore.h"
#include "sim/records/GpioRecords.h"

namespace vantor::sim {

class GpioBench {
  public:
    explicit GpioBench(VirtualAdapter::State& state) : state_(state) {}
    GpioBench(const GpioBench&) = delete;
    GpioBench& operator=(const GpioBench&) = delete;

    // Drives a pin from outside. A configured input sees the level; an edge
    // the pin's interrupt is armed for raises a GPIO notification. False for
    // an invalid pin or level.
    bool driveInput(uint8_t pin, uint8_t level);
    // The level an output pin drives; nothing when the pin is not an output.
    std::optional<uint8_t> outputLevel(uint8_t number) const;
    GpioPinState pin(uint8_t number) const;
    // The level driveInput last put on a pin; nothing before it was driven.
    std::optional<uint8_t> drivenLevel(uint8_t number) const;

  private:
    VirtualAdapter::State& state_;
};

}  // namespace vantor::sim
