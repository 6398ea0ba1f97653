# SPDX-License-Identifier: MIT
"""The target-role methods of DeviceFacade and of the asynchronous commands:
argument conversion and defaults, the results, and the refusals made before
anything is sent, against scripted answers."""

from __future__ import annotations

import struct
from types import SimpleNamespace

import pytest

from helpers import command_of, response
from pyvantorsdk import (
    I2cTargetEraseScope,
    I3cTargetMemoryLayout,
    StatusCode,
    errors,
    sim,
)
from pyvantorsdk._cpp import _pyvantorsdk_cpp as native

PID = b"\x04\x6a\x00\x00\x00\x01"
CAPABILITY_QUERY = 0x040F


def target_capabilities(mask: int = 0x18) -> "sim.BulkCapabilities":
    groups = [sim.BulkGroup(group=g, max_payload=32768, command_mask=mask) for g in (2, 3)]
    return sim.BulkCapabilities(capability_info=1, supported=True, groups=groups)


def sent(adapter) -> list:
    """The requests from the command code on, without the capability query."""
    return [r[2:] for r in adapter.requests if command_of(r) != CAPABILITY_QUERY]


@pytest.fixture
def scripted(adapter, dev):
    """dev with the target memory commands offered over bulk; every request is
    answered with success and `answer.payload`, after `answer.bulk` is queued."""
    adapter.system.set_bulk_capabilities(target_capabilities())
    dev.get_bulk_capabilities()  # cached for the connection before the script takes over

    answer = SimpleNamespace(dev=dev, payload=b"", bulk=b"")

    def handler(request: bytes) -> bytes:
        if answer.bulk:
            adapter.send_bulk(answer.bulk)
        return response(request, 0, answer.payload)

    adapter.set_handler(handler)
    adapter.clear()
    return answer


@pytest.mark.parametrize("call, expected", [
    (lambda d: d.i2c_target_erase(I2cTargetEraseScope.CHIP, 0),
     b"\x06\x0a\x01\x00\x00"),
    (lambda d: d.spi_target_set_flash_config(4, 512, 0, bytes(range(1, 9)), 7),
     b"\x05\x0e\x04\x00\x02\x00\x00\x00\x00\x08" + bytes(range(1, 9)) + b"\x07"),
    (lambda d: d.i3c_target_init(I3cTargetMemoryLayout.MEMORY_4_BYTES_X_256_REGS, PID, 0x06,
                                 0xC5, 0x30),
     b"\x01\x1a\x02\x01\x00\x00\x00\x00\x35\x02\x06\xc5\x30\x00\x04\x00\x04"),
], ids=["i2c-chip-erase", "spi-flash-jedec-of-8-bytes", "i3c-init-defaults-and-pid-split"])
def test_requests_carry_their_arguments(adapter, scripted, call, expected):
    call(scripted.dev)
    assert sent(adapter) == [expected]


@pytest.mark.parametrize("call, payload, result", [
    (lambda d: d.spi_target_set_parameters(0, 0, 0, 0, 1, 0), struct.pack("<I", 65536), 65536),
    (lambda d: d.i3c_target_read_memory(0, 16), b"\x10\x00" + bytes(range(10)), bytes(range(10))),
], ids=["spi-set-parameters-size", "i3c-read-what-is-present"])
def test_results(scripted, call, payload, result):
    scripted.payload = payload
    assert call(scripted.dev) == result


# Refused by the SDK's own checks; argument conversion is test_facade.py's table.
@pytest.mark.parametrize("call, operation", [
    (lambda d: d.spi_target_set_flash_config(3, 256, 0, bytes(9), 0), "spi_target_set_flash_config"),
    (lambda d: d.i3c_target_init(0, PID[:5], 0, 0, 0x30), "i3c_target_init"),
    (lambda d: d.i2c_target_write_memory(0, b""), "i2c_target_write_memory"),
], ids=["jedec-of-9-bytes", "pid-of-5-bytes", "i2c-write-of-nothing"])
def test_refusals_send_nothing(adapter, scripted, call, operation):
    with pytest.raises(errors.ProtocolError) as info:
        call(scripted.dev)
    assert info.value.status_code == StatusCode.SDK_ERROR_WRONG_REQUEST
    assert info.value.operation == operation
    assert sent(adapter) == []


def test_async_commands_refuse_as_the_blocking_ones(adapter):
    commands = native.AsyncDeviceFacade()
    assert commands.connect(adapter.path)
    assert commands.i3c_target_read_memory(12, 0, 1025) == StatusCode.SDK_ERROR_WRONG_REQUEST.value
    with pytest.raises(errors.ProtocolError) as info:
        commands.spi_target_set_flash_config(13, 3, 256, 0, bytes(9), 0)
    assert info.value.operation == "spi_target_set_flash_config"
    commands.disconnect()
