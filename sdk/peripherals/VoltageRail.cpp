// The I/O voltage rail that powers the I2C, SPI, UART and GPIO signals. It is
// one rail: each operation has a name per bus, and all names send the same
// request. The rail is read back through the analog-measurement query.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

namespace {

constexpr uint16_t kCmdSetVoltage = 0x0405;
constexpr uint16_t kCmdGetAnalogMeasurements = 0x0409;
constexpr uint16_t kCmdUseExternalVoltage = 0x040B;

// The rail voltage is the first field of the measurement block.
constexpr size_t kRailVoltageOffset = 6;

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::setI2cSpiUartGpioVoltage(uint16_t transactionId, uint16_t millivolts,
                                                  bool persist) {
    if (!connected_) return toU16(StatusCode::SDK_ERROR_DISCONNECT);
    return send(RequestBuilder(transactionId, kCmdSetVoltage, 3)
                    .u16(millivolts)
                    .u8(persist ? 1 : 0)
                    .message());
}

uint16_t VantorAsyncSDK::useExternalI2cSpiUartGpioVoltage(uint16_t transactionId, bool persist) {
    if (!connected_) return toU16(StatusCode::SDK_ERROR_DISCONNECT);
    return send(
        RequestBuilder(transactionId, kCmdUseExternalVoltage, 1).u8(persist ? 1 : 0).message());
}

uint16_t VantorAsyncSDK::i2cSetBusVoltage(uint16_t transactionId, uint16_t millivolts,
                                          bool persist) {
    return setI2cSpiUartGpioVoltage(transactionId, millivolts, persist);
}
uint16_t VantorAsyncSDK::spiSetBusVoltage(uint16_t transactionId, uint16_t millivolts,
                                          bool persist) {
    return setI2cSpiUartGpioVoltage(transactionId, millivolts, persist);
}
uint16_t VantorAsyncSDK::uartSetBusVoltage(uint16_t transactionId, uint16_t millivolts,
                                           bool persist) {
    return setI2cSpiUartGpioVoltage(transactionId, millivolts, persist);
}
uint16_t VantorAsyncSDK::gpioSetVoltage(uint16_t transactionId, uint16_t millivolts, bool persist) {
    return setI2cSpiUartGpioVoltage(transactionId, millivolts, persist);
}

uint16_t VantorAsyncSDK::i2cUseExternalVoltage(uint16_t transactionId, bool persist) {
    return useExternalI2cSpiUartGpioVoltage(transactionId, persist);
}
uint16_t VantorAsyncSDK::spiUseExternalVoltage(uint16_t transactionId, bool persist) {
    return useExternalI2cSpiUartGpioVoltage(transactionId, persist);
}
uint16_t VantorAsyncSDK::uartUseExternalVoltage(uint16_t transactionId, bool persist) {
    return useExternalI2cSpiUartGpioVoltage(transactionId, persist);
}
uint16_t VantorAsyncSDK::gpioUseExternalVoltage(uint16_t transactionId, bool persist) {
    return useExternalI2cSpiUartGpioVoltage(transactionId, persist);
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::setI2cSpiUartGpioVoltage(uint16_t millivolts, bool persist) {
    return transact(kCmdSetVoltage, [&](uint16_t id) {
        return async_->setI2cSpiUartGpioVoltage(id, millivolts, persist);
    });
}

uint16_t VantorSDK::useExternalI2cSpiUartGpioVoltage(bool persist) {
    return transact(kCmdUseExternalVoltage, [&](uint16_t id) {
        return async_->useExternalI2cSpiUartGpioVoltage(id, persist);
    });
}

uint16_t VantorSDK::getI2cSpiUartGpioVoltage(uint16_t& millivolts) {
    return transact(
        kCmdGetAnalogMeasurements, sizeof(GetAnalogMeasurementsParameters),
        [&](uint16_t id) { return async_->getAnalogMeasurements(id); },
        [&](const Response& r) { millivolts = r.u16(kRailVoltageOffset); }, ShortResponse::Status);
}

uint16_t VantorSDK::i2cSetBusVoltage(uint16_t millivolts, bool persist) {
    return setI2cSpiUartGpioVoltage(millivolts, persist);
}
uint16_t VantorSDK::spiSetBusVoltage(uint16_t millivolts, bool persist) {
    return setI2cSpiUartGpioVoltage(millivolts, persist);
}
uint16_t VantorSDK::uartSetBusVoltage(uint16_t millivolts, bool persist) {
    return setI2cSpiUartGpioVoltage(millivolts, persist);
}
uint16_t VantorSDK::gpioSetVoltage(uint16_t millivolts, bool persist) {
    return setI2cSpiUartGpioVoltage(millivolts, persist);
}

uint16_t VantorSDK::i2cUseExternalVoltage(bool persist) {
    return useExternalI2cSpiUartGpioVoltage(persist);
}
uint16_t VantorSDK::spiUseExternalVoltage(bool persist) {
    return useExternalI2cSpiUartGpioVoltage(persist);
}
uint16_t VantorSDK::uartUseExternalVoltage(bool persist) {
    return useExternalI2cSpiUartGpioVoltage(persist);
}
uint16_t VantorSDK::gpioUseExternalVoltage(bool persist) {
    return useExternalI2cSpiUartGpioVoltage(persist);
}

uint16_t VantorSDK::i2cGetBusVoltage(uint16_t& millivolts) {
    return getI2cSpiUartGpioVoltage(millivolts);
}
uint16_t VantorSDK::spiGetBusVoltage(uint16_t& millivolts) {
    return getI2cSpiUartGpioVoltage(millivolts);
}
uint16_t VantorSDK::uartGetBusVoltage(uint16_t& millivolts) {
    return getI2cSpiUartGpioVoltage(millivolts);
}
uint16_t VantorSDK::gpioGetVoltage(uint16_t& millivolts) {
    return getI2cSpiUartGpioVoltage(millivolts);
}

}  // namespace vantor
