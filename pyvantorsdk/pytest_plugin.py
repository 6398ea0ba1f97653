# SPDX-License-Identifier: MIT
"""pytest fixtures for tests that drive the adapter, virtual or real.

Installed with the package and loaded by pytest on its own. By default each
test gets a fresh virtual adapter, built from the profile that the
``vantor_profile`` marker or the ``--vantor-profile`` option names (a plain
adapter when neither does)::

    import pytest

    @pytest.mark.vantor_profile("eeprom-and-sensor")
    def test_board_id(vantor_device):
        vantor_device.i2c_controller_init(0, 400_000, 12)
        assert vantor_device.i2c_read(0, 0x50, b"\\x00", 4, False) == b"BRD1"

``--vantor-device=PATH`` or ``--vantor-device=serial:SN`` runs the same tests
against a real adapter; the tests that use ``vantor_bench`` (the virtual
adapter's raw access) are then skipped, whether or not that adapter is
there. A profile that cannot be loaded fails the test with one line naming
what is wrong (for an unknown name, the shipped profiles).

The traffic of the ``vantor_device`` facade (and of ``vantor_aio_device``
under pytest-asyncio) is recorded into a capture for each test. When the
test fails, the report gets a "vantor traffic" section: the capture decoded,
one line per transaction with its command, arguments and status, the
failing one marked ``>>``. ``--vantor-keep-captures=DIR`` keeps the capture
of each failed test as ``DIR/<test id>.pcapng`` for a packet analyser; the
captures of passed tests are deleted. A test that drives the virtual
adapter without these fixtures gets the requests the adapter received.
"""

from __future__ import annotations

import contextlib
import functools
import hashlib
import importlib
import re
import shutil
import tempfile
from pathlib import Path
from typing import TYPE_CHECKING, Any, Callable, Generator, Iterator, List, Optional, Tuple

import pytest

from pyvantorsdk import DeviceFacade, sim
from pyvantorsdk.errors import VantorError

if TYPE_CHECKING:
    from pyvantorsdk.trace import Record

__all__ = ["vantor_bench", "vantor_device", "vantor_aio_device"]

# The virtual adapter of the running test, for the failure report.
_ADAPTER = pytest.StashKey["sim.VirtualAdapter"]()
# The running test's capture, and why there is none when starting it failed.
_CAPTURE = pytest.StashKey[Path]()
_CAPTURE_PROBLEM = pytest.StashKey[str]()
# Set once a phase of the test failed: its capture is then kept.
_FAILED = pytest.StashKey[bool]()
# Where the captures go: the --vantor-keep-captures folder, or a folder of
# the session's own, removed at its end.
_CAPTURE_DIR = pytest.StashKey[Path]()
_OWN_CAPTURE_DIR = pytest.StashKey[bool]()
# Requests or transactions shown in a failure report: the last ones, which
# led to the failure.
TRAFFIC_SHOWN = 64
# Longer test ids are cut, with a hash of the whole id, to make file names.
CAPTURE_NAME_MAX = 120
# Marks the failing call's line in the traffic section.
FAILING_MARK = ">> "


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("vantor", "adapter under test (pyvantorsdk)")
    group.addoption(
        "--vantor-profile",
        metavar="NAME|PATH",
        default=None,
        help="build the virtual adapter of every test from this profile "
        "(a file or a shipped profile's name); the vantor_profile marker wins",
    )
    group.addoption(
        "--vantor-device",
        metavar="PATH|serial:SN",
        default=None,
        help="run against the real adapter at this HID path or with this serial "
        "number; tests that need the virtual bench are skipped",
    )
    group.addoption(
        "--vantor-keep-captures",
        metavar="DIR",
        default=None,
        help="keep the USB capture (pcapng) of each failed test in this folder, "
        "named after the test",
    )


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers",
        "vantor_profile(name_or_path): build the test's virtual adapter from this profile "
        "(a shipped profile's name, or a file relative to the test module)",
    )
    device = config.getoption("vantor_device", None)
    if device is not None and (not device or device == "serial:"):
        raise pytest.UsageError("--vantor-device needs a HID path or serial:SN")
    keep = config.getoption("vantor_keep_captures", None)
    if keep is not None:
        if not keep:
            raise pytest.UsageError("--vantor-keep-captures needs a folder")
        folder = Path(keep)
        try:
            folder.mkdir(parents=True, exist_ok=True)
        except OSError as e:
            raise pytest.UsageError(f"--vantor-keep-captures: cannot use {keep}: {e}") from None
        config.stash[_CAPTURE_DIR] = folder


