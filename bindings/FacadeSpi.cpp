// SPDX-License-Identifier: MIT
// Commands of the SPI controller, and the I/O rail under the SPI port's names.

#include "bindings/AsyncFacadeCommands.h"
#include "bindings/Commands.h"
#include "bindings/Convert.h"
#include "bindings/FacadeBatch.h"
#include "sdk/peripherals/SpiTypes.h"

using namespace nanobind::literals;

namespace pyvantorsdk {

namespace {

using BitOrder = EnumArg<vantor::SpiBitOrder>;
using Mode = EnumArg<vantor::SpiMode>;
using Width = EnumArg<vantor::SpiDataWidth>;
using ChipSelect = EnumArg<vantor::SpiChipSelect>;
using Polarity = EnumArg<vantor::SpiChipSelectPolarity>;

// clang-format off
template <class G>
void describe(G& g) {
    describeRail(g, kSpiRail);
    g.command("spi_controller_init", "Initialise the SPI controller.",
        [](auto sdk, BitOrder order, Mode mode, Width width, ChipSelect cs, Polarity polarity,
           uint32_t frequencyHz) {
            return sdk(VANTOR_SDK(spiControllerInit), order, mode, width, cs, polarity, frequencyHz);
        },
        "bit_order"_a, "mode"_a, "data_width"_a, "chip_select"_a, "chip_select_polarity"_a,
        "frequency_hz"_a);
    g.command("spi_set_parameters", "Change the initialised controller's settings.",
        [](auto sdk, BitOrder order, Mode mode, Width width, ChipSelect cs, Polarity polarity,
           uint32_t frequencyHz) {
            return sdk(VANTOR_SDK(spiSetParameters), order, mode, width, cs, polarity, frequencyHz);
        },
        "bit_order"_a, "mode"_a, "data_width"_a, "chip_select"_a, "chip_select_polarity"_a,
        "frequency_hz"_a);
    g.command("spi_deinit", "Release the SPI controller.",
        [](auto sdk) { return sdk(VANTOR_SDK(spiDeinit)); });
    g.command("spi_transfer",
        "Clock transfer_length bytes full duplex, sending data; returns the bytes received.",
        [](auto sdk, const ByteArg& data, uint16_t transferLength) {
            return sdk(VANTOR_SDK(spiTransfer), data, out<Bytes>, transferLength);
        },
        "data"_a, "transfer_length"_a);
    g.syncOnly("spi_transfer_bulk",
        "spi_transfer with the received bytes returned over the vendor bulk interface.",
        [](auto sdk, const ByteArg& data, uint16_t transferLength) {
            return sdk(VANTOR_SDK(spiTransferBulk), data, out<Bytes>, transferLength);
        },
        "data"_a, "transfer_length"_a);
    g.syncOnly("spi_write_bulk", "Write data over the vendor bulk interface.",
        [](auto sdk, const ByteArg& data) { return sdk(VANTOR_SDK(spiWriteBulk), data); },
        "data"_a);
    g.syncOnly("spi_read_bulk",
        "Send command_bytes, then read read_length bytes over the vendor bulk interface.",
        [](auto sdk, const ByteArg& commandBytes, uint16_t readLength) {
            return sdk(VANTOR_SDK(spiReadBulk), commandBytes, out<Bytes>, readLength);
        },
        "command_bytes"_a, "read_length"_a);
}
// clang-format on

}  // namespace

void describeSpi(FacadeBuilder& g) {
    describe(g);
}
void describeSpi(AsyncCommandsBuilder& g) {
    describe(g);
}
void describeSpi(BatchBuilder& g) {
    describe(g);
}

}  // namespace pyvantorsdk
