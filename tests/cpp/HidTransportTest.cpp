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
using sim::AdapterOptions;
using sim::Model;
using sim::VirtualAdapter;

constexpr auto kWaitLimit = 2s;

AdapterOptions adapterOptions(const std::string& serial, Model model = Model::Teranox) {
    AdapterOptions options;
    options.serial = serial;
    options.model = model;
    return options;
}

// Polls a condition until it holds or the limit passes.
template <typename Predicate>
bool waitUntil(Predicate predicate) {
    const auto end = std::chrono::steady_clock::now() + kWaitLimit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > end) return predicate();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Keeps the firmware out of the way of arbitrary test segments.
void silence(VirtualAdapter& adapter) {
    adapter.setHandler([](const Bytes&) { return std::vector<Bytes>{}; });
}

// Collects what the reader thread hands up.
class Received {
  public:
    HidTransport::ReportCallback callback() {
        return [this](const Bytes& report) { add(report); };
    }
    void add(const Bytes& report) {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(report);
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }
    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWaitLimit, [&] { return reports_.size() >= count; });
    }
    std::vector<Bytes> reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> reports_;
    std::vector<std::thread::id> threads_;
};

// ------------------------------------------------------------------ opening

TEST(HidTransportOpen, FirstSupportedAdapterOpensWithoutFilters) {
    VirtualAdapter first(adapterOptions("ORDER-1", Model::Quillex));
    VirtualAdapter second(adapterOptions("ORDER-2", Model::Teranox));
    HidTransport transport;
    ASSERT_TRUE(transport.open("", ""));
    EXPECT_EQ(transport.path(), first.path());
    EXPECT_EQ(transport.model(), &kSupportedDevices[1]);
    EXPECT_EQ(transport.reportSize(), 1024u);

    // Opening again changes nothing, even with a filter naming the other one.
    EXPECT_TRUE(transport.open(second.path(), ""));
    EXPECT_EQ(transport.path(), first.path());

    transport.close();
    EXPECT_FALSE(transport.isConnected());
    EXPECT_EQ(transport.reportSize(), 0u);
    EXPECT_TRUE(transport.path().empty());

    // An absent adapter is not listed: the next one is the first.
    first.unplug();
    ASSERT_TRUE(transport.open("", ""));
    EXPECT_EQ(transport.path(), second.path());
    EXPECT_EQ(transport.reportSize(), 64u);
}

TEST(HidTransportOpen, SerialFilterSelectsTheMatchingAdapter) {
    VirtualAdapter first(adapterOptions("SER-A"));
    VirtualAdapter second(adapterOptions("SER-B"));
    HidTransport transport;
    ASSERT_TRUE(transport.open("", "SER-B"));
    EXPECT_EQ(transport.path(), second.path());
    transport.close();

    // Byte for byte: no prefix, no case folding.
    EXPECT_FALSE(transport.open("", "SER-"));
    EXPECT_FALSE(transport.open("", "ser-b"));
    // Both filters must hold for the same device.
    EXPECT_FALSE(transport.open(first.path(), "SER-B"));
    EXPECT_FALSE(transport.isConnected());
}

TEST(HidTransportOpen, PathFilterSelectsOneExactDevice) {
    VirtualAdapter first(adapterOptions("PATH-A"));
    VirtualAdapter second(adapterOptions("PATH-B"));
    HidTransport transport;
    EXPECT_FALSE(transport.open(second.path() + "x", ""));
    EXPECT_FALSE(transport.open("sim:no-such-adapter", ""));
    EXPECT_FALSE(transport.isConnected());
    EXPECT_FALSE(transport.write(Bytes{1}));

    ASSERT_TRUE(transport.open(second.path(), ""));
    EXPECT_EQ(transport.path(), second.path());
}

// ------------------------------------------------------------------- writing

TEST(HidTransportWrite, EachSegmentIsOneZeroPaddedReportWithReportIdZero) {
    VirtualAdapter adapter(adapterOptions("WRITE-1"));
    silence(adapter);
    HidTransport transport;
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    // Longer than a report: only the report's worth goes out.
    ASSERT_TRUE(transport.write(Bytes(100, 0xAA)));
    // Shorter: the rest must be zero, not what the previous report left.
    ASSERT_TRUE(transport.write(Bytes{1, 2, 3}));

    const auto reports = adapter.reports();
    ASSERT_EQ(reports.size(), 2u);
    Bytes longReport(65, 0xAA);
    longReport[0] = 0;
    EXPECT_EQ(reports[0], longReport);
    Bytes shortReport(65, 0);
    shortReport[1] = 1;
    shortReport[2] = 2;
    shortReport[3] = 3;
    EXPECT_EQ(reports[1], shortReport);
}

