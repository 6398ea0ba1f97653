// SPDX-License-Identifier: MIT
#pragma once
// The rendezvous between a thread that sends a request and the reader thread
// that receives its response. One request is outstanding at a time; a
// response whose transaction id is not the expected one is counted as
// discarded.
//
// Another connection to the same adapter sees every answer too, and numbers
// its requests on its own: an answer with the expected id but another command
// code is most likely the answer to that connection's request. It does not
// end the wait; it is kept, and returned only when no answer with the
// expected command code comes before the timeout (the caller then finds the
// mismatch).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

namespace vantor {

// A non-owning reference to a callable: what std::function is for stored
// callbacks, without the allocation, for callables that outlive the call.
template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
  public:
    template <typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef> &&
                                          std::is_invocable_r_v<R, F&, Args...>>>
    FunctionRef(F&& callable) noexcept  // NOLINT: implicit by design
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          invoke_(&invokeAs<std::remove_reference_t<F>>) {}

    R operator()(Args... args) const { return invoke_(object_, std::forward<Args>(args)...); }

  private:
    template <typename F>
    static R invokeAs(void* object, Args... args) {
        if constexpr (std::is_void_v<R>) {
            (*static_cast<F*>(object))(std::forward<Args>(args)...);
        } else {
            return (*static_cast<F*>(object))(std::forward<Args>(args)...);
        }
    }

    void* object_;
    R (*invoke_)(void*, Args...);
};

// Locking: `mutex_` guards every field below and is held only briefly by
// each operation, never while a request is sent or while the interruption
// check runs. The waiting caller holds it only inside the condition wait,
// so the reader thread (deliver, cutOff) and a disconnecting thread (cutOff)
// always get it at once.
class ResponseWaiter {
  public:
    // How a request ended.
    enum class Outcome {
        Answered,     // the matching response was stored
        NotSent,      // `send` returned false; nothing was awaited
        TimedOut,     // the timeout passed first
        CutOff,       // the connection was closed or lost while waiting
        Interrupted,  // the interruption check asked to stop waiting
    };

    // Asked periodically by a waiting caller, on its own thread and with no
    // lock of the waiter held; true ends the wait with Outcome::Interrupted.
    using InterruptCheck = std::function<bool()>;

    // `timeoutMs` -1 waits without limit; 0 or any other negative value does
    // not wait at all.
    explicit ResponseWaiter(int32_t timeoutMs) : timeoutMs_(timeoutMs) {}

    // Sets the transaction id the next response must carry, and its command
    // code (0: any).
    void setExpected(uint16_t id, uint16_t command = 0);

    // Marks a request outstanding, runs `send` and, when it returns true,
    // waits for the matching response, the timeout, a cut-off or an
    // interruption. Whatever the outcome, nothing is outstanding afterwards,
    // so a late response is discarded.
    Outcome execute(FunctionRef<bool()> send);

    // Offers a response with `id` and `command` (reader thread). When both
    // are the outstanding ones, runs `store` under the lock, wakes the
    // waiting caller and returns true. The first one with the outstanding id
    // but another command code is stored and kept aside without ending the
    // wait. Anything else is counted as discarded, as is a kept answer that
    // the expected one replaces. False unless the expected answer was stored.
    bool deliver(uint16_t id, uint16_t command, FunctionRef<void()> store);

    // Ends the outstanding request, if any, with Outcome::CutOff at once,
    // whatever the timeout: the response can no longer arrive. Callable from
    // any thread, including the reader thread.
    void cutOff();

    // Installs (or, with an empty function, removes) the interruption check,
    // asked every `periodMs` milliseconds (at least 1) while a caller waits.
    void setInterruptCheck(InterruptCheck check, int periodMs);

