# SPDX-License-Identifier: MIT
"""The adapter's target roles end to end: a DeviceFacade sets the emulated
device up and fills or reads its memory, the virtual adapter's external
controller acts on it over the bus, and the bus events reach the facade's
notification callback, on both adapter models. The flash target's program
and erase cycles are the C++ suite's (VirtualTargetTest.cpp); its set-up
request is test_target_facade.py's."""

from __future__ import annotations

import pytest

from helpers import I3C_RATES
from pyvantorsdk import (
    DeviceModel,
    I2cBus,
    I2cTargetAddressMode,
    I2cTargetBusEventNotification,
    I2cTargetEepromBusyBehavior,
    I2cTargetEraseScope,
    I2cTargetMemoryLayout,
    I2cTargetModel,
    I2cTargetRegisterAccess,
    I3cTargetBusEventKind,
    I3cTargetBusEventNotification,
    I3cTargetMemoryLayout,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiMode,
    SpiTargetBusEventNotification,
    SpiTargetEngine,
    SpiTargetModel,
    StatusCode,
    errors,
    sim,
)

# I2C target events.
WRITE, READ, BUSY_NACK, WRITE_PROTECTED = 0, 1, 2, 3
# SPI target events.
SPI_WRITE, SPI_READ = 0, 1
# Direct GET CCCs.
GETMWL, GETMRL, GETPID, GETBCR, GETDCR = 0x8B, 0x8C, 0x8D, 0x8E, 0x8F


@pytest.fixture(params=[DeviceModel.TERANOX, DeviceModel.QUILLEX], ids=["teranox", "quillex"])
def adapter(request):
    with sim.VirtualAdapter(request.param, serial=f"E2E-{request.param.name}") as a:
        yield a


def bus_events(events, kind, count, *fields):
    """The chosen fields of the first `count` notifications, once they arrived, keeping those
    of class `kind`."""
    assert events.wait_for(count)
    return [tuple(getattr(n, f) for f in fields) for n in events.items if isinstance(n, kind)]


def i2c_events(events, count):
    return bus_events(events, I2cTargetBusEventNotification, count, "event", "target_address",
                      "memory_address", "payload_length")


def spi_events(events, count):
    return bus_events(events, SpiTargetBusEventNotification, count, "event", "chip_select",
                      "memory_address", "payload_length")


def i3c_events(events, count):
    return bus_events(events, I3cTargetBusEventNotification, count, "kind", "target_address",
                      "memory_address", "payload")


# ------------------------------------------------------------------------ I2C

@pytest.mark.parametrize("model", [I2cTargetModel.MEMORY, I2cTargetModel.EEPROM,
                                   I2cTargetModel.REGISTER_MAP],
                         ids=["memory", "eeprom", "register_map"])
def test_i2c_models_driven_by_the_external_controller(adapter, dev, events, model):
    size = dev.i2c_target_init(I2cBus.A, 0x50, I2cTargetAddressMode.BIT_7,
                               I2cTargetMemoryLayout.BIT_8, model)
    assert size == len(adapter.i2c_target.memory) > 0x20
    dev.i2c_target_write_memory(0x10, b"abc")
    bus = adapter.i2c_target.controller
    assert bus.write_read(0x50, b"\x10", 3) == sim.I2cBusTransaction(
        address_ack=True, ack=True, data=b"abc")
    adapter.i2c_target.advance_clock(100_000)  # past any write cycle of the EEPROM
    assert bus.write(0x50, b"\x20xyz").ack
    assert dev.i2c_target_read_memory(0x20, 3) == b"xyz"
    assert not bus.read(0x51, 1).address_ack  # nobody there: no event either
    assert i2c_events(events, 3) == [(WRITE, 0x50, 0x10, 0), (READ, 0x50, 0x10, 3),
                                     (WRITE, 0x50, 0x20, 3)]


@pytest.mark.parametrize("behavior", [I2cTargetEepromBusyBehavior.NACK,
                                      I2cTargetEepromBusyBehavior.CLOCK_STRETCH],
                         ids=["nack", "clock_stretch"])
