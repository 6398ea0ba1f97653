// SPDX-License-Identifier: MIT
// The 40 enumerations, registered family by family in the order the module
// publishes them. Every enumeration and every member carries a doc string.

#include "bindings/Enums.h"

#include <cstdio>
#include <iterator>
#include <string>

#include "sdk/core/Notification.h"
#include "sdk/core/StatusCode.h"
#include "sdk/core/SystemTypes.h"
#include "sdk/i3c/I3cTypes.h"
#include "sdk/peripherals/GpioTypes.h"
#include "sdk/peripherals/I2cTargetTypes.h"
#include "sdk/peripherals/I2cTypes.h"
#include "sdk/peripherals/SpiTargetTypes.h"
#include "sdk/peripherals/SpiTypes.h"
#include "sdk/peripherals/UartTypes.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

using namespace vantor;

// The binding library gives a member that repeats a value an object of its
// own; Python enumerations make it an alias of the first member with that
// value instead, so that `Flags.ALIAS is Flags.CANONICAL`.
void makeAlias(nb::handle cls, const char* alias, const char* canonical) {
    nb::object member = cls.attr(canonical);
    // The library's conversion tables still refer to the replaced object by
    // address; keep it alive so that the address is never reused.
    cls.attr(alias).inc_ref();
    // type.__setattr__ directly: the enumeration metaclass refuses to
    // reassign a member.
    if (PyType_Type.tp_setattro(cls.ptr(), nb::str(alias).ptr(), member.ptr()) != 0) {
        throw nb::python_error();
    }
    nb::dict(cls.attr("_member_map_"))[alias] = member;
}

// clang-format off
void registerDeviceEnums(nb::module_& m) {
    nb::enum_<DeviceModel>(m, "DeviceModel", "The adapter model, recognised from its product name.")
        .value("UNKNOWN", DeviceModel::UNKNOWN, "A product name that names neither model.")
        .value("TERANOX", DeviceModel::TERANOX, "Teranox: 64-byte HID reports.")
        .value("QUILLEX", DeviceModel::QUILLEX, "Quillex: 1024-byte HID reports.");
}

void registerI2cEnums(nb::module_& m) {
    nb::enum_<I2cBus>(m, "I2cBus", "One of the adapter's two I2C buses.")
        .value("A", I2cBus::A, "Bus A (0).")
        .value("B", I2cBus::B, "Bus B (1).");
    nb::enum_<I2cPullUp>(m, "I2cPullUp", "The pull-up resistors of an I2C bus.")
        .value("OHM_150", I2cPullUp::OHM_150, "150 ohm.")
        .value("OHM_220", I2cPullUp::OHM_220, "220 ohm.")
        .value("OHM_330", I2cPullUp::OHM_330, "330 ohm.")
        .value("OHM_470", I2cPullUp::OHM_470, "470 ohm.")
        .value("OHM_680", I2cPullUp::OHM_680, "680 ohm.")
        .value("KOHM_1_0", I2cPullUp::KOHM_1_0, "1.0 kilohm.")
        .value("KOHM_1_5", I2cPullUp::KOHM_1_5, "1.5 kilohm.")
        .value("KOHM_2_2", I2cPullUp::KOHM_2_2, "2.2 kilohm.")
        .value("KOHM_3_3", I2cPullUp::KOHM_3_3, "3.3 kilohm.")
        .value("KOHM_4_0", I2cPullUp::KOHM_4_0, "4.0 kilohm.")
        .value("KOHM_4_7", I2cPullUp::KOHM_4_7, "4.7 kilohm.")
        .value("KOHM_10_0", I2cPullUp::KOHM_10_0, "10 kilohm.")
        .value("DISABLE", I2cPullUp::DISABLE, "No pull-up resistors.");
}

