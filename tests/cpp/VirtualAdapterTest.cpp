// The virtual adapter, driven through its USB seam objects (the virtual HID
// and libusb backends), never through the SDK. The test-side framing below is
// written independently of the adapter's.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "sdk/transport/UsbBackend.h"
#include "sim/AdapterState.h"
#include "sim/VirtualAdapter.h"
#include "sim/VirtualBackends.h"

namespace {

using namespace vantor;
using namespace vantor::sim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 2000;  // generous: only reached when something is wrong

AdapterOptions options(Model model, const std::string& serial, bool bulk = true,
                       bool plugged = true) {
    AdapterOptions result;
    result.model = model;
    result.serial = serial;
    result.bulk = bulk;
    result.plugged = plugged;
    return result;
}

std::unique_ptr<usb::HidDevice> openHid(const VirtualAdapter& adapter) {
    return virtualHidBackend().openPath(adapter.path());
}

Bytes request(uint16_t transactionId, uint16_t code, const Bytes& params = {}) {
    Bytes message(4 + params.size());
    message[0] = static_cast<uint8_t>(transactionId & 0xFF);
    message[1] = static_cast<uint8_t>(transactionId >> 8);
    message[2] = static_cast<uint8_t>(code & 0xFF);
    message[3] = static_cast<uint8_t>(code >> 8);
    std::copy(params.begin(), params.end(), message.begin() + 4);
    return message;
}

uint16_t u16At(const Bytes& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

// Output reports (report id first) of one message.
std::vector<Bytes> outputReports(const Bytes& message, size_t reportSize) {
    const size_t capacity = reportSize - 2;
    const size_t count = (message.size() + capacity - 1) / capacity;
    std::vector<Bytes> reports;
    for (size_t i = 0; i < count; ++i) {
        const size_t start = i * capacity;
        const size_t length = std::min(capacity, message.size() - start);
        const unsigned header = (i == 0 ? 1u : 0u) | (i + 1 == count ? 2u : 0u) | (length << 2);
        Bytes report(reportSize + 1, 0);
        report[1] = static_cast<uint8_t>(header & 0xFF);
        report[2] = static_cast<uint8_t>(header >> 8);
        std::copy_n(message.begin() + static_cast<long>(start), length, report.begin() + 3);
        reports.push_back(report);
    }
    return reports;
}

void writeMessage(usb::HidDevice& device, const Bytes& message, size_t reportSize) {
    for (const Bytes& report : outputReports(message, reportSize)) {
        ASSERT_EQ(device.write(report.data(), report.size()), static_cast<int>(report.size()));
    }
}

// Reads input reports until a message is complete; nothing on timeout or error.
std::optional<Bytes> readMessage(usb::HidDevice& device, size_t reportSize,
                                 int timeoutMs = kWaitMs) {
    Bytes message;
    Bytes buffer(reportSize);
    for (;;) {
        const int n = device.readTimeout(buffer.data(), buffer.size(), timeoutMs);
        if (n < 2) return std::nullopt;
        const unsigned header = buffer[0] | (buffer[1] << 8);
        const size_t length = (header >> 2) & 0x3FF;
        if (length > static_cast<size_t>(n) - 2) return std::nullopt;
        if (header & 1) message.clear();
        message.insert(message.end(), buffer.begin() + 2,
                       buffer.begin() + 2 + static_cast<long>(length));
        if (header & 2) return message;
    }
}

std::optional<Bytes> roundTrip(VirtualAdapter& adapter, usb::HidDevice& device,
                               const Bytes& message) {
    writeMessage(device, message, adapter.reportSize());
    return readMessage(device, adapter.reportSize());
}

// Opens the adapter's libusb device, found by its serial number string.
std::unique_ptr<usb::UsbDeviceHandle> openBulk(const VirtualAdapter& adapter,
                                               std::shared_ptr<usb::UsbDevice>* found = nullptr) {
    std::unique_ptr<usb::UsbContext> context;
    if (virtualUsbBackend().init(context) != usb::kUsbSuccess) return nullptr;
    std::vector<std::shared_ptr<usb::UsbDevice>> devices;
    context->getDeviceList(devices);
    for (const auto& device : devices) {
        usb::UsbDeviceDescriptor descriptor;
        std::unique_ptr<usb::UsbDeviceHandle> handle;
        if (device->getDeviceDescriptor(descriptor) != usb::kUsbSuccess ||
            device->open(handle) != usb::kUsbSuccess) {
            continue;
        }
        uint8_t serial[64];
        const int n = handle->getStringDescriptorAscii(descriptor.serialNumberIndex, serial, 64);
        if (n >= 0 && std::string(serial, serial + n) == adapter.serial()) {
            if (found != nullptr) *found = device;
            return handle;
        }
    }
    return nullptr;
}

bool listed(const std::string& path) {
    for (const auto& entry : virtualHidBackend().enumerate(0, 0)) {
        if (entry.path == path) return true;
    }
    return false;
}

// ------------------------------------------------------------------ HID side

TEST(VirtualAdapterHid, EnumeratesPluggedAdaptersInCreationOrder) {
    VirtualAdapter small(options(Model::Teranox, "SER-A"));
    VirtualAdapter large(options(Model::Quillex, "SER-B"));
    VirtualAdapter absent(options(Model::Teranox, "SER-C", true, false));
    EXPECT_NE(small.path(), large.path());
    EXPECT_EQ(small.path().rfind("sim:", 0), 0u);

    std::vector<usb::HidDeviceEntry> mine;
    for (const auto& entry : virtualHidBackend().enumerate(0, 0)) {
        if (entry.path == small.path() || entry.path == large.path() ||
            entry.path == absent.path()) {
            mine.push_back(entry);
        }
    }
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].path, small.path());
    EXPECT_EQ(mine[0].productId, 0x0001);
    EXPECT_EQ(mine[1].productId, 0x0002);
    EXPECT_EQ(mine[1].vendorId, 0x1209);
    EXPECT_TRUE(mine[1].hasSerialNumber);
    EXPECT_EQ(mine[1].serialNumber, L"SER-B");
    EXPECT_EQ(large.reportSize(), 1024u);

