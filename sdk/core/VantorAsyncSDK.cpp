// SPDX-License-Identifier: MIT
#include "sdk/core/VantorAsyncSDK.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "sdk/core/Protocol.h"
#include "sdk/core/ReportFramer.h"
#include "sdk/transport/HidTransport.h"
#include "sdk/core/Version.h"

namespace vantor {

using namespace status;

namespace {

// The engine whose reader thread is the current thread, if any. A reader
// thread serves one transport for its whole life, so the first report it
// hands over identifies it; a new reader thread (after a connect or a reopen)
// starts with null here.
thread_local const void* tlsReaderOf = nullptr;

// The per-instance send lock. It differs from a mutex in one way: a sender on
// the reader thread must never wait for a holder that is reopening or closing
// the device, since that holder joins the reader thread; tryAcquire gives up
// as soon as the holder announces that.
class SendGate {
  public:
    void acquire() {
        std::unique_lock<std::mutex> lock(mutex_);
        released_.wait(lock, [this] { return !busy_; });
        busy_ = true;
    }
    bool acquireUnlessStopping() {
        std::unique_lock<std::mutex> lock(mutex_);
        released_.wait(lock, [this] { return !busy_ || stopping_; });
        if (busy_) return false;
        busy_ = true;
        return true;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
        released_.notify_all();
    }
    // Called by the holder around a reopen or close.
    void setStopping(bool stopping) {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = stopping;
        released_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool busy_ = false;
    bool stopping_ = false;
};

// Holds a SendGate for a scope; `owns()` is false when a reader-thread
// sender gave up.
class GateHold {
  public:
    GateHold(SendGate& gate, bool onReaderThread) : gate_(gate) {
        if (onReaderThread) {
            owns_ = gate_.acquireUnlessStopping();
        } else {
            gate_.acquire();
            owns_ = true;
        }
    }
    ~GateHold() {
        if (owns_) gate_.release();
    }
    GateHold(const GateHold&) = delete;
    GateHold& operator=(const GateHold&) = delete;
    bool owns() const { return owns_; }

  private:
    SendGate& gate_;
    bool owns_ = false;
};

// Announces, for its scope, that the reader thread is being stopped.
class StoppingReader {
  public:
    explicit StoppingReader(SendGate& gate) : gate_(gate) { gate_.setStopping(true); }
    ~StoppingReader() { gate_.setStopping(false); }
    StoppingReader(const StoppingReader&) = delete;
    StoppingReader& operator=(const StoppingReader&) = delete;

  private:
    SendGate& gate_;
};

}  // namespace

struct VantorAsyncSDK::AsyncSdkImpl {
    AsyncSdkImpl(usb::HidBackend& hid, usb::UsbBackend& usb) : transport(hid, usb) {
        transport.setReportCallback(
            [this](const std::vector<uint8_t>& report) { onReport(report); });
        transport.setReadErrorCallback([this] {
            if (connectionLost) connectionLost();
        });
    }

    // Runs on the reader thread for every input report.
    void onReport(const std::vector<uint8_t>& report) {
        if (tlsReaderOf != this) {
            // First report of a new reader thread: a message half received
            // over the previous device handle can never be completed.
            tlsReaderOf = this;
            assembly.reset();
        }
        if (!assembly.feed(report.data(), report.size())) return;
        try {
            responseCallback(assembly.message());
        } catch (...) {
            // A failing user callback must not end the reader thread; the SDK
            // has nowhere to report it, so the message is dropped.
        }
    }

    bool onReaderThread() const { return tlsReaderOf == this; }

    bool writeSegments() {
        for (const auto& segment : segments) {
            if (!transport.write(segment)) return false;
        }
        return true;
    }

