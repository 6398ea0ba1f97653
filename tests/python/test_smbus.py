# SPDX-License-Identifier: MIT
"""The smbus2-style bus: SMBus transactions as the adapter receives them,
PEC, block rules, combined i2c_rdwr transfers, errors, and a third-party
driver that takes an SMBus object."""

from __future__ import annotations

import errno
import struct

import bme280
import pytest

from helpers import I2cTransfer, i2c_transfers, run_readme_example
from pyvantorsdk import I2cBus, errors
from pyvantorsdk.smbus import SMBus, i2c_msg, pec

DEVICE = 0x48


@pytest.fixture
def bus(adapter, dev):
    adapter.i2c.attach_register_map(I2cBus.A, DEVICE)
    with SMBus(dev) as smbus:
        adapter.clear()
        yield smbus


def write(subaddress=b"", data=b"", non_stop=False):
    return I2cTransfer("write", DEVICE, subaddress, data, len(data), non_stop)


def read(subaddress=b"", length=1, non_stop=False):
    return I2cTransfer("read", DEVICE, subaddress, b"", length, non_stop)


# (call on the bus, the transfers the adapter must receive)
TRANSACTIONS = [
    ("write_quick", lambda b: b.write_quick(DEVICE), [write()]),
    ("write_byte", lambda b: b.write_byte(DEVICE, 0xAB), [write(data=b"\xab")]),
    ("read_byte", lambda b: b.read_byte(DEVICE), [read()]),
    ("write_byte_data", lambda b: b.write_byte_data(DEVICE, 0x10, 0xAB), [write(b"\x10", b"\xab")]),
    ("read_byte_data", lambda b: b.read_byte_data(DEVICE, 0x10), [read(b"\x10")]),
    ("write_word_data_low_byte_first", lambda b: b.write_word_data(DEVICE, 0x10, 0x1234),
     [write(b"\x10", b"\x34\x12")]),
    ("read_word_data", lambda b: b.read_word_data(DEVICE, 0x10), [read(b"\x10", 2)]),
    ("process_call_one_transfer_without_stop", lambda b: b.process_call(DEVICE, 0x10, 0x1234),
     [read(b"\x10\x34\x12", 2)]),
    ("write_block_data_count_first", lambda b: b.write_block_data(DEVICE, 0x20, [1, 2, 3]),
     [write(b"\x20", b"\x03\x01\x02\x03")]),
    ("write_i2c_block_data_no_count", lambda b: b.write_i2c_block_data(DEVICE, 0x20, [1, 2, 3]),
     [write(b"\x20", b"\x01\x02\x03")]),
    ("read_i2c_block_data", lambda b: b.read_i2c_block_data(DEVICE, 0x20, 5), [read(b"\x20", 5)]),
    ("read_block_data_reads_longest_block", lambda b: b.read_block_data(DEVICE, 0x20),
     [read(b"\x20", 33)]),
]


@pytest.mark.parametrize("call, expected", [row[1:] for row in TRANSACTIONS],
                         ids=[row[0] for row in TRANSACTIONS])
def test_transaction_on_the_bus(adapter, bus, call, expected):
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x20, b"\x02\xaa\xbb")  # a block of 2
    call(bus)
    assert i2c_transfers(adapter.requests) == expected


def test_values_read_back_in_smbus_order(adapter, bus):
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x10, b"\x34\x12")
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x20, b"\x03\x0a\x0b\x0c\xff")
    assert bus.read_word_data(DEVICE, 0x10) == 0x1234
    assert bus.read_byte_data(DEVICE, 0x11) == 0x12
    assert bus.read_block_data(DEVICE, 0x20) == [0x0A, 0x0B, 0x0C]
    assert bus.read_i2c_block_data(DEVICE, 0x20, 2) == [0x03, 0x0A]


def test_pec_is_crc8_smbus():
    assert pec(b"123456789") == 0xF4  # the CRC-8/SMBUS check value
    assert pec(b"") == 0


def test_pec_sent_after_write_data_but_not_after_i2c_block_writes(adapter, bus):
    bus.pec = True
    bus.write_word_data(DEVICE, 0x10, 0x1234)
    bus.write_i2c_block_data(DEVICE, 0x20, [1, 2])
    expected = pec(bytes([DEVICE << 1, 0x10, 0x34, 0x12]))
    assert i2c_transfers(adapter.requests) == [write(b"\x10", bytes([0x34, 0x12, expected])),
                                               write(b"\x20", b"\x01\x02")]


def test_pec_checked_on_reads(adapter, bus):
    bus.pec = True
    good = pec(bytes([DEVICE << 1, 0x10, DEVICE << 1 | 1, 0x34, 0x12]))
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x10, bytes([0x34, 0x12, good]))
    assert bus.read_word_data(DEVICE, 0x10) == 0x1234
    assert i2c_transfers(adapter.requests) == [read(b"\x10", 3)]

    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x12, bytes([good ^ 0xFF]))
    with pytest.raises(OSError) as raised:
        bus.read_word_data(DEVICE, 0x10)
    assert raised.value.errno == errno.EBADMSG


