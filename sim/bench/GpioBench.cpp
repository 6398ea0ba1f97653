// SPDX-License-Identifier: MIT
#include "sim/bench/GpioBench.h"

#include <optional>

#include "sim/firmware/GpioFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

bool GpioBench::driveInput(uint8_t pin, uint8_t level) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<GpioFirmware>().drive(pin, level, fw); });
}

std::optional<uint8_t> GpioBench::outputLevel(uint8_t number) const {
    const GpioPinState state = pin(number);
    if (!state.configured || !state.output) return std::nullopt;
    return state.level;
}

std::optional<uint8_t> GpioBench::drivenLevel(uint8_t number) const {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<GpioFirmware>().driven(number); });
}

GpioPinState GpioBench::pin(uint8_t number) const {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<GpioFirmware>().pin(number); });
}

}  // namespace vantor::sim
