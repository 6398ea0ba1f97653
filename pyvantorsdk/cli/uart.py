# SPDX-License-Identifier: MIT
"""``vantor uart``: send bytes, and print what arrives."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from pyvantorsdk import (
    DeviceFacade,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartRxNotification,
    UartStopBit,
)
from pyvantorsdk.cli.common import (
    Context,
    EventStream,
    UsageError,
    add_stream_options,
    hexdump,
    init_or_reconfigure,
    parse_hex_bytes,
    subcommand,
)

BAUD_RATES = {int(m.name.split("_")[1]): m for m in UartBaudRate}


def add_line_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--baud", type=int, choices=sorted(BAUD_RATES), default=115200,
                        metavar="RATE", help="bit rate (default %(default)s)")
    parser.add_argument("--parity", choices=("none", "even", "odd"), default="none",
                        help="parity bit (default %(default)s)")
    parser.add_argument("--data-bits", type=int, choices=(7, 8), default=8,
                        help="bits per character (default %(default)s)")
    parser.add_argument("--stop-bits", type=int, choices=(1, 2), default=1,
                        help="stop bits (default %(default)s)")
    parser.add_argument("--rtscts", action="store_true", help="RTS/CTS flow control")


def register(commands: Any) -> None:
    family = commands.add_parser(
        "uart", help="UART: send, monitor",
        description="The UART: send bytes and print received ones.",
        epilog="examples:\n  vantor uart send 'hello'\n  vantor uart send --hex 01 02 ff\n"
        "  vantor uart monitor --baud 9600\n  vantor uart monitor --hex -n 16",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    sub = family.add_subparsers(dest="uart_command", metavar="COMMAND", required=True)
    send = subcommand(
        sub, "send", help="send text or hex bytes ('-' reads them from stdin)",
        examples=["vantor uart send 'AT+RST'", "vantor uart send --crlf AT",
                  "vantor uart send --hex 55 aa 01", "printf 'x' | vantor uart send -"],
        func=run_send, prepare=prepare_send,
    )
    add_line_options(send)
    send.add_argument("--hex", action="store_true", help="the words are hex bytes")
    send.add_argument("--crlf", action="store_true", help="end the text with CR LF")
    send.add_argument("data", nargs="+", metavar="DATA",
                      help="text (words joined by spaces), hex bytes with --hex, or - for stdin")

    monitor = subcommand(
        sub, "monitor", help="print received bytes until Ctrl-C (or --num-events)",
        examples=["vantor uart monitor", "vantor uart monitor --hex --baud 9600",
                  "vantor uart monitor --idle-timeout 2 --json"],
        func=run_monitor,
    )
    add_line_options(monitor)
    monitor.add_argument("--hex", action="store_true", help="print a hex dump, not text")
    add_stream_options(monitor, "receptions")


def setup(dev: DeviceFacade, args: argparse.Namespace) -> None:
    values = (
        BAUD_RATES[args.baud],
        UartHwHandshake.ENABLED if args.rtscts else UartHwHandshake.DISABLED,
        UartParity[args.parity.upper()],
        UartDataSize.BITS_7 if args.data_bits == 7 else UartDataSize.BITS_8,
        UartStopBit.TWO if args.stop_bits == 2 else UartStopBit.ONE,
    )
    init_or_reconfigure(lambda: dev.uart_init(*values), lambda: dev.uart_set_parameters(*values))


def prepare_send(args: argparse.Namespace) -> None:
    if args.data == ["-"]:
        args.payload = sys.stdin.buffer.read()
    elif args.hex:
        args.payload = parse_hex_bytes(args.data)
    else:
        args.payload = " ".join(args.data).encode()
    if args.crlf:
        args.payload += b"\r\n"
    if not args.payload:
        raise UsageError("nothing to send")


def run_send(ctx: Context, args: argparse.Namespace) -> None:
    setup(ctx.dev, args)
    ctx.dev.uart_send_message(args.payload)
    ctx.emit({"data": args.payload.hex()})


def run_monitor(ctx: Context, args: argparse.Namespace) -> None:
    stream = EventStream(ctx.dev, [UartRxNotification])
    try:
        setup(ctx.dev, args)
        offset = 0
        for event in stream.events(args.num_events, args.idle_timeout):
            assert isinstance(event, UartRxNotification)
            data = bytes(event.data)
            if ctx.json:
                ctx.emit_event({"data": data.hex(), "text": data.decode("utf-8", "replace")}, "")
            elif args.hex:
                for row in hexdump(data, offset):
                    ctx.print(row)
            else:
                ctx.print(data.decode("utf-8", "replace"), end="")
            offset += len(data)
    finally:
        stream.close()
