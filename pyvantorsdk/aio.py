# SPDX-License-Identifier: MIT
"""Adapters driven from an asyncio event loop.

::

    from pyvantorsdk import aio

    async with aio.open(path) as dev:
        await dev.uart_init(...)
        async with dev.events(maxsize=256) as events:
            async for event in events:
                ...

``open(path=None, *, serial=None, timeout=2.0)`` opens the adapter at a HID
path, the first adapter with a serial number, or the first supported adapter
(virtual adapters included); ``timeout`` is the time in seconds each request
waits for its answer, from 0 to 2147483.647, rounded up to whole
milliseconds (None or inf: no limit). ``await connect(...)`` with the same
arguments opens it outside a ``with`` block; ``await dev.close()`` closes it.

Every operation of ``DeviceFacade`` is a coroutine method of ``AsyncDevice``
with the same name, arguments and result, raising the same
``pyvantorsdk.errors`` exceptions.

Mechanism
---------
Each device owns a blocking ``DeviceFacade`` and one worker thread. A
coroutine method queues its call for the worker and awaits the outcome, which
the worker hands back to the loop with ``call_soon_threadsafe``. So:

- the loop never waits for adapter I/O, and one loop drives any number of
  devices side by side, each with a worker of its own;
- results and exceptions are those of ``DeviceFacade``, because it produces
  them: the blocking engine pairs each answer with its request by
  transaction id and decodes it;
- cancelling an awaiting task is safe: a call still queued is never sent; a
  call already on the wire is finished by the worker (answer or time-out) and
  its result thrown away. The device runs one request at a time, so a later
  request can never be handed an earlier request's answer.

Pipelining requests over the asynchronous engine would gain little: the
adapter answers one request at a time, and the decoding that the blocking
engine already does would have to be written a second time.

``close()`` fails the calls still queued with ``DisconnectError`` and
disconnects at once, from a thread of its own: the call in progress ends with
``DisconnectError`` too, even one waiting without a time-out for an adapter
that never answers. When the loop itself ends with calls in flight, their
tasks are cancelled as usual; the worker finishes the one in progress and the
device disconnects once it is garbage collected (or at interpreter exit).

Events
------
``dev.events(maxsize=1024)`` subscribes to the adapter's notifications from
that moment on and yields them in arrival order. Each subscription has a
buffer of ``maxsize`` events; when a slow consumer lets it fill up, the
*oldest* buffered event is dropped to make room for the new one (the newest
state of the bus is usually what matters). Every drop is counted, in the
subscription's ``dropped`` and in the device's ``dropped_events`` (the sum
over its subscriptions), and the first drop of each subscription is logged as
a warning on "pyvantorsdk.aio". Events that arrive while the loop does not
run wait for it in a queue no longer than the largest subscription buffer, on
the same terms; while no subscription is open, none are kept. Any number of
subscriptions may be open, and any number of tasks may iterate one of them
(each event goes to one of those tasks); each subscription sees every event.
Iteration ends, for every task, after the buffered events, when the
subscription is closed, when the device is closed, when an operation finds
the adapter gone (``DisconnectError``), and when the adapter stops answering
(it was unplugged), even with no call running.

Losing the adapter fails every call queued then with ``DisconnectError``;
the call in progress ends with it too. The device stays open: a later call
reaches the adapter again if it is back (the engine reopens it by its path),
and a later ``events()`` subscription receives its events.
"""

from __future__ import annotations

import asyncio
import collections
import functools
import logging
import math
import numbers
import threading
import weakref
from types import TracebackType
from typing import TYPE_CHECKING, Any, Callable, Deque, Generator, List, Optional, Type

from pyvantorsdk._cpp._pyvantorsdk_cpp import DeviceFacade, Notification, StatusCode
from pyvantorsdk.errors import DisconnectError

if TYPE_CHECKING:
    import os
    from collections.abc import Mapping, Sequence

    from pyvantorsdk._cpp._pyvantorsdk_cpp import (
        DeviceInfo,
        GpioFunctionality,
        GpioLogicLevel,
        GpioPinNumber,
        GpioTriggerType,
        I2cBus,
        I2cOpenDrainRate,
        I2cPullUp,
        I2cScanResult,
        I2cTargetAddressMode,
        I2cTargetEepromBusyBehavior,
        I2cTargetEraseScope,
        I2cTargetMemoryLayout,
        I2cTargetModel,
        I2cTargetRegisterAccess,
        I3cDriveStrength,
        I3cEvent,
        I3cOpenDrainRate,
        I3cPushPullRate,
        I3cTargetMemoryLayout,
        I3cTargetResetDefByte,
        I3cTransferDirection,
        I3cTransferFlags,
        SpiBitOrder,
        SpiChipSelect,
        SpiChipSelectPolarity,
        SpiDataWidth,
        SpiMode,
        SpiTargetEngine,
        SpiTargetModel,
        UartBaudRate,
        UartDataSize,
        UartHwHandshake,
        UartParity,
        UartStopBit,
    )

