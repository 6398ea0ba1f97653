# SPDX-License-Identifier: MIT
"""The virtual adapter in its target roles: each model driven by the bench's
external controller, with the bus events a connected facade receives, on
both adapter models. The target is set up through host commands run on the
bench (the facade's own target methods come separately)."""

from __future__ import annotations

import struct

import pytest

from helpers import Collector
from pyvantorsdk import DeviceFacade, DeviceModel, StatusCode, errors, sim

I2C_TARGET_INIT = 0x0A01
I2C_TARGET_WRITE_MEMORY = 0x0A03
I2C_TARGET_READ_MEMORY = 0x0A04
I2C_TARGET_EEPROM = 0x0A05
I2C_TARGET_REGION = 0x0A07
SPI_TARGET_INIT = 0x0E01
SPI_TARGET_READ_MEMORY = 0x0E04
SPI_TARGET_FLASH = 0x0E05
I3C_TARGET_INIT = 0x1A01

# I2C target events (byte 6 of 0x0A81).
WRITE, READ, BUSY_NACK, WRITE_PROTECTED = 0, 1, 2, 3
# SPI target events (byte 6 of 0x0E81).
SPI_WRITE, SPI_READ, SPI_COMMAND, SPI_ERASE, SPI_REFUSED = 0, 1, 2, 3, 4


@pytest.fixture(params=[DeviceModel.TERANOX, DeviceModel.QUILLEX], ids=["teranox", "quillex"])
def adapter(request):
    with sim.VirtualAdapter(request.param, serial=f"TGT-{request.param.name}") as a:
        yield a


@pytest.fixture
def events(adapter):
    """Notifications received by a facade connected to the adapter."""
    collector = Collector()
    with DeviceFacade() as dev:
        assert dev.connect(adapter.path)
        dev.on_notification(collector)
        yield collector


def run(bench, code, params=b"", bulk_out=b"", status=0):
    """A host command on the bench; returns (parameters after the status, bulk IN)."""
    response, bulk_in = bench.command(code, bytes(params), bytes(bulk_out))
    assert struct.unpack_from("<H", response, 4)[0] == status
    return response[6:], bulk_in


def i2c_fields(items):
    return [(n.event, n.target_address, n.memory_address, n.payload_length) for n in items]


def spi_fields(items):
    return [(n.event, n.chip_select, n.memory_address, n.payload_length) for n in items]


# ------------------------------------------------------------------------ I2C

def test_i2c_memory_seen_by_both_sides(adapter, events):
    target = adapter.i2c_target
    assert run(target, I2C_TARGET_INIT, b"\x00\x50\x00\x00\x00\x00\x00")[0] == b"\x00" + struct.pack("<I", 256)
    run(target, I2C_TARGET_WRITE_MEMORY, struct.pack("<HH", 0x10, 3), b"abc")
    bus = target.controller
    assert bus.write_read(0x50, b"\x10", 3) == sim.I2cBusTransaction(
        address_ack=True, ack=True, data=b"abc")
    assert bus.write(0x50, b"\x20xyz").ack
    assert run(target, I2C_TARGET_READ_MEMORY, struct.pack("<HH", 0x20, 3))[1] == b"xyz"
    assert not bus.read(0x51, 1).address_ack  # nobody there: no event either
    assert events.wait_for(3)
    assert i2c_fields(events.items) == [(WRITE, 0x50, 0x10, 0), (READ, 0x50, 0x10, 3),
                                        (WRITE, 0x50, 0x20, 3)]


