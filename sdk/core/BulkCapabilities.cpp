// The bulk capability query, its per-connection cache, and the gate every
// synchronous bulk operation passes before it sends anything.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

namespace {

constexpr uint16_t kCmdGetBulkCapabilities = 0x040F;

// Response layout: byte 6 capability info, byte 7 supported, byte 10 the
// number of 7-byte group records that start at byte 11.
constexpr size_t kCapabilityInfoOffset = 6;
constexpr size_t kSupportedOffset = 7;
constexpr size_t kGroupCountOffset = 10;
constexpr size_t kFirstGroupOffset = 11;
constexpr size_t kGroupRecordSize = 7;

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
    return entry && (entry->commandMask & (uint32_t{1} << (command & 31))) != 0;
}

uint16_t VantorAsyncSDK::getBulkCapabilities(uint16_t transactionId) {
    if (!connected_) return toU16(StatusCode::SDK_ERROR_DISCONNECT);
    return send(RequestBuilder(transactionId, kCmdGetBulkCapabilities).message());
}

const VantorSDK::BulkCapabilities& VantorSDK::getBulkCapabilities() {
    // On the reader thread the query could never be answered.
    if (calledFromReaderThread()) return bulkCapabilities_;
    std::lock_guard<std::mutex> lock(requestMutex_);
    return bulkCapabilitiesLocked();
}

const VantorSDK::BulkCapabilities& VantorSDK::bulkCapabilitiesLocked() {
    if (bulkCapabilities_.queried) return bulkCapabilities_;

    // Without an answer (not sent, timed out, or a response to another
    // command) the record stays unqueried and the next call asks again.
    requestLocked(
        kCmdGetBulkCapabilities, 0, ShortResponse::WrongResponse,
        [this](uint16_t id) { return async_->getBulkCapabilities(id); },
        [this](const Response& r) -> uint16_t {
            BulkCapabilities& caps = bulkCapabilities_;
            caps = BulkCapabilities{};
            // An answer was received: whatever it says holds until the next
            // connect. An error status or a short answer means no bulk.
            caps.queried = true;
            if (r.status() != 0 || r.size() < kFirstGroupOffset) return r.status();
            caps.capabilityInfo = r.u8(kCapabilityInfoOffset);
            caps.supported = r.u8(kSupportedOffset) != 0;
            const uint8_t count = r.u8(kGroupCountOffset);
            for (size_t i = 0; i < count; ++i) {
                const size_t at = kFirstGroupOffset + kGroupRecordSize * i;
                if (at + kGroupRecordSize > r.size()) break;  // truncated record list
                caps.groups.push_back({r.u8(at), r.u16(at + 1), r.u32(at + 3)});
            }
            return r.status();
        });
    return bulkCapabilities_;
}

uint16_t VantorSDK::bulkGate(uint16_t command, uint64_t length) {
    using status::kBulkUnavailable;
    using status::kWrongRequest;
    if (calledFromReaderThread()) return kWrongRequest;
    if (!async_->isBulkTransportAvailable()) return kBulkUnavailable;
    // Evaluated under the request lock so that a concurrent connect cannot
    // reset the cache while it is read.
    std::lock_guard<std::mutex> lock(requestMutex_);
    const BulkCapabilities& caps = bulkCapabilitiesLocked();
    if (!caps.supported) return kBulkUnavailable;
    const BulkGroupSupport* entry = findGroup(caps, commandGroup(command));
    if (!entry || (entry->commandMask & (uint32_t{1} << (command & 31))) == 0) {
        return kBulkUnavailable;
    }
    if (length == 0) return kWrongRequest;
    if (entry->maxPayload != 0 && length > entry->maxPayload) return kWrongRequest;
    return toU16(StatusCode::SUCCESS);
}

}  // namespace vantor
