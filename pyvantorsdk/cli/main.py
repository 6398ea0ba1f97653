# SPDX-License-Identifier: MIT
"""The ``vantor`` command: global options, choosing and opening the adapter,
and turning failures into one line and an exit status."""

from __future__ import annotations

import argparse
import contextlib
import functools
import importlib
import os
import sys
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, List, Optional, Sequence, Tuple

import pyvantorsdk
from pyvantorsdk import DeviceFacade, HidDeviceInfo, I2cBus
from pyvantorsdk.cli.common import (
    EXIT_OK,
    EXIT_USAGE,
    CommandFailed,
    CommandParser,
    Context,
    UsageError,
    report_failure,
    timeout_arg,
)
from pyvantorsdk.errors import NO_ADAPTER_HINT_CLI, VantorError

if TYPE_CHECKING:
    from pyvantorsdk import sim

PROG = "vantor"
# The top-level commands in the order of --help: (command, family module,
# its function that adds it, the help line). A command line imports only the
# family module of its command; --help lists all of them from this table.
COMMANDS = (
    ("list", "system", "register", "list the attached adapters"),
    ("info", "system", "register",
     "identify the adapter: model, serial number, versions, bulk interface"),
    ("demo", "system", "register", "a short tour: identity, I/O voltage, I2C scan, SPI flash id"),
    ("i2c", "i2c", "register", "I2C controller: detect, get, set, dump, transfer, eeprom"),
    ("spi", "spi", "register", "SPI controller: transfer, and flash id|read|write|erase|verify"),
    ("gpio", "gpio", "register", "GPIO pins 1-6: get, set, monitor"),
    ("uart", "uart", "register", "UART: send, monitor"),
    ("i3c", "i3c", "register", "I3C controller: init, table, ccc, read, write, ibi"),
    ("target", "target", "register", "emulate an I2C, SPI or I3C device and print its bus events"),
    ("trace", "trace", "register", "read back a capture written with --trace: decode, stats, plot, dissector"),
    ("voltage", "system", "register_tail", "the I/O voltage of the ports"),
    ("udev-rules", "system", "register_tail",
     "print the udev rules that let the logged-in user open the adapter"),
    ("completion", "system", "register_tail", "print a shell completion script"),
)
TOP_LEVEL_COMMANDS = tuple(name for name, _module, _register, _help in COMMANDS)
# The completion script describes every command, so it needs them all.
WHOLE_TREE_COMMANDS = ("completion",)

DEFAULT_TIMEOUT_MS = 2000
# The options that choose the adapter; one of them at most.
ADAPTER_CHOICES = ("device", "serial", "sim")


def add_global_options(parser: argparse.ArgumentParser, *, top: bool) -> None:
    """The options every command takes, before its name or after it.

    On the top-level parser they carry their defaults; on a subcommand's
    parser they have none, so that only an option written there replaces the
    value of one written earlier (the last one written wins)."""

    def default(value: Any) -> Any:
        return value if top else argparse.SUPPRESS

    where = parser.add_argument_group("choosing the adapter (default: the one attached)")
    choice = where.add_mutually_exclusive_group()
    choice.add_argument("--device", metavar="PATH", default=default(None),
                        help="the adapter at this HID path")
    choice.add_argument("--serial", metavar="SN", default=default(None),
                        help="the adapter with this serial number")
    choice.add_argument(
        "--sim", nargs="?", const="", metavar="PROFILE", default=default(None),
        help="a virtual adapter in this process, set up from a profile file or name "
        "(without one: an EEPROM at 0x50 and a register map at 0x68 on I2C bus A, "
        "an SPI flash on CS0, two I3C targets, UART TX wired to RX)",
    )
    shared = parser.add_argument_group("options of every command")
    shared.add_argument(
        "--timeout", type=timeout_arg, default=default(DEFAULT_TIMEOUT_MS), metavar="MS",
        help=f"how long one request waits for the adapter (default {DEFAULT_TIMEOUT_MS} ms; "
        "-1: no limit)",
    )
    shared.add_argument(
        "--trace", metavar="FILE", type=trace_file, default=default(None),
        help="record the USB traffic of this run as a pcapng file",
    )
    if "--json" not in parser._option_string_actions:
        shared.add_argument("--json", action="store_true", default=default(False),
                            help="print machine-readable JSON")