TEST(HidTransportWrite, ReadErrorRefusesWritesUntilReopen) {
    VirtualAdapter adapter(adapterOptions("READERR"));
    silence(adapter);
    HidTransport transport;
    ASSERT_TRUE(transport.open(adapter.path(), ""));
    adapter.failReads(1);
    ASSERT_TRUE(waitUntil([&] { return transport.hasReadError(); }));

    const size_t before = adapter.reports().size();
    EXPECT_FALSE(transport.write(Bytes{1}));
    EXPECT_EQ(adapter.reports().size(), before);  // the device was not touched

    ASSERT_TRUE(transport.reopen());
    EXPECT_FALSE(transport.hasReadError());
    EXPECT_TRUE(transport.write(Bytes{1}));
    EXPECT_EQ(adapter.reports().size(), before + 1);
}

TEST(HidTransportWrite, SlowFailureMarksTheDeviceFailedUntilReopen) {
    VirtualAdapter adapter(adapterOptions("SLOWFAIL"));
    silence(adapter);
    HidTransport transport;
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.failWrites(1, 950ms);
    EXPECT_FALSE(transport.write(Bytes{1}));
    EXPECT_TRUE(transport.hasWriteError());
    EXPECT_FALSE(transport.write(Bytes{2}));  // refused, though the device would take it
    EXPECT_TRUE(adapter.reports().empty());

    ASSERT_TRUE(transport.reopen());
    EXPECT_FALSE(transport.hasWriteError());
    EXPECT_TRUE(transport.write(Bytes{3}));
    ASSERT_EQ(adapter.reports().size(), 1u);
    EXPECT_EQ(adapter.reports()[0][1], 3);
}

TEST(HidTransportWrite, FastFailureCountsAsWritten) {
    VirtualAdapter adapter(adapterOptions("FASTFAIL"));
    silence(adapter);
    HidTransport transport;
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.failWrites(1, 10ms);
    EXPECT_TRUE(transport.write(Bytes{1}));
    EXPECT_FALSE(transport.hasWriteError());
    EXPECT_TRUE(transport.write(Bytes{2}));
    ASSERT_EQ(adapter.reports().size(), 1u);
    EXPECT_EQ(adapter.reports()[0][1], 2);
}

