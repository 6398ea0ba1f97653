# SPDX-License-Identifier: MIT
"""One decoded exchange of a capture, and its one-line and JSON forms."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional

KINDS = ("transaction", "notification", "unanswered", "unsolicited", "malformed")
# Bytes of data a line shows before it gives the count instead.
LINE_DATA_BYTES = 16
# Fields a line shows in their own places (or not at all: counts that the
# data shown already tell).
_PLACED = {"bus", "address", "subaddress", "subaddress_length", "data", "count", "reserved"}
# Options a line names only when they are set.
_QUIET_WHEN_ZERO = {"non_stop", "include_10bit", "defining_byte", "hdr_command"}


@dataclass(frozen=True)
class Record:
    """A request and its response (``kind`` "transaction"), a notification,
    or what could not be paired or read: "unanswered" (a request without a
    response), "unsolicited" (a response without a request), "malformed"
    (a message or report too short or garbled to decode, or an exchange
    whose bulk data phase did not carry the bytes announced; ``problem``
    says how). ``time`` is the request's time for exchanges, the arrival time
    otherwise, in seconds since the epoch."""

    time: float
    kind: str
    adapter: str
    family: str = ""
    command: str = ""
    code: int = -1
    transaction_id: int = 0
    arguments: Dict[str, Any] = field(default_factory=dict)
    results: Dict[str, Any] = field(default_factory=dict)
    status: Optional[str] = None
    status_code: Optional[int] = None
    latency: Optional[float] = None
    bulk_out: bytes = b""
    bulk_in: bytes = b""
    problem: str = ""

    def failed(self) -> bool:
        """A status other than SUCCESS, or no complete exchange."""
        if self.kind not in ("transaction", "notification"):
            return True
        # By the code: a status this version has no name for is a failure too.
        return self.status_code is not None and self.status_code != 0

    def to_json(self) -> Dict[str, Any]:
        """The record with bytes as lowercase hex strings, as ``--json``
        prints it."""
        return {
            "time": self.time,
            "kind": self.kind,
            "adapter": self.adapter,
            "family": self.family,
            "command": self.command,
            "code": self.code,
            "transaction_id": self.transaction_id,
            "arguments": {k: _json_value(v) for k, v in self.arguments.items()},
            "results": {k: _json_value(v) for k, v in self.results.items()},
            "status": self.status,
            "status_code": self.status_code,
            "latency": self.latency,
            "bulk_out": self.bulk_out.hex(),
            "bulk_in": self.bulk_in.hex(),
            "problem": self.problem,
        }

    def line(self) -> str:
        """``I2C A write 0x50 [00 10] 68 65 6c 6c 6f → SUCCESS in 231 µs``:
        family, bus, operation, address, [subaddress], the data sent, then
        the outcome with what came back."""
        words: List[str] = [self.family.upper() or "?"]
        args = self.arguments
        if "bus" in args:
            words.append(str(args["bus"]))
        words.append(self._operation())
        if "address" in args:
            words.append(_number("address", args["address"]))
        subaddress = _subaddress(args)
        if subaddress:
            words.append(f"[{subaddress.hex(' ')}]")
        words += _others(args, skip_length="data" in args or bool(self.bulk_out))
        sent = args.get("data") if isinstance(args.get("data"), bytes) else self.bulk_out
        if sent:
            words.append(data_text(sent))
        if self.kind == "notification":
            pass
        elif self.kind == "unanswered":
            words.append("→ no answer")
        elif self.kind == "malformed" and self.status is None:
            words.append("→ malformed")
        else:
            words.append("→" if self.kind != "unsolicited" else "→ unsolicited")
            words.append(self.status or f"0x{self.status_code or 0:04X}")
            words += _others(self.results, skip_length=False)
            got = self.results.get("data") if isinstance(self.results.get("data"), bytes) else None
            got = got or self.bulk_in
            if got:
                words.append(data_text(got))
            if self.latency is not None:
                words.append(f"in {duration_text(self.latency)}")
        line = " ".join(w for w in words if w)
        return f"{line} ({self.problem})" if self.problem else line

    def _operation(self) -> str:
        """CMD_I2C_CONTROLLER_WRITE -> "write", NOTIF_GPIO -> "notification",
        CMD_I2C_TARGET_INIT -> "target init"; the code in hex when unknown."""
        if not self.command:
            return f"0x{self.code:04X}" if self.code >= 0 else ""
        words = self.command.split("_")
        notification = words[0] == "NOTIF"
        words = words[1:]
        if words and words[0].lower() == self.family:
            words = words[1:]
        words = [w.lower() for w in words if w != "CONTROLLER"]
        if notification:
            words.append("notification")
        return " ".join(words)


def _subaddress(args: Dict[str, Any]) -> bytes:
    """The subaddress bytes, most significant first: the bytes themselves, or
    the number they form (as I2C requests carry it), cut to
    ``subaddress_length`` when the request gives it."""
    value = args.get("subaddress")
    length = args.get("subaddress_length")
    if isinstance(value, int):
        size = length if isinstance(length, int) else (value.bit_length() + 7) // 8
        size = min(max(size, 0), 8)
        return (value & ((1 << 8 * size) - 1)).to_bytes(size, "big")
    if isinstance(value, bytes):
        return value[:length] if isinstance(length, int) else value
    return b""


def _json_value(value: Any) -> Any:
    return value.hex() if isinstance(value, (bytes, bytearray)) else value


def _number(name: str, value: Any) -> str:
    if isinstance(value, int) and (name.endswith("address") or name == "ccc"):
        return f"0x{value:02x}"
    return str(value)


def _others(values: Dict[str, Any], *, skip_length: bool) -> List[str]:
    """``name=value`` for the fields a line has no place of its own for."""
    out = []
    for name, value in values.items():
        if name in _PLACED or (skip_length and name == "length"):
            continue
        if value == 0 and name in _QUIET_WHEN_ZERO:
            continue
        if isinstance(value, bytes):
            if not value:
                continue
            out.append(f"{name}={value.hex()}" if len(value) <= LINE_DATA_BYTES
                       else f"{name}=({len(value)} bytes)")
        else:
            out.append(f"{name}={_number(name, value)}")
    return out


def data_text(data: bytes) -> str:
    """Bytes in spaced hex, long ones cut with their count."""
    if len(data) <= LINE_DATA_BYTES:
        return data.hex(" ")
    return f"{data[:LINE_DATA_BYTES].hex(' ')} … ({len(data)} bytes)"


def duration_text(seconds: float) -> str:
    if seconds < 1e-3:
        return f"{seconds * 1e6:.0f} µs"
    if seconds < 1.0:
        return f"{seconds * 1e3:.3g} ms"
    return f"{seconds:.3f} s"
