// SPDX-License-Identifier: MIT
// Batches on a virtual adapter: resends of a pipelined window, what is known
// of each call when answers go missing, other threads' calls and bulk calls.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "sdk/core/Batch.h"

namespace vantor::test {
namespace {

using State = Batch::State;
constexpr uint8_t kReg = 0x50;  // register map on bus 0

struct Expected {
    State state;
    uint16_t status;
    uint32_t resends = 0;
};

struct BatchRow {
    std::string name;
    std::function<void(sim::FaultBench&)> fault;
    Batch::Options options;
    int timeoutMs;
    std::vector<Expected> expected;
};

void PrintTo(const BatchRow& row, std::ostream* os) {
    *os << row.name;
}

class BatchOutcome : public ::testing::TestWithParam<BatchRow> {};

// Five calls: three register writes, then two reads.
TEST_P(BatchOutcome, EachCallReportsWhatIsKnownOfIt) {
    const BatchRow& row = GetParam();
    sim::VirtualAdapter adapter;
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(0, kReg));
    VantorSDK sdk(row.timeoutMs);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, 0), 0);
    if (row.fault) row.fault(adapter.faults());

    Bytes first, second;
    Batch batch(sdk, row.options);
    for (uint8_t reg = 1; reg <= 3; ++reg) {
        batch.add([reg](VantorSDK& s) { return s.i2cWrite(0, kReg, {reg}, {reg}, false); });
    }
    batch.add([&](VantorSDK& s) { return s.i2cRead(0, kReg, {1}, 1, first, false); });
    batch.add([&](VantorSDK& s) { return s.i2cRead(0, kReg, {2}, 1, second, false); });
    const std::vector<Batch::Result> results = batch.run();

    ASSERT_EQ(results.size(), row.expected.size());
    for (size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i));
        EXPECT_EQ(results[i].state, row.expected[i].state);
        EXPECT_EQ(results[i].status, row.expected[i].status);
        EXPECT_EQ(results[i].resends, row.expected[i].resends);
    }
}

// The states of a window of one, a queue full beyond the resend bound, a
// lost answer, a failing call with or without stop-on-error and unplugging
// with calls in flight are the Python batch fault matrix's and
// test_batch.py's, through this same class.
const Expected kDone{State::Done, 0};
const Expected kLost{State::Unknown, kTimeout};
const Expected kResent{State::Done, 0, 1};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Batch, BatchOutcome, ::testing::Values(
    BatchRow{"TurnedAwayCallsAreSentAgain", [](sim::FaultBench& f) { f.turnAwayRequests(3); }, {}, -1, {kResent, kResent, kResent, kDone, kDone}},
    BatchRow{"ATimeoutWithTheWindowFullLeavesTheRestUnsent", [](sim::FaultBench& f) { f.loseAnswers(2); }, {2}, 200, {kLost, kLost, {State::NotSent, kTimeout}, {State::NotSent, kTimeout}, {State::NotSent, kTimeout}}}),
    RowName());
// clang-format on

// A blocking call made while a batch runs waits for the whole batch, then
// gets its own answer; nothing of it is sent in between.
TEST(BatchThreads, ABlockingCallFromAnotherThreadWaitsForTheBatch) {
    sim::VirtualAdapter adapter;
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(0, kReg));
    VantorSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, 0), 0);
    adapter.clear();
    adapter.faults().holdAnswers(true);

    Batch batch(sdk);
    for (uint8_t i = 0; i < 8; ++i) {
        batch.add([i](VantorSDK& s) { return s.i2cWrite(0, kReg, {i}, {uint8_t(i + 1)}, false); });
    }
    std::vector<Batch::Result> results;
    std::thread runner([&] { results = batch.run(); });
    ASSERT_TRUE(adapter.waitForRequests(8, kWaitLimit));
    Bytes read;
    uint16_t readStatus = 0xFFFF;
    std::thread other([&] { readStatus = sdk.i2cRead(0, kReg, {7}, 1, read, false); });
    adapter.faults().holdAnswers(false);
    runner.join();
    other.join();

    for (const Batch::Result& r : results) EXPECT_EQ(r.state, State::Done);
    EXPECT_EQ(readStatus, 0);
    EXPECT_EQ(read, Bytes{8});
    const std::vector<Bytes> requests = adapter.requests();
    ASSERT_EQ(requests.size(), 9u);
    EXPECT_EQ(commandOf(requests.back()), commandOf(requests.front()) + 1);  // the read, last
}

// A bulk transfer cannot be pipelined: it runs on its own once the calls
// before it are answered, and the calls after it are pipelined again. When
// its answer does not come it is Unknown, and the batch ends there.
TEST(Batch, ABulkCallRunsBetweenPipelinedOnes) {
    sim::VirtualAdapter adapter(adapterOptions("BATCH-BULK"));
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(0, kReg));
    VantorSDK sdk(200);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, 0), 0);

    Bytes readBack;
    Batch batch(sdk);
    batch.add([](VantorSDK& s) { return s.i2cWrite(0, kReg, {0x00}, {1, 2}, false); });
    batch.add([](VantorSDK& s) { return s.i2cWriteBulk(0, kReg, {0x10}, {3, 4, 5}, false); });
    batch.add([&](VantorSDK& s) { return s.i2cReadBulk(0, kReg, {0x10}, 3, readBack, false); });
    batch.add([](VantorSDK& s) { return s.i2cDeinit(0); });
    for (const Batch::Result& r : batch.run()) EXPECT_EQ(r.state, State::Done);
    EXPECT_EQ(readBack, (Bytes{3, 4, 5}));

    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, 0), 0);
    Batch lost(sdk);
    lost.add([](VantorSDK& s) { return s.i2cWriteBulk(0, kReg, {0x10}, {6}, false); });
    lost.add([](VantorSDK& s) { return s.i2cDeinit(0); });
    adapter.faults().loseAnswers(1);
    const std::vector<Batch::Result> results = lost.run();
    EXPECT_EQ(results[0].state, State::Unknown);
    EXPECT_EQ(results[0].status, kTimeout);
    EXPECT_EQ(results[1].state, State::NotSent);
}

}  // namespace
}  // namespace vantor::test
