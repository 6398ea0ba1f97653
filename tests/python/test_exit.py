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
