# SPDX-License-Identifier: MIT
"""The interpreter exits cleanly while adapters are connected and events keep
arriving. Each scenario runs in a child interpreter with a time limit."""

from __future__ import annotations

import subprocess
import sys
import textwrap

import pytest

PRELUDE = textwrap.dedent(
    """
    import struct, threading
    from pyvantorsdk import DeviceFacade, sim

    def uart_rx(data):
        return struct.pack("<HHHH", 0, 0x1081, 0, len(data)) + data

    adapter = sim.VirtualAdapter()
    dev = DeviceFacade()
    assert dev.connect(adapter.path)
    received = []
    first = threading.Event()
    """
)


SCENARIOS = {
    "flood-with-callback": """
        def callback(item):
            received.append(len(item.data))
            first.set()
            sum(range(200))  # some work per event, so that a backlog builds up
        dev.on_notification(callback)
        for i in range(50000):
            adapter.send(uart_rx(b"0123456789"))
        assert first.wait(10)
        print("queued", flush=True)
    """,
    "callback-closes-over-facade": """
        dev.on_notification(lambda item: (received.append(dev), first.set()))
        for i in range(20000):
            adapter.send(uart_rx(b"x"))
        assert first.wait(10)
        del dev
        print("queued", flush=True)
    """,
    "handler-and-several-facades": """
        others = [DeviceFacade() for _ in range(3)]
        adapters = [sim.VirtualAdapter(serial=f"X{i}") for i in range(3)]
        for other, a in zip(others, adapters):
            assert other.connect(a.path)
            other.on_notification(lambda item: received.append(item))
            a.set_handler(lambda request, a=a: a.send(uart_rx(b"h")))
        dev.on_notification(lambda item: first.set())
        adapter.send(uart_rx(b"x"))
        assert first.wait(10)
        for a in adapters:
            for i in range(5000):
                a.send(uart_rx(b"y"))
        print("queued", flush=True)
    """,
    "callback-raising-during-exit": """
        def callback(item):
            first.set()
            raise RuntimeError("late failure")
        dev.on_notification(callback)
        for i in range(20000):
            adapter.send(uart_rx(b"z"))
        assert first.wait(10)
        print("queued", flush=True)
    """,
}


@pytest.mark.parametrize("name", list(SCENARIOS))
def test_exit_while_events_arrive(name, tmp_path):
    # Run outside the source tree, so that the child imports the installed
    # package.
    result = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(SCENARIOS[name])],
                            capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "queued" in result.stdout
    assert "Fatal Python error" not in result.stderr
    assert "leaked" not in result.stderr


# A daemon thread is inside a library call when the main thread exits. In
# the "woken" scenarios the call ends while the interpreter finalises: an
# object collected then (a reference cycle, with the collector off until the
# interpreter's last collection) wakes the thread or outlasts the call's
# time-out, and holds finalisation open for a moment, so that the thread asks
# for the interpreter lock back when it may no longer have it. Either way the
# process must end normally, with nothing on stderr.
IN_CALL_PRELUDE = textwrap.dedent(
    """
    import gc, threading, time
    from pyvantorsdk import DeviceFacade, sim
    from pyvantorsdk import AsyncDeviceFacade

    adapter = sim.VirtualAdapter()
    inside = threading.Event()

    def in_daemon(call):
        def run():
            inside.set()
            try:
                call()
            except Exception:
                pass
        threading.Thread(target=run, daemon=True).start()
        assert inside.wait(10)

    def during_finalization(wake, hold_s):
        class Finalizer:
            def __del__(self, sleep=time.sleep):
                wake()
                sleep(hold_s)
        gc.disable()
        cycle = Finalizer()
        cycle.me = cycle
    """
)

IN_CALL = {
    "facade-request-times-out": """
        adapter.set_handler(lambda request: None)
        dev = DeviceFacade(timeout_ms=500)
        assert dev.connect(adapter.path)
        in_daemon(lambda: dev.i2c_read(0, 0x50, b"", 1, False))
        during_finalization(lambda: None, 1.5)
        print("inside", flush=True)
    """,
    "facade-request-never-answered": """
        adapter.set_handler(lambda request: None)
        dev = DeviceFacade(timeout_ms=60000)
        assert dev.connect(adapter.path)
        in_daemon(lambda: dev.get_usb_config())
        assert adapter.wait_for_requests(1, 10)
        print("inside", flush=True)
    """,
    "adapter-wait-woken": """
        sender = AsyncDeviceFacade()  # stays connected after the exit hook
        assert sender.connect(adapter.path)
        in_daemon(lambda: adapter.wait_for_requests(1, 60))
        during_finalization(lambda: sender.reset_device(1), 0.5)
        print("inside", flush=True)
    """,
    # The status exception of a failed call is being built (Python code runs
    # in its constructor) when the interpreter finalises.
    "status-error-built-while-finalizing": """
        from pyvantorsdk import errors
        building = threading.Event()
        release = threading.Event()
        class Held(errors.DisconnectError):
            def __init__(self, *args, **kwargs):
                if threading.current_thread() is not threading.main_thread():
                    building.set()
                    release.wait(30)
                super().__init__(*args, **kwargs)
        errors.DisconnectError = Held
        dev = DeviceFacade()  # never connected: every call fails at once
        in_daemon(dev.get_usb_config)
        assert building.wait(10)
        during_finalization(release.set, 0.5)
        print("inside", flush=True)
    """,
    "adapter-wait-never-woken": """
        in_daemon(lambda: adapter.wait_for_requests(1, 60))
        print("inside", flush=True)
    """,
}

@pytest.mark.parametrize("name", list(IN_CALL))
def test_exit_while_a_daemon_thread_is_inside_a_call(name, tmp_path):
    result = subprocess.run(
        [sys.executable, "-c", IN_CALL_PRELUDE + textwrap.dedent(IN_CALL[name])],
        capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert (result.returncode, result.stderr) == (0, "")
    assert "inside" in result.stdout
