// SPDX-License-Identifier: MIT
// The command catalog against the SDK itself: each row sends one command
// through the asynchronous class to the virtual adapter's firmware, then
// walks the request the adapter received and the response it sent with the
// catalog's layouts. A layout that disagrees with the encoder (a field
// missing, extra, of the wrong width or in the wrong order) leaves bytes
// over, runs short, or reads the wrong value.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "SdkCommandCodes.h"
#include "sdk/core/CommandCatalog.h"
#include "sim/bench/GpioBench.h"
#include "sim/bench/I2cBench.h"
#include "sim/bench/I3cBench.h"
#include "sim/bench/SpiBench.h"
#include "sim/bench/TargetBench.h"
#include "sim/bench/UartBench.h"
#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;
using Outcome = LayoutWalk::Outcome;

constexpr uint16_t kId = 0x0102;
using Send = std::function<uint16_t(VantorAsyncSDK&, uint16_t id)>;

// One command as the SDK sends it. `name` starts with the catalog name
// (rows of one command differ by a suffix). `prepare` sends what the
// command needs first (ids below kId); `fields` are request (then response)
// field values the walk must find, a bytes field's value being its size;
// `data` the content of the request's "data" field.
struct CatalogRow {
    const char* name;
    Send send;
    std::vector<std::pair<std::string, uint64_t>> fields = {};
    Bytes data = {};
    std::function<void(sim::VirtualAdapter&, VantorAsyncSDK&)> prepare = nullptr;
    bool answered = true;
};

void PrintTo(const CatalogRow& row, std::ostream* os) {
    *os << row.name;
}

class CatalogLayout : public ::testing::TestWithParam<CatalogRow> {};

// The field named `name` in a walk, or nullptr.
const LayoutWalk::Field* fieldOf(FieldList layout, const LayoutWalk& walk,
                                 const std::string& name) {
    for (size_t i = 0; i < walk.fields.size(); ++i) {
        if (name == layout[i].name) return &walk.fields[i];
    }
    return nullptr;
}

// An asynchronous SDK connected to a virtual adapter, keeping every message
// the adapter sends.
struct Connection {
    explicit Connection(const char* serial) : adapter(adapterOptions(serial, sim::Model::Quillex)) {
        sdk.onResponse([this](const Bytes& message) { inbox.push(message); });
        connected = sdk.connect(adapter.path());
    }
    // The last message that arrived with this transaction id (and code,
    // unless -1), after waiting for one; empty if none came.
    Bytes waitFor(uint16_t id, int code = -1) {
        Bytes found;
        eventually([&] {
            for (const Bytes& m : inbox.items()) {
                if (m.size() >= kResponseHeaderSize && idOf(m) == id &&
                    (code < 0 || commandOf(m) == code)) {
                    found = m;
                }
            }
            return !found.empty();
        });
        return found;
    }

    sim::VirtualAdapter adapter;
    Inbox<Bytes> inbox;  // outlives the SDK's reader thread
    VantorAsyncSDK sdk;
    bool connected = false;
};

