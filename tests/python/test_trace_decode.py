# SPDX-License-Identifier: MIT
"""Decoding captures back into transactions: the file reader against
hostile files, the reassembly and pairing rules on hand-made traffic, and
captures of the virtual adapter decoded into the expected records."""

from __future__ import annotations

import dataclasses
import io
import json
import re
import struct
from typing import List, Optional, Sequence

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from helpers import I3C_RATES, SPI_MODE_0, UART_8N1, wait_until
from pyvantorsdk import (
    DeviceFacade,
    DeviceModel,
    GpioFunctionality,
    GpioPinNumber,
    I2cBus,
    I2cPullUp,
    errors,
    sim,
    trace,
)
from pyvantorsdk.cli.main import main
from pyvantorsdk.trace.records import data_text
from pyvantorsdk.trace.stats import CommandStats, summarize
from pyvantorsdk.trace.tables import Tables, decode_fields
from pyvantorsdk.trace.usbmon import BULK, CONTROL, INTERRUPT, UsbPacket

# ------------------------------------------------------------------ files
T0 = 1_700_000_000.0


def block(kind: int, body: bytes, order: str = "<") -> bytes:
    body += b"\0" * (-len(body) % 4)
    total = len(body) + 12
    return struct.pack(order + "II", kind, total) + body + struct.pack(order + "I", total)


def usbmon_bytes(p: UsbPacket, order: str = "<") -> bytes:
    seconds = int(p.time)
    return struct.pack(order + "QBBBBHBBqiiII8xiiII", p.urb_id, ord(p.type), p.transfer_type,
                       p.endpoint, p.device, p.bus, ord("-"), 0, seconds,
                       round((p.time - seconds) * 1e6), p.status, p.length, len(p.data),
                       0, 0, 0, 0) + p.data


def capture(packets: Sequence[UsbPacket], order: str = "<", link_type: int = 220) -> bytes:
    out = block(0x0A0D0D0A, struct.pack(order + "IHHq", 0x1A2B3C4D, 1, 0, -1), order)
    out += block(1, struct.pack(order + "HHI", link_type, 0, 0), order)
    for p in packets:
        data = usbmon_bytes(p, order)
        stamp = round(p.time * 1e6)
        out += block(6, struct.pack(order + "IIIII", 0, stamp >> 32, stamp & 0xFFFFFFFF,
                                    len(data), len(data)) + data, order)
    return out


# ----------------------------------------------------------------- traffic
class Bus:
    """Hand-made traffic of one adapter: HID reports of 64 bytes (output
    reports without the report id unless asked) and bulk transfers, each
    event a submission and a completion as the writer records them."""

    def __init__(self, device: int = 2, report_size: int = 64) -> None:
        self.device = device
        self.size = report_size
        self.urb = 0
        self.time = T0
        self.packets: List[UsbPacket] = []

    def transfer(self, transfer: int, endpoint: int, data: bytes, status: int = 0,
                 dt: float = 0.0001) -> None:
        """A submission and a completion, the data in the one its direction
        puts it in."""
        self.urb += 1
        self.time += dt
        inbound = endpoint & 0x80
        for kind, carried, result in (("S", b"" if inbound else data, -115),
                                      ("C", data if inbound else b"", status)):
            self.packets.append(UsbPacket(self.urb, kind, transfer, endpoint, self.device, 1,
                                          self.time, result, len(data), carried))

    def report_out(self, report: bytes, *, report_id: bool = False, status: int = 0) -> None:
        report = report.ljust(self.size, b"\0")
        self.transfer(INTERRUPT, 0x01, b"\0" + report if report_id else report, status)

    def report_in(self, report: bytes, dt: float = 0.0001) -> None:
        self.transfer(INTERRUPT, 0x81, report.ljust(self.size, b"\0"), dt=dt)

    def segments(self, message: bytes) -> List[bytes]:
        room = self.size - 2
        chunks = [message[i : i + room] for i in range(0, len(message), room)]
        return [struct.pack("<H", (i == 0) | (i == len(chunks) - 1) << 1 | len(c) << 2) + c
                for i, c in enumerate(chunks)]

    def send(self, message: bytes) -> None:
        for segment in self.segments(message):
            self.report_out(segment)

    def answer(self, message: bytes, dt: float = 0.0001) -> None:
        for segment in self.segments(message):
            self.report_in(segment, dt)

    def bulk_out(self, data: bytes, status: int = 0, moved: Optional[int] = None) -> None:
        self.transfer(BULK, 0x02, data, status)
        if moved is not None:  # the completion's count of bytes moved
            self.packets[-1] = dataclasses.replace(self.packets[-1], length=moved)

    def bulk_in(self, data: bytes, status: int = 0) -> None:
        self.transfer(BULK, 0x82, data, status)