def pytest_unconfigure(config: pytest.Config) -> None:
    if config.stash.get(_OWN_CAPTURE_DIR, False):
        shutil.rmtree(config.stash[_CAPTURE_DIR], ignore_errors=True)


def _keeping(config: pytest.Config) -> bool:
    return config.getoption("vantor_keep_captures", None) is not None


def capture_name(nodeid: str) -> str:
    """A file name for a test's capture: its id with every run of characters
    other than letters, digits, ``.`` and ``-`` made one ``_``; a long id is
    cut and ends in a hash of the whole one, so that it stays unique."""
    name = re.sub(r"[^A-Za-z0-9.-]+", "_", nodeid).strip("_") or "test"
    if len(name) > CAPTURE_NAME_MAX:
        digest = hashlib.sha1(nodeid.encode("utf-8")).hexdigest()[:10]
        name = f"{name[:CAPTURE_NAME_MAX]}-{digest}"
    return name + ".pcapng"


def _capture_path(item: pytest.Item) -> Path:
    config = item.config
    if _CAPTURE_DIR not in config.stash:
        config.stash[_CAPTURE_DIR] = Path(tempfile.mkdtemp(prefix="vantor-captures-"))
        config.stash[_OWN_CAPTURE_DIR] = True
    return config.stash[_CAPTURE_DIR] / capture_name(item.nodeid)


def _capture_started(item: pytest.Item, path: Path, error: Optional[OSError]) -> None:
    # Without a capture the test runs on: the report says why.
    if error is None:
        item.stash[_CAPTURE] = path
    else:
        item.stash[_CAPTURE_PROBLEM] = f"no capture: {error}"


def _real_device(config: pytest.Config) -> Optional[str]:
    return config.getoption("vantor_device", None)  # type: ignore[no-any-return]


def _profile_of(request: pytest.FixtureRequest) -> Optional[str]:
    marker = request.node.get_closest_marker("vantor_profile")
    if marker is None:
        return request.config.getoption("vantor_profile")  # type: ignore[no-any-return]
    if len(marker.args) != 1 or not isinstance(marker.args[0], (str, Path)):
        pytest.fail("vantor_profile takes one profile name or path", pytrace=False)
    given = str(marker.args[0])
    beside = Path(request.node.path).parent / given
    return str(beside) if beside.is_file() else given


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_setup(item: pytest.Item) -> None:
    # Skipped before any fixture is set up: with an absent adapter, the
    # vantor_device fixture of the same test would otherwise fail first.
    if _real_device(item.config) is not None and "vantor_bench" in getattr(
        item, "fixturenames", ()
    ):
        pytest.skip(_bench_skip_reason(item.config))


def _bench_skip_reason(config: pytest.Config) -> str:
    return (
        "needs the virtual bench's raw access; running against the real adapter "
        f"{_real_device(config)}"
    )


@pytest.fixture
def _vantor_adapter(request: pytest.FixtureRequest) -> Iterator[Optional[sim.VirtualAdapter]]:
    """The test's own virtual adapter, None when running against a real one."""
    if _real_device(request.config) is not None:
        yield None
        return
    from pyvantorsdk.profiles import ProfileError  # read only once a test runs

    profile = _profile_of(request)
    try:
        adapter = sim.VirtualAdapter.from_profile(profile) if profile else sim.VirtualAdapter()
    except ProfileError as error:
        problem = str(error)
    else:
        problem = ""
    if problem:
        # The profile's name, file, line and key tell the whole story: the
        # failure is that one line, without a traceback (so raised outside
        # the handler, which would chain the ProfileError's).
        pytest.fail(f"vantor profile {problem}", pytrace=False)
    request.node.stash[_ADAPTER] = adapter
    try:
        yield adapter
    finally:
        adapter.close()


