// SPDX-License-Identifier: MIT
#pragma once
// The shared state of one virtual adapter: its USB side (plug state, HID
// report queues, bulk endpoints), its traffic records, its injected faults and
// its firmware. A `VirtualAdapter` owns it together with every device handle
// opened on it, so a handle stays a valid object after the adapter was
// unplugged or destroyed; such a handle's reads and writes fail.
//
// Handles remember the plug epoch they were opened in: a replug starts a new
// epoch, and handles from an earlier one stay dead, as on real hardware where
// a re-enumerated device must be opened again.
//
// One mutex guards everything except the firmware, which has its own (taken
// first when both are needed). Handlers and the firmware run without this
// mutex held.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/VirtualAdapter.h"
#include "sim/firmware/Firmware.h"
#include "sim/usb/Wire.h"

namespace vantor::sim {

// Endpoint addresses of the vendor bulk interface and the HID interface.
constexpr uint8_t kBulkInEndpoint = 0x81;
constexpr uint8_t kBulkOutEndpoint = 0x02;
constexpr uint8_t kHidInEndpoint = 0x83;
constexpr int kHidInterface = 0;
constexpr int kBulkInterface = 1;
// Input reports the HID interface keeps waiting for a reader by default.
constexpr size_t kDefaultInputQueueLimit = 64;
// USB string descriptor indexes.
constexpr uint8_t kManufacturerStringIndex = 1;
constexpr uint8_t kProductStringIndex = 2;
constexpr uint8_t kSerialStringIndex = 3;

struct VirtualAdapter::State {
  public:
    using Clock = std::chrono::steady_clock;

    State(const AdapterOptions& options, std::string path);
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // ------------------------------------------------- fixed at creation
    const std::string path;
    const std::string serial;
    const Model model;
    const size_t reportSize;
    const uint16_t vendorId;
    const uint16_t productId;
    const bool bulk;
    const uint16_t bulkPacketSize;

    Firmware& firmware() { return firmware_; }

    // ------------------------------------------------------------- plugging
    // Both take the firmware mutex first, then this state's.
    void plug();
    void unplug();
    // Unplugs with the firmware mutex already held (the firmware leaving its
    // application).
    void unplugFirmwareLocked();
    bool isPlugged() const;
    // The current epoch when plugged in; nothing when unplugged.
    std::optional<uint64_t> openEpoch() const;
    bool alive(uint64_t epoch) const;
    void markDestroyed();

    // --------------------------------------------------------------- HID side
    // hid_write of one output report (report id first); dispatches every
    // completed request message.
    int hidWrite(uint64_t epoch, const uint8_t* data, size_t length);
    // hid_read_timeout (milliseconds < 0: no limit). Returns 0 at once while
    // `cancelled` (when given) is set; see wakeHidReaders.
    int hidRead(uint64_t epoch, uint8_t* data, size_t length, int milliseconds,
                const std::atomic<bool>* cancelled = nullptr);
    // Wakes every blocked hidRead to check its cancel flag again. Set the
    // flag first: taking the mutex here orders it before the readers' check.
    void wakeHidReaders();

    // ---------------------------------------------------------- libusb side
    int bulkTransfer(uint64_t epoch, uint64_t handleId, uint8_t endpoint, uint8_t* data, int length,
                     int* transferred, unsigned int timeoutMs);
    int claimInterface(uint64_t epoch, uint64_t handleId, int interfaceNumber);
    int releaseInterface(uint64_t epoch, uint64_t handleId, int interfaceNumber);
    void releaseAll(uint64_t handleId);
    int stringDescriptor(uint64_t epoch, uint8_t index, std::string& out) const;

    // ------------------------------------------------------- adapter output
    // Frames one message into input reports; `delayed` applies the response
    // delay. Dropped while unplugged.
    void queueMessage(const uint8_t* message, size_t size, bool delayed);
    void queueReport(Bytes report);
    void queueBulkIn(const uint8_t* data, size_t size);

    // Bulk OUT bytes received and not yet consumed by the firmware.
    size_t bulkOutAvailable() const;
    Bytes takeBulkOut(size_t count);
    void clearBulkOut();