def request(tid: int, code: int, params: bytes = b"") -> bytes:
    return struct.pack("<HH", tid, code) + params


def response(tid: int, code: int, status: int = 0, params: bytes = b"") -> bytes:
    return struct.pack("<HHH", tid, code, status) + params


def i2c(tid: int, code: int, length: int, address: int = 0x50, sub: bytes = b"",
        data: bytes = b"") -> bytes:
    """An I2C controller request: bus A, the subaddress as the number its
    bytes form, then the data."""
    return request(tid, code, struct.pack("<BHBBIB", 0, length, address, len(sub),
                                          int.from_bytes(sub, "big"), 0) + data)


WRITE, READ, WRITE_BULK, READ_BULK = 0x0904, 0x0905, 0x0907, 0x0908


def decode(packets: Sequence[UsbPacket], late_after: float = 2.0,
           adapter: Optional[str] = None) -> List[trace.Record]:
    decoder = trace.Decoder(adapter, late_after=late_after)
    out = [r for p in packets for r in decoder.feed_packet(p)]
    return out + decoder.finish()


def kinds(records: Sequence[trace.Record]) -> List[str]:
    return [r.kind for r in records]


WRITE_HELLO = i2c(1, WRITE, 5, sub=b"\x10", data=b"hello")
WRITE_OK = response(1, WRITE, 0, bytes([0x50, 5, 0]))


def exchange(bus: Bus) -> None:
    bus.send(WRITE_HELLO)
    bus.answer(WRITE_OK)


def scenario(name: str) -> Bus:
    bus = Bus()
    if name == "one report each way":
        exchange(bus)
    elif name == "report id on output reports":
        bus.report_out(bus.segments(WRITE_HELLO)[0], report_id=True)
        bus.answer(WRITE_OK)
    elif name == "continuation after a complete message":
        exchange(bus)
        bus.report_in(struct.pack("<H", 2 | 2 << 2) + b"zz")
    elif name == "first segment cuts an unfinished message":
        bus.report_out(struct.pack("<H", 1 | 4 << 2) + b"\1\0\4\x09")
        exchange(bus)
    elif name == "segment longer than its report":
        bus.report_in(struct.pack("<H", 3 | 200 << 2) + b"x" * 10)
        exchange(bus)
    elif name == "report of one byte":
        exchange(bus)
        bus.packets.append(UsbPacket(99, "C", INTERRUPT, 0x81, 2, 1, T0 + 1, 0, 1, b"\3"))
    elif name == "answer shorter than its header":
        bus.send(WRITE_HELLO)
        bus.answer(b"\1\0\4\x09")
    elif name == "answer with another command":
        bus.send(WRITE_HELLO)
        bus.answer(response(1, READ, 0, b"\0\0"))
    elif name == "answer without request":
        bus.answer(WRITE_OK)
    elif name == "sent again before an answer":
        bus.send(WRITE_HELLO)
        exchange(bus)
    elif name == "first segment fails to be written":
        bus.size = 8  # a report too small for the whole message
        bus.report_out(bus.segments(WRITE_HELLO)[0], status=-5)
        bus.size = 64
        exchange(bus)
    elif name == "rewritten after a failed write":
        bus.report_out(bus.segments(WRITE_HELLO)[0], status=-5)
        exchange(bus)
    elif name == "unknown notification":
        bus.answer(struct.pack("<HHH", 0, 0x1983, 0) + b"\7")
    elif name == "bulk write":
        bus.send(i2c(1, WRITE_BULK, 6))
        bus.bulk_out(b"abc")
        bus.bulk_out(b"def", status=-110, moved=1)  # timed out part way: the rest again
        bus.bulk_out(b"ef")
        bus.answer(response(1, WRITE_BULK))
    elif name == "bulk write answered before its data":
        bus.send(i2c(1, WRITE_BULK, 6))
        bus.bulk_out(b"abc")
        bus.answer(response(1, WRITE_BULK, 0, b"\x50" + struct.pack("<H", 3)))
    elif name == "bulk write fails":
        bus.send(i2c(1, WRITE_BULK, 6))
        bus.bulk_out(b"abcdef", status=-32)
    elif name == "bulk read":
        bus.send(i2c(1, READ_BULK, 5))
        bus.answer(response(1, READ_BULK, 0, b"\x50" + struct.pack("<H", 5)))
        bus.bulk_in(b"he")
        bus.bulk_in(b"llo")
        exchange(bus)
    elif name == "bulk read cut short":
        bus.send(i2c(1, READ_BULK, 5))
        bus.answer(response(1, READ_BULK, 0, b"\x50" + struct.pack("<H", 5)))
        bus.bulk_in(b"", status=-32)
        bus.send(i2c(2, READ, 1))
    elif name == "bulk data with nothing in flight":
        exchange(bus)
        bus.bulk_in(b"stray")
    elif name == "message without end":
        bus.size = 1024
        bus.report_out(struct.pack("<H", 1 | 1022 << 2) + bytes(1022))
        for _ in range(70):
            bus.report_out(struct.pack("<H", 1022 << 2) + bytes(1022))
        exchange(bus)
    elif name == "unknown status":
        bus.send(i2c(1, READ, 1))
        bus.answer(response(1, READ, 0x7777))
    elif name == "unknown command":
        bus.send(request(1, 0x0C33, b"\1\2"))
        bus.answer(response(1, 0x0C33, 0, b"\3"))
    return bus


