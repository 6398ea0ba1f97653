// SPDX-License-Identifier: MIT
#include "bindings/NotificationDelivery.h"

#include <cxxabi.h>
#include <nanobind/nanobind.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "bindings/ExitGuard.h"
#include "bindings/Logging.h"
#include "bindings/ReaderGil.h"
#include "bindings/ReleasedGil.h"

namespace nb = nanobind;

namespace pyvantorsdk {

using Buffer = std::vector<uint8_t>;

struct NotificationDelivery::State {
    enum class Stop { None, Drain, Drop };

    CallbackSlot slot;       // notifications
    CallbackSlot responses;  // other messages, as bytes
    CallbackSlot lost;       // the connection was lost

    // Guards everything below.
    std::mutex mutex;
    std::condition_variable wake;  // something queued, or stop requested
    // The ring: `count` messages from `head` on, in arrival order. Its
    // buffers keep their capacity when their message has been delivered.
    std::vector<Buffer> ring = std::vector<Buffer>(64);
    size_t head = 0;
    size_t count = 0;
    Stop stop = Stop::None;
    uint64_t dropped = 0;
    // The connection was lost after the messages in the ring arrived.
    bool lostPending = false;

    // Doubles the ring (up to kCapacity) with the queued messages first;
    // false when it is at capacity.
    bool grow() {
        if (ring.size() >= kCapacity) return false;
        std::rotate(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(head), ring.end());
        head = 0;
        ring.resize(std::min(ring.size() * 2, kCapacity));
        return true;
    }