    // ------------------------------------------------ pipelined requests
    // A batch keeps several requests outstanding at once, answered in any
    // order. While a pipeline is open, an answer that matches one of its
    // requests goes to it; anything else goes to `deliver` as before.
    void openPipeline();
    // Expects the answer to a request with `id` and `command`, tagged `tag`
    // for the caller. Made before the request is sent: its answer may come
    // before the send returns.
    void expectPipelined(uint16_t id, uint16_t command, size_t tag);
    // Withdraws an expectation whose request could not be sent.
    void forgetPipelined(uint16_t id);
    // Reader thread: stores the message and returns true when it answers an
    // expected pipelined request (its id and command code).
    bool deliverPipelined(uint16_t id, uint16_t command, const std::vector<uint8_t>& message);
    // Waits for the next pipelined answer, as `execute` waits for its one
    // (timeout, cut-off and interruption check alike); on Answered, `tag`
    // and `message` receive it. The timeout counts from this call.
    Outcome awaitPipelined(size_t& tag, std::vector<uint8_t>& message);
    // Forgets what is still expected (later answers are discarded and
    // counted) and closes the pipeline.
    void closePipeline();

    void countDiscarded();
    uint64_t discarded() const;

    int32_t timeoutMs() const { return timeoutMs_; }

    // The longest a caller polls for its answer before it sleeps on the
    // condition variable.
    static constexpr std::chrono::microseconds kSpinCeiling{100};

  private:
    // Waits (lock held, released while waiting and while `check` runs)
    // until the request ends; the outcome.
    // `ready` and `cut` are the fields that end this wait.
    Outcome waitLocked(std::unique_lock<std::mutex>& lock, const bool& ready, const bool& cut);
    // Polls `ended_`, yielding the processor between looks, for a budget
    // learnt from the last answer's latency (see learnLatency; at most
    // kSpinCeiling). An answer that comes within microseconds (the virtual
    // adapter, a local device) is then picked up without the sleep and
    // wake-up of a condition wait; against a device whose answers take
    // longer than kSpinCeiling the budget is zero and the caller sleeps at
    // once.
    void spinForAnswer();
    // Sets the next request's spin budget from how long this answer took.
    void learnLatency(std::chrono::nanoseconds latency);

    const int32_t timeoutMs_;
    bool ready_ = false;
    bool pending_ = false;
    bool cutOff_ = false;     // the outstanding request was cut off
    bool strayKept_ = false;  // an answer with the id but another command code is stored
    uint16_t expectedId_ = 0;
    uint16_t expectedCommand_ = 0;  // 0: any
    uint64_t discardedCount_ = 0;
    // Mirrors `ready_ || cutOff_` for the lock-free poll of spinForAnswer.
    std::atomic<bool> ended_{false};
    // Spin budget of the next request, in nanoseconds; starts at the
    // ceiling, so the first answer's latency decides.
    std::atomic<int64_t> spinBudgetNs_{
        std::chrono::duration_cast<std::chrono::nanoseconds>(kSpinCeiling).count()};
    // Shared so that a waiting caller can run its copy without the lock
    // while another thread replaces it.
    std::shared_ptr<const InterruptCheck> interruptCheck_;
    std::chrono::milliseconds interruptPeriod_{100};
    // The open pipeline: expected answers, arrived ones in arrival order.
    struct Pipelined {
        uint16_t id;
        uint16_t command;
        size_t tag;
    };
    struct Arrival {
        size_t tag;
        std::vector<uint8_t> message;
    };
    bool pipelineOpen_ = false;
    bool pipelineCut_ = false;
    bool arrived_ = false;  // `arrivals_` is not empty
    // Mirrors `arrived_ || pipelineCut_` for the lock-free poll.
    std::atomic<bool> pipelineEnded_{false};
    // Mirrors `pipelineOpen_`, so that answers outside a batch skip the lock.
    // A batch's requests are sent after it is set, so their answers see it.
    std::atomic<bool> pipelineOpenHint_{false};
    std::vector<Pipelined> pipelined_;
    std::deque<Arrival> arrivals_;
    std::condition_variable condition_;
    mutable std::mutex mutex_;
};

}  // namespace vantor