SCENARIOS = [
    ("report id on output reports", ["transaction"], ""),
    ("continuation after a complete message", ["transaction", "malformed"],
     "a continuation segment with no message in progress was dropped"),
    ("first segment cuts an unfinished message", ["malformed", "transaction"],
     "unfinished message of 4 bytes was dropped"),
    ("segment longer than its report", ["malformed", "transaction"], "announced 200 bytes"),
    ("report of one byte", ["transaction", "malformed"], "a report of 1 byte"),
    ("answer shorter than its header", ["malformed", "unanswered"], "shorter than the 6-byte"),
    ("answer with another command", ["unsolicited", "unanswered"], "but that request was 0x0904"),
    ("answer without request", ["unsolicited"], "no request of transaction 1"),
    ("sent again before an answer", ["unanswered", "transaction"], "sent again before an answer"),
    ("rewritten after a failed write", ["transaction"], "written again after a failed write"),
    ("first segment fails to be written", ["malformed", "transaction"],
     "a report that failed to be written (status -5): the unfinished message of 6 bytes"),
    ("unknown notification", ["notification"], "unknown notification code 0x1983"),
    ("bulk read", ["transaction", "transaction"], ""),
    ("bulk write answered before its data", ["malformed"],
     "the bulk OUT data phase carried 3 of 6 bytes"),
    ("bulk write fails", ["unanswered"], "a bulk OUT transfer failed (status -32)"),
    ("bulk read cut short", ["malformed", "unanswered"],
     "a bulk IN transfer failed (status -32); the bulk IN data phase carried 0 of 5 bytes"),
    ("bulk data with nothing in flight", ["transaction", "malformed"],
     "5 bytes of bulk IN data with no bulk read in flight"),
    ("unknown command", ["transaction"], "unknown command code 0x0C33"),
    ("message without end", ["malformed", "malformed", "malformed", "transaction"],
     "a message grew past 65549 bytes: the unfinished message"),
]


@pytest.mark.parametrize("name, expected, problem", SCENARIOS, ids=[s[0] for s in SCENARIOS])
def test_reassembly_and_pairing(name, expected, problem):
    records = decode(scenario(name).packets, late_after=0.25)
    assert kinds(records) == expected
    said = [r.problem for r in records if r.problem]
    assert [p for p in said if problem in p] if problem else not said, said
    assert all(r.adapter == "1.2" for r in records)


