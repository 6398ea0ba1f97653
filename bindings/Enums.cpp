// Registration of the 40 enumerations, in the order the module publishes them.

#include "bindings/Enums.h"

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

namespace vantor::bindings {

namespace {

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

}  // namespace

void registerEnums(nb::module_& m) {
    nb::enum_<DeviceModel>(m, "DeviceModel")
        .value("UNKNOWN", DeviceModel::UNKNOWN)
        .value("TERANOX", DeviceModel::TERANOX)
        .value("QUILLEX", DeviceModel::QUILLEX);
    nb::enum_<I2cBus>(m, "I2cBus").value("A", I2cBus::A).value("B", I2cBus::B);
    nb::enum_<I2cPullUp>(m, "I2cPullUp")
        .value("OHM_150", I2cPullUp::OHM_150)
        .value("OHM_220", I2cPullUp::OHM_220)
        .value("OHM_330", I2cPullUp::OHM_330)
        .value("OHM_470", I2cPullUp::OHM_470)
        .value("OHM_680", I2cPullUp::OHM_680)
        .value("KOHM_1_0", I2cPullUp::KOHM_1_0)
        .value("KOHM_1_5", I2cPullUp::KOHM_1_5)
        .value("KOHM_2_2", I2cPullUp::KOHM_2_2)
        .value("KOHM_3_3", I2cPullUp::KOHM_3_3)
        .value("KOHM_4_0", I2cPullUp::KOHM_4_0)
        .value("KOHM_4_7", I2cPullUp::KOHM_4_7)
        .value("KOHM_10_0", I2cPullUp::KOHM_10_0)
        .value("DISABLE", I2cPullUp::DISABLE);
    nb::enum_<I2cTargetModel>(m, "I2cTargetModel")
        .value("MEMORY", I2cTargetModel::MEMORY)
        .value("EEPROM", I2cTargetModel::EEPROM)
        .value("REGISTER_MAP", I2cTargetModel::REGISTER_MAP);
    nb::enum_<I2cTargetAddressMode>(m, "I2cTargetAddressMode")
        .value("BIT_7", I2cTargetAddressMode::BIT_7)
        .value("BIT_10", I2cTargetAddressMode::BIT_10);
    nb::enum_<I2cTargetMemoryLayout>(m, "I2cTargetMemoryLayout")
        .value("BIT_8", I2cTargetMemoryLayout::BIT_8)
        .value("BIT_16", I2cTargetMemoryLayout::BIT_16);
    nb::enum_<I2cTargetEepromBusyBehavior>(m, "I2cTargetEepromBusyBehavior")
        .value("NACK", I2cTargetEepromBusyBehavior::NACK)
        .value("CLOCK_STRETCH", I2cTargetEepromBusyBehavior::CLOCK_STRETCH);
    nb::enum_<I2cTargetEraseScope>(m, "I2cTargetEraseScope")
        .value("PAGE", I2cTargetEraseScope::PAGE)
        .value("CHIP", I2cTargetEraseScope::CHIP);
    nb::enum_<I2cTargetRegisterAccess>(m, "I2cTargetRegisterAccess")
        .value("RW", I2cTargetRegisterAccess::RW)
        .value("RO", I2cTargetRegisterAccess::RO)
        .value("WO", I2cTargetRegisterAccess::WO)
        .value("RC", I2cTargetRegisterAccess::RC)
        .value("W1C", I2cTargetRegisterAccess::W1C)
        .value("RESERVED", I2cTargetRegisterAccess::RESERVED);
    nb::enum_<UartBaudRate>(m, "UartBaudRate")
        .value("BAUD_600", UartBaudRate::BAUD_600)
        .value("BAUD_1200", UartBaudRate::BAUD_1200)
        .value("BAUD_2400", UartBaudRate::BAUD_2400)
        .value("BAUD_4800", UartBaudRate::BAUD_4800)
        .value("BAUD_9600", UartBaudRate::BAUD_9600)
        .value("BAUD_14400", UartBaudRate::BAUD_14400)
        .value("BAUD_19200", UartBaudRate::BAUD_19200)
        .value("BAUD_38400", UartBaudRate::BAUD_38400)
        .value("BAUD_56000", UartBaudRate::BAUD_56000)
        .value("BAUD_57600", UartBaudRate::BAUD_57600)
        .value("BAUD_115200", UartBaudRate::BAUD_115200);
    nb::enum_<UartParity>(m, "UartParity")
        .value("NONE", UartParity::NONE)
        .value("EVEN", UartParity::EVEN)
        .value("ODD", UartParity::ODD);
    nb::enum_<UartDataSize>(m, "UartDataSize")
        .value("BITS_7", UartDataSize::BITS_7)
        .value("BITS_8", UartDataSize::BITS_8);
    nb::enum_<UartStopBit>(m, "UartStopBit")
        .value("ONE", UartStopBit::ONE)
        .value("TWO", UartStopBit::TWO);
    nb::enum_<UartHwHandshake>(m, "UartHwHandshake")
        .value("DISABLED", UartHwHandshake::DISABLED)
        .value("ENABLED", UartHwHandshake::ENABLED);
    nb::enum_<SpiBitOrder>(m, "SpiBitOrder")
        .value("MSB", SpiBitOrder::MSB)
        .value("LSB", SpiBitOrder::LSB);
    nb::enum_<SpiMode>(m, "SpiMode")
        .value("MODE_0", SpiMode::MODE_0)
        .value("MODE_1", SpiMode::MODE_1)
        .value("MODE_2", SpiMode::MODE_2)
        .value("MODE_3", SpiMode::MODE_3);
    nb::enum_<SpiDataWidth>(m, "SpiDataWidth")
        .value("BITS_8", SpiDataWidth::BITS_8)
        .value("BITS_16", SpiDataWidth::BITS_16);
    nb::enum_<SpiChipSelect>(m, "SpiChipSelect")
        .value("CS_0", SpiChipSelect::CS_0)
        .value("CS_1", SpiChipSelect::CS_1)
        .value("CS_2", SpiChipSelect::CS_2)
        .value("CS_3", SpiChipSelect::CS_3);
    nb::enum_<SpiChipSelectPolarity>(m, "SpiChipSelectPolarity")
        .value("ACTIVE_LOW", SpiChipSelectPolarity::ACTIVE_LOW)
        .value("ACTIVE_HIGH", SpiChipSelectPolarity::ACTIVE_HIGH);
    nb::enum_<SpiTargetModel>(m, "SpiTargetModel")
        .value("MEMORY", SpiTargetModel::MEMORY)
        .value("FLASH", SpiTargetModel::FLASH)
        .value("REGISTER_MAP", SpiTargetModel::REGISTER_MAP);
    nb::enum_<SpiTargetEngine>(m, "SpiTargetEngine")
        .value("DMA", SpiTargetEngine::DMA)
        .value("ISR", SpiTargetEngine::ISR);
    nb::enum_<GpioPinNumber>(m, "GpioPinNumber", nb::is_arithmetic())
        .value("PIN_1", GpioPinNumber::PIN_1)
        .value("PIN_2", GpioPinNumber::PIN_2)
        .value("PIN_3", GpioPinNumber::PIN_3)
        .value("PIN_4", GpioPinNumber::PIN_4)
        .value("PIN_5", GpioPinNumber::PIN_5)
        .value("PIN_6", GpioPinNumber::PIN_6);
    nb::enum_<GpioFunctionality>(m, "GpioFunctionality", nb::is_arithmetic())
        .value("DIGITAL_INPUT", GpioFunctionality::DIGITAL_INPUT)
        .value("DIGITAL_OUTPUT", GpioFunctionality::DIGITAL_OUTPUT);
    nb::enum_<GpioLogicLevel>(m, "GpioLogicLevel", nb::is_arithmetic())
        .value("LOW", GpioLogicLevel::LOW)
        .value("HIGH", GpioLogicLevel::HIGH);
    nb::enum_<GpioTriggerType>(m, "GpioTriggerType", nb::is_flag(), nb::is_arithmetic())
        .value("RISING_EDGE", GpioTriggerType::RISING_EDGE)
        .value("FALLING_EDGE", GpioTriggerType::FALLING_EDGE)
        .value("BOTH_EDGES", GpioTriggerType::BOTH_EDGES);
    nb::enum_<I3cPushPullRate>(m, "I3cPushPullRate")
        .value("PUSH_PULL_2_5_MHZ_DC_10", I3cPushPullRate::PUSH_PULL_2_5_MHZ_DC_10)
        .value("PUSH_PULL_2_5_MHZ_DC_15", I3cPushPullRate::PUSH_PULL_2_5_MHZ_DC_15)
        .value("PUSH_PULL_2_5_MHZ_DC_20", I3cPushPullRate::PUSH_PULL_2_5_MHZ_DC_20)
        .value("PUSH_PULL_2_5_MHZ_DC_25", I3cPushPullRate::PUSH_PULL_2_5_MHZ_DC_25)
        .value("PUSH_PULL_3_125_MHZ_DC_12_5", I3cPushPullRate::PUSH_PULL_3_125_MHZ_DC_12_5)
        .value("PUSH_PULL_3_125_MHZ_DC_18_75", I3cPushPullRate::PUSH_PULL_3_125_MHZ_DC_18_75)
        .value("PUSH_PULL_3_125_MHZ_DC_25", I3cPushPullRate::PUSH_PULL_3_125_MHZ_DC_25)
        .value("PUSH_PULL_3_125_MHZ_DC_31_25", I3cPushPullRate::PUSH_PULL_3_125_MHZ_DC_31_25)
        .value("PUSH_PULL_5_MHZ_DC_20", I3cPushPullRate::PUSH_PULL_5_MHZ_DC_20)
        .value("PUSH_PULL_5_MHZ_DC_30", I3cPushPullRate::PUSH_PULL_5_MHZ_DC_30)
        .value("PUSH_PULL_5_MHZ_DC_40", I3cPushPullRate::PUSH_PULL_5_MHZ_DC_40)
        .value("PUSH_PULL_5_MHZ_DC_50", I3cPushPullRate::PUSH_PULL_5_MHZ_DC_50)
        .value("PUSH_PULL_6_25_MHZ_DC_25", I3cPushPullRate::PUSH_PULL_6_25_MHZ_DC_25)
        .value("PUSH_PULL_6_25_MHZ_DC_37_5", I3cPushPullRate::PUSH_PULL_6_25_MHZ_DC_37_5)
        .value("PUSH_PULL_6_25_MHZ_DC_50", I3cPushPullRate::PUSH_PULL_6_25_MHZ_DC_50)
        .value("PUSH_PULL_7_5_MHZ_DC_30", I3cPushPullRate::PUSH_PULL_7_5_MHZ_DC_30)
        .value("PUSH_PULL_7_5_MHZ_DC_45", I3cPushPullRate::PUSH_PULL_7_5_MHZ_DC_45)
        .value("PUSH_PULL_10_MHZ_DC_40", I3cPushPullRate::PUSH_PULL_10_MHZ_DC_40)
        .value("PUSH_PULL_12_5_MHZ_DC_50", I3cPushPullRate::PUSH_PULL_12_5_MHZ_DC_50)
        .value("PUSH_PULL_1_MHZ_DC_40", I3cPushPullRate::PUSH_PULL_1_MHZ_DC_40)
        .value("PUSH_PULL_400_KHZ_DC_46", I3cPushPullRate::PUSH_PULL_400_KHZ_DC_46)
        .value("PUSH_PULL_100_KHZ_DC_34", I3cPushPullRate::PUSH_PULL_100_KHZ_DC_34);
    nb::enum_<I3cOpenDrainRate>(m, "I3cOpenDrainRate")
        .value("OPEN_DRAIN_100_KHZ", I3cOpenDrainRate::OPEN_DRAIN_100_KHZ)
        .value("OPEN_DRAIN_400_KHZ", I3cOpenDrainRate::OPEN_DRAIN_400_KHZ)
        .value("OPEN_DRAIN_1_MHZ", I3cOpenDrainRate::OPEN_DRAIN_1_MHZ)
        .value("OPEN_DRAIN_2_MHZ", I3cOpenDrainRate::OPEN_DRAIN_2_MHZ)
        .value("OPEN_DRAIN_4_17_MHZ", I3cOpenDrainRate::OPEN_DRAIN_4_17_MHZ);
    nb::enum_<I2cOpenDrainRate>(m, "I2cOpenDrainRate")
        .value("STANDARD_MODE", I2cOpenDrainRate::STANDARD_MODE)
        .value("FAST_MODE", I2cOpenDrainRate::FAST_MODE)
        .value("FAST_MODE_PLUS", I2cOpenDrainRate::FAST_MODE_PLUS)
        .value("HIGH_SPEED_MODE", I2cOpenDrainRate::HIGH_SPEED_MODE)
        .value("ULTRA_FAST_MODE", I2cOpenDrainRate::ULTRA_FAST_MODE);
    nb::enum_<I3cDriveStrength>(m, "I3cDriveStrength")
        .value("STANDARD", I3cDriveStrength::STANDARD)
        .value("FAST", I3cDriveStrength::FAST);
    auto transferFlags =
        nb::enum_<I3cTransferFlags>(m, "I3cTransferFlags", nb::is_flag(), nb::is_arithmetic())
            .value("NONE", I3cTransferFlags::NONE)
            .value("NONSTOP", I3cTransferFlags::NONSTOP)
            .value("SKIP_EXIT_PATTERN", I3cTransferFlags::SKIP_EXIT_PATTERN)
            .value("START_WITH_7E", I3cTransferFlags::START_WITH_7E);
    makeAlias(transferFlags, "SKIP_EXIT_PATTERN", "NONSTOP");
    nb::enum_<I3cTransferDirection>(m, "I3cTransferDirection")
        .value("WRITE", I3cTransferDirection::WRITE)
        .value("READ", I3cTransferDirection::READ);
    nb::enum_<I3cTargetResetDefByte>(m, "I3cTargetResetDefByte")
        .value("NO_RESET", I3cTargetResetDefByte::NO_RESET)
        .value("RESET_I3C_PERIPHERAL", I3cTargetResetDefByte::RESET_I3C_PERIPHERAL)
        .value("RESET_WHOLE_TARGET", I3cTargetResetDefByte::RESET_WHOLE_TARGET)
        .value("RESET_DEBUG_NETWORK", I3cTargetResetDefByte::RESET_DEBUG_NETWORK)
        .value("VIRTUAL_TARGET_DETECT", I3cTargetResetDefByte::VIRTUAL_TARGET_DETECT)
        .value("RETURN_TIME_RESET_PERIPHERAL", I3cTargetResetDefByte::RETURN_TIME_RESET_PERIPHERAL)
        .value("RETURN_TIME_RESET_WHOLE_TARGET",
               I3cTargetResetDefByte::RETURN_TIME_RESET_WHOLE_TARGET)
        .value("RETURN_TIME_DEBUG_NETWORK_RESET",
               I3cTargetResetDefByte::RETURN_TIME_DEBUG_NETWORK_RESET)
        .value("RETURN_VIRTUAL_TARGET_INDICATION",
               I3cTargetResetDefByte::RETURN_VIRTUAL_TARGET_INDICATION);
    nb::enum_<I3cEvent>(m, "I3cEvent", nb::is_flag(), nb::is_arithmetic())
        .value("IBI", I3cEvent::IBI)
        .value("CR", I3cEvent::CR)
        .value("HJ", I3cEvent::HJ);
    nb::enum_<I3cTargetMemoryLayout>(m, "I3cTargetMemoryLayout")
        .value("MEMORY_1_BYTE_X_1024_REGS", I3cTargetMemoryLayout::MEMORY_1_BYTE_X_1024_REGS)
        .value("MEMORY_2_BYTES_X_512_REGS", I3cTargetMemoryLayout::MEMORY_2_BYTES_X_512_REGS)
        .value("MEMORY_4_BYTES_X_256_REGS", I3cTargetMemoryLayout::MEMORY_4_BYTES_X_256_REGS);
    nb::enum_<I3cTargetDcr>(m, "I3cTargetDcr", nb::is_arithmetic())
        .value("SECONDARY_CONTROLLER", I3cTargetDcr::SECONDARY_CONTROLLER)
        .value("MEMORY", I3cTargetDcr::MEMORY)
        .value("MICROCONTROLLER", I3cTargetDcr::MICROCONTROLLER);
    nb::enum_<I3cTargetBusEventKind>(m, "I3cTargetBusEventKind", nb::is_arithmetic())
        .value("WRITE_TRANSFER", I3cTargetBusEventKind::WRITE_TRANSFER)
        .value("READ_TRANSFER", I3cTargetBusEventKind::READ_TRANSFER)
        .value("CCC_TRANSFER", I3cTargetBusEventKind::CCC_TRANSFER)
        .value("DYN_ADDR_CHANGE", I3cTargetBusEventKind::DYN_ADDR_CHANGE);
    nb::enum_<I3cConnectorPort>(m, "I3cConnectorPort", nb::is_arithmetic())
        .value("LV", I3cConnectorPort::LV)
        .value("HV", I3cConnectorPort::HV);
    nb::enum_<I3cConnectorEvent>(m, "I3cConnectorEvent", nb::is_arithmetic())
        .value("PLUGGED", I3cConnectorEvent::PLUGGED)
        .value("UNPLUGGED", I3cConnectorEvent::UNPLUGGED);
    nb::enum_<I3cConnectorType>(m, "I3cConnectorType", nb::is_arithmetic())
        .value("UNIDENTIFIED", I3cConnectorType::UNIDENTIFIED)
        .value("HARNESS", I3cConnectorType::HARNESS)
        .value("QWIIC_ADAPTER", I3cConnectorType::QWIIC_ADAPTER)
        .value("KELDRIX", I3cConnectorType::KELDRIX)
        .value("NONE", I3cConnectorType::NONE)
        .value("ERROR", I3cConnectorType::ERROR);
    {
        nb::enum_<StatusCode> e(m, "StatusCode");
#define VANTOR_STATUS_VALUE(n, v) e.value(#n, StatusCode::n);
        VANTOR_STATUS_CODES(VANTOR_STATUS_VALUE)
#undef VANTOR_STATUS_VALUE
    }
}

}  // namespace vantor::bindings
