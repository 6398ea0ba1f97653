// SPDX-License-Identifier: MIT
// Commands of the I2C controller, and the I/O rail under the I2C port's names.

#include <vector>

#include "bindings/AsyncFacadeCommands.h"
#include "bindings/Commands.h"
#include "bindings/Convert.h"
#include "bindings/FacadeBatch.h"
#include "sdk/peripherals/I2cTypes.h"

using namespace nanobind::literals;

namespace pyvantorsdk {

namespace {

using Bus = EnumArg<vantor::I2cBus>;
using PullUp = EnumArg<vantor::I2cPullUp>;

// clang-format off
template <class G>
void describe(G& g) {
    describeRail(g, kI2cRail);
    g.command("i2c_controller_init", "Initialise a bus as controller.",
        [](auto sdk, Bus bus, uint32_t frequencyHz, PullUp pullUp) {
            return sdk(VANTOR_SDK(i2cControllerInit), bus.byte(), frequencyHz, pullUp.byte());
        },
        "bus"_a, "frequency_hz"_a, "pull_up"_a);
    g.command("i2c_set_parameters", "Change an initialised bus's settings.",
        [](auto sdk, Bus bus, uint32_t frequencyHz, PullUp pullUp) {
            return sdk(VANTOR_SDK(i2cSetParameters), bus.byte(), frequencyHz, pullUp.byte());
        },
        "bus"_a, "frequency_hz"_a, "pull_up"_a);
    g.command("i2c_set_pull_up_resistors", "Select a bus's pull-up resistors.",
        [](auto sdk, Bus bus, PullUp value) {
            return sdk(VANTOR_SDK(i2cSetPullUpResistors), bus.byte(), value.byte());
        },
        "bus"_a, "value"_a);
    g.command("i2c_deinit", "Release a bus.",
        [](auto sdk, Bus bus) { return sdk(VANTOR_SDK(i2cDeinit), bus.byte()); },
        "bus"_a);
    g.command("i2c_write", "Write data after a subaddress of 0 to 4 bytes (most significant first).",
        [](auto sdk, Bus bus, uint8_t address, const ByteArg& sub, const ByteArg& data, bool nonStop) {
            return sdk(VANTOR_SDK(i2cWrite), bus.byte(), address, sub, data, nonStop);
        },
        "bus"_a, "address"_a, "subaddress"_a, "data"_a, "non_stop"_a);
    g.command("i2c_read", "Read up to length bytes after writing the subaddress.",
        [](auto sdk, Bus bus, uint8_t address, const ByteArg& sub, uint16_t length, bool nonStop) {
            return sdk(VANTOR_SDK(i2cRead), bus.byte(), address, sub, length, out<Bytes>, nonStop);
        },
        "bus"_a, "address"_a, "subaddress"_a, "length"_a, "non_stop"_a);
    g.command("i2c_scan_bus", "The addresses that answer on a bus.",
        [](auto sdk, Bus bus, bool include10bit) {
            return sdk(VANTOR_SDK(i2cScanBus), out<ScanAddresses>, bus.byte(), include10bit);
        },
        "bus"_a, "include_10bit"_a = false);
    g.syncOnly("i2c_write_bulk", "i2c_write with the data sent over the vendor bulk interface.",
        [](auto sdk, Bus bus, uint8_t address, const ByteArg& sub, const ByteArg& data, bool nonStop) {
            return sdk(VANTOR_SDK(i2cWriteBulk), bus.byte(), address, sub, data, nonStop);
        },
        "bus"_a, "address"_a, "subaddress"_a, "data"_a, "non_stop"_a);
    g.syncOnly("i2c_read_bulk", "i2c_read with the data received over the vendor bulk interface.",
        [](auto sdk, Bus bus, uint8_t address, const ByteArg& sub, uint16_t length, bool nonStop) {
            return sdk(VANTOR_SDK(i2cReadBulk), bus.byte(), address, sub, length, out<Bytes>, nonStop);
        },
        "bus"_a, "address"_a, "subaddress"_a, "length"_a, "non_stop"_a);
}
// clang-format on

}  // namespace

void describeI2c(FacadeBuilder& g) {
    describe(g);
}
void describeI2c(AsyncCommandsBuilder& g) {
    describe(g);
}
void describeI2c(BatchBuilder& g) {
    describe(g);
}

}  // namespace pyvantorsdk