void registerI2cTargetEnums(nb::module_& m) {
    nb::enum_<I2cTargetModel>(m, "I2cTargetModel", "The device the adapter emulates as I2C target.")
        .value("MEMORY", I2cTargetModel::MEMORY, "A plain memory.")
        .value("EEPROM", I2cTargetModel::EEPROM, "An EEPROM with pages, write cycles and protection.")
        .value("REGISTER_MAP", I2cTargetModel::REGISTER_MAP, "A register map with access rules per region.");
    nb::enum_<I2cTargetAddressMode>(m, "I2cTargetAddressMode", "The I2C target's address width.")
        .value("BIT_7", I2cTargetAddressMode::BIT_7, "A 7-bit address.")
        .value("BIT_10", I2cTargetAddressMode::BIT_10, "A 10-bit address.");
    nb::enum_<I2cTargetMemoryLayout>(m, "I2cTargetMemoryLayout", "The width of the I2C target's memory address.")
        .value("BIT_8", I2cTargetMemoryLayout::BIT_8, "One address byte.")
        .value("BIT_16", I2cTargetMemoryLayout::BIT_16, "Two address bytes.");
    nb::enum_<I2cTargetEepromBusyBehavior>(m, "I2cTargetEepromBusyBehavior", "What the emulated EEPROM does while a write cycle runs.")
        .value("NACK", I2cTargetEepromBusyBehavior::NACK, "Refuse its address.")
        .value("CLOCK_STRETCH", I2cTargetEepromBusyBehavior::CLOCK_STRETCH, "Hold the clock low until done.");
    nb::enum_<I2cTargetEraseScope>(m, "I2cTargetEraseScope", "What an erase of the emulated memory covers.")
        .value("PAGE", I2cTargetEraseScope::PAGE, "The page holding the address.")
        .value("CHIP", I2cTargetEraseScope::CHIP, "The whole memory.");
    nb::enum_<I2cTargetRegisterAccess>(m, "I2cTargetRegisterAccess", "The access rule of a register region.")
        .value("RW", I2cTargetRegisterAccess::RW, "Read and write.")
        .value("RO", I2cTargetRegisterAccess::RO, "Read only.")
        .value("WO", I2cTargetRegisterAccess::WO, "Write only.")
        .value("RC", I2cTargetRegisterAccess::RC, "Cleared by a read.")
        .value("W1C", I2cTargetRegisterAccess::W1C, "Bits cleared by writing 1.")
        .value("RESERVED", I2cTargetRegisterAccess::RESERVED, "Reserved.");
}

void registerUartEnums(nb::module_& m) {
    nb::enum_<UartBaudRate>(m, "UartBaudRate", "The UART's bit rate.")
        .value("BAUD_600", UartBaudRate::BAUD_600, "600 baud.")
        .value("BAUD_1200", UartBaudRate::BAUD_1200, "1200 baud.")
        .value("BAUD_2400", UartBaudRate::BAUD_2400, "2400 baud.")
        .value("BAUD_4800", UartBaudRate::BAUD_4800, "4800 baud.")
        .value("BAUD_9600", UartBaudRate::BAUD_9600, "9600 baud.")
        .value("BAUD_14400", UartBaudRate::BAUD_14400, "14400 baud.")
        .value("BAUD_19200", UartBaudRate::BAUD_19200, "19200 baud.")
        .value("BAUD_38400", UartBaudRate::BAUD_38400, "38400 baud.")
        .value("BAUD_56000", UartBaudRate::BAUD_56000, "56000 baud.")
        .value("BAUD_57600", UartBaudRate::BAUD_57600, "57600 baud.")
        .value("BAUD_115200", UartBaudRate::BAUD_115200, "115200 baud.");
    nb::enum_<UartParity>(m, "UartParity", "The UART's parity bit.")
        .value("NONE", UartParity::NONE, "No parity bit.")
        .value("EVEN", UartParity::EVEN, "Even parity.")
        .value("ODD", UartParity::ODD, "Odd parity.");
    nb::enum_<UartDataSize>(m, "UartDataSize", "Data bits per UART character.")
        .value("BITS_7", UartDataSize::BITS_7, "7 data bits.")
        .value("BITS_8", UartDataSize::BITS_8, "8 data bits.");
    nb::enum_<UartStopBit>(m, "UartStopBit", "Stop bits per UART character.")
        .value("ONE", UartStopBit::ONE, "One stop bit.")
        .value("TWO", UartStopBit::TWO, "Two stop bits.");
    nb::enum_<UartHwHandshake>(m, "UartHwHandshake", "RTS/CTS hardware flow control.")
        .value("DISABLED", UartHwHandshake::DISABLED, "No flow control.")
        .value("ENABLED", UartHwHandshake::ENABLED, "RTS/CTS flow control.");
}

