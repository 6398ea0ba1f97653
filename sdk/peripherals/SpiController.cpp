// SPDX-License-Identifier: MIT
// SPI controller commands (group 3): set-up, the full-duplex transfer over
// the command channel, and the bulk transfer, write and read whose data moves
// over the vendor bulk interface.

#include <limits>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace spi;
using namespace status;

namespace {

std::vector<uint8_t> configurationRequest(uint16_t transactionId, const CommandInfo& command,
                                          SpiBitOrder bitOrder, SpiMode mode,
                                          SpiDataWidth dataWidth, SpiChipSelect chipSelect,
                                          SpiChipSelectPolarity chipSelectPolarity,
                                          uint32_t frequency) {
    return RequestBuilder(transactionId, command, 9)
        .u8(static_cast<uint8_t>(bitOrder))
        .u8(static_cast<uint8_t>(mode))
        .u8(static_cast<uint8_t>(dataWidth))
        .u8(static_cast<uint8_t>(chipSelect))
        .u8(static_cast<uint8_t>(chipSelectPolarity))
        .u32(frequency)
        .take();
}

// Transfer, bulk transfer and bulk read share one layout: the length of the
// inline bytes, the number of bytes to receive, then the inline bytes. The
// caller has checked that `inlineBytes` fits its 16-bit length field.
std::vector<uint8_t> inlineRequest(uint16_t transactionId, const CommandInfo& command,
                                   const std::vector<uint8_t>& inlineBytes,
                                   uint16_t receiveLength) {
    return RequestBuilder(transactionId, command, 4 + inlineBytes.size())
        .u16(static_cast<uint16_t>(inlineBytes.size()))
        .u16(receiveLength)
        .bytes(inlineBytes)
        .take();
}

// Not connected, then (bulk variants) no bulk interface.
uint16_t checkConnection(const VantorAsyncSDK& sdk, bool bulk) {
    if (!sdk.isConnected()) return kDisconnect;
    if (bulk && !sdk.isBulkTransportAvailable()) return kBulkUnavailable;
    return kSuccess;
}

// 1 to 32768 bytes for a bulk data phase.
bool bulkLengthValid(size_t length) {
    return length != 0 && length <= SPI_BULK_MAX_PAYLOAD;
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::spiControllerInit(uint16_t transactionId, SpiBitOrder bitOrder,
                                           SpiMode mode, SpiDataWidth dataWidth,
                                           SpiChipSelect chipSelect,
                                           SpiChipSelectPolarity chipSelectPolarity,
                                           uint32_t frequency) {
    if (!connected_) return kDisconnect;
    return send(configurationRequest(transactionId, kInit, bitOrder, mode, dataWidth, chipSelect,
                                     chipSelectPolarity, frequency));
}

uint16_t VantorAsyncSDK::spiSetParameters(uint16_t transactionId, SpiBitOrder bitOrder,
                                          SpiMode mode, SpiDataWidth dataWidth,
                                          SpiChipSelect chipSelect,
                                          SpiChipSelectPolarity chipSelectPolarity,
                                          uint32_t frequency) {
    if (!connected_) return kDisconnect;
    return send(configurationRequest(transactionId, kSetParameters, bitOrder, mode, dataWidth,
                                     chipSelect, chipSelectPolarity, frequency));
}

uint16_t VantorAsyncSDK::spiDeinit(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kDeinit).message());
}

uint16_t VantorAsyncSDK::spiTransfer(uint16_t transactionId, const std::vector<uint8_t>& data,
                                     uint16_t transferLength) {
    const uint16_t check = checkConnection(*this, false);
    if (check != kSuccess) return check;
    // A transfer length of 0 passes: the adapter decides what it means.
    if (transferLength > kMaxTransferBytes || data.size() > kMaxTransferBytes) {
        return kWrongRequest;
    }
    return send(inlineRequest(transactionId, kTransfer, data, transferLength));
}

