# SPDX-License-Identifier: MIT
"""DeviceFacade against the virtual I3C bus, end to end: bus bring-up and
dynamic addresses, common command codes acting on the targets, private and
legacy transfers over HID and bulk, the MWL/MRL limits, in-band interrupts
and hot-join, on both adapter models."""

from __future__ import annotations

import pickle
from typing import Any, Dict, Iterator, List

import pytest

from helpers import I3C_RATES, i3c_entry
from pyvantorsdk import (
    DeviceModel,
    I3cEvent,
    I3cHotJoinNotification,
    I3cTargetResetDefByte,
    I3cTransferDirection,
    StatusCode,
    errors,
    sim,
)

# Four targets: one set up by SETDASA (static address and a different wanted
# dynamic one), one by SETAASA (static address, no wanted dynamic one), one
# by ENTDAA with a wanted address and one by ENTDAA that is not listed.
SETDASA, SETAASA, ENTDAA_WANTED, ENTDAA_FREE = 0x0A0000000001, 0x0B0000000002, 0x0C03, 0x0D04
IDENTITY: Dict[int, Dict[str, Any]] = {
    SETDASA: dict(bcr=0x07, dcr=0xC5, static_address=0x50, mwl=16, mrl=16, max_ibi_payload=4),
    SETAASA: dict(bcr=0x06, dcr=0x44, static_address=0x51, mwl=64, mrl=64),
    ENTDAA_WANTED: dict(bcr=0x03, dcr=0x63, mwl=32, mrl=32),
    ENTDAA_FREE: dict(bcr=0x00, dcr=0x11, hdr_ddr=False),
}
EEPROM = 0x54
LISTED = [
    i3c_entry(SETDASA, static=0x50, dynamic=0x30),
    i3c_entry(SETAASA, static=0x51),
    i3c_entry(ENTDAA_WANTED, dynamic=0x32),
]
ADDRESS = {SETDASA: 0x30, SETAASA: 0x51, ENTDAA_WANTED: 0x32}


@pytest.fixture(params=[DeviceModel.TERANOX, DeviceModel.QUILLEX], ids=["teranox", "quillex"])
def adapter(request) -> Iterator[sim.VirtualAdapter]:
    with sim.VirtualAdapter(model=request.param) as a:
        for pid, identity in IDENTITY.items():
            a.i3c.attach_target(pid, **identity)
        a.i3c.attach_i2c_eeprom(EEPROM, size=256, page_size=16)
        yield a


@pytest.fixture
def bus(adapter, dev) -> sim.VirtualAdapter:
    """The four targets brought up, every address known to the bench."""
    dev.i3c_controller_init(*I3C_RATES)
    dev.i3c_init_bus(LISTED)
    return adapter


def address_of(adapter, pid: int) -> int:
    state = adapter.i3c.target(pid)
    assert state is not None and state.dynamic_address is not None
    return int(state.dynamic_address)


def by_pid(table: List[Dict[str, Any]]) -> Dict[int, Dict[str, Any]]:
    return {int.from_bytes(e["pid"], "big"): e for e in table}


def i3c_status(info: pytest.ExceptionInfo) -> object:
    assert isinstance(info.value, errors.I3cError)
    return info.value.status_code


# ------------------------------------------------------------------ bring-up


def test_init_bus_assigns_every_target_and_the_table_and_get_codes_read_back(bus, dev):
    table = by_pid(dev.i3c_get_device_table())
    assert set(table) == set(IDENTITY)
    for pid, wanted in ADDRESS.items():
        assert table[pid]["dynamic_address"] == wanted
    free = address_of(bus, ENTDAA_FREE)
    assert table[ENTDAA_FREE]["dynamic_address"] == free
    assert free not in (*ADDRESS.values(), EEPROM, 0x50)
    for pid, identity in IDENTITY.items():
        row, address = table[pid], address_of(bus, pid)
        assert (row["bcr"], row["dcr"]) == (identity["bcr"], identity["dcr"])
        assert row["static_address"] == identity.get("static_address", 0)
        assert row["dynamic_address"] == address
        # The GET codes answer from the same identity.
        assert dev.i3c_ccc_getpid(address) == pid.to_bytes(6, "big")
        assert (dev.i3c_ccc_getbcr(address), dev.i3c_ccc_getdcr(address)) == \
            (identity["bcr"], identity["dcr"])
    assert len(bus.i3c.device_table()) == len(IDENTITY)