void registerSpiEnums(nb::module_& m) {
    nb::enum_<SpiBitOrder>(m, "SpiBitOrder", "The order of the bits of an SPI word.")
        .value("MSB", SpiBitOrder::MSB, "Most significant bit first.")
        .value("LSB", SpiBitOrder::LSB, "Least significant bit first.");
    nb::enum_<SpiMode>(m, "SpiMode", "SPI clock polarity and phase.")
        .value("MODE_0", SpiMode::MODE_0, "Clock idle low, sample on the rising edge.")
        .value("MODE_1", SpiMode::MODE_1, "Clock idle low, sample on the falling edge.")
        .value("MODE_2", SpiMode::MODE_2, "Clock idle high, sample on the falling edge.")
        .value("MODE_3", SpiMode::MODE_3, "Clock idle high, sample on the rising edge.");
    nb::enum_<SpiDataWidth>(m, "SpiDataWidth", "Bits per SPI word.")
        .value("BITS_8", SpiDataWidth::BITS_8, "8-bit words.")
        .value("BITS_16", SpiDataWidth::BITS_16, "16-bit words.");
    nb::enum_<SpiChipSelect>(m, "SpiChipSelect", "The chip-select line of an SPI transfer.")
        .value("CS_0", SpiChipSelect::CS_0, "Chip select 0.")
        .value("CS_1", SpiChipSelect::CS_1, "Chip select 1.")
        .value("CS_2", SpiChipSelect::CS_2, "Chip select 2.")
        .value("CS_3", SpiChipSelect::CS_3, "Chip select 3.");
    nb::enum_<SpiChipSelectPolarity>(m, "SpiChipSelectPolarity", "The level that selects an SPI device.")
        .value("ACTIVE_LOW", SpiChipSelectPolarity::ACTIVE_LOW, "Selected while low.")
        .value("ACTIVE_HIGH", SpiChipSelectPolarity::ACTIVE_HIGH, "Selected while high.");
}

void registerSpiTargetEnums(nb::module_& m) {
    nb::enum_<SpiTargetModel>(m, "SpiTargetModel", "The device the adapter emulates as SPI target.")
        .value("MEMORY", SpiTargetModel::MEMORY, "A plain memory.")
        .value("FLASH", SpiTargetModel::FLASH, "A serial flash with its command set.")
        .value("REGISTER_MAP", SpiTargetModel::REGISTER_MAP, "A register map.");
    nb::enum_<SpiTargetEngine>(m, "SpiTargetEngine", "How the SPI target moves its data.")
        .value("DMA", SpiTargetEngine::DMA, "By DMA.")
        .value("ISR", SpiTargetEngine::ISR, "By interrupt service routine.");
}

void registerGpioEnums(nb::module_& m) {
    nb::enum_<GpioPinNumber>(m, "GpioPinNumber", "One of the six GPIO pins.", nb::is_arithmetic())
        .value("PIN_1", GpioPinNumber::PIN_1, "Pin 1 (0).")
        .value("PIN_2", GpioPinNumber::PIN_2, "Pin 2 (1).")
        .value("PIN_3", GpioPinNumber::PIN_3, "Pin 3 (2).")
        .value("PIN_4", GpioPinNumber::PIN_4, "Pin 4 (3).")
        .value("PIN_5", GpioPinNumber::PIN_5, "Pin 5 (4).")
        .value("PIN_6", GpioPinNumber::PIN_6, "Pin 6 (5).");
    nb::enum_<GpioFunctionality>(m, "GpioFunctionality", "The direction of a GPIO pin.", nb::is_arithmetic())
        .value("DIGITAL_INPUT", GpioFunctionality::DIGITAL_INPUT, "A digital input.")
        .value("DIGITAL_OUTPUT", GpioFunctionality::DIGITAL_OUTPUT, "A digital output.");
    nb::enum_<GpioLogicLevel>(m, "GpioLogicLevel", "The logic level of a GPIO pin.", nb::is_arithmetic())
        .value("LOW", GpioLogicLevel::LOW, "Low (0).")
        .value("HIGH", GpioLogicLevel::HIGH, "High (1).");
    nb::enum_<GpioTriggerType>(m, "GpioTriggerType", "The edges that raise a GPIO interrupt.", nb::is_flag(), nb::is_arithmetic())
        .value("RISING_EDGE", GpioTriggerType::RISING_EDGE, "Low to high.")
        .value("FALLING_EDGE", GpioTriggerType::FALLING_EDGE, "High to low.")
        .value("BOTH_EDGES", GpioTriggerType::BOTH_EDGES, "Either edge.");
}

