# SPDX-License-Identifier: MIT
"""The adapter's UART with the interface of ``serial.Serial``.

Open it on a connected facade, or by URL through ``serial.serial_for_url``
(and so in any tool that takes a pyserial URL, such as miniterm)::

    from pyvantorsdk.serialport import Serial
    port = Serial(device=dev, baudrate=115200, timeout=1)   # a connected DeviceFacade

    import serial
    port = serial.serial_for_url("vantor://SIM0001", baudrate=115200, timeout=1)

URLs:

- ``vantor://`` the first adapter found;
- ``vantor://SERIAL`` the adapter with that serial number;
- ``vantor://?path=HIDPATH`` the adapter at that HID path;
- ``vantor://sim`` a new virtual adapter in this process, closed with the
  port; ``vantor://sim?loopback=1`` wires its TX to its RX (``loopback``
  takes 1/0, true/false, yes/no or on/off, in any case).

Settings map to the adapter's: ``baudrate`` one of 600, 1200, 2400, 4800,
9600, 14400, 19200, 38400, 56000, 57600, 115200; ``bytesize`` 7 or 8;
``parity`` none, even or odd; ``stopbits`` 1 or 2; ``rtscts`` the hardware
handshake. Anything else (mark or space parity, 1.5 stop bits, XON/XOFF,
DSR/DTR flow control) raises ``ValueError`` when the port opens or, on an
open port, when it is set. The adapter has no modem lines: RTS, DTR and
break are accepted and ignored, CTS, DSR, RI and CD read False.

Received bytes arrive as UART notifications; the port keeps them until
read, up to its receive buffer size (``DEFAULT_RX_BUFFER_SIZE``, 1 MiB,
changed with ``set_buffer_size(rx_size=...)``). As in a serial driver, bytes
that arrive while the buffer is full are dropped, and ``dropped_bytes``
counts them. The port takes over the facade's notification callback while
it is open and puts back the one it replaced when it closes; other
notifications go to ``forward`` when one is given.

``write`` sends in requests of up to 1024 bytes; ``write_timeout`` is
checked between them: 0 sends one request and returns the count sent, and
a write still unfinished at the timeout raises ``SerialTimeoutException``
(the requests already sent stay sent).
"""

from __future__ import annotations

import operator
import threading
import time
import urllib.parse
from typing import Any, Callable, Dict, Optional, Tuple

import serial

from pyvantorsdk._cpp._pyvantorsdk_cpp import (
    DeviceFacade,
    Notification,
    StatusCode,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartRxNotification,
    UartStopBit,
)
from pyvantorsdk.errors import VantorError

__all__ = ["Serial", "serial_class_for_url", "BAUDRATES", "DEFAULT_RX_BUFFER_SIZE"]

SCHEME = "vantor"

_BAUDRATE = {
    600: UartBaudRate.BAUD_600,
    1200: UartBaudRate.BAUD_1200,
    2400: UartBaudRate.BAUD_2400,
    4800: UartBaudRate.BAUD_4800,
    9600: UartBaudRate.BAUD_9600,
    14400: UartBaudRate.BAUD_14400,
    19200: UartBaudRate.BAUD_19200,
    38400: UartBaudRate.BAUD_38400,
    56000: UartBaudRate.BAUD_56000,
    57600: UartBaudRate.BAUD_57600,
    115200: UartBaudRate.BAUD_115200,
}
BAUDRATES: Tuple[int, ...] = tuple(_BAUDRATE)
_BYTESIZE = {serial.SEVENBITS: UartDataSize.BITS_7, serial.EIGHTBITS: UartDataSize.BITS_8}
_PARITY = {
    serial.PARITY_NONE: UartParity.NONE,
    serial.PARITY_EVEN: UartParity.EVEN,
    serial.PARITY_ODD: UartParity.ODD,
}
_STOPBITS = {serial.STOPBITS_ONE: UartStopBit.ONE, serial.STOPBITS_TWO: UartStopBit.TWO}
# One send request carries at most this much; longer writes are split.
_MAX_SEND = 1024
# Received bytes kept for reading, unless set_buffer_size says otherwise.
DEFAULT_RX_BUFFER_SIZE = 1 << 20
# The spellings of the URL's loopback option.
_FLAGS = {
    **dict.fromkeys(("1", "true", "yes", "on"), True),
    **dict.fromkeys(("0", "false", "no", "off"), False),
}

_Settings = Tuple[UartBaudRate, UartHwHandshake, UartParity, UartDataSize, UartStopBit]


