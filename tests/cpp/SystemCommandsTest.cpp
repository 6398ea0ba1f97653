// System commands of both SDK classes against a virtual adapter: request
// bytes, USB strings, device information and the USB configuration.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/VirtualAdapter.h"
#include "tests/cpp/SdkTestAccess.h"

namespace vantor {
namespace {

using test::Bytes;
using test::responseMessage;

constexpr uint16_t kGetUsbString = 0x0407;
constexpr uint16_t kTimeout = 0x2000;
constexpr uint16_t kDisconnect = 0x4000;
constexpr uint16_t kWrongResponse = 0xA000;

// An adapter whose string requests are answered with `answer(index, id)`.
void answerStrings(sim::VirtualAdapter& adapter,
                   std::function<std::vector<Bytes>(uint8_t, uint16_t)> answer) {
    adapter.setHandler([answer](const Bytes& request) {
        if (test::commandOf(request) != kGetUsbString) return std::vector<Bytes>{};
        return answer(request.at(4), test::idOf(request));
    });
}

TEST(SystemCommandsAsync, RequestsCarryTheirCodesAndParameters) {
    sim::VirtualAdapter adapter;
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(sdk.getUsbString(0x0102, 3), 0);
    EXPECT_EQ(sdk.getAnalogMeasurements(0x0203), 0);
    EXPECT_EQ(sdk.setUsbConfig(0x0304, UsbConfig{1, 0, 3}), 0);
    // Only the low byte of each setting travels.
    EXPECT_EQ(sdk.setUsbConfig(0x0405, UsbConfig{0x101, 0x200, 0x1FF}), 0);
    EXPECT_EQ(sdk.getBulkCapabilities(0x0506), 0);
    ASSERT_TRUE(adapter.waitForRequests(5, test::kWaitLimit));
    const std::vector<Bytes> expected = {
        {0x02, 0x01, 0x07, 0x04, 0x03},
        {0x03, 0x02, 0x09, 0x04},
        {0x04, 0x03, 0x0D, 0x04, 0x01, 0x00, 0x03},
        {0x05, 0x04, 0x0D, 0x04, 0x01, 0x00, 0xFF},
        {0x06, 0x05, 0x0F, 0x04},
    };
    EXPECT_EQ(adapter.requests(), expected);
}

TEST(SystemCommands, UsbConfigRoundTripsThroughTheFirmware) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.setUsbConfig(UsbConfig{USB_WEBUSB_ENABLED, USB_CDC_ENABLED, USB_CDC_RS485}), 0);
    UsbConfig read;
    ASSERT_EQ(sdk.getUsbConfig(read), 0);
    EXPECT_EQ(read.webusbEnabled, USB_WEBUSB_ENABLED);
    EXPECT_EQ(read.cdcEnabled, USB_CDC_ENABLED);
    EXPECT_EQ(read.cdcMode, USB_CDC_RS485);

    // 255 keeps a setting; a value the firmware refuses comes back as its status.
    ASSERT_EQ(sdk.setUsbConfig(UsbConfig{USB_WEBUSB_NO_CHANGE, USB_CDC_NO_CHANGE, 255}), 0);
    EXPECT_EQ(adapter.requests().back(), (Bytes{0x03, 0x00, 0x0D, 0x04, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(sdk.setUsbConfig(UsbConfig{USB_WEBUSB_DISABLED, 255, 255}), 0);
    EXPECT_EQ(sdk.setUsbConfig(UsbConfig{0, 0, 9}), 0x0004);
    ASSERT_EQ(sdk.getUsbConfig(read), 0);
    EXPECT_EQ(read.webusbEnabled, USB_WEBUSB_DISABLED);
    EXPECT_EQ(read.cdcEnabled, USB_CDC_ENABLED);
    EXPECT_EQ(read.cdcMode, USB_CDC_RS485);
}

TEST(SystemCommands, UsbStringLengthByteCountsItself) {
    sim::VirtualAdapter adapter;
    Bytes params;
    uint16_t status = 0;
    answerStrings(adapter, [&](uint8_t, uint16_t id) {
        return std::vector<Bytes>{responseMessage(id, kGetUsbString, status, params)};
    });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    std::vector<uint8_t> out = {'o', 'l', 'd'};

    params = {0x01};  // no string bytes
    EXPECT_EQ(sdk.getUsbString(out, 1), 0);
    EXPECT_TRUE(out.empty());

    params = {0x04, 'a', 'b', 'c', 'x', 'y'};  // bytes past the length are ignored
    EXPECT_EQ(sdk.getUsbString(out, 1), 0);
    EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'b', 'c'}));

