# SPDX-License-Identifier: MIT
"""``vantor spi``: raw full-duplex transfers, and programming SPI NOR
flashes (JEDEC id, read, write, erase, verify)."""

from __future__ import annotations

import argparse
import errno
import os
import shlex
import signal
import sys
import threading
import time
from dataclasses import dataclass
from types import FrameType
from typing import Any, Callable, List, Optional, Tuple

from pyvantorsdk import (
    DeviceFacade,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
)
from pyvantorsdk.cli.common import (
    CommandFailed,
    Context,
    Progress,
    UsageError,
    ask_to_continue,
    hexdump,
    init_or_reconfigure,
    int_arg,
    parse_hex_bytes,
    parse_int,
    subcommand,
)

MAX_TRANSFER = 1024  # one command-channel transfer, each direction
SPI_BULK_GROUP = 3  # the SPI commands' group in the bulk capability answer

# The common SPI NOR command set with 3-byte addresses.
CMD_PAGE_PROGRAM = 0x02
CMD_READ = 0x03
CMD_READ_STATUS = 0x05
CMD_WRITE_ENABLE = 0x06
CMD_SECTOR_ERASE = 0x20
CMD_JEDEC_ID = 0x9F
STATUS_BUSY = 0x01
PAGE_SIZE = 256
SECTOR_SIZE = 4096
MAX_ADDRESSABLE = 1 << 24


@dataclass
class SpiSettings:
    chip_select: int = 0
    mode: int = 0
    frequency: int = 1_000_000
    lsb_first: bool = False
    active_high: bool = False


def add_bus_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--cs", type=int_arg("chip select", 0, 3), default=0, metavar="N",
                        help="chip select 0-3 (default 0)")
    parser.add_argument("--mode", type=int_arg("mode", 0, 3), default=0, metavar="MODE",
                        help="clock polarity and phase 0-3 (default 0)")
    parser.add_argument("--frequency", type=int_arg("frequency", 1, 100_000_000, "Hz"),
                        default=1_000_000, metavar="HZ", help="clock (default %(default)s Hz)")
    parser.add_argument("--lsb-first", action="store_true", help="least significant bit first")
    parser.add_argument("--cs-active-high", action="store_true",
                        help="chip select active high")


def settings_of(args: argparse.Namespace) -> SpiSettings:
    return SpiSettings(args.cs, args.mode, args.frequency, args.lsb_first, args.cs_active_high)


