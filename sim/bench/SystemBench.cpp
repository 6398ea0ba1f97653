// SPDX-License-Identifier: MIT
#include "sim/bench/SystemBench.h"

#include "sim/firmware/SystemFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

void SystemBench::setIdentity(const Identity& identity) {
    state_.setIdentity(identity);
}
Identity SystemBench::identity() const {
    return state_.identity();
}

void SystemBench::setBulkCapabilities(const BulkCapabilityConfig& config) {
    state_.firmware().withLock(
        [&](Firmware& fw) { fw.family<SystemFirmware>().setBulkCapabilities(config); });
}

BulkCapabilityConfig SystemBench::bulkCapabilities() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().bulkCapabilities(); });
}

void SystemBench::setAnalogMeasurements(const AnalogMeasurements& measurements) {
    state_.firmware().withLock(
        [&](Firmware& fw) { fw.family<SystemFirmware>().setAnalog(measurements); });
}

AnalogMeasurements SystemBench::analogMeasurements() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().analog(); });
}

UsbSettings SystemBench::usbSettings() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().usbSettings(); });
}

bool SystemBench::setUsbSettings(const UsbSettings& settings) {
    return state_.firmware().withLock([&](Firmware& fw) {
        return fw.family<SystemFirmware>().applyUsbSettings(settings.webusbEnabled,
                                                            settings.cdcEnabled, settings.cdcMode);
    });
}

int SystemBench::resetCount() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().resetCount(); });
}

bool SystemBench::inBootMode() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().inBootMode(); });
}

}  // namespace vantor::sim
