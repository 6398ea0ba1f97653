// SPDX-License-Identifier: MIT
#include "sim/bench/I3cBench.h"

#include <memory>
#include <utility>

#include "sim/bench/I2cBench.h"
#include "sim/devices/I2cDevices.h"
#include "sim/devices/I3cDevices.h"
#include "sim/firmware/I3cFirmware.h"
#include "sim/firmware/PowerFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

std::optional<I3cTargetState> I3cBench::attachTarget(const I3cTargetOptions& options) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<I3cFirmware>().attach(options); });
}

bool I3cBench::detachTarget(uint64_t pid) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<I3cFirmware>().detach(pid); });
}

std::optional<I3cTargetState> I3cBench::target(uint64_t pid) const {
    return state_.firmware().withLock([&](Firmware& fw) -> std::optional<I3cTargetState> {
        const I3cTarget* found = fw.family<I3cFirmware>().target(pid);
        if (found == nullptr) return std::nullopt;
        return found->state();
    });
}

std::vector<I3cTargetState> I3cBench::targets() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<I3cFirmware>().targets(); });
}

Bytes I3cBench::memory(uint64_t pid) const {
    return state_.firmware().withLock([&](Firmware& fw) {
        const I3cTarget* found = fw.family<I3cFirmware>().target(pid);
        return found != nullptr ? found->memory() : Bytes{};
    });
}

bool I3cBench::writeMemory(uint64_t pid, size_t offset, const Bytes& data) {
    return state_.firmware().withLock([&](Firmware& fw) {
        I3cTarget* found = fw.family<I3cFirmware>().target(pid);
        return found != nullptr && found->writeMemory(offset, data.data(), data.size());
    });
}

I3cEventOutcome I3cBench::raiseIbi(uint64_t pid, const Bytes& payload) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<I3cFirmware>().raiseIbi(pid, payload, fw); });
}

I3cEventOutcome I3cBench::requestHotJoin(uint64_t pid) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<I3cFirmware>().requestHotJoin(pid, fw); });
}

bool I3cBench::attachI2cEeprom(uint8_t address) {
    return attachI2cEeprom(address, I2cEepromOptions{});
}

bool I3cBench::attachI2cEeprom(uint8_t address, const I2cEepromOptions& options) {
    if (!I2cEeprom::valid(options)) return false;
    return attachI2c(address, std::make_shared<I2cEeprom>(options));
}

bool I3cBench::attachI2cRegisterMap(uint8_t address) {
    return attachI2c(address, std::make_shared<I2cRegisterMap>());
}

bool I3cBench::attachI2c(uint8_t address, std::shared_ptr<I2cTarget> device) {
    return state_.firmware().withLock([&](Firmware& fw) {
        return fw.family<I3cFirmware>().attachI2c(address, std::move(device));
    });
}

bool I3cBench::detachI2c(uint8_t address) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<I3cFirmware>().detachI2c(address); });
}

Bytes I3cBench::i2cMemory(uint8_t address) const {
    return state_.firmware().withLock([&](Firmware& fw) {
        const I2cTarget* device = fw.family<I3cFirmware>().i2cDevice(address);
        return device != nullptr ? device->memory() : Bytes{};
    });
}

std::vector<I2cDeviceInfo> I3cBench::i2cDevices() const {
    return state_.firmware().withLock([](Firmware& fw) {
        const I3cFirmware& i3c = fw.family<I3cFirmware>();
        std::vector<I2cDeviceInfo> out;
        for (const uint8_t address : i3c.i2cAddresses()) {
            I2cDeviceInfo& info = out.emplace_back();
            info.address = address;
            describeI2cDevice(*i3c.i2cDevice(address), info);
        }
        return out;
    });
}

bool I3cBench::plugConnector(uint8_t port, uint8_t connectorType) {
    return state_.firmware().withLock([&](Firmware& fw) {
        return fw.family<PowerFirmware>().plugI3cConnector(port, connectorType, fw);
    });
}

bool I3cBench::unplugConnector(uint8_t port) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<PowerFirmware>().unplugI3cConnector(port, fw); });
}

bool I3cBench::setExternalSupply(uint8_t port, uint16_t millivolts) {
    return state_.firmware().withLock([&](Firmware& fw) {
        return fw.family<PowerFirmware>().setI3cExternalSupply(port, millivolts);
    });
}

I3cPortsState I3cBench::ports() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<PowerFirmware>().i3cPorts(); });
}

I3cControllerState I3cBench::controller() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<I3cFirmware>().controller(); });
}

std::vector<I3cTableEntry> I3cBench::deviceTable() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<I3cFirmware>().deviceTable(); });
}

}  // namespace vantor::sim
