// SPDX-License-Identifier: MIT
#pragma once
// Internal to the SDK: the synchronous engine behind VantorSDK. Command
// methods send through the asynchronous instance, wait on the response
// waiter and decode the matched response as their command's description
// (CommandInfo) says.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"
#include "sdk/core/ResponseWaiter.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

struct VantorSDK::Impl {
    explicit Impl(int timeoutMs);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // A matched response message, header included, as the parse step of a
    // command method sees it. Reads past the end yield 0; the command's
    // minimum parameter length guarantees the fixed fields.
    class Response {
      public:
        explicit Response(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
        const uint8_t* data() const { return bytes_.data(); }
        size_t size() const { return bytes_.size(); }
        uint16_t status() const { return u16(kStatusOffset); }
        uint8_t u8(size_t offset) const { return offset < size() ? bytes_[offset] : 0; }
        uint16_t u16(size_t offset) const {
            return offset + 2 <= size() ? readU16le(data() + offset) : 0;
        }
        uint32_t u32(size_t offset) const {
            return offset + 4 <= size() ? readU32le(data() + offset) : 0;
        }

      private:
        const std::vector<uint8_t>& bytes_;
    };

    using SendFn = FunctionRef<uint16_t(uint16_t)>;
    using ParseFn = FunctionRef<uint16_t(const Response&)>;

    // The rule every synchronous command method follows. `send(id)` calls the
    // asynchronous method of the same name with the fresh transaction id and
    // returns its status. The response must hold the command's minimum
    // parameter bytes after the header (else its short-response rule
    // applies) and carry the request's id and the command's code; then
    // `parse` copies the outputs. A parse returning void yields the
    // response's status; one returning uint16_t yields that value.
    //
    //     return impl_->transact(device::kGetUsbConfig,
    //                            [&](uint16_t id) { return impl_->async->getUsbConfig(id); },
    //                            [&](const Response& r) { config.cdcMode = r.u8(...); });
    template <typename Send, typename Parse>
    uint16_t transact(const CommandInfo& command, Send&& send, Parse&& parse) {
        if constexpr (std::is_void_v<std::invoke_result_t<Parse&, const Response&>>) {
            auto withStatus = [&parse](const Response& r) -> uint16_t {
                parse(r);
                return r.status();
            };
            return request(command, send, withStatus);
        } else {
            return request(command, send, parse);
        }
    }
    // A command whose response carries nothing but the status.
    template <typename Send>
    uint16_t transact(const CommandInfo& command, Send&& send) {
        auto statusOnly = [](const Response& r) -> uint16_t { return r.status(); };
        return request(command, send, statusOnly);
    }
    // The common case in one line: a command whose response carries nothing
    // but the status, sent by the asynchronous method `method` with `args`.
    //
    //     return impl_->statusCommand(i2c::kDeinit, &VantorAsyncSDK::i2cDeinit, bus);
    template <typename... Params, typename... Args>
    uint16_t statusCommand(const CommandInfo& command,
                           uint16_t (VantorAsyncSDK::*method)(uint16_t, Params...),
                           const Args&... args) {
        return transact(command, [&](uint16_t id) { return (async.get()->*method)(id, args...); });
    }
    // Sends without awaiting any response (the adapter leaves its application
    // firmware): the asynchronous status is returned as is.
    uint16_t sendOnly(SendFn send);
    uint16_t sendOnlyLocked(SendFn send);

    uint16_t request(const CommandInfo& command, SendFn send, ParseFn parse);
    // The same with requestMutex already held.
    uint16_t requestLocked(const CommandInfo& command, SendFn send, ParseFn parse);
    // At every connect (requestMutex held): the capability cache and the
    // registered bulk reads belong to the previous connection.
    void dropConnectionState();
    // Ends the waiting call, if any, with SDK_ERROR_DISCONNECT (any thread).
    void cutOff() { waiter.cutOff(); }
    // True (and the call must be refused) on the reader thread, and on a
    // thread that is already inside a request of this engine: a transport
    // that calls back from within its write (the virtual adapter's scripted
    // handler does) would otherwise wait for the lock its own thread holds.
    bool mustRefuseCall() const { return async->onReaderThread() || insideRequest(); }
    bool insideRequest() const;

    // requestMutex held for a scope, with the thread marked as inside a
    // request of this engine (restoring the mark of an outer engine after).
    class RequestLock {
      public:
        explicit RequestLock(Impl& impl);
        ~RequestLock();
        RequestLock(const RequestLock&) = delete;
        RequestLock& operator=(const RequestLock&) = delete;

      private:
        std::lock_guard<std::mutex> lock_;
        const void* outer_;
    };

    // The next transaction id, made the waiter's expected one together with
    // the command code its answer must carry (0: any).
    uint16_t generateTransactionId(uint16_t command = 0);
    // The next transaction id, nothing else.
    uint16_t nextTransactionId();
    // Checks a matched response in `response` (length, id and command code)
    // and runs `parse` on it: the second half of every request.
    uint16_t decodeResponse(const CommandInfo& command, uint16_t id, ParseFn parse);

