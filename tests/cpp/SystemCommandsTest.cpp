// SPDX-License-Identifier: MIT
// System commands of both SDK classes against a virtual adapter: request
// bytes, USB strings and device information.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

constexpr uint16_t kGetUsbString = 0x0407;

// An adapter whose string requests are answered with `answer(index, id)`.
void answerStrings(sim::VirtualAdapter& adapter,
                   std::function<std::vector<Bytes>(uint8_t, uint16_t)> answer) {
    adapter.setHandler([answer](const Bytes& request) {
        if (commandOf(request) != kGetUsbString) return std::vector<Bytes>{};
        return answer(request.at(4), idOf(request));
    });
}

constexpr uint16_t kId = kRequestId;

// clang-format off
INSTANTIATE_TEST_SUITE_P(SystemCommands, RequestBytes, ::testing::Values(
    SentRequest{"GetUsbString", [](VantorAsyncSDK& s) { return s.getUsbString(kId, 3); }, {0x07, 0x04, 0x03}},
    SentRequest{"GetAnalogMeasurements", [](VantorAsyncSDK& s) { return s.getAnalogMeasurements(kId); }, {0x09, 0x04}},
    SentRequest{"SetUsbConfigKeepingEverySetting", [](VantorAsyncSDK& s) { return s.setUsbConfig(kId, UsbConfig{255, 255, 255}); }, {0x0D, 0x04, 0xFF, 0xFF, 0xFF}},
    SentRequest{"SetUsbConfigSendsLowBytes", [](VantorAsyncSDK& s) { return s.setUsbConfig(kId, UsbConfig{0x101, 0x200, 0x1FF}); }, {0x0D, 0x04, 0x01, 0x00, 0xFF}},
    SentRequest{"GetBulkCapabilities", [](VantorAsyncSDK& s) { return s.getBulkCapabilities(kId); }, {0x0F, 0x04}}),
    RowName{});
// clang-format on

// The string's bytes (0xEE when untouched). The length byte counts itself;
// the status is not consulted.
Decoded usbString(VantorSDK& s) {
    Bytes out = {0xEE};
    const uint16_t st = s.getUsbString(out, 1);
    return {st, out};
}
const Bytes kUntouched = {0xEE};

// clang-format off
INSTANTIATE_TEST_SUITE_P(UsbString, ReplyDecoding, ::testing::Values(
    ScriptedReply{"NoStringBytes", 0, {0x01}, usbString, {0, {}}},
    ScriptedReply{"BytesBeyondTheLengthAreIgnored", 0, {0x04, 'a', 'b', 'c', 'x', 'y'}, usbString, {0, {'a', 'b', 'c'}}},
    ScriptedReply{"TheStatusIsNotConsulted", 0x0004, {0x03, 0xC3, 0xA9}, usbString, {0, {0xC3, 0xA9}}},
    ScriptedReply{"AnnouncesOneByteMoreThanIsPresent", 0, {0x04, 'a', 'b'}, usbString, {kWrongResponse, kUntouched}},
    ScriptedReply{"AnnouncesExactlyWhatIsPresent", 0, {0x03, 'a', 'b'}, usbString, {0, {'a', 'b'}}},
    ScriptedReply{"LengthZero", 0, {0x00, 'a'}, usbString, {kWrongResponse, kUntouched}},
    ScriptedReply{"HeaderOnly", 0, {}, usbString, {kWrongResponse, kUntouched}},
    ScriptedReply{"HeaderOnlyWithAnErrorGivesTheFirmwareStatus", 0x0004, {}, usbString, {0x0004, kUntouched}}),
    RowName{});
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(SystemCommands, NotConnected, ::testing::Values(
    RefusedCall{"DeviceInfo", nullptr, [](VantorSDK& s) { DeviceInfo out; return s.getDeviceInfo(out); }}),
    RowName{});
// clang-format on

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
