# SPDX-License-Identifier: MIT
"""The vantor command as a user runs it: a separate process with the
virtual adapter of ``--sim``, its output and exit status."""

from __future__ import annotations

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from helpers import DEFAULT_GRID


def vantor(*argv: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", "pyvantorsdk", *argv],
        capture_output=True, text=True, timeout=60, cwd=cwd,
    )


# A failing command's status and line, as a separate process (the console
# script below exits 0; the in-process tests in test_cli.py cover each
# subcommand's output and the usage errors' status 2).
def test_failing_command_status_and_line(tmp_path):
    done = vantor("--sim", "i2c", "get", "-y", "A", "0x42", "0x00", cwd=tmp_path)
    assert (done.returncode, done.stdout, done.stderr) == (
        1, "", "i2c get: FW_I2C_NACK_ADDRESS (0x0203)\n")


def test_console_script_is_installed(tmp_path):
    script = Path(sys.executable).with_name("vantor")
    if not script.exists():
        pytest.skip("the package is not installed in this interpreter's environment")
    done = subprocess.run([str(script), "--sim", "i2c", "detect", "-y", "A"],
                          capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert (done.returncode, done.stdout) == (0, DEFAULT_GRID)


# A failing command's trace is test_trace.py's (the disk-full CLI case).
@pytest.mark.skipif(shutil.which("tshark") is None, reason="tshark is not installed")
def test_trace_option_writes_a_capture_tshark_reads(tmp_path):
    capture = tmp_path / "cli.pcapng"
    done = vantor("--sim", "--trace", str(capture), "i2c", "get", "-y", "A", "0x50", "0x00",
                  cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    read = subprocess.run(["tshark", "-r", str(capture), "-T", "fields", "-e", "usb.urb_type"],
                          capture_output=True, text=True, timeout=60)
    assert read.returncode == 0, read.stderr
    kinds = read.stdout.split()
    # Every transfer is a submission and its completion: the command's
    # requests (controller set-up, then the read) and their answers.
    assert len(kinds) >= 4 and len(kinds) % 2 == 0
    assert kinds.count("'S'") == kinds.count("'C'")
