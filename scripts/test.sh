#!/usr/bin/env bash
# Sets everything up, then runs every test: the C++ tests (plain, under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the threading tests under
# ThreadSanitizer) and the Python tests.
#
#   scripts/test.sh               everything
#   VANTOR_QUICK=1 scripts/test.sh  skip the sanitizer builds
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export VANTOR_WERROR="${VANTOR_WERROR:-ON}"
source "$ROOT/scripts/setup.sh"

JOBS="$(nproc 2>/dev/null || echo 2)"
WERROR="$VANTOR_WERROR"

cxx_build() {  # dir, sanitizer
    cmake -S "$ROOT" -B "$ROOT/$1" -G Ninja -DVANTOR_WERROR="$WERROR" \
        -DVANTOR_SANITIZE="$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" >/dev/null
    cmake --build "$ROOT/$1" -j "$JOBS"
}

status=0
"$VENV/bin/python" -m pip install -q --disable-pip-version-check ninja

echo "== C++ tests"
cxx_build build/cxx ""
(cd "$ROOT/build/cxx" && ctest --output-on-failure -j "$JOBS") || status=1

if [ -z "${VANTOR_QUICK:-}" ]; then
    echo "== C++ tests under AddressSanitizer + UndefinedBehaviorSanitizer"
    cxx_build build/asan address
    (cd "$ROOT/build/asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --output-on-failure -j "$JOBS") || status=1

    echo "== C++ threading tests under ThreadSanitizer"
    cxx_build build/tsan thread
    # Threading tests are the ones whose suite or name says Thread or Concurrent.
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$ROOT/build/tsan/vantor_tests" \
        --gtest_filter='*Thread*:*Concurren*' --gtest_brief=1 || status=1
fi

echo "== Python tests"
# The pytest script (not "python -m pytest") keeps the source tree off sys.path,
# so the tests import the installed package with its compiled module.
(cd "$ROOT" && "$VENV/bin/pytest" -q tests/python) || status=1

exit $status