    for (const auto& entry : virtualHidBackend().enumerate(0x1209, 0x0002)) {
        EXPECT_NE(entry.path, small.path());
    }
    EXPECT_EQ(virtualHidBackend().openPath(absent.path()), nullptr);
    EXPECT_EQ(virtualHidBackend().openPath("sim:no-such-adapter"), nullptr);
}

TEST(VirtualAdapterHid, AnswersRequestsInFramedReports) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    ASSERT_NE(device, nullptr);

    // One 65-byte output report: report id, header 0x13 (first|last, 4 bytes).
    Bytes report(65, 0);
    const Bytes expectedStart{0x00, 0x13, 0x00, 0x07, 0x00, 0x0E, 0x04};
    std::copy(expectedStart.begin(), expectedStart.end(), report.begin());
    ASSERT_EQ(device->write(report.data(), report.size()), 65);
    EXPECT_EQ(adapter.reports(), std::vector<Bytes>{report});
    EXPECT_EQ(adapter.requests(), (std::vector<Bytes>{{0x07, 0x00, 0x0E, 0x04}}));

    // The answer is one 64-byte input report: header 3 | 9 << 2, the message,
    // zero padding.
    Bytes input(64, 0xEE);
    ASSERT_EQ(device->readTimeout(input.data(), input.size(), kWaitMs), 64);
    const Bytes expected{0x27, 0x00, 0x07, 0x00, 0x0E, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), input.begin()));
    EXPECT_TRUE(std::all_of(input.begin() + 11, input.end(), [](uint8_t b) { return b == 0; }));
}

TEST(VirtualAdapterHid, MessagesSpanSeveralSegmentsOnBothModels) {
    // A 2000-byte request takes two reports on the 1024-byte model.
    VirtualAdapter large(options(Model::Quillex, "LARGE"));
    auto device = openHid(large);
    Bytes params{1, 1, 2};
    params.resize(2000, 0xAB);
    const auto answer = roundTrip(large, *device, request(9, 0x040D, params));
    ASSERT_TRUE(answer);
    EXPECT_EQ(u16At(*answer, 4), 0);
    EXPECT_EQ(large.reports().size(), 2u);
    ASSERT_EQ(large.requests().size(), 1u);
    EXPECT_EQ(large.requests()[0].size(), 2004u);
    EXPECT_EQ(large.usbSettings().cdcMode, 2);

    // A 207-byte answer takes four reports on the 64-byte model.
    VirtualAdapter small;
    Identity identity;
    identity.manufacturer = std::string(200, 'm');
    small.setIdentity(identity);
    auto smallDevice = openHid(small);
    const auto text = roundTrip(small, *smallDevice, request(3, 0x0407, {1}));
    ASSERT_TRUE(text);
    ASSERT_EQ(text->size(), 207u);
    EXPECT_EQ((*text)[6], 201);
    EXPECT_EQ(Bytes(text->begin() + 7, text->end()), Bytes(200, 'm'));
}

