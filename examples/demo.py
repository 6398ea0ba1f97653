# SPDX-License-Identifier: MIT
"""A tour of pyvantorsdk: identify an adapter, read its I/O voltage, scan an
I2C bus, write and read back an EEPROM, read an SPI flash's JEDEC id, loop a
UART message back and catch a GPIO interrupt.

It runs on a real adapter when one is attached, else on a virtual adapter
(``pyvantorsdk.sim``) with an EEPROM at 0x50 and a register map at 0x68 on
I2C bus A, an SPI flash on chip select 0 and its UART TX wired to RX.
"""

from __future__ import annotations

import contextlib
import sys
import threading
from typing import Callable, Iterator, Optional

import pyvantorsdk
from pyvantorsdk import (
    DeviceFacade,
    GpioFunctionality,
    GpioInterruptNotification,
    GpioPinNumber,
    GpioTriggerType,
    I2cBus,
    I2cPullUp,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
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


def section(title: str) -> None:
    print(f"\n== {title}")


def step(title: str, fn: Callable[[], None]) -> None:
    """Runs one part of the tour; a missing feature or a device error ends
    only that part."""
    section(title)
    try:
        fn()
    except AttributeError as e:
        print(f"   not available in this build ({e})")
    except errors.VantorError as e:
        print(f"   failed: {e}")


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


def main() -> None:
    print(f"pyvantorsdk {pyvantorsdk.__version__}")
    with contextlib.ExitStack() as stack:
        dev, adapter = open_adapter(stack)
        step("Device", lambda: show_device(dev))
        step("Voltage", lambda: show_voltage(dev))
        step("I2C scan", lambda: scan(dev))
        step("EEPROM", lambda: eeprom(dev))
        step("SPI flash", lambda: spi_flash(dev))
        step("UART loopback", lambda: uart(dev))
        step("GPIO interrupt", lambda: gpio(dev, adapter))
    print("\nDone.")


if __name__ == "__main__":
    main()
