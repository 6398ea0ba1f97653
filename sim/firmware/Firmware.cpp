// SPDX-License-Identifier: MIT
#include "sim/firmware/Firmware.h"

#include <map>
#include <utility>

#include "sim/firmware/GpioFirmware.h"
#include "sim/firmware/I2cFirmware.h"
#include "sim/firmware/I2cTargetFirmware.h"
#include "sim/firmware/I3cFirmware.h"
#include "sim/firmware/I3cTargetFirmware.h"
#include "sim/firmware/PowerFirmware.h"
#include "sim/firmware/SpiFirmware.h"
#include "sim/firmware/SpiTargetFirmware.h"
#include "sim/firmware/SystemFirmware.h"
#include "sim/firmware/UartFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

// The adapter's command families, one line each, in installation order.
std::vector<std::unique_ptr<FirmwareFamily>> adapterFamilies() {
    std::vector<std::unique_ptr<FirmwareFamily>> families;
    families.push_back(std::make_unique<SystemFirmware>());
    families.push_back(std::make_unique<I2cFirmware>());
    families.push_back(std::make_unique<SpiFirmware>());
    families.push_back(std::make_unique<UartFirmware>());
    families.push_back(std::make_unique<GpioFirmware>());
    families.push_back(std::make_unique<PowerFirmware>());
    families.push_back(std::make_unique<I2cTargetFirmware>());
    families.push_back(std::make_unique<SpiTargetFirmware>());
    families.push_back(std::make_unique<I3cTargetFirmware>());
    families.push_back(std::make_unique<I3cFirmware>());
    return families;
}

// The host reads a command's bit in its group's mask from the low five bits
// of its code.
constexpr unsigned kMaskBitOfCode = 0x1F;

}  // namespace

std::vector<BulkGroupRecord> defaultBulkGroups() {
    // Read once, from families of their own: the system family of every
    // adapter takes its answer from here (when installed, see
    // SystemFirmware::installed), so no adapter can be the source.
    static const std::vector<BulkGroupRecord> groups = [] {
        std::map<uint8_t, BulkGroupRecord> byGroup;
        for (const auto& family : adapterFamilies()) {
            for (const FirmwareFamily::CommandInfo& command : family->commands()) {
                if (command.bulk.id == 0) continue;
                BulkGroupRecord& record = byGroup[command.bulk.id];
                record.group = command.bulk.id;
                record.maxPayload = command.bulk.maxPayload;
                record.commandMask |= uint32_t{1} << (command.code & kMaskBitOfCode);
            }
        }
        std::vector<BulkGroupRecord> records;
        for (const auto& entry : byGroup) records.push_back(entry.second);
        return records;
    }();
    return groups;
}

Firmware::Firmware(VirtualAdapter::State& adapter) : adapter_(adapter) {
    for (auto& family : adapterFamilies()) install(std::move(family));
}

Firmware::~Firmware() = default;

void Firmware::install(std::unique_ptr<FirmwareFamily> family) {
    for (const FirmwareFamily::CommandInfo& command : family->commands()) {
        commands_[command.code] = command;
    }
    family->installed(*this);
    families_.push_back(std::move(family));
}

void Firmware::dispatch(const Bytes& message) {
    std::lock_guard<std::mutex> guard(mutex_);
    // Without a whole header there is nothing to answer to.
    if (message.size() < kRequestHeaderSize) return;
    // A request is dispatched within the write that completes it, so its
    // own data phase is still to come: bytes already on bulk OUT belong to
    // an earlier one (whose request was lost) and must not pass for this
    // request's data.
    adapter_.clearBulkOut();
    dispatchLocked(message);
}

bool Firmware::dispatchTimed(const Bytes& message, uint64_t epoch) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!adapter_.alive(epoch)) return false;
    if (message.size() >= kRequestHeaderSize) dispatchLocked(message);
    return true;
}

void Firmware::dispatchLocked(const Bytes& message) {
    // A data phase the host never delivered ends with the next request.
    if (bulkOutWait_) {
        BulkOutWait abandoned = std::move(*bulkOutWait_);
        bulkOutWait_.reset();
        abandoned.handler(*this, std::nullopt);
    }

    const Request request(message);
    if (turnAway_ > 0) {
        --turnAway_;
        respond(request, status::kFullReceptionQueue);
        return;
    }
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
    heldAnswers_.clear();
}

void Firmware::powerOnLocked() {
    bulkOutWait_.reset();
    for (const auto& family : families_) family->powerOn();
}

void Firmware::respond(const Bytes& message) {
    if (loseAnswers_ > 0) {
        --loseAnswers_;
        return;
    }
    if (holdAnswers_) {
        heldAnswers_.push_back(message);
        return;
    }
    adapter_.queueMessage(message.data(), message.size(), true);
}

void Firmware::holdAnswers(bool hold) {
    holdAnswers_ = hold;
    if (hold) return;
    for (const Bytes& answer : heldAnswers_) {
        adapter_.queueMessage(answer.data(), answer.size(), true);
    }
    heldAnswers_.clear();
}

void Firmware::respond(const Request& request, uint16_t status) {
    respond(MessageBuilder::response(request, status).take());
}

bool Firmware::notify(const Bytes& message) {
    return adapter_.queueMessage(message.data(), message.size(), true);
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
