// The virtual adapter's UART, GPIO and I/O rail firmware, and what a reset
// restores, driven through the USB seam with hand-made requests.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "VirtualSeam.h"

namespace {

using namespace vantor::sim;
using namespace vantor::sim::testing;

constexpr uint16_t kUartInit = 0x1002;
constexpr uint16_t kUartSend = 0x1005;
constexpr uint16_t kGpioConfigure = 0x1401;
constexpr uint16_t kGpioWrite = 0x1402;
constexpr uint16_t kGpioRead = 0x1403;
constexpr uint16_t kGpioArm = 0x1404;
constexpr uint16_t kGpioDisarm = 0x1405;
constexpr uint16_t kSetRail = 0x0405;
constexpr uint16_t kExternalRail = 0x040B;
constexpr uint16_t kMeasure = 0x0409;

const Bytes k115200Baud8N1{10, 0, 0, 1, 0};

Bytes send(const Bytes& data) {
    return concat(
        {static_cast<uint8_t>(data.size() & 0xFF), static_cast<uint8_t>(data.size() >> 8)}, data);
}

// The bytes of the UART notifications that arrive, until `count` bytes came.
Bytes received(Seam& seam, size_t count, size_t* notifications = nullptr) {
    Bytes data;
    while (data.size() < count) {
        const auto message = seam.next();
        if (!message) break;
        EXPECT_EQ(Bytes(message->begin(), message->begin() + 6), (Bytes{0, 0, 0x81, 0x10, 0, 0}));
        const size_t length = u16At(*message, 6);
        EXPECT_EQ(message->size(), 8 + length);
        data.insert(data.end(), message->begin() + 8, message->end());
        if (notifications != nullptr) ++*notifications;
    }
    return data;
}

uint16_t measuredRail(Seam& seam) {
    const Bytes answer = seam.call(kMeasure, {});
    EXPECT_EQ(answer.size(), 18u);
    return answer.size() >= 8 ? u16At(answer, 6) : 0;
}

// ------------------------------------------------------------------- UART

TEST(VirtualUart, ConfigurationState) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    EXPECT_EQ(seam.status(kUartSend, send({1})), 0x0006);
    EXPECT_EQ(seam.status(0x1003, k115200Baud8N1), 0x0006);
    EXPECT_EQ(seam.status(0x1001, {}), 0x0006);
    EXPECT_EQ(seam.status(kUartInit, {11, 0, 0, 1, 0}), 0x0004);  // no such baud rate
    EXPECT_EQ(seam.status(kUartInit, k115200Baud8N1), 0);
    EXPECT_EQ(seam.status(kUartInit, k115200Baud8N1), 0x0007);
    EXPECT_EQ(seam.status(0x1003, {4, 1, 2, 0, 1}), 0);
    const UartState state = adapter.uart();
    EXPECT_TRUE(state.initialized);
    EXPECT_EQ(state.baudRate, 4);
    EXPECT_EQ(state.parity, 2);
    EXPECT_EQ(state.stopBit, 1);
    EXPECT_EQ(seam.status(kUartSend, concat({3, 0}, {1, 2})), 0x0004);  // data cut short
    EXPECT_EQ(seam.status(0x1001, {}), 0);
    EXPECT_FALSE(adapter.uart().initialized);
    EXPECT_TRUE(adapter.uartSent().empty());
}

