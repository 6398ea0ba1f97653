# SPDX-License-Identifier: MIT
"""A DeviceFacade for an adapter on another host, through labgrid's agent.

``RemoteDevice`` starts labgrid's agent on the host (over SSH; locally as a
subprocess when the host is None), loads ``vantor_agent`` into it and
forwards every DeviceFacade method that can cross (``_wire.FORWARDED``):
arguments and results travel in JSON forms, failures come back as the
package's own errors with their status codes.

The agent answers one request at a time and cannot push. Events therefore
come by polling: after every call, and every ``poll_interval`` seconds from
a background thread, both serialised with the calls by one lock; the
notification callback runs on a delivery thread of the proxy, in order.

Every request has a time limit (``timeout``). A request that gets no answer
in time, or a lost SSH connection or agent, closes the agent (its SSH
process is killed) and raises ``RemoteTimeoutError`` or
``RemoteDisconnectError``; every later call raises the same error at once.
"""

from __future__ import annotations

import logging
import os
import queue
import subprocess
import threading
from typing import Any, Callable, Dict, Optional, Tuple, Type

from labgrid.util.agentwrapper import AgentError, AgentException, AgentWrapper

from pyvantorsdk import DeviceFacade, StatusCode, errors
from pyvantorsdk import _wire as wire

__all__ = ["RemoteDevice", "RemoteTimeoutError", "RemoteDisconnectError"]

_log = logging.getLogger("pyvantorsdk.labgrid")

AGENT_NAME = "vantor_agent"
AGENT_DIR = os.path.dirname(os.path.abspath(__file__))

Callback = Callable[[Any], object]


class _AgentFailure:
    """Mixin of the two errors: the reason in front of the status line,
    and a hint about the agent instead of the adapter's."""

    reason: str
    hint: Optional[str]
    status_code: Any
    operation: Optional[str]

    def _set_reason(self, reason: str) -> None:
        self.reason = reason
        self.hint = AGENT_HINT
        first = str(getattr(self, "args", ("",))[0]).partition("\n")[0]
        self.args = (f"{reason} ({first})\nhint: {AGENT_HINT}",)

    # Pickled (across processes) with the reason, rebuilt as the same class.
    def __reduce__(self) -> Tuple[Callable[..., errors.VantorError], Tuple[object, ...]]:
        return (errors._rebuild, (type(self), self.status_code, self.operation,
                                  {"reason": self.reason}))


AGENT_HINT = (
    "the agent is closed: check the exporter host and the SSH connection to it, "
    "then deactivate and activate the driver to start a new one"
)


class RemoteTimeoutError(_AgentFailure, errors.VantorTimeoutError):
    """The agent did not answer within the time limit; it was closed."""

    def __init__(
        self,
        status_code: Any = StatusCode.SDK_ERROR_TIMEOUT,
        operation: Optional[str] = None,
        reason: str = "no answer from the agent",
    ) -> None:
        super().__init__(status_code, operation)
        self._set_reason(reason)


class RemoteDisconnectError(_AgentFailure, errors.DisconnectError):
    """The agent, its SSH connection or the exporter host went away."""

    def __init__(
        self,
        status_code: Any = StatusCode.SDK_ERROR_DISCONNECT,
        operation: Optional[str] = None,
        reason: str = "the agent is gone",
    ) -> None:
        super().__init__(status_code, operation)
        self._set_reason(reason)


def _agent_wrapper(host: Optional[str]) -> AgentWrapper:
    try:
        return AgentWrapper(host)
    except (OSError, subprocess.SubprocessError) as error:
        raise RemoteDisconnectError(
            operation="connect", reason=f"cannot start the agent on {host}: {error}"
        ) from error


