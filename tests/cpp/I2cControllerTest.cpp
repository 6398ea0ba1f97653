// I2C controller commands of both SDK classes: the transfer header and its
// subaddress, argument refusals, read and scan decoding, the bulk data
// phases, and transport faults.

#include <gtest/gtest.h>

#include "tests/cpp/PeripheralTestSupport.h"

namespace vantor {
namespace {

using namespace test;

const Bytes kFiveByteSubaddress = {1, 2, 3, 4, 5};

// The firmware is replaced by a handler that never answers.
void silence(sim::VirtualAdapter& adapter) {
    adapter.setHandler([](const Bytes&) { return std::vector<Bytes>{}; });
}

Bytes withData(Bytes head, const Bytes& data) {
    head.insert(head.end(), data.begin(), data.end());
    return head;
}

TEST(I2cControllerAsync, RequestsCarryTheirBytes) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    const Bytes data = pattern(100);
    EXPECT_EQ(sdk.i2cControllerInit(0x0201, 1, 400000, 7), 0);
    EXPECT_EQ(sdk.i2cSetParameters(0x0202, 0, 100000, 12), 0);
    EXPECT_EQ(sdk.i2cSetPullUpResistors(0x0203, 1, 11), 0);
    EXPECT_EQ(sdk.i2cDeinit(0x0204, 1), 0);
    EXPECT_EQ(sdk.i2cWrite(0x0205, 0, 0x50, {1, 2, 3, 4}, {0xAA, 0xBB}, true), 0);
    EXPECT_EQ(sdk.i2cRead(0x0206, 1, 0x51, {0x12, 0x34}, 16, false), 0);
    EXPECT_EQ(sdk.i2cScanBus(0x0207, 1, true), 0);
    EXPECT_EQ(sdk.i2cReadBulk(0x0208, 0, 0x52, {}, 32768, false), 0);
    EXPECT_EQ(sdk.i2cWriteBulk(0x0209, 1, 0x53, {0x7F}, data, false), 0);
    const std::vector<Bytes> expected = {
        {0x01, 0x02, 0x01, 0x09, 0x01, 0x80, 0x1A, 0x06, 0x00, 0x07},
        {0x02, 0x02, 0x02, 0x09, 0x00, 0xA0, 0x86, 0x01, 0x00, 0x0C},
        {0x03, 0x02, 0x02, 0x08, 0x01, 0x0B},
        {0x04, 0x02, 0x01, 0x08, 0x01},
        {0x05, 0x02, 0x04, 0x09, 0x00, 0x02, 0x00, 0x50, 0x04, 0x04, 0x03, 0x02, 0x01, 0x01, 0xAA,
         0xBB},
        {0x06, 0x02, 0x05, 0x09, 0x01, 0x10, 0x00, 0x51, 0x02, 0x34, 0x12, 0x00, 0x00, 0x00},
        {0x07, 0x02, 0x06, 0x09, 0x01, 0x01},
        {0x08, 0x02, 0x08, 0x09, 0x00, 0x00, 0x80, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x09, 0x02, 0x07, 0x09, 0x01, 0x64, 0x00, 0x53, 0x01, 0x7F, 0x00, 0x00, 0x00, 0x00},
    };
    EXPECT_EQ(requestsOf(adapter, expected.size()), expected);
    EXPECT_EQ(adapter.bulkReceived(), data);  // after its header, on bulk OUT
}

TEST(I2cControllerAsync, RefusalsSendNothing) {
    sim::VirtualAdapter adapter;
    VantorAsyncSDK sdk;
    EXPECT_EQ(sdk.i2cWriteBulk(1, 0, 0x50, kFiveByteSubaddress, {}, false), kDisconnect);
    EXPECT_EQ(sdk.i2cScanBus(2, 2, false), kDisconnect);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.i2cWrite(3, 0, 0x50, kFiveByteSubaddress, {1}, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cRead(4, 0, 0x50, kFiveByteSubaddress, 1, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cWriteBulk(5, 0, 0x50, kFiveByteSubaddress, {1}, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cReadBulk(6, 0, 0x50, kFiveByteSubaddress, 1, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cScanBus(7, 2, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cWriteBulk(8, 0, 0x50, {}, {}, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cWriteBulk(9, 0, 0x50, {}, Bytes(32769), false), kWrongRequest);
    EXPECT_EQ(sdk.i2cReadBulk(10, 0, 0x50, {}, 0, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cReadBulk(11, 0, 0x50, {}, 32769, false), kWrongRequest);
    // Its 16-bit length field could not announce this much data.
    EXPECT_EQ(sdk.i2cWrite(12, 0, 0x50, {}, Bytes(65536), false), kWrongRequest);
    EXPECT_TRUE(adapter.reports().empty());

    sim::AdapterOptions options;
    options.serial = "I2CNOBULK";
    options.bulk = false;
    sim::VirtualAdapter noBulk(options);
    VantorAsyncSDK plain;
    ASSERT_TRUE(plain.connect(noBulk.path()));
    EXPECT_EQ(plain.i2cWriteBulk(1, 0, 0x50, {}, {1}, false), kBulkUnavailable);
    EXPECT_EQ(plain.i2cReadBulk(2, 0, 0x50, {}, 1, false), kBulkUnavailable);
    EXPECT_TRUE(noBulk.reports().empty());
}

TEST(I2cControllerAsync, LongWritesCrossReportsOnBothModels) {
    for (sim::Model model : {sim::Model::Teranox, sim::Model::Quillex}) {
        sim::AdapterOptions options;
        options.model = model;
        sim::VirtualAdapter adapter(options);
        silence(adapter);
        VantorAsyncSDK sdk;
        ASSERT_TRUE(sdk.connect(adapter.path()));
        const Bytes data = pattern(3000, 3);
        EXPECT_EQ(sdk.i2cWrite(0x0102, 1, 0x68, {0x10}, data, false), 0);
        const Bytes header = {0x02, 0x01, 0x04, 0x09, 0x01, 0xB8, 0x0B,
                              0x68, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00};
        EXPECT_EQ(requestsOf(adapter, 1), std::vector<Bytes>{withData(header, data)});
        EXPECT_EQ(adapter.malformedReports(), 0u);

        // The most a 16-bit length can announce still goes out (the virtual
        // adapter itself keeps no message that long).
        adapter.clear();
        EXPECT_EQ(sdk.i2cWrite(0x0103, 1, 0x68, {}, Bytes(65535), false), 0);
        const Bytes first = adapter.reports().at(0);  // report id, segment header, message
        EXPECT_EQ(Bytes(first.begin() + 3, first.begin() + 10),
                  (Bytes{0x03, 0x01, 0x04, 0x09, 0x01, 0xFF, 0xFF}));
    }
}

TEST(I2cController, ReadAndScanDecodeWhatTheResponseHolds) {
    sim::VirtualAdapter adapter;
    uint16_t status = 0;
    Bytes params;
    script(adapter, [&](const Bytes& req) { return reply(req, status, params); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));

    Bytes out;
    params = withData({0x00, 0x0A, 0x00}, pattern(10));
    EXPECT_EQ(sdk.i2cRead(0, 0x50, {0x00, 0x20}, 16, out, true), 0);
    EXPECT_EQ(out, pattern(10));
    EXPECT_EQ(withoutId(adapter.requests().back()),
              (Bytes{0x05, 0x09, 0x00, 0x10, 0x00, 0x50, 0x02, 0x20, 0x00, 0x00, 0x00, 0x01}));
    params = withData({0x00, 0x14, 0x00}, pattern(20));
    EXPECT_EQ(sdk.i2cRead(0, 0x50, {}, 16, out, false), 0);
    EXPECT_EQ(out, Bytes(params.begin() + 3, params.begin() + 19));
    status = 0x0204;  // the bytes read before the NACK still arrive
    params = {0x00, 0x02, 0x00, 0x61, 0x62};
    EXPECT_EQ(sdk.i2cRead(0, 0x50, {}, 16, out, false), 0x0204);
    EXPECT_EQ(out, (Bytes{0x61, 0x62}));
    params = {};
    EXPECT_EQ(sdk.i2cRead(0, 0x50, {}, 16, out, false), 0x0204);
    EXPECT_TRUE(out.empty());

    uint8_t count7 = 0, count10 = 0;
    status = 0;
    params = {0x00, 2, 1, 0x10, 0x50, 0x34, 0x02};
    EXPECT_EQ(sdk.i2cScanBus(out, &count7, &count10, 1, true), 0);
    EXPECT_EQ(out, (Bytes{0x10, 0x50, 0x34, 0x02}));
    EXPECT_EQ(count7, 2);
    EXPECT_EQ(count10, 1);
    EXPECT_EQ(withoutId(adapter.requests().back()), (Bytes{0x06, 0x09, 0x01, 0x01}));
    params = {0x00, 3, 1, 0x10, 0x11, 0x12, 0x34};  // 11 bytes where 13 are needed
    status = 0x020F;
    EXPECT_EQ(sdk.i2cScanBus(out, &count7, &count10, 0, false), kWrongResponse);
    EXPECT_EQ(count7, 2);
    params = {0x00};  // too short even for the counts: the status explains it
    EXPECT_EQ(sdk.i2cScanBus(out, &count7, &count10, 0, false), 0x020F);
    status = 0;
    EXPECT_EQ(sdk.i2cScanBus(out, &count7, &count10, 0, false), kWrongResponse);

    const size_t sent = adapter.requests().size();
    EXPECT_EQ(sdk.i2cScanBus(out, nullptr, &count10, 0, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cScanBus(out, &count7, nullptr, 0, false), kWrongRequest);
    EXPECT_EQ(sdk.i2cScanBus(out, &count7, &count10, 2, false), kWrongRequest);
    EXPECT_EQ(adapter.requests().size(), sent);
}

TEST(I2cControllerBulk, DataPhasesMoveThroughTheBulkEndpoints) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_TRUE(sdk.getBulkCapabilities().supported);  // asked of the firmware, then cached
    uint16_t status = 0;
    uint16_t announced = 0;
    Bytes queued;
    script(adapter, [&](const Bytes& req) {
        if (!queued.empty()) adapter.sendBulk(queued);
        return reply(
            req, status,
            {0x00, static_cast<uint8_t>(announced & 0xFF), static_cast<uint8_t>(announced >> 8)});
    });

    const Bytes data = pattern(300, 9);
    EXPECT_EQ(sdk.i2cWriteBulk(1, 0x50, {0x01, 0x00}, data, false), 0);
    EXPECT_EQ(withoutId(adapter.requests().back()),
              (Bytes{0x07, 0x09, 0x01, 0x2C, 0x01, 0x50, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(adapter.bulkReceived(), data);

    Bytes out = {0xEE};
    queued = pattern(200, 1);
    announced = 200;
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 256, out, false), 0);
    EXPECT_EQ(out, queued);
    queued.clear();
    announced = 257;  // more than was asked for
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 256, out, false), kWrongResponse);
    EXPECT_TRUE(out.empty());
    announced = 0;
    out = {0xEE};
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 256, out, false), 0);
    EXPECT_TRUE(out.empty());
    status = 0x0203;
    out = {0xEE};
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 256, out, false), 0x0203);
    EXPECT_TRUE(out.empty());
    status = 0;
    announced = 5;  // the data never comes
    out = {0xEE};
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 256, out, false), kTimeout);
    EXPECT_TRUE(out.empty());
}

