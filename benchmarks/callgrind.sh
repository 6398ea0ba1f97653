#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Instructions per synchronous round trip under callgrind (Debian's valgrind):
# a figure that the machine's load does not move. Each kind of round trip
# runs twice, with N and 2N iterations; the difference divided by the extra
# round trips leaves out start-up, connecting and warm-up. Counts cover every
# thread of the process (caller, reader thread, virtual adapter).
#
#   benchmarks/callgrind.sh [build dir]     (default: build/cxx)
#
# Prints one line per kind; reference: the raw condition-variable ping-pong.
# With the package installed in .venv, one more line: the same round trip
# (get_usb_config, 64-byte reports) from Python through DeviceFacade, whose
# difference to sync64 is what the Python layer adds.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${1:-$ROOT/build/cxx}/bench_engine"
command -v valgrind >/dev/null || { echo "valgrind is not installed (apt-get install valgrind)" >&2; exit 1; }
[ -x "$BIN" ] || { echo "$BIN not built (scripts/test.sh builds it)" >&2; exit 1; }

ITER=20000  # bench_engine makes ITER/20 round trips per round, one round here

instructions() {  # group iterations -> instructions executed by the whole run
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$BIN" --only "$1" \
        --iterations "$2" --rounds 1 2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

printf "%-36s %14s\n" "round trip" "instructions"
for group in floor sync64 sync1024; do
    one="$(instructions "$group" "$ITER")"
    two="$(instructions "$group" $((2 * ITER)))"
    printf "%-36s %14d\n" "$group" $(((two - one) / (ITER / 20)))
done

PY="$ROOT/.venv/bin/python"
if [ -x "$PY" ]; then
    # The same round trips from Python, counted the same way.
    python_instructions() {
        valgrind --tool=callgrind --callgrind-out-file=/dev/null "$PY" -c "
from pyvantorsdk import DeviceFacade, sim
def run(n):  # a function: its loop uses fast locals, as in real code
    with sim.VirtualAdapter(bulk=False) as a, DeviceFacade() as d:
        a.set_recording(False)
        d.connect(a.path)
        for _ in range(n):
            d.get_usb_config()
run(200 + $1)
" 2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
    }
    n=$((ITER / 20))
    one="$(cd /tmp && python_instructions "$n")"
    two="$(cd /tmp && python_instructions $((2 * n)))"
    printf "%-36s %14d\n" "python facade, sync64" $(((two - one) / n))
fi
