// SPDX-License-Identifier: MIT
// The virtual adapter's timing model: its figures against hand-computed
// examples, and the adapter's behaviour with timing on (the reception queue,
// devices busy for their modelled time, unplugging with requests queued).
// Only outcomes and their order are checked, never how long anything took.

#include <gtest/gtest.h>

#include <functional>

#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"
#include "tests/cpp/TestSupport.h"

namespace {

using namespace vantor;
using namespace vantor::sim;
using namespace vantor::sim::testing;
using namespace std::chrono_literals;
using timing::FlashOperation;
using timing::Nanos;
using timing::UsbSpeed;

struct Figure {
    const char* name;
    Nanos computed;
    Nanos expected;
};
class TimingFigures : public ::testing::TestWithParam<Figure> {};

TEST_P(TimingFigures, MatchHandComputedValues) {
    EXPECT_EQ(GetParam().computed.count(), GetParam().expected.count());
}

INSTANTIATE_TEST_SUITE_P(
    Model, TimingFigures,
    ::testing::Values(
        // 2000 bytes: two 1024-byte reports (1022 each); the answer one.
        Figure{"HighSpeedRoundTrip1024ByteReports",
               timing::roundTrip(UsbSpeed::HighSpeed, 1024, 2000, 10), 375us},
        // 1 + 9 * 7 + 1, plus the repeated start and second address (10).
        Figure{"I2c400kHzWriteTwoReadFour", timing::i2cTransfer(2, 4, 400000), 187500ns},
        Figure{"Spi10MHz256Bytes", timing::spiBytes(256, 10000000), 204800ns},
        // 9 clocks at 1 MHz, then 90 at 12.5 MHz.
        Figure{"I3cSdrTenBytes", timing::i3cSdrBytes(10, 12500000, 1000000), 16200ns},
        // 18 + 6 words of 10 + 5 CRC clocks at 12.5 MHz.
        Figure{"I3cDdrTenBytes", timing::i3cDdrBytes(10, 12500000), 6640ns},
        Figure{"FlashEraseChipSmallIsAtLeastA64KErase",
               timing::flashOperation(FlashOperation::EraseChip, 4096), 150ms}),
    RowName{});

AdapterOptions timed(const std::string& serial, double timeScale, unsigned depth = 16) {
    AdapterOptions options = adapterOptions(serial);
    options.timing.speed = UsbSpeed::HighSpeed;
    options.timing.timeScale = timeScale;
    options.timing.receptionQueueDepth = depth;
    return options;
}

constexpr uint16_t kI2cWrite = 0x0904;
constexpr uint16_t kFullReceptionQueue = 0x0003;
constexpr uint8_t kRegisterMap = 0x20;
constexpr uint8_t kLongWriteTarget = 0x21;
constexpr uint8_t kMarker = 0x10;  // the register the short writes set

// A request that keeps its bus busy for seconds of modelled time (tenths of
// a second at the row's scale), so that a burst behind it arrives long
// before it ends: it holds the reception queue only if its family counts its
// bus time.
struct LongRequest {
    const char* name;
    double timeScale;
    uint32_t markerBusHz;  // the short writes' I2C bus 0
    // Sets up the family with transaction id 100 (answered before the burst).
    std::function<uint16_t(VirtualAdapter&, VantorAsyncSDK&)> setUp;
    std::function<uint16_t(VantorAsyncSDK&, uint16_t id)> send;
};
class ReceptionQueue : public ::testing::TestWithParam<LongRequest> {};

TEST_P(ReceptionQueue, RefusesWhatExceedsItsDepth) {
    const LongRequest& row = GetParam();
    VirtualAdapter adapter(timed(std::string("TIME-Q-") + row.name, row.timeScale, 4));
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(0, kRegisterMap));
    Inbox<Bytes> inbox;
    VantorAsyncSDK sdk;
    sdk.onResponse([&](const Bytes& message) { inbox.push(message); });
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i2cControllerInit(1, 0, row.markerBusHz, 0), 0);
    ASSERT_EQ(row.setUp(adapter, sdk), 0);
    ASSERT_TRUE(inbox.waitFor(2));

    ASSERT_EQ(row.send(sdk, 2), 0);
    for (uint16_t id = 3; id <= 10; ++id) {
        ASSERT_EQ(sdk.i2cWrite(id, 0, kRegisterMap, {kMarker}, {static_cast<uint8_t>(id)}, false),
                  0);
    }
    ASSERT_TRUE(inbox.waitFor(11, 10s));
    std::vector<uint16_t> succeeded;
    std::vector<uint16_t> refused;
    for (const Bytes& message : inbox.items()) {
        ASSERT_GE(message.size(), 6u);
        const uint16_t id = idOf(message);
        if (id >= 3 && id <= 10) {
            EXPECT_EQ(commandOf(message), kI2cWrite);
        }
        (u16At(message, 4) == kFullReceptionQueue ? refused : succeeded).push_back(id);
    }
    // The long request runs, four wait behind it, the rest find the queue
    // full; the refusals come at once, the others in the order they were sent.
    EXPECT_EQ(refused, (std::vector<uint16_t>{7, 8, 9, 10}));
    EXPECT_EQ(succeeded, (std::vector<uint16_t>{1, 100, 2, 3, 4, 5, 6}));
    // A refused request never ran: the marker holds the last accepted id.
    EXPECT_EQ(adapter.i2c().memory(0, kRegisterMap).at(kMarker), 6);
}

