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
from typing import Callable, Iterator, List, Optional, Sequence

import pyvantorsdk
from pyvantorsdk import DeviceFacade, HidDeviceInfo, I2cBus, sim
from pyvantorsdk.cli import gpio, i2c, i3c, spi, system, target, uart
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

PROG = "vantor"
# Each family module adds its subcommands; the order is the order of --help.
FAMILIES = (system, i2c, spi, gpio, uart, i3c, target)
TOP_LEVEL_COMMANDS = (
    "list", "info", "demo", "i2c", "spi", "gpio", "uart", "i3c", "target", "voltage",
    "udev-rules", "completion",
)

DEFAULT_TIMEOUT_MS = 2000


@functools.cache
def build_parser() -> argparse.ArgumentParser:
    """The command line's grammar; built once, as parsing leaves it unchanged."""
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
            "Run 'vantor COMMAND --help' for the options and examples of a command."
        ),
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {pyvantorsdk.__version__}")
    where = parser.add_argument_group("choosing the adapter (default: the one attached)")
    choice = where.add_mutually_exclusive_group()
    choice.add_argument("--device", metavar="PATH", help="the adapter at this HID path")
    choice.add_argument("--serial", metavar="SN", help="the adapter with this serial number")
    choice.add_argument(
        "--sim", nargs="?", const="", metavar="PROFILE",
        help="a virtual adapter in this process, set up from a profile file or name "
        "(without one: an EEPROM at 0x50 and a register map at 0x68 on I2C bus A, "
        "an SPI flash on CS0, two I3C targets, UART TX wired to RX)",
    )
    parser.add_argument(
        "--timeout", type=timeout_arg, default=DEFAULT_TIMEOUT_MS, metavar="MS",
        help="how long one request waits for the adapter (default %(default)s ms; "
        "-1: no limit)",
    )
    parser.add_argument(
        "--trace", metavar="FILE", type=trace_file,
        help="record the USB traffic of this run as a pcapng file",
    )
    parser.add_argument("--json", action="store_true", help="print machine-readable JSON")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for module in FAMILIES:
        module.register(commands)
    system.register_tail(commands)
    return parser


def trace_file(text: str) -> str:
    """The --trace argument: a file name, never empty (an empty one would
    quietly record nothing)."""
    if not text:
        raise argparse.ArgumentTypeError("the trace needs a file name")
    return text


def split_sim_profile(argv: Sequence[str]) -> List[str]:
    """``--sim i2c ...`` means the default bench, not a profile named i2c:
    the optional profile argument is taken only when it is not a command."""
    out = list(argv)
    for i, word in enumerate(out):
        if word == "--sim":
            if i + 1 >= len(out) or out[i + 1] in TOP_LEVEL_COMMANDS or out[i + 1].startswith("-"):
                out[i] = "--sim="
            break
        if word in TOP_LEVEL_COMMANDS:
            break
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


def plug_virtual_adapter(profile: str) -> sim.VirtualAdapter:
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


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run one command line; returns the exit status."""
    parser = build_parser()
    words = list(sys.argv[1:] if argv is None else argv)
    # Completion through argcomplete when it is installed (an option, not a
    # dependency); it exits here when the shell asks for completions.
    with contextlib.suppress(ImportError):
        importlib.import_module("argcomplete").autocomplete(parser)
    try:
        args = parser.parse_args(split_sim_profile(words))
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
