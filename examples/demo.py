# SPDX-License-Identifier: MIT
"""A tour of pyvantorsdk: identify an adapter, read its I/O voltage, scan an
I2C bus, write and read back an EEPROM, read an SPI flash's JEDEC id, loop a
UART message back, catch a GPIO interrupt, bring up an I3C bus and receive an
in-band interrupt from it, then let the adapter pose as an I2C EEPROM and an
SPI flash that an external controller writes and reads.

It runs on a real adapter when one is attached, else on a virtual adapter
(``pyvantorsdk.sim``) with an EEPROM at 0x50 and a register map at 0x68 on
I2C bus A, an SPI flash on chip select 0, its UART TX wired to RX, two I3C
targets on the I3C bus, and the external controllers that drive the adapter
in its target roles.
"""

from __future__ import annotations

import contextlib
import sys
import threading
from typing import Any, Callable, Dict, Iterator, Optional

import pyvantorsdk
from pyvantorsdk import (
    DeviceFacade,
    GpioFunctionality,
    GpioInterruptNotification,
    GpioPinNumber,
    GpioTriggerType,
    I2cBus,
    I2cOpenDrainRate,
    I2cPullUp,
    I2cTargetAddressMode,
    I2cTargetBusEventNotification,
    I2cTargetMemoryLayout,
    I2cTargetModel,
    I3cDriveStrength,
    I3cEvent,
    I3cIbiNotification,
    I3cOpenDrainRate,
    I3cPushPullRate,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
    SpiTargetBusEventNotification,
    SpiTargetEngine,
    SpiTargetModel,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartRxNotification,
    UartStopBit,
    errors,
    sim,
)

EEPROM = 0x50
REGISTER_MAP = 0x68
EVENT_TIMEOUT = 2.0  # seconds to wait for a notification
# The virtual I3C bus: a memory with a static address whose interrupts carry
# a payload, and a sensor-like target that has no static address.
I3C_MEMORY = 0x046A00000001
I3C_SENSOR = 0x07710000002A
I3C_IDENTITY: Dict[int, Dict[str, Any]] = {
    I3C_MEMORY: dict(bcr=0x06, dcr=0xC5, static_address=0x52),
    I3C_SENSOR: dict(bcr=0x02, dcr=0x63),
}
EMULATED_EEPROM = 0x54  # the adapter's own address on I2C bus B
I2C_TARGET_EVENTS = {0: "write", 1: "read", 2: "busy, not acknowledged", 3: "write-protected"}
SPI_TARGET_EVENTS = {0: "write", 1: "read", 2: "command", 3: "erase"}


def section(title: str) -> None:
    print(f"\n== {title}")


def step(title: str, fn: Callable[[], None]) -> bool:
    """Runs one part of the tour; a missing feature or a device error ends
    only that part, which then counts as failed (False)."""
    section(title)
    try:
        fn()
    except AttributeError as e:
        print(f"   not available in this build ({e})")
    except errors.VantorError as e:
        print(f"   failed: {e}")
    else:
        return True
    return False


def hexstr(data: bytes) -> str:
    return data.hex(" ") if data else "(none)"


@contextlib.contextmanager
def virtual_bench() -> Iterator[sim.VirtualAdapter]:
    """A virtual adapter with the demo's devices attached."""
    with sim.VirtualAdapter(serial="DEMO0001") as adapter:
        for what, attach in (
            ("EEPROM at 0x50", lambda: adapter.i2c.attach_eeprom(I2cBus.A, EEPROM)),
            ("register map at 0x68", lambda: adapter.i2c.attach_register_map(I2cBus.A, REGISTER_MAP)),
            ("SPI flash on CS0", lambda: adapter.spi.attach_flash(SpiChipSelect.CS_0)),
            ("UART loopback", lambda: setattr(adapter.uart, "loopback", True)),
            ("I3C bus", lambda: [adapter.i3c.attach_target(pid, **identity)
                                 for pid, identity in I3C_IDENTITY.items()]),
        ):
            try:
                attach()
            except AttributeError:
                print(f"   (the virtual adapter of this build has no {what})")
        yield adapter