TEST_P(CatalogLayout, WalksTheRequestAndTheResponse) {
    const CatalogRow& row = GetParam();
    Connection link("CATALOG");
    ASSERT_TRUE(link.connected);
    sim::VirtualAdapter& adapter = link.adapter;
    VantorAsyncSDK& sdk = link.sdk;
    if (row.prepare) row.prepare(adapter, sdk);
    // Everything prepared is answered before the row's request goes out.
    const size_t prepared = adapter.requests().size();
    ASSERT_TRUE(eventually([&] {
        size_t answers = 0;
        for (const Bytes& m : link.inbox.items()) answers += idOf(m) != 0 ? 1 : 0;
        return answers >= prepared;
    }));
    adapter.clear();
    ASSERT_EQ(row.send(sdk, kId), 0);

    const auto requests = requestsOf(adapter, 1);
    ASSERT_FALSE(requests.empty());
    const Bytes& request = requests.back();
    ASSERT_EQ(idOf(request), kId);
    const CommandDescription* command = findCommand(commandOf(request));
    ASSERT_NE(command, nullptr) << "no catalog row for the code sent";
    ASSERT_EQ(std::string(row.name).rfind(command->name, 0), 0u) << command->name;

    const LayoutWalk sent = walkLayout(command->request, request.data() + kRequestHeaderSize,
                                       request.size() - kRequestHeaderSize);
    EXPECT_EQ(sent.outcome, Outcome::Complete) << "request";
    std::set<std::string> checked;
    for (const auto& [name, value] : row.fields) {
        const LayoutWalk::Field* field = fieldOf(command->request, sent, name);
        if (field == nullptr) continue;
        checked.insert(name);
        EXPECT_EQ(field->value, value) << "request field " << name;
    }
    if (const LayoutWalk::Field* data = fieldOf(command->request, sent, "data")) {
        const uint8_t* at = request.data() + kRequestHeaderSize + data->offset;
        EXPECT_EQ(Bytes(at, at + data->size), row.data);
    }
    // Bulk OUT: the request field counts what the adapter received.
    const LayoutWalk::Field* direction =
        *command->directionField ? fieldOf(command->request, sent, command->directionField)
                                 : nullptr;
    const bool reads = direction != nullptr && (direction->value & 1) != 0;
    if (*command->bulkOut && !reads) {
        const LayoutWalk::Field* out = fieldOf(command->request, sent, command->bulkOut);
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(eventually([&] { return adapter.bulkReceived().size() >= out->value; }));
        EXPECT_EQ(adapter.bulkReceived().size(), out->value);
    }
    if (!row.answered) return;

    const Bytes response = link.waitFor(kId);
    ASSERT_FALSE(response.empty());
    const LayoutWalk answer = walkLayout(command->response, response.data() + kResponseHeaderSize,
                                         response.size() - kResponseHeaderSize);
    EXPECT_EQ(answer.outcome, Outcome::Complete) << "response";
    for (const auto& [name, value] : row.fields) {
        if (checked.count(name) != 0) continue;
        const LayoutWalk::Field* field = fieldOf(command->response, answer, name);
        ASSERT_NE(field, nullptr) << "no field " << name << " in the request or the response";
        EXPECT_EQ(field->value, value) << "response field " << name;
    }
}

// ------------------------------------------------------------ preparations

