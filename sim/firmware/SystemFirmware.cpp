// SPDX-License-Identifier: MIT
#include "sim/firmware/SystemFirmware.h"

#include <algorithm>
#include <string>

namespace vantor::sim {

namespace {

constexpr uint8_t kKeepSetting = 255;
constexpr uint8_t kMaxCdcMode = 4;
constexpr size_t kMaxStringBytes = 254;  // the length byte counts itself
constexpr size_t kMaxBulkGroupRecords = 255;

bool validSwitch(uint8_t value) {
    return value <= 1 || value == kKeepSetting;
}

}  // namespace

SystemFirmware::SystemFirmware() {
    serve<SystemFirmware>({
        {system::cmd::kReset, 0, &SystemFirmware::restart},
        {system::cmd::kEnterBootMode, 0, &SystemFirmware::enterBootMode},
        {system::cmd::kGetUsbString, 1, &SystemFirmware::getUsbString},
        {system::cmd::kGetAnalogMeasurements, 0, &SystemFirmware::getAnalogMeasurements},
        {system::cmd::kSetUsbConfig, 3, &SystemFirmware::setUsbConfig},
        {system::cmd::kGetUsbConfig, 0, &SystemFirmware::getUsbConfig},
        {system::cmd::kGetBulkCapabilities, 0, &SystemFirmware::getBulkCapabilities},
    });
}

void SystemFirmware::powerOn() {
    bootMode_ = false;
}

bool SystemFirmware::applyUsbSettings(uint8_t webusb, uint8_t cdc, uint8_t cdcMode) {
    if (!validSwitch(webusb) || !validSwitch(cdc) ||
        (cdcMode > kMaxCdcMode && cdcMode != kKeepSetting)) {
        return false;
    }
    if (webusb != kKeepSetting) usbSettings_.webusbEnabled = webusb;
    if (cdc != kKeepSetting) usbSettings_.cdcEnabled = cdc;
    if (cdcMode != kKeepSetting) usbSettings_.cdcMode = cdcMode;
    return true;
}

void SystemFirmware::restart(const Request&, Firmware& firmware) {
    // No answer: the adapter restarts its application.
    ++resetCount_;
    firmware.resetVolatileState();
}

void SystemFirmware::enterBootMode(const Request&, Firmware& firmware) {
    // No answer: the application firmware stops and the adapter re-enumerates
    // as its boot loader, which this model does not emulate; to the host the
    // adapter is gone.
    bootMode_ = true;
    firmware.leaveApplication();
}

void SystemFirmware::getAnalogMeasurements(const Request& request, Firmware& firmware) {
    firmware.respond(MessageBuilder::response(request, status::kSuccess)
                         .u16(analog_.ioMv)
                         .u16(analog_.i3cLowMv)
                         .u16(analog_.i3cHighMv)
                         .zeros(6)
                         .take());
}

void SystemFirmware::setUsbConfig(const Request& request, Firmware& firmware) {
    const bool applied = applyUsbSettings(request.u8(0), request.u8(1), request.u8(2));
    firmware.respond(request, applied ? status::kSuccess : status::kInvalidParameter);
}

void SystemFirmware::getUsbConfig(const Request& request, Firmware& firmware) {
    firmware.respond(MessageBuilder::response(request, status::kSuccess)
                         .u8(usbSettings_.webusbEnabled)
                         .u8(usbSettings_.cdcEnabled)
                         .u8(usbSettings_.cdcMode)
                         .take());
}

void SystemFirmware::getUsbString(const Request& request, Firmware& firmware) {
    const Identity identity = firmware.identity();
    const std::string* text = nullptr;
    switch (request.u8(0)) {
        case 1:
            text = &identity.manufacturer;
            break;
        case 2:
            text = &identity.productName;
            break;
        case 3:
            text = identity.serialNumber.empty() ? &firmware.serial() : &identity.serialNumber;
            break;
        case 4:
            text = &identity.hwVersion;
            break;
        case 5:
            text = &identity.fwVersion;
            break;
        default:
            firmware.respond(request, status::kInvalidParameter);
            return;
    }
    const size_t size = std::min(text->size(), kMaxStringBytes);
    firmware.respond(MessageBuilder::response(request, status::kSuccess)
                         .u8(static_cast<uint8_t>(size + 1))
                         .append(reinterpret_cast<const uint8_t*>(text->data()), size)
                         .take());
}

void SystemFirmware::installed(Firmware&) {
    bulkCapabilities_.groups = defaultBulkGroups();
}

void SystemFirmware::getBulkCapabilities(const Request& request, Firmware& firmware) {
    const BulkCapabilityConfig& config = bulkCapabilities_;
    if (config.status != status::kSuccess) {
        firmware.respond(request, config.status);
        return;
    }
    const size_t count = std::min(config.groups.size(), kMaxBulkGroupRecords);
    MessageBuilder answer = MessageBuilder::response(request, status::kSuccess);
    answer.u8(config.capabilityInfo)
        .u8(config.supported ? 1 : 0)
        .zeros(2)
        .u8(static_cast<uint8_t>(count));
    for (size_t i = 0; i < count; ++i) {
        const BulkGroupRecord& record = config.groups[i];
        answer.u8(record.group).u16(record.maxPayload).u32(record.commandMask);
    }
    firmware.respond(answer.take());
}

}  // namespace vantor::sim
