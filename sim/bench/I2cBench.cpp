// SPDX-License-Identifier: MIT
#include "sim/bench/I2cBench.h"

#include <memory>
#include <utility>

#include "sim/devices/I2cDevices.h"
#include "sim/firmware/I2cFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

bool I2cBench::attachEeprom(uint8_t bus, uint16_t address, const I2cEepromOptions& options,
                            bool tenBit) {
    if (!I2cEeprom::valid(options)) return false;
    return attach(bus, address, std::make_shared<I2cEeprom>(options), tenBit);
}

bool I2cBench::attachRegisterMap(uint8_t bus, uint16_t address, bool tenBit) {
    return attach(bus, address, std::make_shared<I2cRegisterMap>(), tenBit);
}

bool I2cBench::attach(uint8_t bus, uint16_t address, std::shared_ptr<I2cTarget> target,
                      bool tenBit) {
    return state_.firmware().withLock([&](Firmware& fw) {
        return fw.family<I2cFirmware>().attach(bus, address, tenBit, std::move(target));
    });
}

bool I2cBench::detach(uint8_t bus, uint16_t address, bool tenBit) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<I2cFirmware>().detach(bus, address, tenBit); });
}

Bytes I2cBench::memory(uint8_t bus, uint16_t address, bool tenBit) const {
    return state_.firmware().withLock([&](Firmware& fw) {
        const I2cTarget* target = fw.family<I2cFirmware>().target(bus, address, tenBit);
        return target != nullptr ? target->memory() : Bytes{};
    });
}

bool I2cBench::writeMemory(uint8_t bus, uint16_t address, size_t offset, const Bytes& data,
                           bool tenBit) {
    return state_.firmware().withLock([&](Firmware& fw) {
        I2cTarget* target = fw.family<I2cFirmware>().target(bus, address, tenBit);
        return target != nullptr && target->writeMemory(offset, data.data(), data.size());
    });
}

void describeI2cDevice(const I2cTarget& target, I2cDeviceInfo& info) {
    if (const auto* eeprom = dynamic_cast<const I2cEeprom*>(&target)) {
        const I2cEepromOptions options = eeprom->options();
        info.kind = I2cDeviceKind::Eeprom;
        info.size = options.size;
        info.pageSize = options.pageSize;
        info.addressBytes = options.addressBytes;
    } else if (dynamic_cast<const I2cRegisterMap*>(&target) != nullptr) {
        info.kind = I2cDeviceKind::RegisterMap;
        info.size = I2cRegisterMap::kRegisters;
        info.addressBytes = 1;
    } else {
        info.kind = I2cDeviceKind::Other;
        info.size = target.memory().size();
    }
}

std::vector<I2cDeviceInfo> I2cBench::devices() const {
    return state_.firmware().withLock([](Firmware& fw) {
        const I2cFirmware& i2c = fw.family<I2cFirmware>();
        std::vector<I2cDeviceInfo> out;
        for (uint8_t bus = 0; bus < I2cFirmware::kBuses; ++bus) {
            for (const auto& [address, tenBit] : i2c.addresses(bus)) {
                I2cDeviceInfo& info = out.emplace_back();
                info.bus = bus;
                info.address = address;
                info.tenBit = tenBit;
                describeI2cDevice(*i2c.target(bus, address, tenBit), info);
            }
        }
        return out;
    });
}

I2cBusState I2cBench::bus(uint8_t number) const {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<I2cFirmware>().busState(number); });
}

}  // namespace vantor::sim
