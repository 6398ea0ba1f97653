# SPDX-License-Identifier: MIT
"""``vantor gpio``: get, set and monitor the six GPIO pins, in the manner
of the usual GPIO line tools (pins are numbered 1 to 6)."""

from __future__ import annotations

import argparse
from typing import Any, Dict, List, Tuple

from pyvantorsdk import (
    GpioFunctionality,
    GpioInterruptNotification,
    GpioLogicLevel,
    GpioPinNumber,
    GpioTriggerType,
)
from pyvantorsdk.cli.common import (
    Context,
    EventStream,
    UsageError,
    add_stream_options,
    subcommand,
    timestamp,
)

PINS = 6
LEVEL_WORDS = {
    "1": 1, "active": 1, "on": 1, "true": 1, "high": 1,
    "0": 0, "inactive": 0, "off": 0, "false": 0, "low": 0,
}
EDGES = {"rising": GpioTriggerType.RISING_EDGE, "falling": GpioTriggerType.FALLING_EDGE,
         "both": GpioTriggerType.BOTH_EDGES}


def register(commands: Any) -> None:
    family = commands.add_parser(
        "gpio", help="GPIO pins 1-6: get, set, monitor",
        description="The six GPIO pins, numbered 1 to 6.",
        epilog="examples:\n  vantor gpio get 1 2\n  vantor gpio set 3=1 4=0\n"
        "  vantor gpio monitor -e rising -n 5 1",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    sub = family.add_subparsers(dest="gpio_command", metavar="COMMAND", required=True)
    get = subcommand(
        sub, "get", help="read pins (made inputs first unless --as-is)",
        examples=["vantor gpio get 1", "vantor gpio get --numeric 1 2 3", "vantor gpio get 1 --json"],
        func=run_get, prepare=prepare_pins,
    )
    get.add_argument("--numeric", action="store_true", help="print 0 and 1, not inactive/active")
    get.add_argument("--as-is", action="store_true", help="read without making the pins inputs")
    get.add_argument("pins", nargs="+", metavar="PIN", help="pins to read, 1 to 6")

    set_ = subcommand(
        sub, "set", help="drive pins (made outputs): PIN=VALUE",
        description="Make pins outputs driving the given levels; the adapter keeps driving "
        "them after the command ends. VALUE: 1/0, active/inactive, on/off, true/false, high/low.",
        examples=["vantor gpio set 3=1", "vantor gpio set 3=active 4=inactive"],
        func=run_set, prepare=prepare_assignments,
    )
    set_.add_argument("assignments", nargs="+", metavar="PIN=VALUE",
                      help="a pin, 1 to 6, and the level to drive, e.g. 3=1")

    monitor = subcommand(
        sub, "monitor", help="print one line per edge until Ctrl-C or --num-events",
        description="Make pins inputs and print each edge as: timestamp (seconds of the "
        "monotonic clock), rising/falling, pin.",
        examples=["vantor gpio monitor 1", "vantor gpio monitor -e falling -n 1 2",
                  "vantor gpio monitor --json 1 2"],
        func=run_monitor, prepare=prepare_pins,
    )
    monitor.add_argument("-e", "--edges", choices=tuple(EDGES), default="both",
                         help="the edges to report (default both)")
    add_stream_options(monitor, "events")
    monitor.add_argument("pins", nargs="+", metavar="PIN", help="pins to watch, 1 to 6")


def pin_number(text: str) -> int:
    try:
        pin = int(text, 0)
    except ValueError:
        raise UsageError(f"invalid pin '{text}' (1-{PINS})") from None
    if not 1 <= pin <= PINS:
        raise UsageError(f"invalid pin '{text}' (1-{PINS})")
    return pin


def gpio_pin(pin: int) -> GpioPinNumber:
    return GpioPinNumber(pin - 1)


def prepare_pins(args: argparse.Namespace) -> None:
    args.pin_list = [pin_number(p) for p in args.pins]
    if len(set(args.pin_list)) != len(args.pin_list):
        raise UsageError("a pin is named twice")


def prepare_assignments(args: argparse.Namespace) -> None:
    pairs: List[Tuple[int, int]] = []
    for word in args.assignments:
        pin_text, equals, value_text = word.partition("=")
        if not equals:
            raise UsageError(f"invalid assignment '{word}' (PIN=VALUE)")
        level = LEVEL_WORDS.get(value_text.strip().lower())
        if level is None:
            raise UsageError(f"invalid value in '{word}'")
        pairs.append((pin_number(pin_text), level))
    if len({p for p, _ in pairs}) != len(pairs):
        raise UsageError("a pin is named twice")
    args.pairs = pairs


def run_get(ctx: Context, args: argparse.Namespace) -> None:
    levels: Dict[int, int] = {}
    for pin in args.pin_list:
        if not args.as_is:
            ctx.dev.gpio_configure_pin(gpio_pin(pin), GpioFunctionality.DIGITAL_INPUT)
        levels[pin] = int(ctx.dev.gpio_digital_read(gpio_pin(pin)))
    if args.numeric:
        text = " ".join(str(levels[p]) for p in args.pin_list)
    else:
        text = " ".join(f'"{p}"={"active" if levels[p] else "inactive"}' for p in args.pin_list)
    ctx.emit({str(p): levels[p] for p in args.pin_list}, text)


def run_set(ctx: Context, args: argparse.Namespace) -> None:
    for pin, level in args.pairs:
        ctx.dev.gpio_configure_pin(gpio_pin(pin), GpioFunctionality.DIGITAL_OUTPUT,
                                   GpioLogicLevel(level))
        ctx.dev.gpio_digital_write(gpio_pin(pin), GpioLogicLevel(level))
    ctx.emit({str(pin): level for pin, level in args.pairs})


def edge_name(notification: GpioInterruptNotification) -> str:
    edge = int(notification.triggered_edge)
    if edge == int(GpioTriggerType.RISING_EDGE):
        return "rising"
    if edge == int(GpioTriggerType.FALLING_EDGE):
        return "falling"
    # An edge the firmware did not name: tell it by the level that followed.
    return "rising" if notification.logic_level else "falling"


def run_monitor(ctx: Context, args: argparse.Namespace) -> None:
    dev = ctx.dev
    wanted = {gpio_pin(pin) for pin in args.pin_list}
    stream = EventStream(dev, [GpioInterruptNotification],
                         lambda n: int(n.pin_number) in {int(p) for p in wanted})
    try:
        for pin in args.pin_list:
            dev.gpio_configure_pin(gpio_pin(pin), GpioFunctionality.DIGITAL_INPUT)
            dev.gpio_configure_interrupt(gpio_pin(pin), EDGES[args.edges])
        for event in stream.events(args.num_events, args.idle_timeout):
            assert isinstance(event, GpioInterruptNotification)
            pin = int(event.pin_number) + 1
            when, edge = timestamp(), edge_name(event)
            ctx.emit_event({"timestamp": float(when), "edge": edge, "pin": pin,
                            "level": int(event.logic_level)}, f"{when}\t{edge}\t{pin}")
    finally:
        stream.close()
        for pin in args.pin_list:
            try:
                dev.gpio_disable_interrupt(gpio_pin(pin))
            except Exception:  # the adapter may be gone; the monitor's result stands
                pass
