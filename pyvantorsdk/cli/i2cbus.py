# SPDX-License-Identifier: MIT
"""What the ``vantor i2c`` subcommands share: the bus and chip-address
arguments, the bus options, the question before touching the bus and the
bus set-up (used by ``i2c`` and by ``i2c eeprom``)."""

from __future__ import annotations

import argparse
from typing import Sequence

from pyvantorsdk import DeviceFacade, I2cBus, I2cPullUp
from pyvantorsdk.cli.common import (
    Context,
    UsageError,
    ask_to_continue,
    enum_choice,
    init_or_reconfigure,
    int_arg,
    parse_int,
)

BUS_HELP = "A or B (0 and 1 name them too)"


def common_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("-y", dest="yes", action="store_true",
                        help="do not ask for confirmation")
    parser.add_argument("-f", dest="force", action="store_true",
                        help="accepted for compatibility (nothing else holds the bus)")
    parser.add_argument("--frequency", type=int_arg("frequency", 1, 10_000_000, "Hz"), default=100_000,
                        metavar="HZ", help="bus clock (default %(default)s Hz)")
    parser.add_argument("--pull-up", type=lambda t: enum_choice(I2cPullUp, t),
                        default=I2cPullUp.KOHM_4_7, metavar="VALUE",
                        help="pull-up resistors, e.g. kohm-4-7 (default), kohm-2-2, disable")


def bus_name(bus: I2cBus) -> str:
    return str(bus.name)


def chip_address(text: str, all_addresses: bool) -> int:
    address = parse_int(text, "chip address")
    low, high = (0x00, 0x7F) if all_addresses else (0x08, 0x77)
    if not low <= address <= high:
        raise UsageError(f"chip address {text} out of range (0x{low:02x}-0x{high:02x})")
    return address


def setup_bus(dev: DeviceFacade, args: argparse.Namespace) -> None:
    init_or_reconfigure(
        lambda: dev.i2c_controller_init(args.bus, args.frequency, args.pull_up),
        lambda: dev.i2c_set_parameters(args.bus, args.frequency, args.pull_up),
    )


def confirm(ctx: Context, args: argparse.Namespace, lines: Sequence[str]) -> None:
    """Ask before touching the bus unless -y; anything but yes ends the command."""
    ask_to_continue(ctx, args.yes, "This program can confuse your I2C bus, cause data loss and worse!", lines)
