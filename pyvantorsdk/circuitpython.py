# SPDX-License-Identifier: MIT
"""The adapter's buses behind CircuitPython's ``busio`` and ``digitalio`` interfaces.

CircuitPython device drivers (those built on ``adafruit_bus_device`` among
them) take a bus object and call ``try_lock``, ``writeto``,
``writeto_then_readfrom`` and so on; the classes here give them the
adapter's buses instead of a microcontroller's::

    from pyvantorsdk import DeviceFacade
    from pyvantorsdk.circuitpython import I2C

    with DeviceFacade() as dev:
        dev.connect()
        i2c = I2C(dev)                 # bus A at 100 kHz
        while not i2c.try_lock():
            pass
        print([hex(a) for a in i2c.scan()])
        i2c.unlock()

Failures raise ``OSError`` with an errno, as CircuitPython does: an address
that is not acknowledged gives ``ENODEV``, a refused data byte ``EIO``, a
bus timeout ``ETIMEDOUT``. The adapter's exception is the ``__cause__``.

The objects share their ``DeviceFacade`` and do not serialise calls between
threads beyond the bus lock that drivers take.
"""

from __future__ import annotations

import enum
import errno
import sys
import threading
import weakref
from typing import Dict, Optional, Tuple, Union

from pyvantorsdk._cpp._pyvantorsdk_cpp import (
    DeviceFacade,
    GpioFunctionality,
    GpioLogicLevel,
    GpioPinNumber,
    I2cBus,
    I2cPullUp,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
    StatusCode,
)
from pyvantorsdk._oserror import raising_os_error
from pyvantorsdk.errors import VantorError

__all__ = ["I2C", "SPI", "ChipSelect", "DigitalInOut", "Direction", "Pull", "DriveMode"]

ReadableBuffer = Union[bytes, bytearray, memoryview]
WriteableBuffer = Union[bytearray, memoryview]

# CircuitPython's default for `end`: to the end of the buffer.
_TO_END = sys.maxsize
# The largest transfer the command channel carries; longer ones go over the
# vendor bulk interface when the adapter has it.
_MAX_COMMAND_TRANSFER = 1024
# Clock frequencies travel as unsigned 32-bit hertz.
_MAX_FREQUENCY = 0xFFFF_FFFF

_ERRNO = {
    StatusCode.FW_I2C_NACK_ADDRESS: errno.ENODEV,
    StatusCode.FW_I2C_NACK_BYTE: errno.EIO,
    StatusCode.FW_I2C_ARBITRATION_LOST: errno.EIO,
}


# `start` and `end` count the buffer's items (two bytes each in an
# array("H"), for one), as in CircuitPython; the bus carries their bytes. A
# buffer of other than one dimension is taken as its bytes.
def _items(buffer: ReadableBuffer) -> memoryview:
    view = memoryview(buffer)
    return view if view.ndim == 1 else view.cast("B")


def _as_bytes(buffer: ReadableBuffer, start: int, end: int) -> bytes:
    return _items(buffer)[start:end].tobytes()


def _window(buffer: WriteableBuffer, start: int, end: int) -> memoryview:
    view = _items(buffer)
    if view.readonly:
        raise TypeError("the buffer to read into must be writable")
    return view[start:end].cast("B")


def _check_frequency(name: str, hertz: int) -> None:
    if not 0 < hertz <= _MAX_FREQUENCY:
        raise ValueError(f"{name} {hertz} outside 1..{_MAX_FREQUENCY} Hz")


class _SharedBus:
    """The I2C objects of this process on one bus of one facade, and the
    settings they share. The adapter's bus has one clock, so every object on
    it asks for the same; the bus is released with the last object, and only
    when one of them set it up."""

    def __init__(self, frequency: int, pull_up: I2cPullUp, owned: bool) -> None:
        self.frequency = frequency
        self.pull_up = pull_up
        self.owned = owned
        # Weak: an object dropped without deinit() no longer counts.
        self.users: "weakref.WeakSet[I2C]" = weakref.WeakSet()


