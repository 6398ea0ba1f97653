// SPDX-License-Identifier: MIT
#include "sdk/transport/BulkTransport.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>

namespace vantor {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kVendorSpecificClass = 0xFF;
constexpr uint8_t kTransferTypeMask = 0x03;
constexpr uint8_t kTransferTypeBulk = 0x02;
constexpr uint8_t kEndpointDirectionIn = 0x80;
constexpr uint16_t kDefaultPacketSize = 64;
constexpr int kSerialBufferSize = 255;
constexpr unsigned kTransferTimeoutMs = 50;
constexpr unsigned kDrainTransferTimeoutMs = 1;
constexpr unsigned kOpenDrainMs = 4;
constexpr unsigned kSuccessDrainMs = 4;
constexpr unsigned kFailureDrainMs = 250;
// At most this much of failed reads' rests is remembered as owed: two of the
// largest transfers; anything older than that is taken to be lost.
constexpr uint64_t kMaxOwed = 65536;

// One IN transfer: what is left, rounded down to whole packets whenever more
// than one packet is left, so that every transfer but the last ends on a
// packet boundary.
int readChunkLength(uint64_t remaining, uint16_t packetSize) {
    const uint64_t packet = packetSize;
    uint64_t chunk = std::min<uint64_t>(remaining, INT_MAX);
    if (chunk > packet) chunk -= chunk % packet;
    return static_cast<int>(chunk);
}

// One OUT transfer: everything that is left, unless it exceeds the library's
// int length; then the most whole packets that fit, so no short packet ends
// the device's transfer early.
int writeChunkLength(uint64_t remaining, uint16_t packetSize) {
    const uint64_t limit = INT_MAX - INT_MAX % packetSize;
    return static_cast<int>(std::min<uint64_t>(remaining, limit));
}

std::string errorText(const char* prefix, usb::UsbBackend& backend, int code) {
    const char* name = backend.errorName(code);
    return std::string(prefix) + (name ? name : std::to_string(code).c_str());
}

// Why libusb_open failed, with the usual remedy: on Linux the device node's
// permissions, on Windows the driver bound to the interface.
std::string openErrorText(usb::UsbBackend& backend, int code) {
    std::string text = errorText("libusb_open failed: ", backend, code);
    if (code == usb::kUsbErrorAccess) {
        text += " (no permission on the adapter's USB device node: install the udev rules)";
    } else if (code == usb::kUsbErrorNotSupported) {
        text += " (is the vendor interface bound to WinUSB?)";
    }
    return text;
}

// Bytes a transfer reports, never more than it was given.
uint64_t clampTransferred(int transferred, int chunk) {
    return static_cast<uint64_t>(std::clamp(transferred, 0, chunk));
}

std::string readSerialNumber(usb::UsbDeviceHandle& handle, uint8_t index) {
    if (index == 0) return {};
    uint8_t text[kSerialBufferSize + 1] = {};
    const int length = handle.getStringDescriptorAscii(index, text, kSerialBufferSize);
    if (length <= 0) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(std::min(length, kSerialBufferSize)));
}

}  // namespace

BulkTransport::BulkTransport(usb::UsbBackend& backend, UsbTrace& trace)
    : backend_(backend), trace_(trace) {}

UsbTrace& BulkTransport::untraced() {
    static UsbTrace never;
    return never;
}

int BulkTransport::transfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                            unsigned timeoutMs) {
    if (!trace_.active()) {
        const int result = device_->bulkTransfer(endpoint, data, length, transferred, timeoutMs);
        // The transfer still fails; the next one finds the endpoint usable.
        if (result == usb::kUsbErrorPipe) device_->clearHalt(endpoint);
        return result;
    }
    const bool in = (endpoint & kEndpointDirectionIn) != 0;
    const uint64_t urb =
        in ? 0
           : trace_.submitOut(UsbTransferType::Bulk, endpoint, data, static_cast<size_t>(length));
    const int result = device_->bulkTransfer(endpoint, data, length, transferred, timeoutMs);
    if (result == usb::kUsbErrorPipe) device_->clearHalt(endpoint);
    const size_t moved = clampTransferred(*transferred, length);
    if (!in) {
        trace_.completeOut(urb, UsbTransferType::Bulk, endpoint, UsbTrace::urbStatus(result),
                           moved);
    } else if (moved > 0 || result != usb::kUsbErrorTimeout) {
        // An IN transfer that timed out empty carried nothing on the bus.
        trace_.transferIn(UsbTransferType::Bulk, endpoint, static_cast<size_t>(length),
                          UsbTrace::urbStatus(result), data, moved);
    }
    return result;
}

BulkTransport::~BulkTransport() {
    close();
}

void BulkTransport::recordError(std::string text) {
    std::lock_guard<std::mutex> lock(errorMutex_);
    lastError_ = std::move(text);
}

std::string BulkTransport::lastError() const {
    std::lock_guard<std::mutex> lock(errorMutex_);
    return lastError_;
}

