// SPDX-License-Identifier: MIT
// The record tables: every plain record of the virtual adapter, bound as
// a read-only class with a keyword constructor, equality and a repr.
#include "bindings/SimRecords.h"

#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

void bindRecords(nb::module_& sim) {
    namespace vs = vantor::sim;
    Record<vs::Identity>(sim, "Identity", "The five USB strings the adapter reports.")
        .bytesField("manufacturer", &vs::Identity::manufacturer)
        .bytesField("product_name", &vs::Identity::productName)
        .bytesField("serial_number", &vs::Identity::serialNumber)
        .bytesField("hw_version", &vs::Identity::hwVersion)
        .bytesField("fw_version", &vs::Identity::fwVersion)
        .finish();
    Record<vs::UsbSettings>(sim, "UsbSettings", "The adapter's persistent USB configuration.")
        .field("webusb_enabled", &vs::UsbSettings::webusbEnabled)
        .field("cdc_enabled", &vs::UsbSettings::cdcEnabled)
        .field("cdc_mode", &vs::UsbSettings::cdcMode)
        .finish();
    Record<vs::BulkGroupRecord>(sim, "BulkGroup", "One record of the bulk capability answer.")
        .field("group", &vs::BulkGroupRecord::group)
        .field("max_payload", &vs::BulkGroupRecord::maxPayload)
        .field("command_mask", &vs::BulkGroupRecord::commandMask)
        .finish();
    Record<vs::BulkCapabilityConfig>(
        sim, "BulkCapabilities",
        "What the adapter answers to the bulk capability query; a non-zero status answers "
        "with that status and no records.")
        .field("status", &vs::BulkCapabilityConfig::status)
        .field("capability_info", &vs::BulkCapabilityConfig::capabilityInfo)
        .field("supported", &vs::BulkCapabilityConfig::supported)
        .field("groups", &vs::BulkCapabilityConfig::groups)
        .finish();
    Record<vs::AnalogMeasurements>(sim, "AnalogMeasurements",
                                   "The voltages (millivolts) the adapter measures.")
        .field("io_mv", &vs::AnalogMeasurements::ioMv)
        .field("i3c_low_mv", &vs::AnalogMeasurements::i3cLowMv)
        .field("i3c_high_mv", &vs::AnalogMeasurements::i3cHighMv)
        .finish();
    Record<vs::RailState>(sim, "RailState", "The I/O voltage rail.")
        .field("millivolts", &vs::RailState::millivolts)
        .field("external", &vs::RailState::external)
        .finish();
    Record<vs::I2cBusState>(sim, "I2cBusState", "What the host set an I2C bus to.")
        .field("initialized", &vs::I2cBusState::initialized)
        .field("frequency_hz", &vs::I2cBusState::frequencyHz)
        .field("pull_up", &vs::I2cBusState::pullUp)
        .finish();
    Record<vs::SpiControllerState>(
        sim, "SpiControllerState",
        "What the host set the SPI controller to (values as on the wire).")
        .field("initialized", &vs::SpiControllerState::initialized)
        .field("bit_order", &vs::SpiControllerState::bitOrder)
        .field("mode", &vs::SpiControllerState::mode)
        .field("data_width", &vs::SpiControllerState::dataWidth)
        .field("chip_select", &vs::SpiControllerState::chipSelect)
        .field("chip_select_polarity", &vs::SpiControllerState::chipSelectPolarity)
        .field("frequency_hz", &vs::SpiControllerState::frequencyHz)
        .finish();
    Record<vs::UartState>(sim, "UartState",
                          "What the host set the UART to (values as on the wire).")
        .field("initialized", &vs::UartState::initialized)
        .field("baud_rate", &vs::UartState::baudRate)
        .field("hardware_handshake", &vs::UartState::hardwareHandshake)
        .field("parity", &vs::UartState::parity)
        .field("data_size", &vs::UartState::dataSize)
        .field("stop_bit", &vs::UartState::stopBit)
        .finish();
    Record<vs::GpioPinState>(
        sim, "GpioPinState",
        "One GPIO pin; trigger: armed edges, 0 none, 1 rising, 2 falling, 3 both.")
        .field("configured", &vs::GpioPinState::configured)
        .field("output", &vs::GpioPinState::output)
        .field("level", &vs::GpioPinState::level)
        .field("trigger", &vs::GpioPinState::trigger)
        .finish();
}

