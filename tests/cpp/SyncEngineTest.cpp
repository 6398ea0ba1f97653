// SPDX-License-Identifier: MIT
// The synchronous engine against a virtual adapter: matching responses to
// requests, timeouts, discarded messages, transaction ids, notifications and
// calls from several threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/ResponseWaiter.h"
#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

constexpr uint16_t kGetUsbConfig = 0x040E;

// A getUsbConfig answer with the request's id.
Bytes usbConfigAnswer(const Bytes& request, uint8_t webusb, uint8_t cdc, uint8_t mode) {
    return responseMessage(idOf(request), kGetUsbConfig, 0, {webusb, cdc, mode});
}

TEST(SyncEngine, AnswersThatMissTheirRequestTimeOutAndAreDiscarded) {
    struct Case {
        const char* name;
        int timeoutMs;
        bool late;  // else answered at once, with another id
    };
    for (const Case& c : {Case{"late, timeout 0", 0, true}, Case{"another id", 100, false}}) {
        SCOPED_TRACE(c.name);
        sim::VirtualAdapter adapter;
        if (c.late) {
            adapter.faults().setResponseDelay(std::chrono::milliseconds(300));
        } else {
            adapter.setHandler([](const Bytes& r) {
                const auto other = static_cast<uint16_t>(idOf(r) + 1);
                return std::vector<Bytes>{responseMessage(other, kGetUsbConfig, 0, {1, 1, 1})};
            });
        }
        VantorSDK sdk(c.timeoutMs);  // 0 gives up as soon as the request is written
        ASSERT_TRUE(sdk.connect(adapter.path()));
        UsbConfig config{7, 7, 7};
        EXPECT_EQ(sdk.getUsbConfig(config), kTimeout);
        EXPECT_EQ(config.webusbEnabled, 7u);
        if (c.late) {
            EXPECT_EQ(sdk.getDiscardedResponseCount(), 0u);  // not yet arrived
        }
        EXPECT_TRUE(eventually([&] { return sdk.getDiscardedResponseCount() == 1; }));
    }
}

// Two answers carry the request's id: the one with the request's command code
// is delivered, the other counted as discarded. An answer with another code
// (another connection's, which numbers its requests on its own) does not end
// the wait.
struct TwoAnswersCase {
    const char* name;
    uint16_t firstCommand;
};

class SyncEngineTwoAnswers : public ::testing::TestWithParam<TwoAnswersCase> {};

TEST_P(SyncEngineTwoAnswers, TheOneWithTheRequestsCodeIsDeliveredAndTheOtherDiscarded) {
    const uint16_t firstCommand = GetParam().firstCommand;
    sim::VirtualAdapter adapter;
    adapter.setHandler([firstCommand](const Bytes& r) {
        return std::vector<Bytes>{responseMessage(idOf(r), firstCommand, 0, {1, 0, 2}),
                                  usbConfigAnswer(r, 0, 1, 4)};
    });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    UsbConfig config;
    ASSERT_EQ(sdk.getUsbConfig(config), 0);
    const bool firstMatches = firstCommand == kGetUsbConfig;
    EXPECT_EQ(config.webusbEnabled, firstMatches ? 1u : 0u);
    EXPECT_EQ(config.cdcMode, firstMatches ? 2u : 4u);
    EXPECT_TRUE(eventually([&] { return sdk.getDiscardedResponseCount() == 1; }));
}

INSTANTIATE_TEST_SUITE_P(SyncEngine, SyncEngineTwoAnswers,
                         ::testing::Values(TwoAnswersCase{"BothWithItsCode", kGetUsbConfig},
                                           TwoAnswersCase{"AnotherCodeFirst", 0x0407}),
                         RowName{});

TEST(SyncEngine, ResponsesAreCheckedBeforeTheirFieldsAreRead) {
    sim::VirtualAdapter adapter;
    uint16_t swap = 0;  // 3 answers 0x040E as 0x040D and the other way round
    uint16_t status = 0;
    Bytes params = {1, 1};  // one byte short
    adapter.setHandler([&](const Bytes& r) {
        const auto command = static_cast<uint16_t>(commandOf(r) ^ swap);
        return std::vector<Bytes>{responseMessage(idOf(r), command, status, params)};
    });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    UsbConfig config{7, 7, 7};
    EXPECT_EQ(sdk.getUsbConfig(config), kWrongResponse);
    status = 0x0004;  // even with an error status
    EXPECT_EQ(sdk.getUsbConfig(config), kWrongResponse);
    params = {1, 0, 4};
    swap = 3;
    EXPECT_EQ(sdk.getUsbConfig(config), kUnexpected);
    EXPECT_EQ(sdk.setUsbConfig(config), kUnexpected);
    EXPECT_EQ(config.webusbEnabled, 7u);  // outputs untouched so far

    // Outputs are filled even when the status is a firmware error.
    swap = 0;
    status = 0x0108;
    EXPECT_EQ(sdk.getUsbConfig(config), 0x0108);
    EXPECT_EQ(config.webusbEnabled, 1u);
    EXPECT_EQ(config.cdcMode, 4u);
}

