// SPDX-License-Identifier: MIT
#pragma once
// Internal to the SDK: what the I2C and SPI targets have in common. Both
// emulate a memory whose size the init and set-parameters responses report,
// and both move its contents over the vendor bulk interface with a write and
// a read command whose request is the start address and the length (u16
// each); the data itself never travels over HID.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/RequestBuilder.h"
#include "sdk/core/StatusCode.h"
#include "sdk/core/VantorAsyncSDK.h"

namespace vantor::target_memory {

// What a memory transfer of `length` bytes checks before anything is built
// (connection, bulk interface, 1 to `maxTransfer` bytes), then its request.
// Returns SUCCESS with `request` filled, or the refusal with it untouched.
inline uint16_t buildRequest(const VantorAsyncSDK& sdk, uint16_t transactionId,
                             const CommandInfo& command, uint16_t memoryAddress, size_t length,
                             size_t maxTransfer, std::vector<uint8_t>& request) {
    if (!sdk.isConnected()) return status::kDisconnect;
    if (!sdk.isBulkTransportAvailable()) return status::kBulkUnavailable;
    if (length == 0 || length > maxTransfer) return status::kWrongRequest;
    request = RequestBuilder(transactionId, command, 4)
                  .u16(memoryAddress)
                  .u16(static_cast<uint16_t>(length))
                  .take();
    return status::kSuccess;
}

// The synchronous init and set-parameters: `memorySize` is 0 unless a
// successful response of at least `responseSize` bytes carries it, as a u32
// at `sizeOffset`.
template <typename Impl, typename Send>
uint16_t setup(Impl& impl, const CommandInfo& command, size_t responseSize, size_t sizeOffset,
               uint32_t& memorySize, Send&& send) {
    memorySize = 0;
    return impl.transact(command, std::forward<Send>(send),
                         [&](const typename Impl::Response& r) -> uint16_t {
                             if (r.status() == status::kSuccess && r.size() >= responseSize) {
                                 memorySize = r.u32(sizeOffset);
                             }
                             return r.status();
                         });
}

// The synchronous memory write: the bulk gate for the data size, then the
// request and its data phase.
template <typename Impl, typename Send>
uint16_t write(Impl& impl, const CommandInfo& command, size_t length, Send&& send) {
    const uint16_t check = impl.bulkPrecheck(command, length);
    if (check != status::kSuccess) return check;
    return impl.transact(command, std::forward<Send>(send));
}

}  // namespace vantor::target_memory
