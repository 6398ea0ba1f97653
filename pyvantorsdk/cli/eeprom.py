# SPDX-License-Identifier: MIT
"""``vantor i2c eeprom``: read, write and verify I2C serial EEPROMs."""

from __future__ import annotations

import argparse
import contextlib
import sys
from typing import Any, Dict, Iterator

from pyvantorsdk import eeprom
from pyvantorsdk.cli.common import (
    CommandFailed,
    Context,
    Progress,
    UsageError,
    bus_arg,
    family,
    int_arg,
    read_file,
    subcommand,
)
from pyvantorsdk.cli.i2cbus import bus_name, chip_address, common_options, confirm, setup_bus


def register(sub: Any) -> None:
    """Adds ``eeprom`` to the ``vantor i2c`` subcommands."""
    actions = family(
        sub, "eeprom", help="read, write or verify an I2C EEPROM",
        description="Serial EEPROMs with 1-byte (up to 256 bytes, or 2 KiB answering at one "
        "address per 256-byte block) or 2-byte memory addresses. Writes go a page at a time "
        "and wait for each page by acknowledge polling. FILE - is stdin or stdout. Progress "
        "goes to stderr.",
        examples=["vantor i2c eeprom read A 0x50 dump.bin",
                  "vantor i2c eeprom write -y --address-width 2 --page-size 64 A 0x50 image.bin",
                  "vantor i2c eeprom verify --address-width 2 --size 4096 A 0x50 image.bin"],
    )
    for name, help_text, func, examples in (
        ("read", "read the EEPROM (from --offset to --size) into FILE", run_read,
         ["vantor i2c eeprom read A 0x50 dump.bin",
          "vantor i2c eeprom read --address-width 2 --size 4096 A 0x50 - | xxd"]),
        ("write", "write FILE into the EEPROM at --offset", run_write,
         ["vantor i2c eeprom write -y A 0x50 image.bin",
          "vantor i2c eeprom write -y --address-width 2 --page-size 32 --offset 0x100 A 0x50 -"]),
        ("verify", "compare the EEPROM at --offset with FILE", run_verify,
         ["vantor i2c eeprom verify A 0x50 image.bin"]),
    ):
        action = subcommand(actions, name, help=help_text, examples=examples, func=func,
                            prepare=prepare_read if name == "read" else prepare_image,
                            intermixed=True)
        common_options(action)
        action.add_argument("--address-width", type=int_arg("address width", 1, 2), default=1,
                            metavar="1|2", help="memory address bytes (default 1)")
        action.add_argument("--page-size", type=int_arg("page size", 1, eeprom.MAX_TRANSFER),
                            default=16, metavar="N", help="write page in bytes (default 16)")
        action.add_argument("--size", type=int_arg("size", 1, eeprom.MAX_SIZE[2]), metavar="N",
                            help="the part's size in bytes (default: 256 with 1-byte addresses;"
                            " needed with 2-byte addresses to read)")
        action.add_argument("--offset", type=int_arg("offset", 0, eeprom.MAX_SIZE[2] - 1),
                            default=0, metavar="ADDRESS", help="memory address to start at")
        action.add_argument("--quiet", action="store_true", help="no progress on stderr")
        action.add_argument("bus", type=bus_arg, metavar="I2CBUS", help="the bus, A or B (0 and 1 name them too)")
        action.add_argument("chip", metavar="CHIP-ADDRESS",
                            help="the EEPROM's 7-bit address (0x50 for most parts)")
        action.add_argument("file", metavar="FILE", help="the image file; - for standard "
                            + ("output" if name == "read" else "input"))


def part_size(args: argparse.Namespace) -> int:
    """The bytes the command may reach: --size, else all that the address
    width reaches (256 bytes for 1-byte addresses)."""
    if args.size is not None:
        if args.size > eeprom.MAX_SIZE[args.address_width]:
            raise UsageError(f"--size {args.size}: {args.address_width}-byte addresses reach "
                             f"{eeprom.MAX_SIZE[args.address_width]} bytes")
        return int(args.size)
    return eeprom.BLOCK if args.address_width == 1 else eeprom.MAX_SIZE[2]


