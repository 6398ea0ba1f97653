#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what building pyvantorsdk needs and the package itself into .venv.
# Sourced by run.sh and test.sh; safe to run again (it skips what is there).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
# Debian packages of the libraries the SDK links and tests with.
DEB_LIBS=(libhidapi-dev libusb-1.0-0-dev libgtest-dev clang libclang-rt-dev)

python_bin() {
    # Prefer the interpreter on PATH (it may be newer than the system one).
    command -v python3 || command -v python || true
}

missing_debs() {
    local pkg missing=()
    command -v g++ >/dev/null || missing+=(g++)
    command -v make >/dev/null || missing+=(make)
    command -v cmake >/dev/null || missing+=(cmake)
    command -v pkg-config >/dev/null || missing+=(pkg-config)
    local py
    py="$(python_bin)"
    if [ -z "$py" ]; then
        missing+=(python3 python3-venv python3-dev)
    else
        # A venv with pip, and the headers to build an extension module.
        "$py" -c "import ensurepip, venv" 2>/dev/null || missing+=(python3-venv)
        "$py" -c "import os, sysconfig; assert os.path.exists(os.path.join(sysconfig.get_paths()['include'], 'Python.h'))" \
            2>/dev/null || missing+=(python3-dev)
    fi
    for pkg in "${DEB_LIBS[@]}"; do
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

setup_venv() {
    if [ ! -x "$VENV/bin/python" ]; then
        "$(python_bin)" -m venv "$VENV"
    fi
    # Build requirements, the package's own dependency (pyserial), test
    # requirements (with the third-party drivers the compatibility tests
    # run, pytest-xdist, which spreads the tests over the cores, and
    # matplotlib for the trace plot's test), and the Python checkers that
    # test.sh and lint.sh run. nanobind is pinned as in pyproject.toml (the
    # stubs it generates are compared with tests/python/stubs).
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
        "scikit-build-core>=1.0" "nanobind==3.1.0" "pyserial>=3.4" "pytest>=7" "pytest-xdist>=3" \
        "hypothesis>=6" "jsonschema>=4" "smbus2>=0.4" "adafruit-circuitpython-24lc32>=1.2" \
        "RPi.bme280>=0.2.4" "matplotlib>=3.5" "ruff>=0.6" "mypy>=1.10"
}

install_package() {
    # VANTOR_PACKAGE_WHEEL names a wheel built before (CI builds the release
    # wheel first and tests that file): it is installed as it is.
    if [ -n "${VANTOR_PACKAGE_WHEEL:-}" ]; then
        "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
            --force-reinstall --no-deps "$VANTOR_PACKAGE_WHEEL"
        return
    fi
    # No build isolation: the build requirements are already in the venv, so
    # a rebuild reuses the CMake build directory and stays fast.
    # VANTOR_WERROR=ON (the test script sets it) makes warnings errors.
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
        --no-build-isolation \
        --config-settings=cmake.define.VANTOR_WERROR="${VANTOR_WERROR:-OFF}" "$ROOT"
}

# ---- optional test packages, installed only as root; without them the tests
# that need them are not built or are skipped, and say so. umockdev emulates
# sysfs, udev and the device nodes for scripts/test-kernel.sh (its preload
# library, and the headers and library the test binary is built with);
# tshark reads trace files back, with and without the generated dissector.
TEST_DEBS=(umockdev libumockdev-dev tshark)

install_test_packages() {
    local pkg missing=()
    for pkg in "${TEST_DEBS[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$pkg")
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Some tests need: ${missing[*]} (sudo apt-get install -y ${missing[*]})" >&2
        return 0
    fi
    echo "Installing the test packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # wireshark-common would ask whether users outside root may capture.
    if command -v debconf-set-selections >/dev/null; then
        echo "wireshark-common wireshark-common/install-setuid boolean false" \
            | debconf-set-selections
    fi
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
}

install_system_packages
install_test_packages
setup_venv
# VANTOR_SETUP_PACKAGE=0: everything but the package itself.
[ "${VANTOR_SETUP_PACKAGE:-1}" = 0 ] || install_package