class RemoteDevice:
    """The DeviceFacade methods, run by an agent on `host` (None: a local
    subprocess) on the adapter that `locator` names (see ``vantor_agent``).

    ``timeout`` limits every request, in seconds. ``close()`` (or the end of
    the ``with`` block) closes the adapter and the agent."""

    def __init__(
        self,
        host: Optional[str],
        locator: Dict[str, Any],
        *,
        timeout: float = 10.0,
        poll_interval: float = 0.1,
    ) -> None:
        self.host = host
        self.timeout = timeout
        self._where = host or "this host"
        self._lock = threading.RLock()
        self._failure: Optional[Tuple[Type[errors.VantorError], str]] = None
        self._expired = False
        self._callback: Optional[Callback] = None
        self._lost_callback: Optional[Callable[[], object]] = None
        self._dropped = 0
        self._events: "queue.Queue[Optional[Tuple[str, Any]]]" = queue.Queue()
        self._stop = threading.Event()
        self._wrapper: Optional[AgentWrapper] = _agent_wrapper(host)
        try:
            with open(os.path.join(AGENT_DIR, f"{AGENT_NAME}.py"), encoding="utf-8") as file:
                source = file.read()
            self._request("connect", "load", AGENT_NAME, source)
            self.info = self._result("connect", self._request("connect", f"{AGENT_NAME}.open", locator))
        except BaseException:
            self._kill()
            raise
        self._delivery = threading.Thread(target=self._deliver, name="vantor-remote-events",
                                          daemon=True)
        self._delivery.start()
        self._poller = threading.Thread(
            target=self._poll_loop, args=(poll_interval,), name="vantor-remote-poll", daemon=True
        )
        self._poller.start()

    @property
    def timeout(self) -> float:
        """The time limit of each request, in seconds."""
        return self._timeout

    @timeout.setter
    def timeout(self, seconds: float) -> None:
        if not seconds > 0:  # NaN too
            raise ValueError(f"timeout must be positive, not {seconds!r}")
        self._timeout = float(seconds)

    # ------------------------------------------------------------ requests
    def _fail(self, operation: str) -> errors.VantorError:
        assert self._failure is not None
        cls, reason = self._failure
        if cls is RemoteTimeoutError:
            return RemoteTimeoutError(operation=operation, reason=reason)
        return RemoteDisconnectError(operation=operation, reason=reason)

    def _expire(self) -> None:
        # Runs on a timer thread while a request waits: killing the agent's
        # process (the SSH client) ends the wait with end of file.
        self._expired = True
        wrapper = self._wrapper
        if wrapper is not None and wrapper.agent is not None:
            try:
                wrapper.agent.kill()
            except OSError:
                pass

    def _request(self, operation: str, method: str, *args: Any) -> Any:
        """One agent request under the time limit; the agent's answer."""
        with self._lock:
            if self._failure is not None or self._wrapper is None:
                if self._failure is None:
                    self._failure = (RemoteDisconnectError, "the remote device is closed")
                raise self._fail(operation)
            self._expired = False
            timer = threading.Timer(self.timeout, self._expire)
            timer.daemon = True
            timer.start()
            try:
                answer = self._wrapper.call(method, *args)
            except AgentException as error:
                # A fault of the agent module itself, not of the adapter.
                raise RuntimeError(f"agent on {self._where}: {error}") from error
            except (OSError, ValueError, AgentError) as error:
                # Broken pipe, or end of file read instead of an answer.
                if self._expired:
                    self._failure = (
                        RemoteTimeoutError,
                        f"no answer from the agent on {self._where} within {self.timeout:g} s; "
                        "the agent was closed",
                    )
                else:
                    # End of file (a ValueError from the JSON reader) or a
                    # broken pipe: the SSH connection or the agent ended.
                    detail = "" if isinstance(error, ValueError) else f": {error}"
                    self._failure = (
                        RemoteDisconnectError,
                        f"lost the agent on {self._where} (its SSH connection or process "
                        f"ended{detail})",
                    )
                self._kill()
                raise self._fail(operation) from None
            finally:
                timer.cancel()
            if self._expired:
                # Answered just as the timer killed the agent: keep the
                # answer, later calls find the agent closed.
                self._failure = (RemoteTimeoutError, f"the agent on {self._where} was closed "
                                 f"after a request took {self.timeout:g} s")
                self._kill()
            return answer

    @staticmethod
    def _result(operation: str, answer: Any, decode: bool = True) -> Any:
        """The result an agent's answer carries (decoded unless `decode` is
        False), or the error it carries raised; ProtocolError for an answer
        of any other shape."""
        try:
            if isinstance(answer, dict) and set(answer) == {"result"}:
                return wire.decode(answer["result"]) if decode else answer["result"]
            if not (isinstance(answer, dict) and set(answer) == {"error"}):
                raise ValueError("neither a result nor an error")
            error = wire.decode_error(answer["error"])
        except (ValueError, KeyError, TypeError, AttributeError):
            _log.warning("malformed answer from the agent to %s: %.200r", operation, answer)
            raise errors.ProtocolError(StatusCode.SDK_ERROR_WRONG_RESPONSE, operation) from None
        raise error

    def _call(self, name: str, args: Tuple[Any, ...], kwargs: Dict[str, Any]) -> Any:
        # Encoded first: an argument that cannot cross is refused unsent.
        sent_args = [wire.encode(arg) for arg in args]
        sent_kwargs = {key: wire.encode(value) for key, value in kwargs.items()}
        with self._lock:
            answer = self._request(name, f"{AGENT_NAME}.call", name, sent_args, sent_kwargs)
            self._poll_locked()
        return self._result(name, answer)

    def bench(self, path: str, *args: Any) -> Any:
        """Call the virtual adapter's bench on the agent's host, like
        ``bench("gpio.output_level", 3)`` or ``bench("uart.inject", b"hi")``; a
        property is read (``bench("requests")``).
        Raises ValueError when the adapter is a real one."""
        answer = self._request("bench", f"{AGENT_NAME}.bench", path, [wire.encode(a) for a in args])
        return self._result("bench", answer)

    # -------------------------------------------------------------- events
    def on_notification(self, cb: Optional[Callback]) -> Optional[Callback]:
        """Call cb(notification) for every event, in order, on the proxy's
        delivery thread; None stops delivery. Returns the callback replaced.
        The notifications are ``pyvantorsdk._wire.Record`` objects named and
        shaped like the facade's (``UartRxNotification`` with ``data``)."""
        previous, self._callback = self._callback, cb
        return previous

    set_notification_callback = on_notification

    def on_connection_lost(self, cb: Optional[Callable[[], object]]) -> None:
        """Call cb() on the delivery thread when the adapter stops answering
        on the agent's side, or the agent is lost."""
        self._lost_callback = cb

    @property
    def dropped_notifications(self) -> int:
        """Notifications the agent dropped because too many waited."""
        return self._dropped

    def _poll_locked(self) -> None:
        more = True
        while more:
            answer = self._result("poll", self._request("poll", f"{AGENT_NAME}.poll"), decode=False)
            try:
                events, dropped = list(answer["events"]), int(answer["dropped"])
                lost, more = bool(answer["lost"]), bool(answer["more"])
            except (KeyError, TypeError, ValueError):
                raise errors.ProtocolError(StatusCode.SDK_ERROR_WRONG_RESPONSE, "poll") from None
            for event in events:
                try:
                    self._events.put(("event", wire.decode(event)))
                except (ValueError, KeyError, TypeError):
                    _log.warning("malformed notification from the agent: %.200r", event)
                    dropped += 1
            self._dropped += dropped
            if lost:
                self._events.put(("lost", None))

    def poll(self) -> None:
        """Fetch the events that arrived on the agent's side (the background
        thread does this as well)."""
        with self._lock:
            self._poll_locked()

    def _poll_loop(self, interval: float) -> None:
        while not self._stop.wait(interval):
            if not self._lock.acquire(blocking=False):
                continue  # a call is running and polls when it ends
            try:
                if self._failure is not None or self._wrapper is None:
                    if not self._stop.is_set():  # lost, not closed
                        self._events.put(("lost", None))
                    return
                self._poll_locked()
            except errors.VantorError:
                self._events.put(("lost", None))
                return
            except Exception:  # keep polling through an odd answer; it is logged
                _log.exception("polling the agent on %s failed", self._where)
            finally:
                self._lock.release()

    def _deliver(self) -> None:
        while True:
            item = self._events.get()
            if item is None:
                return
            kind, value = item
            try:
                if kind == "event":
                    callback = self._callback
                    if callback is not None:
                        callback(value)
                else:
                    lost = self._lost_callback
                    if lost is not None:
                        lost()
            except Exception:
                _log.exception("notification callback failed")

    # ------------------------------------------------------------ lifetime
    def _kill(self, graceful: bool = False) -> None:
        """End the agent's process: `graceful` asks it to exit first (as
        labgrid's wrapper does) and waits up to the time limit."""
        wrapper, self._wrapper = self._wrapper, None
        if wrapper is None or wrapper.agent is None:
            return
        agent, wrapper.agent = wrapper.agent, None
        if graceful and agent.stdin is not None:
            try:
                agent.stdin.write(b'{"close": true}\n')
                agent.stdin.flush()
                agent.wait(timeout=self.timeout)
            except (OSError, subprocess.TimeoutExpired):
                pass
        if agent.poll() is None:
            agent.kill()
        agent.wait()
        for stream in (agent.stdin, agent.stdout):
            if stream is not None:
                try:
                    stream.close()
                except OSError:
                    pass

    def close(self) -> None:
        """Close the adapter and the agent (a failed agent is already gone).
        Events that arrived before are delivered first."""
        self._stop.set()
        with self._lock:
            try:
                if self._wrapper is not None and self._failure is None:
                    self._poll_locked()
                    self._request("close", f"{AGENT_NAME}.close")
            except errors.VantorError:
                pass  # the agent failed on the way: it is gone already
            finally:
                self._kill(graceful=True)
                if self._failure is None:
                    self._failure = (RemoteDisconnectError, "the remote device is closed")
        if self._poller is not threading.current_thread():
            self._poller.join()
        self._events.put(None)
        if self._delivery is not threading.current_thread():
            self._delivery.join()

    disconnect = close

    def __enter__(self) -> "RemoteDevice":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self._failure is not None else "open"
        return f"<RemoteDevice on {self._where} {state}>"


def _forwarder(name: str) -> Callable[..., Any]:
    def method(self: RemoteDevice, *args: Any, **kwargs: Any) -> Any:
        return self._call(name, args, kwargs)

    method.__name__ = method.__qualname__ = name
    method.__doc__ = getattr(DeviceFacade, name).__doc__
    return method


for _name in sorted(wire.FORWARDED):
    setattr(RemoteDevice, _name, _forwarder(_name))
del _name
