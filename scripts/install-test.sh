#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the C++ SDK and its virtual adapter component from a configured
# build directory into a temporary prefix, then builds two examples as a
# project outside the repository, each twice, with the CMake package
# (find_package + vantor::sdk / vantor::sim) and with pkg-config (vantorsdk /
# vantorsdk-sim), and runs them:
#   - examples/device_info.cpp, the SDK alone: without an adapter attached it
#     must end with its "no adapter" status (2), with one with 0;
#   - examples/virtual_eeprom.cpp, on a virtual adapter: it must end with 0.
#
#   scripts/install-test.sh [build-dir]    (default build/cxx)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/cxx}" && pwd)"
VERSION="$(sed -n 's/^project(vantorsdk VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
[ -n "$VERSION" ] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
PREFIX="$WORK/prefix"
mkdir -p "$WORK/src"
cp "$ROOT/tests/consumer/CMakeLists.txt" "$ROOT/examples/device_info.cpp" \
    "$ROOT/examples/virtual_eeprom.cpp" "$WORK/src/"

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null

run_virtual() {  # label, program
    local label="$1" program="$2"
    if LD_LIBRARY_PATH="$LIB_DIR${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$program" >"$WORK/out" 2>"$WORK/err"; then
        echo "$label: built, wrote and read back the virtual EEPROM"
    else
        echo "$label: the virtual EEPROM example failed:" >&2
        cat "$WORK/out" "$WORK/err" >&2
        return 1
    fi
}

run_program() {  # label, program
    local label="$1" program="$2" rc=0
    # A shared SDK is found in the temporary prefix.
    LD_LIBRARY_PATH="$LIB_DIR${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
        "$program" >"$WORK/out" 2>"$WORK/err" || rc=$?
    if ! grep -qx "SDK version $VERSION" "$WORK/out"; then
        echo "$label: the program does not report SDK version $VERSION:" >&2
        cat "$WORK/out" "$WORK/err" >&2
        return 1
    fi
    case "$rc" in
        0) echo "$label: built, read the attached adapter" ;;
        2) echo "$label: built, ran (no adapter attached)" ;;
        *) echo "$label: exit status $rc" >&2; cat "$WORK/out" "$WORK/err" >&2; return 1 ;;
    esac
}

PC_DIR="$(dirname "$(find "$PREFIX" -name vantorsdk.pc -print -quit)")"
LIB_DIR="$(dirname "$PC_DIR")"

status=0
# The CMake package.
if cmake -S "$WORK/src" -B "$WORK/cmake-build" -DCMAKE_PREFIX_PATH="$PREFIX" \
        -DCMAKE_BUILD_TYPE=Release >"$WORK/log" 2>&1 \
    && cmake --build "$WORK/cmake-build" >>"$WORK/log" 2>&1; then
    run_program "find_package(vantorsdk)" "$WORK/cmake-build/device_info" || status=1
    run_virtual "find_package(vantorsdk COMPONENTS sim)" "$WORK/cmake-build/virtual_eeprom" || status=1
else
    cat "$WORK/log" >&2
    echo "find_package(vantorsdk): the consumer project does not build" >&2
    status=1
fi

# The pkg-config file.
# shellcheck disable=SC2046
if PKG_CONFIG_PATH="$PC_DIR" "${CXX:-c++}" -std=c++17 -o "$WORK/device_info" \
        "$WORK/src/device_info.cpp" $(PKG_CONFIG_PATH="$PC_DIR" pkg-config --cflags --libs vantorsdk); then
    run_program "pkg-config vantorsdk" "$WORK/device_info" || status=1
else
    echo "pkg-config vantorsdk: device_info does not build" >&2
    status=1
fi
# shellcheck disable=SC2046
if PKG_CONFIG_PATH="$PC_DIR" "${CXX:-c++}" -std=c++17 -o "$WORK/virtual_eeprom" \
        "$WORK/src/virtual_eeprom.cpp" $(PKG_CONFIG_PATH="$PC_DIR" pkg-config --cflags --libs vantorsdk-sim); then
    run_virtual "pkg-config vantorsdk-sim" "$WORK/virtual_eeprom" || status=1
else
    echo "pkg-config vantorsdk-sim: virtual_eeprom does not build" >&2
    status=1
fi

# The SDK alone (component sdk): asking for the virtual adapter fails clearly.
cmake --install "$BUILD" --prefix "$WORK/sdk-only" --component sdk >/dev/null
if cmake -S "$WORK/src" -B "$WORK/sdk-only-build" -DCMAKE_PREFIX_PATH="$WORK/sdk-only" \
        >"$WORK/log" 2>&1; then
    echo "component sdk alone: find_package(vantorsdk COMPONENTS sim) succeeded" >&2
    status=1
elif grep -q "component sim) is not installed" "$WORK/log"; then
    echo "component sdk alone: find_package(vantorsdk COMPONENTS sim) says the component is missing"
else
    cat "$WORK/log" >&2
    echo "component sdk alone: find_package(vantorsdk COMPONENTS sim) failed without naming the component" >&2
    status=1
fi
exit $status
