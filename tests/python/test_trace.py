# SPDX-License-Identifier: MIT
"""Traffic capture from Python: pcapng files that a packet analyser reads
back, complete whatever way the program using them ends."""

from __future__ import annotations

import errno
import os
import shutil
import signal
import struct
import subprocess
import sys
import textwrap
from collections import defaultdict
from pathlib import Path

import pytest

from pyvantorsdk import DeviceFacade, I2cBus, I2cPullUp, errors, sim
from pyvantorsdk.cli.main import main

TSHARK = shutil.which("tshark")


def count_packets(path: Path) -> int:
    """The packet blocks after the two header blocks; fails on a block that
    is not whole."""
    data = path.read_bytes()
    at, count = 48, 0
    while at < len(data):
        total = struct.unpack_from("<I", data, at + 4)[0]
        assert at + total <= len(data), f"block at {at} is not whole"
        assert struct.unpack_from("<I", data, at + total - 4)[0] == total
        at, count = at + total, count + 1
    return count


@pytest.mark.skipif(TSHARK is None, reason="tshark is not installed")
def test_tshark_reads_a_session_started_before_connect_with_failed_commands(tmp_path):
    path = tmp_path / "session.pcapng"
    with sim.VirtualAdapter() as adapter, DeviceFacade(timeout_ms=200) as dev:
        adapter.i2c.attach_eeprom(I2cBus.A, 0x50)
        dev.start_trace(path)  # an os.PathLike, as well as a str
        assert dev.tracing
        assert dev.connect(adapter.path)
        dev.i2c_controller_init(I2cBus.A, 100_000, I2cPullUp.KOHM_4_7)
        dev.i2c_write(I2cBus.A, 0x50, b"\x00", b"hello", False)
        with pytest.raises(errors.I2cError):
            dev.i2c_read(I2cBus.A, 0x33, b"", 4, False)  # nobody answers at 0x33
        adapter.set_handler(lambda request: None)  # the adapter falls silent
        with pytest.raises(errors.VantorTimeoutError):
            dev.i2c_read(I2cBus.A, 0x50, b"", 4, False)
        dev.stop_trace()
        assert not dev.tracing
    # Four requests and three responses, one 64-byte report each: a
    # submission and a completion per report. (A response may be recorded
    # before its request's completion: the reader thread and the sender
    # interleave.)
    args = [str(TSHARK), "-r", str(path), "-T", "fields"]
    for field in ("usb.urb_id", "usb.urb_type", "usb.transfer_type", "usb.endpoint_address",
                  "usb.capdata"):
        args += ["-e", field]
    out = subprocess.run(args, check=True, capture_output=True, text=True, timeout=60).stdout
    rows = [line.split("\t") for line in out.splitlines()]
    urbs = defaultdict(list)
    for row in rows:
        urbs[row[0]].append(row)
    assert [[r[1] for r in urb] for urb in urbs.values()] == [["'S'", "'C'"]] * 7
    assert {r[2] for r in rows} == {"0x01"}  # interrupt transfers
    assert sorted(urb[0][3] for urb in urbs.values()) == ["0x01"] * 4 + ["0x81"] * 3
    # The write request's report carries the data written.
    assert any("68656c6c6f" in r[4] for r in rows if r[3] == "0x01")


def test_file_is_whole_when_the_process_is_killed(tmp_path):
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
    assert count_packets(path) >= 84  # 21 requests answered, 4 packets each


def test_start_errors_and_the_context_manager(dev, tmp_path):
    path = tmp_path / "kept.pcapng"
    missing = str(tmp_path / "missing" / "x.pcapng")
    with pytest.raises(errors.ProtocolError):
        with dev.trace(path):
            # A file that cannot be created raises and keeps the trace.
            with pytest.raises(FileNotFoundError) as info:
                dev.start_trace(missing)
            assert info.value.filename == missing
            assert dev.tracing
            dev.get_usb_config()
            dev.i2c_scan_bus(2)  # refused before sending: nothing recorded
    # The context manager stopped on the exception.
    assert not dev.tracing
    dev.get_usb_config()
    assert count_packets(path) == 4


# A file system that takes 600 bytes of the file and no more (a file size
# limit standing in for a full disk): the header and a few packets fit.
FULL_AT = 600
LIMIT_FILE_SIZE = textwrap.dedent(f"""
    import resource, signal, sys
    from pyvantorsdk import DeviceFacade, sim
    from pyvantorsdk.cli.main import main
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE,
                       ({FULL_AT}, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
""")
THROUGH_THE_FACADE = LIMIT_FILE_SIZE + textwrap.dedent("""
    with sim.VirtualAdapter() as adapter, DeviceFacade() as dev:
        dev.start_trace(sys.argv[1])
        assert dev.connect(adapter.path)
        for _ in range(4):
            dev.get_usb_config()  # the exchanges go on
        print("tracing", dev.tracing)
        try:
            dev.stop_trace()
        except OSError as e:
            print("raised", e.errno, e.filename)
        dev.stop_trace()  # reported once
""")
THROUGH_THE_CLI = LIMIT_FILE_SIZE + textwrap.dedent("""
    sys.exit(main(["--sim", "--trace", sys.argv[1], "i2c", "get", "-y", "A", "0x50", "0x00"]))
""")


@pytest.mark.skipif(TSHARK is None, reason="tshark is not installed")
@pytest.mark.parametrize("script, rc, said", [
    (THROUGH_THE_FACADE, 0, ["tracing False", f"raised {errno.EFBIG} "]),
    (THROUGH_THE_CLI, 1, ["i2c get: [Errno 27] File too large"]),
], ids=["facade", "cli"])
def test_a_trace_whose_disk_is_full_ends_whole_and_is_reported(tmp_path, script, rc, said):
    path = tmp_path / "full.pcapng"
    # Run outside the source tree, so that the child imports the installed package.
    done = subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True,
                          text=True, timeout=60, cwd=tmp_path)
    output = done.stdout + done.stderr
    assert done.returncode == rc, output
    for text in said + [f"trace stopped: cannot write {path}: File too large"]:
        assert text in output
    assert str(path) in output
    read = subprocess.run([str(TSHARK), "-r", str(path)], capture_output=True, text=True,
                          timeout=60)
    assert read.returncode == 0 and "cut short" not in read.stderr, read.stderr
    assert count_packets(path) >= 2
    assert os.path.getsize(path) <= FULL_AT


def test_cli_refuses_an_empty_trace_file_name(capsys):
    assert main(["--sim", "--trace", "", "i2c", "get", "-y", "A", "0x50", "0x00"]) == 2
    assert "--trace: the trace needs a file name" in capsys.readouterr().err