__all__ = ["AsyncDevice", "EventStream", "connect", "open", "OPERATIONS"]

_log = logging.getLogger("pyvantorsdk.aio")

# DeviceFacade methods that are not adapter operations: the connection is
# the device's own business, and events come through events().
# `trace` is the blocking facade's context manager; here start_trace and
# stop_trace are awaited like the operations.
_NOT_OPERATIONS = frozenset(
    {"connect", "connect_serial", "disconnect", "on_notification", "on_connection_lost", "trace"}
)

# The coroutine methods of AsyncDevice: every public method of DeviceFacade
# but those above, in alphabetical order.
OPERATIONS: tuple[str, ...] = tuple(
    sorted(
        name
        for name, value in vars(DeviceFacade).items()
        if not name.startswith("_") and name not in _NOT_OPERATIONS and callable(value)
    )
)


def _disconnected(operation: str) -> DisconnectError:
    return DisconnectError(StatusCode.SDK_ERROR_DISCONNECT, operation)


class _Job:
    """One call for the worker and the loop future that awaits it.

    ``state`` moves from pending to running (worker) or to cancelled (loop),
    under ``lock``; only a pending job may start or be cancelled."""

    PENDING, RUNNING, CANCELLED = range(3)

    __slots__ = ("call", "name", "loop", "waiter", "lock", "state")

    def __init__(
        self,
        call: Callable[[], Any],
        name: str,
        loop: asyncio.AbstractEventLoop,
        waiter: asyncio.Future[Any],
    ) -> None:
        self.call = call
        self.name = name
        self.loop = loop
        self.waiter = waiter
        self.lock = threading.Lock()
        self.state = _Job.PENDING

    def cancel(self) -> bool:
        """Loop thread: withdraws the job unless it started; True if withdrawn."""
        with self.lock:
            if self.state != _Job.PENDING:
                return False
            self.state = _Job.CANCELLED
            return True

    def start(self) -> bool:
        """Worker thread: True when the job is to run."""
        with self.lock:
            if self.state != _Job.PENDING:
                return False
            self.state = _Job.RUNNING
            return True

    def run(self) -> None:
        """Worker thread: runs the call and hands the outcome to the loop."""
        result: Any = None
        error: Optional[BaseException] = None
        try:
            result = self.call()
        except BaseException as e:  # handed to the awaiting task
            error = e
        try:
            self.loop.call_soon_threadsafe(self.settle, result, error)
        except RuntimeError:
            pass  # the loop is closed: nobody awaits the outcome any more

    def settle(self, result: Any, error: Optional[BaseException]) -> None:
        """Loop thread."""
        _settle(self.waiter, result, error)


def _settle(waiter: asyncio.Future[Any], result: Any, error: Optional[BaseException]) -> None:
    """Loop thread: hands an outcome to a future nobody cancelled."""
    if waiter.done():
        return
    if error is not None:
        waiter.set_exception(error)
    else:
        waiter.set_result(result)


# Ends the worker's loop.
_STOP = object()


class _Worker:
    """The device's thread: runs jobs (and plain callables) one at a time, in
    the order they were queued."""

    def __init__(self, name: str) -> None:
        self._items: Deque[object] = collections.deque()
        self._ready = threading.Condition()
        self._thread = threading.Thread(target=self._run, name=name, daemon=True)
        self._thread.start()

    def put(self, item: object) -> None:
        with self._ready:
            self._items.append(item)
            self._ready.notify()

    def take_queued(self) -> List[object]:
        """Removes and returns what has not started yet."""
        with self._ready:
            items = list(self._items)
            self._items.clear()
            return items

    def join(self) -> None:
        self._thread.join()

    def shut_down(self, facade: DeviceFacade) -> None:
        """Disconnects after the job in progress, then ends the thread. Used
        when the device is collected without having been closed."""
        self.take_queued()
        self.put(facade.disconnect)
        self.put(_STOP)

    def _run(self) -> None:
        while True:
            with self._ready:
                while not self._items:
                    self._ready.wait()
                item = self._items.popleft()
            if item is _STOP:
                return
            if isinstance(item, _Job):
                if item.start():
                    item.run()
            else:
                try:
                    item()  # type: ignore[operator]
                except Exception:
                    _log.exception("device worker")
            del item


