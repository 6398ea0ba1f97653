# SPDX-License-Identifier: MIT
"""A client for the adapter written in plain Python, the way someone without
this package would write one over a HID library: requests packed with
``struct``, the framing done by hand, one report written and read at a time.

It exists to be compared with the package (benchmarks/bench_roundtrip.py); it
talks to a virtual adapter through ``pyvantorsdk.sim.HostInterface``, which
has the write/read-with-timeout shape of a HID device handle.

Framing: a message travels in segments, one per report. Each segment starts
with a little-endian u16 header (bit 0: first segment, bit 1: last segment,
bits 2..11: chunk length) followed by the chunk, zero-padded to the report
size. Messages start with the u16 transaction id and the u16 command code;
responses add a u16 status; notifications carry transaction id 0.
"""

from __future__ import annotations

import struct
from typing import List, Protocol, Tuple

FIRST, LAST = 0x1, 0x2
GET_USB_CONFIG = 0x040E
I2C_INIT = 0x0901
I2C_READ = 0x0905
_HEADER = struct.Struct("<H")
_REQUEST = struct.Struct("<HH")
_RESPONSE = struct.Struct("<HHH")
_USB_CONFIG = struct.Struct("<BBB")
_I2C_INIT = struct.Struct("<BIB")  # bus, frequency in Hz, pull-up
# bus, length, address, subaddress size, subaddress (most significant byte
# first, as one number), non-stop flag
_I2C_TRANSFER = struct.Struct("<BHBBIB")
_I2C_READ_ANSWER = struct.Struct("<BH")  # address, count; the data follow


class HidHandle(Protocol):
    def write(self, report: bytes) -> int: ...

    def read(self, size: int, timeout_ms: int = -1) -> bytes: ...


class AdapterError(Exception):
    """The adapter answered with a non-zero status, or not at all."""


class PurePythonClient:
    def __init__(self, handle: HidHandle, report_size: int, timeout_ms: int = 1000) -> None:
        self.handle = handle
        self.report_size = report_size
        self.chunk = report_size - 2
        self.timeout_ms = timeout_ms
        self.next_id = 1

    # ------------------------------------------------------------ framing
    def send_message(self, message: bytes) -> None:
        offset = 0
        while True:
            chunk = message[offset:offset + self.chunk]
            flags = FIRST if offset == 0 else 0
            offset += len(chunk)
            if offset >= len(message):
                flags |= LAST
            report = b"\x00" + _HEADER.pack(flags | len(chunk) << 2) + chunk
            report += bytes(self.report_size + 1 - len(report))
            if self.handle.write(report) < 0:
                raise AdapterError("write failed")
            if flags & LAST:
                return

    def receive_message(self) -> bytes:
        parts: List[bytes] = []
        started = False
        while True:
            report = self.handle.read(self.report_size, self.timeout_ms)
            if not report:
                raise AdapterError("timeout")
            (header,) = _HEADER.unpack_from(report)
            length = (header >> 2) & 0x3FF
            if header & FIRST:
                parts, started = [], True
            elif not started:
                continue  # a stray continuation
            parts.append(report[2:2 + length])
            if header & LAST:
                return b"".join(parts)

    # ----------------------------------------------------------- requests
    def request(self, code: int, parameters: bytes = b"") -> bytes:
        """Send one request and return the parameters of its response;
        notifications that arrive in between are skipped."""
        tid = self.next_id
        self.next_id = tid % 0xFFFF + 1
        self.send_message(_REQUEST.pack(tid, code) + parameters)
        while True:
            message = self.receive_message()
            if len(message) < _RESPONSE.size:
                continue
            rid, rcode, status = _RESPONSE.unpack_from(message)
            if rid != tid or rcode != code:
                continue
            if status != 0:
                raise AdapterError(f"status 0x{status:04X}")
            return message[_RESPONSE.size:]

    def get_usb_config(self) -> Tuple[int, int, int]:
        answer = self.request(GET_USB_CONFIG)
        if len(answer) < _USB_CONFIG.size:
            raise AdapterError("short response")
        return _USB_CONFIG.unpack_from(answer)

    def i2c_controller_init(self, bus: int, frequency_hz: int, pull_up: int) -> None:
        self.request(I2C_INIT, _I2C_INIT.pack(bus, frequency_hz, pull_up))

    def i2c_read(self, bus: int, address: int, subaddress: bytes, length: int,
                 non_stop: bool = False) -> bytes:
        sub = int.from_bytes(subaddress, "big")
        answer = self.request(
            I2C_READ, _I2C_TRANSFER.pack(bus, length, address, len(subaddress), sub, non_stop))
        if len(answer) < _I2C_READ_ANSWER.size:
            raise AdapterError("short response")
        _, count = _I2C_READ_ANSWER.unpack_from(answer)
        return answer[_I2C_READ_ANSWER.size:_I2C_READ_ANSWER.size + min(count, length)]