@pytest.mark.parametrize("behavior", [0, 1], ids=["nack", "clock_stretch"])
def test_eeprom_busy_window_and_write_protection(adapter, events, behavior):
    target = adapter.i2c_target
    run(target, I2C_TARGET_INIT, b"\x00\x50\x00\x00\x00\x00\x01")
    # 256 bytes, 16-byte pages, 2 ms write cycle, erased 0xFF, 0xF0..0xFF protected.
    run(target, I2C_TARGET_EEPROM,
        struct.pack("<HHIIBBHH", 256, 16, 2000, 4000, behavior, 0xFF, 0xF0, 0x100))
    bus = target.controller
    assert bus.write(0x50, b"\x0e\x01\x02\x03").ack  # wraps to 0x00 inside the page
    assert target.memory[0x0E:0x10] + target.memory[0:1] == b"\x01\x02\x03"
    assert target.busy
    second = bus.write(0x50, b"\x30\x44")
    if behavior == 0:
        assert not second.address_ack and target.memory[0x30] == 0xFF
        target.advance_clock(2000)
        assert bus.write(0x50, b"\x30\x44").ack
    else:
        assert second.ack and second.stretched_us == 2000 - 90
    assert target.memory[0x30] == 0x44
    target.advance_clock(2000)
    refused = bus.write(0x50, b"\xf8\x00")
    assert refused.address_ack and not refused.ack and target.memory[0xF8] == 0xFF
    expected = [(WRITE, 0x50, 0x0E, 3)]
    expected += [(BUSY_NACK, 0x50, 0x01, 0), (WRITE, 0x50, 0x30, 1)] if behavior == 0 else [
        (WRITE, 0x50, 0x30, 1)]
    expected += [(WRITE_PROTECTED, 0x50, 0xF8, 1)]
    assert events.wait_for(len(expected))
    assert i2c_fields(events.items) == expected


RULES = [  # access, bus write over 0xF0, byte after the write, bus read, byte after the read
    (0, 0x3C, 0x3C, 0x3C, 0x3C),
    (1, 0x3C, 0xF0, 0xF0, 0xF0),
    (2, 0x3C, 0x3C, 0x00, 0x3C),
    (3, 0x3C, 0xF0, 0xF0, 0x00),
    (4, 0x30, 0xC0, 0xC0, 0xC0),
]


@pytest.mark.parametrize("access,written,after_write,read,after_read", RULES,
                         ids=["read_write", "read_only", "write_only", "read_clear",
                              "write_one_to_clear"])
def test_register_access_rules(adapter, events, access, written, after_write, read, after_read):
    target = adapter.i2c_target
    run(target, I2C_TARGET_INIT, b"\x00\x68\x00\x00\x00\x00\x02")
    run(target, I2C_TARGET_REGION, struct.pack("<HHBBB", 0x40, 0x4F, access, 1, 0))
    run(target, I2C_TARGET_WRITE_MEMORY, struct.pack("<HH", 0x44, 1), b"\xf0")
    bus = target.controller
    bus.write(0x68, bytes([0x44, written]))
    assert target.memory[0x44] == after_write
    assert bus.write_read(0x68, b"\x44", 1).data == bytes([read])
    assert target.memory[0x44] == after_read
    assert target.regions == [sim.RegisterRegion(start=0x40, end=0x4F, access=access, width=1)]
    assert events.wait_for(3)
    assert i2c_fields(events.items)[1:] == [(WRITE, 0x68, 0x44, 0), (READ, 0x68, 0x44, 1)]


def test_role_conflicts(adapter):
    with DeviceFacade() as dev:
        assert dev.connect(adapter.path)
        dev.i2c_controller_init(0, 400_000, 7)
        run(adapter.i2c_target, I2C_TARGET_INIT, b"\x00\x50\x00\x00\x00\x00\x00", status=0x0216)
        run(adapter.i2c_target, I2C_TARGET_INIT, b"\x01\x50\x00\x00\x00\x00\x00")
        with pytest.raises(errors.VantorError) as info:
            dev.i2c_controller_init(1, 400_000, 7)
        assert info.value.status_code == StatusCode.FW_I2C_ROLE_CONFLICT
        run(adapter.spi_target, SPI_TARGET_INIT, bytes(6))
        with pytest.raises(errors.VantorError) as info:
            dev.spi_controller_init(0, 0, 0, 0, 0, 1_000_000)
        assert info.value.status_code == StatusCode.FW_SPI_ROLE_CONFLICT


# ------------------------------------------------------------------------ SPI

