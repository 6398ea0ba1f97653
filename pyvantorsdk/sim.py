"""A virtual adapter for scripts and tests that run without hardware.

The adapter lives in this process and appears in the HID enumeration (after
the real devices) for as long as it is plugged in, so ``DeviceFacade`` reaches
it through the same transport code as real hardware::

    from pyvantorsdk import DeviceFacade, sim

    with sim.VirtualAdapter() as adapter, DeviceFacade() as dev:
        dev.connect(adapter.path)
        print(dev.get_device_info())

Its firmware model answers requests the way the adapter does; ``set_handler``
replaces it with a function of your own, and the traffic records
(``requests``, ``reports``, ``bulk_received``) show what the host sent.
"""

from __future__ import annotations

from typing import Callable, Dict, List, NamedTuple, Optional, Sequence, Tuple, Union

from pyvantorsdk._cpp._pyvantorsdk_cpp import DeviceModel
from pyvantorsdk._cpp._pyvantorsdk_cpp import _sim as _native

__all__ = [
    "VirtualAdapter",
    "Handler",
    "HandlerResult",
    "I2cBusState",
    "SpiControllerState",
    "UartState",
    "GpioPinState",
    "RailState",
]

BytesLike = Union[bytes, bytearray, memoryview]
# What a handler returns: one whole message, several, or None for no answer.
HandlerResult = Union[bytes, bytearray, Sequence[Union[bytes, bytearray]], None]
Handler = Callable[[bytes], HandlerResult]
Text = Union[str, bytes]
# Buses, chip selects and pins: an int or a member of their enumeration.
Selector = Union[int, object]


def _number(value: Selector) -> int:
    """An enumeration member's value (the plain enumerations are not ints)."""
    return int(getattr(value, "value", value))  # type: ignore[call-overload]


class I2cBusState(NamedTuple):
    initialized: bool
    frequency_hz: int
    pull_up: int


class SpiControllerState(NamedTuple):
    initialized: bool
    bit_order: int
    mode: int
    data_width: int
    chip_select: int
    chip_select_polarity: int
    frequency_hz: int


class UartState(NamedTuple):
    initialized: bool
    baud_rate: int
    hardware_handshake: int
    parity: int
    data_size: int
    stop_bit: int


class GpioPinState(NamedTuple):
    configured: bool
    output: bool
    level: int
    trigger: int  # armed edges: 0 none, 1 rising, 2 falling, 3 both


class RailState(NamedTuple):
    millivolts: int
    external: bool