def test_decoded_fields_and_data_phases():
    bus = scenario("bulk read")
    read, write = decode(bus.packets)
    assert (read.command, read.arguments, read.results, read.bulk_in) == (
        "CMD_I2C_CONTROLLER_READ_BULK", {"bus": "A", "length": 5, "address": 0x50,
                                         "subaddress_length": 0, "subaddress": 0, "non_stop": 0},
        {"reserved": 0x50, "count": 5},
        b"hello")
    assert read.latency == pytest.approx(0.0003, abs=1e-6)  # to the end of the IN data phase
    assert write.line() == "I2C A write 0x50 [10] 68 65 6c 6c 6f → SUCCESS in 100 µs"
    assert write.to_json()["arguments"] == {"bus": "A", "length": 5, "address": 0x50,
                                             "subaddress_length": 1, "subaddress": 0x10,
                                             "non_stop": 0, "data": "68656c6c6f"}
    (unknown,) = decode(scenario("unknown status").packets)
    assert (unknown.status, unknown.failed(), "→ 0x7777" in unknown.line()) == (None, True, True)
    (bulk,) = decode(scenario("bulk write").packets)
    assert bulk.bulk_out == b"abcdef" and bulk.problem == ""


def f(name: str, type: str = "u8", count: str = "", optional: bool = False, enum: str = ""):
    return {"name": name, "type": type, "enum": enum, "count": count, "optional": optional}


N, DATA = f("n"), f("data", "bytes", count="n")


@pytest.mark.parametrize("fields, message, values, problem, short", [
    ([f("a", "u16"), f("b", "u16be"), f("c", "u32")], b"\1\2\1\2\4\3\2\1",
     {"a": 0x201, "b": 0x102, "c": 0x1020304}, "", False),
    ([f("pin", enum="GpioPinNumber"), f("x", enum="GpioPinNumber")], b"\2\x63",
     {"pin": "PIN_3", "x": 0x63}, "", False),
    ([N, DATA], b"\5ab", {"n": 5, "data": b"ab"}, "'n' announces 5 bytes of 'data', 2 present",
     False),
    ([N, f("data", "bytes", count="n", optional=True)], b"\5", {"n": 5}, "", False),
    ([f("pid", "bytes", count="6")], b"abc", {}, "the message ends inside 'pid'", True),
    ([f("pid", "bytes", count="6", optional=True)], b"abc", {}, "", False),
    ([f("a"), f("b", "u16")], b"\1\2", {"a": 1}, "the message ends before 'b'", True),
    ([f("a"), f("b", "u16", optional=True), f("c")], b"\1", {"a": 1}, "", False),
    ([f("a"), f("rest", "bytes", count="*")], b"\1xyz", {"a": 1, "rest": b"xyz"}, "", False),
], ids=["scalar-byte-orders", "enum-member-or-number", "count-beyond-message",
        "optional-counted-absent", "fixed-bytes-cut", "optional-fixed-bytes-cut",
        "scalar-cut", "optional-tail-absent", "rest-of-message"])
def test_field_decoding(fields, message, values, problem, short):
    found, _raw, problems, was_short = decode_fields(fields, message, 0, Tables((), ()))
    assert (found, "; ".join(problems), was_short) == (values, problem, short)


@pytest.mark.parametrize("adapter, expected", [(None, ["transaction"]), ("1.2", ["transaction"]),
                                               ("1.3", [])],
                         ids=["all", "the-adapter", "the-mouse"])
def test_a_usbmon_capture_of_the_whole_bus(adapter, expected):
    """Another device (a mouse with 4-byte reports, control transfers of
    enumeration) shares the bus: only the adapter's traffic is decoded."""
    mouse = Bus(device=3)
    mouse.transfer(INTERRUPT, 0x81, b"\1\2\3\4")
    mouse.transfer(CONTROL, 0x00, b"\x80\6" + bytes(6))
    ours = scenario("one report each way")
    data = capture(sorted(mouse.packets + ours.packets, key=lambda p: p.time))
    assert kinds(trace.read(io.BytesIO(data), adapter)) == expected


# ---------------------------------------------------------- hostile files
GOOD = capture(scenario("one report each way").packets)
HEADERS = 28 + 20  # section header and interface description


FIRST = struct.unpack_from("<I", GOOD, HEADERS + 4)[0]  # the first packet block's length


def patched(at: int, value: int) -> bytes:
    return GOOD[:at] + struct.pack("<I", value) + GOOD[at + 4:]


