# SPDX-License-Identifier: MIT
"""Ctrl-C during a blocking call: SIGINT raises KeyboardInterrupt in the
waiting call, long before its timeout. Each case runs in a child interpreter
that announces on stdout when its call is about to wait; the parent then
sends SIGINT. The parent's limit only guards against a hang."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import textwrap

import pytest

pytestmark = [
    pytest.mark.skipif(sys.platform == "win32", reason="SIGINT is sent with os.kill"),
]

CHILD = textwrap.dedent(
    """
    import sys
    from pyvantorsdk import DeviceFacade, sim

    timeout_ms = int(sys.argv[1])
    adapter = sim.VirtualAdapter()
    adapter.set_handler(lambda request: None)  # never answers
    dev = DeviceFacade(timeout_ms=timeout_ms)
    assert dev.connect(adapter.path)
    try:
        print("waiting", flush=True)
        dev.get_usb_config()
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    else:
        print("returned", flush=True)
    # The facade still works: the next call gets its own answer.
    adapter.set_handler(None)
    dev.get_usb_config()
    print("usable", flush=True)
    """
)

# The child's call would wait this long without the interruption; the parent
# gives up much earlier.
LIMIT_S = 60


@pytest.mark.parametrize("timeout_ms", [-1, 3_600_000], ids=["unlimited", "an-hour"])
def test_sigint_raises_keyboard_interrupt_in_a_waiting_call(timeout_ms, tmp_path):
    # Run outside the source tree, so that the child imports the installed
    # package.
    child = subprocess.Popen([sys.executable, "-c", CHILD, str(timeout_ms)], cwd=tmp_path,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "waiting"
        # The call starts waiting right after the line (a signal that comes
        # sooner raises there, inside the same try block).
        os.kill(child.pid, signal.SIGINT)
        out, err = child.communicate(timeout=LIMIT_S)
    finally:
        if child.poll() is None:
            child.kill()
            child.communicate()
    assert out.split() == ["interrupted", "usable"], err
    assert child.returncode == 0, err