# Keyed by the facade's id and the bus: an entry with users holds them, and
# they hold the facade, so the id is not reused while the entry counts.
_SHARED_BUSES: Dict[Tuple[int, I2cBus], _SharedBus] = {}
_SHARED_BUSES_LOCK = threading.Lock()


class _Lockable:
    """The ``try_lock``/``unlock`` protocol of CircuitPython buses: a driver
    takes the bus before a transaction, and every transfer needs the lock."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._deinited = False

    def try_lock(self) -> bool:
        """Take the bus; False at once when another user holds it."""
        self._check_alive()
        return self._lock.acquire(blocking=False)

    def unlock(self) -> None:
        """Release the bus (nothing happens when it is not taken)."""
        if self._lock.locked():
            self._lock.release()

    def _check_lock(self) -> None:
        self._check_alive()
        if not self._lock.locked():
            raise RuntimeError("Function requires lock")

    def _check_alive(self) -> None:
        if self._deinited:
            raise ValueError("Object has been deinitialized and can no longer be used.")


class I2C(_Lockable):
    """An adapter I2C bus (A or B) as a ``busio.I2C``.

    Creating it sets the bus up as controller at ``frequency`` hertz with the
    given pull-up resistors; ``deinit()`` (or the end of a ``with`` block)
    releases it. Further objects on the same bus of the same facade share
    it: they must ask for the same frequency and pull-ups (``ValueError``
    otherwise, before anything is sent), and the bus is released when the
    last of them is deinitialised (or dropped). A bus that something else
    set up (an ``SMBus``, a direct facade call, an earlier run) is set to
    this object's frequency but left set up when it is deinitialised.
    """

    def __init__(
        self,
        device: DeviceFacade,
        bus: Union[I2cBus, int] = I2cBus.A,
        *,
        frequency: int = 100_000,
        pull_up: I2cPullUp = I2cPullUp.KOHM_4_7,
    ) -> None:
        super().__init__()
        _check_frequency("frequency", frequency)
        pull_up = I2cPullUp(pull_up)
        self._device = device
        self._bus = I2cBus(bus)
        self._frequency = frequency
        key = (id(device), self._bus)
        with _SHARED_BUSES_LOCK:
            shared = _SHARED_BUSES.get(key)
            if shared is not None and shared.users:
                if (frequency, pull_up) != (shared.frequency, shared.pull_up):
                    raise ValueError(
                        f"I2C bus {self._bus.name} is in use by another I2C object at "
                        f"{shared.frequency} Hz with pull-ups {shared.pull_up.name}"
                    )
            else:
                # An object of this process dropped without deinit() left the
                # bus set up: it is still this process's to release.
                left_by_us = shared is not None and shared.owned
                shared = _SharedBus(frequency, pull_up, self._set_up(pull_up) or left_by_us)
                _SHARED_BUSES[key] = shared
            shared.users.add(self)
            self._key, self._shared = key, shared

    def _set_up(self, pull_up: I2cPullUp) -> bool:
        """Set the bus up; True when this call did, False when it already was."""
        with raising_os_error(_ERRNO):
            try:
                self._device.i2c_controller_init(self._bus, self._frequency, pull_up)
                return True
            except VantorError as error:
                if error.status_code != StatusCode.FW_INTERFACE_ALREADY_INITIALIZED:
                    raise
                self._device.i2c_set_parameters(self._bus, self._frequency, pull_up)
                return False

    def __enter__(self) -> "I2C":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.deinit()

    def __repr__(self) -> str:
        return f"<I2C bus={self._bus.name} frequency={self._frequency}>"

    @property
    def bus(self) -> I2cBus:
        return self._bus

    @property
    def frequency(self) -> int:
        """The bus clock in hertz, as set."""
        return self._frequency

    def deinit(self) -> None:
        """Leave the bus (releasing it when this was its last object); the
        object cannot be used afterwards."""
        if self._deinited:
            return
        self._deinited = True
        shared = self._shared
        with _SHARED_BUSES_LOCK:
            shared.users.discard(self)
            if shared.users:
                return
            if _SHARED_BUSES.get(self._key) is shared:
                del _SHARED_BUSES[self._key]
            if not shared.owned:
                return
            try:
                self._device.i2c_deinit(self._bus)
            except VantorError:
                pass  # already released, or the adapter is gone

    def scan(self) -> list[int]:
        """The 7-bit addresses that answer, in ascending order."""
        self._check_lock()
        with raising_os_error(_ERRNO):
            return sorted(self._device.i2c_scan_bus(self._bus).addresses_7bit)

    def writeto(
        self, address: int, buffer: ReadableBuffer, *, start: int = 0, end: int = _TO_END
    ) -> None:
        """Write ``buffer[start:end]`` to ``address`` and end with a stop."""
        self._check_lock()
        self._write(address, _as_bytes(buffer, start, end), stop=True)

    def readfrom_into(
        self, address: int, buffer: WriteableBuffer, *, start: int = 0, end: int = _TO_END
    ) -> None:
        """Fill ``buffer[start:end]`` from ``address``."""
        self._check_lock()
        window = _window(buffer, start, end)
        if len(window):
            window[:] = self._read(address, b"", len(window))

    def writeto_then_readfrom(
        self,
        address: int,
        out_buffer: ReadableBuffer,
        in_buffer: WriteableBuffer,
        *,
        out_start: int = 0,
        out_end: int = _TO_END,
        in_start: int = 0,
        in_end: int = _TO_END,
    ) -> None:
        """Write ``out_buffer[out_start:out_end]``, then read into
        ``in_buffer[in_start:in_end]`` after a repeated start (no stop
        between)."""
        self._check_lock()
        out = _as_bytes(out_buffer, out_start, out_end)
        window = _window(in_buffer, in_start, in_end)
        if not len(window):
            self._write(address, out, stop=True)
            return
        if len(out) <= 4:
            # The adapter sends up to four leading bytes itself, then reads
            # after a repeated start: one transfer.
            window[:] = self._read(address, out, len(window))
        else:
            self._write(address, out, stop=False)
            window[:] = self._read(address, b"", len(window))

    def _write(self, address: int, data: bytes, *, stop: bool) -> None:
        with raising_os_error(_ERRNO):
            if len(data) > _MAX_COMMAND_TRANSFER and self._device.is_bulk_transport_available():
                self._device.i2c_write_bulk(self._bus, address, b"", data, not stop)
            else:
                self._device.i2c_write(self._bus, address, b"", data, not stop)

    def _read(self, address: int, subaddress: bytes, length: int) -> bytes:
        with raising_os_error(_ERRNO):
            if length > _MAX_COMMAND_TRANSFER and self._device.is_bulk_transport_available():
                data = self._device.i2c_read_bulk(self._bus, address, subaddress, length, False)
            else:
                data = self._device.i2c_read(self._bus, address, subaddress, length, False)
        if len(data) != length:
            raise OSError(errno.EIO, f"short I2C read: {len(data)} of {length} bytes")
        return data


class SPI(_Lockable):
    """The adapter's SPI controller as a ``busio.SPI``.

    The adapter drives its ``chip_select`` line itself, asserted for the
    length of each transfer. A driver that toggles a chip-select pin around
    several calls (``adafruit_bus_device.SPIDevice`` does) gets
    ``ChipSelect(spi)`` as that pin: while it is active, written bytes are
    held back and clocked out in front of the next read, or when the pin is
    released, so a command and the read of its answer form one transfer.
    ``configure`` (under the lock) sets clock, mode and word size; until
    then the bus runs at 100 kHz, mode 0, 8 bits.
    """

    def __init__(
        self,
        device: DeviceFacade,
        chip_select: Union[SpiChipSelect, int] = SpiChipSelect.CS_0,
        *,
        chip_select_polarity: SpiChipSelectPolarity = SpiChipSelectPolarity.ACTIVE_LOW,
        bit_order: SpiBitOrder = SpiBitOrder.MSB,
    ) -> None:
        super().__init__()
        self._device = device
        self._chip_select = SpiChipSelect(chip_select)
        self._polarity = chip_select_polarity
        self._bit_order = bit_order
        self._frequency = 100_000
        self._mode = SpiMode.MODE_0
        self._width = SpiDataWidth.BITS_8
        # Bytes written while a ChipSelect pin is active and not yet clocked
        # out; None while no pin is active.
        self._held: Optional[bytearray] = None
        with raising_os_error(_ERRNO):
            settings = (self._frequency, self._mode, self._width)
            try:
                self._apply(*settings, init=True)
            except VantorError as error:
                if error.status_code != StatusCode.FW_INTERFACE_ALREADY_INITIALIZED:
                    raise
                self._apply(*settings, init=False)

    def __enter__(self) -> "SPI":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.deinit()

    def __repr__(self) -> str:
        return (
            f"<SPI chip_select={self._chip_select.name} frequency={self._frequency} "
            f"mode={int(self._mode.value)} bits={8 if self._width == SpiDataWidth.BITS_8 else 16}>"
        )

    @property
    def frequency(self) -> int:
        """The clock in hertz, as configured."""
        return self._frequency

    @property
    def chip_select_polarity(self) -> SpiChipSelectPolarity:
        return self._polarity

    def deinit(self) -> None:
        """Release the controller; the object cannot be used afterwards."""
        if self._deinited:
            return
        self._deinited = True
        try:
            self._device.spi_deinit()
        except VantorError:
            pass

    def configure(
        self, *, baudrate: int = 100_000, polarity: int = 0, phase: int = 0, bits: int = 8
    ) -> None:
        """Set the clock (hertz), clock polarity and phase (0 or 1 each) and
        the word size (8 or 16 bits)."""
        self._check_lock()
        if polarity not in (0, 1) or phase not in (0, 1):
            raise ValueError("polarity and phase must be 0 or 1")
        if bits not in (8, 16):
            raise ValueError("the adapter's SPI words are 8 or 16 bits")
        _check_frequency("baudrate", baudrate)
        mode = SpiMode(polarity << 1 | phase)
        width = SpiDataWidth.BITS_8 if bits == 8 else SpiDataWidth.BITS_16
        # Drivers configure before every transaction; only a change is sent,
        # and the settings are kept once the adapter took them.
        if (baudrate, mode, width) == (self._frequency, self._mode, self._width):
            return
        with raising_os_error(_ERRNO):
            self._apply(baudrate, mode, width, init=False)
        self._frequency, self._mode, self._width = baudrate, mode, width

    def write(self, buffer: ReadableBuffer, *, start: int = 0, end: int = _TO_END) -> None:
        """Clock out ``buffer[start:end]``; what comes back is dropped."""
        self._check_lock()
        data = _as_bytes(buffer, start, end)
        if self._held is not None:
            self._held += data
        elif data:
            self._transfer(data)

    def readinto(
        self,
        buffer: WriteableBuffer,
        *,
        start: int = 0,
        end: int = _TO_END,
        write_value: int = 0,
    ) -> None:
        """Fill ``buffer[start:end]``, clocking out ``write_value`` for each byte."""
        self._check_lock()
        window = _window(buffer, start, end)
        if len(window):
            window[:] = self._clock(bytes([write_value & 0xFF]) * len(window))

    def write_readinto(
        self,
        out_buffer: ReadableBuffer,
        in_buffer: WriteableBuffer,
        *,
        out_start: int = 0,
        out_end: int = _TO_END,
        in_start: int = 0,
        in_end: int = _TO_END,
    ) -> None:
        """Clock out ``out_buffer[out_start:out_end]`` while filling
        ``in_buffer[in_start:in_end]``; both slices must be the same length."""
        self._check_lock()
        out = _as_bytes(out_buffer, out_start, out_end)
        window = _window(in_buffer, in_start, in_end)
        if len(out) != len(window):
            raise ValueError("buffer slices must be of equal length")
        if out:
            window[:] = self._clock(out)

    def _apply(self, frequency: int, mode: SpiMode, width: SpiDataWidth, *, init: bool) -> None:
        configure = self._device.spi_controller_init if init else self._device.spi_set_parameters
        configure(self._bit_order, mode, width, self._chip_select, self._polarity, frequency)

    def _select(self) -> None:
        self._held = bytearray()

    def _deselect(self) -> None:
        held, self._held = self._held, None
        if held:
            self._transfer(bytes(held))

    def _clock(self, data: bytes) -> bytes:
        """Clock out ``data`` behind any held bytes; what came back for ``data``."""
        if not self._held:
            return self._transfer(data)
        held = bytes(self._held)
        self._held.clear()
        return self._transfer(held + data)[len(held) :]

    def _transfer(self, data: bytes) -> bytes:
        with raising_os_error(_ERRNO):
            if len(data) > _MAX_COMMAND_TRANSFER and self._device.is_bulk_transport_available():
                received = self._device.spi_transfer_bulk(data, len(data))
            else:
                received = self._device.spi_transfer(data, len(data))
        if len(received) != len(data):
            raise OSError(errno.EIO, f"short SPI transfer: {len(received)} of {len(data)} bytes")
        return received


class Direction(enum.Enum):
    """Which way a pin drives."""

    INPUT = 0
    OUTPUT = 1


class Pull(enum.Enum):
    """Pull resistors; the adapter's GPIO pins have none."""

    UP = 1
    DOWN = 2


