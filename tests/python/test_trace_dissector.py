# SPDX-License-Identifier: MIT
"""The generated Wireshark dissector: tshark reads captures of the virtual
adapter with it, and finds the commands, transaction ids, statuses and
fields that the Python decoder finds in the same files."""

from __future__ import annotations

import json
import shutil
import struct
import subprocess
from pathlib import Path
from typing import Any, Dict, List

import pytest

from helpers import I3C_RATES, SPI_MODE_0, UART_8N1, Collector
from pyvantorsdk import (
    DeviceFacade,
    DeviceModel,
    I2cBus,
    I2cPullUp,
    errors,
    sim,
)
from pyvantorsdk._cpp import _pyvantorsdk_cpp as native
from pyvantorsdk.cli.main import main
from pyvantorsdk.trace import dissector, read

TSHARK = shutil.which("tshark")
COMMANDS: List[Dict[str, Any]] = [dict(row) for row in native.command_table()]
NOTIFICATIONS: List[Dict[str, Any]] = [dict(row) for row in native.notification_table()]
CCC: List[Dict[str, Any]] = [dict(row) for row in native.i3c_ccc_table()]
needs_tshark = pytest.mark.skipif(
    TSHARK is None, reason="tshark is not installed (scripts/setup.sh installs it when run as root)")


@pytest.fixture(scope="module")
def script(tmp_path_factory) -> Path:
    path = tmp_path_factory.mktemp("dissector") / "vantor.lua"
    path.write_text(dissector.generate_dissector(), encoding="utf-8")
    return path


def flatten(layer: Dict[str, Any], into: Dict[str, Any]) -> Dict[str, Any]:
    for key, value in layer.items():
        if isinstance(value, dict):
            flatten(value, into)
        elif key.startswith(("vantor.", "usb.device_address", "usb.endpoint_address")):
            into[key] = value
    return into


def tshark(script: Path, capture: Path) -> List[Dict[str, Any]]:
    """The packets tshark's second pass dissects as ours, a flat dict of
    field values each; a Lua error (loading or dissecting) fails."""
    done = subprocess.run(
        [str(TSHARK), "-2", "-X", f"lua_script:{script}", "-r", str(capture), "-Y", "vantor",
         "-T", "json", "-J", "frame usb vantor"],
        capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert "Lua" not in done.stderr and "Lua Error" not in done.stdout, done.stderr + done.stdout
    return [flatten(p["_source"]["layers"], {}) for p in json.loads(done.stdout or "[]")]


def field(name, type="u8", count="", enum=""):
    return {"name": name, "type": type, "enum": enum, "count": count, "optional": False}


def command(code=0x0904, request=(), response=(), **more):
    return {"name": f"CMD_{code}", "code": code, "family": "i2c", "request": request,
            "response": response, **more}


@pytest.mark.parametrize("commands, message", [
    ([command(request=(field("x", "u24"),))], "unknown type 'u24'"),
    ([command(request=(field("data", "bytes", "length"), field("length", "u16")))],
     "count from 'length', which is not an earlier field"),
    ([command(response=(field("count", "u16"),), bulk_in="request.count")],
     "missing field 'count'"),
    ([command(), command()], "taken by CMD_2308"),
], ids=["unknown-type", "count-after-the-data", "bulk-in-request-field-missing", "code-twice"])
def test_generator_refuses_tables_it_would_misread(commands, message):
    with pytest.raises(ValueError, match=message):
        dissector.generate_tables(commands, [], [], {})


@pytest.mark.parametrize("output, stdout, stderr", [
    (None, "-- Wireshark dissector", "install the script by saving it into "
     "~/.local/lib/wireshark/plugins/"),
    ("new/vantor.lua", "wrote ", ""),
], ids=["to-stdout", "into-a-new-folder"])
def test_cli_writes_the_script(tmp_path, capsys, output, stdout, stderr):
    args = ["trace", "dissector"] + (["-o", str(tmp_path / output)] if output else [])
    assert main(args) == 0
    out, err = capsys.readouterr()
    assert out.startswith(stdout) and stderr in err
    if output:
        assert (tmp_path / output).read_text() == dissector.generate_dissector()
        assert out.endswith("install it by copying it into ~/.local/lib/wireshark/plugins/\n")


# ------------------------------------------------------ captures of the sim
def i2c_init(adapter, dev):
    dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)