# The adapter's C++ suite goes through every refusal of the bring-up; here
# the table the facade reads back stays as it was.
@pytest.mark.parametrize(
    "listed",
    [
        [i3c_entry(ENTDAA_WANTED, dynamic=0x32), i3c_entry(ENTDAA_FREE, dynamic=0x32)],
        [i3c_entry(SETDASA, static=0x50, dynamic=0x30), i3c_entry(SETAASA, static=0x50, dynamic=0x31)],
    ],
    ids=["two-targets-want-one-address", "repeated-static-address"],
)
def test_colliding_requests_are_refused_and_leave_the_bus_alone(bus, dev, listed):
    before = dev.i3c_get_device_table()
    with pytest.raises(errors.I3cError) as info:
        dev.i3c_init_bus(listed)
    assert i3c_status(info) == StatusCode.FW_REPEATED_TARGET_ADDRESS
    assert dev.i3c_get_device_table() == before


# ------------------------------------------------------- common command codes


def test_getmrl_carries_the_ibi_size_only_when_the_target_has_one(bus, dev):
    assert dev.i3c_ccc_getmrl(address_of(bus, SETDASA)) == (16, 4)
    assert dev.i3c_ccc_getmrl(address_of(bus, SETAASA)) == (64, 0)  # payload bit, no limit
    assert dev.i3c_ccc_getmrl(address_of(bus, ENTDAA_WANTED)) == (32, None)


def test_setmwl_round_trips_direct_and_broadcast(bus, dev):
    dev.i3c_ccc_setmwl_direct(0x32, 0x0123)
    assert dev.i3c_ccc_getmwl(0x32) == 0x0123
    assert dev.i3c_ccc_getmwl(0x30) == 16
    dev.i3c_ccc_setmwl_broadcast(48)
    assert [dev.i3c_ccc_getmwl(address_of(bus, pid)) for pid in IDENTITY] == [48] * 4


# ------------------------------------------------------------- transfers


# (write, read, where the bytes land): each kind of transfer over HID and
# over bulk, the data written then read back at register 0x10.
TRANSFERS = {
    "sdr-hid": (lambda d, data: d.i3c_sdr_write(0x51, b"\x10", data),
                lambda d, n: d.i3c_sdr_read(0x51, b"\x10", n), lambda a: a.i3c.memory(SETAASA)),
    "sdr-bulk": (lambda d, data: d.i3c_sdr_write_bulk(0x51, b"\x10", data),
                 lambda d, n: d.i3c_sdr_read_bulk(0x51, b"\x10", n), lambda a: a.i3c.memory(SETAASA)),
    "hdr-ddr-hid": (lambda d, data: d.i3c_hdr_ddr_write(0x32, 0x10, data),
                    lambda d, n: d.i3c_hdr_ddr_read(0x32, 0x90, n),
                    lambda a: a.i3c.memory(ENTDAA_WANTED)),
    "hdr-ddr-bulk": (lambda d, data: d.i3c_hdr_ddr_write_bulk(0x32, 0x10, data),
                     lambda d, n: d.i3c_hdr_ddr_read_bulk(0x32, 0x90, n),
                     lambda a: a.i3c.memory(ENTDAA_WANTED)),
    "legacy-hid": (lambda d, data: d.i3c_legacy_i2c_write(EEPROM, b"\x10", data, 0),
                   lambda d, n: d.i3c_legacy_i2c_read(EEPROM, b"\x10", n, 0),
                   lambda a: a.i3c.i2c_memory(EEPROM)),
    "legacy-bulk": (lambda d, data: d.i3c_legacy_i2c_write_bulk(EEPROM, b"\x10", data),
                    lambda d, n: d.i3c_legacy_i2c_read_bulk(EEPROM, b"\x10", n),
                    lambda a: a.i3c.i2c_memory(EEPROM)),
}


