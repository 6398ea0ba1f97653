# SPDX-License-Identifier: MIT
"""The CircuitPython-style buses and pins: slices and transfers as the
adapter receives them, the bus lock, errors as OSError, and an unmodified
CircuitPython driver over the virtual adapter."""

from __future__ import annotations

import errno
from array import array

import adafruit_24lc32
import pytest
from adafruit_bus_device.spi_device import SPIDevice

from helpers import I2cTransfer, i2c_transfers, run_readme_example
from pyvantorsdk import GpioPinNumber, I2cBus, I2cPullUp, SpiChipSelect, errors
from pyvantorsdk.circuitpython import I2C, SPI, ChipSelect, DigitalInOut, Direction, Pull

DEVICE = 0x48


@pytest.fixture
def i2c(adapter, dev):
    adapter.i2c.attach_register_map(I2cBus.A, DEVICE)
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0, bytes(range(0x40)))
    with I2C(dev) as bus:
        assert bus.try_lock()
        adapter.clear()
        yield bus
        bus.unlock()


def write(data, non_stop=False):
    return I2cTransfer("write", DEVICE, b"", data, len(data), non_stop)


def read(length, subaddress=b""):
    return I2cTransfer("read", DEVICE, subaddress, b"", length, False)


OUT = bytes([0x10, 0x11, 0x12, 0x13, 0x14, 0x15])

# (call on the bus with an 8-byte input buffer, transfers, buffer afterwards)
SLICES = [
    ("writeto_whole", lambda b, buf: b.writeto(DEVICE, OUT), [write(OUT)], None),
    ("writeto_start_end", lambda b, buf: b.writeto(DEVICE, OUT, start=1, end=3),
     [write(OUT[1:3])], None),
    ("writeto_end_past_buffer", lambda b, buf: b.writeto(DEVICE, OUT, start=4), [write(OUT[4:])],
     None),
    ("readfrom_into_slice", lambda b, buf: b.readfrom_into(DEVICE, buf, start=2, end=5), [read(3)],
     b"\xee\xee\x00\x01\x02\xee\xee\xee"),
    # start and end count items, not bytes, in buffers of wider items.
    ("writeto_slices_wide_items",
     lambda b, buf: b.writeto(DEVICE, array("H", [0, 0x4241, 0x4443]), start=1, end=3),
     [write(array("H", [0x4241, 0x4443]).tobytes())], None),
    ("readfrom_into_fills_wide_items",
     lambda b, buf: b.readfrom_into(DEVICE, memoryview(buf).cast("H"), start=1, end=3), [read(4)],
     b"\xee\xee\x00\x01\x02\x03\xee\xee"),
    ("readfrom_into_fills_a_2d_buffer_by_bytes",
     lambda b, buf: b.readfrom_into(DEVICE, memoryview(buf).cast("B", (2, 4)), start=6), [read(2)],
     b"\xee" * 6 + b"\x00\x01"),
    ("short_write_then_read_one_transfer",
     lambda b, buf: b.writeto_then_readfrom(DEVICE, OUT, buf, out_start=0, out_end=1, in_start=6),
     [read(2, subaddress=OUT[:1])], b"\xee" * 6 + b"\x10\x11"),
    ("four_byte_write_then_read_one_transfer",
     lambda b, buf: b.writeto_then_readfrom(DEVICE, OUT, buf, out_end=4, in_end=2),
     [read(2, subaddress=OUT[:4])], None),
    # The register map takes the first byte written (0x11) as its pointer,
    # which runs on past the four data bytes.
    ("long_write_then_read_without_stop",
     lambda b, buf: b.writeto_then_readfrom(DEVICE, OUT, buf, out_start=1, in_end=2),
     [write(OUT[1:], non_stop=True), read(2)], b"\x15\x16" + b"\xee" * 6),
    ("empty_read_slice_writes_only",
     lambda b, buf: b.writeto_then_readfrom(DEVICE, OUT, buf, out_end=2, in_start=8),
     [write(OUT[:2])], b"\xee" * 8),
]


@pytest.mark.parametrize("call, transfers, result", [row[1:] for row in SLICES],
                         ids=[row[0] for row in SLICES])
