# SPDX-License-Identifier: MIT
"""Synchronous round trips from Python, each beside its reference measured
in the same run, against virtual adapters of both models:

  C++         VantorSDK::getUsbConfig, timed by bench_engine (run as a
              subprocess once per round)
  facade      DeviceFacade.get_usb_config: the same request from Python
              (goal: at most 1 us more than C++)
  pure Python the same request from benchmarks/pure_python_client.py over the
              package's raw host interface (goal: the facade at least 3 x
              faster)
  adapter     the virtual adapter's own part of that request: its one report
              written and the answer's report read over the raw host
              interface, prepared in advance (the least any client pays)

and, without a reference, an I3C private read (4 bytes, SDR) and an I3C
target memory read (16 bytes) through the facade.

Rounds alternate between the kinds so that a change of the machine's load
touches all alike; the table gives the median of the rounds and the best
round. Prints the table, writes JSON with --json; asserts only that the
pure-Python client gets the right answer.

    .venv/bin/python benchmarks/bench_roundtrip.py [--iterations N] [--rounds R]
        [--engine build/cxx/bench_engine] [--json FILE]
"""

from __future__ import annotations

import argparse
import contextlib
import json
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, Dict, Iterator, List, Optional, Tuple

sys.path.insert(0, str(Path(__file__).resolve().parent))

from pure_python_client import FIRST, GET_USB_CONFIG, LAST, PurePythonClient  # noqa: E402

from pyvantorsdk import (  # noqa: E402
    DeviceFacade,
    DeviceModel,
    I2cOpenDrainRate,
    I3cDriveStrength,
    I3cOpenDrainRate,
    I3cPushPullRate,
    sim,
)

ROOT = Path(__file__).resolve().parent.parent
MODELS = {DeviceModel.TERANOX: "64", DeviceModel.QUILLEX: "1024"}
I3C_PID = 0x0A0000000001
I3C_ADDRESS = 0x30
EEPROM = 0x50
EEPROM_DATA = bytes(i * 7 % 256 for i in range(1024))


def per_call_us(fn: Callable[[], object], n: int) -> Tuple[float, float]:
    """Wall time and processor time of the whole process (every thread;
    waiting does not count) per call, in microseconds."""
    start, cpu_start = time.perf_counter(), time.process_time()
    for _ in range(n):
        fn()
    return ((time.perf_counter() - start) / n * 1e6, (time.process_time() - cpu_start) / n * 1e6)


def engine_round_us(engine: Path, size: str, n: int) -> Tuple[float, float]:
    """One round of bench_engine's round trip (n calls after its warm-up):
    wall time and processor time per call."""
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "engine.json"
        subprocess.run(
            [str(engine), "--only", f"sync{size}", "--iterations", str(n * 20), "--rounds", "1",
             "--json", str(out)],
            check=True, stdout=subprocess.DEVNULL)
        figures = {f["name"]: float(f["value"]) for f in json.loads(out.read_text())["figures"]}
    name = f"sync round trip, {size}-byte reports"
    return figures[name], figures[f"{name}, processor time"]


@contextlib.contextmanager
def connected(model: DeviceModel, serial: str) -> Iterator[tuple]:
    with sim.VirtualAdapter(model=model, serial=serial, bulk=False) as adapter, \
            DeviceFacade() as dev:
        adapter.set_recording(False)
        dev.connect(adapter.path)
        yield adapter, dev


@contextlib.contextmanager
def pure_client(model: DeviceModel) -> Iterator[tuple]:
    with sim.VirtualAdapter(model=model, serial=f"PURE{MODELS[model]}", bulk=False) as adapter:
        adapter.set_recording(False)
        with adapter.open_host() as host:
            yield adapter, PurePythonClient(host, adapter.report_size)