def open_adapter(stack: contextlib.ExitStack) -> tuple[DeviceFacade, Optional[sim.VirtualAdapter]]:
    real = pyvantorsdk.find_adapters(include_virtual=False)
    adapter = None
    if real:
        path = real[0].path
        print(f"Using the adapter at {path}")
    else:
        print("No adapter attached: using a virtual one")
        adapter = stack.enter_context(virtual_bench())
        path = adapter.path
    dev = stack.enter_context(DeviceFacade())
    if not dev.connect(path):
        sys.exit(f"Could not open {path}")
    return dev, adapter


def show_device(dev: DeviceFacade) -> None:
    info = dev.get_device_info()
    print(f"   {info.manufacturer} {info.product_name} ({info.model.name})")
    print(f"   serial {info.serial_number}, {info.hw_version}, {info.fw_version}")
    print(f"   SDK {dev.get_version()}, bulk interface: {'yes' if dev.is_bulk_transport_available() else 'no'}")


def show_voltage(dev: DeviceFacade) -> None:
    dev.i2c_set_bus_voltage(3300)
    print(f"   I/O rail: {dev.i2c_get_bus_voltage()} mV")


def scan(dev: DeviceFacade) -> None:
    dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)
    result = dev.i2c_scan_bus(I2cBus.A)
    found = ", ".join(f"0x{a:02X}" for a in sorted(result.addresses_7bit)) or "nothing"
    print(f"   bus A answers at: {found}")


def eeprom(dev: DeviceFacade) -> None:
    message = b"pyvantorsdk!"
    dev.i2c_write(I2cBus.A, EEPROM, b"\x10", message, False)
    back = dev.i2c_read(I2cBus.A, EEPROM, b"\x10", len(message), False)
    print(f"   wrote {message!r} at 0x10, read back {back!r}: {'match' if back == message else 'MISMATCH'}")


def spi_flash(dev: DeviceFacade) -> None:
    dev.spi_controller_init(SpiBitOrder.MSB, SpiMode.MODE_0, SpiDataWidth.BITS_8, SpiChipSelect.CS_0,
                            SpiChipSelectPolarity.ACTIVE_LOW, 10_000_000)
    answer = dev.spi_transfer(b"\x9f", 4)  # READ JEDEC ID
    print(f"   JEDEC id: {hexstr(answer[1:4])}")


def uart(dev: DeviceFacade) -> None:
    received = bytearray()
    done = threading.Event()
    message = b"hello over the wire"

    def on_event(event: pyvantorsdk.Notification) -> None:
        if isinstance(event, UartRxNotification):
            received.extend(event.data)
            if len(received) >= len(message):
                done.set()

    dev.on_notification(on_event)
    try:
        dev.uart_init(UartBaudRate.BAUD_115200, UartHwHandshake.DISABLED, UartParity.NONE,
                      UartDataSize.BITS_8, UartStopBit.ONE)
        dev.uart_send_message(message)
        if done.wait(EVENT_TIMEOUT):
            print(f"   sent {message!r}, received {bytes(received)!r}")
        else:
            print(f"   sent {message!r}; nothing came back (is TX wired to RX?)")
    finally:
        dev.on_notification(None)