class Serial(serial.SerialBase):
    """The adapter's UART as a ``serial.Serial``.

    ``device`` is a connected ``DeviceFacade`` to use (the port does not
    disconnect it); without it the port opens the adapter its URL names and
    disconnects it on ``close()``. ``forward`` receives the facade's
    notifications other than UART reception.
    """

    BAUDRATES = BAUDRATES

    is_open: bool

    def __init__(
        self,
        port: Optional[str] = None,
        *args: Any,
        device: Optional[DeviceFacade] = None,
        forward: Optional[Callable[[Notification], object]] = None,
        **kwargs: Any,
    ) -> None:
        self._given_device = device
        self._forward = forward
        self._device: Optional[DeviceFacade] = None
        self._adapter: Any = None  # a virtual adapter this port created
        self._received = bytearray()
        self._rx_size = DEFAULT_RX_BUFFER_SIZE
        self._dropped = 0
        # The facade's callback that the port replaced while it is open.
        self._replaced: Optional[Callable[[Notification], object]] = None
        self._changed = threading.Condition()
        self._cancelled = False
        # SerialBase opens the port when given one; with a device the URL may
        # be left out.
        if port is None and device is not None:
            port = f"{SCHEME}://"
        super().__init__(port, *args, **kwargs)

    # ------------------------------------------------------------ open, close
    def open(self) -> None:
        if self.is_open:
            raise serial.SerialException("Port is already open.")
        if self._port is None and self._given_device is None:
            raise serial.SerialException("Port must be configured before it can be used.")
        settings = self._settings()
        device = self._given_device or self._connect(self._port or f"{SCHEME}://")
        self._device = device
        with self._changed:
            self._received.clear()
            self._dropped = 0
            self._cancelled = False
        self._replaced = device.on_notification(self._on_notification)
        try:
            try:
                device.uart_init(*settings)
            except VantorError as error:
                if error.status_code != StatusCode.FW_INTERFACE_ALREADY_INITIALIZED:
                    raise
                device.uart_set_parameters(*settings)
        except VantorError as error:
            self._release()
            raise serial.SerialException(f"could not open {self._port}: {error}") from error
        self.is_open = True

    def close(self) -> None:
        if self.is_open:
            self.is_open = False
            self.cancel_read()
            self._release()

    def _release(self) -> None:
        device, self._device = self._device, None
        if device is None:
            return
        replaced, self._replaced = self._replaced, None
        current = device.on_notification(replaced)
        if current != self._on_notification:
            # Its owner set another callback while the port was open: that
            # one stays.
            device.on_notification(current)
        if device is not self._given_device:
            device.disconnect()
        if self._adapter is not None:
            self._adapter.close()
            self._adapter = None

    def _connect(self, url: str) -> DeviceFacade:
        target, options = _parse_url(url)
        device = DeviceFacade()
        if target == "sim":
            from pyvantorsdk import sim

            self._adapter = sim.VirtualAdapter()
            self._adapter.uart.loopback = _FLAGS[options.get("loopback", "0").lower()]
            connected = device.connect(self._adapter.path)
        elif "path" in options:
            connected = device.connect(options["path"])
        elif target:
            connected = device.connect_serial(target)
        else:
            connected = device.connect()
        if not connected:
            if self._adapter is not None:
                self._adapter.close()
                self._adapter = None
            raise serial.SerialException(f"could not open {url}: no such adapter")
        return device

    def from_url(self, url: str) -> str:
        """Check a URL; the port is opened by ``open``."""
        _parse_url(url)
        return url

    # ---------------------------------------------------------------- settings
    def _settings(self) -> _Settings:
        """The adapter's settings for the port's, or ValueError."""
        if self._baudrate not in _BAUDRATE:
            raise ValueError(
                f"baudrate {self._baudrate} not supported by the adapter (one of {BAUDRATES})"
            )
        if self._bytesize not in _BYTESIZE:
            raise ValueError(f"bytesize {self._bytesize} not supported by the adapter (7 or 8)")
        if self._parity not in _PARITY:
            raise ValueError(f"parity {self._parity!r} not supported by the adapter (N, E or O)")
        if self._stopbits not in _STOPBITS:
            raise ValueError(f"stopbits {self._stopbits} not supported by the adapter (1 or 2)")
        if self._xonxoff:
            raise ValueError("the adapter has no software flow control (xonxoff)")
        if self._dsrdtr:
            raise ValueError("the adapter has no DSR/DTR flow control")
        handshake = UartHwHandshake.ENABLED if self._rtscts else UartHwHandshake.DISABLED
        return (
            _BAUDRATE[self._baudrate],
            handshake,
            _PARITY[self._parity],
            _BYTESIZE[self._bytesize],
            _STOPBITS[self._stopbits],
        )

    def _reconfigure_port(self) -> None:
        settings = self._settings()
        device = self._open_device()
        try:
            device.uart_set_parameters(*settings)
        except VantorError as error:
            raise serial.SerialException(f"could not change the settings: {error}") from error

    # ------------------------------------------------------------- reception
    def _on_notification(self, notification: Notification) -> None:
        # Runs on the facade's delivery thread.
        if isinstance(notification, UartRxNotification):
            with self._changed:
                data = notification.data
                room = max(0, self._rx_size - len(self._received))
                self._received += data[:room]
                self._dropped += max(0, len(data) - room)
                self._changed.notify_all()
        elif self._forward is not None:
            self._forward(notification)

    def set_buffer_size(self, rx_size: int = DEFAULT_RX_BUFFER_SIZE, tx_size: Any = None) -> None:
        """Keep at most ``rx_size`` received bytes for reading; later ones are
        dropped until some are read. Bytes already kept stay. ``tx_size`` is
        accepted and ignored: nothing waits on the host to be sent."""
        size = operator.index(rx_size)
        if size < 1:
            raise ValueError(f"rx_size {size} must be at least 1")
        with self._changed:
            self._rx_size = size

    @property
    def dropped_bytes(self) -> int:
        """Received bytes dropped because the receive buffer was full."""
        with self._changed:
            return self._dropped

    @property
    def in_waiting(self) -> int:
        """Bytes received and not yet read."""
        self._open_device()
        with self._changed:
            return len(self._received)

    def read(self, size: int = 1) -> bytes:
        """Up to ``size`` bytes: waits until that many arrived or ``timeout``
        passed (None waits without limit, 0 returns what is there)."""
        self._open_device()
        if size <= 0:
            return b""
        deadline = None if self._timeout is None else time.monotonic() + self._timeout
        with self._changed:
            # A cancel_read that came before this read ends it too, and is
            # used up by it.
            while len(self._received) < size and not self._cancelled:
                if deadline is None:
                    self._changed.wait()
                    continue
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    break
                self._changed.wait(remaining)
            self._cancelled = False
            data = bytes(self._received[:size])
            del self._received[:size]
            return data

    def cancel_read(self) -> None:
        """Make a waiting ``read`` return what it has at once."""
        with self._changed:
            self._cancelled = True
            self._changed.notify_all()

    def reset_input_buffer(self) -> None:
        """Drop the bytes received and not yet read."""
        self._open_device()
        with self._changed:
            self._received.clear()

    # ------------------------------------------------------------ transmission
    def write(self, data: Any) -> int:
        """Send ``data``; returns the count sent once the adapter took it
        (see ``write_timeout`` in the module documentation)."""
        device = self._open_device()
        payload = serial.to_bytes(data)
        timeout = self._write_timeout
        deadline = None if timeout is None else time.monotonic() + timeout
        sent = 0
        try:
            while sent < len(payload):
                if sent and deadline is not None and time.monotonic() >= deadline:
                    if timeout == 0:
                        break
                    raise serial.SerialTimeoutException(
                        f"Write timeout: {sent} of {len(payload)} bytes sent"
                    )
                chunk = payload[sent : sent + _MAX_SEND]
                device.uart_send_message(chunk)
                sent += len(chunk)
        except VantorError as error:
            raise serial.SerialException(f"write failed: {error}") from error
        return sent

    def flush(self) -> None:
        """Nothing waits on the host: ``write`` returns once the adapter has the bytes."""
        self._open_device()

    def reset_output_buffer(self) -> None:
        self._open_device()

    @property
    def out_waiting(self) -> int:
        return 0

    # ---------------------------------------------------------- modem lines
    def _update_rts_state(self) -> None:
        pass

    def _update_dtr_state(self) -> None:
        pass

    def _update_break_state(self) -> None:
        pass

    @property
    def cts(self) -> bool:
        return False

    @property
    def dsr(self) -> bool:
        return False

    @property
    def ri(self) -> bool:
        return False

    @property
    def cd(self) -> bool:
        return False

    def _open_device(self) -> DeviceFacade:
        if not self.is_open or self._device is None:
            raise serial.PortNotOpenError()
        return self._device


