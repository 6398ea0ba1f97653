# SPDX-License-Identifier: MIT
"""Everyday tasks against a virtual adapter that takes the hardware's time
(``sim.VirtualAdapter(timing=...)``), each beside its lower bound from the
same timing model (``sim.TimingModel``) and the ratio of the two. Prints a
table; ``--json FILE`` also writes the rows. Asserts nothing.

    .venv/bin/python benchmarks/tasks.py [--speed full|high|both] [--only TASK]
                                         [--scale S] [--quick] [--json FILE]

The lower bound of a task is the longer of its wire time (the payload over
the fastest path the adapter offers for it: the bulk interface where the
family has one, else HID reports, one per USB interval and at least one per
message) and its bus plus device time (the payload as one transfer at the
configured clock; EEPROM write cycles, flash page programs): requests on the
wire can overlap the bus work of earlier ones, so the sum of the two is not
a bound a pipelined run has to stay above.

TASKS is a registry: ``{name: {"setup": fn, "bound": fn, "variants": {name:
fn}}}``. "naive" runs the task call by call through ``DeviceFacade``, one
request after the answer to the previous one; "batch" sends the same calls
through ``dev.batch()`` (several on the wire at once); "programmer" runs the
package's own flash programmer or EEPROM reader and writer
(``pyvantorsdk.flash``, ``pyvantorsdk.eeprom``) as the CLI does.

``--scale S`` runs the adapter S times faster than the hardware; the times
shown are the measured ones multiplied by S (the modelled time) and flagged.
``--quick`` shrinks the large tasks (the 64 KiB EEPROM, the 1 MiB flash, the
64 KiB I3C read) sixteenfold.
"""

from __future__ import annotations

import argparse
import json
import sys
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional

from pyvantorsdk import (
    DeviceFacade,
    I2cBus,
    I2cPullUp,
    Notification,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
    StatusCode,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartRxNotification,
    UartStopBit,
    eeprom,
    errors,
    sim,
)
from pyvantorsdk import flash as flashlib
from pyvantorsdk.flash import Flash

KIB = 1024
MIB = 1024 * KIB

I2C_HZ = 400_000
SPI_HZ = 10_000_000
UART_BAUD = 115_200
I3C_PUSH_PULL_HZ = 12_500_000  # PUSH_PULL_12_5_MHZ_DC_50
I3C_OPEN_DRAIN_HZ = 1_000_000  # OPEN_DRAIN_1_MHZ
I3C_RATES = (18, 2, 1, 0)  # push-pull 12.5 MHz, open drain 1 MHz, I2C fast mode, drive strength

EEPROM_ADDRESS = 0x50
EEPROM_PAGE = 32  # a 24xx256-sized part: 64 KiB, 32-byte pages, 2 address bytes
EEPROM_READ_CHUNK = 256
REGISTER_MAP = 0x20
REGISTERS = 60
FLASH_PAGE = 256
I3C_PID = 0x0A0000000007
I3C_STATIC, I3C_DYNAMIC = 0x50, 0x30
I3C_CHUNK = 1024
I3C_BULK_CHUNK = 16 * KIB
UART_BYTES = 10 * KIB
UART_CHUNK = 256


@dataclass
class Context:
    """One run: the adapter and the facade connected to it, the timing
    model of its speed, and whether the large tasks are shrunk."""

    adapter: sim.VirtualAdapter
    dev: DeviceFacade
    model: sim.TimingModel
    quick: bool

    def size(self, full: int) -> int:
        return full // 16 if self.quick else full


Setup = Callable[[Context], None]
Bound = Callable[[sim.TimingModel, Callable[[int], int]], float]
Variant = Callable[[Context], None]


# ----------------------------------------------------------------- helpers


def wire(model: sim.TimingModel, out_bytes: int, in_bytes: int, bulk: bool) -> float:
    """The payload's time on the fastest path: bulk, or HID reports (the two
    directions of the interrupt endpoints run side by side)."""
    if bulk:
        return model.bulk(out_bytes + in_bytes)
    interval = model.report_interval()
    return max(model.reports(out_bytes), model.reports(in_bytes)) * interval


