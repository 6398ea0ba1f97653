#!/usr/bin/env bash
# Installs what building pyvantorsdk needs and the package itself into .venv.
# Sourced by run.sh and test.sh; safe to run again (it skips what is there).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
DEB_PACKAGES=(build-essential cmake pkg-config python3-venv python3-dev
              libhidapi-dev libusb-1.0-0-dev libgtest-dev)

missing_debs() {
    local pkg missing=()
    for pkg in "${DEB_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$pkg")
    done
    echo "${missing[@]:-}"
}

install_system_packages() {
    local missing
    missing="$(missing_debs)"
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing system packages: $missing" >&2
        echo "Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y $missing" >&2
        exit 1
    fi
    echo "Installing system packages: $missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq $missing >/dev/null
}

python_bin() {
    # Prefer the interpreter on PATH (it may be newer than the system one).
    command -v python3 || command -v python
}

setup_venv() {
    if [ ! -x "$VENV/bin/python" ]; then
        "$(python_bin)" -m venv "$VENV"
    fi
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
        "scikit-build-core>=0.9" "nanobind>=2.2" "pytest>=7" "hypothesis>=6"
}

install_package() {
    # No build isolation: the build requirements are already in the venv, so
    # a rebuild reuses the CMake build directory and stays fast.
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
        --no-build-isolation "$ROOT"
}

install_system_packages
setup_venv
install_package