def i3c_bulk(adapter, dev):
    # One command code for both directions: a control bit picks the phase.
    address = dev.i3c_get_device_table()[0]["dynamic_address"]
    dev.i3c_ccc_getbcr(address)
    dev.i3c_sdr_write_bulk(address, b"", b"z" * 40)
    dev.i3c_sdr_read_bulk(address, b"", 30)


# model, the calls made on (adapter, dev), the notifications they bring
SESSIONS = [
    pytest.param(DeviceModel.TERANOX, [
        i2c_init, lambda a, d: d.i2c_write(I2cBus.A, 0x50, b"\x00", bytes(range(100)), False),
        lambda a, d: d.i2c_read(I2cBus.A, 0x50, b"\x00", 5, False),
        lambda a, d: pytest.raises(errors.I2cError, d.i2c_read, I2cBus.A, 0x33, b"", 1, False),
    ], 0, id="i2c-two-segments-and-a-nack"),
    pytest.param(DeviceModel.TERANOX, [
        i2c_init, lambda a, d: d.i2c_write_bulk(I2cBus.A, 0x50, b"\x00", b"x" * 300, False),
        lambda a, d: d.i2c_read_bulk(I2cBus.A, 0x50, b"\x00", 200, False),
    ], 0, id="i2c-bulk-phases"),
    pytest.param(DeviceModel.TERANOX, [
        lambda a, d: d.spi_controller_init(*SPI_MODE_0, 1_000_000),
        lambda a, d: d.spi_transfer(b"\x9f", 4), lambda a, d: d.spi_write_bulk(b"y" * 104),
    ], 0, id="spi"),
    pytest.param(DeviceModel.TERANOX, [
        lambda a, d: d.uart_init(*UART_8N1), lambda a, d: d.uart_send_message(b"hello"),
        lambda a, d: a.uart.inject(b"ping"),
    ], 1, id="uart-and-its-notification"),
    pytest.param(DeviceModel.TERANOX, [
        lambda a, d: a.i3c.attach_target(0x0123456789AB, bcr=7, dcr=0xC5, static_address=0x50),
        lambda a, d: d.i3c_controller_init(*I3C_RATES), lambda a, d: d.i3c_init_bus(), i3c_bulk,
    ], 0, id="i3c-ccc-and-bulk-both-ways"),
    pytest.param(DeviceModel.QUILLEX, [
        i2c_init, lambda a, d: d.i2c_write(I2cBus.A, 0x50, b"\x00\x00", bytes(1024), False),
    ], 0, id="two-segments-of-1024-byte-reports"),
]


def record(path: Path, model: DeviceModel, calls, notices: int = 0) -> List[bytes]:
    """Makes the calls on a fresh adapter with an EEPROM at 0x50, tracing
    into `path`; returns the requests the adapter received."""
    with sim.VirtualAdapter(model=model) as adapter, DeviceFacade(timeout_ms=500) as dev:
        adapter.i2c.attach_eeprom(I2cBus.A, 0x50)
        events = Collector()
        dev.on_notification(events)
        dev.start_trace(path)
        assert dev.connect(adapter.path)
        for call in calls:
            call(adapter, dev)
        assert events.wait_for(notices)
        dev.stop_trace()
        return adapter.requests


def as_bytes(text: str) -> bytes:
    return bytes.fromhex(text.replace(":", ""))


@needs_tshark
@pytest.mark.parametrize("model, calls, notices", SESSIONS)
def test_tshark_and_the_decoder_read_the_session_alike(tmp_path, script, model, calls, notices):
    capture = tmp_path / "session.pcapng"
    sent = record(capture, model, calls, notices)
    packets = tshark(script, capture)
    # Every request the adapter reassembled, byte for byte, in order.
    assert [as_bytes(p["vantor.message"]) for p in packets
            if p.get("vantor.direction") == "request"] == sent
    # Requests and responses point at each other (the second pass shows both links).
    links = {"request": "vantor.response_in", "response": "vantor.request_in"}
    assert all(links[p["vantor.direction"]] in p for p in packets
               if p.get("vantor.direction") in links)
    compare_with_decoder(capture, packets, notices)