void bindI3cRecords(nb::module_& sim) {
    namespace vs = vantor::sim;
    Record<vs::I3cTargetState>(sim, "I3cTargetState",
                               "An I3C target: its identity and what the controller set it to "
                               "(events: enabled ENEC bits, 0x01 interrupts, 0x02 controller "
                               "role, 0x08 hot-join).")
        .field("pid", &vs::I3cTargetState::pid)
        .field("bcr", &vs::I3cTargetState::bcr)
        .field("dcr", &vs::I3cTargetState::dcr)
        .field("static_address", &vs::I3cTargetState::staticAddress)
        .field("dynamic_address", &vs::I3cTargetState::dynamicAddress)
        .field("mwl", &vs::I3cTargetState::mwl)
        .field("mrl", &vs::I3cTargetState::mrl)
        .field("max_ibi_payload", &vs::I3cTargetState::maxIbiPayload)
        .field("events", &vs::I3cTargetState::events)
        .field("activity_state", &vs::I3cTargetState::activityState)
        .field("group_address", &vs::I3cTargetState::groupAddress)
        .field("reset_action", &vs::I3cTargetState::resetAction)
        .field("pending_interrupt", &vs::I3cTargetState::pendingInterrupt)
        .finish();
    Record<vs::I3cTableEntry>(sim, "I3cTableEntry",
                              "One entry of the controller's table of targets (static address 0: "
                              "none).")
        .field("static_address", &vs::I3cTableEntry::staticAddress)
        .field("dynamic_address", &vs::I3cTableEntry::dynamicAddress)
        .field("pid", &vs::I3cTableEntry::pid)
        .field("bcr", &vs::I3cTableEntry::bcr)
        .field("dcr", &vs::I3cTableEntry::dcr)
        .field("mwl", &vs::I3cTableEntry::mwl)
        .field("mrl", &vs::I3cTableEntry::mrl)
        .field("max_ibi_payload", &vs::I3cTableEntry::maxIbiPayload)
        .field("configuration", &vs::I3cTableEntry::configuration)
        .finish();
    Record<vs::I3cControllerState>(sim, "I3cControllerState",
                                   "What the host set the I3C controller to (values as on the "
                                   "wire).")
        .field("initialized", &vs::I3cControllerState::initialized)
        .field("push_pull_rate", &vs::I3cControllerState::pushPullRate)
        .field("open_drain_rate", &vs::I3cControllerState::openDrainRate)
        .field("i2c_rate", &vs::I3cControllerState::i2cRate)
        .field("drive_strength", &vs::I3cControllerState::driveStrength)
        .field("hot_join_enabled", &vs::I3cControllerState::hotJoinEnabled)
        .field("bus_context", &vs::I3cControllerState::busContext)
        .finish();
    Record<vs::I3cPortsState>(sim, "I3cPortsState",
                              "The I3C ports: the millivolts each carries, whether an external "
                              "supply feeds them, the connector plugged into each (4: none) and "
                              "the supplies on the target board.")
        .field("lv_mv", &vs::I3cPortsState::lvMv)
        .field("hv_mv", &vs::I3cPortsState::hvMv)
        .field("external", &vs::I3cPortsState::external)
        .field("lv_connector", &vs::I3cPortsState::lvConnector)
        .field("hv_connector", &vs::I3cPortsState::hvConnector)
        .field("lv_external_mv", &vs::I3cPortsState::lvExternalMv)
        .field("hv_external_mv", &vs::I3cPortsState::hvExternalMv)
        .finish();
}

