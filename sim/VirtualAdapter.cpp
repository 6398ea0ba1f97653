// SPDX-License-Identifier: MIT
#include "sim/VirtualAdapter.h"

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>
#include <utility>

#include "sim/usb/AdapterState.h"
#include "sim/usb/VirtualBackends.h"

namespace vantor::sim {

VirtualAdapter::VirtualAdapter(AdapterOptions options) {
    if (!timing::modelFits(options.model, options.timing.speed)) {
        throw std::invalid_argument(
            "a full-speed interrupt endpoint carries at most 64 bytes per frame: the 1024-byte "
            "reports need high speed");
    }
    if (!(options.timing.timeScale > 0) || !std::isfinite(options.timing.timeScale)) {
        throw std::invalid_argument("the time scale must be a finite number above zero");
    }
    if (options.timing.receptionQueueDepth == 0) {
        throw std::invalid_argument("the reception queue holds at least one request");
    }
    installVirtualBackendsOnce();
    const auto& registry = Registry::instance();
    state_ = std::make_shared<State>(options, registry->nextPath());
    faults_ = std::make_unique<FaultBench>(*state_);
    system_ = std::make_unique<SystemBench>(*state_);
    power_ = std::make_unique<PowerBench>(*state_);
    i2c_ = std::make_unique<I2cBench>(*state_);
    spi_ = std::make_unique<SpiBench>(*state_);
    uart_ = std::make_unique<UartBench>(*state_);
    gpio_ = std::make_unique<GpioBench>(*state_);
    i2cTarget_ = std::make_unique<I2cTargetBench>(*state_);
    spiTarget_ = std::make_unique<SpiTargetBench>(*state_);
    i3cTarget_ = std::make_unique<I3cTargetBench>(*state_);
    i3c_ = std::make_unique<I3cBench>(*state_);
    registry->add(state_);
    if (options.plugged) state_->plug();
}

VirtualAdapter::~VirtualAdapter() {
    state_->unplug();
    state_->markDestroyed();
    Registry::instance()->remove(state_.get());
}

const std::string& VirtualAdapter::path() const {
    return state_->path;
}
const std::string& VirtualAdapter::serial() const {
    return state_->serial;
}
Model VirtualAdapter::model() const {
    return state_->model;
}
size_t VirtualAdapter::reportSize() const {
    return state_->reportSize;
}
uint16_t VirtualAdapter::vendorId() const {
    return state_->vendorId;
}
uint16_t VirtualAdapter::productId() const {
    return state_->productId;
}
bool VirtualAdapter::hasBulk() const {
    return state_->bulk;
}
const timing::TimingOptions& VirtualAdapter::timing() const {
    return state_->timing;
}

void VirtualAdapter::plug() {
    state_->plug();
}
void VirtualAdapter::unplug() {
    state_->unplug();
}
bool VirtualAdapter::isPlugged() const {
    return state_->isPlugged();
}

// -------------------------------------------------------------- records

std::vector<Bytes> VirtualAdapter::reports() const {
    return state_->reports();
}
std::vector<Bytes> VirtualAdapter::requests() const {
    return state_->requests();
}
Bytes VirtualAdapter::bulkReceived() const {
    return state_->bulkReceived();
}
void VirtualAdapter::clear() {
    state_->clearRecords();
}
void VirtualAdapter::setRecording(bool recording) {
    state_->setRecording(recording);
}
size_t VirtualAdapter::malformedReports() const {
    return state_->malformedReports();
}
size_t VirtualAdapter::droppedReports() const {
    return state_->droppedReports();
}

bool VirtualAdapter::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    return state_->waitForRequests(count, timeout);
}

// ------------------------------------------------------------ injection

void VirtualAdapter::send(const Bytes& message) {
    state_->queueMessage(message.data(), message.size(), false);
}

void VirtualAdapter::sendReport(const Bytes& report) {
    state_->queueReport(report);
}

void VirtualAdapter::sendBulk(const Bytes& data) {
    state_->queueBulkIn(data.data(), data.size());
}

void VirtualAdapter::notify(uint16_t code, const Bytes& fields, uint16_t headerWord) {
    const Bytes message =
        MessageBuilder::notification(code, headerWord).append(fields.data(), fields.size()).take();
    send(message);
}

void VirtualAdapter::notify(uint16_t code, const Bytes& fields, uint16_t headerWord, size_t count,
                            double perSecond) {
    using Clock = std::chrono::steady_clock;
    const Bytes message =
        MessageBuilder::notification(code, headerWord).append(fields.data(), fields.size()).take();
    const bool paced = perSecond > 0 && std::isfinite(perSecond);
    const std::chrono::duration<double> interval(paced ? 1.0 / perSecond : 0.0);
    // An absolute schedule: a late wake-up is made up by sending the next
    // ones without waiting, but only while it is at most kMaxCatchUp reports
    // behind (about what the USB link carries in a millisecond). A longer
    // stall of this thread starts the schedule again: the adapter's reports
    // cannot reach the host faster than the wire, and a hundred queued in one
    // go would only measure how this thread was scheduled.
    constexpr size_t kMaxCatchUp = 16;
    const auto lag =
        std::chrono::duration_cast<Clock::duration>(interval * static_cast<double>(kMaxCatchUp));
    auto start = Clock::now();
    size_t first = 0;  // the report due at `start`
    for (size_t i = 0; i < count; ++i) {
        if (paced && i > first) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         interval * static_cast<double>(i - first));
            const auto now = Clock::now();
            if (due > now) {
                std::this_thread::sleep_until(due);
            } else if (now - due > lag) {
                start = now;
                first = i;
            }
        }
        if (!state_->isPlugged()) return;
        state_->queueMessage(message.data(), message.size(), false);
    }
}

void VirtualAdapter::setHandler(Handler handler) {
    state_->setHandler(std::move(handler));
}

}  // namespace vantor::sim
