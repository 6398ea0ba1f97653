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

from typing import Callable, Dict, List, Optional, Sequence, Tuple, Union

from pyvantorsdk._cpp._pyvantorsdk_cpp import DeviceModel
from pyvantorsdk._cpp._pyvantorsdk_cpp import _sim as _native

__all__ = ["VirtualAdapter", "Handler", "HandlerResult"]

BytesLike = Union[bytes, bytearray, memoryview]
# What a handler returns: one whole message, several, or None for no answer.
HandlerResult = Union[bytes, bytearray, Sequence[Union[bytes, bytearray]], None]
Handler = Callable[[bytes], HandlerResult]
Text = Union[str, bytes]


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
        groups: Sequence[Tuple[int, int, int]] = ((2, 32768, 0x180), (3, 32768, 0x180)),
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