def test_slices_on_the_bus(adapter, i2c, call, transfers, result):
    buffer = bytearray(b"\xee" * 8)
    call(i2c, buffer)
    assert i2c_transfers(adapter.requests) == transfers
    if result is not None:
        assert buffer == result




def test_transfers_need_the_lock(adapter, dev):
    with I2C(dev) as bus:
        with pytest.raises(RuntimeError):
            bus.writeto(DEVICE, b"\x00")
        assert bus.try_lock()
        assert not bus.try_lock()  # a second user waits
        bus.unlock()
        assert bus.try_lock()


def test_scan_in_order_and_nack_as_enodev_with_the_adapter_error_as_cause(adapter, i2c):
    adapter.i2c.attach_eeprom(I2cBus.A, 0x20)
    assert i2c.scan() == [0x20, DEVICE]
    with pytest.raises(OSError) as raised:
        i2c.writeto(0x49, b"")
    assert raised.value.errno == errno.ENODEV
    assert isinstance(raised.value.__cause__, errors.I2cError)


@pytest.mark.parametrize("first_released_first", [True, False],
                         ids=["first_released_first", "second_released_first"])
def test_objects_on_one_bus_share_it_until_the_last_releases_it(adapter, dev,
                                                                first_released_first):
    adapter.i2c.attach_register_map(I2cBus.A, DEVICE)
    objects = [I2C(dev, frequency=400_000), I2C(dev, frequency=400_000)]
    gone, staying = objects if first_released_first else objects[::-1]
    gone.deinit()
    assert adapter.i2c.bus(I2cBus.A).initialized
    assert staying.try_lock()
    staying.writeto(DEVICE, b"\x00")  # still served
    staying.deinit()
    assert not adapter.i2c.bus(I2cBus.A).initialized


# (the second object's settings, the refusal) while a first runs the bus at 100 kHz
REFUSED_SECOND = {
    "another_frequency": (dict(frequency=400_000), "in use .* at 100000 Hz"),
    "other_pull_ups": (dict(pull_up=I2cPullUp.KOHM_2_2), "pull-ups KOHM_4_7"),
    "frequency_over_32_bits": (dict(frequency=2**32), "outside 1..4294967295"),
}


@pytest.mark.parametrize("settings, refusal", list(REFUSED_SECOND.values()),
                         ids=list(REFUSED_SECOND))
def test_second_object_with_other_settings_is_refused(adapter, dev, settings, refusal):
    with I2C(dev, frequency=100_000) as first:
        adapter.clear()
        with pytest.raises(ValueError, match=refusal):
            I2C(dev, **settings)
        assert adapter.requests == []
        assert first.frequency == adapter.i2c.bus(I2cBus.A).frequency_hz == 100_000


@pytest.mark.parametrize("before, kept", [
    (lambda dev: I2C(dev), False),  # dropped at once: the next object takes the bus over
    (lambda dev: dev.i2c_controller_init(I2cBus.A, 100_000, 0), True),  # its user keeps it
], ids=["left_by_an_object_dropped_without_deinit", "set_up_elsewhere"])
def test_bus_already_set_up_is_set_to_the_speed(adapter, dev, before, kept):
    before(dev)
    with I2C(dev, frequency=400_000) as bus:
        assert bus.frequency == adapter.i2c.bus(I2cBus.A).frequency_hz == 400_000
    assert adapter.i2c.bus(I2cBus.A).initialized is kept


def test_third_party_eeprom_driver(adapter, dev):
    adapter.i2c.attach_eeprom(I2cBus.A, 0x50, size=4096, page_size=32, address_bytes=2)
    with I2C(dev) as bus:
        eeprom = adafruit_24lc32.EEPROM_I2C(bus)
        eeprom[0x123:0x128] = b"hello"
        assert eeprom[0x123:0x128] == b"hello"
        assert eeprom[0x123] == b"h"
        with pytest.raises(ValueError, match="No I2C device"):
            adafruit_24lc32.EEPROM_I2C(bus, address=0x51)  # the driver's probe
    assert adapter.i2c.memory(I2cBus.A, 0x50)[0x123:0x128] == b"hello"


# ---------------------------------------------------------------------- SPI
JEDEC_ID = b"\xa7\x40\x14"