def prepare_common(args: argparse.Namespace) -> None:
    args.address = chip_address(args.chip, False)
    args.limit = part_size(args)
    if args.offset >= args.limit:
        raise UsageError(f"--offset 0x{args.offset:x} lies outside the EEPROM ({args.limit} bytes)")
    if args.address_width == 1 and args.address + (args.limit - 1) // eeprom.BLOCK > 0x7F:
        raise UsageError(f"a {args.limit}-byte part does not fit at chip address 0x{args.address:02x}")


def prepare_read(args: argparse.Namespace) -> None:
    if args.address_width == 2 and args.size is None:
        raise UsageError("give --size: a part with 2-byte addresses does not tell its size")
    prepare_common(args)


def prepare_image(args: argparse.Namespace) -> None:
    """FILE is read before the adapter is opened; stdin needs -y for a
    write, as the confirmation would read it too."""
    prepare_common(args)
    if args.file == "-":
        if args.operation.endswith("write") and not args.yes:
            raise UsageError("FILE - (stdin) carries the data: give -y")
        args.image = sys.stdin.buffer.read()
    else:
        args.image = read_file(args.file)
    if args.offset + len(args.image) > args.limit:
        raise UsageError(f"0x{args.offset:x}+{len(args.image)} lies outside the EEPROM "
                         f"({args.limit} bytes)")


def options_of(args: argparse.Namespace) -> Dict[str, Any]:
    return {"address_width": args.address_width, "page_size": args.page_size}


@contextlib.contextmanager
def part_errors() -> Iterator[None]:
    """A part that does not answer fails the command with the reason."""
    try:
        yield
    except eeprom.EepromError as e:
        raise CommandFailed(str(e)) from e


def run_read(ctx: Context, args: argparse.Namespace) -> None:
    length = args.limit - args.offset
    setup_bus(ctx.dev, args)
    progress = Progress("read", length, ctx.err, quiet=args.quiet or ctx.json)
    with part_errors():
        data = eeprom.read(ctx.dev, args.bus, args.address, args.offset, length,
                           **options_of(args))
    progress.advance(len(data))
    progress.finish()
    if args.file == "-":
        out = getattr(ctx.out, "buffer", None)
        if out is None:
            raise CommandFailed("standard output takes no bytes here")
        ctx.out.flush()
        out.write(data)
        out.flush()
        return
    with open(args.file, "wb") as f:
        f.write(data)
    ctx.emit({"offset": args.offset, "length": length, "file": args.file})


def run_write(ctx: Context, args: argparse.Namespace) -> None:
    image = args.image
    confirm(ctx, args, [
        f"I will write {len(image)} bytes to bus {bus_name(args.bus)}, chip address "
        f"0x{args.address:02x}, from memory address 0x{args.offset:x}."
    ])
    setup_bus(ctx.dev, args)
    progress = Progress("write", len(image), ctx.err, quiet=args.quiet or ctx.json)
    with part_errors():
        pages = eeprom.write(ctx.dev, args.bus, args.address, args.offset, image,
                             progress=lambda done, _total: progress.advance(done - progress.done),
                             **options_of(args))
    progress.finish()
    ctx.emit({"offset": args.offset, "length": len(image), "pages": pages},
             f"{len(image)} bytes written in {pages} page writes")


def run_verify(ctx: Context, args: argparse.Namespace) -> None:
    image = args.image
    setup_bus(ctx.dev, args)
    with part_errors():
        found = eeprom.first_difference(ctx.dev, args.bus, args.address, args.offset, image,
                                        **options_of(args))
    if found is not None:
        at, got, wanted = found
        raise CommandFailed(f"mismatch at 0x{at:04x}: eeprom 0x{got:02x}, file 0x{wanted:02x}")
    ctx.emit({"offset": args.offset, "length": len(image), "match": True})
