// SPDX-License-Identifier: MIT
#include "sdk/core/Batch.h"

#include <algorithm>
#include <utility>

#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace status;

namespace {
constexpr uint16_t kFullReceptionQueue = toU16(StatusCode::FW_FULL_RECEPTION_QUEUE);
}  // namespace

// ------------------------------------------------------------ engine side

uint16_t VantorSDK::Impl::deferToBlocking() {
    batchCall->blocking = true;
    return kWrongRequest;
}

uint16_t VantorSDK::Impl::batchRequest(const CommandInfo& command, SendFn send, ParseFn parse) {
    BatchCall& call = *batchCall;
    const int index = call.requests++;
    switch (call.mode) {
        case BatchMode::Direct:
            return requestLocked(command, send, parse);
        case BatchMode::Replay:
            // Only a call's first request was pipelined; a further one (none
            // of the SDK's calls makes one today) waits for its own answer.
            if (index > 0) return requestLocked(command, send, parse);
            response.swap(*call.answer);
            return decodeResponse(command, call.id, parse);
        case BatchMode::Send:
            break;
    }
    if (index > 0 || command.usesBulk()) return deferToBlocking();
    const uint16_t id = nextTransactionId();
    // Expected before it is sent: the answer may come before send returns.
    waiter.expectPipelined(id, command.code, call.tag);
    const uint16_t status = send(id);
    if (status != kSuccess) {
        waiter.forgetPipelined(id);
        return status;
    }
    call.sent = true;
    call.id = id;
    // Not SUCCESS, so that the calling method goes no further: its outputs
    // are written when the answer is replayed.
    return kWrongRequest;
}

// ------------------------------------------------------------ the batch

struct Batch::Impl {
    Impl(VantorSDK& s, Options o) : sdk(s), options(o) {}

    VantorSDK& sdk;
    Options options;
    std::vector<Call> calls;
};

// One run of a batch, with the request lock held.
class Batch::Runner {
  public:
    using Engine = VantorSDK::Impl;
    using Mode = Engine::BatchMode;

    Runner(VantorSDK& sdk, Engine& engine, const std::vector<Batch::Call>& calls,
           const Batch::Options& options)
        : sdk_(sdk),
          engine_(engine),
          calls_(calls),
          options_(options),
          window_(std::max<size_t>(options.window, 1)),
          results_(calls.size()),
          ids_(calls.size(), 0) {}

    std::vector<Batch::Result> go() {
        // Closed however the run ends (a call may throw).
        struct Pipeline {
            explicit Pipeline(ResponseWaiter& w) : waiter(w) { waiter.openPipeline(); }
            ~Pipeline() { waiter.closePipeline(); }
            ResponseWaiter& waiter;
        } pipeline(engine_.waiter);
        for (;;) {
            sendWhileRoom();
            if (inFlight_ == 0) {
                if (blockingNext_ && stopStatus_ == kSuccess) {
                    runBlocking();
                    continue;
                }
                break;
            }
            if (!awaitOne()) break;
        }
        if (stopStatus_ != kSuccess) {
            for (Batch::Result& r : results_) {
                if (r.state == Batch::State::NotSent) r.status = stopStatus_;
            }
        }
        return std::move(results_);
    }

  private:
    bool moreToSend() const { return !retry_.empty() || next_ < calls_.size(); }

    void sendWhileRoom() {
        while (stopStatus_ == kSuccess && !blockingNext_ && inFlight_ < window_ && moreToSend()) {
            // Calls turned away by a full queue go first, lowest index first.
            size_t index;
            if (!retry_.empty()) {
                index = retry_.front();
                retry_.erase(retry_.begin());
            } else {
                index = next_++;
            }
            Engine::BatchCall call;
            call.tag = index;
            const uint16_t status = invoke(index, call);
            if (call.sent) {
                ids_[index] = call.id;
                ++inFlight_;
            } else if (call.blocking) {
                blockingNext_ = true;
                blockingIndex_ = index;
            } else if (status == kDisconnect) {
                // No adapter to send to: this call and the rest stay unsent.
                stopStatus_ = kDisconnect;
            } else {
                finish(index, status);  // refused before anything was sent
            }
        }
    }

