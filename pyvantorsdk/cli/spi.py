# SPDX-License-Identifier: MIT
"""``vantor spi``: raw full-duplex transfers, and programming SPI NOR
flashes (JEDEC id, read, write, erase, verify)."""

from __future__ import annotations

import argparse
import contextlib
import errno
import os
import shlex
import signal
import threading
from dataclasses import dataclass
from types import FrameType
from typing import Any, Iterator, List, Optional, Tuple

from pyvantorsdk import (
    DeviceFacade,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
)
from pyvantorsdk import flash as flashlib
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
    read_file,
    subcommand,
)
from pyvantorsdk.flash import Flash, ProgramError, flash_size, jedec_id

# The flash commands, and the flash itself, live in pyvantorsdk.flash.
MAX_TRANSFER = flashlib.MAX_TRANSFER
SECTOR_SIZE = flashlib.SECTOR_SIZE
MAX_ADDRESSABLE = flashlib.MAX_ADDRESSABLE


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
        "page program 0x02, erase 0x20/0x52/0xd8/0xc7 of 4 KiB, 32 KiB, 64 KiB or the chip, "
        "status 0x05). write reads the range first and leaves alone what already matches; "
        "it erases only sectors whose new content sets bits, with the largest aligned erases "
        "that fit, and says what it did. Progress and rate go to stderr.",
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
        ("write", "program FILE into the flash where it differs, and verify", run_write,
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
        f"multiples of {SECTOR_SIZE} (to the end of the flash without --length). The largest "
        "aligned erases that fit are used (64 KiB and 32 KiB blocks, the chip).",
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
@contextlib.contextmanager
def open_flash(ctx: Context, args: argparse.Namespace) -> Iterator[Flash]:
    """The flash on the chosen chip select, its requests pipelined."""
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
    yield Flash(ctx.dev, min(size, MAX_ADDRESSABLE))


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


def read_range(ctx: Context, flash: Flash, offset: int, length: int, quiet: bool) -> bytes:
    progress = Progress("read", length, ctx.err, quiet=quiet or ctx.json)
    out = bytearray()
    for chunk in flash.read_chunks(offset, length):
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
    with open_flash(ctx, args) as flash:
        offset, length = flash_range(args, flash, None)
        data = read_range(ctx, flash, offset, length, args.quiet)
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


def run_verify(ctx: Context, args: argparse.Namespace) -> None:
    image = args.image
    with open_flash(ctx, args) as flash:
        offset, _length = flash_range(args, flash, len(image))
        progress = Progress("verify", len(image), ctx.err, quiet=args.quiet or ctx.json)
        at = offset
        for chunk in flash.read_chunks(offset, len(image)):
            expected = image[at - offset : at - offset + len(chunk)]
            if chunk != expected:
                raise CommandFailed(flashlib.mismatch_text(at, chunk, expected))
            at += len(chunk)
            progress.advance(len(chunk))
        progress.finish()
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
    """Erases the sector-aligned range with the largest erases that fit it."""
    progress = Progress("erase", length, ctx.err, quiet=quiet or ctx.json)
    sectors = range(offset, offset + length, SECTOR_SIZE)
    for address, size in flash.erase_plan(sectors, offset, offset + length):
        flash.erase(address, size)
        progress.advance(min(size, offset + length - address))
    progress.finish()


def run_erase(ctx: Context, args: argparse.Namespace) -> None:
    with open_flash(ctx, args) as flash:
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


def run_write(ctx: Context, args: argparse.Namespace) -> None:
    image = args.image
    with open_flash(ctx, args) as flash:
        offset, length = flash_range(args, flash, len(image))
        first = offset - offset % SECTOR_SIZE
        done = [first]
        progress = Progress("write", 0, ctx.err, quiet=args.quiet or ctx.json)
        guard = InterruptAtBoundary()

        def advance(bytes_done: int, total: int) -> None:
            # The first call comes after the comparison read, before the
            # first change: Ctrl-C is held back from then on.
            if not bytes_done:
                held.enter_context(guard)
            progress.total = total
            progress.advance(bytes_done - (done[0] - first))
            done[0] = first + bytes_done
            guard.boundary()

        try:
            with contextlib.ExitStack() as held:
                report = flash.program(offset, image, verify=not args.no_verify, progress=advance)
        except KeyboardInterrupt:
            written = min(max(done[0], offset), offset + length)
            skip = args.skip + written - offset
            if written == offset + length:
                ctx.note(f"{args.operation}: interrupted: 0x{offset:06x}-0x{written - 1:06x} written, "
                         f"not verified; to verify: {resume_command(args, offset, args.skip, 'verify')}")
            else:
                wrote = (f"0x{offset:06x}-0x{written - 1:06x} written ({written - offset} of "
                         f"{length} bytes)" if written > offset else "nothing written")
                ctx.note(f"{args.operation}: interrupted: {wrote}; to go on: "
                         f"{resume_command(args, written, skip, 'write')}")
            raise
        except ProgramError as e:
            written = min(max(e.report.done_until, offset), offset + length)
            wrote = (f"0x{offset:06x}-0x{written - 1:06x} written" if written > offset
                     else "nothing written")
            raise CommandFailed(f"{e.__cause__ or e} ({wrote}; {e.report.summary()})") from e
        progress.finish()
    ctx.emit({"offset": offset, "length": length, "verified": report.verified, **report.as_dict()},
             f"{args.file}: {report.summary()}")
