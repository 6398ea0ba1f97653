# SPDX-License-Identifier: MIT
"""Soak (benchmarks/soak.py, shortened) and exit under an event storm, each in
a child interpreter: the memory sampled is the SDK's, not pytest's."""

from __future__ import annotations

import json
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

SOAK = Path(__file__).resolve().parents[2] / "benchmarks" / "soak.py"
REQUESTS = 20_000
NOTIFICATIONS = 100_000


def test_soak_keeps_memory_flat_and_loses_nothing(tmp_path: Path) -> None:
    out = tmp_path / "soak.json"
    result = subprocess.run(
        [sys.executable, str(SOAK), "--requests", str(REQUESTS),
         "--notifications", str(NOTIFICATIONS), "--json", str(out), "--quiet"],
        capture_output=True, text=True, timeout=300, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
    figures = json.loads(out.read_text())
    assert figures["requests"] == REQUESTS
    assert figures["notifications_sent"] == figures["notifications_received"] == NOTIFICATIONS
    assert figures["notifications_wrong"] == 0
    assert figures["discarded_responses"] == 0
    assert figures["growth_after_warmup"] <= figures["bound"]


# A child interpreter with two adapters, each connected to a facade whose
# callback does some work per event. `storm(adapter, dev)` sends
# notifications with at most WINDOW unread (the adapter's input queue holds
# 64 reports), so that none is dropped and nothing is logged for it.
PRELUDE = textwrap.dedent(
    """
    import struct, threading
    from pyvantorsdk import DeviceFacade, sim

    WINDOW = 32
    FIELDS = struct.pack("<H", 4) + b"tick"

    class Counter:
        def __init__(self):
            self.count = 0
            self.cond = threading.Condition()
        def __call__(self, item):
            sum(range(100))  # some work per event, so that a backlog builds up
            with self.cond:
                self.count += 1
                self.cond.notify_all()
        def wait_below(self, sent):
            with self.cond:
                self.cond.wait_for(lambda: sent - self.count < WINDOW, 10)

    adapters = [sim.VirtualAdapter(serial=f"EXIT{i}") for i in range(2)]
    devs = [DeviceFacade(timeout_ms=500) for _ in adapters]
    counters = [Counter() for _ in adapters]
    for adapter, dev, counter in zip(adapters, devs, counters):
        assert dev.connect(adapter.path)
        dev.on_notification(counter)

    def storm(adapter, counter, count):
        for sent in range(count):
            counter.wait_below(sent)
            adapter.notify(0x1081, FIELDS)
    """
)

SCENARIOS = {
    # Daemon threads of the user's inside adapter calls at exit.
    "daemon-threads-injecting": """
        for adapter, counter in zip(adapters, counters):
            threading.Thread(target=storm, args=(adapter, counter, 10**9), daemon=True).start()
        for counter in counters:
            with counter.cond:
                assert counter.cond.wait_for(lambda: counter.count > 1000, 10)
    """,
    # Daemon threads of the user's inside facade calls at exit, under the storm.
    "daemon-threads-requesting": """
        from pyvantorsdk.errors import VantorError
        def ask(dev):
            while True:
                try:
                    dev.get_usb_config()
                except VantorError:  # the exit hook disconnects the facades
                    pass
        for dev in devs:
            threading.Thread(target=ask, args=(dev,), daemon=True).start()
        for adapter, counter in zip(adapters, counters):
            storm(adapter, counter, 5000)
    """,
    # A daemon thread of the user's that holds the adapters and facades
    # outside any library call at exit, under the storm.
    "daemon-thread-holding": """
        def hold(objects):
            threading.Event().wait()
        threading.Thread(target=hold, args=(adapters + devs,), daemon=True).start()
        for adapter, counter in zip(adapters, counters):
            storm(adapter, counter, 5000)
    """,
}


@pytest.mark.parametrize("name", list(SCENARIOS))
def test_exit_under_event_storm_closing_nothing(name: str, tmp_path: Path) -> None:
    script = PRELUDE + textwrap.dedent(SCENARIOS[name]) + 'print("exiting", flush=True)\n'
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=60, cwd=tmp_path)
    assert "exiting" in result.stdout, result.stderr
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