def test_pec_of_a_block_read_follows_the_counted_bytes(adapter, bus):
    bus.pec = True
    block = b"\x02\xaa\xbb"
    code = pec(bytes([DEVICE << 1, 0x20, DEVICE << 1 | 1]) + block)
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x20, block + bytes([code]))
    assert bus.read_block_data(DEVICE, 0x20) == [0xAA, 0xBB]


@pytest.mark.parametrize("count", [0, 33], ids=["empty_block", "block_over_32"])
def test_block_count_outside_smbus_range_is_a_protocol_error(adapter, bus, count):
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x20, bytes([count]))
    with pytest.raises(OSError) as raised:
        bus.read_block_data(DEVICE, 0x20)
    assert raised.value.errno == errno.EPROTO


LIMITS = [
    ("write_block_data_33", lambda b: b.write_block_data(DEVICE, 0, [0] * 33)),
    ("write_i2c_block_data_33", lambda b: b.write_i2c_block_data(DEVICE, 0, [0] * 33)),
    ("read_i2c_block_data_33", lambda b: b.read_i2c_block_data(DEVICE, 0, 33)),
]


@pytest.mark.parametrize("call", [row[1] for row in LIMITS], ids=[row[0] for row in LIMITS])
def test_blocks_over_32_bytes_refused_before_sending(adapter, bus, call):
    with pytest.raises(ValueError):
        call(bus)
    assert adapter.requests == []


def test_block_of_32_bytes_passes(adapter, bus):
    bus.write_block_data(DEVICE, 0x40, list(range(32)))
    assert adapter.i2c.memory(I2cBus.A, DEVICE)[0x40:0x61] == bytes([32]) + bytes(range(32))


# (messages, the transfers the adapter must receive)
RDWR = [
    ("short_write_then_read_is_one_transfer",
     lambda: [i2c_msg.write(DEVICE, [0x10]), i2c_msg.read(DEVICE, 2)], [read(b"\x10", 2)]),
    ("long_write_then_read_without_stop",
     lambda: [i2c_msg.write(DEVICE, [0x10, 1, 2, 3, 4]), i2c_msg.read(DEVICE, 2)],
     [write(data=b"\x10\x01\x02\x03\x04", non_stop=True), read(length=2)]),
    ("stop_only_after_the_last_message",
     lambda: [i2c_msg.write(DEVICE, [0x10]), i2c_msg.write(DEVICE, [0x20])],
     [write(data=b"\x10", non_stop=True), write(data=b"\x20")]),
    ("single_read", lambda: [i2c_msg.read(DEVICE, 3)], [read(length=3)]),
]


@pytest.mark.parametrize("messages, expected", [row[1:] for row in RDWR], ids=[row[0] for row in RDWR])
def test_i2c_rdwr_transfers(adapter, bus, messages, expected):
    bus.i2c_rdwr(*messages())
    assert i2c_transfers(adapter.requests) == expected


def test_i2c_rdwr_fills_read_messages(adapter, bus):
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x10, bytes(range(1, 11)))
    short = i2c_msg.read(DEVICE, 2)
    bus.i2c_rdwr(i2c_msg.write(DEVICE, [0x10]), short)
    assert list(short) == [1, 2] and bytes(short) == b"\x01\x02"
    # The register map takes the first written byte as the register pointer.
    long = i2c_msg.read(DEVICE, 3)
    bus.i2c_rdwr(i2c_msg.write(DEVICE, b"\x13\x04\x05\x06\x07"), long)
    assert bytes(long) == b"\x08\x09\x0a"  # registers 0x17.., after the 4 written


def test_nack_is_enxio_with_the_adapter_error_as_cause(bus):
    with pytest.raises(OSError) as raised:
        bus.read_byte_data(0x49, 0)
    assert raised.value.errno == errno.ENXIO
    assert isinstance(raised.value.__cause__, errors.I2cError)


# A BME280 in the register map: the calibration words and raw readings of the
# worked example in the sensor's data sheet (25.08 degC, 1006.53 hPa).
_BME280 = 0x76
_CALIBRATION = struct.pack("<HhhHhhhhhhhh", 27504, 26435, -1000, 36477, -10685, 3024, 2855, 140,
                           -7, 15500, -14600, 6000)
_ADC = bytes([0x65, 0x5A, 0xC0, 0x7E, 0xED, 0x00, 0x80, 0x00])  # press, temp, hum


def test_third_party_bme280_driver(adapter, dev):
    adapter.i2c.attach_register_map(I2cBus.A, _BME280)
    adapter.i2c.write_memory(I2cBus.A, _BME280, 0x88, _CALIBRATION)
    adapter.i2c.write_memory(I2cBus.A, _BME280, 0xF7, _ADC)
    with SMBus(dev) as bus:
        calibration = bme280.load_calibration_params(bus, _BME280)
        reading = bme280.sample(bus, _BME280, calibration)
    assert reading.temperature == pytest.approx(25.08, abs=0.01)
    assert reading.pressure == pytest.approx(1006.53, abs=0.01)
    registers = adapter.i2c.memory(I2cBus.A, _BME280)
    assert registers[0xF2] == 1 and registers[0xF4] == 0x25  # x1 oversampling, forced mode


def test_readme_example():
    run_readme_example("### smbus2-style I2C")
