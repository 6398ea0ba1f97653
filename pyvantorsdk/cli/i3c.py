# SPDX-License-Identifier: MIT
"""``vantor i3c``: bus bring-up, the device table, common command codes by
name, private transfers, and following in-band interrupts."""

from __future__ import annotations

import argparse
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from pyvantorsdk import (
    DeviceFacade,
    I2cOpenDrainRate,
    I3cDriveStrength,
    I3cEvent,
    I3cHotJoinNotification,
    I3cIbiNotification,
    I3cOpenDrainRate,
    I3cPushPullRate,
    I3cTargetResetDefByte,
    I3cTransferDirection,
    i3c_ccc_table,
)
from pyvantorsdk.cli.common import (
    Context,
    EventStream,
    UsageError,
    add_stream_options,
    enum_choice,
    hexdump,
    init_or_reconfigure,
    parse_hex_bytes,
    parse_int,
    subcommand,
    timestamp,
)

MAX_TRANSFER = 1024  # larger transfers go over the bulk interface
MAX_BULK_TRANSFER = 32767  # the most one SDR or legacy I2C bulk transfer moves
MAX_REGISTER_BYTES = 4
MAX_CCC_EXTRA = 254  # the CCC length byte counts the one fixed byte as well
BROADCAST_ADDRESS = 0x7E
I3C_BULK_GROUP = 6
TARGET_KEYS = ("static_address", "dynamic_address", "pid", "bcr", "dcr", "mwl", "mrl",
               "max_ibi_payload_length", "configuration")
# The largest value of each numeric field of a target record (the addresses
# are checked on their own).
TARGET_FIELD_MAX = {"bcr": 0xFF, "dcr": 0xFF, "mwl": 0xFFFF, "mrl": 0xFFFF,
                    "max_ibi_payload_length": 0xFF, "configuration": 0xFF}
KEY_ALIASES = {"static": "static_address", "sa": "static_address", "dynamic": "dynamic_address",
               "da": "dynamic_address", "ibi": "max_ibi_payload_length"}


