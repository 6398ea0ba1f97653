# SPDX-License-Identifier: MIT
"""Wire helpers shared by the Python tests: building adapter messages."""

from __future__ import annotations

import contextlib
import io
import struct
import threading
import time
from pathlib import Path
from typing import Any, Callable, Dict, List, NamedTuple

from pyvantorsdk import (
    I2cOpenDrainRate,
    I3cDriveStrength,
    I3cOpenDrainRate,
    I3cPushPullRate,
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
)

UART_8N1 = (UartBaudRate.BAUD_115200, UartHwHandshake.DISABLED, UartParity.NONE,
            UartDataSize.BITS_8, UartStopBit.ONE)
# The arguments of i3c_controller_init every I3C test brings its bus up with.
I3C_RATES = (I3cPushPullRate.PUSH_PULL_3_125_MHZ_DC_25, I3cOpenDrainRate.OPEN_DRAIN_1_MHZ,
             I2cOpenDrainRate.FAST_MODE, I3cDriveStrength.STANDARD)
# spi_controller_init's arguments before the frequency: mode 0, 8 bits, CS 0 active low.
SPI_MODE_0 = (SpiBitOrder.MSB, SpiMode.MODE_0, SpiDataWidth.BITS_8, SpiChipSelect.CS_0,
              SpiChipSelectPolarity.ACTIVE_LOW)

NOTIF_CODES = {
    "hot_join": 0x1982,
    "ibi": 0x1981,
    "gpio": 0x1481,
    "uart": 0x1081,
    "connector": 0x0481,
    "i2c_target": 0x0A81,
    "spi_target": 0x0E81,
    "i3c_target": 0x1A81,
}


def i3c_entry(pid: int, static: int = 0, dynamic: int = 0) -> Dict[str, Any]:
    """An I3C target dictionary for i3c_init_bus or i3c_ccc_entdaa."""
    return {"static_address": static, "dynamic_address": dynamic, "pid": pid.to_bytes(6, "big"),
            "bcr": 0, "dcr": 0, "mwl": 0, "mrl": 0, "max_ibi_payload_length": 0,
            "configuration": 0}


def response(request: bytes, status: int = 0, payload: bytes = b"") -> bytes:
    """The answer to `request` (same transaction id and command code)."""
    return request[:4] + struct.pack("<H", status) + payload


def notification(code: int, fields: bytes = b"", header_word: int = 0) -> bytes:
    return struct.pack("<HHH", 0, code, header_word) + fields


def command_of(message: bytes) -> int:
    return struct.unpack_from("<H", message, 2)[0]


def uart_rx(data: bytes) -> bytes:
    return notification(NOTIF_CODES["uart"], struct.pack("<H", len(data)) + data)


def gpio_interrupt(pin: int, edge: int, level: int) -> bytes:
    return notification(NOTIF_CODES["gpio"], bytes([pin, edge, level]))


class Collector:
    """A notification callback that keeps what it receives and lets a test
    wait until it has received `count` of them."""

    def __init__(self) -> None:
        self.items: List[object] = []
        self._cond = threading.Condition()

    def __call__(self, item: object) -> None:
        with self._cond:
            self.items.append(item)
            self._cond.notify_all()

    def wait_for(self, count: int, timeout: float = 2.0) -> bool:
        with self._cond:
            return self._cond.wait_for(lambda: len(self.items) >= count, timeout)


def wait_until(condition: Callable[[], bool], timeout: float = 5.0) -> bool:
    """Polls a condition that no event announces (a counter of the SDK, a
    memory of the bench); False once `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.002)
    return True


class I2cTransfer(NamedTuple):
    """One I2C controller transfer as the adapter received it."""

    kind: str  # "write" or "read"
    address: int
    subaddress: bytes
    data: bytes  # the bytes written (empty for a read)
    length: int  # bytes written or to read
    non_stop: bool


def i2c_transfers(requests: List[bytes]) -> List[I2cTransfer]:
    """The I2C write (0x0904) and read (0x0905) requests among `requests`."""
    found = []
    for message in requests:
        code = command_of(message)
        if code not in (0x0904, 0x0905):
            continue
        _bus, length, address, sub_size, sub_value, non_stop = struct.unpack_from(
            "<BHBBIB", message, 4
        )
        subaddress = sub_value.to_bytes(4, "big")[4 - sub_size :] if sub_size else b""
        kind = "write" if code == 0x0904 else "read"
        found.append(
            I2cTransfer(kind, address, subaddress, bytes(message[14:]), length, bool(non_stop))
        )
    return found


def run_readme_example(heading: str) -> None:
    """Run the first Python example after `heading` in the README and check
    that each `print(...)  # shown` line printed what its comment shows."""
    text = (Path(__file__).resolve().parents[2] / "README.md").read_text(encoding="utf-8")
    section = text[text.index(heading) :]
    start = section.index("```python\n") + len("```python\n")
    code = section[start : section.index("```", start)]
    shown = [
        line.split("#", 1)[1].strip()
        for line in code.splitlines()
        if line.lstrip().startswith("print(") and "#" in line
    ]
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(compile(code, f"README: {heading}", "exec"), {})
    assert printed.getvalue().splitlines() == shown


# What `vantor --sim i2c detect -y A` prints: the default virtual bench has
# an EEPROM at 0x50 and a register map at 0x68 on bus A.
DEFAULT_GRID = "".join(
    line + "\n"
    for line in [
        "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f",
        "00: " + "   " * 8 + "-- " * 8,
        "10: " + "-- " * 16,
        "20: " + "-- " * 16,
        "30: " + "-- " * 16,
        "40: " + "-- " * 16,
        "50: 50 " + "-- " * 15,
        "60: " + "-- " * 8 + "68 " + "-- " * 7,
        "70: " + "-- " * 8 + "   " * 8,
    ]
)
