// SPDX-License-Identifier: MIT
// The HID transport against virtual adapters: device selection, output
// reports, the degraded states and their recovery, and the reader thread.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "sdk/core/Protocol.h"
#include "sdk/transport/HidTransport.h"
#include "sdk/transport/WideString.h"
#include "sim/usb/VirtualBackends.h"
#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using namespace test;
using sim::Model;

// A plugged adapter whose requests get no answer, so that arbitrary test
// segments cannot make its firmware act.
struct Adapter : sim::VirtualAdapter {
    explicit Adapter(const std::string& serial, Model model = Model::Teranox)
        : VirtualAdapter(adapterOptions(serial, model)) {
        silence(*this);
    }
};

// Lists the device at `path` under a vendor id that no supported model has.
struct ForeignIds final : ForwardingHidBackend {
    explicit ForeignIds(std::string foreignPath) : path(std::move(foreignPath)) {}
    std::vector<usb::HidDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) override {
        auto entries = ForwardingHidBackend::enumerate(vendorId, productId);
        for (auto& entry : entries) {
            if (entry.path == path) entry.vendorId = 0x1234;
        }
        return entries;
    }
    std::string path;
};

TEST(HidTransportOpen, FiltersSelectTheFirstMatchingSupportedAdapter) {
    Adapter first("SER-A", Model::Quillex);
    Adapter second("SER-B");
    HidTransport transport;
    // Serial numbers compare byte for byte, paths exactly, and both filters
    // must hold for the same device.
    EXPECT_FALSE(transport.open("", "SER-"));
    EXPECT_FALSE(transport.open("", "ser-b"));
    EXPECT_FALSE(transport.open(second.path() + "x", ""));
    EXPECT_FALSE(transport.open(first.path(), "SER-B"));
    EXPECT_FALSE(transport.write(Bytes{1}));
    ASSERT_TRUE(transport.open("", "SER-B"));
    EXPECT_EQ(transport.path(), second.path());
    EXPECT_EQ(transport.reportSize(), 64u);
    transport.close();
    EXPECT_EQ(transport.reportSize(), 0u);
    EXPECT_TRUE(transport.path().empty());

    // Without filters the first one listed; opening again with filters the
    // open device satisfies changes nothing.
    ASSERT_TRUE(transport.open("", ""));
    EXPECT_EQ(transport.path(), first.path());
    EXPECT_EQ(transport.model(), &kSupportedDevices[1]);
    EXPECT_EQ(transport.reportSize(), 1024u);
    EXPECT_TRUE(transport.open(first.path(), "SER-A"));
    EXPECT_TRUE(transport.open("", ""));
    EXPECT_EQ(transport.path(), first.path());

    // A serial number match on a device of unsupported ids opens nothing,
    // and neither does an absent adapter.
    ForeignIds foreign(second.path());
    HidTransport other(foreign);
    EXPECT_FALSE(other.open("", "SER-B"));
    transport.close();
    first.unplug();
    EXPECT_FALSE(other.open("", "SER-A"));
    EXPECT_FALSE(other.isConnected());
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

TEST(HidTransportWrite, ReportsAndTheDegradedStatesThatRefuseThemUntilReopen) {
    Adapter adapter("WRITE");
    HidTransport transport;
    ASSERT_TRUE(transport.open(adapter.path(), ""));
    // Each segment is one report with report id 0. Longer than a report: only
    // the report's worth goes out. Shorter: the rest is zero, not what the
    // previous report left.
    ASSERT_TRUE(transport.write(Bytes(100, 0xAA)));
    ASSERT_TRUE(transport.write(Bytes{1, 2, 3}));
    Bytes longReport(65, 0xAA);
    longReport[0] = 0;
    const Bytes shortReport = concat({0, 1, 2, 3}, Bytes(61, 0));
    EXPECT_EQ(adapter.reports(), (std::vector<Bytes>{longReport, shortReport}));

    // (A quick failure counts as written: the fault matrix's write-fails-fast.)
    for (const bool slowWrite : {true, false}) {
        if (slowWrite) {
            adapter.faults().failWrites(1, 950ms);
            EXPECT_FALSE(transport.write(Bytes{2}));
            EXPECT_TRUE(transport.hasWriteError());
        } else {
            adapter.faults().failReads(1);
            ASSERT_TRUE(eventually([&] { return transport.hasReadError(); }));
        }
        adapter.clear();
        EXPECT_FALSE(transport.write(Bytes{3}));  // refused, though the device would take it
        EXPECT_TRUE(adapter.reports().empty());

        ASSERT_TRUE(transport.reopen());
        EXPECT_FALSE(transport.hasReadError() || transport.hasWriteError());
        EXPECT_TRUE(transport.write(Bytes{4}));
        ASSERT_EQ(adapter.reports().size(), 1u);
        EXPECT_EQ(adapter.reports()[0][1], 4);
    }
}

TEST(HidTransportThread, ReaderHandsUpReportsAndRefusesReopenAndCloseFromIt) {
    Adapter adapter("READER");
    Inbox<Bytes> received;
    std::atomic<bool> onCallerThread{false};
    std::atomic<bool> reopened{false};
    const auto caller = std::this_thread::get_id();
    HidTransport transport;
    transport.setReportCallback([&](const Bytes& report) {
        if (std::this_thread::get_id() == caller) onCallerThread = true;
        if (transport.reopen()) reopened = true;
        transport.close();  // would have to join this very thread
        received.push(report);
    });
    ASSERT_TRUE(transport.open(adapter.path(), ""));

    adapter.sendReport(Bytes(10, 0x11));
    adapter.sendReport(Bytes(64, 0x22));  // the buffer must grow back after a short one
    ASSERT_TRUE(received.waitFor(2));
    EXPECT_EQ(received.items(), (std::vector<Bytes>{Bytes(10, 0x11), Bytes(64, 0x22)}));
    EXPECT_FALSE(onCallerThread);
    EXPECT_FALSE(reopened);
    EXPECT_TRUE(transport.isConnected());
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

TEST(HidTransportThread, DestroyingTheTransportInsideTheReadErrorCallbackIsSafe) {
    Adapter adapter("LOSTSELF");
    auto transport = std::make_unique<HidTransport>();
    std::promise<void> destroyed;
    transport->setReadErrorCallback([&transport, &destroyed] {
        std::promise<void>* signal = &destroyed;  // the closure dies with the transport
        transport.reset();
        signal->set_value();
    });
    ASSERT_TRUE(transport->open(adapter.path(), ""));
    adapter.unplug();
    EXPECT_EQ(destroyed.get_future().wait_for(kWaitLimit), std::future_status::ready);
}

// Devices that wait for input without a limit, whatever timeout the reader
// asks for: only a cancelled read lets go of the reader.
struct UnlimitedReads final : ForwardingHidBackend {
    struct Device final : usb::HidDevice {
        explicit Device(std::unique_ptr<usb::HidDevice> device) : inner(std::move(device)) {}
        int readTimeout(uint8_t* data, size_t length, int) override {
            return inner->readTimeout(data, length, -1);
        }
        int write(const uint8_t* data, size_t length) override {
            return inner->write(data, length);
        }
        void cancelReads() override { inner->cancelReads(); }
        std::unique_ptr<usb::HidDevice> inner;
    };
    std::unique_ptr<usb::HidDevice> openPath(const std::string& path) override {
        auto device = ForwardingHidBackend::openPath(path);
        if (!device) return nullptr;
        return std::make_unique<Device>(std::move(device));
    }
};

TEST(HidTransportThread, ReopenAndCloseWakeAReaderBlockedInARead) {
    Adapter adapter("WAKE");
    UnlimitedReads backend;
    Inbox<Bytes> received;
    HidTransport transport(backend);
    transport.setReportCallback([&](const Bytes& report) { received.push(report); });
    ASSERT_TRUE(transport.open(adapter.path(), ""));
    adapter.sendReport(Bytes{1});
    ASSERT_TRUE(received.waitFor(1));  // the reader is back in a read that never times out

    ASSERT_TRUE(transport.reopen());  // hangs unless the old handle's read is woken
    adapter.sendReport(Bytes{2});
    ASSERT_TRUE(received.waitFor(2));  // the new handle was not cancelled with the old one
    transport.close();
    EXPECT_FALSE(transport.isConnected());
}

TEST(VirtualHidThread, ACancelWakesABlockedReadAndEndsEveryLaterOne) {
    Adapter adapter("CANCEL");
    auto device = sim::virtualHidBackend().openPath(adapter.path());
    ASSERT_NE(device, nullptr);
    Bytes buffer(64);
    auto blocked = std::async(
        std::launch::async, [&] { return device->readTimeout(buffer.data(), buffer.size(), -1); });
    device->cancelReads();
    EXPECT_EQ(blocked.get(), 0);
    // Also when a report waits: the handle is on its way to being closed.
    adapter.sendReport(Bytes{7});
    EXPECT_EQ(device->readTimeout(buffer.data(), buffer.size(), -1), 0);
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
