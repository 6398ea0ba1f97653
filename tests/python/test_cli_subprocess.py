# SPDX-License-Identifier: MIT
"""The vantor command as a user runs it: a separate process with the
virtual adapter of ``--sim``, its output and exit status. (The in-process
tests in test_cli.py cover each subcommand; the ``--trace`` capture is
test_trace.py's.)"""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest


@pytest.mark.parametrize("launcher", ["module", "console-script"])
def test_failing_command_status_and_line(tmp_path, launcher):
    if launcher == "module":
        command = [sys.executable, "-m", "pyvantorsdk"]
    else:
        script = Path(sys.executable).with_name("vantor")
        if not script.exists():
            pytest.skip("the package is not installed in this interpreter's environment")
        command = [str(script)]
    done = subprocess.run([*command, "--sim", "i2c", "get", "-y", "A", "0x42", "0x00"],
                          capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert (done.returncode, done.stdout, done.stderr) == (
        1, "", "i2c get: FW_I2C_NACK_ADDRESS (0x0203)\n")