TEST(HidTransportSerial, WideStringsBecomeUtf8) {
    EXPECT_EQ(wideToUtf8(L"SN-42"), "SN-42");
    EXPECT_EQ(wideToUtf8(L"\u00e9\u20ac"), "\xC3\xA9\xE2\x82\xAC");
    if (sizeof(wchar_t) == 4) {
        EXPECT_EQ(wideToUtf8(std::wstring(1, static_cast<wchar_t>(0x1F600))), "\xF0\x9F\x98\x80");
        EXPECT_EQ(wideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
    }
    // A lone surrogate is no character.
    EXPECT_EQ(wideToUtf8(std::wstring{static_cast<wchar_t>(0xD800), L'A'}),
              "\xEF\xBF\xBD"
              "A");
}

// ------------------------------------------------------------ reader thread

TEST(HidTransportThread, ReaderHandsUpEachReportAtItsLength) {
    VirtualAdapter adapter(adapterOptions("READER"));
    Received received;
    HidTransport transport;
    transport.setReportCallback(received.callback());
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.sendReport(Bytes(10, 0x11));
    adapter.sendReport(Bytes(64, 0x22));  // the buffer must grow back after a short one
    ASSERT_TRUE(received.waitFor(2));

    const auto reports = received.reports();
    EXPECT_EQ(reports[0], Bytes(10, 0x11));
    EXPECT_EQ(reports[1], Bytes(64, 0x22));
    for (const auto id : received.threads()) EXPECT_NE(id, std::this_thread::get_id());
}

TEST(HidTransportThread, ReopenAndCloseFromTheCallbackAreRefused) {
    VirtualAdapter adapter(adapterOptions("INSIDE"));
    Received received;
    HidTransport transport;
    std::promise<bool> reopenResult;
    std::atomic<int> calls{0};
    transport.setReportCallback([&](const Bytes& report) {
        if (calls++ == 0) {
            reopenResult.set_value(transport.reopen());
            transport.close();  // would have to join this very thread
        }
        received.add(report);
    });
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.sendReport(Bytes{1});
    auto result = reopenResult.get_future();
    ASSERT_EQ(result.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_FALSE(result.get());

    // The reader still runs and the connection is intact.
    adapter.sendReport(Bytes{2});
    ASSERT_TRUE(received.waitFor(2));
    EXPECT_TRUE(transport.isConnected());
    transport.close();
    EXPECT_FALSE(transport.isConnected());
}

TEST(HidTransportThread, UnplugAndReplugRecoverThroughReopen) {
    VirtualAdapter adapter(adapterOptions("REPLUG"));
    silence(adapter);
    Received received;
    HidTransport transport;
    transport.setReportCallback(received.callback());
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.unplug();
    ASSERT_TRUE(waitUntil([&] { return transport.hasReadError(); }));
    EXPECT_FALSE(transport.write(Bytes{1}));
    EXPECT_FALSE(transport.reopen());  // nothing to open under that path yet
    EXPECT_TRUE(transport.isConnected());

    adapter.plug();
    adapter.clear();
    ASSERT_TRUE(transport.reopen());
    EXPECT_TRUE(transport.write(Bytes{7}));
    ASSERT_EQ(adapter.reports().size(), 1u);
    EXPECT_EQ(adapter.reports()[0][1], 7);

    adapter.sendReport(Bytes{9});
    ASSERT_TRUE(received.waitFor(1));
    EXPECT_EQ(received.reports()[0], Bytes{9});
}

TEST(HidTransportThread, DestroyingTheTransportInsideTheCallbackIsSafe) {
    VirtualAdapter adapter(adapterOptions("SELFDESTRUCT"));
    auto transport = std::make_unique<HidTransport>();
    std::promise<void> destroyed;
    transport->setReportCallback([&transport, &destroyed](const Bytes&) {
        // The closure dies with the transport: keep what is needed locally.
        std::promise<void>* signal = &destroyed;
        transport.reset();
        signal->set_value();
    });
    ASSERT_TRUE(transport->open(adapter.path(), ""));
    adapter.sendReport(Bytes{1});
    EXPECT_EQ(destroyed.get_future().wait_for(kWaitLimit), std::future_status::ready);
}

// ------------------------------------------------------------------ routing

TEST(UsbRoutingConcurrent, ReplacingTheProviderWhileEnumeratingIsSafe) {
    VirtualAdapter adapter(adapterOptions("ROUTING"));
    // The same virtual backends, installed again and again: every listing
    // must still see the adapter, and nothing may race.
    const std::shared_ptr<usb::HidBackend> hid(&sim::virtualHidBackend(), [](usb::HidBackend*) {});
    const std::shared_ptr<usb::UsbBackend> usb(&sim::virtualUsbBackend(), [](usb::UsbBackend*) {});
    std::atomic<bool> stop{false};
    std::thread installer([&] {
        while (!stop.load()) usb::installVirtualBackends(hid, usb);
    });

    int hidSeen = 0;
    int usbSeen = 0;
    for (int i = 0; i < 200; ++i) {
        for (const auto& entry : usb::defaultHidBackend().enumerate(0, 0)) {
            if (entry.path == adapter.path()) ++hidSeen;
        }
        std::unique_ptr<usb::UsbContext> context;
        ASSERT_EQ(usb::defaultUsbBackend().init(context), usb::kUsbSuccess);
        std::vector<std::shared_ptr<usb::UsbDevice>> devices;
        ASSERT_GE(context->getDeviceList(devices), 1);
        for (const auto& device : devices) {
            usb::UsbDeviceDescriptor descriptor;
            if (device->getDeviceDescriptor(descriptor) == usb::kUsbSuccess &&
                descriptor.vendorId == adapter.vendorId() &&
                descriptor.productId == adapter.productId()) {
                ++usbSeen;
            }
        }
    }
    stop.store(true);
    installer.join();
    EXPECT_EQ(hidSeen, 200);
    EXPECT_EQ(usbSeen, 200);
}

}  // namespace
}  // namespace vantor
