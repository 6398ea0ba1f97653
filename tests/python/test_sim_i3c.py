# SPDX-License-Identifier: MIT
"""pyvantorsdk.sim: the I3C bench's records, refusals and connector events."""

from __future__ import annotations

import pytest

from pyvantorsdk import I3cConnectorPort, sim

PID = 0x0123456789AB


def test_attach_returns_the_state(adapter):
    state = adapter.i3c.attach_target(PID, bcr=0x27, dcr=0xC5, static_address=0x50,
                                      mwl=64, mrl=32, max_ibi_payload=4, memory_size=128)
    assert state == sim.I3cTargetState(pid=PID, bcr=0x27, dcr=0xC5, static_address=0x50,
                                       mwl=64, mrl=32, max_ibi_payload=4, events=0x0B,
                                       reset_action=1)
    assert adapter.i3c.targets == [state] and adapter.i3c.target(PID) == state
    assert adapter.i3c.target(PID + 1) is None
    assert adapter.i3c.device_table() == []


def test_memory_and_legacy_devices(adapter):
    adapter.i3c.attach_target(PID, memory_size=16)
    adapter.i3c.write_memory(PID, 14, b"\x01\x02")
    assert adapter.i3c.memory(PID) == bytes(14) + b"\x01\x02"
    with pytest.raises(ValueError):
        adapter.i3c.write_memory(PID, 15, b"\x01\x02")
    adapter.i3c.attach_i2c_eeprom(0x51, size=64, page_size=8)
    adapter.i3c.attach_i2c_register_map(0x52)
    assert adapter.i3c.i2c_memory(0x51) == b"\xff" * 64
    assert adapter.i3c.detach_i2c(0x52) and not adapter.i3c.detach_i2c(0x52)
    assert adapter.i3c.detach_target(PID) and not adapter.i3c.detach_target(PID)
    assert adapter.i3c.memory(PID) == b""


@pytest.mark.parametrize("kwargs", [
    {"pid": 1 << 48},
    {"pid": 1, "static_address": 0x78},
    {"pid": 1, "memory_size": 0},
    {"pid": 1, "bcr": 0x02, "max_ibi_payload": 4},
    {"pid": 1, "max_data_speed": b"\x00"},
], ids=["pid-over-48-bits", "static-address-not-7-bit", "no-memory",
        "ibi-size-without-payload-bit", "short-mxds"])
def test_attach_refusals(adapter, kwargs):
    adapter.i3c.attach_target(PID, static_address=0x40)
    with pytest.raises(ValueError):
        adapter.i3c.attach_target(**kwargs)
    assert len(adapter.i3c.targets) == 1


@pytest.mark.parametrize("event, message", [
    (lambda i3c: i3c.raise_ibi(PID + 1, b""), "no target"),
    (lambda i3c: i3c.raise_ibi(PID, b"\x01"), "dynamic address"),  # not on the bus yet
    (lambda i3c: i3c.request_hot_join(PID + 1), None),
], ids=["ibi-unknown-target", "ibi-without-dynamic-address", "hot-join-unknown-target"])
def test_event_refusals(adapter, event, message):
    adapter.i3c.attach_target(PID)
    with pytest.raises(ValueError, match=message):
        event(adapter.i3c)


def test_connectors_reach_the_host_and_route_the_voltage(adapter, events):
    adapter.i3c.plug_connector(I3cConnectorPort.HV, 3)
    adapter.i3c.unplug_connector(1)
    assert events.wait_for(2)
    assert [(n.port, n.event, n.connector_type) for n in events.items] == [(1, 0, 3), (1, 1, 4)]
    with pytest.raises(ValueError):
        adapter.i3c.unplug_connector(1)
    with pytest.raises(ValueError):
        adapter.i3c.plug_connector(2)
    adapter.i3c.set_external_supply(0, 1500)
    assert adapter.i3c.ports == sim.I3cPortsState(lv_mv=1800, hv_mv=3300, lv_external_mv=1500)
    assert adapter.system.analog_measurements.i3c_low_mv == 1800
