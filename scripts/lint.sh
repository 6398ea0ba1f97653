#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Maintainer checks: clang-tidy over the SDK (when installed), the C++ format
# check (when clang-format is installed), and ruff and mypy over the Python
# package, its tests, examples and benchmarks.
#
#   scripts/lint.sh                 everything available
#   scripts/lint.sh python          ruff and mypy only (test.sh runs these)
#
# clang-tidy reads the compile database of the plain build (build/cxx, made by
# scripts/test.sh), or of build/tidy, configured here (configuring is enough)
# when there is no plain build. Install the C++ tools with
# `apt-get install -y clang-tidy clang-format`.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
WHAT="${1:-all}"
status=0
cd "$ROOT"

python_checks() {
    if [ ! -x "$VENV/bin/ruff" ] || [ ! -x "$VENV/bin/mypy" ]; then
        echo "ruff and mypy are not in .venv: run scripts/setup.sh first" >&2
        return 1
    fi
    echo "== ruff"
    "$VENV/bin/ruff" check --no-cache . || status=1
    echo "== mypy"
    # The package's sources, with the compiled module's stub taken from the
    # installed package (the build generates it; the source tree has none).
    "$VENV/bin/mypy" --no-incremental --python-executable "$VENV/bin/python" \
        -p pyvantorsdk || status=1
    "$VENV/bin/mypy" --no-incremental --python-executable "$VENV/bin/python" || status=1
}

cxx_checks() {
    local sources
    mapfile -t sources < <(git ls-files 'sdk/*.cpp')
    if command -v clang-tidy >/dev/null; then
        echo "== clang-tidy"
        local database=build/cxx
        if [ ! -f "$database/compile_commands.json" ]; then
            database=build/tidy
            cmake -S . -B "$database" -DVANTOR_BUILD_TESTS=OFF >/dev/null
        fi
        clang-tidy -p "$database" --quiet "${sources[@]}" 2>/dev/null || status=1
    else
        echo "== clang-tidy not installed: skipped"
    fi
    if command -v clang-format >/dev/null; then
        echo "== clang-format"
        local files
        mapfile -t files < <(git ls-files '*.cpp' '*.h')
        clang-format --dry-run --Werror "${files[@]}" || status=1
    else
        echo "== clang-format not installed: skipped"
    fi
}

case "$WHAT" in
    python) python_checks || status=1 ;;
    all) cxx_checks || status=1; python_checks || status=1 ;;
    *) echo "usage: scripts/lint.sh [python]" >&2; exit 2 ;;
esac
exit $status