class DriveMode(enum.Enum):
    """Output stages; the adapter's GPIO pins are push-pull."""

    PUSH_PULL = 0
    OPEN_DRAIN = 1


class ChipSelect:
    """The adapter's chip-select line of ``spi`` as a ``DigitalInOut``, for
    drivers that assert chip select themselves around a transaction.

    The line follows the SPI object's polarity: with the default active-low
    line, setting ``value`` to False begins a transaction and True ends it.
    Bytes written in between go out in front of the next read, or at the end,
    as one transfer (one assertion of the line); a transaction that reads
    twice is two transfers.
    """

    def __init__(self, spi: SPI) -> None:
        self._spi = spi
        self._active_value = spi.chip_select_polarity == SpiChipSelectPolarity.ACTIVE_HIGH
        self._value = not self._active_value

    def __repr__(self) -> str:
        return f"<ChipSelect of {self._spi!r} active={self._value == self._active_value}>"

    @property
    def direction(self) -> Direction:
        return Direction.OUTPUT

    def switch_to_output(
        self, value: bool = False, drive_mode: DriveMode = DriveMode.PUSH_PULL
    ) -> None:
        if drive_mode != DriveMode.PUSH_PULL:
            raise NotImplementedError("the chip-select line is push-pull")
        self.value = value

    def deinit(self) -> None:
        self.value = not self._active_value

    @property
    def value(self) -> bool:
        return self._value

    @value.setter
    def value(self, value: bool) -> None:
        value = bool(value)
        if value == self._value:
            return
        self._value = value
        if value == self._active_value:
            self._spi._select()
        else:
            self._spi._deselect()


