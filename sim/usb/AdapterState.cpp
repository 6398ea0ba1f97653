// SPDX-License-Identifier: MIT
#include "sim/usb/AdapterState.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "sdk/transport/UsbBackend.h"

namespace vantor::sim {

namespace {

size_t reportSizeOf(Model model) {
    return model == Model::Quillex ? 1024 : 64;
}
uint16_t productIdOf(Model model) {
    return model == Model::Quillex ? 0x0002 : 0x0001;
}
constexpr uint16_t kVendorId = 0x1209;

using Clock = VirtualAdapter::State::Clock;

// Now plus `delay` (negative counts as zero); nothing when the sum lies
// beyond what the clock can represent, which callers treat as "no limit".
std::optional<Clock::time_point> deadlineAfter(std::chrono::milliseconds delay) {
    const auto now = Clock::now();
    if (delay.count() <= 0) return now;
    const auto room =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
    if (delay >= room) return std::nullopt;
    return now + delay;
}

// The handle whose request the calling thread is dispatching, if any: the
// answers it queues are that handle's.
thread_local const VirtualAdapter::State::HidInput* tlsRequester = nullptr;

uint16_t packetSizeOf(const AdapterOptions& options) {
    if (options.bulkPacketSize != 0) return options.bulkPacketSize;
    return options.model == Model::Quillex ? 512 : 64;
}

}  // namespace

VirtualAdapter::State::State(const AdapterOptions& options, std::string adapterPath)
    : path(std::move(adapterPath)),
      serial(options.serial),
      model(options.model),
      reportSize(reportSizeOf(options.model)),
      vendorId(kVendorId),
      productId(productIdOf(options.model)),
      bulk(options.bulk),
      bulkPacketSize(packetSizeOf(options)),
      identity_(withDefaults(options.identity)),
      firmware_(*this) {}

VirtualAdapter::State::~State() = default;

Identity VirtualAdapter::State::withDefaults(Identity identity) const {
    if (identity.productName.empty()) {
        identity.productName = model == Model::Quillex ? "Quillex" : "Teranox";
    }
    return identity;
}

// ------------------------------------------------------------------ plugging

void VirtualAdapter::State::plug() {
    auto firmwareLock = firmware_.lock();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (plugged_ || destroyed_) return;
    }
    firmware_.powerOnLocked();
    std::lock_guard<std::mutex> lock(mutex_);
    plugged_ = true;
    ++epoch_;
    updateQuietLocked();
    inputCv_.notify_all();
    bulkCv_.notify_all();
}

void VirtualAdapter::State::unplug() {
    auto firmwareLock = firmware_.lock();
    unplugFirmwareLocked();
}

void VirtualAdapter::State::unplugFirmwareLocked() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!plugged_) return;
        disconnectLocked();
    }
    firmware_.powerOffLocked();
}

void VirtualAdapter::State::disconnectLocked() {
    plugged_ = false;
    for (const auto& input : hidInputs_) {
        input->reports.clear();
        input->count.store(0, std::memory_order_relaxed);
    }
    hidInputs_.clear();
    updateQuietLocked();
    assembler_.reset();
    bulkIn_.clear();
    bulkOut_.clear();
    bulkClaimOwner_ = 0;
    inputCv_.notify_all();
    bulkCv_.notify_all();
}

void VirtualAdapter::State::markDestroyed() {
    std::lock_guard<std::mutex> lock(mutex_);
    destroyed_ = true;
    handler_.reset();
}

bool VirtualAdapter::State::isPlugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_;
}

std::optional<uint64_t> VirtualAdapter::State::openEpoch() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_) return std::nullopt;
    return epoch_;
}

bool VirtualAdapter::State::alive(uint64_t epoch) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return aliveLocked(epoch);
}

// ------------------------------------------------------------------ HID side

std::shared_ptr<VirtualAdapter::State::HidInput> VirtualAdapter::State::openHid() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_) return nullptr;
    auto input = std::make_shared<HidInput>(epoch_);
    hidInputs_.push_back(input);
    return input;
}

void VirtualAdapter::State::closeHid(const HidInput& input) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find_if(hidInputs_.begin(), hidInputs_.end(),
                                 [&](const auto& open) { return open.get() == &input; });
    if (it != hidInputs_.end()) hidInputs_.erase(it);
}