def i2c_init(ctx: Context) -> None:
    ctx.dev.i2c_controller_init(I2cBus.A, I2C_HZ, I2cPullUp.KOHM_4_7)


def attach_eeprom(ctx: Context, size: int) -> None:
    ctx.adapter.i2c.attach_eeprom(
        0, EEPROM_ADDRESS, size=size, page_size=EEPROM_PAGE, address_bytes=2
    )
    i2c_init(ctx)


def spi_init(ctx: Context) -> None:
    ctx.dev.spi_controller_init(SpiBitOrder.MSB, SpiMode.MODE_0, SpiDataWidth.BITS_8,
                                SpiChipSelect.CS_0, SpiChipSelectPolarity.ACTIVE_LOW, SPI_HZ)


def flash(ctx: Context, bulk: bool) -> Flash:
    spi_init(ctx)
    memory = Flash(ctx.dev, ctx.size(MIB))
    if not bulk:
        memory.bulk_payload = 0
    return memory


def ack_poll(dev: DeviceFacade) -> None:
    """Address-only writes until the EEPROM acknowledges (its write cycle is over)."""
    while True:
        try:
            dev.i2c_write(0, EEPROM_ADDRESS, b"", b"", False)
            return
        except errors.I2cError as error:
            if error.status_code != StatusCode.FW_I2C_NACK_ADDRESS:
                raise


# ------------------------------------------------------------------- tasks


def eeprom_read(full: int) -> Dict[str, Any]:
    # --quick shrinks only what is above 4 KiB.
    def length_of(size: Callable[[int], int]) -> int:
        return full if full <= 4 * KIB else size(full)

    def setup(ctx: Context) -> None:
        attach_eeprom(ctx, max(length_of(ctx.size), 4 * KIB))

    def naive(ctx: Context) -> None:
        for offset in range(0, length_of(ctx.size), EEPROM_READ_CHUNK):
            ctx.dev.i2c_read(0, EEPROM_ADDRESS, offset.to_bytes(2, "big"), EEPROM_READ_CHUNK, False)

    def batch(ctx: Context) -> None:
        with ctx.dev.batch() as b:
            reads = [b.i2c_read(I2cBus.A, EEPROM_ADDRESS, offset.to_bytes(2, "big"),
                                EEPROM_READ_CHUNK, False)
                     for offset in range(0, length_of(ctx.size), EEPROM_READ_CHUNK)]
        for call in reads:
            call.result()

    def programmer(ctx: Context) -> None:
        eeprom.read(ctx.dev, I2cBus.A, EEPROM_ADDRESS, 0, length_of(ctx.size), address_width=2,
                    page_size=EEPROM_PAGE)

    def bound(model: sim.TimingModel, size: Callable[[int], int]) -> float:
        length = length_of(size)
        return max(wire(model, 0, length, True), model.i2c_transfer(2, length, I2C_HZ))

    return {"setup": setup, "bound": bound,
            "variants": {"naive": naive, "batch": batch, "programmer": programmer}}


def eeprom_write_4k() -> Dict[str, Any]:
    length = 4 * KIB

    def naive(ctx: Context) -> None:
        data = bytes(i * 7 & 0xFF for i in range(length))
        for offset in range(0, length, EEPROM_PAGE):
            page = data[offset : offset + EEPROM_PAGE]
            ctx.dev.i2c_write(0, EEPROM_ADDRESS, offset.to_bytes(2, "big"), page, False)
            ack_poll(ctx.dev)

    def programmer(ctx: Context) -> None:
        data = bytes(i * 7 & 0xFF for i in range(length))
        eeprom.write(ctx.dev, I2cBus.A, EEPROM_ADDRESS, 0, data, address_width=2,
                     page_size=EEPROM_PAGE)

    def bound(model: sim.TimingModel, size: Callable[[int], int]) -> float:
        pages = length // EEPROM_PAGE
        bus = pages * model.i2c_bytes(2 + EEPROM_PAGE, I2C_HZ)
        return max(wire(model, length, 0, True), bus + pages * model.eeprom_write_cycle())

    return {
        "setup": lambda ctx: attach_eeprom(ctx, length),
        "bound": bound,
        "variants": {"naive": naive, "programmer": programmer},
    }