def i3c_bring_up(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    dev.i3c_controller_init(
        I3cPushPullRate.PUSH_PULL_3_125_MHZ_DC_25,
        I3cOpenDrainRate.OPEN_DRAIN_1_MHZ,
        I2cOpenDrainRate.FAST_MODE,
        I3cDriveStrength.STANDARD,
    )
    dev.i3c_ccc_setdasa(0x50, I3C_ADDRESS)
    dev.i3c_sdr_write(I3C_ADDRESS, b"\x00", bytes(range(16)))


class Table:
    def __init__(self) -> None:
        self.rows: List[Dict[str, object]] = []

    def add(self, name: str, rounds: List[float], reference: Optional[Dict[str, object]] = None,
            goal: str = "", met: Optional[bool] = None, note: str = "",
            cpu: Optional[List[float]] = None) -> Dict[str, object]:
        row: Dict[str, object] = {"name": name, "median_us": statistics.median(rounds),
                                  "best_us": min(rounds), "rounds": len(rounds)}
        if cpu:
            row["cpu_median_us"] = statistics.median(cpu)
        if reference is not None:
            row["reference"] = reference["name"]
        if goal:
            row["goal"], row["met"] = goal, met
        if note:
            row["note"] = note
        self.rows.append(row)
        return row

    def print(self) -> None:
        print(f"{'round trip':48} {'median':>9} {'best':>9} {'cpu':>9}  goal")
        for r in self.rows:
            goal = ""
            if "goal" in r:
                goal = f"{r['goal']} ({'met' if r['met'] else 'MISSED'})"
            note = f"  [{r['note']}]" if "note" in r else ""
            cpu = f"{r['cpu_median_us']:8.2f}u" if "cpu_median_us" in r else " " * 9
            print(f"{r['name']:48} {r['median_us']:8.2f}u {r['best_us']:8.2f}u {cpu}  {goal}{note}")


def bench_model(model: DeviceModel, engine: Optional[Path], n: int, rounds: int,
                table: Table) -> None:
    size = MODELS[model]
    with connected(model, f"RT{size}") as (adapter, dev), pure_client(model) as (pure_adapter, client), \
            connected(model, f"I3C{size}") as (i3c_adapter, i3c_dev):
        # Both ends read the same EEPROM contents over I2C.
        for a in (adapter, pure_adapter):
            a.i2c.attach_eeprom(0, EEPROM, size=4096, page_size=64, address_bytes=2)
            a.i2c.write_memory(0, EEPROM, 0, EEPROM_DATA)
        dev.i2c_controller_init(0, 400_000, 0)
        client.i2c_controller_init(0, 400_000, 0)
        # The pure-Python client must get the right answers, or its speed
        # means nothing.
        assert client.get_usb_config() == dev.get_usb_config()
        assert client.i2c_read(0, EEPROM, b"\x00\x00", len(EEPROM_DATA)) == EEPROM_DATA
        assert dev.i2c_read(0, EEPROM, b"\x00\x00", len(EEPROM_DATA), False) == EEPROM_DATA
        i3c_adapter.i3c.attach_target(I3C_PID, bcr=0x07, dcr=0xC5, static_address=0x50,
                                      mwl=64, mrl=64)
        i3c_bring_up(i3c_adapter, i3c_dev)
        assert i3c_dev.i3c_sdr_read(I3C_ADDRESS, b"\x00", 4) == bytes(range(4))
        i3c_dev.i3c_target_write_memory(0, bytes(range(16)))
        assert i3c_dev.i3c_target_read_memory(0, 16) == bytes(range(16))

        length = len(EEPROM_DATA)
        # One getUsbConfig request as a ready report, and the answer's size.
        report_size = pure_adapter.report_size
        request = struct.pack("<HH", 1, GET_USB_CONFIG)
        report = b"\x00" + struct.pack("<H", FIRST | LAST | len(request) << 2) + request
        report = report.ljust(report_size + 1, b"\x00")
        host = client.handle

        def adapter_alone() -> None:
            host.write(report)
            host.read(report_size, 1000)

        kinds: Dict[str, Callable[[], object]] = {
            "facade": dev.get_usb_config,
            "pure": client.get_usb_config,
            "adapter": adapter_alone,
            "facade i2c": lambda: dev.i2c_read(0, EEPROM, b"\x00\x00", length, False),
            "pure i2c": lambda: client.i2c_read(0, EEPROM, b"\x00\x00", length),
            "sdr": lambda: i3c_dev.i3c_sdr_read(I3C_ADDRESS, b"\x00", 4),
            "memory": lambda: i3c_dev.i3c_target_read_memory(0, 16),
        }
        wall: Dict[str, List[float]] = {kind: [] for kind in ["cpp", *kinds]}
        cpu: Dict[str, List[float]] = {kind: [] for kind in ["cpp", *kinds]}
        for fn in kinds.values():
            per_call_us(fn, max(200, n // 10))  # warm-up
        for _ in range(rounds):
            timed = {kind: per_call_us(fn, n) for kind, fn in kinds.items()}
            if engine is not None:
                timed["cpp"] = engine_round_us(engine, size, n)
            for kind, (w, c) in timed.items():
                wall[kind].append(w)
                cpu[kind].append(c)

    label = f"{size}-byte reports"
    med = statistics.median
    if wall["cpp"]:
        ref = table.add(f"C++ getUsbConfig, {label}", wall["cpp"], cpu=cpu["cpp"])
        extra = med(wall["facade"]) - med(wall["cpp"])
        extra_best = min(wall["facade"]) - min(wall["cpp"])
        extra_cpu = med(cpu["facade"]) - med(cpu["cpp"])
        row = table.add(f"facade get_usb_config, {label}", wall["facade"], ref, "<= C++ + 1 us",
                        extra_best <= 1.0,
                        f"{extra:+.2f} us median, {extra_best:+.2f} us best, "
                        f"{extra_cpu:+.2f} us processor time", cpu["facade"])
    else:
        row = table.add(f"facade get_usb_config, {label}", wall["facade"], cpu=cpu["facade"])
    for name, mine, theirs in [
        ("get_usb_config", "facade", "pure"),
        (f"i2c_read {len(EEPROM_DATA)} B", "facade i2c", "pure i2c"),
    ]:
        if mine != "facade":
            row = table.add(f"facade {name}, {label}", wall[mine], cpu=cpu[mine])
        factor = min(wall[theirs]) / min(wall[mine])
        factor_cpu = med(cpu[theirs]) / med(cpu[mine])
        table.add(f"pure Python {name}, {label}", wall[theirs], row, "facade >= 3 x faster",
                  factor >= 3.0,
                  f"{factor:.2f} x the facade's best, {factor_cpu:.2f} x its processor time",
                  cpu[theirs])
    table.add(f"virtual adapter alone, get_usb_config, {label}", wall["adapter"],
              note=f"a 3 x goal asks the facade for {min(wall['pure']) / 3:.2f} us",
              cpu=cpu["adapter"])
    table.add(f"facade i3c_sdr_read 4 B, {label}", wall["sdr"], cpu=cpu["sdr"])
    table.add(f"facade i3c_target_read_memory 16 B, {label}", wall["memory"], cpu=cpu["memory"])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--iterations", type=int, default=2000, help="round trips per round")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--engine", type=Path, default=ROOT / "build/cxx/bench_engine",
                        help="the bench_engine binary (the C++ reference)")
    parser.add_argument("--json", type=Path)
    args = parser.parse_args()
    engine: Optional[Path] = args.engine
    if engine is not None and not os.access(engine, os.X_OK):
        print(f"{engine} not built: the C++ reference is left out", file=sys.stderr)
        engine = None

    table = Table()
    for model in MODELS:
        bench_model(model, engine, args.iterations, args.rounds, table)
    table.print()
    if args.json:
        args.json.write_text(json.dumps(
            {"iterations": args.iterations, "rounds": args.rounds, "cores": os.cpu_count(),
             "figures": table.rows}, indent=2) + "\n")


if __name__ == "__main__":
    main()
