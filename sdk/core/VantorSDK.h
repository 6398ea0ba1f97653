#pragma once
// The blocking SDK class: each command method sends one request with a fresh
// transaction id, waits for the matching response (or the timeout) and
// returns its decoded status and outputs.
//
// Calls from several threads on one instance are serialised: a call waits
// until the previous one has finished. A notification callback runs on the
// reader thread and must not call a blocking method or disconnect: the
// response such a call waits for is read by that same thread. Such a call is
// refused at once instead of hanging: command methods return
// SDK_ERROR_WRONG_REQUEST, getBulkCapabilities returns the cache unchanged,
// connect and disconnect do nothing. An exception thrown by the notification
// callback is caught and dropped.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "sdk/core/Notification.h"
#include "sdk/core/ResponseWaiter.h"
#include "sdk/core/StatusCode.h"
#include "sdk/core/SystemTypes.h"

namespace vantor {

class VantorAsyncSDK;

class VantorSDK {
  public:
    struct BulkGroupSupport {
        uint8_t group = 0;
        uint16_t maxPayload = 0;  // 0: no limit of the adapter's
        uint32_t commandMask = 0;
    };

    struct BulkCapabilities {
        bool queried = false;
        uint8_t capabilityInfo = 0;
        bool supported = false;
        std::vector<BulkGroupSupport> groups;

        uint16_t maxPayloadFor(uint8_t group) const;
        bool supportsCommand(uint16_t command) const;
    };

    // Response timeout in milliseconds: -1 (the default) waits without limit,
    // 0 or another negative value does not wait at all.
    VantorSDK();
    explicit VantorSDK(int timeoutMs);
    ~VantorSDK();
    VantorSDK(const VantorSDK&) = delete;
    VantorSDK& operator=(const VantorSDK&) = delete;

    // Each connect drops the cached bulk capabilities.
    bool connect(const std::string& path);
    bool connectWithSerialNumber(const std::string& serialNumber);
    // Does not wait for a call in progress; that call ends with its timeout.
    void disconnect();
    bool isConnected() const;

    bool isBulkTransportAvailable() const;
    std::string getLastBulkError() const;

    // Install before connecting: the callback is replaced without a lock.
    void onNotification(NotificationCallback callback);
    uint64_t getDiscardedResponseCount() const;
    static std::string getVersion();

    // ------------------------------------------------ system commands
    uint16_t resetDevice();
    uint16_t enterBootMode();
    uint16_t getUsbString(std::vector<uint8_t>& out, uint8_t index);
    uint16_t getUsbConfig(UsbConfig& config);
    uint16_t setUsbConfig(const UsbConfig& config);
    uint16_t getDeviceInfo(DeviceInfo& info);

    // Cached result of the bulk capability query; queried on first use after
    // each connect.
    const BulkCapabilities& getBulkCapabilities();

  private:
    friend struct VantorSDKTestAccess;

    // A matched response message, header included, as the parse step of a
    // command method sees it. Reads past the end yield 0; the minimum length
    // given to transact() guarantees the fixed fields.
    class Response {
      public:
        explicit Response(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
        const uint8_t* data() const { return bytes_.data(); }
        size_t size() const { return bytes_.size(); }
        uint16_t status() const { return u16(4); }
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

    // What a response too short for its parameter block yields.
    enum class ShortResponse {
        WrongResponse,  // always SDK_ERROR_WRONG_RESPONSE
        Status,         // shortResponseStatus(): the firmware's error, if any
    };

    using SendFn = FunctionRef<uint16_t(uint16_t)>;
    using ParseFn = FunctionRef<uint16_t(const Response&)>;

    // The rule every synchronous command method follows. `send(id)` calls the
    // asynchronous method of the same name with the fresh transaction id and
    // returns its status. The response must hold `minParameters` bytes after
    // the 6-byte header and carry the request's id and `command`; then
    // `parse` copies the outputs. A parse returning void yields the
    // response's status; one returning uint16_t yields that value.
    //
    //     return transact(0x040E, 3, [&](uint16_t id) { return async_->getUsbConfig(id); },
    //                     [&](const Response& r) { config.cdcMode = r.u8(8); });
    template <typename Send, typename Parse>
    uint16_t transact(uint16_t command, size_t minParameters, Send&& send, Parse&& parse,
                      ShortResponse shortResponse = ShortResponse::WrongResponse) {
        if constexpr (std::is_void_v<std::invoke_result_t<Parse&, const Response&>>) {
            auto withStatus = [&parse](const Response& r) -> uint16_t {
                parse(r);
                return r.status();
            };
            return request(command, minParameters, shortResponse, send, withStatus);
        } else {
            return request(command, minParameters, shortResponse, send, parse);
        }
    }
    // A command whose response carries nothing but the status.
    template <typename Send>
    uint16_t transact(uint16_t command, Send&& send) {
        auto statusOnly = [](const Response& r) -> uint16_t { return r.status(); };
        return request(command, 0, ShortResponse::WrongResponse, send, statusOnly);
    }
    // Sends without awaiting any response (the adapter leaves its application
    // firmware): the asynchronous status is returned as is.
    uint16_t sendOnly(SendFn send);

    uint16_t request(uint16_t command, size_t minParameters, ShortResponse shortResponse,
                     SendFn send, ParseFn parse);
    // The same with requestMutex_ already held.
    uint16_t requestLocked(uint16_t command, size_t minParameters, ShortResponse shortResponse,
                           SendFn send, ParseFn parse);
    // True (and the call must be refused) on the reader thread.
    bool calledFromReaderThread() const;

    uint16_t generateTransactionId();
    void handleResponse(const std::vector<uint8_t>& message);
    void assignResponsePayload(size_t offset, size_t maxLength, std::vector<uint8_t>& out) const;
    uint16_t shortResponseStatus() const;
    // Checks a bulk operation before anything is sent: SUCCESS, or
    // SDK_ERROR_BULK_UNAVAILABLE (no bulk interface, or the adapter does not
    // offer this command over it) or SDK_ERROR_WRONG_REQUEST (length 0 or
    // above the adapter's limit for the group).
    uint16_t bulkGate(uint16_t command, uint64_t length);
    // getBulkCapabilities() with requestMutex_ already held.
    const BulkCapabilities& bulkCapabilitiesLocked();

    std::unique_ptr<ResponseWaiter> waiter_;
    std::unique_ptr<VantorAsyncSDK> async_;
    BulkCapabilities bulkCapabilities_;
    uint16_t lastTransactionId_ = 0;
    std::vector<uint8_t> response_;
    NotificationCallback notificationCallback_;
    // Held for a whole request so that overlapping calls queue.
    mutable std::mutex requestMutex_;
};

}  // namespace vantor
