# SPDX-License-Identifier: MIT
"""Batches through DeviceFacade and pyvantorsdk.aio: results in order, the
calls' own outputs and exceptions, and a block that raises sends nothing.
The pipeline's faults are rows of the fault matrix."""

from __future__ import annotations

import asyncio
from typing import Any, Callable, List

import pytest

from helpers import i2c_transfers
from pyvantorsdk import (
    BatchState,
    DeviceBatch,
    DeviceFacade,
    I2cBus,
    I2cPullUp,
    StatusCode,
    aio,
    errors,
    sim,
)

REGISTERS = 0x68


def queue(b: DeviceBatch) -> None:
    """Writes, a bulk write and read (run on their own), a call refused
    before sending (a five-byte subaddress), a NACK, and reads; nothing is
    sent before the block ends."""
    b.i2c_write(I2cBus.A, REGISTERS, b"\x01", b"\x11\x12", False)
    b.i2c_write_bulk(I2cBus.A, REGISTERS, b"\x10", b"bulk", False)
    b.i2c_write(I2cBus.A, REGISTERS, bytes(5), b"x", False)
    b.i2c_read(I2cBus.A, 0x33, b"\x00", 1, False)
    b.i2c_read_bulk(I2cBus.A, REGISTERS, b"\x10", 4, False)
    b.i2c_read(I2cBus.A, REGISTERS, b"\x01", 2, False)
    b.i2c_scan_bus(I2cBus.A)
    assert b.results[0].state == BatchState.NOT_SENT
    with pytest.raises(ValueError, match="not been sent"):
        b.results[0].result()


def outcome(b: DeviceBatch) -> List[Any]:
    seen: List[Any] = []
    for call in b.results:
        try:
            seen.append((call.index, call.name, call.state, call.result()))
        except errors.VantorError as e:
            seen.append((call.index, call.name, call.state, type(e), e.status_code))
    return seen


EXPECTED = [
    (0, "i2c_write", BatchState.DONE, None),
    (1, "i2c_write_bulk", BatchState.DONE, None),
    (2, "i2c_write", BatchState.FAILED, errors.ProtocolError, StatusCode.SDK_ERROR_WRONG_REQUEST),
    (3, "i2c_read", BatchState.FAILED, errors.I2cError, StatusCode.FW_I2C_NACK_ADDRESS),
    (4, "i2c_read_bulk", BatchState.DONE, b"bulk"),
    (5, "i2c_read", BatchState.DONE, b"\x11\x12"),
]


@pytest.fixture
def adapter():
    with sim.VirtualAdapter() as a:
        a.i2c.attach_register_map(I2cBus.A, REGISTERS)
        yield a


def in_batch(adapter: sim.VirtualAdapter, through: str,
             fill: Callable[[DeviceBatch], None]) -> DeviceBatch:
    """Brings up I2C bus A and runs ``fill(b)`` in a batch block, through
    DeviceFacade or pyvantorsdk.aio; returns the batch."""

    async def with_aio() -> DeviceBatch:
        async with aio.open(adapter.path) as dev:
            await dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)
            async with dev.batch() as b:
                fill(b)
        return b

    if through == "aio":
        return asyncio.run(asyncio.wait_for(with_aio(), 30))
    with DeviceFacade() as dev:
        assert dev.connect(adapter.path)
        dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)
        with dev.batch() as b:
            fill(b)
    return b


@pytest.mark.parametrize("through", ["facade", "aio"])
def test_batch_results_in_order(adapter, through):
    b = in_batch(adapter, through, queue)
    assert outcome(b)[:6] == EXPECTED
    assert b.results[6].result().addresses_7bit == {REGISTERS}
    assert [c.index for c in b.failures] == [2, 3]
    with pytest.raises(ValueError, match="sent already"):
        b.i2c_deinit(I2cBus.A)


class Abandoned(Exception):
    pass


def abandoned(b: DeviceBatch) -> None:
    b.i2c_write(I2cBus.A, REGISTERS, b"\x01", b"\x11", False)
    with pytest.raises(ValueError, match="invalid address 256"):
        b.i2c_write(I2cBus.A, 256, b"\x01", b"\x11", False)  # not queued
    raise Abandoned


@pytest.mark.parametrize("through", ["facade", "aio"])
def test_a_block_that_raises_sends_nothing(adapter, through):
    adapter.clear()
    with pytest.raises(Abandoned):
        in_batch(adapter, through, abandoned)
    assert i2c_transfers(adapter.requests) == []
