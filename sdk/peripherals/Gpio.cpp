// GPIO commands (group 5): pin configuration, digital write and read, and
// edge interrupts, whose events arrive as GPIO notifications.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

namespace {

constexpr uint16_t kCmdConfigurePin = 0x1401;
constexpr uint16_t kCmdDigitalWrite = 0x1402;
constexpr uint16_t kCmdDigitalRead = 0x1403;
constexpr uint16_t kCmdConfigureInterrupt = 0x1404;
constexpr uint16_t kCmdDisableInterrupt = 0x1405;

using namespace status;

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
    RequestBuilder request(transactionId, kCmdConfigurePin, 3);
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
        RequestBuilder(transactionId, kCmdDigitalWrite, 2).u8(wire(pin)).u8(wire(level)).message());
}

uint16_t VantorAsyncSDK::gpioDigitalRead(uint16_t transactionId, GpioPinNumber pin) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdDigitalRead, 1).u8(wire(pin)).message());
}

uint16_t VantorAsyncSDK::gpioConfigureInterrupt(uint16_t transactionId, GpioPinNumber pin,
                                                GpioTriggerType trigger) {
    if (!connected_) return kDisconnect;
    // Any trigger value goes out as given; the adapter judges it.
    return send(RequestBuilder(transactionId, kCmdConfigureInterrupt, 2)
                    .u8(wire(pin))
                    .u8(wire(trigger))
                    .message());
}

uint16_t VantorAsyncSDK::gpioDisableInterrupt(uint16_t transactionId, GpioPinNumber pin) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdDisableInterrupt, 1).u8(wire(pin)).message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::gpioConfigurePin(GpioPinNumber pin, GpioFunctionality functionality,
                                     GpioLogicLevel initialLevel) {
    return transact(kCmdConfigurePin, [&](uint16_t id) {
        return async_->gpioConfigurePin(id, pin, functionality, initialLevel);
    });
}

uint16_t VantorSDK::gpioDigitalWrite(GpioPinNumber pin, GpioLogicLevel level) {
    return transact(kCmdDigitalWrite,
                    [&](uint16_t id) { return async_->gpioDigitalWrite(id, pin, level); });
}

uint16_t VantorSDK::gpioDigitalRead(GpioPinNumber pin, GpioLogicLevel& level) {
    return transact(
        kCmdDigitalRead, 1, [&](uint16_t id) { return async_->gpioDigitalRead(id, pin); },
        [&](const Response& r) { level = static_cast<GpioLogicLevel>(r.u8(6)); },
        ShortResponse::Status);
}

uint16_t VantorSDK::gpioConfigureInterrupt(GpioPinNumber pin, GpioTriggerType trigger) {
    return transact(kCmdConfigureInterrupt,
                    [&](uint16_t id) { return async_->gpioConfigureInterrupt(id, pin, trigger); });
}

uint16_t VantorSDK::gpioDisableInterrupt(GpioPinNumber pin) {
    return transact(kCmdDisableInterrupt,
                    [&](uint16_t id) { return async_->gpioDisableInterrupt(id, pin); });
}

}  // namespace vantor
