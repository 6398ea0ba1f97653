// SPDX-License-Identifier: MIT
#pragma once
// The adapter's analog measurements, as the system firmware keeps them and
// the bench reads and sets them.
//
// Plain data, shared by the firmware, the devices and the bench.

#include <cstdint>

namespace vantor::sim {

// The three voltages the adapter measures, in millivolts.
struct AnalogMeasurements {
    uint16_t ioMv = 3300;
    uint16_t i3cLowMv = 1800;
    uint16_t i3cHighMv = 3300;
};

}  // namespace vantor::sim
