# SPDX-License-Identifier: MIT
"""pyvantorsdk.labgrid on this host: the JSON forms of the agent's calls, the
remote device over a local agent (calls, errors, refused arguments), and
labgrid environments with the virtual adapter and the three drivers run
through labgrid's own pytest plugin. Events, time limits, lost agents and
the exporter are exercised across SSH in test_labgrid_remote.py."""

from __future__ import annotations

import enum
import importlib.util
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import pyvantorsdk
from pyvantorsdk import (
    I2cBus,
    I3cTransferFlags,
    StatusCode,
    _wire,
    errors,
)

pytest_plugins = ["pytester"]


# ------------------------------------------------------------- JSON forms
class Foreign(enum.Enum):
    ONE = 1


# (value, what it decodes back to) through a JSON text round trip.
ROUND_TRIPS = {
    "bytearray_as_bytes": (bytearray(b"ab"), b"ab"),
    "tuple_stays_tuple": ((1, b"x", None), (1, b"x", None)),
    "frozenset": (frozenset({3, 1}), frozenset({1, 3})),
    "dict_with_int_keys": ({1: "a"}, {1: "a"}),
    "int_enum": (I2cBus.B, I2cBus.B),
    "flag_combination": (I3cTransferFlags(3), I3cTransferFlags(3)),
    "plain_enum": (StatusCode.FW_I2C_NACK_ADDRESS, StatusCode.FW_I2C_NACK_ADDRESS),
    "nested": ([{"pid": b"\x00\xff"}, (True, 1.5)], [{"pid": b"\x00\xff"}, (True, 1.5)]),
}


@pytest.mark.parametrize("value, back", ROUND_TRIPS.values(), ids=ROUND_TRIPS.keys())
def test_values_cross_as_json(value, back):
    import json

    decoded = _wire.decode(json.loads(json.dumps(_wire.encode(value))))
    assert decoded == back and type(decoded) is type(back)


@pytest.mark.parametrize("value", [object(), Foreign.ONE], ids=["object", "foreign_enum"])
def test_values_that_cannot_cross_are_refused(value):
    with pytest.raises(TypeError):
        _wire.encode(value)


MALFORMED = {
    "unknown_tag": {"$x": 1},
    "unknown_enum": {"$e": "NoSuchEnum", "v": 0},
    "bad_hex": {"$b": "zz"},
    "record_name_not_identifier": {"$r": "a b", "f": {}},
    "extra_key": {"$b": "00", "x": 1},
}


@pytest.mark.parametrize("form", MALFORMED.values(), ids=MALFORMED.keys())
def test_malformed_forms_raise_value_error(form):
    with pytest.raises(ValueError):
        _wire.decode(form)


def test_records_keep_their_class_name_and_fields(adapter, dev):
    dev.i2c_controller_init(0, 400_000, 12)
    adapter.i2c.attach_eeprom(0, 0x50)
    scan = _wire.decode(_wire.encode(dev.i2c_scan_bus(0)))
    assert type(scan).__name__ == "I2cScanResult" and scan.addresses_7bit == {0x50}


ERRORS = {
    "i3c_with_data": errors.I3cError(StatusCode.FW_I3C_TRANSFER_INCOMPLETE_READ, "i3c_sdr_read",
                                     b"\x01\x02"),
    "no_adapter": errors.NoAdapterError(StatusCode.SDK_ERROR_DISCONNECT, "connect", "none here"),
    "unknown_status": errors.FirmwareError(0x7777, "x"),
    "builtin": ValueError("bad pin"),
}


@pytest.mark.parametrize("error", ERRORS.values(), ids=ERRORS.keys())
def test_errors_cross_with_class_status_and_message(error):
    back = _wire.decode_error(_wire.encode_error(error))
    assert type(back) is type(error) and str(back) == str(error)
    assert getattr(back, "status_code", None) == getattr(error, "status_code", None)
    assert getattr(back, "data", None) == getattr(error, "data", None)


def test_foreign_errors_become_runtime_errors_naming_the_class():
    back = _wire.decode_error(_wire.encode_error(ZeroDivisionError("boom")))
    assert isinstance(back, RuntimeError) and "ZeroDivisionError: boom" in str(back)


def test_labgrid_package_names_the_extra_when_labgrid_is_missing(tmp_path):
    code = ("import sys; sys.modules['labgrid'] = None\n"
            "import pyvantorsdk, pyvantorsdk._wire\n"
            "try:\n    import pyvantorsdk.labgrid\n"
            "except ImportError as e:\n    print(e)\n")
    # Outside the source tree, so that the child imports the installed package.
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         cwd=tmp_path)
    assert "pyvantorsdk[labgrid]" in out.stdout


# ---------------------------------------------------- remote device, agent
HAVE_LABGRID = importlib.util.find_spec("labgrid") is not None
needs_labgrid = pytest.mark.skipif(not HAVE_LABGRID, reason="needs labgrid (pyvantorsdk[labgrid])")
if HAVE_LABGRID:
    from pyvantorsdk.labgrid import RemoteDevice

@pytest.fixture(autouse=True)
def _package_on_the_path(monkeypatch):
    # The agent and the inner pytest run in processes of their own, the
    # latter in another directory: they find this package by absolute path.
    root = os.path.dirname(os.path.dirname(os.path.abspath(pyvantorsdk.__file__)))
    paths = [root, *filter(None, os.environ.get("PYTHONPATH", "").split(os.pathsep))]
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(paths))


@pytest.fixture
def remote():
    # The agent as a subprocess of this host, as labgrid runs it without SSH;
    # its facade waits longer for an answer than any time limit here.
    locator = {"virtual": True, "profile": "eeprom-and-sensor", "uart_loopback": True,
            "timeout_ms": 60_000}
    with RemoteDevice(None, locator, timeout=10.0) as device:
        yield device


