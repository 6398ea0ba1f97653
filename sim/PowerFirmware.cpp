#include "sim/PowerFirmware.h"

#include "sim/AdapterState.h"
#include "sim/SystemFirmware.h"

namespace vantor::sim {

std::vector<FirmwareFamily::Command> PowerFirmware::commands() const {
    return {
        {cmd::kSetRailVoltage, 3},
        {cmd::kUseExternalSupply, 1},
    };
}

void PowerFirmware::handle(const Request& request, Firmware& firmware) {
    Setting next;
    bool persist = false;
    if (request.commandCode() == cmd::kSetRailVoltage) {
        next.millivolts = request.u16(0);
        persist = request.u8(2) != 0;
        if (next.millivolts < kMinMillivolts || next.millivolts > kMaxMillivolts) {
            return firmware.respond(request, fw::kVoltageOutOfRange);
        }
    } else if (request.commandCode() == cmd::kUseExternalSupply) {
        // The last voltage set stays for when the rail is taken back.
        next.millivolts = current_.millivolts;
        next.external = true;
        persist = request.u8(0) != 0;
    } else {
        return firmware.respond(request, fw::kUnsupportedCommand);
    }
    apply(next);
    if (persist) persisted_ = next;
    firmware.respond(request, fw::kSuccess);
}

void PowerFirmware::reset() {
    apply(persisted_);
}

void PowerFirmware::setExternalMillivolts(uint16_t millivolts) {
    const uint16_t before = rail().millivolts;
    externalMillivolts_ = millivolts;
    if (rail().millivolts != before) publish();
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
    SystemFirmware* const system = firmware_.find<SystemFirmware>();
    if (system == nullptr) return;
    AnalogMeasurements analog = system->analog();
    analog.ioMv = rail().millivolts;
    system->setAnalog(analog);
}

// -------------------------------------------------- the adapter's bench API

void VirtualAdapter::setExternalVoltage(uint16_t millivolts) {
    state_->firmware().withLock(
        [&](Firmware& fw) { fw.family<PowerFirmware>().setExternalMillivolts(millivolts); });
}

RailState VirtualAdapter::ioRail() const {
    return state_->firmware().withLock(
        [](Firmware& fw) { return fw.family<PowerFirmware>().rail(); });
}

}  // namespace vantor::sim