void registerI3cEnums(nb::module_& m) {
    nb::enum_<I3cPushPullRate>(m, "I3cPushPullRate", "The I3C push-pull clock: frequency and duty cycle (percent).")
        .value("PUSH_PULL_2_5_MHZ_DC_10", I3cPushPullRate::PUSH_PULL_2_5_MHZ_DC_10, "2.5 MHz, 10 % duty cycle.")
        .value("PUSH_PULL_2_5_MHZ_DC_15", I3cPushPullRate::PUSH_PULL_2_5_MHZ_DC_15, "2.5 MHz, 15 % duty cycle.")
        .value("PUSH_PULL_2_5_MHZ_DC_20", I3cPushPullRate::PUSH_PULL_2_5_MHZ_DC_20, "2.5 MHz, 20 % duty cycle.")
        .value("PUSH_PULL_2_5_MHZ_DC_25", I3cPushPullRate::PUSH_PULL_2_5_MHZ_DC_25, "2.5 MHz, 25 % duty cycle.")
        .value("PUSH_PULL_3_125_MHZ_DC_12_5", I3cPushPullRate::PUSH_PULL_3_125_MHZ_DC_12_5, "3.125 MHz, 12.5 % duty cycle.")
        .value("PUSH_PULL_3_125_MHZ_DC_18_75", I3cPushPullRate::PUSH_PULL_3_125_MHZ_DC_18_75, "3.125 MHz, 18.75 % duty cycle.")
        .value("PUSH_PULL_3_125_MHZ_DC_25", I3cPushPullRate::PUSH_PULL_3_125_MHZ_DC_25, "3.125 MHz, 25 % duty cycle.")
        .value("PUSH_PULL_3_125_MHZ_DC_31_25", I3cPushPullRate::PUSH_PULL_3_125_MHZ_DC_31_25, "3.125 MHz, 31.25 % duty cycle.")
        .value("PUSH_PULL_5_MHZ_DC_20", I3cPushPullRate::PUSH_PULL_5_MHZ_DC_20, "5 MHz, 20 % duty cycle.")
        .value("PUSH_PULL_5_MHZ_DC_30", I3cPushPullRate::PUSH_PULL_5_MHZ_DC_30, "5 MHz, 30 % duty cycle.")
        .value("PUSH_PULL_5_MHZ_DC_40", I3cPushPullRate::PUSH_PULL_5_MHZ_DC_40, "5 MHz, 40 % duty cycle.")
        .value("PUSH_PULL_5_MHZ_DC_50", I3cPushPullRate::PUSH_PULL_5_MHZ_DC_50, "5 MHz, 50 % duty cycle.")
        .value("PUSH_PULL_6_25_MHZ_DC_25", I3cPushPullRate::PUSH_PULL_6_25_MHZ_DC_25, "6.25 MHz, 25 % duty cycle.")
        .value("PUSH_PULL_6_25_MHZ_DC_37_5", I3cPushPullRate::PUSH_PULL_6_25_MHZ_DC_37_5, "6.25 MHz, 37.5 % duty cycle.")
        .value("PUSH_PULL_6_25_MHZ_DC_50", I3cPushPullRate::PUSH_PULL_6_25_MHZ_DC_50, "6.25 MHz, 50 % duty cycle.")
        .value("PUSH_PULL_7_5_MHZ_DC_30", I3cPushPullRate::PUSH_PULL_7_5_MHZ_DC_30, "7.5 MHz, 30 % duty cycle.")
        .value("PUSH_PULL_7_5_MHZ_DC_45", I3cPushPullRate::PUSH_PULL_7_5_MHZ_DC_45, "7.5 MHz, 45 % duty cycle.")
        .value("PUSH_PULL_10_MHZ_DC_40", I3cPushPullRate::PUSH_PULL_10_MHZ_DC_40, "10 MHz, 40 % duty cycle.")
        .value("PUSH_PULL_12_5_MHZ_DC_50", I3cPushPullRate::PUSH_PULL_12_5_MHZ_DC_50, "12.5 MHz, 50 % duty cycle.")
        .value("PUSH_PULL_1_MHZ_DC_40", I3cPushPullRate::PUSH_PULL_1_MHZ_DC_40, "1 MHz, 40 % duty cycle.")
        .value("PUSH_PULL_400_KHZ_DC_46", I3cPushPullRate::PUSH_PULL_400_KHZ_DC_46, "400 kHz, 46 % duty cycle.")
        .value("PUSH_PULL_100_KHZ_DC_34", I3cPushPullRate::PUSH_PULL_100_KHZ_DC_34, "100 kHz, 34 % duty cycle.");
    nb::enum_<I3cOpenDrainRate>(m, "I3cOpenDrainRate", "The I3C open-drain clock.")
        .value("OPEN_DRAIN_100_KHZ", I3cOpenDrainRate::OPEN_DRAIN_100_KHZ, "100 kHz.")
        .value("OPEN_DRAIN_400_KHZ", I3cOpenDrainRate::OPEN_DRAIN_400_KHZ, "400 kHz.")
        .value("OPEN_DRAIN_1_MHZ", I3cOpenDrainRate::OPEN_DRAIN_1_MHZ, "1 MHz.")
        .value("OPEN_DRAIN_2_MHZ", I3cOpenDrainRate::OPEN_DRAIN_2_MHZ, "2 MHz.")
        .value("OPEN_DRAIN_4_17_MHZ", I3cOpenDrainRate::OPEN_DRAIN_4_17_MHZ, "4.17 MHz.");
    nb::enum_<I2cOpenDrainRate>(m, "I2cOpenDrainRate", "The clock of legacy I2C transfers on the I3C bus.")
        .value("STANDARD_MODE", I2cOpenDrainRate::STANDARD_MODE, "Standard mode, 100 kHz.")
        .value("FAST_MODE", I2cOpenDrainRate::FAST_MODE, "Fast mode, 400 kHz.")
        .value("FAST_MODE_PLUS", I2cOpenDrainRate::FAST_MODE_PLUS, "Fast mode plus, 1 MHz.")
        .value("HIGH_SPEED_MODE", I2cOpenDrainRate::HIGH_SPEED_MODE, "High-speed mode.")
        .value("ULTRA_FAST_MODE", I2cOpenDrainRate::ULTRA_FAST_MODE, "Ultra-fast mode.");
    nb::enum_<I3cDriveStrength>(m, "I3cDriveStrength", "The drive strength of the I3C lines.")
        .value("STANDARD", I3cDriveStrength::STANDARD, "Standard drive.")
        .value("FAST", I3cDriveStrength::FAST, "Strong drive for fast edges.");
    auto transferFlags =
        nb::enum_<I3cTransferFlags>(m, "I3cTransferFlags", "Options of an I3C transfer.", nb::is_flag(), nb::is_arithmetic())
            .value("NONE", I3cTransferFlags::NONE, "No option.")
            .value("NONSTOP", I3cTransferFlags::NONSTOP, "End with a repeated start instead of a stop.")
            .value("SKIP_EXIT_PATTERN", I3cTransferFlags::SKIP_EXIT_PATTERN, "Alias of NONSTOP: no HDR exit pattern.")
            .value("START_WITH_7E", I3cTransferFlags::START_WITH_7E, "Begin with the broadcast address 0x7E.");
    makeAlias(transferFlags, "SKIP_EXIT_PATTERN", "NONSTOP");
    nb::enum_<I3cTransferDirection>(m, "I3cTransferDirection", "The direction of an I3C transfer.")
        .value("WRITE", I3cTransferDirection::WRITE, "Controller to target.")
        .value("READ", I3cTransferDirection::READ, "Target to controller.");
    nb::enum_<I3cTargetResetDefByte>(m, "I3cTargetResetDefByte", "The defining byte of the RSTACT common command.")
        .value("NO_RESET", I3cTargetResetDefByte::NO_RESET, "No reset on the next reset pattern.")
        .value("RESET_I3C_PERIPHERAL", I3cTargetResetDefByte::RESET_I3C_PERIPHERAL, "Reset the I3C peripheral only.")
        .value("RESET_WHOLE_TARGET", I3cTargetResetDefByte::RESET_WHOLE_TARGET, "Reset the whole target.")
        .value("RESET_DEBUG_NETWORK", I3cTargetResetDefByte::RESET_DEBUG_NETWORK, "Reset the debug network.")
        .value("VIRTUAL_TARGET_DETECT", I3cTargetResetDefByte::VIRTUAL_TARGET_DETECT, "Detect virtual targets.")
        .value("RETURN_TIME_RESET_PERIPHERAL", I3cTargetResetDefByte::RETURN_TIME_RESET_PERIPHERAL, "Read the time a peripheral reset takes.")
        .value("RETURN_TIME_RESET_WHOLE_TARGET", I3cTargetResetDefByte::RETURN_TIME_RESET_WHOLE_TARGET, "Read the time a whole-target reset takes.")
        .value("RETURN_TIME_DEBUG_NETWORK_RESET", I3cTargetResetDefByte::RETURN_TIME_DEBUG_NETWORK_RESET, "Read the time a debug-network reset takes.")
        .value("RETURN_VIRTUAL_TARGET_INDICATION", I3cTargetResetDefByte::RETURN_VIRTUAL_TARGET_INDICATION, "Read whether the target is virtual.");
    nb::enum_<I3cEvent>(m, "I3cEvent", "Target events enabled or disabled by ENEC and DISEC.", nb::is_flag(), nb::is_arithmetic())
        .value("IBI", I3cEvent::IBI, "In-band interrupts.")
        .value("CR", I3cEvent::CR, "Controller role requests.")
        .value("HJ", I3cEvent::HJ, "Hot-join requests.");
    nb::enum_<I3cTargetMemoryLayout>(m, "I3cTargetMemoryLayout", "The register layout of the emulated I3C target's memory.")
        .value("MEMORY_1_BYTE_X_1024_REGS", I3cTargetMemoryLayout::MEMORY_1_BYTE_X_1024_REGS, "1024 one-byte registers.")
        .value("MEMORY_2_BYTES_X_512_REGS", I3cTargetMemoryLayout::MEMORY_2_BYTES_X_512_REGS, "512 two-byte registers.")
        .value("MEMORY_4_BYTES_X_256_REGS", I3cTargetMemoryLayout::MEMORY_4_BYTES_X_256_REGS, "256 four-byte registers.");
    nb::enum_<I3cTargetDcr>(m, "I3cTargetDcr", "Device characteristics of the emulated I3C target.", nb::is_arithmetic())
        .value("SECONDARY_CONTROLLER", I3cTargetDcr::SECONDARY_CONTROLLER, "A secondary controller (0xC4).")
        .value("MEMORY", I3cTargetDcr::MEMORY, "A memory (0xC5).")
        .value("MICROCONTROLLER", I3cTargetDcr::MICROCONTROLLER, "A microcontroller (0xC6).");
    nb::enum_<I3cTargetBusEventKind>(m, "I3cTargetBusEventKind", "What the emulated I3C target saw on the bus.", nb::is_arithmetic())
        .value("WRITE_TRANSFER", I3cTargetBusEventKind::WRITE_TRANSFER, "A write to its memory.")
        .value("READ_TRANSFER", I3cTargetBusEventKind::READ_TRANSFER, "A read of its memory.")
        .value("CCC_TRANSFER", I3cTargetBusEventKind::CCC_TRANSFER, "A common command code.")
        .value("DYN_ADDR_CHANGE", I3cTargetBusEventKind::DYN_ADDR_CHANGE, "A change of its dynamic address.");
}