TEST(VirtualAdapterHid, ToleratesMalformedReports) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    const Bytes tooShort{0x00, 0x13};  // half a header
    Bytes tooLong(65, 0);              // announces 63 bytes in a 62-byte chunk
    tooLong[1] = static_cast<uint8_t>(3 | (63 << 2));
    Bytes orphan(65, 0);  // continuation without a first segment
    orphan[1] = static_cast<uint8_t>(2 | (4 << 2));
    Bytes unfinished = outputReports(request(1, 0x040E, Bytes(70, 0)), 64)[0];  // never completed
    for (const Bytes* report :
         std::vector<const Bytes*>{&tooShort, &tooLong, &orphan, &unfinished}) {
        EXPECT_EQ(device->write(report->data(), report->size()), static_cast<int>(report->size()));
    }
    const Bytes reportIdOne{0x01, 0x13, 0x00, 0x01, 0x00, 0x0E, 0x04};
    EXPECT_EQ(device->write(reportIdOne.data(), reportIdOne.size()), -1);
    Bytes oversized(66, 0);
    EXPECT_EQ(device->write(oversized.data(), oversized.size()), -1);
    EXPECT_TRUE(adapter.requests().empty());

    // The next well-formed message is answered (it also abandons `unfinished`).
    const auto answer = roundTrip(adapter, *device, request(2, 0x040E));
    ASSERT_TRUE(answer);
    EXPECT_EQ(u16At(*answer, 0), 2);
    EXPECT_EQ(adapter.malformedReports(), 4u);
    EXPECT_EQ(adapter.requests().size(), 1u);
}

TEST(VirtualAdapterHid, InjectedMessagesAndReports) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    Bytes message(100);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i + 1);
    adapter.send(message);
    Bytes input(64);
    ASSERT_EQ(device->readTimeout(input.data(), input.size(), kWaitMs), 64);
    EXPECT_EQ(u16At(input, 0), 1 | (62 << 2));
    EXPECT_EQ(input[2], 1);
    ASSERT_EQ(device->readTimeout(input.data(), input.size(), kWaitMs), 64);
    EXPECT_EQ(u16At(input, 0), 2 | (38 << 2));
    EXPECT_EQ(input[2], 63);
    EXPECT_EQ(input[39], 100);
    EXPECT_EQ(input[40], 0);

    adapter.sendReport({0x05, 0x01, 0x02});
    EXPECT_EQ(device->readTimeout(input.data(), input.size(), kWaitMs), 3);
    EXPECT_EQ(Bytes(input.begin(), input.begin() + 3), (Bytes{0x05, 0x01, 0x02}));

    adapter.notify(0x1481, {3, 1, 1});
    EXPECT_EQ(readMessage(*device, 64), (Bytes{0, 0, 0x81, 0x14, 0, 0, 3, 1, 1}));
    EXPECT_EQ(device->readTimeout(input.data(), input.size(), 0), 0);
}

TEST(VirtualAdapterHid, HandlerReplacesFirmwareUntilCleared) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    std::vector<Bytes> seen;
    adapter.setHandler([&](const Bytes& message) {
        seen.push_back(message);
        adapter.send({0, 0, 0x81, 0x10, 0, 0, 1, 0, 0x55});  // re-entrant injection
        // A wrong transaction id, then a wrong command code.
        return std::vector<Bytes>{{0x63, 0x00, 0x0E, 0x04, 0, 0}, {0x01, 0x00, 0x99, 0x04, 0, 0}};
    });
    writeMessage(*device, request(1, 0x040E), 64);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(u16At(*readMessage(*device, 64), 2), 0x1081);
    EXPECT_EQ(u16At(*readMessage(*device, 64), 0), 0x63);
    EXPECT_EQ(u16At(*readMessage(*device, 64), 2), 0x0499);

    adapter.setHandler([](const Bytes&) { return std::vector<Bytes>{}; });
    writeMessage(*device, request(2, 0x040E), 64);
    EXPECT_TRUE(adapter.waitForRequests(2, 0ms));
    Bytes input(64);
    EXPECT_EQ(device->readTimeout(input.data(), input.size(), 0), 0);

    adapter.setHandler({});
    const auto answer = roundTrip(adapter, *device, request(3, 0x040E));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->size(), 9u);
}

