#pragma once
// The blocking SDK class: each command method sends one request with a fresh
// transaction id, waits for the matching response (or the timeout) and
// returns its decoded status and outputs.
//
// Calls from several threads on one instance are serialised: a call waits
// until the previous one has finished. A notification callback runs on the
// reader thread and must not call a blocking method or disconnect: the
// response such a call waits for is read by that same thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/core/Notification.h"
#include "sdk/core/StatusCode.h"
#include "sdk/core/SystemTypes.h"

namespace vantor {

class VantorAsyncSDK;
class ResponseWaiter;

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

    VantorSDK();
    explicit VantorSDK(int timeoutMs);
    ~VantorSDK();
    VantorSDK(const VantorSDK&) = delete;
    VantorSDK& operator=(const VantorSDK&) = delete;

    bool connect(const std::string& path);
    bool connectWithSerialNumber(const std::string& serialNumber);
    void disconnect();
    bool isConnected() const;

    bool isBulkTransportAvailable() const;
    std::string getLastBulkError() const;

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
    uint16_t generateTransactionId();
    void handleResponse(const std::vector<uint8_t>& message);
    void assignResponsePayload(size_t offset, size_t maxLength, std::vector<uint8_t>& out) const;
    uint16_t shortResponseStatus() const;
    uint16_t bulkGate(uint16_t command, uint64_t length);

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
