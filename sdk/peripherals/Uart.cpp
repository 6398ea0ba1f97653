// SPDX-License-Identifier: MIT
// UART commands (group 4, role 0): configuration and sending. Received bytes
// are not polled: they arrive as UART notifications.

#include <limits>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace uart;
using status::kDisconnect;
using status::kWrongRequest;

namespace {

// The five configuration bytes of init and set-parameters (the baud rate as
// its table index).
std::vector<uint8_t> configurationRequest(uint16_t transactionId, const CommandInfo& command,
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
    return send(
        configurationRequest(transactionId, kInit, baudRate, handshake, parity, dataSize, stopBit));
}

uint16_t VantorAsyncSDK::uartSetParameters(uint16_t transactionId, UartBaudRate baudRate,
                                           UartHwHandshake handshake, UartParity parity,
                                           UartDataSize dataSize, UartStopBit stopBit) {
    if (!connected_) return kDisconnect;
    return send(configurationRequest(transactionId, kSetParameters, baudRate, handshake, parity,
                                     dataSize, stopBit));
}

uint16_t VantorAsyncSDK::uartDeinit(uint16_t transactionId) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kDeinit).message());
}

uint16_t VantorAsyncSDK::uartSendMessage(uint16_t transactionId, const std::vector<uint8_t>& data) {
    if (!connected_) return kDisconnect;
    // The length field is 16 bits wide: a longer message would announce
    // fewer bytes than it carries.
    if (data.size() > std::numeric_limits<uint16_t>::max()) return kWrongRequest;
    return send(RequestBuilder(transactionId, kSendMessage, 2 + data.size())
                    .u16(static_cast<uint16_t>(data.size()))
                    .bytes(data)
                    .message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::uartInit(UartBaudRate baudRate, UartHwHandshake handshake, UartParity parity,
                             UartDataSize dataSize, UartStopBit stopBit) {
    return impl_->statusCommand(kInit, &VantorAsyncSDK::uartInit, baudRate, handshake, parity,
                                dataSize, stopBit);
}

uint16_t VantorSDK::uartSetParameters(UartBaudRate baudRate, UartHwHandshake handshake,
                                      UartParity parity, UartDataSize dataSize,
                                      UartStopBit stopBit) {
    return impl_->statusCommand(kSetParameters, &VantorAsyncSDK::uartSetParameters, baudRate,
                                handshake, parity, dataSize, stopBit);
}

uint16_t VantorSDK::uartDeinit() {
    return impl_->statusCommand(kDeinit, &VantorAsyncSDK::uartDeinit);
}

uint16_t VantorSDK::uartSendMessage(const std::vector<uint8_t>& data) {
    return impl_->statusCommand(kSendMessage, &VantorAsyncSDK::uartSendMessage, data);
}

}  // namespace vantor
