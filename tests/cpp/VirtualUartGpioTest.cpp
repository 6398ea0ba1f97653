// SPDX-License-Identifier: MIT
// The virtual adapter's UART, GPIO and I/O rail firmware, and what a reset
// or a power cycle restores, through the USB seam. The plain paths are also
// exercised end to end by the Python tests; these pin down the rules.

#include <gtest/gtest.h>

#include "tests/cpp/TestSupport.h"

namespace {

using namespace vantor::sim;
using namespace vantor::sim::testing;

constexpr uint16_t kUartDeinit = 0x1001;
constexpr uint16_t kUartInit = 0x1002;
constexpr uint16_t kUartSetParameters = 0x1003;
constexpr uint16_t kUartSend = 0x1005;
constexpr uint16_t kGpioConfigure = 0x1401;
constexpr uint16_t kGpioWrite = 0x1402;
constexpr uint16_t kGpioRead = 0x1403;
constexpr uint16_t kGpioArm = 0x1404;
constexpr uint16_t kSetRail = 0x0405;
constexpr uint16_t kExternalRail = 0x040B;

const Bytes k115200Baud8N1{10, 0, 0, 1, 0};

Bytes send(const Bytes& data) {
    return concat(le16(data.size()), data);
}

Bytes rail(uint16_t millivolts, bool persist) {
    return concat(le16(millivolts), {persist ? uint8_t{1} : uint8_t{0}});
}

// The bytes of the UART notifications that arrive, until `count` bytes came.
Bytes received(Seam& seam, size_t count, size_t* notifications = nullptr) {
    Bytes data;
    while (data.size() < count) {
        const auto message = seam.next();
        if (!message) break;
        EXPECT_EQ(Bytes(message->begin(), message->begin() + 6), (Bytes{0, 0, 0x81, 0x10, 0, 0}));
        EXPECT_EQ(message->size(), 8u + u16At(*message, 6));
        data.insert(data.end(), message->begin() + 8, message->end());
        if (notifications != nullptr) ++*notifications;
    }
    return data;
}

uint16_t measuredRail(Seam& seam) {
    const Bytes answer = seam.call(0x0409, {});
    EXPECT_EQ(answer.size(), 18u);
    return answer.size() >= 8 ? u16At(answer, 6) : 0;
}

// ------------------------------------------------------------------- UART

TEST(VirtualUart, RefusalsLoopbackAndInjection) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    seam.expectStatuses({
        {kUartSetParameters, k115200Baud8N1, 0x0006},  // not initialised
        {kUartDeinit, {}, 0x0006},
        {kUartInit, {11, 0, 0, 1, 0}, 0x0004},  // no such baud rate
        {kUartInit, k115200Baud8N1, 0},
        {kUartInit, k115200Baud8N1, 0x0007},
        {kUartSend, concat({3, 0}, {1, 2}), 0x0004},  // data cut short
        {kUartDeinit, {}, 0},
    });
    EXPECT_FALSE(adapter.uart().inject({1, 2}));  // the receiver is off: lost
    EXPECT_TRUE(seam.quiet());
    ASSERT_EQ(seam.status(kUartInit, k115200Baud8N1), 0);

    // Without loopback the bytes are only recorded (refused ones not at all).
    EXPECT_EQ(seam.status(kUartSend, send({'h', 'i'})), 0);
    EXPECT_TRUE(seam.quiet());
    EXPECT_EQ(seam.status(kUartSend, send({})), 0);

    // With loopback they come back after the answer, in notifications of at
    // most 1024 bytes.
    adapter.uart().setLoopback(true);
    Bytes text(2500);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(i % 251);
    EXPECT_EQ(seam.status(kUartSend, send(text)), 0);
    size_t notifications = 0;
    EXPECT_EQ(received(seam, text.size(), &notifications), text);
    EXPECT_EQ(notifications, 3u);
    EXPECT_EQ(adapter.uart().sent(), concat({'h', 'i'}, text));

