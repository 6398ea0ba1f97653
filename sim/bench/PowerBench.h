// SPDX-License-Identifier: MIT
#pragma once
// The I/O voltage rail of the I2C, SPI, UART and GPIO signals, as the bench
// sees it, and the external supply that may feed it.

#include <cstdint>
#include <optional>

#include "sim/VirtualAdapterCore.h"
#include "sim/records/PowerRecords.h"

namespace vantor::sim {

class PowerBench {
  public:
    explicit PowerBench(VirtualAdapter::State& state) : state_(state) {}
    PowerBench(const PowerBench&) = delete;
    PowerBench& operator=(const PowerBench&) = delete;

    // The voltage an external supply puts on the rail, measured while the
    // host has handed the rail over to it.
    void setExternalVoltage(uint16_t millivolts);
    RailState ioRail() const;
    // What setExternalVoltage last set; nothing before it was called.
    std::optional<uint16_t> externalVoltage() const;

  private:
    VirtualAdapter::State& state_;
};

}  // namespace vantor::sim
