# SPDX-License-Identifier: MIT
"""An adapter driven across a labgrid lab on this machine.

labgrid's coordinator, ``vantor-labgrid-exporter`` exporting a virtual
adapter, and an SSH server standing in for the exporter host (see
labgrid_lab.py) run on 127.0.0.1. This process is the client: it acquires
the place and drives the adapter through labgrid's RemotePlace, the
NetworkVantorAdapter the exporter publishes and VantorDriver, whose agent
runs on the exporter side over SSH. Other clients are Python processes
with another user name.
"""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import threading
from pathlib import Path
from typing import Any, Dict, Iterator, List, Optional

import pytest

pytest.importorskip("labgrid", reason="labgrid is not installed (pip install 'pyvantorsdk[labgrid]')")

from labgrid import Environment  # noqa: E402
from labgrid.binding import BindingState  # noqa: E402
from labgrid.resource.common import ResourceManager  # noqa: E402
from labgrid.resource.remote import RemotePlaceManager  # noqa: E402
from labgrid_lab import (  # noqa: E402
    EXPORTER_HOST,
    EXPORTER_NAME,
    Lab,
    SshdUnavailable,
    marked_processes,
    sshd_skip_reason,
    wait_for,
)

from pyvantorsdk import (  # noqa: E402
    GpioFunctionality,
    GpioInterruptNotification,
    GpioPinNumber,
    GpioTriggerType,
    I2cBus,
    I2cPullUp,
)
from pyvantorsdk.labgrid import RemoteDisconnectError, RemoteTimeoutError  # noqa: E402

PLACE = "vantor-remote"
IDLE_PLACE = "vantor-idle"
EXPORTS = """\
vantor:
  VirtualVantorAdapter:
    profile: eeprom-and-sensor
"""
# The agent's facade waits a minute for the adapter: a held answer keeps a
# call running on the exporter side for longer than any test waits.
ENVIRONMENT = """\
targets:
  main:
    resources:
      RemotePlace:
        name: {place}
    drivers:
      VantorDriver:
        timeout: {timeout}
        device_timeout_ms: 60000
imports:
  - pyvantorsdk.labgrid
options:
  coordinator_address: {coordinator}
"""
# Every call ends by this (the proxy's time limit), so that a hanging call
# fails the test rather than hanging it.
CALL_TIMEOUT = 20.0
EEPROM = 0x50


def _exporter_argv() -> List[str]:
    script = Path(sys.executable).parent / "vantor-labgrid-exporter"
    if script.exists():
        return [str(script)]
    return [sys.executable, "-m", "pyvantorsdk.labgrid.exporter"]


def _forget_remote_places() -> None:
    """labgrid keeps one manager of remote resources per process, with its
    coordinator session: the lab starts with a new one (a remote resource
    that another test built outside any place stays registered with the old
    one, which would poll it) and ends it with the lab."""
    manager: Any = ResourceManager.instances.pop(RemotePlaceManager, None)
    if manager is not None and manager.session is not None:
        manager.loop.run_until_complete(manager.session.stop())
        manager.loop.run_until_complete(manager.session.close())


@pytest.fixture(scope="module")
def lab(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Lab]:
    reason = sshd_skip_reason()
    if reason is not None:
        pytest.skip(reason)
    _forget_remote_places()
    with pytest.MonkeyPatch.context() as monkeypatch:
        try:
            lab = Lab(tmp_path_factory.mktemp("lab"), monkeypatch)
        except SshdUnavailable as e:
            pytest.skip(str(e))
        try:
            lab.export(_exporter_argv(), EXPORTS, "vantor/NetworkVantorAdapter")
            for place in (PLACE, IDLE_PLACE):
                lab.client("-p", place, "create")
                lab.client("-p", place, "add-match", f"{EXPORTER_NAME}/vantor/*")
            lab.client("-p", PLACE, "acquire")
            yield lab
        finally:
            _forget_remote_places()
            lab.close()


def _environment(lab: Lab, place: str) -> Path:
    path = lab.root / f"{place}.yaml"
    path.write_text(ENVIRONMENT.format(place=place, timeout=CALL_TIMEOUT, coordinator=lab.coordinator))
    return path


