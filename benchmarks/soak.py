# SPDX-License-Identifier: MIT
"""Soak: many synchronous requests across the command families and many
notifications into a Python callback, in one process against a virtual
adapter, with the resident memory sampled as it goes.

    .venv/bin/python benchmarks/soak.py                      # 100,000 requests, 1,000,000 notifications
    .venv/bin/python benchmarks/soak.py --requests 20000 --notifications 100000 --json soak.json

The requests cycle through one call of each family (system, rail, GPIO, I2C
with and without the bulk interface, an I2C read that the adapter refuses,
SPI, UART); between two requests the adapter sends its share of the
notifications, never more than WINDOW unread at a time, so that none is
lost to a full input queue. Resident memory (from /proc/self/statm) is
sampled SAMPLES times at even steps of the run; after the warm-up (the first
fifth of the samples) it must stay within --bound-mib of its lowest value.

Prints a table of the samples and a verdict, optionally writes them as
JSON, and exits with status 1 when the memory grew beyond the bound, a
notification was lost or a request failed in another way than the one
expected.
"""

from __future__ import annotations

import argparse
import json
import os
import struct
import sys
import threading
import time
from typing import Any, Callable, Dict, List, Sequence

from pyvantorsdk import (
    DeviceFacade,
    GpioFunctionality,
    GpioPinNumber,
    I2cBus,
    I2cPullUp,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartStopBit,
    errors,
    sim,
)

SAMPLES = 50
WARMUP = SAMPLES // 5
# Unread notifications allowed at a time; the adapter's HID input queue
# holds 64 reports.
WINDOW = 32
UART_RX = 0x1081
FIELDS = struct.pack("<H", 8) + b"soak-rx!"
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE_SIZE


class Counter:
    """The notification callback: counts, and lets the sender wait until
    few enough are unread."""

    def __init__(self) -> None:
        self.count = 0
        self.wrong = 0
        self._cond = threading.Condition()

    def __call__(self, item: object) -> None:
        with self._cond:
            self.count += 1
            if getattr(item, "data", None) != FIELDS[2:]:
                self.wrong += 1
            self._cond.notify_all()

    def wait_for(self, count: int, timeout: float = 10.0) -> bool:
        with self._cond:
            return self._cond.wait_for(lambda: self.count >= count, timeout)


def set_up(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> List[Callable[[], object]]:
    """The bench devices and the host's settings; returns the calls a
    request cycle makes, one per family."""
    adapter.i2c.attach_eeprom(I2cBus.A, 0x50)
    adapter.spi.attach_flash(SpiChipSelect.CS_0, size=64 * 1024)
    dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)
    dev.spi_controller_init(SpiBitOrder.MSB, SpiMode.MODE_0, SpiDataWidth.BITS_8,
                            SpiChipSelect.CS_0, SpiChipSelectPolarity.ACTIVE_LOW, 1_000_000)
    dev.uart_init(UartBaudRate.BAUD_115200, UartHwHandshake.DISABLED, UartParity.NONE,
                  UartDataSize.BITS_8, UartStopBit.ONE)
    dev.gpio_configure_pin(GpioPinNumber.PIN_2, GpioFunctionality.DIGITAL_INPUT)

    def refused_read() -> object:
        # Nobody answers at 0x51: the exception path, every cycle.
        try:
            dev.i2c_read(I2cBus.A, 0x51, b"\x00", 4, False)
        except errors.I2cError as error:
            return error
        raise AssertionError("i2c_read at an empty address succeeded")

    return [
        dev.get_usb_config,
        dev.i2c_get_bus_voltage,
        lambda: dev.gpio_digital_read(GpioPinNumber.PIN_2),
        lambda: dev.i2c_read(I2cBus.A, 0x50, b"\x10", 16, False),
        lambda: dev.i2c_read_bulk(I2cBus.A, 0x50, b"\x00", 128, False),
        refused_read,
        lambda: dev.spi_transfer(b"\x03\x00\x00\x00", 12),
        lambda: dev.uart_send_message(b"soak"),
    ]


def soak(requests: int, notifications: int) -> Dict[str, Any]:
    """Runs the soak; returns the samples and counts."""
    samples: List[Dict[str, int]] = []
    counter = Counter()
    with sim.VirtualAdapter(serial="SOAK") as adapter, DeviceFacade(timeout_ms=2000) as dev:
        adapter.set_recording(False)  # the records would grow with every request
        assert dev.connect(adapter.path)
        dev.on_notification(counter)
        calls = set_up(adapter, dev)
        sent = 0
        step = max(requests // SAMPLES, 1)
        start = time.perf_counter()
        for i in range(requests):
            calls[i % len(calls)]()
            # This request's share of the notifications.
            due = notifications * (i + 1) // requests
            while sent < due:
                if sent - counter.count >= WINDOW:
                    counter.wait_for(sent - WINDOW // 2)
                adapter.notify(UART_RX, FIELDS)
                sent += 1
            if (i + 1) % step == 0:
                samples.append({"requests": i + 1, "notifications": sent,
                                "resident": resident_bytes()})
        delivered = counter.wait_for(sent)
        elapsed = time.perf_counter() - start
        discarded = dev.get_discarded_response_count()
    return {
        "requests": requests,
        "notifications_sent": sent,
        "notifications_received": counter.count,
        "notifications_wrong": counter.wrong,
        "all_delivered": delivered,
        "discarded_responses": discarded,
        "seconds": elapsed,
        "samples": samples,
    }


def growth(samples: Sequence[Dict[str, int]]) -> int:
    """Resident memory after the warm-up: highest sample minus lowest."""
    settled = [s["resident"] for s in samples[WARMUP:]] or [0]
    return max(settled) - min(settled)


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--requests", type=int, default=100_000)
    parser.add_argument("--notifications", type=int, default=1_000_000)
    parser.add_argument("--bound-mib", type=float, default=1.0,
                        help="allowed resident growth after the warm-up (MiB)")
    parser.add_argument("--json", help="write the results to this file")
    parser.add_argument("--quiet", action="store_true", help="print the verdict only")
    args = parser.parse_args(argv)

    result = soak(args.requests, args.notifications)
    samples = result["samples"]
    grown = growth(samples)
    bound = int(args.bound_mib * 2**20)
    result["growth_after_warmup"] = grown
    result["bound"] = bound
    ok = (grown <= bound and result["all_delivered"] and result["notifications_wrong"] == 0
          and result["discarded_responses"] == 0)
    result["ok"] = ok

    if not args.quiet:
        print(f"{'requests':>10} {'notifications':>14} {'resident MiB':>13}")
        for index, sample in enumerate(samples):
            mark = "" if index >= WARMUP else "  (warm-up)"
            print(f"{sample['requests']:>10} {sample['notifications']:>14} "
                  f"{sample['resident'] / 2**20:>13.2f}{mark}")
    print(f"{result['requests']} requests and {result['notifications_sent']} notifications "
          f"({result['notifications_received']} received) in {result['seconds']:.1f} s; "
          f"resident growth after warm-up {grown / 2**20:.2f} MiB (bound {args.bound_mib} MiB): "
          f"{'ok' if ok else 'FAILED'}")
    if args.json:
        with open(args.json, "w") as out:
            json.dump(result, out, indent=2)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
