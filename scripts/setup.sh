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
    install_labgrid
}

install_labgrid() {
    # labgrid, for the labgrid integration's tests. It depends on
    # pyserial-labgrid, which installs the same "serial" package as pyserial
    # (its fork, with labgrid's RFC 2217 changes and the same API): both stay
    # installed, and labgrid goes in after pyserial so that its fork's files
    # are the ones in place whichever order pip would pick within one
    # command. The package's own serial/urlhandler/protocol_vantor.py is a
    # file neither of them owns, so it survives either. Uninstalling one of
    # the two deletes the files the other needs: reinstall the other then
    # (pip install --force-reinstall --no-deps pyserial-labgrid, or pyserial).
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check "labgrid>=24"
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

# Debian packages that only some tests need, installed when run as root;
# otherwise those tests are skipped (or not built) and say so.
#   install_test_packages package...
install_test_packages() {
    local pkg missing=()
    for pkg in "$@"; do
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
    # No service starts on installation: openssh-server's would listen on
    # port 22, and the tests start a server of their own. Debian's service
    # scripts ask policy-rc.d (101: not allowed); one already there is kept.
    local policy=/usr/sbin/policy-rc.d own_policy="" status=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && own_policy=1
    fi
    apt-get install -y -qq "${missing[@]}" >/dev/null || status=$?
    if [ -n "$own_policy" ]; then rm -f "$policy"; fi
    return "$status"
}

# The packages some tests need, installed in one go:
# - kernel-path tests: umockdev emulates sysfs, udev and the device nodes for
#   scripts/test-kernel.sh (its preload library, and the headers and library
#   the test binary is built with);
# - trace tests: tshark reads trace files back, with and without the
#   generated dissector;
# - remote labgrid tests: tests/python/test_labgrid_remote.py starts an SSH
#   server of its own (own configuration, keys and port: nothing of the
#   system's SSH set-up is read or changed), through which labgrid's agents
#   reach the exporter host; the agents copy themselves over with rsync.
TEST_DEBS=(umockdev libumockdev-dev tshark openssh-server rsync)

install_system_packages
install_test_packages "${TEST_DEBS[@]}"
setup_venv
# VANTOR_SETUP_PACKAGE=0: everything but the package itself.
[ "${VANTOR_SETUP_PACKAGE:-1}" = 0 ] || install_package
