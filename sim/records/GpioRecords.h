// SPDX-License-Identifier: MIT
#pragma once
// A GPIO pin as the firmware keeps it and the bench reads it.
//
// Plain data, shared by the firmware, the devices and the bench.

#include <cstdint>

namespace vantor::sim {

// One GPIO pin as the firmware sees it.
struct GpioPinState {
    bool configured = false;
    bool output = false;
    uint8_t level = 0;    // an output's driven level, an input's sampled level
    uint8_t trigger = 0;  // armed interrupt edges: 0 none, 1 rising, 2 falling, 3 both
};

}  // namespace vantor::sim