@pytest.mark.parametrize("write, read, memory", TRANSFERS.values(), ids=TRANSFERS.keys())
def test_write_then_read_back(bus, dev, write, read, memory):
    data = bytes(range(0xA0, 0xAC))
    write(dev, data)
    assert read(dev, len(data)) == data
    assert memory(bus)[0x10:0x10 + len(data)] == data


@pytest.mark.parametrize(
    "call, limit",
    [
        (lambda d, n: d.i3c_sdr_write(0x30, b"\x00", bytes(n)), "MWL"),
        (lambda d, n: d.i3c_sdr_read(0x30, b"\x00", n), "MRL"),
        (lambda d, n: d.i3c_sdr_write_bulk(0x30, b"\x00", bytes(n)), "MWL"),
        (lambda d, n: d.i3c_sdr_read_bulk(0x30, b"\x00", n), "MRL"),
    ],
    ids=["mwl-hid", "mrl-hid", "mwl-bulk", "mrl-bulk"],
)
def test_transfers_pass_at_mwl_or_mrl_and_raise_beyond(bus, dev, call, limit):
    call(dev, 16)
    with pytest.raises(errors.I3cError) as info:
        call(dev, 17)
    assert i3c_status(info) == StatusCode[f"FW_I3C_TRANSFER_{limit}_REACHED"]


# ---------------------------------------------------------------- events


def test_hot_join_then_entdaa_gives_the_newcomer_an_address(bus, dev, events):
    newcomer = 0x0F06
    bus.i3c.attach_target(newcomer, bcr=0x06, dcr=0x77)
    dev.i3c_ccc_disec_broadcast(I3cEvent.HJ)
    assert bus.i3c.request_hot_join(newcomer) is False
    dev.i3c_ccc_enec_broadcast(I3cEvent.HJ)
    assert bus.i3c.request_hot_join(newcomer) is True
    assert events.wait_for(1)
    dev.get_version()
    joins = [n for n in events.items if isinstance(n, I3cHotJoinNotification)]
    assert [(n.pid, n.bcr, n.dcr) for n in joins] == [(newcomer.to_bytes(6, "big"), 0x06, 0x77)]

    dev.i3c_ccc_entdaa([i3c_entry(newcomer, dynamic=0x45)])
    assert by_pid(dev.i3c_get_device_table())[newcomer]["dynamic_address"] == 0x45
    assert address_of(bus, newcomer) == 0x45
    assert dev.i3c_ccc_getdcr(0x45) == 0x77
    assert set(by_pid(dev.i3c_get_device_table())) == set(IDENTITY) | {newcomer}


@pytest.mark.parametrize("over_bulk", [False, True], ids=["hid", "bulk"])
def test_read_past_the_end_of_memory_is_incomplete_and_keeps_its_bytes(adapter, dev, over_bulk):
    adapter.i3c.attach_target(0x0E05, memory_size=16, mrl=64)
    adapter.i3c.write_memory(0x0E05, 0, bytes(range(0xF0, 0x100)))
    dev.i3c_controller_init(*I3C_RATES)
    dev.i3c_init_bus(LISTED + [i3c_entry(0x0E05, dynamic=0x40)])
    read = dev.i3c_sdr_read_bulk if over_bulk else dev.i3c_sdr_read
    with pytest.raises(errors.I3cError) as info:
        read(0x40, b"\x0c", 8)
    assert i3c_status(info) == StatusCode.FW_I3C_TRANSFER_INCOMPLETE_READ
    assert info.value.data == b"\xfc\xfd\xfe\xff"
    assert pickle.loads(pickle.dumps(info.value)).data == info.value.data


# ------------------------------------------- resets, groups, activity states
# The RSTACT read form, the interrupt GETSTATUS reports, SETNEWDA, RSTDAA
# and the IBI enable bits are the C++ suite's (VirtualI3cTest.cpp, on the
# request bytes).


def getstatus_low(dev, address: int) -> int:
    """The low byte of GETSTATUS format 1: activity state in bits 7..6, the
    pending interrupt in bits 3..0."""
    status = dev.i3c_ccc_getstatus(address)
    assert len(status) == 2
    return status[1]


