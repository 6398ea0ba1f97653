// SPDX-License-Identifier: MIT
// The asynchronous engine against a virtual adapter: the bytes it writes, the
// reopen-and-resend after a failed write, boot mode, and sending from several
// threads at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

// A request of `length` bytes: id, command 0x04FF (no such system command),
// then a recognisable pattern seeded by `seed`.
Bytes longRequest(uint16_t id, size_t length, uint8_t seed) {
    Bytes m = {static_cast<uint8_t>(id & 0xFF), static_cast<uint8_t>(id >> 8), 0xFF, 0x04};
    for (size_t i = m.size(); i < length; ++i) m.push_back(static_cast<uint8_t>(seed + i * 7));
    return m;
}

// (The bytes of a one-report message are HidTransportWrite's and
// ReportFramer's; the answer reaching the callback, VirtualTiming's.)
TEST(AsyncEngine, EnterBootModeDisconnects) {
    sim::VirtualAdapter adapter;
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.enterBootMode(9), 0);
    EXPECT_FALSE(sdk.isConnected());
    EXPECT_EQ(sdk.getUsbConfig(10), kDisconnect);
    EXPECT_TRUE(adapter.system().inBootMode());
    EXPECT_EQ(adapter.requests(), std::vector<Bytes>{Bytes({0x09, 0x00, 0x02, 0x04})});
    adapter.plug();  // the application starts again
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.getUsbConfig(11), 0);
}

// The default HID backend, except that the `failAt`-th output report (counted
// over every device it opened) is made to fail slowly by the adapter: the
// transport takes a hid_write that fails after 900 ms or more as a lost
// device.
class FailNthReport final : public ForwardingHidBackend {
  public:
    // `beforeFailing` runs on the writing thread just before the failing write.
    FailNthReport(sim::VirtualAdapter& adapter, int failAt,
                  std::function<void()> beforeFailing = {})
        : adapter_(adapter), failAt_(failAt), beforeFailing_(std::move(beforeFailing)) {}

    std::unique_ptr<usb::HidDevice> openPath(const std::string& path) override {
        auto device = ForwardingHidBackend::openPath(path);
        if (!device) return nullptr;
        ++opens;
        return std::make_unique<Device>(*this, std::move(device));
    }

    std::atomic<int> opens{0};

  private:
    class Device final : public usb::HidDevice {
      public:
        Device(FailNthReport& owner, std::unique_ptr<usb::HidDevice> inner)
            : owner_(owner), inner_(std::move(inner)) {}
        int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
            return inner_->readTimeout(data, length, milliseconds);
        }
        int write(const uint8_t* data, size_t length) override {
            if (++owner_.writes_ == owner_.failAt_) {
                if (owner_.beforeFailing_) owner_.beforeFailing_();
                owner_.adapter_.faults().failWrites(1, std::chrono::milliseconds(950));
            }
            return inner_->write(data, length);
        }

      private:
        FailNthReport& owner_;
        std::unique_ptr<usb::HidDevice> inner_;
    };

    sim::VirtualAdapter& adapter_;
    const int failAt_;
    std::function<void()> beforeFailing_;
    std::atomic<int> writes_{0};
};

// ---------------------------------------------------------------- threads

// The second of three reports fails slowly: the send reopens the device
// and sends the whole message again. While it reopens (which stops and
// joins the reader thread), the callback on the reader thread tries to send
// too. It must not wait for that send to finish: the send waits for it.
TEST(AsyncEngineReaderThread, ASendFromTheCallbackGivesWayToAReopen) {
    sim::VirtualAdapter adapter;
    Inbox<int> entered;
    Inbox<uint16_t> fromCallback;
    FailNthReport hid(adapter, 2, [&] {
        adapter.notify(0x1481, {0x01, 0x01, 0x01});
        entered.waitFor(1);
    });
    VantorAsyncSDK sdk(hid, usb::defaultUsbBackend());
    sdk.onResponse([&](const Bytes& message) {
        if (idOf(message) != 0) return;
        entered.push(1);
        fromCallback.push(sdk.getUsbConfig(5));
    });
    ASSERT_TRUE(sdk.connect(adapter.path()));

    const Bytes message = longRequest(0x0C0D, 150, 9);
    EXPECT_EQ(VantorAsyncSDKTestAccess::send(sdk, message), 0);
    ASSERT_TRUE(fromCallback.waitFor(1));
    EXPECT_EQ(fromCallback.items()[0], kDisconnect);
    EXPECT_EQ(hid.opens, 2);  // one reopen by path
    EXPECT_TRUE(sdk.isConnected());
    ASSERT_TRUE(adapter.waitForRequests(1, kWaitLimit));
    EXPECT_EQ(adapter.requests(), std::vector<Bytes>{message});
}

TEST(AsyncEngineConcurrent, MessagesFromManyThreadsArriveIntact) {
    sim::VirtualAdapter adapter;  // 62 message bytes per report
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));

    constexpr int kThreads = 8;
    constexpr int kMessages = 150;
    std::vector<Bytes> expected;
    for (int t = 0; t < kThreads; ++t) {
        for (int m = 0; m < kMessages; ++m) {
            // 400..1000 bytes: 7 to 17 reports each.
            const uint16_t id = static_cast<uint16_t>(t * 1000 + m + 1);
            expected.push_back(longRequest(id, 400 + (m * 97) % 600, static_cast<uint8_t>(id)));
        }
    }
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();  // all start together
            for (int m = 0; m < kMessages; ++m) {
                if (VantorAsyncSDKTestAccess::send(sdk, expected[t * kMessages + m]) != 0) {
                    ++failures;
                }
            }
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);

    // Interleaved reports would show up as malformed or as garbled messages.
    adapter.waitForRequests(expected.size(), std::chrono::seconds(5));
    EXPECT_EQ(adapter.malformedReports(), 0u);
    auto received = adapter.requests();
    ASSERT_EQ(received.size(), expected.size());
    // Every message arrives exactly as sent; the order between threads is free.
    std::sort(received.begin(), received.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(received == expected);
}

}  // namespace
}  // namespace vantor
