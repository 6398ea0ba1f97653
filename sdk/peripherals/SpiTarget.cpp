// SPDX-License-Identifier: MIT
// SPI target commands (group 3, target role): the emulated device's set-up,
// its flash configuration, and the memory transfers, whose data always moves
// over the vendor bulk interface.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace spi_target;
using namespace status;

namespace {

constexpr size_t kSetupBytes = 6;
constexpr size_t kFlashConfigBytes = 17;

// Init and set-parameters share one layout: mode before bit order (the
// controller's init has them the other way round).
std::vector<uint8_t> setupRequest(uint16_t transactionId, const CommandInfo& command, SpiMode mode,
                                  SpiBitOrder bitOrder, SpiChipSelect chipSelect,
                                  SpiChipSelectPolarity chipSelectPolarity, SpiTargetModel model,
                                  SpiTargetEngine engine) {
    return RequestBuilder(transactionId, command, kSetupBytes)
        .u8(static_cast<uint8_t>(mode))
        .u8(static_cast<uint8_t>(bitOrder))
        .u8(static_cast<uint8_t>(chipSelect))
        .u8(static_cast<uint8_t>(chipSelectPolarity))
        .u8(static_cast<uint8_t>(model))
        .u8(static_cast<uint8_t>(engine))
        .take();
}

std::vector<uint8_t> memoryRequest(uint16_t transactionId, const CommandInfo& command,
                                   uint16_t memoryAddress, uint16_t length) {
    return RequestBuilder(transactionId, command, 4).u16(memoryAddress).u16(length).take();
}

uint16_t checkMemoryTransfer(const VantorAsyncSDK& sdk, size_t length) {
    if (!sdk.isConnected()) return kDisconnect;
    if (!sdk.isBulkTransportAvailable()) return kBulkUnavailable;
    if (length == 0 || length > SPI_TARGET_MEMORY_MAX_TRANSFER) return kWrongRequest;
    return kSuccess;
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::spiTargetInit(uint16_t transactionId, SpiMode mode, SpiBitOrder bitOrder,
                                       SpiChipSelect chipSelect,
                                       SpiChipSelectPolarity chipSelectPolarity,
                                       SpiTargetModel model, SpiTargetEngine engine) {
    if (!connected_) return kDisconnect;
    return send(setupRequest(transactionId, kInit, mode, bitOrder, chipSelect, chipSelectPolarity,
                             model, engine));
}

uint16_t VantorAsyncSDK::spiTargetSetParameters(uint16_t transactionId, SpiMode mode,
                                                SpiBitOrder bitOrder, SpiChipSelect chipSelect,
                                                SpiChipSelectPolarity chipSelectPolarity,
                                                SpiTargetModel model, SpiTargetEngine engine) {
    if (!connected_) return kDisconnect;
    return send(setupRequest(transactionId, kSetParameters, mode, bitOrder, chipSelect,
                             chipSelectPolarity, model, engine));
}

uint16_t VantorAsyncSDK::spiTargetSetFlashConfig(uint16_t transactionId, uint8_t addressBytes,
                                                 uint16_t pageSize, uint32_t writeCycleUs,
                                                 uint8_t jedecIdLength, const uint8_t* jedecId,
                                                 uint8_t flags) {
    if (!connected_) return kDisconnect;
    // The count cannot describe more than the field holds, and a count
    // needs bytes to describe.
    if (jedecIdLength > SPI_TARGET_JEDEC_ID_FIELD) return kWrongRequest;
    if (jedecId == nullptr && jedecIdLength != 0) return kWrongRequest;
    RequestBuilder request(transactionId, kSetFlashConfig, kFlashConfigBytes);
    request.u8(addressBytes).u16(pageSize).u32(writeCycleUs).u8(jedecIdLength);
    // The whole field goes out as given, whatever the count says.
    if (jedecId != nullptr) {
        request.bytes(jedecId, SPI_TARGET_JEDEC_ID_FIELD);
    } else {
        request.fill(SPI_TARGET_JEDEC_ID_FIELD);
    }
    return send(request.u8(flags).message());
}

uint16_t VantorAsyncSDK::spiTargetWriteMemory(uint16_t transactionId, uint16_t memoryAddress,
                                              const std::vector<uint8_t>& data) {
    const uint16_t check = checkMemoryTransfer(*this, data.size());
    if (check != kSuccess) return check;
    // Only the header travels over HID; the data follows on bulk OUT.
    return sendWithPayload(memoryRequest(transactionId, kWriteMemory, memoryAddress,
                                         static_cast<uint16_t>(data.size())),
                           data.data(), data.size());
}

uint16_t VantorAsyncSDK::spiTargetReadMemory(uint16_t transactionId, uint16_t memoryAddress,
                                             uint16_t length) {
    const uint16_t check = checkMemoryTransfer(*this, length);
    if (check != kSuccess) return check;
    return send(memoryRequest(transactionId, kReadMemory, memoryAddress, length));
}

// ------------------------------------------------------------- synchronous

namespace {

template <class Response>
uint16_t takeMemorySize(const Response& r, uint32_t& memorySize) {
    if (r.status() == kSuccess && r.size() >= kInitResponseSize) {
        memorySize = r.u32(kMemorySizeOffset);
    }
    return r.status();
}

}  // namespace

uint16_t VantorSDK::spiTargetInit(SpiMode mode, SpiBitOrder bitOrder, SpiChipSelect chipSelect,
                                  SpiChipSelectPolarity chipSelectPolarity, SpiTargetModel model,
                                  SpiTargetEngine engine, uint32_t& memorySize) {
    memorySize = 0;
    return impl_->transact(
        kInit,
        [&](uint16_t id) {
            return impl_->async->spiTargetInit(id, mode, bitOrder, chipSelect, chipSelectPolarity,
                                               model, engine);
        },
        [&](const Impl::Response& r) { return takeMemorySize(r, memorySize); });
}

uint16_t VantorSDK::spiTargetSetParameters(SpiMode mode, SpiBitOrder bitOrder,
                                           SpiChipSelect chipSelect,
                                           SpiChipSelectPolarity chipSelectPolarity,
                                           SpiTargetModel model, SpiTargetEngine engine,
                                           uint32_t& memorySize) {
    memorySize = 0;
    return impl_->transact(
        kSetParameters,
        [&](uint16_t id) {
            return impl_->async->spiTargetSetParameters(id, mode, bitOrder, chipSelect,
                                                        chipSelectPolarity, model, engine);
        },
        [&](const Impl::Response& r) { return takeMemorySize(r, memorySize); });
}

uint16_t VantorSDK::spiTargetSetFlashConfig(uint8_t addressBytes, uint16_t pageSize,
                                            uint32_t writeCycleUs, uint8_t jedecIdLength,
                                            const uint8_t* jedecId, uint8_t flags) {
    return impl_->statusCommand(kSetFlashConfig, &VantorAsyncSDK::spiTargetSetFlashConfig,
                                addressBytes, pageSize, writeCycleUs, jedecIdLength, jedecId,
                                flags);
}

uint16_t VantorSDK::spiTargetWriteMemory(uint16_t memoryAddress, const std::vector<uint8_t>& data) {
    const uint16_t check = impl_->bulkPrecheck(kWriteMemory, data.size());
    if (check != kSuccess) return check;
    return impl_->statusCommand(kWriteMemory, &VantorAsyncSDK::spiTargetWriteMemory, memoryAddress,
                                data);
}

uint16_t VantorSDK::spiTargetReadMemory(uint16_t memoryAddress, uint16_t length,
                                        std::vector<uint8_t>& out) {
    return impl_->bulkRead(
        kReadMemory, length, kReadCountOffset,
        [&](uint16_t id) { return impl_->async->spiTargetReadMemory(id, memoryAddress, length); },
        out);
}

}  // namespace vantor
