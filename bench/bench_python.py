"""Throughput of the Python layer against a virtual adapter: facade round
trips (the lock released around each SDK call) and notification delivery
through the reader thread's callback bridge. Prints figures; asserts nothing.

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


def notifications(model: DeviceModel, n: int) -> None:
    with sim.VirtualAdapter(model=model, serial=f"BENCHN{model.value}") as adapter, DeviceFacade() as dev:
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
        start = time.perf_counter()
        for _ in range(n):
            adapter.notify(0x1481, b"\x02\x01\x01")
        done.wait(60)
        elapsed = time.perf_counter() - start
        print(f"callback  {model.name:8} GPIO events into Python: {count / elapsed:9.0f} /s ({count} of {n})")


def main() -> None:
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    for model in (DeviceModel.TERANOX, DeviceModel.QUILLEX):
        round_trips(model, n // 4)
        notifications(model, n)


if __name__ == "__main__":
    main()
