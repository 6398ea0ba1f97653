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
#include "sdk/peripherals/GpioTypes.h"
#include "sdk/peripherals/SpiTypes.h"
#include "sdk/peripherals/UartTypes.h"

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

    // ------------------------------------------------ GPIO
    uint16_t gpioConfigurePin(GpioPinNumber pin, GpioFunctionality functionality,
                              GpioLogicLevel initialLevel);
    uint16_t gpioDigitalWrite(GpioPinNumber pin, GpioLogicLevel level);
    // `level` is left untouched when the response does not carry it.
    uint16_t gpioDigitalRead(GpioPinNumber pin, GpioLogicLevel& level);
    uint16_t gpioConfigureInterrupt(GpioPinNumber pin, GpioTriggerType trigger);
    uint16_t gpioDisableInterrupt(GpioPinNumber pin);

    // ------------------------------------------------ I/O voltage rail
    // One rail powers the I2C, SPI, UART and GPIO signals: setting it through
    // any name sets it for all four, and every getter reads the same value.
    uint16_t i2cSetBusVoltage(uint16_t millivolts, bool persist);
    uint16_t spiSetBusVoltage(uint16_t millivolts, bool persist);
    uint16_t uartSetBusVoltage(uint16_t millivolts, bool persist);
    uint16_t gpioSetVoltage(uint16_t millivolts, bool persist);
    uint16_t i2cUseExternalVoltage(bool persist);
    uint16_t spiUseExternalVoltage(bool persist);
    uint16_t uartUseExternalVoltage(bool persist);
    uint16_t gpioUseExternalVoltage(bool persist);
    // `millivolts` is left untouched when the response does not carry it.
    uint16_t i2cGetBusVoltage(uint16_t& millivolts);
    uint16_t spiGetBusVoltage(uint16_t& millivolts);
    uint16_t uartGetBusVoltage(uint16_t& millivolts);
    uint16_t gpioGetVoltage(uint16_t& millivolts);

    // ------------------------------------------------ I2C controller
    // Arguments and refusals as in VantorAsyncSDK. i2cRead delivers the data
    // bytes the response carries (at most `length`) whatever its status.
    // The bulk variants pass the bulk gate first; after a failed bulk read
    // `out` is empty.
    uint16_t i2cControllerInit(uint8_t bus, uint32_t frequency, uint8_t pullUp);
    uint16_t i2cSetParameters(uint8_t bus, uint32_t frequency, uint8_t pullUp);
    uint16_t i2cSetPullUpResistors(uint8_t bus, uint8_t value);
    uint16_t i2cDeinit(uint8_t bus);
    uint16_t i2cWrite(uint8_t bus, uint8_t address, const std::vector<uint8_t>& subaddress,
                      const std::vector<uint8_t>& data, bool nonStop);
    uint16_t i2cRead(uint8_t bus, uint8_t address, const std::vector<uint8_t>& subaddress,
                     uint16_t length, std::vector<uint8_t>& out, bool nonStop);
    // `out` receives the 7-bit addresses (one byte each) followed by the
    // 10-bit ones (u16 little-endian each), as the response carries them.
    // Null count pointers and a bus above 1 are refused before sending.
    uint16_t i2cScanBus(std::vector<uint8_t>& out, uint8_t* count7, uint8_t* count10, uint8_t bus,
                        bool include10bit);
    uint16_t i2cWriteBulk(uint8_t bus, uint8_t address, const std::vector<uint8_t>& subaddress,
                          const std::vector<uint8_t>& data, bool nonStop);
    uint16_t i2cReadBulk(uint8_t bus, uint8_t address, const std::vector<uint8_t>& subaddress,
                         uint16_t length, std::vector<uint8_t>& out, bool nonStop);

    // ------------------------------------------------ SPI controller
    // spiTransfer delivers the received bytes the response carries whatever
    // its status. The bulk variants pass the bulk gate first; after a failed
    // bulk transfer or read `out` is empty.
    uint16_t spiControllerInit(SpiBitOrder bitOrder, SpiMode mode, SpiDataWidth dataWidth,
                               SpiChipSelect chipSelect, SpiChipSelectPolarity chipSelectPolarity,
                               uint32_t frequency);
    uint16_t spiSetParameters(SpiBitOrder bitOrder, SpiMode mode, SpiDataWidth dataWidth,
                              SpiChipSelect chipSelect, SpiChipSelectPolarity chipSelectPolarity,
                              uint32_t frequency);
    uint16_t spiDeinit();
    uint16_t spiTransfer(const std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                         uint16_t transferLength);
    uint16_t spiTransferBulk(const std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                             uint16_t transferLength);
    uint16_t spiWriteBulk(const std::vector<uint8_t>& data);
    uint16_t spiReadBulk(const std::vector<uint8_t>& commandBytes, std::vector<uint8_t>& out,
                         uint16_t readLength);

    // ------------------------------------------------ UART
    uint16_t uartInit(UartBaudRate baudRate, UartHwHandshake handshake, UartParity parity,
                      UartDataSize dataSize, UartStopBit stopBit);
    uint16_t uartSetParameters(UartBaudRate baudRate, UartHwHandshake handshake, UartParity parity,
                               UartDataSize dataSize, UartStopBit stopBit);
    uint16_t uartDeinit();
    uint16_t uartSendMessage(const std::vector<uint8_t>& data);

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

    // What every synchronous bulk operation checks before it sends: not
    // connected gives SDK_ERROR_DISCONNECT (as the asynchronous method
    // would), then the bulk gate.
    uint16_t bulkPrecheck(uint16_t command, uint64_t length);
    // A bulk read: the precheck for `requested` bytes, the request, then the
    // data phase the response announces as a u16 at `countOffset` (at most
    // `requested` bytes, else SDK_ERROR_WRONG_RESPONSE), received into `out`
    // within kBulkDataTimeoutMs (else SDK_ERROR_TIMEOUT). A non-zero response
    // status is returned as is. `out` is empty after any failure.
    uint16_t bulkRead(uint16_t command, uint16_t requested, size_t countOffset, SendFn send,
                      std::vector<uint8_t>& out);

    // The operations behind the four public names of the rail commands.
    uint16_t setI2cSpiUartGpioVoltage(uint16_t millivolts, bool persist);
    uint16_t useExternalI2cSpiUartGpioVoltage(bool persist);
    uint16_t getI2cSpiUartGpioVoltage(uint16_t& millivolts);

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