    ReportAssembler assembly;  // reader thread; other threads only while none runs
    std::vector<std::vector<uint8_t>> segments;  // guarded by sendGate
    std::unique_ptr<ReportFramer> framer;        // guarded by sendGate
    ResponseCallback responseCallback = [](const std::vector<uint8_t>&) {};
    // Reader thread: the device stopped answering reads. Set before connecting.
    std::function<void()> connectionLost;
    // Held for a whole message, for connect and for disconnect.
    SendGate sendGate;
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
    GateHold hold(impl_->sendGate, false);
    bool ok;
    {
        // Switching to another adapter joins the current reader thread.
        StoppingReader stopping(impl_->sendGate);
        ok = impl_->transport.open(path, serialNumber);
    }
    // A failed switch leaves the adapter that was open (and its framer) in
    // use; a success may have replaced it, with another report size.
    if (ok) impl_->framer = std::make_unique<ReportFramer>(impl_->transport.reportSize());
    connected_ = impl_->transport.isConnected();
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
    // A bulk data phase in progress (on another thread, perhaps under the
    // send lock) gives up within one transfer instead of running its course.
    impl_->transport.bulk().interrupt();
    GateHold hold(impl_->sendGate, false);
    {
        StoppingReader stopping(impl_->sendGate);
        impl_->transport.close();
    }
    impl_->assembly.reset();  // the reader thread is joined
    connected_ = false;
}

void VantorAsyncSDK::onResponse(ResponseCallback callback) {
    impl_->responseCallback = std::move(callback);
}

void VantorAsyncSDK::onConnectionLost(std::function<void()> callback) {
    impl_->connectionLost = std::move(callback);
}

void VantorAsyncSDK::expectUnclaimedBulkIn(uint64_t count) {
    impl_->transport.bulk().expectUnclaimed(count);
}

uint64_t VantorAsyncSDK::discardStaleBulkIn(bool abandonedReads) {
    return impl_->transport.bulk().discardStale(abandonedReads);
}

bool VantorAsyncSDK::bulkInterrupted() const {
    return impl_->transport.bulk().isInterrupted();
}

bool VantorAsyncSDK::onReaderThread() const {
    return impl_->onReaderThread();
}

uint16_t VantorAsyncSDK::send(const std::vector<uint8_t>& message) {
    GateHold hold(impl_->sendGate, impl_->onReaderThread());
    if (!hold.owns()) return kDisconnect;
    return sendHeld(message);
}

uint16_t VantorAsyncSDK::sendWithPayload(const std::vector<uint8_t>& message,
                                         const uint8_t* payload, uint64_t length) {
    GateHold hold(impl_->sendGate, impl_->onReaderThread());
    if (!hold.owns()) return kDisconnect;
    const uint16_t status = sendHeld(message);
    if (status != kSuccess) return status;
    // Still under the send lock, so that the data phases of two threads
    // cannot mix on the bulk OUT endpoint.
    return sendPayload(payload, length, kBulkDataTimeoutMs) ? kSuccess : kTimeout;
}

uint16_t VantorAsyncSDK::sendHeld(const std::vector<uint8_t>& message) {
    if (!connected_ || !impl_->framer) return kDisconnect;

    impl_->framer->segment(message.data(), message.size(), impl_->segments);
    if (impl_->writeSegments()) return kSuccess;

    // One reopen by path, then the whole message again from its first
    // segment. The transport refuses a reopen from the reader thread.
    bool reopened;
    {
        StoppingReader stopping(impl_->sendGate);
        reopened = impl_->transport.reopen();
    }
    if (!reopened) return kDisconnect;
    return impl_->writeSegments() ? kSuccess : kDisconnect;
}

// ------------------------------------------------------------ traffic capture

int VantorAsyncSDK::startTrace(const std::string& path) {
    return impl_->transport.trace().start(path);
}

int VantorAsyncSDK::stopTrace(std::string* failedPath) {
    return impl_->transport.trace().stop(failedPath);
}

bool VantorAsyncSDK::isTracing() const {
    return impl_->transport.trace().active();
}

int VantorAsyncSDK::traceFailure(std::string* path) const {
    return impl_->transport.trace().failure(path);
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
    return VANTOR_SDK_VERSION;
}

}  // namespace vantor