TEST(VirtualAdapterHid, ResponseDelayHoldsAnswersButNotInjections) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    adapter.setResponseDelay(500ms);
    const auto start = Clock::now();
    writeMessage(*device, request(4, 0x040E), 64);
    Bytes input(64);
    EXPECT_EQ(device->readTimeout(input.data(), input.size(), 50), 0);
    adapter.send({0, 0, 0x81, 0x14, 0, 0, 1, 1, 1});
    EXPECT_EQ(u16At(*readMessage(*device, 64, 50), 2), 0x1481);
    const auto answer = readMessage(*device, 64);
    ASSERT_TRUE(answer);
    EXPECT_EQ(u16At(*answer, 0), 4);
    EXPECT_GE(Clock::now() - start, 500ms);
}

TEST(VirtualAdapterHid, UnplugFailsHandlesAndReplugReturnsUnderSamePath) {
    VirtualAdapter adapter;
    const std::string path = adapter.path();
    auto old = openHid(adapter);
    adapter.send({1, 2, 3, 4, 5, 6});
    adapter.unplug();
    EXPECT_FALSE(listed(path));
    EXPECT_EQ(virtualHidBackend().openPath(path), nullptr);
    Bytes input(64);
    EXPECT_EQ(old->readTimeout(input.data(), input.size(), 0), -1);
    const Bytes report = outputReports(request(1, 0x040E), 64)[0];
    EXPECT_EQ(old->write(report.data(), report.size()), -1);

    adapter.plug();
    EXPECT_TRUE(listed(path));
    EXPECT_EQ(old->write(report.data(), report.size()), -1);  // a replug needs a new open
    auto fresh = openHid(adapter);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->readTimeout(input.data(), input.size(), 0), 0);  // pending input was lost
    EXPECT_TRUE(roundTrip(adapter, *fresh, request(2, 0x040E)));
}

TEST(VirtualAdapterHid, InjectedReadAndWriteFaults) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    const Bytes report = outputReports(request(1, 0x040E), 64)[0];
    adapter.failWrites(2, 100ms);
    const auto start = Clock::now();
    EXPECT_EQ(device->write(report.data(), report.size()), -1);
    EXPECT_GE(Clock::now() - start, 100ms);
    EXPECT_EQ(device->write(report.data(), report.size()), -1);
    EXPECT_TRUE(adapter.reports().empty());
    EXPECT_EQ(device->write(report.data(), report.size()), 65);

    adapter.failReads(1);
    Bytes input(64);
    EXPECT_EQ(device->readTimeout(input.data(), input.size(), kWaitMs), -1);
    EXPECT_EQ(device->readTimeout(input.data(), input.size(), kWaitMs), 64);
}

TEST(VirtualAdapterHid, HandlesOutliveTheAdapter) {
    std::unique_ptr<usb::HidDevice> hid;
    std::unique_ptr<usb::UsbDeviceHandle> bulk;
    std::string path;
    {
        VirtualAdapter adapter(options(Model::Teranox, "OUTLIVE"));
        path = adapter.path();
        hid = openHid(adapter);
        bulk = openBulk(adapter);
        ASSERT_NE(bulk, nullptr);
    }
    Bytes buffer(64);
    int transferred = -1;
    EXPECT_EQ(hid->readTimeout(buffer.data(), buffer.size(), 0), -1);
    EXPECT_EQ(hid->write(outputReports(request(1, 0x040E), 64)[0].data(), 65), -1);
    EXPECT_EQ(bulk->bulkTransfer(0x81, buffer.data(), 64, &transferred, 10),
              usb::kUsbErrorNoDevice);
    EXPECT_EQ(transferred, 0);
    EXPECT_FALSE(listed(path));
}

TEST(VirtualAdapterHid, InstalledIntoTheDefaultRouting) {
    VirtualAdapter adapter;
    bool found = false;
    for (const auto& entry : usb::defaultHidBackend().enumerate(0, 0))
        found |= entry.path == adapter.path();
    EXPECT_TRUE(found);
    EXPECT_NE(usb::defaultHidBackend().openPath(adapter.path()), nullptr);
}

