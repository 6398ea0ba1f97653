// The HID transport against virtual adapters: device selection, output
// reports, the degraded states and their recovery, and the reader thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "sdk/core/Protocol.h"
#include "sdk/transport/HidTransport.h"
#include "sim/VirtualAdapter.h"
#include "sim/VirtualBackends.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using sim::Model;
using sim::VirtualAdapter;

constexpr auto kWaitLimit = 2s;

sim::AdapterOptions adapterOptions(const std::string& serial, Model model) {
    sim::AdapterOptions options;
    options.serial = serial;
    options.model = model;
    return options;
}

// A plugged adapter whose requests get no answer, so that arbitrary test
// segments cannot make its firmware act.
struct Adapter : VirtualAdapter {
    explicit Adapter(const std::string& serial, Model model = Model::Teranox)
        : VirtualAdapter(adapterOptions(serial, model)) {
        setHandler([](const Bytes&) { return std::vector<Bytes>{}; });
    }
};

template <typename Predicate>
bool waitUntil(Predicate predicate) {
    const auto end = std::chrono::steady_clock::now() + kWaitLimit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Collects what the reader thread hands up.
class Received {
  public:
    void add(const Bytes& report) {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(report);
        if (std::this_thread::get_id() == caller_) onCallerThread_ = true;
        changed_.notify_all();
    }
    HidTransport::ReportCallback callback() {
        return [this](const Bytes& report) { add(report); };
    }
    // The reports once there are `count` of them; empty after the time limit.
    std::vector<Bytes> waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, kWaitLimit, [&] { return reports_.size() >= count; })) {
            return {};
        }
        return reports_;
    }
    bool sawCallerThread() {
        std::lock_guard<std::mutex> lock(mutex_);
        return onCallerThread_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> reports_;
    const std::thread::id caller_ = std::this_thread::get_id();
    bool onCallerThread_ = false;
};

// ------------------------------------------------------------------ opening

TEST(HidTransportOpen, FirstSupportedAdapterOpensWithoutFilters) {
    Adapter first("ORDER-1", Model::Quillex);
    Adapter second("ORDER-2");
    HidTransport transport;
    ASSERT_TRUE(transport.open("", ""));
    EXPECT_EQ(transport.path(), first.path());
    EXPECT_EQ(transport.model(), &kSupportedDevices[1]);
    EXPECT_EQ(transport.reportSize(), 1024u);

    // Opening again changes nothing, even with a filter naming the other one.
    EXPECT_TRUE(transport.open(second.path(), ""));
    EXPECT_EQ(transport.path(), first.path());

    transport.close();
    EXPECT_EQ(transport.reportSize(), 0u);
    EXPECT_TRUE(transport.path().empty());

    // An absent adapter is not listed: the next one is the first.
    first.unplug();
    ASSERT_TRUE(transport.open("", ""));
    EXPECT_EQ(transport.path(), second.path());
    EXPECT_EQ(transport.reportSize(), 64u);
}

TEST(HidTransportOpen, FiltersSelectOneExactAdapter) {
    Adapter first("SER-A");
    Adapter second("SER-B");
    HidTransport transport;
    // Serial numbers compare byte for byte, paths exactly, and both filters
    // must hold for the same device.
    EXPECT_FALSE(transport.open("", "SER-"));
    EXPECT_FALSE(transport.open("", "ser-b"));
    EXPECT_FALSE(transport.open(second.path() + "x", ""));
    EXPECT_FALSE(transport.open(first.path(), "SER-B"));
    EXPECT_FALSE(transport.isConnected());
    EXPECT_FALSE(transport.write(Bytes{1}));

    ASSERT_TRUE(transport.open("", "SER-B"));
    EXPECT_EQ(transport.path(), second.path());
    transport.close();
    ASSERT_TRUE(transport.open(second.path(), ""));
    EXPECT_EQ(transport.path(), second.path());
}