@pytest.mark.parametrize("data, error, last_problem", [
    (b"", "the file is empty", None),
    (b"garbage " * 20, "not a pcapng file", None),
    (GOOD[:20], "not a usable pcapng file", None),
    (patched(12, 2), "format version 2, not 1", None),
    (capture([], link_type=1), "link type 1 (Ethernet)", None),
    (capture(scenario("one report each way").packets, order=">"), None, None),
    (GOOD[:-10], None, "the file ends inside a block"),
    (GOOD + b"\6\0\0", None, "the file ends inside a block header"),
    (patched(HEADERS + 4, 0x7FFFFFF0), None, "a block claims 2147483632 bytes"),
    (patched(HEADERS + 4, 0), None, "a block claims 0 bytes"),
    (patched(HEADERS + 4, 130), None, "a block claims 130 bytes"),
    (patched(HEADERS + FIRST - 4, FIRST + 4), None, "a block's two length fields disagree"),
    (patched(HEADERS + 8, 5), None, "a packet on interface 5, which no block describes"),
    (patched(HEADERS + 20, 4000), None, "a packet claims 4000 bytes"),
], ids=["empty", "garbage", "cut-in-section-header", "format-version-2", "another-link-type",
        "big-endian", "truncated-mid-block", "truncated-mid-header", "length-huge",
        "length-zero", "length-not-multiple-of-4", "lengths-disagree", "undeclared-interface",
        "captured-length-beyond-block"])
def test_hostile_files(data, error, last_problem):
    if error is not None:
        with pytest.raises(trace.TraceError, match=error.replace("(", r"\(").replace(")", r"\)")):
            list(trace.read(io.BytesIO(data)))
        return
    records = list(trace.read(io.BytesIO(data)))
    if last_problem is None:
        assert kinds(records) == ["transaction"] and records[0].problem == ""
    else:
        assert [r for r in records if r.kind == "malformed" and last_problem in r.problem]


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.tuples(st.integers(0, len(GOOD) - 1), st.integers(0, 255)), max_size=8),
       st.integers(HEADERS - 8, len(GOOD)))
def test_reader_survives_damaged_files(changes, cut):
    data = bytearray(GOOD[:cut])
    for at, value in changes:
        if at < len(data):
            data[at] = value
    try:
        records = list(trace.read(io.BytesIO(bytes(data))))
    except trace.TraceError:
        return
    assert len(records) <= 4


CODES = sorted(Tables().commands) + sorted(Tables().notifications)


@settings(max_examples=80, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.tuples(st.sampled_from(["send", "answer", "bulk_in", "bulk_out"]),
                          st.integers(0, 2), st.sampled_from(CODES), st.binary(max_size=90)),
                max_size=12), st.sampled_from([64, 1024]))
def test_decoder_survives_any_traffic(events, size):
    """Messages of every known code with arbitrary parameters (notifications
    among the answers) and stray data phases, in any order."""
    bus = Bus(report_size=size)
    for what, tid, code, params in events:
        message = struct.pack("<HH", 0 if code & 0x80 else tid, code) + params
        getattr(bus, what)(params if what.startswith("bulk") else message)
    decoder = trace.Decoder(late_after=0.0)
    for record in [r for p in bus.packets for r in decoder.feed_packet(p)] + decoder.finish():
        assert record.line() and json.dumps(record.to_json())


# --------------------------------------------------------------------- CLI
def filter_capture(path) -> None:
    bus = Bus()
    exchange(bus)  # I2C, SUCCESS, 100 µs
    bus.send(i2c(2, READ, 1, 0x33))
    bus.answer(response(2, READ, 0x0203), dt=0.003)  # I2C, NACK, 3 ms
    bus.send(request(3, 0x1403, b"\2"))
    bus.answer(response(3, 0x1403, 0, b"\1"))  # GPIO, SUCCESS
    bus.send(request(4, 0x1403, b"\2"))  # never answered
    path.write_bytes(capture(bus.packets))


def far_future(path) -> None:
    bus = Bus()
    bus.time = 1e13  # past the calendar's year 9999
    exchange(bus)
    path.write_bytes(capture(bus.packets))


@pytest.mark.parametrize("make, options, rc, count, said", [
    (filter_capture, [], 0, 4, ""),
    (filter_capture, ["--family", "gpio"], 0, 2, ""),
    (filter_capture, ["--status", "failed"], 0, 2, "FW_I2C_NACK_ADDRESS"),
    (filter_capture, ["--status", "ok"], 0, 2, ""),
    (filter_capture, ["--status", "fw_i2c_nack_address"], 0, 1, "→ FW_I2C_NACK_ADDRESS"),
    (filter_capture, ["--slower-than", "1ms"], 0, 1, "FW_I2C_NACK_ADDRESS in 3 ms"),
    (filter_capture, ["--adapter", "1.3"], 0, 0, ""),
    (filter_capture, ["--status", "bogus"], 2, 0, "invalid status 'bogus'"),
    (filter_capture, ["--slower-than", "soon"], 2, 0, "invalid duration 'soon'"),
    (lambda p: p.write_bytes(b"not a capture"), [], 1, 0,
     "trace decode: {path}: not a pcapng file (it does not start with a section header)"),
    (far_future, [], 0, 1, "10000000000000.000000  I2C A write 0x50 [10] 68 65 6c 6c 6f"),
], ids=["all", "family", "status-failed", "status-ok", "status-name", "slower-than", "adapter",
        "unknown-status", "bad-duration", "not-a-capture", "time-past-the-calendar"])
