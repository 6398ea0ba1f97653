# SPDX-License-Identifier: MIT
"""Throughput of the Python layer against a virtual adapter: facade round
trips (the lock released around each SDK call) and notifications delivered
into a Python callback by the facade's delivery thread, with the main thread
idle and with it busy in 5 ms chunks of pure-Python work, counting lost
events. Prints figures; asserts nothing.

    .venv/bin/python benchmarks/bench_python.py [events]   (60,000; a third of them paced)
"""

from __future__ import annotations

import sys
import threading
import time
from typing import Callable, Optional

from pyvantorsdk import DeviceFacade, DeviceModel, GpioInterruptNotification, sim


def round_trips(model: DeviceModel, n: int) -> None:
    with sim.VirtualAdapter(model=model, serial=f"BENCH{model.value}") as adapter, DeviceFacade() as dev:
        adapter.set_recording(False)
        dev.connect(adapter.path)
        start = time.perf_counter()
        for _ in range(n):
            dev.get_usb_config()
        elapsed = time.perf_counter() - start
        print(f"facade    {model.name:8} get_usb_config: {elapsed / n * 1e6:8.1f} us each, {n / elapsed:9.0f} /s")


GPIO_EVENT = (0x1481, b"\x02\x01\x01")


def inject(adapter: sim.VirtualAdapter, n: int, rate: Optional[int]) -> None:
    """n GPIO events, queued by the adapter without the interpreter lock:
    paced at `rate` a second, or as fast as it can queue them (None)."""
    code, fields = GPIO_EVENT
    adapter.notify(code, fields, count=n, rate=rate)


def busy_chunks(until: Callable[[], bool], deadline: float) -> None:
    """Pure-Python work in chunks of 5 ms until `until()` is true."""
    while not until() and time.perf_counter() < deadline:
        chunk_end = time.perf_counter() + 0.005
        while time.perf_counter() < chunk_end:
            sum(range(100))


def notifications(model: DeviceModel, n: int, busy: bool, rate: Optional[int]) -> None:
    """Events into a Python callback with the main thread idle or busy: the
    rate that reached the callback and the events lost on the way, counted
    where they were dropped.

    Unpaced (rate None) the figure is the host's capacity: the adapter's
    64-report bound is lifted, so that it measures the reader thread, the
    delivery queue and the callbacks rather than how this machine schedules
    the injecting thread, and n stays below the delivery queue's capacity.
    Paced, the bound stays and every event must arrive."""
    with sim.VirtualAdapter(model=model, serial=f"BENCHN{model.value}{int(busy)}") as adapter, \
            DeviceFacade() as dev:
        adapter.set_recording(False)
        if rate is None:
            adapter.faults.limit_input_queue(None)
        dev.connect(adapter.path)
        count = 0
        last = [0.0]

        def on_event(event: object) -> None:
            nonlocal count
            if isinstance(event, GpioInterruptNotification):
                count += 1
                last[0] = time.perf_counter()

        def settled() -> bool:
            # Every event arrived or was dropped on the way.
            return count + adapter.dropped_reports + dev.dropped_notifications >= n

        dev.on_notification(on_event)
        injector = threading.Thread(target=inject, args=(adapter, n, rate))
        start = time.perf_counter()
        injector.start()
        if busy:
            busy_chunks(settled, start + 60)
        injector.join()
        while not settled() and time.perf_counter() < start + 60:
            time.sleep(0.001)
        elapsed = (last[0] or time.perf_counter()) - start
        main = "busy 5 ms chunks" if busy else "idle"
        paced = f"paced at {rate}/s" if rate else "unpaced"
        print(f"callback  {model.name:8} main {main:16} {paced:18}: {count / elapsed:9.0f} /s, "
              f"lost {n - count} (dropped by the adapter's full input queue "
              f"{adapter.dropped_reports}, by the delivery queue {dev.dropped_notifications})")


def main() -> None:
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 60_000
    for model in (DeviceModel.TERANOX, DeviceModel.QUILLEX):
        round_trips(model, 5000)
        for busy in (False, True):
            notifications(model, n, busy, rate=None)
            notifications(model, n // 3, busy, rate=20_000)


if __name__ == "__main__":
    main()
