// SPDX-License-Identifier: MIT
// The I/O voltage rail that powers the I2C, SPI, UART and GPIO signals. It is
// one rail: each operation has a name per bus, and all names send the same
// request. The rail is read back through the analog-measurement query.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace device;
using status::kDisconnect;

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::setI2cSpiUartGpioVoltage(uint16_t transactionId, uint16_t millivolts,
                                                  bool persist) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kSetIoVoltage, 3)
                    .u16(millivolts)
                    .u8(persist ? 1 : 0)
                    .message());
}

uint16_t VantorAsyncSDK::useExternalI2cSpiUartGpioVoltage(uint16_t transactionId, bool persist) {
    if (!connected_) return kDisconnect;
    return send(
        RequestBuilder(transactionId, kUseExternalIoVoltage, 1).u8(persist ? 1 : 0).message());
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

uint16_t VantorSDK::Impl::setRailVoltage(uint16_t millivolts, bool persist) {
    return statusCommand(kSetIoVoltage, &VantorAsyncSDK::setI2cSpiUartGpioVoltage, millivolts,
                         persist);
}

uint16_t VantorSDK::Impl::useExternalRailVoltage(bool persist) {
    return statusCommand(kUseExternalIoVoltage, &VantorAsyncSDK::useExternalI2cSpiUartGpioVoltage,
                         persist);
}

uint16_t VantorSDK::Impl::getRailVoltage(uint16_t& millivolts) {
    return transact(
        kGetAnalogMeasurements, [&](uint16_t id) { return async->getAnalogMeasurements(id); },
        [&](const Response& r) { millivolts = r.u16(kRailVoltageOffset); });
}

uint16_t VantorSDK::i2cSetBusVoltage(uint16_t millivolts, bool persist) {
    return impl_->setRailVoltage(millivolts, persist);
}
uint16_t VantorSDK::spiSetBusVoltage(uint16_t millivolts, bool persist) {
    return impl_->setRailVoltage(millivolts, persist);
}
uint16_t VantorSDK::uartSetBusVoltage(uint16_t millivolts, bool persist) {
    return impl_->setRailVoltage(millivolts, persist);
}
uint16_t VantorSDK::gpioSetVoltage(uint16_t millivolts, bool persist) {
    return impl_->setRailVoltage(millivolts, persist);
}

uint16_t VantorSDK::i2cUseExternalVoltage(bool persist) {
    return impl_->useExternalRailVoltage(persist);
}
uint16_t VantorSDK::spiUseExternalVoltage(bool persist) {
    return impl_->useExternalRailVoltage(persist);
}
uint16_t VantorSDK::uartUseExternalVoltage(bool persist) {
    return impl_->useExternalRailVoltage(persist);
}
uint16_t VantorSDK::gpioUseExternalVoltage(bool persist) {
    return impl_->useExternalRailVoltage(persist);
}

uint16_t VantorSDK::i2cGetBusVoltage(uint16_t& millivolts) {
    return impl_->getRailVoltage(millivolts);
}
uint16_t VantorSDK::spiGetBusVoltage(uint16_t& millivolts) {
    return impl_->getRailVoltage(millivolts);
}
uint16_t VantorSDK::uartGetBusVoltage(uint16_t& millivolts) {
    return impl_->getRailVoltage(millivolts);
}
uint16_t VantorSDK::gpioGetVoltage(uint16_t& millivolts) {
    return impl_->getRailVoltage(millivolts);
}

}  // namespace vantor