void bindTargetRecords(nb::module_& sim) {
    namespace vs = vantor::sim;
    Record<vs::I2cTargetState>(sim, "I2cTargetState",
                               "What the host set the I2C target to (values as on the wire); "
                               "write-protected bytes are [wp_start, wp_end).")
        .field("active", &vs::I2cTargetState::active)
        .field("bus", &vs::I2cTargetState::bus)
        .field("address", &vs::I2cTargetState::address)
        .field("address_mode", &vs::I2cTargetState::addressMode)
        .field("memory_layout", &vs::I2cTargetState::memoryLayout)
        .field("model", &vs::I2cTargetState::model)
        .field("memory_size", &vs::I2cTargetState::memorySize)
        .field("page_size", &vs::I2cTargetState::pageSize)
        .field("write_cycle_us", &vs::I2cTargetState::writeCycleUs)
        .field("erase_cycle_us", &vs::I2cTargetState::eraseCycleUs)
        .field("busy_behavior", &vs::I2cTargetState::busyBehavior)
        .field("erased_value", &vs::I2cTargetState::erasedValue)
        .field("wp_start", &vs::I2cTargetState::wpStart)
        .field("wp_end", &vs::I2cTargetState::wpEnd)
        .finish();
    Record<vs::I2cBusTransaction>(sim, "I2cBusTransaction",
                                  "What one I2C transaction of the external controller met.")
        .field("address_ack", &vs::I2cBusTransaction::addressAck)
        .field("ack", &vs::I2cBusTransaction::ack)
        .bytesField("data", &vs::I2cBusTransaction::data)
        .field("stretched_us", &vs::I2cBusTransaction::stretchedUs)
        .finish();
    Record<vs::SpiTargetState>(sim, "SpiTargetState",
                               "What the host set the SPI target to (values as on the wire).")
        .field("active", &vs::SpiTargetState::active)
        .field("mode", &vs::SpiTargetState::mode)
        .field("bit_order", &vs::SpiTargetState::bitOrder)
        .field("chip_select", &vs::SpiTargetState::chipSelect)
        .field("chip_select_polarity", &vs::SpiTargetState::chipSelectPolarity)
        .field("model", &vs::SpiTargetState::model)
        .field("engine", &vs::SpiTargetState::engine)
        .field("memory_size", &vs::SpiTargetState::memorySize)
        .field("address_bytes", &vs::SpiTargetState::addressBytes)
        .field("page_size", &vs::SpiTargetState::pageSize)
        .field("write_cycle_us", &vs::SpiTargetState::writeCycleUs)
        .bytesField("jedec_id", &vs::SpiTargetState::jedecId)
        .field("flags", &vs::SpiTargetState::flags)
        .finish();
    Record<vs::I3cTargetRoleState>(sim, "I3cTargetRoleState",
                                   "What the host set the I3C target to.")
        .field("active", &vs::I3cTargetRoleState::active)
        .field("layout", &vs::I3cTargetRoleState::layout)
        .bytesField("pid", &vs::I3cTargetRoleState::pid)
        .field("bcr", &vs::I3cTargetRoleState::bcr)
        .field("dcr", &vs::I3cTargetRoleState::dcr)
        .field("static_address", &vs::I3cTargetRoleState::staticAddress)
        .field("dynamic_address", &vs::I3cTargetRoleState::dynamicAddress)
        .field("mwl", &vs::I3cTargetRoleState::mwl)
        .field("mrl", &vs::I3cTargetRoleState::mrl)
        .finish();
    Record<vs::I3cBusTransaction>(sim, "I3cBusTransaction",
                                  "What one I3C transaction of the external controller met.")
        .field("ack", &vs::I3cBusTransaction::ack)
        .bytesField("data", &vs::I3cBusTransaction::data)
        .finish();
    Record<vs::RegisterRegion>(sim, "RegisterRegion",
                               "A register-map region: [start, end], its access rule (0 RW, 1 RO, "
                               "2 WO, 3 read-clear, 4 write-1-to-clear, 5 reserved).")
        .field("start", &vs::RegisterRegion::start)
        .field("end", &vs::RegisterRegion::end)
        .field("access", &vs::RegisterRegion::access)
        .field("width", &vs::RegisterRegion::width)
        .field("flags", &vs::RegisterRegion::flags)
        .finish();
}

void bindReportRecords(nb::module_& sim) {
    namespace vs = vantor::sim;
    nb::enum_<vs::I2cDeviceKind>(sim, "I2cDeviceKind", "What an attached I2C device is.")
        .value("EEPROM", vs::I2cDeviceKind::Eeprom, "A serial EEPROM.")
        .value("REGISTER_MAP", vs::I2cDeviceKind::RegisterMap, "256 registers.")
        .value("OTHER", vs::I2cDeviceKind::Other, "A device of the caller's own.");
    Record<vs::I2cDeviceInfo>(
        sim, "I2cDeviceInfo",
        "An attached I2C device: size in bytes, an EEPROM's page size and memory address width "
        "(a register map: 256, 0, 1). bus is 0 on the I3C bus.")
        .field("bus", &vs::I2cDeviceInfo::bus)
        .field("address", &vs::I2cDeviceInfo::address)
        .field("ten_bit", &vs::I2cDeviceInfo::tenBit)
        .field("kind", &vs::I2cDeviceInfo::kind)
        .field("size", &vs::I2cDeviceInfo::size)
        .field("page_size", &vs::I2cDeviceInfo::pageSize)
        .field("address_bytes", &vs::I2cDeviceInfo::addressBytes)
        .finish();
    Record<vs::SpiFlashInfo>(sim, "SpiFlashInfo",
                             "An attached SPI flash with the options it was attached with.")
        .field("chip_select", &vs::SpiFlashInfo::chipSelect)
        .field("size", &vs::SpiFlashInfo::size)
        .field("jedec_id", &vs::SpiFlashInfo::jedecId)
        .field("busy_polls", &vs::SpiFlashInfo::busyPolls)
        .finish();
}

}  // namespace pyvantorsdk::simbind