void i2cBus(sim::VirtualAdapter& adapter, VantorAsyncSDK& sdk) {
    ASSERT_TRUE(adapter.i2c().attachEeprom(1, 0x50));
    ASSERT_EQ(sdk.i2cControllerInit(1, 1, 400000, 7), 0);
}
void spiBus(sim::VirtualAdapter& adapter, VantorAsyncSDK& sdk) {
    ASSERT_TRUE(adapter.spi().attachFlash(0));
    ASSERT_EQ(
        sdk.spiControllerInit(2, SpiBitOrder::MSB, SpiMode::MODE_0, SpiDataWidth::BITS_8,
                              SpiChipSelect::CS_0, SpiChipSelectPolarity::ACTIVE_LOW, 1000000),
        0);
}
void i2cTarget(sim::VirtualAdapter&, VantorAsyncSDK& sdk) {
    ASSERT_EQ(sdk.i2cTargetInit(1, 0, 0x42, I2cTargetAddressMode::BIT_7,
                                I2cTargetMemoryLayout::BIT_8, I2cTargetModel::MEMORY),
              0);
}
void spiTarget(sim::VirtualAdapter&, VantorAsyncSDK& sdk) {
    ASSERT_EQ(sdk.spiTargetInit(1, SpiMode::MODE_0, SpiBitOrder::MSB, SpiChipSelect::CS_0,
                                SpiChipSelectPolarity::ACTIVE_LOW, SpiTargetModel::MEMORY,
                                SpiTargetEngine::DMA),
              0);
}
const std::vector<uint8_t> kPid{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
void i3cTarget(sim::VirtualAdapter&, VantorAsyncSDK& sdk) {
    ASSERT_EQ(sdk.i3cTargetInit(1, I3cTargetMemoryLayout::MEMORY_1_BYTE_X_1024_REGS, kPid,
                                I3cBCR{0x06}, 0xC5, 0x30, 64, 64),
              0);
}
// A target at static address 0x50, given dynamic address 0x20, and a legacy
// I2C register map at 0x40.
I3cTargetInfo record() {
    I3cTargetInfo info{};
    info.staticAddress = 0x50;
    info.dynamicAddress = 0x20;
    std::memcpy(info.pid, kPid.data(), 6);
    return info;
}
void i3cBus(sim::VirtualAdapter& adapter, VantorAsyncSDK& sdk) {
    sim::I3cTargetOptions options;
    options.pid = 0x0123456789AB;
    options.staticAddress = 0x50;
    ASSERT_TRUE(adapter.i3c().attachTarget(options));
    ASSERT_TRUE(adapter.i3c().attachI2cRegisterMap(0x40));
    ASSERT_EQ(sdk.i3cControllerInit(1, I3cPushPullRate::PUSH_PULL_12_5_MHZ_DC_50,
                                    I3cOpenDrainRate::OPEN_DRAIN_1_MHZ, I2cOpenDrainRate::FAST_MODE,
                                    I3cDriveStrength::STANDARD),
              0);
    ASSERT_EQ(sdk.i3cInitBus(2, {record()}), 0);
}

constexpr auto kNoFlags = I3cTransferFlags::NONE;
const Bytes kData{0x68, 0x65, 0x6C, 0x6C, 0x6F};
const Bytes kBulkData = pattern(40);

// clang-format off
INSTANTIATE_TEST_SUITE_P(Commands, CatalogLayout, ::testing::Values(
    CatalogRow{"CMD_SYSTEM_RESET_DEVICE", [](VantorAsyncSDK& s, uint16_t id) { return s.resetDevice(id); }, {}, {}, nullptr, false},
    CatalogRow{"CMD_SYSTEM_ENTER_BOOT_MODE", [](VantorAsyncSDK& s, uint16_t id) { return s.enterBootMode(id); }, {}, {}, nullptr, false},
    CatalogRow{"CMD_SYSTEM_SET_I3C_VOLTAGE", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cSetBusVoltage(id, 1200); }, {{"voltage_mv", 1200}}},
    CatalogRow{"CMD_SYSTEM_SET_IO_VOLTAGE", [](VantorAsyncSDK& s, uint16_t id) { return s.spiSetBusVoltage(id, 2500, true); }, {{"voltage_mv", 2500}, {"persist", 1}}},
    CatalogRow{"CMD_SYSTEM_GET_USB_STRING", [](VantorAsyncSDK& s, uint16_t id) { return s.getUsbString(id, 2); }, {{"string_index", 2}}},
    CatalogRow{"CMD_SYSTEM_GET_ANALOG_MEASUREMENTS", [](VantorAsyncSDK& s, uint16_t id) { return s.getAnalogMeasurements(id); }, {{"reserved", 6}}},
    CatalogRow{"CMD_SYSTEM_USE_EXTERNAL_I3C_VOLTAGE", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cUseExternalVoltage(id, true); }, {{"enable", 1}}},
    CatalogRow{"CMD_SYSTEM_USE_EXTERNAL_IO_VOLTAGE", [](VantorAsyncSDK& s, uint16_t id) { return s.gpioUseExternalVoltage(id, true); }, {{"persist", 1}}},
    CatalogRow{"CMD_SYSTEM_SET_USB_CONFIG", [](VantorAsyncSDK& s, uint16_t id) { return s.setUsbConfig(id, UsbConfig{1, 255, 3}); }, {{"webusb_enabled", 1}, {"cdc_enabled", 255}, {"cdc_mode", 3}}},
    CatalogRow{"CMD_SYSTEM_GET_USB_CONFIG", [](VantorAsyncSDK& s, uint16_t id) { return s.getUsbConfig(id); }},
    CatalogRow{"CMD_SYSTEM_GET_BULK_CAPABILITIES", [](VantorAsyncSDK& s, uint16_t id) { return s.getBulkCapabilities(id); }, {{"supported", 1}}},
    CatalogRow{"CMD_I2C_DEINIT", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cDeinit(id, 1); }, {{"bus", 1}}, {}, i2cBus},
    CatalogRow{"CMD_I2C_SET_PULL_UP_RESISTORS", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cSetPullUpResistors(id, 1, 5); }, {{"bus", 1}, {"pull_up", 5}}, {}, i2cBus},
    CatalogRow{"CMD_I2C_CONTROLLER_INIT", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cControllerInit(id, 1, 400000, 7); }, {{"bus", 1}, {"frequency", 400000}, {"pull_up", 7}}},
    CatalogRow{"CMD_I2C_CONTROLLER_WRITE", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cWrite(id, 1, 0x50, {0x10}, kData, true); }, {{"bus", 1}, {"address", 0x50}, {"subaddress_length", 1}, {"subaddress", 0x10}, {"length", 5}, {"non_stop", 1}, {"count", 5}}, kData, i2cBus},
    CatalogRow{"CMD_I2C_CONTROLLER_READ", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cRead(id, 1, 0x50, {0x10}, 4, false); }, {{"address", 0x50}, {"subaddress_length", 1}, {"subaddress", 0x10}, {"length", 4}, {"count", 4}}, {}, i2cBus},
    CatalogRow{"CMD_I2C_CONTROLLER_SCAN_BUS", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cScanBus(id, 1, true); }, {{"bus", 1}, {"include_10bit", 1}, {"count7", 1}, {"addresses_7bit", 1}}, {}, i2cBus},
    CatalogRow{"CMD_I2C_CONTROLLER_WRITE_BULK", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cWriteBulk(id, 1, 0x50, {0x20}, kBulkData, false); }, {{"bus", 1}, {"address", 0x50}, {"length", 40}}, {}, i2cBus},
    CatalogRow{"CMD_I2C_CONTROLLER_READ_BULK", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cReadBulk(id, 1, 0x50, {0x20}, 40, false); }, {{"length", 40}, {"count", 40}}, {}, i2cBus},
    CatalogRow{"CMD_I2C_TARGET_INIT", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cTargetInit(id, 1, 0x42, I2cTargetAddressMode::BIT_7, I2cTargetMemoryLayout::BIT_16, I2cTargetModel::EEPROM); }, {{"bus", 1}, {"address", 0x42}, {"memory_layout", 1}, {"model", 1}}},
    CatalogRow{"CMD_I2C_TARGET_WRITE_MEMORY", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cTargetWriteMemory(id, 0x30, kBulkData); }, {{"memory_address", 0x30}, {"length", 40}}, {}, i2cTarget},
    CatalogRow{"CMD_I2C_TARGET_READ_MEMORY", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cTargetReadMemory(id, 0x30, 24); }, {{"memory_address", 0x30}, {"length", 24}, {"count", 24}}, {}, i2cTarget},
    CatalogRow{"CMD_I2C_TARGET_SET_EEPROM_CONFIG", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cTargetSetEepromConfig(id, 512, 32, 5000, 7000, I2cTargetEepromBusyBehavior::CLOCK_STRETCH, 0xFF, 0x100, 0x17F); }, {{"total_size", 512}, {"page_size", 32}, {"write_cycle_us", 5000}, {"erase_cycle_us", 7000}, {"busy_behavior", 1}, {"erased_value", 0xFF}, {"wp_start", 0x100}, {"wp_end", 0x17F}}, {}, i2cTarget},
    CatalogRow{"CMD_I2C_TARGET_ERASE", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cTargetErase(id, I2cTargetEraseScope::CHIP, 0x120); }, {{"scope", 1}, {"memory_address", 0x120}}, {}, i2cTarget},
    CatalogRow{"CMD_I2C_TARGET_SET_REGISTER_REGION", [](VantorAsyncSDK& s, uint16_t id) { return s.i2cTargetSetRegisterRegion(id, 0x10, 0x1F, I2cTargetRegisterAccess::W1C, 2, 0x81); }, {{"start_address", 0x10}, {"end_address", 0x1F}, {"access", 4}, {"width", 2}, {"flags", 0x81}}, {}, i2cTarget},
    CatalogRow{"CMD_SPI_DEINIT", [](VantorAsyncSDK& s, uint16_t id) { return s.spiDeinit(id); }, {}, {}, spiBus},
    CatalogRow{"CMD_SPI_CONTROLLER_INIT", [](VantorAsyncSDK& s, uint16_t id) { return s.spiControllerInit(id, SpiBitOrder::LSB, SpiMode::MODE_3, SpiDataWidth::BITS_8, SpiChipSelect::CS_2, SpiChipSelectPolarity::ACTIVE_HIGH, 2000000); }, {{"bit_order", 1}, {"mode", 3}, {"chip_select", 2}, {"chip_select_polarity", 1}, {"frequency", 2000000}}},
    CatalogRow{"CMD_SPI_CONTROLLER_TRANSFER", [](VantorAsyncSDK& s, uint16_t id) { return s.spiTransfer(id, kData, 7); }, {{"data_length", 5}, {"length", 7}, {"count", 7}}, kData, spiBus},
    CatalogRow{"CMD_SPI_CONTROLLER_TRANSFER_BULK", [](VantorAsyncSDK& s, uint16_t id) { return s.spiTransferBulk(id, kData, 40); }, {{"data_length", 5}, {"length", 40}, {"count", 40}}, kData, spiBus},
    CatalogRow{"CMD_SPI_CONTROLLER_WRITE_BULK", [](VantorAsyncSDK& s, uint16_t id) { return s.spiWriteBulk(id, kBulkData); }, {{"length", 40}, {"length_again", 40}}, {}, spiBus},
    CatalogRow{"CMD_SPI_CONTROLLER_READ_BULK", [](VantorAsyncSDK& s, uint16_t id) { return s.spiReadBulk(id, {0x03, 0x00, 0x10}, 40); }, {{"data_length", 3}, {"length", 40}, {"count", 40}}, {0x03, 0x00, 0x10}, spiBus},
    CatalogRow{"CMD_SPI_TARGET_INIT", [](VantorAsyncSDK& s, uint16_t id) { return s.spiTargetInit(id, SpiMode::MODE_2, SpiBitOrder::LSB, SpiChipSelect::CS_1, SpiChipSelectPolarity::ACTIVE_HIGH, SpiTargetModel::FLASH, SpiTargetEngine::ISR); }, {{"mode", 2}, {"bit_order", 1}, {"chip_select", 1}, {"model", 1}, {"engine", 1}}},
    CatalogRow{"CMD_SPI_TARGET_WRITE_MEMORY", [](VantorAsyncSDK& s, uint16_t id) { return s.spiTargetWriteMemory(id, 0x40, kBulkData); }, {{"memory_address", 0x40}, {"length", 40}}, {}, spiTarget},
    CatalogRow{"CMD_SPI_TARGET_READ_MEMORY", [](VantorAsyncSDK& s, uint16_t id) { return s.spiTargetReadMemory(id, 0x40, 16); }, {{"memory_address", 0x40}, {"length", 16}, {"count", 16}}, {}, spiTarget},
    CatalogRow{"CMD_SPI_TARGET_SET_FLASH_CONFIG", [](VantorAsyncSDK& s, uint16_t id) { const uint8_t jedec[8] = {0xEF, 0x40, 0x18}; return s.spiTargetSetFlashConfig(id, 3, 256, 700, 3, jedec, 0x05); }, {{"address_bytes", 3}, {"page_size", 256}, {"write_cycle_us", 700}, {"jedec_id_length", 3}, {"jedec_id", 8}, {"flags", 5}}, {}, spiTarget},
    CatalogRow{"CMD_UART_DEINIT", [](VantorAsyncSDK& s, uint16_t id) { return s.uartDeinit(id); }},
    CatalogRow{"CMD_UART_INIT", [](VantorAsyncSDK& s, uint16_t id) { return s.uartInit(id, UartBaudRate::BAUD_57600, UartHwHandshake::ENABLED, UartParity::ODD, UartDataSize::BITS_7, UartStopBit::TWO); }, {{"baud_rate", 9}, {"hardware_handshake", 1}, {"parity", 2}, {"data_size", 0}, {"stop_bit", 1}}},
    CatalogRow{"CMD_UART_SEND_MESSAGE", [](VantorAsyncSDK& s, uint16_t id) { return s.uartSendMessage(id, kData); }, {{"length", 5}}, kData},
    CatalogRow{"CMD_GPIO_CONFIGURE_PIN", [](VantorAsyncSDK& s, uint16_t id) { return s.gpioConfigurePin(id, GpioPinNumber::PIN_3, GpioFunctionality::DIGITAL_OUTPUT, GpioLogicLevel::HIGH); }, {{"pin", 2}, {"functionality", 1}, {"initial_level", 1}}},
    CatalogRow{"CMD_GPIO_DIGITAL_WRITE", [](VantorAsyncSDK& s, uint16_t id) { return s.gpioDigitalWrite(id, GpioPinNumber::PIN_2, GpioLogicLevel::HIGH); }, {{"pin", 1}, {"level", 1}}},
    CatalogRow{"CMD_GPIO_DIGITAL_READ", [](VantorAsyncSDK& s, uint16_t id) { return s.gpioDigitalRead(id, GpioPinNumber::PIN_3); }, {{"pin", 2}, {"level", 1}}, {}, [](sim::VirtualAdapter&, VantorAsyncSDK& s) { ASSERT_EQ(s.gpioConfigurePin(1, GpioPinNumber::PIN_3, GpioFunctionality::DIGITAL_OUTPUT, GpioLogicLevel::HIGH), 0); }},
    CatalogRow{"CMD_GPIO_CONFIGURE_INTERRUPT", [](VantorAsyncSDK& s, uint16_t id) { return s.gpioConfigureInterrupt(id, GpioPinNumber::PIN_4, GpioTriggerType::BOTH_EDGES); }, {{"pin", 3}, {"trigger", 3}}},
    CatalogRow{"CMD_GPIO_DISABLE_INTERRUPT", [](VantorAsyncSDK& s, uint16_t id) { return s.gpioDisableInterrupt(id, GpioPinNumber::PIN_5); }, {{"pin", 4}}},
    CatalogRow{"CMD_I3C_CONTROLLER_INIT", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cControllerInit(id, I3cPushPullRate::PUSH_PULL_5_MHZ_DC_40, I3cOpenDrainRate::OPEN_DRAIN_2_MHZ, I2cOpenDrainRate::FAST_MODE_PLUS, I3cDriveStrength::FAST); }, {{"push_pull_rate", 10}, {"open_drain_rate", 3}, {"i2c_rate", 2}, {"drive_strength", 1}}},
    CatalogRow{"CMD_I3C_CONTROLLER_INIT_BUS", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cInitBus(id, {record()}); }, {{"target_count", 1}, {"targets", 16}}},
    CatalogRow{"CMD_I3C_CONTROLLER_RESET_BUS", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cResetBus(id); }, {}, {}, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_GET_DEVICE_TABLE", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cGetDeviceTable(id); }, {{"target_count", 1}, {"targets", 16}}, {}, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_SET_TARGET_DEVICE_CONFIGURATION", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cSetTargetDeviceConfiguration(id, 0x20, 0x0B); }, {{"address", 0x20}, {"configuration", 0x0B}}, {}, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_TRANSFER_write", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cSdrWrite(id, 0x20, {0x01, 0x02}, kData, kNoFlags); }, {{"address", 0x20}, {"control", 0}, {"subaddress_length", 2}, {"subaddress", 4}, {"length", 5}}, kData, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_TRANSFER_read", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cLegacyI2cRead(id, 0x40, {0x01}, 6, kNoFlags); }, {{"address", 0x40}, {"control", 5}, {"length", 6}, {"count", 6}}, {}, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_CCC_TRANSFER_read", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cCccGETPID(id, 0x20, kNoFlags); }, {{"address", 0x20}, {"length", 6}, {"ccc", 0x8D}, {"count", 6}}, {}, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_CCC_TRANSFER_write", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cCccSETMWLBroadcast(id, 0x0102, kNoFlags); }, {{"address", 0x7E}, {"length", 2}, {"ccc", 0x09}}, {0x01, 0x02}, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_BUS_PATTERN", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cHdrExitPattern(id); }, {{"pattern", 1}}, {}, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_TRANSFER_BULK_write", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cSdrWriteBulk(id, 0x20, {}, kBulkData, kNoFlags); }, {{"address", 0x20}, {"control", 0}, {"length", 40}}, {}, i3cBus},
    CatalogRow{"CMD_I3C_CONTROLLER_TRANSFER_BULK_read", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cSdrReadBulk(id, 0x20, {}, 40, kNoFlags); }, {{"control", 1}, {"length", 40}, {"count", 40}}, {}, i3cBus},
    CatalogRow{"CMD_I3C_TARGET_INIT", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cTargetInit(id, I3cTargetMemoryLayout::MEMORY_2_BYTES_X_512_REGS, kPid, I3cBCR{0x06}, 0xC6, 0x31, 128, 64); }, {{"memory_layout", 1}, {"pid_low", 0x456789AB}, {"pid_bit32", 1}, {"pid_high", 0x0091}, {"bcr", 6}, {"dcr", 0xC6}, {"static_address", 0x31}, {"mwl", 128}, {"mrl", 64}}},
    CatalogRow{"CMD_I3C_TARGET_WRITE_MEMORY", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cTargetWriteMemory(id, 0x80, kData); }, {{"memory_address", 0x80}, {"length", 5}}, kData, i3cTarget},
    CatalogRow{"CMD_I3C_TARGET_READ_MEMORY", [](VantorAsyncSDK& s, uint16_t id) { return s.i3cTargetReadMemory(id, 0x80, 12); }, {{"memory_address", 0x80}, {"length", 12}, {"count", 12}}, {}, i3cTarget}
), RowName{});
// clang-format on

