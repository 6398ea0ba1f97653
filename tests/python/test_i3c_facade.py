# SPDX-License-Identifier: MIT
"""The I3C methods of DeviceFacade against a scripted adapter: the target
dictionaries, optional arguments where None means absent, the defaults, and
the decoded results."""

from __future__ import annotations

import struct
from typing import Any, Callable, Dict, List

import pytest

from helpers import response
from pyvantorsdk import I3cTransferDirection, I3cTransferFlags, StatusCode, errors

CCC = 0x1909
TRANSFER = 0x1908


def target(**overrides: Any) -> Dict[str, Any]:
    t: Dict[str, Any] = {"static_address": 0x50, "dynamic_address": 0x08,
                         "pid": bytes([1, 2, 3, 4, 5, 6]), "bcr": 0x07, "dcr": 0xC5, "mwl": 0x0102,
                         "mrl": 0x0304, "max_ibi_payload_length": 8, "configuration": 0x11}
    t.update(overrides)
    return t


TARGET_BYTES = bytes([0x50, 0x08, 1, 2, 3, 4, 5, 6, 0x07, 0xC5, 0x02, 0x01, 0x04, 0x03, 0x08, 0x11])


def without(key: str) -> Dict[str, Any]:
    t = target()
    del t[key]
    return t


@pytest.fixture
def answered(adapter):
    """Answers every request with status 0 and the parameters set on it."""

    class Script:
        status = 0
        parameters = b""

    script = Script()
    adapter.set_handler(lambda request: response(request, script.status, script.parameters))
    return script


def sent(adapter) -> List[bytes]:
    """The requests from their command code on."""
    return [r[2:] for r in adapter.requests]


# --------------------------------------------------------- target dictionaries

KEYS = list(target())


def bad(targets: Any, error: type, case: str, method: str = "i3c_init_bus",
        match: Any = None) -> Any:
    return pytest.param(method, targets, error, match, id=case)


# One converter serves both methods: the whole table on one, a row on the other.
@pytest.mark.parametrize("method, targets, error, match", [
    *[bad([without(k)], KeyError, f"missing_{k}") for k in KEYS],
    bad([target(bcr=256)], ValueError, "u8_out_of_range",
        match='^I3C target 0 "bcr" must be from 0 to 255, not 256$'),
    bad([target(static_address=-1)], ValueError, "negative_address"),
    bad([target(mwl=0x10000)], ValueError, "u16_out_of_range"),
    bad([target(), target(mrl=-(2**20000))], ValueError, "too_long_to_print",
        match='^I3C target 1 "mrl" must be from 0 to 65535, not [(]an integer of 20001 bits[)]$'),
    bad([target(dcr="0xC5")], TypeError, "text_for_int"),
    bad([target(pid=[1, 2, 3, 4, 5, 6])], TypeError, "pid_not_bytes"),
    bad([target(pid=bytearray(6))], TypeError, "pid_bytearray"),
    bad([target(pid=b"\x0a\x0b")], ValueError, "pid_short",
        match='^I3C target 0 "pid" must be 6 bytes, not 2$'),
    bad([target(), target(pid=bytes(range(10, 20)))], ValueError, "pid_long",
        match='^I3C target 1 "pid" must be 6 bytes, not 10$'),
    bad([target(), target(static_address=0x51, pid=bytes(6)), target()], ValueError, "pid_repeated",
        match='^I3C target 2 "pid" repeats the PID of I3C target 0$'),
    bad([target(pid=bytes(6)), target(pid=bytes(6))], ValueError, "zero_pid_repeated"),
    bad([target(), without("mrl")], KeyError, "second_target_missing_key"),
    bad([5], TypeError, "not_a_mapping"),
    bad([without("pid")], KeyError, "entdaa_missing_pid", method="i3c_ccc_entdaa"),
])
def test_bad_target_dictionary_sends_nothing(adapter, dev, answered, method, targets, error,
                                             match):
    with pytest.raises(error, match=match):
        getattr(dev, method)(targets)
    assert adapter.requests == []


@pytest.mark.parametrize("targets, wire", [
    pytest.param((), b"\x04\x19\x00", id="default_empty"),
    pytest.param([target()], b"\x04\x19\x01" + TARGET_BYTES, id="one_target"),
    pytest.param([dict(target(), extra="ignored")], b"\x04\x19\x01" + TARGET_BYTES,
                 id="extra_key_ignored"),
    pytest.param((target(), target(static_address=0, dynamic_address=0x09, pid=bytes(range(6)))),
                 b"\x04\x19\x02" + TARGET_BYTES + b"\x00\x09" + bytes(range(6)) + TARGET_BYTES[8:],
                 id="tuple_of_two"),
])
def test_init_bus_encodes_dictionaries(adapter, dev, answered, targets, wire):
    if targets == ():
        dev.i3c_init_bus()
    else:
        dev.i3c_init_bus(targets)
    assert sent(adapter) == [wire]


def test_device_table_reads_back_dictionaries(adapter, dev, answered):
    second = bytes([0, 0x09]) + bytes(range(20, 26)) + bytes([6, 0xC6, 0xFF, 0xFF, 0, 0, 0, 0])
    answered.parameters = b"\x02" + TARGET_BYTES + second
    table = dev.i3c_get_device_table()
    assert table[0] == target()
    assert list(table[0]) == KEYS
    assert table[1]["pid"] == bytes(range(20, 26)) and table[1]["mwl"] == 0xFFFF
    answered.parameters = b"\x03" + TARGET_BYTES + second  # one entry short
    with pytest.raises(errors.ProtocolError):
        dev.i3c_get_device_table()