    // Moves up to batch.size() messages into `batch`, handing the batch's
    // spent buffers to the ring in exchange.
    size_t take(std::vector<Buffer>& batch) {
        const size_t n = std::min(count, batch.size());
        for (size_t i = 0; i < n; ++i) {
            std::swap(batch[i], ring[head]);
            head = (head + 1) % ring.size();
        }
        count -= n;
        return n;
    }
};

namespace {

// The delivery state whose thread is the current thread, if any.
thread_local const NotificationDelivery::State* tlsDelivering = nullptr;

bool isNotification(const uint8_t* message) {
    return message[0] == 0 && message[1] == 0;
}

// One message to the current callback of its slot (interpreter lock held).
// Errors are logged; none leaves this function.
void deliverOne(NotificationDelivery::State& state, const Buffer& message) {
    try {
        const bool notification = isNotification(message.data());
        nb::object callback = notification ? state.slot.get() : state.responses.get();
        if (!callback.is_valid() || callback.is_none()) return;
        if (notification) {
            const vantor::Notification n(message.data(), message.size());
            callback(convertNotification(n));
        } else {
            callback(nb::bytes(message.data(), message.size()));
        }
    } catch (abi::__forced_unwind&) {
        // The interpreter ended this thread while the callback ran (its exit
        // bypassed the exit hook): see ReleasedGil.h.
        parkThisThread();
    } catch (nb::python_error& e) {
        logPythonException(e.value().ptr());
    } catch (const std::exception& e) {
        logException(e.what());
    } catch (...) {
        logException("unknown error in callback");
    }
}

// The connection-lost callable (interpreter lock held); errors are logged.
void deliverLost(NotificationDelivery::State& state) {
    try {
        nb::object callback = state.lost.get();
        if (callback.is_valid() && !callback.is_none()) callback();
    } catch (abi::__forced_unwind&) {
        parkThisThread();
    } catch (nb::python_error& e) {
        logPythonException(e.value().ptr());
    } catch (const std::exception& e) {
        logException(e.what());
    } catch (...) {
        logException("unknown error in callback");
    }
}

void logDrops(uint64_t total) {
    const std::string text = std::to_string(total) + " notifications dropped so far: more than " +
                             std::to_string(NotificationDelivery::kCapacity) +
                             " were waiting for the callback";
    logError(text.c_str());
}

void deliveryLoop(std::shared_ptr<NotificationDelivery::State> state,
                  PyInterpreterState* interpreter) {
    using Stop = NotificationDelivery::State::Stop;
    tlsDelivering = state.get();
    NativeThreadState python(interpreter);
    std::vector<Buffer> batch(NotificationDelivery::kBatch);
    uint64_t loggedDrops = 0;
    for (;;) {
        size_t n = 0;
        uint64_t drops = 0;
        bool lost = false;
        {
            std::unique_lock<std::mutex> lock(state->mutex);
            state->wake.wait(lock, [&] {
                return state->count > 0 || state->lostPending || state->stop != Stop::None;
            });
            if (state->stop == Stop::Drop || (state->count == 0 && !state->lostPending)) break;
            n = state->take(batch);
            drops = state->dropped;
            // After the last batch queued before the loss.
            lost = state->count == 0 && state->lostPending;
            if (lost) state->lostPending = false;
        }
        // Once Python is shutting down, what is left is dropped.
        if (!python.acquire()) continue;
        if (drops != loggedDrops) {
            logDrops(drops);
            loggedDrops = drops;
        }
        for (size_t i = 0; i < n; ++i) deliverOne(*state, batch[i]);
        if (lost) deliverLost(*state);
        python.release();
    }
    tlsDelivering = nullptr;
}

}  // namespace

NotificationDelivery::NotificationDelivery() : state_(std::make_shared<State>()) {}

NotificationDelivery::~NotificationDelivery() {
    stop(Pending::Drop);
}

CallbackSlot& NotificationDelivery::slot() {
    return state_->slot;
}

CallbackSlot& NotificationDelivery::responseSlot() {
    return state_->responses;
}

CallbackSlot& NotificationDelivery::connectionLostSlot() {
    return state_->lost;
}

bool NotificationDelivery::anyInstalled() const {
    return state_->slot.installed() || state_->responses.installed() || state_->lost.installed();
}

void NotificationDelivery::push(const vantor::Notification& n) noexcept {
    push(n.message(), n.length());
}

void NotificationDelivery::push(const uint8_t* message, size_t length) noexcept {
    State& s = *state_;
    if (!(isNotification(message) ? s.slot : s.responses).installed()) return;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        try {
            if (s.count == s.ring.size() && !s.grow()) {
                ++s.dropped;
                return;
            }
            s.ring[(s.head + s.count) % s.ring.size()].assign(message, message + length);
        } catch (const std::bad_alloc&) {
            ++s.dropped;
            return;
        }
        if (++s.count != 1) return;  // the delivery thread is awake already
    }
    s.wake.notify_one();
}

void NotificationDelivery::pushConnectionLost() noexcept {
    State& s = *state_;
    if (!s.lost.installed()) return;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.lostPending = true;
    }
    s.wake.notify_one();
}

void NotificationDelivery::start() {
    // A callback that installs a callback: the thread runs, and a stop in
    // progress elsewhere holds the life mutex while it waits for this thread.
    if (onDeliveryThread()) return;
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    ReleasedGil released;  // lock order: life mutex, then interpreter lock
    std::lock_guard<std::mutex> life(lifeMutex_);
    if (thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stop = State::Stop::None;
    }
    thread_ = std::thread(deliveryLoop, state_, interpreter);
}

void NotificationDelivery::stop(Pending pending) {
    GilReleaseIfHeld unlocked;  // the thread may be waiting for the lock
    std::lock_guard<std::mutex> life(lifeMutex_);
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (pending == Pending::Drop) {
            state_->count = 0;
            state_->lostPending = false;
        }
        if (!thread_.joinable()) return;
        state_->stop = pending == Pending::Drop ? State::Stop::Drop : State::Stop::Drain;
    }
    state_->wake.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

uint64_t NotificationDelivery::dropped() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->dropped;
}

bool NotificationDelivery::onDeliveryThread() const {
    return tlsDelivering == state_.get();
}

}  // namespace pyvantorsdk