bool BulkTransport::open(uint16_t vendorId, uint16_t productId, const std::string& serialFilter) {
    std::lock_guard<std::mutex> lock(mutex_);
    closeLocked();
    interrupted_.store(false);
    recordError({});
    if (backend_.init(context_) != usb::kUsbSuccess || !context_) {
        context_.reset();
        recordError("libusb_init failed");
        return false;
    }

    bool claimed = false;
    {
        // The list and every handle opened from it go before close() can exit
        // the context.
        std::vector<std::shared_ptr<usb::UsbDevice>> devices;
        if (context_->getDeviceList(devices) < 0) {
            devices.clear();
            recordError("libusb_get_device_list failed");
            closeLocked();
            return false;
        }
        for (const auto& device : devices) {
            if (!device) continue;
            usb::UsbDeviceDescriptor descriptor;
            if (device->getDeviceDescriptor(descriptor) != usb::kUsbSuccess) continue;
            if (descriptor.vendorId != vendorId || descriptor.productId != productId) continue;

            std::unique_ptr<usb::UsbDeviceHandle> handle;
            const int opened = device->open(handle);
            if (opened != usb::kUsbSuccess || !handle) {
                if (lastError().empty()) recordError(openErrorText(backend_, opened));
                continue;
            }
            if (!serialFilter.empty() &&
                readSerialNumber(*handle, descriptor.serialNumberIndex) != serialFilter) {
                continue;  // the handle closes here
            }
            usb::UsbConfigDescriptor config;
            if (device->getActiveConfigDescriptor(config) != usb::kUsbSuccess) continue;
            if (claimVendorInterface(*handle, config)) {
                device_ = std::move(handle);
                claimed = true;
                break;
            }
        }
    }

    if (!claimed) {
        if (lastError().empty()) recordError("no vendor bulk interface found");
        closeLocked();
        return false;
    }
    recordError({});
    open_.store(true);
    drainBuffer_.assign(maxPacketSize_, 0);
    drain(kOpenDrainMs);
    return true;
}

bool BulkTransport::claimVendorInterface(usb::UsbDeviceHandle& handle,
                                         const usb::UsbConfigDescriptor& config) {
    for (const usb::UsbInterface& interface : config.interfaces) {
        for (const usb::UsbAltSetting& setting : interface.altSettings) {
            if (setting.interfaceClass != kVendorSpecificClass || setting.endpoints.empty()) {
                continue;
            }
            uint8_t in = 0;
            uint8_t out = 0;
            uint16_t packetSize = kDefaultPacketSize;
            for (const usb::UsbEndpointDescriptor& endpoint : setting.endpoints) {
                if ((endpoint.attributes & kTransferTypeMask) != kTransferTypeBulk) continue;
                if (endpoint.address & kEndpointDirectionIn) {
                    in = endpoint.address;
                } else {
                    out = endpoint.address;
                }
                if (endpoint.maxPacketSize != 0) packetSize = endpoint.maxPacketSize;
            }
            if (in == 0 || out == 0) continue;

            if (handle.claimInterface(setting.interfaceNumber) == usb::kUsbSuccess) {
                interfaceNumber_ = setting.interfaceNumber;
                inEndpoint_ = in;
                outEndpoint_ = out;
                maxPacketSize_ = packetSize;
                return true;
            }
            if (lastError().empty()) recordError("could not claim the vendor interface");
            break;  // the other settings of this interface share its number
        }
    }
    return false;
}

void BulkTransport::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closeLocked();
}

void BulkTransport::closeLocked() {
    open_.store(false);
    unclaimed_.store(0);
    owed_ = 0;
    if (device_ && interfaceNumber_ >= 0) device_->releaseInterface(interfaceNumber_);
    device_.reset();
    context_.reset();
    interfaceNumber_ = -1;
    inEndpoint_ = 0;
    outEndpoint_ = 0;
}

uint64_t BulkTransport::drain(unsigned milliseconds, std::vector<uint8_t>* keep) {
    if (!device_ || inEndpoint_ == 0 || drainBuffer_.empty()) return 0;
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    const int length = static_cast<int>(drainBuffer_.size());
    uint64_t drained = 0;
    for (;;) {
        int transferred = 0;
        const int result = transfer(inEndpoint_, drainBuffer_.data(), length, &transferred,
                                    kDrainTransferTimeoutMs);
        const uint64_t got = clampTransferred(transferred, length);
        if (keep != nullptr && drained < keep->size()) {
            const uint64_t kept = std::min<uint64_t>(got, keep->size() - drained);
            std::memcpy(keep->data() + drained, drainBuffer_.data(), kept);
        }
        drained += got;
        if (result != usb::kUsbSuccess || got == 0) return drained;
        if (Clock::now() >= end || interrupted_.load()) return drained;
    }
}

