#include "sdk/core/ResponseWaiter.h"

#include <chrono>

namespace vantor {

void ResponseWaiter::setExpected(uint16_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    expectedId_ = id;
}

bool ResponseWaiter::execute(FunctionRef<bool()> send) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_ = false;
        pending_ = true;
    }
    // The response may arrive before send() returns: it is stored because the
    // request is already pending, and the wait below finds it ready.
    const bool sent = send();
    std::unique_lock<std::mutex> lock(mutex_);
    const bool received = sent && waitLocked(lock);
    ready_ = false;
    pending_ = false;
    expectedId_ = 0;
    return received;
}

bool ResponseWaiter::waitLocked(std::unique_lock<std::mutex>& lock) {
    if (timeoutMs_ == -1) {
        condition_.wait(lock, [this] { return ready_; });
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeoutMs_ > 0 ? timeoutMs_ : 0);
    return condition_.wait_until(lock, deadline, [this] { return ready_; });
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

void ResponseWaiter::countDiscarded() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++discardedCount_;
}

uint64_t ResponseWaiter::discarded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return discardedCount_;
}

}  // namespace vantor