    // Seven data bits: the top bit never makes it onto the line.
    ASSERT_EQ(seam.status(kUartSetParameters, {10, 0, 0, 0, 0}), 0);
    EXPECT_EQ(seam.status(kUartSend, send({0xC1})), 0);
    EXPECT_EQ(received(seam, 1), (Bytes{0x41}));
    EXPECT_TRUE(adapter.uart().inject({0xFF}));
    EXPECT_EQ(received(seam, 1), (Bytes{0x7F}));
    EXPECT_TRUE(seam.quiet());
}

// ------------------------------------------------------------------- GPIO

TEST(VirtualGpio, PinsAndInterruptsOnlyOnArmedEdges) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    EXPECT_EQ(tail(seam.call(kGpioRead, {0})), (Bytes{0x01, 0x05}));  // and no level
    seam.expectStatuses({
        {kGpioWrite, {0, 1}, 0x0501},  // not configured
        {kGpioArm, {0, 1}, 0x0501},
        {kGpioConfigure, {6, 0}, 0x0004},  // no pin 6
        {kGpioConfigure, {2, 1}, 0x0004},  // an output needs its level
        {kGpioConfigure, {2, 1, 1}, 0},
        {kGpioWrite, {2, 0}, 0},
        {kGpioWrite, {2, 2}, 0x0004},  // no level 2
        {kGpioArm, {2, 3}, 0x0502},    // an output raises no interrupt
    });
    adapter.gpio().driveInput(2, 1);  // an output ignores the outside
    EXPECT_EQ(tail(seam.call(kGpioRead, {2})), (Bytes{0, 0, 0}));

    // An input reads what the bench drives, including a level set before
    // it was configured.
    EXPECT_TRUE(adapter.gpio().driveInput(3, 1));
    EXPECT_EQ(seam.status(kGpioConfigure, {3, 0}), 0);
    EXPECT_EQ(tail(seam.call(kGpioRead, {3})), (Bytes{0, 0, 1}));
    EXPECT_FALSE(adapter.gpio().outputLevel(3));
    EXPECT_EQ(seam.status(kGpioWrite, {3, 0}), 0x0502);
    EXPECT_EQ(seam.status(kGpioArm, {3, 0}), 0x0004);  // no trigger 0
    EXPECT_TRUE(seam.quiet());                         // configuring raises no interrupt

    // Interrupts come only on armed edges.
    ASSERT_EQ(seam.status(kGpioConfigure, {4, 0}), 0);
    const Bytes rising{0, 0, 0x81, 0x14, 0, 0, 4, 1, 1};
    const Bytes falling{0, 0, 0x81, 0x14, 0, 0, 4, 2, 0};
    const auto pulse = [&] {
        adapter.gpio().driveInput(4, 1);
        adapter.gpio().driveInput(4, 1);  // no edge
        adapter.gpio().driveInput(4, 0);
    };

    pulse();  // not armed yet
    EXPECT_TRUE(seam.quiet());
    for (uint8_t trigger : {1, 2, 3}) {  // rising, falling, both
        ASSERT_EQ(seam.status(kGpioArm, {4, trigger}), 0);
        pulse();
        if (trigger & 1) {
            EXPECT_EQ(seam.next(), rising);
        }
        if (trigger & 2) {
            EXPECT_EQ(seam.next(), falling);
        }
        EXPECT_TRUE(seam.quiet()) << "trigger " << int{trigger};
    }

    // Reconfiguring disarms.
    ASSERT_EQ(seam.status(kGpioArm, {4, 3}), 0);
    ASSERT_EQ(seam.status(kGpioConfigure, {4, 0}), 0);
    adapter.gpio().driveInput(4, 0);
    EXPECT_TRUE(seam.quiet());
}

// --------------------------------------------------------------- I/O rail

// Setting the rail and an external supply are checked end to end by the
// Python tests.
TEST(VirtualRail, RangeAndMeasurementOverride) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    EXPECT_EQ(measuredRail(seam), 3300);
    EXPECT_EQ(seam.status(kSetRail, rail(1099, false)), 0x0101);
    EXPECT_EQ(seam.status(kSetRail, rail(3301, false)), 0x0101);
    EXPECT_EQ(seam.status(kSetRail, rail(1200, false)), 0);
    // The measurement can be overridden until the rail changes again.
    adapter.system().setAnalogMeasurements({1234, 1800, 3300});
    EXPECT_EQ(measuredRail(seam), 1234);
    EXPECT_EQ(seam.status(kSetRail, rail(1800, false)), 0);
    EXPECT_EQ(measuredRail(seam), 1800);
}

