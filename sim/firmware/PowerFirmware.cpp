// SPDX-License-Identifier: MIT
#include "sim/firmware/PowerFirmware.h"

#include "sim/firmware/SystemFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

PowerFirmware::PowerFirmware() {
    serve<PowerFirmware>({
        {power::cmd::kSetRailVoltage, 3, &PowerFirmware::setRailVoltage},
        {power::cmd::kUseExternalSupply, 1, &PowerFirmware::useExternalSupply},
        {power::cmd::kSetI3cVoltage, 2, &PowerFirmware::setI3cVoltage},
        {power::cmd::kUseI3cExternalSupply, 1, &PowerFirmware::useI3cExternalSupply},
    });
}

void PowerFirmware::setRailVoltage(const Request& request, Firmware& firmware) {
    Setting next;
    next.millivolts = request.u16(0);
    if (next.millivolts < kMinMillivolts || next.millivolts > kMaxMillivolts) {
        return firmware.respond(request, power::status::kVoltageOutOfRange);
    }
    commit(next, request.u8(2) != 0);
    firmware.respond(request, status::kSuccess);
}

void PowerFirmware::useExternalSupply(const Request& request, Firmware& firmware) {
    Setting next;
    // The last voltage set stays for when the rail is taken back.
    next.millivolts = current_.millivolts;
    next.external = true;
    commit(next, request.u8(0) != 0);
    firmware.respond(request, status::kSuccess);
}

void PowerFirmware::commit(const Setting& next, bool persist) {
    apply(next);
    if (persist) persisted_ = next;
}

void PowerFirmware::reset() {
    apply(persisted_);
    // The ports' own supplies restart at their defaults; connectors and the
    // target board's supplies are outside the adapter.
    I3cPorts next = i3c_;
    next.own = I3cPorts{}.own;
    next.external = false;
    applyI3c(next);
}

void PowerFirmware::setExternalMillivolts(uint16_t millivolts) {
    const uint16_t before = rail().millivolts;
    externalMillivolts_ = millivolts;
    externalSet_ = true;
    if (rail().millivolts != before) publish();
}

std::optional<uint16_t> PowerFirmware::externalMillivolts() const {
    if (!externalSet_) return std::nullopt;
    return externalMillivolts_;
}

RailState PowerFirmware::rail() const {
    return RailState{current_.external ? externalMillivolts_ : current_.millivolts,
                     current_.external};
}

void PowerFirmware::apply(const Setting& setting) {
    const RailState before = rail();
    current_ = setting;
    const RailState after = rail();
    // Unchanged, the measurement keeps whatever the bench set it to.
    if (after.millivolts != before.millivolts || after.external != before.external) publish();
}

void PowerFirmware::publish() {
    SystemFirmware* const system = firmware_ ? firmware_->find<SystemFirmware>() : nullptr;
    if (system == nullptr) return;
    AnalogMeasurements analog = system->analog();
    analog.ioMv = rail().millivolts;
    system->setAnalog(analog);
}

// ------------------------------------------------------------- I3C ports

bool PowerFirmware::inI3cRange(uint8_t port, uint16_t millivolts) {
    return port == kI3cLvPort ? millivolts >= kI3cLvMin && millivolts <= kI3cLvMax
                              : millivolts >= kI3cHvMin && millivolts <= kI3cHvMax;
}

void PowerFirmware::setI3cVoltage(const Request& request, Firmware& firmware) {
    const uint16_t millivolts = request.u16(0);
    const uint8_t port = i3c_.connector[kI3cHvPort] != kI3cNoConnector &&
                                 i3c_.connector[kI3cLvPort] == kI3cNoConnector
                             ? kI3cHvPort
                             : kI3cLvPort;
    // Two supplies must not drive one port.
    if (i3c_.external || i3c_.supply[port] != 0) {
        return firmware.respond(request, power::status::kExternalVoltageDetected);
    }
    // 0 switches the port off.
    if (millivolts != 0 && !inI3cRange(port, millivolts)) {
        return firmware.respond(request, port == kI3cLvPort ? power::status::kOutOfRangeOnI3cLv
                                                            : power::status::kOutOfRangeOnI3cHv);
    }
    I3cPorts next = i3c_;
    next.own[port] = millivolts;
    applyI3c(next);
    firmware.respond(request, status::kSuccess);
}