TEST(SyncEngine, TransactionIdsCountUpAndWrapFrom65535To1) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    UsbConfig config;
    for (int i = 0; i < 5; ++i) {
        if (i == 2) VantorSDKTestAccess::setLastTransactionId(sdk, 65534);
        ASSERT_EQ(sdk.getUsbConfig(config), 0);
    }
    std::vector<uint16_t> ids;
    for (const auto& request : adapter.requests()) ids.push_back(idOf(request));
    EXPECT_EQ(ids, (std::vector<uint16_t>{1, 2, 65535, 1, 2}));
    EXPECT_EQ(sdk.getDiscardedResponseCount(), 0u);
}

// ---------------------------------------------------------------- threads

TEST(SyncEngineReaderThread, ShortMessagesAreDiscardedAndIdZeroGoesToACallbackThatMayThrow) {
    sim::VirtualAdapter adapter;
    Inbox<Bytes> notifications;
    VantorSDK sdk(2000);
    sdk.onNotification([&](const Notification& n) {
        notifications.push(Bytes(n.message(), n.message() + n.length()));
        if (n.kind() == NOTIF_GPIO) throw std::runtime_error("user callback failed");
    });
    ASSERT_TRUE(sdk.connect(adapter.path()));

    adapter.send({0x05, 0x00, 0x0E, 0x04, 0x00});
    EXPECT_TRUE(eventually([&] { return sdk.getDiscardedResponseCount() == 1; }));
    const Bytes gpio = {0x00, 0x00, 0x81, 0x14, 0x00, 0x00};
    adapter.send(gpio);
    ASSERT_TRUE(notifications.waitFor(1));
    // The reader goes on after the callback threw.
    UsbConfig config;
    EXPECT_EQ(sdk.getUsbConfig(config), 0);
    const Bytes uart = {0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x00, 0x00};
    adapter.send(uart);
    ASSERT_TRUE(notifications.waitFor(2));
    EXPECT_EQ(notifications.items(), (std::vector<Bytes>{gpio, uart}));
    EXPECT_EQ(sdk.getDiscardedResponseCount(), 1u);
}

TEST(SyncEngineReaderThread, ABlockingCallFromTheCallbackIsRefusedInsteadOfHanging) {
    sim::VirtualAdapter adapter;
    Inbox<uint16_t> fromCallback;
    Inbox<uint16_t> fromCaller;
    // A call that waited for the reader would block it until the timeout.
    VantorSDK sdk(3000);
    sdk.onNotification([&](const Notification&) {
        UsbConfig config;
        std::vector<uint8_t> text;
        DeviceInfo info;
        fromCallback.push(sdk.getUsbConfig(config));
        fromCallback.push(sdk.getUsbString(text, 1));
        fromCallback.push(sdk.getDeviceInfo(info));
        fromCallback.push(sdk.resetDevice());
        fromCallback.push(sdk.getBulkCapabilities().queried ? 1 : 0);
        sdk.disconnect();  // ignored on the reader thread
        fromCallback.push(sdk.isConnected() ? 1 : 0);
    });
    ASSERT_TRUE(sdk.connect(adapter.path()));

    // Another caller holds the request slot, waiting for a delayed answer,
    // while the callback runs.
    adapter.faults().setResponseDelay(std::chrono::milliseconds(100));
    std::thread caller([&] {
        UsbConfig config;
        fromCaller.push(sdk.getUsbConfig(config));
    });
    EXPECT_TRUE(adapter.waitForRequests(1, kWaitLimit));
    adapter.notify(0x1481, {0x01, 0x01, 0x01});
    EXPECT_TRUE(fromCallback.waitFor(6));
    EXPECT_TRUE(fromCaller.waitFor(1));
    caller.join();
    EXPECT_EQ(fromCallback.items(), (std::vector<uint16_t>{kWrongRequest, kWrongRequest,
                                                           kWrongRequest, kWrongRequest, 0, 1}));
    EXPECT_EQ(fromCaller.items(), std::vector<uint16_t>{0});
    EXPECT_EQ(adapter.requests().size(), 1u);
}

