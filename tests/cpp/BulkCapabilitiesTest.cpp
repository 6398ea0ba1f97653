// SPDX-License-Identifier: MIT
// The bulk capability query, its cache and the bulk gate.

#include <gtest/gtest.h>

#include <vector>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

constexpr uint16_t kGetBulkCapabilities = 0x040F;
constexpr uint16_t kI2cWriteBulk = 0x0907;
constexpr uint16_t kI2cReadBulk = 0x0908;
constexpr uint16_t kSpiWriteBulk = 0x0D07;

size_t capabilityQueries(const sim::VirtualAdapter& adapter) {
    size_t n = 0;
    for (const auto& r : adapter.requests()) n += commandOf(r) == kGetBulkCapabilities;
    return n;
}

// Answers the capability query with `params` after the header.
void answerCapabilities(sim::VirtualAdapter& adapter, uint16_t status, const Bytes& params) {
    adapter.setHandler([status, params](const Bytes& r) {
        if (commandOf(r) != kGetBulkCapabilities) return std::vector<Bytes>{};
        return std::vector<Bytes>{responseMessage(idOf(r), kGetBulkCapabilities, status, params)};
    });
}

TEST(BulkCapabilities, ParsesTheRecordsAndStopsAtATruncatedOne) {
    sim::VirtualAdapter adapter;
    // info 0x5A, supported, two bytes not interpreted, three records
    // announced, the third cut short.
    answerCapabilities(
        adapter, 0, {0x5A, 0x01, 0xEE, 0xEE, 0x03, 0x02, 0x00, 0x10, 0x80, 0x01, 0x00, 0x00, 0x03,
                     0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x06, 0xFF, 0x7F, 0x80, 0x01, 0x00});
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    const auto& caps = sdk.getBulkCapabilities();
    EXPECT_TRUE(caps.queried);
    EXPECT_EQ(caps.capabilityInfo, 0x5A);
    EXPECT_TRUE(caps.supported);
    ASSERT_EQ(caps.groups.size(), 2u);
    EXPECT_EQ(caps.groups[0].group, 2);
    EXPECT_EQ(caps.groups[0].maxPayload, 0x1000);
    EXPECT_EQ(caps.groups[0].commandMask, 0x180u);
    EXPECT_EQ(caps.groups[1].group, 3);
    EXPECT_EQ(caps.groups[1].maxPayload, 0x1234);
    EXPECT_EQ(caps.groups[1].commandMask, 0x12345678u);
}

TEST(BulkCapabilities, WithoutAnAnswerTheNextCallAsksAgain) {
    sim::VirtualAdapter adapter;
    adapter.setHandler([](const Bytes&) { return std::vector<Bytes>{}; });
    VantorSDK sdk(50);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_FALSE(sdk.getBulkCapabilities().queried);
    EXPECT_EQ(VantorSDKTestAccess::bulkGate(sdk, bulkCommand(kI2cWriteBulk), 10), kBulkUnavailable);
    adapter.setHandler({});  // the firmware answers again
    EXPECT_TRUE(sdk.getBulkCapabilities().supported);
    EXPECT_EQ(capabilityQueries(adapter), 3u);
}

TEST(BulkCapabilities, AnswersAreKeptPerConnectionAndABadOneMeansNoBulk) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    for (int round = 0; round < 2; ++round) {
        if (round == 0) {
            answerCapabilities(adapter, 0x0001, {0x07, 0x01, 0x00, 0x00, 0x00});
        } else {
            answerCapabilities(adapter, 0, {0x07, 0x01, 0x00, 0x00});  // no record count
        }
        ASSERT_TRUE(sdk.connect(adapter.path()));  // drops the cache
        EXPECT_EQ(VantorSDKTestAccess::bulkGate(sdk, bulkCommand(kI2cWriteBulk), 10),
                  kBulkUnavailable);
        EXPECT_TRUE(sdk.getBulkCapabilities().queried);
        EXPECT_FALSE(sdk.getBulkCapabilities().supported);
        EXPECT_EQ(sdk.getBulkCapabilities().capabilityInfo, 0);

        adapter.setHandler({});  // a good answer now comes too late
        EXPECT_EQ(VantorSDKTestAccess::bulkGate(sdk, bulkCommand(kI2cWriteBulk), 10),
                  kBulkUnavailable);
        EXPECT_EQ(capabilityQueries(adapter), 1u);
        sdk.disconnect();
        adapter.clear();
    }
    // A good answer is asked for when first needed, then kept.
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(capabilityQueries(adapter), 0u);
    EXPECT_EQ(VantorSDKTestAccess::bulkGate(sdk, bulkCommand(kI2cWriteBulk), 10), 0);
    EXPECT_EQ(VantorSDKTestAccess::bulkGate(sdk, bulkCommand(kSpiWriteBulk), 10), 0);
    EXPECT_EQ(capabilityQueries(adapter), 1u);
}

// One bulk operation offered to the gate of an adapter whose groups are
// I2C (limit 4096, write only), SPI (no limit, write and read), I2C again
// (a later entry, which must not count) and I3C (bit 31 only), and that
// offers bulk unless `supported` says otherwise.
struct GateCase {
    const char* name;
    uint16_t command;
    uint64_t length;
    uint16_t expected;
    bool supported = true;
};

class BulkGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(BulkGate, AnswersWithItsCode) {
    sim::VirtualAdapter adapter;
    sim::BulkCapabilityConfig config;
    config.groups = {{2, 4096, 0x80}, {3, 0, 0x180}, {2, 100, 0xFFFFFFFF}, {6, 0, 0x80000000}};
    config.supported = GetParam().supported;
    adapter.system().setBulkCapabilities(config);
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    const GateCase& c = GetParam();
    EXPECT_EQ(VantorSDKTestAccess::bulkGate(sdk, bulkCommand(c.command), c.length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Capabilities, BulkGate,
    ::testing::Values(GateCase{"TheGroupLimit", kI2cWriteBulk, 4096, 0},
                      GateCase{"OverTheGroupLimit", kI2cWriteBulk, 4097, kWrongRequest},
                      GateCase{"NothingToMove", kI2cWriteBulk, 0, kWrongRequest},
                      GateCase{"CommandBitClear", kI2cReadBulk, 10, kBulkUnavailable},
                      GateCase{"GroupNotListed", 0x1007, 10, kBulkUnavailable},
                      GateCase{"LowFiveBitsOfTheCodePickTheMaskBit", 0x181F, 10, 0},
                      GateCase{"LimitZeroMeansNone", kSpiWriteBulk, 1000000, 0},
                      // An unsupported command is refused before its length
                      // is looked at.
                      GateCase{"UnsupportedBeforeLength", kI2cReadBulk, 0, kBulkUnavailable},
                      GateCase{"AdapterWithoutBulk", kI2cWriteBulk, 10, kBulkUnavailable, false}),
    RowName{});

}  // namespace
}  // namespace vantor