// A notification the virtual adapter raises, walked with its layout; the
// SDK's own decoder must find it whole too.
struct NotificationRow {
    const char* name;  // starts with the catalog name
    std::function<void(sim::VirtualAdapter&, VantorAsyncSDK&)> raise;
};

void PrintTo(const NotificationRow& row, std::ostream* os) {
    *os << row.name;
}

class NotificationLayout : public ::testing::TestWithParam<NotificationRow> {};

TEST_P(NotificationLayout, WalksWhatTheAdapterSends) {
    const NotificationRow& row = GetParam();
    const NotificationDescription* described = nullptr;
    for (const NotificationDescription& n : notificationCatalog()) {
        if (std::string(row.name).rfind(n.name, 0) == 0) described = &n;
    }
    ASSERT_NE(described, nullptr);
    Connection link("CATALOG-N");
    ASSERT_TRUE(link.connected);
    row.raise(link.adapter, link.sdk);
    const Bytes message = link.waitFor(0, described->code);
    ASSERT_FALSE(message.empty());
    const LayoutWalk walk = walkLayout(described->fields, message.data() + kResponseHeaderSize,
                                       message.size() - kResponseHeaderSize);
    EXPECT_EQ(walk.outcome, Outcome::Complete);
    EXPECT_EQ(Notification(message.data(), message.size()).kind(), described->kind);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Notifications, NotificationLayout, ::testing::Values(
    NotificationRow{"NOTIF_I3C_CONNECTOR_EVENT", [](sim::VirtualAdapter& a, VantorAsyncSDK&) { ASSERT_TRUE(a.i3c().plugConnector(sim::I3cBench::kLvPort, 1)); }},
    NotificationRow{"NOTIF_I2C_TARGET_BUS_EVENT", [](sim::VirtualAdapter& a, VantorAsyncSDK& s) { i2cTarget(a, s); ASSERT_TRUE(a.waitForRequests(1, kWaitLimit)); a.i2cTarget().controller().write(0x42, {0x10, 1, 2, 3}); }},
    NotificationRow{"NOTIF_SPI_TARGET_BUS_EVENT", [](sim::VirtualAdapter& a, VantorAsyncSDK& s) { spiTarget(a, s); ASSERT_TRUE(a.waitForRequests(1, kWaitLimit)); a.spiTarget().controller().transfer({0x02, 0x00, 0x10, 7, 8}); }},
    NotificationRow{"NOTIF_UART", [](sim::VirtualAdapter& a, VantorAsyncSDK& s) { ASSERT_EQ(s.uartInit(1, UartBaudRate::BAUD_115200, UartHwHandshake::DISABLED, UartParity::NONE, UartDataSize::BITS_8, UartStopBit::ONE), 0); ASSERT_TRUE(a.waitForRequests(1, kWaitLimit)); ASSERT_TRUE(a.uart().inject({'o', 'k'})); }},
    NotificationRow{"NOTIF_GPIO", [](sim::VirtualAdapter& a, VantorAsyncSDK& s) { ASSERT_EQ(s.gpioConfigurePin(1, GpioPinNumber::PIN_2, GpioFunctionality::DIGITAL_INPUT, GpioLogicLevel::LOW), 0); ASSERT_EQ(s.gpioConfigureInterrupt(2, GpioPinNumber::PIN_2, GpioTriggerType::BOTH_EDGES), 0); ASSERT_TRUE(a.waitForRequests(2, kWaitLimit)); ASSERT_TRUE(a.gpio().driveInput(1, 1)); }},
    NotificationRow{"NOTIF_I3C_IBI", [](sim::VirtualAdapter& a, VantorAsyncSDK& s) { i3cBus(a, s); ASSERT_EQ(s.i3cCccENECDirect(3, 0x20, 0x01, kNoFlags), 0); ASSERT_TRUE(a.waitForRequests(3, kWaitLimit)); ASSERT_EQ(a.i3c().raiseIbi(0x0123456789AB, {0xAB, 0x01}), sim::I3cEventOutcome::Reported); }},
    NotificationRow{"NOTIF_I3C_HJ", [](sim::VirtualAdapter& a, VantorAsyncSDK& s) { i3cBus(a, s); ASSERT_TRUE(a.waitForRequests(2, kWaitLimit)); sim::I3cTargetOptions late; late.pid = 0x77; ASSERT_TRUE(a.i3c().attachTarget(late)); ASSERT_EQ(a.i3c().requestHotJoin(0x77), sim::I3cEventOutcome::Reported); }},
    NotificationRow{"NOTIF_I3C_TARGET_BUS_EVENT", [](sim::VirtualAdapter& a, VantorAsyncSDK& s) { i3cTarget(a, s); ASSERT_TRUE(a.waitForRequests(1, kWaitLimit)); a.i3cTarget().controller().setdasa(0x30, 0x21); a.i3cTarget().controller().privateWrite(0x21, {0x00, 0x04, 9, 8}); }}
), RowName{});
// clang-format on

