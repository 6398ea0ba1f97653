# SPDX-License-Identifier: MIT
"""The Python API as the build generates it, held against the reviewed copies
in tests/python/stubs: every change of a signature, docstring, enumeration or
record shows up here as a diff to review and commit with the change.

The stubs are those installed beside the compiled module (the build writes
them with it). A module built without them (the sanitizer run builds the
module alone) skips these tests.
"""

from __future__ import annotations

import ast
import difflib
import os
import re
from pathlib import Path

import pytest

from pyvantorsdk import aio
from pyvantorsdk._cpp import _pyvantorsdk_cpp as native

BUILT = Path(native.__file__).parent
REFERENCE = Path(__file__).with_name("stubs")
UPDATE = "VANTOR_UPDATE_STUBS=1 .venv/bin/pytest -q tests/python/test_stubs.py"

# The package version is no API: a release changes it without a review here.
_VERSION = re.compile(r"^(_sdk_version: str = )'[^']*'$", re.MULTILINE)


def normalised(text: str) -> list[str]:
    return _VERSION.sub(r"\1'…'", text).splitlines(keepends=True)


def built(name: str) -> Path:
    if not (BUILT / "_pyvantorsdk_cpp.pyi").exists():
        pytest.skip("the compiled module was built without its stubs")
    path = BUILT / name
    assert path.exists(), f"{path} is missing: the build installs it with the module"
    return path


@pytest.mark.parametrize("name", [
    "_pyvantorsdk_cpp.pyi", "_pyvantorsdk_cpp_sim.pyi", "_pyvantorsdk_cpp_aio.pyi",
], ids=["module", "simulator", "asyncio-operations"])
def test_generated_stub_is_the_reviewed_one(name):
    fresh = built(name)
    reference = REFERENCE / f"{name}.ref"
    if os.environ.get("VANTOR_UPDATE_STUBS"):
        reference.write_text(fresh.read_text(encoding="utf-8"), encoding="utf-8")
    expected = reference.read_text(encoding="utf-8") if reference.exists() else ""
    diff = "".join(difflib.unified_diff(
        normalised(expected), normalised(fresh.read_text(encoding="utf-8")),
        f"tests/python/stubs/{name}.ref", f"built {name}"))
    assert not diff, (
        f"The Python API changed. Review the diff; if it is meant, update the "
        f"reference with\n    {UPDATE}\nand commit it with the change.\n\n{diff}")


def test_asyncio_stub_types_exactly_the_operations():
    """A coroutine type checkers see but the device lacks (or the reverse)
    means the build's reading of aio.py went wrong."""
    tree = ast.parse(built("_pyvantorsdk_cpp_aio.pyi").read_text(encoding="utf-8"))
    (mixin,) = [node for node in tree.body if isinstance(node, ast.ClassDef)]
    typed = [node.name for node in mixin.body if isinstance(node, ast.AsyncFunctionDef)]
    assert sorted(typed) == list(aio.OPERATIONS)