TEST(SyncEngineConcurrent, OverlappingCallsEachGetTheirOwnAnswer) {
    const std::vector<std::string> strings = {"maker", "product", "serial-1234", "hw", "fw"};
    sim::AdapterOptions options;
    options.identity = {strings[0], strings[1], strings[2], strings[3], strings[4]};
    sim::VirtualAdapter adapter(options);
    VantorSDK sdk(5000);
    ASSERT_TRUE(sdk.connect(adapter.path()));

    constexpr int kThreads = 5;
    constexpr int kCalls = 60;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint8_t> text;
            for (int i = 0; i < kCalls; ++i) {
                // Each thread asks for its own string, and now and then for the
                // configuration, whose answer has another shape.
                if (i % 7 == 3) {
                    UsbConfig config{9, 9, 9};
                    if (sdk.getUsbConfig(config) != 0 || config.cdcMode != 0) ++wrong;
                    continue;
                }
                const uint16_t status = sdk.getUsbString(text, static_cast<uint8_t>(t + 1));
                if (status != 0 || std::string(text.begin(), text.end()) != strings[t]) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(sdk.getDiscardedResponseCount(), 0u);
    EXPECT_EQ(adapter.requests().size(), static_cast<size_t>(kThreads * kCalls));
}

// Two connections to one adapter, as two programs would open it, each
// calling from its own thread with transaction ids of its own: each sees the
// other's answers too, ignores them, and gets its own.
TEST(SyncEngineConcurrent, TwoConnectionsToOneAdapterEachGetTheirOwnAnswers) {
    sim::VirtualAdapter adapter;
    VantorSDK config(2000);
    VantorSDK strings(2000);
    ASSERT_TRUE(config.connect(adapter.path()));
    ASSERT_TRUE(strings.connect(adapter.path()));

    constexpr int kCalls = 200;
    std::atomic<int> wrong{0};
    // A call that goes wrong ends its loop: on failure each would wait out
    // its timeout.
    std::thread other([&] {
        std::vector<uint8_t> text;
        for (int i = 0; i < kCalls && wrong == 0; ++i) {
            if (strings.getUsbString(text, 2) != 0 ||
                text != Bytes{'T', 'e', 'r', 'a', 'n', 'o', 'x'}) {
                ++wrong;
            }
        }
    });
    for (int i = 0; i < kCalls && wrong == 0; ++i) {
        UsbConfig got{9, 9, 9};
        if (config.getUsbConfig(got) != 0 || got.cdcMode != 0) ++wrong;
    }
    other.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(adapter.requests().size(), 2u * kCalls);
}

// A caller first polls for its answer (for as long as recent answers took)
// and then sleeps on the condition variable. Answers that come at once,
// within the poll, just after it and long after it must all reach the
// request they belong to, and an answer for another request must not end
// the poll.
TEST(ResponseWaiterThread, AnswersBeforeDuringAndAfterTheCallersPollAreEachTakenOnce) {
    using std::chrono::microseconds;
    const microseconds delays[] = {microseconds(0), microseconds(5), microseconds(30),
                                   microseconds(300), microseconds(3000)};
    ResponseWaiter waiter(5000);
    std::mutex mutex;
    std::condition_variable cv;
    uint16_t toAnswer = 0;
    microseconds delay{0};
    bool stop = false;
    int stored = -1;
    std::thread device([&] {
        for (;;) {
            uint16_t id = 0;
            microseconds wait{0};
            {
                std::unique_lock<std::mutex> lock(mutex);
                cv.wait(lock, [&] { return stop || toAnswer != 0; });
                if (stop) return;
                id = toAnswer;
                wait = delay;
                toAnswer = 0;
            }
            // A stray answer first: it is counted and changes nothing.
            waiter.deliver(static_cast<uint16_t>(id + 0x4000), 0x040E, [&] { stored = -2; });
            if (wait.count() > 0) std::this_thread::sleep_for(wait);
            waiter.deliver(id, 0x040E, [&] { stored = id; });
        }
    });

    constexpr int kRounds = 40;
    int wrong = 0;
    for (int i = 0; i < kRounds; ++i) {
        for (size_t d = 0; d < std::size(delays); ++d) {
            const auto id = static_cast<uint16_t>(1 + i * std::size(delays) + d);
            waiter.setExpected(id);
            const ResponseWaiter::Outcome outcome = waiter.execute([&] {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    toAnswer = id;
                    delay = delays[d];
                }
                cv.notify_one();
                return true;
            });
            if (outcome != ResponseWaiter::Outcome::Answered || stored != id) ++wrong;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    cv.notify_one();
    device.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(waiter.discarded(), static_cast<uint64_t>(kRounds * std::size(delays)));
}

}  // namespace
}  // namespace vantor
