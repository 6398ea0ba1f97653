# SPDX-License-Identifier: MIT
"""pyvantorsdk.eeprom and ``vantor i2c eeprom`` against virtual EEPROMs
whose write cycle refuses a counted number of transfers: page writes,
acknowledge polling, both memory address widths, pipelined reads."""

from __future__ import annotations

import io
import sys

import pytest

from helpers import i2c_transfers
from pyvantorsdk import DeviceFacade, I2cPullUp, eeprom, sim
from pyvantorsdk.cli import main as cli_main

CHIP = 0x50


@pytest.fixture(params=["pipelined-bulk", "pipelined-hid", "one-at-a-time"])
def bench(request):
    with sim.VirtualAdapter(bulk=request.param != "pipelined-hid") as adapter, \
            DeviceFacade() as dev:
        assert dev.connect(adapter.path)
        dev.i2c_controller_init(0, 400_000, I2cPullUp.KOHM_4_7)
        yield adapter, dev, request.param != "one-at-a-time"


def attach(adapter, size, page, width, nacks):
    """One part, or with 1-byte addresses one per 256-byte block."""
    blocks = max(1, size // 256) if width == 1 else 1
    for block in range(blocks):
        adapter.i2c.attach_eeprom(0, CHIP + block, size=size // blocks, page_size=page,
                                  address_bytes=width, write_cycle_nacks=nacks)


def memory(adapter, size, width):
    blocks = max(1, size // 256) if width == 1 else 1
    return b"".join(adapter.i2c.memory(0, CHIP + block) for block in range(blocks))


# size, page size, address width, offset, length, write-cycle NACKs
@pytest.mark.parametrize("size, page, width, offset, length, nacks", [
    pytest.param(256, 16, 1, 5, 40, 2, id="1-byte-crossing-pages"),
    pytest.param(1024, 16, 1, 200, 300, 0, id="1-byte-across-blocks"),
    pytest.param(4096, 32, 2, 0x7F0, 100, 3, id="2-byte-crossing-pages"),
    pytest.param(8192, 64, 2, 0, 8192, 0, id="2-byte-whole-part-no-write-cycle"),
])
def test_pages_never_cross_and_the_write_cycle_is_polled(bench, size, page, width, offset,
                                                         length, nacks):
    adapter, dev, pipelined = bench
    attach(adapter, size, page, width, nacks)
    data = bytes((i * 37 + 11) & 0xFF for i in range(length))
    adapter.clear()
    pages = eeprom.write(dev, 0, CHIP, offset, data, address_width=width, page_size=page)
    writes = [t for t in i2c_transfers(adapter.requests) if t.kind == "write"]
    stored = [t for t in writes if t.data]
    # Each page write after the first waits out the cycle of the one before;
    # the closing probe waits out the last.
    assert len(stored) == pages + (pages - 1) * nacks
    assert len(writes) - len(stored) == nacks + 1
    for t in stored:
        start = int.from_bytes(t.subaddress, "big") + (t.address - CHIP) * 256
        assert start // page == (start + len(t.data) - 1) // page, t
    assert pages == (offset + length - 1) // page - offset // page + 1
    assert memory(adapter, size, width)[offset : offset + length] == data
    assert eeprom.read(dev, 0, CHIP, offset, length, address_width=width,
                       pipelined=pipelined) == data
    assert eeprom.verify(dev, 0, CHIP, offset, data, address_width=width,
                         pipelined=pipelined) is None
    changed = bytearray(data)
    changed[length // 2] ^= 0x01
    assert eeprom.verify(dev, 0, CHIP, offset, bytes(changed), address_width=width,
                         pipelined=pipelined) == offset + length // 2


def test_a_read_during_the_write_cycle_is_polled_too(bench):
    adapter, dev, pipelined = bench
    attach(adapter, 256, 16, 1, 3)
    adapter.i2c.write_memory(0, CHIP, 0, bytes(range(256)))
    dev.i2c_write(0, CHIP, b"\x00", b"\xaa", False)  # starts a write cycle
    assert eeprom.read(dev, 0, CHIP, 0, 256, pipelined=pipelined) == b"\xaa" + bytes(range(1, 256))


def test_a_part_busy_past_the_timeout_is_an_error_not_a_hang(bench):
    adapter, dev, _pipelined = bench
    attach(adapter, 256, 16, 1, 1_000_000_000)
    with pytest.raises(eeprom.EepromError, match="no acknowledge from 0x50"):
        eeprom.write(dev, 0, CHIP, 0, bytes(32), busy_timeout=0)


@pytest.mark.parametrize("call", [
    pytest.param(lambda d: eeprom.read(d, 0, CHIP, 0, 1, address_width=3), id="width-3"),
    pytest.param(lambda d: eeprom.read(d, 0, CHIP, 2040, 16), id="1-byte-past-2k"),
    pytest.param(lambda d: eeprom.write(d, 0, CHIP, 0xFFF0, bytes(17), address_width=2),
                 id="2-byte-past-64k"),
    pytest.param(lambda d: eeprom.write(d, 0, 0x7F, 0, bytes(257)), id="block-address-past-0x7f"),
    pytest.param(lambda d: eeprom.write(d, 0, CHIP, 0, b"x", page_size=0), id="page-size-0"),
])
def test_impossible_requests_are_refused_before_anything_is_sent(adapter, dev, call):
    adapter.i2c.attach_eeprom(0, CHIP, size=256)
    adapter.clear()
    with pytest.raises(ValueError):
        call(dev)
    assert i2c_transfers(adapter.requests) == []


# ------------------------------------------------------------------ the CLI
def cli(adapter, capsys, *argv, stdin=b""):
    capsys.readouterr()
    saved = sys.stdin
    sys.stdin = io.TextIOWrapper(io.BytesIO(stdin))
    try:
        rc = cli_main.main(["--device", adapter.path, "i2c", "eeprom", *argv])
    finally:
        sys.stdin = saved
    out, err = capsys.readouterr()
    return rc, out, err


def test_cli_write_read_verify_with_files_and_standard_input(adapter, capsys, tmp_path):
    adapter.i2c.attach_eeprom(0, CHIP, size=4096, page_size=32, address_bytes=2,
                              write_cycle_nacks=2)
    image = bytes((i * 5) & 0xFF for i in range(1000))
    source, back = tmp_path / "image.bin", tmp_path / "back.bin"
    source.write_bytes(image)
    wide = ["--address-width", "2", "--page-size", "32", "--size", "4096"]
    rc, out, err = cli(adapter, capsys, "write", "-y", *wide, "--offset", "0x10", "A", "0x50",
                       str(source))
    assert (rc, out) == (0, "1000 bytes written in 32 page writes\n"), err
    rc, _out, err = cli(adapter, capsys, "read", *wide, "--offset", "0x10", "A", "0x50",
                        str(back))
    assert rc == 0, err
    assert back.read_bytes()[:1000] == image and back.read_bytes()[1000:] == b"\xff" * 3080
    assert cli(adapter, capsys, "verify", *wide, "--offset", "0x10", "A", "0x50",
               str(source))[0] == 0
    # stdin to the part, and the part to stdout
    rc, _out, err = cli(adapter, capsys, "write", "-y", *wide, "A", "0x50", "-", stdin=b"\x01\x02")
    assert rc == 0, err
    assert adapter.i2c.memory(0, CHIP)[:3] == b"\x01\x02\xff"


def test_cli_read_to_standard_output(adapter, capfdbinary):
    adapter.i2c.attach_eeprom(0, CHIP, size=256)
    adapter.i2c.write_memory(0, CHIP, 0, bytes(range(256)))
    assert cli_main.main(["--device", adapter.path, "i2c", "eeprom", "read", "--quiet",
                          "--offset", "0xf0", "A", "0x50", "-"]) == 0
    assert capfdbinary.readouterr().out == bytes(range(0xF0, 0x100))


def test_cli_verify_mismatch_exits_1_naming_the_first_differing_offset(adapter, capsys, tmp_path):
    adapter.i2c.attach_eeprom(0, CHIP, size=256)
    source = tmp_path / "image.bin"
    source.write_bytes(b"\xff" * 0x23 + b"\x00")
    rc, _out, err = cli(adapter, capsys, "verify", "--offset", "0x10", "A", "0x50", str(source))
    assert rc == 1
    assert "i2c eeprom verify: mismatch at 0x0033: eeprom 0xff, file 0x00" in err
