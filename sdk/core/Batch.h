// SPDX-License-Identifier: MIT
#pragma once
// A batch of blocking SDK calls sent back to back: each call's request goes
// out without waiting for the previous answer, up to `window` requests
// outstanding, and each call's result comes back in the order the calls
// were added.
//
//     std::vector<uint8_t> id;
//     vantor::Batch batch(sdk);
//     batch.add([](vantor::VantorSDK& s) { return s.i2cWrite(0, 0x50, {0x10}, {0xAB}, false); });
//     batch.add([&](vantor::VantorSDK& s) { return s.i2cRead(0, 0x50, {0x10}, 1, id, false); });
//     for (const vantor::Batch::Result& r : batch.run()) ...
//
// A call is a function that makes one blocking SDK call and returns its
// status; it runs more than once (once to send its request, once more to
// decode the answer into its outputs, and again for every resend), so it
// must have no other side effect. Calls that cannot be pipelined (bulk
// transfers, reset and boot mode, which await no answer) run as plain
// blocking calls once every earlier call has its answer.
//
// An answer FW_FULL_RECEPTION_QUEUE means the adapter's request queue had
// no room: the request was not executed. The batch narrows its window to
// the requests still outstanding, waits for one of them to be answered and
// sends the turned-away call again (at most `maxResends` times, then it
// fails with that status). Calls sent after it that the adapter accepted
// meanwhile run before it: keep the window within the adapter's queue where
// the order of writes matters.
//
// While a batch runs on one thread it holds the SDK's request lock: a
// blocking call from another thread waits until the batch is done, as it
// waits for any other call. A batch run from the reader thread (a
// notification callback) or from within a call of the same SDK is refused:
// every result is NotSent with SDK_ERROR_WRONG_REQUEST.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sdk/core/VantorSDK.h"

namespace vantor {

class Batch {
  public:
    // What is known of a call once the batch has run.
    enum class State : uint8_t {
        NotSent,  // never sent (an earlier failure stopped the batch, or it was refused)
        Done,     // answered with SUCCESS
        Failed,   // answered with an error, or refused before it was sent
        Unknown,  // sent, but no answer came (timeout, adapter lost): it may have run
    };

    struct Result {
        State state = State::NotSent;
        // The call's status: its own for Done and Failed, SDK_ERROR_TIMEOUT
        // or SDK_ERROR_DISCONNECT for Unknown, and for NotSent the status
        // that ended the batch before it (SDK_ERROR_WRONG_REQUEST when the
        // batch was refused, see above).
        uint16_t status = 0;
        // Times the call was sent again after FW_FULL_RECEPTION_QUEUE.
        uint32_t resends = 0;
    };

    struct Options {
        size_t window = 16;  // requests outstanding at most (0 counts as 1)
        // Stop sending at the first failure: calls already in flight still
        // report their own results, the rest are NotSent.
        bool stopOnError = false;
        uint32_t maxResends = 64;  // per call
    };

    using Call = std::function<uint16_t(VantorSDK&)>;

    explicit Batch(VantorSDK& sdk);
    Batch(VantorSDK& sdk, Options options);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Queues a call; its index in the results.
    size_t add(Call call);
    size_t size() const;
    // Sends every queued call and returns one result per call, in order.
    // The queue is kept: run() again sends the same calls again.
    std::vector<Result> run();

  private:
    struct Impl;
    class Runner;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantor
