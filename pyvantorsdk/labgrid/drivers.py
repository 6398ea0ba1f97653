# SPDX-License-Identifier: MIT
"""labgrid drivers for the adapter: the device itself, its UART as a
console, and one GPIO pin as a digital output.

``VantorDriver`` binds to one of the three resources and gives the test a
device with the DeviceFacade methods: on this host the facade itself, for
an exported adapter a ``RemoteDevice`` working through labgrid's agent. The
console and digital output drivers bind to a ``VantorDriver`` and share its
device, so that one adapter is opened once.
"""

from __future__ import annotations

import threading
from typing import Any, Callable, List, Optional, Union

import attr
from labgrid.driver.common import Driver
from labgrid.driver.consoleexpectmixin import ConsoleExpectMixin
from labgrid.factory import target_factory
from labgrid.protocol import ConsoleProtocol, DigitalOutputProtocol
from labgrid.step import step
from pexpect import TIMEOUT

from pyvantorsdk import (
    DeviceFacade,
    GpioFunctionality,
    GpioLogicLevel,
    GpioPinNumber,
    StatusCode,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartRxNotification,
    UartStopBit,
    errors,
    sim,
)
from pyvantorsdk.labgrid.proxy import RemoteDevice
from pyvantorsdk.labgrid.resources import NetworkVantorAdapter, VantorAdapter, VirtualVantorAdapter

__all__ = ["VantorDriver", "VantorConsoleDriver", "VantorDigitalOutputDriver"]

Listener = Callable[[Any], object]

def _seconds(value: Any) -> float:
    return float(value)


def _positive(_instance: Any, attribute: Any, value: float) -> None:
    if not value > 0:
        raise ValueError(f"{attribute.name} must be positive, not {value!r}")


# The UART rates the adapter offers, by bits per second.
BAUD_RATES = {int(member.name[len("BAUD_"):]): member for member in UartBaudRate}


@target_factory.reg_driver
@attr.s(eq=False)
class VantorDriver(Driver):
    """The adapter of a ``VantorAdapter``, ``NetworkVantorAdapter`` or
    ``VirtualVantorAdapter``, open while the driver is active.

    ``device`` has the DeviceFacade methods. ``timeout`` limits each call to
    an exported adapter (seconds); ``device_timeout_ms`` is the facade's own
    wait for an answer of the adapter. For a virtual adapter on this host,
    ``bench`` is the ``sim.VirtualAdapter``; a remote device reaches its
    exporter's bench through ``device.bench(...)``."""

    bindings = {"adapter": {VantorAdapter, NetworkVantorAdapter, VirtualVantorAdapter}}

    timeout: float = attr.ib(default=10.0, converter=_seconds, validator=_positive)
    device_timeout_ms: int = attr.ib(
        default=2000, validator=[attr.validators.instance_of(int), _positive]
    )

    def __attrs_post_init__(self) -> None:
        super().__attrs_post_init__()
        self._device: Optional[Union[DeviceFacade, RemoteDevice]] = None
        self._bench: Optional[sim.VirtualAdapter] = None
        self._listeners: List[Listener] = []
        self._listeners_lock = threading.Lock()

    def on_activate(self) -> None:
        if isinstance(self.adapter, NetworkVantorAdapter):
            locator = dict(self.adapter.agent_locator(), timeout_ms=self.device_timeout_ms)
            self._device = RemoteDevice(self.adapter.host, locator, timeout=self.timeout)
        else:
            self._device = self._open_here()
        self._device.on_notification(self._dispatch)

    def _open_here(self) -> DeviceFacade:
        locator = self.adapter.agent_locator()
        if locator["virtual"]:
            profile = locator["profile"]
            bench = sim.VirtualAdapter.from_profile(profile) if profile else sim.VirtualAdapter()
            bench.uart.loopback = bool(locator["uart_loopback"])
            self._bench = bench
        device = DeviceFacade(self.device_timeout_ms)
        if self._bench is not None:
            opened = device.connect(self._bench.path)
        else:
            opened = bool(locator["serial"]) and device.connect_serial(locator["serial"])
        if not opened:
            device.disconnect()
            self._close_bench()
            raise errors.NoAdapterError(
                StatusCode.SDK_ERROR_DISCONNECT, "connect", f"no adapter for {self.adapter}"
            )
        return device

    def _close_bench(self) -> None:
        if self._bench is not None:
            self._bench.close()
            self._bench = None

    def on_deactivate(self) -> None:
        device, self._device = self._device, None
        if device is not None:
            device.disconnect()
        self._close_bench()

    @property
    def device(self) -> Any:
        """The open device (DeviceFacade methods); the driver must be active."""
        if self._device is None:
            raise errors.DisconnectError(StatusCode.SDK_ERROR_DISCONNECT, "device")
        return self._device

    @property
    def bench(self) -> Optional[sim.VirtualAdapter]:
        """The virtual adapter on this host, or None (a real or remote one)."""
        return self._bench

    # The driver takes the device's notification callback and hands each
    # event to every listener: the console driver is one. A test that wants
    # events beside the console adds a listener rather than replacing the
    # callback with device.on_notification().
    def add_listener(self, listener: Listener) -> None:
        """Call listener(notification) for every event of the adapter (on
        the device's delivery thread)."""
        with self._listeners_lock:
            self._listeners.append(listener)

    def remove_listener(self, listener: Listener) -> None:
        with self._listeners_lock:
            if listener in self._listeners:
                self._listeners.remove(listener)

    def _dispatch(self, notification: Any) -> None:
        with self._listeners_lock:
            listeners = list(self._listeners)
        for listener in listeners:
            try:
                listener(notification)
            except Exception:
                self.logger.exception("notification listener %r failed", listener)


@target_factory.reg_driver
@attr.s(eq=False)
class VantorConsoleDriver(ConsoleExpectMixin, Driver, ConsoleProtocol):
    """labgrid's ConsoleProtocol over the adapter's UART (8N1 at
    ``baudrate``, one of the adapter's rates), for ShellDriver and friends.
    The UART is set up when the driver activates and released after."""

    bindings = {"vantor": VantorDriver}

    baudrate: int = attr.ib(default=115200, validator=attr.validators.in_(sorted(BAUD_RATES)))
    txdelay: float = attr.ib(default=0.0, converter=_seconds)
    txchunk: int = attr.ib(default=1, validator=attr.validators.instance_of(int))

    def __attrs_post_init__(self) -> None:
        super().__attrs_post_init__()
        self._received = bytearray()
        self._arrived = threading.Condition()

    def on_activate(self) -> None:
        self.vantor.device.uart_init(
            BAUD_RATES[self.baudrate],
            UartHwHandshake.DISABLED,
            UartParity.NONE,
            UartDataSize.BITS_8,
            UartStopBit.ONE,
        )
        with self._arrived:
            self._received.clear()
        self.vantor.add_listener(self._on_event)

    def on_deactivate(self) -> None:
        self.vantor.remove_listener(self._on_event)
        try:
            self.vantor.device.uart_deinit()
        except errors.VantorError as error:
            self.logger.warning("releasing the UART failed: %s", error)

    def _on_event(self, notification: Any) -> None:
        if isinstance(notification, UartRxNotification) or (
            type(notification).__name__ == "UartRxNotification"
        ):
            with self._arrived:
                self._received += notification.data
                self._arrived.notify_all()

    def _read(self, size: int = 1, timeout: float = 0.0, max_size: Optional[int] = None) -> bytes:
        """`size` bytes or more from the UART, waiting up to `timeout`
        seconds; what arrived by then (at most `max_size`). Raises pexpect's
        TIMEOUT when nothing arrived."""
        with self._arrived:
            self._arrived.wait_for(lambda: len(self._received) >= size, timeout=timeout)
            count = len(self._received)
            if max_size:
                count = min(count, max_size)
            data = bytes(self._received[:count])
            del self._received[:count]
        if not data:
            raise TIMEOUT(f"Timeout of {timeout:.2f} seconds exceeded")
        return data

    def _write(self, data: bytes) -> int:
        self.vantor.device.uart_send_message(bytes(data))
        return len(data)

    def open(self) -> None:
        """The UART opens with the driver's activation."""

    def close(self) -> None:
        """The UART closes with the driver's deactivation."""


@target_factory.reg_driver
@attr.s(eq=False)
class VantorDigitalOutputDriver(Driver, DigitalOutputProtocol):
    """labgrid's DigitalOutputProtocol on GPIO pin ``pin`` (1 to 6) of the
    adapter; ``invert`` drives it low for True. The pin becomes an output at
    the first ``set``; ``get`` reads the pin's level."""

    bindings = {"vantor": VantorDriver}

    pin: int = attr.ib(validator=attr.validators.in_(range(1, 7)))
    invert: bool = attr.ib(default=False, validator=attr.validators.instance_of(bool))

    def __attrs_post_init__(self) -> None:
        super().__attrs_post_init__()
        self._configured = False

    @property
    def _pin(self) -> GpioPinNumber:
        return GpioPinNumber(self.pin - 1)

    def on_activate(self) -> None:
        self._configured = False

    def on_deactivate(self) -> None:
        self._configured = False

    @Driver.check_active
    @step(args=["status"])
    def set(self, status: bool) -> None:
        level = GpioLogicLevel(int(bool(status) != self.invert))
        device = self.vantor.device
        if self._configured:
            device.gpio_digital_write(self._pin, level)
        else:
            device.gpio_configure_pin(self._pin, GpioFunctionality.DIGITAL_OUTPUT, level)
            self._configured = True

    @Driver.check_active
    @step(result=True)
    def get(self) -> bool:
        return bool(self.vantor.device.gpio_digital_read(self._pin)) != self.invert
