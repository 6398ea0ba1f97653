# SPDX-License-Identifier: MIT
"""Reading, writing and verifying I2C serial EEPROMs through the adapter's
I2C controller (the bus set up by the caller).

::

    from pyvantorsdk import eeprom

    eeprom.write(dev, 0, 0x50, 0x100, data, address_width=2, page_size=64)
    data = eeprom.read(dev, 0, 0x50, 0, 4096, address_width=2)
    assert eeprom.verify(dev, 0, 0x50, 0x100, data, address_width=2) is None

Memory addresses: ``address_width=2`` parts take a 2-byte memory address
(up to 64 KiB); ``address_width=1`` parts take one byte, and those larger
than 256 bytes answer at one I2C address per 256-byte block (the block
number added to ``address``), up to 2 KiB.

Writes go a page at a time, never across a page boundary (the part would
wrap to the page's start). While a part stores a page it does not
acknowledge its address: every transfer is retried until it does
(acknowledge polling), for at most ``busy_timeout`` seconds, and ``write``
returns once the last page is stored.

Reads use the largest transfers the adapter takes: the bulk interface when
it has one, else 1024 bytes per request, pipelined on the caller's
``DeviceFacade`` (``dev.batch()``) unless ``pipelined=False``.
"""

from __future__ import annotations

import time
from typing import Callable, Iterator, Optional, Tuple, TypeVar, Union, cast

from pyvantorsdk._cpp._pyvantorsdk_cpp import (
    BatchCall,
    DeviceBatch,
    DeviceFacade,
    I2cBus,
    StatusCode,
)
from pyvantorsdk._storage import batched, bulk_payload
from pyvantorsdk.errors import I2cError

__all__ = ["EepromError", "read", "write", "verify", "first_difference", "DEFAULT_BUSY_TIMEOUT"]

I2C_BULK_GROUP = 2
MAX_TRANSFER = 1024  # one command-channel transfer
BLOCK = 256  # what a 1-byte memory address reaches
MAX_SIZE = {1: 8 * BLOCK, 2: 64 * 1024}
DEFAULT_BUSY_TIMEOUT = 0.1  # seconds: well past any part's write cycle

T = TypeVar("T")


class EepromError(Exception):
    """The part did not answer (absent, or busy past the timeout), or
    answered short."""


def _check(address: int, offset: int, length: int, address_width: int, page_size: int) -> None:
    """Refuses what no part could take, before anything is sent."""
    if address_width not in MAX_SIZE:
        raise ValueError(f"address_width {address_width}: a part takes 1- or 2-byte addresses")
    if not 1 <= page_size <= MAX_TRANSFER:
        raise ValueError(f"page_size {page_size} out of range (1-{MAX_TRANSFER})")
    if offset < 0 or length < 0 or offset + length > MAX_SIZE[address_width]:
        raise ValueError(f"0x{offset:x}+{length} lies outside what {address_width}-byte "
                         f"addresses reach ({MAX_SIZE[address_width]} bytes)")
    last_block = (offset + length - 1) // BLOCK if length else 0
    if not 0 <= address <= 0x7F or (address_width == 1 and address + last_block > 0x7F):
        raise ValueError(f"device address 0x{address:x} out of range")


def _locate(address: int, offset: int, address_width: int) -> Tuple[int, bytes]:
    """The I2C address and the memory address bytes of ``offset``."""
    if address_width == 1:
        return address + offset // BLOCK, bytes([offset % BLOCK])
    return address, offset.to_bytes(2, "big")