    // ------------------------------------------------ batches (Batch.cpp)
    // How the call a running batch is at reaches the engine. Send: its
    // request is sent without waiting and the batch awaits the answer;
    // Replay: the call runs again and decodes the answer the batch received
    // for it; Direct: it runs as a plain blocking call (nothing else is
    // outstanding then). The thread running the batch holds requestMutex
    // throughout, so the call's own requests find the engine through
    // `batchCall` instead of taking the lock.
    enum class BatchMode : uint8_t { Send, Replay, Direct };
    struct BatchCall {
        BatchMode mode = BatchMode::Send;
        size_t tag = 0;                          // the call's index
        int requests = 0;                        // requests it made in this mode
        bool sent = false;                       // Send: its request left and is awaited
        bool blocking = false;                   // Send: it needs the blocking engine
        uint16_t id = 0;                         // Send: its request's id; Replay: the answered one
        std::vector<uint8_t>* answer = nullptr;  // Replay
    };
    // Set by the batch's thread while it holds requestMutex; read only on
    // that thread (inBatch checks the thread first).
    BatchCall* batchCall = nullptr;
    bool inBatch() const { return insideRequest() && batchCall != nullptr; }
    uint16_t batchRequest(const CommandInfo& command, SendFn send, ParseFn parse);
    // Send mode: the call cannot be pipelined (a bulk data phase, a request
    // that awaits no answer); the batch runs it on its own. Nothing is sent.
    uint16_t deferToBlocking();
    // Reader thread: every complete message of the connection.
    void handleResponse(const std::vector<uint8_t>& message);
    // Copies at most `maxLength` response bytes from `offset` on into `out`.
    void assignResponsePayload(size_t offset, size_t maxLength, std::vector<uint8_t>& out) const;
    // What a response too short for its command yields under
    // ShortResponse::Status.
    uint16_t shortResponseStatus() const;

    // Checks a bulk operation before anything is sent: SUCCESS, or
    // SDK_ERROR_BULK_UNAVAILABLE (no bulk interface, or the adapter does not
    // offer this command over it) or SDK_ERROR_WRONG_REQUEST (length 0 or
    // above the adapter's limit for the group). SDK_ERROR_DISCONNECT when
    // the adapter is lost during the capability query it needs.
    uint16_t bulkGate(const CommandInfo& command, uint64_t length);
    uint16_t bulkGateLocked(const CommandInfo& command, uint64_t length);
    // getBulkCapabilities() with requestMutex already held.
    // `status`, when given, receives the query's status (kSuccess when the
    // cache answered).
    const BulkCapabilities& bulkCapabilitiesLocked(uint16_t* status = nullptr);
    // What every synchronous bulk operation checks before it sends: not
    // connected gives SDK_ERROR_DISCONNECT (as the asynchronous method
    // would), then the bulk gate.
    uint16_t bulkPrecheck(const CommandInfo& command, uint64_t length);
    // A bulk read: the precheck for `requested` bytes, the request, then the
    // data phase the response announces as a u16 at `countOffset` (at most
    // `requested` bytes, else SDK_ERROR_WRONG_RESPONSE), received into `out`
    // within kBulkDataTimeoutMs (else SDK_ERROR_TIMEOUT). A non-zero response
    // status is returned as is, except `partialStatus` (a read that ended
    // early): its data phase is received too and the status returned with
    // the bytes. `out` is empty after any other failure.
    uint16_t bulkRead(const CommandInfo& command, uint16_t requested, size_t countOffset,
                      SendFn send, std::vector<uint8_t>& out, uint16_t partialStatus = 0);

    // A bulk read whose response, should it come after its caller gave up,
    // announces bytes that nobody will read from the bulk IN endpoint.
    struct OutstandingBulkRead {
        uint16_t id;
        uint16_t code;
        size_t countOffset;
        uint16_t requested;
        uint64_t drained = 0;  // of its data, discarded before its answer came
    };
    // Registers a bulk read before its request is sent.
    void expectBulkRead(const OutstandingBulkRead& read);
    // Before a bulk read request: drains what earlier reads left on bulk IN
    // and counts it against the reads still waiting for their answers.
    void discardStaleBulkIn();
    // Reader thread, for a message with a transaction id: when it answers a
    // registered bulk read, forgets the registration; and when its caller
    // had given up (`delivered` false) and it announces data, makes the next
    // bulk read discard that data first.
    void settleBulkRead(const std::vector<uint8_t>& message, bool delivered);

    // The operations behind the four public names of the rail commands.
    uint16_t setRailVoltage(uint16_t millivolts, bool persist);
    uint16_t useExternalRailVoltage(bool persist);
    uint16_t getRailVoltage(uint16_t& millivolts);

    ResponseWaiter waiter;
    BulkCapabilities bulkCapabilities;
    uint16_t lastTransactionId = 0;
    // Written by the reader thread under the waiter's lock while a request
    // is outstanding; read by the requesting thread once its wait ended.
    std::vector<uint8_t> response;
    NotificationCallback notificationCallback;
    std::function<void()> connectionLostCallback;
    // Held by the calling thread for a whole request (and for connect), so
    // that overlapping calls queue. Never taken by the reader thread, nor by
    // disconnect: that cuts the waiter off instead, so a call waiting
    // without limit cannot keep a disconnect (or, through it, the next
    // connect) waiting.
    std::mutex requestMutex;
    // Bulk reads sent and not yet answered, oldest first, at most
    // kMaxOutstandingBulkReads (older ones are taken to be lost). Guarded by
    // outstandingMutex, which is taken under requestMutex by callers, with no
    // other lock by the reader thread; only the bulk transport's lock is
    // taken under it (discardStaleBulkIn).
    static constexpr size_t kMaxOutstandingBulkReads = 16;
    std::vector<OutstandingBulkRead> outstandingBulkReads;
    std::mutex outstandingMutex;
    // Last, so that it is destroyed first: it joins the reader thread, which
    // uses everything above.
    std::unique_ptr<VantorAsyncSDK> async;
};

}  // namespace vantor
