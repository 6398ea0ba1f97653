# SPDX-License-Identifier: MIT
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

import os
from typing import Any, Callable, Dict, List, Literal, Optional, Sequence, Union, cast

from pyvantorsdk._cpp._pyvantorsdk_cpp import DeviceModel
from pyvantorsdk._cpp._pyvantorsdk_cpp import _sim as _native

__all__ = [
    "VirtualAdapter",
    "HostInterface",
    "TimingModel",
    "TimingName",
    "Handler",
    "HandlerResult",
    # The bench, one object per part of the adapter.
    "FaultBench",
    "SystemBench",
    "PowerBench",
    "I2cBench",
    "SpiBench",
    "UartBench",
    "GpioBench",
    "I3cBench",
    # The adapter in its target roles, with the external controllers.
    "I2cTargetBench",
    "SpiTargetBench",
    "I3cTargetBench",
    "I2cTargetController",
    "SpiTargetController",
    "I3cTargetController",
    # Records the bench returns (read-only; built with keywords).
    "Identity",
    "UsbSettings",
    "BulkGroup",
    "BulkCapabilities",
    "AnalogMeasurements",
    "RailState",
    "I2cBusState",
    "SpiControllerState",
    "UartState",
    "GpioPinState",
    "I2cDeviceKind",
    "I2cDeviceInfo",
    "SpiFlashInfo",
    "I2cTargetState",
    "I2cBusTransaction",
    "SpiTargetState",
    "I3cTargetRoleState",
    "I3cBusTransaction",
    "RegisterRegion",
    "I3cTargetState",
    "I3cTableEntry",
    "I3cControllerState",
    "I3cPortsState",
]

BytesLike = Union[bytes, bytearray, memoryview]
# What a handler returns: one whole message, several, or None for no answer.
HandlerResult = Union[bytes, bytearray, Sequence[Union[bytes, bytearray]], None]
Handler = Callable[[bytes], HandlerResult]


def _buffer(data: BytesLike) -> bytes:
    """``data`` as the native calls take it: they accept any contiguous byte
    buffer, though their stub names only ``bytes``."""
    return cast(bytes, data)

# The bench objects and records are native classes, bound once; their
# signatures and docs are on the classes themselves (and in the stub the
# build generates for the native submodule).
FaultBench = _native.FaultBench
SystemBench = _native.SystemBench
PowerBench = _native.PowerBench
I2cBench = _native.I2cBench
SpiBench = _native.SpiBench
UartBench = _native.UartBench
GpioBench = _native.GpioBench
I3cBench = _native.I3cBench
Identity = _native.Identity
UsbSettings = _native.UsbSettings
BulkGroup = _native.BulkGroup
BulkCapabilities = _native.BulkCapabilities
AnalogMeasurements = _native.AnalogMeasurements
RailState = _native.RailState
I2cBusState = _native.I2cBusState
SpiControllerState = _native.SpiControllerState
UartState = _native.UartState
GpioPinState = _native.GpioPinState
I2cDeviceKind = _native.I2cDeviceKind
I2cDeviceInfo = _native.I2cDeviceInfo
SpiFlashInfo = _native.SpiFlashInfo
I2cTargetBench = _native.I2cTargetBench
SpiTargetBench = _native.SpiTargetBench
I3cTargetBench = _native.I3cTargetBench
I2cTargetController = _native.I2cTargetController
SpiTargetController = _native.SpiTargetController
I3cTargetController = _native.I3cTargetController
I2cTargetState = _native.I2cTargetState
I2cBusTransaction = _native.I2cBusTransaction
SpiTargetState = _native.SpiTargetState
I3cTargetRoleState = _native.I3cTargetRoleState
I3cBusTransaction = _native.I3cBusTransaction
RegisterRegion = _native.RegisterRegion
I3cTargetState = _native.I3cTargetState
I3cTableEntry = _native.I3cTableEntry
I3cControllerState = _native.I3cControllerState
I3cPortsState = _native.I3cPortsState


# The USB speeds the timing model knows; None (or "off") answers at once.
TimingName = Literal["full-speed", "high-speed", "off"]

