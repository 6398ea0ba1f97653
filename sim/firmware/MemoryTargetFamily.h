// SPDX-License-Identifier: MIT
#pragma once
// The common base of the I2C and SPI target families: both emulate a memory
// that the host writes and reads over the vendor bulk interface with the
// same pair of commands. The request is the start address and the length
// (u16 each); a write's data arrives on bulk OUT after it, a read's response
// echoes the address and gives the count, and the data follows on bulk IN.
// Each family answers an overrun and a missing data phase with codes of its
// own.

#include <cstddef>
#include <cstdint>

#include "sim/devices/TargetMemory.h"
#include "sim/firmware/Firmware.h"
#include "sim/firmware/TargetFamily.h"

namespace vantor::sim {

class MemoryTargetFamily : public TargetFamily {
  public:
    static constexpr size_t kMaxBulkTransfer = 32768;

  protected:
    // The family's codes for a transfer past the end of the memory and for a
    // write whose data never came.
    MemoryTargetFamily(uint16_t surpassedMemorySize, uint16_t payloadTransferFailed)
        : surpassedMemorySize_(surpassedMemorySize),
          payloadTransferFailed_(payloadTransferFailed) {}

    // Whether the target role is configured (a memory transfer needs it).
    virtual bool configured() const = 0;

    void writeMemory(const Request& request, Firmware& firmware);
    void readMemory(const Request& request, Firmware& firmware);

    TargetMemory memory_;

  private:
    uint16_t checkConfigured() const {
        return configured() ? status::kSuccess : status::kInterfaceNotInitialized;
    }

    uint16_t surpassedMemorySize_;
    uint16_t payloadTransferFailed_;
};

}  // namespace vantor::sim
