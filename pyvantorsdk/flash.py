# SPDX-License-Identifier: MIT
"""Programming SPI NOR flashes with the common command set and 3-byte
addresses, through the adapter's SPI controller (set up by the caller).

::

    from pyvantorsdk import flash

    report = flash.program(dev, 0x10000, image, size=1 << 20)
    print(report.summary())
    data = flash.read(dev, 0, 4096, size=1 << 20)

``program`` reads the range first and touches only what differs: a sector
whose new content already matches is skipped, one whose new content only
clears bits (1 to 0) is programmed without an erase, and the sectors that
need an erase are erased with the largest aligned command that covers only
them (chip, 64 KiB block, 32 KiB block, 4 KiB sector). When nothing changed,
the cost is one read of the range.

Requests are pipelined on the caller's ``DeviceFacade`` (``dev.batch()``):
a write enable, the program or erase and the first status read leave
together and are answered together, and reads without the bulk interface go
out a batch at a time with several in flight (bulk reads are single large
transfers already). ``pipelined=False`` sends every request on its own. The
status is polled again only while the device says it is busy, up to
``busy_timeout`` seconds.
"""

from __future__ import annotations

import time
from dataclasses import dataclass, field
from typing import Callable, Dict, Iterator, List, Optional, Sequence, Set, Tuple, cast

from pyvantorsdk._cpp._pyvantorsdk_cpp import DeviceFacade
from pyvantorsdk._storage import batched, bulk_payload
from pyvantorsdk.errors import VantorError

__all__ = [
    "Flash",
    "FlashError",
    "ProgramError",
    "ProgramReport",
    "ERASE_SIZES",
    "program",
    "read",
]

MAX_TRANSFER = 1024  # one command-channel transfer, each direction
SPI_BULK_GROUP = 3  # the SPI commands' group in the bulk capability answer

CMD_PAGE_PROGRAM = 0x02
CMD_READ = 0x03
CMD_READ_STATUS = 0x05
CMD_WRITE_ENABLE = 0x06
CMD_SECTOR_ERASE = 0x20
CMD_BLOCK_ERASE_32K = 0x52
CMD_BLOCK_ERASE_64K = 0xD8
CMD_CHIP_ERASE = 0xC7
CMD_JEDEC_ID = 0x9F
STATUS_BUSY = 0x01
PAGE_SIZE = 256
SECTOR_SIZE = 4096
MAX_ADDRESSABLE = 1 << 24

# Block erases, largest first: (bytes, command). The chip erase comes before
# them when the whole flash is to be erased.
ERASE_SIZES: Tuple[Tuple[int, int], ...] = (
    (64 * 1024, CMD_BLOCK_ERASE_64K),
    (32 * 1024, CMD_BLOCK_ERASE_32K),
    (SECTOR_SIZE, CMD_SECTOR_ERASE),
)

ERASE_NAMES = {0: "chip", 64 * 1024: "block_64k", 32 * 1024: "block_32k", SECTOR_SIZE: "sector_4k"}


class FlashError(Exception):
    """The flash misbehaved: it stayed busy, or its answers made no sense."""


class ProgramError(Exception):
    """``program`` stopped part way; ``report`` says what was done before.
    The error that stopped it is the ``__cause__``."""

    def __init__(self, message: str, report: "ProgramReport") -> None:
        super().__init__(message)
        self.report = report


