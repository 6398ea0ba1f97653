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
    SentRequest{"DigitalRead", [](VantorAsyncSDK& s) { return s.gpioDigitalRead(kId, Pin::PIN_4); }, {0x03, 0x14, 0x03}},
    SentRequest{"DisableInterrupt", [](VantorAsyncSDK& s) { return s.gpioDisableInterrupt(kId, Pin::PIN_5); }, {0x05, 0x14, 0x04}},
    SentRequest{"SpiNameOfTheRailPersisted", [](VantorAsyncSDK& s) { return s.spiSetBusVoltage(kId, 3300, true); }, {0x05, 0x04, 0xE4, 0x0C, 0x01}},
    SentRequest{"GpioNameOfTheRail", [](VantorAsyncSDK& s) { return s.gpioSetVoltage(kId, 3300, true); }, {0x05, 0x04, 0xE4, 0x0C, 0x01}},
    SentRequest{"I2cNameOfTheRail", [](VantorAsyncSDK& s) { return s.i2cSetBusVoltage(kId, 1800, false); }, {0x05, 0x04, 0x08, 0x07, 0x00}},
    SentRequest{"UartUseExternalVoltage", [](VantorAsyncSDK& s) { return s.uartUseExternalVoltage(kId, true); }, {0x0B, 0x04, 0x01}}),
    RowName{});
// clang-format on

// The level read back (0xEE when untouched), and the rail as the first u16 of
// the 12-byte measurement block (0xEEEE when untouched).
Decoded digitalRead(VantorSDK& s) {
    auto level = static_cast<Level>(0xEE);
    const uint16_t st = s.gpioDigitalRead(Pin::PIN_4, level);
    return {st, {static_cast<uint8_t>(level)}};
}
Decoded railVoltage(VantorSDK& s) {
    uint16_t mv = 0xEEEE;
    const uint16_t st = s.i2cGetBusVoltage(mv);
    return {st, {static_cast<uint8_t>(mv), static_cast<uint8_t>(mv >> 8)}};
}
const Bytes kRail1800 = {0x08, 0x07, 0xB8, 0x0B, 0xE4, 0x0C, 0, 0, 0, 0, 0, 0};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Gpio, ReplyDecoding, ::testing::Values(
    ScriptedReply{"LevelRead", 0, {0x01}, digitalRead, {0, {0x01}}},
    ScriptedReply{"LevelFilledWhateverTheStatus", 0x0502, {0x00}, digitalRead, {0x0502, {0x00}}},
    ScriptedReply{"MissingLevelExplainedByTheStatus", 0x0502, {}, digitalRead, {0x0502, {0xEE}}},
    ScriptedReply{"MissingLevelOnSuccessIsMalformed", 0, {}, digitalRead, {kWrongResponse, {0xEE}}},
    ScriptedReply{"RailIsTheFirstMeasurement", 0, kRail1800, railVoltage, {0, {0x08, 0x07}}},
    ScriptedReply{"Rail17BytesIsMalformed", 0, Bytes(kRail1800.begin(), kRail1800.end() - 1), railVoltage, {kWrongResponse, {0xEE, 0xEE}}},
    ScriptedReply{"Rail17BytesKeepsItsStatus", 0x0103, Bytes(kRail1800.begin(), kRail1800.end() - 1), railVoltage, {0x0103, {0xEE, 0xEE}}}),
    RowName{});
// clang-format on

}  // namespace
}  // namespace vantor