def _pieces(offset: int, length: int, size: int, address_width: int) -> Iterator[Tuple[int, int]]:
    """(offset, length) pieces of at most ``size`` bytes that end at
    multiples of ``size`` (and of 256 with 1-byte addresses)."""
    step = min(size, BLOCK) if address_width == 1 else size
    at, end = offset, offset + length
    while at < end:
        stop = min((at // step + 1) * step, end)
        yield at, stop - at
        at = stop


def _not_acknowledged(error: I2cError) -> bool:
    return error.status_code == StatusCode.FW_I2C_NACK_ADDRESS


def _polled(call: Callable[[], T], busy_timeout: float, address: int) -> T:
    """``call()``, retried while the part does not acknowledge its address."""
    deadline = time.monotonic() + busy_timeout
    while True:
        try:
            return call()
        except I2cError as e:
            if not _not_acknowledged(e):
                raise
            if time.monotonic() > deadline:
                raise EepromError(f"no acknowledge from 0x{address:02x} within {busy_timeout:g} s "
                                  "(no part there, or it stayed busy)") from e


class _Part:
    def __init__(self, dev: DeviceFacade, bus: Union[int, I2cBus], address: int, address_width: int,
                 busy_timeout: float) -> None:
        self.dev, self.bus, self.address = dev, bus, address
        self.width, self.busy_timeout = address_width, busy_timeout

    def read(self, offset: int, length: int) -> bytes:
        target, sub = _locate(self.address, offset, self.width)
        data = _polled(lambda: self.dev.i2c_read(self.bus, target, sub, length, False),
                       self.busy_timeout, target)
        return _whole(data, length, offset)

    def read_bulk(self, offset: int, length: int) -> bytes:
        target, sub = _locate(self.address, offset, self.width)
        data = _polled(lambda: self.dev.i2c_read_bulk(self.bus, target, sub, length, False),
                       self.busy_timeout, target)
        return _whole(data, length, offset)

    def write(self, offset: int, data: bytes) -> None:
        target, sub = _locate(self.address, offset, self.width)
        _polled(lambda: self.dev.i2c_write(self.bus, target, sub, data, False),
                self.busy_timeout, target)

    def wait_ready(self, offset: int) -> None:
        """Probes the part's address until it acknowledges again."""
        target, _sub = _locate(self.address, offset, self.width)
        _polled(lambda: self.dev.i2c_write(self.bus, target, b"", b"", False),
                self.busy_timeout, target)

    def chunks(self, offset: int, length: int, pipelined: bool) -> Iterator[bytes]:
        """The memory from ``offset``, in the largest reads the adapter
        takes; ``pipelined``, a batch of reads at a time."""
        bulk = bulk_payload(self.dev, I2C_BULK_GROUP)
        pieces = list(_pieces(offset, length, bulk or MAX_TRANSFER, self.width))
        if bulk or not pipelined:
            for at, count in pieces:
                yield self.read_bulk(at, count) if bulk else self.read(at, count)
            return

        def queue(b: DeviceBatch, piece: Tuple[int, int]) -> BatchCall:
            target, sub = _locate(self.address, piece[0], self.width)
            return b.i2c_read(self.bus, target, sub, piece[1], False)

        for (at, count), call in batched(self.dev, pieces, queue):
            try:
                data = cast(bytes, call.result())
            except I2cError as e:
                if not _not_acknowledged(e):
                    raise
                yield self.read(at, count)  # busy: polled one at a time
                continue
            yield _whole(data, count, at)


def _whole(data: bytes, length: int, offset: int) -> bytes:
    if len(data) != length:
        raise EepromError(f"read at 0x{offset:x}: {len(data)} of {length} bytes came back")
    return data


def read(dev: DeviceFacade, bus: Union[int, I2cBus], address: int, offset: int, length: int, *,
         address_width: int = 1, page_size: int = 16, pipelined: bool = True,
         busy_timeout: float = DEFAULT_BUSY_TIMEOUT) -> bytes:
    """``length`` bytes from ``offset`` of the part at ``address`` on
    ``bus``. ``page_size`` only has its range checked: reads run across
    pages."""
    _check(address, offset, length, address_width, page_size)
    part = _Part(dev, bus, address, address_width, busy_timeout)
    return b"".join(part.chunks(offset, length, pipelined))


def write(dev: DeviceFacade, bus: Union[int, I2cBus], address: int, offset: int, data: bytes, *,
          address_width: int = 1, page_size: int = 16,
          busy_timeout: float = DEFAULT_BUSY_TIMEOUT,
          progress: Optional[Callable[[int, int], None]] = None) -> int:
    """Writes ``data`` at ``offset`` a page at a time; returns the number of
    page writes. ``progress(done, total)`` follows the bytes written."""
    _check(address, offset, len(data), address_width, page_size)
    part = _Part(dev, bus, address, address_width, busy_timeout)
    pages = 0
    for at, count in _pieces(offset, len(data), page_size, address_width):
        part.write(at, data[at - offset : at - offset + count])
        pages += 1
        if progress is not None:
            progress(at + count - offset, len(data))
    if data:
        part.wait_ready(offset + len(data) - 1)
    return pages


def first_difference(dev: DeviceFacade, bus: Union[int, I2cBus], address: int, offset: int, data: bytes, *,
                     address_width: int = 1, page_size: int = 16,
                     pipelined: bool = True,
                     busy_timeout: float = DEFAULT_BUSY_TIMEOUT) -> Optional[Tuple[int, int, int]]:
    """(memory offset, byte read, byte of ``data``) of the first byte that
    differs; None when they all match. Reading stops there."""
    _check(address, offset, len(data), address_width, page_size)
    part = _Part(dev, bus, address, address_width, busy_timeout)
    at = offset
    for chunk in part.chunks(offset, len(data), pipelined):
        expected = data[at - offset : at - offset + len(chunk)]
        if chunk != expected:
            i = next(i for i, (a, b) in enumerate(zip(chunk, expected)) if a != b)
            return at + i, chunk[i], expected[i]
        at += len(chunk)
    return None


def verify(dev: DeviceFacade, bus: Union[int, I2cBus], address: int, offset: int, data: bytes, *,
           address_width: int = 1, page_size: int = 16, pipelined: bool = True,
           busy_timeout: float = DEFAULT_BUSY_TIMEOUT) -> Optional[int]:
    """The memory offset of the first byte that differs from ``data``; None
    when they all match."""
    found = first_difference(dev, bus, address, offset, data, address_width=address_width,
                             page_size=page_size, pipelined=pipelined, busy_timeout=busy_timeout)
    return None if found is None else found[0]
