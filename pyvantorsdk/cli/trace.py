# SPDX-License-Identifier: MIT
"""``vantor trace``: read back a capture that ``--trace`` wrote, as one line
per transaction, as a summary per command, or as a timeline picture. No
adapter is needed."""

from __future__ import annotations

import argparse
import datetime
import math
import re
from pathlib import Path
from typing import Any, Callable, Dict, Iterator

from pyvantorsdk import StatusCode
from pyvantorsdk.cli.common import (
    EXIT_OK,
    EXIT_USAGE,
    CommandFailed,
    Context,
    UsageError,
    family,
    subcommand,
)
from pyvantorsdk.trace import plot
from pyvantorsdk.trace.decode import read
from pyvantorsdk.trace.dissector import add_dissector_command
from pyvantorsdk.trace.pcapng import TraceError
from pyvantorsdk.trace.records import Record
from pyvantorsdk.trace.stats import summarize
from pyvantorsdk.trace.tables import FAMILY_OF_GROUP

FAMILIES = tuple(FAMILY_OF_GROUP.values())
_DURATION = re.compile(r"^\s*([0-9]*\.?[0-9]+)\s*(s|ms|us|µs|ns)?\s*$")
_UNITS = {"s": 1.0, "ms": 1e-3, "us": 1e-6, "µs": 1e-6, "ns": 1e-9, None: 1.0}


def duration_arg(text: str) -> float:
    """An argparse type: a duration such as ``1ms``, ``250us``, ``0.5s``
    (a bare number is seconds)."""
    found = _DURATION.match(text)
    if found is None:
        raise argparse.ArgumentTypeError(f"invalid duration '{text}' (e.g. 1ms, 250us, 0.5s)")
    return float(found.group(1)) * _UNITS[found.group(2)]


def adapter_arg(text: str) -> str:
    """An argparse type: an adapter as the capture names it, BUS.DEVICE."""
    if re.fullmatch(r"[0-9]{1,5}\.[0-9]{1,3}", text.strip()) is None:
        raise argparse.ArgumentTypeError(f"invalid adapter '{text}' (BUS.DEVICE, e.g. 1.2)")
    bus, device = text.strip().split(".")
    return f"{int(bus)}.{int(device)}"


def register(commands: Any) -> None:
    sub = family(
        commands, "trace",
        help="read back a capture written with --trace: decode, stats, plot, dissector",
        examples=["vantor --sim --trace t.pcapng i2c dump -y A 0x50",
                  "vantor trace decode t.pcapng", "vantor trace stats t.pcapng",
                  "vantor trace plot t.pcapng -o timeline.svg",
                  "vantor trace dissector -o ~/.local/lib/wireshark/plugins/vantor.lua"],
    )
    decode = subcommand(
        sub, "decode", help="print the capture's transactions and notifications, one per line",
        examples=["vantor trace decode t.pcapng", "vantor trace decode --family i2c t.pcapng",
                  "vantor trace decode --status failed t.pcapng",
                  "vantor trace decode --slower-than 1ms --json t.pcapng"],
        func=run_decode, device=False, prepare=prepare_decode,
        description="Print the capture's transactions and notifications, one per line, in "
        "the order they completed. Requests answered later than --timeout are flagged as "
        "late answers.",
    )
    add_file_options(decode)
    decode.add_argument("--family", choices=FAMILIES, help="only this command family")
    decode.add_argument("--status", metavar="failed|ok|NAME",
                        help="only failed records, only successful ones, or those with this "
                        "status (e.g. FW_I2C_NACK_ADDRESS)")
    decode.add_argument("--slower-than", type=duration_arg, metavar="TIME",
                        help="only exchanges that took longer (e.g. 1ms, 250us)")
    stats = subcommand(
        sub, "stats", help="per command: count, failures, latency, bytes; notifications",
        examples=["vantor trace stats t.pcapng", "vantor trace stats --json t.pcapng"],
        func=run_stats, device=False,
    )
    add_file_options(stats)
    drawing = subcommand(
        sub, "plot", help="draw a capture's timeline and latency histogram (.svg or .png)",
        description="Draw the transactions of a capture on a timeline, one lane per family "
        "and one for notifications, coloured by how they ended, beside a histogram of the "
        f"latencies. Needs matplotlib: {plot.EXTRA_HINT}.",
        examples=["vantor --sim --trace t.pcapng i2c dump -y A 0x50",
                  "vantor trace plot t.pcapng -o timeline.svg",
                  "vantor trace plot --adapter 1.2 -o timeline.png t.pcapng"],
        func=run_plot, json_output=False, device=False,
    )
    add_file_options(drawing)
    drawing.add_argument("-o", "--output", metavar="OUT",
                         help="the picture to write, .svg or .png (default: FILE with .svg)")
    add_dissector_command(sub)


