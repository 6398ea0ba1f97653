#include "sim/GpioFirmware.h"

#include "sim/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr uint8_t kOutput = 1;
constexpr uint8_t kHigh = 1;
constexpr uint8_t kRisingEdge = 1;
constexpr uint8_t kFallingEdge = 2;
constexpr uint8_t kBothEdges = 3;

}  // namespace

std::vector<FirmwareFamily::Command> GpioFirmware::commands() const {
    return {
        {cmd::kGpioConfigure, 2},
        {cmd::kGpioWrite, 2},
        {cmd::kGpioRead, 1},
        {cmd::kGpioConfigureInterrupt, 2},
        {cmd::kGpioDisableInterrupt, 1},
    };
}

void GpioFirmware::reset() {
    for (Pin& each : pins_) each.state = GpioPinState{};
}

GpioFirmware::Pin* GpioFirmware::configuredPin(const Request& request, Firmware& firmware) {
    const uint8_t number = request.u8(0);
    if (number >= kPins) {
        firmware.respond(request, fw::kInvalidParameter);
        return nullptr;
    }
    if (!pins_[number].state.configured) {
        firmware.respond(request, fw::kGpioNotConfigured);
        return nullptr;
    }
    return &pins_[number];
}

void GpioFirmware::handle(const Request& request, Firmware& firmware) {
    if (request.commandCode() == cmd::kGpioConfigure) return configure(request, firmware);
    Pin* const pin = configuredPin(request, firmware);
    if (pin == nullptr) return;
    switch (request.commandCode()) {
        case cmd::kGpioWrite:
            if (!pin->state.output) return firmware.respond(request, fw::kGpioWrongConfiguration);
            if (request.u8(1) > kHigh) return firmware.respond(request, fw::kInvalidParameter);
            pin->state.level = request.u8(1);
            return firmware.respond(request, fw::kSuccess);
        case cmd::kGpioRead:
            return firmware.respond(
                MessageBuilder::response(request, fw::kSuccess).u8(pin->state.level).take());
        case cmd::kGpioConfigureInterrupt: {
            const uint8_t trigger = request.u8(1);
            if (pin->state.output) return firmware.respond(request, fw::kGpioWrongConfiguration);
            if (trigger < kRisingEdge || trigger > kBothEdges) {
                return firmware.respond(request, fw::kInvalidParameter);
            }
            pin->state.trigger = trigger;
            return firmware.respond(request, fw::kSuccess);
        }
        case cmd::kGpioDisableInterrupt:
            // Nothing is armed on an output; disabling is harmless there.
            pin->state.trigger = 0;
            return firmware.respond(request, fw::kSuccess);
        default:
            return firmware.respond(request, fw::kUnsupportedCommand);
    }
}

void GpioFirmware::configure(const Request& request, Firmware& firmware) {
    const uint8_t number = request.u8(0);
    const uint8_t functionality = request.u8(1);
    if (number >= kPins || functionality > kOutput) {
        return firmware.respond(request, fw::kInvalidParameter);
    }
    Pin& pin = pins_[number];
    GpioPinState next;
    next.configured = true;
    if (functionality == kOutput) {
        // Only an output carries its initial level.
        if (request.paramSize() < 3 || request.u8(2) > kHigh) {
            return firmware.respond(request, fw::kInvalidParameter);
        }
        next.output = true;
        next.level = request.u8(2);
    } else {
        next.level = pin.driven;
    }
    // A reconfigured pin starts with its interrupt disarmed.
    pin.state = next;
    firmware.respond(request, fw::kSuccess);
}

bool GpioFirmware::drive(uint8_t number, uint8_t level, Firmware& firmware) {
    if (number >= kPins || level > kHigh) return false;
    Pin& pin = pins_[number];
    pin.driven = level;
    // Outputs and unconfigured pins ignore the outside level until they
    // become inputs.
    if (!pin.state.configured || pin.state.output || pin.state.level == level) return true;
    pin.state.level = level;
    const uint8_t edge = level == kHigh ? kRisingEdge : kFallingEdge;
    if ((pin.state.trigger & edge) != 0) {
        firmware.notify(MessageBuilder::notification(notification::kGpioInterrupt)
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

// -------------------------------------------------- the adapter's bench API

bool VirtualAdapter::driveGpioInput(uint8_t pin, uint8_t level) {
    return state_->firmware().withLock(
        [&](Firmware& fw) { return fw.family<GpioFirmware>().drive(pin, level, fw); });
}

std::optional<uint8_t> VirtualAdapter::gpioOutputLevel(uint8_t pin) const {
    const GpioPinState state = gpioPin(pin);
    if (!state.configured || !state.output) return std::nullopt;
    return state.level;
}

GpioPinState VirtualAdapter::gpioPin(uint8_t pin) const {
    return state_->firmware().withLock(
        [&](Firmware& fw) { return fw.family<GpioFirmware>().pin(pin); });
}

}  // namespace vantor::sim
