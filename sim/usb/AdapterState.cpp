// SPDX-License-Identifier: MIT
#include "sim/usb/AdapterState.h"

#include <algorithm>
#include <cmath>
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

// With timing on, the firmware worker collects what a request's execution
// sends here, to release it once the request's bus time has passed.
thread_local std::vector<Bytes>* tlsCollected = nullptr;

struct Collecting {
    explicit Collecting(std::vector<Bytes>& into) : outer(tlsCollected) { tlsCollected = &into; }
    ~Collecting() { tlsCollected = outer; }
    Collecting(const Collecting&) = delete;
    Collecting& operator=(const Collecting&) = delete;
    std::vector<Bytes>* const outer;
};

timing::Nanos alignUp(timing::Nanos time, timing::Nanos interval) {
    if (interval.count() <= 0) return time;
    return ((time + interval - timing::Nanos(1)) / interval) * interval;
}

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
      timing(options.timing),
      identity_(withDefaults(options.identity)),
      timeOrigin_(Clock::now()),
      firmware_(*this) {
    if (timed()) worker_ = std::thread([this] { serveReceptionQueue(); });
}

VirtualAdapter::State::~State() {
    stopWorker();
}

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
    // Requests waiting in the reception queue die with the adapter, and the
    // one executing is cut short.
    reception_.clear();
    busyUntil_ = timing::Nanos(0);
    inputCv_.notify_all();
    bulkCv_.notify_all();
    workerCv_.notify_all();
}

