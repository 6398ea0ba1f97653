// SPDX-License-Identifier: MIT
#include "sim/firmware/MemoryTargetFamily.h"

#include <optional>

#include "sim/usb/AdapterState.h"

namespace vantor::sim {

void MemoryTargetFamily::writeMemory(const Request& request, Firmware& firmware) {
    const uint16_t id = request.transactionId();
    const uint16_t code = request.commandCode();
    const uint16_t address = request.u16(0);
    const uint16_t length = request.u16(2);
    if (!fromBench() && !firmware.adapter().bulk) {
        return reply(firmware, request, status::kFeatureNotSupportedByHardware);
    }
    // Without a usable length there is no telling how much data follows.
    if (length == 0 || length > kMaxBulkTransfer) {
        return reply(firmware, request, status::kInvalidParameter);
    }
    // The data phase follows whatever else is wrong; take it in first.
    awaitData(firmware, length,
              [this, id, code, address](Firmware& later, std::optional<Bytes> data) {
                  uint16_t result = payloadTransferFailed_;
                  if (data) {
                      result = checkConfigured();
                      if (result == status::kSuccess &&
                          !memory_.hostWrite(address, data->data(), data->size())) {
                          result = surpassedMemorySize_;
                      }
                  }
                  reply(later, MessageBuilder::response(id, code, result).take());
              });
}

void MemoryTargetFamily::readMemory(const Request& request, Firmware& firmware) {
    const uint16_t address = request.u16(0);
    const uint16_t length = request.u16(2);
    uint16_t result = (fromBench() || firmware.adapter().bulk)
                          ? checkConfigured()
                          : status::kFeatureNotSupportedByHardware;
    if (result == status::kSuccess && (length == 0 || length > kMaxBulkTransfer)) {
        result = status::kInvalidParameter;
    }
    Bytes data;
    if (result == status::kSuccess && !memory_.hostRead(address, length, data)) {
        result = surpassedMemorySize_;
    }
    if (result != status::kSuccess) return reply(firmware, request, result);
    // The address echoed, then the count; the data follows on bulk IN.
    reply(firmware, MessageBuilder::response(request, status::kSuccess)
                        .u16(address)
                        .u16(static_cast<uint16_t>(data.size()))
                        .take());
    sendBulkIn(firmware, data);
}

}  // namespace vantor::sim