// ------------------------------------------------------------ system firmware

TEST(VirtualAdapterFirmware, AnswersStatusOnlyForUnknownAndShortRequests) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    EXPECT_EQ(roundTrip(adapter, *device, request(0x1234, 0x7E7E, {1, 2})),
              (Bytes{0x34, 0x12, 0x7E, 0x7E, 0x01, 0x00}));
    EXPECT_EQ(roundTrip(adapter, *device, request(2, 0x0407)), (Bytes{2, 0, 0x07, 0x04, 4, 0}));
    EXPECT_EQ(roundTrip(adapter, *device, request(3, 0x040D, {1, 1})),
              (Bytes{3, 0, 0x0D, 0x04, 4, 0}));
}

TEST(VirtualAdapterFirmware, UsbStringsAndAnalogMeasurements) {
    VirtualAdapter adapter(options(Model::Teranox, "SN42"));
    auto device = openHid(adapter);
    auto text = [&](uint8_t index) {
        const auto answer = roundTrip(adapter, *device, request(index, 0x0407, {index}));
        EXPECT_TRUE(answer && answer->size() >= 7u && (*answer)[6] == answer->size() - 6);
        return answer ? std::string(answer->begin() + 7, answer->end()) : std::string();
    };
    EXPECT_EQ(text(1), "Vantor Labs");
    EXPECT_EQ(text(2), "Teranox");
    EXPECT_EQ(text(3), "SN42");
    EXPECT_EQ(text(5), "FW 1.5.1");
    Identity identity;
    identity.serialNumber = "OTHER";
    identity.hwVersion = "";
    adapter.setIdentity(identity);
    EXPECT_EQ(text(3), "OTHER");
    EXPECT_EQ(text(4), "");
    for (uint8_t bad : {0, 6}) {
        EXPECT_EQ(u16At(*roundTrip(adapter, *device, request(8, 0x0407, {bad})), 4), 4);
    }

    adapter.setAnalogMeasurements(0x0CE4, 0x0708, 0x0ABC);
    EXPECT_EQ(
        roundTrip(adapter, *device, request(9, 0x0409)),
        (Bytes{9, 0, 0x09, 0x04, 0, 0, 0xE4, 0x0C, 0x08, 0x07, 0xBC, 0x0A, 0, 0, 0, 0, 0, 0}));
}

TEST(VirtualAdapterFirmware, UsbConfigurationPersistsAcrossResetAndReplug) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    auto setConfig = [&](Bytes values) {
        return u16At(*roundTrip(adapter, *device, request(1, 0x040D, values)), 4);
    };
    auto getConfig = [&] {
        const auto answer = roundTrip(adapter, *device, request(2, 0x040E));
        return Bytes(answer->begin() + 6, answer->end());
    };
    EXPECT_EQ(setConfig({1, 1, 3}), 0);
    EXPECT_EQ(setConfig({255, 0, 255}), 0);
    EXPECT_EQ(getConfig(), (Bytes{1, 0, 3}));
    for (const Bytes& invalid : {Bytes{2, 0, 0}, Bytes{0, 7, 0}, Bytes{0, 0, 5}}) {
        EXPECT_EQ(setConfig(invalid), 4);
    }
    EXPECT_EQ(getConfig(), (Bytes{1, 0, 3}));

    // Reset: no answer, counted; the configuration stays.
    writeMessage(*device, request(3, 0x0401), 64);
    EXPECT_EQ(adapter.resetCount(), 1);
    Bytes input(64);
    EXPECT_EQ(device->readTimeout(input.data(), input.size(), 0), 0);
    EXPECT_EQ(getConfig(), (Bytes{1, 0, 3}));

    adapter.unplug();
    adapter.plug();
    device = openHid(adapter);
    EXPECT_EQ(getConfig(), (Bytes{1, 0, 3}));
    EXPECT_EQ(adapter.resetCount(), 1);
}

