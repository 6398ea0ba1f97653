// SPDX-License-Identifier: MIT
// GPIO commands (group 5): pin configuration, digital write and read, and
// edge interrupts, whose events arrive as GPIO notifications.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace gpio;
using status::kDisconnect;

namespace {

// Every GPIO value travels as one byte.
template <typename Enum>
constexpr uint8_t wire(Enum value) {
    return static_cast<uint8_t>(value);
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::gpioConfigurePin(uint16_t transactionId, GpioPinNumber pin,
                                          GpioFunctionality functionality,
                                          GpioLogicLevel initialLevel) {
    if (!connected_) return kDisconnect;
    const bool output = functionality == GpioFunctionality::DIGITAL_OUTPUT;
    RequestBuilder request(transactionId, kConfigurePin, 3);
    request.u8(wire(pin)).u8(wire(functionality));
    // An input has no level to start with: its configuration is one byte
    // shorter.
    if (output) request.u8(wire(initialLevel));
    return send(request.message());
}

uint16_t VantorAsyncSDK::gpioDigitalWrite(uint16_t transactionId, GpioPinNumber pin,
                                          GpioLogicLevel level) {
    if (!connected_) return kDisconnect;
    return send(
        RequestBuilder(transactionId, kDigitalWrite, 2).u8(wire(pin)).u8(wire(level)).message());
}

uint16_t VantorAsyncSDK::gpioDigitalRead(uint16_t transactionId, GpioPinNumber pin) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kDigitalRead, 1).u8(wire(pin)).message());
}

uint16_t VantorAsyncSDK::gpioConfigureInterrupt(uint16_t transactionId, GpioPinNumber pin,
                                                GpioTriggerType trigger) {
    if (!connected_) return kDisconnect;
    // Any trigger value goes out as given; the adapter judges it.
    return send(RequestBuilder(transactionId, kConfigureInterrupt, 2)
                    .u8(wire(pin))
                    .u8(wire(trigger))
                    .message());
}

uint16_t VantorAsyncSDK::gpioDisableInterrupt(uint16_t transactionId, GpioPinNumber pin) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kDisableInterrupt, 1).u8(wire(pin)).message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::gpioConfigurePin(GpioPinNumber pin, GpioFunctionality functionality,
                                     GpioLogicLevel initialLevel) {
    return impl_->statusCommand(kConfigurePin, &VantorAsyncSDK::gpioConfigurePin, pin,
                                functionality, initialLevel);
}

uint16_t VantorSDK::gpioDigitalWrite(GpioPinNumber pin, GpioLogicLevel level) {
    return impl_->statusCommand(kDigitalWrite, &VantorAsyncSDK::gpioDigitalWrite, pin, level);
}

uint16_t VantorSDK::gpioDigitalRead(GpioPinNumber pin, GpioLogicLevel& level) {
    return impl_->transact(
        kDigitalRead, [&](uint16_t id) { return impl_->async->gpioDigitalRead(id, pin); },
        [&](const Impl::Response& r) { level = static_cast<GpioLogicLevel>(r.u8(kLevelOffset)); });
}

uint16_t VantorSDK::gpioConfigureInterrupt(GpioPinNumber pin, GpioTriggerType trigger) {
    return impl_->statusCommand(kConfigureInterrupt, &VantorAsyncSDK::gpioConfigureInterrupt, pin,
                                trigger);
}

uint16_t VantorSDK::gpioDisableInterrupt(GpioPinNumber pin) {
    return impl_->statusCommand(kDisableInterrupt, &VantorAsyncSDK::gpioDisableInterrupt, pin);
}

}  // namespace vantor
