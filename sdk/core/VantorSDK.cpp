#include "sdk/core/VantorSDK.h"

#include <algorithm>
#include <utility>

#include "sdk/core/VantorAsyncSDK.h"

namespace vantor {

VantorSDK::VantorSDK() : VantorSDK(-1) {}

VantorSDK::VantorSDK(int timeoutMs)
    : waiter_(std::make_unique<ResponseWaiter>(timeoutMs)),
      async_(std::make_unique<VantorAsyncSDK>()) {
    async_->onResponse([this](const std::vector<uint8_t>& message) { handleResponse(message); });
}

VantorSDK::~VantorSDK() {
    // The engine goes first: it closes the device and joins the reader
    // thread, which uses everything else.
    async_.reset();
}

bool VantorSDK::connect(const std::string& path) {
    if (calledFromReaderThread()) return async_->isConnected();
    std::lock_guard<std::mutex> lock(requestMutex_);
    bulkCapabilities_ = BulkCapabilities{};
    return async_->connect(path);
}

bool VantorSDK::connectWithSerialNumber(const std::string& serialNumber) {
    if (calledFromReaderThread()) return async_->isConnected();
    std::lock_guard<std::mutex> lock(requestMutex_);
    bulkCapabilities_ = BulkCapabilities{};
    return async_->connectWithSerialNumber(serialNumber);
}

// Not under requestMutex_: a disconnect must not wait for a request that is
// waiting for its response.
void VantorSDK::disconnect() {
    async_->disconnect();
}

bool VantorSDK::isConnected() const {
    return async_->isConnected();
}

bool VantorSDK::isBulkTransportAvailable() const {
    return async_->isBulkTransportAvailable();
}

std::string VantorSDK::getLastBulkError() const {
    return async_->getLastBulkError();
}

void VantorSDK::onNotification(NotificationCallback callback) {
    notificationCallback_ = std::move(callback);
}

uint64_t VantorSDK::getDiscardedResponseCount() const {
    return waiter_->discarded();
}

std::string VantorSDK::getVersion() {
    return "1.5.1";
}

bool VantorSDK::calledFromReaderThread() const {
    return async_->onReaderThread();
}

// ------------------------------------------------------------------ engine

uint16_t VantorSDK::generateTransactionId() {
    lastTransactionId_ = lastTransactionId_ == 0xFFFF ? 1 : lastTransactionId_ + 1;
    waiter_->setExpected(lastTransactionId_);
    return lastTransactionId_;
}

void VantorSDK::handleResponse(const std::vector<uint8_t>& message) {
    if (message.size() < kResponseHeaderSize) {
        waiter_->countDiscarded();
        return;
    }
    const uint16_t id = readU16le(message.data());
    if (id != NOTIFICATION_ID) {
        waiter_->deliver(id, [&] { response_.assign(message.begin(), message.end()); });
        return;
    }
    if (!notificationCallback_) return;
    const Notification notification(message.data(), message.size());
    // An exception from the callback is dropped by the engine's reader
    // boundary (VantorAsyncSDK), which keeps the reader thread alive.
    notificationCallback_(notification);
}

uint16_t VantorSDK::sendOnly(SendFn send) {
    if (calledFromReaderThread()) return toU16(StatusCode::SDK_ERROR_WRONG_REQUEST);
    std::lock_guard<std::mutex> lock(requestMutex_);
    const uint16_t id = generateTransactionId();
    uint16_t result = 0;
    waiter_->execute([&] {
        result = send(id);
        return false;  // never wait
    });
    return result;
}

uint16_t VantorSDK::request(uint16_t command, size_t minParameters, ShortResponse shortResponse,
                            SendFn send, ParseFn parse) {
    if (calledFromReaderThread()) return toU16(StatusCode::SDK_ERROR_WRONG_REQUEST);
    std::lock_guard<std::mutex> lock(requestMutex_);
    return requestLocked(command, minParameters, shortResponse, send, parse);
}

uint16_t VantorSDK::requestLocked(uint16_t command, size_t minParameters,
                                  ShortResponse shortResponse, SendFn send, ParseFn parse) {
    const uint16_t id = generateTransactionId();
    uint16_t result = 0;
    const bool answered = waiter_->execute([&] {
        result = send(id);
        return result == 0;
    });
    if (!answered) return result != 0 ? result : toU16(StatusCode::SDK_ERROR_TIMEOUT);

    // response_ was written under the waiter's lock before the wait ended and
    // nothing writes it again until the next request: it is safe to read.
    if (response_.size() < kResponseHeaderSize + minParameters) {
        return shortResponse == ShortResponse::Status ? shortResponseStatus()
                                                      : toU16(StatusCode::SDK_ERROR_WRONG_RESPONSE);
    }
    const Response response(response_);
    if (response.u16(0) != id || response.u16(2) != command) {
        return toU16(StatusCode::SDK_ERROR_UNEXPECTED_RESPONSE);
    }
    return parse(response);
}

uint16_t VantorSDK::shortResponseStatus() const {
    if (response_.size() < kResponseHeaderSize) return toU16(StatusCode::SDK_ERROR_WRONG_RESPONSE);
    const uint16_t status = readU16le(response_.data() + 4);
    return status != 0 ? status : toU16(StatusCode::SDK_ERROR_WRONG_RESPONSE);
}

void VantorSDK::assignResponsePayload(size_t offset, size_t maxLength,
                                      std::vector<uint8_t>& out) const {
    const size_t available = response_.size() > offset ? response_.size() - offset : 0;
    const size_t n = std::min(available, maxLength);
    if (n == 0) {
        out.clear();
        return;
    }
    out.assign(response_.data() + offset, response_.data() + offset + n);
}

}  // namespace vantor
