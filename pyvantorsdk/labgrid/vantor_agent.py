# SPDX-License-Identifier: MIT
"""The agent half of a remote adapter: runs on the host the adapter is
attached to, inside labgrid's agent process (started over SSH), and drives
the adapter with a DeviceFacade of its own.

labgrid's agent loads this file's source and registers the functions of
``methods``; the proxy (``pyvantorsdk.labgrid.proxy``) calls them one at a
time, with arguments and results in the JSON forms of ``pyvantorsdk._wire``.
The agent opens the adapter itself: a real one by serial number or HID path,
or a virtual one built from a profile on this host. Notifications collect in
a bounded queue until the proxy's next ``poll``.

It needs only pyvantorsdk (not labgrid) in the ``python3`` it runs under.
"""

from __future__ import annotations

import collections
import threading
from typing import Any, Callable, Deque, Dict, List, Optional

from pyvantorsdk import DeviceFacade, Notification, StatusCode, errors, sim
from pyvantorsdk import _wire as wire

# Notifications kept between two polls; more are counted as dropped.
MAX_PENDING = 65536
# Notifications returned by one poll; the proxy polls again while more wait.
POLL_BATCH = 1024


class _Session:
    """The adapter the agent drives, with its pending events."""

    def __init__(self, locator: Dict[str, Any]) -> None:
        self.adapter: Optional[sim.VirtualAdapter] = None
        self.device = DeviceFacade(int(locator.get("timeout_ms", 2000)))
        self._lock = threading.Lock()
        self._pending: Deque[Any] = collections.deque()
        self._dropped = 0
        self._lost = False
        if locator.get("virtual"):
            profile = locator.get("profile")
            adapter = sim.VirtualAdapter.from_profile(profile) if profile else sim.VirtualAdapter()
            adapter.uart.loopback = bool(locator.get("uart_loopback", False))
            self.adapter = adapter
            path: str = adapter.path
            serial: Optional[str] = None
        else:
            # Without either, connect() would open whichever adapter it
            # finds first: refused instead.
            path = str(locator.get("path") or "")
            serial = locator.get("serial") or None
            if not path and not serial:
                raise errors.NoAdapterError(
                    StatusCode.SDK_ERROR_DISCONNECT, "connect", "no serial number or path given"
                )
        self.device.on_notification(self._queue)
        self.device.on_connection_lost(self._connection_lost)
        opened = self.device.connect_serial(serial) if serial else self.device.connect(path)
        if not opened:
            self.close()
            raise errors.NoAdapterError(
                StatusCode.SDK_ERROR_DISCONNECT,
                "connect",
                f"no adapter {'with serial ' + serial if serial else 'at ' + (path or 'any path')}",
            )

    # Runs on the facade's delivery thread.
    def _queue(self, notification: Notification) -> None:
        with self._lock:
            if len(self._pending) >= MAX_PENDING:
                self._dropped += 1
            else:
                self._pending.append(wire.encode(notification))

    def _connection_lost(self) -> None:
        with self._lock:
            self._lost = True

    def poll(self) -> Dict[str, Any]:
        with self._lock:
            count = min(len(self._pending), POLL_BATCH)
            events = [self._pending.popleft() for _ in range(count)]
            answer = {
                "events": events,
                "more": bool(self._pending),
                "dropped": self._dropped,
                "lost": self._lost,
            }
            self._dropped = 0
            self._lost = False
            return answer

    def close(self) -> None:
        self.device.disconnect()
        if self.adapter is not None:
            self.adapter.close()
            self.adapter = None


_session: Optional[_Session] = None


def _current() -> _Session:
    if _session is None:
        raise errors.DisconnectError(StatusCode.SDK_ERROR_DISCONNECT, "agent")
    return _session


def _answer(work: Callable[[], Any], encoded: bool = False) -> Dict[str, Any]:
    """{"result": value} or {"error": the exception's form}: errors travel as
    values, so that the proxy gets their class and status back. `encoded`:
    the result is in its JSON form already."""
    try:
        result = work()
        return {"result": result if encoded else wire.encode(result)}
    except Exception as error:  # every failure goes back to the caller
        return {"error": wire.encode_error(error)}


def handle_open(locator: Dict[str, Any]) -> Dict[str, Any]:
    """Open the adapter that `locator` describes (closing one opened before)."""

    def work() -> Dict[str, Any]:
        global _session
        handle_close()
        _session = _Session(locator)
        info = _session.device.get_device_info()
        return {"serial": info.serial_number, "virtual": _session.adapter is not None}

    return _answer(work)


def handle_call(name: str, args: List[Any], kwargs: Dict[str, Any]) -> Dict[str, Any]:
    """One facade method; only those that ``wire.FORWARDED`` lists."""

    def work() -> Any:
        if name not in wire.FORWARDED:
            raise ValueError(f"{name} cannot be called through the agent")
        device = _current().device
        decoded_args = [wire.decode(arg) for arg in args]
        decoded_kwargs = {key: wire.decode(value) for key, value in kwargs.items()}
        return getattr(device, name)(*decoded_args, **decoded_kwargs)

    return _answer(work)


def handle_bench(path: str, args: List[Any]) -> Dict[str, Any]:
    """A call on the virtual adapter's bench, `path` like "gpio.output_level"
    or "uart.inject"; a property (like "requests") is read."""

    def work() -> Any:
        adapter = _current().adapter
        if adapter is None:
            raise ValueError("the adapter is not a virtual one: it has no bench")
        target: Any = adapter
        for part in path.split("."):
            if not part.isidentifier() or part.startswith("_"):
                raise ValueError(f"bad bench path {path!r}")
            target = getattr(target, part)
        if not callable(target):
            if args:
                raise TypeError(f"{path} is a property: it takes no arguments")
            return target
        return target(*[wire.decode(arg) for arg in args])

    return _answer(work)


def handle_poll() -> Dict[str, Any]:
    return _answer(lambda: _current().poll(), encoded=True)


def handle_close() -> None:
    global _session
    if _session is not None:
        session, _session = _session, None
        session.close()


methods = {
    "open": handle_open,
    "call": handle_call,
    "bench": handle_bench,
    "poll": handle_poll,
    "close": handle_close,
}
