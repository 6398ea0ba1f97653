# SPDX-License-Identifier: MIT
"""Throughput of the Python layer against a virtual adapter: facade round
trips (the lock released around each SDK call) and notifications delivered
into a Python callback by the facade's delivery thread, with the main thread
idle and with it busy in 5 ms chunks of pure-Python work, counting lost
events. Prints figures; asserts nothing.

    .venv/bin/python bench/bench_python.py [iterations]
"""

from __future__ import annotations

import sys
import threading
import time

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


def inject(adapter: sim.VirtualAdapter, n: int, rate: int) -> None:
    """n GPIO events, paced by the adapter without the interpreter lock."""
    code, fields = GPIO_EVENT
    adapter.notify(code, fields, count=n, rate=rate)


def busy_chunks(until: threading.Event, deadline: float) -> None:
    """Pure-Python work in chunks of 5 ms until `until` is set."""
    while not until.is_set() and time.perf_counter() < deadline:
        chunk_end = time.perf_counter() + 0.005
        while time.perf_counter() < chunk_end:
            sum(range(100))


def notifications(model: DeviceModel, n: int, busy: bool, rate: int = 20000) -> None:
    """Events into a Python callback with the main thread idle or busy; every
    event must arrive (none lost, none dropped by the delivery queue)."""
    with sim.VirtualAdapter(model=model, serial=f"BENCHN{model.value}{int(busy)}") as adapter, \
            DeviceFacade() as dev:
        adapter.set_recording(False)
        dev.connect(adapter.path)
        done = threading.Event()
        count = 0

        def on_event(event: object) -> None:
            nonlocal count
            if isinstance(event, GpioInterruptNotification):
                count += 1
                if count == n:
                    done.set()

        dev.on_notification(on_event)
        injector = threading.Thread(target=inject, args=(adapter, n, rate))
        start = time.perf_counter()
        injector.start()
        if busy:
            busy_chunks(done, start + 60)
        done.wait(60)
        elapsed = time.perf_counter() - start
        injector.join()
        main = "busy 5 ms chunks" if busy else "idle"
        print(f"callback  {model.name:8} main {main:16}: {count / elapsed:9.0f} /s, "
              f"lost {n - count} (dropped by the adapter's full input queue "
              f"{adapter.dropped_reports}, by the delivery queue {dev.dropped_notifications})")


def main() -> None:
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    for model in (DeviceModel.TERANOX, DeviceModel.QUILLEX):
        round_trips(model, n // 4)
        notifications(model, n, busy=False)
        notifications(model, n, busy=True)


if __name__ == "__main__":
    main()