@pytest.fixture
def vantor_bench(
    request: pytest.FixtureRequest, _vantor_adapter: Optional[sim.VirtualAdapter]
) -> sim.VirtualAdapter:
    """The virtual adapter (``sim.VirtualAdapter``), fresh for each test.
    Skips the test when running against a real adapter."""
    if _vantor_adapter is None:
        pytest.skip(_bench_skip_reason(request.config))  # asked for while the test runs
    return _vantor_adapter


def _target(
    config: pytest.Config, adapter: Optional[sim.VirtualAdapter]
) -> Tuple[Optional[str], Optional[str]]:
    """(HID path, serial number) of the adapter under test; one of them is None."""
    if adapter is not None:
        return adapter.path, None
    device = _real_device(config) or ""
    if device.startswith("serial:"):
        return None, device[len("serial:") :]
    return device, None


@pytest.fixture
def vantor_device(
    request: pytest.FixtureRequest, _vantor_adapter: Optional[sim.VirtualAdapter]
) -> Iterator[DeviceFacade]:
    """A ``DeviceFacade`` connected to the adapter under test."""
    path, serial = _target(request.config, _vantor_adapter)
    with DeviceFacade() as dev:
        capture, problem = _capture_path(request.node), None
        try:
            dev.start_trace(capture)
        except OSError as error:
            problem = error
        _capture_started(request.node, capture, problem)
        connected = dev.connect_serial(serial) if serial is not None else dev.connect(path or "")
        if not connected:
            pytest.fail(f"no adapter at {path or 'serial ' + str(serial)}", pytrace=False)
        try:
            yield dev
        finally:
            # Closed before the report of the teardown keeps or deletes it;
            # a write that failed shows as the capture's missing tail.
            with contextlib.suppress(OSError):
                dev.stop_trace()


def _aio() -> Any:
    try:
        return importlib.import_module("pyvantorsdk.aio")
    except ImportError as error:
        pytest.skip(f"pyvantorsdk.aio is not available: {error}")


# With pytest-asyncio, vantor_aio_device is the open asyncio device itself,
# set up inside the test's event loop. Without it there is no loop to set it
# up in, so the fixture gives an opener instead, for the test's own loop:
#
#     async with vantor_aio_device() as dev: ...
try:
    _pytest_asyncio: Any = importlib.import_module("pytest_asyncio")
except ImportError:
    _pytest_asyncio = None

if _pytest_asyncio is not None:

    @_pytest_asyncio.fixture
    async def vantor_aio_device(
        request: pytest.FixtureRequest, _vantor_adapter: Optional[sim.VirtualAdapter]
    ) -> Any:
        """The asyncio device (``pyvantorsdk.aio``), open on the adapter under test."""
        aio = _aio()
        path, serial = _target(request.config, _vantor_adapter)
        async with aio.open(path, serial=serial) as dev:
            capture, problem = _capture_path(request.node), None
            try:
                await dev.start_trace(capture)
            except OSError as error:
                problem = error
            _capture_started(request.node, capture, problem)
            try:
                yield dev
            finally:
                with contextlib.suppress(OSError):
                    await dev.stop_trace()

else:

    @pytest.fixture
    def vantor_aio_device(
        request: pytest.FixtureRequest, _vantor_adapter: Optional[sim.VirtualAdapter]
    ) -> Callable[..., Any]:
        """An opener of the asyncio device on the adapter under test:
        ``async with vantor_aio_device() as dev`` (keywords go to ``aio.open``)."""
        aio = _aio()
        path, serial = _target(request.config, _vantor_adapter)
        return functools.partial(aio.open, path, serial=serial)