TEST(I2cControllerBulk, TheGateSeesEachCommandAndLength) {
    sim::VirtualAdapter adapter;
    sim::BulkCapabilityConfig caps;
    caps.groups = {{2, 64, 0x80}};  // bulk writes of up to 64 bytes only
    adapter.setBulkCapabilities(caps);
    VantorSDK sdk(2000);
    Bytes out;
    EXPECT_EQ(sdk.i2cWriteBulk(0, 0x50, {}, {1}, false), kDisconnect);
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 1, out, false), kDisconnect);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.getBulkCapabilities().groups.size(), 1u);  // asked of the firmware, then cached
    script(adapter, [](const Bytes& req) { return reply(req, 0); });
    EXPECT_EQ(sdk.i2cWriteBulk(0, 0x50, {}, pattern(64), false), 0);
    EXPECT_EQ(sdk.i2cWriteBulk(0, 0x50, {}, pattern(65), false), kWrongRequest);
    EXPECT_EQ(sdk.i2cReadBulk(0, 0x50, {}, 1, out, false), kBulkUnavailable);

    sim::AdapterOptions options;
    options.serial = "I2CNOBULK2";
    options.bulk = false;
    sim::VirtualAdapter noBulk(options);
    VantorSDK plain(2000);
    ASSERT_TRUE(plain.connect(noBulk.path()));
    EXPECT_EQ(plain.i2cWriteBulk(0, 0x50, {}, {1}, false), kBulkUnavailable);
    EXPECT_EQ(plain.i2cReadBulk(0, 0x50, {}, 1, out, false), kBulkUnavailable);
    EXPECT_TRUE(noBulk.reports().empty());
}

