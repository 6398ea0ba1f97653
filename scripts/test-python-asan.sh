#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Python tests against an extension module built with AddressSanitizer and
# UndefinedBehaviorSanitizer, so that a memory error in the bindings, the SDK
# or the virtual adapter reached from Python is reported where it happens.
#
#   scripts/test-python-asan.sh [PYTEST ARGS...]   (default: tests/python)
#
# The module is built in build/asan, the C++ tests' sanitizer build (same
# options, so the SDK and the virtual adapter compiled for those tests are
# linked in as they are), and put beside a copy of the pure Python package in
# build/asan/site, which goes first on PYTHONPATH (child
# interpreters started by the tests inherit it). The interpreter itself is not
# instrumented, so the sanitizer's runtime is preloaded, with the C++ runtime
# after it so that the exceptions the bindings throw are caught by the same
# runtime that threw them. Leak detection is off: the interpreter keeps its
# objects to the end by design. The soak test is left out (it is a time
# budget, not a memory check, and runs many times slower here).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"

BUILD="$ROOT/build/asan"
JOBS="$(nproc 2>/dev/null || echo 2)"
"$VENV/bin/python" -m pip install -q --disable-pip-version-check ninja

echo "== Python extension under AddressSanitizer + UndefinedBehaviorSanitizer"
# The options of scripts/test.sh's sanitizer build, with the module.
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Sanitize \
    -DVANTOR_SANITIZE=address -DVANTOR_BUILD_PYTHON=ON \
    -DVANTOR_WERROR="${VANTOR_WERROR:-ON}" \
    -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -g1" -DCMAKE_C_FLAGS_SANITIZE="-O1 -g1" \
    -DCMAKE_EXE_LINKER_FLAGS_SANITIZE="" \
    -DPython_EXECUTABLE="$VENV/bin/python" -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" >/dev/null
# Only the module: generating its stub would import it without the preload.
cmake --build "$BUILD" -j "$JOBS" --target _pyvantorsdk_cpp

SITE="$BUILD/site"
rm -rf "$SITE" && mkdir -p "$SITE"
cp -r "$ROOT/pyvantorsdk" "$SITE/"
find "$SITE" -name '__pycache__' -prune -exec rm -rf {} +
rm -f "$SITE"/pyvantorsdk/_cpp/_pyvantorsdk_cpp*
cp "$BUILD"/stubroot/pyvantorsdk/_cpp/_pyvantorsdk_cpp*.so "$SITE/pyvantorsdk/_cpp/"

preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
for lib in $preload; do
    [ -e "$lib" ] || { echo "test-python-asan: $lib not found" >&2; exit 1; }
done

echo "== Python tests against the sanitized module"
[ $# -gt 0 ] || set -- tests/python
cd "$ROOT"
# ASAN_OPTIONS: see the comment above for leaks. halt_on_error stops
# the child at the first report, so that a report fails the test that caused
# it (a child's non-zero exit or stderr fails every test that starts one).
env PYTHONPATH="$SITE" LD_PRELOAD="$preload" \
    ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:abort_on_error=0:exitcode=86" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$VENV/bin/pytest" -q -p no:cacheprovider -n "$JOBS" --ignore=tests/python/test_soak.py "$@"