def subparsers_of(parser: argparse.ArgumentParser) -> Dict[str, argparse.ArgumentParser]:
    """The subcommands of a parser by name (none for a leaf)."""
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            return dict(action.choices)
    return {}


def finish_subcommands(parser: argparse.ArgumentParser) -> None:
    """Gives every subcommand below ``parser`` the global options and makes
    it report what it does not understand itself."""
    for child in subparsers_of(parser).values():
        if isinstance(child, CommandParser) and child.placeholder:
            continue
        add_global_options(child, top=False)
        if isinstance(child, CommandParser):
            child.strict = True
        finish_subcommands(child)


@functools.cache
def build_parser(command: Optional[str] = None) -> argparse.ArgumentParser:
    """The command line's grammar; built once per command, as parsing leaves
    it unchanged.

    Without ``command``: every command with all its subcommands. With one:
    that command in full and the others as placeholders that carry only
    their help line, so that a command line loads only the module it runs
    (the empty string: placeholders only, enough to find the command)."""
    parser = CommandParser(
        prog=PROG,
        description="Drive an I2C/SPI/UART/GPIO/I3C host adapter from the shell.",
        epilog=(
            "examples:\n"
            "  vantor list\n"
            "  vantor --sim i2c detect -y A\n"
            "  vantor i2c get -y A 0x50 0x00\n"
            "  vantor --serial SN0042 spi flash read image.bin\n"
            "  vantor --json info\n"
            "\n"
            "Options of every command may also follow the command's name.\n"
            "Run 'vantor COMMAND --help' for the options and examples of a command."
        ),
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {pyvantorsdk.__version__}")
    add_global_options(parser, top=True)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    whole = command is None or command in WHOLE_TREE_COMMANDS
    # A module's function adds all its commands at once, at the first of them.
    wanted = {(module, register) for name, module, register, _help in COMMANDS
              if whole or name == command}
    for name, module_name, register, help_text in COMMANDS:
        if name in commands.choices:
            continue
        if (module_name, register) in wanted:
            module = importlib.import_module(f"pyvantorsdk.cli.{module_name}")
            getattr(module, register)(commands)
        else:
            commands.add_parser(name, help=help_text, add_help=False, placeholder=True)
    finish_subcommands(parser)
    return parser


def trace_file(text: str) -> str:
    """The --trace argument: a file name, never empty (an empty one would
    quietly record nothing)."""
    if not text:
        raise argparse.ArgumentTypeError("the trace needs a file name")
    return text


def takes_value(parser: argparse.ArgumentParser, word: str) -> bool:
    """Whether the option ``word`` takes the next word as its value there
    (``--opt=value`` and ``-ovalue`` carry theirs; prefixes of long options
    count as the option, as the parser takes them)."""
    if "=" in word or (not word.startswith("--") and len(word) > 2):
        return False
    actions = parser._option_string_actions
    action = actions.get(word)
    if action is None and word.startswith("--"):
        matches = {a for name, a in actions.items() if name.startswith(word)}
        action = matches.pop() if len(matches) == 1 else None
    return action is not None and action.nargs != 0 and action.nargs != "?"


def names_a_profile(parser: argparse.ArgumentParser, word: str) -> bool:
    """Whether the word after ``--sim`` is its profile. Where a subcommand
    comes next, any word but a subcommand's name is; where the command's own
    arguments come next, only a shipped profile's name or a file name with
    the .toml ending is, so ``--sim`` before FILE or BUS keeps the default
    bench. (A placeholder reads nothing after it: there it does not matter.)"""
    if isinstance(parser, CommandParser) and parser.placeholder:
        return False
    children = subparsers_of(parser)
    if children:
        return word not in children
    if word.endswith(".toml"):
        return True
    from pyvantorsdk import profiles

    return word in profiles.shipped()


def split_sim_profile(argv: Sequence[str], parser: argparse.ArgumentParser) -> List[str]:
    """``--sim i2c ...`` means the default bench, not a profile named i2c:
    the optional profile argument is taken only where ``names_a_profile``
    says so; otherwise ``--sim`` is rewritten as ``--sim=`` (no profile)."""
    out = list(argv)
    current = parser
    i = 0
    while i < len(out):
        word = out[i]
        if word == "--":
            break
        if word == "--sim":
            following = out[i + 1] if i + 1 < len(out) else ""
            if not following or following.startswith("-") or not names_a_profile(current, following):
                out[i] = "--sim="
                i += 1
            else:
                i += 2
        elif word.startswith("-") and len(word) > 1:
            i += 2 if takes_value(current, word) else 1
        else:
            current = subparsers_of(current).get(word, current)
            i += 1
    return out


# --------------------------------------------------------- the virtual bench
def default_bench(adapter: sim.VirtualAdapter) -> None:
    """The bench ``--sim`` plugs in without a profile: something on every bus."""
    adapter.i2c.attach_eeprom(int(I2cBus.A.value), 0x50, size=256, page_size=16)
    adapter.i2c.write_memory(int(I2cBus.A.value), 0x50, 0, b"vantor virtual EEPROM\x00")
    adapter.i2c.attach_register_map(int(I2cBus.A.value), 0x68)
    adapter.i2c.attach_eeprom(int(I2cBus.B.value), 0x54, size=4096, page_size=32, address_bytes=2)
    adapter.spi.attach_flash(0, size=1 << 20)
    adapter.uart.loopback = True
    adapter.i3c.attach_target(
        0x0123456789AB, bcr=0x07, dcr=0xC5, static_address=0x50, max_ibi_payload=4
    )
    adapter.i3c.attach_target(0x0123456789AC, dcr=0x44)


def plug_virtual_adapter(profile: str) -> "sim.VirtualAdapter":
    from pyvantorsdk import sim

    if not profile:
        adapter = sim.VirtualAdapter()
        try:
            default_bench(adapter)
        except BaseException:
            adapter.close()
            raise
        return adapter
    from_profile: Optional[Callable[[str], sim.VirtualAdapter]] = getattr(
        sim.VirtualAdapter, "from_profile", None
    )
    if from_profile is None:
        raise CommandFailed("--sim: this version cannot load bench profiles; use --sim without one")
    try:
        return from_profile(profile)
    except (OSError, ValueError) as e:
        raise CommandFailed(f"--sim {profile}: {e}") from None


# ----------------------------------------------------------- real adapters
def describe(info: HidDeviceInfo) -> str:
    return f"{info.path} (serial {info.serial_number or '?'}, {info.product_name or 'adapter'})"


def cannot_open(where: str, candidates: Sequence[HidDeviceInfo]) -> str:
    """The message for an adapter that is there but does not open: most often
    missing permissions on its device node."""
    paths = [c.path for c in candidates] or [where]
    denied = [p for p in paths if os.path.exists(p) and not os.access(p, os.R_OK | os.W_OK)]
    reason = "permission denied" if denied else "no permission, or another program has it open"
    return (
        f"cannot open the adapter {where} ({reason}).\n"
        f"To let the logged-in user use it, install the udev rules: "
        f"{PROG} udev-rules | sudo tee /etc/udev/rules.d/70-pyvantorsdk.rules"
    )


def connect(dev: DeviceFacade, args: argparse.Namespace, adapter: Optional[sim.VirtualAdapter]) -> None:
    if adapter is not None:
        if not dev.connect(adapter.path):
            raise CommandFailed(f"cannot open the virtual adapter {adapter.path}")
        return
    if args.device:
        if not dev.connect(args.device):
            present = [a for a in pyvantorsdk.find_adapters() if a.path == args.device]
            if not present:
                raise CommandFailed(f"no adapter at {args.device}", hint=NO_ADAPTER_HINT_CLI)
            raise CommandFailed(cannot_open(f"at {args.device}", present))
        return
    if args.serial:
        if not dev.connect_serial(args.serial):
            present = [a for a in pyvantorsdk.find_adapters() if a.serial_number == args.serial]
            if not present:
                raise CommandFailed(f"no adapter with serial number {args.serial}",
                                    hint=NO_ADAPTER_HINT_CLI)
            raise CommandFailed(cannot_open(f"with serial number {args.serial}", present))
        return
    found = pyvantorsdk.find_adapters(include_virtual=False)
    if not found:
        raise CommandFailed("no adapter found", hint=NO_ADAPTER_HINT_CLI)
    if len(found) > 1:
        listing = "\n".join(f"  {describe(info)}" for info in found)
        raise CommandFailed(
            f"{len(found)} adapters found; choose one with --device PATH or --serial SN:\n{listing}"
        )
    if not dev.connect(found[0].path):
        raise CommandFailed(cannot_open(f"at {found[0].path}", found))


@contextlib.contextmanager
def open_device(
    args: argparse.Namespace, adapter: Optional[sim.VirtualAdapter]
) -> Iterator[DeviceFacade]:
    with DeviceFacade(args.timeout) as dev:
        if args.trace:
            dev.start_trace(args.trace)
        try:
            connect(dev, args, adapter)
            yield dev
        except BaseException:
            # The trace is closed even when the command failed or was
            # interrupted; the command's own error is the one reported, the
            # trace's (its file could not be written) only printed.
            if args.trace:
                try:
                    dev.stop_trace()
                except OSError as e:
                    sys.stderr.write(f"{PROG}: trace: {e}\n")
            raise
        # A trace that stopped because its file could not be written raises
        # here: the run fails with the reason.
        if args.trace:
            dev.stop_trace()


# -------------------------------------------------------------------- main
def operation_of(args: argparse.Namespace) -> str:
    return str(getattr(args, "operation", None) or args.command)


def parse_command_line(words: Sequence[str]) -> Tuple[argparse.Namespace, argparse.ArgumentParser]:
    """The arguments and the parser that read them. A first parse with
    placeholders finds the command; the second reads the line with that
    command's parser in full. Raises SystemExit for --help, --version and
    usage errors, like argparse."""
    finder = build_parser("")
    command = finder.parse_known_args(split_sim_profile(words, finder))[0].command
    parser = build_parser(command)
    args = parser.parse_args(split_sim_profile(words, parser))
    chosen = [f"--{name}" for name in ADAPTER_CHOICES if getattr(args, name) is not None]
    if len(chosen) > 1:
        named = ", ".join(chosen[:-1]) + " and " + chosen[-1]
        parser.error(f"{named} each choose the adapter: give one of them")
    return args, parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run one command line; returns the exit status."""
    words = list(sys.argv[1:] if argv is None else argv)
    # Completion through argcomplete when it is installed (an option, not a
    # dependency) and the shell asks for completions: it exits here.
    if "_ARGCOMPLETE" in os.environ:
        with contextlib.suppress(ImportError):
            importlib.import_module("argcomplete").autocomplete(build_parser())
    try:
        args, parser = parse_command_line(words)
    except SystemExit as e:  # usage errors (2), --help and --version (0)
        return int(e.code) if isinstance(e.code, int) else EXIT_USAGE
    operation = operation_of(args)
    err = sys.stderr
    try:
        if args.prepare is not None:
            args.prepare(args)
        return run(args, parser)
    except UsageError as e:
        err.write(f"{PROG} {operation}: error: {e}\n")
        return EXIT_USAGE
    # OSError: files named on the command line.
    except (VantorError, CommandFailed, OSError) as e:
        return report_failure(operation, e, json_output=args.json, out=sys.stdout, err=err)
    except KeyboardInterrupt:
        return 130


def run(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    adapter = plug_virtual_adapter(args.sim) if args.sim is not None else None
    try:
        if not args.needs_device:
            ctx = Context(None, json_output=args.json, adapter=adapter, parser=parser)
            return args.func(ctx, args) or EXIT_OK
        with open_device(args, adapter) as dev:
            ctx = Context(dev, json_output=args.json, adapter=adapter, parser=parser)
            return args.func(ctx, args) or EXIT_OK
    finally:
        if adapter is not None:
            adapter.close()


def entry_point() -> None:
    """The console script."""
    sys.exit(main())
