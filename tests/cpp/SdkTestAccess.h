#pragma once
// Helpers shared by the SDK tests: access to a few private members of the SDK
// classes, hand-built messages, scripted answers of a virtual adapter, a HID
// backend to derive from, and waiting for conditions set on other threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"
#include "sdk/core/VantorSDKImpl.h"
#include "sdk/transport/UsbBackend.h"
#include "sim/VirtualAdapter.h"

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

inline sim::AdapterOptions adapterOptions(const std::string& serial,
                                          sim::Model model = sim::Model::Teranox,
                                          bool bulk = true) {
    sim::AdapterOptions options;
    options.serial = serial;
    options.model = model;
    options.bulk = bulk;
    return options;
}

// A response message: id, command code and status (each u16, low byte
// first), then the parameters.
inline Bytes responseMessage(uint16_t id, uint16_t command, uint16_t status, const Bytes& params) {
    Bytes m(6 + params.size());
    const uint16_t header[] = {id, command, status};
    for (size_t i = 0; i < 3; ++i) {
        m[2 * i] = static_cast<uint8_t>(header[i] & 0xFF);
        m[2 * i + 1] = static_cast<uint8_t>(header[i] >> 8);
    }
    std::copy(params.begin(), params.end(), m.begin() + 6);
    return m;
}

inline uint16_t idOf(const Bytes& message) {
    return static_cast<uint16_t>(message.at(0) | (message.at(1) << 8));
}
inline uint16_t commandOf(const Bytes& message) {
    return static_cast<uint16_t>(message.at(2) | (message.at(3) << 8));
}

inline Bytes cat(const Bytes& head, const Bytes& tail) {
    Bytes joined(head.size() + tail.size());
    std::copy(tail.begin(), tail.end(), std::copy(head.begin(), head.end(), joined.begin()));
    return joined;
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