int VirtualAdapter::State::hidWrite(const HidInput& writer, const uint8_t* data, size_t length) {
    const uint64_t epoch = writer.epoch;
    // One report id (always 0: the adapter has no numbered reports) and at
    // most one report.
    if (data == nullptr || length == 0 || length > reportSize + 1 || data[0] != 0) return -1;

    std::unique_lock<std::mutex> lock(mutex_);
    if (!aliveLocked(epoch)) return -1;
    if (failWrites_ > 0) {
        --failWrites_;
        // A slow failure; unplugging ends it early, and a delay beyond the
        // clock's range lasts until then.
        const auto deadline = deadlineAfter(failWriteDelay_);
        const auto unplugged = [&] { return !aliveLocked(epoch); };
        if (deadline) {
            inputCv_.wait_until(lock, *deadline, unplugged);
        } else {
            inputCv_.wait(lock, unplugged);
        }
        return -1;
    }
    if (recording_) reports_.emplace_back(data, data + length);
    if (assembler_.feed(data + 1, length - 1) != SegmentAssembler::Result::Complete) {
        return static_cast<int>(length);
    }
    const Bytes message = assembler_.takeMessage();
    if (recording_) requests_.push_back(message);
    const auto handler = handler_;
    lock.unlock();

    {
        // Restores the outer requester (a handler may write to another
        // adapter) also when the dispatch throws.
        struct Requester {
            explicit Requester(const HidInput& writer) : outer(tlsRequester) {
                tlsRequester = &writer;
            }
            ~Requester() { tlsRequester = outer; }
            const HidInput* const outer;
        } requester(writer);
        dispatch(message, handler);
    }

    lock.lock();
    ++handled_;
    lock.unlock();
    requestsCv_.notify_all();
    return static_cast<int>(length);
}

void VirtualAdapter::State::dispatch(const Bytes& message,
                                     const std::shared_ptr<const Handler>& handler) {
    if (!handler) {
        firmware_.dispatch(message);
        return;
    }
    for (const Bytes& answer : (*handler)(message)) {
        queueMessage(answer.data(), answer.size(), true);
    }
}

void VirtualAdapter::State::updateQuietLocked() {
    quietEpoch_.store(plugged_ && failReads_ == 0 ? epoch_ : 0, std::memory_order_release);
}

void VirtualAdapter::State::wakeHidReaders() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    inputCv_.notify_all();
}

int VirtualAdapter::State::hidRead(HidInput& input, uint8_t* data, size_t length, int milliseconds,
                                   const std::atomic<bool>* cancelled) {
    if (data == nullptr && length > 0) return -1;
    const uint64_t epoch = input.epoch;
    // A non-blocking read of an empty queue, on a handle of the adapter as
    // plugged now and with no read failure pending, answers without the
    // lock, so that a host that polls does not hold up the adapter's work.
    if (milliseconds == 0 && quietEpoch_.load(std::memory_order_acquire) == epoch &&
        input.count.load(std::memory_order_acquire) == 0) {
        return 0;
    }
    const bool unlimited = milliseconds < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : milliseconds);

    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (cancelled != nullptr && cancelled->load()) return 0;
        if (!aliveLocked(epoch)) return -1;
        if (failReads_ > 0) {
            --failReads_;
            updateQuietLocked();
            return -1;
        }
        const auto now = Clock::now();
        // Reports leave in the order they were queued, as the firmware answers
        // requests one after the other: a delayed answer holds back every
        // report behind it, so no later answer can overtake it.
        std::optional<Clock::time_point> nextDue;
        if (!input.reports.empty()) {
            const InputReport& front = input.reports.front();
            if (front.due <= now) {
                const size_t n = std::min(length, front.bytes.size());
                if (n > 0) std::memcpy(data, front.bytes.data(), n);
                input.reports.pop_front();
                input.count.store(input.reports.size(), std::memory_order_relaxed);
                return static_cast<int>(n);
            }
            nextDue = front.due;
        }
        if (!unlimited && now >= deadline) return 0;
        auto wakeAt = unlimited ? nextDue : std::optional<Clock::time_point>(deadline);
        if (nextDue && wakeAt && *nextDue < *wakeAt) wakeAt = nextDue;
        ++waiters_;
        if (wakeAt) {
            inputCv_.wait_until(lock, *wakeAt);
        } else {
            inputCv_.wait(lock);
        }
        --waiters_;
    }
}

// --------------------------------------------------------------- libusb side

