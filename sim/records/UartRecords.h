// SPDX-License-Identifier: MIT
#pragma once
// The UART settings as the firmware keeps them and the bench reads them.
//
// Plain data, shared by the firmware, the devices and the bench.

#include <cstdint>

namespace vantor::sim {

// What the UART is set to (values as on the wire).
struct UartState {
    bool initialized = false;
    uint8_t baudRate = 0;  // index of the baud rate table
    uint8_t hardwareHandshake = 0;
    uint8_t parity = 0;
    uint8_t dataSize = 0;  // 0: 7 bits, 1: 8 bits
    uint8_t stopBit = 0;
};

}  // namespace vantor::sim