def register(commands: Any) -> None:
    family = commands.add_parser(
        "i3c", help="I3C controller: init, table, ccc, read, write, ibi",
        description="The I3C bus with the adapter as active controller.",
        epilog="examples:\n  vantor i3c init\n  vantor i3c table\n  vantor i3c ccc getpid 0x08\n"
        "  vantor i3c write 0x08 --register 00 68 65 6c 6c 6f\n  vantor i3c ibi --follow",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    sub = family.add_subparsers(dest="i3c_command", metavar="COMMAND", required=True)
    # --init and --broadcast may come after the CCC's name and its words.

    init = subcommand(
        sub, "init", help="bring the bus up and print the device table",
        description="Initialise the controller and assign dynamic addresses: to the targets "
        "listed with --target (by SETDASA for a static address), and to the others by ENTDAA. "
        "--target takes STATIC[:DYNAMIC] or KEY=VALUE,... with the keys of a target record "
        f"({', '.join(TARGET_KEYS)}). --profile adds the I3C targets with a static address "
        "of a bench profile (a file or a shipped name), each at its static address.",
        examples=["vantor i3c init", "vantor i3c init --target 0x50:0x0a",
                  "vantor i3c init --target static=0x50,dynamic=0x0a,dcr=0xc5 --json",
                  "vantor i3c init --profile i3c-bus"],
        func=run_init, prepare=prepare_init,
    )
    add_controller_options(init)
    init.add_argument("--target", action="append", default=[], metavar="TARGET",
                      help="a known target (repeatable)")
    init.add_argument("--profile", metavar="FILE",
                      help="the known targets of a bench profile's I3C bus")

    table = subcommand(
        sub, "table", help="print the adapter's table of targets",
        examples=["vantor i3c table", "vantor i3c table --json", "vantor i3c table --init"],
        func=run_table,
    )
    add_init_option(table)

    ccc = subcommand(
        sub, "ccc", help="send a common command code by name",
        description="Send a CCC: " + ", ".join(sorted(CCCS)) + ". Commands that exist in a "
        "direct and a broadcast form are direct when an ADDRESS comes first, broadcast "
        "otherwise (or with --broadcast). EVENTS: ibi, cr, hj, joined by commas.",
        examples=["vantor i3c ccc getpid 0x08", "vantor i3c ccc getbcr 0x08 --json",
                  "vantor i3c ccc enec ibi,hj", "vantor i3c ccc setmwl 0x08 128",
                  "vantor i3c ccc setdasa 0x50 0x0a", "vantor i3c ccc rstdaa"],
        func=run_ccc, prepare=prepare_ccc, intermixed=True,
    )
    add_init_option(ccc)
    ccc.add_argument("--broadcast", action="store_true", help="the broadcast form")
    ccc.add_argument("name", metavar="NAME", help="the CCC, e.g. getpid or enec")
    ccc.add_argument("words", nargs="*", metavar="[ADDRESS] [ARGS]",
                     help="the target's dynamic address for the direct form, then the CCC's "
                     "arguments")

    read = subcommand(
        sub, "read", help="private read from a target",
        examples=["vantor i3c read 0x08 16", "vantor i3c read 0x08 4 --register 0010",
                  "vantor i3c read --mode hdr-ddr --command 0x80 0x08 8",
                  "vantor i3c read --mode i2c 0x52 8 --register 00"],
        func=run_read, prepare=prepare_transfer,
    )
    add_transfer_options(read)
    add_init_option(read)
    read.add_argument("address", metavar="ADDRESS", help="the target's address")
    read.add_argument("length", metavar="LENGTH", help="bytes to read")

    write = subcommand(
        sub, "write", help="private write to a target",
        examples=["vantor i3c write 0x08 --register 0000 de ad be ef",
                  "vantor i3c write --mode hdr-ddr --command 0x01 0x08 0102"],
        func=run_write, prepare=prepare_transfer,
    )
    add_transfer_options(write)
    add_init_option(write)
    write.add_argument("address", metavar="ADDRESS", help="the target's address")
    write.add_argument("data", nargs="+", metavar="HEX", help="bytes to write, in hex")

    ibi = subcommand(
        sub, "ibi", help="wait for in-band interrupts and hot-join requests",
        description="Enable in-band interrupts and hot-join (ENEC broadcast) and print each "
        "one as: timestamp, ibi, address, payload (or hot-join with the newcomer's "
        "identity). Without --follow the first one ends the command.",
        examples=["vantor i3c ibi", "vantor i3c ibi --follow", "vantor i3c ibi --follow -n 10 --json"],
        func=run_ibi,
    )
    add_init_option(ibi)
    ibi.add_argument("--follow", action="store_true", help="keep printing until Ctrl-C")
    ibi.add_argument("--no-enable", action="store_true", help="do not send ENEC first")
    add_stream_options(ibi, "events")


def add_controller_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--push-pull", type=lambda t: enum_choice(I3cPushPullRate, t),
                        default=I3cPushPullRate.PUSH_PULL_3_125_MHZ_DC_25, metavar="RATE",
                        help="push-pull clock, e.g. push-pull-12-5-mhz-dc-50")
    parser.add_argument("--open-drain", type=lambda t: enum_choice(I3cOpenDrainRate, t),
                        default=I3cOpenDrainRate.OPEN_DRAIN_1_MHZ, metavar="RATE",
                        help="open-drain clock, e.g. open-drain-400-khz")
    parser.add_argument("--i2c-rate", type=lambda t: enum_choice(I2cOpenDrainRate, t),
                        default=I2cOpenDrainRate.FAST_MODE, metavar="RATE",
                        help="legacy I2C clock, e.g. fast-mode")
    parser.add_argument("--drive", type=lambda t: enum_choice(I3cDriveStrength, t),
                        default=I3cDriveStrength.STANDARD, metavar="STRENGTH",
                        help="standard or fast")


def add_init_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--init", action="store_true",
                        help="bring the bus up first (as 'i3c init' without targets)")
    add_controller_options(parser)


def bring_up(ctx: Context, args: argparse.Namespace) -> None:
    """``--init``: the controller set up and every target addressed by ENTDAA."""
    if args.init:
        setup_controller(ctx.dev, args)
        ctx.dev.i3c_init_bus()


def add_transfer_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--mode", choices=("sdr", "hdr-ddr", "i2c"), default="sdr",
                        help="SDR (default), HDR-DDR, or a legacy I2C device")
    parser.add_argument("--register", metavar="HEX", default="",
                        help="register address bytes sent first (SDR, I2C)")
    parser.add_argument("--command", dest="hdr_command", metavar="CODE", help="the HDR-DDR command code")


# ------------------------------------------------------------------- set-up
def setup_controller(dev: DeviceFacade, args: argparse.Namespace) -> None:
    values = (args.push_pull, args.open_drain, args.i2c_rate, args.drive)
    init_or_reconfigure(lambda: dev.i3c_controller_init(*values),
                        lambda: dev.i3c_set_parameters(*values))