TEST(VirtualUart, LoopbackAndInjectedBytesArriveAsNotifications) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    EXPECT_FALSE(adapter.injectUart({1, 2}));  // the receiver is off: lost
    EXPECT_TRUE(seam.quiet());
    ASSERT_EQ(seam.status(kUartInit, k115200Baud8N1), 0);

    // Without loopback the bytes are only recorded.
    EXPECT_EQ(seam.status(kUartSend, send({'h', 'i'})), 0);
    EXPECT_TRUE(seam.quiet());
    EXPECT_EQ(seam.status(kUartSend, send({})), 0);

    // With loopback they come back after the answer, in notifications of at
    // most 1024 bytes.
    adapter.setUartLoopback(true);
    Bytes text(2500);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(i % 251);
    EXPECT_EQ(seam.status(kUartSend, send(text)), 0);
    size_t notifications = 0;
    EXPECT_EQ(received(seam, text.size(), &notifications), text);
    EXPECT_EQ(notifications, 3u);
    EXPECT_EQ(adapter.uartSent(), concat({'h', 'i'}, text));
    adapter.clearUartSent();
    EXPECT_TRUE(adapter.uartSent().empty());

    EXPECT_TRUE(adapter.injectUart({0x55, 0xAA}));
    EXPECT_EQ(seam.next(), (Bytes{0, 0, 0x81, 0x10, 0, 0, 2, 0, 0x55, 0xAA}));

    // Seven data bits: the top bit never makes it onto the line.
    ASSERT_EQ(seam.status(0x1003, {10, 0, 0, 0, 0}), 0);
    EXPECT_EQ(seam.status(kUartSend, send({0xC1})), 0);
    EXPECT_EQ(received(seam, 1), (Bytes{0x41}));
    EXPECT_TRUE(adapter.injectUart({0xFF}));
    EXPECT_EQ(received(seam, 1), (Bytes{0x7F}));
    EXPECT_TRUE(seam.quiet());
}

// ------------------------------------------------------------------- GPIO

TEST(VirtualGpio, PinsAreConfiguredWrittenAndRead) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    EXPECT_EQ(tail(seam.call(kGpioRead, {0})), (Bytes{0x01, 0x05}));  // and no level
    EXPECT_EQ(seam.status(kGpioWrite, {0, 1}), 0x0501);
    EXPECT_EQ(seam.status(kGpioArm, {0, 1}), 0x0501);
    EXPECT_EQ(seam.status(kGpioConfigure, {6, 0}), 0x0004);
    EXPECT_EQ(seam.status(kGpioConfigure, {2, 1}), 0x0004);  // an output needs its level

    EXPECT_EQ(seam.status(kGpioConfigure, {2, 1, 1}), 0);
    EXPECT_EQ(tail(seam.call(kGpioRead, {2})), (Bytes{0, 0, 1}));
    EXPECT_EQ(adapter.gpioOutputLevel(2), uint8_t{1});
    EXPECT_EQ(seam.status(kGpioWrite, {2, 0}), 0);
    EXPECT_EQ(seam.status(kGpioWrite, {2, 2}), 0x0004);
    EXPECT_EQ(adapter.gpioOutputLevel(2), uint8_t{0});
    EXPECT_EQ(seam.status(kGpioArm, {2, 3}), 0x0502);
    adapter.driveGpioInput(2, 1);  // an output ignores the outside
    EXPECT_EQ(tail(seam.call(kGpioRead, {2})), (Bytes{0, 0, 0}));

    // An input reads what the bench drives, including a level set before
    // it was configured.
    EXPECT_TRUE(adapter.driveGpioInput(3, 1));
    EXPECT_EQ(seam.status(kGpioConfigure, {3, 0}), 0);
    EXPECT_EQ(tail(seam.call(kGpioRead, {3})), (Bytes{0, 0, 1}));
    EXPECT_FALSE(adapter.gpioOutputLevel(3));
    EXPECT_EQ(seam.status(kGpioWrite, {3, 0}), 0x0502);
    EXPECT_EQ(seam.status(kGpioArm, {3, 0}), 0x0004);
    EXPECT_TRUE(seam.quiet());  // configuring raises no interrupt
}

TEST(VirtualGpio, InterruptsOnlyOnArmedEdges) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    ASSERT_EQ(seam.status(kGpioConfigure, {4, 0}), 0);
    const Bytes rising{0, 0, 0x81, 0x14, 0, 0, 4, 1, 1};
    const Bytes falling{0, 0, 0x81, 0x14, 0, 0, 4, 2, 0};

    adapter.driveGpioInput(4, 1);  // not armed yet
    adapter.driveGpioInput(4, 0);
    EXPECT_TRUE(seam.quiet());

    ASSERT_EQ(seam.status(kGpioArm, {4, 1}), 0);
    adapter.driveGpioInput(4, 1);
    adapter.driveGpioInput(4, 1);  // no edge
    adapter.driveGpioInput(4, 0);  // falling: not armed
    EXPECT_EQ(seam.next(), rising);
    EXPECT_TRUE(seam.quiet());

    ASSERT_EQ(seam.status(kGpioArm, {4, 2}), 0);
    adapter.driveGpioInput(4, 1);
    adapter.driveGpioInput(4, 0);
    EXPECT_EQ(seam.next(), falling);
    EXPECT_TRUE(seam.quiet());

    ASSERT_EQ(seam.status(kGpioArm, {4, 3}), 0);
    adapter.driveGpioInput(4, 1);
    adapter.driveGpioInput(4, 0);
    EXPECT_EQ(seam.next(), rising);
    EXPECT_EQ(seam.next(), falling);

    ASSERT_EQ(seam.status(kGpioDisarm, {4}), 0);
    adapter.driveGpioInput(4, 1);
    EXPECT_TRUE(seam.quiet());
    EXPECT_EQ(adapter.gpioPin(4).level, 1);

    // Reconfiguring disarms.
    ASSERT_EQ(seam.status(kGpioArm, {4, 3}), 0);
    ASSERT_EQ(seam.status(kGpioConfigure, {4, 0}), 0);
    adapter.driveGpioInput(4, 0);
    EXPECT_TRUE(seam.quiet());
}