uint16_t VantorAsyncSDK::spiTransferBulk(uint16_t transactionId, const std::vector<uint8_t>& data,
                                         uint16_t transferLength) {
    const uint16_t check = checkConnection(*this, true);
    if (check != kSuccess) return check;
    if (!bulkLengthValid(transferLength) || data.size() > kMaxTransferBytes) return kWrongRequest;
    return send(inlineRequest(transactionId, kTransferBulk, data, transferLength));
}

uint16_t VantorAsyncSDK::spiWriteBulk(uint16_t transactionId, const std::vector<uint8_t>& data) {
    const uint16_t check = checkConnection(*this, true);
    if (check != kSuccess) return check;
    if (!bulkLengthValid(data.size())) return kWrongRequest;
    const auto length = static_cast<uint16_t>(data.size());
    // The length goes twice (bytes to send, bytes to clock); the data
    // follows on bulk OUT.
    return sendWithPayload(
        RequestBuilder(transactionId, kWriteBulk, 4).u16(length).u16(length).message(), data.data(),
        data.size());
}

uint16_t VantorAsyncSDK::spiReadBulk(uint16_t transactionId,
                                     const std::vector<uint8_t>& commandBytes,
                                     uint16_t readLength) {
    const uint16_t check = checkConnection(*this, true);
    if (check != kSuccess) return check;
    // The command bytes have no limit of their own but must fit their
    // 16-bit length field.
    if (!bulkLengthValid(readLength) ||
        commandBytes.size() > std::numeric_limits<uint16_t>::max()) {
        return kWrongRequest;
    }
    return send(inlineRequest(transactionId, kReadBulk, commandBytes, readLength));
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::spiControllerInit(SpiBitOrder bitOrder, SpiMode mode, SpiDataWidth dataWidth,
                                      SpiChipSelect chipSelect,
                                      SpiChipSelectPolarity chipSelectPolarity,
                                      uint32_t frequency) {
    return impl_->statusCommand(kInit, &VantorAsyncSDK::spiControllerInit, bitOrder, mode,
                                dataWidth, chipSelect, chipSelectPolarity, frequency);
}

uint16_t VantorSDK::spiSetParameters(SpiBitOrder bitOrder, SpiMode mode, SpiDataWidth dataWidth,
                                     SpiChipSelect chipSelect,
                                     SpiChipSelectPolarity chipSelectPolarity, uint32_t frequency) {
    return impl_->statusCommand(kSetParameters, &VantorAsyncSDK::spiSetParameters, bitOrder, mode,
                                dataWidth, chipSelect, chipSelectPolarity, frequency);
}

uint16_t VantorSDK::spiDeinit() {
    return impl_->statusCommand(kDeinit, &VantorAsyncSDK::spiDeinit);
}

uint16_t VantorSDK::spiTransfer(const std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                                uint16_t transferLength) {
    return impl_->transact(
        kTransfer, [&](uint16_t id) { return impl_->async->spiTransfer(id, data, transferLength); },
        // The received bytes are delivered whatever the status says; a
        // response without the count carries none.
        [&](const Impl::Response& r) {
            const uint16_t count = r.size() >= kDataOffset ? r.u16(kCountOffset) : 0;
            impl_->assignResponsePayload(kDataOffset, count, out);
        });
}

uint16_t VantorSDK::spiTransferBulk(const std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                                    uint16_t transferLength) {
    return impl_->bulkRead(
        kTransferBulk, transferLength, kCountOffset,
        [&](uint16_t id) { return impl_->async->spiTransferBulk(id, data, transferLength); }, out);
}

uint16_t VantorSDK::spiWriteBulk(const std::vector<uint8_t>& data) {
    const uint16_t check = impl_->bulkPrecheck(kWriteBulk, data.size());
    if (check != kSuccess) return check;
    return impl_->statusCommand(kWriteBulk, &VantorAsyncSDK::spiWriteBulk, data);
}

uint16_t VantorSDK::spiReadBulk(const std::vector<uint8_t>& commandBytes, std::vector<uint8_t>& out,
                                uint16_t readLength) {
    return impl_->bulkRead(
        kReadBulk, readLength, kCountOffset,
        [&](uint16_t id) { return impl_->async->spiReadBulk(id, commandBytes, readLength); }, out);
}

}  // namespace vantor
