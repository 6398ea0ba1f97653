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


# (method, its arguments after the address, the transfers the adapter must
# receive, what it returns when that is checked) over 34 12 at 0x10 and a
# block of 2 at 0x20
TRANSACTIONS = [
    ("write_quick", (), [write()], None),
    ("write_byte", (0xAB,), [write(data=b"\xab")], None),
    ("read_byte", (), [read()], None),
    ("write_byte_data", (0x10, 0xAB), [write(b"\x10", b"\xab")], None),
    ("read_byte_data", (0x11,), [read(b"\x11")], 0x12),
    ("write_word_data", (0x10, 0x1234), [write(b"\x10", b"\x34\x12")], None),  # low byte first
    ("read_word_data", (0x10,), [read(b"\x10", 2)], 0x1234),
    # One transfer without a stop between the write and the read; the answer
    # low byte first.
    ("process_call", (0x10, 0x5678), [read(b"\x10\x78\x56", 2)], 0x1234),
    ("write_block_data", (0x20, [1, 2, 3]), [write(b"\x20", b"\x03\x01\x02\x03")], None),
    ("write_i2c_block_data", (0x20, [1, 2, 3]), [write(b"\x20", b"\x01\x02\x03")], None),
    ("read_i2c_block_data", (0x20, 3), [read(b"\x20", 3)], [0x02, 0xAA, 0xBB]),
    ("read_block_data", (0x20,), [read(b"\x20", 33)], [0xAA, 0xBB]),  # reads the longest block
]


@pytest.mark.parametrize("method, args, expected, result", TRANSACTIONS,
                         ids=[row[0] for row in TRANSACTIONS])
def test_transaction_on_the_bus(adapter, bus, method, args, expected, result):
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x10, b"\x34\x12")
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x20, b"\x02\xaa\xbb")
    returned = getattr(bus, method)(DEVICE, *args)
    assert i2c_transfers(adapter.requests) == expected
    if result is not None:
        assert returned == result


def test_pec(adapter, bus):
    assert pec(b"123456789") == 0xF4  # the CRC-8/SMBUS check value
    assert pec(b"") == 0
    bus.pec = True
    # Sent after write data, but not after I2C block writes or quick commands.
    bus.write_word_data(DEVICE, 0x10, 0x1234)
    bus.write_i2c_block_data(DEVICE, 0x20, [1, 2])
    bus.write_quick(DEVICE)
    expected = pec(bytes([DEVICE << 1, 0x10, 0x34, 0x12]))
    assert i2c_transfers(adapter.requests) == [write(b"\x10", bytes([0x34, 0x12, expected])),
                                               write(b"\x20", b"\x01\x02"), write()]
    # Checked on reads.
    adapter.clear()
    good = pec(bytes([DEVICE << 1, 0x10, DEVICE << 1 | 1, 0x34, 0x12]))
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x10, bytes([0x34, 0x12, good]))
    assert bus.read_word_data(DEVICE, 0x10) == 0x1234
    assert i2c_transfers(adapter.requests) == [read(b"\x10", 3)]
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x12, bytes([good ^ 0xFF]))
    with pytest.raises(OSError) as raised:
        bus.read_word_data(DEVICE, 0x10)
    assert raised.value.errno == errno.EBADMSG
    # That of a block read follows the counted bytes.
    block = b"\x02\xaa\xbb"
    code = pec(bytes([DEVICE << 1, 0x20, DEVICE << 1 | 1]) + block)
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x20, block + bytes([code]))
    assert bus.read_block_data(DEVICE, 0x20) == [0xAA, 0xBB]