def registers() -> Dict[str, Any]:
    def setup(ctx: Context) -> None:
        ctx.adapter.i2c.attach_register_map(0, REGISTER_MAP)
        i2c_init(ctx)

    def naive(ctx: Context) -> None:
        for register in range(REGISTERS):
            ctx.dev.i2c_write(0, REGISTER_MAP, bytes([register]), bytes([register ^ 0x5A]), False)
        for register in range(REGISTERS):
            ctx.dev.i2c_read(0, REGISTER_MAP, bytes([register]), 1, False)

    def batch(ctx: Context) -> None:
        with ctx.dev.batch() as b:
            for register in range(REGISTERS):
                b.i2c_write(I2cBus.A, REGISTER_MAP, bytes([register]),
                            bytes([register ^ 0x5A]), False)
            reads = [b.i2c_read(I2cBus.A, REGISTER_MAP, bytes([register]), 1, False)
                     for register in range(REGISTERS)]
        if any(call.result() != bytes([i ^ 0x5A]) for i, call in enumerate(reads)):
            raise RuntimeError("a register read back something else")

    def bound(model: sim.TimingModel, size: Callable[[int], int]) -> float:
        bus = REGISTERS * (model.i2c_transfer(2, 0, I2C_HZ) + model.i2c_transfer(1, 1, I2C_HZ))
        # Each call is a message of its own: one report out and one back.
        return max(2 * REGISTERS * model.report_interval(), bus)

    return {"setup": setup, "bound": bound, "variants": {"naive": naive, "batch": batch}}


def flash_read() -> Dict[str, Any]:
    def run(bulk: bool) -> Variant:
        def variant(ctx: Context) -> None:
            memory = flash(ctx, bulk)
            memory.read(0, memory.size)

        return variant

    def programmer(ctx: Context) -> None:
        spi_init(ctx)
        flashlib.read(ctx.dev, 0, ctx.size(MIB))

    def bound(model: sim.TimingModel, size: Callable[[int], int]) -> float:
        length = size(MIB)
        return max(wire(model, 0, length, True), model.spi_bytes(4 + length, SPI_HZ))

    return {
        "setup": lambda ctx: ctx.adapter.spi.attach_flash(0, size=MIB, busy_polls=0),
        "bound": bound,
        "variants": {"naive": run(False), "bulk": run(True), "programmer": programmer},
    }


def flash_program_verify() -> Dict[str, Any]:
    def run(bulk: bool) -> Variant:
        def variant(ctx: Context) -> None:
            memory = flash(ctx, bulk)
            data = bytes((i * 13 + 1) & 0xFF for i in range(memory.size))
            for address in range(0, memory.size, FLASH_PAGE):
                page = data[address : address + FLASH_PAGE]
                if bulk:
                    # Write enable, the page over bulk, then the status until idle.
                    ctx.dev.spi_transfer(b"\x06", 1)
                    ctx.dev.spi_write_bulk(bytes([0x02]) + address.to_bytes(3, "big") + page)
                    while ctx.dev.spi_transfer(b"\x05", 2)[1] & 1:
                        pass
                else:
                    memory.program_page(address, page)
            if memory.read(0, memory.size) != data:
                raise RuntimeError("the flash does not hold what was programmed")

        return variant

    def programmer(ctx: Context) -> None:
        spi_init(ctx)
        size = ctx.size(MIB)
        data = bytes((i * 13 + 1) & 0xFF for i in range(size))
        flashlib.program(ctx.dev, 0, data, size=size)

    def bound(model: sim.TimingModel, size: Callable[[int], int]) -> float:
        length = size(MIB)
        pages = length // FLASH_PAGE
        bus = pages * model.spi_bytes(4 + FLASH_PAGE, SPI_HZ) + model.spi_bytes(4 + length, SPI_HZ)
        device = pages * model.flash_page_program()
        return max(wire(model, length, length, True), bus + device)

    return {
        "setup": lambda ctx: ctx.adapter.spi.attach_flash(0, size=MIB, busy_polls=0),
        "bound": bound,
        "variants": {"naive": run(False), "bulk": run(True), "programmer": programmer},
    }


