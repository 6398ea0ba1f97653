// SPDX-License-Identifier: MIT
// The bench of the I2C controller buses.
#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

void bindI2cBench(nb::module_& sim) {
    namespace vs = vantor::sim;
    using I2c = BenchRef<vs::I2cBench>;

    nb::class_<I2c>(sim, "I2cBench",
                    "Devices on the I2C buses. They keep their contents across resets and "
                    "unplugging. Addresses above 0x7F (or with ten_bit=True) are 10-bit; they "
                    "answer scans only.")
        .def("__repr__",
             [](I2c& r) {
                 const auto buses =
                     onBench(r, [](vs::I2cBench& b) { return std::make_pair(b.bus(0), b.bus(1)); });
                 return benchRepr(r, "I2cBench",
                                  "bus0=" + reprOf(nb::cast(buses.first)) +
                                      " bus1=" + reprOf(nb::cast(buses.second)));
             })
        .def(
            "attach_eeprom",
            [](I2c& r, const Number& bus, uint16_t address, size_t size, size_t pageSize,
               uint8_t addressBytes, unsigned writeCycleNacks, bool tenBit) {
                const vs::I2cEepromOptions options{size, pageSize, addressBytes, writeCycleNacks};
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                if (!onBench(r, [&](vs::I2cBench& b) {
                        return b.attachEeprom(b8, address, options, tenBit);
                    })) {
                    throw nb::value_error("cannot attach an EEPROM there");
                }
            },
            "bus"_a, "address"_a, nb::kw_only(), "size"_a = 256, "page_size"_a = 16,
            "address_bytes"_a = 1, "write_cycle_nacks"_a = 0, "ten_bit"_a = false,
            "Attach a serial EEPROM (erased to 0xFF). Page writes wrap at the page boundary; "
            "address_bytes is the memory address width (1 or 2). After a write that stores "
            "data, the next write_cycle_nacks transfers to it are not acknowledged (its write "
            "cycle, counted rather than timed).")
        .def(
            "attach_register_map",
            [](I2c& r, const Number& bus, uint16_t address, bool tenBit) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                if (!onBench(r, [&](vs::I2cBench& b) {
                        return b.attachRegisterMap(b8, address, tenBit);
                    })) {
                    throw nb::value_error("cannot attach a register map there");
                }
            },
            "bus"_a, "address"_a, nb::kw_only(), "ten_bit"_a = false,
            "Attach 256 registers with 1-byte register addresses and auto-increment.")
        .def(
            "detach",
            [](I2c& r, const Number& bus, uint16_t address, bool tenBit) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cBench& b) { return b.detach(b8, address, tenBit); });
            },
            "bus"_a, "address"_a, nb::kw_only(), "ten_bit"_a = false,
            "Remove a device; False when there was none.")
        .def(
            "memory",
            [](I2c& r, const Number& bus, uint16_t address, bool tenBit) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                return toBytes(
                    onBench(r, [&](vs::I2cBench& b) { return b.memory(b8, address, tenBit); }));
            },
            "bus"_a, "address"_a, nb::kw_only(), "ten_bit"_a = false,
            "A device's memory (EEPROM contents, the registers); b'' when there is none.")
        .def(
            "write_memory",
            [](I2c& r, const Number& bus, uint16_t address, size_t offset, const ByteArg& data,
               bool tenBit) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                if (!onBench(r, [&](vs::I2cBench& b) {
                        return b.writeMemory(b8, address, offset, data, tenBit);
                    })) {
                    throw nb::value_error("no device there, or the data does not fit");
                }
            },
            "bus"_a, "address"_a, "offset"_a, "data"_a, nb::kw_only(), "ten_bit"_a = false,
            "Change a device's memory directly (no page rules).")
        .def(
            "bus",
            [](I2c& r, const Number& bus) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cBench& b) { return b.bus(b8); });
            },
            "bus"_a, "What the host set a bus to.");

    addBenchProperty<vs::I2cBench>(
        "devices",
        [](BenchRef<vs::I2cBench>& r) {
            return onBench(r, [](vs::I2cBench& b) { return b.devices(); });
        },
        "Every attached device: bus 0 first, 7-bit addresses before 10-bit ones, each in "
        "address order.");
}

}  // namespace pyvantorsdk::simbind
