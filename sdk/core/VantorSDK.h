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
#include <string>
#include <vector>

// Every family's records, enumerations and commands, so that this one
// include gives the whole API.
#include "sdk/core/Notification.h"
#include "sdk/core/StatusCode.h"
#include "sdk/core/SystemTypes.h"
#include "sdk/i3c/I3cTargetTypes.h"
#include "sdk/i3c/I3cTypes.h"
#include "sdk/peripherals/GpioTypes.h"
#include "sdk/peripherals/I2cTargetTypes.h"
#include "sdk/peripherals/I2cTypes.h"
#include "sdk/peripherals/SpiTargetTypes.h"
#include "sdk/peripherals/SpiTypes.h"
#include "sdk/peripherals/UartTypes.h"

namespace vantor {

class VantorSDK {
  public:
    // ------------------------------------------------ bulk capability records
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

    // ------------------------------------------------ life cycle and connection
    // Response timeout in milliseconds: -1 (the default) waits without limit,
    // 0 or another negative value does not wait at all.
    VantorSDK();
    explicit VantorSDK(int timeoutMs);
    ~VantorSDK();
    VantorSDK(const VantorSDK&) = delete;
    VantorSDK& operator=(const VantorSDK&) = delete;

    // Each connect drops the cached bulk capabilities. While connected, a
    // connect that the open adapter satisfies (its own path or serial
    // number, or an empty one) is a no-op returning true. One that names
    // another adapter opens that one first and, only if that succeeds,
    // closes the first and continues with the new one; if it fails, it
    // returns false and the first adapter stays open and in use.
    bool connect(const std::string& path);
    bool connectWithSerialNumber(const std::string& serialNumber);
    // Does not wait for a call in progress: a call waiting for its response
    // ends at once with SDK_ERROR_DISCONNECT, whatever the timeout, and a
    // bulk data phase gives up within 50 ms. Losing the device (reads fail)
    // ends a waiting call the same way.
    void disconnect();
    bool isConnected() const;

    bool isBulkTransportAvailable() const;
    std::string getLastBulkError() const;

    // ------------------------------------------------ notifications and diagnostics
    // Install before connecting: the callback is replaced without a lock.
    void onNotification(NotificationCallback callback);
    uint64_t getDiscardedResponseCount() const;
    static std::string getVersion();

    // Lets a waiting call be abandoned from outside (e.g. on a signal): while
    // a call waits for its response, `check` is called on the waiting thread
    // every `periodMs` milliseconds, with no SDK lock held; when it returns
    // true the call ends at once with SDK_ERROR_TIMEOUT, and the response, if
    // it comes later, is discarded like any late response. An empty `check`
    // removes it. Not called during a bulk data phase (at most 2 s).
    void setInterruptCheck(std::function<bool()> check, int periodMs = 100);

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

    // ------------------------------------------------ I2C target
    // Arguments and refusals as in VantorAsyncSDK. Init and set-parameters
    // set `memorySize` to 0 first, then to the size the adapter reports
    // (left 0 by a successful response too short to carry it). The memory
    // transfers pass the bulk gate first; a memory read takes the count its
    // response announces (SDK_ERROR_WRONG_RESPONSE when above `length`) from
    // the bulk IN endpoint, and leaves `out` empty after any failure.
    uint16_t i2cTargetInit(uint8_t bus, uint16_t address, I2cTargetAddressMode addressMode,
                           I2cTargetMemoryLayout memoryLayout, I2cTargetModel model,
                           uint32_t& memorySize);
    uint16_t i2cTargetSetParameters(uint8_t bus, uint16_t address,
                                    I2cTargetAddressMode addressMode,
                                    I2cTargetMemoryLayout memoryLayout, I2cTargetModel model,
                                    uint32_t& memorySize);
    uint16_t i2cTargetSetEepromConfig(uint16_t totalSize, uint16_t pageSize,
                                      uint32_t writeCycleUs, uint32_t eraseCycleUs,
                                      I2cTargetEepromBusyBehavior busyBehavior,
                                      uint8_t erasedValue, uint16_t writeProtectStart,
                                      uint16_t writeProtectEnd);
    uint16_t i2cTargetErase(I2cTargetEraseScope scope, uint16_t address);
    uint16_t i2cTargetSetRegisterRegion(uint16_t startAddress, uint16_t endAddress,
                                        I2cTargetRegisterAccess access, uint8_t width,
                                        uint8_t flags);
    uint16_t i2cTargetWriteMemory(uint16_t memoryAddress, const std::vector<uint8_t>& data);
    uint16_t i2cTargetReadMemory(uint16_t memoryAddress, uint16_t length,
                                 std::vector<uint8_t>& out);

    // ------------------------------------------------ SPI target
    // As the I2C target; `jedecId` points at 8 bytes (or is null for none).
    uint16_t spiTargetInit(SpiMode mode, SpiBitOrder bitOrder, SpiChipSelect chipSelect,
                           SpiChipSelectPolarity chipSelectPolarity, SpiTargetModel model,
                           SpiTargetEngine engine, uint32_t& memorySize);
    uint16_t spiTargetSetParameters(SpiMode mode, SpiBitOrder bitOrder, SpiChipSelect chipSelect,
                                    SpiChipSelectPolarity chipSelectPolarity,
                                    SpiTargetModel model, SpiTargetEngine engine,
                                    uint32_t& memorySize);
    uint16_t spiTargetSetFlashConfig(uint8_t addressBytes, uint16_t pageSize,
                                     uint32_t writeCycleUs, uint8_t jedecIdLength,
                                     const uint8_t* jedecId, uint8_t flags);
    uint16_t spiTargetWriteMemory(uint16_t memoryAddress, const std::vector<uint8_t>& data);
    uint16_t spiTargetReadMemory(uint16_t memoryAddress, uint16_t length,
                                 std::vector<uint8_t>& out);

    // ------------------------------------------------ I3C target
    // Arguments and refusals as in VantorAsyncSDK. i3cTargetReadMemory
    // empties `out` first, then delivers the data the response announces,
    // as far as it carries it, whatever its status.
    uint16_t i3cTargetInit(I3cTargetMemoryLayout layout, const std::vector<uint8_t>& pid,
                           I3cBCR bcr, uint8_t dcr, uint8_t staticAddress, uint16_t mwl,
                           uint16_t mrl);
    uint16_t i3cTargetSetParameters(I3cTargetMemoryLayout layout, const std::vector<uint8_t>& pid,
                                    I3cBCR bcr, uint8_t dcr, uint8_t staticAddress, uint16_t mwl,
                                    uint16_t mrl);
    uint16_t i3cTargetWriteMemory(uint16_t address, const std::vector<uint8_t>& data);
    uint16_t i3cTargetReadMemory(uint16_t address, uint16_t length, std::vector<uint8_t>& out);

  private:
    friend struct VantorSDKTestAccess;
    // The synchronous engine: the asynchronous instance, the response
    // waiter, the request lock and the cached bulk capabilities.
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantor
