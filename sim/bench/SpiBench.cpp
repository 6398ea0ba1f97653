// SPDX-License-Identifier: MIT
#include "sim/bench/SpiBench.h"

#include <memory>
#include <utility>

#include "sim/devices/SpiDevices.h"
#include "sim/firmware/SpiFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

bool SpiBench::attachFlash(uint8_t chipSelect, const SpiFlashOptions& options) {
    if (!SpiFlash::valid(options)) return false;
    return attach(chipSelect, std::make_shared<SpiFlash>(options));
}

bool SpiBench::attach(uint8_t chipSelect, std::shared_ptr<SpiTarget> target) {
    return state_.firmware().withLock([&](Firmware& fw) {
        return fw.family<SpiFirmware>().attach(chipSelect, std::move(target));
    });
}

bool SpiBench::detach(uint8_t chipSelect) {
    return state_.firmware().withLock(
        [&](Firmware& fw) { return fw.family<SpiFirmware>().detach(chipSelect); });
}

Bytes SpiBench::memory(uint8_t chipSelect) const {
    return state_.firmware().withLock([&](Firmware& fw) {
        const SpiTarget* target = fw.family<SpiFirmware>().target(chipSelect);
        return target != nullptr ? target->memory() : Bytes{};
    });
}

bool SpiBench::writeMemory(uint8_t chipSelect, size_t offset, const Bytes& data) {
    return state_.firmware().withLock([&](Firmware& fw) {
        SpiTarget* target = fw.family<SpiFirmware>().target(chipSelect);
        return target != nullptr && target->writeMemory(offset, data.data(), data.size());
    });
}

std::vector<SpiFlashInfo> SpiBench::flashes() const {
    return state_.firmware().withLock([](Firmware& fw) {
        const SpiFirmware& spi = fw.family<SpiFirmware>();
        std::vector<SpiFlashInfo> out;
        for (uint8_t chipSelect = 0; chipSelect < SpiFirmware::kChipSelects; ++chipSelect) {
            const auto* flash = dynamic_cast<const SpiFlash*>(spi.target(chipSelect));
            if (flash == nullptr) continue;
            const SpiFlashOptions options = flash->options();
            out.push_back(
                SpiFlashInfo{chipSelect, options.size, options.jedecId, options.busyPolls});
        }
        return out;
    });
}

SpiControllerState SpiBench::controller() const {
    return state_.firmware().withLock(
        [](Firmware& fw) { return fw.family<SpiFirmware>().state(); });
}

}  // namespace vantor::sim