TEST(HidTransportOpen, WideSerialNumbersCompareAsUtf8) {
    EXPECT_EQ(wideToUtf8(L"\u00e9\u20ac"), "\xC3\xA9\xE2\x82\xAC");
    if (sizeof(wchar_t) == 4) {
        EXPECT_EQ(wideToUtf8(std::wstring(1, static_cast<wchar_t>(0x1F600))), "\xF0\x9F\x98\x80");
        EXPECT_EQ(wideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
    }
    EXPECT_EQ(wideToUtf8(std::wstring{static_cast<wchar_t>(0xD800), L'A'}),
              "\xEF\xBF\xBD"
              "A");
}

// ------------------------------------------------------------------- writing

TEST(HidTransportWrite, EachSegmentIsOneZeroPaddedReportWithReportIdZero) {
    Adapter adapter("WRITE-1");
    HidTransport transport;
    ASSERT_TRUE(transport.open(adapter.path(), ""));
    // Longer than a report: only the report's worth goes out. Shorter: the
    // rest is zero, not what the previous report left.
    ASSERT_TRUE(transport.write(Bytes(100, 0xAA)));
    ASSERT_TRUE(transport.write(Bytes{1, 2, 3}));

    Bytes longReport(65, 0xAA);
    longReport[0] = 0;
    Bytes shortReport(65, 0);
    shortReport[1] = 1;
    shortReport[2] = 2;
    shortReport[3] = 3;
    EXPECT_EQ(adapter.reports(), (std::vector<Bytes>{longReport, shortReport}));
}

TEST(HidTransportWrite, ReadErrorRefusesWritesUntilReopen) {
    Adapter adapter("READERR");
    HidTransport transport;
    ASSERT_TRUE(transport.open(adapter.path(), ""));
    adapter.failReads(1);
    ASSERT_TRUE(waitUntil([&] { return transport.hasReadError(); }));

    EXPECT_FALSE(transport.write(Bytes{1}));
    EXPECT_TRUE(adapter.reports().empty());  // the device was not touched

    ASSERT_TRUE(transport.reopen());
    EXPECT_FALSE(transport.hasReadError());
    EXPECT_TRUE(transport.write(Bytes{1}));
    EXPECT_EQ(adapter.reports().size(), 1u);
}

TEST(HidTransportWrite, OnlyASlowFailureMarksTheDeviceFailed) {
    Adapter adapter("WRITEFAIL");
    HidTransport transport;
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.failWrites(1, 10ms);
    EXPECT_TRUE(transport.write(Bytes{1}));  // counts as written
    EXPECT_FALSE(transport.hasWriteError());

    adapter.failWrites(1, 950ms);
    EXPECT_FALSE(transport.write(Bytes{2}));
    EXPECT_TRUE(transport.hasWriteError());
    EXPECT_FALSE(transport.write(Bytes{3}));  // refused, though the device would take it
    EXPECT_TRUE(adapter.reports().empty());

    ASSERT_TRUE(transport.reopen());
    EXPECT_TRUE(transport.write(Bytes{4}));
    ASSERT_EQ(adapter.reports().size(), 1u);
    EXPECT_EQ(adapter.reports()[0][1], 4);
}

// ------------------------------------------------------------ reader thread

TEST(HidTransportThread, ReaderHandsUpEachReportAtItsLength) {
    Adapter adapter("READER");
    Received received;
    HidTransport transport;
    transport.setReportCallback(received.callback());
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.sendReport(Bytes(10, 0x11));
    adapter.sendReport(Bytes(64, 0x22));  // the buffer must grow back after a short one
    EXPECT_EQ(received.waitFor(2), (std::vector<Bytes>{Bytes(10, 0x11), Bytes(64, 0x22)}));
    EXPECT_FALSE(received.sawCallerThread());
}

TEST(HidTransportThread, ReopenAndCloseFromTheCallbackAreRefused) {
    Adapter adapter("INSIDE");
    Received received;
    HidTransport transport;
    std::atomic<bool> reopened{true};
    transport.setReportCallback([&](const Bytes& report) {
        reopened = transport.reopen();
        transport.close();  // would have to join this very thread
        received.add(report);
    });
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.sendReport(Bytes{1});
    adapter.sendReport(Bytes{2});  // the reader still runs
    EXPECT_EQ(received.waitFor(2).size(), 2u);
    EXPECT_FALSE(reopened);
    EXPECT_TRUE(transport.isConnected());
}

TEST(HidTransportThread, UnplugAndReplugRecoverThroughReopen) {
    Adapter adapter("REPLUG");
    Received received;
    HidTransport transport;
    transport.setReportCallback(received.callback());
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.unplug();
    ASSERT_TRUE(waitUntil([&] { return transport.hasReadError(); }));
    EXPECT_FALSE(transport.write(Bytes{1}));
    EXPECT_FALSE(transport.reopen());  // nothing to open under that path yet

    adapter.plug();
    ASSERT_TRUE(transport.reopen());
    EXPECT_TRUE(transport.write(Bytes{7}));
    ASSERT_EQ(adapter.reports().size(), 1u);
    EXPECT_EQ(adapter.reports()[0][1], 7);
    adapter.sendReport(Bytes{9});
    EXPECT_EQ(received.waitFor(1), std::vector<Bytes>{Bytes{9}});
}

TEST(HidTransportThread, DestroyingTheTransportInsideTheCallbackIsSafe) {
    Adapter adapter("SELFDESTRUCT");
    auto transport = std::make_unique<HidTransport>();
    std::promise<void> destroyed;
    transport->setReportCallback([&transport, &destroyed](const Bytes&) {
        std::promise<void>* signal = &destroyed;  // the closure dies with the transport
        transport.reset();
        signal->set_value();
    });
    ASSERT_TRUE(transport->open(adapter.path(), ""));
    adapter.sendReport(Bytes{1});
    EXPECT_EQ(destroyed.get_future().wait_for(kWaitLimit), std::future_status::ready);
}

TEST(UsbRoutingConcurrent, ReplacingTheProviderWhileListingIsSafe) {
    Adapter adapter("ROUTING");
    // The same virtual backends installed again and again: every listing must
    // still see the adapter, and nothing may race.
    const std::shared_ptr<usb::HidBackend> hid(&sim::virtualHidBackend(), [](auto*) {});
    const std::shared_ptr<usb::UsbBackend> usb(&sim::virtualUsbBackend(), [](auto*) {});
    std::atomic<bool> stop{false};
    std::thread installer([&] {
        while (!stop) usb::installVirtualBackends(hid, usb);
    });

    int seen = 0;
    for (int i = 0; i < 200; ++i) {
        for (const auto& entry : usb::defaultHidBackend().enumerate(0, 0)) {
            if (entry.path == adapter.path()) ++seen;
        }
        std::unique_ptr<usb::UsbContext> context;
        std::vector<std::shared_ptr<usb::UsbDevice>> devices;
        if (usb::defaultUsbBackend().init(context) != usb::kUsbSuccess) continue;
        context->getDeviceList(devices);
        for (const auto& device : devices) {
            usb::UsbDeviceDescriptor descriptor;
            device->getDeviceDescriptor(descriptor);
            if (descriptor.productId == adapter.productId()) ++seen;
        }
    }
    stop = true;
    installer.join();
    EXPECT_EQ(seen, 400);
}

}  // namespace
}  // namespace vantor