@pytest.fixture(scope="module")
def target(lab: Lab) -> Iterator[Any]:
    env = Environment(config_file=str(_environment(lab, PLACE)))
    target = env.get_target()
    yield target
    env.cleanup()


@pytest.fixture
def driver(target: Any) -> Any:
    """The active driver: activated (a new agent with a new virtual adapter)
    where a test before deactivated it."""
    driver = target.get_driver("VantorDriver", activate=False)
    if driver.state is not BindingState.active:
        target.activate(driver)
        driver.device.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)
    return driver


def test_acquired_place_drives_the_exported_adapter(driver):
    device = driver.device
    # The shipped profile's EEPROM, written and read back over the exporter.
    assert device.i2c_read(I2cBus.A, EEPROM, b"\x00", 4, False) == b"BRD1"
    device.i2c_write(I2cBus.A, EEPROM, b"\x20", b"\x5a\xa5", False)
    assert device.i2c_read(I2cBus.A, EEPROM, b"\x20", 2, False) == b"\x5a\xa5"

    events = []
    driver.add_listener(events.append)
    device.gpio_configure_pin(GpioPinNumber.PIN_3, GpioFunctionality.DIGITAL_INPUT)
    device.gpio_configure_interrupt(GpioPinNumber.PIN_3, GpioTriggerType.RISING_EDGE)
    device.bench("gpio.drive_input", GpioPinNumber.PIN_3, 1)
    wait_for("the GPIO edge at the client", lambda: events, CALL_TIMEOUT)
    assert type(events[0]).__name__ == GpioInterruptNotification.__name__
    assert (events[0].pin_number, events[0].logic_level) == (GpioPinNumber.PIN_3, 1)


SECOND_CLIENT_DRIVES = """\
import sys
from labgrid import Environment
try:
    Environment(config_file=sys.argv[1]).get_target().get_driver("VantorDriver")
except Exception as error:
    print(f"{type(error).__name__}: {error}")
    sys.exit(3)
"""


@pytest.mark.parametrize(
    "place, refusal",
    [
        pytest.param(PLACE, "not acquired by your user", id="drive-locked-place"),
        pytest.param(IDLE_PLACE, "is not acquired", id="drive-unacquired-place"),
    ],
)
def test_other_client_is_refused(lab, driver, place, refusal, tmp_path):
    # This process holds the place and its driver is active meanwhile.
    env = dict(lab.env, LG_USERNAME="other", LG_HOSTNAME="other-host")
    # Outside the source tree, so that the child imports the installed package.
    result = subprocess.run([sys.executable, "-c", SECOND_CLIENT_DRIVES, str(_environment(lab, place))],
                            env=env, capture_output=True, text=True, timeout=60, cwd=tmp_path)
    output = result.stdout + result.stderr
    assert result.returncode != 0, output
    assert refusal in output
    assert driver.device.i2c_read(I2cBus.A, EEPROM, b"\x00", 4, False) == b"BRD1"


def _cmdline(pid: int) -> List[str]:
    try:
        return Path(f"/proc/{pid}/cmdline").read_bytes().decode(errors="replace").split("\0")[:-1]
    except OSError:
        return []


def _parent(pid: int) -> int:
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:  # gone
        return 0
    return int(stat.rsplit(")", 1)[1].split()[1])


def _agent_processes(lab: Lab) -> Dict[str, int]:
    """The live agent's processes: "ssh" (the client, a child of this
    process), "agent" (its interpreter on the exporter side) and "session"
    (the SSH server's process of that connection)."""
    found: Dict[str, int] = {}
    for pid in marked_processes(str(lab.root)):
        argv = _cmdline(pid)
        if not any(".labgrid_agent_" in arg for arg in argv):
            continue
        if os.path.basename(argv[0]) == "ssh" and _parent(pid) == os.getpid():
            found["ssh"] = pid
        elif "python" in os.path.basename(argv[0]):
            found["agent"] = pid
            session = _parent(pid)
            while session > 1 and not "".join(_cmdline(session)[:1]).startswith("sshd"):
                session = _parent(session)
            if session > 1:
                found["session"] = session
    return found


def _live_agent(lab: Lab) -> Optional[Dict[str, int]]:
    found = _agent_processes(lab)
    return found if len(found) == 3 else None


