// SPDX-License-Identifier: MIT
// The bench of the SPI controller's chip selects.
#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

void bindSpiBench(nb::module_& sim) {
    namespace vs = vantor::sim;
    using Spi = BenchRef<vs::SpiBench>;

    nb::class_<Spi>(sim, "SpiBench",
                    "Devices on the SPI chip selects. They keep their contents across resets "
                    "and unplugging.")
        .def("__repr__",
             [](Spi& r) {
                 const auto c = onBench(r, [](vs::SpiBench& b) { return b.controller(); });
                 return benchRepr(r, "SpiBench", reprOf(nb::cast(c)));
             })
        .def(
            "attach_flash",
            [](Spi& r, const Number& chipSelect, size_t size, const ByteArg& jedecId,
               unsigned busyPolls) {
                vs::SpiFlashOptions options;
                if (jedecId.value.size() != options.jedecId.size()) {
                    throw nb::value_error("a JEDEC id is 3 bytes");
                }
                options.size = size;
                std::copy(jedecId.value.begin(), jedecId.value.end(), options.jedecId.begin());
                options.busyPolls = busyPolls;
                const uint8_t cs = narrow<uint8_t>(chipSelect, "chip select");
                if (!onBench(r, [&](vs::SpiBench& b) { return b.attachFlash(cs, options); })) {
                    throw nb::value_error("cannot attach a flash on that chip select");
                }
            },
            "chip_select"_a, nb::kw_only(), "size"_a = 1024 * 1024,
            "jedec_id"_a = nb::bytes("\xa7\x40\x14", 3), "busy_polls"_a = 2,
            "Attach a NOR flash (erased to 0xFF): JEDEC id (0x9F), read (0x03), write enable "
            "(0x06), page program (0x02), erase of 4 KiB (0x20), 32 KiB (0x52), 64 KiB (0xD8) or "
            "the chip (0xC7, 0x60), and status (0x05). After a program or erase the flash reads "
            "busy for busy_polls status bytes.")
        .def(
            "detach",
            [](Spi& r, const Number& chipSelect) {
                const uint8_t cs = narrow<uint8_t>(chipSelect, "chip select");
                return onBench(r, [&](vs::SpiBench& b) { return b.detach(cs); });
            },
            "chip_select"_a, "Remove a device; False when there was none.")
        .def(
            "memory",
            [](Spi& r, const Number& chipSelect) {
                const uint8_t cs = narrow<uint8_t>(chipSelect, "chip select");
                return toBytes(onBench(r, [&](vs::SpiBench& b) { return b.memory(cs); }));
            },
            "chip_select"_a, "The device's memory; b'' when nothing is attached there.")
        .def(
            "write_memory",
            [](Spi& r, const Number& chipSelect, size_t offset, const ByteArg& data) {
                const uint8_t cs = narrow<uint8_t>(chipSelect, "chip select");
                if (!onBench(r, [&](vs::SpiBench& b) { return b.writeMemory(cs, offset, data); })) {
                    throw nb::value_error(
                        "no device on that chip select, or the data does not fit");
                }
            },
            "chip_select"_a, "offset"_a, "data"_a, "Change a device's memory directly.")
        .def_prop_ro("controller", forwardTo(&vs::SpiBench::controller),
                     "What the host set the SPI controller to.");

    addBenchProperty<vs::SpiBench>(
        "flashes",
        [](BenchRef<vs::SpiBench>& r) {
            return onBench(r, [](vs::SpiBench& b) { return b.flashes(); });
        },
        "The attached flashes in chip-select order (devices of the caller's own are not listed).");
}

}  // namespace pyvantorsdk::simbind
