// SPDX-License-Identifier: MIT
// I2C controller commands (group 2): bus set-up, transfers over the command
// channel, the bus scan, and the bulk transfers whose data moves over the
// vendor bulk interface.

#include <limits>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace i2c;
using namespace status;

namespace {

constexpr size_t kTransferHeaderBytes = 10;  // parameters after the command code

// The subaddress is given most significant byte first; on the wire it is the
// number those bytes form, as a u32 little-endian. At most four bytes.
uint32_t subaddressValue(const std::vector<uint8_t>& subaddress) {
    uint32_t value = 0;
    for (uint8_t byte : subaddress) value = (value << 8) | byte;
    return value;
}

// The transfer header every write and read command starts with: bus, data
// length, target address, subaddress length and value, non-stop flag.
// `extra` reserves room for inline data.
RequestBuilder transferHeader(uint16_t transactionId, const CommandInfo& command, uint8_t bus,
                              uint16_t length, uint8_t address,
                              const std::vector<uint8_t>& subaddress, bool nonStop,
                              size_t extra = 0) {
    RequestBuilder request(transactionId, command, kTransferHeaderBytes + extra);
    request.u8(bus)
        .u16(length)
        .u8(address)
        .u8(static_cast<uint8_t>(subaddress.size()))
        .u32(subaddressValue(subaddress))
        .u8(nonStop ? 1 : 0);
    return request;
}

// The checks every transfer makes before building anything.
uint16_t checkTransfer(const VantorAsyncSDK& sdk, bool bulk,
                       const std::vector<uint8_t>& subaddress) {
    if (!sdk.isConnected()) return kDisconnect;
    if (bulk && !sdk.isBulkTransportAvailable()) return kBulkUnavailable;
    if (subaddress.size() > kMaxSubaddressBytes) return kWrongRequest;
    return kSuccess;
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::i2cControllerInit(uint16_t transactionId, uint8_t bus, uint32_t frequency,
                                           uint8_t pullUp) {
    if (!connected_) return kDisconnect;
    return send(
        RequestBuilder(transactionId, kInit, 6).u8(bus).u32(frequency).u8(pullUp).message());
}

uint16_t VantorAsyncSDK::i2cSetParameters(uint16_t transactionId, uint8_t bus, uint32_t frequency,
                                          uint8_t pullUp) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kSetParameters, 6)
                    .u8(bus)
                    .u32(frequency)
                    .u8(pullUp)
                    .message());
}

uint16_t VantorAsyncSDK::i2cSetPullUpResistors(uint16_t transactionId, uint8_t bus, uint8_t value) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kSetPullUp, 2).u8(bus).u8(value).message());
}

uint16_t VantorAsyncSDK::i2cDeinit(uint16_t transactionId, uint8_t bus) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kDeinit, 1).u8(bus).message());
}

uint16_t VantorAsyncSDK::i2cWrite(uint16_t transactionId, uint8_t bus, uint8_t address,
                                  const std::vector<uint8_t>& subaddress,
                                  const std::vector<uint8_t>& data, bool nonStop) {
    const uint16_t check = checkTransfer(*this, false, subaddress);
    if (check != kSuccess) return check;
    // The length field is 16 bits wide: more data would be announced short.
    if (data.size() > std::numeric_limits<uint16_t>::max()) return kWrongRequest;
    return send(transferHeader(transactionId, kWrite, bus, static_cast<uint16_t>(data.size()),
                               address, subaddress, nonStop, data.size())
                    .bytes(data)
                    .message());
}

uint16_t VantorAsyncSDK::i2cRead(uint16_t transactionId, uint8_t bus, uint8_t address,
                                 const std::vector<uint8_t>& subaddress, uint16_t length,
                                 bool nonStop) {
    const uint16_t check = checkTransfer(*this, false, subaddress);
    if (check != kSuccess) return check;
    return send(
        transferHeader(transactionId, kRead, bus, length, address, subaddress, nonStop).message());
}

uint16_t VantorAsyncSDK::i2cScanBus(uint16_t transactionId, uint8_t bus, bool include10bit) {
    if (!connected_) return kDisconnect;
    if (bus > kMaxBus) return kWrongRequest;
    return send(
        RequestBuilder(transactionId, kScanBus, 2).u8(bus).u8(include10bit ? 1 : 0).message());
}

