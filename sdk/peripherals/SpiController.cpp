// SPI controller commands (group 3): set-up, the full-duplex transfer over
// the command channel, and the bulk transfer, write and read whose data moves
// over the vendor bulk interface.

#include <limits>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

namespace {

constexpr uint16_t kCmdDeinit = 0x0C01;
constexpr uint16_t kCmdInit = 0x0D01;
constexpr uint16_t kCmdSetParameters = 0x0D02;
constexpr uint16_t kCmdTransfer = 0x0D04;
constexpr uint16_t kCmdTransferBulk = 0x0D05;
constexpr uint16_t kCmdWriteBulk = 0x0D07;
constexpr uint16_t kCmdReadBulk = 0x0D08;

using namespace status;

// A command-channel transfer sends and clocks at most this many bytes; so
// does the inline part of a bulk transfer.
constexpr size_t kMaxTransferBytes = 1024;

// Response layout: the received-byte count, then (command channel only) the
// bytes themselves.
constexpr size_t kCountOffset = 6;
constexpr size_t kDataOffset = 8;

std::vector<uint8_t> configurationRequest(uint16_t transactionId, uint16_t command,
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
std::vector<uint8_t> inlineRequest(uint16_t transactionId, uint16_t command,
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
    return send(configurationRequest(transactionId, kCmdInit, bitOrder, mode, dataWidth, chipSelect,
                                     chipSelectPolarity, frequency));
}

uint16_t VantorAsyncSDK::spiSetParameters(uint16_t transactionId, SpiBitOrder bitOrder,
                                          SpiMode mode, SpiDataWidth dataWidth,
                                          SpiChipSelect chipSelect,
                                          SpiChipSelectPolarity chipSelectPolarity,
                                          uint32_t frequency) {
    if (!connected_) return kDisconnect;
    return send(configurationRequest(transactionId, kCmdSetParameters, bitOrder, mode, dataWidth,
                                     chipSelect, chipSelectPolarity, frequency));
}

uint16_t VantorAsyncSDK::spiDeinit(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdDeinit).message());
}

uint16_t VantorAsyncSDK::spiTransfer(uint16_t transactionId, const std::vector<uint8_t>& data,
                                     uint16_t transferLength) {
    const uint16_t check = checkConnection(*this, false);
    if (check != kSuccess) return check;
    // A transfer length of 0 passes: the adapter decides what it means.
    if (transferLength > kMaxTransferBytes || data.size() > kMaxTransferBytes) {
        return kWrongRequest;
    }
    return send(inlineRequest(transactionId, kCmdTransfer, data, transferLength));
}

uint16_t VantorAsyncSDK::spiTransferBulk(uint16_t transactionId, const std::vector<uint8_t>& data,
                                         uint16_t transferLength) {
    const uint16_t check = checkConnection(*this, true);
    if (check != kSuccess) return check;
    if (!bulkLengthValid(transferLength) || data.size() > kMaxTransferBytes) return kWrongRequest;
    return send(inlineRequest(transactionId, kCmdTransferBulk, data, transferLength));
}

uint16_t VantorAsyncSDK::spiWriteBulk(uint16_t transactionId, const std::vector<uint8_t>& data) {
    const uint16_t check = checkConnection(*this, true);
    if (check != kSuccess) return check;
    if (!bulkLengthValid(data.size())) return kWrongRequest;
    const auto length = static_cast<uint16_t>(data.size());
    // The length goes twice (bytes to send, bytes to clock); the data
    // follows on bulk OUT.
    return sendWithPayload(
        RequestBuilder(transactionId, kCmdWriteBulk, 4).u16(length).u16(length).message(),
        data.data(), data.size());
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
    return send(inlineRequest(transactionId, kCmdReadBulk, commandBytes, readLength));
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::spiControllerInit(SpiBitOrder bitOrder, SpiMode mode, SpiDataWidth dataWidth,
                                      SpiChipSelect chipSelect,
                                      SpiChipSelectPolarity chipSelectPolarity,
                                      uint32_t frequency) {
    return transact(kCmdInit, [&](uint16_t id) {
        return async_->spiControllerInit(id, bitOrder, mode, dataWidth, chipSelect,
                                         chipSelectPolarity, frequency);
    });
}

uint16_t VantorSDK::spiSetParameters(SpiBitOrder bitOrder, SpiMode mode, SpiDataWidth dataWidth,
                                     SpiChipSelect chipSelect,
                                     SpiChipSelectPolarity chipSelectPolarity, uint32_t frequency) {
    return transact(kCmdSetParameters, [&](uint16_t id) {
        return async_->spiSetParameters(id, bitOrder, mode, dataWidth, chipSelect,
                                        chipSelectPolarity, frequency);
    });
}

uint16_t VantorSDK::spiDeinit() {
    return transact(kCmdDeinit, [&](uint16_t id) { return async_->spiDeinit(id); });
}

uint16_t VantorSDK::spiTransfer(const std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                                uint16_t transferLength) {
    return transact(
        kCmdTransfer, 0, [&](uint16_t id) { return async_->spiTransfer(id, data, transferLength); },
        // The received bytes are delivered whatever the status says; a
        // response without the count carries none.
        [&](const Response& r) {
            const uint16_t count = r.size() >= kDataOffset ? r.u16(kCountOffset) : 0;
            assignResponsePayload(kDataOffset, count, out);
        });
}

uint16_t VantorSDK::spiTransferBulk(const std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                                    uint16_t transferLength) {
    return bulkRead(
        kCmdTransferBulk, transferLength, kCountOffset,
        [&](uint16_t id) { return async_->spiTransferBulk(id, data, transferLength); }, out);
}

uint16_t VantorSDK::spiWriteBulk(const std::vector<uint8_t>& data) {
    const uint16_t check = bulkPrecheck(kCmdWriteBulk, data.size());
    if (check != kSuccess) return check;
    return transact(kCmdWriteBulk, [&](uint16_t id) { return async_->spiWriteBulk(id, data); });
}

uint16_t VantorSDK::spiReadBulk(const std::vector<uint8_t>& commandBytes, std::vector<uint8_t>& out,
                                uint16_t readLength) {
    return bulkRead(
        kCmdReadBulk, readLength, kCountOffset,
        [&](uint16_t id) { return async_->spiReadBulk(id, commandBytes, readLength); }, out);
}

}  // namespace vantor
