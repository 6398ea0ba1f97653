# SPDX-License-Identifier: MIT
"""A strict, bounded reader of pcapng files: section headers, interface
descriptions and enhanced packet blocks, in either byte order; every other
block type is skipped.

The reader never trusts a length it reads: a block is read only when its
length is plausible (12 bytes or more, a multiple of 4, at most
``MAX_BLOCK``), and a packet's captured length must fit inside its block.
Damage after a usable start (a file cut in the middle of a block, a block
whose lengths disagree) ends the packets with one :class:`Damage` item that
says where and why, so that whatever came before it is kept; a file that is
no usable capture at all raises :class:`TraceError`."""

from __future__ import annotations

import struct
from dataclasses import dataclass
from typing import BinaryIO, Iterator, List, Tuple, Union

SECTION_HEADER = 0x0A0D0D0A
INTERFACE_DESCRIPTION = 0x00000001
ENHANCED_PACKET = 0x00000006
BYTE_ORDER_MAGIC = 0x1A2B3C4D
# Far above any packet the adapter's traffic makes (a bulk transfer moves at
# most 32 KiB); a length beyond it is taken for damage, not read.
MAX_BLOCK = 16 << 20
USB_LINUX_MMAPPED = 220
LINK_TYPE_NAMES = {
    0: "null",
    1: "Ethernet",
    101: "raw IP",
    113: "Linux cooked",
    189: "Linux USB with 48-byte headers",
    220: "Linux USB",
    249: "USBPcap",
}
OPTION_TSRESOL = 9


class TraceError(Exception):
    """A file that is not a usable capture of the adapter's traffic."""


@dataclass(frozen=True)
class Packet:
    """One enhanced packet block: the link type of its interface, its time
    (seconds since the epoch), the byte order of its section ("<" or ">")
    and the captured bytes."""

    link_type: int
    time: float
    byte_order: str
    data: bytes
    offset: int  # of the block in the file


@dataclass(frozen=True)
class Damage:
    """Where the readable part of the file ends, and why."""

    offset: int
    problem: str


Item = Union[Packet, Damage]


def link_type_name(link_type: int) -> str:
    name = LINK_TYPE_NAMES.get(link_type)
    return f"{link_type} ({name})" if name else str(link_type)


def _tsresol(options: bytes, order: str) -> float:
    """Seconds per timestamp unit from an interface's options (default:
    microseconds)."""
    at = 0
    while at + 4 <= len(options):
        code, length = struct.unpack_from(order + "HH", options, at)
        at += 4
        if code == 0:
            break
        if code == OPTION_TSRESOL and length >= 1 and at < len(options):
            value = options[at]
            exponent = value & 0x7F
            # A resolution finer than 2^-64 or 10^-30 would be nonsense.
            if value & 0x80:
                return 2.0 ** -min(exponent, 64)
            return 10.0 ** -min(exponent, 30)
        at += (length + 3) & ~3
    return 1e-6


def read_packets(stream: BinaryIO) -> Iterator[Item]:
    """The packets of a pcapng stream, in file order, then at most one
    :class:`Damage`. Raises :class:`TraceError` when the stream does not
    start with a section header or an interface carries another link type
    than usbmon's (220)."""
    offset = 0
    order = ""
    # (link type, seconds per timestamp unit) by interface id
    interfaces: List[Tuple[int, float]] = []

    first = stream.read(12)
    if not first:
        raise TraceError("the file is empty")
    if len(first) < 12 or struct.unpack_from("<I", first)[0] != SECTION_HEADER:
        raise TraceError("not a pcapng file (it does not start with a section header)")
    head = first
    while True:
        if len(head) < 8:
            if head:
                yield Damage(offset, f"the file ends inside a block header ({len(head)} bytes)")
            return
        block_type = struct.unpack_from("<I", head)[0]
        if block_type == SECTION_HEADER:
            if len(head) < 12:
                yield Damage(offset, "the file ends inside a section header")
                return
            magic = head[8:12]
            if magic == struct.pack("<I", BYTE_ORDER_MAGIC):
                order = "<"
            elif magic == struct.pack(">I", BYTE_ORDER_MAGIC):
                order = ">"
            else:
                yield _damage(offset, "a section header without the byte-order magic")
                return
            interfaces = []
        total = struct.unpack_from(order + "I", head, 4)[0]
        if total < 12 or total % 4 or total > MAX_BLOCK:
            yield _damage(offset, f"a block claims {total} bytes")
            return
        rest = stream.read(total - len(head))
        block = head + rest
        if len(block) < total:
            yield _damage(offset, f"the file ends inside a block ({len(block)} of {total} bytes)")
            return
        if struct.unpack_from(order + "I", block, total - 4)[0] != total:
            yield _damage(offset, "a block's two length fields disagree")
            return
        block_type = struct.unpack_from(order + "I", block)[0]
        body = block[8 : total - 4]
        if block_type == SECTION_HEADER:
            major = struct.unpack_from(order + "H", body, 4)[0] if len(body) >= 16 else -1
            if major != 1:
                yield _damage(offset, f"a section header of format version {major}, not 1"
                              if major >= 0 else "a section header shorter than 28 bytes")
                return
        elif block_type == INTERFACE_DESCRIPTION:
            if len(body) < 8:
                yield Damage(offset, "an interface description shorter than 20 bytes")
                return
            link_type = struct.unpack_from(order + "H", body)[0]
            if link_type != USB_LINUX_MMAPPED:
                raise TraceError(
                    f"interface {len(interfaces)} has link type {link_type_name(link_type)}, "
                    f"not a Linux USB capture ({USB_LINUX_MMAPPED})"
                )
            interfaces.append((link_type, _tsresol(body[8:], order)))
        elif block_type == ENHANCED_PACKET:
            item = _packet(body, order, interfaces, offset)
            yield item
            if isinstance(item, Damage):
                return
        offset += total
        head = stream.read(8)


def _damage(offset: int, problem: str) -> Damage:
    """Damage past a usable start; at the start, a file that is no capture."""
    if offset == 0:
        raise TraceError(f"not a usable pcapng file ({problem})")
    return Damage(offset, problem)


def _packet(body: bytes, order: str, interfaces: List[Tuple[int, float]], offset: int) -> Item:
    if len(body) < 20:
        return Damage(offset, "a packet block shorter than its fixed fields")
    interface, high, low, captured = struct.unpack_from(order + "IIII", body)
    if interface >= len(interfaces):
        return Damage(offset, f"a packet on interface {interface}, which no block describes")
    if captured > len(body) - 20:
        return Damage(offset, f"a packet claims {captured} bytes in a block of {len(body) + 12}")
    link_type, unit = interfaces[interface]
    return Packet(link_type, ((high << 32) | low) * unit, order, body[20 : 20 + captured], offset)

