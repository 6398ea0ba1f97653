#include "sim/firmware/PowerFirmware.h"

#include "sim/firmware/SystemFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

PowerFirmware::PowerFirmware(Firmware& firmware) : firmware_(firmware) {
    serve<PowerFirmware>({
        {power::cmd::kSetRailVoltage, 3, &PowerFirmware::setRailVoltage},
        {power::cmd::kUseExternalSupply, 1, &PowerFirmware::useExternalSupply},
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

}  // namespace vantor::sim
