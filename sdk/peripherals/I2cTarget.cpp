// SPDX-License-Identifier: MIT
// I2C target commands (group 2, target role): the emulated device's set-up,
// its EEPROM and register-map configuration, and the memory transfers, whose
// data always moves over the vendor bulk interface.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"
#include "sdk/peripherals/TargetMemoryTransfer.h"

namespace vantor {

using namespace i2c_target;
using namespace status;

namespace {

constexpr size_t kSetupBytes = 7;

// Init and set-parameters share one layout; the byte after the memory
// layout is always 0.
std::vector<uint8_t> setupRequest(uint16_t transactionId, const CommandInfo& command, uint8_t bus,
                                  uint16_t address, I2cTargetAddressMode addressMode,
                                  I2cTargetMemoryLayout memoryLayout, I2cTargetModel model) {
    return RequestBuilder(transactionId, command, kSetupBytes)
        .u8(bus)
        .u16(address)
        .u8(static_cast<uint8_t>(addressMode))
        .u8(static_cast<uint8_t>(memoryLayout))
        .u8(0)
        .u8(static_cast<uint8_t>(model))
        .take();
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::i2cTargetInit(uint16_t transactionId, uint8_t bus, uint16_t address,
                                       I2cTargetAddressMode addressMode,
                                       I2cTargetMemoryLayout memoryLayout, I2cTargetModel model) {
    if (!connected_) return kDisconnect;
    return send(setupRequest(transactionId, kInit, bus, address, addressMode, memoryLayout, model));
}

uint16_t VantorAsyncSDK::i2cTargetSetParameters(uint16_t transactionId, uint8_t bus,
                                                uint16_t address, I2cTargetAddressMode addressMode,
                                                I2cTargetMemoryLayout memoryLayout,
                                                I2cTargetModel model) {
    if (!connected_) return kDisconnect;
    return send(setupRequest(transactionId, kSetParameters, bus, address, addressMode, memoryLayout,
                             model));
}

uint16_t VantorAsyncSDK::i2cTargetSetEepromConfig(uint16_t transactionId, uint16_t totalSize,
                                                  uint16_t pageSize, uint32_t writeCycleUs,
                                                  uint32_t eraseCycleUs,
                                                  I2cTargetEepromBusyBehavior busyBehavior,
                                                  uint8_t erasedValue, uint16_t writeProtectStart,
                                                  uint16_t writeProtectEnd) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kSetEepromConfig, 18)
                    .u16(totalSize)
                    .u16(pageSize)
                    .u32(writeCycleUs)
                    .u32(eraseCycleUs)
                    .u8(static_cast<uint8_t>(busyBehavior))
                    .u8(erasedValue)
                    .u16(writeProtectStart)
                    .u16(writeProtectEnd)
                    .message());
}

uint16_t VantorAsyncSDK::i2cTargetErase(uint16_t transactionId, I2cTargetEraseScope scope,
                                        uint16_t address) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kErase, 3)
                    .u8(static_cast<uint8_t>(scope))
                    .u16(address)
                    .message());
}

uint16_t VantorAsyncSDK::i2cTargetSetRegisterRegion(uint16_t transactionId, uint16_t startAddress,
                                                    uint16_t endAddress,
                                                    I2cTargetRegisterAccess access, uint8_t width,
                                                    uint8_t flags) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kSetRegisterRegion, 7)
                    .u16(startAddress)
                    .u16(endAddress)
                    .u8(static_cast<uint8_t>(access))
                    .u8(width)
                    .u8(flags)
                    .message());
}

uint16_t VantorAsyncSDK::i2cTargetWriteMemory(uint16_t transactionId, uint16_t memoryAddress,
                                              const std::vector<uint8_t>& data) {
    std::vector<uint8_t> request;
    const uint16_t check =
        target_memory::buildRequest(*this, transactionId, kWriteMemory, memoryAddress, data.size(),
                                    I2C_TARGET_MEMORY_MAX_TRANSFER, request);
    // Only the header travels over HID; the data follows on bulk OUT.
    return check != kSuccess ? check : sendWithPayload(request, data.data(), data.size());
}

uint16_t VantorAsyncSDK::i2cTargetReadMemory(uint16_t transactionId, uint16_t memoryAddress,
                                             uint16_t length) {
    std::vector<uint8_t> request;
    const uint16_t check =
        target_memory::buildRequest(*this, transactionId, kReadMemory, memoryAddress, length,
                                    I2C_TARGET_MEMORY_MAX_TRANSFER, request);
    return check != kSuccess ? check : send(request);
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::i2cTargetInit(uint8_t bus, uint16_t address, I2cTargetAddressMode addressMode,
                                  I2cTargetMemoryLayout memoryLayout, I2cTargetModel model,
                                  uint32_t& memorySize) {
    return target_memory::setup(
        *impl_, kInit, kInitResponseSize, kMemorySizeOffset, memorySize, [&](uint16_t id) {
            return impl_->async->i2cTargetInit(id, bus, address, addressMode, memoryLayout, model);
        });
}

uint16_t VantorSDK::i2cTargetSetParameters(uint8_t bus, uint16_t address,
                                           I2cTargetAddressMode addressMode,
                                           I2cTargetMemoryLayout memoryLayout, I2cTargetModel model,
                                           uint32_t& memorySize) {
    return target_memory::setup(*impl_, kSetParameters, kInitResponseSize, kMemorySizeOffset,
                                memorySize, [&](uint16_t id) {
                                    return impl_->async->i2cTargetSetParameters(
                                        id, bus, address, addressMode, memoryLayout, model);
                                });
}

uint16_t VantorSDK::i2cTargetSetEepromConfig(uint16_t totalSize, uint16_t pageSize,
                                             uint32_t writeCycleUs, uint32_t eraseCycleUs,
                                             I2cTargetEepromBusyBehavior busyBehavior,
                                             uint8_t erasedValue, uint16_t writeProtectStart,
                                             uint16_t writeProtectEnd) {
    return impl_->statusCommand(kSetEepromConfig, &VantorAsyncSDK::i2cTargetSetEepromConfig,
                                totalSize, pageSize, writeCycleUs, eraseCycleUs, busyBehavior,
                                erasedValue, writeProtectStart, writeProtectEnd);
}

uint16_t VantorSDK::i2cTargetErase(I2cTargetEraseScope scope, uint16_t address) {
    return impl_->statusCommand(kErase, &VantorAsyncSDK::i2cTargetErase, scope, address);
}

uint16_t VantorSDK::i2cTargetSetRegisterRegion(uint16_t startAddress, uint16_t endAddress,
                                               I2cTargetRegisterAccess access, uint8_t width,
                                               uint8_t flags) {
    return impl_->statusCommand(kSetRegisterRegion, &VantorAsyncSDK::i2cTargetSetRegisterRegion,
                                startAddress, endAddress, access, width, flags);
}

uint16_t VantorSDK::i2cTargetWriteMemory(uint16_t memoryAddress, const std::vector<uint8_t>& data) {
    return target_memory::write(*impl_, kWriteMemory, data.size(), [&](uint16_t id) {
        return impl_->async->i2cTargetWriteMemory(id, memoryAddress, data);
    });
}

uint16_t VantorSDK::i2cTargetReadMemory(uint16_t memoryAddress, uint16_t length,
                                        std::vector<uint8_t>& out) {
    return impl_->bulkRead(
        kReadMemory, length, kReadCountOffset,
        [&](uint16_t id) { return impl_->async->i2cTargetReadMemory(id, memoryAddress, length); },
        out);
}

}  // namespace vantor
