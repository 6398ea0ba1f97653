// SPDX-License-Identifier: MIT
// Tests code without an adapter: plugs in a virtual adapter with a 256-byte
// EEPROM at 0x50 on bus A, connects the SDK to it, writes one page and reads
// it back.
//
//     ./virtual_eeprom
//
// Exit status: 0 the bytes read back are the bytes written, 1 otherwise.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "sdk/core/StatusCode.h"
#include "sdk/core/VantorSDK.h"
#include "sim/VirtualAdapter.h"

namespace {

constexpr uint8_t kBus = static_cast<uint8_t>(vantor::I2cBus::A);
constexpr uint8_t kEeprom = 0x50;

bool ok(const char* what, uint16_t status) {
    if (status == vantor::status::kSuccess) return true;
    const char* name = vantor::statusCodeName(status);
    std::fprintf(stderr, "%s failed: 0x%04X %s\n", what, status, name ? name : "unknown status");
    return false;
}

}  // namespace

int main() {
    vantor::sim::VirtualAdapter adapter;  // plugged in until main returns
    vantor::sim::I2cEepromOptions eeprom;
    eeprom.size = 256;
    eeprom.pageSize = 16;
    if (!adapter.i2c().attachEeprom(kBus, kEeprom, eeprom)) {
        std::fprintf(stderr, "could not attach the virtual EEPROM\n");
        return 1;
    }

    vantor::VantorSDK sdk(1000);  // response timeout in milliseconds
    if (!sdk.connect(adapter.path())) {
        std::fprintf(stderr, "no adapter at %s\n", adapter.path().c_str());
        return 1;
    }
    const std::vector<uint8_t> page = {'v', 'i', 'r', 't', 'u', 'a', 'l', ' ',
                                       'e', 'e', 'p', 'r', 'o', 'm', '!', '\n'};
    std::vector<uint8_t> back;
    if (!ok("i2cControllerInit",
            sdk.i2cControllerInit(kBus, 400000,
                                  static_cast<uint8_t>(vantor::I2cPullUp::KOHM_4_7))) ||
        !ok("i2cWrite", sdk.i2cWrite(kBus, kEeprom, {0x20}, page, false)) ||
        !ok("i2cRead",
            sdk.i2cRead(kBus, kEeprom, {0x20}, static_cast<uint16_t>(page.size()), back, false))) {
        return 1;
    }
    if (back != page) {
        std::fprintf(stderr, "read back %zu bytes that differ from the page written\n",
                     back.size());
        return 1;
    }
    std::printf("wrote and read back %zu bytes at 0x20 of the EEPROM at 0x%02X\n", page.size(),
                kEeprom);
    return 0;
}
