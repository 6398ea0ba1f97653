// SPDX-License-Identifier: MIT
#include "sdk/core/VantorSDK.h"

#include <algorithm>
#include <utility>

#include "sdk/core/VantorSDKImpl.h"
#include "sdk/core/Version.h"

namespace vantor {

using namespace status;

// ------------------------------------------------------------------ engine

namespace {
// The engine whose request this thread is inside, if any.
thread_local const void* tlsRequestOf = nullptr;
}  // namespace

VantorSDK::Impl::RequestLock::RequestLock(Impl& impl)
    : lock_(impl.requestMutex), outer_(tlsRequestOf) {
    tlsRequestOf = &impl;
}

VantorSDK::Impl::RequestLock::~RequestLock() {
    tlsRequestOf = outer_;
}

bool VantorSDK::Impl::insideRequest() const {
    return tlsRequestOf == this;
}

VantorSDK::Impl::Impl(int timeoutMs)
    : waiter(timeoutMs), async(std::make_unique<VantorAsyncSDK>()) {
    async->onResponse([this](const std::vector<uint8_t>& message) { handleResponse(message); });
    // The response of a waiting call comes through the reader, which has
    // just lost the device.
    async->onConnectionLost([this] {
        waiter.cutOff();
        if (connectionLostCallback) connectionLostCallback();
    });
}

VantorSDK::Impl::~Impl() {
    // The engine goes first: it closes the device and joins the reader
    // thread, which uses everything else.
    async.reset();
}

uint16_t VantorSDK::Impl::nextTransactionId() {
    lastTransactionId = lastTransactionId == 0xFFFF ? 1 : lastTransactionId + 1;
    return lastTransactionId;
}

uint16_t VantorSDK::Impl::generateTransactionId(uint16_t command) {
    const uint16_t id = nextTransactionId();
    waiter.setExpected(id, command);
    return id;
}

void VantorSDK::Impl::handleResponse(const std::vector<uint8_t>& message) {
    if (message.size() < kResponseHeaderSize) {
        waiter.countDiscarded();
        return;
    }
    const uint16_t id = readU16le(message.data() + kTransactionIdOffset);
    if (id != NOTIFICATION_ID) {
        const uint16_t command = readU16le(message.data() + kCommandCodeOffset);
        // A running batch's answers; bulk reads are never pipelined.
        if (waiter.deliverPipelined(id, command, message)) return;
        const bool delivered =
            waiter.deliver(id, command, [&] { response.assign(message.begin(), message.end()); });
        settleBulkRead(message, delivered);
        return;
    }
    if (!notificationCallback) return;
    const Notification notification(message.data(), message.size());
    // An exception from the callback is dropped by the engine's reader
    // boundary (VantorAsyncSDK), which keeps the reader thread alive.
    notificationCallback(notification);
}

uint16_t VantorSDK::Impl::sendOnly(SendFn send) {
    if (inBatch()) {
        if (batchCall->mode != BatchMode::Direct) return deferToBlocking();
        return sendOnlyLocked(send);
    }
    if (mustRefuseCall()) return kWrongRequest;
    RequestLock lock(*this);
    return sendOnlyLocked(send);
}

uint16_t VantorSDK::Impl::sendOnlyLocked(SendFn send) {
    const uint16_t id = generateTransactionId();
    uint16_t result = 0;
    waiter.execute([&] {
        result = send(id);
        return false;  // never wait
    });
    return result;
}

uint16_t VantorSDK::Impl::request(const CommandInfo& command, SendFn send, ParseFn parse) {
    if (inBatch()) return batchRequest(command, send, parse);
    if (mustRefuseCall()) return kWrongRequest;
    RequestLock lock(*this);
    return requestLocked(command, send, parse);
}

uint16_t VantorSDK::Impl::requestLocked(const CommandInfo& command, SendFn send, ParseFn parse) {
    const uint16_t id = generateTransactionId(command.code);
    uint16_t result = 0;
    switch (waiter.execute([&] {
        result = send(id);
        return result == kSuccess;
    })) {
        case ResponseWaiter::Outcome::Answered:
            break;
        case ResponseWaiter::Outcome::NotSent:
            return result;
        case ResponseWaiter::Outcome::CutOff:
            return kDisconnect;
        case ResponseWaiter::Outcome::TimedOut:
        case ResponseWaiter::Outcome::Interrupted:
            return kTimeout;
    }
    return decodeResponse(command, id, parse);
}

uint16_t VantorSDK::Impl::decodeResponse(const CommandInfo& command, uint16_t id, ParseFn parse) {
    // `response` was written under the waiter's lock before the wait ended
    // and nothing writes it again until the next request: it is safe to read.
    if (response.size() < kResponseHeaderSize + command.minResponseParameters) {
        return command.onShortResponse == ShortResponse::Status ? shortResponseStatus()
                                                                : kWrongResponse;
    }
    const Response message(response);
    if (message.u16(kTransactionIdOffset) != id ||
        message.u16(kCommandCodeOffset) != command.code) {
        return kUnexpectedResponse;
    }
    return parse(message);
}

void VantorSDK::Impl::dropConnectionState() {
    bulkCapabilities = BulkCapabilities{};
    std::lock_guard<std::mutex> lock(outstandingMutex);
    outstandingBulkReads.clear();
}

uint16_t VantorSDK::Impl::shortResponseStatus() const {
    if (response.size() < kResponseHeaderSize) return kWrongResponse;
    const uint16_t status = readU16le(response.data() + kStatusOffset);
    return status != kSuccess ? status : kWrongResponse;
}

void VantorSDK::Impl::assignResponsePayload(size_t offset, size_t maxLength,
                                            std::vector<uint8_t>& out) const {
    const size_t available = response.size() > offset ? response.size() - offset : 0;
    const size_t n = std::min(available, maxLength);
    if (n == 0) {
        out.clear();
        return;
    }
    out.assign(response.data() + offset, response.data() + offset + n);
}

// ------------------------------------------------------------ public class

VantorSDK::VantorSDK() : VantorSDK(-1) {}

VantorSDK::VantorSDK(int timeoutMs) : impl_(std::make_unique<Impl>(timeoutMs)) {}

VantorSDK::~VantorSDK() = default;

bool VantorSDK::connect(const std::string& path) {
    if (impl_->mustRefuseCall()) return impl_->async->isConnected();
    Impl::RequestLock lock(*impl_);
    impl_->dropConnectionState();
    return impl_->async->connect(path);
}

bool VantorSDK::connectWithSerialNumber(const std::string& serialNumber) {
    if (impl_->mustRefuseCall()) return impl_->async->isConnected();
    Impl::RequestLock lock(*impl_);
    impl_->dropConnectionState();
    return impl_->async->connectWithSerialNumber(serialNumber);
}

// Not under the request lock, which a waiting call holds: the waiter is cut
// off instead, before the close (so that the call ends at once) and after it
// (for a call that sent its request while the close was under way).
void VantorSDK::disconnect() {
    // Refused on the reader thread, and from within one of this engine's
    // requests (the send lock is held by this very thread).
    if (impl_->mustRefuseCall()) return;
    impl_->cutOff();
    impl_->async->disconnect();
    impl_->cutOff();
}

bool VantorSDK::isConnected() const {
    return impl_->async->isConnected();
}

bool VantorSDK::isBulkTransportAvailable() const {
    return impl_->async->isBulkTransportAvailable();
}

std::string VantorSDK::getLastBulkError() const {
    return impl_->async->getLastBulkError();
}

int VantorSDK::startTrace(const std::string& path) {
    return impl_->async->startTrace(path);
}

int VantorSDK::stopTrace(std::string* failedPath) {
    return impl_->async->stopTrace(failedPath);
}

bool VantorSDK::isTracing() const {
    return impl_->async->isTracing();
}

int VantorSDK::traceFailure(std::string* path) const {
    return impl_->async->traceFailure(path);
}

void VantorSDK::onNotification(NotificationCallback callback) {
    impl_->notificationCallback = std::move(callback);
}

void VantorSDK::onConnectionLost(std::function<void()> callback) {
    impl_->connectionLostCallback = std::move(callback);
}

uint64_t VantorSDK::getDiscardedResponseCount() const {
    return impl_->waiter.discarded();
}

std::string VantorSDK::getVersion() {
    return VANTOR_SDK_VERSION;
}

void VantorSDK::setInterruptCheck(std::function<bool()> check, int periodMs) {
    impl_->waiter.setInterruptCheck(std::move(check), periodMs);
}

}  // namespace vantor
