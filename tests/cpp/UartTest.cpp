// SPDX-License-Identifier: MIT
// UART commands of both SDK classes: request bytes, one message on either
// report size, and the status as the result.

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

    // 200 bytes: one 206-byte message, in several reports on the small model.
    for (sim::Model model : {sim::Model::Teranox, sim::Model::Quillex}) {
        sim::VirtualAdapter other(
            adapterOptions(model == sim::Model::Teranox ? "UART64" : "UART1024", model));
        silence(other);
        sdk.disconnect();
        ASSERT_TRUE(sdk.connect(other.path()));
        EXPECT_EQ(sdk.uartSendMessage(0x0606, pattern(200, 1)), 0);
        EXPECT_EQ(requestsOf(other, 1),
                  std::vector<Bytes>{concat({0x06, 0x06, 0x05, 0x10, 0xC8, 0x00}, pattern(200, 1))});
        EXPECT_EQ(other.reports().size(), model == sim::Model::Teranox ? 4u : 1u);
        // Its 16-bit length field could not announce more.
        EXPECT_EQ(sdk.uartSendMessage(0x0607, Bytes(65536)), kWrongRequest);
        EXPECT_EQ(other.requests().size(), 1u);
    }
}

TEST(Uart, TheResultIsTheResponseStatus) {
    sim::VirtualAdapter adapter;
    uint16_t status = 0x0401;
    script(adapter, [&](const Bytes& req) { return reply(req, status); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.uartSendMessage({1}), 0x0401);
    EXPECT_EQ(withoutId(adapter.requests().back()), (Bytes{0x05, 0x10, 0x01, 0x00, 0x01}));
    status = 0x000D;
    EXPECT_EQ(sdk.uartInit(UartBaudRate::BAUD_9600, UartHwHandshake::DISABLED, UartParity::EVEN,
                           UartDataSize::BITS_8, UartStopBit::TWO),
              0x000D);
    EXPECT_EQ(withoutId(adapter.requests().back()),
              (Bytes{0x02, 0x10, 0x04, 0x00, 0x01, 0x01, 0x01}));
    EXPECT_EQ(sdk.uartDeinit(), 0x000D);
}

}  // namespace
}  // namespace vantor