class DigitalInOut:
    """One of the adapter's six GPIO pins as a ``digitalio.DigitalInOut``.

    A new pin is an input. Outputs are push-pull; the pins have no pull
    resistors, so ``pull`` is always None and asking for one raises
    ``NotImplementedError``.
    """

    def __init__(self, device: DeviceFacade, pin: Union[GpioPinNumber, int]) -> None:
        self._device = device
        self._pin = GpioPinNumber(pin)
        self._direction = Direction.INPUT
        self._output_value = False
        self._deinited = False
        with raising_os_error({}):
            device.gpio_configure_pin(self._pin, GpioFunctionality.DIGITAL_INPUT)

    def __enter__(self) -> "DigitalInOut":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.deinit()

    def __repr__(self) -> str:
        return f"<DigitalInOut {self._pin.name} {self._direction.name}>"

    def deinit(self) -> None:
        """Leave the pin an input (high impedance); the object cannot be used afterwards."""
        if self._deinited:
            return
        self._deinited = True
        try:
            self._device.gpio_configure_pin(self._pin, GpioFunctionality.DIGITAL_INPUT)
        except VantorError:
            pass

    def switch_to_output(
        self, value: bool = False, drive_mode: DriveMode = DriveMode.PUSH_PULL
    ) -> None:
        """Make the pin an output that starts at ``value``."""
        self._check_alive()
        if drive_mode != DriveMode.PUSH_PULL:
            raise NotImplementedError("the adapter's GPIO outputs are push-pull only")
        level = GpioLogicLevel.HIGH if value else GpioLogicLevel.LOW
        with raising_os_error({}):
            self._device.gpio_configure_pin(self._pin, GpioFunctionality.DIGITAL_OUTPUT, level)
        self._direction = Direction.OUTPUT
        self._output_value = bool(value)

    def switch_to_input(self, pull: Optional[Pull] = None) -> None:
        """Make the pin an input."""
        self._check_alive()
        self._check_pull(pull)
        with raising_os_error({}):
            self._device.gpio_configure_pin(self._pin, GpioFunctionality.DIGITAL_INPUT)
        self._direction = Direction.INPUT

    @property
    def direction(self) -> Direction:
        self._check_alive()
        return self._direction

    @direction.setter
    def direction(self, direction: Direction) -> None:
        if direction == Direction.OUTPUT:
            self.switch_to_output(self._output_value)
        else:
            self.switch_to_input()

    @property
    def value(self) -> bool:
        """The level on the pin (an output reads back what it drives)."""
        self._check_alive()
        with raising_os_error({}):
            return bool(self._device.gpio_digital_read(self._pin))

    @value.setter
    def value(self, value: bool) -> None:
        self._check_alive()
        if self._direction != Direction.OUTPUT:
            raise AttributeError("Cannot set value when direction is input.")
        level = GpioLogicLevel.HIGH if value else GpioLogicLevel.LOW
        with raising_os_error({}):
            self._device.gpio_digital_write(self._pin, level)
        self._output_value = bool(value)

    @property
    def pull(self) -> Optional[Pull]:
        self._check_alive()
        if self._direction != Direction.INPUT:
            raise AttributeError("Pull not used when direction is output.")
        return None

    @pull.setter
    def pull(self, pull: Optional[Pull]) -> None:
        self._check_alive()
        if self._direction != Direction.INPUT:
            raise AttributeError("Pull not used when direction is output.")
        self._check_pull(pull)

    @property
    def drive_mode(self) -> DriveMode:
        self._check_alive()
        if self._direction != Direction.OUTPUT:
            raise AttributeError("Drive mode not used when direction is input.")
        return DriveMode.PUSH_PULL

    @drive_mode.setter
    def drive_mode(self, drive_mode: DriveMode) -> None:
        self._check_alive()
        if self._direction != Direction.OUTPUT:
            raise AttributeError("Drive mode not used when direction is input.")
        if drive_mode != DriveMode.PUSH_PULL:
            raise NotImplementedError("the adapter's GPIO outputs are push-pull only")

    @staticmethod
    def _check_pull(pull: Optional[Pull]) -> None:
        if pull is not None:
            raise NotImplementedError("the adapter's GPIO pins have no pull resistors")

    def _check_alive(self) -> None:
        if self._deinited:
            raise ValueError("Object has been deinitialized and can no longer be used.")