    status = 0x0004;  // the status field is not consulted
    params = {0x03, 0xC3, 0xA9};
    EXPECT_EQ(sdk.getUsbString(out, 1), 0);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xC3, 0xA9}));
    status = 0;

    params = {0x05, 'a', 'b'};  // announces more than is present
    EXPECT_EQ(sdk.getUsbString(out, 1), kWrongResponse);
    params = {0x00, 'a'};
    EXPECT_EQ(sdk.getUsbString(out, 1), kWrongResponse);
    params = {};  // header only
    EXPECT_EQ(sdk.getUsbString(out, 1), kWrongResponse);
    status = 0x0004;  // header only with an error: the firmware's status survives
    EXPECT_EQ(sdk.getUsbString(out, 1), 0x0004);
}

TEST(SystemCommands, UnknownStringIndexReportsTheFirmwareStatus) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    std::vector<uint8_t> out;
    EXPECT_EQ(sdk.getUsbString(out, 9), 0x0004);  // FW_INVALID_PARAMETER
}

TEST(SystemCommands, DeviceInfoReadsTheFiveStrings) {
    sim::AdapterOptions options;
    options.identity.manufacturer = "Maker";
    options.identity.productName = "Bus adapter";
    options.identity.serialNumber = "SN-42";
    options.identity.hwVersion = "rev C";
    options.identity.fwVersion = "2.0.7";
    sim::VirtualAdapter adapter(options);
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    DeviceInfo info;
    ASSERT_EQ(sdk.getDeviceInfo(info), 0);
    EXPECT_EQ(info.manufacturer, "Maker");
    EXPECT_EQ(info.productName, "Bus adapter");
    EXPECT_EQ(info.serialNumber, "SN-42");
    EXPECT_EQ(info.hwVersion, "rev C");
    EXPECT_EQ(info.fwVersion, "2.0.7");
    std::vector<uint8_t> indexes;
    for (const auto& request : adapter.requests()) indexes.push_back(request.at(4));
    EXPECT_EQ(indexes, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST(SystemCommands, DeviceInfoOnADisconnectedSdkSendsNothing) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    DeviceInfo info;
    EXPECT_EQ(sdk.getDeviceInfo(info), kDisconnect);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    sdk.disconnect();
    EXPECT_EQ(sdk.getDeviceInfo(info), kDisconnect);
    EXPECT_TRUE(adapter.reports().empty());
}

TEST(SystemCommands, DeviceInfoStopsAtTheFirstFailureKeepingWhatItRead) {
    sim::VirtualAdapter adapter;
    answerStrings(adapter, [](uint8_t index, uint16_t id) {
        if (index >= 3) return std::vector<Bytes>{};  // the third string never comes
        const Bytes text = index == 1 ? Bytes{0x03, 'M', 'k'} : Bytes{0x02, 'P'};
        return std::vector<Bytes>{responseMessage(id, kGetUsbString, 0, text)};
    });
    VantorSDK sdk(100);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    DeviceInfo info;
    info.serialNumber = "old serial";
    info.fwVersion = "old fw";
    EXPECT_EQ(sdk.getDeviceInfo(info), kTimeout);
    EXPECT_EQ(info.manufacturer, "Mk");
    EXPECT_EQ(info.productName, "P");
    EXPECT_EQ(info.serialNumber, "old serial");
    EXPECT_EQ(info.fwVersion, "old fw");
    EXPECT_EQ(adapter.requests().size(), 3u);
}

}  // namespace
}  // namespace vantor
