// SPDX-License-Identifier: MIT
#include "sim/firmware/Firmware.h"

#include <utility>

#include "sim/firmware/GpioFirmware.h"
#include "sim/firmware/I2cFirmware.h"
#include "sim/firmware/I2cTargetFirmware.h"
#include "sim/firmware/I3cTargetFirmware.h"
#include "sim/firmware/I3cFirmware.h"
#include "sim/firmware/PowerFirmware.h"
#include "sim/firmware/SpiFirmware.h"
#include "sim/firmware/SpiTargetFirmware.h"
#include "sim/firmware/SystemFirmware.h"
#include "sim/firmware/UartFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

Firmware::Firmware(VirtualAdapter::State& adapter) : adapter_(adapter) {
    // One line per command family.
    install(std::make_unique<SystemFirmware>());
    install(std::make_unique<I2cFirmware>());
    install(std::make_unique<SpiFirmware>());
    install(std::make_unique<UartFirmware>());
    install(std::make_unique<GpioFirmware>());
    install(std::make_unique<PowerFirmware>(*this));
    install(std::make_unique<I2cTargetFirmware>());
    install(std::make_unique<SpiTargetFirmware>());
    install(std::make_unique<I3cTargetFirmware>());
    install(std::make_unique<I3cFirmware>());
}

Firmware::~Firmware() = default;

void Firmware::install(std::unique_ptr<FirmwareFamily> family) {
    for (const FirmwareFamily::CommandInfo& command : family->commands()) {
        commands_[command.code] = command;
    }
    families_.push_back(std::move(family));
}

void Firmware::dispatch(const Bytes& message) {
    std::lock_guard<std::mutex> guard(mutex_);
    // Without a whole header there is nothing to answer to.
    if (message.size() < kRequestHeaderSize) return;

    // A data phase the host never delivered ends with the next request.
    if (bulkOutWait_) {
        BulkOutWait abandoned = std::move(*bulkOutWait_);
        bulkOutWait_.reset();
        abandoned.handler(*this, std::nullopt);
    }
    // A request is dispatched within the write that completes it, so its
    // own data phase is still to come: bytes already on bulk OUT belong to
    // an earlier one (whose request was lost) and must not pass for this
    // request's data.
    adapter_.clearBulkOut();

    const Request request(message);
    const auto it = commands_.find(request.commandCode());
    if (it == commands_.end()) {
        respond(request, status::kUnsupportedCommand);
        return;
    }
    if (request.paramSize() < it->second.minParams) {
        respond(request, status::kInvalidParameter);
        return;
    }
    it->second.handler(request, *this);
}

void Firmware::bulkOutArrived() {
    std::lock_guard<std::mutex> guard(mutex_);
    completeBulkOutWait();
}

void Firmware::powerOffLocked() {
    bulkOutWait_.reset();
}

void Firmware::powerOnLocked() {
    bulkOutWait_.reset();
    for (const auto& family : families_) family->powerOn();
}

void Firmware::respond(const Bytes& message) {
    adapter_.queueMessage(message.data(), message.size(), true);
}

void Firmware::respond(const Request& request, uint16_t status) {
    respond(MessageBuilder::response(request, status).take());
}

void Firmware::notify(const Bytes& message) {
    adapter_.queueMessage(message.data(), message.size(), true);
}

size_t Firmware::bulkOutAvailable() const {
    return adapter_.bulkOutAvailable();
}

Bytes Firmware::takeBulkOut(size_t count) {
    return adapter_.takeBulkOut(count);
}

void Firmware::awaitBulkOut(size_t count, BulkOutHandler handler) {
    bulkOutWait_ = BulkOutWait{count, std::move(handler)};
    completeBulkOutWait();
}

void Firmware::completeBulkOutWait() {
    if (!bulkOutWait_ || adapter_.bulkOutAvailable() < bulkOutWait_->count) return;
    BulkOutWait wait = std::move(*bulkOutWait_);
    bulkOutWait_.reset();
    wait.handler(*this, adapter_.takeBulkOut(wait.count));
}

void Firmware::queueBulkIn(const uint8_t* data, size_t size) {
    adapter_.queueBulkIn(data, size);
}

void Firmware::leaveApplication() {
    adapter_.unplugFirmwareLocked();
}

void Firmware::resetVolatileState() {
    bulkOutWait_.reset();
    adapter_.clearBulkOut();
    for (const auto& family : families_) family->reset();
}

Model Firmware::model() const {
    return adapter_.model;
}

Identity Firmware::identity() const {
    return adapter_.identity();
}

const std::string& Firmware::serial() const {
    return adapter_.serial;
}

}  // namespace vantor::sim
