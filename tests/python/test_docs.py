# SPDX-License-Identifier: MIT
"""The Python examples of README.md and docs/*.md run as written.

Every ```python block is one case, named FILE:LINE of its opening fence, run
in a fresh namespace with a temporary folder as the working directory. A block
whose fence has the line `<!-- vantor: needs-hardware -->` directly above it
is collected and skipped. A ```toml block whose first line is a comment naming
a file (`# bench.toml`) is written into that folder for the page's later
blocks, as a reader would save it before running them.
"""

from __future__ import annotations

import re
from pathlib import Path
from typing import Dict, List, NamedTuple

import pytest

ROOT = Path(__file__).resolve().parents[2]
HARDWARE_MARK = "<!-- vantor: needs-hardware -->"
FENCE = re.compile(r"^```(\w*)\s*$")
SAVED_AS = re.compile(r"^#\s*([\w.-]+\.toml)\s*$")


class Block(NamedTuple):
    page: str
    line: int
    code: str
    needs_hardware: bool
    files: Dict[str, str]  # the page's named files that precede the block

    @property
    def name(self) -> str:
        return f"{self.page}:{self.line}"


def pages() -> List[Path]:
    return [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]


def blocks_of(path: Path) -> List[Block]:
    lines = path.read_text(encoding="utf-8").splitlines()
    page = path.relative_to(ROOT).as_posix()
    found: List[Block] = []
    files: Dict[str, str] = {}
    i = 0
    while i < len(lines):
        opening = FENCE.match(lines[i])
        if not opening or not opening.group(1):
            i += 1
            continue
        end = next((j for j in range(i + 1, len(lines)) if lines[j].startswith("```")), None)
        assert end is not None, f"{page}:{i + 1}: the block is never closed"
        body = lines[i + 1 : end]
        if opening.group(1) == "python":
            marked = i > 0 and lines[i - 1].strip() == HARDWARE_MARK
            found.append(Block(page, i + 1, "\n".join(body) + "\n", marked, dict(files)))
        elif opening.group(1) == "toml" and body and (saved := SAVED_AS.match(body[0])):
            files[saved.group(1)] = "\n".join(body) + "\n"
        i = end + 1
    return found


BLOCKS = [block for page in pages() for block in blocks_of(page)]


@pytest.mark.parametrize("block", BLOCKS, ids=[block.name for block in BLOCKS])
def test_python_block_runs(block: Block, tmp_path, monkeypatch) -> None:
    if block.needs_hardware:
        pytest.skip("needs an adapter")
    for name, text in block.files.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    monkeypatch.chdir(tmp_path)
    exec(compile(block.code, block.name, "exec"), {"__name__": "__main__"})


def anchor(heading: str) -> str:
    """The anchor a Markdown renderer gives a heading."""
    kept = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return kept.replace(" ", "-")


def test_links_resolve() -> None:
    """Links to other pages name files that exist; links inside a page name
    one of its headings."""
    broken: List[str] = []
    for page in pages():
        text = page.read_text(encoding="utf-8")
        name = page.relative_to(ROOT).as_posix()
        for target in re.findall(r"\]\(([^)#\s]+\.md)(?:#[^)]*)?\)", text):
            if not (page.parent / target).resolve().is_file():
                broken.append(f"{name}: {target}")
        anchors = {anchor(h) for h in re.findall(r"^#+ (.+)$", text, re.M)}
        broken += [f"{name}: #{a}" for a in re.findall(r"\]\(#([^)]+)\)", text) if a not in anchors]
    assert broken == []