void registerConnectorEnums(nb::module_& m) {
    nb::enum_<I3cConnectorPort>(m, "I3cConnectorPort", "The I3C connector an event concerns.", nb::is_arithmetic())
        .value("LV", I3cConnectorPort::LV, "The low-voltage connector.")
        .value("HV", I3cConnectorPort::HV, "The high-voltage connector.");
    nb::enum_<I3cConnectorEvent>(m, "I3cConnectorEvent", "A plug event of an I3C connector.", nb::is_arithmetic())
        .value("PLUGGED", I3cConnectorEvent::PLUGGED, "Something was plugged in.")
        .value("UNPLUGGED", I3cConnectorEvent::UNPLUGGED, "It was unplugged.");
    nb::enum_<I3cConnectorType>(m, "I3cConnectorType", "What is plugged into an I3C connector.", nb::is_arithmetic())
        .value("UNIDENTIFIED", I3cConnectorType::UNIDENTIFIED, "Something the adapter does not recognise.")
        .value("HARNESS", I3cConnectorType::HARNESS, "A harness.")
        .value("QWIIC_ADAPTER", I3cConnectorType::QWIIC_ADAPTER, "A Qwiic adapter.")
        .value("KELDRIX", I3cConnectorType::KELDRIX, "A Keldrix board.")
        .value("NONE", I3cConnectorType::NONE, "Nothing.")
        .value("ERROR", I3cConnectorType::ERROR, "The identification failed.");
}
// clang-format on

