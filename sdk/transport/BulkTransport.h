// SPDX-License-Identifier: MIT
#pragma once
// The adapter's vendor bulk interface (one IN and one OUT bulk endpoint),
// found, claimed, read and written through libusb-1.0.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/transport/PcapngTrace.h"
#include "sdk/transport/UsbBackend.h"

namespace vantor {

class BulkTransport {
  public:
    // Records its transfers into `trace` while that is active; the default
    // is a trace that nothing starts.
    explicit BulkTransport(usb::UsbBackend& backend = usb::defaultUsbBackend(),
                           UsbTrace& trace = untraced());
    ~BulkTransport();
    BulkTransport(const BulkTransport&) = delete;
    BulkTransport& operator=(const BulkTransport&) = delete;

    // Claims the vendor interface of the first listed device with these ids
    // (and this serial number, when `serialFilter` is not empty). On failure
    // lastError() holds the first problem met, or "no vendor bulk interface
    // found".
    bool open(uint16_t vendorId, uint16_t productId, const std::string& serialFilter);
    // Waits for a transfer in progress on another thread (see interrupt()).
    void close();
    bool isOpen() const { return open_.load(); }

    // Moves exactly `length` bytes or fails with lastError() set; the whole
    // transfer must finish within `timeoutMs`. A failed read drains the IN
    // endpoint for 250 ms so that a late remainder cannot corrupt the next
    // transfer. Before its own bytes, a read discards the bytes announced
    // through expectUnclaimed(): they precede its own on the endpoint.
    //
    // The rest of a failed read that the drain did not see may still come
    // (a slow bus, or a device that held it back), ahead of a later read's
    // own bytes, or be lost. It stays owed: every later read takes up to
    // that many bytes more after its own, with the short waits of the drain
    // after a read. Bytes that come there show that the first as many of
    // what it read were the late rest; the read keeps the last `length`
    // bytes, and they pay the debt. A rest that was lost costs nothing but
    // that drain.
    bool read(uint8_t* buffer, uint64_t length, uint32_t timeoutMs);
    bool write(const uint8_t* buffer, uint64_t length, uint32_t timeoutMs);

    // Announces `count` bytes that the IN endpoint will deliver (or already
    // holds) for a transfer no caller reads any more: the adapter answered a
    // read request after its caller had given up. Any thread; the count is
    // dropped by open() and close().
    void expectUnclaimed(uint64_t count) { unclaimed_.fetch_add(count); }
    // After a read that timed out, what the adapter sends later for it (the
    // endpoint was stalled, or the bus slower than the timeout) would be taken
    // by the next read as its own: call this before sending the next read
    // request, while no data of that request can be on the endpoint yet. It
    // discards what the endpoint holds, once per failed read, and always
    // when `abandonedReads` (reads whose caller gave up before any answer
    // came: their data may be there). The bytes discarded pay, in this
    // order, the announced unclaimed bytes and the owed rest of a failed
    // read; the rest, returned, is data of the abandoned reads.
    uint64_t discardStale(bool abandonedReads = false);
    uint64_t unclaimedBytes() const { return unclaimed_.load(); }
    // The rest of failed reads still owed (see read()).
    uint64_t owedBytes() const;

    // Makes a transfer in progress on another thread fail within one 50 ms
    // transfer ("bulk transfer interrupted"), and every later one until the
    // next open(); used before closing the connection. Any thread.
    void interrupt() { interrupted_.store(true); }
    bool isInterrupted() const { return interrupted_.load(); }

    std::string lastError() const;
    uint16_t maxPacketSize() const { return maxPacketSize_; }

  private:
    static UsbTrace& untraced();
    // libusb_bulk_transfer on the open device, recorded in the trace.
    int transfer(uint8_t endpoint, uint8_t* data, int length, int* transferred, unsigned timeoutMs);
    bool claimVendorInterface(usb::UsbDeviceHandle& handle, const usb::UsbConfigDescriptor& config);
    // Discards what the IN endpoint delivers, packet by packet with 1 ms
    // transfers, until it is quiet or `milliseconds` have passed; returns
    // the bytes discarded. With `keep`, the first of them, up to its size,
    // are copied there.
    uint64_t drain(unsigned milliseconds, std::vector<uint8_t>* keep = nullptr);
    // After a read failed with `received` of `length` bytes: drains, and
    // notes what of the rest the drain did not see as owed.
    void failRead(uint64_t received, uint64_t length);
    // After a read's own `length` bytes: takes up to owed_ bytes more; when
    // some come, the read's own bytes are the last `length` of the two.
    void settleOwed(uint8_t* buffer, uint64_t length);
    void recordError(std::string text);
    void closeLocked();
    // Discards the announced bytes of abandoned transfers (mutex_ held);
    // false, with lastError() set, when they did not come by `deadline`.
    template <typename TimePoint>
    bool skipUnclaimed(const TimePoint& deadline, uint64_t length);

    usb::UsbBackend& backend_;
    UsbTrace& trace_;
    std::unique_ptr<usb::UsbContext> context_;
    std::unique_ptr<usb::UsbDeviceHandle> device_;
    int interfaceNumber_ = -1;
    uint8_t inEndpoint_ = 0;
    uint8_t outEndpoint_ = 0;
    uint16_t maxPacketSize_ = 64;
    std::vector<uint8_t> drainBuffer_;  // one packet, sized at open
    std::vector<uint8_t> skipBuffer_;   // whole packets, sized on first use

    // Lock order: mutex_ before errorMutex_. mutex_ is held for a whole
    // open, close, read or write, so that a disconnect on one thread cannot
    // close the device under a data phase running on another; interrupt()
    // shortens that wait. errorMutex_ guards lastError_ alone, so that the
    // text can be read while a transfer runs.
    mutable std::mutex mutex_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
    std::atomic<bool> open_{false};
    std::atomic<bool> interrupted_{false};
    std::atomic<uint64_t> unclaimed_{0};
    std::atomic<bool> stale_{false};   // a read timed out; see discardStale()
    uint64_t owed_ = 0;                // mutex_; see read()
    std::vector<uint8_t> tailBuffer_;  // owed bytes that came after a read
};

}  // namespace vantor