def parse_target(text: str) -> Dict[str, Any]:
    target: Dict[str, Any] = {key: 0 for key in TARGET_KEYS}
    target["pid"] = bytes(6)
    if "=" not in text:
        static, _colon, dynamic = text.partition(":")
        target["static_address"] = address_value(static, "static address")
        # Without a DYNAMIC the target keeps its static address as dynamic one.
        target["dynamic_address"] = dynamic_address_value(dynamic or static, "dynamic address")
        return target
    for item in text.split(","):
        key, equals, value = item.partition("=")
        key = KEY_ALIASES.get(key.strip().lower(), key.strip().lower())
        if not equals or key not in TARGET_KEYS:
            raise UsageError(f"invalid target field '{item}' (keys: {', '.join(TARGET_KEYS)})")
        if key == "pid":
            number = parse_int(value, "pid")
            if not 0 <= number < 1 << 48:
                raise UsageError(f"pid {value} is not 48 bits")
            target["pid"] = number.to_bytes(6, "big")
        elif key == "static_address":
            target[key] = address_value(value, "static address")
        elif key == "dynamic_address":
            # 0: none wanted (the static address, else one ENTDAA assigns).
            number = parse_int(value, "dynamic address")
            target[key] = number and dynamic_address_value(value, "dynamic address")
        else:
            target[key] = bounded_value(value, key, TARGET_FIELD_MAX[key])
    # Without a dynamic address the target is given its static one.
    wanted = target["dynamic_address"] or target["static_address"]
    if wanted and not valid_dynamic_address(wanted):
        raise UsageError(f"static address 0x{wanted:02x} cannot be a dynamic address; "
                         "give dynamic=ADDRESS")
    return target


def bounded_value(text: str, what: str, high: int) -> int:
    value = parse_int(text, what)
    if not 0 <= value <= high:
        raise UsageError(f"{what} {text} out of range (0-{high})")
    return value


def address_value(text: str, what: str = "address") -> int:
    value = parse_int(text, what)
    if not 0 <= value <= 0x7F:
        raise UsageError(f"{what} {text} out of range (0x00-0x7f)")
    return value


def valid_dynamic_address(address: int) -> bool:
    """0x08-0x7d, except the addresses one bit away from the broadcast
    address 0x7e (a corrupted broadcast would reach them)."""
    difference = address ^ BROADCAST_ADDRESS
    return 0x08 <= address <= 0x7D and difference & (difference - 1) != 0


def dynamic_address_value(text: str, what: str = "new address") -> int:
    value = address_value(text, what)
    if not valid_dynamic_address(value):
        raise UsageError(f"{what} {text} is not a valid dynamic address (0x08-0x7d, "
                         "not 0x3e, 0x5e, 0x6e, 0x76, 0x7a, 0x7c)")
    return value


def profile_targets(path_or_name: str) -> List[Dict[str, Any]]:
    """The targets of a profile's I3C bus that have a static address, as
    target records addressed by SETDASA at that address. The others are
    left to ENTDAA."""
    from pyvantorsdk import profiles

    try:
        profile = profiles.load(profiles.resolve(path_or_name))
    except profiles.ProfileError as error:
        raise UsageError(str(error)) from None
    targets = []
    for entry in profile["i3c"]["targets"]:
        static = entry["static_address"]
        if static is None:
            continue
        target: Dict[str, Any] = {key: 0 for key in TARGET_KEYS}
        target.update(
            static_address=static, dynamic_address=static, pid=entry["pid"].to_bytes(6, "big"),
            bcr=entry["bcr"], dcr=entry["dcr"], mwl=entry["mwl"], mrl=entry["mrl"],
            max_ibi_payload_length=entry["max_ibi_payload"],
        )
        targets.append(target)
    return targets


def prepare_init(args: argparse.Namespace) -> None:
    args.targets = [parse_target(entry) for entry in args.target]
    if args.profile is not None:
        listed = {target["static_address"] for target in args.targets}
        args.targets += [target for target in profile_targets(args.profile)
                         if target["static_address"] not in listed]


def table_rows(table: Sequence[Dict[str, Any]]) -> List[str]:
    lines = ["DA    SA    PID             BCR   DCR   MWL   MRL   IBI  CONF"]
    for t in table:
        static = f"0x{t['static_address']:02x}" if t["static_address"] else "--  "
        lines.append(
            f"0x{t['dynamic_address']:02x}  {static}  {bytes(t['pid']).hex()}  "
            f"0x{t['bcr']:02x}  0x{t['dcr']:02x}  {t['mwl']:<5} {t['mrl']:<5} "
            f"{t['max_ibi_payload_length']:<4} 0x{t['configuration']:02x}"
        )
    return lines


