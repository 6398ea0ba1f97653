// SPDX-License-Identifier: MIT
#include "sim/bench/PowerBench.h"

#include "sim/firmware/PowerFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

void PowerBench::setExternalVoltage(uint16_t millivolts) {
    state_.firmware().withLock(
        [&](Firmware& fw) { fw.family<PowerFirmware>().setExternalMillivolts(millivolts); });
}

std::optional<uint16_t> PowerBench::externalVoltage() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<PowerFirmware>().externalMillivolts(); });
}

RailState PowerBench::ioRail() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<PowerFirmware>().rail(); });
}

}  // namespace vantor::sim
