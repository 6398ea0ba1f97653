# SPDX-License-Identifier: MIT
"""The target bench of the virtual adapter: host commands run on the bench
(answer, bulk OUT and bulk IN through the bench instead of the vendor
endpoints), its external controller, its register regions, and the bus
events a connected facade receives, on both adapter models. The models'
behaviour through the facade's own target methods is in
test_targets_end_to_end.py."""

from __future__ import annotations

import struct

import pytest

from helpers import Collector
from pyvantorsdk import DeviceFacade, DeviceModel, StatusCode, errors, sim

I2C_TARGET_INIT = 0x0A01
I2C_TARGET_WRITE_MEMORY = 0x0A03
I2C_TARGET_READ_MEMORY = 0x0A04
SPI_TARGET_INIT = 0x0E01

# I2C target events (byte 6 of 0x0A81).
WRITE, READ = 0, 1
# SPI target events (byte 6 of 0x0E81).
SPI_WRITE, SPI_READ = 0, 1


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
