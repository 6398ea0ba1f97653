# SPDX-License-Identifier: MIT
"""``vantor i2c``: detect, get, set, dump and transfer, with the arguments,
modes and output of the classic I2C shell tools, on bus A or B."""

from __future__ import annotations

import argparse
import sys
from dataclasses import dataclass, field
from typing import AbstractSet, Any, Dict, List, Optional, Sequence

from pyvantorsdk import DeviceFacade, I2cBus, I2cPullUp
from pyvantorsdk.cli.common import (
    CommandFailed,
    Context,
    UsageError,
    bus_arg,
    enum_choice,
    init_or_reconfigure,
    int_arg,
    parse_int,
    subcommand,
)

MAX_TRANSFER = 1024  # the most one command-channel transfer moves, either way


def register(commands: Any) -> None:
    family = commands.add_parser(
        "i2c",
        help="I2C controller: detect, get, set, dump, transfer, eeprom",
        description="The I2C buses (A and B) in the controller role, in the grammar of the "
        "usual I2C shell tools. Without -y each command asks before touching the bus.",
        epilog="examples:\n  vantor i2c detect -y A\n  vantor i2c get -y A 0x50 0x00\n"
        "  vantor i2c dump -y A 0x50\n  vantor i2c transfer -y A w2@0x50 0x00 0x10 r8",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    sub = family.add_subparsers(dest="i2c_command", metavar="COMMAND", required=True)

    detect = subcommand(
        sub, "detect", help="scan a bus and print the grid of answering addresses",
        examples=["vantor i2c detect -y A", "vantor i2c detect -y -a B",
                  "vantor i2c detect -y A 0x40 0x5f", "vantor i2c detect -y A --json"],
        func=run_detect,
    )
    common_options(detect)
    detect.add_argument("-a", action="store_true", dest="all_addresses",
                        help="scan every address 0x00-0x7f, not 0x08-0x77")
    detect.add_argument("-q", action="store_true", help="accepted for compatibility (the "
                        "adapter probes in one way only)")
    detect.add_argument("-r", action="store_true", help="accepted for compatibility")
    detect.add_argument("bus", type=bus_arg, metavar="I2CBUS", help="A or B")
    detect.add_argument("first", nargs="?", type=int_arg("first address", 0, 0x7F),
                        metavar="FIRST")
    detect.add_argument("last", nargs="?", type=int_arg("last address", 0, 0x7F), metavar="LAST")

    get = subcommand(
        sub, "get", help="read a byte, word or block from a device",
        description="Read from a device: MODE b (byte data, default), w (word data), "
        "c (write byte, then read byte), s (SMBus block), i (I2C block of LENGTH bytes). "
        "Without DATA-ADDRESS, a plain read byte.",
        examples=["vantor i2c get -y A 0x50", "vantor i2c get -y A 0x50 0x00",
                  "vantor i2c get -y A 0x68 0x10 w", "vantor i2c get -y A 0x50 0x00 i 16"],
        func=run_get, prepare=prepare_get,
    )
    common_options(get)
    get.add_argument("-a", action="store_true", dest="all_addresses",
                     help="allow addresses 0x00-0x07 and 0x78-0x7f")
    get.add_argument("bus", type=bus_arg, metavar="I2CBUS")
    get.add_argument("chip", metavar="CHIP-ADDRESS")
    get.add_argument("data_address", nargs="?", metavar="DATA-ADDRESS")
    get.add_argument("mode", nargs="?", metavar="MODE")
    get.add_argument("length", nargs="?", metavar="LENGTH")

    set_ = subcommand(
        sub, "set", help="write a byte, word or block to a device",
        description="Write to a device: MODE b (byte data, default with a VALUE), w (word "
        "data), c (send DATA-ADDRESS alone, default without VALUE), s (SMBus block), "
        "i (I2C block). -m MASK changes only the masked bits; -r reads back.",
        examples=["vantor i2c set -y A 0x68 0x10 0x5a", "vantor i2c set -y A 0x68 0x10 0x1234 w",
                  "vantor i2c set -y A 0x50 0x00 1 2 3 4 i", "vantor i2c set -y -r A 0x68 0x20 0xff"],
        func=run_set, prepare=prepare_set, json_output=False,
    )
    common_options(set_)
    set_.add_argument("-a", action="store_true", dest="all_addresses",
                      help="allow addresses 0x00-0x07 and 0x78-0x7f")
    set_.add_argument("-m", dest="mask", metavar="MASK", help="change only these bits")
    set_.add_argument("-r", dest="readback", action="store_true",
                      help="read the value back and compare")
    set_.add_argument("bus", type=bus_arg, metavar="I2CBUS")
    set_.add_argument("chip", metavar="CHIP-ADDRESS")
    set_.add_argument("data_address", metavar="DATA-ADDRESS")
    set_.add_argument("values", nargs="*", metavar="VALUE ... [MODE]")

    dump = subcommand(
        sub, "dump", help="print a device's registers as a table with their characters",
        description="Read 256 registers (or a range) and print them 16 per row with the "
        "ASCII column: MODE b (byte data, default), c (consecutive bytes), i (I2C block), "
        "w (word data).",
        examples=["vantor i2c dump -y A 0x50", "vantor i2c dump -y -r 0x00-0x1f A 0x50",
                  "vantor i2c dump -y A 0x68 w", "vantor i2c dump -y A 0x50 --json"],
        func=run_dump, prepare=prepare_dump,
    )
    common_options(dump)
    dump.add_argument("-a", action="store_true", dest="all_addresses",
                      help="allow addresses 0x00-0x07 and 0x78-0x7f")
    dump.add_argument("-r", dest="range", metavar="FIRST-LAST",
                      help="only the registers FIRST to LAST, both included")
    dump.add_argument("bus", type=bus_arg, metavar="I2CBUS")
    dump.add_argument("chip", metavar="ADDRESS")
    dump.add_argument("mode", nargs="?", metavar="MODE")

    transfer = subcommand(
        sub, "transfer", help="send a sequence of messages joined by repeated starts",
        description="Each message is DESC [DATA]: DESC is {r|w}LENGTH[@ADDRESS] (the address "
        "carries over to the next messages), DATA the LENGTH bytes of a write; a byte may end "
        "in = (repeat), + (increment), - (decrement) or p (pseudo-random) to fill the rest. "
        "The bytes of each read are printed on a line.",
        examples=["vantor i2c transfer -y A w2@0x50 0x00 0x10 r8",
                  "vantor i2c transfer -y A w17@0x50 0x00 0x00+",
                  "vantor i2c transfer -y -v A w1@0x68 0x10 r2"],
        func=run_transfer, prepare=prepare_transfer,
    )
    common_options(transfer)
    transfer.add_argument("-a", action="store_true", dest="all_addresses",
                          help="allow addresses 0x00-0x07 and 0x78-0x7f")
    transfer.add_argument("-v", dest="verbose", action="store_true",
                          help="print every message, written ones too")
    transfer.add_argument("bus", type=bus_arg, metavar="I2CBUS")
    transfer.add_argument("messages", nargs="+", metavar="DESC [DATA]")

    # EEPROM read/write/verify live in their own module, which uses this one's helpers.
    from pyvantorsdk.cli import eeprom

    eeprom.register(sub)


def common_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("-y", dest="yes", action="store_true",
                        help="do not ask for confirmation")
    parser.add_argument("-f", dest="force", action="store_true",
                        help="accepted for compatibility (nothing else holds the bus)")
    parser.add_argument("--frequency", type=int_arg("frequency", 1, 10_000_000), default=100_000,
                        metavar="HZ", help="bus clock (default %(default)s Hz)")
    parser.add_argument("--pull-up", type=lambda t: enum_choice(I2cPullUp, t),
                        default=I2cPullUp.KOHM_4_7, metavar="VALUE",
                        help="pull-up resistors, e.g. kohm-4-7 (default), kohm-2-2, disable")


# ------------------------------------------------------------------ helpers
def bus_name(bus: I2cBus) -> str:
    return str(bus.name)


def chip_address(text: str, all_addresses: bool) -> int:
    address = parse_int(text, "chip address")
    low, high = (0x00, 0x7F) if all_addresses else (0x08, 0x77)
    if not low <= address <= high:
        raise UsageError(f"chip address {text} out of range (0x{low:02x}-0x{high:02x})")
    return address


def byte_value(text: str, what: str = "data address") -> int:
    value = parse_int(text, what)
    if not 0 <= value <= 0xFF:
        raise UsageError(f"{what} {text} out of range (0x00-0xff)")
    return value


def setup_bus(dev: DeviceFacade, args: argparse.Namespace) -> None:
    init_or_reconfigure(
        lambda: dev.i2c_controller_init(args.bus, args.frequency, args.pull_up),
        lambda: dev.i2c_set_parameters(args.bus, args.frequency, args.pull_up),
    )


def confirm(ctx: Context, args: argparse.Namespace, lines: Sequence[str]) -> None:
    """Ask before touching the bus unless -y; anything but yes ends the command."""
    if args.yes:
        return
    ctx.err.write("WARNING! This program can confuse your I2C bus, cause data loss and worse!\n")
    for line in lines:
        ctx.err.write(line + "\n")
    ctx.err.write("Continue? [Y/n] ")
    ctx.err.flush()
    answer = sys.stdin.readline()
    if not answer or answer.strip().lower() not in ("", "y", "yes"):
        raise CommandFailed("aborting on user request")


# ------------------------------------------------------------------- detect
GRID_HEADER = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f"


def detect_grid(
    found: AbstractSet[int], first: int, last: int, in_use: AbstractSet[int] = frozenset()
) -> List[str]:
    """The scan grid: an answering address as its hex value, ``UU`` for an
    address the caller knows to be taken without probing it (the adapter's
    scan reports none of these itself), ``--`` for silence, blanks outside
    [first, last]."""
    lines = [GRID_HEADER]
    for row in range(0, 128, 16):
        cells = []
        for address in range(row, row + 16):
            if address < first or address > last:
                cells.append("   ")
            elif address in in_use:
                cells.append("UU ")
            elif address in found:
                cells.append(f"{address:02x} ")
            else:
                cells.append("-- ")
        lines.append(f"{row:02x}: " + "".join(cells))
    return lines


def run_detect(ctx: Context, args: argparse.Namespace) -> None:
    first, last = (0x00, 0x7F) if args.all_addresses else (0x08, 0x77)
    if args.first is not None:
        first = args.first
        last = args.last if args.last is not None else last
    if first > last:
        raise UsageError("FIRST is above LAST")
    confirm(ctx, args, [
        f"I will probe bus {bus_name(args.bus)} of the adapter.",
        f"I will probe address range 0x{first:02x}-0x{last:02x}.",
    ])
    setup_bus(ctx.dev, args)
    found = {a for a in ctx.dev.i2c_scan_bus(args.bus).addresses_7bit if first <= a <= last}
    ctx.emit(
        {"bus": bus_name(args.bus), "first": first, "last": last, "addresses": sorted(found)},
        "\n".join(detect_grid(found, first, last)),
    )


# ---------------------------------------------------------------------- get
GET_MODES = ("b", "w", "c", "s", "i")


@dataclass
class GetPlan:
    address: int
    data_address: Optional[int]
    mode: str
    length: int = 1


def parse_mode(text: Optional[str], allowed: Sequence[str], default: str) -> str:
    if text is None:
        return default
    if text.endswith("p") and len(text) == 2:
        raise UsageError("PEC is not supported by the adapter")
    if text not in allowed:
        raise UsageError(f"invalid mode '{text}'")
    return text


def prepare_get(args: argparse.Namespace) -> None:
    address = chip_address(args.chip, args.all_addresses)
    data_address = None if args.data_address is None else byte_value(args.data_address)
    mode = parse_mode(args.mode, GET_MODES, "b")
    if data_address is None and args.mode is not None:
        raise UsageError("MODE needs a DATA-ADDRESS")
    length = 1
    if args.length is not None:
        if mode != "i":
            raise UsageError("LENGTH only goes with mode i")
        length = parse_int(args.length, "length")
        if not 1 <= length <= 32:
            raise UsageError(f"length {args.length} out of range (1-32)")
    elif mode == "i":
        length = 32
    args.plan = GetPlan(address, data_address, mode, length)


def read_get(dev: DeviceFacade, bus: I2cBus, plan: GetPlan) -> List[int]:
    if plan.data_address is None:
        return list(dev.i2c_read(bus, plan.address, b"", 1, False))
    sub = bytes([plan.data_address])
    if plan.mode == "b":
        return list(dev.i2c_read(bus, plan.address, sub, 1, False))
    if plan.mode == "c":
        dev.i2c_write(bus, plan.address, b"", sub, False)
        return list(dev.i2c_read(bus, plan.address, b"", 1, False))
    if plan.mode == "w":
        low, high = dev.i2c_read(bus, plan.address, sub, 2, False)
        return [low | high << 8]
    if plan.mode == "s":
        block = dev.i2c_read(bus, plan.address, sub, 33, False)
        return list(block[1 : 1 + min(block[0], 32)])
    return list(dev.i2c_read(bus, plan.address, sub, plan.length, False))


def run_get(ctx: Context, args: argparse.Namespace) -> None:
    plan: GetPlan = args.plan
    where = "" if plan.data_address is None else f", data address\n0x{plan.data_address:02x}"
    confirm(ctx, args, [
        f"I will read from bus {bus_name(args.bus)}, chip address 0x{plan.address:02x}{where}, "
        f"using {GET_MODE_NAMES[plan.mode if plan.data_address is not None else 'r']}."
    ])
    setup_bus(ctx.dev, args)
    values = read_get(ctx.dev, args.bus, plan)
    if plan.mode == "w":
        text = f"0x{values[0]:04x}"
    else:
        text = " ".join(f"0x{v:02x}" for v in values)
    ctx.emit({"bus": bus_name(args.bus), "address": plan.address,
              "data_address": plan.data_address, "mode": plan.mode, "values": values}, text)


GET_MODE_NAMES = {
    "r": "read byte", "b": "read byte data", "w": "read word data",
    "c": "write byte/read byte", "s": "SMBus block read", "i": "I2C block read",
}


# ---------------------------------------------------------------------- set
SET_MODES = ("b", "w", "c", "s", "i")


@dataclass
class SetPlan:
    address: int
    data_address: int
    mode: str
    values: List[int] = field(default_factory=list)
    mask: Optional[int] = None


def prepare_set(args: argparse.Namespace) -> None:
    address = chip_address(args.chip, args.all_addresses)
    data_address = byte_value(args.data_address)
    words = list(args.values)
    mode_text = None
    if words and not words[-1][:1].isdigit():
        mode_text = words.pop()
    mode = parse_mode(mode_text, SET_MODES, "b" if words else "c")
    if mode == "c" and words:
        raise UsageError("mode c takes no VALUE")
    if mode in ("b", "w") and len(words) != 1:
        raise UsageError(f"mode {mode} takes one VALUE" if words else "VALUE missing")
    if mode in ("s", "i") and not words:
        raise UsageError("block modes take at least one VALUE")
    if mode in ("s", "i") and len(words) > 32:
        raise UsageError("at most 32 values in a block")
    high = 0xFFFF if mode == "w" else 0xFF
    values = []
    for word in words:
        value = parse_int(word, "value")
        if not 0 <= value <= high:
            raise UsageError(f"value {word} out of range (0x00-0x{high:x})")
        values.append(value)
    mask = None
    if args.mask is not None:
        if mode not in ("b", "w"):
            raise UsageError("-m only goes with modes b and w")
        mask = parse_int(args.mask, "mask")
        if not 0 <= mask <= high:
            raise UsageError(f"mask {args.mask} out of range")
    if args.readback and mode not in ("b", "w"):
        raise UsageError("-r only goes with modes b and w")
    args.plan = SetPlan(address, data_address, mode, values, mask)


def run_set(ctx: Context, args: argparse.Namespace) -> None:
    plan: SetPlan = args.plan
    dev, bus, sub = ctx.dev, args.bus, bytes([plan.data_address])
    confirm(ctx, args, [
        f"I will write to bus {bus_name(bus)}, chip address 0x{plan.address:02x}, "
        f"data address 0x{plan.data_address:02x}, using mode {plan.mode}."
    ])
    setup_bus(dev, args)
    width = 2 if plan.mode == "w" else 1
    if plan.mode == "c":
        dev.i2c_write(bus, plan.address, b"", sub, False)
        return
    if plan.mode == "s":
        dev.i2c_write(bus, plan.address, sub, bytes([len(plan.values)] + plan.values), False)
        return
    if plan.mode == "i":
        dev.i2c_write(bus, plan.address, sub, bytes(plan.values), False)
        return
    value = plan.values[0]
    if plan.mask is not None:
        old = int.from_bytes(dev.i2c_read(bus, plan.address, sub, width, False), "little")
        value = (value & plan.mask) | (old & ~plan.mask & (0xFFFF if width == 2 else 0xFF))
        ctx.note(f"Old value 0x{old:0{2 * width}x}, write mask 0x{plan.mask:0{2 * width}x}, "
                 f"will write 0x{value:0{2 * width}x}")
    dev.i2c_write(bus, plan.address, sub, value.to_bytes(width, "little"), False)
    if args.readback:
        back = int.from_bytes(dev.i2c_read(bus, plan.address, sub, width, False), "little")
        if back == value:
            ctx.print(f"Value 0x{value:0{2 * width}x} written, readback matched")
        else:
            raise CommandFailed(f"data mismatch: wrote 0x{value:0{2 * width}x}, "
                                f"read back 0x{back:0{2 * width}x}")


# --------------------------------------------------------------------- dump
DUMP_MODES = ("b", "c", "i", "w")
DUMP_HEADER = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef"
WORD_HEADER = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f"


def prepare_dump(args: argparse.Namespace) -> None:
    args.address = chip_address(args.chip, args.all_addresses)
    args.dump_mode = parse_mode(args.mode, DUMP_MODES, "b")
    first, last = 0x00, 0xFF
    if args.range is not None:
        parts = args.range.split("-")
        if len(parts) != 2:
            raise UsageError(f"invalid range '{args.range}' (FIRST-LAST)")
        first, last = byte_value(parts[0], "first register"), byte_value(parts[1], "last register")
        if first > last:
            raise UsageError("invalid range: FIRST is above LAST")
        if args.dump_mode == "w" and (first % 2 or last % 2 == 0):
            raise UsageError("word mode needs an even FIRST and an odd LAST")
    args.first, args.last = first, last


def ascii_cell(value: int) -> str:
    if value in (0x00, 0xFF):
        return "."
    if value < 0x20 or value >= 0x7F:
        return "?"
    return chr(value)


def dump_rows(data: Dict[int, int], first: int, last: int) -> List[str]:
    """Byte rows: the row's base, 16 cells (blank outside [first, last]),
    and the characters (``.`` for 0x00 and 0xff, ``?`` for other
    non-printables)."""
    lines = [DUMP_HEADER]
    for row in range(first & 0xF0, last + 1, 16):
        cells, chars = [], []
        for register in range(row, row + 16):
            if register < first or register > last:
                cells.append("   ")
                chars.append(" ")
            else:
                cells.append(f"{data[register]:02x} ")
                chars.append(ascii_cell(data[register]))
        lines.append(f"{row:02x}: " + "".join(cells) + "   " + "".join(chars))
    return lines


def word_rows(data: Dict[int, int], first: int, last: int) -> List[str]:
    """Word rows: 8 little-endian words per row, the row's base first."""
    lines = [WORD_HEADER]
    for row in range(first & 0xF8, last + 1, 8):
        cells = []
        for register in range(row, row + 8):
            if register < first or register > last:
                cells.append("     ")
            else:
                word = data[register] | data[register + 1] << 8
                cells.append(f"{word:04x} ")
        lines.append(f"{row:02x}: " + "".join(cells))
    return lines


def run_dump(ctx: Context, args: argparse.Namespace) -> None:
    if args.mode is None:
        ctx.note("No size given (using byte-data access)")
    confirm(ctx, args, [
        f"I will probe bus {bus_name(args.bus)}, address 0x{args.address:02x}, "
        f"mode {args.dump_mode}."
    ])
    setup_bus(ctx.dev, args)
    first, last = args.first, args.last
    # One read covers the range; the word at the last register takes one
    # byte more (the device's register pointer wraps after 0xff).
    count = last - first + 1 + (1 if args.dump_mode == "w" else 0)
    if args.dump_mode == "c":
        ctx.dev.i2c_write(args.bus, args.address, b"", bytes([first]), False)
        block = ctx.dev.i2c_read(args.bus, args.address, b"", count, False)
    else:
        block = ctx.dev.i2c_read(args.bus, args.address, bytes([first]), count, False)
    data = {first + i: b for i, b in enumerate(block)}
    rows = word_rows(data, first, last) if args.dump_mode == "w" else dump_rows(data, first, last)
    ctx.emit(
        {"bus": bus_name(args.bus), "address": args.address, "first": first,
         "data": [data[r] for r in range(first, last + 1)]},
        "\n".join(rows),
    )


# ----------------------------------------------------------------- transfer
@dataclass
class Message:
    read: bool
    address: int
    length: int
    data: bytes = b""


def parse_messages(words: Sequence[str], all_addresses: bool) -> List[Message]:
    """The message list of the command line; every malformed piece is a
    UsageError naming it, before anything reaches the bus."""
    messages: List[Message] = []
    address: Optional[int] = None
    i = 0
    while i < len(words):
        desc = words[i]
        i += 1
        kind = desc[:1].lower()
        if kind not in ("r", "w"):
            raise UsageError(f"invalid direction in '{desc}' (r or w)")
        length_text, at, address_text = desc[1:].partition("@")
        if not length_text:
            raise UsageError(f"length missing in '{desc}'")
        try:
            length = parse_int(length_text, "length")
        except UsageError:
            raise UsageError(f"invalid length in '{desc}'") from None
        if not 0 <= length <= 0xFFFF:
            raise UsageError(f"invalid length in '{desc}'")
        if at:
            try:
                address = chip_address(address_text, all_addresses)
            except UsageError as e:
                raise UsageError(f"{e} in '{desc}'") from None
        if address is None:
            raise UsageError(f"no address given in '{desc}'")
        if kind == "w" and length > MAX_TRANSFER:
            raise UsageError(f"write length in '{desc}' out of range (0-{MAX_TRANSFER})")
        if kind == "r":
            if length == 0 or length > MAX_TRANSFER:
                raise UsageError(f"read length in '{desc}' out of range (1-{MAX_TRANSFER})")
            messages.append(Message(True, address, length))
            continue
        data = bytearray()
        fill = None
        step = 0
        while len(data) < length:
            if fill is not None:
                if fill == "p":
                    # A fixed generator seeded with the byte: the same command
                    # line always sends the same bytes.
                    step = (step * 0x5B + 0x11) & 0xFF
                    data.append(step)
                else:
                    data.append((data[-1] + {"=": 0, "+": 1, "-": -1}[fill]) & 0xFF)
                continue
            if i >= len(words):
                raise UsageError(f"data missing for '{desc}': {length} bytes, {len(data)} given")
            word = words[i]
            i += 1
            suffix = word[-1:] if word[-1:] in ("=", "+", "-", "p") else None
            value = byte_value(word[:-1] if suffix else word, "data byte")
            data.append(value)
            if suffix:
                fill = suffix
                step = value
        messages.append(Message(False, address, length, bytes(data)))
    if not messages:
        raise UsageError("no message given")
    return messages


def prepare_transfer(args: argparse.Namespace) -> None:
    args.plan = parse_messages(args.messages, args.all_addresses)


def describe_message(index: int, message: Message, data: bytes) -> str:
    direction = "read" if message.read else "write"
    line = f"msg {index}: addr 0x{message.address:02x}, {direction}, len {message.length}"
    if data:
        line += ", buf " + " ".join(f"0x{b:02x}" for b in data)
    return line


def run_transfer(ctx: Context, args: argparse.Namespace) -> None:
    plan: List[Message] = args.plan
    confirm(ctx, args, [f"I will send the following messages to bus {bus_name(args.bus)}:"]
            + [describe_message(i, m, m.data) for i, m in enumerate(plan)])
    dev, bus = ctx.dev, args.bus
    setup_bus(dev, args)
    results: List[Optional[bytes]] = [None] * len(plan)
    i = 0
    while i < len(plan):
        message = plan[i]
        last = i == len(plan) - 1
        following = None if last else plan[i + 1]
        # A short write followed by a read of the same device is the common
        # register read: one transfer with a repeated start.
        if (not message.read and following is not None and following.read
                and following.address == message.address and 1 <= message.length <= 4):
            results[i + 1] = dev.i2c_read(bus, message.address, message.data,
                                          following.length, i + 1 < len(plan) - 1)
            i += 2
            continue
        if message.read:
            results[i] = dev.i2c_read(bus, message.address, b"", message.length, not last)
        else:
            dev.i2c_write(bus, message.address, b"", message.data, not last)
        i += 1
    lines = []
    for index, (message, received) in enumerate(zip(plan, results)):
        if args.verbose:
            lines.append(describe_message(index, message,
                                          received if received is not None else message.data))
        elif received is not None:
            lines.append(" ".join(f"0x{b:02x}" for b in received))
    ctx.emit(
        [{"address": m.address, "read": m.read, "length": m.length,
          "data": list(r if r is not None else m.data)} for m, r in zip(plan, results)],
        "\n".join(lines) if lines else None,
    )
