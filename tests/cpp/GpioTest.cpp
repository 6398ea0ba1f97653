// SPDX-License-Identifier: MIT
// GPIO and I/O rail commands of both SDK classes: request bytes, decoding of
// the level and voltage read-backs.

#include <gtest/gtest.h>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;
using Level = GpioLogicLevel;
using Pin = GpioPinNumber;

constexpr uint16_t kId = kRequestId;

// One rail: the bus names of an operation send the same request.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Gpio, RequestBytes, ::testing::Values(
    SentRequest{"InputHasNoInitialLevel", [](VantorAsyncSDK& s) { return s.gpioConfigurePin(kId, Pin::PIN_3, GpioFunctionality::DIGITAL_INPUT, Level::HIGH); }, {0x01, 0x14, 0x02, 0x00}},
    SentRequest{"OutputWithInitialLevel", [](VantorAsyncSDK& s) { return s.gpioConfigurePin(kId, Pin::PIN_3, GpioFunctionality::DIGITAL_OUTPUT, Level::HIGH); }, {0x01, 0x14, 0x02, 0x01, 0x01}},
    SentRequest{"DigitalWrite", [](VantorAsyncSDK& s) { return s.gpioDigitalWrite(kId, Pin::PIN_6, Level::HIGH); }, {0x02, 0x14, 0x05, 0x01}},
    SentRequest{"UnknownTriggerSentAsGiven", [](VantorAsyncSDK& s) { return s.gpioConfigureInterrupt(kId, Pin::PIN_1, static_cast<GpioTriggerType>(0)); }, {0x04, 0x14, 0x00, 0x00}},
    SentRequest{"DisableInterrupt", [](VantorAsyncSDK& s) { return s.gpioDisableInterrupt(kId, Pin::PIN_5); }, {0x05, 0x14, 0x04}},
    SentRequest{"SpiNameOfTheRailPersisted", [](VantorAsyncSDK& s) { return s.spiSetBusVoltage(kId, 3300, true); }, {0x05, 0x04, 0xE4, 0x0C, 0x01}},
    SentRequest{"GpioNameOfTheRail", [](VantorAsyncSDK& s) { return s.gpioSetVoltage(kId, 3300, true); }, {0x05, 0x04, 0xE4, 0x0C, 0x01}},
    SentRequest{"I2cNameOfTheRail", [](VantorAsyncSDK& s) { return s.i2cSetBusVoltage(kId, 1800, false); }, {0x05, 0x04, 0x08, 0x07, 0x00}},
    SentRequest{"UartUseExternalVoltage", [](VantorAsyncSDK& s) { return s.uartUseExternalVoltage(kId, true); }, {0x0B, 0x04, 0x01}}),
    RowName{});
// clang-format on

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
    EXPECT_EQ(withoutId(adapter.requests().back()), (Bytes{0x03, 0x14, 0x03}));
    status = 0x0502;  // filled even with an error status
    params = {0x00};
    EXPECT_EQ(sdk.gpioDigitalRead(Pin::PIN_4, level), 0x0502);
    EXPECT_EQ(level, Level::LOW);
    params = {};  // an error status explains a missing level; a short success is malformed
    EXPECT_EQ(sdk.gpioDigitalRead(Pin::PIN_4, level), 0x0502);
    status = 0;
    level = Level::HIGH;
    EXPECT_EQ(sdk.gpioDigitalRead(Pin::PIN_4, level), kWrongResponse);
    EXPECT_EQ(level, Level::HIGH);

    // The rail is the first u16 of the 12-byte measurement block (every bus
    // name of the getter reads the same rail).
    params = {0x08, 0x07, 0xB8, 0x0B, 0xE4, 0x0C, 0, 0, 0, 0, 0, 0};
    uint16_t mv = 0;
    EXPECT_EQ(sdk.i2cGetBusVoltage(mv), 0);
    EXPECT_EQ(mv, 1800);
    mv = 42;
    params.pop_back();  // a 17-byte response
    EXPECT_EQ(sdk.gpioGetVoltage(mv), kWrongResponse);
    status = 0x0103;
    EXPECT_EQ(sdk.gpioGetVoltage(mv), 0x0103);
    EXPECT_EQ(mv, 42);
}

}  // namespace
}  // namespace vantor