def gpio(dev: DeviceFacade, adapter: Optional[sim.VirtualAdapter]) -> None:
    events: list[GpioInterruptNotification] = []
    done = threading.Event()

    def on_event(event: pyvantorsdk.Notification) -> None:
        if isinstance(event, GpioInterruptNotification):
            events.append(event)
            done.set()

    dev.on_notification(on_event)
    try:
        pin = GpioPinNumber.PIN_2
        dev.gpio_configure_pin(pin, GpioFunctionality.DIGITAL_INPUT)
        dev.gpio_configure_interrupt(pin, GpioTriggerType.RISING_EDGE)
        if adapter is not None:
            adapter.gpio.drive_input(pin, 1)  # the virtual bench raises the pin
        else:
            print(f"   waiting {EVENT_TIMEOUT:.0f} s for a rising edge on PIN_2 ...")
        if done.wait(EVENT_TIMEOUT):
            e = events[0]
            edge = GpioTriggerType(e.triggered_edge).name
            print(f"   interrupt on {GpioPinNumber(e.pin_number).name}: {edge}, level {e.logic_level}")
            print(f"   the pin now reads {dev.gpio_digital_read(pin)}")
        else:
            print("   no interrupt")
        dev.gpio_disable_interrupt(pin)
    finally:
        dev.on_notification(None)


class Events:
    """A notification callback that keeps the notifications of one class."""

    def __init__(self, kind: type) -> None:
        self.kind = kind
        self.items: list = []
        self.arrived = threading.Condition()

    def __call__(self, event: pyvantorsdk.Notification) -> None:
        if isinstance(event, self.kind):
            with self.arrived:
                self.items.append(event)
                self.arrived.notify_all()

    def wait_for(self, count: int) -> list:
        with self.arrived:
            self.arrived.wait_for(lambda: len(self.items) >= count, EVENT_TIMEOUT)
            return list(self.items)


def i3c(dev: DeviceFacade, adapter: Optional[sim.VirtualAdapter]) -> None:
    dev.i3c_controller_init(I3cPushPullRate.PUSH_PULL_3_125_MHZ_DC_25, I3cOpenDrainRate.OPEN_DRAIN_1_MHZ,
                            I2cOpenDrainRate.FAST_MODE, I3cDriveStrength.STANDARD)
    dev.i3c_init_bus()  # every target takes part in ENTDAA
    table = dev.i3c_get_device_table()
    print(f"   {len(table)} target(s) after dynamic address assignment:")
    for target in table:
        address = target["dynamic_address"]
        print(f"   0x{address:02X}: PID {hexstr(dev.i3c_ccc_getpid(address))}, "
              f"BCR 0x{dev.i3c_ccc_getbcr(address):02X}, DCR 0x{dev.i3c_ccc_getdcr(address):02X}")
    if not table:
        return
    address = table[0]["dynamic_address"]
    message = b"over I3C"
    dev.i3c_sdr_write(address, b"\x00", message)
    back = dev.i3c_sdr_read(address, b"\x00", len(message))
    print(f"   SDR: wrote {message!r} to 0x{address:02X}, read back {back!r}")
    words = bytes([0x11, 0x22, 0x33, 0x44])
    dev.i3c_hdr_ddr_write(address, 0x08, words)  # HDR-DDR write command 0x08 ...
    back = dev.i3c_hdr_ddr_read(address, 0x88, len(words))  # ... and its read command
    print(f"   HDR-DDR: wrote {hexstr(words)}, read back {hexstr(back)}")

    events = Events(I3cIbiNotification)
    dev.on_notification(events)
    try:
        dev.i3c_ccc_enec_broadcast(I3cEvent.IBI)
        if adapter is not None:
            adapter.i3c.raise_ibi(I3C_MEMORY, b"\x2a")  # the virtual target interrupts
        else:
            print(f"   waiting {EVENT_TIMEOUT:.0f} s for an in-band interrupt ...")
        received = events.wait_for(1)
        if received:
            print(f"   in-band interrupt from 0x{received[0].address:02X}, payload {hexstr(received[0].payload)}")
        else:
            print("   no in-band interrupt")
    finally:
        dev.on_notification(None)


