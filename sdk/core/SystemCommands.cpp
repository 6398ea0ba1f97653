// SPDX-License-Identifier: MIT
// Device-level commands (group 1): reset, boot loader, USB strings, USB
// configuration and analog measurements.

#include <string>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace device;
using namespace status;

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::resetDevice(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kResetDevice).message());
}

uint16_t VantorAsyncSDK::enterBootMode(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    const uint16_t status = send(RequestBuilder(transactionId, kEnterBootMode).message());
    // The adapter leaves its application firmware: this connection is over.
    if (status == kSuccess) disconnect();
    return status;
}

uint16_t VantorAsyncSDK::getUsbString(uint16_t transactionId, uint8_t index) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kGetUsbString, 1).u8(index).message());
}

uint16_t VantorAsyncSDK::getAnalogMeasurements(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kGetAnalogMeasurements).message());
}

uint16_t VantorAsyncSDK::getUsbConfig(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kGetUsbConfig).message());
}

uint16_t VantorAsyncSDK::setUsbConfig(uint16_t transactionId, const UsbConfig& config) {
    if (!connected_) return kDisconnect;
    // Each setting travels as its low byte; 255 keeps the current one.
    return send(RequestBuilder(transactionId, kSetUsbConfig, 3)
                    .u8(static_cast<uint8_t>(config.webusbEnabled & 0xFF))
                    .u8(static_cast<uint8_t>(config.cdcEnabled & 0xFF))
                    .u8(static_cast<uint8_t>(config.cdcMode & 0xFF))
                    .message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::resetDevice() {
    return impl_->sendOnly([this](uint16_t id) { return impl_->async->resetDevice(id); });
}

uint16_t VantorSDK::enterBootMode() {
    return impl_->sendOnly([this](uint16_t id) { return impl_->async->enterBootMode(id); });
}

uint16_t VantorSDK::getUsbString(std::vector<uint8_t>& out, uint8_t index) {
    return impl_->transact(
        kGetUsbString, [&](uint16_t id) { return impl_->async->getUsbString(id, index); },
        [&](const Impl::Response& r) -> uint16_t {
            // The length byte counts itself and the string bytes that follow
            // it; the status field is not consulted.
            const size_t length = r.u8(kUsbStringLengthOffset);
            if (length == 0 || r.size() < kUsbStringLengthOffset + length) return kWrongResponse;
            out.assign(r.data() + kUsbStringTextOffset, r.data() + kUsbStringLengthOffset + length);
            return kSuccess;
        });
}

uint16_t VantorSDK::getUsbConfig(UsbConfig& config) {
    return impl_->transact(
        kGetUsbConfig, [&](uint16_t id) { return impl_->async->getUsbConfig(id); },
        [&](const Impl::Response& r) {
            config.webusbEnabled = r.u8(kWebusbEnabledOffset);
            config.cdcEnabled = r.u8(kCdcEnabledOffset);
            config.cdcMode = r.u8(kCdcModeOffset);
        });
}

uint16_t VantorSDK::setUsbConfig(const UsbConfig& config) {
    return impl_->statusCommand(kSetUsbConfig, &VantorAsyncSDK::setUsbConfig, config);
}

uint16_t VantorSDK::getDeviceInfo(DeviceInfo& info) {
    if (!impl_->async->isConnected()) return kDisconnect;
    std::string* const fields[kDeviceInfoStrings] = {&info.manufacturer, &info.productName,
                                                     &info.serialNumber, &info.hwVersion,
                                                     &info.fwVersion};
    std::vector<uint8_t> bytes;
    for (uint8_t i = 0; i < kDeviceInfoStrings; ++i) {
        const uint16_t status =
            getUsbString(bytes, static_cast<uint8_t>(kFirstDeviceInfoString + i));
        // Fields read so far keep their new values, the rest their old ones.
        if (status != kSuccess) return status;
        fields[i]->assign(bytes.begin(), bytes.end());
    }
    return kSuccess;
}

}  // namespace vantor