class _EventRouter:
    """The facade's notification callback: moves events from the delivery
    thread to the loop in batches, and there to every open subscription.
    ``connection_lost`` is the facade's connection-lost callback.

    While the loop does not run, events wait here, at most as many as the
    largest open subscription buffers (no subscription would keep more):
    older ones are dropped and counted against every subscription when the
    batch reaches them. With no subscription open, nothing is kept.

    It refers to no device: the facade holds it, and a device must stay
    collectable while subscriptions are open. The device it serves is told
    of a lost connection through ``on_lost``, a weak method."""

    def __init__(self, loop: asyncio.AbstractEventLoop) -> None:
        self.loop = loop
        self.streams: List[EventStream] = []  # loop thread only
        self.dropped = 0  # over all subscriptions; loop thread only
        self.on_lost: Optional[weakref.WeakMethod[Callable[[], None]]] = None
        self._lock = threading.Lock()
        # Guarded by _lock: the events waiting for the loop, how many of them
        # may wait, how many were dropped since the last drain, and whether
        # a drain is scheduled.
        self._incoming: Deque[Notification] = collections.deque()
        self._limit = 0
        self._overflow = 0
        self._scheduled = False

    def add(self, stream: EventStream) -> None:
        self.streams.append(stream)
        self._resize()

    def remove(self, stream: EventStream) -> None:
        if stream in self.streams:
            self.streams.remove(stream)
            self._resize()

    def end_all(self) -> None:
        streams, self.streams = self.streams, []
        self._resize()
        for stream in streams:
            stream._end()

    def _resize(self) -> None:
        with self._lock:
            self._limit = max((stream.maxsize for stream in self.streams), default=0)

    def __call__(self, event: Notification) -> None:
        """Delivery thread."""
        with self._lock:
            if self._limit == 0:
                return  # nobody subscribed
            self._incoming.append(event)
            if len(self._incoming) > self._limit:
                self._incoming.popleft()
                self._overflow += 1
            if self._scheduled:
                return
            self._scheduled = True
        try:
            self.loop.call_soon_threadsafe(self._drain)
        except RuntimeError:  # the loop is closed
            with self._lock:
                self._incoming.clear()
                self._overflow = 0
                self._scheduled = False

    def _drain(self) -> None:
        with self._lock:
            batch, self._incoming = self._incoming, collections.deque()
            overflow, self._overflow = self._overflow, 0
            self._scheduled = False
        for stream in list(self.streams):
            stream._put(batch, overflow)

    def connection_lost(self) -> None:
        """Delivery thread, after the events that arrived before the loss."""
        try:
            self.loop.call_soon_threadsafe(self._lost)
        except RuntimeError:
            pass  # the loop is closed

    def _lost(self) -> None:
        self._drain()  # the subscriptions get the last events before they end
        device_lost = self.on_lost() if self.on_lost is not None else None
        if device_lost is not None:
            device_lost()
        else:
            self.end_all()


class EventStream:
    """One subscription to a device's events: an async iterator, and an async
    context manager that closes it. See the module documentation."""

    def __init__(self, router: _EventRouter, maxsize: int) -> None:
        if maxsize < 1:
            raise ValueError("maxsize must be at least 1")
        self.maxsize = maxsize
        #: Events dropped because the buffer was full.
        self.dropped = 0
        self._router = router
        self._buffer: Deque[Notification] = collections.deque()
        # One future for each task waiting in __anext__.
        self._waiters: List[asyncio.Future[None]] = []
        self._ended = False

    def _put(self, batch: Deque[Notification], overflow: int) -> None:
        """Adds a batch of events that ``overflow`` older ones, dropped before
        they reached the loop, preceded."""
        if self._ended:
            return
        for event in batch:
            if len(self._buffer) >= self.maxsize:
                self._buffer.popleft()
                overflow += 1
            self._buffer.append(event)
        if overflow:
            first = self.dropped == 0
            self.dropped += overflow
            self._router.dropped += overflow
            if first:
                _log.warning(
                    "event buffer of %d full: dropping the oldest events (counted in dropped)",
                    self.maxsize,
                )
        self._wake()

    def _end(self) -> None:
        self._ended = True
        self._wake()

    def _wake(self) -> None:
        waiters, self._waiters = self._waiters, []
        for waiter in waiters:
            if not waiter.done():
                waiter.set_result(None)

    def close(self) -> None:
        """Unsubscribes; iteration ends once the buffered events are taken."""
        self._router.remove(self)
        self._end()

    def __aiter__(self) -> EventStream:
        return self

    async def __anext__(self) -> Notification:
        while not self._buffer:
            if self._ended:
                raise StopAsyncIteration
            waiter = asyncio.get_running_loop().create_future()
            self._waiters.append(waiter)
            try:
                await waiter
            finally:
                if waiter in self._waiters:
                    self._waiters.remove(waiter)
        return self._buffer.popleft()

    async def __aenter__(self) -> EventStream:
        return self

    async def __aexit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "ended" if self._ended else "open"
        return (
            f"<EventStream {state} buffered={len(self._buffer)} maxsize={self.maxsize} "
            f"dropped={self.dropped}>"
        )


