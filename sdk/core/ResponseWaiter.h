#pragma once
// The rendezvous between a thread that sends a request and the reader thread
// that receives its response. One request is outstanding at a time; a
// response whose transaction id is not the expected one is counted as
// discarded.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

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

class ResponseWaiter {
  public:
    // `timeoutMs` -1 waits without limit; 0 or any other negative value does
    // not wait at all.
    explicit ResponseWaiter(int32_t timeoutMs) : timeoutMs_(timeoutMs) {}

    // Sets the transaction id the next response must carry.
    void setExpected(uint16_t id);

    // Marks a request outstanding, runs `send` and, when it returns true,
    // waits for the matching response or the timeout. True when a response
    // was stored. Whatever the outcome, nothing is outstanding afterwards, so
    // a late response is discarded.
    bool execute(FunctionRef<bool()> send);

    // Offers a response (reader thread). When `id` is the outstanding one,
    // runs `store` under the lock, wakes the waiting caller and returns true;
    // otherwise counts the message as discarded and returns false.
    bool deliver(uint16_t id, FunctionRef<void()> store);

    void countDiscarded();
    uint64_t discarded() const;

    int32_t timeoutMs() const { return timeoutMs_; }

  private:
    // Waits (lock held) until a response is ready or the timeout passed.
    bool waitLocked(std::unique_lock<std::mutex>& lock);

    const int32_t timeoutMs_;
    bool ready_ = false;
    bool pending_ = false;
    uint16_t expectedId_ = 0;
    uint64_t discardedCount_ = 0;
    std::condition_variable condition_;
    mutable std::mutex mutex_;
};

}  // namespace vantor