@needs_labgrid
def test_remote_calls_return_results_and_raise_the_package_errors(remote):
    remote.i2c_controller_init(I2cBus.A, 400_000, 12)
    assert remote.i2c_read(0, 0x50, b"\x00", 4, False) == b"BRD1"
    assert remote.get_device_info().serial_number == "EEPSENS1"
    with pytest.raises(errors.I2cError) as caught:
        remote.i2c_read(0, 0x51, b"", 1, False)
    assert caught.value.status_code is StatusCode.FW_I2C_NACK_ADDRESS


@needs_labgrid
def test_argument_that_cannot_cross_is_refused_unsent(remote):
    before = len(remote.bench("requests"))
    with pytest.raises(TypeError):
        remote.i2c_write(0, 0x50, b"", object(), False)
    assert len(remote.bench("requests")) == before  # nothing reached the adapter
    assert remote.get_device_info().serial_number == "EEPSENS1"  # and the agent lives on


# Answers of an agent that misbehaves: a ProtocolError, never a crash.
MALFORMED_ANSWERS = {
    "not_an_object": [1, 2],
    "neither_result_nor_error": {"status": 0},
    "both": {"result": 1, "error": {}},
    "result_malformed": {"result": {"$b": "xyz"}},
    "error_not_an_object": {"error": "boom"},
    "error_status_unknown_name": {"error": {"class": "I2cError", "status": "NO_SUCH"}},
}


@needs_labgrid
@pytest.mark.parametrize("answer", MALFORMED_ANSWERS.values(), ids=MALFORMED_ANSWERS.keys())
def test_malformed_agent_answers_raise_protocol_error(answer):
    with pytest.raises(errors.ProtocolError):
        RemoteDevice._result("i2c_read", answer)


# ------------------------------------------- labgrid environment, drivers
PROFILE = """
version = 1
[adapter]
model = "quillex"
serial = "LAB0001"

[[i2c.devices]]
bus = 0
address = 0x50
kind = "eeprom"
size = 256
contents_hex = "424f4152"
"""

ENVIRONMENT = """
targets:
  main:
    resources:
      VirtualVantorAdapter:
        profile: board.toml
        uart_loopback: true
    drivers:
      VantorDriver: {}
      VantorDigitalOutputDriver:
        pin: 3
imports:
  - pyvantorsdk.labgrid
"""

# The profile file named relative to the environment, and pin 3 as the
# adapter's third pin; the docs example below covers the console.
TESTS = """
def test_profile_from_the_environments_folder(target):
    dev = target.get_driver("VantorDriver").device
    dev.i2c_controller_init(0, 400_000, 12)
    assert dev.i2c_read(0, 0x50, b"\\x00", 4, False) == b"BOAR"

def test_gpio_output_drives_the_virtual_pin(target):
    output = target.get_driver("DigitalOutputProtocol")
    bench = target.get_driver("VantorDriver").bench
    output.set(True)
    assert bench.gpio.output_level(2) == 1 and output.get() is True
    output.set(False)
    assert bench.gpio.output_level(2) == 0 and output.get() is False
"""


@needs_labgrid
def test_environment_runs_through_labgrids_pytest_plugin(pytester):
    pytester.makefile(".toml", board=PROFILE)
    pytester.makefile(".yaml", env=ENVIRONMENT)
    pytester.makepyfile(test_board=TESTS)
    # In a process of its own: labgrid's plugin starts once per process.
    result = pytester.runpytest_subprocess("--lg-env", "env.yaml", "-p", "no:cacheprovider")
    result.assert_outcomes(passed=2)


def docs_block(opening: str) -> str:
    """The fenced block of docs/labgrid.md whose first line is `opening`."""
    page = (Path(__file__).resolve().parents[2] / "docs" / "labgrid.md").read_text()
    blocks = re.findall(r"```[a-z]*\n(.*?)```", page, re.S)
    return next(block for block in blocks if block.startswith(opening))


@needs_labgrid
def test_the_docs_example_runs_as_written(pytester):
    pytester.makefile(".yaml", env=docs_block("# env.yaml"))
    pytester.makepyfile(test_lab=docs_block("# test_lab.py"))
    result = pytester.runpytest_subprocess("--lg-env", "env.yaml", "-p", "no:cacheprovider")
    result.assert_outcomes(passed=3)


# (driver and its settings, in a target with a virtual adapter: refused)
BAD_DRIVER_SETTINGS = {
    "pin_0": ("VantorDigitalOutputDriver", {"pin": 0}),
    "pin_7": ("VantorDigitalOutputDriver", {"pin": 7}),
    "baudrate_not_offered": ("VantorConsoleDriver", {"baudrate": 100_000}),
    "call_timeout_zero": ("VantorDriver", {"timeout": 0}),
    "call_timeout_nan": ("VantorDriver", {"timeout": "nan"}),
    "device_timeout_negative": ("VantorDriver", {"device_timeout_ms": -1}),
}


@needs_labgrid
@pytest.mark.parametrize("driver, settings", BAD_DRIVER_SETTINGS.values(),
                         ids=BAD_DRIVER_SETTINGS.keys())
def test_bad_driver_settings_are_refused(driver, settings):
    from labgrid import Target, target_factory

    import pyvantorsdk.labgrid  # noqa: F401  (registers the classes)

    target = Target("bad")
    target_factory.make_resource(target, "VirtualVantorAdapter", None, {})
    if driver != "VantorDriver":
        target_factory.make_driver(target, "VantorDriver", None, {})
    with pytest.raises(ValueError):
        target_factory.make_driver(target, driver, None, settings)
    target.cleanup()