@dataclass
class ProgramReport:
    """What ``program`` did, in sectors of 4 KiB and pages of 256 bytes.

    ``done_until`` is the end address of the part of the range already in
    its final state (equal to ``end`` when programming finished);
    ``erases`` counts erase commands by size in bytes (0 for the chip)."""

    first: int
    end: int
    sectors_skipped: int = 0
    sectors_erased: int = 0
    pages_programmed: int = 0
    pages_skipped: int = 0
    verified: bool = False
    done_until: int = 0
    erases: Dict[int, int] = field(default_factory=dict)

    def __post_init__(self) -> None:
        self.done_until = max(self.done_until, self.first)

    def summary(self) -> str:
        sectors = (self.end - self.first) // SECTOR_SIZE
        erased = ", ".join(
            f"{count} x {'chip' if size == 0 else f'{size // 1024} KiB'}"
            for size, count in sorted(self.erases.items(), reverse=True)
        )
        return (
            f"{sectors} sectors: {self.sectors_skipped} unchanged, {self.sectors_erased} erased"
            f"{f' ({erased})' if erased else ''}; {self.pages_programmed} pages programmed, "
            f"{self.pages_skipped} left as they were"
            f"{'; verified' if self.verified else ''}"
        )

    def as_dict(self) -> Dict[str, object]:
        """The counts, for JSON; ``erases`` names each erase size used."""
        return {
            "sectors_skipped": self.sectors_skipped,
            "sectors_erased": self.sectors_erased,
            "pages_programmed": self.pages_programmed,
            "pages_skipped": self.pages_skipped,
            "erases": {ERASE_NAMES[size]: n for size, n in sorted(self.erases.items())},
        }


# ------------------------------------------------------------------- flash
def jedec_id(dev: DeviceFacade) -> bytes:
    return dev.spi_transfer(bytes([CMD_JEDEC_ID]), 4)[1:4]


def flash_size(jedec: bytes) -> Optional[int]:
    """The size the capacity byte announces (2 ** capacity bytes), when it
    is plausible."""
    if len(jedec) < 3 or jedec[0] in (0x00, 0xFF):
        return None
    capacity = jedec[2]
    return 1 << capacity if 10 <= capacity <= 31 else None


def _address(command: int, address: int) -> bytes:
    return bytes([command]) + address.to_bytes(3, "big")


def _only_clears_bits(old: bytes, new: bytes) -> bool:
    """Programming turns ``old`` into ``new``: no bit goes from 0 to 1."""
    wanted = int.from_bytes(new, "big")
    return int.from_bytes(old, "big") & wanted == wanted