TEST(VirtualAdapterFirmware, BulkCapabilityAnswer) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    EXPECT_EQ(roundTrip(adapter, *device, request(5, 0x040F)),
              (Bytes{5, 0,    0x0F, 0x04, 0,    0, 1, 1, 0, 0, 2,  //
                     2, 0x00, 0x80, 0x80, 0x01, 0, 0,              //
                     3, 0x00, 0x80, 0xA0, 0x01, 0, 0}));
    BulkCapabilityConfig config;
    config.capabilityInfo = 7;
    config.supported = false;
    config.groups = {{6, 32767, 0x12345678}};
    adapter.setBulkCapabilities(config);
    EXPECT_EQ(
        roundTrip(adapter, *device, request(6, 0x040F)),
        (Bytes{6, 0, 0x0F, 0x04, 0, 0, 7, 0, 0, 0, 1, 6, 0xFF, 0x7F, 0x78, 0x56, 0x34, 0x12}));
    config.status = 0x0101;
    adapter.setBulkCapabilities(config);
    EXPECT_EQ(roundTrip(adapter, *device, request(7, 0x040F)),
              (Bytes{7, 0, 0x0F, 0x04, 0x01, 0x01}));
}

TEST(VirtualAdapterFirmware, BootModeUnplugsTheAdapter) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    writeMessage(*device, request(1, 0x0402), 64);
    EXPECT_TRUE(adapter.inBootMode());
    EXPECT_FALSE(adapter.isPlugged());
    EXPECT_FALSE(listed(adapter.path()));
    Bytes input(64);
    EXPECT_EQ(device->readTimeout(input.data(), input.size(), 0), -1);

    adapter.plug();
    EXPECT_FALSE(adapter.inBootMode());
    EXPECT_TRUE(listed(adapter.path()));
}

// A family with a bulk write (answer after the data phase) and a bulk read
// (answer, then the data on bulk IN), to exercise the firmware's bulk services.
class BulkProbeFamily final : public FirmwareFamily {
  public:
    std::vector<Command> commands() const override { return {{0x7F07, 2}, {0x7F08, 2}}; }
    void handle(const Request& request, Firmware& firmware) override {
        const uint16_t length = request.u16(0);
        if (request.commandCode() == 0x7F08) {
            firmware.respond(MessageBuilder::response(request, fw::kSuccess).u16(length).take());
            Bytes data(length);
            for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
            firmware.queueBulkIn(data.data(), data.size());
            return;
        }
        const uint16_t id = request.transactionId();
        firmware.awaitBulkOut(length, [id](Firmware& fw, std::optional<Bytes> data) {
            if (!data) {
                fw.respond(MessageBuilder::response(id, 0x7F07, fw::kBusTimeout).take());
                return;
            }
            unsigned sum = 0;
            for (uint8_t b : *data) sum += b;
            fw.respond(MessageBuilder::response(id, 0x7F07, fw::kSuccess)
                           .u16(static_cast<uint16_t>(sum))
                           .take());
        });
    }
};

// ------------------------------------------------------------------ bulk side

class VirtualAdapterBulk : public ::testing::Test {
  protected:
    void open(VirtualAdapter& adapter) {
        handle = openBulk(adapter, &device);
        ASSERT_NE(handle, nullptr);
    }
    int in(uint8_t* data, int length, int* transferred, unsigned timeoutMs = kWaitMs) {
        return handle->bulkTransfer(0x81, data, length, transferred, timeoutMs);
    }

    std::shared_ptr<usb::UsbDevice> device;
    std::unique_ptr<usb::UsbDeviceHandle> handle;
};

TEST_F(VirtualAdapterBulk, DescribesTheVendorInterface) {
    VirtualAdapter adapter(options(Model::Quillex, "BULK-DESC"));
    VirtualAdapter hidOnly(options(Model::Teranox, "BULK-NONE", false));
    EXPECT_EQ(openBulk(hidOnly), nullptr);  // only adapters with the interface are listed
    open(adapter);
    usb::UsbDeviceDescriptor descriptor;
    ASSERT_EQ(device->getDeviceDescriptor(descriptor), usb::kUsbSuccess);
    EXPECT_EQ(descriptor.vendorId, 0x1209);
    EXPECT_EQ(descriptor.productId, 0x0002);
    usb::UsbConfigDescriptor config;
    ASSERT_EQ(device->getActiveConfigDescriptor(config), usb::kUsbSuccess);
    ASSERT_EQ(config.interfaces.size(), 2u);
    EXPECT_EQ(config.interfaces[0].altSettings.at(0).interfaceClass, 3);
    const auto& vendor = config.interfaces[1].altSettings.at(0);
    EXPECT_EQ(vendor.interfaceNumber, 1);
    EXPECT_EQ(vendor.interfaceClass, 0xFF);
    ASSERT_EQ(vendor.endpoints.size(), 2u);
    EXPECT_EQ(vendor.endpoints[0].address, 0x81);
    EXPECT_EQ(vendor.endpoints[1].address, 0x02);
    EXPECT_EQ(vendor.endpoints[1].attributes & 3, 2);
    EXPECT_EQ(vendor.endpoints[1].maxPacketSize, 512);

    uint8_t text[4];  // cut to 3 characters and terminated
    ASSERT_EQ(handle->getStringDescriptorAscii(descriptor.serialNumberIndex, text, sizeof text), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), "BUL");
}

