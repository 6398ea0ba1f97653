#pragma once
// The non-blocking SDK class: each command method sends one request with the
// caller's transaction id and returns whether it left the host; every
// complete message that arrives (responses and notifications alike) goes to
// one response callback on the reader thread.
//
// Sending is atomic per instance: when several threads send through one
// instance, each message's reports (and a reopen with its resend) go out
// together. The response callback runs on the reader thread; it may send
// further requests, but a connect or disconnect made from it is ignored
// (the reader thread cannot stop itself). An exception thrown by the
// callback is caught and dropped so that the reader keeps running.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdk/core/StatusCode.h"
#include "sdk/core/SystemTypes.h"

namespace vantor {

namespace usb {
class HidBackend;
class UsbBackend;
}  // namespace usb

class VantorAsyncSDK {
  public:
    using ResponseCallback = std::function<void(const std::vector<uint8_t>&)>;

    VantorAsyncSDK();
    // Reaches the devices through these backends instead of the default ones
    // (which serve the system's devices and the virtual adapters). Both must
    // outlive the instance.
    VantorAsyncSDK(usb::HidBackend& hid, usb::UsbBackend& usb);
    ~VantorAsyncSDK();
    VantorAsyncSDK(const VantorAsyncSDK&) = delete;
    VantorAsyncSDK& operator=(const VantorAsyncSDK&) = delete;

    bool connect(const std::string& path);
    bool connectWithSerialNumber(const std::string& serialNumber);
    void disconnect();
    bool isConnected() const { return connected_; }

    // Replaces the callback that receives every complete message. The buffer
    // is valid only during the call. Install it before connecting: it is
    // replaced without a lock.
    void onResponse(ResponseCallback callback);

    // Bulk interface of the connection.
    bool receivePayload(uint8_t* destination, uint64_t length, uint32_t timeoutMs);
    bool isBulkTransportAvailable() const;
    std::string getLastBulkError() const;

    static std::string getVersion();

    // ------------------------------------------------ system commands
    uint16_t resetDevice(uint16_t transactionId);
    uint16_t enterBootMode(uint16_t transactionId);
    uint16_t getUsbString(uint16_t transactionId, uint8_t index);
    uint16_t getAnalogMeasurements(uint16_t transactionId);
    uint16_t getUsbConfig(uint16_t transactionId);
    uint16_t setUsbConfig(uint16_t transactionId, const UsbConfig& config);
    uint16_t getBulkCapabilities(uint16_t transactionId);

  private:
    friend class VantorSDK;
    friend struct VantorAsyncSDKTestAccess;
    struct AsyncSdkImpl;

    // Sends one whole request message: SUCCESS when every segment was
    // written, SDK_ERROR_DISCONNECT when not connected or the write failed.
    uint16_t send(const std::vector<uint8_t>& message);
    // The same, then `length` bytes of `payload` on the bulk OUT endpoint
    // (timeout kBulkDataTimeoutMs), both under the send lock: SUCCESS,
    // SDK_ERROR_DISCONNECT when the request was not written, or
    // SDK_ERROR_TIMEOUT when the data phase failed.
    uint16_t sendWithPayload(const std::vector<uint8_t>& message, const uint8_t* payload,
                             uint64_t length);
    // send() with the send lock already held.
    uint16_t sendHeld(const std::vector<uint8_t>& message);
    // Writes a data phase on the bulk OUT endpoint.
    bool sendPayload(const uint8_t* source, uint64_t length, uint32_t timeoutMs);
    // True on this instance's reader thread, i.e. inside the response
    // callback.
    bool onReaderThread() const;
    bool open(const std::string& path, const std::string& serialNumber);

    std::unique_ptr<AsyncSdkImpl> impl_;
    std::atomic<bool> connected_{false};
};

}  // namespace vantor
