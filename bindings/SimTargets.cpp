// SPDX-License-Identifier: MIT
// The benches of the adapter's target roles and their external controllers.
#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

namespace {

int optionalSetting(const std::optional<Number>& value, const char* what) {
    return value ? narrow<uint8_t>(*value, what) : -1;
}

// A bench's `command`: (response message, bulk IN bytes).
template <class B>
nb::tuple hostCommand(BenchRef<B>& r, uint16_t code, const ByteArg& params,
                      const ByteArg& bulkOut) {
    const auto result = onBench(r, [&](B& b) { return b.command(code, params, bulkOut); });
    return nb::make_tuple(toBytes(result.response), toBytes(result.bulkIn));
}

constexpr const char* kCommandDoc =
    "Run a host command of this target family (its code and parameter bytes) straight on "
    "the firmware; a memory write takes its data from bulk_out. Returns (response message, "
    "bulk IN bytes); nothing travels over USB.";

}  // namespace

void bindTargetBenches(nb::module_& sim) {
    namespace vs = vantor::sim;
    using I2cT = BenchRef<vs::I2cTargetBench>;
    using SpiT = BenchRef<vs::SpiTargetBench>;
    using I3cT = BenchRef<vs::I3cTargetBench>;
    using I2cC = BenchRef<vs::I2cTargetController>;
    using SpiC = BenchRef<vs::SpiTargetController>;
    using I3cC = BenchRef<vs::I3cTargetController>;

    nb::class_<I2cC>(sim, "I2cTargetController",
                     "An external I2C controller on the bus of the adapter's I2C target.")
        .def("__repr__", [](I2cC& r) { return benchRepr(r, "I2cTargetController", ""); })
        .def(
            "write",
            [](I2cC& r, uint16_t address, const ByteArg& data, const Number& bus, bool tenBit) {
                const uint8_t b = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cTargetController& c) {
                    return c.write(address, data, b, tenBit);
                });
            },
            "address"_a, "data"_a, nb::kw_only(), "bus"_a = Number{0}, "ten_bit"_a = false,
            "A write transaction: the memory address bytes (most significant first), then data.")
        .def(
            "read",
            [](I2cC& r, uint16_t address, size_t count, const Number& bus, bool tenBit) {
                const uint8_t b = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cTargetController& c) {
                    return c.read(address, count, b, tenBit);
                });
            },
            "address"_a, "count"_a, nb::kw_only(), "bus"_a = Number{0}, "ten_bit"_a = false,
            "A read transaction from the target's address pointer.")
        .def(
            "write_read",
            [](I2cC& r, uint16_t address, const ByteArg& data, size_t count, const Number& bus,
               bool tenBit) {
                const uint8_t b = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cTargetController& c) {
                    return c.writeRead(address, data, count, b, tenBit);
                });
            },
            "address"_a, "data"_a, "count"_a, nb::kw_only(), "bus"_a = Number{0},
            "ten_bit"_a = false, "A write, a repeated START and a read.");

    nb::class_<I2cT>(sim, "I2cTargetBench",
                     "The adapter as I2C target: its state, memory, virtual clock and an "
                     "external controller.")
        .def("__repr__",
             [](I2cT& r) {
                 const auto s = onBench(r, [](vs::I2cTargetBench& b) { return b.state(); });
                 return benchRepr(r, "I2cTargetBench", reprOf(nb::cast(s)));
             })
        .def("command", &hostCommand<vs::I2cTargetBench>, "code"_a, "params"_a = nb::bytes(""),
             "bulk_out"_a = nb::bytes(""), kCommandDoc)
        .def_prop_ro(
            "controller", [](I2cT& r) { return I2cC{r.owner}; }, nb::keep_alive<0, 1>(),
            "The external controller.")
        .def_prop_ro("state", forwardTo(&vs::I2cTargetBench::state),
                     "What the host set the target to.")
        .def_prop_ro("memory", forwardTo(&vs::I2cTargetBench::memory),
                     "The target's memory, raw (no access rules).")
        .def_prop_ro("regions", forwardTo(&vs::I2cTargetBench::regions),
                     "The register-map regions the host set.")
        .def_prop_ro("clock_us", forwardTo(&vs::I2cTargetBench::clockUs),
                     "The bus's virtual clock (90 us per byte on the bus).")
        .def("advance_clock", forwardTo(&vs::I2cTargetBench::advanceClock), "us"_a,
             "Let virtual time pass on the bus.")
        .def_prop_ro("busy", forwardTo(&vs::I2cTargetBench::busy),
                     "An EEPROM write or erase cycle is running.");

    nb::class_<SpiC>(sim, "SpiTargetController",
                     "An external SPI controller wired to the adapter's SPI target.")
        .def("__repr__", [](SpiC& r) { return benchRepr(r, "SpiTargetController", ""); })
        .def(
            "transfer",
            [](SpiC& r, const ByteArg& data, std::optional<Number> chipSelect,
               std::optional<Number> mode, std::optional<Number> bitOrder,
               std::optional<Number> polarity) {
                vs::SpiFrameSettings settings;
                settings.chipSelect = optionalSetting(chipSelect, "chip select");
                settings.mode = optionalSetting(mode, "mode");
                settings.bitOrder = optionalSetting(bitOrder, "bit order");
                settings.chipSelectPolarity = optionalSetting(polarity, "chip select polarity");
                return toBytes(onBench(
                    r, [&](vs::SpiTargetController& c) { return c.transfer(data, settings); }));
            },
            "data"_a, nb::kw_only(), "chip_select"_a.none() = nb::none(),
            "mode"_a.none() = nb::none(), "bit_order"_a.none() = nb::none(),
            "chip_select_polarity"_a.none() = nb::none(),
            "One chip-select frame, full duplex; returns MISO. A setting left at None is the "
            "target's own.");

    nb::class_<SpiT>(sim, "SpiTargetBench",
                     "The adapter as SPI target: its state, memory, virtual clock and an "
                     "external controller.")
        .def("__repr__",
             [](SpiT& r) {
                 const auto s = onBench(r, [](vs::SpiTargetBench& b) { return b.state(); });
                 return benchRepr(r, "SpiTargetBench", reprOf(nb::cast(s)));
             })
        .def("command", &hostCommand<vs::SpiTargetBench>, "code"_a, "params"_a = nb::bytes(""),
             "bulk_out"_a = nb::bytes(""), kCommandDoc)
        .def_prop_ro(
            "controller", [](SpiT& r) { return SpiC{r.owner}; }, nb::keep_alive<0, 1>(),
            "The external controller.")
        .def_prop_ro("state", forwardTo(&vs::SpiTargetBench::state),
                     "What the host set the target to.")
        .def_prop_ro("memory", forwardTo(&vs::SpiTargetBench::memory), "The target's memory, raw.")
        .def(
            "add_region",
            [](SpiT& r, uint16_t start, uint16_t end, const Number& access) {
                vs::RegisterRegion region;
                region.start = start;
                region.end = end;
                region.access = narrow<uint8_t>(access, "access");
                if (!onBench(r, [&](vs::SpiTargetBench& b) { return b.addRegion(region); })) {
                    throw nb::value_error(
                        "no register map, a full table or a region that does not fit");
                }
            },
            "start"_a, "end"_a, "access"_a, "A register-map region with its access rule.")
        .def_prop_ro("clock_us", forwardTo(&vs::SpiTargetBench::clockUs),
                     "The bus's virtual clock (8 us per byte on the bus).")
        .def("advance_clock", forwardTo(&vs::SpiTargetBench::advanceClock), "us"_a,
             "Let virtual time pass on the bus.")
        .def_prop_ro("busy", forwardTo(&vs::SpiTargetBench::busy),
                     "A flash program or erase is running.");

    nb::class_<I3cC>(sim, "I3cTargetController",
                     "An external I3C controller on the bus of the adapter's I3C target.")
        .def("__repr__", [](I3cC& r) { return benchRepr(r, "I3cTargetController", ""); })
        .def("setdasa", forwardTo(&vs::I3cTargetController::setdasa), "static_address"_a,
             "dynamic_address"_a, "Direct SETDASA.")
        .def("entdaa", forwardTo(&vs::I3cTargetController::entdaa), "dynamic_address"_a,
             "ENTDAA offering this address; data: the PID, BCR and DCR of the target that took it.")
        .def("rstdaa", forwardTo(&vs::I3cTargetController::rstdaa), "Broadcast RSTDAA.")
        .def("private_write", forwardTo(&vs::I3cTargetController::privateWrite), "address"_a,
             "data"_a,
             "Private write: the register index (2 bytes, most significant first), then data. "
             "A write that would run past the end of memory is refused whole (ack False).")
        .def("private_read", forwardTo(&vs::I3cTargetController::privateRead), "address"_a,
             "count"_a,
             "Private read from the register pointer, at most MRL bytes, stopping at the end of "
             "memory.")
        .def("ccc_get", forwardTo(&vs::I3cTargetController::cccGet), "ccc"_a, "address"_a,
             "A direct GET CCC: GETMWL 0x8B, GETMRL 0x8C, GETPID 0x8D, GETBCR 0x8E, GETDCR 0x8F.");

    nb::class_<I3cT>(sim, "I3cTargetBench",
                     "The adapter as I3C target: its identity, memory and an external "
                     "controller.")
        .def("__repr__",
             [](I3cT& r) {
                 const auto s = onBench(r, [](vs::I3cTargetBench& b) { return b.state(); });
                 return benchRepr(r, "I3cTargetBench", reprOf(nb::cast(s)));
             })
        .def("command", &hostCommand<vs::I3cTargetBench>, "code"_a, "params"_a = nb::bytes(""),
             "bulk_out"_a = nb::bytes(""), kCommandDoc)
        .def_prop_ro(
            "controller", [](I3cT& r) { return I3cC{r.owner}; }, nb::keep_alive<0, 1>(),
            "The external controller.")
        .def_prop_ro("state", forwardTo(&vs::I3cTargetBench::state),
                     "What the host set the target to, and its dynamic address.")
        .def_prop_ro("memory", forwardTo(&vs::I3cTargetBench::memory),
                     "The 1024-byte target memory.");
}

}  // namespace pyvantorsdk::simbind