TEST_F(VirtualAdapterBulk, InDeliversInRequestedChunksThenTimesOut) {
    VirtualAdapter adapter(options(Model::Quillex, "BULK-IN"));
    open(adapter);
    ASSERT_EQ(handle->claimInterface(1), usb::kUsbSuccess);
    Bytes data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3);
    adapter.sendBulk(data);
    Bytes received(1000);
    int transferred = -1;
    ASSERT_EQ(in(received.data(), 512, &transferred), usb::kUsbSuccess);
    EXPECT_EQ(transferred, 512);
    ASSERT_EQ(in(received.data() + 512, 512, &transferred), usb::kUsbSuccess);
    EXPECT_EQ(transferred, 488);
    EXPECT_EQ(received, data);
    EXPECT_EQ(in(received.data(), 512, &transferred, 20), usb::kUsbErrorTimeout);
    EXPECT_EQ(transferred, 0);

    adapter.stallBulkIn(true);
    adapter.sendBulk({1, 2, 3});
    EXPECT_EQ(in(received.data(), 512, &transferred), usb::kUsbErrorPipe);
    adapter.stallBulkIn(false);
    ASSERT_EQ(in(received.data(), 512, &transferred), usb::kUsbSuccess);
    EXPECT_EQ(transferred, 3);

    // A short endpoint: 100 of 300 bytes, then nothing (the rest is lost).
    adapter.limitBulkIn(100);
    adapter.sendBulk(Bytes(300, 9));
    ASSERT_EQ(in(received.data(), 512, &transferred), usb::kUsbSuccess);
    EXPECT_EQ(transferred, 100);
    EXPECT_EQ(in(received.data(), 512, &transferred, 20), usb::kUsbErrorTimeout);
    adapter.limitBulkIn(std::nullopt);
    EXPECT_EQ(in(received.data(), 512, &transferred, 20), usb::kUsbErrorTimeout);
}

TEST_F(VirtualAdapterBulk, ClaimsAreExclusiveUntilReleased) {
    VirtualAdapter adapter(options(Model::Teranox, "BULK-CLAIM"));
    open(adapter);
    std::unique_ptr<usb::UsbDeviceHandle> second;
    ASSERT_EQ(device->open(second), usb::kUsbSuccess);
    EXPECT_EQ(handle->claimInterface(0), usb::kUsbErrorBusy);  // the HID driver owns it
    EXPECT_EQ(handle->claimInterface(1), usb::kUsbSuccess);
    EXPECT_EQ(second->claimInterface(1), usb::kUsbErrorBusy);
    handle.reset();  // closing releases
    EXPECT_EQ(second->claimInterface(1), usb::kUsbSuccess);
    EXPECT_EQ(second->releaseInterface(1), usb::kUsbSuccess);
    EXPECT_EQ(second->releaseInterface(1), usb::kUsbErrorNotFound);
}

