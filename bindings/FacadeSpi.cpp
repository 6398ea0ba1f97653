// DeviceFacade: SPI controller and the I/O voltage rail seen from the SPI port.

#include <vector>

#include "bindings/Convert.h"
#include "bindings/DeviceFacade.h"
#include "bindings/DeviceInfo.h"
#include "sdk/peripherals/SpiTypes.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

using vantor::VantorSDK;
using BitOrder = EnumArg<vantor::SpiBitOrder>;
using Mode = EnumArg<vantor::SpiMode>;
using Width = EnumArg<vantor::SpiDataWidth>;
using ChipSelect = EnumArg<vantor::SpiChipSelect>;
using Polarity = EnumArg<vantor::SpiChipSelectPolarity>;

void bindFacadeSpi(FacadeClass& cls) {
    cls.def(
           "spi_set_bus_voltage",
           [](DeviceFacade& d, uint16_t mv, bool persist) {
               d.run("spi_set_bus_voltage",
                     [&](VantorSDK& s) { return s.spiSetBusVoltage(mv, persist); });
           },
           "voltage_mv"_a, "persist"_a = false,
           "Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).")
        .def(
            "spi_use_external_voltage",
            [](DeviceFacade& d, bool persist) {
                d.run("spi_use_external_voltage",
                      [&](VantorSDK& s) { return s.spiUseExternalVoltage(persist); });
            },
            "persist"_a = false, "Power the shared I/O rail from an external supply.")
        .def(
            "spi_get_bus_voltage",
            [](DeviceFacade& d) {
                uint16_t mv = 0;
                d.run("spi_get_bus_voltage", [&](VantorSDK& s) { return s.spiGetBusVoltage(mv); });
                return mv;
            },
            "The shared I/O rail voltage in millivolts.")
        .def(
            "spi_controller_init",
            [](DeviceFacade& d, BitOrder order, Mode mode, Width width, ChipSelect cs,
               Polarity polarity, uint32_t frequency) {
                d.run("spi_controller_init", [&](VantorSDK& s) {
                    return s.spiControllerInit(order, mode, width, cs, polarity, frequency);
                });
            },
            "bit_order"_a, "mode"_a, "data_width"_a, "chip_select"_a, "chip_select_polarity"_a,
            "frequency_hz"_a, "Initialise the SPI controller.")
        .def(
            "spi_set_parameters",
            [](DeviceFacade& d, BitOrder order, Mode mode, Width width, ChipSelect cs,
               Polarity polarity, uint32_t frequency) {
                d.run("spi_set_parameters", [&](VantorSDK& s) {
                    return s.spiSetParameters(order, mode, width, cs, polarity, frequency);
                });
            },
            "bit_order"_a, "mode"_a, "data_width"_a, "chip_select"_a, "chip_select_polarity"_a,
            "frequency_hz"_a, "Change the initialised controller's settings.")
        .def(
            "spi_deinit",
            [](DeviceFacade& d) {
                d.run("spi_deinit", [](VantorSDK& s) { return s.spiDeinit(); });
            },
            "Release the SPI controller.")
        .def(
            "spi_transfer",
            [](DeviceFacade& d, ByteArg data, uint16_t transferLength) {
                std::vector<uint8_t> out;
                d.run("spi_transfer",
                      [&](VantorSDK& s) { return s.spiTransfer(data.value, out, transferLength); });
                return toBytes(out);
            },
            "data"_a, "transfer_length"_a,
            "Clock transfer_length bytes full duplex, sending data; returns the bytes received.")
        .def(
            "spi_transfer_bulk",
            [](DeviceFacade& d, const ByteArg& data, uint16_t transferLength) {
                std::vector<uint8_t> out;
                d.run("spi_transfer_bulk",
                      [&](VantorSDK& s) { return s.spiTransferBulk(data, out, transferLength); });
                return toBytes(out);
            },
            "data"_a, "transfer_length"_a,
            "spi_transfer with the received bytes returned over the vendor bulk interface.")
        .def(
            "spi_write_bulk",
            [](DeviceFacade& d, const ByteArg& data) {
                d.run("spi_write_bulk", [&](VantorSDK& s) { return s.spiWriteBulk(data); });
            },
            "data"_a, "Write data over the vendor bulk interface.")
        .def(
            "spi_read_bulk",
            [](DeviceFacade& d, const ByteArg& commandBytes, uint16_t readLength) {
                std::vector<uint8_t> out;
                d.run("spi_read_bulk",
                      [&](VantorSDK& s) { return s.spiReadBulk(commandBytes, out, readLength); });
                return toBytes(out);
            },
            "command_bytes"_a, "read_length"_a,
            "Send command_bytes, then read read_length bytes over the vendor bulk interface.");
}

}  // namespace pyvantorsdk