// --------------------------------------------------------------- I/O rail

TEST(VirtualRail, SettingsReachTheMeasurementAndPersistOnRequest) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    EXPECT_EQ(measuredRail(seam), 3300);
    EXPECT_EQ(seam.status(kSetRail, {0x4B, 0x04, 0}), 0x0101);  // 1099 mV
    EXPECT_EQ(seam.status(kSetRail, {0xE5, 0x0C, 0}), 0x0101);  // 3301 mV
    EXPECT_EQ(seam.status(kSetRail, {0xB0, 0x04, 0}), 0);       // 1200 mV
    EXPECT_EQ(measuredRail(seam), 1200);

    // The measurement can be overridden until the rail changes again.
    adapter.setAnalogMeasurements(1234, 1800, 3300);
    EXPECT_EQ(measuredRail(seam), 1234);
    EXPECT_EQ(seam.status(kSetRail, {0x08, 0x07, 0}), 0);  // 1800 mV
    EXPECT_EQ(measuredRail(seam), 1800);

    // An external supply: its voltage is what the rail carries.
    adapter.setExternalVoltage(2500);
    EXPECT_EQ(measuredRail(seam), 1800);
    EXPECT_EQ(seam.status(kExternalRail, {0}), 0);
    EXPECT_EQ(measuredRail(seam), 2500);
    adapter.setExternalVoltage(2700);
    EXPECT_EQ(measuredRail(seam), 2700);
    EXPECT_TRUE(adapter.ioRail().external);

    // Unpersisted settings end with a reset; persisted ones survive it and
    // power cycles.
    seam.write(0x0401, {});
    EXPECT_EQ(measuredRail(seam), 3300);
    EXPECT_FALSE(adapter.ioRail().external);
    EXPECT_EQ(seam.status(kSetRail, {0xC4, 0x09, 1}), 0);  // 2500 mV, persisted
    EXPECT_EQ(seam.status(kSetRail, {0x08, 0x07, 0}), 0);
    adapter.unplug();
    adapter.plug();
    seam.reopen();
    EXPECT_EQ(measuredRail(seam), 2500);
    EXPECT_EQ(seam.status(kExternalRail, {1}), 0);
    seam.write(0x0401, {});
    EXPECT_TRUE(adapter.ioRail().external);
    EXPECT_EQ(measuredRail(seam), 2700);
}

// ------------------------------------------------------------------ reset

