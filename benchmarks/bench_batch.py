# SPDX-License-Identifier: MIT
"""Register traffic call by call and batched, against a virtual adapter: 60
register writes, each followed by a read of the same register, once as 120
blocking calls and once as one batch (window 16). Prints figures; asserts
nothing. ``batch_vs_calls()`` is the whole benchmark, for a driver script.

    .venv/bin/python benchmarks/bench_batch.py [pairs] [rounds]   (60, 20)
"""

from __future__ import annotations

import sys
import time

from pyvantorsdk import DeviceFacade, I2cBus, I2cPullUp, sim

REGISTERS = 0x68


def _call_by_call(dev: DeviceFacade, pairs: int) -> None:
    for i in range(pairs):
        dev.i2c_write(I2cBus.A, REGISTERS, bytes([i]), bytes([i ^ 0x5A]), False)
        dev.i2c_read(I2cBus.A, REGISTERS, bytes([i]), 1, False)


def _batched(dev: DeviceFacade, pairs: int) -> None:
    with dev.batch(window=16) as b:
        for i in range(pairs):
            b.i2c_write(I2cBus.A, REGISTERS, bytes([i]), bytes([i ^ 0x5A]), False)
            b.i2c_read(I2cBus.A, REGISTERS, bytes([i]), 1, False)
    if b.failures:
        raise RuntimeError(f"batch call failed: {b.failures[0]!r}")


def batch_vs_calls(pairs: int = 60, rounds: int = 20) -> dict[str, float]:
    """Best time of `rounds` for each way, in milliseconds; printed too."""
    with sim.VirtualAdapter(serial="BENCH-BATCH") as adapter, DeviceFacade() as dev:
        adapter.set_recording(False)
        adapter.i2c.attach_register_map(I2cBus.A, REGISTERS)
        dev.connect(adapter.path)
        dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)
        best = {}
        for name, way in (("call by call", _call_by_call), ("batched", _batched)):
            times = []
            for _ in range(rounds):
                start = time.perf_counter()
                way(dev, pairs)
                times.append(time.perf_counter() - start)
            best[name] = min(times) * 1e3
    speedup = best["call by call"] / best["batched"] if best["batched"] else float("inf")
    for name, ms in best.items():
        print(f"batch     {pairs} register writes+reads {name:12}: {ms:8.2f} ms")
    print(f"batch     batched / call by call: {speedup:.1f}x faster")
    return best


if __name__ == "__main__":
    args = [int(a) for a in sys.argv[1:3]]
    batch_vs_calls(*args)