def test_cli_decode(tmp_path, capsys, make, options, rc, count, said):
    path = tmp_path / "t.pcapng"
    make(path)
    assert main(["trace", "decode", str(path), *options]) == rc
    out, err = capsys.readouterr()
    assert len(out.splitlines()) == count
    assert said.format(path=path) in out + err


def test_stats_add_up_per_command(tmp_path):
    path = tmp_path / "t.pcapng"
    filter_capture(path)
    summary = summarize(trace.read(path)).to_json()
    rows = {c["command"]: (c["count"], c["failures"], c["bytes"]) for c in summary["commands"]}
    assert rows == {"CMD_I2C_CONTROLLER_WRITE": (1, 0, 5), "CMD_I2C_CONTROLLER_READ": (1, 1, 0),
                    "CMD_GPIO_DIGITAL_READ": (2, 1, 0)}
    assert summary["records"] == {"transaction": 3, "unanswered": 1}


@pytest.mark.parametrize("latencies, expected", [
    ([], None),
    ([3.0], (3.0, 3.0, 3.0, 3.0)),
    ([4.0, 1.0, 3.0, 2.0], (1.0, 2.5, 4.0, 4.0)),
    ([float(n) for n in range(200, 0, -1)], (1.0, 100.5, 198.0, 200.0)),
], ids=["none-answered", "one", "even-count-median", "p99-nearest-rank"])
def test_latency_summary(latencies, expected):
    timing = CommandStats("X", "i2c", latencies=latencies).latency()
    assert (timing and tuple(timing.values())) == expected


# ------------------------------------------------- captures of the adapter
def without_latency(line: str) -> str:
    return re.sub(r" in [0-9.]+ (µs|ms|s)\b", "", line)


def eeprom(adapter, dev) -> DeviceFacade:
    adapter.i2c.attach_eeprom(0, 0x50)
    dev.i2c_controller_init(I2cBus.A, 100_000, I2cPullUp.KOHM_4_7)
    return dev


def late_answer(adapter, dev) -> None:
    dev.gpio_configure_pin(GpioPinNumber.PIN_2, GpioFunctionality.DIGITAL_INPUT)
    adapter.faults.hold_answers()
    with pytest.raises(errors.VantorTimeoutError):
        dev.gpio_digital_read(GpioPinNumber.PIN_2)
    adapter.faults.hold_answers(False)


def uart_loopback(adapter, dev) -> None:
    adapter.uart.loopback = True
    dev.uart_init(*UART_8N1)
    dev.uart_send_message(b"hi")


def i3c_bus(adapter, dev) -> None:
    # One command code moves data either way: the direction decides the data phase.
    adapter.i3c.attach_target(0x0123456789AB, bcr=0x07, dcr=0xC5, static_address=0x50)
    dev.i3c_controller_init(*I3C_RATES)
    dev.i3c_init_bus()
    dev.i3c_ccc_getbcr(0x08)
    dev.i3c_sdr_write_bulk(0x08, b"", b"abc")
    dev.i3c_sdr_read_bulk(0x08, b"", 3)


