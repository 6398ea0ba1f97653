// SPDX-License-Identifier: MIT
// The bulk capability query, its per-connection cache, and the gate every
// synchronous bulk operation passes before it sends anything.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

namespace {

using namespace status;

const VantorSDK::BulkGroupSupport* findGroup(const VantorSDK::BulkCapabilities& caps,
                                             unsigned group) {
    for (const auto& entry : caps.groups) {
        if (entry.group == group) return &entry;
    }
    return nullptr;
}

}  // namespace

uint16_t VantorSDK::BulkCapabilities::maxPayloadFor(uint8_t group) const {
    const BulkGroupSupport* entry = findGroup(*this, group);
    return entry ? entry->maxPayload : 0;
}

bool VantorSDK::BulkCapabilities::supportsCommand(uint16_t command) const {
    const BulkGroupSupport* entry = findGroup(*this, commandGroup(command));
    return entry && (entry->commandMask & bulkMaskBitFor(command)) != 0;
}

uint16_t VantorAsyncSDK::getBulkCapabilities(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, device::kGetBulkCapabilities).message());
}

const VantorSDK::BulkCapabilities& VantorSDK::getBulkCapabilities() {
    // On the reader thread the query could never be answered.
    if (impl_->mustRefuseCall()) return impl_->bulkCapabilities;
    Impl::RequestLock lock(*impl_);
    return impl_->bulkCapabilitiesLocked();
}

const VantorSDK::BulkCapabilities& VantorSDK::Impl::bulkCapabilitiesLocked(uint16_t* status) {
    if (status != nullptr) *status = kSuccess;
    if (bulkCapabilities.queried) return bulkCapabilities;

    using namespace device;
    // Without an answer (not sent, timed out, or a response to another
    // command) the record stays unqueried and the next call asks again.
    const uint16_t result = requestLocked(
        kGetBulkCapabilities, [this](uint16_t id) { return async->getBulkCapabilities(id); },
        [this](const Response& r) -> uint16_t {
            BulkCapabilities& caps = bulkCapabilities;
            caps = BulkCapabilities{};
            // An answer was received: whatever it says holds until the next
            // connect. An error status or a short answer means no bulk.
            caps.queried = true;
            if (r.status() != kSuccess || r.size() < kFirstBulkGroupOffset) return r.status();
            caps.capabilityInfo = r.u8(kCapabilityInfoOffset);
            caps.supported = r.u8(kBulkSupportedOffset) != 0;
            const uint8_t count = r.u8(kBulkGroupCountOffset);
            for (size_t i = 0; i < count; ++i) {
                const size_t at = kFirstBulkGroupOffset + kBulkGroupRecordSize * i;
                if (at + kBulkGroupRecordSize > r.size()) break;  // truncated record list
                caps.groups.push_back({r.u8(at), r.u16(at + kBulkGroupMaxPayloadField),
                                       r.u32(at + kBulkGroupMaskField)});
            }
            return r.status();
        });
    if (status != nullptr) *status = result;
    return bulkCapabilities;
}

uint16_t VantorSDK::Impl::bulkGate(const CommandInfo& command, uint64_t length) {
    if (inBatch()) {
        // A data phase needs the blocking engine: the batch runs the call
        // on its own, with the request lock it already holds.
        if (batchCall->mode != BatchMode::Direct) return deferToBlocking();
        return bulkGateLocked(command, length);
    }
    if (mustRefuseCall()) return kWrongRequest;
    // Evaluated under the request lock so that a concurrent connect cannot
    // reset the cache while it is read.
    RequestLock lock(*this);
    return bulkGateLocked(command, length);
}

uint16_t VantorSDK::Impl::bulkGateLocked(const CommandInfo& command, uint64_t length) {
    if (!async->isBulkTransportAvailable()) return kBulkUnavailable;
    uint16_t queried = kSuccess;
    const BulkCapabilities& caps = bulkCapabilitiesLocked(&queried);
    // The adapter lost during the query is the call's failure too; an
    // adapter that does not answer the query counts as one without bulk.
    if (!caps.queried && queried == kDisconnect) return kDisconnect;
    if (!caps.supported) return kBulkUnavailable;
    const BulkGroupSupport* entry = findGroup(caps, command.group());
    if (!entry || (entry->commandMask & command.bulkMaskBit) == 0) return kBulkUnavailable;
    if (length == 0) return kWrongRequest;
    if (entry->maxPayload != 0 && length > entry->maxPayload) return kWrongRequest;
    return kSuccess;
}

}  // namespace vantor
