// SPDX-License-Identifier: MIT
#pragma once
// The I/O rail as the power firmware keeps it and the bench reads it.
//
// Plain data, shared by the firmware, the devices and the bench.

#include <cstdint>

namespace vantor::sim {

struct RailState {
    uint16_t millivolts = 3300;  // what the rail carries (the external supply's when external)
    bool external = false;
};

}  // namespace vantor::sim
