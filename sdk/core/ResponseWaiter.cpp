// SPDX-License-Identifier: MIT
#include "sdk/core/ResponseWaiter.h"

#include <algorithm>
#include <thread>

namespace vantor {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

void ResponseWaiter::setExpected(uint16_t id, uint16_t command) {
    std::lock_guard<std::mutex> lock(mutex_);
    expectedId_ = id;
    expectedCommand_ = command;
}

ResponseWaiter::Outcome ResponseWaiter::execute(FunctionRef<bool()> send) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_ = false;
        pending_ = true;
        cutOff_ = false;
        strayKept_ = false;
        ended_.store(false, std::memory_order_relaxed);
    }
    // The response may arrive before send() returns: it is stored because the
    // request is already pending, and the wait below finds it ready. A
    // cut-off during send() is kept for the wait likewise.
    const bool sent = send();
    const auto sentAt = Clock::now();
    if (sent) spinForAnswer();
    std::unique_lock<std::mutex> lock(mutex_);
    Outcome outcome = sent ? waitLocked(lock, ready_, cutOff_) : Outcome::NotSent;
    if (outcome == Outcome::Answered) learnLatency(Clock::now() - sentAt);
    // Nothing better came: the answer kept aside is the caller's to judge.
    if (outcome == Outcome::TimedOut && strayKept_) outcome = Outcome::Answered;
    ended_.store(false, std::memory_order_relaxed);
    ready_ = false;
    pending_ = false;
    cutOff_ = false;
    strayKept_ = false;
    expectedId_ = 0;
    expectedCommand_ = 0;
    return outcome;
}

void ResponseWaiter::spinForAnswer() {
    // A timeout of 0 (or another negative value than -1) does not wait.
    if (timeoutMs_ == 0 || timeoutMs_ < -1) return;
    const auto budget = std::chrono::nanoseconds(spinBudgetNs_.load(std::memory_order_relaxed));
    if (budget.count() <= 0) return;
    const auto start = Clock::now();
    while (!ended_.load(std::memory_order_acquire)) {
        if (Clock::now() - start >= budget) return;
        // Leaves the processor to the thread that delivers the answer when
        // both share one.
        std::this_thread::yield();
    }
}

void ResponseWaiter::learnLatency(std::chrono::nanoseconds latency) {
    // Generous (four times the latency, 20 us at least): an answer that
    // misses the poll costs a wake-up, which on a busy or virtual machine can
    // take longer than the answer itself and would then be learnt as the
    // device's latency.
    const auto ceiling = std::chrono::duration_cast<std::chrono::nanoseconds>(kSpinCeiling);
    const auto budget =
        latency <= ceiling ? std::clamp<std::chrono::nanoseconds>(latency * 4, ceiling / 5, ceiling)
                           : std::chrono::nanoseconds(0);
    spinBudgetNs_.store(budget.count(), std::memory_order_relaxed);
}

ResponseWaiter::Outcome ResponseWaiter::waitLocked(std::unique_lock<std::mutex>& lock,
                                                   const bool& ready, const bool& cut) {
    const bool unlimited = timeoutMs_ == -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs_, 0));
    const std::shared_ptr<const InterruptCheck> check = interruptCheck_;
    const auto period = interruptPeriod_;
    const auto ended = [&] { return ready || cut; };

    for (;;) {
        if (ready) return Outcome::Answered;
        if (cut) return Outcome::CutOff;
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
        if (stop && !ready && !cut) return Outcome::Interrupted;
    }
}

bool ResponseWaiter::deliver(uint16_t id, uint16_t command, FunctionRef<void()> store) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_ || id == 0 || id != expectedId_) {
            ++discardedCount_;
            return false;
        }
        if (expectedCommand_ != 0 && command != expectedCommand_) {
            if (strayKept_) {
                ++discardedCount_;
                return false;
            }
            store();
            strayKept_ = true;
            return false;
        }
        if (strayKept_) ++discardedCount_;  // replaced by the expected answer
        store();
        ready_ = true;
        pending_ = false;
        expectedId_ = 0;
        expectedCommand_ = 0;
        ended_.store(true, std::memory_order_release);
    }
    condition_.notify_one();
    return true;
}

void ResponseWaiter::cutOff() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The pipeline stays cut off until it is closed: requests sent after
        // this point have no connection to answer them either.
        if (pipelineOpen_) {
            pipelineCut_ = true;
            pipelineEnded_.store(true, std::memory_order_release);
        }
        if (!pending_ && !pipelineOpen_) return;
        if (pending_) {
            cutOff_ = true;
            pending_ = false;
            expectedId_ = 0;
            expectedCommand_ = 0;
            ended_.store(true, std::memory_order_release);
        }
    }
    condition_.notify_all();
}

void ResponseWaiter::openPipeline() {
    std::lock_guard<std::mutex> lock(mutex_);
    pipelineOpen_ = true;
    pipelineCut_ = false;
    pipelineOpenHint_.store(true, std::memory_order_release);
}

void ResponseWaiter::expectPipelined(uint16_t id, uint16_t command, size_t tag) {
    std::lock_guard<std::mutex> lock(mutex_);
    pipelined_.push_back({id, command, tag});
}

void ResponseWaiter::forgetPipelined(uint16_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    pipelined_.erase(std::remove_if(pipelined_.begin(), pipelined_.end(),
                                    [id](const Pipelined& p) { return p.id == id; }),
                     pipelined_.end());
}

bool ResponseWaiter::deliverPipelined(uint16_t id, uint16_t command,
                                      const std::vector<uint8_t>& message) {
    // Every answer passes here: outside a batch, without taking the lock.
    if (!pipelineOpenHint_.load(std::memory_order_acquire)) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pipelineOpen_) return false;
        const auto found =
            std::find_if(pipelined_.begin(), pipelined_.end(),
                         [&](const Pipelined& p) { return p.id == id && p.command == command; });
        if (found == pipelined_.end()) return false;
        arrivals_.push_back({found->tag, message});
        pipelined_.erase(found);
        arrived_ = true;
        pipelineEnded_.store(true, std::memory_order_release);
    }
    condition_.notify_one();
    return true;
}

ResponseWaiter::Outcome ResponseWaiter::awaitPipelined(size_t& tag, std::vector<uint8_t>& message) {
    // As for a single request (with the budget single requests learnt): an
    // answer due within microseconds is picked up without a sleep and
    // wake-up.
    if (timeoutMs_ != 0 && timeoutMs_ >= -1) {
        const auto budget = std::chrono::nanoseconds(spinBudgetNs_.load(std::memory_order_relaxed));
        const auto start = Clock::now();
        while (!pipelineEnded_.load(std::memory_order_acquire) && Clock::now() - start < budget) {
            std::this_thread::yield();
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const Outcome outcome = waitLocked(lock, arrived_, pipelineCut_);
    if (outcome != Outcome::Answered) return outcome;
    tag = arrivals_.front().tag;
    message.swap(arrivals_.front().message);
    arrivals_.pop_front();
    arrived_ = !arrivals_.empty();
    pipelineEnded_.store(arrived_ || pipelineCut_, std::memory_order_release);
    return outcome;
}

void ResponseWaiter::closePipeline() {
    std::lock_guard<std::mutex> lock(mutex_);
    discardedCount_ += arrivals_.size();
    arrivals_.clear();
    arrived_ = false;
    pipelined_.clear();
    pipelineOpen_ = false;
    pipelineCut_ = false;
    pipelineEnded_.store(false, std::memory_order_relaxed);
    pipelineOpenHint_.store(false, std::memory_order_release);
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