# ------------------------------------------------- optional arguments, defaults


def ccc(address: int, control: int, length: int, code: int, def_byte: int,
        data: bytes = b"") -> bytes:
    return bytes([0x09, 0x19, address, control, length, code, def_byte]) + data


# (id, call, the request from its command code on)
REQUESTS = [
    ("getstatus_none_is_absent", lambda d: d.i3c_ccc_getstatus(0x08), ccc(0x08, 0x01, 2, 0x90, 0)),
    ("getstatus_zero_is_present", lambda d: d.i3c_ccc_getstatus(0x08, 0),
     ccc(0x08, 0x11, 2, 0x90, 0)),
    ("setmrl_ibi_none", lambda d: d.i3c_ccc_setmrl_direct(0x08, 0x100),
     ccc(0x08, 0, 2, 0x8A, 0, b"\x01\x00")),
    ("setmrl_ibi_zero", lambda d: d.i3c_ccc_setmrl_direct(0x08, 0x100, 0),
     ccc(0x08, 0, 3, 0x8A, 0, b"\x01\x00\x00")),
    ("setxtime_data_none", lambda d: d.i3c_ccc_setxtime_broadcast(0xDF),
     ccc(0x7E, 0, 1, 0x28, 0, b"\xdf")),
    ("setbuscon_bytearray", lambda d: d.i3c_ccc_setbuscon_broadcast(1, bytearray(b"\xaa")),
     ccc(0x7E, 0, 2, 0x0C, 0, b"\x01\xaa")),
    ("setaasa_list", lambda d: d.i3c_ccc_setaasa([0x50, 0x51]),
     ccc(0x7E, 0, 2, 0x29, 0, b"\x50\x51")),
    ("rstact_write", lambda d: d.i3c_ccc_rstact_direct(0x08, 0x81, I3cTransferDirection.WRITE),
     ccc(0x08, 0x10, 0, 0x9A, 0x81)),
    ("flags_member", lambda d: d.i3c_ccc_rstdaa(I3cTransferFlags.NONSTOP),
     ccc(0x7E, 0x08, 0, 0x06, 0)),
    ("sdr_write_default_start_with_7e", lambda d: d.i3c_sdr_write(0x30, b"", b"\xaa"),
     b"\x08\x19\x30\x10\x00\x00" + bytes(4) + b"\x01\x00\xaa"),
    ("sdr_read_default_start_with_7e", lambda d: d.i3c_sdr_read(0x30, b"\x01", 2),
     b"\x08\x19\x30\x11\x00\x01\x01" + bytes(3) + b"\x02\x00"),
    ("hdr_ddr_write_default_none", lambda d: d.i3c_hdr_ddr_write(0x30, 0x20, b"\x01\x02"),
     b"\x08\x19\x30\x02\x20\x00" + bytes(4) + b"\x02\x00\x01\x02"),
    ("use_external_default_false", lambda d: d.i3c_use_external_voltage(), b"\x0a\x04\x00"),
]


@pytest.mark.parametrize("call, wire", [r[1:] for r in REQUESTS], ids=[r[0] for r in REQUESTS])
def test_request_bytes(adapter, dev, answered, call: Callable[[Any], object], wire: bytes):
    answered.parameters = bytes(4)
    call(dev)
    assert sent(adapter) == [wire]


@pytest.mark.parametrize("call", [
    pytest.param(lambda d: d.i3c_init_bus([target(pid=n.to_bytes(6, "big")) for n in range(256)]),
                 id="init_bus_256_targets"),
    pytest.param(lambda d: d.i3c_sdr_read(0x30, bytes(5), 1), id="subaddress_over_4"),
])
def test_refused_requests_raise_and_send_nothing(adapter, dev, answered, call):
    with pytest.raises(errors.ProtocolError) as info:
        call(dev)
    assert info.value.status_code == StatusCode.SDK_ERROR_WRONG_REQUEST
    assert adapter.requests == []


# ------------------------------------------------------------------ results


# (id, call, the answer's parameters, the result)
RESULTS = [
    ("rstact_read", lambda d: d.i3c_ccc_rstact_direct(0x08, 0x81, I3cTransferDirection.READ),
     b"\0\0\0\x01\x42", 0x42),
    ("rstact_write_none", lambda d: d.i3c_ccc_rstact_direct(0x08, 1, I3cTransferDirection.WRITE),
     b"", None),
    ("read_capped", lambda d: d.i3c_sdr_read(0x30, b"", 20), b"\0\0\x14\x00" + bytes(range(12)),
     bytes(range(12))),
    ("bus_voltage", lambda d: d.i3c_get_bus_voltage(), struct.pack("<6H", 3300, 1200, 3000, 0, 0, 0),
     (1200, 3000)),
]


@pytest.mark.parametrize("call, parameters, result", [r[1:] for r in RESULTS],
                         ids=[r[0] for r in RESULTS])
def test_results(adapter, dev, answered, call, parameters, result):
    answered.parameters = parameters
    assert call(dev) == result
