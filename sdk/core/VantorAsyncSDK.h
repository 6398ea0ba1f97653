// SPDX-License-Identifier: MIT
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
#include <optional>
#include <string>
#include <vector>

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

    // While connected, a connect the open adapter satisfies (same path or
    // serial number, or an empty one) returns true and changes nothing; one
    // naming another adapter opens it first and only then closes the first,
    // or returns false leaving the first open.
    bool connect(const std::string& path);
    bool connectWithSerialNumber(const std::string& serialNumber);
    void disconnect();
    bool isConnected() const { return connected_; }

    // Replaces the callback that receives every complete message. The buffer
    // is valid only during the call. Install it before connecting: it is
    // replaced without a lock.
    void onResponse(ResponseCallback callback);

    // Traffic capture: every HID report and bulk transfer of this instance's
    // connections, in both directions, from now until stopTrace, written to
    // `path` as a pcapng file (Linux USB capture). Works connected or not,
    // and goes on across connects and disconnects. Starting while a trace
    // runs replaces it: the first file is closed complete and the next
    // transfer goes to the new one. Returns 0, or the errno of the failure
    // to create the file (the running trace, if any, then goes on). Every
    // packet is flushed as it is written, so the file is readable whenever
    // the process ends. Any thread, also the reader thread.
    int startTrace(const std::string& path);
    // A trace stops itself when its file cannot take the next packet (disk
    // full, file size limit): isTracing() turns false, the file ends with
    // the last whole packet, and traceFailure() gives the errno of the failed
    // write (and the file's path) until stopTrace or the next startTrace.
    bool isTracing() const;
    int traceFailure(std::string* path = nullptr) const;
    // Closes the trace file; nothing happens when no trace runs. Returns 0,
    // or the errno of the write failure that had stopped the trace (with its
    // file's path in `failedPath`), reported this once.
    int stopTrace(std::string* failedPath = nullptr);

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

    // ------------------------------------------------ GPIO
    // The initial level is sent only for an output.
    uint16_t gpioConfigurePin(uint16_t transactionId, GpioPinNumber pin,
                              GpioFunctionality functionality, GpioLogicLevel initialLevel);
    uint16_t gpioDigitalWrite(uint16_t transactionId, GpioPinNumber pin, GpioLogicLevel level);
    uint16_t gpioDigitalRead(uint16_t transactionId, GpioPinNumber pin);
    uint16_t gpioConfigureInterrupt(uint16_t transactionId, GpioPinNumber pin,
                                    GpioTriggerType trigger);
    uint16_t gpioDisableInterrupt(uint16_t transactionId, GpioPinNumber pin);

    // ------------------------------------------------ I/O voltage rail
    // One rail powers the I2C, SPI, UART and GPIO signals: the four names of
    // each operation send the same request. The rail voltage is read back
    // with getAnalogMeasurements (u16 millivolts at offset 6 of its response).
    uint16_t i2cSetBusVoltage(uint16_t transactionId, uint16_t millivolts, bool persist);
    uint16_t spiSetBusVoltage(uint16_t transactionId, uint16_t millivolts, bool persist);
    uint16_t uartSetBusVoltage(uint16_t transactionId, uint16_t millivolts, bool persist);
    uint16_t gpioSetVoltage(uint16_t transactionId, uint16_t millivolts, bool persist);
    uint16_t i2cUseExternalVoltage(uint16_t transactionId, bool persist);
    uint16_t spiUseExternalVoltage(uint16_t transactionId, bool persist);
    uint16_t uartUseExternalVoltage(uint16_t transactionId, bool persist);
    uint16_t gpioUseExternalVoltage(uint16_t transactionId, bool persist);

    // ------------------------------------------------ I2C controller
    // Bus numbers and pull-up selections (I2cBus, I2cPullUp) travel as given.
    // A subaddress is 0 to 4 bytes, most significant first; more is refused
    // with SDK_ERROR_WRONG_REQUEST, as is a write of more than 65535 bytes.
    // The bulk variants return SDK_ERROR_BULK_UNAVAILABLE without a bulk
    // interface and move 1 to 32768 bytes; i2cWriteBulk writes its data
    // phase right after the request (SDK_ERROR_TIMEOUT when that fails).
    uint16_t i2cControllerInit(uint16_t transactionId, uint8_t bus, uint32_t frequency,
                               uint8_t pullUp);
    uint16_t i2cSetParameters(uint16_t transactionId, uint8_t bus, uint32_t frequency,
                              uint8_t pullUp);
    uint16_t i2cSetPullUpResistors(uint16_t transactionId, uint8_t bus, uint8_t value);
    uint16_t i2cDeinit(uint16_t transactionId, uint8_t bus);
    uint16_t i2cWrite(uint16_t transactionId, uint8_t bus, uint8_t address,
                      const std::vector<uint8_t>& subaddress, const std::vector<uint8_t>& data,
                      bool nonStop);
    uint16_t i2cRead(uint16_t transactionId, uint8_t bus, uint8_t address,
                     const std::vector<uint8_t>& subaddress, uint16_t length, bool nonStop);
    // Refuses a bus other than 0 and 1.
    uint16_t i2cScanBus(uint16_t transactionId, uint8_t bus, bool include10bit);
    uint16_t i2cWriteBulk(uint16_t transactionId, uint8_t bus, uint8_t address,
                          const std::vector<uint8_t>& subaddress, const std::vector<uint8_t>& data,
                          bool nonStop);
    uint16_t i2cReadBulk(uint16_t transactionId, uint8_t bus, uint8_t address,
                         const std::vector<uint8_t>& subaddress, uint16_t length, bool nonStop);

    // ------------------------------------------------ SPI controller
    // spiTransfer sends at most 1024 bytes and clocks at most 1024. The bulk
    // variants (SDK_ERROR_BULK_UNAVAILABLE without a bulk interface) move 1
    // to 32768 bytes; spiTransferBulk sends at most 1024 bytes inline,
    // spiReadBulk at most 65535 command bytes; spiWriteBulk writes its data
    // phase right after the request (SDK_ERROR_TIMEOUT when that fails).
    uint16_t spiControllerInit(uint16_t transactionId, SpiBitOrder bitOrder, SpiMode mode,
                               SpiDataWidth dataWidth, SpiChipSelect chipSelect,
                               SpiChipSelectPolarity chipSelectPolarity, uint32_t frequency);
    uint16_t spiSetParameters(uint16_t transactionId, SpiBitOrder bitOrder, SpiMode mode,
                              SpiDataWidth dataWidth, SpiChipSelect chipSelect,
                              SpiChipSelectPolarity chipSelectPolarity, uint32_t frequency);
    uint16_t spiDeinit(uint16_t transactionId);
    uint16_t spiTransfer(uint16_t transactionId, const std::vector<uint8_t>& data,
                         uint16_t transferLength);
    uint16_t spiTransferBulk(uint16_t transactionId, const std::vector<uint8_t>& data,
                             uint16_t transferLength);
    uint16_t spiWriteBulk(uint16_t transactionId, const std::vector<uint8_t>& data);
    uint16_t spiReadBulk(uint16_t transactionId, const std::vector<uint8_t>& commandBytes,
                         uint16_t readLength);

    // ------------------------------------------------ UART
    // Received bytes arrive as UART notifications. A message of more than
    // 65535 bytes is refused with SDK_ERROR_WRONG_REQUEST.
    uint16_t uartInit(uint16_t transactionId, UartBaudRate baudRate, UartHwHandshake handshake,
                      UartParity parity, UartDataSize dataSize, UartStopBit stopBit);
    uint16_t uartSetParameters(uint16_t transactionId, UartBaudRate baudRate,
                               UartHwHandshake handshake, UartParity parity, UartDataSize dataSize,
                               UartStopBit stopBit);
    uint16_t uartDeinit(uint16_t transactionId);
    uint16_t uartSendMessage(uint16_t transactionId, const std::vector<uint8_t>& data);

    // ------------------------------------------------ I3C controller
    // Rates, drive strength and the configuration byte travel as given. A
    // target list of more than 255 entries is refused with
    // SDK_ERROR_WRONG_REQUEST (its count is one byte). The I3C port voltage
    // is read back with getAnalogMeasurements (u16 millivolts at offsets 8
    // and 10 of its response).
    uint16_t i3cControllerInit(uint16_t transactionId, I3cPushPullRate pushPull,
                               I3cOpenDrainTransferRate openDrain, I2cTransferRate i2cRate,
                               I3cDriveStrength driveStrength);
    uint16_t i3cSetParameters(uint16_t transactionId, I3cPushPullRate pushPull,
                              I3cOpenDrainTransferRate openDrain, I2cTransferRate i2cRate,
                              I3cDriveStrength driveStrength);
    uint16_t i3cInitBus(uint16_t transactionId, std::vector<I3cTargetInfo> targets);
    uint16_t i3cResetBus(uint16_t transactionId);
    uint16_t i3cGetDeviceTable(uint16_t transactionId);
    uint16_t i3cSetTargetDeviceConfiguration(uint16_t transactionId, uint8_t address,
                                             I3cTargetConfiguration configuration);
    uint16_t i3cTargetResetPattern(uint16_t transactionId);
    uint16_t i3cHdrExitPattern(uint16_t transactionId);
    uint16_t i3cSetBusVoltage(uint16_t transactionId, uint16_t millivolts);
    uint16_t i3cUseExternalVoltage(uint16_t transactionId, bool enable);

    // ------------------------------------------------ I3C private transfers
    // A sub-address is 0 to 4 bytes in caller order; more is refused with
    // SDK_ERROR_WRONG_REQUEST, as is a HID write of more than 65535 bytes.
    // The bulk variants return SDK_ERROR_BULK_UNAVAILABLE without a bulk
    // interface and move 1 to 32767 bytes (HDR-DDR: an even 2 to 1024);
    // a bulk write sends its data phase right after the request
    // (SDK_ERROR_TIMEOUT when that fails).
    uint16_t i3cSdrWrite(uint16_t transactionId, uint8_t address,
                         const std::vector<uint8_t>& subaddress, const std::vector<uint8_t>& data,
                         I3cTransferFlags flags);
    uint16_t i3cSdrRead(uint16_t transactionId, uint8_t address,
                        const std::vector<uint8_t>& subaddress, uint16_t length,
                        I3cTransferFlags flags);
    uint16_t i3cHdrDdrWrite(uint16_t transactionId, uint8_t address, uint8_t command,
                            const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cHdrDdrRead(uint16_t transactionId, uint8_t address, uint8_t command,
                           uint16_t length, I3cTransferFlags flags);
    uint16_t i3cLegacyI2cWrite(uint16_t transactionId, uint8_t address,
                               const std::vector<uint8_t>& subaddress,
                               const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cLegacyI2cRead(uint16_t transactionId, uint8_t address,
                              const std::vector<uint8_t>& subaddress, uint16_t length,
                              I3cTransferFlags flags);
    uint16_t i3cSdrWriteBulk(uint16_t transactionId, uint8_t address,
                             const std::vector<uint8_t>& subaddress,
                             const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cSdrReadBulk(uint16_t transactionId, uint8_t address,
                            const std::vector<uint8_t>& subaddress, uint16_t length,
                            I3cTransferFlags flags);
    uint16_t i3cHdrDdrWriteBulk(uint16_t transactionId, uint8_t address, uint8_t command,
                                const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cHdrDdrReadBulk(uint16_t transactionId, uint8_t address, uint8_t command,
                               uint16_t length, I3cTransferFlags flags);
    uint16_t i3cLegacyI2cWriteBulk(uint16_t transactionId, uint8_t address,
                                   const std::vector<uint8_t>& subaddress,
                                   const std::vector<uint8_t>& data, I3cTransferFlags flags);
    uint16_t i3cLegacyI2cReadBulk(uint16_t transactionId, uint8_t address,
                                  const std::vector<uint8_t>& subaddress, uint16_t length,
                                  I3cTransferFlags flags);

    // ------------------------------------------------ I3C common command codes
    // The generic form sends its arguments unchanged; data on a read, or
    // more than 255 data bytes, is refused with SDK_ERROR_WRONG_REQUEST. The
    // named forms send what their command defines; the same refusal covers
    // lists whose length byte cannot describe them (ENTDAA above 15
    // targets, SETAASA above 255 addresses, SETXTIME and SETBUSCON above 255
    // bytes in all). An empty optional byte list sends nothing extra.
    uint16_t i3cCccTransfer(uint16_t transactionId, uint8_t address,
                            I3cTransferDirection direction, I3cTransferMode mode,
                            I3cTransferFlags flags, I3cCccType cccType, uint8_t length, CCC ccc,
                            uint8_t definingByte, const std::vector<uint8_t>& data);
    uint16_t i3cCccRSTDAA(uint16_t transactionId, I3cTransferFlags flags);
    uint16_t i3cCccENTDAA(uint16_t transactionId, std::vector<I3cTargetInfo> targets);
    uint16_t i3cCccSETAASA(uint16_t transactionId, const std::vector<uint8_t>& staticAddresses,
                           I3cTransferFlags flags);
    uint16_t i3cCccSETDASA(uint16_t transactionId, uint8_t staticAddress, uint8_t dynamicAddress,
                           I3cTransferFlags flags);
    uint16_t i3cCccSETNEWDA(uint16_t transactionId, uint8_t oldAddress, uint8_t newAddress,
                            I3cTransferFlags flags);
    uint16_t i3cCccGETPID(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccGETBCR(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccGETDCR(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccGETSTATUS(uint16_t transactionId, uint8_t address,
                             std::optional<uint8_t> definingByte, I3cTransferFlags flags);
    uint16_t i3cCccGETCAPS(uint16_t transactionId, uint8_t address,
                           std::optional<uint8_t> definingByte, I3cTransferFlags flags);
    uint16_t i3cCccGETMXDS(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccGETXTIME(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccGETMWL(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccGETMRL(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccSETMWLBroadcast(uint16_t transactionId, uint16_t mwl, I3cTransferFlags flags);
    uint16_t i3cCccSETMWLDirect(uint16_t transactionId, uint8_t address, uint16_t mwl,
                                I3cTransferFlags flags);
    uint16_t i3cCccSETMRLBroadcast(uint16_t transactionId, uint16_t mrl,
                                   std::optional<uint8_t> ibiPayloadSize, I3cTransferFlags flags);
    uint16_t i3cCccSETMRLDirect(uint16_t transactionId, uint8_t address, uint16_t mrl,
                                std::optional<uint8_t> ibiPayloadSize, I3cTransferFlags flags);
    uint16_t i3cCccENECBroadcast(uint16_t transactionId, uint8_t events, I3cTransferFlags flags);
    uint16_t i3cCccDISECBroadcast(uint16_t transactionId, uint8_t events, I3cTransferFlags flags);
    uint16_t i3cCccENECDirect(uint16_t transactionId, uint8_t address, uint8_t events,
                              I3cTransferFlags flags);
    uint16_t i3cCccDISECDirect(uint16_t transactionId, uint8_t address, uint8_t events,
                               I3cTransferFlags flags);
    uint16_t i3cCccENTAS0Broadcast(uint16_t transactionId, I3cTransferFlags flags);
    uint16_t i3cCccENTAS1Broadcast(uint16_t transactionId, I3cTransferFlags flags);
    uint16_t i3cCccENTAS2Broadcast(uint16_t transactionId, I3cTransferFlags flags);
    uint16_t i3cCccENTAS3Broadcast(uint16_t transactionId, I3cTransferFlags flags);
    uint16_t i3cCccENTAS0Direct(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccENTAS1Direct(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccENTAS2Direct(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccENTAS3Direct(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccRSTACTBroadcast(uint16_t transactionId, I3cTargetResetDefByte definingByte,
                                   I3cTransferFlags flags);
    uint16_t i3cCccRSTACTDirect(uint16_t transactionId, uint8_t address,
                                I3cTargetResetDefByte definingByte,
                                I3cTransferDirection direction, I3cTransferFlags flags);
    uint16_t i3cCccRSTGRPABroadcast(uint16_t transactionId, I3cTransferFlags flags);
    uint16_t i3cCccRSTGRPADirect(uint16_t transactionId, uint8_t address, I3cTransferFlags flags);
    uint16_t i3cCccSETGRPADirect(uint16_t transactionId, uint8_t address, uint8_t groupAddress,
                                 I3cTransferFlags flags);
    uint16_t i3cCccSETXTIMEBroadcast(uint16_t transactionId, uint8_t subCommand,
                                     const std::vector<uint8_t>& optionalData,
                                     I3cTransferFlags flags);
    uint16_t i3cCccSETXTIMEDirect(uint16_t transactionId, uint8_t address, uint8_t subCommand,
                                  const std::vector<uint8_t>& optionalData,
                                  I3cTransferFlags flags);
    uint16_t i3cCccSETBUSCONBroadcast(uint16_t transactionId, uint8_t context,
                                      const std::vector<uint8_t>& optionalData,
                                      I3cTransferFlags flags);
    // ------------------------------------------------ I2C target
    // The memory transfers move their data over the bulk interface
    // (SDK_ERROR_BULK_UNAVAILABLE without it), 1 to 32768 bytes each (else
    // SDK_ERROR_WRONG_REQUEST); i2cTargetWriteMemory writes its data phase
    // right after the request (SDK_ERROR_TIMEOUT when that fails). Every
    // other value travels as given.
    uint16_t i2cTargetInit(uint16_t transactionId, uint8_t bus, uint16_t address,
                           I2cTargetAddressMode addressMode, I2cTargetMemoryLayout memoryLayout,
                           I2cTargetModel model);
    uint16_t i2cTargetSetParameters(uint16_t transactionId, uint8_t bus, uint16_t address,
                                    I2cTargetAddressMode addressMode,
                                    I2cTargetMemoryLayout memoryLayout, I2cTargetModel model);
    uint16_t i2cTargetSetEepromConfig(uint16_t transactionId, uint16_t totalSize,
                                      uint16_t pageSize, uint32_t writeCycleUs,
                                      uint32_t eraseCycleUs,
                                      I2cTargetEepromBusyBehavior busyBehavior,
                                      uint8_t erasedValue, uint16_t writeProtectStart,
                                      uint16_t writeProtectEnd);
    uint16_t i2cTargetErase(uint16_t transactionId, I2cTargetEraseScope scope, uint16_t address);
    uint16_t i2cTargetSetRegisterRegion(uint16_t transactionId, uint16_t startAddress,
                                        uint16_t endAddress, I2cTargetRegisterAccess access,
                                        uint8_t width, uint8_t flags);
    uint16_t i2cTargetWriteMemory(uint16_t transactionId, uint16_t memoryAddress,
                                  const std::vector<uint8_t>& data);
    uint16_t i2cTargetReadMemory(uint16_t transactionId, uint16_t memoryAddress, uint16_t length);

    // ------------------------------------------------ SPI target
    // Memory transfers as for the I2C target. The flash configuration sends
    // `jedecIdLength` and the 8 bytes at `jedecId` (null: 8 zeros); a length
    // above 8, or a non-zero length without bytes, is refused with
    // SDK_ERROR_WRONG_REQUEST.
    uint16_t spiTargetInit(uint16_t transactionId, SpiMode mode, SpiBitOrder bitOrder,
                           SpiChipSelect chipSelect, SpiChipSelectPolarity chipSelectPolarity,
                           SpiTargetModel model, SpiTargetEngine engine);
    uint16_t spiTargetSetParameters(uint16_t transactionId, SpiMode mode, SpiBitOrder bitOrder,
                                    SpiChipSelect chipSelect,
                                    SpiChipSelectPolarity chipSelectPolarity,
                                    SpiTargetModel model, SpiTargetEngine engine);
    uint16_t spiTargetSetFlashConfig(uint16_t transactionId, uint8_t addressBytes,
                                     uint16_t pageSize, uint32_t writeCycleUs,
                                     uint8_t jedecIdLength, const uint8_t* jedecId, uint8_t flags);
    uint16_t spiTargetWriteMemory(uint16_t transactionId, uint16_t memoryAddress,
                                  const std::vector<uint8_t>& data);
    uint16_t spiTargetReadMemory(uint16_t transactionId, uint16_t memoryAddress, uint16_t length);

    // ------------------------------------------------ I3C target
    // The PID is 6 bytes, most significant first; a static address above
    // 127, or an MWL or MRL above 1024, is refused with
    // SDK_ERROR_WRONG_REQUEST. The memory commands refuse an address of 1024
    // or more and more than 1024 bytes; whether address plus length fits is
    // the adapter's to decide.
    uint16_t i3cTargetInit(uint16_t transactionId, I3cTargetMemoryLayout layout,
                           const std::vector<uint8_t>& pid, I3cBCR bcr, uint8_t dcr,
                           uint8_t staticAddress, uint16_t mwl, uint16_t mrl);
    uint16_t i3cTargetSetParameters(uint16_t transactionId, I3cTargetMemoryLayout layout,
                                    const std::vector<uint8_t>& pid, I3cBCR bcr, uint8_t dcr,
                                    uint8_t staticAddress, uint16_t mwl, uint16_t mrl);
    uint16_t i3cTargetWriteMemory(uint16_t transactionId, uint16_t address,
                                  const std::vector<uint8_t>& data);
    uint16_t i3cTargetReadMemory(uint16_t transactionId, uint16_t address, uint16_t length);

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
    // Installs the callable run on the reader thread when reads start to
    // fail (the adapter was unplugged or stopped answering). Before connecting.
    void onConnectionLost(std::function<void()> callback);
    // The next bulk read first discards `count` bytes: the data of a read
    // whose caller gave up before the adapter answered.
    void expectUnclaimedBulkIn(uint64_t count);
    // Before a bulk read request: drops data a timed-out read left behind,
    // and whatever the endpoint holds when `abandonedReads`; returns the
    // bytes dropped that no count announced (BulkTransport::discardStale).
    uint64_t discardStaleBulkIn(bool abandonedReads);
    // True once a disconnect has begun to close the bulk interface: a data
    // phase that failed then was cut off, not timed out.
    bool bulkInterrupted() const;

    // The request behind the four public names of each rail operation.
    uint16_t setI2cSpiUartGpioVoltage(uint16_t transactionId, uint16_t millivolts, bool persist);
    uint16_t useExternalI2cSpiUartGpioVoltage(uint16_t transactionId, bool persist);

    std::unique_ptr<AsyncSdkImpl> impl_;
    std::atomic<bool> connected_{false};
};

}  // namespace vantor