def _end_agents(lab: Lab) -> None:
    def ended() -> bool:
        found = _agent_processes(lab)
        for pid in found.values():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        return not found

    wait_for("the agents ending", ended, CALL_TIMEOUT)


def _waits_for_the_adapter(pid: int) -> bool:
    """The agent's main thread waits on a lock (the facade's wait for an
    answer), not on its input; where the kernel does not tell, the call is
    taken to be under way."""
    try:
        wchan = Path(f"/proc/{pid}/wchan").read_text()
    except OSError:
        return True
    return wchan in ("", "0") or "futex" in wchan


# How an agent is lost: the process killed (or stopped) and with which signal.
LOSSES = {
    "session": ("session", signal.SIGKILL),
    "agent": ("agent", signal.SIGKILL),
    # A connection that stays open and carries nothing, like a cable pulled.
    "frozen-session": ("session", signal.SIGSTOP),
}


@pytest.mark.parametrize(
    "loss, idle, error",
    [
        pytest.param(None, False, RemoteTimeoutError, id="call-over-time-limit"),
        pytest.param("agent", False, RemoteDisconnectError, id="agent-process-killed"),
        pytest.param("session", True, RemoteDisconnectError, id="ssh-server-session-killed-while-idle"),
        pytest.param("frozen-session", True, RemoteTimeoutError, id="ssh-server-session-frozen-while-idle"),
    ],
)
def test_lost_agent_ends_the_call_with_an_error(lab, target, driver, loss, idle, error):
    try:
        _lose_agent(lab, driver.device, loss, idle, error)
    finally:
        target.deactivate(driver)
        # The agent whose connection was lost still waits for the held
        # answer; the next row must find only its own.
        _end_agents(lab)


def _lose_agent(lab: Lab, device: Any, loss: Optional[str], idle: bool, error: type) -> None:
    """Ends the agent as LOSSES[loss] says (None: the call's time limit
    passes) while a call waits for the adapter or, `idle`, between calls."""
    processes = wait_for("the agent's processes", lambda: _live_agent(lab))
    lost = threading.Event()
    device.on_connection_lost(lost.set)
    if error is RemoteTimeoutError:
        device.timeout = 1.0
    device.bench("faults.hold_answers", True)
    outcome: Dict[str, Optional[Exception]] = {"error": None}

    def call() -> None:
        try:
            device.i2c_read(I2cBus.A, EEPROM, b"\x00", 4, False)
        except Exception as e:  # handed to the test's thread
            outcome["error"] = e

    def lose() -> None:
        if loss is not None:
            process, sig = LOSSES[loss]
            os.kill(processes[process], sig)

    caller = threading.Thread(target=call)
    if idle:
        lose()
        # The background poll finds the agent gone and says so.
        assert lost.wait(CALL_TIMEOUT), "the loss was not reported"
    caller.start()
    if not idle:
        wait_for("the call under way on the exporter side",
                 lambda: _waits_for_the_adapter(processes["agent"]), CALL_TIMEOUT)
        lose()
    caller.join(CALL_TIMEOUT)
    assert not caller.is_alive(), "the call did not end"
    assert isinstance(outcome["error"], error), repr(outcome["error"])
    assert EXPORTER_HOST in str(outcome["error"])  # says which host was lost
    # Later calls fail at once with the same error, and the agent's SSH
    # client is gone.
    with pytest.raises(error):
        device.i2c_read(I2cBus.A, EEPROM, b"\x00", 4, False)
    assert "ssh" not in _agent_processes(lab)


def test_exporter_python_without_the_package_is_named(lab, target, driver, monkeypatch):
    # The agent runs the exporter host's python3; here one that cannot
    # import pyvantorsdk (its own library only).
    bare = lab.root / "bare-python"
    bare.mkdir(exist_ok=True)
    (bare / "python3").write_text(f"#!/bin/sh\nexec {sys.executable} -I -S \"$@\"\n")
    (bare / "python3").chmod(0o755)
    target.deactivate(driver)
    monkeypatch.setenv("VANTOR_LAB_PATH", f"{bare}:/usr/bin:/bin")
    with pytest.raises(RuntimeError, match=f"agent on {EXPORTER_HOST}: .*No module named 'pyvantorsdk'"):
        target.activate(driver)
    wait_for("the agent ending", lambda: not _agent_processes(lab), CALL_TIMEOUT)