def table_json(table: Sequence[Dict[str, Any]]) -> List[Dict[str, Any]]:
    return [{**t, "pid": bytes(t["pid"]).hex()} for t in table]


def show_table(ctx: Context) -> None:
    table = ctx.dev.i3c_get_device_table()
    ctx.emit(table_json(table), "\n".join(table_rows(table)) if table else "no targets")


def run_init(ctx: Context, args: argparse.Namespace) -> None:
    setup_controller(ctx.dev, args)
    ctx.dev.i3c_init_bus(args.targets)
    show_table(ctx)


def run_table(ctx: Context, args: argparse.Namespace) -> None:
    bring_up(ctx, args)
    show_table(ctx)


# ---------------------------------------------------------------------- CCC
Parser = Callable[[str], Any]


def events_value(text: str) -> int:
    total = 0
    for part in text.lower().split(","):
        if part in ("ibi", "cr", "hj"):
            total |= int(I3cEvent[part.upper()])
        else:
            total |= bounded_value(part, "events", 0xFF)
    return total


def def_byte_value(text: str) -> Any:
    try:
        return I3cTargetResetDefByte(parse_int(text, "defining byte"))
    except (UsageError, ValueError):
        try:
            return enum_choice(I3cTargetResetDefByte, text)
        except argparse.ArgumentTypeError as e:
            raise UsageError(str(e)) from None


def direction_value(text: str) -> I3cTransferDirection:
    try:
        return I3cTransferDirection[text.upper()]
    except KeyError:
        raise UsageError(f"invalid direction '{text}' (read or write)") from None


@dataclass
class Form:
    """One form of a CCC: the facade method and its arguments after the
    address (``optional`` of them may be left out; ``rest`` takes any
    number of the last kind)."""

    method: str
    args: Tuple[Parser, ...] = ()
    optional: int = 0
    rest: bool = False

    def accepts(self, count: int) -> bool:
        if self.rest:
            return count >= len(self.args)
        return len(self.args) - self.optional <= count <= len(self.args)


U8: Parser = lambda t: bounded_value(t, "value", 0xFF)  # noqa: E731
U16: Parser = lambda t: bounded_value(t, "value", 0xFFFF)  # noqa: E731


def extra_bytes(text: str) -> bytes:
    data = parse_hex_bytes([text])
    if len(data) > MAX_CCC_EXTRA:
        raise UsageError(f"at most {MAX_CCC_EXTRA} extra bytes, {len(data)} given")
    return data


HEX: Parser = extra_bytes


@dataclass
class Ccc:
    direct: Optional[Form] = None
    broadcast: Optional[Form] = None


# The arguments after the address, by how the SDK turns them into the
# payload: their parsers, how many may be left out, and whether the last
# kind repeats. A one-byte value is parsed by what it means (VALUE_PARSERS).
PAYLOAD_ARGUMENTS: Dict[str, Tuple[Tuple[Parser, ...], int, bool]] = {
    "none": ((), 0, False),
    "targets": ((), 0, False),  # ENTDAA here addresses every target
    "list": ((address_value,), 0, True),
    "shifted_address": ((dynamic_address_value,), 0, False),
    "optional_defining_byte": ((U8,), 1, False),
    "u16": ((U16,), 0, False),
    "u16_optional_byte": ((U16, U8), 1, False),
    "byte_then_list": ((U8, HEX), 1, False),
}
VALUE_PARSERS: Dict[str, Parser] = {"byte": U8, "events": events_value,
                                    "reset_action": def_byte_value}


def facade_method(name: str, form: str) -> str:
    """The facade method of one form: ``i3c_ccc_NAME_FORM``, or
    ``i3c_ccc_NAME`` for a CCC whose method names no form."""
    qualified = f"i3c_ccc_{name}_{form}"
    return qualified if hasattr(DeviceFacade, qualified) else f"i3c_ccc_{name}"


def form_of(row: Dict[str, Any]) -> Form:
    if row["payload"] in ("byte", "defining_byte"):
        parsers: Tuple[Parser, ...] = (VALUE_PARSERS[row["value"]],)
        optional, rest = 0, False
    else:
        parsers, optional, rest = PAYLOAD_ARGUMENTS[row["payload"]]
    if row["direction"] == "caller":
        parsers, optional = parsers + (direction_value,), optional + 1
    method = facade_method(row["name"], "broadcast" if row["broadcast"] else "direct")
    return Form(method, parsers, optional, rest)