void PowerFirmware::useI3cExternalSupply(const Request& request, Firmware& firmware) {
    I3cPorts next = i3c_;
    next.external = request.u8(0) != 0;
    if (next.external) {
        const bool lv = i3c_.supply[kI3cLvPort] != 0;
        const bool hv = i3c_.supply[kI3cHvPort] != 0;
        if (!lv && !hv) return firmware.respond(request, power::status::kI3cPortsNotPowered);
        if (lv && hv) return firmware.respond(request, power::status::kBothI3cPortsPowered);
        const uint8_t port = lv ? kI3cLvPort : kI3cHvPort;
        if (!inI3cRange(port, i3c_.supply[port])) {
            return firmware.respond(request, lv ? power::status::kOutOfRangeOnI3cLv
                                                : power::status::kOutOfRangeOnI3cHv);
        }
    }
    applyI3c(next);
    firmware.respond(request, status::kSuccess);
}

std::array<uint16_t, PowerFirmware::kI3cPorts> PowerFirmware::i3cVoltages() const {
    return i3c_.external ? i3c_.supply : i3c_.own;
}

void PowerFirmware::applyI3c(const I3cPorts& next) {
    const auto before = i3cVoltages();
    i3c_ = next;
    const auto after = i3cVoltages();
    // Unchanged, the measurement keeps whatever the bench set it to.
    if (after == before) return;
    SystemFirmware* const system = firmware_ ? firmware_->find<SystemFirmware>() : nullptr;
    if (system == nullptr) return;
    AnalogMeasurements analog = system->analog();
    analog.i3cLowMv = after[kI3cLvPort];
    analog.i3cHighMv = after[kI3cHvPort];
    system->setAnalog(analog);
}

bool PowerFirmware::plugI3cConnector(uint8_t port, uint8_t connectorType, Firmware& firmware) {
    if (port >= kI3cPorts || connectorType == kI3cNoConnector ||
        i3c_.connector[port] != kI3cNoConnector) {
        return false;
    }
    i3c_.connector[port] = connectorType;
    firmware.notify(MessageBuilder::notification(power::notification::kI3cConnector)
                        .u8(port)
                        .u8(0)  // plugged
                        .u8(connectorType)
                        .take());
    return true;
}

bool PowerFirmware::unplugI3cConnector(uint8_t port, Firmware& firmware) {
    if (port >= kI3cPorts || i3c_.connector[port] == kI3cNoConnector) return false;
    i3c_.connector[port] = kI3cNoConnector;
    firmware.notify(MessageBuilder::notification(power::notification::kI3cConnector)
                        .u8(port)
                        .u8(1)  // unplugged
                        .u8(kI3cNoConnector)
                        .take());
    return true;
}

bool PowerFirmware::setI3cExternalSupply(uint8_t port, uint16_t millivolts) {
    if (port >= kI3cPorts) return false;
    I3cPorts next = i3c_;
    next.supply[port] = millivolts;
    applyI3c(next);
    return true;
}

I3cPortsState PowerFirmware::i3cPorts() const {
    const auto carried = i3cVoltages();
    I3cPortsState state;
    state.lvMv = carried[kI3cLvPort];
    state.hvMv = carried[kI3cHvPort];
    state.external = i3c_.external;
    state.lvConnector = i3c_.connector[kI3cLvPort];
    state.hvConnector = i3c_.connector[kI3cHvPort];
    state.lvExternalMv = i3c_.supply[kI3cLvPort];
    state.hvExternalMv = i3c_.supply[kI3cHvPort];
    return state;
}

}  // namespace vantor::sim