uint16_t VantorAsyncSDK::i2cWriteBulk(uint16_t transactionId, uint8_t bus, uint8_t address,
                                      const std::vector<uint8_t>& subaddress,
                                      const std::vector<uint8_t>& data, bool nonStop) {
    const uint16_t check = checkTransfer(*this, true, subaddress);
    if (check != kSuccess) return check;
    if (data.empty() || data.size() > I2C_BULK_MAX_PAYLOAD) return kWrongRequest;
    // Only the header travels over HID; the data follows on bulk OUT.
    return sendWithPayload(
        transferHeader(transactionId, kWriteBulk, bus, static_cast<uint16_t>(data.size()), address,
                       subaddress, nonStop)
            .message(),
        data.data(), data.size());
}

uint16_t VantorAsyncSDK::i2cReadBulk(uint16_t transactionId, uint8_t bus, uint8_t address,
                                     const std::vector<uint8_t>& subaddress, uint16_t length,
                                     bool nonStop) {
    const uint16_t check = checkTransfer(*this, true, subaddress);
    if (check != kSuccess) return check;
    if (length == 0 || length > I2C_BULK_MAX_PAYLOAD) return kWrongRequest;
    return send(transferHeader(transactionId, kReadBulk, bus, length, address, subaddress, nonStop)
                    .message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::i2cControllerInit(uint8_t bus, uint32_t frequency, uint8_t pullUp) {
    return impl_->statusCommand(kInit, &VantorAsyncSDK::i2cControllerInit, bus, frequency, pullUp);
}

uint16_t VantorSDK::i2cSetParameters(uint8_t bus, uint32_t frequency, uint8_t pullUp) {
    return impl_->statusCommand(kSetParameters, &VantorAsyncSDK::i2cSetParameters, bus, frequency,
                                pullUp);
}

uint16_t VantorSDK::i2cSetPullUpResistors(uint8_t bus, uint8_t value) {
    return impl_->statusCommand(kSetPullUp, &VantorAsyncSDK::i2cSetPullUpResistors, bus, value);
}

uint16_t VantorSDK::i2cDeinit(uint8_t bus) {
    return impl_->statusCommand(kDeinit, &VantorAsyncSDK::i2cDeinit, bus);
}

uint16_t VantorSDK::i2cWrite(uint8_t bus, uint8_t address, const std::vector<uint8_t>& subaddress,
                             const std::vector<uint8_t>& data, bool nonStop) {
    return impl_->statusCommand(kWrite, &VantorAsyncSDK::i2cWrite, bus, address, subaddress, data,
                                nonStop);
}

uint16_t VantorSDK::i2cRead(uint8_t bus, uint8_t address, const std::vector<uint8_t>& subaddress,
                            uint16_t length, std::vector<uint8_t>& out, bool nonStop) {
    return impl_->transact(
        kRead,
        [&](uint16_t id) {
            return impl_->async->i2cRead(id, bus, address, subaddress, length, nonStop);
        },
        // The data bytes are delivered whatever the status says.
        [&](const Impl::Response&) { impl_->assignResponsePayload(kReadDataOffset, length, out); });
}

uint16_t VantorSDK::i2cScanBus(std::vector<uint8_t>& out, uint8_t* count7, uint8_t* count10,
                               uint8_t bus, bool include10bit) {
    if (count7 == nullptr || count10 == nullptr || bus > kMaxBus) return kWrongRequest;
    return impl_->transact(
        kScanBus, [&](uint16_t id) { return impl_->async->i2cScanBus(id, bus, include10bit); },
        [&](const Impl::Response& r) -> uint16_t {
            const uint8_t n7 = r.u8(kScanCount7Offset);
            const uint8_t n10 = r.u8(kScanCount10Offset);
            const size_t end = kScanAddressOffset + n7 + size_t{2} * n10;
            if (end > r.size()) return kWrongResponse;
            *count7 = n7;
            *count10 = n10;
            out.assign(r.data() + kScanAddressOffset, r.data() + end);
            return r.status();
        });
}

uint16_t VantorSDK::i2cWriteBulk(uint8_t bus, uint8_t address,
                                 const std::vector<uint8_t>& subaddress,
                                 const std::vector<uint8_t>& data, bool nonStop) {
    const uint16_t check = impl_->bulkPrecheck(kWriteBulk, data.size());
    if (check != kSuccess) return check;
    return impl_->statusCommand(kWriteBulk, &VantorAsyncSDK::i2cWriteBulk, bus, address, subaddress,
                                data, nonStop);
}

uint16_t VantorSDK::i2cReadBulk(uint8_t bus, uint8_t address,
                                const std::vector<uint8_t>& subaddress, uint16_t length,
                                std::vector<uint8_t>& out, bool nonStop) {
    return impl_->bulkRead(
        kReadBulk, length, kTransferCountOffset,
        [&](uint16_t id) {
            return impl_->async->i2cReadBulk(id, bus, address, subaddress, length, nonStop);
        },
        out);
}

}  // namespace vantor
