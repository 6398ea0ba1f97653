# SPDX-License-Identifier: MIT
"""What every subcommand shares: the run context, argument parsers for
numbers and buses, output in text or JSON, and the progress line."""

from __future__ import annotations

import argparse
import json
import math
import queue
import sys
import time
from typing import (
    Any,
    Callable,
    Dict,
    Iterable,
    List,
    NoReturn,
    Optional,
    Sequence,
    TextIO,
    Tuple,
)

from pyvantorsdk import DeviceFacade, I2cBus, Notification, errors
from pyvantorsdk.errors import VantorError

# Exit statuses: success, a failure the adapter (or the bench) reported,
# and a command line that could not be understood.
EXIT_OK = 0
EXIT_FAILURE = 1
EXIT_USAGE = 2


class UsageError(Exception):
    """A command line that parses but makes no sense; nothing was sent."""


class CommandParser(argparse.ArgumentParser):
    """The parser of the command and of every subcommand (the subparsers take
    the class of their parent).

    A usage error is one line, ``vantor i2c get: error: ...``, the same form
    as a :class:`UsageError` found after parsing. A ``strict`` parser (every
    subcommand's) reports the words it does not understand itself, under its
    own name. A parser with ``intermixed`` set takes its options between its
    positional arguments too, where a ``*`` positional would otherwise end
    the positionals at the first option. A ``placeholder`` stands for a
    command whose module is not loaded: it takes whatever follows."""

    intermixed = False
    strict = False
    _intermixing = False

    def __init__(self, *args: Any, placeholder: bool = False, **kwargs: Any) -> None:
        super().__init__(*args, **kwargs)
        self.placeholder = placeholder

    def error(self, message: str) -> NoReturn:
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message}\n")

    def parse_known_args(  # type: ignore[override]
        self, args: Optional[Sequence[str]] = None, namespace: Optional[argparse.Namespace] = None
    ) -> Tuple[argparse.Namespace, List[str]]:
        if self._intermixing:
            # One of the two plain parses an intermixed parse runs.
            return super().parse_known_args(args, namespace)
        if self.intermixed:
            self._intermixing = True
            try:
                parsed, extras = self.parse_known_intermixed_args(args, namespace)
            finally:
                self._intermixing = False
        else:
            parsed, extras = super().parse_known_args(args, namespace)
        if extras and self.strict:
            self.error(f"unrecognized arguments: {' '.join(extras)}")
        return parsed, extras


class CommandFailed(Exception):
    """A failure that is not an adapter status (a verify mismatch, a missing
    adapter); printed as one line, and a ``hint:`` line when there is a
    ``hint``; exit status 1."""

    def __init__(self, message: str, hint: Optional[str] = None) -> None:
        super().__init__(message)
        self.hint = hint


class Context:
    """One run of a subcommand: the open device, where output goes, and
    whether it goes as JSON.

    ``adapter`` is the virtual adapter this process plugged in for ``--sim``
    (None on hardware); it is closed by whoever created it, after ``dev``."""

    def __init__(
        self,
        dev: Optional[DeviceFacade],
        *,
        json_output: bool = False,
        out: Optional[TextIO] = None,
        err: Optional[TextIO] = None,
        adapter: Any = None,
        parser: Optional[argparse.ArgumentParser] = None,
    ) -> None:
        self.dev_or_none = dev
        self.parser = parser
        self.json = json_output
        self.out = out if out is not None else sys.stdout
        self.err = err if err is not None else sys.stderr
        self.adapter = adapter

    @property
    def dev(self) -> DeviceFacade:
        assert self.dev_or_none is not None, "this subcommand runs without a device"
        return self.dev_or_none

    def print(self, text: str = "", end: str = "\n") -> None:
        self.out.write(text + end)
        self.out.flush()

    def note(self, text: str) -> None:
        """A message for the person at the terminal (stderr), never data."""
        self.err.write(text + "\n")
        self.err.flush()

    def emit(self, data: Any, text: Optional[str] = None) -> None:
        """Print a result: ``data`` as one JSON document with ``--json``,
        else ``text`` (nothing when None)."""
        if self.json:
            self.print(json.dumps(data, sort_keys=False))
        elif text is not None:
            self.print(text)

    def emit_event(self, data: Dict[str, Any], text: str) -> None:
        """One line of a stream (events, received bytes): a JSON object per
        line with ``--json``."""
        self.print(json.dumps(data) if self.json else text)


# ------------------------------------------------------------ argument types
def parse_int(text: str, what: str = "value") -> int:
    """An integer in C notation: decimal, 0x hex, 0o/0 octal, 0b binary."""
    try:
        cleaned = text.strip().lower().replace("_", "")
        if len(cleaned) > 1 and cleaned.startswith("0") and cleaned[1].isdigit():
            return int(cleaned, 8)
        return int(cleaned, 0)
    except ValueError:
        raise UsageError(f"invalid {what} '{text}'") from None