def i3c_read(ddr: bool) -> Dict[str, Any]:
    def setup(ctx: Context) -> None:
        ctx.adapter.i3c.attach_target(
            I3C_PID, static_address=I3C_STATIC, mwl=I3C_CHUNK, mrl=I3C_BULK_CHUNK,
            memory_size=64 * KIB
        )
        ctx.dev.i3c_controller_init(*I3C_RATES)
        entry = {
            "static_address": I3C_STATIC,
            "dynamic_address": I3C_DYNAMIC,
            "pid": I3C_PID.to_bytes(6, "big"),
            "bcr": 0,
            "dcr": 0,
            "mwl": 0,
            "mrl": 0,
            "max_ibi_payload_length": 0,
            "configuration": 0,
        }
        ctx.dev.i3c_init_bus([entry])

    def naive(ctx: Context) -> None:
        for offset in range(0, ctx.size(64 * KIB), I3C_CHUNK):
            if ddr:
                # HDR-DDR addresses the target's memory by the command's
                # register number; the chunks read the same region again.
                ctx.dev.i3c_hdr_ddr_read(I3C_DYNAMIC, 0x80, I3C_CHUNK)
            else:
                ctx.dev.i3c_sdr_read(I3C_DYNAMIC, offset.to_bytes(2, "big"), I3C_CHUNK)

    def bulk(ctx: Context) -> None:
        # HDR-DDR bulk reads carry at most 1024 bytes each.
        chunk = I3C_CHUNK if ddr else I3C_BULK_CHUNK
        for offset in range(0, ctx.size(64 * KIB), chunk):
            length = min(chunk, ctx.size(64 * KIB) - offset)
            if ddr:
                ctx.dev.i3c_hdr_ddr_read_bulk(I3C_DYNAMIC, 0x80, length)
            else:
                ctx.dev.i3c_sdr_read_bulk(I3C_DYNAMIC, offset.to_bytes(2, "big"), length)

    def batch(ctx: Context) -> None:
        with ctx.dev.batch() as b:
            reads = [
                b.i3c_hdr_ddr_read(I3C_DYNAMIC, 0x80, I3C_CHUNK) if ddr
                else b.i3c_sdr_read(I3C_DYNAMIC, offset.to_bytes(2, "big"), I3C_CHUNK)
                for offset in range(0, ctx.size(64 * KIB), I3C_CHUNK)
            ]
        for call in reads:
            call.result()

    def bound(model: sim.TimingModel, size: Callable[[int], int]) -> float:
        length = size(64 * KIB)
        bus = (
            model.i3c_ddr_bytes(length, I3C_PUSH_PULL_HZ)
            if ddr
            else model.i3c_sdr_bytes(length, I3C_PUSH_PULL_HZ, I3C_OPEN_DRAIN_HZ)
        )
        return max(wire(model, 0, length, True), bus)

    return {"setup": setup, "bound": bound,
            "variants": {"naive": naive, "batch": batch, "bulk": bulk}}


