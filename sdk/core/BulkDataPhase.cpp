// The parts every synchronous bulk operation shares: the checks before
// anything is sent, and a read whose data the response announces and the
// bulk IN endpoint then delivers.

#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace status;

uint16_t VantorSDK::Impl::bulkPrecheck(const CommandInfo& command, uint64_t length) {
    if (!async->isConnected()) return kDisconnect;
    return bulkGate(command, length);
}

uint16_t VantorSDK::Impl::bulkRead(const CommandInfo& command, uint16_t requested,
                                   size_t countOffset, SendFn send, std::vector<uint8_t>& out,
                                   uint16_t partialStatus) {
    uint16_t status = bulkPrecheck(command, requested);
    bool partial = false;
    if (status == kSuccess) {
        // The data phase runs inside the parse step, so the request lock
        // covers it: no other call can read the bulk endpoint in between.
        status = transact(command, send, [&](const Response& r) -> uint16_t {
            partial = partialStatus != kSuccess && r.status() == partialStatus;
            if (r.status() != kSuccess && !partial) return r.status();
            if (r.size() < countOffset + 2 || r.u16(countOffset) > requested) {
                return kWrongResponse;
            }
            const uint16_t count = r.u16(countOffset);
            out.resize(count);
            if (count != 0 && !async->receivePayload(out.data(), count, kBulkDataTimeoutMs)) {
                partial = false;
                return kTimeout;
            }
            return r.status();
        });
    }
    if (status != kSuccess && !(partial && status == partialStatus)) out.clear();
    return status;
}

}  // namespace vantor
