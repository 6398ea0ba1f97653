// SPDX-License-Identifier: MIT
// The parts every synchronous bulk operation shares: the checks before
// anything is sent, and a read whose data the response announces and the
// bulk IN endpoint then delivers.

#include <algorithm>

#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace status;

uint16_t VantorSDK::Impl::bulkPrecheck(const CommandInfo& command, uint64_t length) {
    if (!async->isConnected()) return kDisconnect;
    return bulkGate(command, length);
}

// Data of a bulk read whose response came too late must not reach a later
// read. A drain before each data phase would race with data the adapter has
// not sent yet, and could swallow the new transfer's own bytes. Instead the
// bytes still due are counted: every bulk read is registered before it is
// sent; when its response arrives after its caller gave up, the reader
// thread (which sees that late response before the response of any later
// request, and the adapter puts data on bulk IN in request order) adds the
// count it announces to the bulk transport, whose next read discards that
// many bytes before its own. A read whose answer did not come in time may
// still have put its data there, and its answer may never come (lost at a
// full input queue): while such a read is registered, the endpoint is
// drained before each read request, and what the drain took counts against
// those reads, oldest first, so that a late answer announces only what is
// still to come. The remainder of a data phase that timed out is drained
// when it fails and once more before the next read request is sent; what is
// still missing then stays owed in the bulk transport, whose later reads
// recognise it by the bytes that come after their own.
void VantorSDK::Impl::expectBulkRead(const OutstandingBulkRead& read) {
    std::lock_guard<std::mutex> lock(outstandingMutex);
    if (outstandingBulkReads.size() >= kMaxOutstandingBulkReads) {
        outstandingBulkReads.erase(outstandingBulkReads.begin());
    }
    outstandingBulkReads.push_back(read);
}

void VantorSDK::Impl::discardStaleBulkIn() {
    // Under the lock, so that no late answer is settled between the drain
    // and the counting.
    std::lock_guard<std::mutex> lock(outstandingMutex);
    uint64_t left = async->discardStaleBulkIn(!outstandingBulkReads.empty());
    for (OutstandingBulkRead& read : outstandingBulkReads) {
        const uint64_t share = std::min<uint64_t>(left, read.requested - read.drained);
        read.drained += share;
        left -= share;
    }
}

void VantorSDK::Impl::settleBulkRead(const std::vector<uint8_t>& message, bool delivered) {
    const Response r(message);
    std::lock_guard<std::mutex> lock(outstandingMutex);
    if (outstandingBulkReads.empty()) return;
    const auto found = std::find_if(outstandingBulkReads.begin(), outstandingBulkReads.end(),
                                    [&](const OutstandingBulkRead& o) {
                                        return o.id == r.u16(kTransactionIdOffset) &&
                                               o.code == r.u16(kCommandCodeOffset);
                                    });
    if (found == outstandingBulkReads.end()) return;
    const OutstandingBulkRead read = *found;
    outstandingBulkReads.erase(found);
    // A delivered response's data is read by its caller.
    if (delivered || r.status() != kSuccess || r.size() < read.countOffset + 2) return;
    const uint64_t count = r.u16(read.countOffset);
    async->expectUnclaimedBulkIn(count - std::min(count, read.drained));
}

uint16_t VantorSDK::Impl::bulkRead(const CommandInfo& command, uint16_t requested,
                                   size_t countOffset, SendFn send, std::vector<uint8_t>& out,
                                   uint16_t partialStatus) {
    uint16_t status = bulkPrecheck(command, requested);
    bool partial = false;
    if (status == kSuccess) {
        auto registered = [&](uint16_t id) -> uint16_t {
            discardStaleBulkIn();
            expectBulkRead({id, command.code, countOffset, requested});
            return send(id);
        };
        // The data phase runs inside the parse step, so the request lock
        // covers it: no other call can read the bulk endpoint in between.
        status = transact(command, registered, [&](const Response& r) -> uint16_t {
            partial = partialStatus != kSuccess && r.status() == partialStatus;
            if (r.status() != kSuccess && !partial) return r.status();
            if (r.size() < countOffset + 2) return kWrongResponse;
            const uint16_t count = r.u16(countOffset);
            if (count > requested) {
                // The adapter sends what it announced: the next read skips it.
                async->expectUnclaimedBulkIn(count);
                return kWrongResponse;
            }
            out.resize(count);
            if (count != 0 && !async->receivePayload(out.data(), count, kBulkDataTimeoutMs)) {
                partial = false;
                return async->bulkInterrupted() ? kDisconnect : kTimeout;
            }
            return r.status();
        });
    }
    if (status != kSuccess && !(partial && status == partialStatus)) out.clear();
    return status;
}

}  // namespace vantor