int VirtualAdapter::State::bulkTransfer(uint64_t epoch, uint64_t handleId, uint8_t endpoint,
                                        uint8_t* data, int length, int* transferred,
                                        unsigned int timeoutMs) {
    if (transferred != nullptr) *transferred = 0;
    if (length < 0 || (data == nullptr && length > 0)) return usb::kUsbErrorInvalidParam;
    const size_t size = static_cast<size_t>(length);

    std::unique_lock<std::mutex> lock(mutex_);
    if (!aliveLocked(epoch)) return usb::kUsbErrorNoDevice;
    if (bulkClaimOwner_ != 0 && bulkClaimOwner_ != handleId) return usb::kUsbErrorBusy;

    if (endpoint == kBulkOutEndpoint) {
        if (recording_) bulkReceived_.insert(bulkReceived_.end(), data, data + size);
        bulkOut_.append(data, size);
        lock.unlock();
        if (transferred != nullptr) *transferred = length;
        firmware_.bulkOutArrived();
        return usb::kUsbSuccess;
    }
    if (endpoint != kBulkInEndpoint) return usb::kUsbErrorNotFound;

    // libusb: a timeout of 0 waits without limit.
    const bool unlimited = timeoutMs == 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (!aliveLocked(epoch)) return usb::kUsbErrorNoDevice;
        if (bulkInStalled_) return usb::kUsbErrorPipe;
        // A short endpoint that has delivered its limit loses the rest.
        if (bulkInBudget_ && *bulkInBudget_ == 0) bulkIn_.clear();
        const auto now = Clock::now();
        const bool held = now < bulkInHeldUntil_;
        if (!held && (!bulkIn_.empty() || size == 0)) {
            size_t n = std::min(size, bulkIn_.size());
            if (bulkInHoldAfter_) {
                n = std::min(n, *bulkInHoldAfter_);
                *bulkInHoldAfter_ -= n;
                if (*bulkInHoldAfter_ == 0) {
                    bulkInHoldAfter_.reset();
                    bulkInHeldUntil_ = now + bulkInHoldDelay_;
                }
            }
            if (bulkInBudget_) {
                n = std::min(n, *bulkInBudget_);
                *bulkInBudget_ -= n;
            }
            bulkIn_.pop(data, n);
            if (transferred != nullptr) *transferred = static_cast<int>(n);
            return usb::kUsbSuccess;
        }
        if (!unlimited && Clock::now() >= deadline) return usb::kUsbErrorTimeout;
        ++waiters_;
        if (held) {
            bulkCv_.wait_until(lock,
                               unlimited ? bulkInHeldUntil_ : std::min(deadline, bulkInHeldUntil_));
        } else if (unlimited) {
            bulkCv_.wait(lock);
        } else {
            bulkCv_.wait_until(lock, deadline);
        }
        --waiters_;
    }
}

int VirtualAdapter::State::claimInterface(uint64_t epoch, uint64_t handleId, int interfaceNumber) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!aliveLocked(epoch)) return usb::kUsbErrorNoDevice;
    if (interfaceNumber == kHidInterface) return usb::kUsbErrorBusy;  // the HID driver has it
    if (interfaceNumber != kBulkInterface) return usb::kUsbErrorNotFound;
    if (bulkClaimOwner_ != 0 && bulkClaimOwner_ != handleId) return usb::kUsbErrorBusy;
    bulkClaimOwner_ = handleId;
    return usb::kUsbSuccess;
}

int VirtualAdapter::State::releaseInterface(uint64_t epoch, uint64_t handleId,
                                            int interfaceNumber) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!aliveLocked(epoch)) return usb::kUsbErrorNoDevice;
    if (interfaceNumber != kBulkInterface || bulkClaimOwner_ != handleId) {
        return usb::kUsbErrorNotFound;
    }
    bulkClaimOwner_ = 0;
    return usb::kUsbSuccess;
}

void VirtualAdapter::State::releaseAll(uint64_t handleId) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bulkClaimOwner_ == handleId) bulkClaimOwner_ = 0;
}

int VirtualAdapter::State::stringDescriptor(uint64_t epoch, uint8_t index, std::string& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!aliveLocked(epoch)) return usb::kUsbErrorNoDevice;
    switch (index) {
        case kManufacturerStringIndex:
            out = identity_.manufacturer;
            return usb::kUsbSuccess;
        case kProductStringIndex:
            out = identity_.productName;
            return usb::kUsbSuccess;
        case kSerialStringIndex:
            out = serial;
            return usb::kUsbSuccess;
        default:
            return usb::kUsbErrorPipe;  // the device stalls an unknown string request
    }
}

// ------------------------------------------------------------ adapter output

// The condition variables are notified after the lock is released: a reader
// woken while the lock is still held would only block on it again, which
// costs the round trip a second context switch.

bool VirtualAdapter::State::queueMessage(const uint8_t* message, size_t size, bool delayed) {
    // The reports are built before the lock is taken, so that a host polling
    // for them waits on the lock only while they are moved into the queue.
    std::vector<Bytes> reports;
    reports.reserve(size / std::max<size_t>(reportSize, 3) + 1);
    frameMessage(message, size, reportSize,
                 [&](Bytes&& report) { reports.push_back(std::move(report)); });
    const bool answer = size >= 2 && (message[0] != 0 || message[1] != 0);
    bool whole = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (plugged_) {
            // A response delay beyond the clock's range holds answers back for
            // good.
            const auto due = delayed
                                 ? deadlineAfter(responseDelay_).value_or(Clock::time_point::max())
                                 : Clock::time_point::min();
            whole = pushInputLocked(reports.data(), reports.size(), due, answer);
        }
    }
    inputCv_.notify_all();
    return whole;
}

