// SPDX-License-Identifier: MIT
// UART commands: request bytes and the length limit of a message.

#include <gtest/gtest.h>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

constexpr uint16_t kId = kRequestId;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Uart, RequestBytes, ::testing::Values(
    SentRequest{"Init", [](VantorAsyncSDK& s) { return s.uartInit(kId, UartBaudRate::BAUD_115200, UartHwHandshake::DISABLED, UartParity::NONE, UartDataSize::BITS_8, UartStopBit::ONE); }, {0x02, 0x10, 0x0A, 0x00, 0x00, 0x01, 0x00}},
    SentRequest{"SetParameters", [](VantorAsyncSDK& s) { return s.uartSetParameters(kId, UartBaudRate::BAUD_600, UartHwHandshake::ENABLED, UartParity::ODD, UartDataSize::BITS_7, UartStopBit::TWO); }, {0x03, 0x10, 0x00, 0x01, 0x02, 0x00, 0x01}},
    SentRequest{"Deinit", [](VantorAsyncSDK& s) { return s.uartDeinit(kId); }, {0x01, 0x10}},
    SentRequest{"EmptyMessage", [](VantorAsyncSDK& s) { return s.uartSendMessage(kId, {}); }, {0x05, 0x10, 0x00, 0x00}},
    SentRequest{"MessageOverSeveralReports", [](VantorAsyncSDK& s) { return s.uartSendMessage(kId, pattern(200, 1)); }, concat({0x05, 0x10, 0xC8, 0x00}, pattern(200, 1))}),
    RowName{});

// Its 16-bit length field could not announce more than 65535 bytes.
INSTANTIATE_TEST_SUITE_P(Uart, WrongRequestRefusal, ::testing::Values(
    RefusedCall{"MessageOver65535Bytes", [](VantorAsyncSDK& a) { return a.uartSendMessage(1, Bytes(65536)); }}),
    RowName{});
// clang-format on

}  // namespace
}  // namespace vantor