# The SDK's named CCC operations, one row per form.
SDK_CCCS: Sequence[Dict[str, Any]] = i3c_ccc_table()


def ccc_table() -> Dict[str, Ccc]:
    """The CCCs by name, from the SDK's table of named operations."""
    cccs: Dict[str, Ccc] = {}
    for row in SDK_CCCS:
        ccc = cccs.setdefault(row["name"], Ccc())
        if row["broadcast"]:
            ccc.broadcast = form_of(row)
        else:
            ccc.direct = form_of(row)
    return cccs


CCCS = ccc_table()
# How the SDK decodes each CCC's reply, which says how it prints.
REPLIES = {row["name"]: row["reply"] for row in SDK_CCCS}


def prepare_ccc(args: argparse.Namespace) -> None:
    name = args.name.lower()
    ccc = CCCS.get(name)
    if ccc is None:
        raise UsageError(f"unknown CCC '{args.name}' (one of {', '.join(sorted(CCCS))})")
    words = list(args.words)
    direct = ccc.direct is not None and not args.broadcast and bool(words) and \
        ccc.direct.accepts(len(words) - 1)
    if args.broadcast and ccc.broadcast is None:
        raise UsageError(f"{name} has no broadcast form")
    if direct:
        assert ccc.direct is not None
        form, leading = ccc.direct, [address_value(words[0])]
        words = words[1:]
    elif ccc.broadcast is not None and ccc.broadcast.accepts(len(words)):
        form, leading = ccc.broadcast, []
    else:
        usage = []
        if ccc.direct is not None:
            usage.append("ADDRESS" + "".join(" ARG" for _ in ccc.direct.args))
        if ccc.broadcast is not None:
            usage.append(" ".join("ARG" for _ in ccc.broadcast.args) or "no arguments")
        raise UsageError(f"wrong arguments for {name} ({' or '.join(usage)})")
    if form.rest:
        values: List[Any] = [[form.args[0](w) for w in words]]
    else:
        values = [parse(w) for parse, w in zip(form.args, words)]
    args.ccc_call = (form.method, leading + values)
    args.ccc_direct = direct


def result_json(name: str, value: Any) -> Dict[str, Any]:
    """What a CCC read, under a key of each meaning: ``data`` (bytes, hex),
    ``value`` (one number: a u8 or u16 register, RSTACT's read-back, or
    null when the target sent none), ``mrl`` and ``max_ibi_payload_length``
    (GETMRL, named as in the target table; the second null when the target
    left it out); nothing for a CCC that reads nothing."""
    reply = REPLIES.get(name)
    if isinstance(value, (bytes, bytearray)):
        return {"data": bytes(value).hex()}
    if reply == "mrl":
        mrl, ibi = value
        return {"mrl": mrl, "max_ibi_payload_length": ibi}
    if reply == "status" and value is None:
        return {}
    return {"value": value}


def result_text(name: str, value: Any) -> Optional[str]:
    if value is None:
        return None
    if isinstance(value, (bytes, bytearray)):
        return bytes(value).hex(" ")
    if REPLIES.get(name) == "mrl":
        mrl, ibi = value
        return f"mrl {mrl}" + (f", ibi payload {ibi}" if ibi is not None else "")
    if REPLIES.get(name) == "u8":
        return f"0x{value:02x}"
    return str(value)


def run_ccc(ctx: Context, args: argparse.Namespace) -> None:
    method, values = args.ccc_call
    bring_up(ctx, args)
    result = getattr(ctx.dev, method)(*values)
    name = args.name.lower()
    address = values[0] if args.ccc_direct else None
    ctx.emit({"ccc": name, "address": address, **result_json(name, result)},
             result_text(name, result))