def add_file_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help="a pcapng file written with --trace")
    parser.add_argument("--adapter", type=adapter_arg, metavar="BUS.DEVICE",
                        help="only this adapter's traffic (a capture of a whole USB bus may "
                        "hold several)")


def prepare_decode(args: argparse.Namespace) -> None:
    if args.status is None:
        return
    wanted = args.status.strip().upper()
    if wanted not in ("FAILED", "OK") and wanted not in StatusCode.__members__:
        raise UsageError(f"invalid status '{args.status}' (failed, ok or a status name such "
                         "as FW_I2C_NACK_ADDRESS)")
    args.status = wanted


def records(args: argparse.Namespace) -> Iterator[Record]:
    late_after = math.inf if args.timeout < 0 else args.timeout / 1000
    try:
        yield from read(args.file, args.adapter, late_after=late_after)
    except TraceError as e:
        raise CommandFailed(f"{args.file}: {e}") from None


def keeps(args: argparse.Namespace) -> Callable[[Record], bool]:
    def keep(record: Record) -> bool:
        if args.family and record.family != args.family:
            return False
        if args.status == "FAILED" and not record.failed():
            return False
        if args.status == "OK" and record.failed():
            return False
        if args.status not in (None, "FAILED", "OK") and record.status != args.status:
            return False
        if args.slower_than is not None and (record.latency is None
                                             or record.latency <= args.slower_than):
            return False
        return True

    return keep


def json_record(record: Record) -> Dict[str, Any]:
    """A record as ``--json`` prints it. The capture's BUS.DEVICE is
    ``usb_device``: ``adapter`` names the adapter's identity elsewhere."""
    out = record.to_json()
    out["usb_device"] = out.pop("adapter")
    return out


def run_decode(ctx: Context, args: argparse.Namespace) -> None:
    keep = keeps(args)
    if ctx.json:
        ctx.emit([json_record(r) for r in records(args) if keep(r)])
        return
    for record in records(args):
        if keep(record):
            ctx.print(f"{clock(record.time)}  {record.line()}")


def clock(time: float) -> str:
    """The local time of day with microseconds; seconds since the epoch for
    a time the calendar cannot show (a damaged capture's)."""
    try:
        return datetime.datetime.fromtimestamp(time).strftime("%H:%M:%S.%f")
    except (ValueError, OverflowError, OSError):
        return f"{time:.6f}"


def run_stats(ctx: Context, args: argparse.Namespace) -> None:
    summary = summarize(records(args))
    ctx.emit(summary.to_json(), "\n".join(summary.lines()))


def run_plot(ctx: Context, args: argparse.Namespace) -> int:
    output = args.output or str(Path(args.file).with_suffix(".svg"))
    if Path(output).suffix.lower() not in plot.FORMATS:
        raise UsageError(f"{output}: the plot is written as .svg or .png")
    try:
        plot.check_available()
    except plot.PlotUnavailable as e:
        ctx.err.write(f"vantor trace plot: {e}\n")
        return EXIT_USAGE
    shown = list(records(args))
    if not shown:
        raise CommandFailed(f"{args.file}: no adapter traffic to plot")
    plot.plot_timeline(shown, output, title=Path(args.file).name)
    ctx.note(f"wrote {output}")
    return EXIT_OK