def compare_with_decoder(capture: Path, packets: List[Dict[str, Any]], notified: int) -> None:
    """The decoder's records and tshark's messages agree on every command,
    transaction id, status, field and data phase."""
    abbrevs = dissector.field_abbreviations()
    layouts = {int(r["code"]): r for r in COMMANDS}
    notices = {int(r["code"]): r for r in NOTIFICATIONS}
    notifications = [p for p in packets if p.get("vantor.direction") == "notification"]
    shown = {(p["vantor.direction"], p["vantor.tid"], int(p["vantor.command"], 0)): p
             for p in packets if p.get("vantor.direction") in ("request", "response")}
    assert len(notifications) == notified
    for r in read(capture):
        assert r.kind in ("transaction", "notification"), r
        if r.kind == "notification":
            p = notifications.pop(0)
            assert int(p["vantor.command"], 0) == r.code
            check_fields(abbrevs, notices[r.code]["family"], notices[r.code]["fields"],
                         r.arguments, p)
            continue
        row = layouts[r.code]
        request = shown[("request", str(r.transaction_id), r.code)]
        response = shown[("response", str(r.transaction_id), r.code)]
        assert int(response["vantor.status"], 0) == r.status_code
        check_fields(abbrevs, row["family"], row["request"], r.arguments, request)
        check_fields(abbrevs, row["family"], row["response"], r.results, response)
        for direction, data in ((0, r.bulk_out), (1, r.bulk_in)):
            phase = b"".join(as_bytes(p["vantor.bulk.data"]) for p in packets
                             if p.get("vantor.bulk.tid") == str(r.transaction_id)
                             and int(p["usb.endpoint_address"], 0) >> 7 == direction)
            assert phase == data, r
    assert not notifications


def check_fields(abbrevs, family, layout, values, packet) -> None:
    for field in layout:
        if field["name"] not in values:
            continue
        expected = values[field["name"]]
        text = packet.get(abbrevs[(family, field["name"], field["type"], field["enum"])], "")
        if isinstance(expected, bytes):
            assert as_bytes(text) == expected, field
        elif isinstance(expected, str) and field["enum"] == "ccc":
            codes = {r["name"].upper(): r["code"] for r in CCC}
            assert int(text, 0) == codes[expected.upper()], field
        elif isinstance(expected, str):
            assert int(text, 0) == getattr(native, field["enum"])[expected].value, field
        else:
            assert int(text, 0) == expected, field


# ---------------------------------------------------------- built captures
USBMON = struct.Struct("<QcBBBHccqiiII8siiII")
FILE_HEADER = (struct.pack("<IIIHHqI", 0x0A0D0D0A, 28, 0x1A2B3C4D, 1, 0, -1, 28)
               + struct.pack("<IIHHII", 1, 20, 220, 0, 0, 20))


def packet(data: bytes, endpoint: int = 0x01, transfer: int = 1, captured: int = -1,
           device: int = 1) -> bytes:
    """One packet block of USB device 1.`device` carrying `data` (of which
    only `captured` bytes are in the file, when given)."""
    body = USBMON.pack(1, b"S" if endpoint < 0x80 else b"C", transfer, endpoint, device, 1, b"-",
                       b"\0", 0, 0, 0, len(data), len(data), bytes(8), 1, 0, 0, 0) + data
    kept = body[:64 + captured] if captured >= 0 else body
    padded = kept + bytes(-len(kept) % 4)
    return struct.pack("<IIIIIII", 6, 32 + len(padded), 0, 0, 0, len(kept), len(body)) + \
        padded + struct.pack("<I", 32 + len(padded))


def report(message: bytes, flags: int = 3, chunk: int = -1) -> bytes:
    """A 64-byte report carrying `message` as one segment (flags: 1 first,
    2 last); `chunk` overrides the announced length."""
    length = len(message) if chunk < 0 else chunk
    return (struct.pack("<H", flags | length << 2) + message).ljust(64, b"\0")


