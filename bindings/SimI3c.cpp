// SPDX-License-Identifier: MIT
// The bench of the I3C bus: targets, legacy I2C devices and the I3C ports.
#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

namespace {

// A bench event's outcome as Python sees it: True when the host got the
// notification, False when the event is disabled or its notification was
// lost; anything else is a ValueError naming the reason.
bool reported(vantor::sim::I3cEventOutcome outcome) {
    using O = vantor::sim::I3cEventOutcome;
    switch (outcome) {
        case O::Reported:
            return true;
        case O::Dropped:
        case O::Disabled:
            return false;
        case O::NoSuchTarget:
            throw nb::value_error("no target with that provisioned id");
        case O::NotOnBus:
            throw nb::value_error(
                "an interrupt needs a dynamic address; a hot-join request a target without one");
        case O::NotCapable:
            throw nb::value_error("the target's BCR does not allow that interrupt or its payload");
        case O::PayloadTooLong:
            throw nb::value_error("the payload is longer than the target's IBI payload size");
    }
    return false;
}

}  // namespace

void bindI3cBench(nb::module_& sim) {
    namespace vs = vantor::sim;
    using I3c = BenchRef<vs::I3cBench>;

    nb::class_<I3c>(sim, "I3cBench",
                    "The I3C bus: I3C targets (by provisioned id) and legacy I2C devices. "
                    "Devices keep their memory across resets and unplugging; what the "
                    "controller set them to is lost with a bus reset.")
        .def("__repr__",
             [](I3c& r) {
                 const auto s = onBench(r, [](vs::I3cBench& b) {
                     return std::make_pair(b.controller(), b.targets().size());
                 });
                 return benchRepr(
                     r, "I3cBench",
                     "targets=" + std::to_string(s.second) + " " + reprOf(nb::cast(s.first)));
             })
        .def(
            "attach_target",
            [](I3c& r, uint64_t pid, uint8_t bcr, uint8_t dcr, std::optional<uint8_t> staticAddress,
               uint16_t mwl, uint16_t mrl, uint8_t maxIbiPayload, size_t memorySize, bool hdrDdr,
               const ByteArg& maxDataSpeed) {
                vs::I3cTargetOptions options;
                if (maxDataSpeed.value.size() != options.maxDataSpeed.size()) {
                    throw nb::value_error("max_data_speed is the 5-byte GETMXDS answer");
                }
                options.pid = pid;
                options.bcr = bcr;
                options.dcr = dcr;
                options.staticAddress = staticAddress;
                options.mwl = mwl;
                options.mrl = mrl;
                options.maxIbiPayload = maxIbiPayload;
                options.memorySize = memorySize;
                options.hdrDdr = hdrDdr;
                std::copy(maxDataSpeed.value.begin(), maxDataSpeed.value.end(),
                          options.maxDataSpeed.begin());
                const auto state =
                    onBench(r, [&](vs::I3cBench& b) { return b.attachTarget(options); });
                if (!state) {
                    throw nb::value_error(
                        "cannot attach that target: an id above 48 bits or already attached, a "
                        "static address outside 0x08..0x77 or taken, a memory size outside "
                        "1..65536, or an IBI payload size without the payload bit in BCR");
                }
                return *state;
            },
            "pid"_a, nb::kw_only(), "bcr"_a = 0x06, "dcr"_a = 0,
            "static_address"_a.none() = nb::none(), "mwl"_a = 256, "mrl"_a = 256,
            "max_ibi_payload"_a = 0, "memory_size"_a = 1024, "hdr_ddr"_a = true,
            "max_data_speed"_a = nb::bytes("\0\0\0\0\0", 5),
            "Attach an I3C target (memory zero-filled) and return its state. BCR bit 1 allows "
            "in-band interrupts, bit 2 their payload (max_ibi_payload: 0 no limit); transfers "
            "use the sub-address, or the HDR-DDR command's low seven bits, as the memory "
            "offset.")
        .def("detach_target", forwardTo(&vs::I3cBench::detachTarget), "pid"_a,
             "Remove a target; False when there was none.")
        .def_prop_ro("targets", forwardTo(&vs::I3cBench::targets),
                     "Every target, by provisioned id.")
        .def("target", forwardTo(&vs::I3cBench::target), "pid"_a,
             "A target's state; None when there is no such target.")
        .def("memory", forwardTo(&vs::I3cBench::memory), "pid"_a,
             "A target's memory; b'' when there is no such target.")
        .def(
            "write_memory",
            [](I3c& r, uint64_t pid, size_t offset, const ByteArg& data) {
                if (!onBench(r,
                             [&](vs::I3cBench& b) { return b.writeMemory(pid, offset, data); })) {
                    throw nb::value_error("no such target, or the data does not fit");
                }
            },
            "pid"_a, "offset"_a, "data"_a, "Change a target's memory directly.")
        .def(
            "raise_ibi",
            [](I3c& r, uint64_t pid, const ByteArg& payload) {
                return reported(
                    onBench(r, [&](vs::I3cBench& b) { return b.raiseIbi(pid, payload); }));
            },
            "pid"_a, "payload"_a = nb::bytes("", 0),
            "The target raises an in-band interrupt: True when it reached the host as a "
            "notification, False when its interrupts are disabled (it stays pending until "
            "GETSTATUS) or when the notification was lost (the host's input queue was full, "
            "counted in dropped_reports, or no connection was open). ValueError when the "
            "target cannot raise it.")
        .def(
            "request_hot_join",
            [](I3c& r, uint64_t pid) {
                return reported(onBench(r, [&](vs::I3cBench& b) { return b.requestHotJoin(pid); }));
            },
            "pid"_a,
            "An attached target without a dynamic address asks to join: True when the host got "
            "the hot-join notification, False while hot-join is disabled or when the "
            "notification was lost (as for raise_ibi). ENTDAA then gives it an address.")
        .def(
            "attach_i2c_eeprom",
            [](I3c& r, uint8_t address, size_t size, size_t pageSize, uint8_t addressBytes) {
                const vs::I2cEepromOptions options{size, pageSize, addressBytes, 0};
                if (!onBench(
                        r, [&](vs::I3cBench& b) { return b.attachI2cEeprom(address, options); })) {
                    throw nb::value_error("cannot attach an EEPROM there");
                }
            },
            "address"_a, nb::kw_only(), "size"_a = 256, "page_size"_a = 16, "address_bytes"_a = 1,
            "Attach a legacy I2C EEPROM (erased to 0xFF) to the I3C bus.")
        .def(
            "attach_i2c_register_map",
            [](I3c& r, uint8_t address) {
                if (!onBench(r, [&](vs::I3cBench& b) { return b.attachI2cRegisterMap(address); })) {
                    throw nb::value_error("cannot attach a register map there");
                }
            },
            "address"_a, "Attach a legacy I2C register map (256 registers) to the I3C bus.")
        .def("detach_i2c", forwardTo(&vs::I3cBench::detachI2c), "address"_a,
             "Remove a legacy I2C device; False when there was none.")
        .def("i2c_memory", forwardTo(&vs::I3cBench::i2cMemory), "address"_a,
             "A legacy device's memory; b'' when there is none.")
        .def(
            "plug_connector",
            [](I3c& r, const Number& port, const Number& connectorType) {
                const uint8_t p = narrow<uint8_t>(port, "port");
                const uint8_t t = narrow<uint8_t>(connectorType, "connector type");
                if (!onBench(r, [&](vs::I3cBench& b) { return b.plugConnector(p, t); })) {
                    throw nb::value_error("no such port, a connector is already in, or type NONE");
                }
            },
            "port"_a, "connector_type"_a = 1,
            "Plug a connector (an I3cConnectorType, HARNESS by default) into a port (0 LV, 1 HV); "
            "the host gets a connector notification.")
        .def(
            "unplug_connector",
            [](I3c& r, const Number& port) {
                const uint8_t p = narrow<uint8_t>(port, "port");
                if (!onBench(r, [&](vs::I3cBench& b) { return b.unplugConnector(p); })) {
                    throw nb::value_error("no such port, or nothing is plugged in");
                }
            },
            "port"_a, "Pull a port's connector; the host gets a connector notification.")
        .def(
            "set_external_supply",
            [](I3c& r, const Number& port, uint16_t millivolts) {
                const uint8_t p = narrow<uint8_t>(port, "port");
                if (!onBench(r,
                             [&](vs::I3cBench& b) { return b.setExternalSupply(p, millivolts); })) {
                    throw nb::value_error("no such port");
                }
            },
            "port"_a, "millivolts"_a,
            "The supply a target board puts on a port (0: none), used once the host hands the "
            "ports over to it.")
        .def_prop_ro("ports", forwardTo(&vs::I3cBench::ports), "The I3C ports.")
        .def_prop_ro("controller", forwardTo(&vs::I3cBench::controller),
                     "What the host set the I3C controller to.")
        .def("device_table", forwardTo(&vs::I3cBench::deviceTable),
             "The controller's table of targets, as i3c_get_device_table reports it.");

    addBenchProperty<vs::I3cBench>(
        "i2c_devices",
        [](BenchRef<vs::I3cBench>& r) {
            return onBench(r, [](vs::I3cBench& b) { return b.i2cDevices(); });
        },
        "The legacy I2C devices, in address order.");
}

}  // namespace pyvantorsdk::simbind
