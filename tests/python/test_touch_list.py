# SPDX-License-Identifier: MIT
"""The places a new command touches (docs/adding-a-command.md), checked
from the sources so that a forgotten one fails here rather than in use."""

from __future__ import annotations

import re
from pathlib import Path
from typing import Callable, Set

import pytest

ROOT = Path(__file__).resolve().parents[2]

# VantorSDK methods without a Python binding, and why.
CPP_ONLY = {
    "getLastBulkError": "Python errors carry the failing status and operation instead",
    "maxPayloadFor": "a method of the bulk capability record, a tuple in Python",
    "supportsCommand": "a method of the bulk capability record, a tuple in Python",
    "traceFailure": "stop_trace raises the trace file's failure",
}


def read(pattern: str) -> str:
    return "".join(path.read_text() for path in sorted(ROOT.glob(pattern)))


def sdk_methods_without_a_binding() -> Set[str]:
    header = read("sdk/core/VantorSDK.h")
    body = header[header.index("class VantorSDK {"):]
    public = body[:body.index("\n  private:")]
    declared = set(re.findall(r"^\s+(?:static\s+)?[\w:<>,\s*&]+?\b([a-z]\w*)\(", public, re.M))
    bindings = read("bindings/*.[ch]*")
    bound = set(re.findall(r"VANTOR_SDK(?:_SYNC)?\((\w+)\)", bindings))
    bound |= set(re.findall(r"VantorSDK::(\w+)", bindings))
    bound |= set(re.findall(r"(?:\.|->)(\w+)\(", bindings))  # called on a held SDK
    return declared - bound - set(CPP_ONLY)


def firmware_codes_without_a_row() -> Set[str]:
    codes = set()
    for block in re.finditer(r"namespace (\w+)::cmd \{(.*?)\}", read("sim/firmware/*.h"), re.S):
        for line in block.group(2).splitlines():
            found = re.search(r"constexpr uint16_t (k\w+) = ", line)
            if found and "notification" not in line:
                codes.add(f"{block.group(1)}::cmd::{found.group(1)}")
    rows = set(re.findall(r"\{\s*(\w+::cmd::k\w+),", read("sim/firmware/*.cpp")))
    return codes - rows


def sim_includes_running_back_up() -> Set[str]:
    """The firmware, the devices, the records and the USB side include data
    and the adapter's core header, never the bench above them; and no header
    of sim/ includes one that includes it back, directly or through others."""
    graph = {
        str(path.relative_to(ROOT)): set(re.findall(r'#include "(sim/[^"]+)"', path.read_text()))
        for path in ROOT.glob("sim/**/*.[ch]*")
    }
    wrong = {
        f"{source} includes {target}"
        for source, targets in graph.items()
        if source.startswith(("sim/firmware/", "sim/devices/", "sim/records/", "sim/usb/"))
        for target in targets
        if target.startswith("sim/bench/") or target == "sim/VirtualAdapter.h"
    }
    headers = {source: {t for t in targets if t.endswith(".h")}
               for source, targets in graph.items() if source.endswith(".h")}

    def reaches(start: str, goal: str, seen: Set[str]) -> bool:
        for target in headers.get(start, ()):
            if target == goal or (target not in seen and reaches(target, goal, seen | {target})):
                return True
        return False

    wrong |= {f"{header} includes itself back" for header in headers
              if reaches(header, header, {header})}
    return wrong


CHECKS = {
    "every-sdk-method-is-bound-or-cpp-only": sdk_methods_without_a_binding,
    "sim-includes-never-run-back-up": sim_includes_running_back_up,
    "every-firmware-command-code-has-a-handler-row": firmware_codes_without_a_row,
}


@pytest.mark.parametrize("check", CHECKS.values(), ids=CHECKS.keys())
def test_touch_list(check: Callable[[], Set[str]]) -> None:
    if not (ROOT / "sdk").is_dir():
        pytest.skip("needs the source tree")
    assert check() == set()
