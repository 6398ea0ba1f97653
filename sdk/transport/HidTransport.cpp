// SPDX-License-Identifier: MIT
#include "sdk/transport/HidTransport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "sdk/transport/WideString.h"

namespace vantor {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadTimeoutMs = 100;
// For this long after an output report is written, a reader that finds no
// input report polls (non-blocking reads, yielding the processor between
// them) instead of sleeping in a blocking read: an answer that comes within
// microseconds, and the next request's answer in a loop of requests, is
// then taken without a wake-up of the reader thread.
constexpr auto kPollAfterWrite = std::chrono::microseconds(20);
// The reader polls only while the device's first report after a write comes
// within this time (a sleeping reader's wake-up included). A device on a
// real bus answers later (an interrupt endpoint is served every 125 us at
// the most), so there, and for input nobody asked for, the reader sleeps.
constexpr auto kQuickAnswer = std::chrono::microseconds(100);
constexpr auto kReadErrorPause = std::chrono::milliseconds(100);
// A hid_write that fails only after this long means the device is gone; one
// that fails sooner still delivered its report.
constexpr auto kSlowWriteFailure = std::chrono::milliseconds(900);
constexpr uint8_t kReportId = 0;

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

std::chrono::nanoseconds sinceNs(int64_t steadyNs) {
    return std::chrono::nanoseconds(nowNs() - steadyNs);
}

// The transport whose reader loop runs on this thread, if any.
thread_local const HidTransport* tlsReaderOwner = nullptr;

}  // namespace

HidTransport::HidTransport(usb::HidBackend& hid, usb::UsbBackend& usb)
    : hid_(hid), bulk_(usb, trace_) {
    hid_.init();
}

HidTransport::~HidTransport() {
    shutDown();
}

bool HidTransport::onReaderThread() const {
    return tlsReaderOwner == this;
}

bool HidTransport::open(const std::string& pathFilter, const std::string& serialFilter) {
    // A connection whose reads or writes failed (its adapter was unplugged)
    // satisfies no filter: the adapter they select, perhaps the same one
    // plugged in again, is opened in its place.
    const bool healthy = !readFailed_.load() && !writeFailed_;
    if (connected_ && healthy && (pathFilter.empty() || pathFilter == path_) &&
        (serialFilter.empty() || serialFilter == serial_)) {
        return true;
    }

    const std::vector<usb::HidDeviceEntry> devices = hid_.enumerate(0, 0);
    if (devices.empty()) return false;

    const usb::HidDeviceEntry* chosen = nullptr;
    const SupportedDevice* chosenModel = nullptr;
    for (const usb::HidDeviceEntry& entry : devices) {
        if (!serialFilter.empty()) {
            if (!entry.hasSerialNumber) continue;
            if (wideToUtf8(entry.serialNumber) != serialFilter) continue;
        }
        const SupportedDevice* supported = findSupportedDevice(entry.vendorId, entry.productId);
        if (supported == nullptr) continue;
        if (!pathFilter.empty() && entry.path != pathFilter) continue;
        chosen = &entry;
        chosenModel = supported;
        break;
    }
    if (chosen == nullptr) return false;

    // The new device is opened before the current one is closed, so that a
    // failure leaves the current connection as it was.
    std::unique_ptr<usb::HidDevice> device = hid_.openPath(chosen->path);
    if (!device) return false;
    if (connected_) shutDown();

    handle_ = std::move(device);
    model_ = chosenModel;
    path_ = chosen->path;
    serial_ = chosen->hasSerialNumber ? wideToUtf8(chosen->serialNumber) : std::string();
    writeFailed_ = false;
    connected_ = true;
    readFailed_.store(false);
    trace_.setDevicePath(path_);
    startOn(*chosen, serialFilter);
    return true;
}

void HidTransport::startOn(const usb::HidDeviceEntry& entry, const std::string& serialFilter) {
    // The bulk interface must belong to the adapter just opened. Without a
    // serial filter, the first adapter of the same model in the USB list
    // could be another one, so the opened device's own serial number selects
    // it; only a device without one falls back to the first match.
    if (!serialFilter.empty()) {
        bulk_.open(model_->vendorId, model_->productId, serialFilter);
    } else if (entry.hasSerialNumber) {
        bulk_.open(model_->vendorId, model_->productId, serial_);
    } else {
        bulk_.open(model_->vendorId, model_->productId, std::string());
    }

    try {
        startReader();
    } catch (...) {
        shutDown();  // no half-open connection without its reader
        throw;
    }
}

void HidTransport::startReader() {
    auto running = std::make_shared<std::atomic<bool>>(true);
    running_ = running;
    readerThread_ = std::thread([this, running] { readerLoop(*running); });
}

void HidTransport::stopReader() {
    if (running_) running_->store(false);
    // The reader may be blocked in a read for up to kReadTimeoutMs; the
    // handle wakes it, so stopping waits only for a report being handled.
    // The handle is the reader's own: open, reopen and close replace or drop
    // it only after this.
    if (handle_) handle_->cancelReads();
    {
        // Orders the flag before the check of a reader about to pause.
        std::lock_guard<std::mutex> lock(pauseMutex_);
    }
    pauseCv_.notify_all();
    if (readerThread_.joinable()) {
        if (onReaderThread()) {
            // Only the destructor gets here on the reader thread: the loop
            // checks nothing but its own flag once the callback returns.
            readerThread_.detach();
        } else {
            readerThread_.join();
        }
    }
    running_.reset();
}

