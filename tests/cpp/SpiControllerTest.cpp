// SPI controller commands of both SDK classes: request bytes, limits and
// refusals, transfer decoding, the bulk data phases and transport faults.

#include <gtest/gtest.h>

#include "tests/cpp/PeripheralTestSupport.h"

namespace vantor {
namespace {

using namespace test;

void silence(sim::VirtualAdapter& adapter) {
    adapter.setHandler([](const Bytes&) { return std::vector<Bytes>{}; });
}

Bytes withData(Bytes head, const Bytes& data) {
    head.insert(head.end(), data.begin(), data.end());
    return head;
}

Bytes countOf(uint16_t count) {
    return {static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8)};
}

TEST(SpiControllerAsync, RequestsCarryTheirBytes) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    const Bytes data = pattern(100);
    EXPECT_EQ(
        sdk.spiControllerInit(0x0301, SpiBitOrder::LSB, SpiMode::MODE_3, SpiDataWidth::BITS_16,
                              SpiChipSelect::CS_2, SpiChipSelectPolarity::ACTIVE_HIGH, 1000000),
        0);
    EXPECT_EQ(
        sdk.spiSetParameters(0x0302, SpiBitOrder::MSB, SpiMode::MODE_0, SpiDataWidth::BITS_8,
                             SpiChipSelect::CS_0, SpiChipSelectPolarity::ACTIVE_LOW, 12000000),
        0);
    EXPECT_EQ(sdk.spiDeinit(0x0303), 0);
    EXPECT_EQ(sdk.spiTransfer(0x0304, {0x9F, 0x01, 0x02}, 0), 0);  // the adapter decides
    EXPECT_EQ(sdk.spiReadBulk(0x0305, {0x03, 0x00, 0x10, 0x00}, 256), 0);
    EXPECT_EQ(sdk.spiTransferBulk(0x0306, {0xAB}, 32768), 0);
    EXPECT_EQ(sdk.spiWriteBulk(0x0307, data), 0);
    const std::vector<Bytes> expected = {
        {0x01, 0x03, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x01, 0x40, 0x42, 0x0F, 0x00},
        {0x02, 0x03, 0x02, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1B, 0xB7, 0x00},
        {0x03, 0x03, 0x01, 0x0C},
        {0x04, 0x03, 0x04, 0x0D, 0x03, 0x00, 0x00, 0x00, 0x9F, 0x01, 0x02},
        {0x05, 0x03, 0x08, 0x0D, 0x04, 0x00, 0x00, 0x01, 0x03, 0x00, 0x10, 0x00},
        {0x06, 0x03, 0x05, 0x0D, 0x01, 0x00, 0x00, 0x80, 0xAB},
        {0x07, 0x03, 0x07, 0x0D, 0x64, 0x00, 0x64, 0x00},  // the length twice
    };
    EXPECT_EQ(requestsOf(adapter, expected.size()), expected);
    EXPECT_EQ(adapter.bulkReceived(), data);
}

TEST(SpiControllerAsync, LimitsAreCheckedBeforeSending) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    EXPECT_EQ(sdk.spiTransfer(1, {}, 1), kDisconnect);
    EXPECT_EQ(sdk.spiWriteBulk(2, {}), kDisconnect);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.spiTransfer(3, Bytes(1025), 1), kWrongRequest);
    EXPECT_EQ(sdk.spiTransfer(4, Bytes(1), 1025), kWrongRequest);
    EXPECT_EQ(sdk.spiTransferBulk(5, {}, 0), kWrongRequest);
    EXPECT_EQ(sdk.spiTransferBulk(6, {}, 32769), kWrongRequest);
    EXPECT_EQ(sdk.spiTransferBulk(7, Bytes(1025), 1), kWrongRequest);
    EXPECT_EQ(sdk.spiReadBulk(8, {}, 0), kWrongRequest);
    EXPECT_EQ(sdk.spiReadBulk(9, {}, 32769), kWrongRequest);
    // Its 16-bit length field could not announce this many command bytes.
    EXPECT_EQ(sdk.spiReadBulk(10, Bytes(65536), 1), kWrongRequest);
    EXPECT_EQ(sdk.spiWriteBulk(11, {}), kWrongRequest);
    EXPECT_EQ(sdk.spiWriteBulk(12, Bytes(32769)), kWrongRequest);
    EXPECT_TRUE(adapter.reports().empty());

    // The largest transfer goes out whole on either report size.
    for (sim::Model model : {sim::Model::Teranox, sim::Model::Quillex}) {
        sim::AdapterOptions options;
        options.model = model;
        options.serial = model == sim::Model::Teranox ? "SPI64" : "SPI1024";
        options.bulk = false;
        sim::VirtualAdapter other(options);
        silence(other);
        VantorAsyncSDK plain;
        ASSERT_TRUE(plain.connect(other.path()));
        const Bytes data = pattern(1024, 5);
        EXPECT_EQ(plain.spiTransfer(0x0A0B, data, 1024), 0);
        EXPECT_EQ(
            requestsOf(other, 1),
            std::vector<Bytes>{withData({0x0B, 0x0A, 0x04, 0x0D, 0x00, 0x04, 0x00, 0x04}, data)});
        EXPECT_EQ(other.reports().size(), model == sim::Model::Teranox ? 17u : 2u);
        other.clear();
        EXPECT_EQ(plain.spiTransferBulk(1, {1}, 1), kBulkUnavailable);
        EXPECT_EQ(plain.spiWriteBulk(2, {1}), kBulkUnavailable);
        EXPECT_EQ(plain.spiReadBulk(3, {1}, 1), kBulkUnavailable);
        EXPECT_TRUE(other.reports().empty());
    }
}