    // A call the engine cannot pipeline, once nothing else is outstanding.
    void runBlocking() {
        blockingNext_ = false;
        Engine::BatchCall call;
        call.mode = Mode::Direct;
        call.tag = blockingIndex_;
        const uint16_t status = invoke(blockingIndex_, call);
        if (status == kTimeout || status == kDisconnect) {
            // As for a pipelined call without an answer: it may have run,
            // and the adapter is gone or not answering.
            results_[blockingIndex_] = {Batch::State::Unknown, status, 0};
            stopStatus_ = status;
            return;
        }
        finish(blockingIndex_, status);
    }

    // Waits for the next answer; false when the batch ends without it.
    bool awaitOne() {
        size_t index = 0;
        const auto outcome = engine_.waiter.awaitPipelined(index, answer_);
        if (outcome != ResponseWaiter::Outcome::Answered) {
            // Whatever is outstanding may or may not have run.
            const uint16_t status =
                outcome == ResponseWaiter::Outcome::CutOff ? kDisconnect : kTimeout;
            for (size_t i = 0; i < calls_.size(); ++i) {
                if (ids_[i] != 0) {
                    results_[i].state = Batch::State::Unknown;
                    results_[i].status = status;
                }
            }
            stopStatus_ = status;
            return false;
        }
        --inFlight_;
        const uint16_t id = ids_[index];
        ids_[index] = 0;
        if (answer_.size() >= kResponseHeaderSize &&
            readU16le(answer_.data() + kStatusOffset) == kFullReceptionQueue) {
            turnedAway(index);
            return true;
        }
        Engine::BatchCall call;
        call.mode = Mode::Replay;
        call.tag = index;
        call.id = id;
        call.answer = &answer_;
        finish(index, invoke(index, call));
        return true;
    }

    void turnedAway(size_t index) {
        Batch::Result& r = results_[index];
        if (r.resends >= options_.maxResends) {
            finish(index, kFullReceptionQueue);
            return;
        }
        ++r.resends;
        // The adapter holds no more than what is still outstanding.
        window_ = std::max<size_t>(inFlight_, 1);
        retry_.insert(std::upper_bound(retry_.begin(), retry_.end(), index), index);
    }

    uint16_t invoke(size_t index, Engine::BatchCall& call) {
        struct Current {
            Current(Engine& e, Engine::BatchCall& c) : engine(e) { engine.batchCall = &c; }
            ~Current() { engine.batchCall = nullptr; }
            Engine& engine;
        } current(engine_, call);
        return calls_[index](sdk_);
    }

    void finish(size_t index, uint16_t status) {
        Batch::Result& r = results_[index];
        r.status = status;
        r.state = status == kSuccess ? Batch::State::Done : Batch::State::Failed;
        if (status != kSuccess && options_.stopOnError && stopStatus_ == kSuccess) {
            stopStatus_ = status;
        }
    }

    VantorSDK& sdk_;
    Engine& engine_;
    const std::vector<Batch::Call>& calls_;
    const Batch::Options& options_;
    size_t window_;
    std::vector<Batch::Result> results_;
    // The id of each call's request in flight, 0 when none is.
    std::vector<uint16_t> ids_;
    std::vector<size_t> retry_;  // ascending
    std::vector<uint8_t> answer_;
    size_t next_ = 0;
    size_t inFlight_ = 0;
    bool blockingNext_ = false;
    size_t blockingIndex_ = 0;
    uint16_t stopStatus_ = kSuccess;
};

Batch::Batch(VantorSDK& sdk) : Batch(sdk, Options{}) {}

Batch::Batch(VantorSDK& sdk, Options options) : impl_(std::make_unique<Impl>(sdk, options)) {}

Batch::~Batch() = default;

size_t Batch::add(Call call) {
    impl_->calls.push_back(std::move(call));
    return impl_->calls.size() - 1;
}

size_t Batch::size() const {
    return impl_->calls.size();
}

std::vector<Batch::Result> Batch::run() {
    VantorSDK::Impl& engine = *impl_->sdk.impl_;
    if (engine.mustRefuseCall()) {
        return std::vector<Result>(impl_->calls.size(), Result{State::NotSent, kWrongRequest, 0});
    }
    VantorSDK::Impl::RequestLock lock(engine);
    return Runner(impl_->sdk, engine, impl_->calls, impl_->options).go();
}

}  // namespace vantor
