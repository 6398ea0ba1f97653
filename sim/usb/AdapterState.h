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
// Like the HID driver, the adapter gives every open HID handle its own copy
// of each input report sent from the moment the handle was opened, each
// handle with its own bounded queue: two connections to one adapter do not
// read each other's reports away.
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
#include <thread>
#include <vector>

#include "sim/VirtualAdapterCore.h"
#include "sim/firmware/Firmware.h"
#include "sim/usb/Wire.h"

namespace vantor::sim {

// Endpoint addresses of the vendor bulk interface and the HID interface.
constexpr uint8_t kBulkInEndpoint = 0x81;
constexpr uint8_t kBulkOutEndpoint = 0x02;
constexpr uint8_t kHidInEndpoint = 0x83;
constexpr int kHidInterface = 0;
constexpr int kBulkInterface = 1;
// Input reports each open HID handle keeps waiting for its reader by default.
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
    const timing::TimingOptions timing;
    bool timed() const { return timing.speed != timing::UsbSpeed::Off; }

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
    // One report waiting in a handle's queue.
    struct InputReport {
        Bytes bytes;
        Clock::time_point due;
    };
    // The input of one open HID handle. `reports` is guarded by the state's
    // mutex; `count` mirrors its size for the lock-free poll of hidRead.
    struct HidInput {
        explicit HidInput(uint64_t openEpoch) : epoch(openEpoch) {}
        const uint64_t epoch;
        std::deque<InputReport> reports;
        std::atomic<size_t> count{0};
    };

    // hid_open_path: a handle's input, receiving from now on; null while
    // unplugged. closeHid stops the delivery (hid_close).
    std::shared_ptr<HidInput> openHid();
    void closeHid(const HidInput& input);
    // hid_write of one output report (report id first) on the handle of
    // `writer`; dispatches every completed request message.
    int hidWrite(const HidInput& writer, const uint8_t* data, size_t length);
    // hid_read_timeout on the handle of `input` (milliseconds < 0: no
    // limit). Returns 0 at once while `cancelled` (when given) is set; see
    // wakeHidReaders.
    int hidRead(HidInput& input, uint8_t* data, size_t length, int milliseconds,
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
    // Frames one message into input reports for every open HID handle;
    // `delayed` applies the response delay. Dropped while unplugged.
    //
    // An answer (a message with a transaction id) is never dropped for the
    // handle whose request it answers: the adapter sends its reports only as
    // fast as that host reads them, so the reports beyond the handle's bound
    // wait in the adapter, in order, until its reader makes room. (An answer
    // queued outside a request, e.g. injected by the bench, counts as every
    // handle's.) For the other handles it is unsolicited input, like a
    // notification (transaction id 0) or a raw report: dropped at a full
    // queue, and counted. The queue counts an answer's reports still waiting
    // in the adapter: a notification queued behind them has no room until
    // the reader has caught up.
    //
    // True when every open handle took the whole message; false when some
    // part was dropped, or no handle was open to take it.
    bool queueMessage(const uint8_t* message, size_t size, bool delayed);
    bool queueReport(Bytes report);
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
    // Input reports dropped because a handle's HID input queue was full
    // (counted once for each handle that lost it).
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
    // A request received with timing on, waiting in the reception queue.
    struct Received {
        Bytes message;
        std::shared_ptr<const Handler> handler;
        // The handle that wrote it: compared with the open handles only, to
        // pace its answer (never dereferenced).
        const HidInput* writer;
        uint64_t epoch;
        timing::Nanos arrival;  // modelled time the last report arrived
    };

    void dispatch(const Bytes& message, const std::shared_ptr<const Handler>& handler);
    // ---- timing (see "Timing" in AdapterState.cpp)
    timing::Nanos modelNow() const;
    Clock::time_point wallAt(timing::Nanos modelled) const;
    // Blocks the writer until the OUT transaction of its report has ended;
    // the modelled arrival time, or nothing when the adapter went away.
    std::optional<timing::Nanos> awaitOutSlot(std::unique_lock<std::mutex>& lock, uint64_t epoch);
    // Takes a completed request into the reception queue, or answers it
    // FW_FULL_RECEPTION_QUEUE when the queue is full.
    void receiveTimed(std::unique_lock<std::mutex>& lock, const HidInput& writer, uint64_t epoch,
                      timing::Nanos arrival, Bytes message, std::shared_ptr<const Handler> handler);
    // Frames `messages` into input reports sent one per IN interval from the
    // first interval at or after `ready` (this state's mutex held).
    void sendTimedLocked(const std::vector<Bytes>& messages, timing::Nanos ready,
                         const HidInput* requester);
    void serveReceptionQueue();  // the firmware worker thread
    void bulkOutArrivedTimed();  // a data phase completed on the host's thread
    void stopWorker();

    // Appends the `count` reports at `reports` to every open handle's queue
    // (an answer's whole for the handle it answers, everything else while
    // there is room; the rest is counted). The last handle takes the reports
    // themselves, the others a copy. True when every open handle took them
    // all.
    bool pushInputLocked(Bytes* reports, size_t count, Clock::time_point due, bool answer);
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
    // The open HID handles of the current epoch, in opening order (emptied
    // when unplugged). Like the Linux HID driver's queues, each holds at most
    // inputLimit_ reports (kDefaultInputQueueLimit unless set otherwise);
    // unsolicited reports that find it full are dropped and counted in
    // droppedInput_.
    std::vector<std::shared_ptr<HidInput>> hidInputs_;
    std::optional<size_t> inputLimit_ = kDefaultInputQueueLimit;
    size_t droppedInput_ = 0;
    std::shared_ptr<const Handler> handler_;
    size_t handled_ = 0;  // requests dispatched since the last clear
    size_t waiters_ = 0;  // threads blocked in a read
    // The epoch whose handles may find their queue empty without the lock (0
    // while unplugged or a read failure is pending): see hidRead.
    // On a cache line of its own: a polling host reads it constantly, and
    // sharing a line with the mutex would slow every lock of it.
    alignas(64) std::atomic<uint64_t> quietEpoch_{0};

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

    // Timing (all but the origin guarded by mutex_)
    const Clock::time_point timeOrigin_;  // modelled time 0
    timing::Nanos nextOutSlot_{0};        // first OUT interval still free
    timing::Nanos nextInSlot_{0};         // first IN interval still free
    timing::Nanos busyUntil_{0};          // end of the request executed last
    bool executing_ = false;              // a request is between start and end
    std::deque<Received> reception_;
    bool stopWorker_ = false;
    std::condition_variable workerCv_;  // reception queue, plug state, stop

    Firmware firmware_;   // it refers back to this state
    std::thread worker_;  // last: started once everything else exists
};

}  // namespace vantor::sim