TEST_F(VirtualAdapterBulk, FirmwareDataPhases) {
    VirtualAdapter adapter(options(Model::Teranox, "BULK-FW"));
    adapter.state().firmware().withLock(
        [](Firmware& fw) { fw.install(std::make_unique<BulkProbeFamily>()); });
    open(adapter);
    auto hid = openHid(adapter);

    // Write: the answer waits for the data phase, which is also recorded.
    writeMessage(*hid, request(1, 0x7F07, {4, 0}), 64);
    Bytes input(64);
    EXPECT_EQ(hid->readTimeout(input.data(), input.size(), 0), 0);
    Bytes out{10, 20, 30, 40};
    int transferred = 0;
    ASSERT_EQ(handle->bulkTransfer(0x02, out.data(), 2, &transferred, kWaitMs), usb::kUsbSuccess);
    EXPECT_EQ(hid->readTimeout(input.data(), input.size(), 0), 0);
    ASSERT_EQ(handle->bulkTransfer(0x02, out.data() + 2, 2, &transferred, kWaitMs),
              usb::kUsbSuccess);
    EXPECT_EQ(transferred, 2);
    EXPECT_EQ(readMessage(*hid, 64), (Bytes{1, 0, 0x07, 0x7F, 0, 0, 100, 0}));
    EXPECT_EQ(adapter.bulkReceived(), out);

    // A data phase that never comes is abandoned by the next request.
    writeMessage(*hid, request(2, 0x7F07, {8, 0}), 64);
    writeMessage(*hid, request(3, 0x040E), 64);
    EXPECT_EQ(readMessage(*hid, 64), (Bytes{2, 0, 0x07, 0x7F, 0x09, 0}));
    EXPECT_EQ(u16At(*readMessage(*hid, 64), 0), 3);

    // Read: the answer first, then the data on bulk IN.
    EXPECT_EQ(roundTrip(adapter, *hid, request(4, 0x7F08, {0x2C, 0x01})),
              (Bytes{4, 0, 0x08, 0x7F, 0, 0, 0x2C, 0x01}));
    Bytes received(300);
    ASSERT_EQ(in(received.data(), 300, &transferred), usb::kUsbSuccess);
    EXPECT_EQ(transferred, 300);
    EXPECT_EQ(received[299], static_cast<uint8_t>(299 * 7));
}

// ------------------------------------------------------------------ threading

TEST(VirtualAdapterConcurrency, ReaderWriterAndInjectorTogether) {
    VirtualAdapter adapter;
    auto device = openHid(adapter);
    constexpr int kRequests = 300;
    constexpr int kNotifications = 300;
    std::set<uint16_t> answered;
    int notifications = 0;
    int corrupt = 0;

    std::thread reader([&] {
        const auto deadline = Clock::now() + 10s;
        while ((static_cast<int>(answered.size()) < kRequests || notifications < kNotifications) &&
               Clock::now() < deadline) {
            const auto message = readMessage(*device, 64, 100);
            if (!message) continue;
            if (u16At(*message, 0) == 0) {
                // Two-report notifications must arrive whole.
                if (message->size() != 106 || (*message)[105] != 0x5A) ++corrupt;
                ++notifications;
            } else {
                answered.insert(u16At(*message, 0));
            }
        }
    });
    std::thread injector([&] {
        Bytes fields(100, 0x5A);
        for (int i = 0; i < kNotifications; ++i) adapter.notify(0x1081, fields);
    });
    for (int i = 1; i <= kRequests; ++i)
        writeMessage(*device, request(static_cast<uint16_t>(i), 0x040E), 64);
    injector.join();
    reader.join();
    EXPECT_EQ(static_cast<int>(answered.size()), kRequests);
    EXPECT_EQ(notifications, kNotifications);
    EXPECT_EQ(corrupt, 0);
    EXPECT_TRUE(adapter.waitForRequests(kRequests, 0ms));
}

TEST(VirtualAdapterConcurrency, UnplugWakesBlockedReaders) {
    VirtualAdapter adapter(options(Model::Teranox, "WAKE"));
    auto hid = openHid(adapter);
    auto bulk = openBulk(adapter);
    ASSERT_NE(bulk, nullptr);

    std::atomic<int> hidResult{1};
    std::atomic<int> bulkResult{1};
    std::thread hidReader([&] {
        uint8_t buffer[64];
        hidResult = hid->readTimeout(buffer, sizeof buffer, 5000);
    });
    std::thread bulkReader([&] {
        uint8_t buffer[64];
        int transferred = 0;
        bulkResult = bulk->bulkTransfer(0x81, buffer, sizeof buffer, &transferred, 5000);
    });
    // Unplug once both are blocked, so that the wake-up is what ends them.
    const auto waitUntil = Clock::now() + 2s;
    while (adapter.state().blockedReaders() < 2 && Clock::now() < waitUntil)
        std::this_thread::yield();
    ASSERT_EQ(adapter.state().blockedReaders(), 2u);
    const auto start = Clock::now();
    adapter.unplug();
    hidReader.join();
    bulkReader.join();
    EXPECT_EQ(hidResult, -1);
    EXPECT_EQ(bulkResult, usb::kUsbErrorNoDevice);
    EXPECT_LT(Clock::now() - start, 2s);
}

}  // namespace
