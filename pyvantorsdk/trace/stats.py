# SPDX-License-Identifier: MIT
"""What a capture adds up to: per command how often it ran, how often it
failed, how long it took and how many data bytes it moved; notifications per
kind; records per kind."""

from __future__ import annotations

import math
import statistics
from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Optional

from pyvantorsdk.trace.records import Record, duration_text

# Byte fields that are a command's payload (what "bytes moved" counts,
# besides the bulk data phases); addresses and headers are not.
PAYLOAD_FIELDS = ("data",)


@dataclass
class CommandStats:
    command: str
    family: str
    count: int = 0
    failures: int = 0
    bytes: int = 0
    latencies: List[float] = field(default_factory=list)

    def latency(self) -> Optional[Dict[str, float]]:
        """min, median, p99 (nearest rank) and max in seconds; None without
        an answered exchange."""
        if not self.latencies:
            return None
        ordered = sorted(self.latencies)
        rank = max(math.ceil(0.99 * len(ordered)), 1)
        return {"min": ordered[0], "median": statistics.median(ordered),
                "p99": ordered[rank - 1], "max": ordered[-1]}


@dataclass
class Summary:
    commands: Dict[str, CommandStats] = field(default_factory=dict)
    notifications: Dict[str, int] = field(default_factory=dict)
    kinds: Dict[str, int] = field(default_factory=dict)

    def to_json(self) -> Dict[str, Any]:
        return {
            "commands": [
                {"command": s.command, "family": s.family, "count": s.count,
                 "failures": s.failures, "timing": s.latency(), "bytes": s.bytes}
                for s in self.commands.values()
            ],
            "notifications": dict(self.notifications),
            "records": dict(self.kinds),
        }

    def lines(self) -> List[str]:
        """The summary as a table, then the notifications and record kinds."""
        width = max([len("command")] + [len(name) for name in self.commands])
        out = [f"{'command':<{width}} {'count':>6} {'failed':>6} {'min':>9} {'median':>9} "
               f"{'p99':>9} {'max':>9} {'bytes':>9}"]
        for s in self.commands.values():
            times = s.latency()
            cells = ([duration_text(times[k]) for k in ("min", "median", "p99", "max")]
                     if times else ["-"] * 4)
            out.append(f"{s.command:<{width}} {s.count:>6} {s.failures:>6} "
                       + " ".join(f"{c:>9}" for c in cells) + f" {s.bytes:>9}")
        if self.notifications:
            out.append("")
            out.append("notifications:")
            out += [f"  {name:<{width - 2}} {n:>6}" for name, n in self.notifications.items()]
        out.append("")
        out.append("records: " + ", ".join(f"{kind} {n}" for kind, n in self.kinds.items()))
        return out


def label(record: Record) -> str:
    """The row a record counts in: its command, else its code, else its kind."""
    if record.command:
        return record.command
    return f"0x{record.code:04X}" if record.code >= 0 else f"({record.kind})"


def payload_bytes(record: Record) -> int:
    moved = len(record.bulk_out) + len(record.bulk_in)
    for values in (record.arguments, record.results):
        moved += sum(len(values[k]) for k in PAYLOAD_FIELDS if isinstance(values.get(k), bytes))
    return moved


def summarize(records: Iterable[Record]) -> Summary:
    summary = Summary()
    for record in records:
        summary.kinds[record.kind] = summary.kinds.get(record.kind, 0) + 1
        if record.kind == "notification":
            name = label(record)
            summary.notifications[name] = summary.notifications.get(name, 0) + 1
            continue
        name = label(record)
        row = summary.commands.get(name)
        if row is None:
            row = summary.commands[name] = CommandStats(name, record.family)
        row.count += 1
        row.failures += record.failed()
        row.bytes += payload_bytes(record)
        if record.latency is not None:
            row.latencies.append(record.latency)
    return summary