@pytest.fixture
def spi(adapter, dev):
    adapter.spi.attach_flash(SpiChipSelect.CS_0)
    with SPI(dev) as bus:
        assert bus.try_lock()
        yield bus


def spi_sent(adapter):
    """The bytes of every SPI transfer request (0x0D04)."""
    return [bytes(m[8:]) for m in adapter.requests if m[2:4] == b"\x04\x0d"]


def test_spi_slices_write_value_and_write_readinto(adapter, spi):
    spi.write(b"\x01\x02\x03\x04", start=1, end=3)
    spi.readinto(bytearray(4), start=1, end=3, write_value=0x9F)
    words = array("H", [1, 0x0302, 0x0504])
    spi.write(words, start=1, end=3)  # in items
    received = bytearray(7)
    spi.write_readinto(b"\x00\x9f\x00\x00\x00\x00", received, out_start=1, in_start=2)
    assert received[:2] == b"\x00\x00"  # before in_start: untouched
    assert received[3:6] == JEDEC_ID
    assert spi_sent(adapter) == [b"\x02\x03", b"\x9f\x9f", words[1:].tobytes(),
                                 b"\x9f\x00\x00\x00\x00"]


def test_spi_configure_reaches_the_controller(adapter, spi):
    spi.configure(baudrate=2_000_000, polarity=1, phase=1, bits=16)
    state = adapter.spi.controller
    assert (state.frequency_hz, state.mode, state.data_width) == (2_000_000, 3, 1)
    assert spi.frequency == 2_000_000


# (configure arguments, the error): refused, by the class or by the adapter
REFUSED_CONFIGURATIONS = {
    "baudrate_over_32_bits": (dict(baudrate=2**33), ValueError),
    "baudrate_zero": (dict(baudrate=0), ValueError),
    "baudrate_the_adapter_refuses": (dict(baudrate=1), OSError),
    "bits_12": (dict(bits=12), ValueError),
    "polarity_2": (dict(polarity=2), ValueError),
}


@pytest.mark.parametrize("arguments, error", list(REFUSED_CONFIGURATIONS.values()),
                         ids=list(REFUSED_CONFIGURATIONS))
def test_spi_refused_configuration_is_not_kept(adapter, spi, arguments, error):
    for _ in range(2):  # a repeat is refused again, not taken as already set
        with pytest.raises(error):
            spi.configure(**arguments)
    assert spi.frequency == adapter.spi.controller.frequency_hz == 100_000


def test_chip_select_pin_makes_command_and_answer_one_transfer(adapter, dev):
    adapter.spi.attach_flash(SpiChipSelect.CS_0)
    adapter.spi.write_memory(SpiChipSelect.CS_0, 0x10, b"flash")
    with SPI(dev) as bus:
        device = SPIDevice(bus, ChipSelect(bus), baudrate=1_000_000)
        answer = bytearray(5)
        with device as spi:
            spi.write(b"\x03\x00\x00\x10")  # read from 0x000010
            spi.readinto(answer)
        with device as spi:
            spi.write(b"\x06")  # write enable: clocked out when deselected
        assert spi_sent(adapter) == [b"\x03\x00\x00\x10" + b"\x00" * 5, b"\x06"]
    assert answer == b"flash"


# --------------------------------------------------------------------- GPIO
def test_pins_drive_and_read_the_lines(adapter, dev):
    with DigitalInOut(dev, GpioPinNumber.PIN_2) as pin:
        assert pin.direction == Direction.INPUT
        pin.switch_to_output(value=True)
        assert adapter.gpio.output_level(GpioPinNumber.PIN_2) == 1
        pin.value = False
        assert adapter.gpio.output_level(GpioPinNumber.PIN_2) == 0
        assert pin.value is False
    assert adapter.gpio.output_level(GpioPinNumber.PIN_2) is None  # released to input
    with DigitalInOut(dev, GpioPinNumber.PIN_3) as pin:
        adapter.gpio.drive_input(GpioPinNumber.PIN_3, 1)
        assert pin.value is True and pin.pull is None
        with pytest.raises(NotImplementedError):  # the pins have no pull resistors
            pin.switch_to_input(pull=Pull.UP)


def test_readme_example():
    run_readme_example("### CircuitPython drivers")