TEST(VirtualFirmwareReset, RestoresPowerOnStateAndKeepsTheBench) {
    VirtualAdapter adapter;
    Seam seam(adapter);
    ASSERT_TRUE(adapter.attachI2cEeprom(1, 0x50));
    ASSERT_TRUE(adapter.attachSpiFlash(0));
    adapter.setUartLoopback(true);
    ASSERT_EQ(seam.status(0x0901, {1, 0xA0, 0x86, 0x01, 0, 5}), 0);
    ASSERT_EQ(seam.status(0x0D01, {0, 0, 0, 0, 0, 0x40, 0x42, 0x0F, 0}), 0);
    ASSERT_EQ(seam.status(kUartInit, k115200Baud8N1), 0);
    ASSERT_EQ(seam.status(kUartSend, send({7})), 0);
    ASSERT_EQ(received(seam, 1), Bytes{7});
    ASSERT_EQ(seam.status(kGpioConfigure, {0, 1, 1}), 0);
    ASSERT_EQ(seam.status(kGpioConfigure, {1, 0}), 0);
    ASSERT_EQ(seam.status(kGpioArm, {1, 3}), 0);
    ASSERT_EQ(seam.status(0x0904, {1, 1, 0, 0x50, 1, 0x10, 0, 0, 0, 0, 0x99}), 0);

    seam.write(0x0401, {});  // no answer
    EXPECT_FALSE(adapter.i2cBus(1).initialized);
    EXPECT_FALSE(adapter.spiController().initialized);
    EXPECT_FALSE(adapter.uart().initialized);
    EXPECT_FALSE(adapter.gpioPin(0).configured);
    EXPECT_EQ(seam.status(0x0906, {1, 0}), 0x0006);
    EXPECT_EQ(seam.status(kUartSend, send({1})), 0x0006);
    EXPECT_EQ(seam.status(kGpioRead, {0}), 0x0501);
    adapter.driveGpioInput(1, 1);
    EXPECT_TRUE(seam.quiet());  // the interrupt went with the reset

    // What is wired to the adapter is not part of it.
    EXPECT_EQ(adapter.i2cMemory(1, 0x50)[0x10], 0x99);
    EXPECT_EQ(adapter.spiMemory(0).size(), 1024u * 1024u);
    EXPECT_TRUE(adapter.uartLoopback());
    EXPECT_EQ(adapter.uartSent(), Bytes{7});
    EXPECT_EQ(seam.status(kGpioConfigure, {1, 0}), 0);
    EXPECT_EQ(tail(seam.call(kGpioRead, {1})), (Bytes{0, 0, 1}));
}

// ------------------------------------------------------------ concurrency

TEST(VirtualBenchConcurrency, InjectionsRaceWithHostTraffic) {
    VirtualAdapter adapter(adapterOptions(Model::Quillex, "RACE"));
    Seam seam(adapter);
    ASSERT_TRUE(adapter.attachI2cRegisterMap(0, 0x68));
    ASSERT_EQ(seam.status(0x0901, {0, 0xA0, 0x86, 0x01, 0, 5}), 0);
    ASSERT_EQ(seam.status(kUartInit, k115200Baud8N1), 0);
    ASSERT_EQ(seam.status(kGpioConfigure, {5, 0}), 0);
    ASSERT_EQ(seam.status(kGpioArm, {5, 3}), 0);
    constexpr int kRounds = 200;

    int responses = 0;
    Bytes edges;
    Bytes uart;
    std::thread reader([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((responses < kRounds || edges.size() < kRounds || uart.size() < kRounds) &&
               std::chrono::steady_clock::now() < deadline) {
            const auto message = seam.next(100);
            if (!message || message->size() < 6) continue;
            if (u16At(*message, 0) != 0) {
                responses += u16At(*message, 4) == 0 ? 1 : 0;
            } else if (u16At(*message, 2) == 0x1481 && message->size() == 9) {
                edges.push_back((*message)[7]);
            } else if (u16At(*message, 2) == 0x1081 && message->size() == 9) {
                uart.push_back((*message)[8]);
            }
        }
    });
    std::thread bench([&] {
        for (int i = 0; i < kRounds; ++i) {
            adapter.driveGpioInput(5, static_cast<uint8_t>((i + 1) % 2));
            adapter.injectUart({static_cast<uint8_t>(i)});
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        seam.write(0x0904, {0, 1, 0, 0x68, 1, static_cast<uint8_t>(i), 0, 0, 0, 0, 0x5A});
    }
    bench.join();
    reader.join();

    EXPECT_EQ(responses, kRounds);
    ASSERT_EQ(edges.size(), static_cast<size_t>(kRounds));
    ASSERT_EQ(uart.size(), static_cast<size_t>(kRounds));
    for (int i = 0; i < kRounds; ++i) {
        EXPECT_EQ(edges[i], i % 2 == 0 ? 1 : 2);  // rising, falling, ... in order
        EXPECT_EQ(uart[i], static_cast<uint8_t>(i));
    }
    EXPECT_EQ(adapter.i2cMemory(0, 0x68)[kRounds - 1], 0x5A);
}

}  // namespace
