// DeviceFacade: I2C controller and the I/O voltage rail seen from the I2C port.

#include <vector>

#include "bindings/Convert.h"
#include "bindings/DeviceFacade.h"
#include "bindings/DeviceInfo.h"
#include "sdk/peripherals/I2cTypes.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

using vantor::VantorSDK;
using Bus = EnumArg<vantor::I2cBus>;
using PullUp = EnumArg<vantor::I2cPullUp>;

void bindFacadeI2c(FacadeClass& cls) {
    cls.def(
           "i2c_set_bus_voltage",
           [](DeviceFacade& d, uint16_t mv, bool persist) {
               d.run("i2c_set_bus_voltage",
                     [&](VantorSDK& s) { return s.i2cSetBusVoltage(mv, persist); });
           },
           "voltage_mv"_a, "persist"_a = false,
           "Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).")
        .def(
            "i2c_use_external_voltage",
            [](DeviceFacade& d, bool persist) {
                d.run("i2c_use_external_voltage",
                      [&](VantorSDK& s) { return s.i2cUseExternalVoltage(persist); });
            },
            "persist"_a = false, "Power the shared I/O rail from an external supply.")
        .def(
            "i2c_get_bus_voltage",
            [](DeviceFacade& d) {
                uint16_t mv = 0;
                d.run("i2c_get_bus_voltage", [&](VantorSDK& s) { return s.i2cGetBusVoltage(mv); });
                return mv;
            },
            "The shared I/O rail voltage in millivolts.")
        .def(
            "i2c_controller_init",
            [](DeviceFacade& d, Bus bus, uint32_t frequency, PullUp pullUp) {
                d.run("i2c_controller_init", [&](VantorSDK& s) {
                    return s.i2cControllerInit(bus.byte(), frequency, pullUp.byte());
                });
            },
            "bus"_a, "frequency_hz"_a, "pull_up"_a, "Initialise a bus as controller.")
        .def(
            "i2c_set_parameters",
            [](DeviceFacade& d, Bus bus, uint32_t frequency, PullUp pullUp) {
                d.run("i2c_set_parameters", [&](VantorSDK& s) {
                    return s.i2cSetParameters(bus.byte(), frequency, pullUp.byte());
                });
            },
            "bus"_a, "frequency_hz"_a, "pull_up"_a, "Change an initialised bus's settings.")
        .def(
            "i2c_set_pull_up_resistors",
            [](DeviceFacade& d, Bus bus, PullUp value) {
                d.run("i2c_set_pull_up_resistors", [&](VantorSDK& s) {
                    return s.i2cSetPullUpResistors(bus.byte(), value.byte());
                });
            },
            "bus"_a, "value"_a, "Select a bus's pull-up resistors.")
        .def(
            "i2c_deinit",
            [](DeviceFacade& d, Bus bus) {
                d.run("i2c_deinit", [&](VantorSDK& s) { return s.i2cDeinit(bus.byte()); });
            },
            "bus"_a, "Release a bus.")
        .def(
            "i2c_write",
            [](DeviceFacade& d, Bus bus, uint8_t address, const ByteArg& sub, const ByteArg& data,
               bool nonStop) {
                d.run("i2c_write", [&](VantorSDK& s) {
                    return s.i2cWrite(bus.byte(), address, sub, data, nonStop);
                });
            },
            "bus"_a, "address"_a, "subaddress"_a, "data"_a, "non_stop"_a,
            "Write data after a subaddress of 0 to 4 bytes (most significant first).")
        .def(
            "i2c_read",
            [](DeviceFacade& d, Bus bus, uint8_t address, const ByteArg& sub, uint16_t length,
               bool nonStop) {
                std::vector<uint8_t> out;
                d.run("i2c_read", [&](VantorSDK& s) {
                    return s.i2cRead(bus.byte(), address, sub, length, out, nonStop);
                });
                return toBytes(out);
            },
            "bus"_a, "address"_a, "subaddress"_a, "length"_a, "non_stop"_a,
            "Read up to length bytes after writing the subaddress.")
        .def(
            "i2c_scan_bus",
            [](DeviceFacade& d, Bus bus, bool include10bit) {
                std::vector<uint8_t> out;
                uint8_t count7 = 0, count10 = 0;
                d.run("i2c_scan_bus", [&](VantorSDK& s) {
                    return s.i2cScanBus(out, &count7, &count10, bus.byte(), include10bit);
                });
                return decodeScanAddresses(out.data(), out.size(), count7, count10);
            },
            "bus"_a, "include_10bit"_a = false, "The addresses that answer on a bus.")
        .def(
            "i2c_write_bulk",
            [](DeviceFacade& d, Bus bus, uint8_t address, const ByteArg& sub, const ByteArg& data,
               bool nonStop) {
                d.run("i2c_write_bulk", [&](VantorSDK& s) {
                    return s.i2cWriteBulk(bus.byte(), address, sub, data, nonStop);
                });
            },
            "bus"_a, "address"_a, "subaddress"_a, "data"_a, "non_stop"_a,
            "i2c_write with the data sent over the vendor bulk interface.")
        .def(
            "i2c_read_bulk",
            [](DeviceFacade& d, Bus bus, uint8_t address, const ByteArg& sub, uint16_t length,
               bool nonStop) {
                std::vector<uint8_t> out;
                d.run("i2c_read_bulk", [&](VantorSDK& s) {
                    return s.i2cReadBulk(bus.byte(), address, sub, length, out, nonStop);
                });
                return toBytes(out);
            },
            "bus"_a, "address"_a, "subaddress"_a, "length"_a, "non_stop"_a,
            "i2c_read with the data received over the vendor bulk interface.");
}

}  // namespace pyvantorsdk