def int_arg(what: str, low: int, high: int, unit: str = "") -> Callable[[str], int]:
    """An argparse type: an integer in [low, high], with its name in the error.
    A quantity with a ``unit`` (mV, Hz) states its range in decimal with the
    unit; other small values (addresses, registers) in hex."""

    def convert(text: str) -> int:
        try:
            value = parse_int(text, what)
        except UsageError as e:
            raise argparse.ArgumentTypeError(str(e)) from None
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(
                f"{what} {text} out of range ({low}-{high} {unit})"
                if unit
                else f"{what} {text} out of range (0x{low:02x}-0x{high:02x})"
                if high < 0x10000
                else f"{what} {text} out of range ({low}-{high})"
            )
        return value

    convert.__name__ = what
    return convert


def seconds_arg(text: str) -> float:
    """An argparse type: a duration in seconds, finite and not negative (NaN
    would never compare as elapsed)."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid number of seconds '{text}'") from None
    if not math.isfinite(value) or value < 0:
        raise argparse.ArgumentTypeError(f"seconds {text} out of range (a finite number, 0 or more)")
    return value


def timeout_arg(text: str) -> int:
    """An argparse type: a request timeout in ms, 1 or more, or -1 for none
    (0 would fail every request)."""
    if text.strip() == "-1":
        return -1
    try:
        return int_arg("timeout", 1, (1 << 31) - 1)(text)
    except argparse.ArgumentTypeError as e:
        raise argparse.ArgumentTypeError(f"{e}; -1 waits without limit") from None


def bus_arg(text: str) -> I2cBus:
    """An I2C bus: A or B (0 and 1 also work)."""
    names = {"a": I2cBus.A, "0": I2cBus.A, "b": I2cBus.B, "1": I2cBus.B}
    found = names.get(text.strip().lower())
    if found is None:
        raise argparse.ArgumentTypeError(f"invalid bus '{text}' (A or B)")
    return found


def parse_hex_bytes(words: Sequence[str]) -> bytes:
    """Bytes written as hex: ``9f 00``, ``9f00``, ``0x9f 0x00`` or ``9f:00``
    (words may be mixed)."""
    out = bytearray()
    for word in words:
        for part in word.replace(":", " ").replace(",", " ").split():
            digits = part[2:] if part.lower().startswith("0x") else part
            if not digits or len(digits) % 2 or any(c not in "0123456789abcdefABCDEF" for c in digits):
                raise UsageError(f"invalid hex bytes '{part}'")
            out += bytes.fromhex(digits)
    return bytes(out)


def enum_choice(enum_type: Any, text: str) -> Any:
    """An enumeration member by name, case-insensitive, '-' for '_'."""
    key = text.strip().upper().replace("-", "_")
    try:
        return enum_type[key]
    except KeyError:
        names = ", ".join(m.name.lower().replace("_", "-") for m in enum_type)
        raise argparse.ArgumentTypeError(f"invalid choice '{text}' (one of {names})") from None


# ------------------------------------------------------------------ output
def hexdump(data: bytes, start: int = 0) -> List[str]:
    """Rows of 16 bytes: offset, hex bytes in two groups of eight, and the
    printable characters between bars."""
    rows = []
    for offset in range(0, len(data), 16):
        chunk = data[offset : offset + 16]
        cells = [f"{b:02x}" for b in chunk]
        left = " ".join(cells[:8])
        right = " ".join(cells[8:])
        text = "".join(chr(b) if 0x20 <= b < 0x7F else "." for b in chunk)
        rows.append(f"{start + offset:08x}  {left:<23}  {right:<23}  |{text}|")
    return rows


def status_line(operation: str, error: VantorError) -> str:
    """``i2c get: FW_I2C_NACK_ADDRESS (0x0203)``."""
    status = error.status_code
    if isinstance(status, int):
        return f"{operation}: unknown status (0x{status:04X})"
    return f"{operation}: {status.name} (0x{int(status.value):04X})"


class Progress:
    """A progress bar with the transfer rate on stderr, redrawn in place on a
    terminal; elsewhere only the closing summary line is written."""

    WIDTH = 30

    def __init__(self, what: str, total: int, stream: TextIO, *, quiet: bool = False) -> None:
        self.what = what
        self.total = max(total, 0)
        self.done = 0
        self.stream = stream
        self.live = not quiet and stream.isatty()
        self.quiet = quiet
        self.started = time.monotonic()
        self._last_draw = 0.0

    def rate(self) -> float:
        elapsed = max(time.monotonic() - self.started, 1e-9)
        return self.done / elapsed

    def advance(self, count: int) -> None:
        self.done += count
        if not self.live:
            return
        now = time.monotonic()
        if now - self._last_draw < 0.05 and self.done < self.total:
            return
        self._last_draw = now
        fraction = self.done / self.total if self.total else 1.0
        filled = int(fraction * self.WIDTH)
        bar = "#" * filled + "-" * (self.WIDTH - filled)
        self.stream.write(
            f"\r{self.what:<8} [{bar}] {fraction * 100:5.1f}% {format_rate(self.rate())}"
        )
        self.stream.flush()

    def finish(self) -> None:
        if self.quiet:
            return
        elapsed = time.monotonic() - self.started
        if self.live:
            self.stream.write("\n")
        self.stream.write(
            f"{self.what}: {self.done} bytes in {elapsed:.2f} s ({format_rate(self.rate())})\n"
        )
        self.stream.flush()


def format_rate(bytes_per_second: float) -> str:
    for unit, size in (("MiB/s", 1 << 20), ("KiB/s", 1 << 10)):
        if bytes_per_second >= size:
            return f"{bytes_per_second / size:.1f} {unit}"
    return f"{bytes_per_second:.0f} B/s"


# ----------------------------------------------------------- event streams
class EventStream:
    """Notifications of the wanted kinds, handed from the facade's delivery
    thread to the command's thread through a queue.

    The main thread waits in short slices so that Ctrl-C ends the stream at
    once, as a normal end of the command; ``idle_timeout`` (seconds) ends it
    after that long without an event."""

    def __init__(
        self,
        dev: DeviceFacade,
        kinds: Iterable[type],
        accept: Optional[Callable[[Any], bool]] = None,
    ) -> None:
        self._kinds = tuple(kinds)
        self._accept = accept
        self._queue: "queue.Queue[Notification]" = queue.Queue()
        self._dev = dev
        dev.on_notification(self._deliver)

    def _deliver(self, notification: Notification) -> None:
        if isinstance(notification, self._kinds) and (
            self._accept is None or self._accept(notification)
        ):
            self._queue.put(notification)

    def close(self) -> None:
        self._dev.on_notification(None)

    def events(
        self, count: Optional[int] = None, idle_timeout: Optional[float] = None
    ) -> Iterable[Notification]:
        taken = 0
        while count is None or taken < count:
            deadline = None if idle_timeout is None else time.monotonic() + idle_timeout
            while True:
                wait = 0.2
                if deadline is not None:
                    wait = min(wait, deadline - time.monotonic())
                    if wait <= 0:
                        return
                try:
                    notification = self._queue.get(timeout=wait)
                    break
                except queue.Empty:
                    continue
                except KeyboardInterrupt:
                    return
            taken += 1
            yield notification


def add_stream_options(parser: argparse.ArgumentParser, noun: str) -> None:
    parser.add_argument(
        "-n", "--num-events", type=int_arg("count", 1, 1 << 31), metavar="N",
        help=f"exit after N {noun}",
    )
    parser.add_argument(
        "--idle-timeout", type=seconds_arg, metavar="SECONDS",
        help=f"exit when no {noun[:-1] if noun.endswith('s') else noun} came for this long",
    )


def timestamp() -> str:
    """Seconds of the monotonic clock with nanoseconds, as event lines carry."""
    ns = time.monotonic_ns()
    return f"{ns // 1_000_000_000}.{ns % 1_000_000_000:09d}"


def init_or_reconfigure(init: Callable[[], None], reconfigure: Callable[[], None]) -> None:
    """Initialise an interface; when an earlier session left it initialised,
    apply the settings to it instead."""
    try:
        init()
    except errors.FirmwareError as e:
        if getattr(e.status_code, "name", "") != "FW_INTERFACE_ALREADY_INITIALIZED":
            raise
        reconfigure()


def ask_to_continue(ctx: Context, yes: bool, warning: str, lines: Sequence[str]) -> None:
    """Ask on stderr before a command changes something, unless ``yes``
    (``-y``): an empty answer or yes goes on; anything else, or the end of
    standard input, ends the command with nothing done (exit status 1)."""
    if yes:
        return
    ctx.err.write(f"WARNING! {warning}\n")
    for line in lines:
        ctx.err.write(line + "\n")
    ctx.err.write("Continue? [Y/n] ")
    ctx.err.flush()
    answer = sys.stdin.readline()
    if not answer or answer.strip().lower() not in ("", "y", "yes"):
        raise CommandFailed("aborting on user request")


def add_json(parser: argparse.ArgumentParser) -> None:
    """``--json`` after the subcommand, the same as before it."""
    parser.add_argument(
        "--json", action="store_true", default=argparse.SUPPRESS,
        help="print machine-readable JSON instead of text",
    )


def subcommand(
    subparsers: Any,
    name: str,
    *,
    help: str,
    examples: Sequence[str],
    func: Callable[[Context, argparse.Namespace], Optional[int]],
    json_output: bool = True,
    device: bool = True,
    prepare: Optional[Callable[[argparse.Namespace], None]] = None,
    description: Optional[str] = None,
    intermixed: bool = False,
) -> argparse.ArgumentParser:
    """A subcommand with its examples in the help epilog.

    ``prepare`` checks and converts the arguments before the adapter is
    opened, so that a malformed command line sends nothing. ``intermixed``
    lets its options come between its positional arguments (see
    :class:`CommandParser`)."""
    epilog = "examples:\n" + "\n".join(f"  {line}" for line in examples)
    parser: argparse.ArgumentParser = subparsers.add_parser(
        name,
        help=help,
        description=description or help,
        epilog=epilog,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    if isinstance(parser, CommandParser):
        parser.intermixed = intermixed
    # "vantor i2c get" -> "i2c get", the operation named in error lines.
    operation = parser.prog.split(" ", 1)[-1]
    parser.set_defaults(func=func, needs_device=device, prepare=prepare, operation=operation)
    if json_output:
        add_json(parser)
    return parser


def family(
    subparsers: Any, name: str, *, help: str, examples: Sequence[str],
    description: Optional[str] = None,
) -> Any:
    """A family of subcommands (``i2c``, ``spi``, ...); returns its subparsers."""
    epilog = "examples:\n" + "\n".join(f"  {line}" for line in examples)
    parser = subparsers.add_parser(
        name, help=help, description=description or help, epilog=epilog,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    children = parser.add_subparsers(dest=f"{name}_command", metavar="COMMAND", required=True)
    return children


def parser_tree(parser: argparse.ArgumentParser) -> List[Tuple[List[str], argparse.ArgumentParser]]:
    """(path of subcommands, its parser) for ``parser`` and every parser
    below it, parents first."""
    found: List[Tuple[List[str], argparse.ArgumentParser]] = [([], parser)]
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            for name, child in action.choices.items():
                found += [([name, *path], below) for path, below in parser_tree(child)]
    return found


def subcommand_tree(parser: argparse.ArgumentParser) -> List[Tuple[List[str], List[str]]]:
    """(path of subcommands, words that may follow) for every parser, for
    the completion script: its options, short and long, its subcommands and
    the choices of its positional arguments."""
    found: List[Tuple[List[str], List[str]]] = []
    for path, current in parser_tree(parser):
        options: List[str] = []
        named: List[str] = []
        for action in current._actions:
            options.extend(action.option_strings)
            if isinstance(action, argparse._SubParsersAction):
                named.extend(action.choices)
            elif not action.option_strings and action.choices:
                named.extend(str(choice) for choice in action.choices)
        found.append((path, options + named))
    return found


def failure_report(operation: str, error: Exception) -> Dict[str, Any]:
    """A failure as the JSON error object of ``--json``::

        {"operation": "i2c get", "status": "FW_I2C_NACK_ADDRESS", "code": 515,
         "message": "FW_I2C_NACK_ADDRESS (0x0203)", "hint": null}

    ``status`` and ``code`` are null for a failure that is not an adapter
    status (a missing adapter, a verify mismatch, a file that cannot be
    read); ``status`` alone is null for a code this library does not know.
    ``message`` is the error line after ``OPERATION: ``; ``hint`` what to do
    next, or null."""
    if not isinstance(error, VantorError):
        return {"operation": operation, "status": None, "code": None, "message": str(error),
                "hint": getattr(error, "hint", None)}
    raw = error.status_code
    return {
        "operation": operation,
        "status": None if isinstance(raw, int) else str(raw.name),
        "code": raw if isinstance(raw, int) else int(raw.value),
        "message": status_line(operation, error)[len(operation) + 2 :],
        "hint": errors.hint_for(raw, error.operation, cli=True),
    }


def report_failure(
    operation: str, error: Exception, *, json_output: bool, out: TextIO, err: TextIO
) -> int:
    """A failed command (exit status 1): its line on standard error, then a
    ``hint:`` line when there is something to do about it; with ``--json``
    also ``{"error": REPORT}`` (:func:`failure_report`) on standard output."""
    report = failure_report(operation, error)
    hint = f"hint: {report['hint']}\n" if report["hint"] else ""
    err.write(f"{operation}: {report['message']}\n{hint}")
    err.flush()
    if json_output:
        out.write(json.dumps({"error": report}) + "\n")
        out.flush()
    return EXIT_FAILURE


# ------------------------------------------------------------------- files
def read_file(path: str) -> bytes:
    """The bytes of an image file; ``-`` reads standard input to its end."""
    if path == "-":
        return sys.stdin.buffer.read()
    with open(path, "rb") as f:
        return f.read()
