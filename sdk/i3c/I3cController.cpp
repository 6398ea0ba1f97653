// SPDX-License-Identifier: MIT
// I3C controller set-up and bus management (group 6, role 1): rates, bus
// initialisation from a target list, the adapter's target table, the two
// bus patterns, and the I3C port supply (system commands of group 1).

#include <cstring>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace i3c;
using namespace status;

namespace {

uint8_t byteOf(int32_t value) {
    return static_cast<uint8_t>(value & 0xFF);
}

RequestBuilder rates(uint16_t transactionId, const CommandInfo& command, I3cPushPullRate pushPull,
                     I3cOpenDrainRate openDrain, I2cOpenDrainRate i2cRate,
                     I3cDriveStrength driveStrength) {
    RequestBuilder request(transactionId, command, 4);
    request.u8(byteOf(static_cast<int32_t>(pushPull)))
        .u8(byteOf(static_cast<int32_t>(openDrain)))
        .u8(byteOf(static_cast<int32_t>(i2cRate)))
        .u8(byteOf(static_cast<int32_t>(driveStrength)));
    return request;
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::i3cControllerInit(uint16_t transactionId, I3cPushPullRate pushPull,
                                           I3cOpenDrainRate openDrain, I2cOpenDrainRate i2cRate,
                                           I3cDriveStrength driveStrength) {
    if (!connected_) return kDisconnect;
    return send(rates(transactionId, kControllerInit, pushPull, openDrain, i2cRate, driveStrength)
                    .message());
}

uint16_t VantorAsyncSDK::i3cSetParameters(uint16_t transactionId, I3cPushPullRate pushPull,
                                          I3cOpenDrainRate openDrain, I2cOpenDrainRate i2cRate,
                                          I3cDriveStrength driveStrength) {
    if (!connected_) return kDisconnect;
    return send(rates(transactionId, kSetParameters, pushPull, openDrain, i2cRate, driveStrength)
                    .message());
}

uint16_t VantorAsyncSDK::i3cInitBus(uint16_t transactionId, std::vector<I3cTargetInfo> targets) {
    if (!connected_) return kDisconnect;
    // The count is one byte: a longer list would be announced short.
    if (targets.size() > kMaxInitBusTargets) return kWrongRequest;
    const size_t recordBytes = targets.size() * sizeof(I3cTargetInfo);
    RequestBuilder request(transactionId, kInitBus, 1 + recordBytes);
    request.u8(static_cast<uint8_t>(targets.size()));
    // The record's memory layout is its wire layout (packed, little-endian
    // fields on every supported host).
    request.bytes(reinterpret_cast<const uint8_t*>(targets.data()), recordBytes);
    return send(request.message());
}

uint16_t VantorAsyncSDK::i3cResetBus(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kResetBus).message());
}

uint16_t VantorAsyncSDK::i3cGetDeviceTable(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kGetDeviceTable).message());
}

uint16_t VantorAsyncSDK::i3cSetTargetDeviceConfiguration(uint16_t transactionId, uint8_t address,
                                                         uint8_t configuration) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kSetTargetDeviceConfiguration, 2)
                    .u8(address)
                    .u8(configuration)
                    .message());
}

uint16_t VantorAsyncSDK::i3cTargetResetPattern(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kBusPattern, 1).u8(kTargetResetPattern).message());
}

uint16_t VantorAsyncSDK::i3cHdrExitPattern(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kBusPattern, 1).u8(kHdrExitPattern).message());
}

uint16_t VantorAsyncSDK::i3cSetBusVoltage(uint16_t transactionId, uint16_t millivolts) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, device::kSetI3cVoltage, 2).u16(millivolts).message());
}

uint16_t VantorAsyncSDK::i3cUseExternalVoltage(uint16_t transactionId, bool enable) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, device::kUseExternalI3cVoltage, 1)
                    .u8(enable ? 1 : 0)
                    .message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::i3cControllerInit(I3cPushPullRate pushPull, I3cOpenDrainRate openDrain,
                                      I2cOpenDrainRate i2cRate, I3cDriveStrength driveStrength) {
    return impl_->statusCommand(kControllerInit, &VantorAsyncSDK::i3cControllerInit, pushPull,
                                openDrain, i2cRate, driveStrength);
}

uint16_t VantorSDK::i3cSetParameters(I3cPushPullRate pushPull, I3cOpenDrainRate openDrain,
                                     I2cOpenDrainRate i2cRate, I3cDriveStrength driveStrength) {
    return impl_->statusCommand(kSetParameters, &VantorAsyncSDK::i3cSetParameters, pushPull,
                                openDrain, i2cRate, driveStrength);
}

uint16_t VantorSDK::i3cInitBus(std::vector<I3cTargetInfo> targets) {
    return impl_->transact(
        kInitBus, [&](uint16_t id) { return impl_->async->i3cInitBus(id, std::move(targets)); });
}

uint16_t VantorSDK::i3cResetBus() {
    return impl_->statusCommand(kResetBus, &VantorAsyncSDK::i3cResetBus);
}

uint16_t VantorSDK::i3cGetDeviceTable(std::vector<I3cTargetInfo>& out) {
    return impl_->transact(
        kGetDeviceTable, [&](uint16_t id) { return impl_->async->i3cGetDeviceTable(id); },
        [&](const Impl::Response& r) -> uint16_t {
            // Every announced entry must be whole; trailing bytes are ignored.
            const size_t count = r.u8(kTableCountOffset);
            if ((r.size() - kTableEntriesOffset) / sizeof(I3cTargetInfo) < count) {
                return kWrongResponse;
            }
            out.resize(count);
            if (count != 0) {
                std::memcpy(out.data(), r.data() + kTableEntriesOffset,
                            count * sizeof(I3cTargetInfo));
            }
            return r.status();
        });
}

uint16_t VantorSDK::i3cSetTargetDeviceConfiguration(uint8_t address, uint8_t configuration) {
    return impl_->statusCommand(kSetTargetDeviceConfiguration,
                                &VantorAsyncSDK::i3cSetTargetDeviceConfiguration, address,
                                configuration);
}

uint16_t VantorSDK::i3cTargetResetPattern() {
    return impl_->statusCommand(kBusPattern, &VantorAsyncSDK::i3cTargetResetPattern);
}

uint16_t VantorSDK::i3cHdrExitPattern() {
    return impl_->statusCommand(kBusPattern, &VantorAsyncSDK::i3cHdrExitPattern);
}

uint16_t VantorSDK::i3cSetBusVoltage(uint16_t millivolts) {
    return impl_->statusCommand(device::kSetI3cVoltage, &VantorAsyncSDK::i3cSetBusVoltage,
                                millivolts);
}

uint16_t VantorSDK::i3cUseExternalVoltage(bool enable) {
    return impl_->statusCommand(device::kUseExternalI3cVoltage,
                                &VantorAsyncSDK::i3cUseExternalVoltage, enable);
}

uint16_t VantorSDK::i3cGetBusVoltage(uint16_t& first, uint16_t& second) {
    // The analog measurements' minimum length and short-response rule are
    // those this getter needs.
    return impl_->transact(
        device::kGetAnalogMeasurements,
        [&](uint16_t id) { return impl_->async->getAnalogMeasurements(id); },
        [&](const Impl::Response& r) {
            first = r.u16(device::kI3cLowVoltageOffset);
            second = r.u16(device::kI3cHighVoltageOffset);
        });
}

}  // namespace vantor
