#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets everything up, then runs the demo.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
cd "$ROOT/examples"   # import the installed package, not the source tree
exec "$VENV/bin/python" "$ROOT/examples/demo.py" "$@"