def test_eeprom_busy_window_and_write_protection(adapter, dev, events, behavior):
    dev.i2c_target_init(I2cBus.A, 0x50, I2cTargetAddressMode.BIT_7, I2cTargetMemoryLayout.BIT_8,
                        I2cTargetModel.EEPROM)
    # 256 bytes, 16-byte pages, 2 ms write cycle, erased 0xFF, 0xF0..0xFF protected.
    dev.i2c_target_set_eeprom_config(256, 16, 2000, 4000, behavior, 0xFF, 0xF0, 0x100)
    target, bus = adapter.i2c_target, adapter.i2c_target.controller
    assert bus.write(0x50, b"\x0e\x01\x02\x03").ack  # wraps to 0x00 inside the page
    assert target.busy
    second = bus.write(0x50, b"\x30\x44")
    expected = [(WRITE, 0x50, 0x0E, 3)]
    if behavior == I2cTargetEepromBusyBehavior.NACK:
        assert not second.address_ack
        assert dev.i2c_target_read_memory(0x30, 1) == b"\xff"
        target.advance_clock(2000)
        assert bus.write(0x50, b"\x30\x44").ack
        expected += [(BUSY_NACK, 0x50, 0x01, 0)]
    else:
        assert second.ack and second.stretched_us > 0
    expected += [(WRITE, 0x50, 0x30, 1)]
    target.advance_clock(2000)
    refused = bus.write(0x50, b"\xf8\x00")
    assert refused.address_ack and not refused.ack
    expected += [(WRITE_PROTECTED, 0x50, 0xF8, 1)]
    assert dev.i2c_target_read_memory(0x00, 1) + dev.i2c_target_read_memory(0x0E, 2) == \
        b"\x03\x01\x02"
    assert dev.i2c_target_read_memory(0x30, 1) == b"\x44"
    assert dev.i2c_target_read_memory(0xF8, 1) == b"\xff"
    dev.i2c_target_erase(I2cTargetEraseScope.PAGE, 0x31)
    assert target.busy
    target.advance_clock(4000)
    assert not target.busy
    assert dev.i2c_target_read_memory(0x30, 1) + dev.i2c_target_read_memory(0x0E, 2) == \
        b"\xff\x01\x02"
    assert i2c_events(events, len(expected)) == expected


# Every rule's bytes are the C++ suite's (VirtualI2cRegisterRule); here a
# read-only region set up through the facade.
def test_register_region_set_up_by_the_host(adapter, dev, events):
    dev.i2c_target_init(I2cBus.A, 0x68, I2cTargetAddressMode.BIT_7, I2cTargetMemoryLayout.BIT_8,
                        I2cTargetModel.REGISTER_MAP)
    dev.i2c_target_set_register_region(0x40, 0x4F, I2cTargetRegisterAccess.RO, 1, 0)
    dev.i2c_target_write_memory(0x44, b"\xf0")
    bus = adapter.i2c_target.controller
    assert bus.write(0x68, b"\x44\x3c").ack
    assert dev.i2c_target_read_memory(0x44, 1) == b"\xf0"
    assert bus.write_read(0x68, b"\x44", 1).data == b"\xf0"
    assert i2c_events(events, 3) == [(WRITE, 0x68, 0x44, 1), (WRITE, 0x68, 0x44, 0),
                                     (READ, 0x68, 0x44, 1)]


# ------------------------------------------------------------------------ SPI

def spi_init(dev, model, chip_select=SpiChipSelect.CS_0):
    return dev.spi_target_init(SpiMode.MODE_0, SpiBitOrder.MSB, chip_select,
                               SpiChipSelectPolarity.ACTIVE_LOW, model, SpiTargetEngine.DMA)


@pytest.mark.parametrize("model", [SpiTargetModel.MEMORY, SpiTargetModel.REGISTER_MAP],
                         ids=["memory", "register_map"])
def test_spi_models_driven_by_the_external_controller(adapter, dev, events, model):
    assert spi_init(dev, model) == len(adapter.spi_target.memory) > 0x20
    dev.spi_target_write_memory(0x0F, b"\x11\x22\x33")
    bus = adapter.spi_target.controller
    assert bus.transfer(b"\x03\x00\x0f\x00\x00\x00") == b"\xff\xff\xff\x11\x22\x33"
    bus.transfer(b"\x02\x00\x20\xaa\xbb")
    assert dev.spi_target_read_memory(0x20, 2) == b"\xaa\xbb"
    assert bus.transfer(b"\x03\x00\x0f\x00", chip_select=3) == b"\xff" * 4  # not selected
    assert spi_events(events, 2) == [(SPI_READ, 0, 0x0F, 3), (SPI_WRITE, 0, 0x20, 2)]


