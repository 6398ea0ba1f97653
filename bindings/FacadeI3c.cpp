// SPDX-License-Identifier: MIT
// Commands of the I3C controller: bus set-up and management, the I3C port
// supply, private transfers and the common command codes.

#include <nanobind/stl/optional.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings/AsyncFacadeCommands.h"
#include "bindings/Commands.h"
#include "bindings/Convert.h"
#include "bindings/Errors.h"
#include "bindings/FacadeBatch.h"
#include "bindings/I3cTargetDict.h"
#include "sdk/i3c/I3cCccTable.h"
#include "sdk/i3c/I3cTypes.h"

namespace nb = nanobind;
using namespace nanobind::literals;

namespace pyvantorsdk {

namespace {

using vantor::I3cTargetInfo;
using Flags = EnumArg<vantor::I3cTransferFlags>;
using Events = EnumArg<vantor::I3cEvent>;
using ResetByte = EnumArg<vantor::I3cTargetResetDefByte>;
using Direction = EnumArg<vantor::I3cTransferDirection>;
using OptionalByte = std::optional<uint8_t>;

// ------------------------------------------------------------ output kinds

struct Byte {
    using Storage = uint8_t;
    static auto refs(Storage& s) { return std::tie(s); }
    static unsigned result(Storage s) { return s; }
};

struct Word {
    using Storage = uint16_t;
    static auto refs(Storage& s) { return std::tie(s); }
    static unsigned result(Storage s) { return s; }
};

// RSTACT's read-back byte: None when nothing was read.
struct MaybeByte {
    using Storage = std::optional<uint8_t>;
    static auto refs(Storage& s) { return std::tie(s); }
    static std::optional<unsigned> result(const Storage& s) {
        return s ? std::optional<unsigned>(*s) : std::nullopt;
    }
};

// GETMRL: (mrl, IBI payload size or None).
struct MrlAndIbiSize {
    struct Storage {
        uint16_t mrl = 0;
        std::optional<uint8_t> ibi;
    };
    static auto refs(Storage& s) { return std::tie(s.mrl, s.ibi); }
    static std::tuple<unsigned, std::optional<unsigned>> result(const Storage& s) {
        return {s.mrl, s.ibi ? std::optional<unsigned>(*s.ibi) : std::nullopt};
    }
};

// The two I3C port voltages, in the adapter's order.
struct PortVoltages {
    struct Storage {
        uint16_t first = 0, second = 0;
    };
    static auto refs(Storage& s) { return std::tie(s.first, s.second); }
    static std::tuple<unsigned, unsigned> result(const Storage& s) { return {s.first, s.second}; }
};

struct TargetTable {
    using Storage = std::vector<I3cTargetInfo>;
    static auto refs(Storage& s) { return std::tie(s); }
    static nb::list result(const Storage& s) { return fromTargetInfos(s); }
};

// An optional byte list: None and b"" both add nothing.
const std::vector<uint8_t>& bytesOrEmpty(const std::optional<ByteArg>& data) {
    static const std::vector<uint8_t> kEmpty;
    return data ? data->value : kEmpty;
}

// An I3C read. On DeviceFacade a failed read still raises, with the bytes
// the adapter delivered before the failure attached to the exception (an
// incomplete read keeps what the target sent); `call(sdk, into)` makes the
// SDK call with `into` as its output. The asynchronous facades have no
// output and pass the placeholder on.
template <class Sdk, class Call>
auto keepingBytes(Sdk sdk, Call call) {
    if constexpr (std::is_same_v<Sdk, SyncCall>) {
        std::vector<uint8_t> data;
        try {
            call(sdk, data);
        } catch (VantorStatusError& e) {
            e.attachData(std::move(data));
            throw;
        } catch (nb::python_error& e) {
            // With the interpreter lock held the status arrives as a Python
            // exception already built: the bytes go onto it directly.
            nb::object i3cError = nb::module_::import_("pyvantorsdk.errors").attr("I3cError");
            if (PyObject_IsInstance(e.value().ptr(), i3cError.ptr()) == 1) {
                nb::setattr(e.value(), "data", nb::bytes(data.data(), data.size()));
            }
            throw;
        }
        return toBytes(data);
    } else {
        return call(sdk, out<Bytes>);
    }
}

// clang-format off
template <class G>
void describeController(G& g) {
    g.command("i3c_set_bus_voltage", "Set the I3C port voltage in millivolts.",
        [](auto sdk, uint16_t mv) { return sdk(VANTOR_SDK(i3cSetBusVoltage), mv); },
        "voltage_mv"_a);
    g.command("i3c_use_external_voltage", "Power the I3C ports from an external supply (True) or the adapter's own.",
        [](auto sdk, bool enable) { return sdk(VANTOR_SDK(i3cUseExternalVoltage), enable); },
        "persist"_a = false);
    g.syncOnly("i3c_get_bus_voltage", "The two I3C port voltages in millivolts.",
        [](auto sdk) { return sdk(VANTOR_SDK_SYNC(i3cGetBusVoltage), out<PortVoltages>); });
    g.command("i3c_controller_init", "Initialise the I3C controller: rates and drive strength.",
        [](auto sdk, EnumArg<vantor::I3cPushPullRate> pp, EnumArg<vantor::I3cOpenDrainRate> od,
           EnumArg<vantor::I2cOpenDrainRate> i2c, EnumArg<vantor::I3cDriveStrength> drive) {
            return sdk(VANTOR_SDK(i3cControllerInit), pp.value, od.value, i2c.value, drive.value);
        },
        "push_pull_frequency"_a, "open_drain_frequency"_a, "i2c_open_drain_frequency"_a, "drive_strength"_a);
    g.command("i3c_set_parameters", "Change the I3C controller's rates and drive strength.",
        [](auto sdk, EnumArg<vantor::I3cPushPullRate> pp, EnumArg<vantor::I3cOpenDrainRate> od,
           EnumArg<vantor::I2cOpenDrainRate> i2c, EnumArg<vantor::I3cDriveStrength> drive) {
            return sdk(VANTOR_SDK(i3cSetParameters), pp.value, od.value, i2c.value, drive.value);
        },
        "push_pull_frequency"_a, "open_drain_frequency"_a, "i2c_open_drain_frequency"_a, "drive_strength"_a);
    g.command("i3c_init_bus", "Assign dynamic addresses to the listed targets (target dictionaries).",
        [](auto sdk, nb::sequence targets) { return sdk(VANTOR_SDK(i3cInitBus), toTargetInfos(targets)); },
        asyncRequired("targets"_a = nb::tuple()));
    g.command("i3c_reset_bus", "Reset the I3C bus.",
        [](auto sdk) { return sdk(VANTOR_SDK(i3cResetBus)); });
    g.command("i3c_get_device_table", "The adapter's table of targets, as target dictionaries.",
        [](auto sdk) { return sdk(VANTOR_SDK(i3cGetDeviceTable), out<TargetTable>); });
    g.command("i3c_set_target_device_configuration", "Set the configuration byte of a target in the table.",
        [](auto sdk, uint8_t address, uint8_t configuration) {
            return sdk(VANTOR_SDK(i3cSetTargetDeviceConfiguration), address, configuration);
        },
        "address"_a, "configuration"_a);
    g.command("i3c_target_reset_pattern", "Send the target reset pattern.",
        [](auto sdk) { return sdk(VANTOR_SDK(i3cTargetResetPattern)); });
    g.command("i3c_hdr_exit_pattern", "Send the HDR exit pattern.",
        [](auto sdk) { return sdk(VANTOR_SDK(i3cHdrExitPattern)); });
}

// The HID transfers and their bulk variants; `flags` defaults as each
// transfer documents.
template <class G>
void describeTransfers(G& g) {
    g.command("i3c_legacy_i2c_write", "Write to a legacy I2C device on the I3C bus.",
        [](auto sdk, uint8_t address, const ByteArg& sub, const ByteArg& data, Flags flags) {
            return sdk(VANTOR_SDK(i3cLegacyI2cWrite), address, sub, data, flags.value);
        },
        "address"_a, "subaddress"_a, "data"_a, "flags"_a);
    g.command("i3c_legacy_i2c_read", "Read from a legacy I2C device on the I3C bus.",
        [](auto sdk, uint8_t address, const ByteArg& sub, uint16_t length, Flags flags) {
            return keepingBytes(sdk, [&](auto s, auto& into) {
                return s(VANTOR_SDK(i3cLegacyI2cRead), address, sub, length, into, flags.value);
            });
        },
        "address"_a, "subaddress"_a, "length"_a, "flags"_a);
    g.command("i3c_sdr_write", "SDR private write after a sub-address of 0 to 4 bytes.",
        [](auto sdk, uint8_t address, const ByteArg& sub, const ByteArg& data, Flags flags) {
            return sdk(VANTOR_SDK(i3cSdrWrite), address, sub, data, flags.value);
        },
        "address"_a, "subaddress"_a, "data"_a, "flags"_a = 2);
    g.command("i3c_sdr_read", "SDR private read after a sub-address of 0 to 4 bytes.",
        [](auto sdk, uint8_t address, const ByteArg& sub, uint16_t length, Flags flags) {
            return keepingBytes(sdk, [&](auto s, auto& into) {
                return s(VANTOR_SDK(i3cSdrRead), address, sub, length, into, flags.value);
            });
        },
        "address"_a, "subaddress"_a, "length"_a, "flags"_a = 2);
    g.command("i3c_hdr_ddr_write", "HDR-DDR write with a command code.",
        [](auto sdk, uint8_t address, uint8_t command, const ByteArg& data, Flags flags) {
            return sdk(VANTOR_SDK(i3cHdrDdrWrite), address, command, data, flags.value);
        },
        "address"_a, "command"_a, "data"_a, "flags"_a = 0);
    g.command("i3c_hdr_ddr_read", "HDR-DDR read with a command code.",
        [](auto sdk, uint8_t address, uint8_t command, uint16_t length, Flags flags) {
            return keepingBytes(sdk, [&](auto s, auto& into) {
                return s(VANTOR_SDK(i3cHdrDdrRead), address, command, length, into, flags.value);
            });
        },
        "address"_a, "command"_a, "length"_a, "flags"_a = 0);
    g.syncOnly("i3c_legacy_i2c_write_bulk", "i3c_legacy_i2c_write with the data over the vendor bulk interface.",
        [](auto sdk, uint8_t address, const ByteArg& sub, const ByteArg& data, Flags flags) {
            return sdk(VANTOR_SDK(i3cLegacyI2cWriteBulk), address, sub, data, flags.value);
        },
        "address"_a, "subaddress"_a, "data"_a, "flags"_a = 0);
    g.syncOnly("i3c_legacy_i2c_read_bulk", "i3c_legacy_i2c_read with the data over the vendor bulk interface.",
        [](auto sdk, uint8_t address, const ByteArg& sub, uint16_t length, Flags flags) {
            return keepingBytes(sdk, [&](auto s, auto& into) {
                return s(VANTOR_SDK(i3cLegacyI2cReadBulk), address, sub, length, into, flags.value);
            });
        },
        "address"_a, "subaddress"_a, "length"_a, "flags"_a = 0);
    g.syncOnly("i3c_sdr_write_bulk", "i3c_sdr_write with the data over the vendor bulk interface.",
        [](auto sdk, uint8_t address, const ByteArg& sub, const ByteArg& data, Flags flags) {
            return sdk(VANTOR_SDK(i3cSdrWriteBulk), address, sub, data, flags.value);
        },
        "address"_a, "subaddress"_a, "data"_a, "flags"_a = 0);
    g.syncOnly("i3c_sdr_read_bulk", "i3c_sdr_read with the data over the vendor bulk interface.",
        [](auto sdk, uint8_t address, const ByteArg& sub, uint16_t length, Flags flags) {
            return keepingBytes(sdk, [&](auto s, auto& into) {
                return s(VANTOR_SDK(i3cSdrReadBulk), address, sub, length, into, flags.value);
            });
        },
        "address"_a, "subaddress"_a, "length"_a, "flags"_a = 0);
    g.syncOnly("i3c_hdr_ddr_write_bulk", "i3c_hdr_ddr_write with the data over the vendor bulk interface.",
        [](auto sdk, uint8_t address, uint8_t command, const ByteArg& data, Flags flags) {
            return sdk(VANTOR_SDK(i3cHdrDdrWriteBulk), address, command, data, flags.value);
        },
        "address"_a, "command"_a, "data"_a, "flags"_a = 0);
    g.syncOnly("i3c_hdr_ddr_read_bulk", "i3c_hdr_ddr_read with the data over the vendor bulk interface.",
        [](auto sdk, uint8_t address, uint8_t command, uint16_t length, Flags flags) {
            return keepingBytes(sdk, [&](auto s, auto& into) {
                return s(VANTOR_SDK(i3cHdrDdrReadBulk), address, command, length, into, flags.value);
            });
        },
        "address"_a, "command"_a, "length"_a, "flags"_a = 0);
}

// The common command codes, one row each; every row but ENTDAA ends with
// flags = 0.
template <class G>
void describeCcc(G& g) {
    g.command("i3c_ccc_rstdaa", "Broadcast RSTDAA: every target drops its dynamic address.",
        [](auto sdk, Flags f) { return sdk(VANTOR_SDK(i3cCccRSTDAA), f.value); },
        "flags"_a = 0);
    g.command("i3c_ccc_entdaa", "ENTDAA for the listed targets (target dictionaries).",
        [](auto sdk, nb::sequence targets) { return sdk(VANTOR_SDK(i3cCccENTDAA), toTargetInfos(targets)); },
        asyncRequired("targets"_a = nb::tuple()));
    g.command("i3c_ccc_setdasa", "SETDASA: give the target at a static address a dynamic one.",
        [](auto sdk, uint8_t st, uint8_t dyn, Flags f) { return sdk(VANTOR_SDK(i3cCccSETDASA), st, dyn, f.value); },
        "static_address"_a, "dynamic_address"_a, "flags"_a = 0);
    g.command("i3c_ccc_setaasa", "Broadcast SETAASA: targets take their static address as dynamic one.",
        [](auto sdk, const std::vector<uint8_t>& addresses, Flags f) {
            return sdk(VANTOR_SDK(i3cCccSETAASA), addresses, f.value);
        },
        "static_addresses"_a, "flags"_a = 0);
    g.command("i3c_ccc_setnewda", "SETNEWDA: move a target to a new dynamic address.",
        [](auto sdk, uint8_t old, uint8_t now, Flags f) { return sdk(VANTOR_SDK(i3cCccSETNEWDA), old, now, f.value); },
        "old_dynamic_address"_a, "new_dynamic_address"_a, "flags"_a = 0);
    g.command("i3c_ccc_getpid", "GETPID: the target's 48-bit provisioned id, as sent.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccGETPID), a, out<Bytes>, f.value); },
        "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_getbcr", "GETBCR: the target's bus characteristics register.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccGETBCR), a, out<Byte>, f.value); },
        "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_getdcr", "GETDCR: the target's device characteristics register.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccGETDCR), a, out<Byte>, f.value); },
        "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_getstatus", "GETSTATUS, with a defining byte when def_byte is not None.",
        [](auto sdk, uint8_t a, OptionalByte def, Flags f) {
            return sdk(VANTOR_SDK(i3cCccGETSTATUS), a, def, out<Bytes>, f.value);
        },
        "target_address"_a, "def_byte"_a = nb::none(), "flags"_a = 0);
    g.command("i3c_ccc_getcaps", "GETCAPS, with a defining byte when def_byte is not None.",
        [](auto sdk, uint8_t a, OptionalByte def, Flags f) {
            return sdk(VANTOR_SDK(i3cCccGETCAPS), a, def, out<Bytes>, f.value);
        },
        "target_address"_a, "def_byte"_a = nb::none(), "flags"_a = 0);
    g.command("i3c_ccc_getmxds", "GETMXDS: the target's maximum data speeds.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccGETMXDS), a, out<Bytes>, f.value); },
        "target_address"_a, "flags"_a = 0);
    g.command("i3c_ccc_getxtime", "GETXTIME: the target's timing capabilities.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccGETXTIME), a, out<Bytes>, f.value); },
        "target_address"_a, "flags"_a = 0);
    g.command("i3c_ccc_rstact_broadcast", "Broadcast RSTACT: the action of the next reset pattern.",
        [](auto sdk, ResetByte def, Flags f) { return sdk(VANTOR_SDK(i3cCccRSTACTBroadcast), def.value, f.value); },
        "def_byte"_a, "flags"_a = 0);
    g.command("i3c_ccc_rstact_direct", "Direct RSTACT; with direction READ the byte read back, else None.",
        [](auto sdk, uint8_t a, ResetByte def, Direction dir, Flags f) {
            return sdk(VANTOR_SDK(i3cCccRSTACTDirect), a, def.value, dir.value, out<MaybeByte>, f.value);
        },
        "target_address"_a, "def_byte"_a, "direction"_a, "flags"_a = 0);
    g.command("i3c_ccc_rstgrpa_broadcast", "Broadcast RSTGRPA: every target leaves its group.",
        [](auto sdk, Flags f) { return sdk(VANTOR_SDK(i3cCccRSTGRPABroadcast), f.value); },
        "flags"_a = 0);
    g.command("i3c_ccc_rstgrpa_direct", "Direct RSTGRPA: one target leaves its group.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccRSTGRPADirect), a, f.value); },
        "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_setgrpa_direct", "SETGRPA: give a target a group address.",
        [](auto sdk, uint8_t a, uint8_t group, Flags f) { return sdk(VANTOR_SDK(i3cCccSETGRPADirect), a, group, f.value); },
        "target_address"_a, "grpa"_a, "flags"_a = 0);
    g.command("i3c_ccc_entas0_broadcast", "Broadcast ENTAS0.",
        [](auto sdk, Flags f) { return sdk(VANTOR_SDK(i3cCccENTAS0Broadcast), f.value); }, "flags"_a = 0);
    g.command("i3c_ccc_entas1_broadcast", "Broadcast ENTAS1.",
        [](auto sdk, Flags f) { return sdk(VANTOR_SDK(i3cCccENTAS1Broadcast), f.value); }, "flags"_a = 0);
    g.command("i3c_ccc_entas2_broadcast", "Broadcast ENTAS2.",
        [](auto sdk, Flags f) { return sdk(VANTOR_SDK(i3cCccENTAS2Broadcast), f.value); }, "flags"_a = 0);
    g.command("i3c_ccc_entas3_broadcast", "Broadcast ENTAS3.",
        [](auto sdk, Flags f) { return sdk(VANTOR_SDK(i3cCccENTAS3Broadcast), f.value); }, "flags"_a = 0);
    g.command("i3c_ccc_entas0_direct", "Direct ENTAS0.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccENTAS0Direct), a, f.value); }, "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_entas1_direct", "Direct ENTAS1.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccENTAS1Direct), a, f.value); }, "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_entas2_direct", "Direct ENTAS2.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccENTAS2Direct), a, f.value); }, "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_entas3_direct", "Direct ENTAS3.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccENTAS3Direct), a, f.value); }, "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_enec_broadcast", "Broadcast ENEC: enable target events (I3cEvent bits).",
        [](auto sdk, Events e, Flags f) { return sdk(VANTOR_SDK(i3cCccENECBroadcast), e.byte(), f.value); },
        "events"_a, "flags"_a = 0);
    g.command("i3c_ccc_disec_broadcast", "Broadcast DISEC: disable target events (I3cEvent bits).",
        [](auto sdk, Events e, Flags f) { return sdk(VANTOR_SDK(i3cCccDISECBroadcast), e.byte(), f.value); },
        "events"_a, "flags"_a = 0);
    g.command("i3c_ccc_enec_direct", "Direct ENEC: enable one target's events.",
        [](auto sdk, uint8_t a, Events e, Flags f) { return sdk(VANTOR_SDK(i3cCccENECDirect), a, e.byte(), f.value); },
        "address"_a, "events"_a, "flags"_a = 0);
    g.command("i3c_ccc_disec_direct", "Direct DISEC: disable one target's events.",
        [](auto sdk, uint8_t a, Events e, Flags f) { return sdk(VANTOR_SDK(i3cCccDISECDirect), a, e.byte(), f.value); },
        "address"_a, "events"_a, "flags"_a = 0);
    g.command("i3c_ccc_getmwl", "GETMWL: the target's maximum write length.",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccGETMWL), a, out<Word>, f.value); },
        "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_setmwl_broadcast", "Broadcast SETMWL.",
        [](auto sdk, uint16_t mwl, Flags f) { return sdk(VANTOR_SDK(i3cCccSETMWLBroadcast), mwl, f.value); },
        "mwl"_a, "flags"_a = 0);
    g.command("i3c_ccc_setmwl_direct", "Direct SETMWL.",
        [](auto sdk, uint8_t a, uint16_t mwl, Flags f) { return sdk(VANTOR_SDK(i3cCccSETMWLDirect), a, mwl, f.value); },
        "address"_a, "mwl"_a, "flags"_a = 0);
    g.command("i3c_ccc_getmrl", "GETMRL: (maximum read length, IBI payload size or None).",
        [](auto sdk, uint8_t a, Flags f) { return sdk(VANTOR_SDK(i3cCccGETMRL), a, out<MrlAndIbiSize>, f.value); },
        "address"_a, "flags"_a = 0);
    g.command("i3c_ccc_setmrl_broadcast", "Broadcast SETMRL, with the IBI payload size when not None.",
        [](auto sdk, uint16_t mrl, OptionalByte ibi, Flags f) {
            return sdk(VANTOR_SDK(i3cCccSETMRLBroadcast), mrl, ibi, f.value);
        },
        "mrl"_a, "ibi_length"_a = nb::none(), "flags"_a = 0);
    g.command("i3c_ccc_setmrl_direct", "Direct SETMRL, with the IBI payload size when not None.",
        [](auto sdk, uint8_t a, uint16_t mrl, OptionalByte ibi, Flags f) {
            return sdk(VANTOR_SDK(i3cCccSETMRLDirect), a, mrl, ibi, f.value);
        },
        "address"_a, "mrl"_a, "ibi_length"_a = nb::none(), "flags"_a = 0);
    g.command("i3c_ccc_setxtime_broadcast", "Broadcast SETXTIME: a sub-command and its optional bytes.",
        [](auto sdk, uint8_t sub, const std::optional<ByteArg>& data, Flags f) {
            return sdk(VANTOR_SDK(i3cCccSETXTIMEBroadcast), sub, bytesOrEmpty(data), f.value);
        },
        "sub_cmd_byte"_a, "data"_a = nb::none(), "flags"_a = 0);
    g.command("i3c_ccc_setxtime_direct", "Direct SETXTIME: a sub-command and its optional bytes.",
        [](auto sdk, uint8_t a, uint8_t sub, const std::optional<ByteArg>& data, Flags f) {
            return sdk(VANTOR_SDK(i3cCccSETXTIMEDirect), a, sub, bytesOrEmpty(data), f.value);
        },
        "target_address"_a, "sub_cmd_byte"_a, "data"_a = nb::none(), "flags"_a = 0);
    g.command("i3c_ccc_setbuscon_broadcast", "Broadcast SETBUSCON: a bus context and its optional bytes.",
        [](auto sdk, uint8_t context, const std::optional<ByteArg>& data, Flags f) {
            return sdk(VANTOR_SDK(i3cCccSETBUSCONBroadcast), context, bytesOrEmpty(data), f.value);
        },
        "context"_a, "data"_a = nb::none(), "flags"_a = 0);
}
// clang-format on

