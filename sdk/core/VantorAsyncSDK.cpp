#include "sdk/core/VantorAsyncSDK.h"

#include <chrono>
#include <mutex>
#include <utility>

#include "sdk/core/ReportFramer.h"
#include "sdk/transport/HidTransport.h"

namespace vantor {

namespace {

// The engine whose reader thread is the current thread, if any. A reader
// thread serves one transport for its whole life, so the first report it
// hands over identifies it; a new reader thread (after a connect or a reopen)
// starts with null here.
thread_local const void* tlsReaderOf = nullptr;

constexpr auto kReaderLockRetry = std::chrono::milliseconds(5);

}  // namespace

struct VantorAsyncSDK::AsyncSdkImpl {
    AsyncSdkImpl(usb::HidBackend& hid, usb::UsbBackend& usb) : transport(hid, usb) {
        transport.setReportCallback(
            [this](const std::vector<uint8_t>& report) { onReport(report); });
    }

    // Runs on the reader thread for every input report.
    void onReport(const std::vector<uint8_t>& report) {
        if (tlsReaderOf != this) {
            // First report of a new reader thread: a message half received
            // over the previous device handle can never be completed.
            tlsReaderOf = this;
            assembly.clear();
        }
        if (!ReportFramer::feed(report.data(), report.size(), assembly)) return;
        try {
            responseCallback(assembly);
        } catch (...) {
            // A failing user callback must not end the reader thread; the SDK
            // has nowhere to report it, so the message is dropped.
        }
    }

    bool onReaderThread() const { return tlsReaderOf == this; }

    // The send lock. A sender on the reader thread must never block on it:
    // the holder may be reopening or closing the device, which joins this
    // very thread. Such a sender gives up (an unowned lock) once it sees that.
    std::unique_lock<std::timed_mutex> lockForSend() {
        if (!onReaderThread()) return std::unique_lock<std::timed_mutex>(sendMutex);
        std::unique_lock<std::timed_mutex> lock(sendMutex, std::defer_lock);
        while (!lock.try_lock_for(kReaderLockRetry)) {
            if (stoppingReader.load()) break;
        }
        return lock;
    }

    bool writeSegments() {
        for (const auto& segment : segments) {
            if (!transport.write(segment)) return false;
        }
        return true;
    }

    std::vector<uint8_t> assembly;               // reader thread only
    std::vector<std::vector<uint8_t>> segments;  // guarded by sendMutex
    std::unique_ptr<ReportFramer> framer;        // guarded by sendMutex
    ResponseCallback responseCallback = [](const std::vector<uint8_t>&) {};
    // Held for a whole message, for connect and for disconnect.
    std::timed_mutex sendMutex;
    // Set (under sendMutex) while a reopen or close may be joining the reader.
    std::atomic<bool> stoppingReader{false};
    // Last, so that it is destroyed first: its reader thread uses the fields
    // above.
    HidTransport transport;
};

VantorAsyncSDK::VantorAsyncSDK()
    : VantorAsyncSDK(usb::defaultHidBackend(), usb::defaultUsbBackend()) {}

VantorAsyncSDK::VantorAsyncSDK(usb::HidBackend& hid, usb::UsbBackend& usb)
    : impl_(std::make_unique<AsyncSdkImpl>(hid, usb)) {}

VantorAsyncSDK::~VantorAsyncSDK() {
    // Stop the reader before anything it uses goes away.
    impl_->transport.close();
}

bool VantorAsyncSDK::open(const std::string& path, const std::string& serialNumber) {
    // The reader thread belongs to an open connection; it cannot replace it.
    if (impl_->onReaderThread()) return connected_;
    std::lock_guard<std::timed_mutex> lock(impl_->sendMutex);
    const bool ok = impl_->transport.open(path, serialNumber);
    if (ok) impl_->framer = std::make_unique<ReportFramer>(impl_->transport.reportSize());
    connected_ = ok;
    return ok;
}

bool VantorAsyncSDK::connect(const std::string& path) {
    return open(path, std::string());
}

bool VantorAsyncSDK::connectWithSerialNumber(const std::string& serialNumber) {
    return open(std::string(), serialNumber);
}

void VantorAsyncSDK::disconnect() {
    // Closing joins the reader thread, which cannot join itself.
    if (impl_->onReaderThread()) return;
    std::lock_guard<std::timed_mutex> lock(impl_->sendMutex);
    impl_->stoppingReader = true;
    impl_->transport.close();
    impl_->stoppingReader = false;
    connected_ = false;
}

void VantorAsyncSDK::onResponse(ResponseCallback callback) {
    impl_->responseCallback = std::move(callback);
}

bool VantorAsyncSDK::onReaderThread() const {
    return impl_->onReaderThread();
}

uint16_t VantorAsyncSDK::send(const std::vector<uint8_t>& message) {
    constexpr uint16_t kDisconnect = toU16(StatusCode::SDK_ERROR_DISCONNECT);
    auto lock = impl_->lockForSend();
    if (!lock.owns_lock() || !connected_ || !impl_->framer) return kDisconnect;

    impl_->framer->segment(message.data(), message.size(), impl_->segments);
    if (impl_->writeSegments()) return toU16(StatusCode::SUCCESS);

    // One reopen by path, then the whole message again from its first
    // segment. The transport refuses a reopen from the reader thread.
    impl_->stoppingReader = true;
    const bool reopened = impl_->transport.reopen();
    impl_->stoppingReader = false;
    if (!reopened) return kDisconnect;
    return impl_->writeSegments() ? toU16(StatusCode::SUCCESS) : kDisconnect;
}

// ------------------------------------------------------------ bulk interface

bool VantorAsyncSDK::receivePayload(uint8_t* destination, uint64_t length, uint32_t timeoutMs) {
    return impl_->transport.bulk().read(destination, length, timeoutMs);
}

bool VantorAsyncSDK::sendPayload(const uint8_t* source, uint64_t length, uint32_t timeoutMs) {
    return impl_->transport.bulk().write(source, length, timeoutMs);
}

bool VantorAsyncSDK::isBulkTransportAvailable() const {
    return impl_->transport.bulk().isOpen();
}

std::string VantorAsyncSDK::getLastBulkError() const {
    return impl_->transport.bulk().lastError();
}

std::string VantorAsyncSDK::getVersion() {
    return "1.5.1";
}

}  // namespace vantor
