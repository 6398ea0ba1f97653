# SPDX-License-Identifier: MIT
"""The package's names: what the compiled module publishes is importable from
``pyvantorsdk`` by name, and the version is the one of the C++ project."""

from __future__ import annotations

import re
from importlib.metadata import version
from pathlib import Path

import pytest

import pyvantorsdk
from pyvantorsdk._cpp import _pyvantorsdk_cpp as native

NATIVE_PUBLIC = sorted(name for name in vars(native) if not name.startswith("_"))


def test_every_public_name_of_the_compiled_module_is_exported():
    missing = [name for name in NATIVE_PUBLIC if name not in pyvantorsdk.__all__]
    assert missing == []
    rebound = [name for name in NATIVE_PUBLIC if getattr(pyvantorsdk, name) is not getattr(native, name)]
    assert rebound == []


def test_all_names_only_what_the_package_has_once():
    assert [name for name in pyvantorsdk.__all__ if not hasattr(pyvantorsdk, name)] == []
    assert len(pyvantorsdk.__all__) == len(set(pyvantorsdk.__all__))


def test_version_is_the_cmake_project_version():
    cmake = Path(__file__).resolve().parents[2] / "CMakeLists.txt"
    if not cmake.exists():
        pytest.skip("needs the source tree")
    found = re.search(r"project\(vantorsdk\s+VERSION\s+([0-9.]+)", cmake.read_text())
    assert found is not None
    assert pyvantorsdk.__version__ == version("pyvantorsdk") == found.group(1)
