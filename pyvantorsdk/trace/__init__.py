# SPDX-License-Identifier: MIT
"""Reading the adapter traffic that a trace recorded (stand-in until the
decoder lands: the record type only)."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Dict, Iterator, Optional


class TraceError(Exception):
    """A file that is not a usable capture."""


@dataclass(frozen=True)
class Record:
    time: float
    kind: str
    adapter: str
    family: str
    command: str
    code: int
    transaction_id: int
    arguments: Dict[str, Any] = field(default_factory=dict)
    results: Dict[str, Any] = field(default_factory=dict)
    status: Optional[str] = None
    status_code: Optional[int] = None
    latency: Optional[float] = None
    bulk_out: bytes = b""
    bulk_in: bytes = b""
    problem: str = ""

    def failed(self) -> bool:
        return self.kind not in ("transaction", "notification") or (
            self.status is not None and self.status != "SUCCESS"
        )

    def line(self) -> str:
        return f"{self.command} -> {self.status}"


def read(path: str, adapter: Optional[str] = None) -> Iterator[Record]:
    raise TraceError(f"{path}: no decoder")
