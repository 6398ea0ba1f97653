#pragma once
// Helpers shared by the engine tests: access to a few private members of the
// SDK classes, hand-built response messages, and waiting for conditions set
// on other threads.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

struct VantorSDKTestAccess {
    static void setLastTransactionId(VantorSDK& sdk, uint16_t id) {
        std::lock_guard<std::mutex> lock(sdk.requestMutex_);
        sdk.lastTransactionId_ = id;
    }
    static uint16_t bulkGate(VantorSDK& sdk, uint16_t command, uint64_t length) {
        return sdk.bulkGate(command, length);
    }
};

struct VantorAsyncSDKTestAccess {
    // Sends an arbitrary message, e.g. one longer than a report.
    static uint16_t send(VantorAsyncSDK& sdk, const std::vector<uint8_t>& message) {
        return sdk.send(message);
    }
    static uint16_t sendWithPayload(VantorAsyncSDK& sdk, const std::vector<uint8_t>& message,
                                    const std::vector<uint8_t>& payload) {
        return sdk.sendWithPayload(message, payload.data(), payload.size());
    }
};

namespace test {

using Bytes = std::vector<uint8_t>;

constexpr auto kWaitLimit = std::chrono::seconds(2);

// A response message: id, command code and status (each u16, low byte
// first), then the parameters.
inline Bytes responseMessage(uint16_t id, uint16_t command, uint16_t status, const Bytes& params) {
    Bytes m = {static_cast<uint8_t>(id & 0xFF),      static_cast<uint8_t>(id >> 8),
               static_cast<uint8_t>(command & 0xFF), static_cast<uint8_t>(command >> 8),
               static_cast<uint8_t>(status & 0xFF),  static_cast<uint8_t>(status >> 8)};
    m.insert(m.end(), params.begin(), params.end());
    return m;
}

inline uint16_t idOf(const Bytes& message) {
    return static_cast<uint16_t>(message.at(0) | (message.at(1) << 8));
}
inline uint16_t commandOf(const Bytes& message) {
    return static_cast<uint16_t>(message.at(2) | (message.at(3) << 8));
}

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