// ------------------------------------------------------ the catalog itself

bool namesField(FieldList fields, std::string_view name) {
    for (const FieldLayout& field : fields) {
        if (name == field.name) return true;
    }
    return false;
}

// Fixed bytes at the start of a layout: scalars and fixed-size byte fields
// up to the first optional or variable one.
size_t fixedPart(FieldList fields) {
    size_t size = 0;
    for (const FieldLayout& field : fields) {
        if (field.optional) break;
        if (field.type != FieldType::Bytes) {
            size += fieldWidth(field.type);
            continue;
        }
        const std::string_view count = field.count;
        if (count.empty() || count.find_first_not_of("0123456789") != std::string_view::npos) break;
        size += std::stoul(std::string(count));
    }
    return size;
}

TEST(CommandCatalog, HoldsEveryCommandInfoOfTheSdkOnce) {
    for (uint16_t code : kSdkCommandCodes) {
        EXPECT_NE(findCommand(code), nullptr) << "no catalog row for 0x" << std::hex << code;
    }
    EXPECT_NE(findCommand(i3c::kCccCode), nullptr);
    // In code order, each code and each name once.
    int previous = -1;
    std::set<std::string> names;
    for (const CommandDescription& command : commandCatalog()) {
        EXPECT_GT(command.info.code, previous) << command.name;
        previous = command.info.code;
        EXPECT_TRUE(names.insert(command.name).second) << command.name;
    }
    previous = -1;
    size_t notifications = 0;
    for (const NotificationDescription& n : notificationCatalog()) {
        EXPECT_EQ(notificationKindForCode(n.code), n.kind) << n.name;
        EXPECT_GT(n.code, previous) << n.name;
        previous = n.code;
        ++notifications;
    }
    // Every kind but NOTIF_UNKNOWN.
    EXPECT_EQ(notifications, static_cast<size_t>(NOTIF_I3C_TARGET_BUS_EVENT));
}

