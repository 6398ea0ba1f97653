// SPDX-License-Identifier: MIT
#include "sdk/core/ResponseWaiter.h"

#include <algorithm>

namespace vantor {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

void ResponseWaiter::setExpected(uint16_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    expectedId_ = id;
}

ResponseWaiter::Outcome ResponseWaiter::execute(FunctionRef<bool()> send) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_ = false;
        pending_ = true;
        cutOff_ = false;
    }
    // The response may arrive before send() returns: it is stored because the
    // request is already pending, and the wait below finds it ready. A
    // cut-off during send() is kept for the wait likewise.
    const bool sent = send();
    std::unique_lock<std::mutex> lock(mutex_);
    const Outcome outcome = sent ? waitLocked(lock) : Outcome::NotSent;
    ready_ = false;
    pending_ = false;
    cutOff_ = false;
    expectedId_ = 0;
    return outcome;
}

ResponseWaiter::Outcome ResponseWaiter::waitLocked(std::unique_lock<std::mutex>& lock) {
    const bool unlimited = timeoutMs_ == -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs_, 0));
    const std::shared_ptr<const InterruptCheck> check = interruptCheck_;
    const auto period = interruptPeriod_;
    const auto ended = [this] { return ready_ || cutOff_; };

    for (;;) {
        if (ready_) return Outcome::Answered;
        if (cutOff_) return Outcome::CutOff;
        const auto now = Clock::now();
        if (!unlimited && now >= deadline) return Outcome::TimedOut;
        if (!check) {
            if (unlimited) {
                condition_.wait(lock, ended);
            } else {
                condition_.wait_until(lock, deadline, ended);
            }
            continue;
        }
        auto wakeAt = now + period;
        if (!unlimited) wakeAt = std::min(wakeAt, deadline);
        if (condition_.wait_until(lock, wakeAt, ended)) continue;
        // The check may take other locks (the interpreter's): never under
        // this one.
        lock.unlock();
        const bool stop = (*check)();
        lock.lock();
        if (stop && !ready_ && !cutOff_) return Outcome::Interrupted;
    }
}

bool ResponseWaiter::deliver(uint16_t id, FunctionRef<void()> store) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_ || id == 0 || id != expectedId_) {
            ++discardedCount_;
            return false;
        }
        store();
        ready_ = true;
        pending_ = false;
        expectedId_ = 0;
    }
    condition_.notify_one();
    return true;
}

void ResponseWaiter::cutOff() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_) return;
        cutOff_ = true;
        pending_ = false;
        expectedId_ = 0;
    }
    condition_.notify_all();
}

void ResponseWaiter::setInterruptCheck(InterruptCheck check, int periodMs) {
    auto shared = check ? std::make_shared<const InterruptCheck>(std::move(check)) : nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    interruptCheck_ = std::move(shared);
    interruptPeriod_ = std::chrono::milliseconds(std::max(periodMs, 1));
}

void ResponseWaiter::countDiscarded() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++discardedCount_;
}

uint64_t ResponseWaiter::discarded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return discardedCount_;
}

}  // namespace vantor
