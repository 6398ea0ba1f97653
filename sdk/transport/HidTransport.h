#pragma once
// The one open HID device of a connection: finds and opens the adapter, runs
// the reader thread that hands every input report upward, writes output
// reports and reopens the device by its path after a failed write.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/Protocol.h"
#include "sdk/transport/BulkTransport.h"
#include "sdk/transport/UsbBackend.h"

namespace vantor {

class HidTransport {
public:
    using ReportCallback = std::function<void(const std::vector<uint8_t>&)>;

    explicit HidTransport(usb::HidBackend& hid = usb::defaultHidBackend(),
                          usb::UsbBackend& usb = usb::defaultUsbBackend());
    ~HidTransport();
    HidTransport(const HidTransport&) = delete;
    HidTransport& operator=(const HidTransport&) = delete;

    // Opens the first supported adapter matching both filters (empty = any).
    bool open(const std::string& pathFilter, const std::string& serialFilter);
    void close();
    bool reopen();
    // Writes one segment (at most reportSize bytes) as one output report.
    bool write(const std::vector<uint8_t>& segment);

    size_t reportSize() const { return model_ ? model_->reportSize : 0; }
    const SupportedDevice* model() const { return model_; }
    const std::string& path() const { return path_; }
    bool isConnected() const { return connected_; }

    void setReportCallback(ReportCallback callback) { onReport_ = std::move(callback); }
    BulkTransport& bulk() { return bulk_; }
    const BulkTransport& bulk() const { return bulk_; }

private:
    void readerLoop();
    void startReader();
    void stopReader();

    usb::HidBackend& hid_;
    const SupportedDevice* model_ = nullptr;
    std::string path_;
    std::unique_ptr<usb::HidDevice> handle_;
    BulkTransport bulk_;
    ReportCallback onReport_;
    std::atomic<bool> readFailed_{false};
    bool writeFailed_ = false;
    bool connected_ = false;
    std::atomic<bool> running_{false};
    std::vector<uint8_t> readBuffer_;
    std::thread readerThread_;
    std::vector<uint8_t> writeBuffer_;  // reused output report buffer
};

}  // namespace vantor
