// SPDX-License-Identifier: MIT
#pragma once
// The blocking SDK class: each command method sends one request with a fresh
// transaction id, waits for the matching response (or the timeout) and
// returns its decoded status and outputs.
//
// Calls from several threads on one instance are serialised: a call waits
// until the previous one has finished. A batch (Batch.h) keeps several
// requests in flight, and counts as one call: a call from another thread
// waits until the whole batch has finished. A notification callback runs on
// the reader thread and must not call a blocking method or disconnect: the
// response such a call waits for is read by that same thread. Such a call is
// refused at once instead of hanging: command methods return
// SDK_ERROR_WRONG_REQUEST, getBulkCapabilities returns the cache unchanged,
// connect and disconnect do nothing. An exception thrown by the notification
// callback is caught and dropped.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

    // Traffic capture into a pcapng file, as VantorAsyncSDK::startTrace
    // describes: 0 or the errno of the failure to create the file. Not
    // serialised with requests: a trace started during a call records the
    // rest of it.
    int startTrace(const std::string& path);
    int stopTrace(std::string* failedPath = nullptr);
    bool isTracing() const;
    int traceFailure(std::string* path = nullptr) const;

    // ------------------------------------------------ notifications and diagnostics
    // Install before connecting: the callback is replaced without a lock.
    void onNotification(NotificationCallback callback);
    // Called on the reader thread, once per loss, when reads start to fail
    // (the adapter was unplugged or stopped answering), after a waiting call
    // has been ended. Install before connecting, like onNotification; it
    // must return promptly.
    void onConnectionLost(std::function<void()> callback);
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

    // ------------------------------------------------ I3C controller
    // Arguments and refusals as in VantorAsyncSDK. i3cGetDeviceTable
    // replaces `out` with the announced entries only when the response holds
    // them all (else SDK_ERROR_WRONG_RESPONSE, `out` untouched).
    // i3cGetBusVoltage reads the two I3C port voltages of the analog
    // measurements, in the adapter's order; they are left untouched when
    // the response does not carry them.
    uint16_t i3cControllerInit(I3cPushPullRate pushPull, I3cOpenDrainTransferRate openDrain,
                               I2cTransferRate i2cRate, I3cDriveStrength driveStrength);
    uint16_t i3cSetParameters(I3cPushPullRate pushPull, I3cOpenDrainTransferRate openDrain,
                              I2cTransferRate i2cRate, I3cDriveStrength driveStrength);
    uint16_t i3cInitBus(std::vector<I3cTargetInfo> targets);
    uint16_t i3cResetBus();
    uint16_t i3cGetDeviceTable(std::vector<I3cTargetInfo>& out);
    uint16_t i3cSetTargetDeviceConfiguration(uint8_t address,
                                             I3cTargetConfiguration configuration);
    uint16_t i3cTargetResetPattern();
    uint16_t i3cHdrExitPattern();
    uint16_t i3cSetBusVoltage(uint16_t millivolts);
    uint16_t i3cUseExternalVoltage(bool enable);
    uint16_t i3cGetBusVoltage(uint16_t& first, uint16_t& second);

    // ------------------------------------------------ I3C private transfers
    // Reads deliver the data bytes the response announces and carries
    // whatever its status (an incomplete read keeps what arrived). The bulk
    // variants pass the bulk gate first; after a failed bulk read `out` is
    // empty.
    uint16_t i3cSdrWrite(uint8_t address, const std::vector<uint8_t>& subaddress,
                         const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cSdrRead(uint8_t address, const std::vector<uint8_t>& subaddress, uint16_t length,
                        std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cHdrDdrWrite(uint8_t address, uint8_t command, const std::vector<uint8_t>& data,
                            I3cTransferFlags flags);
    uint16_t i3cHdrDdrRead(uint8_t address, uint8_t command, uint16_t length,
                           std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cLegacyI2cWrite(uint8_t address, const std::vector<uint8_t>& subaddress,
                               const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cLegacyI2cRead(uint8_t address, const std::vector<uint8_t>& subaddress,
                              uint16_t length, std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cSdrWriteBulk(uint8_t address, const std::vector<uint8_t>& subaddress,
                             const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cSdrReadBulk(uint8_t address, const std::vector<uint8_t>& subaddress,
                            uint16_t length, std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cHdrDdrWriteBulk(uint8_t address, uint8_t command, const std::vector<uint8_t>& data,
                                I3cTransferFlags flags);
    uint16_t i3cHdrDdrReadBulk(uint8_t address, uint8_t command, uint16_t length,
                               std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cLegacyI2cWriteBulk(uint8_t address, const std::vector<uint8_t>& subaddress,
                                   const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cLegacyI2cReadBulk(uint8_t address, const std::vector<uint8_t>& subaddress,
                                  uint16_t length, std::vector<uint8_t>& out,
                                  I3cTransferFlags flags);

    // ------------------------------------------------ I3C common command codes
    // Arguments and refusals as in VantorAsyncSDK. Byte-list outputs receive
    // the data the response announces and carries whatever its status; the
    // single-value outputs are written only when the response holds them
    // (a shorter one yields its non-zero status, else
    // SDK_ERROR_WRONG_RESPONSE). GETMRL leaves `ibiPayloadSize` empty unless
    // the target sent it; RSTACT with direction READ writes `readBack`.
    uint16_t i3cCccRSTDAA(I3cTransferFlags flags);
    uint16_t i3cCccENTDAA(std::vector<I3cTargetInfo> targets);
    uint16_t i3cCccSETAASA(const std::vector<uint8_t>& staticAddresses, I3cTransferFlags flags);
    uint16_t i3cCccSETDASA(uint8_t staticAddress, uint8_t dynamicAddress, I3cTransferFlags flags);
    uint16_t i3cCccSETNEWDA(uint8_t oldAddress, uint8_t newAddress, I3cTransferFlags flags);
    uint16_t i3cCccGETPID(uint8_t address, std::vector<uint8_t>& pid, I3cTransferFlags flags);
    uint16_t i3cCccGETBCR(uint8_t address, uint8_t& bcr, I3cTransferFlags flags);
    uint16_t i3cCccGETDCR(uint8_t address, uint8_t& dcr, I3cTransferFlags flags);
    uint16_t i3cCccGETSTATUS(uint8_t address, std::optional<uint8_t> definingByte,
                             std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cCccGETCAPS(uint8_t address, std::optional<uint8_t> definingByte,
                           std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cCccGETMXDS(uint8_t address, std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cCccGETXTIME(uint8_t address, std::vector<uint8_t>& out, I3cTransferFlags flags);
    uint16_t i3cCccGETMWL(uint8_t address, uint16_t& mwl, I3cTransferFlags flags);
    uint16_t i3cCccGETMRL(uint8_t address, uint16_t& mrl, std::optional<uint8_t>& ibiPayloadSize,
                          I3cTransferFlags flags);
    uint16_t i3cCccSETMWLBroadcast(uint16_t mwl, I3cTransferFlags flags);
    uint16_t i3cCccSETMWLDirect(uint8_t address, uint16_t mwl, I3cTransferFlags flags);
    uint16_t i3cCccSETMRLBroadcast(uint16_t mrl, std::optional<uint8_t> ibiPayloadSize,
                                   I3cTransferFlags flags);
    uint16_t i3cCccSETMRLDirect(uint8_t address, uint16_t mrl,
                                std::optional<uint8_t> ibiPayloadSize, I3cTransferFlags flags);
    uint16_t i3cCccENECBroadcast(uint8_t events, I3cTransferFlags flags);
    uint16_t i3cCccDISECBroadcast(uint8_t events, I3cTransferFlags flags);
    uint16_t i3cCccENECDirect(uint8_t address, uint8_t events, I3cTransferFlags flags);
    uint16_t i3cCccDISECDirect(uint8_t address, uint8_t events, I3cTransferFlags flags);
    uint16_t i3cCccENTAS0Broadcast(I3cTransferFlags flags);
    uint16_t i3cCccENTAS1Broadcast(I3cTransferFlags flags);
    uint16_t i3cCccENTAS2Broadcast(I3cTransferFlags flags);
    uint16_t i3cCccENTAS3Broadcast(I3cTransferFlags flags);
    uint16_t i3cCccENTAS0Direct(uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccENTAS1Direct(uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccENTAS2Direct(uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccENTAS3Direct(uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccRSTACTBroadcast(I3cTargetResetDefByte definingByte, I3cTransferFlags flags);
    uint16_t i3cCccRSTACTDirect(uint8_t address, I3cTargetResetDefByte definingByte,
                                I3cTransferDirection direction, std::optional<uint8_t>& readBack,
                                I3cTransferFlags flags);
    uint16_t i3cCccRSTGRPABroadcast(I3cTransferFlags flags);
    uint16_t i3cCccRSTGRPADirect(uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccSETGRPADirect(uint8_t address, uint8_t groupAddress, I3cTransferFlags flags);
    uint16_t i3cCccSETXTIMEBroadcast(uint8_t subCommand, const std::vector<uint8_t>& optionalData,
                                     I3cTransferFlags flags);
    uint16_t i3cCccSETXTIMEDirect(uint8_t address, uint8_t subCommand,
                                  const std::vector<uint8_t>& optionalData, I3cTransferFlags flags);
    uint16_t i3cCccSETBUSCONBroadcast(uint8_t context, const std::vector<uint8_t>& optionalData,
                                      I3cTransferFlags flags);
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
    uint16_t i2cTargetSetParameters(uint8_t bus, uint16_t address, I2cTargetAddressMode addressMode,
                                    I2cTargetMemoryLayout memoryLayout, I2cTargetModel model,
                                    uint32_t& memorySize);
    uint16_t i2cTargetSetEepromConfig(uint16_t totalSize, uint16_t pageSize, uint32_t writeCycleUs,
                                      uint32_t eraseCycleUs,
                                      I2cTargetEepromBusyBehavior busyBehavior, uint8_t erasedValue,
                                      uint16_t writeProtectStart, uint16_t writeProtectEnd);
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
                                    SpiChipSelectPolarity chipSelectPolarity, SpiTargetModel model,
                                    SpiTargetEngine engine, uint32_t& memorySize);
    uint16_t spiTargetSetFlashConfig(uint8_t addressBytes, uint16_t pageSize, uint32_t writeCycleUs,
                                     uint8_t jedecIdLength, const uint8_t* jedecId, uint8_t flags);
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
    friend class Batch;
    // The synchronous engine: the asynchronous instance, the response
    // waiter, the request lock and the cached bulk capabilities.
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantor
