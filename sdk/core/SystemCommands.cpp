// Device-level commands (group 1): reset, boot loader, USB strings, USB
// configuration and analog measurements.

#include <string>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

namespace {

constexpr uint16_t kCmdResetDevice = 0x0401;
constexpr uint16_t kCmdEnterBootMode = 0x0402;
constexpr uint16_t kCmdGetUsbString = 0x0407;
constexpr uint16_t kCmdGetAnalogMeasurements = 0x0409;
constexpr uint16_t kCmdSetUsbConfig = 0x040D;
constexpr uint16_t kCmdGetUsbConfig = 0x040E;

using namespace status;

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::resetDevice(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdResetDevice).message());
}

uint16_t VantorAsyncSDK::enterBootMode(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    const uint16_t status = send(RequestBuilder(transactionId, kCmdEnterBootMode).message());
    // The adapter leaves its application firmware: this connection is over.
    if (status == toU16(StatusCode::SUCCESS)) disconnect();
    return status;
}

uint16_t VantorAsyncSDK::getUsbString(uint16_t transactionId, uint8_t index) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdGetUsbString, 1).u8(index).message());
}

uint16_t VantorAsyncSDK::getAnalogMeasurements(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdGetAnalogMeasurements).message());
}

uint16_t VantorAsyncSDK::getUsbConfig(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdGetUsbConfig).message());
}

uint16_t VantorAsyncSDK::setUsbConfig(uint16_t transactionId, const UsbConfig& config) {
    if (!connected_) return kDisconnect;
    // Each setting travels as its low byte; 255 keeps the current one.
    return send(RequestBuilder(transactionId, kCmdSetUsbConfig, 3)
                    .u8(static_cast<uint8_t>(config.webusbEnabled & 0xFF))
                    .u8(static_cast<uint8_t>(config.cdcEnabled & 0xFF))
                    .u8(static_cast<uint8_t>(config.cdcMode & 0xFF))
                    .message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::resetDevice() {
    return sendOnly([this](uint16_t id) { return async_->resetDevice(id); });
}

uint16_t VantorSDK::enterBootMode() {
    return sendOnly([this](uint16_t id) { return async_->enterBootMode(id); });
}

uint16_t VantorSDK::getUsbString(std::vector<uint8_t>& out, uint8_t index) {
    return transact(
        kCmdGetUsbString, 1, [&](uint16_t id) { return async_->getUsbString(id, index); },
        [&](const Response& r) -> uint16_t {
            // Byte 6 counts itself and the string bytes that follow it; the
            // status field is not consulted.
            const size_t length = r.u8(6);
            if (length == 0 || r.size() < kResponseHeaderSize + length) {
                return toU16(StatusCode::SDK_ERROR_WRONG_RESPONSE);
            }
            out.assign(r.data() + 7, r.data() + kResponseHeaderSize + length);
            return toU16(StatusCode::SUCCESS);
        },
        // A bare header carrying an error (an unknown string index) reports
        // the firmware's status instead of hiding it behind a malformed-
        // response code.
        ShortResponse::Status);
}

uint16_t VantorSDK::getUsbConfig(UsbConfig& config) {
    return transact(
        kCmdGetUsbConfig, sizeof(UsbConfigResponseParameters),
        [&](uint16_t id) { return async_->getUsbConfig(id); },
        [&](const Response& r) {
            config.webusbEnabled = r.u8(6);
            config.cdcEnabled = r.u8(7);
            config.cdcMode = r.u8(8);
        });
}

uint16_t VantorSDK::setUsbConfig(const UsbConfig& config) {
    return transact(kCmdSetUsbConfig,
                    [&](uint16_t id) { return async_->setUsbConfig(id, config); });
}

uint16_t VantorSDK::getDeviceInfo(DeviceInfo& info) {
    if (!async_->isConnected()) return kDisconnect;
    std::string* const fields[] = {&info.manufacturer, &info.productName, &info.serialNumber,
                                   &info.hwVersion, &info.fwVersion};
    std::vector<uint8_t> bytes;
    for (uint8_t index = 1; index <= 5; ++index) {
        const uint16_t status = getUsbString(bytes, index);
        // Fields read so far keep their new values, the rest their old ones.
        if (status != toU16(StatusCode::SUCCESS)) return status;
        fields[index - 1]->assign(bytes.begin(), bytes.end());
    }
    return toU16(StatusCode::SUCCESS);
}

}  // namespace vantor
