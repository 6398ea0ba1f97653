# SPDX-License-Identifier: MIT
"""Host commands run on the target bench itself (bulk OUT and IN through the
bench), on both adapter models; the facade's side is in
test_targets_end_to_end.py, the statuses in VirtualTargetTest.cpp."""

from __future__ import annotations

import struct

import pytest

from pyvantorsdk import DeviceModel, sim

I2C_TARGET_INIT = 0x0A01
I2C_TARGET_WRITE_MEMORY = 0x0A03
I2C_TARGET_READ_MEMORY = 0x0A04


@pytest.fixture(params=[DeviceModel.TERANOX, DeviceModel.QUILLEX], ids=["teranox", "quillex"])
def adapter(request):
    with sim.VirtualAdapter(request.param, serial=f"TGT-{request.param.name}") as a:
        yield a


def run(bench, code, params=b"", bulk_out=b"", status=0):
    """A host command on the bench; returns (parameters after the status, bulk IN)."""
    response, bulk_in = bench.command(code, bytes(params), bytes(bulk_out))
    assert struct.unpack_from("<H", response, 4)[0] == status
    return response[6:], bulk_in


def test_host_commands_on_the_bench_move_memory_over_bulk(adapter):
    target = adapter.i2c_target
    assert run(target, I2C_TARGET_INIT, b"\x00\x50\x00\x00\x00\x00\x00")[0] == \
        b"\x00" + struct.pack("<I", 256)
    run(target, I2C_TARGET_WRITE_MEMORY, struct.pack("<HH", 0x10, 3), b"abc")
    bus = target.controller
    assert bus.write_read(0x50, b"\x10", 3) == sim.I2cBusTransaction(
        address_ack=True, ack=True, data=b"abc")
    assert bus.write(0x50, b"\x20xyz").ack
    assert run(target, I2C_TARGET_READ_MEMORY, struct.pack("<HH", 0x20, 3))[1] == b"xyz"