TEST(SpiController, TransferDeliversTheReceivedBytesTheResponseCarries) {
    sim::VirtualAdapter adapter;
    uint16_t status = 0;
    Bytes params;
    script(adapter, [&](const Bytes& req) { return reply(req, status, params); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    Bytes out;
    params = {0x04, 0x00, 1, 2, 3, 4, 5, 6};  // bytes past the count are ignored
    EXPECT_EQ(sdk.spiTransfer({0xAA, 0xBB}, out, 4), 0);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(withoutId(adapter.requests().back()),
              (Bytes{0x04, 0x0D, 0x02, 0x00, 0x04, 0x00, 0xAA, 0xBB}));
    params = {0x0A, 0x00, 7, 8, 9};  // announces more than it holds
    EXPECT_EQ(sdk.spiTransfer({}, out, 10), 0);
    EXPECT_EQ(out, (Bytes{7, 8, 9}));
    status = 0x0316;  // delivered whatever the status
    params = {0x02, 0x00, 0x11, 0x22};
    EXPECT_EQ(sdk.spiTransfer({}, out, 2), 0x0316);
    EXPECT_EQ(out, (Bytes{0x11, 0x22}));
    params = {0x05};  // no room for the count
    EXPECT_EQ(sdk.spiTransfer({}, out, 2), 0x0316);
    EXPECT_TRUE(out.empty());
}

TEST(SpiControllerBulk, DataPhasesMoveThroughTheBulkEndpoints) {
    sim::VirtualAdapter adapter;
    sim::BulkCapabilityConfig caps;
    caps.groups = {{3, 0, 0x1A0}};  // transfer, write and read; no limit of the adapter's
    adapter.setBulkCapabilities(caps);
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_TRUE(sdk.getBulkCapabilities().supported);  // asked of the firmware, then cached
    uint16_t status = 0;
    Bytes params;
    Bytes queued;
    script(adapter, [&](const Bytes& req) {
        if (!queued.empty()) adapter.sendBulk(queued);
        return reply(req, status, params);
    });

    Bytes out;
    queued = pattern(200, 2);
    params = countOf(200);
    EXPECT_EQ(sdk.spiTransferBulk({0x9F}, out, 256), 0);
    EXPECT_EQ(out, queued);
    // Announcing more than was asked for: nothing is taken from bulk IN, so
    // the next read finds those bytes still waiting.
    queued = pattern(300, 3);
    params = countOf(300);
    EXPECT_EQ(sdk.spiTransferBulk({0x9F}, out, 256), kWrongResponse);
    EXPECT_TRUE(out.empty());
    queued.clear();
    EXPECT_EQ(sdk.spiReadBulk({0x03, 0x00}, out, 300), 0);
    EXPECT_EQ(out, pattern(300, 3));

    EXPECT_EQ(sdk.spiWriteBulk(pattern(100, 4)), 0);
    EXPECT_EQ(withoutId(adapter.requests().back()), (Bytes{0x07, 0x0D, 0x64, 0x00, 0x64, 0x00}));
    EXPECT_EQ(adapter.bulkReceived(), pattern(100, 4));

    params = {0x05};  // too short for the count
    EXPECT_EQ(sdk.spiReadBulk({}, out, 16), kWrongResponse);
    status = 0x0006;
    out = {0xEE};
    EXPECT_EQ(sdk.spiReadBulk({}, out, 16), 0x0006);
    EXPECT_TRUE(out.empty());
}

TEST(SpiControllerBulk, EachOperationPassesTheGateWithItsOwnCommand) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    Bytes out;
    EXPECT_EQ(sdk.spiWriteBulk({1}), kDisconnect);
    for (uint32_t mask : {0x20u, 0x80u, 0x100u}) {  // bits of 0x0D05, 0x0D07, 0x0D08
        sim::BulkCapabilityConfig caps;
        caps.groups = {{3, 128, mask}};
        adapter.setHandler({});
        adapter.setBulkCapabilities(caps);
        sdk.disconnect();
        ASSERT_TRUE(sdk.connect(adapter.path()));
        ASSERT_EQ(sdk.getBulkCapabilities().groups.size(), 1u);
        script(adapter, [](const Bytes& req) { return reply(req, 0, countOf(0)); });
        const auto within = [&](uint32_t bit) { return mask == bit ? 0 : kBulkUnavailable; };
        const auto beyond = [&](uint32_t bit) {
            return mask == bit ? kWrongRequest : kBulkUnavailable;
        };
        EXPECT_EQ(sdk.spiTransferBulk({1}, out, 128), within(0x20));
        EXPECT_EQ(sdk.spiTransferBulk({1}, out, 129), beyond(0x20));
        EXPECT_EQ(sdk.spiWriteBulk(pattern(128)), within(0x80));
        EXPECT_EQ(sdk.spiWriteBulk(pattern(129)), beyond(0x80));
        EXPECT_EQ(sdk.spiReadBulk({1}, out, 128), within(0x100));
        EXPECT_EQ(sdk.spiReadBulk({1}, out, 129), beyond(0x100));
    }
}

TEST(SpiControllerFaults, AFailedWriteIsResentAndAnUnpluggedAdapterIsReopened) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(500);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    Bytes out;
    expectWriteFailureAndUnplugRecovery(adapter,
                                        [&] { return sdk.spiTransfer(pattern(200), out, 200); });
}

}  // namespace
}  // namespace vantor
