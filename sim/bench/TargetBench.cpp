// SPDX-License-Identifier: MIT
#include "sim/bench/TargetBench.h"

#include "sim/firmware/I2cTargetFirmware.h"
#include "sim/firmware/I3cTargetFirmware.h"
#include "sim/firmware/SpiTargetFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

// Runs `fn(family, firmware)` under the firmware mutex.
template <class F, class Fn>
decltype(auto) onFamily(VirtualAdapter::State& state, Fn&& fn) {
    return state.firmware().withLock([&](Firmware& fw) { return fn(fw.family<F>(), fw); });
}

}  // namespace

// ------------------------------------------------------------------- I2C

I2cBusTransaction I2cTargetController::write(uint16_t address, const Bytes& data, uint8_t bus,
                                             bool tenBit) {
    return onFamily<I2cTargetFirmware>(state_, [&](I2cTargetFirmware& t, Firmware& fw) {
        return t.busTransfer(fw, bus, address, tenBit, data, 0, false);
    });
}

I2cBusTransaction I2cTargetController::read(uint16_t address, size_t count, uint8_t bus,
                                            bool tenBit) {
    return onFamily<I2cTargetFirmware>(state_, [&](I2cTargetFirmware& t, Firmware& fw) {
        return t.busTransfer(fw, bus, address, tenBit, {}, count, true);
    });
}

I2cBusTransaction I2cTargetController::writeRead(uint16_t address, const Bytes& data, size_t count,
                                                 uint8_t bus, bool tenBit) {
    return onFamily<I2cTargetFirmware>(state_, [&](I2cTargetFirmware& t, Firmware& fw) {
        return t.busTransfer(fw, bus, address, tenBit, data, count, true);
    });
}

I2cTargetState I2cTargetBench::state() const {
    return onFamily<I2cTargetFirmware>(state_,
                                       [](I2cTargetFirmware& t, Firmware&) { return t.state(); });
}

Bytes I2cTargetBench::memory() const {
    return onFamily<I2cTargetFirmware>(state_,
                                       [](I2cTargetFirmware& t, Firmware&) { return t.memory(); });
}

std::vector<RegisterRegion> I2cTargetBench::regions() const {
    return onFamily<I2cTargetFirmware>(state_,
                                       [](I2cTargetFirmware& t, Firmware&) { return t.regions(); });
}

uint64_t I2cTargetBench::clockUs() const {
    return onFamily<I2cTargetFirmware>(state_,
                                       [](I2cTargetFirmware& t, Firmware&) { return t.clockUs(); });
}

void I2cTargetBench::advanceClock(uint32_t us) {
    onFamily<I2cTargetFirmware>(state_,
                                [&](I2cTargetFirmware& t, Firmware&) { t.advanceClock(us); });
}

bool I2cTargetBench::busy() const {
    return onFamily<I2cTargetFirmware>(state_,
                                       [](I2cTargetFirmware& t, Firmware&) { return t.busy(); });
}

// ------------------------------------------------------------------- SPI

Bytes SpiTargetController::transfer(const Bytes& mosi, const SpiFrameSettings& settings) {
    return onFamily<SpiTargetFirmware>(
        state_, [&](SpiTargetFirmware& t, Firmware& fw) { return t.frame(fw, mosi, settings); });
}

SpiTargetState SpiTargetBench::state() const {
    return onFamily<SpiTargetFirmware>(state_,
                                       [](SpiTargetFirmware& t, Firmware&) { return t.state(); });
}

Bytes SpiTargetBench::memory() const {
    return onFamily<SpiTargetFirmware>(state_,
                                       [](SpiTargetFirmware& t, Firmware&) { return t.memory(); });
}

bool SpiTargetBench::addRegion(const RegisterRegion& region) {
    return onFamily<SpiTargetFirmware>(
        state_, [&](SpiTargetFirmware& t, Firmware&) { return t.addRegion(region); });
}

uint64_t SpiTargetBench::clockUs() const {
    return onFamily<SpiTargetFirmware>(state_,
                                       [](SpiTargetFirmware& t, Firmware&) { return t.clockUs(); });
}

void SpiTargetBench::advanceClock(uint32_t us) {
    onFamily<SpiTargetFirmware>(state_,
                                [&](SpiTargetFirmware& t, Firmware&) { t.advanceClock(us); });
}

bool SpiTargetBench::busy() const {
    return onFamily<SpiTargetFirmware>(state_,
                                       [](SpiTargetFirmware& t, Firmware&) { return t.busy(); });
}

// ------------------------------------------------------------------- I3C

I3cBusTransaction I3cTargetController::setdasa(uint8_t staticAddress, uint8_t dynamicAddress) {
    return onFamily<I3cTargetFirmware>(state_, [&](I3cTargetFirmware& t, Firmware& fw) {
        return t.setdasa(fw, staticAddress, dynamicAddress);
    });
}

I3cBusTransaction I3cTargetController::entdaa(uint8_t dynamicAddress) {
    return onFamily<I3cTargetFirmware>(
        state_, [&](I3cTargetFirmware& t, Firmware& fw) { return t.entdaa(fw, dynamicAddress); });
}

I3cBusTransaction I3cTargetController::rstdaa() {
    return onFamily<I3cTargetFirmware>(
        state_, [&](I3cTargetFirmware& t, Firmware& fw) { return t.rstdaa(fw); });
}

I3cBusTransaction I3cTargetController::privateWrite(uint8_t address, const Bytes& data) {
    return onFamily<I3cTargetFirmware>(state_, [&](I3cTargetFirmware& t, Firmware& fw) {
        return t.privateWrite(fw, address, data);
    });
}

I3cBusTransaction I3cTargetController::privateRead(uint8_t address, size_t count) {
    return onFamily<I3cTargetFirmware>(state_, [&](I3cTargetFirmware& t, Firmware& fw) {
        return t.privateRead(fw, address, count);
    });
}

I3cBusTransaction I3cTargetController::cccGet(uint8_t ccc, uint8_t address) {
    return onFamily<I3cTargetFirmware>(
        state_, [&](I3cTargetFirmware& t, Firmware& fw) { return t.cccGet(fw, ccc, address); });
}

I3cTargetRoleState I3cTargetBench::state() const {
    return onFamily<I3cTargetFirmware>(state_,
                                       [](I3cTargetFirmware& t, Firmware&) { return t.state(); });
}

Bytes I3cTargetBench::memory() const {
    return onFamily<I3cTargetFirmware>(state_,
                                       [](I3cTargetFirmware& t, Firmware&) { return t.memory(); });
}

HostCommandResult I2cTargetBench::command(uint16_t code, const Bytes& params,
                                          const Bytes& bulkOut) {
    return onFamily<I2cTargetFirmware>(state_, [&](I2cTargetFirmware& t, Firmware& fw) {
        return t.command(fw, code, params, bulkOut);
    });
}

HostCommandResult SpiTargetBench::command(uint16_t code, const Bytes& params,
                                          const Bytes& bulkOut) {
    return onFamily<SpiTargetFirmware>(state_, [&](SpiTargetFirmware& t, Firmware& fw) {
        return t.command(fw, code, params, bulkOut);
    });
}

HostCommandResult I3cTargetBench::command(uint16_t code, const Bytes& params,
                                          const Bytes& bulkOut) {
    return onFamily<I3cTargetFirmware>(state_, [&](I3cTargetFirmware& t, Firmware& fw) {
        return t.command(fw, code, params, bulkOut);
    });
}

}  // namespace vantor::sim
