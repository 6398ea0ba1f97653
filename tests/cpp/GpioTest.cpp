// GPIO and I/O rail commands of both SDK classes: request bytes, decoding of
// the level and voltage read-backs, the shared rail, and transport faults.

#include <gtest/gtest.h>

#include "tests/cpp/PeripheralTestSupport.h"

namespace vantor {
namespace {

using namespace test;
using Level = GpioLogicLevel;
using Pin = GpioPinNumber;

TEST(GpioAsync, RequestsCarryTheirBytes) {
    sim::VirtualAdapter adapter;
    VantorAsyncSDK sdk;
    EXPECT_EQ(sdk.gpioDigitalRead(1, Pin::PIN_1), kDisconnect);
    EXPECT_EQ(sdk.gpioSetVoltage(2, 3300, true), kDisconnect);
    EXPECT_EQ(sdk.uartUseExternalVoltage(3, true), kDisconnect);
    ASSERT_TRUE(sdk.connect(adapter.path()));

    const auto input = GpioFunctionality::DIGITAL_INPUT;
    const auto output = GpioFunctionality::DIGITAL_OUTPUT;
    EXPECT_EQ(sdk.gpioConfigurePin(0x0101, Pin::PIN_3, input, Level::HIGH), 0);
    EXPECT_EQ(sdk.gpioConfigurePin(0x0102, Pin::PIN_3, output, Level::HIGH), 0);
    EXPECT_EQ(sdk.gpioDigitalWrite(0x0103, Pin::PIN_6, Level::HIGH), 0);
    EXPECT_EQ(sdk.gpioDigitalRead(0x0104, Pin::PIN_2), 0);
    EXPECT_EQ(sdk.gpioConfigureInterrupt(0x0105, Pin::PIN_1, static_cast<GpioTriggerType>(0)), 0);
    EXPECT_EQ(sdk.gpioDisableInterrupt(0x0106, Pin::PIN_5), 0);
    // The four names of each rail operation send the same request.
    EXPECT_EQ(sdk.spiSetBusVoltage(0x0107, 3300, true), 0);
    EXPECT_EQ(sdk.gpioSetVoltage(0x0107, 3300, true), 0);
    EXPECT_EQ(sdk.i2cSetBusVoltage(0x0108, 1800, false), 0);
    EXPECT_EQ(sdk.uartSetBusVoltage(0x0108, 1800, false), 0);
    EXPECT_EQ(sdk.i2cUseExternalVoltage(0x0109, true), 0);
    EXPECT_EQ(sdk.spiUseExternalVoltage(0x0109, true), 0);
    EXPECT_EQ(sdk.uartUseExternalVoltage(0x010A, false), 0);
    EXPECT_EQ(sdk.gpioUseExternalVoltage(0x010A, false), 0);
    const Bytes set3300 = {0x07, 0x01, 0x05, 0x04, 0xE4, 0x0C, 0x01};
    const Bytes set1800 = {0x08, 0x01, 0x05, 0x04, 0x08, 0x07, 0x00};
    const Bytes external = {0x09, 0x01, 0x0B, 0x04, 0x01};
    const Bytes internal = {0x0A, 0x01, 0x0B, 0x04, 0x00};
    const std::vector<Bytes> expected = {
        {0x01, 0x01, 0x01, 0x14, 0x02, 0x00},  // an input sends no level
        {0x02, 0x01, 0x01, 0x14, 0x02, 0x01, 0x01},
        {0x03, 0x01, 0x02, 0x14, 0x05, 0x01},
        {0x04, 0x01, 0x03, 0x14, 0x01},
        {0x05, 0x01, 0x04, 0x14, 0x00, 0x00},  // no such trigger: sent as given
        {0x06, 0x01, 0x05, 0x14, 0x04},
        set3300,
        set3300,
        set1800,
        set1800,
        external,
        external,
        internal,
        internal,
    };
    EXPECT_EQ(requestsOf(adapter, expected.size()), expected);
}

TEST(Gpio, ReadBacksStoreTheirFieldOnlyWhenTheResponseCarriesIt) {
    sim::VirtualAdapter adapter;
    uint16_t status = 0;
    Bytes params;
    script(adapter, [&](const Bytes& req) { return reply(req, status, params); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));

    Level level = Level::LOW;
    params = {0x01};
    EXPECT_EQ(sdk.gpioDigitalRead(Pin::PIN_4, level), 0);
    EXPECT_EQ(level, Level::HIGH);
    EXPECT_EQ(adapter.requests().back(), request(1, 0x1403, {0x03}));
    status = 0x0502;  // filled even with an error status
    params = {0x00};
    EXPECT_EQ(sdk.gpioDigitalRead(Pin::PIN_4, level), 0x0502);
    EXPECT_EQ(level, Level::LOW);
    level = Level::HIGH;
    params = {};  // the status explains a missing level; a short success is malformed
    status = 0x0501;
    EXPECT_EQ(sdk.gpioDigitalRead(Pin::PIN_4, level), 0x0501);
    status = 0;
    EXPECT_EQ(sdk.gpioDigitalRead(Pin::PIN_4, level), kWrongResponse);
    EXPECT_EQ(level, Level::HIGH);

    // The rail is the first u16 of the 12-byte measurement block.
    params = {0x08, 0x07, 0xB8, 0x0B, 0xE4, 0x0C, 0, 0, 0, 0, 0, 0};
    for (auto get : {&VantorSDK::i2cGetBusVoltage, &VantorSDK::spiGetBusVoltage,
                     &VantorSDK::uartGetBusVoltage, &VantorSDK::gpioGetVoltage}) {
        uint16_t mv = 0;
        EXPECT_EQ((sdk.*get)(mv), 0);
        EXPECT_EQ(mv, 1800);
        EXPECT_EQ(withoutId(adapter.requests().back()), (Bytes{0x09, 0x04}));
    }
    uint16_t mv = 42;
    params.pop_back();  // a 17-byte response
    EXPECT_EQ(sdk.gpioGetVoltage(mv), kWrongResponse);
    status = 0x0103;
    EXPECT_EQ(sdk.gpioGetVoltage(mv), 0x0103);
    EXPECT_EQ(mv, 42);
}

TEST(Gpio, EveryBusNameReachesTheOneRail) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    uint16_t mv = 0;
    ASSERT_EQ(sdk.spiSetBusVoltage(1800, false), 0);
    EXPECT_EQ(sdk.gpioGetVoltage(mv), 0);
    EXPECT_EQ(mv, 1800);
    EXPECT_EQ(sdk.uartSetBusVoltage(6000, false), 0x0101);  // the adapter's range check
    EXPECT_EQ(sdk.i2cGetBusVoltage(mv), 0);
    EXPECT_EQ(mv, 1800);
    adapter.setExternalVoltage(2500);
    ASSERT_EQ(sdk.gpioUseExternalVoltage(false), 0);
    EXPECT_EQ(sdk.uartGetBusVoltage(mv), 0);
    EXPECT_EQ(mv, 2500);
    EXPECT_TRUE(adapter.ioRail().external);
}

TEST(GpioFaults, AFailedWriteIsResentAndAnUnpluggedAdapterIsReopened) {
    sim::VirtualAdapter adapter;
    VantorSDK sdk(500);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    expectWriteFailureAndUnplugRecovery(
        adapter, [&] { return sdk.gpioDigitalWrite(Pin::PIN_2, Level::HIGH); });
}

}  // namespace
}  // namespace vantor