void VirtualAdapter::State::markDestroyed() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        destroyed_ = true;
        handler_.reset();
    }
    stopWorker();
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
    std::optional<timing::Nanos> arrival;
    if (timed()) {
        arrival = awaitOutSlot(lock, epoch);
        if (!arrival) return -1;
    }
    if (recording_) reports_.emplace_back(data, data + length);
    if (assembler_.feed(data + 1, length - 1) != SegmentAssembler::Result::Complete) {
        return static_cast<int>(length);
    }
    Bytes message = assembler_.takeMessage();
    if (recording_) requests_.push_back(message);
    auto handler = handler_;
    if (arrival) {
        receiveTimed(lock, writer, epoch, *arrival, std::move(message), std::move(handler));
        return static_cast<int>(length);
    }
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

    // With timing on, a transfer takes the endpoint's time at the bulk
    // throughput, as the host's transfer call would; unplugging ends it.
    const auto bulkTime = [&](size_t bytes) {
        if (!timed() || bytes == 0) return true;
        const double rate = timing.bulkBytesPerSecond > 0
                                ? timing.bulkBytesPerSecond
                                : timing::defaultBulkBytesPerSecond(timing.speed);
        const auto done = wallAt(modelNow() + timing::bulk(bytes, rate));
        bulkCv_.wait_until(lock, done, [&] { return !aliveLocked(epoch); });
        return aliveLocked(epoch);
    };
    if (endpoint == kBulkOutEndpoint) {
        if (!bulkTime(size)) return usb::kUsbErrorNoDevice;
        if (recording_) bulkReceived_.insert(bulkReceived_.end(), data, data + size);
        bulkOut_.append(data, size);
        lock.unlock();
        if (transferred != nullptr) *transferred = length;
        if (timed()) {
            bulkOutArrivedTimed();
        } else {
            firmware_.bulkOutArrived();
        }
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
            if (!bulkTime(n)) return usb::kUsbErrorNoDevice;
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
    if (tlsCollected != nullptr) {
        // A timed request executing: sent when its bus time has passed.
        tlsCollected->emplace_back(message, message + size);
        return true;
    }
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

// -------------------------------------------------------------------- Timing
//
// With timing on, modelled time runs from the state's creation at
// `timing.timeScale` modelled seconds per wall second. The host's output
// reports each take the next free OUT interval (hidWrite returns when it has
// ended, as a HID write waits for its transaction); a completed request joins
// the reception queue, or is answered FW_FULL_RECEPTION_QUEUE when the queue
// already holds its depth of waiting requests. The firmware worker thread
// runs one request at a time: it waits for the request's start (its arrival,
// or the end of the previous one), runs it through the firmware, whose
// families add the bus time they spend (timing::spendBusTime), waits for its
// end and then sends the answers, one report per IN interval. Waits release
// the mutex and end early when the adapter is unplugged, which drops the
// queued requests and the answers not sent yet.

namespace vantor::sim {

timing::Nanos VirtualAdapter::State::modelNow() const {
    const auto elapsed = std::chrono::duration_cast<timing::Nanos>(Clock::now() - timeOrigin_);
    return timing::Nanos(
        static_cast<int64_t>(std::floor(static_cast<double>(elapsed.count()) * timing.timeScale)));
}

Clock::time_point VirtualAdapter::State::wallAt(timing::Nanos modelled) const {
    // Rounded up, so that modelNow() has reached `modelled` once it is there.
    const double wall = std::ceil(static_cast<double>(modelled.count()) / timing.timeScale) + 1;
    const auto room =
        std::chrono::duration_cast<timing::Nanos>(Clock::time_point::max() - timeOrigin_);
    if (wall >= static_cast<double>(room.count())) return Clock::time_point::max();
    return timeOrigin_ +
           std::chrono::duration_cast<Clock::duration>(timing::Nanos(static_cast<int64_t>(wall)));
}

std::optional<timing::Nanos> VirtualAdapter::State::awaitOutSlot(std::unique_lock<std::mutex>& lock,
                                                                 uint64_t epoch) {
    const timing::Nanos interval = timing::reportInterval(timing.speed);
    const timing::Nanos slot = std::max(alignUp(modelNow(), interval), nextOutSlot_);
    nextOutSlot_ = slot + interval;
    const timing::Nanos arrival = slot + interval;
    inputCv_.wait_until(lock, wallAt(arrival), [&] { return !aliveLocked(epoch); });
    if (!aliveLocked(epoch)) return std::nullopt;
    return arrival;
}

void VirtualAdapter::State::receiveTimed(std::unique_lock<std::mutex>& lock, const HidInput& writer,
                                         uint64_t epoch, timing::Nanos arrival, Bytes message,
                                         std::shared_ptr<const Handler> handler) {
    // Bulk OUT bytes present while nothing runs or waits belong to no request
    // (see Firmware::dispatchTimed).
    if (reception_.empty() && !executing_) bulkOut_.clear();
    // Waiting: the queued requests whose turn has not come by this arrival
    // (the worker may not have taken up a front request whose time it is).
    size_t waiting = reception_.size();
    if (waiting > 0 && !executing_ && std::max(reception_.front().arrival, busyUntil_) <= arrival) {
        --waiting;
    }
    if (waiting < timing.receptionQueueDepth) {
        reception_.push_back(
            Received{std::move(message), std::move(handler), &writer, epoch, arrival});
        lock.unlock();
        workerCv_.notify_all();
        return;
    }
    // Full: the adapter answers at once, at the request's own transaction id
    // and command (a message without a whole header gets nothing).
    if (message.size() >= kRequestHeaderSize) {
        Bytes refusal(message.begin(), message.begin() + kRequestHeaderSize);
        putU16(refusal, status::kFullReceptionQueue);
        sendTimedLocked({refusal}, arrival, &writer);
    }
    ++handled_;
    lock.unlock();
    requestsCv_.notify_all();
}

void VirtualAdapter::State::sendTimedLocked(const std::vector<Bytes>& messages, timing::Nanos ready,
                                            const HidInput* requester) {
    const timing::Nanos interval = timing::reportInterval(timing.speed);
    timing::Nanos slot = std::max(alignUp(ready, interval), nextInSlot_);
    const HidInput* const outer = tlsRequester;
    tlsRequester = requester;
    for (const Bytes& message : messages) {
        const bool answer = message.size() >= 2 && (message[0] != 0 || message[1] != 0);
        frameMessage(message.data(), message.size(), reportSize, [&](Bytes&& report) {
            pushInputLocked(&report, 1, wallAt(slot + interval), answer);
            slot += interval;
        });
    }
    tlsRequester = outer;
    nextInSlot_ = slot;
    inputCv_.notify_all();
}

void VirtualAdapter::State::serveReceptionQueue() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        workerCv_.wait(lock, [&] { return stopWorker_ || !reception_.empty(); });
        if (stopWorker_) return;
        const timing::Nanos start = std::max(reception_.front().arrival, busyUntil_);
        if (modelNow() < start) {
            workerCv_.wait_until(lock, wallAt(start));
            continue;  // the queue may have changed meanwhile
        }
        Received request = std::move(reception_.front());
        reception_.pop_front();
        executing_ = true;
        lock.unlock();

        std::vector<Bytes> sent;
        timing::Nanos spent{0};
        bool ran = false;
        {
            Collecting collecting(sent);
            timing::ExecutionScope scope(start);
            if (request.handler) {
                ran = alive(request.epoch);
                // A throwing handler answers nothing; the worker carries on.
                try {
                    if (ran) sent = (*request.handler)(request.message);
                } catch (...) {
                    sent.clear();
                }
            } else {
                ran = firmware_.dispatchTimed(request.message, request.epoch);
            }
            spent = scope.spent();
        }

        lock.lock();
        const timing::Nanos end = start + spent;
        if (aliveLocked(request.epoch)) busyUntil_ = end;
        workerCv_.wait_until(lock, wallAt(end),
                             [&] { return stopWorker_ || !aliveLocked(request.epoch); });
        if (ran && aliveLocked(request.epoch)) sendTimedLocked(sent, end, request.writer);
        executing_ = false;
        ++handled_;
        requestsCv_.notify_all();
    }
}

void VirtualAdapter::State::bulkOutArrivedTimed() {
    // A bulk write's data phase completed: the request it belongs to runs on
    // from here, after whatever the adapter is still busy with.
    std::unique_lock<std::mutex> lock(mutex_);
    const timing::Nanos start = std::max(modelNow(), busyUntil_);
    lock.unlock();
    std::vector<Bytes> sent;
    timing::Nanos spent{0};
    {
        Collecting collecting(sent);
        timing::ExecutionScope scope(start);
        firmware_.bulkOutArrived();
        spent = scope.spent();
    }
    if (sent.empty()) return;  // still waiting for more data
    lock.lock();
    busyUntil_ = std::max(busyUntil_, start + spent);
    if (plugged_) sendTimedLocked(sent, start + spent, nullptr);
}

void VirtualAdapter::State::stopWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopWorker_ = true;
        reception_.clear();
    }
    workerCv_.notify_all();
    if (!worker_.joinable()) return;
    // The adapter destroyed from inside a request it executes (a scripted
    // handler): the worker ends by itself once that request returns.
    if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach();
        return;
    }
    worker_.join();
}

}  // namespace vantor::sim
