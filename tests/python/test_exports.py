# SPDX-License-Identifier: MIT
"""The package's names: what the compiled module publishes is importable from
``pyvantorsdk`` by name, the version is the one of the C++ project, and no
module imports one that imports it back."""

from __future__ import annotations

import ast
import re
from importlib.metadata import version
from pathlib import Path
from typing import Dict, List, Set

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


def import_graph(root: Path) -> Dict[str, Set[str]]:
    """Module -> the package's modules it imports, read from the source: every
    import counts, at the top or inside a function or a TYPE_CHECKING block.
    An imported name is charged to the deepest module it names (``from
    pyvantorsdk import sim`` to ``pyvantorsdk.sim``, ``from pyvantorsdk
    import DeviceFacade`` to ``pyvantorsdk``)."""
    files = {}
    for file in root.rglob("*.py"):
        parts = list(file.relative_to(root.parent).with_suffix("").parts)
        if parts[-1] == "__init__":
            parts.pop()
        files[".".join(parts)] = file

    def deepest(name: str) -> str:
        while name and name not in files:
            name = name.rpartition(".")[0]
        return name

    graph: Dict[str, Set[str]] = {}
    for module, file in files.items():
        package = module if file.name == "__init__.py" else module.rpartition(".")[0]
        named: List[str] = []
        for node in ast.walk(ast.parse(file.read_text(encoding="utf-8"))):
            if isinstance(node, ast.Import):
                named += [alias.name for alias in node.names]
            elif isinstance(node, ast.ImportFrom):
                base = package.rsplit(".", node.level - 1)[0] if node.level else ""
                base = ".".join(part for part in (base, node.module or "") if part)
                named += [f"{base}.{alias.name}" for alias in node.names]
        graph[module] = {deepest(name) for name in named} - {"", module}
    return graph


def find_cycle(graph: Dict[str, Set[str]]) -> List[str]:
    """One import cycle as the modules along it, or [] when there is none."""
    done: Set[str] = set()
    trail: List[str] = []

    def visit(module: str) -> List[str]:
        if module in trail:
            return trail[trail.index(module) :] + [module]
        if module in done:
            return []
        trail.append(module)
        for imported in sorted(graph.get(module, ())):
            cycle = visit(imported)
            if cycle:
                return cycle
        trail.pop()
        done.add(module)
        return []

    for module in sorted(graph):
        cycle = visit(module)
        if cycle:
            return cycle
    return []


def test_no_module_imports_one_that_imports_it_back():
    graph = import_graph(Path(pyvantorsdk.__file__).parent)
    # The reader sees imports of each kind: top-level, from a package, and
    # local to a function.
    assert "pyvantorsdk.sim" in graph["pyvantorsdk.cli.main"]
    assert "pyvantorsdk.profiles.schema" in graph["pyvantorsdk.profiles"]
    assert "pyvantorsdk.profiles" in graph["pyvantorsdk.sim"]
    assert " -> ".join(find_cycle(graph)) == ""