# (call on the bus, what the error names): arguments that do not fit the
# transaction are refused before anything is sent, never cut to fit
REFUSED = {
    "register_over_8_bits": (lambda b: b.write_byte_data(DEVICE, 0x101, 1), "register"),
    "register_negative": (lambda b: b.read_word_data(DEVICE, -1), "register"),
    "byte_value_256": (lambda b: b.write_byte_data(DEVICE, 0, 0x100), "value"),
    "byte_negative": (lambda b: b.write_byte(DEVICE, -1), "value"),
    "word_over_16_bits": (lambda b: b.write_word_data(DEVICE, 0, 0x10000), "value"),
    "process_call_word_negative": (lambda b: b.process_call(DEVICE, 0, -1), "value"),
    "block_byte_256": (lambda b: b.write_block_data(DEVICE, 0, [1, 0x100]), "data"),
    "i2c_block_byte_negative": (lambda b: b.write_i2c_block_data(DEVICE, 0, [-1]), "data"),
    "address_over_7_bits": (lambda b: b.read_byte(0x80), "i2c_addr"),
    "block_of_33": (lambda b: b.write_block_data(DEVICE, 0, [0] * 33), "32"),
    "i2c_block_of_33": (lambda b: b.write_i2c_block_data(DEVICE, 0, [0] * 33), "32"),
    "i2c_block_read_of_33": (lambda b: b.read_i2c_block_data(DEVICE, 0, 33), "32"),
    # The later message is checked before the first is sent.
    "rdwr_read_of_65536": (lambda b: b.i2c_rdwr(i2c_msg.write(DEVICE, [0]),
                                                i2c_msg.read(DEVICE, 65536)), "65535"),
    "rdwr_write_of_65536": (lambda b: b.i2c_rdwr(i2c_msg.write(DEVICE, bytes(65536))), "65535"),
}


@pytest.mark.parametrize("call, named", list(REFUSED.values()), ids=list(REFUSED))
def test_out_of_range_arguments_are_refused_before_sending(adapter, bus, call, named):
    with pytest.raises(ValueError, match=named):
        call(bus)
    assert adapter.requests == []


def test_blocks_of_1_to_32_bytes(adapter, bus):
    bus.write_block_data(DEVICE, 0x40, list(range(32)))
    assert adapter.i2c.memory(I2cBus.A, DEVICE)[0x40:0x61] == bytes([32]) + bytes(range(32))
    for count in (0, 33):  # a count read outside the range is a protocol error
        adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x20, bytes([count]))
        with pytest.raises(OSError) as raised:
            bus.read_block_data(DEVICE, 0x20)
        assert raised.value.errno == errno.EPROTO


# (messages, the transfers the adapter must receive, what the last message
# read when that is checked) over bytes 1..10 at 0x10
RDWR = [
    ("short_write_then_read_is_one_transfer",
     lambda: [i2c_msg.write(DEVICE, [0x10]), i2c_msg.read(DEVICE, 2)], [read(b"\x10", 2)],
     b"\x01\x02"),
    # The register map takes the first written byte as the register pointer:
    # registers 0x17.. are read, after the 4 written.
    ("long_write_then_read_without_stop",
     lambda: [i2c_msg.write(DEVICE, b"\x13\x04\x05\x06\x07"), i2c_msg.read(DEVICE, 3)],
     [write(data=b"\x13\x04\x05\x06\x07", non_stop=True), read(length=3)], b"\x08\x09\x0a"),
    ("stop_only_after_the_last_message",
     lambda: [i2c_msg.write(DEVICE, [0x10]), i2c_msg.write(DEVICE, [0x20])],
     [write(data=b"\x10", non_stop=True), write(data=b"\x20")], None),
    ("single_read", lambda: [i2c_msg.read(DEVICE, 3)], [read(length=3)], None),
]


@pytest.mark.parametrize("messages, expected, data", [row[1:] for row in RDWR],
                         ids=[row[0] for row in RDWR])
def test_i2c_rdwr_transfers(adapter, bus, messages, expected, data):
    adapter.i2c.write_memory(I2cBus.A, DEVICE, 0x10, bytes(range(1, 11)))
    messages = messages()
    bus.i2c_rdwr(*messages)
    assert i2c_transfers(adapter.requests) == expected
    if data is not None:
        assert bytes(messages[-1]) == data


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