class Flash:
    """A NOR flash on the chip select the SPI controller is set up for."""

    def __init__(self, dev: DeviceFacade, size: int, busy_timeout: float = 10.0,
                 pipelined: bool = True) -> None:
        self.dev = dev
        self.size = size
        self.busy_timeout = busy_timeout
        self.pipelined = pipelined
        self.bulk_payload = bulk_payload(dev, SPI_BULK_GROUP)

    # -- reading
    def read_chunk(self) -> int:
        """The most one transfer reads."""
        return self.bulk_payload or MAX_TRANSFER - 4

    def read(self, address: int, length: int) -> bytes:
        """``length`` bytes from ``address``, in as many transfers as it takes."""
        return b"".join(self.read_chunks(address, length))

    def read_chunks(self, address: int, length: int) -> Iterator[bytes]:
        """The bytes from ``address`` on, one transfer's worth at a time;
        without the bulk interface, pipelined reads go out a batch at a time."""
        chunk = self.read_chunk()
        starts = range(address, address + length, chunk)
        sizes = [min(chunk, address + length - at) for at in starts]
        if self.bulk_payload:
            for at, count in zip(starts, sizes):
                yield self._checked(self.dev.spi_read_bulk(_address(CMD_READ, at), count), count)
        elif self.pipelined:
            frames = [(_address(CMD_READ, at), 4 + count) for at, count in zip(starts, sizes)]
            for (_frame, size), call in batched(self.dev, frames,
                                                lambda b, f: b.spi_transfer(*f)):
                yield self._checked(cast(bytes, call.result()), size)[4:]
        else:
            for at, count in zip(starts, sizes):
                yield self._checked(self.dev.spi_transfer(_address(CMD_READ, at), 4 + count),
                                    4 + count)[4:]

    @staticmethod
    def _checked(received: bytes, expected: int) -> bytes:
        if len(received) != expected:
            raise FlashError(f"the adapter returned {len(received)} of {expected} bytes")
        return received

    # -- writing
    def _status(self) -> int:
        return self._checked(self.dev.spi_transfer(bytes([CMD_READ_STATUS]), 2), 2)[1]

    def _run(self, frame: bytes) -> None:
        """Write enable, ``frame``, and a status read; then polls while the
        device says it is busy."""
        enable = bytes([CMD_WRITE_ENABLE])
        # A page program takes the bulk interface when there is one: one
        # request and a data phase instead of several HID reports.
        bulk = bool(self.bulk_payload) and len(frame) > 1 + 3
        if self.pipelined:
            with self.dev.batch(stop_on_error=True) as b:
                b.spi_transfer(enable, 1)
                if bulk:
                    b.spi_write_bulk(frame)
                else:
                    b.spi_transfer(frame, len(frame))
                b.spi_transfer(bytes([CMD_READ_STATUS]), 2)
            received = [call.result() for call in b.results]  # raises the first failure
            if not any(call.resends for call in b.results):
                if self._checked(cast(bytes, received[2]), 2)[1] & STATUS_BUSY:
                    self.wait_ready()
                return
            # The adapter turned a request away and sent it again: the ones
            # behind it may have run first (a program before its write
            # enable, and so ignored). Once the flash is idle the step is
            # done again in order; programming the same bytes or erasing
            # again leaves what a single run would.
            self.wait_ready()
        self.dev.spi_transfer(enable, 1)
        if bulk:
            self.dev.spi_write_bulk(frame)
        else:
            self.dev.spi_transfer(frame, len(frame))
        if self._status() & STATUS_BUSY:
            self.wait_ready()

    def wait_ready(self) -> None:
        deadline = time.monotonic() + self.busy_timeout
        while self._status() & STATUS_BUSY:
            if time.monotonic() > deadline:
                raise FlashError(f"the flash stayed busy for more than {self.busy_timeout:g} s")

    def erase(self, address: int, size: int) -> None:
        """Erases the aligned block of ``size`` bytes at ``address`` (one of
        ``ERASE_SIZES``, or the whole flash)."""
        if size >= self.size:
            self._run(bytes([CMD_CHIP_ERASE]))
            return
        command = next(c for s, c in ERASE_SIZES if s == size)
        self._run(_address(command, address))

    def program_page(self, address: int, data: bytes) -> None:
        self._run(_address(CMD_PAGE_PROGRAM, address) + data)

    # -- programming
    def erase_plan(self, sectors: Sequence[int], first: int, end: int) -> List[Tuple[int, int]]:
        """(address, size) erases for the sorted sector addresses that need
        one: the largest aligned block made of those sectors only, the chip
        erase when that is every sector of the flash."""
        wanted = set(sectors)
        if first == 0 and end >= self.size and len(wanted) == self.size // SECTOR_SIZE:
            return [(0, self.size)]
        plan: List[Tuple[int, int]] = []
        covered: Set[int] = set()
        for sector in sectors:
            if sector in covered:
                continue
            for size, _command in ERASE_SIZES:
                start = sector - sector % size
                block = range(start, start + size, SECTOR_SIZE)
                if start == sector and all(s in wanted for s in block):
                    plan.append((start, size))
                    covered.update(block)
                    break
        return plan

    def program(self, offset: int, image: bytes, *, verify: bool = True,
                progress: Optional[Callable[[int, int], None]] = None) -> ProgramReport:
        """Writes ``image`` at ``offset``, keeping every other byte of the
        sectors it touches. ``progress(done, total)`` is called before any
        change and after each unit of work (an erase block or a sector) is in
        its final state, with the bytes done from the first sector's start;
        an exception it raises stops programming there, with the flash
        consistent up to ``done`` (KeyboardInterrupt passes through as it
        is). Any other failure raises ``ProgramError`` with the report."""
        if offset < 0 or offset + len(image) > self.size:
            raise ValueError(f"0x{offset:x}+{len(image)} lies outside the flash ({self.size} bytes)")
        first = offset - offset % SECTOR_SIZE
        end = min(-(-(offset + len(image)) // SECTOR_SIZE) * SECTOR_SIZE, self.size)
        report = ProgramReport(first, end)
        try:
            self._program(offset, image, report, verify, progress)
        except (VantorError, FlashError) as e:
            raise ProgramError(f"{e}; {report.summary()}", report) from e
        return report

    def _program(self, offset: int, image: bytes, report: ProgramReport, verify: bool,
                 progress: Optional[Callable[[int, int], None]]) -> None:
        first, end = report.first, report.end
        total = end - first
        current = self.read(first, total)
        lead = offset - first
        content = current[:lead] + image + current[lead + len(image):]

        def old(sector: int) -> bytes:
            return current[sector - first : sector - first + SECTOR_SIZE]

        def new(sector: int) -> bytes:
            return content[sector - first : sector - first + SECTOR_SIZE]

        sectors = range(first, end, SECTOR_SIZE)
        changed = [s for s in sectors if old(s) != new(s)]
        report.sectors_skipped = len(sectors) - len(changed)
        to_erase = [s for s in changed if not _only_clears_bits(old(s), new(s))]
        plan = {address: size for address, size in self.erase_plan(to_erase, first, end)}
        if progress is not None:
            progress(0, total)
        at = first
        touched: List[Tuple[int, int]] = []
        erases = report.erases
        while at < end:
            size = min(plan.get(at, SECTOR_SIZE), end - at)
            was = current[at - first : at - first + size]
            if at in plan:
                self.erase(at, plan[at])
                kind = 0 if plan[at] >= self.size else plan[at]
                erases[kind] = erases.get(kind, 0) + 1
                report.sectors_erased += size // SECTOR_SIZE
                was = b"\xff" * size
            wanted = content[at - first : at - first + size]
            if self._program_pages(at, was, wanted, report) or at in plan:
                touched.append((at, size))
            at += size
            report.done_until = at
            if progress is not None:
                progress(at - first, total)
        if verify:
            for start, size in touched:
                self._verify(start, content[start - first : start - first + size])
            report.verified = True

    def _program_pages(self, address: int, was: bytes, data: bytes, report: ProgramReport) -> int:
        """Programs the pages of ``data`` that differ from ``was``; how many."""
        programmed = 0
        for at in range(0, len(data), PAGE_SIZE):
            page = data[at : at + PAGE_SIZE]
            if page == was[at : at + PAGE_SIZE]:
                report.pages_skipped += 1
                continue
            self.program_page(address + at, page)
            report.pages_programmed += 1
            programmed += 1
        return programmed

    def _verify(self, address: int, expected: bytes) -> None:
        for at, chunk in self.compare(address, expected):
            raise FlashError(mismatch_text(at, chunk, expected[at - address:]))

    def compare(self, address: int, expected: bytes) -> Iterator[Tuple[int, bytes]]:
        """Reads the flash against ``expected``; yields (address, chunk) of
        the first chunk that differs, and stops there."""
        at = address
        for chunk in self.read_chunks(address, len(expected)):
            if chunk != expected[at - address : at - address + len(chunk)]:
                yield at, chunk
                return
            at += len(chunk)


def mismatch_text(at: int, chunk: bytes, expected: bytes) -> str:
    """Names the first differing byte of ``chunk`` (read at ``at``) and
    ``expected`` (from the same address)."""
    first = next(i for i, (a, b) in enumerate(zip(chunk, expected)) if a != b)
    return (f"mismatch at 0x{at + first:06x}: flash 0x{chunk[first]:02x}, "
            f"file 0x{expected[first]:02x}")


def program(dev: DeviceFacade, offset: int, image: bytes, *, size: int,
            verify: bool = True, progress: Optional[Callable[[int, int], None]] = None,
            pipelined: bool = True, busy_timeout: float = 10.0) -> ProgramReport:
    """Writes ``image`` at ``offset`` of the ``size``-byte flash; see
    ``Flash.program``. ``pipelined=False`` sends one request at a time."""
    flash = Flash(dev, size, busy_timeout, pipelined)
    return flash.program(offset, image, verify=verify, progress=progress)


def read(dev: DeviceFacade, offset: int, length: int, *,
         pipelined: bool = True) -> bytes:
    """``length`` bytes of the flash from ``offset``."""
    return Flash(dev, MAX_ADDRESSABLE, pipelined=pipelined).read(offset, length)