INSTANTIATE_TEST_SUITE_P(
    BusTime, ReceptionQueue,
    ::testing::Values(
        // 400 bytes at 1 kHz: 3.6 s.
        LongRequest{"I2cWrite", 10, 1000,
                    [](VirtualAdapter& adapter, VantorAsyncSDK& sdk) {
                        EXPECT_TRUE(adapter.i2c().attachRegisterMap(0, kLongWriteTarget));
                        return sdk.getUsbConfig(100);
                    },
                    [](VantorAsyncSDK& sdk, uint16_t id) {
                        return sdk.i2cWrite(id, 0, kLongWriteTarget, {0x00}, pattern(400), false);
                    }},
        // 1024 bytes at 1 kHz: 8.2 s.
        LongRequest{"SpiTransfer", 20, 1000000,
                    [](VirtualAdapter&, VantorAsyncSDK& sdk) {
                        return sdk.spiControllerInit(100, SpiBitOrder::MSB, SpiMode::MODE_0,
                                                     SpiDataWidth::BITS_8, SpiChipSelect::CS_0,
                                                     SpiChipSelectPolarity::ACTIVE_LOW, 1000);
                    },
                    [](VantorAsyncSDK& sdk, uint16_t id) {
                        return sdk.spiTransfer(id, pattern(1024), 1024);
                    }},
        // 256 bytes at 600 baud, 8N1: 4.3 s.
        LongRequest{"UartSend", 10, 1000000,
                    [](VirtualAdapter&, VantorAsyncSDK& sdk) {
                        return sdk.uartInit(100, UartBaudRate::BAUD_600, UartHwHandshake::DISABLED,
                                            UartParity::NONE, UartDataSize::BITS_8,
                                            UartStopBit::ONE);
                    },
                    [](VantorAsyncSDK& sdk, uint16_t id) {
                        return sdk.uartSendMessage(id, pattern(256));
                    }}),
    RowName{});

