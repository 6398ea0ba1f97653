// SPDX-License-Identifier: MIT
// SPI controller commands of both SDK classes: request bytes, limits,
// transfer decoding and the bulk data phases.

#include <gtest/gtest.h>

#include <functional>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

Bytes count(uint16_t n) {
    return {static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
}

constexpr uint16_t kId = kRequestId;

// clang-format off
INSTANTIATE_TEST_SUITE_P(SpiController, RequestBytes, ::testing::Values(
    SentRequest{"ControllerInit", [](VantorAsyncSDK& s) { return s.spiControllerInit(kId, SpiBitOrder::LSB, SpiMode::MODE_3, SpiDataWidth::BITS_16, SpiChipSelect::CS_2, SpiChipSelectPolarity::ACTIVE_HIGH, 1000000); }, {0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x01, 0x40, 0x42, 0x0F, 0x00}},
    SentRequest{"SetParameters", [](VantorAsyncSDK& s) { return s.spiSetParameters(kId, SpiBitOrder::MSB, SpiMode::MODE_0, SpiDataWidth::BITS_8, SpiChipSelect::CS_0, SpiChipSelectPolarity::ACTIVE_LOW, 12000000); }, {0x02, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1B, 0xB7, 0x00}},
    SentRequest{"Deinit", [](VantorAsyncSDK& s) { return s.spiDeinit(kId); }, {0x01, 0x0C}},
    SentRequest{"TransferLengthZeroLeftToTheAdapter", [](VantorAsyncSDK& s) { return s.spiTransfer(kId, {0x9F, 0x01, 0x02}, 0); }, {0x04, 0x0D, 0x03, 0x00, 0x00, 0x00, 0x9F, 0x01, 0x02}},
    SentRequest{"TheLargestTransfer", [](VantorAsyncSDK& s) { return s.spiTransfer(kId, pattern(1024, 5), 1024); }, concat({0x04, 0x0D, 0x00, 0x04, 0x00, 0x04}, pattern(1024, 5))},
    SentRequest{"ReadBulk", [](VantorAsyncSDK& s) { return s.spiReadBulk(kId, {0x03, 0x00, 0x10, 0x00}, 256); }, {0x08, 0x0D, 0x04, 0x00, 0x00, 0x01, 0x03, 0x00, 0x10, 0x00}},
    SentRequest{"TransferBulkLongest", [](VantorAsyncSDK& s) { return s.spiTransferBulk(kId, {0xAB}, 32768); }, {0x05, 0x0D, 0x01, 0x00, 0x00, 0x80, 0xAB}},
    SentRequest{"WriteBulkSendsTheLengthTwice", [](VantorAsyncSDK& s) { return s.spiWriteBulk(kId, pattern(100)); }, {0x07, 0x0D, 0x64, 0x00, 0x64, 0x00}}),
    RowName{});
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(SpiController, WrongRequestRefusal, ::testing::Values(
    RefusedCall{"TransferSendingOver1024Bytes", [](VantorAsyncSDK& s) { return s.spiTransfer(3, Bytes(1025), 1); }},
    RefusedCall{"TransferClockingOver1024Bytes", [](VantorAsyncSDK& s) { return s.spiTransfer(4, Bytes(1), 1025); }},
    RefusedCall{"TransferBulkOfNothing", [](VantorAsyncSDK& s) { return s.spiTransferBulk(5, {}, 0); }},
    RefusedCall{"TransferBulkOver32768Bytes", [](VantorAsyncSDK& s) { return s.spiTransferBulk(6, {}, 32769); }},
    RefusedCall{"TransferBulkSendingOver1024Bytes", [](VantorAsyncSDK& s) { return s.spiTransferBulk(7, Bytes(1025), 1); }},
    RefusedCall{"ReadBulkOfNothing", [](VantorAsyncSDK& s) { return s.spiReadBulk(8, {}, 0); }},
    RefusedCall{"ReadBulkOver32768Bytes", [](VantorAsyncSDK& s) { return s.spiReadBulk(9, {}, 32769); }},
    // Its 16-bit length field could not announce this many command bytes.
    RefusedCall{"ReadBulkWithOver65535CommandBytes", [](VantorAsyncSDK& s) { return s.spiReadBulk(10, Bytes(65536), 1); }},
    RefusedCall{"WriteBulkOfNothing", [](VantorAsyncSDK& s) { return s.spiWriteBulk(11, {}); }},
    RefusedCall{"WriteBulkOver32768Bytes", [](VantorAsyncSDK& s) { return s.spiWriteBulk(12, Bytes(32769)); }}),
    RowName{});

INSTANTIATE_TEST_SUITE_P(SpiController, WithoutBulkInterface, ::testing::Values(
    RefusedCall{"TransferBulk", [](VantorAsyncSDK& a) { return a.spiTransferBulk(1, {1}, 1); }},
    RefusedCall{"WriteBulk", [](VantorAsyncSDK& a) { return a.spiWriteBulk(2, {1}); }},
    RefusedCall{"ReadBulk", [](VantorAsyncSDK& a) { return a.spiReadBulk(3, {1}, 1); }}),
    RowName{});
// clang-format on

// The bytes received (0xEE when untouched).
Decoded transfer8(VantorSDK& s) {
    Bytes out = {0xEE};
    const uint16_t st = s.spiTransfer({0xAA, 0xBB}, out, 8);
    return {st, out};
}
Decoded transfer1024(VantorSDK& s) {
    Bytes out;
    const uint16_t st = s.spiTransfer({0x9F}, out, 1024);
    return {st, out};
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(SpiController, ReplyDecoding, ::testing::Values(
    ScriptedReply{"TransferTakesTheCountNotTheRest", 0, {0x04, 0x00, 1, 2, 3, 4, 5, 6}, transfer8, {0, {1, 2, 3, 4}}},
    ScriptedReply{"TransferDeliveredWhateverTheStatus", 0x0316, {0x02, 0x00, 0x11, 0x22}, transfer8, {0x0316, {0x11, 0x22}}},
    ScriptedReply{"TransferWithoutCountIsEmpty", 0x0316, {0x05}, transfer8, {0x0316, {}}},
    // Every byte of a count whose low byte is zero.
    ScriptedReply{"TransferCount1024", 0, concat(count(1024), pattern(1024, 1)), transfer1024, {0, pattern(1024, 1)}}),
    RowName{});
// clang-format on

TEST(SpiControllerBulk, DataPhasesMoveThroughTheBulkEndpoints) {
    sim::VirtualAdapter adapter;
    sim::BulkCapabilityConfig caps;
    caps.groups = {{3, 0, 0x1A0}};  // transfer, write and read; no limit of the adapter's
    adapter.system().setBulkCapabilities(caps);
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_TRUE(sdk.getBulkCapabilities().supported);  // asked of the firmware, then cached
    Bytes params;
    Bytes queued;
    script(adapter, [&](const Bytes& req) {
        if (!queued.empty()) adapter.sendBulk(queued);
        return reply(req, 0, params);
    });

    Bytes out;
    queued = pattern(200, 2);
    params = count(200);
    EXPECT_EQ(sdk.spiTransferBulk({0x9F}, out, 256), 0);
    EXPECT_EQ(out, queued);
    // Announcing more than was asked for: malformed, and the bytes it sends
    // never reach the next read.
    queued = pattern(300, 3);
    params = count(300);
    EXPECT_EQ(sdk.spiTransferBulk({0x9F}, out, 256), kWrongResponse);
    EXPECT_TRUE(out.empty());
    queued = pattern(300, 9);
    EXPECT_EQ(sdk.spiReadBulk({0x03, 0x00}, out, 300), 0);
    EXPECT_EQ(out, pattern(300, 9));

    EXPECT_EQ(sdk.spiWriteBulk(pattern(100, 4)), 0);
    EXPECT_EQ(adapter.bulkReceived(), pattern(100, 4));

    // Each operation passes the gate with its own length.
    caps.groups = {{3, 128, 0x1A0}};
    adapter.setHandler({});
    adapter.system().setBulkCapabilities(caps);
    ASSERT_TRUE(sdk.connect(adapter.path()));  // already connected: drops the cached capabilities
    ASSERT_EQ(sdk.getBulkCapabilities().maxPayloadFor(3), 128);
    script(adapter, [](const Bytes& req) { return reply(req, 0, count(0)); });
    EXPECT_EQ(sdk.spiTransferBulk({1}, out, 128), 0);
    EXPECT_EQ(sdk.spiTransferBulk(Bytes(200), out, 129), kWrongRequest);
    EXPECT_EQ(sdk.spiWriteBulk(pattern(128)), 0);
    EXPECT_EQ(sdk.spiWriteBulk(pattern(129)), kWrongRequest);
    EXPECT_EQ(sdk.spiReadBulk({1}, out, 128), 0);
    EXPECT_EQ(sdk.spiReadBulk(Bytes(200), out, 129), kWrongRequest);
}

}  // namespace
}  // namespace vantor
