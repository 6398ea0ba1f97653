# SPDX-License-Identifier: MIT
"""``vantor i2c``: detect, get, set, dump and transfer, with the arguments,
modes and output of the classic I2C shell tools, on bus A or B."""

from __future__ import annotations

import argparse
from dataclasses import dataclass, field
from typing import AbstractSet, Any, Dict, List, Optional, Sequence, Tuple, cast

from pyvantorsdk import DeviceFacade, I2cBus
from pyvantorsdk._storage import batched
from pyvantorsdk.cli.common import (
    CommandFailed,
    Context,
    UsageError,
    bus_arg,
    parse_int,
    subcommand,
)
from pyvantorsdk.cli.i2cbus import (
    BUS_HELP,
    bus_name,
    chip_address,
    common_options,
    confirm,
    setup_bus,
)
from pyvantorsdk.smbus import I2C_SMBUS_BLOCK_MAX, pec

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
                  "vantor i2c detect -y A 0x40 0x5f", "vantor i2c detect -y A --json",
                  "vantor i2c detect -F A", "vantor i2c detect -l"],
        func=run_detect, prepare=prepare_detect,
    )
    common_options(detect)
    detect.add_argument("-a", action="store_true", dest="all_addresses",
                        help="scan every address 0x00-0x7f, not 0x08-0x77")
    probe = detect.add_mutually_exclusive_group()
    probe.add_argument("-q", action="store_true", help="accepted for compatibility (the "
                       "adapter probes in one way only)")
    probe.add_argument("-r", action="store_true", help="accepted for compatibility")
    detect.add_argument("-F", dest="functionality", action="store_true",
                        help="print what the bus can do, then exit")
    detect.add_argument("-l", dest="list_buses", action="store_true",
                        help="list the adapter's I2C buses, then exit")
    detect.add_argument("bus", nargs="?", type=bus_arg, metavar="I2CBUS", help=BUS_HELP)
    detect.add_argument("first", nargs="?", metavar="FIRST",
                        help="first address to probe (with LAST; default 0x08, 0x00 with -a)")
    detect.add_argument("last", nargs="?", metavar="LAST",
                        help="last address to probe (with FIRST; default 0x77, 0x7f with -a)")

    get = subcommand(
        sub, "get", help="read a byte, word or block from a device",
        description="Read from a device: MODE b (byte data, default), w (word data), "
        "c (write byte, then read byte), s (SMBus block), i (I2C block of LENGTH bytes); "
        "append p to b, w, c or s for an SMBus PEC, read and checked. Without DATA-ADDRESS, "
        "a plain read byte.",
        examples=["vantor i2c get -y A 0x50", "vantor i2c get -y A 0x50 0x00",
                  "vantor i2c get -y A 0x68 0x10 w", "vantor i2c get -y A 0x50 0x00 i 16"],
        func=run_get, prepare=prepare_get,
    )
    common_options(get)
    get.add_argument("-a", action="store_true", dest="all_addresses",
                     help="allow addresses 0x00-0x07 and 0x78-0x7f")
    get.add_argument("bus", type=bus_arg, metavar="I2CBUS", help=BUS_HELP)
    get.add_argument("chip", metavar="CHIP-ADDRESS", help="the device, 0x08-0x77 (-a: 0x00-0x7f)")
    get.add_argument("data_address", nargs="?", metavar="DATA-ADDRESS",
                     help="the register to read, 0x00-0xff")
    get.add_argument("mode", nargs="?", metavar="MODE", help="b, w, c, s or i; p appended: PEC")
    get.add_argument("length", nargs="?", metavar="LENGTH",
                     help="bytes of an I2C block read, 1-32 (default 32)")

    set_ = subcommand(
        sub, "set", help="write a byte, word or block to a device",
        description="Write to a device: MODE b (byte data, default with a VALUE), w (word "
        "data), c (send DATA-ADDRESS alone, default without VALUE), s (SMBus block), "
        "i (I2C block); append p to b, w, c or s to send an SMBus PEC. -m MASK changes only "
        "the masked bits; -r reads back.",
        examples=["vantor i2c set -y A 0x68 0x10 0x5a", "vantor i2c set -y A 0x68 0x10 0x1234 w",
                  "vantor i2c set -y A 0x50 0x00 1 2 3 4 i", "vantor i2c set -y -r A 0x68 0x20 0xff"],
        func=run_set, prepare=prepare_set,
    )
    common_options(set_)
    set_.add_argument("-a", action="store_true", dest="all_addresses",
                      help="allow addresses 0x00-0x07 and 0x78-0x7f")
    set_.add_argument("-m", dest="mask", metavar="MASK", help="change only these bits")
    set_.add_argument("-r", dest="readback", action="store_true",
                      help="read the value back and compare")
    set_.add_argument("bus", type=bus_arg, metavar="I2CBUS", help=BUS_HELP)
    set_.add_argument("chip", metavar="CHIP-ADDRESS", help="the device, 0x08-0x77 (-a: 0x00-0x7f)")
    set_.add_argument("data_address", metavar="DATA-ADDRESS", help="the register, 0x00-0xff")
    set_.add_argument("values", nargs="*", metavar="VALUE ... [MODE]",
                      help="the value (a word in mode w, up to 32 bytes in modes s and i), "
                      "then the mode: b, w, c, s or i; p appended: PEC")

    dump = subcommand(
        sub, "dump", help="print a device's registers as a table with their characters",
        description="Read 256 registers (or a range) and print them 16 per row with the "
        "ASCII column: MODE b (byte data, default), c (consecutive bytes), i (I2C block), "
        "w (word data, a word per register), W (word data at even registers, shown as bytes), "
        "s (SMBus block from register 0x00); append p to b, c, w or s for an SMBus PEC on "
        "each read (a register that fails it shows XX, and the command fails).",
        examples=["vantor i2c dump -y A 0x50", "vantor i2c dump -y -r 0x00-0x1f A 0x50",
                  "vantor i2c dump -y A 0x68 w", "vantor i2c dump -y A 0x50 --json"],
        func=run_dump, prepare=prepare_dump,
    )
    common_options(dump)
    dump.add_argument("-a", action="store_true", dest="all_addresses",
                      help="allow addresses 0x00-0x07 and 0x78-0x7f")
    dump.add_argument("-r", dest="range", metavar="FIRST-LAST",
                      help="only the registers FIRST to LAST, both included")
    dump.add_argument("bus", type=bus_arg, metavar="I2CBUS", help=BUS_HELP)
    dump.add_argument("chip", metavar="ADDRESS", help="the device, 0x08-0x77 (-a: 0x00-0x7f)")
    dump.add_argument("mode", nargs="?", metavar="MODE",
                      help="b, c, w, W, s or i; p appended to b, c, w or s: PEC")

    transfer = subcommand(
        sub, "transfer", help="send a sequence of messages joined by repeated starts",
        description="Each message is DESC [DATA]: DESC is {r|w}LENGTH[@ADDRESS] (the address "
        "carries over to the next messages), DATA the LENGTH bytes of a write; a byte may end "
        "in = (repeat), + (increment), - (decrement) or p (pseudo-random) to fill the rest. "
        "The bytes of each read are printed on a line. A read's LENGTH is a number: the "
        "adapter cannot take it from the device's first byte (r?).",
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
    transfer.add_argument("bus", type=bus_arg, metavar="I2CBUS", help=BUS_HELP)
    transfer.add_argument("messages", nargs="+", metavar="DESC [DATA]",
                          help=f"messages, each {{r|w}}LENGTH[@ADDRESS] (LENGTH up to "
                          f"{MAX_TRANSFER}) and the bytes of a write")

    # EEPROM read/write/verify live in their own module, which uses this one's helpers.
    from pyvantorsdk.cli import eeprom

    eeprom.register(sub)


# ------------------------------------------------------------------ helpers
def byte_value(text: str, what: str = "data address") -> int:
    value = parse_int(text, what)
    if not 0 <= value <= 0xFF:
        raise UsageError(f"{what} {text} out of range (0x00-0xff)")
    return value


def read_whole(data: bytes, length: int) -> bytes:
    """The bytes of a read that delivered all it was asked for; fewer is a
    failure, never a shorter result."""
    if len(data) != length:
        raise CommandFailed(f"short read: {len(data)} of {length} bytes")
    return data


def read_exact(dev: DeviceFacade, bus: I2cBus, address: int, sub: bytes, length: int) -> bytes:
    return read_whole(dev.i2c_read(bus, address, sub, length, False), length)


class PecMismatch(CommandFailed):
    """A read whose Packet Error Code is not the one its bytes give."""


def check_pec(address: int, sub: bytes, data: bytes, received: int) -> None:
    """The code a device appends to a read covers the command phase (when
    there is one), the read address and the data."""
    covered = (bytes([address << 1]) + sub if sub else b"") + bytes([address << 1 | 1]) + data
    expected = pec(covered)
    if received != expected:
        raise PecMismatch(f"PEC mismatch: expected 0x{expected:02x}, received 0x{received:02x}")


def smbus_read(
    dev: DeviceFacade, bus: I2cBus, address: int, sub: bytes, length: int, with_pec: bool
) -> bytes:
    """``length`` bytes after ``sub``; with PEC one byte more is read and checked."""
    raw = read_exact(dev, bus, address, sub, length + with_pec)
    if with_pec:
        check_pec(address, sub, raw[:length], raw[length])
    return raw[:length]


def smbus_block_read(
    dev: DeviceFacade, bus: I2cBus, address: int, sub: bytes, with_pec: bool
) -> bytes:
    """An SMBus block: the count byte (1 to 32), then that many bytes. The
    adapter cannot stop at the count, so the longest block is read and the
    count decides what is kept."""
    raw = read_exact(dev, bus, address, sub, 1 + I2C_SMBUS_BLOCK_MAX + with_pec)
    count = raw[0]
    if not 1 <= count <= I2C_SMBUS_BLOCK_MAX:
        raise CommandFailed(f"SMBus block count {count} out of range (1-{I2C_SMBUS_BLOCK_MAX})")
    if with_pec:
        check_pec(address, sub, raw[: 1 + count], raw[1 + count])
    return raw[1 : 1 + count]


def smbus_write(
    dev: DeviceFacade, bus: I2cBus, address: int, sub: bytes, data: bytes, with_pec: bool
) -> None:
    """A write of ``data`` after ``sub``; with PEC the code over the address,
    ``sub`` and ``data`` follows the data."""
    if with_pec:
        data += bytes([pec(bytes([address << 1]) + sub + data)])
    dev.i2c_write(bus, address, sub, data, False)


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


# What one bus of the adapter can do, in the order and words of the usual
# functionality listing. Every SMBus transaction is built from plain I2C
# transfers with repeated starts; a block read takes the longest block and
# keeps what the count byte covers. Missing: a block process call (no
# command sends one), host notify (needs the target role on the same bus)
# and 10-bit addresses, which transfers cannot carry (only the scan finds
# them).
FUNCTIONALITY = (
    ("I2C", True), ("SMBus Quick Command", True), ("SMBus Send Byte", True),
    ("SMBus Receive Byte", True), ("SMBus Write Byte", True), ("SMBus Read Byte", True),
    ("SMBus Write Word", True), ("SMBus Read Word", True), ("SMBus Process Call", True),
    ("SMBus Block Write", True), ("SMBus Block Read", True),
    ("SMBus Block Process Call", False), ("SMBus PEC", True), ("I2C Block Write", True),
    ("I2C Block Read", True), ("SMBus Host Notify", False), ("10-bit addressing", False),
)


def prepare_detect(args: argparse.Namespace) -> None:
    """The address range rules: FIRST and LAST together or not at all, FIRST
    inside the default range, LAST between FIRST and the range's end."""
    low, high = (0x00, 0x7F) if args.all_addresses else (0x08, 0x77)
    if args.list_buses:
        if args.bus is not None:
            raise UsageError("-l takes no I2CBUS")
        return
    if args.bus is None:
        raise UsageError("the following arguments are required: I2CBUS")
    if args.functionality:
        if args.first is not None:
            raise UsageError("-F takes no address range")
        return
    if args.first is not None:
        first = parse_int(args.first, "FIRST")
        if not low <= first <= high:
            raise UsageError(f"FIRST {args.first} out of range (0x{low:02x}-0x{high:02x})")
        if args.last is None:
            raise UsageError("both FIRST and LAST must be given")
        last = parse_int(args.last, "LAST")
        if not first <= last <= high:
            raise UsageError(f"LAST {args.last} out of range (0x{first:02x}-0x{high:02x})")
        low, high = first, last
    args.first, args.last = low, high


def run_detect(ctx: Context, args: argparse.Namespace) -> None:
    if args.list_buses:
        list_buses(ctx)
        return
    if args.functionality:
        ctx.emit(
            {"bus": bus_name(args.bus),
             "functionality": {json_key(name): ok for name, ok in FUNCTIONALITY}},
            "\n".join([f"Functionalities implemented by bus {bus_name(args.bus)}:"]
                      + [f"{name:<32} {'yes' if ok else 'no'}" for name, ok in FUNCTIONALITY]),
        )
        return
    first, last = args.first, args.last
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


def json_key(name: str) -> str:
    """``SMBus Quick Command`` -> ``smbus_quick_command``."""
    return "".join(c if c.isalnum() else "_" for c in name.lower())


def list_buses(ctx: Context) -> None:
    """One line per bus, tab-separated: its name, its type, the adapter it
    belongs to with the I/O voltage (the one setting the host can read
    back), and the kind of adapter."""
    info = ctx.dev.get_device_info()
    millivolts = ctx.dev.i2c_get_bus_voltage()
    buses = [
        {"bus": bus_name(bus), "type": "i2c",
         "name": f"{info.product_name} {info.serial_number} bus {bus_name(bus)} ({millivolts} mV)"}
        for bus in I2cBus
    ]
    ctx.emit(buses, "\n".join(
        f"{b['bus']}\t{b['type']:<10}\t{b['name']:<32}\tI2C adapter" for b in buses))


# ---------------------------------------------------------------------- get
GET_MODES = ("b", "w", "c", "s", "i")


@dataclass
class GetPlan:
    address: int
    data_address: Optional[int]
    mode: str
    length: int = 1
    pec: bool = False


def parse_mode(
    text: Optional[str], allowed: Sequence[str], default: str, pec_modes: str = "bwcs"
) -> Tuple[str, bool]:
    """A MODE word: one of ``allowed``, with a ``p`` suffix (SMBus PEC) on the
    modes whose transactions carry a Packet Error Code."""
    if text is None:
        return default, False
    mode, with_pec = (text[:-1], True) if len(text) == 2 and text.endswith("p") else (text, False)
    if mode not in allowed:
        raise UsageError(f"invalid mode '{text}'")
    if with_pec and mode not in pec_modes:
        raise UsageError(f"mode {mode} has no PEC (I2C block transfers carry none)"
                         if mode == "i" else f"mode {mode} has no PEC")
    return mode, with_pec


def prepare_get(args: argparse.Namespace) -> None:
    address = chip_address(args.chip, args.all_addresses)
    data_address = None if args.data_address is None else byte_value(args.data_address)
    mode, with_pec = parse_mode(args.mode, GET_MODES, "b")
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
    args.plan = GetPlan(address, data_address, mode, length, with_pec)


def read_get(dev: DeviceFacade, bus: I2cBus, plan: GetPlan) -> List[int]:
    address, with_pec = plan.address, plan.pec
    if plan.data_address is None:
        return list(read_exact(dev, bus, address, b"", 1))
    sub = bytes([plan.data_address])
    if plan.mode == "b":
        return list(smbus_read(dev, bus, address, sub, 1, with_pec))
    if plan.mode == "c":
        smbus_write(dev, bus, address, b"", sub, with_pec)
        return list(smbus_read(dev, bus, address, b"", 1, with_pec))
    if plan.mode == "w":
        return [int.from_bytes(smbus_read(dev, bus, address, sub, 2, with_pec), "little")]
    if plan.mode == "s":
        return list(smbus_block_read(dev, bus, address, sub, with_pec))
    return list(read_exact(dev, bus, address, sub, plan.length))


def run_get(ctx: Context, args: argparse.Namespace) -> None:
    plan: GetPlan = args.plan
    where = "" if plan.data_address is None else f", data address\n0x{plan.data_address:02x}"
    confirm(ctx, args, [
        f"I will read from bus {bus_name(args.bus)}, chip address 0x{plan.address:02x}{where}, "
        f"using {GET_MODE_NAMES[plan.mode if plan.data_address is not None else 'r']}."
    ] + PEC_NOTICE[plan.pec])
    setup_bus(ctx.dev, args)
    values = read_get(ctx.dev, args.bus, plan)
    result: Dict[str, Any] = {"bus": bus_name(args.bus), "address": plan.address,
                              "data_address": plan.data_address, "mode": plan.mode,
                              "pec": plan.pec}
    if plan.mode == "w":
        result["data"] = values[0].to_bytes(2, "little").hex()
        result["word"] = values[0]
        text = f"0x{values[0]:04x}"
    else:
        result["data"] = bytes(values).hex()
        text = " ".join(f"0x{v:02x}" for v in values)
    ctx.emit(result, text)


PEC_NOTICE = {False: [], True: ["PEC checking enabled."]}
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
    pec: bool = False


def prepare_set(args: argparse.Namespace) -> None:
    address = chip_address(args.chip, args.all_addresses)
    data_address = byte_value(args.data_address)
    words = list(args.values)
    mode_text = None
    if words and not words[-1][:1].isdigit():
        mode_text = words.pop()
    mode, with_pec = parse_mode(mode_text, SET_MODES, "b" if words else "c")
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
    args.plan = SetPlan(address, data_address, mode, values, mask, with_pec)


def run_set(ctx: Context, args: argparse.Namespace) -> None:
    plan: SetPlan = args.plan
    dev, bus, sub = ctx.dev, args.bus, bytes([plan.data_address])
    confirm(ctx, args, [
        f"I will write to bus {bus_name(bus)}, chip address 0x{plan.address:02x}, "
        f"data address 0x{plan.data_address:02x}, using mode {plan.mode}."
    ] + PEC_NOTICE[plan.pec])
    setup_bus(dev, args)
    width = 2 if plan.mode == "w" else 1
    address, with_pec = plan.address, plan.pec
    result: Dict[str, Any] = {"bus": bus_name(bus), "address": address,
                              "data_address": plan.data_address, "mode": plan.mode,
                              "pec": with_pec}
    if plan.mode == "c":
        smbus_write(dev, bus, address, b"", sub, with_pec)
        ctx.emit({**result, "data": ""})
        return
    if plan.mode == "s":
        smbus_write(dev, bus, address, sub, bytes([len(plan.values)] + plan.values), with_pec)
        ctx.emit({**result, "data": bytes(plan.values).hex()})
        return
    if plan.mode == "i":
        dev.i2c_write(bus, address, sub, bytes(plan.values), False)
        ctx.emit({**result, "data": bytes(plan.values).hex()})
        return
    value = plan.values[0]
    if plan.mask is not None:
        old = int.from_bytes(smbus_read(dev, bus, address, sub, width, with_pec), "little")
        value = (value & plan.mask) | (old & ~plan.mask & (0xFFFF if width == 2 else 0xFF))
        ctx.note(f"Old value 0x{old:0{2 * width}x}, write mask 0x{plan.mask:0{2 * width}x}, "
                 f"will write 0x{value:0{2 * width}x}")
    written = value.to_bytes(width, "little")
    smbus_write(dev, bus, address, sub, written, with_pec)
    result["data"] = written.hex()
    if width == 2:
        result["word"] = value
    text = None
    if args.readback:
        back = int.from_bytes(smbus_read(dev, bus, address, sub, width, with_pec), "little")
        if back != value:
            raise CommandFailed(f"data mismatch: wrote 0x{value:0{2 * width}x}, "
                                f"read back 0x{back:0{2 * width}x}")
        text = f"Value 0x{value:0{2 * width}x} written, readback matched"
    ctx.emit({**result, "verified": args.readback}, text)


# --------------------------------------------------------------------- dump
DUMP_MODES = ("b", "c", "w", "W", "s", "i")
DUMP_HEADER = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef"
WORD_HEADER = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f"
DUMP_MODE_NAMES = {
    "b": "byte", "c": "byte consecutive read", "w": "word", "W": "word (even registers)",
    "s": "SMBus block", "i": "I2C block",
}

# A register whose read failed its PEC check: shown as XX, never as a value.
Cells = Dict[int, Optional[int]]


def prepare_dump(args: argparse.Namespace) -> None:
    args.address = chip_address(args.chip, args.all_addresses)
    args.dump_mode, args.pec = parse_mode(args.mode, DUMP_MODES, "b", pec_modes="bcws")
    first, last = 0x00, 0xFF
    if args.range is not None:
        if args.dump_mode == "s":
            raise UsageError("-r does not go with mode s (the block starts at register 0x00)")
        parts = args.range.split("-")
        if len(parts) != 2:
            raise UsageError(f"invalid range '{args.range}' (FIRST-LAST)")
        first, last = byte_value(parts[0], "first register"), byte_value(parts[1], "last register")
        if first > last:
            raise UsageError("invalid range: FIRST is above LAST")
        if args.dump_mode == "W" and (first % 2 or last % 2 == 0):
            raise UsageError("mode W needs an even FIRST and an odd LAST")
    args.first, args.last = first, last


def ascii_cell(value: Optional[int]) -> str:
    if value is None:
        return "X"
    if value in (0x00, 0xFF):
        return "."
    if value < 0x20 or value >= 0x7F:
        return "?"
    return chr(value)


def dump_rows(data: Cells, first: int, last: int) -> List[str]:
    """Byte rows: the row's base, 16 cells (blank outside [first, last]),
    and the characters (``.`` for 0x00 and 0xff, ``?`` for other
    non-printables, ``X`` for a failed read)."""
    lines = [DUMP_HEADER]
    for row in range(first & 0xF0, last + 1, 16):
        cells, chars = [], []
        for register in range(row, row + 16):
            if register < first or register > last:
                cells.append("   ")
                chars.append(" ")
            else:
                value = data[register]
                cells.append("XX " if value is None else f"{value:02x} ")
                chars.append(ascii_cell(value))
        lines.append(f"{row:02x}: " + "".join(cells) + "   " + "".join(chars))
    return lines


def word_rows(words: Cells, first: int, last: int) -> List[str]:
    """Word rows: the words read at 8 consecutive registers, the row's base first."""
    lines = [WORD_HEADER]
    for row in range(first & 0xF8, last + 1, 8):
        cells = []
        for register in range(row, row + 8):
            if register < first or register > last:
                cells.append("     ")
            else:
                word = words[register]
                cells.append("XXXX " if word is None else f"{word:04x} ")
        lines.append(f"{row:02x}: " + "".join(cells))
    return lines


def read_registers(
    dev: DeviceFacade, bus: I2cBus, address: int, registers: Sequence[int], length: int,
    with_pec: bool, failed: List[int], *, subaddress: bool = True
) -> Dict[int, Optional[bytes]]:
    """One ``length``-byte read per register (its number as the data
    address, or none when ``subaddress`` is off: receive-byte reads), sent
    in batches so that they do not each wait for the one before.
    A PEC mismatch marks the register in ``failed`` and leaves a gap; any
    other failure ends the dump."""
    def sub_of(register: int) -> bytes:
        return bytes([register]) if subaddress else b""

    found: Dict[int, Optional[bytes]] = {}
    for register, call in batched(
        dev, registers, lambda b, r: b.i2c_read(bus, address, sub_of(r), length + with_pec, False)
    ):
        sub = sub_of(register)
        raw = read_whole(cast(bytes, call.result()), length + with_pec)
        try:
            if with_pec:
                check_pec(address, sub, raw[:length], raw[length])
            found[register] = raw[:length]
        except PecMismatch:
            found[register] = None
            failed.append(register)
    return found


def read_dump(ctx: Context, args: argparse.Namespace, failed: List[int]) -> Tuple[Cells, Cells]:
    """The bytes (b, c, W, s, i) or the words (w) of the dump, by register."""
    dev, bus, address, mode, with_pec = ctx.dev, args.bus, args.address, args.dump_mode, args.pec
    first, last = args.first, args.last
    if mode == "s":
        block = smbus_block_read(dev, bus, address, b"\x00", with_pec)
        args.last = len(block) - 1
        return dict(enumerate(block)), {}
    if mode == "w":
        words = read_registers(dev, bus, address, range(first, last + 1), 2, with_pec, failed)
        return {}, {r: None if w is None else int.from_bytes(w, "little") for r, w in words.items()}
    if mode == "W":
        pairs = read_registers(dev, bus, address, range(first, last + 1, 2), 2, with_pec, failed)
        return {r + i: None if w is None else w[i] for r, w in pairs.items() for i in (0, 1)}, {}
    if mode == "c":
        smbus_write(dev, bus, address, b"", bytes([first]), with_pec)
        if not with_pec:
            block = read_exact(dev, bus, address, b"", last - first + 1)
            return {first + i: b for i, b in enumerate(block)}, {}
        # Each byte is its own receive-byte transaction with its own PEC.
        single = read_registers(dev, bus, address, range(first, last + 1), 1, True, failed,
                                subaddress=False)
    elif with_pec:
        single = read_registers(dev, bus, address, range(first, last + 1), 1, True, failed)
    else:
        # Byte data without PEC: one read covers the range, as a device
        # with auto-increment answers it.
        block = read_exact(dev, bus, address, bytes([first]), last - first + 1)
        return {first + i: b for i, b in enumerate(block)}, {}
    return {r: None if b is None else b[0] for r, b in single.items()}, {}


def run_dump(ctx: Context, args: argparse.Namespace) -> None:
    if args.mode is None:
        ctx.note("No size given (using byte-data access)")
    confirm(ctx, args, [
        f"I will probe bus {bus_name(args.bus)}, address 0x{args.address:02x}, "
        f"mode {DUMP_MODE_NAMES[args.dump_mode]}."
    ] + PEC_NOTICE[args.pec])
    setup_bus(ctx.dev, args)
    failed: List[int] = []
    data, words = read_dump(ctx, args, failed)
    first, last = args.first, args.last
    # A register that failed its PEC check is listed in "pec_failed"; its
    # cell is null among the words and 00 in the hex string.
    document: Dict[str, Any] = {"bus": bus_name(args.bus), "address": args.address,
                                "first": first, "mode": args.dump_mode, "pec_failed": failed}
    if args.dump_mode == "w":
        document["words"] = [words[r] for r in range(first, last + 1)]
        rows = word_rows(words, first, last)
    else:
        document["data"] = bytes(data[r] or 0 for r in range(first, last + 1)).hex()
        rows = dump_rows(data, first, last)
    ctx.emit(document, "\n".join(rows))
    if failed:
        raise CommandFailed(f"PEC mismatch at {len(failed)} register(s) (shown as XX): "
                            + " ".join(f"0x{r:02x}" for r in failed))


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
        if length_text == "?" and kind == "r":
            raise UsageError(f"read length '?' in '{desc}' is not supported: the adapter reads "
                             "a fixed length, give it")
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
            results[i + 1] = read_whole(dev.i2c_read(bus, message.address, message.data,
                                                     following.length, i + 1 < len(plan) - 1),
                                        following.length)
            i += 2
            continue
        if message.read:
            results[i] = read_whole(dev.i2c_read(bus, message.address, b"", message.length,
                                                 not last), message.length)
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
          "data": bytes(r if r is not None else m.data).hex()} for m, r in zip(plan, results)],
        "\n".join(lines) if lines else None,
    )
