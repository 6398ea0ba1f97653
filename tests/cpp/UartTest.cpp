// SPDX-License-Identifier: MIT
// UART commands: request bytes and the length limit of a message.

#include <gtest/gtest.h>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

TEST(UartAsync, RequestsCarryTheirBytes) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.uartInit(1, UartBaudRate::BAUD_115200, UartHwHandshake::DISABLED,
                           UartParity::NONE, UartDataSize::BITS_8, UartStopBit::ONE),
              0);
    EXPECT_EQ(sdk.uartSetParameters(2, UartBaudRate::BAUD_600, UartHwHandshake::ENABLED,
                                    UartParity::ODD, UartDataSize::BITS_7, UartStopBit::TWO),
              0);
    EXPECT_EQ(sdk.uartDeinit(3), 0);
    EXPECT_EQ(sdk.uartSendMessage(4, {}), 0);
    const std::vector<Bytes> expected = {
        {0x01, 0x00, 0x02, 0x10, 0x0A, 0x00, 0x00, 0x01, 0x00},
        {0x02, 0x00, 0x03, 0x10, 0x00, 0x01, 0x02, 0x00, 0x01},
        {0x03, 0x00, 0x01, 0x10},
        {0x04, 0x00, 0x05, 0x10, 0x00, 0x00},
    };
    EXPECT_EQ(requestsOf(adapter, expected.size()), expected);

    // A message over several reports; its 16-bit length field could not
    // announce more than 65535 bytes.
    adapter.clear();
    EXPECT_EQ(sdk.uartSendMessage(0x0606, pattern(200, 1)), 0);
    EXPECT_EQ(requestsOf(adapter, 1),
              std::vector<Bytes>{concat({0x06, 0x06, 0x05, 0x10, 0xC8, 0x00}, pattern(200, 1))});
    EXPECT_EQ(sdk.uartSendMessage(0x0607, Bytes(65536)), kWrongRequest);
    EXPECT_EQ(adapter.requests().size(), 1u);
}

}  // namespace
}  // namespace vantor