def _parse_url(url: str) -> Tuple[str, Dict[str, str]]:
    """(target, options) of a ``vantor://`` URL; SerialException when it is
    not one or has an unknown option."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme.lower() != SCHEME:
        raise serial.SerialException(f"expected a {SCHEME}:// URL, not {url!r}")
    if parts.path not in ("", "/"):
        raise serial.SerialException(f"{url!r}: a {SCHEME}:// URL has no path (use ?path=...)")
    options: Dict[str, str] = {}
    for key, values in urllib.parse.parse_qs(parts.query, keep_blank_values=True).items():
        if key not in ("path", "loopback"):
            raise serial.SerialException(f"{url!r}: unknown option {key!r}")
        options[key] = values[-1]
    if options.get("loopback", "0").lower() not in _FLAGS:
        raise serial.SerialException(
            f"{url!r}: loopback={options['loopback']!r} is not one of 1/0, true/false, "
            "yes/no, on/off"
        )
    target = urllib.parse.unquote(parts.netloc)
    if "loopback" in options and target != "sim":
        raise serial.SerialException(f"{url!r}: loopback is an option of vantor://sim only")
    return target, options


def serial_class_for_url(url: str) -> Tuple[str, type]:
    """pyserial's URL hook: the port class for a ``vantor://`` URL."""
    _parse_url(url)
    return url, Serial


# pyserial finds the handler of vantor:// as serial.urlhandler.protocol_vantor,
# a file the wheel adds to the installed `serial` package, so that miniterm
# opens the adapter without importing pyvantorsdk. Both pyserial and labgrid's
# fork of it (pyserial-labgrid) install that package, the last one installed
# providing it; the package's own copy of the handler is registered too, so
# that vantor:// works in every process that imported this module, whichever
# of them provides `serial` (and from a source tree).
HANDLER_PACKAGE = "pyvantorsdk._urlhandler"
if HANDLER_PACKAGE not in serial.protocol_handler_packages:
    serial.protocol_handler_packages.append(HANDLER_PACKAGE)