def uart_loopback() -> Dict[str, Any]:
    def setup(ctx: Context) -> None:
        ctx.adapter.uart.loopback = True
        ctx.dev.uart_init(
            UartBaudRate.BAUD_115200,
            UartHwHandshake.DISABLED,
            UartParity.NONE,
            UartDataSize.BITS_8,
            UartStopBit.ONE,
        )

    def run(batched: bool) -> Variant:
        def variant(ctx: Context) -> None:
            received = [0]
            done = threading.Event()

            def on_notification(notification: Notification) -> None:
                if isinstance(notification, UartRxNotification):
                    received[0] += len(notification.data)
                    if received[0] >= UART_BYTES:
                        done.set()

            ctx.dev.on_notification(on_notification)
            data = bytes(i & 0xFF for i in range(UART_CHUNK))
            if batched:
                with ctx.dev.batch() as b:
                    sends = [b.uart_send_message(data) for _ in range(UART_BYTES // UART_CHUNK)]
                for call in sends:
                    call.result()
            else:
                for _ in range(UART_BYTES // UART_CHUNK):
                    ctx.dev.uart_send_message(data)
            if not done.wait(60):
                raise RuntimeError(f"only {received[0]} of {UART_BYTES} bytes came back")
            ctx.dev.on_notification(None)

        return variant

    def bound(model: sim.TimingModel, size: Callable[[int], int]) -> float:
        return max(wire(model, UART_BYTES, UART_BYTES, False),
                   model.uart_bytes(UART_BYTES, UART_BAUD))

    return {"setup": setup, "bound": bound, "variants": {"naive": run(False), "batch": run(True)}}


TASKS: Dict[str, Dict[str, Any]] = {
    "eeprom-read-4k": eeprom_read(4 * KIB),
    "eeprom-read-64k": eeprom_read(64 * KIB),
    "eeprom-write-4k": eeprom_write_4k(),
    "i2c-registers-60w-60r": registers(),
    "flash-read-1m": flash_read(),
    "flash-program-verify-1m": flash_program_verify(),
    "i3c-read-64k-sdr": i3c_read(False),
    "i3c-read-64k-ddr": i3c_read(True),
    "uart-loopback-10k": uart_loopback(),
}

SPEEDS: Dict[str, sim.TimingName] = {"full": "full-speed", "high": "high-speed"}


# ------------------------------------------------------------------ running


def run_one(
    task: str, variant: str, speed: sim.TimingName, scale: float, quick: bool
) -> Dict[str, Any]:
    entry = TASKS[task]
    model = sim.TimingModel(speed)
    with sim.VirtualAdapter(timing=speed, time_scale=scale) as adapter, DeviceFacade(
        60_000
    ) as dev:
        adapter.set_recording(False)
        if not dev.connect(adapter.path):
            raise RuntimeError("could not connect to the virtual adapter")
        ctx = Context(adapter, dev, model, quick)
        entry["setup"](ctx)
        start = time.perf_counter()
        entry["variants"][variant](ctx)
        seconds = (time.perf_counter() - start) * scale
    bound = float(entry["bound"](model, ctx.size))
    return {
        "task": task,
        "variant": variant,
        "speed": speed,
        "seconds": seconds,
        "bound": bound,
        "ratio": seconds / bound if bound > 0 else None,
        "scaled": scale != 1.0,
        "quick": quick,
    }


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--speed", choices=["full", "high", "both"], default="both")
    parser.add_argument("--only", choices=sorted(TASKS), action="append", help="repeatable")
    parser.add_argument("--scale", type=float, default=1.0, help="modelled seconds per second")
    parser.add_argument("--quick", action="store_true", help="shrink the large tasks 16x")
    parser.add_argument("--json", type=Path, help="also write the rows here")
    args = parser.parse_args(argv)
    if not args.scale > 0:
        parser.error("--scale must be above zero")

    speeds = list(SPEEDS.values()) if args.speed == "both" else [SPEEDS[args.speed]]
    names = args.only or list(TASKS)
    flag = f"  (x{args.scale:g}: modelled time)" if args.scale != 1.0 else ""
    print(f"{'speed':11} {'task':24} {'variant':10} {'seconds':>9} {'bound':>9} {'ratio':>7}{flag}")
    rows = []
    for speed in speeds:
        for task in names:
            for variant in TASKS[task]["variants"]:
                row = run_one(task, variant, speed, args.scale, args.quick)
                rows.append(row)
                ratio = f"{row['ratio']:7.2f}" if row["ratio"] is not None else "      -"
                print(
                    f"{speed:11} {task:24} {variant:10} {row['seconds']:9.3f} "
                    f"{row['bound']:9.3f} {ratio}",
                    flush=True,
                )
    if args.json:
        settings = {"scale": args.scale, "quick": args.quick}
        args.json.write_text(json.dumps({"settings": settings, "rows": rows}, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
