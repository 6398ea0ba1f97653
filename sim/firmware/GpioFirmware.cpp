// SPDX-License-Identifier: MIT
#include "sim/firmware/GpioFirmware.h"

#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr uint8_t kOutput = 1;
constexpr uint8_t kHigh = 1;
constexpr uint8_t kRisingEdge = 1;
constexpr uint8_t kFallingEdge = 2;
constexpr uint8_t kBothEdges = 3;

}  // namespace

GpioFirmware::GpioFirmware() {
    serve<GpioFirmware>({
        {gpio::cmd::kConfigure, 2, &GpioFirmware::configure},
        {gpio::cmd::kWrite, 2, &GpioFirmware::write},
        {gpio::cmd::kRead, 1, &GpioFirmware::read},
        {gpio::cmd::kConfigureInterrupt, 2, &GpioFirmware::configureInterrupt},
        {gpio::cmd::kDisableInterrupt, 1, &GpioFirmware::disableInterrupt},
    });
}

void GpioFirmware::reset() {
    for (Pin& each : pins_) each.state = GpioPinState{};
}

GpioFirmware::Pin* GpioFirmware::configuredPin(const Request& request, Firmware& firmware) {
    const uint8_t number = request.u8(0);
    if (number >= kPins) {
        firmware.respond(request, status::kInvalidParameter);
        return nullptr;
    }
    if (!pins_[number].state.configured) {
        firmware.respond(request, gpio::status::kNotConfigured);
        return nullptr;
    }
    return &pins_[number];
}

void GpioFirmware::write(const Request& request, Firmware& firmware) {
    Pin* const pin = configuredPin(request, firmware);
    if (pin == nullptr) return;
    if (!pin->state.output) return firmware.respond(request, gpio::status::kWrongConfiguration);
    if (request.u8(1) > kHigh) return firmware.respond(request, status::kInvalidParameter);
    pin->state.level = request.u8(1);
    firmware.respond(request, status::kSuccess);
}

void GpioFirmware::read(const Request& request, Firmware& firmware) {
    const Pin* const pin = configuredPin(request, firmware);
    if (pin == nullptr) return;
    firmware.respond(
        MessageBuilder::response(request, status::kSuccess).u8(pin->state.level).take());
}

void GpioFirmware::configureInterrupt(const Request& request, Firmware& firmware) {
    Pin* const pin = configuredPin(request, firmware);
    if (pin == nullptr) return;
    const uint8_t trigger = request.u8(1);
    if (pin->state.output) return firmware.respond(request, gpio::status::kWrongConfiguration);
    if (trigger < kRisingEdge || trigger > kBothEdges) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    pin->state.trigger = trigger;
    firmware.respond(request, status::kSuccess);
}

void GpioFirmware::disableInterrupt(const Request& request, Firmware& firmware) {
    Pin* const pin = configuredPin(request, firmware);
    if (pin == nullptr) return;
    // Nothing is armed on an output; disabling is harmless there.
    pin->state.trigger = 0;
    firmware.respond(request, status::kSuccess);
}

void GpioFirmware::configure(const Request& request, Firmware& firmware) {
    const uint8_t number = request.u8(0);
    const uint8_t functionality = request.u8(1);
    if (number >= kPins || functionality > kOutput) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    Pin& pin = pins_[number];
    GpioPinState next;
    next.configured = true;
    if (functionality == kOutput) {
        // Only an output carries its initial level.
        if (request.paramSize() < 3 || request.u8(2) > kHigh) {
            return firmware.respond(request, status::kInvalidParameter);
        }
        next.output = true;
        next.level = request.u8(2);
    } else {
        next.level = pin.driven;
    }
    // A reconfigured pin starts with its interrupt disarmed.
    pin.state = next;
    firmware.respond(request, status::kSuccess);
}

bool GpioFirmware::drive(uint8_t number, uint8_t level, Firmware& firmware) {
    if (number >= kPins || level > kHigh) return false;
    Pin& pin = pins_[number];
    pin.driven = level;
    pin.drivenByBench = true;
    // Outputs and unconfigured pins ignore the outside level until they
    // become inputs.
    if (!pin.state.configured || pin.state.output || pin.state.level == level) return true;
    pin.state.level = level;
    const uint8_t edge = level == kHigh ? kRisingEdge : kFallingEdge;
    if ((pin.state.trigger & edge) != 0) {
        firmware.notify(MessageBuilder::notification(gpio::notification::kInterrupt)
                            .u8(number)
                            .u8(edge)
                            .u8(level)
                            .take());
    }
    return true;
}

GpioPinState GpioFirmware::pin(uint8_t number) const {
    return number < kPins ? pins_[number].state : GpioPinState{};
}

std::optional<uint8_t> GpioFirmware::driven(uint8_t number) const {
    if (number >= kPins || !pins_[number].drivenByBench) return std::nullopt;
    return pins_[number].driven;
}

}  // namespace vantor::sim