# ------------------------------------------------------------------------ I3C

IDENTITIES = [  # layout, register width, PID, BCR, DCR
    (I3cTargetMemoryLayout.MEMORY_1_BYTE_X_1024_REGS, 1, b"\x04\x6a\x00\x00\x00\x01", 0x26,
     0xC5),
    (I3cTargetMemoryLayout.MEMORY_4_BYTES_X_256_REGS, 4, b"\xfe\xff\xa5\x5a\x00\xff", 0x46,
     0xC4),
]


@pytest.mark.parametrize("layout,width,pid,bcr,dcr", IDENTITIES,
                         ids=["1-byte-regs", "4-byte-regs"])
def test_i3c_identity_and_memory_through_the_external_controller(adapter, dev, events, layout,
                                                                   width, pid, bcr, dcr):
    """The controller addresses registers by index; the host's memory calls and the bus events
    give byte offsets."""
    dev.i3c_target_init(layout, pid, bcr, dcr, 0x30, mwl=64, mrl=4)
    bus = adapter.i3c_target.controller
    entered = bus.entdaa(0x09)
    assert entered.ack and entered.data == pid + bytes([bcr, dcr])
    assert bus.ccc_get(GETPID, 0x09).data == pid
    assert bus.private_write(0x09, b"\x00\x20abcdef").ack
    assert dev.i3c_target_read_memory(0x20 * width, 6) == b"abcdef"
    dev.i3c_target_write_memory(0x40 * width, b"WXYZ")
    bus.private_write(0x09, b"\x00\x40")
    assert bus.private_read(0x09, 6).data == b"WXYZ"  # MRL 4
    assert i3c_events(events, 5) == [
        (I3cTargetBusEventKind.DYN_ADDR_CHANGE, 0x09, 0, b""),
        (I3cTargetBusEventKind.CCC_TRANSFER, 0x09, 0, b""),
        (I3cTargetBusEventKind.WRITE_TRANSFER, 0x09, 0x20 * width, b"abcdef"),
        (I3cTargetBusEventKind.WRITE_TRANSFER, 0x09, 0x40 * width, b""),
        (I3cTargetBusEventKind.READ_TRANSFER, 0x09, 0x40 * width, b"WXYZ"),
    ]


def test_i3c_identity_changed_by_the_host(adapter, dev):
    layout = I3cTargetMemoryLayout.MEMORY_1_BYTE_X_1024_REGS
    dev.i3c_target_init(layout, b"\x04\x6a\x00\x00\x00\x01", 0x26, 0xC5, 0x30)
    dev.i3c_target_set_parameters(layout, b"\x01\x02\x03\x04\x05\x06", 0x06, 0xC6, 0x31, mwl=32,
                                  mrl=8)
    bus = adapter.i3c_target.controller
    assert bus.setdasa(0x31, 0x0A).ack
    assert [bus.ccc_get(ccc, 0x0A).data for ccc in (GETPID, GETBCR, GETDCR, GETMWL, GETMRL)] == [
        b"\x01\x02\x03\x04\x05\x06", b"\x06", b"\xc6", b"\x00\x20", b"\x00\x08"]


def i3c_target_role(dev):
    dev.i3c_target_init(I3cTargetMemoryLayout.MEMORY_1_BYTE_X_1024_REGS,
                        b"\x04\x6a\x00\x00\x00\x01", 0x26, 0xC5, 0x30)


def i3c_controller_role(dev):
    dev.i3c_controller_init(*I3C_RATES)


def i3c_roles(adapter):
    return adapter.i3c.controller.initialized, adapter.i3c_target.state.active


@pytest.mark.parametrize("held, refused, roles", [
    (i3c_target_role, i3c_controller_role, (False, True)),
    (i3c_controller_role, i3c_target_role, (True, False)),
], ids=["controller-while-target", "target-while-controller"])
def test_i3c_roles_exclude_each_other(adapter, dev, held, refused, roles):
    """One I3C engine serves one role: the other is refused as busy, and the
    role held goes on serving."""
    held(dev)
    with pytest.raises(errors.I3cError) as info:
        refused(dev)
    assert info.value.status_code == StatusCode.FW_I3C_ENGINE_BUSY
    assert i3c_roles(adapter) == roles
    held(dev)