# The timing figures as pure functions, in seconds: the interrupt interval and
# a request's round trip at a USB speed and model, bulk time, bus time (I2C,
# SPI, UART, I3C SDR and HDR-DDR) and device time (EEPROM write cycle, flash
# program and erase). A virtual adapter with timing on waits for the same
# figures.
TimingModel = _native.TimingModel


class VirtualAdapter:
    """An in-process emulation of one adapter, plugged in from creation until
    ``close()`` (or the end of its ``with`` block).

    ``model`` is ``DeviceModel.TERANOX`` (64-byte reports) or
    ``DeviceModel.QUILLEX`` (1024-byte reports); ``bulk=False`` gives an
    adapter without the vendor bulk interface.

    ``timing`` ("full-speed" or "high-speed"; None, the default, for none)
    makes the adapter take the time the hardware takes (``TimingModel``):
    reports go one per USB interval each way, requests wait in a reception
    queue of ``reception_queue_depth`` while earlier ones run (one more is
    answered FW_FULL_RECEPTION_QUEUE), transfers take their bus time and
    EEPROMs and flash memories stay busy for their write, program and erase
    times. ``time_scale`` runs that many modelled seconds per real second (10:
    ten times faster than the hardware). The QUILLEX needs high speed.
    """

    def __init__(
        self,
        model: DeviceModel = DeviceModel.TERANOX,
        serial: str = "SIM0001",
        bulk: bool = True,
        *,
        bulk_packet_size: int = 0,
        plugged: bool = True,
        timing: Optional[TimingName] = None,
        time_scale: float = 1.0,
        reception_queue_depth: int = 16,
    ) -> None:
        self._native = _native.VirtualAdapter(
            model,
            serial,
            bulk,
            bulk_packet_size,
            plugged,
            timing,
            time_scale,
            reception_queue_depth,
        )

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
        return bool(self._native.closed)

    def __repr__(self) -> str:
        if self.closed:
            return "<VirtualAdapter closed>"
        return f"<VirtualAdapter {self.path} {self.model.name} serial={self.serial!r}>"

    # ------------------------------------------------------------ identity
    @property
    def path(self) -> str:
        """The HID path to give ``DeviceFacade.connect``."""
        return str(self._native.path)

    @property
    def serial(self) -> str:
        return str(self._native.serial)

    @property
    def model(self) -> DeviceModel:
        return self._native.model

    @property
    def report_size(self) -> int:
        return int(self._native.report_size)

    @property
    def bulk(self) -> bool:
        """True when the adapter has the vendor bulk interface."""
        return bool(self._native.bulk)

    @property
    def timing(self) -> Optional[TimingName]:
        """The modelled USB speed; None when the adapter answers at once."""
        return cast(Optional[TimingName], self._native.timing)

    @property
    def time_scale(self) -> float:
        return float(self._native.time_scale)

    @property
    def reception_queue_depth(self) -> int:
        return int(self._native.reception_queue_depth)

    @property
    def vendor_id(self) -> int:
        return int(self._native.vendor_id)

    @property
    def product_id(self) -> int:
        return int(self._native.product_id)

    # ------------------------------------------------------------ plugging
    def unplug(self) -> None:
        """Hot-unplug: open connections fail from now on; pending input is lost."""
        self._native.unplug()

    def plug(self) -> None:
        """Plug in again under the same path; the firmware starts from power-on."""
        self._native.plug()

    @property
    def plugged(self) -> bool:
        return bool(self._native.is_plugged())

    # ------------------------------------------------------ traffic records
    @property
    def requests(self) -> List[bytes]:
        """Every request message received, reassembled, in order."""
        return cast(List[bytes], self._native.requests())

    @property
    def reports(self) -> List[bytes]:
        """Every HID output report as written, report id byte first."""
        return cast(List[bytes], self._native.reports())

    @property
    def bulk_received(self) -> bytes:
        """Everything received on bulk OUT."""
        return bytes(self._native.bulk_received())

    def clear(self) -> None:
        """Forget the requests, reports and bulk bytes recorded so far."""
        self._native.clear()

    def set_recording(self, recording: bool) -> None:
        """Stop (or resume) keeping the traffic records, for long runs."""
        self._native.set_recording(recording)

    @property
    def malformed_reports(self) -> int:
        """Output reports the adapter could not use."""
        return int(self._native.malformed_reports())

    @property
    def dropped_reports(self) -> int:
        """Input reports lost since the last ``clear`` because a connection's
        HID input queue was full (at most 64 wait for each connection, as in
        the Linux HID driver; ``faults.limit_input_queue`` changes the bound),
        counted for each connection that lost them. The answers to a
        connection's own requests are never lost: the adapter sends them only
        as fast as that host reads. Reports sent while no connection is open
        reach nobody and are not counted."""
        return int(self._native.dropped_reports())

    def wait_for_requests(self, count: int, timeout: float = 2.0) -> bool:
        """Wait until ``count`` requests were handled since the last ``clear``.

        ``timeout`` is in seconds; ``float("inf")`` waits without limit and
        NaN raises ``ValueError``."""
        return bool(self._native.wait_for_requests(count, timeout * 1000.0))

    # ------------------------------------------------------------ injection
    def send(self, message: BytesLike) -> None:
        """Send one whole message (a response or a notification), framed into
        input reports by the adapter, to every open connection."""
        self._native.send(_buffer(message))

    def send_report(self, report: BytesLike) -> None:
        """Send one raw input report (without report id)."""
        self._native.send_report(_buffer(report))

    def send_bulk(self, data: BytesLike) -> None:
        """Queue bytes on bulk IN."""
        self._native.send_bulk(_buffer(data))

    def notify(
        self,
        code: int,
        fields: BytesLike = b"",
        header_word: int = 0,
        *,
        count: int = 1,
        rate: Optional[float] = None,
    ) -> None:
        """Send a notification: transaction id 0, ``code``, ``header_word``,
        then ``fields``.

        With ``count``, send that many, paced at ``rate`` notifications per
        second (None or 0: as fast as possible). The burst runs on the calling
        thread without the interpreter lock and returns once all are queued
        (or the adapter was unplugged); what the full input queue refuses is
        counted in ``dropped_reports``."""
        self._native.notify(code, _buffer(fields), header_word, count, rate)

    def set_handler(self, handler: Optional[Handler]) -> None:
        """Answer every request with ``handler(request)`` instead of the firmware.

        The handler gets the whole request message and returns one whole
        message (header included), a list of them, or None for no answer. It
        runs on the thread that writes the request and may call ``send`` and
        ``send_bulk``; that thread is inside the facade's request, so a request
        from the handler to the same facade raises ``ProtocolError`` at once
        and its ``disconnect()`` does nothing. An exception it raises is
        logged to "pyvantorsdk.backend" and counts as no answer. ``None``
        restores the firmware.
        """
        self._native.set_handler(handler)

    def open_host(self) -> "HostInterface":
        """Open the adapter's HID interface raw, as a HID library would: see
        ``HostInterface``. Raises ``OSError`` when the adapter is unplugged."""
        return HostInterface(self._native.open_host())

    # ---------------------------------------------------------------- bench
    # Each object stays usable while the adapter is open; after ``close()``
    # its calls raise.
    @property
    def faults(self) -> FaultBench:
        """USB-side faults: failing writes and reads, response delay, bulk IN stalls."""
        return self._native.faults

    @property
    def system(self) -> SystemBench:
        """Identity, USB settings, bulk capabilities, measurements, reset and boot counters."""
        return self._native.system

    @property
    def power(self) -> PowerBench:
        """The I/O rail and the external supply."""
        return self._native.power

    @property
    def i2c(self) -> I2cBench:
        """Devices on the I2C buses, and the buses' settings."""
        return self._native.i2c

    @property
    def spi(self) -> SpiBench:
        """Devices on the SPI chip selects, and the controller's settings."""
        return self._native.spi

    @property
    def uart(self) -> UartBench:
        """The far end of the UART: loopback, injected RX bytes, the TX record."""
        return self._native.uart

    @property
    def gpio(self) -> GpioBench:
        """The far end of the GPIO pins: driven inputs, output levels."""
        return self._native.gpio

    @property
    def i2c_target(self) -> I2cTargetBench:
        """The adapter as I2C target: state, memory, virtual clock, and
        ``controller``, an external controller on its bus."""
        return self._native.i2c_target

    @property
    def spi_target(self) -> SpiTargetBench:
        """The adapter as SPI target: state, memory, virtual clock, and
        ``controller``, an external controller wired to it."""
        return self._native.spi_target

    @property
    def i3c_target(self) -> I3cTargetBench:
        """The adapter as I3C target: identity, memory, and ``controller``,
        an external controller on its bus."""
        return self._native.i3c_target

    @property
    def i3c(self) -> I3cBench:
        """The I3C bus: targets (``attach_target``), legacy I2C devices, in-band
        interrupts and hot-join requests, the ports' connectors and supplies."""
        return self._native.i3c

    # ------------------------------------------------------------ profiles
    # The profile an adapter was built from: saving lists devices in its order
    # and takes from it the two I3C target settings the bench does not report.
    _profile_record: Optional[Dict[str, Any]] = None

    @classmethod
    def from_profile(
        cls, path_or_name: Union[str, "os.PathLike[str]"], *, contents_anywhere: bool = False
    ) -> "VirtualAdapter":
        """An adapter built from a profile: a TOML file, or the name of a
        profile shipped with the package (``pyvantorsdk.profiles.shipped()``).
        Raises ``pyvantorsdk.profiles.ProfileError`` naming the file, line and
        key of what is wrong. The profile's contents files must lie in its
        folder unless `contents_anywhere` is True; profiles are trusted input
        (``pyvantorsdk.profiles.loads``)."""
        from pyvantorsdk import profiles

        file = profiles.resolve(path_or_name)
        profile = profiles.load(file, contents_anywhere=contents_anywhere)
        settings = profile["adapter"]
        timing = settings["timing"]
        adapter = cls(
            DeviceModel[settings["model"].upper()],
            settings["serial"],
            settings["bulk"],
            timing=None if timing == "off" else timing,
            time_scale=settings["time_scale"],
            reception_queue_depth=settings["reception_queue_depth"],
        )
        try:
            profiles.apply(profile, adapter, file=file)
        except BaseException:
            adapter.close()
            raise
        adapter._profile_record = profile
        return adapter

    def to_profile(self) -> Dict[str, Any]:
        """The current bench in the loaded-profile form (``profiles.dumps``
        writes it as text), devices attached by hand included."""
        from pyvantorsdk import profiles

        return profiles.capture(self, self._profile_record)

    def save_profile(self, path: Union[str, "os.PathLike[str]"]) -> None:
        """Write the current bench as a profile; ``from_profile(path)`` builds
        the same bench again. Long device contents go to binary files beside it."""
        from pyvantorsdk import profiles

        profiles.dump(self.to_profile(), path)