TEST(CommandCatalog, RowsAgreeWithTheirCommandInfo) {
    for (const CommandDescription& c : commandCatalog()) {
        SCOPED_TRACE(c.name);
        // The decoder's minimum is part of every response the layout accepts.
        EXPECT_GE(fixedPart(c.response), c.info.minResponseParameters);
        EXPECT_EQ(c.info.usesBulk(), *c.bulkOut != '\0' || *c.bulkIn != '\0');
        EXPECT_TRUE(!*c.bulkOut || namesField(c.request, c.bulkOut));
        const std::string_view in = c.bulkIn;
        if (in.rfind("request.", 0) == 0) {
            EXPECT_TRUE(namesField(c.request, in.substr(8)));
        } else if (!in.empty()) {
            EXPECT_TRUE(namesField(c.response, in));
        }
        EXPECT_TRUE(!*c.directionField || namesField(c.request, c.directionField));
        std::string_view operations = c.operations;
        EXPECT_EQ(operations.substr(0, operations.find(' ')), c.operation);
    }
}

// Hostile messages: the walk stops at the message's end, whatever the
// fields announce (each message is its own exact-size allocation, so a
// sanitizer build sees any read past it).
struct WalkRow {
    const char* name;
    uint16_t code;
    bool response;
    Bytes message;  // parameters only
    Outcome outcome;
    size_t consumed;
};