template <class G>
void describe(G& g) {
    describeController(g);
    describeTransfers(g);
    describeCcc(g);
}

}  // namespace

void registerCccTable(nb::module_& m) {
    m.def(
        "i3c_ccc_table",
        [] {
            nb::list rows;
            for (const vantor::NamedCcc& op : vantor::namedCccOperations()) {
                nb::dict row;
                row["name"] = op.name;
                row["code"] = op.code;
                row["broadcast"] = op.broadcast;
                row["direction"] = op.direction;
                row["payload"] = op.payload;
                row["value"] = op.value;
                row["read_length"] = op.readLength;
                row["reply"] = op.reply;
                rows.append(row);
            }
            return nb::tuple(rows);
        },
        nb::sig("def i3c_ccc_table() -> tuple[dict[str, int | bool | str], ...]"),
        "The named common command codes the facade sends, one dict per form: name, code, "
        "broadcast, direction (write, read or caller), payload (how the arguments become the "
        "payload), value (what a one-byte value means), read_length and reply.");
}

void describeI3c(FacadeBuilder& g) {
    describe(g);
}
void describeI3c(AsyncCommandsBuilder& g) {
    describe(g);
}
void describeI3c(BatchBuilder& g) {
    describe(g);
}

}  // namespace pyvantorsdk
