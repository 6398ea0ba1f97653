// The parts every synchronous bulk operation shares: the checks before
// anything is sent, and a read whose data the response announces and the
// bulk IN endpoint then delivers.

#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

uint16_t VantorSDK::bulkPrecheck(uint16_t command, uint64_t length) {
    if (!async_->isConnected()) return toU16(StatusCode::SDK_ERROR_DISCONNECT);
    return bulkGate(command, length);
}

uint16_t VantorSDK::bulkRead(uint16_t command, uint16_t requested, size_t countOffset, SendFn send,
                             std::vector<uint8_t>& out) {
    uint16_t status = bulkPrecheck(command, requested);
    if (status == toU16(StatusCode::SUCCESS)) {
        // The data phase runs inside the parse step, so the request lock
        // covers it: no other call can read the bulk endpoint in between.
        status = transact(command, 0, send, [&](const Response& r) -> uint16_t {
            if (r.status() != 0) return r.status();
            if (r.size() < countOffset + 2 || r.u16(countOffset) > requested) {
                return toU16(StatusCode::SDK_ERROR_WRONG_RESPONSE);
            }
            const uint16_t count = r.u16(countOffset);
            out.resize(count);
            if (count == 0) return toU16(StatusCode::SUCCESS);
            return async_->receivePayload(out.data(), count, kBulkDataTimeoutMs)
                       ? toU16(StatusCode::SUCCESS)
                       : toU16(StatusCode::SDK_ERROR_TIMEOUT);
        });
    }
    if (status != toU16(StatusCode::SUCCESS)) out.clear();
    return status;
}

}  // namespace vantor