TEST(VirtualTiming, UnplugDropsQueuedRequests) {
    VirtualAdapter adapter(timed("TIME-UNPLUG", 10));
    ASSERT_TRUE(adapter.i2c().attachRegisterMap(0, kLongWriteTarget));
    Inbox<Bytes> inbox;
    VantorAsyncSDK sdk;
    sdk.onResponse([&](const Bytes& message) { inbox.push(message); });
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i2cControllerInit(1, 0, 1000, 0), 0);
    ASSERT_TRUE(inbox.waitFor(1));

    // Behind the long write, a change of the USB configuration: a setting
    // that survives unplugging, so that it would show had it run.
    ASSERT_EQ(sdk.i2cWrite(2, 0, kLongWriteTarget, {0x00}, pattern(400), false), 0);
    ASSERT_EQ(sdk.setUsbConfig(3, UsbConfig{1, 1, 2}), 0);
    adapter.unplug();
    adapter.plug();
    sdk.disconnect();
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.getUsbConfig(20), 0);
    ASSERT_TRUE(inbox.waitFor(2));
    // The first answer after the replug is that of the next request: nothing
    // queued before the unplug was answered, and the queued change never ran.
    EXPECT_EQ(inbox.items().size(), 2u);
    EXPECT_EQ(idOf(inbox.items().back()), 20);
    EXPECT_EQ(adapter.system().usbSettings().cdcMode, 0);
}

// Scales slow enough that the host's own delays stay far inside the
// modelled busy time.
TEST(VirtualTiming, EepromNacksDuringItsWriteCycleUntilPollingSeesItDone) {
    VirtualAdapter adapter(timed("TIME-EEPROM", 0.05));  // 5 ms last 100 ms
    ASSERT_TRUE(adapter.i2c().attachEeprom(0, 0x50));
    VantorSDK sdk(5000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, 0), 0);
    const Bytes page = pattern(16, 3);
    ASSERT_EQ(sdk.i2cWrite(0, 0x50, {0x20}, page, false), 0);
    Bytes out;
    EXPECT_EQ(sdk.i2cRead(0, 0x50, {0x20}, 16, out, false), 0x0203);  // NACK address
    // Acknowledge polling: address-only writes until the device answers.
    size_t nacks = 0;
    uint16_t status = 0x0203;
    while (status == 0x0203 && nacks < 10000) {
        status = sdk.i2cWrite(0, 0x50, {}, {}, false);
        if (status == 0x0203) ++nacks;
    }
    EXPECT_EQ(status, 0);
    EXPECT_GE(nacks, 1u);
    ASSERT_EQ(sdk.i2cRead(0, 0x50, {0x20}, 16, out, false), 0);
    EXPECT_EQ(out, page);
}

// Programming and erasing start the same timed busy period; only its length
// differs, and the figures above hold those.
TEST(VirtualTiming, FlashReportsBusyUntilAPageProgramIsDone) {
    VirtualAdapter adapter(timed("TIME-FLASH", 0.02));  // 0.7 ms last 35 ms
    SpiFlashOptions counted;
    counted.busyPolls = 0;  // untimed, every operation would complete at once
    ASSERT_TRUE(adapter.spi().attachFlash(0, counted));
    const Bytes zeros(256, 0x00);  // the first page
    ASSERT_TRUE(adapter.spi().writeMemory(0, 0, zeros));
    VantorSDK sdk(5000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(
        sdk.spiControllerInit(SpiBitOrder::MSB, SpiMode::MODE_0, SpiDataWidth::BITS_8,
                              SpiChipSelect::CS_0, SpiChipSelectPolarity::ACTIVE_LOW, 10000000),
        0);
    Bytes out;
    ASSERT_EQ(sdk.spiTransfer({0x06}, out, 1), 0);
    ASSERT_EQ(sdk.spiTransfer({0x02, 0x00, 0x01, 0x00, 0x5A}, out, 5), 0);
    size_t busyPolls = 0;
    uint8_t status = 0x01;
    while ((status & 0x01) != 0 && busyPolls < 100000) {
        ASSERT_EQ(sdk.spiTransfer({0x05}, out, 2), 0);
        status = out.at(1);
        if ((status & 0x01) != 0) ++busyPolls;
    }
    EXPECT_GE(busyPolls, 1u);
    EXPECT_EQ(status & 0x02, 0);  // the latch clears when done
    EXPECT_EQ(adapter.spi().memory(0).at(0x100), 0x5A);
}

}  // namespace
