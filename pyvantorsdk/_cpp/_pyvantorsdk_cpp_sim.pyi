"""The virtual adapter (see pyvantorsdk.sim)."""

import enum

import pyvantorsdk._cpp._pyvantorsdk_cpp


class Identity:
    """The five USB strings the adapter reports."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def manufacturer(self) -> bytes: ...

    @property
    def product_name(self) -> bytes: ...

    @property
    def serial_number(self) -> bytes: ...

    @property
    def hw_version(self) -> bytes: ...

    @property
    def fw_version(self) -> bytes: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class UsbSettings:
    """The adapter's persistent USB configuration."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def webusb_enabled(self) -> int: ...

    @property
    def cdc_enabled(self) -> int: ...

    @property
    def cdc_mode(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class BulkGroup:
    """One record of the bulk capability answer."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def group(self) -> int: ...

    @property
    def max_payload(self) -> int: ...

    @property
    def command_mask(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class BulkCapabilities:
    """
    What the adapter answers to the bulk capability query; a non-zero status answers with that status and no records.
    """

    def __init__(self, **kwargs) -> None: ...

    @property
    def status(self) -> int: ...

    @property
    def capability_info(self) -> int: ...

    @property
    def supported(self) -> bool: ...

    @property
    def groups(self) -> list[BulkGroup]: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class AnalogMeasurements:
    """The voltages (millivolts) the adapter measures."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def io_mv(self) -> int: ...

    @property
    def i3c_low_mv(self) -> int: ...

    @property
    def i3c_high_mv(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class RailState:
    """The I/O voltage rail."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def millivolts(self) -> int: ...

    @property
    def external(self) -> bool: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I2cBusState:
    """What the host set an I2C bus to."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def initialized(self) -> bool: ...

    @property
    def frequency_hz(self) -> int: ...

    @property
    def pull_up(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class SpiControllerState:
    """What the host set the SPI controller to (values as on the wire)."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def initialized(self) -> bool: ...

    @property
    def bit_order(self) -> int: ...

    @property
    def mode(self) -> int: ...

    @property
    def data_width(self) -> int: ...

    @property
    def chip_select(self) -> int: ...

    @property
    def chip_select_polarity(self) -> int: ...

    @property
    def frequency_hz(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class UartState:
    """What the host set the UART to (values as on the wire)."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def initialized(self) -> bool: ...

    @property
    def baud_rate(self) -> int: ...

    @property
    def hardware_handshake(self) -> int: ...

    @property
    def parity(self) -> int: ...

    @property
    def data_size(self) -> int: ...

    @property
    def stop_bit(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class GpioPinState:
    """
    One GPIO pin; trigger: armed edges, 0 none, 1 rising, 2 falling, 3 both.
    """

    def __init__(self, **kwargs) -> None: ...

    @property
    def configured(self) -> bool: ...

    @property
    def output(self) -> bool: ...

    @property
    def level(self) -> int: ...

    @property
    def trigger(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class VirtualAdapter:
    """An in-process emulation of an adapter."""

    def __init__(self, model: pyvantorsdk._cpp._pyvantorsdk_cpp.DeviceModel, serial: str, bulk: bool, bulk_packet_size: int = 0, plugged: bool = True) -> None: ...

    def close(self) -> None:
        """Unplug for good and leave the registry."""

    @property
    def closed(self) -> bool: ...

    @property
    def path(self) -> str: ...

    @property
    def serial(self) -> str: ...

    @property
    def model(self) -> pyvantorsdk._cpp._pyvantorsdk_cpp.DeviceModel: ...

    @property
    def report_size(self) -> int: ...

    @property
    def bulk(self) -> bool: ...

    @property
    def vendor_id(self) -> int: ...

    @property
    def product_id(self) -> int: ...

    def plug(self) -> None: ...

    def unplug(self) -> None: ...

    def is_plugged(self) -> bool: ...

    def reports(self) -> list: ...

    def requests(self) -> list: ...

    def bulk_received(self) -> bytes: ...

    def clear(self) -> None: ...

    def set_recording(self, recording: bool) -> None: ...

    def malformed_reports(self) -> int: ...

    def dropped_reports(self) -> int: ...

    def wait_for_requests(self, count: int, timeout_ms: float) -> bool: ...

    def send(self, message: bytes) -> None: ...

    def send_report(self, report: bytes) -> None: ...

    def send_bulk(self, data: bytes) -> None: ...

    def notify(self, code: int, fields: bytes, header_word: int = 0, count: int = 1, rate: float | None = None) -> None: ...

    def set_handler(self, handler: object | None) -> None: ...

    def open_host(self) -> HostHandle:
        """A raw handle on the HID interface."""

    @property
    def faults(self) -> FaultBench:
        """USB-side fault injection."""

    @property
    def system(self) -> SystemBench:
        """Identity, USB settings, measurements and counters."""

    @property
    def power(self) -> PowerBench:
        """The I/O rail."""

    @property
    def i2c(self) -> I2cBench:
        """Devices on the I2C buses."""

    @property
    def spi(self) -> SpiBench:
        """Devices on the SPI chip selects."""

    @property
    def uart(self) -> UartBench:
        """The far end of the UART."""

    @property
    def gpio(self) -> GpioBench:
        """The far end of the GPIO pins."""

    @property
    def i3c(self) -> I3cBench:
        """Targets and devices on the I3C bus, and the I3C ports."""

    @property
    def i2c_target(self) -> I2cTargetBench:
        """The adapter as I2C target."""

    @property
    def spi_target(self) -> SpiTargetBench:
        """The adapter as SPI target."""

    @property
    def i3c_target(self) -> I3cTargetBench:
        """The adapter as I3C target."""

class HostHandle:
    """A raw handle on the adapter's HID interface."""

    def write(self, report: bytes) -> int:
        """
        Write one output report, report id (0) first; bytes written, -1 on failure.
        """

    def read(self, size: int, timeout_ms: int) -> bytes:
        """Read one input report (without report id); b'' on timeout."""

    def close(self) -> None: ...

    @property
    def closed(self) -> bool: ...

    @property
    def report_size(self) -> int: ...

class FaultBench:
    """Faults of the adapter's USB side."""

    def __repr__(self) -> str: ...

    def fail_writes(self, count: int, delay_ms: float = 0) -> None:
        """The next `count` output reports fail, each after `delay_ms`."""

    def fail_reads(self, count: int) -> None:
        """The next `count` reads of the HID interface fail."""

    def set_response_delay(self, delay_ms: float) -> None:
        """
        Answers become readable only after this delay (injected messages are not delayed).
        """

    def limit_input_queue(self, limit: int | None) -> None:
        """
        At most `limit` input reports wait for each connection (64 from creation); newer ones are dropped and counted, except the answers to the connection's own requests, which wait in the adapter until the host reads. None: no limit.
        """

    def stall_bulk_in(self, stalled: bool = True) -> None:
        """A stalled bulk IN endpoint fails every transfer."""

    def limit_bulk_in(self, limit: int | None) -> None:
        """
        Bulk IN delivers at most `limit` of the bytes it announced (None: all).
        """

class SystemBench:
    """
    The adapter's USB strings, USB settings, bulk capabilities, analog measurements and system counters; all persistent.
    """

    def __repr__(self) -> str: ...

    def set_identity(self, *, manufacturer: str | bytes | None = None, product_name: str | bytes | None = None, serial_number: str | bytes | None = None, hw_version: str | bytes | None = None, fw_version: str | bytes | None = None) -> None:
        """
        Change the USB strings; None keeps a string, bytes are reported unchanged.
        """

    @property
    def identity(self) -> Identity:
        """The five USB strings."""

    @property
    def usb_settings(self) -> UsbSettings:
        """The USB configuration."""

    def set_usb_settings(self, webusb_enabled: int = 255, cdc_enabled: int = 255, cdc_mode: int = 255) -> bool:
        """
        Change the USB configuration (255 keeps a setting); False when a value is out of range.
        """

    @property
    def bulk_capabilities(self) -> BulkCapabilities:
        """What the adapter answers to the bulk capability query."""

    def set_bulk_capabilities(self, capabilities: BulkCapabilities) -> None:
        """Change what the adapter answers to the bulk capability query."""

    @property
    def analog_measurements(self) -> AnalogMeasurements:
        """The voltages the adapter measures."""

    def set_analog_measurements(self, io_mv: int, i3c_low_mv: int = 1800, i3c_high_mv: int = 3300) -> None:
        """
        The voltages (millivolts) the adapter measures: the I/O rail and the two I3C rails.
        """

    @property
    def reset_count(self) -> int:
        """Reset requests received."""

    @property
    def in_boot_mode(self) -> bool:
        """True once the adapter left its application for the boot loader."""

class PowerBench:
    """The I/O rail of the I2C, SPI, UART and GPIO signals."""

    def __repr__(self) -> str: ...

    def set_external_voltage(self, millivolts: int) -> None:
        """
        The voltage an external supply puts on the rail, measured while the host has handed the rail over to it.
        """

    @property
    def io_rail(self) -> RailState:
        """What the rail carries."""

    @property
    def external_voltage(self) -> int | None: ...

class I2cBench:
    """
    Devices on the I2C buses. They keep their contents across resets and unplugging. Addresses above 0x7F (or with ten_bit=True) are 10-bit; they answer scans only.
    """

    def __repr__(self) -> str: ...

    def attach_eeprom(self, bus: int | enum.Enum, address: int, *, size: int = 256, page_size: int = 16, address_bytes: int = 1, write_cycle_nacks: int = 0, ten_bit: bool = False) -> None:
        """
        Attach a serial EEPROM (erased to 0xFF). Page writes wrap at the page boundary; address_bytes is the memory address width (1 or 2). After a write that stores data, the next write_cycle_nacks transfers to it are not acknowledged (its write cycle, counted rather than timed).
        """

    def attach_register_map(self, bus: int | enum.Enum, address: int, *, ten_bit: bool = False) -> None:
        """
        Attach 256 registers with 1-byte register addresses and auto-increment.
        """

    def detach(self, bus: int | enum.Enum, address: int, *, ten_bit: bool = False) -> bool:
        """Remove a device; False when there was none."""

    def memory(self, bus: int | enum.Enum, address: int, *, ten_bit: bool = False) -> bytes:
        """
        A device's memory (EEPROM contents, the registers); b'' when there is none.
        """

    def write_memory(self, bus: int | enum.Enum, address: int, offset: int, data: bytes, *, ten_bit: bool = False) -> None:
        """Change a device's memory directly (no page rules)."""

    def bus(self, bus: int | enum.Enum) -> I2cBusState:
        """What the host set a bus to."""

    @property
    def devices(self) -> list[I2cDeviceInfo]: ...

class SpiBench:
    """
    Devices on the SPI chip selects. They keep their contents across resets and unplugging.
    """

    def __repr__(self) -> str: ...

    def attach_flash(self, chip_select: int | enum.Enum, *, size: int = 1048576, jedec_id: bytes = ..., busy_polls: int = 2) -> None:
        """
        Attach a NOR flash (erased to 0xFF): JEDEC id (0x9F), read (0x03), write enable (0x06), page program (0x02), erase of 4 KiB (0x20), 32 KiB (0x52), 64 KiB (0xD8) or the chip (0xC7, 0x60), and status (0x05). After a program or erase the flash reads busy for busy_polls status bytes.
        """

    def detach(self, chip_select: int | enum.Enum) -> bool:
        """Remove a device; False when there was none."""

    def memory(self, chip_select: int | enum.Enum) -> bytes:
        """The device's memory; b'' when nothing is attached there."""

    def write_memory(self, chip_select: int | enum.Enum, offset: int, data: bytes) -> None:
        """Change a device's memory directly."""

    @property
    def controller(self) -> SpiControllerState:
        """What the host set the SPI controller to."""

    @property
    def flashes(self) -> list[SpiFlashInfo]: ...

class UartBench:
    """The far end of the UART."""

    def __repr__(self) -> str: ...

    @property
    def loopback(self) -> bool:
        """TX wired to RX: every byte sent comes back as a UART notification."""

    @loopback.setter
    def loopback(self, arg: bool, /) -> None: ...

    def inject(self, data: bytes) -> bool:
        """
        Bytes arriving on RX, reported to the host as UART notifications; False (bytes lost) when the UART is not initialised or unplugged.
        """

    @property
    def sent(self) -> bytes:
        """Everything sent on TX since the last clear_sent()."""

    def clear_sent(self) -> None:
        """Forget what was sent on TX."""

    @property
    def state(self) -> UartState:
        """What the host set the UART to."""

class GpioBench:
    """The far end of the GPIO pins 0..5."""

    def __repr__(self) -> str: ...

    def drive_input(self, pin: int | enum.Enum, level: int | enum.Enum) -> None:
        """Drive a pin from outside; an armed edge raises a GPIO notification."""

    def output_level(self, pin: int | enum.Enum) -> int | None:
        """The level an output pin drives; None when the pin is not an output."""

    def pin(self, pin: int | enum.Enum) -> GpioPinState:
        """What a pin is set to."""

    @property
    def driven_levels(self) -> list[int | None]: ...

class I3cTargetState:
    """
    An I3C target: its identity and what the controller set it to (events: enabled ENEC bits, 0x01 interrupts, 0x02 controller role, 0x08 hot-join).
    """

    def __init__(self, **kwargs) -> None: ...

    @property
    def pid(self) -> int: ...

    @property
    def bcr(self) -> int: ...

    @property
    def dcr(self) -> int: ...

    @property
    def static_address(self) -> int | None: ...

    @property
    def dynamic_address(self) -> int | None: ...

    @property
    def mwl(self) -> int: ...

    @property
    def mrl(self) -> int: ...

    @property
    def max_ibi_payload(self) -> int: ...

    @property
    def events(self) -> int: ...

    @property
    def activity_state(self) -> int: ...

    @property
    def group_address(self) -> int | None: ...

    @property
    def reset_action(self) -> int: ...

    @property
    def pending_interrupt(self) -> bool: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I3cTableEntry:
    """
    One entry of the controller's table of targets (static address 0: none).
    """

    def __init__(self, **kwargs) -> None: ...

    @property
    def static_address(self) -> int: ...

    @property
    def dynamic_address(self) -> int: ...

    @property
    def pid(self) -> int: ...

    @property
    def bcr(self) -> int: ...

    @property
    def dcr(self) -> int: ...

    @property
    def mwl(self) -> int: ...

    @property
    def mrl(self) -> int: ...

    @property
    def max_ibi_payload(self) -> int: ...

    @property
    def configuration(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I3cControllerState:
    """What the host set the I3C controller to (values as on the wire)."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def initialized(self) -> bool: ...

    @property
    def push_pull_rate(self) -> int: ...

    @property
    def open_drain_rate(self) -> int: ...

    @property
    def i2c_rate(self) -> int: ...

    @property
    def drive_strength(self) -> int: ...

    @property
    def hot_join_enabled(self) -> bool: ...

    @property
    def bus_context(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I3cPortsState:
    """
    The I3C ports: the millivolts each carries, whether an external supply feeds them, the connector plugged into each (4: none) and the supplies on the target board.
    """

    def __init__(self, **kwargs) -> None: ...

    @property
    def lv_mv(self) -> int: ...

    @property
    def hv_mv(self) -> int: ...

    @property
    def external(self) -> bool: ...

    @property
    def lv_connector(self) -> int: ...

    @property
    def hv_connector(self) -> int: ...

    @property
    def lv_external_mv(self) -> int: ...

    @property
    def hv_external_mv(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I3cBench:
    """
    The I3C bus: I3C targets (by provisioned id) and legacy I2C devices. Devices keep their memory across resets and unplugging; what the controller set them to is lost with a bus reset.
    """

    def __repr__(self) -> str: ...

    def attach_target(self, pid: int, *, bcr: int = 6, dcr: int = 0, static_address: int | None = None, mwl: int = 256, mrl: int = 256, max_ibi_payload: int = 0, memory_size: int = 1024, hdr_ddr: bool = True, max_data_speed: bytes = ...) -> I3cTargetState:
        """
        Attach an I3C target (memory zero-filled) and return its state. BCR bit 1 allows in-band interrupts, bit 2 their payload (max_ibi_payload: 0 no limit); transfers use the sub-address, or the HDR-DDR command's low seven bits, as the memory offset.
        """

    def detach_target(self, pid: int) -> bool:
        """Remove a target; False when there was none."""

    @property
    def targets(self) -> list[I3cTargetState]:
        """Every target, by provisioned id."""

    def target(self, pid: int) -> I3cTargetState | None:
        """A target's state; None when there is no such target."""

    def memory(self, pid: int) -> bytes:
        """A target's memory; b'' when there is no such target."""

    def write_memory(self, pid: int, offset: int, data: bytes) -> None:
        """Change a target's memory directly."""

    def raise_ibi(self, pid: int, payload: bytes = ...) -> bool:
        """
        The target raises an in-band interrupt: True when it reached the host as a notification, False when its interrupts are disabled (it stays pending until GETSTATUS) or when the notification was lost (the host's input queue was full, counted in dropped_reports, or no connection was open). ValueError when the target cannot raise it.
        """

    def request_hot_join(self, pid: int) -> bool:
        """
        An attached target without a dynamic address asks to join: True when the host got the hot-join notification, False while hot-join is disabled or when the notification was lost (as for raise_ibi). ENTDAA then gives it an address.
        """

    def attach_i2c_eeprom(self, address: int, *, size: int = 256, page_size: int = 16, address_bytes: int = 1) -> None:
        """Attach a legacy I2C EEPROM (erased to 0xFF) to the I3C bus."""

    def attach_i2c_register_map(self, address: int) -> None:
        """Attach a legacy I2C register map (256 registers) to the I3C bus."""

    def detach_i2c(self, address: int) -> bool:
        """Remove a legacy I2C device; False when there was none."""

    def i2c_memory(self, address: int) -> bytes:
        """A legacy device's memory; b'' when there is none."""

    def plug_connector(self, port: int | enum.Enum, connector_type: int | enum.Enum = 1) -> None:
        """
        Plug a connector (an I3cConnectorType, HARNESS by default) into a port (0 LV, 1 HV); the host gets a connector notification.
        """

    def unplug_connector(self, port: int | enum.Enum) -> None:
        """Pull a port's connector; the host gets a connector notification."""

    def set_external_supply(self, port: int | enum.Enum, millivolts: int) -> None:
        """
        The supply a target board puts on a port (0: none), used once the host hands the ports over to it.
        """

    @property
    def ports(self) -> I3cPortsState:
        """The I3C ports."""

    @property
    def controller(self) -> I3cControllerState:
        """What the host set the I3C controller to."""

    def device_table(self) -> list[I3cTableEntry]:
        """The controller's table of targets, as i3c_get_device_table reports it."""

    @property
    def i2c_devices(self) -> list[I2cDeviceInfo]: ...

class I2cTargetState:
    """
    What the host set the I2C target to (values as on the wire); write-protected bytes are [wp_start, wp_end).
    """

    def __init__(self, **kwargs) -> None: ...

    @property
    def active(self) -> bool: ...

    @property
    def bus(self) -> int: ...

    @property
    def address(self) -> int: ...

    @property
    def address_mode(self) -> int: ...

    @property
    def memory_layout(self) -> int: ...

    @property
    def model(self) -> int: ...

    @property
    def memory_size(self) -> int: ...

    @property
    def page_size(self) -> int: ...

    @property
    def write_cycle_us(self) -> int: ...

    @property
    def erase_cycle_us(self) -> int: ...

    @property
    def busy_behavior(self) -> int: ...

    @property
    def erased_value(self) -> int: ...

    @property
    def wp_start(self) -> int: ...

    @property
    def wp_end(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I2cBusTransaction:
    """What one I2C transaction of the external controller met."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def address_ack(self) -> bool: ...

    @property
    def ack(self) -> bool: ...

    @property
    def data(self) -> bytes: ...

    @property
    def stretched_us(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class SpiTargetState:
    """What the host set the SPI target to (values as on the wire)."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def active(self) -> bool: ...

    @property
    def mode(self) -> int: ...

    @property
    def bit_order(self) -> int: ...

    @property
    def chip_select(self) -> int: ...

    @property
    def chip_select_polarity(self) -> int: ...

    @property
    def model(self) -> int: ...

    @property
    def engine(self) -> int: ...

    @property
    def memory_size(self) -> int: ...

    @property
    def address_bytes(self) -> int: ...

    @property
    def page_size(self) -> int: ...

    @property
    def write_cycle_us(self) -> int: ...

    @property
    def jedec_id(self) -> bytes: ...

    @property
    def flags(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I3cTargetRoleState:
    """What the host set the I3C target to."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def active(self) -> bool: ...

    @property
    def layout(self) -> int: ...

    @property
    def pid(self) -> bytes: ...

    @property
    def bcr(self) -> int: ...

    @property
    def dcr(self) -> int: ...

    @property
    def static_address(self) -> int: ...

    @property
    def dynamic_address(self) -> int: ...

    @property
    def mwl(self) -> int: ...

    @property
    def mrl(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I3cBusTransaction:
    """What one I3C transaction of the external controller met."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def ack(self) -> bool: ...

    @property
    def data(self) -> bytes: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class RegisterRegion:
    """
    A register-map region: [start, end], its access rule (0 RW, 1 RO, 2 WO, 3 read-clear, 4 write-1-to-clear, 5 reserved).
    """

    def __init__(self, **kwargs) -> None: ...

    @property
    def start(self) -> int: ...

    @property
    def end(self) -> int: ...

    @property
    def access(self) -> int: ...

    @property
    def width(self) -> int: ...

    @property
    def flags(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class I2cTargetController:
    """An external I2C controller on the bus of the adapter's I2C target."""

    def __repr__(self) -> str: ...

    def write(self, address: int, data: bytes, *, bus: int | enum.Enum = 0, ten_bit: bool = False) -> I2cBusTransaction:
        """
        A write transaction: the memory address bytes (most significant first), then data.
        """

    def read(self, address: int, count: int, *, bus: int | enum.Enum = 0, ten_bit: bool = False) -> I2cBusTransaction:
        """A read transaction from the target's address pointer."""

    def write_read(self, address: int, data: bytes, count: int, *, bus: int | enum.Enum = 0, ten_bit: bool = False) -> I2cBusTransaction:
        """A write, a repeated START and a read."""

class I2cTargetBench:
    """
    The adapter as I2C target: its state, memory, virtual clock and an external controller.
    """

    def __repr__(self) -> str: ...

    def command(self, code: int, params: bytes = ..., bulk_out: bytes = ...) -> tuple:
        """
        Run a host command of this target family (its code and parameter bytes) straight on the firmware; a memory write takes its data from bulk_out. Returns (response message, bulk IN bytes); nothing travels over USB.
        """

    @property
    def controller(self) -> I2cTargetController:
        """The external controller."""

    @property
    def state(self) -> I2cTargetState:
        """What the host set the target to."""

    @property
    def memory(self) -> bytes:
        """The target's memory, raw (no access rules)."""

    @property
    def regions(self) -> list[RegisterRegion]:
        """The register-map regions the host set."""

    @property
    def clock_us(self) -> int:
        """The bus's virtual clock (90 us per byte on the bus)."""

    def advance_clock(self, us: int) -> None:
        """Let virtual time pass on the bus."""

    @property
    def busy(self) -> bool:
        """An EEPROM write or erase cycle is running."""

class SpiTargetController:
    """An external SPI controller wired to the adapter's SPI target."""

    def __repr__(self) -> str: ...

    def transfer(self, data: bytes, *, chip_select: int | enum.Enum | None = None, mode: int | enum.Enum | None = None, bit_order: int | enum.Enum | None = None, chip_select_polarity: int | enum.Enum | None = None) -> bytes:
        """
        One chip-select frame, full duplex; returns MISO. A setting left at None is the target's own.
        """

class SpiTargetBench:
    """
    The adapter as SPI target: its state, memory, virtual clock and an external controller.
    """

    def __repr__(self) -> str: ...

    def command(self, code: int, params: bytes = ..., bulk_out: bytes = ...) -> tuple:
        """
        Run a host command of this target family (its code and parameter bytes) straight on the firmware; a memory write takes its data from bulk_out. Returns (response message, bulk IN bytes); nothing travels over USB.
        """

    @property
    def controller(self) -> SpiTargetController:
        """The external controller."""

    @property
    def state(self) -> SpiTargetState:
        """What the host set the target to."""

    @property
    def memory(self) -> bytes:
        """The target's memory, raw."""

    def add_region(self, start: int, end: int, access: int | enum.Enum) -> None:
        """A register-map region with its access rule."""

    @property
    def clock_us(self) -> int:
        """The bus's virtual clock (8 us per byte on the bus)."""

    def advance_clock(self, us: int) -> None:
        """Let virtual time pass on the bus."""

    @property
    def busy(self) -> bool:
        """A flash program or erase is running."""

class I3cTargetController:
    """An external I3C controller on the bus of the adapter's I3C target."""

    def __repr__(self) -> str: ...

    def setdasa(self, static_address: int, dynamic_address: int) -> I3cBusTransaction:
        """Direct SETDASA."""

    def entdaa(self, dynamic_address: int) -> I3cBusTransaction:
        """
        ENTDAA offering this address; data: the PID, BCR and DCR of the target that took it.
        """

    def rstdaa(self) -> I3cBusTransaction:
        """Broadcast RSTDAA."""

    def private_write(self, address: int, data: bytes) -> I3cBusTransaction:
        """
        Private write: the register index (2 bytes, most significant first), then data. A write that would run past the end of memory is refused whole (ack False).
        """

    def private_read(self, address: int, count: int) -> I3cBusTransaction:
        """
        Private read from the register pointer, at most MRL bytes, stopping at the end of memory.
        """

    def ccc_get(self, ccc: int, address: int) -> I3cBusTransaction:
        """
        A direct GET CCC: GETMWL 0x8B, GETMRL 0x8C, GETPID 0x8D, GETBCR 0x8E, GETDCR 0x8F.
        """

class I3cTargetBench:
    """
    The adapter as I3C target: its identity, memory and an external controller.
    """

    def __repr__(self) -> str: ...

    def command(self, code: int, params: bytes = ..., bulk_out: bytes = ...) -> tuple:
        """
        Run a host command of this target family (its code and parameter bytes) straight on the firmware; a memory write takes its data from bulk_out. Returns (response message, bulk IN bytes); nothing travels over USB.
        """

    @property
    def controller(self) -> I3cTargetController:
        """The external controller."""

    @property
    def state(self) -> I3cTargetRoleState:
        """What the host set the target to, and its dynamic address."""

    @property
    def memory(self) -> bytes:
        """The 1024-byte target memory."""

class I2cDeviceKind(enum.Enum):
    """What an attached I2C device is."""

    EEPROM = 0
    """A serial EEPROM."""

    REGISTER_MAP = 1
    """256 registers."""

    OTHER = 2
    """A device of the caller's own."""

class I2cDeviceInfo:
    """
    An attached I2C device: size in bytes, an EEPROM's page size and memory address width (a register map: 256, 0, 1). bus is 0 on the I3C bus.
    """

    def __init__(self, **kwargs) -> None: ...

    @property
    def bus(self) -> int: ...

    @property
    def address(self) -> int: ...

    @property
    def ten_bit(self) -> bool: ...

    @property
    def kind(self) -> I2cDeviceKind: ...

    @property
    def size(self) -> int: ...

    @property
    def page_size(self) -> int: ...

    @property
    def address_bytes(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None

class SpiFlashInfo:
    """An attached SPI flash with the options it was attached with."""

    def __init__(self, **kwargs) -> None: ...

    @property
    def chip_select(self) -> int: ...

    @property
    def size(self) -> int: ...

    @property
    def jedec_id(self) -> list[int]: ...

    @property
    def busy_polls(self) -> int: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __repr__(self) -> str: ...

    __hash__: None = None
