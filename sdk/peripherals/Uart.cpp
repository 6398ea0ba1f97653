// UART commands (group 4, role 0): configuration and sending. Received bytes
// are not polled: they arrive as UART notifications.

#include <limits>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

namespace {

constexpr uint16_t kCmdDeinit = 0x1001;
constexpr uint16_t kCmdInit = 0x1002;
constexpr uint16_t kCmdSetParameters = 0x1003;
constexpr uint16_t kCmdSendMessage = 0x1005;

using namespace status;

// The five configuration bytes of init and set-parameters (the baud rate as
// its table index).
std::vector<uint8_t> configurationRequest(uint16_t transactionId, uint16_t command,
                                          UartBaudRate baudRate, UartHwHandshake handshake,
                                          UartParity parity, UartDataSize dataSize,
                                          UartStopBit stopBit) {
    return RequestBuilder(transactionId, command, 5)
        .u8(static_cast<uint8_t>(baudRate))
        .u8(static_cast<uint8_t>(handshake))
        .u8(static_cast<uint8_t>(parity))
        .u8(static_cast<uint8_t>(dataSize))
        .u8(static_cast<uint8_t>(stopBit))
        .take();
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::uartInit(uint16_t transactionId, UartBaudRate baudRate,
                                  UartHwHandshake handshake, UartParity parity,
                                  UartDataSize dataSize, UartStopBit stopBit) {
    if (!connected_) return kDisconnect;
    return send(configurationRequest(transactionId, kCmdInit, baudRate, handshake, parity, dataSize,
                                     stopBit));
}

uint16_t VantorAsyncSDK::uartSetParameters(uint16_t transactionId, UartBaudRate baudRate,
                                           UartHwHandshake handshake, UartParity parity,
                                           UartDataSize dataSize, UartStopBit stopBit) {
    if (!connected_) return kDisconnect;
    return send(configurationRequest(transactionId, kCmdSetParameters, baudRate, handshake, parity,
                                     dataSize, stopBit));
}

uint16_t VantorAsyncSDK::uartDeinit(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdDeinit).message());
}

uint16_t VantorAsyncSDK::uartSendMessage(uint16_t transactionId, const std::vector<uint8_t>& data) {
    if (!connected_) return kDisconnect;
    // The length field is 16 bits wide: a longer message would announce
    // fewer bytes than it carries.
    if (data.size() > std::numeric_limits<uint16_t>::max()) {
        return toU16(StatusCode::SDK_ERROR_WRONG_REQUEST);
    }
    return send(RequestBuilder(transactionId, kCmdSendMessage, 2 + data.size())
                    .u16(static_cast<uint16_t>(data.size()))
                    .bytes(data)
                    .message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::uartInit(UartBaudRate baudRate, UartHwHandshake handshake, UartParity parity,
                             UartDataSize dataSize, UartStopBit stopBit) {
    return transact(kCmdInit, [&](uint16_t id) {
        return async_->uartInit(id, baudRate, handshake, parity, dataSize, stopBit);
    });
}

uint16_t VantorSDK::uartSetParameters(UartBaudRate baudRate, UartHwHandshake handshake,
                                      UartParity parity, UartDataSize dataSize,
                                      UartStopBit stopBit) {
    return transact(kCmdSetParameters, [&](uint16_t id) {
        return async_->uartSetParameters(id, baudRate, handshake, parity, dataSize, stopBit);
    });
}

uint16_t VantorSDK::uartDeinit() {
    return transact(kCmdDeinit, [&](uint16_t id) { return async_->uartDeinit(id); });
}

uint16_t VantorSDK::uartSendMessage(const std::vector<uint8_t>& data) {
    return transact(kCmdSendMessage,
                    [&](uint16_t id) { return async_->uartSendMessage(id, data); });
}

}  // namespace vantor