TEST(I2cController, AnEepromKeepsWhatWasWrittenOverBothChannels) {
    sim::VirtualAdapter adapter;
    ASSERT_TRUE(adapter.attachI2cEeprom(0, 0x50));
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, static_cast<uint8_t>(I2cPullUp::KOHM_2_2)), 0);
    Bytes out;
    ASSERT_EQ(sdk.i2cWrite(0, 0x50, {0x10}, {1, 2, 3}, false), 0);
    ASSERT_EQ(sdk.i2cRead(0, 0x50, {0x10}, 3, out, false), 0);
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
    ASSERT_EQ(sdk.i2cWriteBulk(0, 0x50, {0x20}, pattern(16, 4), false), 0);
    ASSERT_EQ(sdk.i2cReadBulk(0, 0x50, {0x20}, 16, out, false), 0);
    EXPECT_EQ(out, pattern(16, 4));
    EXPECT_EQ(sdk.i2cWrite(0, 0x51, {0x00}, {1}, false), 0x0203);  // nobody at 0x51
}

TEST(I2cControllerFaults, AFailedWriteIsResentAndAnUnpluggedAdapterIsReopened) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(500);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    // Two reports per request on this model.
    expectWriteFailureAndUnplugRecovery(
        adapter, [&] { return sdk.i2cWrite(1, 0x50, {0x00}, pattern(100), false); });
}

}  // namespace
}  // namespace vantor