void PrintTo(const WalkRow& row, std::ostream* os) {
    *os << row.name;
}

class LayoutWalker : public ::testing::TestWithParam<WalkRow> {};

TEST_P(LayoutWalker, StopsAtTheMessageEnd) {
    const WalkRow& row = GetParam();
    const CommandDescription* command = findCommand(row.code);
    ASSERT_NE(command, nullptr);
    const auto copy = std::make_unique<uint8_t[]>(row.message.size());
    std::copy(row.message.begin(), row.message.end(), copy.get());
    const LayoutWalk walk = walkLayout(row.response ? command->response : command->request,
                                       copy.get(), row.message.size());
    EXPECT_EQ(walk.outcome, row.outcome);
    EXPECT_EQ(walk.consumed, row.consumed);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Messages, LayoutWalker, ::testing::Values(
    WalkRow{"EmptyRequestOfARequiredField", 0x0801, false, {}, Outcome::Truncated, 0},
    WalkRow{"ScalarCutInHalf", 0x0901, false, {1, 0x80, 0x1A}, Outcome::Truncated, 1},
    WalkRow{"CountBeyondTheMessage", 0x1005, false, {10, 0, 'a', 'b', 'c'}, Outcome::Truncated, 2},
    WalkRow{"CountOfTheWholeU16", 0x1005, false, {0xFF, 0xFF, 'a'}, Outcome::Truncated, 2},
    WalkRow{"BytesLeftOver", 0x1405, false, {2, 7}, Outcome::Trailing, 1},
    WalkRow{"OptionalFieldAbsent", 0x1401, false, {2, 0}, Outcome::Complete, 2},
    WalkRow{"OptionalFieldCutInside", 0x0905, true, {0x50, 4}, Outcome::Truncated, 1},
    WalkRow{"FixedBytesCut", 0x0E05, false, {3, 0, 1, 0xBC, 2, 0, 0, 3, 0xEF, 0x40}, Outcome::Truncated, 8},
    WalkRow{"ScanAddressesBeyondTheMessage", 0x0906, true, {0, 3, 0, 0x50}, Outcome::Truncated, 3}
), RowName{});
// clang-format on

TEST(LayoutWalker, ReportsACountThatNamesNoEarlierField) {
    const FieldLayout fields[] = {layout::bytes("data", "length"), layout::u16("length")};
    const uint8_t message[] = {1, 2, 3};
    EXPECT_EQ(walkLayout(fields, message, sizeof message).outcome, Outcome::BadCount);
}

}  // namespace
}  // namespace vantor