class HostInterface:
    """A raw handle on a virtual adapter's HID interface, for code that talks
    to the adapter without ``DeviceFacade``: whole reports in and out, the
    segmenting and the message layout left to the caller.

    It is opened the way the SDK's own transport opens the adapter, so the
    firmware answers it exactly as it answers the facade. Like every open
    connection it gets its own copy of each input report sent while it is
    open (a facade connected to the same adapter gets its copy too), in a
    queue of its own. Usable as a context manager::

        with adapter.open_host() as host:
            host.write(bytes([0]) + segment)   # report id 0, then the report
            answer = host.read(adapter.report_size, timeout_ms=100)
    """

    def __init__(self, native: _native.HostHandle) -> None:
        self._native = native

    def __enter__(self) -> "HostInterface":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"report_size={self.report_size}"
        return f"<HostInterface {state}>"

    @property
    def report_size(self) -> int:
        """Payload bytes of one report, report id excluded (64 or 1024)."""
        return int(self._native.report_size)

    @property
    def closed(self) -> bool:
        return bool(self._native.closed)

    def write(self, report: BytesLike) -> int:
        """Write one output report: the report id (always 0) and at most
        ``report_size`` bytes. Returns the bytes written (report id
        included), or -1 when the adapter refused the report or is gone.
        ``ValueError`` once closed."""
        return int(self._native.write(_buffer(report)))

    def read(self, size: int, timeout_ms: int = -1) -> bytes:
        """Read one input report (without report id), at most ``size`` bytes.

        Waits at most ``timeout_ms`` milliseconds (negative: without limit)
        and returns ``b""`` when none arrived. ``OSError`` when the adapter
        was unplugged; ``ValueError`` once closed."""
        return bytes(self._native.read(size, timeout_ms))

    def close(self) -> None:
        """Release the handle; further calls raise ``ValueError``."""
        self._native.close()