INIT = "I2C A init frequency=100000 pull_up=KOHM_4_7 → SUCCESS"
CAPTURES = [
    # Both requests and the read's answer take several 64-byte reports.
    ("i2c", DeviceModel.TERANOX, lambda a, d: (
        eeprom(a, d), d.i2c_write(I2cBus.A, 0x50, b"\x10", bytes(150), False),
        d.i2c_read(I2cBus.A, 0x50, b"\x10", 100, False), d.i2c_scan_bus(I2cBus.A),
        pytest.raises(errors.I2cError, d.i2c_read, I2cBus.A, 0x33, b"", 1, False)),
     [INIT, "I2C A write 0x50 [10] " + data_text(bytes(150)) + " → SUCCESS",
      "I2C A read 0x50 [10] length=100 → SUCCESS " + data_text(bytes(100)),
      "I2C A scan bus → SUCCESS count7=1 count10=0 addresses_7bit=50",
      "I2C A read 0x33 length=1 → FW_I2C_NACK_ADDRESS"]),
    ("many-segments-1024", DeviceModel.QUILLEX, lambda a, d: (
        eeprom(a, d), d.i2c_write(I2cBus.A, 0x50, b"\x00", bytes(1020), False),
        d.i2c_read(I2cBus.A, 0x50, b"\x00", 1020, False)),
     [INIT, "I2C A write 0x50 [00] " + data_text(bytes(1020)) + " → SUCCESS",
      "I2C A read 0x50 [00] length=1020 → SUCCESS " + data_text(bytes(1020))]),
    ("spi-transfer", DeviceModel.TERANOX, lambda a, d: (
        a.spi.attach_flash(0, size=1 << 20), d.spi_controller_init(*SPI_MODE_0, 1_000_000),
        d.spi_transfer(b"\x9f", 4)),
     ["SPI init bit_order=MSB mode=MODE_0 data_width=BITS_8 chip_select=CS_0 "
      "chip_select_polarity=ACTIVE_LOW frequency=1000000 → SUCCESS",
      "SPI transfer data_length=1 9f → SUCCESS ff a7 40 14"]),
    ("uart-send-and-receive", DeviceModel.TERANOX, uart_loopback,
     ["UART init baud_rate=BAUD_115200 hardware_handshake=DISABLED parity=NONE data_size=BITS_8 "
      "stop_bit=ONE → SUCCESS", "UART send message 68 69 → SUCCESS", "UART notification 68 69"]),
    ("i3c-ccc-and-bulk-both-ways", DeviceModel.TERANOX, i3c_bus,
     ["I3C init push_pull_rate=PUSH_PULL_3_125_MHZ_DC_25 open_drain_rate=OPEN_DRAIN_1_MHZ "
      "i2c_rate=FAST_MODE drive_strength=STANDARD → SUCCESS",
      "I3C init bus target_count=0 → SUCCESS",
      "I3C ccc transfer 0x08 control=1 ccc=getbcr → SUCCESS 07",
      "SYSTEM get bulk capabilities → SUCCESS capability_info=1 supported=1 group_count=3 "
      "groups=(21 bytes)",
      "I3C transfer bulk 0x08 control=0 61 62 63 → SUCCESS",
      "I3C transfer bulk 0x08 control=1 length=3 → SUCCESS 00 00 00"]),
    ("late-answer", DeviceModel.TERANOX, late_answer,
     ["GPIO configure pin pin=PIN_2 functionality=DIGITAL_INPUT → SUCCESS",
      "GPIO digital read pin=PIN_2 → SUCCESS level=LOW (late answer: {late} after the "
      "request, past the 50 ms timeout)"]),
    ("malformed-reports", DeviceModel.TERANOX, lambda a, d: (
        a.send_report(struct.pack("<H", 3 | 1000 << 2) + b"x" * 10), a.send(b"\1\0\4"),
        a.send(struct.pack("<HHH", 0, 0x1481, 0) + b"\2")),
     ["? → malformed (a segment announced 1000 bytes in a report of 12 was dropped)",
      "? message=010004 → malformed (a message of 3 bytes, shorter than the 6-byte header)",
      "GPIO notification pin=PIN_3 → malformed (the message ends before 'edge')"]),
]


@pytest.mark.parametrize("name, model, actions, expected", CAPTURES,
                         ids=[row[0] for row in CAPTURES])
def test_captures_of_the_virtual_adapter(tmp_path, name, model, actions, expected):
    path = tmp_path / "t.pcapng"
    with sim.VirtualAdapter(model) as adapter, DeviceFacade(timeout_ms=50) as dev:
        dev.start_trace(path)
        assert dev.connect(adapter.path)
        actions(adapter, dev)

        def lines() -> List[str]:
            out = [without_latency(r.line()) for r in trace.read(path, late_after=0.05)]
            return [re.sub(r"late answer: [0-9.]+ (ms|s)", "late answer: {late}", line)
                    for line in out]

        # Notifications and late answers arrive on their own time.
        wait_until(lambda: lines() == expected)
        dev.stop_trace()
    assert lines() == expected

