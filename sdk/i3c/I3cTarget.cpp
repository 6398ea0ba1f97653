// SPDX-License-Identifier: MIT
// I3C target commands (group 6, target role): the identity the adapter
// presents on an external I3C bus, and its 1024-byte target memory, written
// and read over the command channel.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace i3c_target;
using namespace status;

namespace {

bool validIdentity(const std::vector<uint8_t>& pid, uint8_t staticAddress, uint16_t mwl,
                   uint16_t mrl) {
    // A static address the external controller can reach the target at:
    // neither 0 nor the broadcast address.
    const bool reachable = staticAddress != 0 && staticAddress != i3c::kBroadcastAddress &&
                           staticAddress <= kMaxStaticAddress;
    return pid.size() == kPidBytes && reachable && mwl <= kMaxTransferLength &&
           mrl <= kMaxTransferLength;
}

// The configuration request. The PID arrives as p0..p5, most significant
// first (p0 holds bits 47..40); the adapter takes it split as bits 31..0
// (u32 LE: p5 p4 p3 p2), bit 32 (p1 & 1) and bits 47..33 (u16 LE).
std::vector<uint8_t> identityRequest(uint16_t transactionId, const CommandInfo& command,
                                     I3cTargetMemoryLayout layout, const std::vector<uint8_t>& pid,
                                     I3cBCR bcr, uint8_t dcr, uint8_t staticAddress, uint16_t mwl,
                                     uint16_t mrl) {
    const uint32_t low = static_cast<uint32_t>(pid[5]) | static_cast<uint32_t>(pid[4]) << 8 |
                         static_cast<uint32_t>(pid[3]) << 16 | static_cast<uint32_t>(pid[2]) << 24;
    const uint8_t bit32 = pid[1] & 1;
    const uint16_t high = static_cast<uint16_t>((pid[0] << 8 | pid[1]) >> 1);
    return RequestBuilder(transactionId, command, kConfigurationBytes)
        .u8(static_cast<uint8_t>(layout))
        .u32(low)
        .u8(bit32)
        .u16(high)
        .u8(bcr.value)
        .u8(dcr)
        .u8(staticAddress)
        .u16(mwl)
        .u16(mrl)
        .take();
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::i3cTargetInit(uint16_t transactionId, I3cTargetMemoryLayout layout,
                                       const std::vector<uint8_t>& pid, I3cBCR bcr, uint8_t dcr,
                                       uint8_t staticAddress, uint16_t mwl, uint16_t mrl) {
    if (!connected_) return kDisconnect;
    if (!validIdentity(pid, staticAddress, mwl, mrl)) return kWrongRequest;
    return send(
        identityRequest(transactionId, kInit, layout, pid, bcr, dcr, staticAddress, mwl, mrl));
}

uint16_t VantorAsyncSDK::i3cTargetSetParameters(uint16_t transactionId,
                                                I3cTargetMemoryLayout layout,
                                                const std::vector<uint8_t>& pid, I3cBCR bcr,
                                                uint8_t dcr, uint8_t staticAddress, uint16_t mwl,
                                                uint16_t mrl) {
    if (!connected_) return kDisconnect;
    if (!validIdentity(pid, staticAddress, mwl, mrl)) return kWrongRequest;
    return send(identityRequest(transactionId, kSetParameters, layout, pid, bcr, dcr, staticAddress,
                                mwl, mrl));
}

uint16_t VantorAsyncSDK::i3cTargetWriteMemory(uint16_t transactionId, uint16_t address,
                                              const std::vector<uint8_t>& data) {
    if (!connected_) return kDisconnect;
    if (address >= I3C_TARGET_MEMORY_SIZE || data.size() > I3C_TARGET_MEMORY_SIZE) {
        return kWrongRequest;
    }
    return send(RequestBuilder(transactionId, kWriteMemory, kMemoryHeaderBytes + data.size())
                    .u16(address)
                    .u16(static_cast<uint16_t>(data.size()))
                    .bytes(data)
                    .message());
}

uint16_t VantorAsyncSDK::i3cTargetReadMemory(uint16_t transactionId, uint16_t address,
                                             uint16_t length) {
    if (!connected_) return kDisconnect;
    if (address >= I3C_TARGET_MEMORY_SIZE || length > I3C_TARGET_MEMORY_SIZE) return kWrongRequest;
    return send(RequestBuilder(transactionId, kReadMemory, kMemoryHeaderBytes)
                    .u16(address)
                    .u16(length)
                    .message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::i3cTargetInit(I3cTargetMemoryLayout layout, const std::vector<uint8_t>& pid,
                                  I3cBCR bcr, uint8_t dcr, uint8_t staticAddress, uint16_t mwl,
                                  uint16_t mrl) {
    return impl_->statusCommand(kInit, &VantorAsyncSDK::i3cTargetInit, layout, pid, bcr, dcr,
                                staticAddress, mwl, mrl);
}

uint16_t VantorSDK::i3cTargetSetParameters(I3cTargetMemoryLayout layout,
                                           const std::vector<uint8_t>& pid, I3cBCR bcr, uint8_t dcr,
                                           uint8_t staticAddress, uint16_t mwl, uint16_t mrl) {
    return impl_->statusCommand(kSetParameters, &VantorAsyncSDK::i3cTargetSetParameters, layout,
                                pid, bcr, dcr, staticAddress, mwl, mrl);
}

uint16_t VantorSDK::i3cTargetWriteMemory(uint16_t address, const std::vector<uint8_t>& data) {
    return impl_->statusCommand(kWriteMemory, &VantorAsyncSDK::i3cTargetWriteMemory, address, data);
}

uint16_t VantorSDK::i3cTargetReadMemory(uint16_t address, uint16_t length,
                                        std::vector<uint8_t>& out) {
    out.clear();
    return impl_->transact(
        kReadMemory,
        [&](uint16_t id) { return impl_->async->i3cTargetReadMemory(id, address, length); },
        // A response of 6 or 7 bytes carries no count: nothing is delivered.
        [&](const Impl::Response& r) {
            if (r.size() < kReadDataOffset) return;
            impl_->assignResponsePayload(kReadDataOffset, r.u16(kReadCountOffset), out);
        });
}

}  // namespace vantor