GET_USB_CONFIG = struct.pack("<HH", 1, 0x040E)
# An I2C write request: bus A, 5 bytes, to 0x50, no subaddress, then data.
I2C_WRITE = struct.pack("<HHBHBBIB", 2, 0x0904, 0, 5, 0x50, 0, 0, 0)


# packets after one well-formed request, and the experts tshark must show
# (malformed, unknown code, response without request); None: not ours.
@needs_tshark
@pytest.mark.parametrize("packets, experts", [
    ([packet(report(b"", chunk=1023))], (1, 0, 0)),
    ([packet(b"\x13")], (1, 0, 0)),
    ([packet(report(I2C_WRITE + b"hello"), captured=9)], (1, 0, 0)),
    ([packet(report(GET_USB_CONFIG, flags=2))], (1, 0, 0)),
    ([packet(report(b"\x01\x00\x0e"), 0x81)], (1, 0, 0)),
    ([packet(report(I2C_WRITE[:7]))], (1, 0, 0)),
    ([packet(report(I2C_WRITE + b"hi"))], (1, 0, 0)),
    ([packet(report(b"\x03\x00\xff\x7f")), packet(b"orphan", 0x82, transfer=3)], (0, 1, 0)),
    ([packet(report(I2C_WRITE, flags=1)), packet(report(GET_USB_CONFIG))], (0, 0, 0)),
    ([packet(report(struct.pack("<HHH", 9, 0x040E, 0)), 0x81)], (0, 0, 1)),
    ([packet(report(struct.pack("<HH", 1, 0x7777)), device=3)], None),
], ids=["chunk-longer-than-report", "report-shorter-than-header",
        "report-cut-short-in-the-capture", "continuation-without-first-segment",
        "message-shorter-than-header", "fields-cut-short", "data-shorter-than-length",
        "unknown-code-and-bulk-with-no-command", "first-segment-drops-the-unfinished-message",
        "response-without-request", "another-device-with-no-known-code-is-not-ours"])
def test_hostile_reports_are_flagged_without_lua_errors(tmp_path, script, packets, experts):
    capture = tmp_path / "hostile.pcapng"
    capture.write_bytes(FILE_HEADER + packet(report(GET_USB_CONFIG)) + b"".join(packets))
    found = tshark(script, capture)
    assert len(found) == 1 + (len(packets) if experts else 0)
    assert experts is None or tuple(sum(f"vantor.{name}" in p for p in found)
                 for name in ("malformed", "unknown", "unmatched")) == experts


def blocks(path: Path, device: int) -> List[bytes]:
    """The packet blocks of a capture, moved to USB device `device`."""
    data, at, found = path.read_bytes(), len(FILE_HEADER), []
    while at < len(data):
        total = struct.unpack_from("<I", data, at + 4)[0]
        block = bytearray(data[at:at + total])
        block[28 + 11] = device
        found.append(bytes(block))
        at += total
    return found


@needs_tshark
def test_two_adapters_interleaved_in_one_capture_keep_their_messages_apart(tmp_path, script):
    # Both sessions use the same transaction ids and send messages of
    # several segments; their packets alternate in the merged file.
    one, two, both = (tmp_path / name for name in ("one.pcapng", "two.pcapng", "both.pcapng"))
    record(one, *SESSIONS[0].values[:2])  # two segments of 64-byte reports
    record(two, *SESSIONS[-1].values[:2])  # two of 1024-byte reports
    a, b = blocks(one, 1), blocks(two, 2)
    merged = [block for pair in zip(a, b) for block in pair] + a[len(b):] + b[len(a):]
    both.write_bytes(FILE_HEADER + b"".join(merged))

    def seen(packets, device):
        return [(p["vantor.direction"], p["vantor.tid"], p["vantor.command"],
                 p.get("vantor.status"), p["vantor.message"])
                for p in packets if "vantor.message" in p and p["usb.device_address"] == device]

    merged_packets = tshark(script, both)
    assert seen(merged_packets, "1") == seen(tshark(script, one), "1")
    assert seen(merged_packets, "2") == seen(tshark(script, two), "1")
    assert len(seen(merged_packets, "2")) == 4