# ---------------------------------------------------------------- transfers
def prepare_transfer(args: argparse.Namespace) -> None:
    args.target = address_value(args.address)
    args.register_bytes = parse_hex_bytes([args.register]) if args.register else b""
    if len(args.register_bytes) > MAX_REGISTER_BYTES:
        raise UsageError(f"--register is at most {MAX_REGISTER_BYTES} bytes, "
                         f"{len(args.register_bytes)} given")
    if args.mode == "hdr-ddr":
        if args.hdr_command is None:
            raise UsageError("HDR-DDR transfers need --command")
        if args.register_bytes:
            raise UsageError("HDR-DDR transfers take --command, not --register")
        args.command_code = parse_int(args.hdr_command, "command code")
        if not 0 <= args.command_code <= 0xFF:
            raise UsageError("the command code is one byte")
    elif args.hdr_command is not None:
        raise UsageError("--command goes with --mode hdr-ddr")
    # HDR-DDR goes over HID only (its bulk form stops at the HID size).
    high = MAX_TRANSFER if args.mode == "hdr-ddr" else MAX_BULK_TRANSFER
    if hasattr(args, "length"):
        args.count = parse_int(args.length, "length")
        size = args.count
    else:
        args.payload = parse_hex_bytes(args.data)
        size = len(args.payload)
    if not 1 <= size <= high:
        raise UsageError(f"{args.mode} transfers are 1 to {high} bytes, not {size}")
    # HDR-DDR moves 16-bit words.
    if args.mode == "hdr-ddr" and size % 2:
        raise UsageError(f"hdr-ddr transfers move 16-bit words: {size} bytes is not a whole number")


def use_bulk(dev: DeviceFacade, size: int) -> bool:
    return size > MAX_TRANSFER and dev.is_bulk_transport_available()


def run_read(ctx: Context, args: argparse.Namespace) -> None:
    bring_up(ctx, args)
    dev, bulk = ctx.dev, use_bulk(ctx.dev, args.count)
    if args.mode == "hdr-ddr":
        hdr_read = dev.i3c_hdr_ddr_read_bulk if bulk else dev.i3c_hdr_ddr_read
        data = hdr_read(args.target, args.command_code, args.count)
    elif args.mode == "i2c":
        if bulk:
            data = dev.i3c_legacy_i2c_read_bulk(args.target, args.register_bytes, args.count)
        else:
            data = dev.i3c_legacy_i2c_read(args.target, args.register_bytes, args.count, 0)
    else:
        read = dev.i3c_sdr_read_bulk if bulk else dev.i3c_sdr_read
        data = read(args.target, args.register_bytes, args.count)
    ctx.emit({"address": args.target, "data": bytes(data).hex()}, "\n".join(hexdump(bytes(data))))


def run_write(ctx: Context, args: argparse.Namespace) -> None:
    bring_up(ctx, args)
    dev, bulk = ctx.dev, use_bulk(ctx.dev, len(args.payload))
    if args.mode == "hdr-ddr":
        hdr_write = dev.i3c_hdr_ddr_write_bulk if bulk else dev.i3c_hdr_ddr_write
        hdr_write(args.target, args.command_code, args.payload)
    elif args.mode == "i2c":
        if bulk:
            dev.i3c_legacy_i2c_write_bulk(args.target, args.register_bytes, args.payload)
        else:
            dev.i3c_legacy_i2c_write(args.target, args.register_bytes, args.payload, 0)
    else:
        write = dev.i3c_sdr_write_bulk if bulk else dev.i3c_sdr_write
        write(args.target, args.register_bytes, args.payload)
    ctx.emit({"address": args.target, "data": args.payload.hex()})


# ---------------------------------------------------------------------- IBI
def run_ibi(ctx: Context, args: argparse.Namespace) -> None:
    stream = EventStream(ctx.dev, [I3cIbiNotification, I3cHotJoinNotification])
    count = args.num_events if args.num_events is not None else (None if args.follow else 1)
    try:
        bring_up(ctx, args)
        if not args.no_enable:
            ctx.dev.i3c_ccc_enec_broadcast(I3cEvent.IBI | I3cEvent.HJ)
        for event in stream.events(count, args.idle_timeout):
            when = timestamp()
            if isinstance(event, I3cIbiNotification):
                payload = bytes(event.payload)
                ctx.emit_event(
                    {"timestamp": float(when), "kind": "ibi", "address": event.address,
                     "payload": payload.hex()},
                    f"{when}\tibi\t0x{event.address:02x}\t{payload.hex(' ')}".rstrip(),
                )
            else:
                assert isinstance(event, I3cHotJoinNotification)
                ctx.emit_event(
                    {"timestamp": float(when), "kind": "hot-join",
                     "dynamic_address": event.dynamic_address, "pid": bytes(event.pid).hex(),
                     "bcr": event.bcr, "dcr": event.dcr},
                    f"{when}\thot-join\t0x{event.dynamic_address:02x}\tpid "
                    f"{bytes(event.pid).hex()} bcr 0x{event.bcr:02x} dcr 0x{event.dcr:02x}",
                )
    finally:
        stream.close()