def test_flash_program_and_erase_seen_through_the_memory_read(adapter, events):
    target = adapter.spi_target
    run(target, SPI_TARGET_INIT, bytes([0, 0, 1, 0, 1, 0]))  # flash on chip select 1
    run(target, SPI_TARGET_FLASH,
        struct.pack("<BHIB", 3, 256, 1000, 3) + b"\xef\x40\x18" + bytes(5) + b"\x00")
    bus = target.controller
    assert bus.transfer(b"\x9f\x00\x00\x00") == b"\xff\xef\x40\x18"
    bus.transfer(b"\x06")
    bus.transfer(b"\x02\x00\x01\x00hello")
    assert bus.transfer(b"\x05\x00") == b"\xff\x01"  # busy programming
    target.advance_clock(1000)
    assert bus.transfer(b"\x05\x00") == b"\xff\x00"
    assert run(target, SPI_TARGET_READ_MEMORY, struct.pack("<HH", 0x100, 5))[1] == b"hello"
    bus.transfer(b"\x06")
    bus.transfer(b"\x20\x00\x01\x00")
    assert target.busy
    target.advance_clock(1000)
    assert run(target, SPI_TARGET_READ_MEMORY, struct.pack("<HH", 0x100, 5))[1] == b"\xff" * 5
    assert events.wait_for(7)
    seen = spi_fields(events.items)
    assert len(seen) == 7
    assert seen[:3] == [(SPI_COMMAND, 1, 0, 0), (SPI_COMMAND, 1, 0, 0), (SPI_WRITE, 1, 0x100, 5)]
    assert seen[-2:] == [(SPI_COMMAND, 1, 0, 0), (SPI_ERASE, 1, 0, 4096)]


def test_spi_memory_and_register_map(adapter, events):
    target = adapter.spi_target
    run(target, SPI_TARGET_INIT, bytes([0, 0, 0, 0, 2, 0]))
    target.add_region(0x10, 0x10, 1)  # read-only
    bus = target.controller
    bus.transfer(b"\x02\x00\x0f\x11\x22\x33")
    assert target.memory[0x0F:0x12] == b"\x11\x00\x33"
    assert bus.transfer(b"\x03\x00\x0f\x00\x00\x00") == b"\xff\xff\xff\x11\x00\x33"
    assert bus.transfer(b"\x03\x00\x0f\x00", chip_select=3) == b"\xff" * 4
    assert events.wait_for(2)
    assert spi_fields(events.items) == [(SPI_WRITE, 0, 0x0F, 3), (SPI_READ, 0, 0x0F, 3)]


# ------------------------------------------------------------------------ I3C

def test_i3c_identity_through_ccc_and_private_transfers(adapter, events):
    target = adapter.i3c_target
    pid = bytes([0x04, 0x6A, 0x00, 0x00, 0x00, 0x01])
    split = bytes([pid[5], pid[4], pid[3], pid[2], pid[1] & 1]) + struct.pack(
        "<H", (pid[0] << 8 | pid[1]) >> 1)
    run(target, I3C_TARGET_INIT, b"\x00" + split + bytes([0x26, 0xC5, 0x30]) + struct.pack(
        "<HH", 64, 4))
    bus = target.controller
    entered = bus.entdaa(0x09)
    assert entered.ack and entered.data == pid + b"\x26\xc5"
    assert bus.ccc_get(0x8D, 0x09).data == pid
    assert bus.ccc_get(0x8E, 0x09).data == b"\x26"
    assert bus.ccc_get(0x8F, 0x09).data == b"\xc5"
    assert bus.private_write(0x09, b"\x00\x20abcdef").ack
    bus.private_write(0x09, b"\x00\x20")
    assert bus.private_read(0x09, 6).data == b"abcd"  # MRL 4
    assert target.memory[0x20:0x26] == b"abcdef"
    assert target.state.dynamic_address == 0x09
    assert events.wait_for(7)
    kinds = [(n.kind, n.target_address, n.memory_address, n.payload) for n in events.items]
    assert kinds == [(3, 0x09, 0, b""), (2, 0x09, 0, b""), (2, 0x09, 0, b""), (2, 0x09, 0, b""),
                     (0, 0x09, 0x20, b"abcdef"), (0, 0x09, 0x20, b""), (1, 0x09, 0x20, b"abcd")]