def format_traffic(adapter: sim.VirtualAdapter, limit: int = TRAFFIC_SHOWN) -> str:
    """The requests the adapter received, one a line: number, transaction id,
    command code and the whole message in hex; the last `limit` of them."""
    requests = adapter.requests
    lines: List[str] = [f"{len(requests)} requests, {len(adapter.bulk_received)} bytes on bulk OUT"]
    if len(requests) > limit:
        lines.append(f"(the first {len(requests) - limit} are left out)")
    start = max(0, len(requests) - limit)
    for number, message in enumerate(requests[start:], start + 1):
        if len(message) >= 4:
            transaction = int.from_bytes(message[0:2], "little")
            code = int.from_bytes(message[2:4], "little")
            lines.append(f"#{number} id {transaction} code 0x{code:04X}: {message.hex(' ')}")
        else:
            lines.append(f"#{number} (short): {message.hex(' ')}")
    return "\n".join(lines)


def _failing_index(records: List["Record"], error: Optional[BaseException]) -> Optional[int]:
    """The record of the failing call: the last whose status is the raised
    VantorError's, else the last that failed (a host-side status such as a
    timeout travels on no wire: the unanswered request is that one)."""
    if isinstance(error, VantorError):
        raw = error.status_code
        code = raw if isinstance(raw, int) else int(raw.value)
        for index in range(len(records) - 1, -1, -1):
            if records[index].status_code == code:
                return index
    for index in range(len(records) - 1, -1, -1):
        if records[index].failed():
            return index
    return None


def format_capture(
    records: List["Record"], error: Optional[BaseException] = None, limit: int = TRAFFIC_SHOWN
) -> str:
    """Decoded traffic, one ``Record.line()`` a line, numbered in capture
    order: the last ``limit`` records, the failing call (see
    ``_failing_index``) marked ``>>`` and shown even when it is older."""
    failing = _failing_index(records, error)
    start = max(0, len(records) - limit)
    transactions = sum(1 for r in records if r.kind == "transaction")
    failed = sum(1 for r in records if r.failed())
    lines = [f"{len(records)} records: {transactions} transactions, {failed} failed"]
    if start:
        lines.append(f"(the first {start} are left out)")
    if failing is not None and failing < start:
        lines.append(f"{FAILING_MARK}#{failing + 1} {records[failing].line()}")
        lines.append("...")
    for index in range(start, len(records)):
        mark = FAILING_MARK if index == failing else "   "
        lines.append(f"{mark}#{index + 1} {records[index].line()}")
    return "\n".join(lines)


def _decoded(path: Path, error: Optional[BaseException]) -> str:
    """The section's text; empty when nothing was sent or received."""
    try:
        from pyvantorsdk import trace

        records = list(trace.read(str(path)))
    except Exception as problem:  # the report goes on without the section's body
        return f"the capture could not be decoded: {problem}"
    return format_capture(records, error) if records else ""


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(
    item: pytest.Item, call: pytest.CallInfo[None]
) -> Generator[None, Any, None]:
    outcome = yield
    report = outcome.get_result()
    capture = item.stash.get(_CAPTURE, None)
    if report.failed:
        item.stash[_FAILED] = True
        # Decoded while the facade may still write to it: every packet is
        # a whole block, flushed as it is written.
        if capture is not None and capture.exists():
            error = call.excinfo.value if call.excinfo is not None else None
            section = _decoded(capture, error)
            if section:
                if _keeping(item.config):
                    section += f"\ncapture kept as {capture}"
                report.sections.append(("vantor traffic", section))
        else:
            adapter = item.stash.get(_ADAPTER, None)
            if adapter is not None and not adapter.closed:
                problem = item.stash.get(_CAPTURE_PROBLEM, "")
                section = format_traffic(adapter)
                report.sections.append(
                    ("vantor traffic", f"{problem}\n{section}" if problem else section)
                )
    if call.when == "teardown" and capture is not None:
        # The fixtures are gone, and with them the facade writing it.
        if not (item.stash.get(_FAILED, False) and _keeping(item.config)):
            capture.unlink(missing_ok=True)