def register(commands: Any) -> None:
    family = commands.add_parser(
        "spi", help="SPI controller: transfer, and flash id|read|write|erase|verify",
        description="The SPI controller: raw transfers and SPI NOR flash programming.",
        epilog="examples:\n  vantor spi transfer 9f 00 00 00\n  vantor spi flash id\n"
        "  vantor spi flash write firmware.bin\n  vantor spi flash read --length 0x10000 dump.bin",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    sub = family.add_subparsers(dest="spi_command", metavar="COMMAND", required=True)

    transfer = subcommand(
        sub, "transfer", help="clock bytes out and print the bytes clocked in",
        description="One full-duplex transfer under one chip select: the bytes given (hex) "
        "go out, padded with zeros to --length, and the bytes received are printed as a hex "
        "dump.",
        examples=["vantor spi transfer 9f 00 00 00", "vantor spi transfer 0x05 --length 2",
                  "vantor spi transfer --cs 1 --mode 3 03000000 --length 20"],
        func=run_transfer, prepare=prepare_transfer,
    )
    add_bus_options(transfer)
    transfer.add_argument("--length", metavar="N", help="bytes to clock (default: as many as given)")
    transfer.add_argument("data", nargs="+", metavar="HEX", help="bytes to send, in hex")

    flash = sub.add_parser(
        "flash", help="program SPI NOR flashes: id, read, write, erase, verify",
        description="SPI NOR flashes with the common command set (JEDEC id 0x9f, read 0x03, "
        "page program 0x02, 4 KiB sector erase 0x20, status 0x05). Progress and rate go to "
        "stderr.",
        epilog="examples:\n  vantor spi flash id\n  vantor spi flash write image.bin\n"
        "  vantor spi flash verify image.bin\n  vantor spi flash erase --offset 0x10000 --length 8192",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    actions = flash.add_subparsers(dest="flash_command", metavar="COMMAND", required=True)
    ident = subcommand(
        actions, "id", help="read the JEDEC id and the size it announces",
        examples=["vantor spi flash id", "vantor spi flash id --cs 1 --json"], func=run_id,
    )
    add_bus_options(ident)
    for name, help_text, func, examples in (
        ("read", "read the flash into FILE", run_read,
         ["vantor spi flash read dump.bin", "vantor spi flash read --offset 0x1000 --length 256 part.bin",
          "vantor spi flash read --length 64 - | xxd"]),
        ("write", "erase, program and verify FILE into the flash", run_write,
         ["vantor spi flash write image.bin", "vantor spi flash write --offset 0x10000 app.bin"]),
        ("verify", "compare the flash with FILE", run_verify,
         ["vantor spi flash verify image.bin"]),
    ):
        action = subcommand(actions, name, help=help_text, examples=examples, func=func,
                            json_output=True,
                            prepare=prepare_read if name == "read" else load_image)
        add_bus_options(action)
        add_range_options(action, length=name == "read")
        if name != "read":
            action.add_argument("--skip", type=int_arg("skip", 0, MAX_ADDRESSABLE), default=0,
                                metavar="N", help="leave out the first N bytes of FILE")
        action.add_argument("file", metavar="FILE", help=(
            "the file to read into ('-': standard output)" if name == "read"
            else "the image file ('-': standard input)"))
        action.add_argument("--quiet", action="store_true", help="no progress on stderr")
        if name == "write":
            action.add_argument("--no-verify", action="store_true",
                                help="skip reading back what was written")
    erase = subcommand(
        actions, "erase", help="erase sectors (the whole flash by default)",
        description=f"Erase whole {SECTOR_SIZE}-byte sectors: --offset and --length are "
        f"multiples of {SECTOR_SIZE} (to the end of the flash without --length).",
        examples=["vantor spi flash erase", "vantor spi flash erase -y --offset 0x10000 --length 4096"],
        func=run_erase, prepare=prepare_erase,
    )
    erase.add_argument("-y", dest="yes", action="store_true", help="do not ask for confirmation")
    add_bus_options(erase)
    add_range_options(erase, length=True)
    erase.add_argument("--quiet", action="store_true", help="no progress on stderr")


def add_range_options(parser: argparse.ArgumentParser, *, length: bool) -> None:
    parser.add_argument("--offset", type=int_arg("offset", 0, MAX_ADDRESSABLE - 1), default=0,
                        metavar="ADDRESS", help="flash address to start at (default 0)")
    if length:
        parser.add_argument("--length", type=int_arg("length", 0, MAX_ADDRESSABLE), metavar="N",
                            help="bytes (default: to the end)")
    parser.add_argument("--size", type=int_arg("size", 1, 1 << 32), metavar="N",
                        help="the flash's size, when its JEDEC id does not tell")


# ------------------------------------------------------------- controller
def setup(dev: DeviceFacade, settings: SpiSettings) -> None:
    values = (
        SpiBitOrder.LSB if settings.lsb_first else SpiBitOrder.MSB,
        SpiMode(settings.mode),
        SpiDataWidth.BITS_8,
        SpiChipSelect(settings.chip_select),
        SpiChipSelectPolarity.ACTIVE_HIGH if settings.active_high else SpiChipSelectPolarity.ACTIVE_LOW,
        settings.frequency,
    )
    init_or_reconfigure(lambda: dev.spi_controller_init(*values),
                        lambda: dev.spi_set_parameters(*values))


def prepare_transfer(args: argparse.Namespace) -> None:
    args.payload = parse_hex_bytes(args.data)
    length = len(args.payload) if args.length is None else parse_int(args.length, "length")
    if not 1 <= length <= MAX_TRANSFER or len(args.payload) > MAX_TRANSFER:
        raise UsageError(f"a transfer is 1 to {MAX_TRANSFER} bytes")
    args.transfer_length = max(length, len(args.payload))


def run_transfer(ctx: Context, args: argparse.Namespace) -> None:
    setup(ctx.dev, settings_of(args))
    received = ctx.dev.spi_transfer(args.payload, args.transfer_length)
    ctx.emit({"sent": args.payload.hex(), "received": received.hex()},
             "\n".join(hexdump(received)))


# ------------------------------------------------------------------ flash
def jedec_id(dev: DeviceFacade) -> bytes:
    return dev.spi_transfer(bytes([CMD_JEDEC_ID]), 4)[1:4]


def flash_size(jedec: bytes) -> Optional[int]:
    """The size the capacity byte announces (2 ** capacity bytes), when it
    is plausible."""
    if len(jedec) < 3 or jedec[0] in (0x00, 0xFF):
        return None
    capacity = jedec[2]
    return 1 << capacity if 10 <= capacity <= 31 else None


class Flash:
    """A NOR flash on one chip select, reached through the SPI controller."""

    def __init__(self, dev: DeviceFacade, size: int, busy_timeout: float = 10.0) -> None:
        self.dev = dev
        self.size = size
        self.busy_timeout = busy_timeout
        self.bulk_payload = bulk_payload(dev)

    def address(self, command: int, address: int) -> bytes:
        return bytes([command]) + address.to_bytes(3, "big")

    def read(self, address: int, length: int) -> bytes:
        """``length`` bytes from ``address``, in as many transfers as it takes."""
        out = bytearray()
        while len(out) < length:
            at, count = address + len(out), min(self.read_chunk(), length - len(out))
            if self.bulk_payload:
                out += self.dev.spi_read_bulk(self.address(CMD_READ, at), count)
            else:
                out += self.dev.spi_transfer(self.address(CMD_READ, at), 4 + count)[4:]
        return bytes(out)

    def read_chunk(self) -> int:
        """The most one transfer reads."""
        return self.bulk_payload or MAX_TRANSFER - 4

    def wait_ready(self) -> None:
        deadline = time.monotonic() + self.busy_timeout
        while self.dev.spi_transfer(bytes([CMD_READ_STATUS]), 2)[1] & STATUS_BUSY:
            if time.monotonic() > deadline:
                raise CommandFailed("the flash stayed busy")

    def write_enable(self) -> None:
        self.dev.spi_transfer(bytes([CMD_WRITE_ENABLE]), 1)

    def erase_sector(self, address: int) -> None:
        self.write_enable()
        self.dev.spi_transfer(self.address(CMD_SECTOR_ERASE, address), 4)
        self.wait_ready()

    def program_page(self, address: int, data: bytes) -> None:
        self.write_enable()
        frame = self.address(CMD_PAGE_PROGRAM, address) + data
        self.dev.spi_transfer(frame, len(frame))
        self.wait_ready()


def bulk_payload(dev: DeviceFacade) -> int:
    """The largest SPI read over the bulk interface; 0 without one."""
    if not dev.is_bulk_transport_available():
        return 0
    _info, supported, groups = dev.get_bulk_capabilities()
    if not supported:
        return 0
    return next((int(size) for group, size, _mask in groups if group == SPI_BULK_GROUP), 0)


def open_flash(ctx: Context, args: argparse.Namespace) -> Flash:
    setup(ctx.dev, settings_of(args))
    size = args.size
    if size is None:
        jedec = jedec_id(ctx.dev)
        size = flash_size(jedec)
        if size is None:
            raise CommandFailed(
                f"no flash recognised on CS{args.cs} (JEDEC id {jedec.hex(' ')}); "
                "give --size to go on anyway"
            )
    return Flash(ctx.dev, min(size, MAX_ADDRESSABLE))


def flash_range(
    args: argparse.Namespace, flash: Flash, data_length: Optional[int]
) -> Tuple[int, int]:
    offset = args.offset
    if data_length is None:
        data_length = flash.size - offset if args.length is None else args.length
    if offset + data_length > flash.size:
        raise UsageError(
            f"0x{offset:x}+{data_length} lies outside the flash ({flash.size} bytes)"
        )
    return offset, data_length


def run_id(ctx: Context, args: argparse.Namespace) -> None:
    setup(ctx.dev, settings_of(args))
    jedec = jedec_id(ctx.dev)
    size = flash_size(jedec)
    text = f"JEDEC id {jedec.hex(' ')}: manufacturer 0x{jedec[0]:02x}, type 0x{jedec[1]:02x}, "
    text += f"{size} bytes" if size else "size unknown"
    ctx.emit({"jedec_id": jedec.hex(), "manufacturer_id": jedec[0], "memory_type": jedec[1],
              "size": size}, text)


def read_range(ctx: Context, flash: Flash, offset: int, length: int, what: str,
               quiet: bool, check: Optional[Callable[[int, bytes], None]] = None) -> bytes:
    progress = Progress(what, length, ctx.err, quiet=quiet or ctx.json)
    out = bytearray()
    while len(out) < length:
        chunk = flash.read(offset + len(out), min(flash.read_chunk(), length - len(out)))
        if check is not None:
            check(offset + len(out), chunk)
        out += chunk
        progress.advance(len(chunk))
    progress.finish()
    return bytes(out)


def prepare_read(args: argparse.Namespace) -> None:
    """Refuses a FILE the flash's bytes could not be saved to before the
    adapter is opened, with the error opening it would give (a file is only
    written once the whole range was read, so a failed read leaves an
    existing one as it was)."""
    if args.file == "-":
        if args.json:
            raise UsageError("--json and FILE '-' would both write to standard output")
        return
    if os.path.isdir(args.file):
        raise OSError(errno.EISDIR, os.strerror(errno.EISDIR), args.file)
    folder = os.path.dirname(args.file) or os.curdir
    if not os.path.isdir(folder):
        raise OSError(errno.ENOENT, os.strerror(errno.ENOENT), args.file)
    if not os.access(args.file if os.path.exists(args.file) else folder, os.W_OK):
        raise OSError(errno.EACCES, os.strerror(errno.EACCES), args.file)


def run_read(ctx: Context, args: argparse.Namespace) -> None:
    flash = open_flash(ctx, args)
    offset, length = flash_range(args, flash, None)
    data = read_range(ctx, flash, offset, length, "read", args.quiet)
    if args.file == "-":
        # The bytes go to standard output as they are; progress and
        # messages stay on stderr.
        ctx.out.flush()
        binary = getattr(ctx.out, "buffer", None)
        if binary is None:
            raise CommandFailed("standard output takes no binary data here")
        binary.write(data)
        binary.flush()
        return
    with open(args.file, "wb") as f:
        f.write(data)
    ctx.emit({"offset": offset, "length": length, "file": args.file, "bulk": bool(flash.bulk_payload)})


def read_file(path: str) -> bytes:
    """The bytes of an image file; ``-`` reads standard input to its end."""
    if path == "-":
        return sys.stdin.buffer.read()
    with open(path, "rb") as f:
        return f.read()


def verify(ctx: Context, flash: Flash, offset: int, image: bytes, quiet: bool) -> None:
    def check(at: int, chunk: bytes) -> None:
        expected = image[at - offset : at - offset + len(chunk)]
        if chunk != expected:
            first = next(i for i, (a, b) in enumerate(zip(chunk, expected)) if a != b)
            raise CommandFailed(
                f"mismatch at 0x{at + first:06x}: flash 0x{chunk[first]:02x}, "
                f"file 0x{expected[first]:02x}"
            )

    read_range(ctx, flash, offset, len(image), "verify", quiet, check)


def run_verify(ctx: Context, args: argparse.Namespace) -> None:
    image = args.image
    flash = open_flash(ctx, args)
    offset, _length = flash_range(args, flash, len(image))
    verify(ctx, flash, offset, image, args.quiet)
    ctx.emit({"offset": offset, "length": len(image), "match": True})


def prepare_erase(args: argparse.Namespace) -> None:
    """Only whole sectors are erased: a range that would take bytes around
    it along is refused, with the aligned range it would have been."""
    length = args.length
    if args.offset % SECTOR_SIZE == 0 and (length is None or length % SECTOR_SIZE == 0):
        return
    first = args.offset - args.offset % SECTOR_SIZE
    end = args.offset + (length if length is not None else SECTOR_SIZE)
    end = -(-end // SECTOR_SIZE) * SECTOR_SIZE
    raise UsageError(
        f"the flash erases whole {SECTOR_SIZE}-byte sectors: 0x{args.offset:x}+{length} would "
        f"erase 0x{first:06x}-0x{end - 1:06x} (--offset 0x{first:x} --length {end - first})"
        if length is not None else
        f"the flash erases whole {SECTOR_SIZE}-byte sectors: --offset 0x{args.offset:x} is "
        f"not at the start of one (the sector starts at 0x{first:x})"
    )


def erase_sectors(ctx: Context, flash: Flash, offset: int, length: int, quiet: bool) -> None:
    progress = Progress("erase", length, ctx.err, quiet=quiet or ctx.json)
    for sector in range(offset, offset + length, SECTOR_SIZE):
        flash.erase_sector(sector)
        progress.advance(min(SECTOR_SIZE, offset + length - sector))
    progress.finish()


def run_erase(ctx: Context, args: argparse.Namespace) -> None:
    flash = open_flash(ctx, args)
    offset, length = flash_range(args, flash, None)
    if length:
        ask_to_continue(ctx, args.yes, "This erases the flash: the bytes in the range are lost.", [
            f"I will erase 0x{offset:06x}-0x{offset + length - 1:06x} ({length} bytes) of the "
            f"flash on CS{args.cs}."])
    erase_sectors(ctx, flash, offset, length, args.quiet)
    ctx.emit({"offset": offset, "length": length})


def load_image(args: argparse.Namespace) -> None:
    """FILE without its first --skip bytes, read before the adapter is opened."""
    image = read_file(args.file)
    if args.skip > len(image):
        raise UsageError(f"--skip {args.skip} is beyond the end of {args.file} ({len(image)} bytes)")
    args.image = image[args.skip :]


class InterruptAtBoundary:
    """Holds Ctrl-C back until ``boundary()``: a sector erased but not yet
    programmed again would lose the bytes it shared with the image.

    Only a SIGINT that would raise KeyboardInterrupt is held back: one that
    is ignored, or handled by the program embedding the command, is left as
    it is; and signals reach the main thread only."""

    def __init__(self) -> None:
        self.pending = False
        self.previous: Any = signal.default_int_handler
        self.installed = False

    def __enter__(self) -> "InterruptAtBoundary":
        if (threading.current_thread() is threading.main_thread()
                and signal.getsignal(signal.SIGINT) is signal.default_int_handler):
            self.previous = signal.signal(signal.SIGINT, self._hold)
            self.installed = True
        return self

    def _hold(self, _signum: int, _frame: Optional[FrameType]) -> None:
        self.pending = True

    def boundary(self) -> None:
        if self.pending:
            self.pending = False
            raise KeyboardInterrupt

    def __exit__(self, kind: Optional[type], *_exc: Any) -> None:
        if self.installed:
            signal.signal(signal.SIGINT, self.previous)
        if kind is None:
            self.boundary()


def resume_command(args: argparse.Namespace, offset: int, skip: int, action: str) -> str:
    """The command line that does the rest of an interrupted write (or its
    verification), with the adapter and bus options of this one."""
    words: List[str] = ["vantor"]
    if args.device:
        words += ["--device", args.device]
    elif args.serial:
        words += ["--serial", args.serial]
    words += ["spi", "flash", action]
    defaults = SpiSettings()
    for option, value, default in (("--cs", args.cs, defaults.chip_select),
                                   ("--mode", args.mode, defaults.mode),
                                   ("--frequency", args.frequency, defaults.frequency),
                                   ("--size", args.size, None)):
        if value != default:
            words += [option, str(value)]
    flags = (("--lsb-first", args.lsb_first), ("--cs-active-high", args.cs_active_high),
             ("--no-verify", action == "write" and args.no_verify), ("--quiet", args.quiet))
    words += [flag for flag, on in flags if on]
    words += ["--offset", f"0x{offset:x}"] + (["--skip", str(skip)] if skip else [])
    return " ".join(shlex.quote(word) for word in words + [args.file])


def program_sectors(flash: Flash, first: int, content: bytes, progress: Progress,
                    guard: InterruptAtBoundary, done: List[int]) -> None:
    """Erase and program ``content`` from the sector boundary ``first``,
    sector by sector; ``done[0]`` follows the end of the sectors finished."""
    for sector in range(first, first + len(content), SECTOR_SIZE):
        guard.boundary()
        flash.erase_sector(sector)
        data = content[sector - first : sector - first + SECTOR_SIZE]
        for at in range(0, len(data), PAGE_SIZE):
            page = data[at : at + PAGE_SIZE]
            # An erased page is already all ones.
            if page.strip(b"\xff"):
                flash.program_page(sector + at, page)
        done[0] = sector + len(data)
        progress.advance(len(data))


def run_write(ctx: Context, args: argparse.Namespace) -> None:
    image = args.image
    flash = open_flash(ctx, args)
    offset, length = flash_range(args, flash, len(image))
    # Sectors are erased whole: what shares a sector with the image but lies
    # outside it is read first and written back with it.
    first = offset - offset % SECTOR_SIZE
    end = -(-(offset + length) // SECTOR_SIZE) * SECTOR_SIZE
    end = min(end, flash.size)
    done = [first]
    try:
        before = flash.read(first, offset - first) if offset > first else b""
        after_start = offset + length
        after = flash.read(after_start, end - after_start) if end > after_start else b""
        content = before + image + after
        progress = Progress("write", len(content), ctx.err, quiet=args.quiet or ctx.json)
        with InterruptAtBoundary() as guard:
            program_sectors(flash, first, content, progress, guard, done)
        progress.finish()
        if not args.no_verify:
            verify(ctx, flash, first, content, args.quiet)
    except KeyboardInterrupt:
        written = min(max(done[0], offset), offset + length)
        skip = args.skip + written - offset
        if written == offset + length:
            ctx.note(f"{args.operation}: interrupted: 0x{offset:06x}-0x{written - 1:06x} written, not verified; "
                     f"to verify: {resume_command(args, offset, args.skip, 'verify')}")
        else:
            wrote = (f"0x{offset:06x}-0x{written - 1:06x} written ({written - offset} of "
                     f"{length} bytes)" if written > offset else "nothing written")
            ctx.note(f"{args.operation}: interrupted: {wrote}; to go on: "
                     f"{resume_command(args, written, skip, 'write')}")
        raise
    ctx.emit({"offset": offset, "length": length, "verified": not args.no_verify})
