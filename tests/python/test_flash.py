# SPDX-License-Identifier: MIT
"""pyvantorsdk.flash against the virtual NOR flash: which erases and page
programs a write sends (counted from the adapter's request records), and
how it fails."""

from __future__ import annotations

import collections
import concurrent.futures
import struct

import pytest

from helpers import SPI_MODE_0, command_of
from pyvantorsdk import DeviceFacade, flash, sim
from pyvantorsdk.errors import DisconnectError, FirmwareError, VantorTimeoutError

KIB = 1024
SPI_TRANSFER, SPI_WRITE_BULK, SPI_READ_BULK = 0x0D04, 0x0D07, 0x0D08


def spi_commands(requests):
    """Opcode counts of the SPI frames among `requests`, and the flash bytes
    read (frame length less the command and address). A bulk write's frame
    travels in its data phase: the programmer sends only page programs so."""
    opcodes = collections.Counter[int]()
    read = 0
    for message in requests:
        code = command_of(message)
        if code == SPI_WRITE_BULK:
            opcodes[0x02] += 1
            continue
        if code not in (SPI_TRANSFER, SPI_READ_BULK):
            continue
        _sent, length = struct.unpack_from("<HH", message, 4)
        opcode = message[8]
        opcodes[opcode] += 1
        if opcode == 0x03:
            read += length - 4 if code == SPI_TRANSFER else length
    return opcodes, read


@pytest.fixture(params=["pipelined-bulk", "pipelined-hid", "one-at-a-time"])
def bench(request):
    """(adapter, dev, pipelined) with the SPI controller set up."""
    with sim.VirtualAdapter(bulk=request.param != "pipelined-hid") as adapter, \
            DeviceFacade(timeout_ms=1000) as dev:
        assert dev.connect(adapter.path)
        dev.spi_controller_init(*SPI_MODE_0, 10_000_000)
        yield adapter, dev, request.param != "one-at-a-time"