def _disconnect(
    facade: DeviceFacade,
    worker: _Worker,
    loop: asyncio.AbstractEventLoop,
    done: asyncio.Future[None],
) -> None:
    """The closing thread: disconnects at once, ending the call in progress,
    then once more after the worker has ended, in case that call was a
    connect that succeeded; settles ``done``."""
    error: Optional[BaseException] = None
    try:
        facade.disconnect()
        worker.join()
        facade.disconnect()
    except BaseException as e:  # handed to close()
        error = e
    try:
        loop.call_soon_threadsafe(_settle, done, None, error)
    except RuntimeError:
        pass  # the loop is closed: nobody awaits the close any more


class AsyncDevice:
    """One adapter driven from the event loop that opened it. Made by
    ``connect`` and ``open``; see the module documentation."""

    def __init__(self, facade: DeviceFacade, loop: asyncio.AbstractEventLoop, name: str) -> None:
        self._facade = facade
        self._loop = loop
        self._name = name
        self._worker = _Worker(f"pyvantorsdk.aio {name}")
        self._router = _EventRouter(loop)
        self._closing: Optional[asyncio.Future[None]] = None
        facade.on_notification(self._router)
        self._router.on_lost = weakref.WeakMethod(self._connection_lost)
        facade.on_connection_lost(self._router.connection_lost)
        # A device dropped without close() still disconnects, after the call
        # in progress; the finalizer holds no reference to the device.
        self._finalizer = weakref.finalize(self, self._worker.shut_down, facade)

    @property
    def closed(self) -> bool:
        return self._closing is not None

    @property
    def dropped_events(self) -> int:
        """Events dropped from full subscription buffers, over all of them."""
        return self._router.dropped

    @property
    def dropped_notifications(self) -> int:
        """Notifications the facade itself dropped before they reached the loop."""
        return self._facade.dropped_notifications

    def events(self, maxsize: int = 1024) -> EventStream:
        """Subscribes to the events that arrive from now on."""
        stream = EventStream(self._router, maxsize)
        if self.closed:
            stream._end()
        else:
            self._router.add(stream)
        return stream

    def _end_events(self) -> None:
        self._router.end_all()

    def _fail_queued(self) -> None:
        for item in self._worker.take_queued():
            # A task cancelled in this loop step has not withdrawn its job
            # yet, but its waiter is cancelled already.
            if isinstance(item, _Job) and item.cancel() and not item.waiter.done():
                item.waiter.set_exception(_disconnected(item.name))

    def _connection_lost(self) -> None:
        """Loop thread: the adapter stopped answering."""
        if self.closed:
            return
        self._fail_queued()
        self._end_events()

    async def _call(self, name: str, call: Callable[[], Any]) -> Any:
        if self.closed:
            raise _disconnected(name)
        loop = asyncio.get_running_loop()
        if loop is not self._loop:
            raise RuntimeError(f"{self!r} belongs to another event loop")
        job = _Job(call, name, loop, loop.create_future())
        self._worker.put(job)
        try:
            return await job.waiter
        except asyncio.CancelledError:
            job.cancel()
            raise
        except DisconnectError:
            self._end_events()
            raise

    async def close(self) -> None:
        """Fails the queued calls with DisconnectError, disconnects (which
        ends the call in progress with DisconnectError too) and ends every
        event subscription."""
        if self._closing is None:
            self._closing = self._loop.create_future()
            self._finalizer.detach()
            self._fail_queued()
            self._end_events()
            self._worker.put(_STOP)
            # The worker may wait for an answer without limit: the
            # disconnect runs on a thread of its own, so as to end that wait
            # without holding up the loop.
            threading.Thread(
                target=_disconnect,
                args=(self._facade, self._worker, self._loop, self._closing),
                name=f"pyvantorsdk.aio close {self._name}",
                daemon=True,
            ).start()
        await asyncio.shield(self._closing)

    async def __aenter__(self) -> AsyncDevice:
        return self

    async def __aexit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None:
        await self.close()

    def __repr__(self) -> str:
        return f"<AsyncDevice {self._name} {'closed' if self.closed else 'open'}>"

    if TYPE_CHECKING:
        # The adapter operations, set on the class below from OPERATIONS, as
        # type checkers see them: DeviceFacade's signatures as coroutines (a
        # test keeps the two lists equal).
        async def enter_boot_mode(self) -> None: ...
        async def get_bulk_capabilities(self) -> tuple[Any, ...]: ...
        async def get_device_info(self) -> DeviceInfo: ...
        async def get_discarded_response_count(self) -> int: ...
        async def get_usb_config(self) -> tuple[int, int, int]: ...
        async def get_version(self) -> str: ...
        async def gpio_configure_interrupt(
            self, pin: int | GpioPinNumber, trigger: int | GpioTriggerType
        ) -> None: ...
        async def gpio_configure_pin(
            self,
            pin: int | GpioPinNumber,
            functionality: int | GpioFunctionality,
            initial_level: int | GpioLogicLevel = 0,
        ) -> None: ...
        async def gpio_digital_read(self, pin: int | GpioPinNumber) -> int: ...
        async def gpio_digital_write(
            self, pin: int | GpioPinNumber, level: int | GpioLogicLevel
        ) -> None: ...
        async def gpio_disable_interrupt(self, pin: int | GpioPinNumber) -> None: ...
        async def gpio_get_voltage(self) -> int: ...
        async def gpio_set_voltage(self, voltage_mv: int, persist: bool = False) -> None: ...
        async def gpio_use_external_voltage(self, persist: bool = False) -> None: ...
        async def i2c_controller_init(
            self, bus: int | I2cBus, frequency_hz: int, pull_up: int | I2cPullUp
        ) -> None: ...
        async def i2c_deinit(self, bus: int | I2cBus) -> None: ...
        async def i2c_get_bus_voltage(self) -> int: ...
        async def i2c_read(
            self, bus: int | I2cBus, address: int, subaddress: bytes, length: int, non_stop: bool
        ) -> bytes: ...
        async def i2c_read_bulk(
            self, bus: int | I2cBus, address: int, subaddress: bytes, length: int, non_stop: bool
        ) -> bytes: ...
        async def i2c_scan_bus(
            self, bus: int | I2cBus, include_10bit: bool = False
        ) -> I2cScanResult: ...
        async def i2c_set_bus_voltage(self, voltage_mv: int, persist: bool = False) -> None: ...
        async def i2c_set_parameters(
            self, bus: int | I2cBus, frequency_hz: int, pull_up: int | I2cPullUp
        ) -> None: ...
        async def i2c_set_pull_up_resistors(
            self, bus: int | I2cBus, value: int | I2cPullUp
        ) -> None: ...
        async def i2c_target_erase(
            self, scope: int | I2cTargetEraseScope, address: int
        ) -> None: ...
        async def i2c_target_init(
            self,
            bus: int | I2cBus,
            address: int,
            address_mode: int | I2cTargetAddressMode,
            memory_layout: int | I2cTargetMemoryLayout,
            model: int | I2cTargetModel,
        ) -> int: ...
        async def i2c_target_read_memory(self, memory_address: int, length: int) -> bytes: ...
        async def i2c_target_set_eeprom_config(
            self,
            total_size: int,
            page_size: int,
            write_cycle_us: int,
            erase_cycle_us: int,
            busy_behavior: int | I2cTargetEepromBusyBehavior,
            erased_value: int,
            wp_start: int,
            wp_end: int,
        ) -> None: ...
        async def i2c_target_set_parameters(
            self,
            bus: int | I2cBus,
            address: int,
            address_mode: int | I2cTargetAddressMode,
            memory_layout: int | I2cTargetMemoryLayout,
            model: int | I2cTargetModel,
        ) -> int: ...
        async def i2c_target_set_register_region(
            self,
            start_address: int,
            end_address: int,
            access: int | I2cTargetRegisterAccess,
            width: int,
            flags: int,
        ) -> None: ...
        async def i2c_target_write_memory(self, memory_address: int, data: bytes) -> None: ...
        async def i2c_use_external_voltage(self, persist: bool = False) -> None: ...
        async def i2c_write(
            self, bus: int | I2cBus, address: int, subaddress: bytes, data: bytes, non_stop: bool
        ) -> None: ...
        async def i2c_write_bulk(
            self, bus: int | I2cBus, address: int, subaddress: bytes, data: bytes, non_stop: bool
        ) -> None: ...
        async def i3c_ccc_disec_broadcast(
            self, events: int | I3cEvent, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_disec_direct(
            self, address: int, events: int | I3cEvent, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_enec_broadcast(
            self, events: int | I3cEvent, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_enec_direct(
            self, address: int, events: int | I3cEvent, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_entas0_broadcast(self, flags: int | I3cTransferFlags = 0) -> None: ...
        async def i3c_ccc_entas0_direct(
            self, address: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_entas1_broadcast(self, flags: int | I3cTransferFlags = 0) -> None: ...
        async def i3c_ccc_entas1_direct(
            self, address: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_entas2_broadcast(self, flags: int | I3cTransferFlags = 0) -> None: ...
        async def i3c_ccc_entas2_direct(
            self, address: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_entas3_broadcast(self, flags: int | I3cTransferFlags = 0) -> None: ...
        async def i3c_ccc_entas3_direct(
            self, address: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_entdaa(self, targets: Sequence[Mapping[str, Any]] = ()) -> None: ...
        async def i3c_ccc_getbcr(self, address: int, flags: int | I3cTransferFlags = 0) -> int: ...
        async def i3c_ccc_getcaps(
            self,
            target_address: int,
            def_byte: int | None = None,
            flags: int | I3cTransferFlags = 0,
        ) -> bytes: ...
        async def i3c_ccc_getdcr(self, address: int, flags: int | I3cTransferFlags = 0) -> int: ...
        async def i3c_ccc_getmrl(
            self, address: int, flags: int | I3cTransferFlags = 0
        ) -> tuple[int, int | None]: ...
        async def i3c_ccc_getmwl(self, address: int, flags: int | I3cTransferFlags = 0) -> int: ...
        async def i3c_ccc_getmxds(
            self, target_address: int, flags: int | I3cTransferFlags = 0
        ) -> bytes: ...
        async def i3c_ccc_getpid(
            self, address: int, flags: int | I3cTransferFlags = 0
        ) -> bytes: ...
        async def i3c_ccc_getstatus(
            self,
            target_address: int,
            def_byte: int | None = None,
            flags: int | I3cTransferFlags = 0,
        ) -> bytes: ...
        async def i3c_ccc_getxtime(
            self, target_address: int, flags: int | I3cTransferFlags = 0
        ) -> bytes: ...
        async def i3c_ccc_rstact_broadcast(
            self, def_byte: int | I3cTargetResetDefByte, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_rstact_direct(
            self,
            target_address: int,
            def_byte: int | I3cTargetResetDefByte,
            direction: int | I3cTransferDirection,
            flags: int | I3cTransferFlags = 0,
        ) -> int | None: ...
        async def i3c_ccc_rstdaa(self, flags: int | I3cTransferFlags = 0) -> None: ...
        async def i3c_ccc_rstgrpa_broadcast(self, flags: int | I3cTransferFlags = 0) -> None: ...
        async def i3c_ccc_rstgrpa_direct(
            self, address: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setaasa(
            self, static_addresses: Sequence[int], flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setbuscon_broadcast(
            self, context: int, data: bytes | None = None, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setdasa(
            self, static_address: int, dynamic_address: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setgrpa_direct(
            self, target_address: int, grpa: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setmrl_broadcast(
            self, mrl: int, ibi_length: int | None = None, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setmrl_direct(
            self,
            address: int,
            mrl: int,
            ibi_length: int | None = None,
            flags: int | I3cTransferFlags = 0,
        ) -> None: ...
        async def i3c_ccc_setmwl_broadcast(
            self, mwl: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setmwl_direct(
            self, address: int, mwl: int, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setnewda(
            self,
            old_dynamic_address: int,
            new_dynamic_address: int,
            flags: int | I3cTransferFlags = 0,
        ) -> None: ...
        async def i3c_ccc_setxtime_broadcast(
            self, sub_cmd_byte: int, data: bytes | None = None, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_ccc_setxtime_direct(
            self,
            target_address: int,
            sub_cmd_byte: int,
            data: bytes | None = None,
            flags: int | I3cTransferFlags = 0,
        ) -> None: ...
        async def i3c_controller_init(
            self,
            push_pull_frequency: int | I3cPushPullRate,
            open_drain_frequency: int | I3cOpenDrainRate,
            i2c_open_drain_frequency: int | I2cOpenDrainRate,
            drive_strength: int | I3cDriveStrength,
        ) -> None: ...
        async def i3c_get_bus_voltage(self) -> tuple[int, int]: ...
        async def i3c_get_device_table(self) -> list[dict[str, Any]]: ...
        async def i3c_hdr_ddr_read(
            self, address: int, command: int, length: int, flags: int | I3cTransferFlags = 0
        ) -> bytes: ...
        async def i3c_hdr_ddr_read_bulk(
            self, address: int, command: int, length: int, flags: int | I3cTransferFlags = 0
        ) -> bytes: ...
        async def i3c_hdr_ddr_write(
            self, address: int, command: int, data: bytes, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_hdr_ddr_write_bulk(
            self, address: int, command: int, data: bytes, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_hdr_exit_pattern(self) -> None: ...
        async def i3c_init_bus(self, targets: Sequence[Mapping[str, Any]] = ()) -> None: ...
        async def i3c_legacy_i2c_read(
            self, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags
        ) -> bytes: ...
        async def i3c_legacy_i2c_read_bulk(
            self, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags = 0
        ) -> bytes: ...
        async def i3c_legacy_i2c_write(
            self, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags
        ) -> None: ...
        async def i3c_legacy_i2c_write_bulk(
            self, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_reset_bus(self) -> None: ...
        async def i3c_sdr_read(
            self, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags = 2
        ) -> bytes: ...
        async def i3c_sdr_read_bulk(
            self, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags = 0
        ) -> bytes: ...
        async def i3c_sdr_write(
            self, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags = 2
        ) -> None: ...
        async def i3c_sdr_write_bulk(
            self, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags = 0
        ) -> None: ...
        async def i3c_set_bus_voltage(self, voltage_mv: int) -> None: ...
        async def i3c_set_parameters(
            self,
            push_pull_frequency: int | I3cPushPullRate,
            open_drain_frequency: int | I3cOpenDrainRate,
            i2c_open_drain_frequency: int | I2cOpenDrainRate,
            drive_strength: int | I3cDriveStrength,
        ) -> None: ...
        async def i3c_set_target_device_configuration(
            self, address: int, configuration: int
        ) -> None: ...
        async def i3c_target_init(
            self,
            memory_layout: int | I3cTargetMemoryLayout,
            pid: bytes,
            bcr: int,
            dcr: int,
            static_address: int,
            mwl: int = 1024,
            mrl: int = 1024,
        ) -> None: ...
        async def i3c_target_read_memory(self, memory_address: int, length: int) -> bytes: ...
        async def i3c_target_reset_pattern(self) -> None: ...
        async def i3c_target_set_parameters(
            self,
            memory_layout: int | I3cTargetMemoryLayout,
            pid: bytes,
            bcr: int,
            dcr: int,
            static_address: int,
            mwl: int = 1024,
            mrl: int = 1024,
        ) -> None: ...
        async def i3c_target_write_memory(self, memory_address: int, data: bytes) -> None: ...
        async def i3c_use_external_voltage(self, persist: bool = False) -> None: ...
        async def is_bulk_transport_available(self) -> bool: ...
        async def reset_device(self) -> None: ...
        async def set_usb_config(
            self, webusb_enabled: int, cdc_enabled: int, cdc_mode: int
        ) -> None: ...
        async def spi_controller_init(
            self,
            bit_order: int | SpiBitOrder,
            mode: int | SpiMode,
            data_width: int | SpiDataWidth,
            chip_select: int | SpiChipSelect,
            chip_select_polarity: int | SpiChipSelectPolarity,
            frequency_hz: int,
        ) -> None: ...
        async def spi_deinit(self) -> None: ...
        async def spi_get_bus_voltage(self) -> int: ...
        async def spi_read_bulk(self, command_bytes: bytes, read_length: int) -> bytes: ...
        async def spi_set_bus_voltage(self, voltage_mv: int, persist: bool = False) -> None: ...
        async def spi_set_parameters(
            self,
            bit_order: int | SpiBitOrder,
            mode: int | SpiMode,
            data_width: int | SpiDataWidth,
            chip_select: int | SpiChipSelect,
            chip_select_polarity: int | SpiChipSelectPolarity,
            frequency_hz: int,
        ) -> None: ...
        async def spi_target_init(
            self,
            mode: int | SpiMode,
            bit_order: int | SpiBitOrder,
            chip_select: int | SpiChipSelect,
            chip_select_polarity: int | SpiChipSelectPolarity,
            model: int | SpiTargetModel,
            engine: int | SpiTargetEngine,
        ) -> int: ...
        async def spi_target_read_memory(self, memory_address: int, length: int) -> bytes: ...
        async def spi_target_set_flash_config(
            self,
            address_bytes: int,
            page_size: int,
            write_cycle_us: int,
            jedec_id: bytes,
            flags: int,
        ) -> None: ...
        async def spi_target_set_parameters(
            self,
            mode: int | SpiMode,
            bit_order: int | SpiBitOrder,
            chip_select: int | SpiChipSelect,
            chip_select_polarity: int | SpiChipSelectPolarity,
            model: int | SpiTargetModel,
            engine: int | SpiTargetEngine,
        ) -> int: ...
        async def spi_target_write_memory(self, memory_address: int, data: bytes) -> None: ...
        async def spi_transfer(self, data: bytes, transfer_length: int) -> bytes: ...
        async def spi_transfer_bulk(self, data: bytes, transfer_length: int) -> bytes: ...
        async def spi_use_external_voltage(self, persist: bool = False) -> None: ...
        async def spi_write_bulk(self, data: bytes) -> None: ...
        async def start_trace(self, path: str | os.PathLike[str]) -> None: ...
        async def stop_trace(self) -> None: ...
        async def uart_deinit(self) -> None: ...
        async def uart_get_bus_voltage(self) -> int: ...
        async def uart_init(
            self,
            baudrate: UartBaudRate,
            hardware_handshake: UartHwHandshake,
            parity: UartParity,
            data_size: UartDataSize,
            stop_bit: UartStopBit,
        ) -> None: ...
        async def uart_send_message(self, data: bytes) -> None: ...
        async def uart_set_bus_voltage(self, voltage_mv: int, persist: bool = False) -> None: ...
        async def uart_set_parameters(
            self,
            baudrate: UartBaudRate,
            hardware_handshake: UartHwHandshake,
            parity: UartParity,
            data_size: UartDataSize,
            stop_bit: UartStopBit,
        ) -> None: ...
        async def uart_use_external_voltage(self, persist: bool = False) -> None: ...


def _operation(name: str) -> Callable[..., Any]:
    method = getattr(DeviceFacade, name)

    async def operation(self: AsyncDevice, *args: Any, **kwargs: Any) -> Any:
        return await self._call(name, functools.partial(method, self._facade, *args, **kwargs))

    operation.__name__ = name
    operation.__qualname__ = f"AsyncDevice.{name}"
    operation.__doc__ = method.__doc__
    return operation


for _name in OPERATIONS:
    setattr(AsyncDevice, _name, _operation(_name))
del _name


# The facade takes its time-out as a C int of milliseconds.
_LONGEST_TIMEOUT = (2**31 - 1) / 1000


def _timeout_ms(timeout: Optional[float]) -> int:
    """The facade's time-out: whole milliseconds, rounded up (a positive
    time-out waits at least 1 ms); -1 for no limit (None or inf)."""
    if timeout is None:
        return -1
    if not isinstance(timeout, numbers.Real) or isinstance(timeout, bool):
        raise TypeError(f"timeout must be a number of seconds or None, not {timeout!r}")
    seconds = float(timeout)
    if seconds == math.inf:
        return -1
    if not 0 <= seconds <= _LONGEST_TIMEOUT:  # NaN fails too
        raise ValueError(
            f"timeout must be from 0 to {_LONGEST_TIMEOUT} seconds, or None or inf for no "
            f"limit, not {timeout!r}"
        )
    # Rounded to the nanosecond first: 2.007 s is 2007.0000000000002 ms.
    return math.ceil(round(seconds * 1000, 6))


async def connect(
    path: Optional[str] = None, *, serial: Optional[str] = None, timeout: Optional[float] = 2.0
) -> AsyncDevice:
    """Opens the adapter at ``path``, the first with serial number ``serial``,
    or the first supported adapter; raises DisconnectError when none opens."""
    if path is not None and serial is not None:
        raise ValueError("give a path or a serial number, not both")
    facade = DeviceFacade(timeout_ms=_timeout_ms(timeout))
    if serial is not None:
        name, opening = f"serial={serial!r}", functools.partial(facade.connect_serial, serial)
    else:
        name = f"path={path!r}" if path else "first adapter"
        opening = functools.partial(facade.connect, path or "")
    device = AsyncDevice(facade, asyncio.get_running_loop(), name)
    try:
        opened = await device._call("connect", opening)
    except BaseException:
        await asyncio.shield(device.close())
        raise
    if not opened:
        await device.close()
        raise _disconnected("connect")
    return device


class _Opening:
    """What ``open`` returns: an async context manager over the device, or an
    awaitable of it."""

    def __init__(
        self, path: Optional[str], serial: Optional[str], timeout: Optional[float]
    ) -> None:
        self._arguments = (path, serial, timeout)
        self._device: Optional[AsyncDevice] = None

    async def _connect(self) -> AsyncDevice:
        path, serial, timeout = self._arguments
        return await connect(path, serial=serial, timeout=timeout)

    def __await__(self) -> Generator[Any, None, AsyncDevice]:
        return self._connect().__await__()

    async def __aenter__(self) -> AsyncDevice:
        self._device = await self._connect()
        return self._device

    async def __aexit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None:
        if self._device is not None:
            await self._device.close()


def open(  # noqa: A001  (the module's own open, as in aio.open)
    path: Optional[str] = None, *, serial: Optional[str] = None, timeout: Optional[float] = 2.0
) -> _Opening:
    """``async with open(...) as dev:`` opens the adapter as ``connect`` does
    and closes it when the block ends."""
    return _Opening(path, serial, timeout)