bool VirtualAdapter::State::queueReport(Bytes report) {
    bool whole = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (plugged_) whole = pushInputLocked(&report, 1, Clock::time_point::min(), false);
    }
    inputCv_.notify_all();
    return whole;
}

bool VirtualAdapter::State::pushInputLocked(Bytes* reports, size_t count, Clock::time_point due,
                                            bool answer) {
    bool whole = !hidInputs_.empty();
    for (size_t h = 0; h < hidInputs_.size(); ++h) {
        HidInput* const input = hidInputs_[h].get();
        const bool last = h + 1 == hidInputs_.size();
        const bool paced = answer && (tlsRequester == nullptr || tlsRequester == input);
        size_t taken = count;
        if (!paced && inputLimit_) {
            const size_t room =
                *inputLimit_ > input->reports.size() ? *inputLimit_ - input->reports.size() : 0;
            taken = std::min(count, room);
        }
        for (size_t i = 0; i < taken; ++i) {
            input->reports.push_back(
                InputReport{last ? std::move(reports[i]) : Bytes(reports[i]), due});
        }
        input->count.store(input->reports.size(), std::memory_order_release);
        if (taken < count) {
            droppedInput_ += count - taken;
            whole = false;
        }
    }
    return whole;
}

void VirtualAdapter::State::queueBulkIn(const uint8_t* data, size_t size) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!plugged_) return;
        bulkIn_.append(data, size);
    }
    bulkCv_.notify_all();
}

size_t VirtualAdapter::State::bulkOutAvailable() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bulkOut_.size();
}

Bytes VirtualAdapter::State::takeBulkOut(size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    return bulkOut_.pop(count);
}

void VirtualAdapter::State::clearBulkOut() {
    std::lock_guard<std::mutex> lock(mutex_);
    bulkOut_.clear();
}

// ------------------------------------------------------------------- records

std::vector<Bytes> VirtualAdapter::State::reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

std::vector<Bytes> VirtualAdapter::State::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

Bytes VirtualAdapter::State::bulkReceived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bulkReceived_;
}

void VirtualAdapter::State::clearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.clear();
    requests_.clear();
    bulkReceived_.clear();
    handled_ = 0;
    droppedInput_ = 0;
    assembler_.clearDropped();
}

void VirtualAdapter::State::setRecording(bool recording) {
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = recording;
}

size_t VirtualAdapter::State::malformedReports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return assembler_.dropped();
}

size_t VirtualAdapter::State::droppedReports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return droppedInput_;
}

size_t VirtualAdapter::State::blockedReaders() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiters_;
}

bool VirtualAdapter::State::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto done = [&] { return handled_ >= count; };
    const auto deadline = deadlineAfter(timeout);
    if (!deadline) {
        requestsCv_.wait(lock, done);
        return true;
    }
    return requestsCv_.wait_until(lock, *deadline, done);
}

// ------------------------------------------------------------------ settings

void VirtualAdapter::State::setHandler(VirtualAdapter::Handler handler) {
    auto shared = handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(shared);
}

void VirtualAdapter::State::failWrites(int count, std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    failWrites_ = std::max(count, 0);
    failWriteDelay_ = delay;
}

void VirtualAdapter::State::failReads(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    failReads_ = std::max(count, 0);
    updateQuietLocked();
    inputCv_.notify_all();
}

void VirtualAdapter::State::setResponseDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    responseDelay_ = std::max(delay, std::chrono::milliseconds(0));
}

void VirtualAdapter::State::limitInputQueue(std::optional<size_t> limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    inputLimit_ = limit;
}

void VirtualAdapter::State::stallBulkIn(bool stalled) {
    std::lock_guard<std::mutex> lock(mutex_);
    bulkInStalled_ = stalled;
    bulkCv_.notify_all();
}

void VirtualAdapter::State::limitBulkIn(std::optional<size_t> limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    bulkInBudget_ = limit;
    bulkCv_.notify_all();
}

void VirtualAdapter::State::delayBulkIn(size_t after, std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    bulkInHoldDelay_ = std::max(delay, std::chrono::milliseconds(0));
    bulkInHoldAfter_.reset();
    if (after == 0) {
        bulkInHeldUntil_ = Clock::now() + bulkInHoldDelay_;
    } else {
        bulkInHoldAfter_ = after;
    }
    bulkCv_.notify_all();
}

Identity VirtualAdapter::State::identity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return identity_;
}

void VirtualAdapter::State::setIdentity(const Identity& identity) {
    Identity completed = withDefaults(identity);
    std::lock_guard<std::mutex> lock(mutex_);
    identity_ = std::move(completed);
}

}  // namespace vantor::sim