// A status's doc string: what the host codes mean; the family and value of a
// firmware code, whose name says the rest.
std::string statusDoc(const char* name, uint16_t value) {
    static const char* const kHostDocs[][2] = {
        {"SDK_ERROR_TIMEOUT", "No response within the facade's time-out."},
        {"SDK_ERROR_DISCONNECT", "Not connected, or the adapter was lost."},
        {"SDK_ERROR_UNEXPECTED_RESPONSE", "A response that does not answer the request."},
        {"SDK_ERROR_WRONG_REQUEST", "Arguments refused before anything was sent."},
        {"SDK_ERROR_WRONG_RESPONSE", "A response too short or malformed for its command."},
        {"SDK_ERROR_BULK_UNAVAILABLE", "No bulk interface, or the command is not offered on it."},
    };
    for (const auto& entry : kHostDocs) {
        if (std::string(entry[0]) == name) return entry[1];
    }
    if (value == 0) return "The operation succeeded.";
    // Firmware codes come in pages of 256 per family.
    static const char* const kFamilies[] = {"General", "System", "I2C", "SPI",
                                            "UART",    "GPIO",   "I3C"};
    const unsigned page = value >> 8;
    const char* family = page < std::size(kFamilies) ? kFamilies[page] : "General";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(value));
    return std::string(family) + " firmware status " + hex + ".";
}

void registerStatusEnum(nb::module_& m) {
    nb::enum_<StatusCode> e(m, "StatusCode",
                            "The result of a device operation: SUCCESS, a firmware status (FW_*) "
                            "or one the library produces itself (SDK_ERROR_*).");
#define VANTOR_STATUS_VALUE(n, v) e.value(#n, StatusCode::n, statusDoc(#n, v).c_str());
    VANTOR_STATUS_CODES(VANTOR_STATUS_VALUE)
#undef VANTOR_STATUS_VALUE
}

}  // namespace

void registerEnums(nb::module_& m) {
    registerDeviceEnums(m);
    registerI2cEnums(m);
    registerI2cTargetEnums(m);
    registerUartEnums(m);
    registerSpiEnums(m);
    registerSpiTargetEnums(m);
    registerGpioEnums(m);
    registerI3cEnums(m);
    registerConnectorEnums(m);
    registerStatusEnum(m);
}

}  // namespace pyvantorsdk