// ------------------------------------------------------- reset, power cycle

TEST(VirtualFirmwareReset, RestoresPowerOnStateAndKeepsPersistedSettingsAndTheBench) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    ASSERT_TRUE(adapter.i2c().attachEeprom(1, 0x50));
    ASSERT_TRUE(adapter.spi().attachFlash(0));
    adapter.uart().setLoopback(true);
    adapter.power().setExternalVoltage(2700);
    ASSERT_EQ(seam.status(0x0901, {1, 0xA0, 0x86, 0x01, 0, 5}), 0);
    ASSERT_EQ(seam.status(0x0D01, {0, 0, 0, 0, 0, 0x40, 0x42, 0x0F, 0}), 0);
    ASSERT_EQ(seam.status(kUartInit, k115200Baud8N1), 0);
    ASSERT_EQ(seam.status(kUartSend, send({7})), 0);
    ASSERT_EQ(received(seam, 1), Bytes{7});
    ASSERT_EQ(seam.status(kGpioConfigure, {0, 1, 1}), 0);
    ASSERT_EQ(seam.status(kGpioConfigure, {1, 0}), 0);
    ASSERT_EQ(seam.status(kGpioArm, {1, 3}), 0);
    ASSERT_EQ(seam.status(0x0904, {1, 1, 0, 0x50, 1, 0x10, 0, 0, 0, 0, 0x99}), 0);
    ASSERT_EQ(seam.status(0x040D, {1, 1, 3}), 0);           // the USB configuration
    ASSERT_EQ(seam.status(kSetRail, rail(2500, true)), 0);  // persisted
    ASSERT_EQ(seam.status(kSetRail, rail(1800, false)), 0);
    ASSERT_EQ(seam.status(kExternalRail, {0}), 0);

    seam.write(0x0401, {});  // no answer
    EXPECT_FALSE(adapter.spi().controller().initialized);
    EXPECT_EQ(seam.status(0x0906, {1, 0}), 0x0006);
    EXPECT_EQ(seam.status(kUartSend, send({1})), 0x0006);
    EXPECT_EQ(seam.status(kGpioRead, {0}), 0x0501);
    adapter.gpio().driveInput(1, 1);
    EXPECT_TRUE(seam.quiet());            // the interrupt went with the reset
    EXPECT_EQ(measuredRail(seam), 2500);  // the persisted setting, not the external supply
    EXPECT_EQ(tail(seam.call(0x040E, {})), (Bytes{0, 0, 1, 1, 3}));

    // What is wired to the adapter is not part of it.
    EXPECT_EQ(adapter.i2c().memory(1, 0x50)[0x10], 0x99);
    EXPECT_EQ(adapter.spi().memory(0).size(), 1024u * 1024u);
    EXPECT_TRUE(adapter.uart().loopback());
    EXPECT_EQ(adapter.uart().sent(), Bytes{7});
    EXPECT_EQ(seam.status(kGpioConfigure, {1, 0}), 0);
    EXPECT_EQ(tail(seam.call(kGpioRead, {1})), (Bytes{0, 0, 1}));

    // A power cycle keeps the same: here a persisted external supply.
    ASSERT_EQ(seam.status(kExternalRail, {1}), 0);
    adapter.unplug();
    adapter.plug();
    seam.reopen();
    EXPECT_EQ(measuredRail(seam), 2700);
    adapter.power().setExternalVoltage(2600);  // the rail follows the supply
    EXPECT_EQ(measuredRail(seam), 2600);
    EXPECT_EQ(tail(seam.call(0x040E, {})), (Bytes{0, 0, 1, 1, 3}));
    EXPECT_FALSE(adapter.gpio().pin(1).configured);
}

}  // namespace
