// SPDX-License-Identifier: MIT
#pragma once
// The SPI controller's records: the options a flash is made with, a flash
// as the bench reports it, and what the host set the controller to.
//
// Plain data, shared by the firmware, the devices and the bench.

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantor::sim {

// A NOR flash on an SPI chip select.
struct SpiFlashOptions {
    size_t size = 1024 * 1024;                         // bytes; a multiple of 4 KiB, at most 16 MiB
    std::array<uint8_t, 3> jedecId{0xA7, 0x40, 0x14};  // answered to 0x9F
    // After a page program or sector erase, this many status bytes still
    // read busy before the operation completes (0: completes at once).
    unsigned busyPolls = 2;
};

// A flash attached by the bench, with the options it was attached with.
struct SpiFlashInfo {
    uint8_t chipSelect = 0;
    size_t size = 0;
    std::array<uint8_t, 3> jedecId{};
    unsigned busyPolls = 0;
};

// What the SPI controller is set to (values as on the wire).
struct SpiControllerState {
    bool initialized = false;
    uint8_t bitOrder = 0;  // 0 MSB first, 1 LSB first
    uint8_t mode = 0;
    uint8_t dataWidth = 0;
    uint8_t chipSelect = 0;
    uint8_t chipSelectPolarity = 0;
    uint32_t frequencyHz = 0;
};

}  // namespace vantor::sim
