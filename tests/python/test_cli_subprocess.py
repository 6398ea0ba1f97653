# SPDX-License-Identifier: MIT
"""The vantor command as a user runs it: a separate process with the
virtual adapter of ``--sim``, its output and exit status."""

from __future__ import annotations

import json
import os
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


@pytest.mark.parametrize(
    "argv, rc, check",
    [
        (["--sim", "i2c", "detect", "-y", "A"], 0, lambda out, err: out == DEFAULT_GRID),
        (["--sim", "i2c", "dump", "-y", "-r", "0x00-0x0f", "A", "0x50"], 0,
         lambda out, err: out.splitlines()[1]
         == "00: 76 61 6e 74 6f 72 20 76 69 72 74 75 61 6c 20 45    vantor virtual E"),
        (["--sim", "i2c", "get", "-y", "A", "0x42", "0x00"], 1,
         lambda out, err: (out, err) == ("", "i2c get: FW_I2C_NACK_ADDRESS (0x0203)\n")),
        (["--sim", "i2c", "transfer", "-y", "A", "w2@0x50", "0x00"], 2,
         lambda out, err: out == "" and err.startswith("vantor i2c transfer: error: data missing")),
        (["--sim", "--json", "info"], 0,
         lambda out, err: json.loads(out)["model"] == "TERANOX"),
        (["--sim", "i3c", "ccc", "--init", "getpid", "0x08"], 0,
         lambda out, err: out == "01 23 45 67 89 ab\n"),
        (["--help"], 0,
         lambda out, err: all(f"    {c} " in out for c in ("list", "i2c", "spi", "gpio", "uart", "i3c",
                                                          "target", "voltage", "udev-rules"))),
    ],
    ids=["detect-grid", "dump-row", "nack-line", "malformed-transfer", "json-info", "i3c-ccc", "help"],
)
def test_command_output_and_status(tmp_path, argv, rc, check):
    done = vantor(*argv, cwd=tmp_path)
    assert done.returncode == rc, done.stderr
    assert check(done.stdout, done.stderr)


def test_flash_write_of_more_than_one_bulk_transfer_verifies(tmp_path):
    image = tmp_path / "image.bin"
    image.write_bytes(os.urandom(40_000))
    done = vantor("--sim", "spi", "flash", "write", str(image), cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert "verify: 40960 bytes" in done.stderr


def test_console_script_is_installed(tmp_path):
    script = Path(sys.executable).with_name("vantor")
    if not script.exists():
        pytest.skip("the package is not installed in this interpreter's environment")
    done = subprocess.run([str(script), "--sim", "i2c", "detect", "-y", "A"],
                          capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert (done.returncode, done.stdout) == (0, DEFAULT_GRID)


@pytest.mark.skipif(shutil.which("tshark") is None, reason="tshark is not installed")
@pytest.mark.parametrize("argv, rc", [
    (["i2c", "get", "-y", "A", "0x50", "0x00"], 0),
    (["i2c", "get", "-y", "A", "0x42", "0x00"], 1),
], ids=["success", "failed-command"])
def test_trace_option_writes_a_capture_tshark_reads(tmp_path, argv, rc):
    capture = tmp_path / "cli.pcapng"
    done = vantor("--sim", "--trace", str(capture), *argv, cwd=tmp_path)
    assert done.returncode == rc, done.stderr
    read = subprocess.run(["tshark", "-r", str(capture), "-T", "fields", "-e", "usb.urb_type"],
                          capture_output=True, text=True, timeout=60)
    assert read.returncode == 0, read.stderr
    kinds = read.stdout.split()
    # Every transfer is a submission and its completion: the command's
    # requests (controller set-up, then the read) and their answers.
    assert len(kinds) >= 4 and len(kinds) % 2 == 0
    assert kinds.count("'S'") == kinds.count("'C'")
