# SPDX-License-Identifier: MIT
"""The 64-byte header the Linux binary usbmon interface puts before every
captured USB event (pcapng link type 220), and the event it describes."""

from __future__ import annotations

import struct
from dataclasses import dataclass
from typing import Optional

HEADER_SIZE = 64
# urb id, type, transfer type, endpoint, device, bus, setup flag, data flag,
# seconds, microseconds, status, length, captured length (the setup bytes,
# interval, start frame, transfer flags and descriptor count follow).
_HEADER = "QBBBBHBBqiiII"

ISOCHRONOUS = 0
INTERRUPT = 1
CONTROL = 2
BULK = 3
ENDPOINT_IN = 0x80


@dataclass(frozen=True)
class UsbPacket:
    """One usbmon event: a submission (``type`` "S") or completion ("C") of
    one transfer, both carrying the transfer's URB id. ``data`` holds the
    bytes the event carries (an OUT transfer's in its submission, an IN
    transfer's in its completion); ``time`` is seconds since the epoch."""

    urb_id: int
    type: str
    transfer_type: int
    endpoint: int
    device: int
    bus: int
    time: float
    status: int
    length: int
    data: bytes = b""

    @property
    def adapter(self) -> str:
        """The "bus.device" key of the device that made it."""
        return f"{self.bus}.{self.device}"

    @property
    def inbound(self) -> bool:
        return bool(self.endpoint & ENDPOINT_IN)


def parse(packet: bytes, byte_order: str = "<", time: Optional[float] = None) -> UsbPacket:
    """The event of one captured packet (``byte_order`` of its section).
    ``time`` replaces the header's timestamp, as the capture block's is the
    one packet analysers show. Raises ValueError for a packet too short for
    the header; bytes past the header's captured length are left out."""
    if len(packet) < HEADER_SIZE:
        raise ValueError(f"a packet of {len(packet)} bytes, shorter than the usbmon header")
    (urb, kind, transfer, endpoint, device, bus, _setup, _flag, seconds, micros, status, length,
     captured) = struct.unpack_from(byte_order + _HEADER, packet)
    data = packet[HEADER_SIZE:]
    if len(data) > captured:
        # Padding past the captured length is not part of the transfer.
        data = data[:captured]
    return UsbPacket(
        urb_id=urb,
        type=chr(kind),
        transfer_type=transfer,
        endpoint=endpoint,
        device=device,
        bus=bus,
        time=seconds + micros / 1e6 if time is None else time,
        status=status,
        length=length,
        data=bytes(data),
    )