void HidTransport::readerLoop(const std::atomic<bool>& running) {
    tlsReaderOwner = this;
    // The model and the handle stay fixed while this thread runs: open,
    // reopen and close change them only with no reader running.
    const size_t reportSize = model_ ? model_->reportSize : 0;
    usb::HidDevice* const device = handle_.get();
    if (device == nullptr || reportSize == 0) return;
    readBuffer_.resize(reportSize);
    // Whether answers to writes come quickly enough to poll for, judged by
    // the first report after each write (see kQuickAnswer), and when the
    // last report soon after a write came: the poll goes on for a moment
    // after an answer too, for the next request of a loop.
    bool quickAnswers = true;
    int64_t answeredWrite = 0;
    int64_t answeredAt = 0;

    while (running.load()) {
        // Growing back within the capacity never allocates.
        readBuffer_.resize(reportSize);
        const int64_t wroteAt = lastWriteNs_.load(std::memory_order_relaxed);
        const bool poll = quickAnswers && sinceNs(std::max(wroteAt, answeredAt)) < kPollAfterWrite;
        const int result =
            device->readTimeout(readBuffer_.data(), reportSize, poll ? 0 : kReadTimeoutMs);
        if (result == 0) {
            if (poll) std::this_thread::yield();
            continue;
        }
        if (result > 0) {
            const int64_t latestWrite = lastWriteNs_.load(std::memory_order_relaxed);
            const int64_t now = nowNs();
            const bool soonAfterWrite = std::chrono::nanoseconds(now - latestWrite) < kQuickAnswer;
            if (latestWrite != answeredWrite) {
                // The first report since that write: how quickly answers come.
                answeredWrite = latestWrite;
                quickAnswers = soonAfterWrite;
            }
            // An answer's reports, the last one included, keep the poll going.
            if (soonAfterWrite) answeredAt = now;
        }
        if (result < 0) {
            // Announced once per loss: the flag stays set until a reopen.
            if (!readFailed_.exchange(true)) {
                if (trace_.active()) {
                    trace_.transferIn(UsbTransferType::Interrupt, UsbTrace::kHidInEndpoint,
                                      reportSize, -EIO, nullptr, 0);
                }
                if (onReadError_) onReadError_();
            }
            // The callback may have destroyed the transport: `running` first.
            if (!running.load()) break;
            // A dead device fails every read at once; the pause keeps the
            // loop from spinning and ends early when the reader is stopped.
            std::unique_lock<std::mutex> lock(pauseMutex_);
            pauseCv_.wait_for(lock, kReadErrorPause, [&] { return !running.load(); });
            continue;
        }
        readBuffer_.resize(std::min(static_cast<size_t>(result), reportSize));
        if (trace_.active()) {
            trace_.transferIn(UsbTransferType::Interrupt, UsbTrace::kHidInEndpoint, reportSize, 0,
                              readBuffer_.data(), readBuffer_.size());
        }
        if (!onReport_) continue;
        onReport_(readBuffer_);
        // Nothing of `this` may be touched past here before `running` is
        // checked: the callback may have destroyed the transport.
    }
}

bool HidTransport::write(const std::vector<uint8_t>& segment) {
    if (!connected_ || !handle_ || writeFailed_ || readFailed_.load()) return false;

    const size_t reportSize = model_->reportSize;
    writeBuffer_.assign(reportSize + 1, 0);
    writeBuffer_[0] = kReportId;
    std::copy_n(segment.begin(), std::min(reportSize, segment.size()), writeBuffer_.begin() + 1);

    // The report id is not sent on the wire when it is 0: the trace shows
    // the report's bytes alone.
    const uint64_t urb =
        trace_.active() ? trace_.submitOut(UsbTransferType::Interrupt, UsbTrace::kHidOutEndpoint,
                                           writeBuffer_.data() + 1, reportSize)
                        : 0;
    const auto start = Clock::now();
    // Set before the write: the answer may be queued before it returns.
    lastWriteNs_.store(nowNs(), std::memory_order_relaxed);
    const int result = handle_->write(writeBuffer_.data(), writeBuffer_.size());
    if (urb != 0) {
        trace_.completeOut(urb, UsbTransferType::Interrupt, UsbTrace::kHidOutEndpoint,
                           result >= 0 ? 0 : -EIO, result >= 0 ? reportSize : 0);
    }
    if (result >= 0) return true;
    if (Clock::now() - start >= kSlowWriteFailure) {
        writeFailed_ = true;
        return false;
    }
    return true;
}

bool HidTransport::reopen() {
    if (onReaderThread() || !connected_ || path_.empty()) return false;

    const std::string path = path_;
    std::unique_ptr<usb::HidDevice> device = hid_.openPath(path);
    if (!device) return false;

    stopReader();
    handle_ = std::move(device);  // closes the old handle
    writeFailed_ = false;
    readFailed_.store(false);
    // A replugged adapter comes back with a new bulk interface too: the old
    // libusb handle is dead, so it is opened again, for the same adapter (by
    // the serial number of the HID device, as at connect).
    bulk_.close();
    bulk_.open(model_->vendorId, model_->productId, serial_);
    startReader();
    return true;
}

void HidTransport::close() {
    if (onReaderThread()) return;
    shutDown();
}

void HidTransport::shutDown() {
    if (!connected_) return;
    stopReader();
    handle_.reset();
    bulk_.close();
    connected_ = false;
    model_ = nullptr;
    path_.clear();
    serial_.clear();
}

}  // namespace vantor