    // ---------------------------------------------------------------- records
    std::vector<Bytes> reports() const;
    std::vector<Bytes> requests() const;
    Bytes bulkReceived() const;
    void clearRecords();
    void setRecording(bool recording);
    size_t malformedReports() const;
    // Input reports dropped because the HID input queue was full.
    size_t droppedReports() const;
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    // Threads blocked in a HID read or a bulk IN transfer right now.
    size_t blockedReaders() const;

    // -------------------------------------------------------------- settings
    void setHandler(VirtualAdapter::Handler handler);
    void failWrites(int count, std::chrono::milliseconds delay);
    void failReads(int count);
    void setResponseDelay(std::chrono::milliseconds delay);
    void limitInputQueue(std::optional<size_t> limit);
    void stallBulkIn(bool stalled);
    void limitBulkIn(std::optional<size_t> limit);
    void delayBulkIn(size_t after, std::chrono::milliseconds delay);
    Identity identity() const;
    void setIdentity(const Identity& identity);

  private:
    struct InputReport {
        Bytes bytes;
        Clock::time_point due;
    };

    void dispatch(const Bytes& message, const std::shared_ptr<const Handler>& handler);
    // Appends one input report unless the queue is full (then counts it).
    void pushInputLocked(Bytes report, Clock::time_point due);
    void disconnectLocked();   // this state's mutex held
    void updateQuietLocked();  // after plugged_, epoch_ or failReads_ changed
    bool aliveLocked(uint64_t epoch) const { return plugged_ && epoch == epoch_; }
    Identity withDefaults(Identity identity) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable inputCv_;     // input reports, plug state
    mutable std::condition_variable bulkCv_;      // bulk IN data, stall, limit, plug state
    mutable std::condition_variable requestsCv_;  // handled requests

    bool plugged_ = false;
    bool destroyed_ = false;
    uint64_t epoch_ = 0;
    Identity identity_;

    // HID
    SegmentAssembler assembler_;
    // Input reports not yet read. Like the Linux HID driver's queue it holds
    // at most kDefaultInputQueueLimit reports (unless set otherwise); newer
    // reports are dropped while it is full and counted in droppedInput_.
    std::deque<InputReport> input_;
    std::optional<size_t> inputLimit_ = kDefaultInputQueueLimit;
    size_t droppedInput_ = 0;
    std::shared_ptr<const Handler> handler_;
    size_t handled_ = 0;  // requests dispatched since the last clear
    size_t waiters_ = 0;  // threads blocked in a read
    // input_.size(), and the epoch whose handles may find the queue empty
    // without the lock (0 while unplugged or a read failure is pending):
    // see hidRead.
    // On a cache line of their own: a polling host reads them constantly,
    // and sharing a line with the mutex would slow every lock of it.
    alignas(64) std::atomic<size_t> inputCount_{0};
    std::atomic<uint64_t> quietEpoch_{0};

    // Bulk (aligned so the counters above keep their line to themselves)
    alignas(64) ByteQueue bulkIn_;
    ByteQueue bulkOut_;
    uint64_t bulkClaimOwner_ = 0;  // handle that claimed the bulk interface, 0 = none

    // Records
    bool recording_ = true;
    std::vector<Bytes> reports_;
    std::vector<Bytes> requests_;
    Bytes bulkReceived_;

    // Faults
    int failWrites_ = 0;
    std::chrono::milliseconds failWriteDelay_{0};
    int failReads_ = 0;
    std::chrono::milliseconds responseDelay_{0};
    bool bulkInStalled_ = false;
    std::optional<size_t> bulkInBudget_;
    // A delayed endpoint: bytes still delivered before the hold begins, how
    // long it lasts, and when it ends (bulk IN holds nothing back before).
    std::optional<size_t> bulkInHoldAfter_;
    std::chrono::milliseconds bulkInHoldDelay_{0};
    Clock::time_point bulkInHeldUntil_{};

    Firmware firmware_;  // last: it refers back to this state
};

}  // namespace vantor::sim
