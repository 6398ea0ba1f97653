#pragma once
// Talks to a virtual adapter's firmware through its USB seam objects (the
// virtual HID and libusb backends), with request and report bytes laid out
// here by hand: no SDK code and no adapter code is involved in the framing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/transport/UsbBackend.h"
#include "sim/VirtualAdapter.h"
#include "sim/usb/VirtualBackends.h"

namespace vantor::sim::testing {

constexpr int kWaitMs = 2000;  // generous: only reached when something is wrong

inline uint16_t u16At(const Bytes& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

inline Bytes le16(size_t value) {
    return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
}

inline Bytes concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A message from its status field on (offset 4): what tests compare once the
// transaction id and command code are known to match.
inline Bytes tail(const Bytes& message) {
    return message.size() > 4 ? Bytes(message.begin() + 4, message.end()) : Bytes{};
}

inline AdapterOptions adapterOptions(Model model, const std::string& serial, bool bulk = true) {
    AdapterOptions options;
    options.model = model;
    options.serial = serial;
    options.bulk = bulk;
    return options;
}

// Opens the adapter's libusb device, found by its serial number string;
// nothing when the adapter has no vendor interface.
inline std::unique_ptr<usb::UsbDeviceHandle> openBulk(const VirtualAdapter& adapter,
                                                      uint8_t* serialIndex = nullptr) {
    std::unique_ptr<usb::UsbContext> context;
    if (virtualUsbBackend().init(context) != usb::kUsbSuccess) return nullptr;
    std::vector<std::shared_ptr<usb::UsbDevice>> devices;
    context->getDeviceList(devices);
    for (const auto& device : devices) {
        usb::UsbDeviceDescriptor descriptor;
        std::unique_ptr<usb::UsbDeviceHandle> handle;
        if (device->getDeviceDescriptor(descriptor) != usb::kUsbSuccess ||
            device->open(handle) != usb::kUsbSuccess) {
            continue;
        }
        uint8_t serial[64];
        const int n =
            handle->getStringDescriptorAscii(descriptor.serialNumberIndex, serial, sizeof serial);
        if (n >= 0 && std::string(serial, serial + n) == adapter.serial()) {
            if (serialIndex != nullptr) *serialIndex = descriptor.serialNumberIndex;
            return handle;
        }
    }
    return nullptr;
}

class Seam {
  public:
    explicit Seam(VirtualAdapter& adapter) : adapter_(adapter) { reopen(); }

    // Opens the HID device, and the bulk interface when the adapter has one,
    // again (after a replug).
    void reopen() {
        hid_ = virtualHidBackend().openPath(adapter_.path());
        pending_.clear();
        bulk_ = openBulk(adapter_);
        if (bulk_ && bulk_->claimInterface(1) != usb::kUsbSuccess) bulk_.reset();
    }

    usb::HidDevice& hid() { return *hid_; }
    usb::UsbDeviceHandle& bulk() { return *bulk_; }

    // Writes one request message with the next transaction id, cut into
    // output reports; returns the id.
    uint16_t write(uint16_t code, const Bytes& params) {
        const uint16_t id = ++lastId_;
        const Bytes message = concat(concat(le16(id), le16(code)), params);
        const size_t capacity = adapter_.reportSize() - 2;
        const size_t count = (message.size() + capacity - 1) / capacity;
        for (size_t i = 0; i < count; ++i) {
            const size_t start = i * capacity;
            const size_t length = std::min(capacity, message.size() - start);
            const size_t header = (i == 0 ? 1u : 0u) | (i + 1 == count ? 2u : 0u) | (length << 2);
            Bytes report = concat({0}, le16(header));
            report.resize(adapter_.reportSize() + 1, 0);
            std::copy_n(message.begin() + static_cast<long>(start), length, report.begin() + 3);
            EXPECT_EQ(hid_->write(report.data(), report.size()), static_cast<int>(report.size()));
        }
        return id;
    }

    // The next message the adapter sends; nothing on timeout.
    std::optional<Bytes> next(int timeoutMs = kWaitMs) {
        if (!pending_.empty()) {
            Bytes message = std::move(pending_.front());
            pending_.pop_front();
            return message;
        }
        return read(timeoutMs);
    }

    // Sends a request and returns its response; notifications read on the
    // way are kept for `next`. An empty message when no response came.
    Bytes call(uint16_t code, const Bytes& params) {
        const uint16_t id = write(code, params);
        for (;;) {
            auto message = read(kWaitMs);
            if (!message) {
                ADD_FAILURE() << "no response to command 0x" << std::hex << code;
                return {};
            }
            if (message->size() >= 6 && u16At(*message, 0) == id) {
                EXPECT_EQ(u16At(*message, 2), code);
                return *message;
            }
            pending_.push_back(std::move(*message));
        }
    }

    // The status of the response to a request.
    uint16_t status(uint16_t code, const Bytes& params) {
        const Bytes response = call(code, params);
        return response.size() >= 6 ? u16At(response, 4) : 0xFFFF;
    }

    // Sends each request in turn; each must be answered with its status.
    struct Step {
        uint16_t code;
        Bytes params;
        uint16_t status;
    };
    void expectStatuses(const std::vector<Step>& steps) {
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(status(steps[i].code, steps[i].params), steps[i].status)
                << "request " << i << ", command 0x" << std::hex << steps[i].code;
        }
    }

    // Nothing more arrives right now (the firmware answers synchronously, so
    // everything it sent is already queued).
    bool quiet() {
        if (!pending_.empty()) return false;
        uint8_t buffer[1024];
        return hid_->readTimeout(buffer, adapter_.reportSize(), 0) == 0;
    }

    int bulkOut(Bytes data) {
        int transferred = 0;
        return bulk_->bulkTransfer(0x02, data.data(), static_cast<int>(data.size()), &transferred,
                                   kWaitMs);
    }

    // Exactly `count` bytes from bulk IN; fewer when they do not come.
    Bytes bulkIn(size_t count, unsigned timeoutMs = kWaitMs) {
        Bytes data(count);
        size_t have = 0;
        while (have < count) {
            int transferred = 0;
            const int chunk = static_cast<int>(std::min<size_t>(count - have, 4096));
            if (bulk_->bulkTransfer(0x81, data.data() + have, chunk, &transferred, timeoutMs) !=
                    usb::kUsbSuccess ||
                transferred == 0) {
                break;
            }
            have += static_cast<size_t>(transferred);
        }
        data.resize(have);
        return data;
    }

  private:
    std::optional<Bytes> read(int timeoutMs) {
        Bytes message;
        Bytes buffer(adapter_.reportSize());
        for (;;) {
            const int n = hid_->readTimeout(buffer.data(), buffer.size(), timeoutMs);
            if (n < 2) return std::nullopt;
            const unsigned header = buffer[0] | (buffer[1] << 8);
            const size_t length = (header >> 2) & 0x3FF;
            if (length > static_cast<size_t>(n) - 2) return std::nullopt;
            if (header & 1) message.clear();
            message.insert(message.end(), buffer.begin() + 2,
                           buffer.begin() + 2 + static_cast<long>(length));
            if (header & 2) return message;
        }
    }

    VirtualAdapter& adapter_;
    std::unique_ptr<usb::HidDevice> hid_;
    std::unique_ptr<usb::UsbDeviceHandle> bulk_;
    std::deque<Bytes> pending_;
    uint16_t lastId_ = 0;
};

}  // namespace vantor::sim::testing