class VirtualAdapter:
    """An in-process emulation of one adapter, plugged in from creation until
    ``close()`` (or the end of its ``with`` block).

    ``model`` is ``DeviceModel.TERANOX`` (64-byte reports) or
    ``DeviceModel.QUILLEX`` (1024-byte reports); ``bulk=False`` gives an
    adapter without the vendor bulk interface.
    """

    def __init__(
        self,
        model: DeviceModel = DeviceModel.TERANOX,
        serial: str = "SIM0001",
        bulk: bool = True,
        *,
        bulk_packet_size: int = 0,
        plugged: bool = True,
    ) -> None:
        self._native = _native.VirtualAdapter(model, serial, bulk, bulk_packet_size, plugged)

    # ------------------------------------------------------------ lifetime
    def __enter__(self) -> "VirtualAdapter":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def close(self) -> None:
        """Unplug for good; the adapter disappears from the enumeration."""
        self._native.close()

    @property
    def closed(self) -> bool:
        return self._native.closed

    def __repr__(self) -> str:
        if self.closed:
            return "<VirtualAdapter closed>"
        return f"<VirtualAdapter {self.path} {self.model.name} serial={self.serial!r}>"

    # ------------------------------------------------------------ identity
    @property
    def path(self) -> str:
        """The HID path to give ``DeviceFacade.connect``."""
        return self._native.path

    @property
    def serial(self) -> str:
        return self._native.serial

    @property
    def model(self) -> DeviceModel:
        return self._native.model

    @property
    def report_size(self) -> int:
        return self._native.report_size

    @property
    def bulk(self) -> bool:
        """True when the adapter has the vendor bulk interface."""
        return self._native.bulk

    @property
    def vendor_id(self) -> int:
        return self._native.vendor_id

    @property
    def product_id(self) -> int:
        return self._native.product_id

    # ------------------------------------------------------------ plugging
    def unplug(self) -> None:
        """Hot-unplug: open connections fail from now on; pending input is lost."""
        self._native.unplug()

    def plug(self) -> None:
        """Plug in again under the same path; the firmware starts from power-on."""
        self._native.plug()

    @property
    def plugged(self) -> bool:
        return self._native.is_plugged()

    # ------------------------------------------------------ traffic records
    @property
    def requests(self) -> List[bytes]:
        """Every request message received, reassembled, in order."""
        return self._native.requests()

    @property
    def reports(self) -> List[bytes]:
        """Every HID output report as written, report id byte first."""
        return self._native.reports()

    @property
    def bulk_received(self) -> bytes:
        """Everything received on bulk OUT."""
        return self._native.bulk_received()

    def clear(self) -> None:
        """Forget the requests, reports and bulk bytes recorded so far."""
        self._native.clear()

    def set_recording(self, recording: bool) -> None:
        """Stop (or resume) keeping the traffic records, for long runs."""
        self._native.set_recording(recording)

    @property
    def malformed_reports(self) -> int:
        """Output reports the adapter could not use."""
        return self._native.malformed_reports()

    def wait_for_requests(self, count: int, timeout: float = 2.0) -> bool:
        """Wait until ``count`` requests were handled since the last ``clear``."""
        return self._native.wait_for_requests(count, timeout * 1000.0)

    # ------------------------------------------------------------ injection
    def send(self, message: BytesLike) -> None:
        """Send one whole message (a response or a notification), framed into
        input reports by the adapter."""
        self._native.send(message)

    def send_report(self, report: BytesLike) -> None:
        """Send one raw input report (without report id)."""
        self._native.send_report(report)

    def send_bulk(self, data: BytesLike) -> None:
        """Queue bytes on bulk IN."""
        self._native.send_bulk(data)

    def notify(self, code: int, fields: BytesLike = b"", header_word: int = 0) -> None:
        """Send a notification: transaction id 0, ``code``, ``header_word``,
        then ``fields``."""
        self._native.notify(code, fields, header_word)

    def set_handler(self, handler: Optional[Handler]) -> None:
        """Answer every request with ``handler(request)`` instead of the firmware.

        The handler gets the whole request message and returns one whole
        message (header included), a list of them, or None for no answer. It
        runs on the thread that writes the request and may call ``send`` and
        ``send_bulk``. An exception it raises is logged to
        "pyvantorsdk.backend" and counts as no answer. ``None`` restores the
        firmware.
        """
        self._native.set_handler(handler)

    # --------------------------------------------------------------- faults
    def fail_writes(self, count: int, delay_ms: float = 0) -> None:
        """The next ``count`` output reports fail, each after ``delay_ms``."""
        self._native.fail_writes(count, delay_ms)

    def fail_reads(self, count: int) -> None:
        """The next ``count`` reads of the HID interface fail."""
        self._native.fail_reads(count)

    def set_response_delay(self, delay_ms: float) -> None:
        """Answers become readable only after this delay (injected messages
        are not delayed)."""
        self._native.set_response_delay(delay_ms)

    def stall_bulk_in(self, stalled: bool = True) -> None:
        """A stalled bulk IN endpoint fails every transfer."""
        self._native.stall_bulk_in(stalled)

    def limit_bulk_in(self, limit: Optional[int]) -> None:
        """Bulk IN delivers at most ``limit`` of the bytes it announced (None: all)."""
        self._native.limit_bulk_in(limit)

    # ----------------------------------------------------- firmware settings
    def set_identity(
        self,
        *,
        manufacturer: Optional[Text] = None,
        product_name: Optional[Text] = None,
        serial_number: Optional[Text] = None,
        hw_version: Optional[Text] = None,
        fw_version: Optional[Text] = None,
    ) -> None:
        """Change the USB strings the adapter reports; None keeps a string.
        ``bytes`` are reported unchanged (they need not be UTF-8)."""
        self._native.set_identity(manufacturer, product_name, serial_number, hw_version, fw_version)

    @property
    def identity(self) -> Dict[str, bytes]:
        """The five USB strings, as bytes."""
        return self._native.identity()

    @property
    def usb_settings(self) -> Tuple[int, int, int]:
        """(webusb_enabled, cdc_enabled, cdc_mode)."""
        return self._native.usb_settings()

    def set_usb_settings(self, webusb_enabled: int = 255, cdc_enabled: int = 255, cdc_mode: int = 255) -> bool:
        """Change the USB configuration (255 keeps a setting); False when a
        value is out of range."""
        return self._native.set_usb_settings(webusb_enabled, cdc_enabled, cdc_mode)

    @property
    def bulk_capabilities(self) -> Tuple[int, int, bool, List[Tuple[int, int, int]]]:
        """(status, capability_info, supported, [(group, max_payload, command_mask), ...])."""
        return self._native.bulk_capabilities()

    def set_bulk_capabilities(
        self,
        *,
        status: int = 0,
        capability_info: int = 1,
        supported: bool = True,
        groups: Sequence[Tuple[int, int, int]] = ((2, 32768, 0x180), (3, 32768, 0x1A0)),
    ) -> None:
        """What the adapter answers to the bulk capability query; a non-zero
        ``status`` answers with that status and no records."""
        self._native.set_bulk_capabilities(status, capability_info, supported, list(groups))

    def set_analog_measurements(self, io_mv: int, i3c_low_mv: int = 1800, i3c_high_mv: int = 3300) -> None:
        """The voltages (millivolts) the adapter measures: the I/O rail of
        I2C, SPI, UART and GPIO, and the two I3C rails."""
        self._native.set_analog_measurements(io_mv, i3c_low_mv, i3c_high_mv)

    @property
    def reset_count(self) -> int:
        """Reset requests received."""
        return self._native.reset_count()

    @property
    def in_boot_mode(self) -> bool:
        """True once the adapter left its application for the boot loader."""
        return self._native.in_boot_mode()

    # ------------------------------------------------------------ I2C bench
    # Devices on the adapter's I2C buses. They are outside the adapter: they
    # keep their contents across resets and unplugging. Addresses above 0x7F
    # (or with ten_bit=True) are 10-bit; they answer scans only.

    def attach_i2c_eeprom(
        self,
        bus: Selector,
        address: int,
        *,
        size: int = 256,
        page_size: int = 16,
        address_bytes: int = 1,
        ten_bit: bool = False,
    ) -> None:
        """Attach a serial EEPROM (erased to 0xFF). Page writes wrap at the
        page boundary; ``address_bytes`` is the memory address width (1 or 2)."""
        if not self._native.attach_i2c_eeprom(_number(bus), address, size, page_size, address_bytes, ten_bit):
            raise ValueError(f"cannot attach an EEPROM at 0x{address:02X} on bus {bus}")

    def attach_i2c_register_map(self, bus: Selector, address: int, *, ten_bit: bool = False) -> None:
        """Attach 256 registers with 1-byte register addresses and auto-increment."""
        if not self._native.attach_i2c_register_map(_number(bus), address, ten_bit):
            raise ValueError(f"cannot attach a register map at 0x{address:02X} on bus {bus}")

    def detach_i2c(self, bus: Selector, address: int, *, ten_bit: bool = False) -> bool:
        """Remove a device; False when there was none."""
        return self._native.detach_i2c(_number(bus), address, ten_bit)

    def i2c_memory(self, bus: Selector, address: int, *, ten_bit: bool = False) -> bytes:
        """A device's memory (EEPROM contents, the registers); b"" when there is none."""
        return self._native.i2c_memory(_number(bus), address, ten_bit)

    def write_i2c_memory(
        self, bus: Selector, address: int, offset: int, data: BytesLike, *, ten_bit: bool = False
    ) -> None:
        """Change a device's memory directly (no page rules)."""
        if not self._native.write_i2c_memory(_number(bus), address, offset, data, ten_bit):
            raise ValueError(f"no device at 0x{address:02X} on bus {bus}, or the data does not fit")

    def i2c_bus(self, bus: Selector) -> I2cBusState:
        """What the host set a controller bus to."""
        return I2cBusState(*self._native.i2c_bus(_number(bus)))

    # ------------------------------------------------------------ SPI bench
    def attach_spi_flash(
        self,
        chip_select: Selector,
        *,
        size: int = 1024 * 1024,
        jedec_id: BytesLike = b"\xa7\x40\x14",
        busy_polls: int = 2,
    ) -> None:
        """Attach a NOR flash (erased to 0xFF): JEDEC id (0x9F), read (0x03),
        write enable (0x06), page program (0x02), 4 KiB sector erase (0x20)
        and status (0x05). After a program or erase the flash reads busy for
        ``busy_polls`` status bytes."""
        if not self._native.attach_spi_flash(_number(chip_select), size, jedec_id, busy_polls):
            raise ValueError(f"cannot attach a flash on chip select {chip_select}")

    def detach_spi(self, chip_select: Selector) -> bool:
        return self._native.detach_spi(_number(chip_select))

    def spi_memory(self, chip_select: Selector) -> bytes:
        """The flash contents; b"" when nothing is attached there."""
        return self._native.spi_memory(_number(chip_select))

    def write_spi_memory(self, chip_select: Selector, offset: int, data: BytesLike) -> None:
        if not self._native.write_spi_memory(_number(chip_select), offset, data):
            raise ValueError(f"no device on chip select {chip_select}, or the data does not fit")

    @property
    def spi_controller(self) -> SpiControllerState:
        """What the host set the SPI controller to."""
        return SpiControllerState(*self._native.spi_controller())

    # ----------------------------------------------------------- UART bench
    @property
    def uart_loopback(self) -> bool:
        """TX wired to RX: every byte sent comes back as a UART notification."""
        return self._native.uart_loopback()

    @uart_loopback.setter
    def uart_loopback(self, enabled: bool) -> None:
        self._native.set_uart_loopback(enabled)

    def set_uart_loopback(self, enabled: bool) -> None:
        self._native.set_uart_loopback(enabled)

    def inject_uart(self, data: BytesLike) -> bool:
        """Bytes arriving on RX, reported to the host as UART notifications;
        False (bytes lost) when the UART is not initialised or unplugged."""
        return self._native.inject_uart(data)

    @property
    def uart_sent(self) -> bytes:
        """Everything sent on TX since the last ``clear_uart_sent``."""
        return self._native.uart_sent()

    def clear_uart_sent(self) -> None:
        self._native.clear_uart_sent()

    @property
    def uart(self) -> UartState:
        """What the host set the UART to."""
        return UartState(*self._native.uart())

    # ----------------------------------------------------------- GPIO bench
    def drive_gpio_input(self, pin: Selector, level: int) -> None:
        """Drive a pin from outside; an armed edge raises a GPIO notification."""
        if not self._native.drive_gpio_input(_number(pin), _number(level)):
            raise ValueError(f"invalid pin {pin} or level {level}")

    def gpio_output_level(self, pin: Selector) -> Optional[int]:
        """The level an output pin drives; None when the pin is not an output."""
        return self._native.gpio_output_level(_number(pin))

    def gpio_pin(self, pin: Selector) -> GpioPinState:
        return GpioPinState(*self._native.gpio_pin(_number(pin)))

    # ------------------------------------------------------------- I/O rail
    def set_external_voltage(self, millivolts: int) -> None:
        """The voltage an external supply puts on the rail, measured while
        the host has handed the rail over to it."""
        self._native.set_external_voltage(millivolts)

    @property
    def io_rail(self) -> RailState:
        return RailState(*self._native.io_rail())