def pattern(length, seed):
    return bytes((i * 31 + i // 251 + seed) & 0xFF for i in range(length))


# Rows: flash size, its content, where the image goes, the image; the erase
# and program opcodes expected, and the report's (skipped, erased) sectors.
ERASE_ROWS = [
    pytest.param(256 * KIB, b"\x00", 64 * KIB, b"\x5a" * 64 * KIB,
                 {0xD8: 1, 0x02: 256}, (0, 16), id="aligned-64k-one-block-erase"),
    pytest.param(128 * KIB, b"\x00", 0, b"\x5a" * 128 * KIB,
                 {0xC7: 1, 0x02: 512}, (0, 32), id="whole-chip-chip-erase"),
    pytest.param(128 * KIB, b"\x00", 4 * KIB + 16, b"\x5a" * 64 * KIB,
                 {0x20: 9, 0x52: 1, 0x02: 17 * 16}, (0, 17), id="unaligned-64k-takes-32k-and-sectors"),
    pytest.param(128 * KIB, b"\xf0", 0x1000, b"\x30" * 300,
                 {0x02: 2}, (0, 0), id="bits-only-cleared-no-erase"),
    pytest.param(128 * KIB, b"\x5a", 0x1000, b"\x5a" * 8 * KIB,
                 {}, (2, 0), id="unchanged-nothing-sent"),
    pytest.param(128 * KIB, b"\x00", 0x1000, b"\xff" * 4 * KIB,
                 {0x20: 1}, (0, 1), id="all-ones-erase-without-program"),
]


@pytest.mark.parametrize("size, fill, offset, image, sent, sectors", ERASE_ROWS)
def test_write_sends_the_largest_erases_and_only_the_pages_that_change(
        bench, size, fill, offset, image, sent, sectors):
    adapter, dev, pipelined = bench
    adapter.spi.attach_flash(0, size=size, busy_polls=2)
    adapter.spi.write_memory(0, 0, fill * size)
    adapter.clear()
    report = flash.program(dev, offset, image, size=size, pipelined=pipelined)
    opcodes, _read = spi_commands(adapter.requests)
    assert {op: n for op, n in opcodes.items() if op in (0x02, 0x20, 0x52, 0xD8, 0xC7)} == sent
    assert (report.sectors_skipped, report.sectors_erased) == sectors
    assert report.verified
    expected = fill * offset + image + fill * (size - offset - len(image))
    assert adapter.spi.memory(0) == expected


def test_one_page_change_of_a_1mib_image_costs_one_read_and_one_sector(bench):
    adapter, dev, pipelined = bench
    old = pattern(1024 * KIB, 0)
    adapter.spi.attach_flash(0, size=len(old), busy_polls=0)
    adapter.spi.write_memory(0, 0, old)
    new = bytearray(old)
    new[0x54321 : 0x54321 + 8] = b"\xff" * 8  # sets bits: the sector is erased
    adapter.clear()
    report = flash.program(dev, 0, bytes(new), size=len(old), pipelined=pipelined)
    opcodes, read = spi_commands(adapter.requests)
    # Every page of the sector goes back; each program or erase has one
    # write enable and one status read (the device is never busy here).
    assert (opcodes[0x20], opcodes[0x02], opcodes[0x06], opcodes[0x05]) == (1, 16, 17, 17)
    assert read == len(old) + 4 * KIB  # the comparison read and the verification of one sector
    assert (report.sectors_skipped, report.pages_programmed) == (255, 16)
    assert adapter.spi.memory(0) == new


# Faults started once 8 KiB of a 16 KiB write are done, before the erase of
# the third sector: the error the write stops with, pipelined and one at a
# time (its report saying what was done), or None where it completes all the
# same.
MID_PROGRAM_FAULTS = [
    pytest.param(lambda a: a.unplug(), DisconnectError, (DisconnectError, VantorTimeoutError),
                 id="unplugged"),
    pytest.param(lambda a: a.faults.lose_answers(1), VantorTimeoutError, VantorTimeoutError,
                 id="answer-lost"),
    # Pipelined, the program and status read behind the turned-away write
    # enable run first: the step is done again in order.
    pytest.param(lambda a: a.faults.turn_away_requests(1), None, FirmwareError,
                 id="write-enable-turned-away"),
]


@pytest.mark.parametrize("fault, pipelined_cause, alone_cause", MID_PROGRAM_FAULTS)
def test_a_fault_mid_program_stops_with_the_report_or_is_recovered(
        bench, fault, pipelined_cause, alone_cause):
    adapter, dev, pipelined = bench
    cause = pipelined_cause if pipelined else alone_cause
    adapter.spi.attach_flash(0, size=64 * KIB)
    adapter.spi.write_memory(0, 0, b"\x00" * 64 * KIB)
    faulted_at = []

    def progress(done, total):
        if done == 8 * KIB:
            faulted_at.append(done)
            fault(adapter)

    image = b"\x11" * 16 * KIB
    if cause is None:
        report = flash.program(dev, 0, image, size=64 * KIB, pipelined=pipelined,
                               progress=progress)
        assert report.verified and adapter.spi.memory(0)[: len(image)] == image
        return
    with pytest.raises(flash.ProgramError, match="written|erased") as caught:
        flash.program(dev, 0, image, size=64 * KIB, pipelined=pipelined, progress=progress)
    assert isinstance(caught.value.__cause__, cause)
    assert faulted_at == [8 * KIB]
    assert caught.value.report.done_until == 8 * KIB
    assert not caught.value.report.verified


def test_a_flash_busy_past_the_timeout_is_an_error_not_a_hang(bench):
    adapter, dev, pipelined = bench
    adapter.spi.attach_flash(0, size=64 * KIB, busy_polls=1_000_000_000)
    with pytest.raises(flash.ProgramError, match="stayed busy") as caught:
        flash.program(dev, 0, b"\x00" * 256, size=64 * KIB, pipelined=pipelined, busy_timeout=0)
    assert isinstance(caught.value.__cause__, flash.FlashError)
    assert (caught.value.report.pages_programmed, caught.value.report.done_until) == (0, 0)


# What leaves before the first answer comes back, pipelined without the bulk
# interface: the write enable, page program and status read of one step; a
# window of reads.
IN_FLIGHT_ROWS = [
    pytest.param(lambda f: f.program_page(0, b"\x00" * 256), 3, id="program-step-together"),
    pytest.param(lambda f: f.read(0, 16 * 1020), 16, id="reads-fill-the-window"),
]


@pytest.mark.parametrize("operation, in_flight", IN_FLIGHT_ROWS)
def test_pipelined_requests_leave_before_the_first_answer(operation, in_flight):
    with sim.VirtualAdapter(bulk=False) as adapter, DeviceFacade() as dev, \
            concurrent.futures.ThreadPoolExecutor(1) as worker:
        assert dev.connect(adapter.path)
        dev.spi_controller_init(*SPI_MODE_0, 10_000_000)
        adapter.spi.attach_flash(0, size=64 * KIB, busy_polls=0)
        memory = flash.Flash(dev, 64 * KIB)
        adapter.faults.hold_answers()
        adapter.clear()
        done = worker.submit(operation, memory)
        try:
            assert adapter.wait_for_requests(in_flight, 5)
        finally:
            adapter.faults.hold_answers(False)
        done.result()
