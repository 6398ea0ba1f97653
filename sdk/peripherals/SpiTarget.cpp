// SPDX-License-Identifier: MIT
// SPI target commands (group 3, target role): the emulated device's set-up,
// its flash configuration, and the memory transfers, whose data always moves
// over the vendor bulk interface.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"
#include "sdk/peripherals/TargetMemoryTransfer.h"

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
    std::vector<uint8_t> request;
    const uint16_t check =
        target_memory::buildRequest(*this, transactionId, kWriteMemory, memoryAddress, data.size(),
                                    SPI_TARGET_MEMORY_MAX_TRANSFER, request);
    // Only the header travels over HID; the data follows on bulk OUT.
    return check != kSuccess ? check : sendWithPayload(request, data.data(), data.size());
}

uint16_t VantorAsyncSDK::spiTargetReadMemory(uint16_t transactionId, uint16_t memoryAddress,
                                             uint16_t length) {
    std::vector<uint8_t> request;
    const uint16_t check =
        target_memory::buildRequest(*this, transactionId, kReadMemory, memoryAddress, length,
                                    SPI_TARGET_MEMORY_MAX_TRANSFER, request);
    return check != kSuccess ? check : send(request);
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::spiTargetInit(SpiMode mode, SpiBitOrder bitOrder, SpiChipSelect chipSelect,
                                  SpiChipSelectPolarity chipSelectPolarity, SpiTargetModel model,
                                  SpiTargetEngine engine, uint32_t& memorySize) {
    return target_memory::setup(
        *impl_, kInit, kInitResponseSize, kMemorySizeOffset, memorySize, [&](uint16_t id) {
            return impl_->async->spiTargetInit(id, mode, bitOrder, chipSelect, chipSelectPolarity,
                                               model, engine);
        });
}

uint16_t VantorSDK::spiTargetSetParameters(SpiMode mode, SpiBitOrder bitOrder,
                                           SpiChipSelect chipSelect,
                                           SpiChipSelectPolarity chipSelectPolarity,
                                           SpiTargetModel model, SpiTargetEngine engine,
                                           uint32_t& memorySize) {
    return target_memory::setup(
        *impl_, kSetParameters, kInitResponseSize, kMemorySizeOffset, memorySize, [&](uint16_t id) {
            return impl_->async->spiTargetSetParameters(id, mode, bitOrder, chipSelect,
                                                        chipSelectPolarity, model, engine);
        });
}

uint16_t VantorSDK::spiTargetSetFlashConfig(uint8_t addressBytes, uint16_t pageSize,
                                            uint32_t writeCycleUs, uint8_t jedecIdLength,
                                            const uint8_t* jedecId, uint8_t flags) {
    return impl_->statusCommand(kSetFlashConfig, &VantorAsyncSDK::spiTargetSetFlashConfig,
                                addressBytes, pageSize, writeCycleUs, jedecIdLength, jedecId,
                                flags);
}

uint16_t VantorSDK::spiTargetWriteMemory(uint16_t memoryAddress, const std::vector<uint8_t>& data) {
    return target_memory::write(*impl_, kWriteMemory, data.size(), [&](uint16_t id) {
        return impl_->async->spiTargetWriteMemory(id, memoryAddress, data);
    });
}

uint16_t VantorSDK::spiTargetReadMemory(uint16_t memoryAddress, uint16_t length,
                                        std::vector<uint8_t>& out) {
    return impl_->bulkRead(
        kReadMemory, length, kReadCountOffset,
        [&](uint16_t id) { return impl_->async->spiTargetReadMemory(id, memoryAddress, length); },
        out);
}

}  // namespace vantor
