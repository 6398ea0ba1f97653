#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets everything up, then runs every test: the C++ tests (plain, under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the threading tests under
# ThreadSanitizer), the installed C++ SDK used from an outside project, the
# system backends against an emulated USB bus (scripts/test-kernel.sh), the
# Python checks (ruff, mypy) and the Python tests.
#
#   scripts/test.sh               everything
#   VANTOR_QUICK=1 scripts/test.sh  skip the sanitizer builds
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export VANTOR_WERROR="${VANTOR_WERROR:-ON}"
source "$ROOT/scripts/setup.sh"

JOBS="$(nproc 2>/dev/null || echo 2)"
WERROR="$VANTOR_WERROR"

cxx_build() {  # dir, sanitizer, cmake build arguments...
    local dir="$1" sanitizer="$2"
    shift 2
    # The plain build is optimised; sanitizer builds trade speed for compile
    # time with -O1 and line-level debug information for readable reports.
    local type=Release
    [ -n "$sanitizer" ] && type=Sanitize
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja -DVANTOR_WERROR="$WERROR" \
        -DVANTOR_SANITIZE="$sanitizer" -DCMAKE_BUILD_TYPE="$type" \
        -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -g1" -DCMAKE_C_FLAGS_SANITIZE="-O1 -g1" \
        -DCMAKE_EXE_LINKER_FLAGS_SANITIZE="" \
        -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" >/dev/null
    cmake --build "$ROOT/$dir" -j "$JOBS" "$@"
}

status=0
"$VENV/bin/python" -m pip install -q --disable-pip-version-check ninja

echo "== C++ tests"
if cxx_build build/cxx ""; then
    (cd "$ROOT/build/cxx" && ctest --output-on-failure --no-tests=error -j "$JOBS") || status=1
    echo "== C++ SDK installed and used from an outside project"
    "$ROOT/scripts/install-test.sh" "$ROOT/build/cxx" || status=1
else
    status=1
fi

echo "== Kernel-path tests (system backends against an emulated USB bus)"
# Not under the sanitizers: umockdev works by preloading a library too.
VANTOR_KERNEL_NO_SETUP=1 "$ROOT/scripts/test-kernel.sh" || status=1

if [ -z "${VANTOR_QUICK:-}" ]; then
    echo "== C++ tests under AddressSanitizer + UndefinedBehaviorSanitizer"
    if cxx_build build/asan address --target vantor_tests; then
        (cd "$ROOT/build/asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
            ctest --output-on-failure --no-tests=error -j "$JOBS") || status=1
    else
        status=1
    fi

    echo "== C++ threading tests under ThreadSanitizer"
    # Threading tests are the ones whose suite or name says Thread or
    # Concurrent; vantor_thread_tests is built from the files that have them.
    if cxx_build build/tsan thread --target vantor_thread_tests; then
        TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$ROOT/build/tsan/vantor_thread_tests" \
            --gtest_filter='*Thread*:*Concurren*' --gtest_brief=1 || status=1
    else
        status=1
    fi
fi

echo "== Fuzzers, bounded runs"
# libFuzzer needs clang; setup.sh installs it when run as root, and a machine
# without it skips this section. Each fuzzer starts from its seed corpus and
# stops after VANTOR_FUZZ_RUNS inputs (or a minute); what it finds on the way
# goes to build/fuzz, never into the seeds.
if command -v clang++ >/dev/null; then
    fuzz_runs="${VANTOR_FUZZ_RUNS:-20000}"
    if cmake -S "$ROOT" -B "$ROOT/build/fuzz" -G Ninja -DVANTOR_FUZZ=ON -DVANTOR_BUILD_TESTS=OFF \
            -DVANTOR_WERROR="$WERROR" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
            -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" >/dev/null \
        && cmake --build "$ROOT/build/fuzz" -j "$JOBS" --target fuzzers; then
        for source in "$ROOT"/fuzz/fuzz_*.cpp; do
            fuzzer="$(basename "$source" .cpp)"
            work="$ROOT/build/fuzz/work/$fuzzer"
            rm -rf "$work" && mkdir -p "$work"
            if "$ROOT/build/fuzz/fuzz/$fuzzer" "$work" "$ROOT/fuzz/corpus/$fuzzer" \
                    -runs="$fuzz_runs" -max_total_time=60 -artifact_prefix="$ROOT/build/fuzz/" \
                    >"$ROOT/build/fuzz/$fuzzer.log" 2>&1; then
                echo "$fuzzer: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$ROOT/build/fuzz/$fuzzer.log")"
            else
                echo "$fuzzer FAILED:"
                tail -n 40 "$ROOT/build/fuzz/$fuzzer.log"
                status=1
            fi
        done
    else
        status=1
    fi
else
    echo "clang++ is not installed: fuzzers skipped (scripts/setup.sh installs it when run as root)"
fi

echo "== Python checks"
"$ROOT/scripts/lint.sh" python || status=1

echo "== Python tests"
# The pytest script (not "python -m pytest") keeps the source tree off sys.path,
# so the tests import the installed package with its compiled module. The
# tests are spread over one worker process per core.
(cd "$ROOT" && "$VENV/bin/pytest" -q -n "$JOBS" tests/python) || status=1

exit $status
