# SPDX-License-Identifier: MIT
"""Traffic capture from Python: pcapng files that a packet analyser reads
back, complete whatever way the program using them ends."""

from __future__ import annotations

import shutil
import signal
import struct
import subprocess
import sys
import textwrap
from collections import defaultdict
from pathlib import Path
from typing import List, Tuple

import pytest

from pyvantorsdk import DeviceFacade, I2cBus, I2cPullUp, errors, sim

TSHARK = shutil.which("tshark")
needs_tshark = pytest.mark.skipif(TSHARK is None, reason="tshark is not installed")

# (URB type 'S'/'C', transfer type, endpoint, captured data) of each packet.
Packet = Tuple[str, int, int, bytes]


def read_packets(path: Path) -> List[Packet]:
    """Every packet of the file; fails on a block that is not whole."""
    data = path.read_bytes()
    assert data[:4] == b"\x0a\x0d\x0d\x0a"
    assert struct.unpack_from("<I", data, 8)[0] == 0x1A2B3C4D
    assert struct.unpack_from("<IIH", data, 28) == (1, 20, 220)
    packets: List[Packet] = []
    at = 48
    while at < len(data):
        kind, total = struct.unpack_from("<II", data, at)
        assert kind == 6 and at + total <= len(data), f"block at {at} is not whole"
        assert struct.unpack_from("<I", data, at + total - 4)[0] == total
        captured = struct.unpack_from("<I", data, at + 20)[0]
        header = data[at + 28:at + 28 + 64]
        urb_type, transfer, endpoint = chr(header[8]), header[9], header[10]
        packets.append((urb_type, transfer, endpoint, data[at + 28 + 64:at + 28 + captured]))
        at += total
    return packets


def tshark_fields(path: Path, *fields: str) -> List[List[str]]:
    assert TSHARK is not None
    args = [TSHARK, "-r", str(path), "-T", "fields"]
    for field in fields:
        args += ["-e", field]
    out = subprocess.run(args, check=True, capture_output=True, text=True, timeout=60).stdout
    return [line.split("\t") for line in out.splitlines()]


@pytest.fixture
def eeprom_adapter():
    with sim.VirtualAdapter() as a:
        a.i2c.attach_eeprom(I2cBus.A, 0x50)
        yield a


@needs_tshark
def test_tshark_reads_every_report_of_a_session_started_before_connect(eeprom_adapter, tmp_path):
    path = tmp_path / "session.pcapng"
    with DeviceFacade() as dev:
        dev.start_trace(str(path))
        assert dev.tracing
        assert dev.connect(eeprom_adapter.path)
        dev.i2c_controller_init(I2cBus.A, 100_000, I2cPullUp.KOHM_4_7)
        dev.i2c_write(I2cBus.A, 0x50, b"\x00", b"hello", False)
        dev.stop_trace()
        assert not dev.tracing
    # Two requests and two responses, one 64-byte report each: a submission
    # and a completion per report. (A response may be recorded before its
    # request's completion: the reader thread and the sender interleave.)
    rows = tshark_fields(path, "usb.urb_id", "usb.urb_type", "usb.transfer_type",
                         "usb.endpoint_address", "usb.capdata")
    assert len(rows) == 8
    urbs = defaultdict(list)
    for row in rows:
        urbs[row[0]].append(row)
    assert [[r[1] for r in urb] for urb in urbs.values()] == [["'S'", "'C'"]] * 4
    assert {r[2] for r in rows} == {"0x01"}  # interrupt transfers
    assert sorted(urb[0][3] for urb in urbs.values()) == ["0x01", "0x01", "0x81", "0x81"]
    # The write request's report carries the data written.
    assert any("68656c6c6f" in r[4] for r in rows if r[3] == "0x01")


def test_file_is_complete_after_a_failing_command(eeprom_adapter, tmp_path):
    path = tmp_path / "failure.pcapng"
    dev = DeviceFacade(timeout_ms=200)
    dev.start_trace(path)  # an os.PathLike works too
    assert dev.connect(eeprom_adapter.path)
    dev.i2c_controller_init(I2cBus.A, 100_000, I2cPullUp.KOHM_4_7)
    with pytest.raises(errors.I2cError):
        dev.i2c_read(I2cBus.A, 0x33, b"", 4, False)  # nobody answers at 0x33
    eeprom_adapter.set_handler(lambda request: None)  # the adapter falls silent
    with pytest.raises(errors.VantorTimeoutError):
        dev.i2c_read(I2cBus.A, 0x50, b"", 4, False)
    # Read while the trace is still open: every packet is already whole.
    packets = read_packets(path)
    out = [p for p in packets if p[0] == "S" and p[2] == 0x01]
    answered = [p for p in packets if p[0] == "C" and p[2] == 0x81]
    assert (len(out), len(answered)) == (3, 2)
    dev.disconnect()
    dev.stop_trace()


def test_file_is_whole_when_the_process_is_killed(eeprom_adapter, tmp_path):
    path = tmp_path / "killed.pcapng"
    script = textwrap.dedent(f"""
        import sys
        from pyvantorsdk import DeviceFacade, sim
        with sim.VirtualAdapter() as adapter:
            dev = DeviceFacade()
            dev.start_trace({str(path)!r})
            assert dev.connect(adapter.path)
            for i in range(1000000):
                dev.get_usb_config()
                if i == 20:
                    print("ready", flush=True)
    """)
    # Run from the temporary directory: the package is the installed one,
    # not the source tree's.
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True,
                             cwd=tmp_path)
    try:
        assert child.stdout is not None
        assert child.stdout.readline().strip() == "ready"
    finally:
        child.send_signal(signal.SIGKILL)
        child.wait(timeout=30)
    packets = read_packets(path)
    assert len(packets) >= 84  # 21 requests answered, 4 packets each
    if TSHARK is not None:
        assert len(tshark_fields(path, "usb.urb_type")) == len(packets)


class TestStartAndStop:
    def test_a_file_that_cannot_be_created_raises_and_keeps_the_trace(self, dev, tmp_path):
        path = tmp_path / "kept.pcapng"
        dev.start_trace(str(path))
        with pytest.raises(FileNotFoundError) as info:
            dev.start_trace(str(tmp_path / "missing" / "x.pcapng"))
        assert info.value.filename == str(tmp_path / "missing" / "x.pcapng")
        assert dev.tracing
        dev.get_usb_config()
        dev.stop_trace()
        assert len(read_packets(path)) == 4

    def test_context_manager_stops_on_an_exception(self, dev, tmp_path):
        path = tmp_path / "scoped.pcapng"
        with pytest.raises(errors.ProtocolError):
            with dev.trace(path):
                assert dev.tracing
                dev.i2c_scan_bus(2)  # refused before sending: nothing recorded
        assert not dev.tracing
        dev.get_usb_config()
        assert read_packets(path) == []
