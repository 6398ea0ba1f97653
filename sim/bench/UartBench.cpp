// SPDX-License-Identifier: MIT
#include "sim/bench/UartBench.h"

#include "sim/firmware/UartFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

void UartBench::setLoopback(bool enabled) {
    state_.firmware().withLock(
        [&](Firmware& fw) { fw.family<UartFirmware>().setLoopback(enabled); });
}

bool UartBench::loopback() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<UartFirmware>().loopback(); });
}

bool UartBench::inject(const Bytes& data) {
    return state_.firmware().withLock([&](Firmware& fw) {
        return fw.family<UartFirmware>().receive(data.data(), data.size(), fw);
    });
}

Bytes UartBench::sent() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<UartFirmware>().sent(); });
}

void UartBench::clearSent() {
    state_.firmware().withLock([](Firmware& fw) { fw.family<UartFirmware>().clearSent(); });
}

UartState UartBench::state() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<UartFirmware>().state(); });
}

}  // namespace vantor::sim
