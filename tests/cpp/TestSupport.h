// SPDX-License-Identifier: MIT
#pragma once
// Helpers shared by the C++ tests.
//
// vantor::test: access to a few private members of the SDK classes, the
// rows of the table tests every command family instantiates, hand-built
// messages, scripted answers of a virtual adapter, a HID backend to derive
// from, and waiting for conditions set on other threads.
//
// vantor::sim::testing: talking to a virtual adapter's firmware through its
// USB seam objects (the virtual HID and libusb backends), with request and
// report bytes laid out by hand: no SDK code is involved in the framing, so
// the virtual firmware is tested on its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"
#include "sdk/core/VantorSDKImpl.h"
#include "sdk/transport/UsbBackend.h"
#include "sim/VirtualAdapter.h"
#include "sim/usb/VirtualBackends.h"

namespace vantor {

struct VantorSDKTestAccess {
    static void setLastTransactionId(VantorSDK& sdk, uint16_t id) {
        std::lock_guard<std::mutex> lock(sdk.impl_->requestMutex);
        sdk.impl_->lastTransactionId = id;
    }
    static uint16_t bulkGate(VantorSDK& sdk, const CommandInfo& command, uint64_t length) {
        return sdk.impl_->bulkGate(command, length);
    }
};

struct VantorAsyncSDKTestAccess {
    // Sends an arbitrary message, e.g. one longer than a report.
    static uint16_t send(VantorAsyncSDK& sdk, const std::vector<uint8_t>& message) {
        return sdk.send(message);
    }
};

namespace test {

using Bytes = std::vector<uint8_t>;

constexpr auto kWaitLimit = std::chrono::seconds(2);

constexpr uint16_t kTimeout = 0x2000;
constexpr uint16_t kDisconnect = 0x4000;
constexpr uint16_t kUnexpected = 0x6000;
constexpr uint16_t kWrongRequest = 0x8000;
constexpr uint16_t kWrongResponse = 0xA000;
constexpr uint16_t kBulkUnavailable = 0xC000;

// Test names of a table instantiation: each row's `name` (letters, digits
// and underscores only).
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

// A call refused before anything is sent: SDK_ERROR_WRONG_REQUEST and no
// command on the wire (a synchronous bulk call may first ask for the bulk
// capabilities). Each row calls one class on a connected instance, `async`
// or `sync`: only one connection can hold an adapter's bulk interface. The
// test is in RefusalTest.cpp; each family instantiates it with its rows.
struct RefusedCall {
    const char* name;
    std::function<uint16_t(VantorAsyncSDK&)> async;
    std::function<uint16_t(VantorSDK&)> sync = nullptr;
};

inline void PrintTo(const RefusedCall& row, std::ostream* os) {
    *os << row.name;
}

class WrongRequestRefusal : public ::testing::TestWithParam<RefusedCall> {};

// Calls refused by the connection rather than by their arguments: on
// instances never connected (SDK_ERROR_DISCONNECT, checked before the
// arguments), and on an adapter without the bulk interface
// (SDK_ERROR_BULK_UNAVAILABLE, nothing sent).
class NotConnected : public ::testing::TestWithParam<RefusedCall> {};
class WithoutBulkInterface : public ::testing::TestWithParam<RefusedCall> {};

// A request of the asynchronous class, sent with transaction id kRequestId,
// and its bytes after the id (command code first). The test is in
// RefusalTest.cpp.
constexpr uint16_t kRequestId = 0x0102;

struct SentRequest {
    const char* name;
    std::function<uint16_t(VantorAsyncSDK&)> call;
    Bytes wire;
};

inline void PrintTo(const SentRequest& row, std::ostream* os) {
    *os << row.name;
}

class RequestBytes : public ::testing::TestWithParam<SentRequest> {};

// What a blocking call returned: its status and its outputs flattened to
// bytes (an untouched output keeps its sentinel 0xEE).
struct Decoded {
    uint16_t status;
    Bytes outputs;
    bool operator==(const Decoded& o) const { return status == o.status && outputs == o.outputs; }
};

inline void PrintTo(const Decoded& d, std::ostream* os) {
    *os << "status " << d.status << ", outputs " << ::testing::PrintToString(d.outputs);
}

// A blocking call answered with `status` and `parameters` (after the 6-byte
// header), and what it must make of them. The test is in RefusalTest.cpp.
struct ScriptedReply {
    const char* name;
    uint16_t status;
    Bytes parameters;
    std::function<Decoded(VantorSDK&)> call;
    Decoded expected;
};

inline void PrintTo(const ScriptedReply& row, std::ostream* os) {
    *os << row.name;
}

class ReplyDecoding : public ::testing::TestWithParam<ScriptedReply> {};

inline sim::AdapterOptions adapterOptions(const std::string& serial,
                                          sim::Model model = sim::Model::Teranox,
                                          bool bulk = true) {
    sim::AdapterOptions options;
    options.serial = serial;
    options.model = model;
    options.bulk = bulk;
    return options;
}

inline uint16_t u16At(const Bytes& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}
inline uint16_t idOf(const Bytes& message) {
    return u16At(message, 0);
}
inline uint16_t commandOf(const Bytes& message) {
    return u16At(message, 2);
}

inline Bytes le16(size_t value) {
    return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
}

inline Bytes concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A response message: id, command code and status (each u16, low byte
// first), then the parameters.
inline Bytes responseMessage(uint16_t id, uint16_t command, uint16_t status, const Bytes& params) {
    return concat(concat(concat(le16(id), le16(command)), le16(status)), params);
}

// A message from its status field on (offset 4): what tests compare once the
// transaction id and command code are known to match.
inline Bytes tail(const Bytes& message) {
    return message.size() > 4 ? Bytes(message.begin() + 4, message.end()) : Bytes{};
}

inline Bytes pattern(size_t length, uint8_t seed = 0) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// A recorded request from its command code on (synchronous calls choose
// their own transaction ids).
inline Bytes withoutId(const Bytes& message) {
    return Bytes(message.begin() + 2, message.end());
}

// The answer to `req`, with its id and command code.
inline Bytes reply(const Bytes& req, uint16_t status, const Bytes& params = {}) {
    return responseMessage(idOf(req), commandOf(req), status, params);
}

// Answers every request with `answer(request)`; an empty answer sends nothing.
inline void script(sim::VirtualAdapter& adapter, std::function<Bytes(const Bytes&)> answer) {
    adapter.setHandler([answer = std::move(answer)](const Bytes& req) {
        Bytes message = answer(req);
        return message.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{std::move(message)};
    });
}
inline void silence(sim::VirtualAdapter& adapter) {
    script(adapter, [](const Bytes&) { return Bytes{}; });
}

inline std::vector<Bytes> requestsOf(sim::VirtualAdapter& adapter, size_t count) {
    EXPECT_TRUE(adapter.waitForRequests(count, kWaitLimit));
    return adapter.requests();
}

// The default HID backend, passed through; tests override what they change.
class ForwardingHidBackend : public usb::HidBackend {
  public:
    int init() override { return usb::defaultHidBackend().init(); }
    std::vector<usb::HidDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) override {
        return usb::defaultHidBackend().enumerate(vendorId, productId);
    }
    std::unique_ptr<usb::HidDevice> openPath(const std::string& path) override {
        return usb::defaultHidBackend().openPath(path);
    }
};

// Polls a condition that another thread makes true; false if it did not
// become true within `limit`.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Collects values handed over by callbacks on the reader thread.
template <typename T>
class Inbox {
  public:
    // Declare an inbox before the SDK whose callbacks fill it, so that it
    // outlives the reader thread.
    void push(T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.push_back(std::move(value));
        condition_.notify_all();
    }
    // Waits until at least `count` items arrived; false on timeout.
    bool waitFor(size_t count, std::chrono::milliseconds limit = kWaitLimit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return condition_.wait_for(lock, limit, [&] { return items_.size() >= count; });
    }
    std::vector<T> items() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return items_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable condition_;
    std::vector<T> items_;
};

}  // namespace test
}  // namespace vantor

namespace vantor::sim::testing {

// The shared helpers above, beside the wire-level ones below.
using namespace vantor::test;

constexpr int kWaitMs = 2000;  // generous: only reached when something is wrong

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
