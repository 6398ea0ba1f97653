// SPDX-License-Identifier: MIT
#pragma once
// The one open HID device of a connection: finds and opens the adapter, runs
// the reader thread that hands every input report upward, writes output
// reports and reopens the device by its path after a failed write.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/Protocol.h"
#include "sdk/transport/BulkTransport.h"
#include "sdk/transport/PcapngTrace.h"
#include "sdk/transport/UsbBackend.h"
// Not used here; kept reachable for code that included this header for the
// conversion.
#include "sdk/transport/WideString.h"

namespace vantor {

class HidTransport {
  public:
    using ReportCallback = std::function<void(const std::vector<uint8_t>&)>;

    explicit HidTransport(usb::HidBackend& hid = usb::defaultHidBackend(),
                          usb::UsbBackend& usb = usb::defaultUsbBackend());
    ~HidTransport();
    HidTransport(const HidTransport&) = delete;
    HidTransport& operator=(const HidTransport&) = delete;

    // Opens the first supported adapter matching both filters (empty = any),
    // then the bulk interface of that same adapter, then starts the reader.
    // While connected: when the open adapter matches both filters and has
    // not failed (hasReadError, hasWriteError), returns true at once,
    // changing nothing; otherwise opens the adapter they select
    // and, only if that succeeds, closes the open one (reader, device, bulk
    // interface) and takes the new one in its place. When it fails, returns
    // false and the open adapter stays open and untouched.
    bool open(const std::string& pathFilter, const std::string& serialFilter);
    // Stops the reader, closes the device and the bulk interface. Called from
    // the reader thread (inside the report callback) it cannot wait for that
    // thread, so it is refused and changes nothing.
    void close();
    // Opens the stored path again and swaps the new handle in, clearing both
    // failure flags. Refused (false) from the reader thread and when closed;
    // on failure the old handle stays.
    bool reopen();
    // Writes one segment (at most reportSize bytes; more is cut off) as one
    // output report. False when not connected, after a read error or a slow
    // write failure (until reopen), or when hid_write fails after 900 ms or
    // more; a write that fails sooner counts as written.
    bool write(const std::vector<uint8_t>& segment);

    size_t reportSize() const { return model_ ? model_->reportSize : 0; }
    const SupportedDevice* model() const { return model_; }
    const std::string& path() const { return path_; }
    // The open adapter's serial number (UTF-8); empty when it has none.
    const std::string& serialNumber() const { return serial_; }
    bool isConnected() const { return connected_; }
    // The degraded states that refuse writes until a reopen.
    bool hasReadError() const { return readFailed_.load(); }
    bool hasWriteError() const { return writeFailed_; }

    // True on this transport's reader thread (inside the report callback).
    bool onReaderThread() const;

    // Install before open(): the reader thread calls it without a lock.
    void setReportCallback(ReportCallback callback) { onReport_ = std::move(callback); }
    // Install before open(): called on the reader thread when a read fails
    // after reads succeeded (the device is gone, or no longer answers).
    void setReadErrorCallback(std::function<void()> callback) {
        onReadError_ = std::move(callback);
    }
    BulkTransport& bulk() { return bulk_; }
    const BulkTransport& bulk() const { return bulk_; }
    // The capture of this transport's HID reports and of its bulk
    // interface's transfers; it outlives connections, so that a trace
    // started before connecting records the connect.
    UsbTrace& trace() { return trace_; }

  private:
    void readerLoop(const std::atomic<bool>& running);
    void startReader();
    void stopReader();
    void shutDown();
    // Starts the bulk interface and the reader on the device just stored.
    void startOn(const usb::HidDeviceEntry& entry, const std::string& serialFilter);

    usb::HidBackend& hid_;
    // Before bulk_, which records into it.
    UsbTrace trace_;
    const SupportedDevice* model_ = nullptr;
    std::string path_;
    std::string serial_;
    std::unique_ptr<usb::HidDevice> handle_;
    BulkTransport bulk_;
    ReportCallback onReport_;
    std::function<void()> onReadError_;
    std::atomic<bool> readFailed_{false};
    bool writeFailed_ = false;
    bool connected_ = false;
    // The run flag of the current reader thread. The thread holds a reference
    // of its own, so it can still see the flag if its transport is destroyed
    // from inside the report callback.
    std::shared_ptr<std::atomic<bool>> running_;
    std::vector<uint8_t> readBuffer_;
    // The reader's pause after a failed read; stopReader cuts it short.
    std::mutex pauseMutex_;
    std::condition_variable pauseCv_;
    std::thread readerThread_;
    std::vector<uint8_t> writeBuffer_;  // reused output report buffer
    // When the last output report was written (steady clock, nanoseconds):
    // for a moment after a write the reader polls instead of sleeping, as
    // the answer is likely to come within microseconds.
    std::atomic<int64_t> lastWriteNs_{0};
};

}  // namespace vantor