RESET = I3cTargetResetDefByte
WRITE = I3cTransferDirection.WRITE


@pytest.mark.parametrize(
    "arm, lost, activity",
    [
        (lambda d: d.i3c_ccc_rstact_broadcast(RESET.RESET_WHOLE_TARGET), set(IDENTITY), 0),
        (lambda d: d.i3c_ccc_rstact_direct(0x30, RESET.RESET_WHOLE_TARGET, WRITE), {SETDASA}, 0),
        (lambda d: d.i3c_ccc_rstact_direct(0x30, RESET.RESET_I3C_PERIPHERAL, WRITE), set(), 0),
        (lambda d: d.i3c_ccc_rstact_broadcast(RESET.NO_RESET), set(), 2),
    ],
    ids=["whole-target-broadcast", "whole-target-direct", "peripheral-direct", "no-reset"],
)
def test_rstact_chooses_what_the_reset_pattern_does(bus, dev, arm, lost, activity):
    """An armed whole-target reset loses the dynamic address; a peripheral
    reset (also what an unarmed target does) keeps it but leaves the activity
    state; no reset keeps both."""
    dev.i3c_ccc_entas2_broadcast()
    arm(dev)
    dev.i3c_target_reset_pattern()
    kept = set(IDENTITY) - lost
    assert set(by_pid(dev.i3c_get_device_table())) == kept
    assert {pid for pid in IDENTITY if bus.i3c.target(pid).dynamic_address is None} == lost
    for pid in kept:
        assert getstatus_low(dev, address_of(bus, pid)) >> 6 == activity


def group_addresses(bus) -> List[Any]:
    return [bus.i3c.target(pid).group_address for pid in IDENTITY]


def test_setgrpa_joins_targets_to_a_group_and_rstgrpa_leaves_it(bus, dev):
    dev.i3c_ccc_setgrpa_direct(0x30, 0x60)
    dev.i3c_ccc_setgrpa_direct(0x32, 0x60)  # a group has several members
    assert group_addresses(bus) == [0x60, None, 0x60, None]
    with pytest.raises(errors.I3cError) as info:  # nor is the group's address free for one
        dev.i3c_ccc_setnewda(0x51, 0x60)
    assert i3c_status(info) == StatusCode.FW_REPEATED_TARGET_ADDRESS
    dev.i3c_ccc_rstgrpa_direct(0x30)
    assert group_addresses(bus) == [None, None, 0x60, None]
    dev.i3c_ccc_setgrpa_direct(0x51, 0x61)
    dev.i3c_ccc_rstgrpa_broadcast()
    assert group_addresses(bus) == [None] * 4


@pytest.mark.parametrize(
    "group, status",
    [
        (0x32, StatusCode.FW_REPEATED_TARGET_ADDRESS),
        (EEPROM, StatusCode.FW_REPEATED_TARGET_ADDRESS),
        (0x7E, StatusCode.FW_INVALID_TARGET_ADDRESS),
        (0x3E, StatusCode.FW_INVALID_TARGET_ADDRESS),
    ],
    ids=["another-targets-address", "a-legacy-devices-address", "broadcast", "near-broadcast"],
)
def test_setgrpa_refuses_an_address_that_cannot_be_a_group(bus, dev, group, status):
    with pytest.raises(errors.I3cError) as info:
        dev.i3c_ccc_setgrpa_direct(0x30, group)
    assert i3c_status(info) == status
    assert group_addresses(bus) == [None] * 4


@pytest.mark.parametrize("state", range(4), ids=[f"entas{n}" for n in range(4)])
def test_entas_states_show_in_getstatus(bus, dev, state):
    getattr(dev, f"i3c_ccc_entas{state}_broadcast")()
    other = (state + 1) % 4
    getattr(dev, f"i3c_ccc_entas{other}_direct")(0x32)
    for pid in IDENTITY:
        expected = other if pid == ENTDAA_WANTED else state
        assert getstatus_low(dev, address_of(bus, pid)) >> 6 == expected
