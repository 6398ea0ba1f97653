# SPDX-License-Identifier: MIT
"""Ctrl-C during a blocking call: SIGINT raises KeyboardInterrupt in the
waiting call, long before its timeout. Each case runs in a child interpreter
that announces on stdout when its call is about to wait; the parent then
sends SIGINT, or the virtual adapter's scripted handler raises
KeyboardInterrupt itself, as it does when the signal lands while the handler
runs. The parent's limit only guards against a hang."""

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
    import signal, sys
    from pyvantorsdk import DeviceFacade, sim

    # Python leaves SIGINT ignored when it starts with it ignored (a runner
    # started in the background): Ctrl-C must raise here all the same.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    timeout_ms = int(sys.argv[1])
    in_handler = sys.argv[2] == "in-handler"

    def never_answers(request):
        if in_handler:
            raise KeyboardInterrupt
        return None

    adapter = sim.VirtualAdapter()
    adapter.set_handler(never_answers)
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


@pytest.mark.parametrize(
    "timeout_ms, where",
    [(-1, "signal"), (3_600_000, "signal"), (-1, "in-handler")],
    ids=["unlimited", "an-hour", "landing-in-the-adapters-handler"],
)
def test_sigint_raises_keyboard_interrupt_in_a_waiting_call(timeout_ms, where, tmp_path):
    # Run outside the source tree, so that the child imports the installed
    # package.
    child = subprocess.Popen([sys.executable, "-c", CHILD, str(timeout_ms), where],
                             cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    try:
        assert child.stdout.readline().strip() == "waiting"
        # The call starts waiting right after the line (a signal that comes
        # sooner raises there, inside the same try block).
        if where == "signal":
            os.kill(child.pid, signal.SIGINT)
        out, err = child.communicate(timeout=LIMIT_S)
    finally:
        if child.poll() is None:
            child.kill()
            child.communicate()
    assert out.split() == ["interrupted", "usable"], err
    assert child.returncode == 0, err
