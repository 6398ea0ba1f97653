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
what is wrong (for an unknown name, the shipped profiles). When a test fails on a virtual
adapter, the requests the adapter received are added to its report.
"""

from __future__ import annotations

import functools
import importlib
from pathlib import Path
from typing import Any, Callable, Generator, Iterator, List, Optional, Tuple

import pytest

from pyvantorsdk import DeviceFacade, sim

__all__ = ["vantor_bench", "vantor_device", "vantor_aio_device"]

# The virtual adapter of the running test, for the failure report.
_ADAPTER = pytest.StashKey["sim.VirtualAdapter"]()
# Requests shown in a failure report: the last ones, which led to the failure.
TRAFFIC_SHOWN = 64


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


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers",
        "vantor_profile(name_or_path): build the test's virtual adapter from this profile "
        "(a shipped profile's name, or a file relative to the test module)",
    )
    device = config.getoption("vantor_device", None)
    if device is not None and (not device or device == "serial:"):
        raise pytest.UsageError("--vantor-device needs a HID path or serial:SN")


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
        connected = dev.connect_serial(serial) if serial is not None else dev.connect(path or "")
        if not connected:
            pytest.fail(f"no adapter at {path or 'serial ' + str(serial)}", pytrace=False)
        yield dev


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
            yield dev

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


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(
    item: pytest.Item, call: pytest.CallInfo[None]
) -> Generator[None, Any, None]:
    outcome = yield
    report = outcome.get_result()
    if not report.failed:
        return
    adapter = item.stash.get(_ADAPTER, None)
    if adapter is None or adapter.closed:
        return
    report.sections.append(("vantor traffic", format_traffic(adapter)))
