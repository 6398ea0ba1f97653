#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs only the kernel-path tests: the system HID and USB backends, the
# transports and the SDK against adapters on a umockdev-emulated USB bus
# (hidraw and usbdevfs nodes, udev). No device and no privileges needed
# beyond reading the test bed umockdev creates under $TMPDIR.
#
#   scripts/test-kernel.sh                 set up (as scripts/test.sh does), build, run
#   VANTOR_KERNEL_NO_SETUP=1 scripts/test-kernel.sh   reuse build/cxx as it is (test.sh)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export VANTOR_WERROR="${VANTOR_WERROR:-ON}"
if [ -z "${VANTOR_KERNEL_NO_SETUP:-}" ]; then
    source "$ROOT/scripts/setup.sh"
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check ninja
    cmake -S "$ROOT" -B "$ROOT/build/cxx" -G Ninja -DVANTOR_WERROR="$VANTOR_WERROR" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" >/dev/null
fi
VENV="$ROOT/.venv"
BIN="$ROOT/build/cxx/tests/kernel/vantor_kernel_tests"

if ! command -v umockdev-wrapper >/dev/null || ! pkg-config --exists umockdev-1.0; then
    echo "umockdev is not installed (scripts/setup.sh installs it when run as root):" \
        "kernel-path tests skipped"
    echo "0 passed, 0 failed, 1 skipped"
    exit 0
fi
cmake --build "$ROOT/build/cxx" -j "$(nproc 2>/dev/null || echo 2)" --target vantor_kernel_tests
# The CLI check of a refused device node runs this interpreter with the
# package built into .venv.
if [ -z "${VANTOR_KERNEL_PYTHON:-}" ] && [ -x "$VENV/bin/python" ]; then
    export VANTOR_KERNEL_PYTHON="$VENV/bin/python"
fi
cd "$ROOT/build/cxx"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
status=0
umockdev-wrapper "$BIN" --gtest_brief=1 2>&1 | tee "$log" || status=$?
count() {  # the number in gtest's summary line starting with $1, or 0
    sed -n "s/^\[  $1 *\] \([0-9]*\) test.*/\1/p" "$log" | tail -n 1 | grep . || echo 0
}
passed="$(count PASSED)"
failed="$(count FAILED)"
skipped="$(count SKIPPED)"
[ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
echo "kernel: $passed passed, $failed failed, $skipped skipped"
exit "$status"
