#include "sim/VirtualAdapter.h"

#include <utility>

#include "sim/AdapterState.h"
#include "sim/SystemFirmware.h"
#include "sim/VirtualBackends.h"

namespace vantor::sim {

VirtualAdapter::VirtualAdapter(AdapterOptions options) {
    installVirtualBackendsOnce();
    const auto& registry = Registry::instance();
    state_ = std::make_shared<State>(options, registry->nextPath());
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

void VirtualAdapter::setHandler(Handler handler) {
    state_->setHandler(std::move(handler));
}

// --------------------------------------------------------------- faults

void VirtualAdapter::failWrites(int count, std::chrono::milliseconds delay) {
    state_->failWrites(count, delay);
}
void VirtualAdapter::failReads(int count) {
    state_->failReads(count);
}
void VirtualAdapter::setResponseDelay(std::chrono::milliseconds delay) {
    state_->setResponseDelay(delay);
}
void VirtualAdapter::stallBulkIn(bool stalled) {
    state_->stallBulkIn(stalled);
}
void VirtualAdapter::limitBulkIn(std::optional<size_t> limit) {
    state_->limitBulkIn(limit);
}

// ----------------------------------------------------- firmware settings

void VirtualAdapter::setIdentity(const Identity& identity) {
    state_->setIdentity(identity);
}
Identity VirtualAdapter::identity() const {
    return state_->identity();
}

void VirtualAdapter::setBulkCapabilities(const BulkCapabilityConfig& config) {
    state_->firmware().withLock(
        [&](Firmware& fw) { fw.family<SystemFirmware>().setBulkCapabilities(config); });
}

BulkCapabilityConfig VirtualAdapter::bulkCapabilities() const {
    return state_->firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().bulkCapabilities(); });
}

void VirtualAdapter::setAnalogMeasurements(uint16_t ioMv, uint16_t i3cLowMv, uint16_t i3cHighMv) {
    state_->firmware().withLock([&](Firmware& fw) {
        fw.family<SystemFirmware>().setAnalog(AnalogMeasurements{ioMv, i3cLowMv, i3cHighMv});
    });
}

UsbSettings VirtualAdapter::usbSettings() const {
    return state_->firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().usbSettings(); });
}

bool VirtualAdapter::setUsbSettings(const UsbSettings& settings) {
    return state_->firmware().withLock([&](Firmware& fw) {
        return fw.family<SystemFirmware>().applyUsbSettings(settings.webusbEnabled,
                                                            settings.cdcEnabled, settings.cdcMode);
    });
}

int VirtualAdapter::resetCount() const {
    return state_->firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().resetCount(); });
}

bool VirtualAdapter::inBootMode() const {
    return state_->firmware().withLock(
        [](Firmware& fw) { return fw.family<SystemFirmware>().inBootMode(); });
}

}  // namespace vantor::sim