void BulkTransport::failRead(uint64_t received, uint64_t length) {
    const uint64_t drained = drain(kFailureDrainMs);
    owed_ += length - received;
    owed_ -= std::min(owed_, drained);
    owed_ = std::min(owed_, kMaxOwed);
    stale_.store(true);
}

void BulkTransport::settleOwed(uint8_t* buffer, uint64_t length) {
    if (owed_ == 0) {
        drain(kSuccessDrainMs);
        return;
    }
    tailBuffer_.resize(owed_);
    const uint64_t late = std::min(drain(kSuccessDrainMs, &tailBuffer_), owed_);
    if (late == 0) return;
    owed_ -= late;
    // The read's own bytes are the last `length` of buffer + tail.
    if (late >= length) {
        std::memcpy(buffer, tailBuffer_.data() + (late - length), length);
    } else {
        std::memmove(buffer, buffer + late, length - late);
        std::memcpy(buffer + (length - late), tailBuffer_.data(), late);
    }
}

uint64_t BulkTransport::owedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return owed_;
}

template <typename TimePoint>
bool BulkTransport::skipUnclaimed(const TimePoint& deadline, uint64_t length) {
    for (;;) {
        const uint64_t due = unclaimed_.load();
        if (due == 0) return true;
        if (skipBuffer_.empty()) {
            skipBuffer_.assign(std::max<size_t>(maxPacketSize_, 16384 - 16384 % maxPacketSize_), 0);
        }
        const int chunk =
            readChunkLength(std::min<uint64_t>(due, skipBuffer_.size()), maxPacketSize_);
        int transferred = 0;
        const int result =
            transfer(inEndpoint_, skipBuffer_.data(), chunk, &transferred, kTransferTimeoutMs);
        // Only this thread takes bytes off the count; others only add.
        unclaimed_.fetch_sub(clampTransferred(transferred, chunk));
        if (interrupted_.load()) {
            recordError("bulk transfer interrupted");
            return false;
        }
        if (result != usb::kUsbSuccess && result != usb::kUsbErrorTimeout) {
            recordError(errorText("bulk read failed: ", backend_, result));
            failRead(0, length);
            return false;
        }
        if (Clock::now() > deadline) {
            recordError("bulk read timed out with 0 of " + std::to_string(length) + " bytes");
            stale_.store(true);
            return false;
        }
    }
}

uint64_t BulkTransport::discardStale(bool abandonedReads) {
    if (!stale_.exchange(false) && !abandonedReads) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t left = drain(kFailureDrainMs);
    // Only this thread takes bytes off the unclaimed count; others only add.
    const uint64_t announced = std::min(left, unclaimed_.load());
    unclaimed_.fetch_sub(announced);
    left -= announced;
    const uint64_t owed = std::min(left, owed_);
    owed_ -= owed;
    return left - owed;
}

bool BulkTransport::read(uint8_t* buffer, uint64_t length, uint32_t timeoutMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!device_) {
        recordError("bulk transport not open");
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!skipUnclaimed(deadline, length)) return false;
    uint64_t received = 0;
    while (received < length) {
        const int chunk = readChunkLength(length - received, maxPacketSize_);
        int transferred = 0;
        const int result =
            transfer(inEndpoint_, buffer + received, chunk, &transferred, kTransferTimeoutMs);
        received += clampTransferred(transferred, chunk);
        if (interrupted_.load()) {
            recordError("bulk transfer interrupted");
            return false;
        }
        if (result != usb::kUsbSuccess && result != usb::kUsbErrorTimeout) {
            recordError(errorText("bulk read failed: ", backend_, result));
            failRead(received, length);
            return false;
        }
        if (received < length && Clock::now() > deadline) {
            recordError("bulk read timed out with " + std::to_string(received) + " of " +
                        std::to_string(length) + " bytes");
            failRead(received, length);
            return false;
        }
    }
    settleOwed(buffer, length);
    recordError({});
    return true;
}

bool BulkTransport::write(const uint8_t* buffer, uint64_t length, uint32_t timeoutMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!device_) {
        recordError("bulk transport not open");
        return false;
    }
    if (length == 0) {
        recordError({});
        return true;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint64_t sent = 0;
    for (;;) {
        const int chunk = writeChunkLength(length - sent, maxPacketSize_);
        int transferred = 0;
        // The library's transfer takes a mutable buffer for both directions;
        // an OUT transfer only reads it.
        const int result = transfer(outEndpoint_, const_cast<uint8_t*>(buffer + sent), chunk,
                                    &transferred, kTransferTimeoutMs);
        sent += clampTransferred(transferred, chunk);
        if (interrupted_.load()) {
            recordError("bulk transfer interrupted");
            return false;
        }
        if (result != usb::kUsbSuccess && result != usb::kUsbErrorTimeout) {
            recordError(errorText("bulk write failed: ", backend_, result));
            return false;
        }
        if (sent == length) {
            recordError({});
            return true;
        }
        if (Clock::now() > deadline) {
            recordError("bulk write timed out");
            return false;
        }
    }
}

}  // namespace vantor