def i2c_target(dev: DeviceFacade, adapter: Optional[sim.VirtualAdapter]) -> None:
    if adapter is None:
        print("   needs an external I2C controller on bus B (the virtual adapter brings one)")
        return
    events = Events(I2cTargetBusEventNotification)
    dev.on_notification(events)
    try:
        size = dev.i2c_target_init(I2cBus.B, EMULATED_EEPROM, I2cTargetAddressMode.BIT_7,
                                   I2cTargetMemoryLayout.BIT_8, I2cTargetModel.EEPROM)
        print(f"   the adapter is a {size}-byte EEPROM at 0x{EMULATED_EEPROM:02X} on bus B")
        dev.i2c_target_write_memory(0x00, b"from the host")
        bus = adapter.i2c_target.controller  # another controller on bus B
        read = bus.write_read(EMULATED_EEPROM, b"\x00", 13, bus=I2cBus.B.value)
        print(f"   the external controller reads {read.data!r}")
        bus.write(EMULATED_EEPROM, b"\x20" + b"from the bus", bus=I2cBus.B.value)
        for e in events.wait_for(3):
            print(f"   event: {I2C_TARGET_EVENTS.get(e.event, e.event)} at 0x{e.memory_address:02X}, "
                  f"{e.payload_length} byte(s)")
        print(f"   the host reads back {dev.i2c_target_read_memory(0x20, 12)!r}")
    finally:
        dev.on_notification(None)


def spi_target(dev: DeviceFacade, adapter: Optional[sim.VirtualAdapter]) -> None:
    if adapter is None:
        print("   needs an external SPI controller (the virtual adapter brings one)")
        return
    events = Events(SpiTargetBusEventNotification)
    dev.on_notification(events)
    try:
        dev.spi_deinit()  # the SPI bus leaves the controller role of the earlier step
        size = dev.spi_target_init(SpiMode.MODE_0, SpiBitOrder.MSB, SpiChipSelect.CS_0,
                                   SpiChipSelectPolarity.ACTIVE_LOW, SpiTargetModel.FLASH,
                                   SpiTargetEngine.DMA)
        dev.spi_target_set_flash_config(3, 256, 1000, b"\xef\x40\x18", 0)
        print(f"   the adapter is a {size // 1024} KiB serial flash on CS0")
        bus = adapter.spi_target.controller
        jedec = bus.transfer(b"\x9f" + bytes(3))[1:]  # READ JEDEC ID
        print(f"   the external controller reads JEDEC id {hexstr(jedec)}")
        bus.transfer(b"\x06")  # write enable
        bus.transfer(b"\x02\x00\x01\x00" + b"programmed")  # page program at 0x100
        adapter.spi_target.advance_clock(1000)  # the write cycle ends
        for e in events.wait_for(3):
            print(f"   event: {SPI_TARGET_EVENTS.get(e.event, e.event)} at 0x{e.memory_address:03X}, "
                  f"{e.payload_length} byte(s)")
        print(f"   the host reads back {dev.spi_target_read_memory(0x100, 10)!r}")
    finally:
        dev.on_notification(None)


def main() -> int:
    """Runs the whole tour; the exit status is 1 when any part failed."""
    print(f"pyvantorsdk {pyvantorsdk.__version__}")
    with contextlib.ExitStack() as stack:
        dev, adapter = open_adapter(stack)
        tour = [
            ("Device", lambda: show_device(dev)),
            ("Voltage", lambda: show_voltage(dev)),
            ("I2C scan", lambda: scan(dev)),
            ("EEPROM", lambda: eeprom(dev)),
            ("SPI flash", lambda: spi_flash(dev)),
            ("UART loopback", lambda: uart(dev)),
            ("GPIO interrupt", lambda: gpio(dev, adapter)),
            ("I3C bus", lambda: i3c(dev, adapter)),
            ("I2C EEPROM target", lambda: i2c_target(dev, adapter)),
            ("SPI flash target", lambda: spi_target(dev, adapter)),
        ]
        failed = [title for title, part in tour if not step(title, part)]
    if failed:
        print(f"\n{len(failed)} of {len(tour)} parts failed: {', '.join(failed)}")
        return 1
    print("\nDone.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
