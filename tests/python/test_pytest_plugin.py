# SPDX-License-Identifier: MIT
"""The pytest plugin, run on test files of its own through pytester."""

from __future__ import annotations

import importlib
import sys
from importlib import metadata

import pytest

from pyvantorsdk import sim

pytest_plugins = ["pytester"]


def _plugin_installed() -> bool:
    if sys.version_info >= (3, 10):
        found = metadata.entry_points(group="pytest11")
    else:
        found = metadata.entry_points().get("pytest11", [])
    return any(ep.value == "pyvantorsdk.pytest_plugin" for ep in found)


def _importable(name: str) -> bool:
    try:
        importlib.import_module(name)
    except ImportError:
        return False
    return True


HAVE_AIO = _importable("pyvantorsdk.aio")
HAVE_PYTEST_ASYNCIO = _importable("pytest_asyncio")

# Installed, pytest loads the plugin by itself; from the source tree it is named.
PLUGIN = [] if _plugin_installed() else ["-p", "pyvantorsdk.pytest_plugin"]


def run(pytester, *args):
    # Without the hypothesis plugin, whose lazy imports each inner run would
    # redo, and without labgrid's, which starts its step logger once per
    # process and so fails every inner run after the outer session's.
    return pytester.runpytest(
        "-p", "no:cacheprovider", "-p", "no:hypothesispytest", "-p", "no:labgrid", "-rs",
        *PLUGIN, *args,
    )


BENCH_TESTS = """
import pytest

def test_device_and_bench_are_one_adapter(vantor_device, vantor_bench):
    assert vantor_device.get_device_info().serial_number == vantor_bench.serial

def test_writes_to_the_bench(vantor_bench):
    vantor_bench.i2c.attach_eeprom(0, 0x50)
    vantor_bench.i2c.write_memory(0, 0x50, 0, b"dirty")

def test_starts_from_a_fresh_bench(vantor_bench):
    assert vantor_bench.i2c.memory(0, 0x50) == b""

def test_device_only(vantor_device):
    assert vantor_device.get_device_info().serial_number

def test_fails(vantor_device):
    vantor_device.get_device_info()
    assert False
"""


def test_fixtures_give_a_fresh_bench_each_test_and_failures_the_traffic(pytester):
    pytester.makepyfile(BENCH_TESTS)
    result = run(pytester, "-p", "no:randomly")
    result.assert_outcomes(passed=4, failed=1)
    result.stdout.fnmatch_lines(
        ["*- vantor traffic -*", "*requests, 0 bytes on bulk OUT", "#1 id * code 0x*"]
    )
    # Only the failed test carries it.
    assert result.stdout.str().count("vantor traffic") == 1


PROFILE_TESTS = """
import pytest

@pytest.mark.vantor_profile("spi-flash")
def test_shipped_by_marker(vantor_bench):
    assert vantor_bench.serial == "FLASH01"

@pytest.mark.vantor_profile("local.toml")
def test_file_beside_the_module(vantor_bench):
    assert vantor_bench.serial == "LOCAL1"

def test_from_the_option(vantor_bench):
    assert vantor_bench.serial == "I3CBUS1"

@pytest.mark.vantor_profile("no-such-profile")
def test_a_broken_profile(vantor_bench):
    pass
"""


def test_marker_and_option_choose_the_profile(pytester):
    pytester.makepyfile(PROFILE_TESTS)
    pytester.makefile(".toml", local='version = 1\n[adapter]\nserial = "LOCAL1"\n')
    # The marker wins over the option; --strict-markers: the marker is registered.
    result = run(pytester, "--strict-markers", "--vantor-profile=i3c-bus")
    result.assert_outcomes(passed=3, errors=1)
    # One line naming the profiles there are, no traceback.
    result.stdout.fnmatch_lines([
        "*ERROR at setup of test_a_broken_profile*",
        "vantor profile no-such-profile: no profile file and no shipped profile of this name "
        "(shipped: eeprom-and-sensor, i3c-bus, spi-flash)",
        "=*",
    ])
    assert "Traceback" not in result.stdout.str() and "from_profile" not in result.stdout.str()


@pytest.mark.parametrize("form", ["path", "serial"], ids=["by-path", "by-serial"])
def test_a_real_device_skips_bench_tests(pytester, form):
    pytester.makepyfile(BENCH_TESTS)
    # A virtual adapter outside the plugin's reach stands in for real hardware.
    with sim.VirtualAdapter(serial="REAL42") as real:
        target = real.path if form == "path" else "serial:REAL42"
        result = run(pytester, f"--vantor-device={target}")
    result.assert_outcomes(passed=1, skipped=3, failed=1)
    result.stdout.fnmatch_lines(
        [f"*needs the virtual bench's raw access; running against the real adapter {target}*"]
    )
    assert "vantor traffic" not in result.stdout.str()


def test_a_missing_or_empty_device_fails_clearly(pytester):
    pytester.makepyfile(BENCH_TESTS)
    result = run(pytester, "--vantor-device=serial:ABSENT")
    # The tests that need the bench are skipped for that, even those that
    # would reach the absent adapter first; the others fail to reach it.
    result.assert_outcomes(skipped=3, errors=2)
    result.stdout.fnmatch_lines([
        "no adapter at serial ABSENT",
        "SKIPPED [[]3[]] *needs the virtual bench's raw access; "
        "running against the real adapter serial:ABSENT",
    ])
    assert run(pytester, "--vantor-device=serial:").ret == pytest.ExitCode.USAGE_ERROR


def test_the_asyncio_device(pytester):
    # Which fixture there is depends on what is installed: without
    # pyvantorsdk.aio it skips; with pytest-asyncio it is the open device, set
    # up in the test's loop; without it, an opener for the test's own loop.
    if not HAVE_AIO:
        pytester.makepyfile("def test_x(vantor_aio_device):\n    pass\n")
        result = run(pytester)
        result.assert_outcomes(skipped=1)
        result.stdout.fnmatch_lines(["*pyvantorsdk.aio is not available*"])
        return
    if HAVE_PYTEST_ASYNCIO:
        pytester.makepyfile(
            """
            import pytest

            @pytest.mark.asyncio
            async def test_x(vantor_aio_device, vantor_bench):
                assert vantor_aio_device is not None
                assert vantor_bench.requests is not None
            """
        )
    else:
        pytester.makepyfile(
            """
            import asyncio

            def test_x(vantor_aio_device):
                async def main():
                    async with vantor_aio_device() as dev:
                        return dev
                assert asyncio.run(main()) is not None
            """
        )
    run(pytester).assert_outcomes(passed=1)
