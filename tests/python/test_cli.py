# SPDX-License-Identifier: MIT
"""The vantor command, run in-process (main(argv)) against a virtual adapter
of the test, so that the bench can be prepared and inspected."""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import os
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import types
from dataclasses import dataclass
from pathlib import Path

import pytest

import pyvantorsdk
from helpers import DEFAULT_GRID, wait_until
from pyvantorsdk import I3cTargetResetDefByte, I3cTransferDirection, profiles, sim
from pyvantorsdk.cli import i3c as i3c_cli
from pyvantorsdk.cli import main as cli_main
from pyvantorsdk.cli import spi
from pyvantorsdk.cli.common import subcommand_tree
from pyvantorsdk.cli.i2c import detect_grid
from pyvantorsdk.smbus import pec

BUS_A = 0


@dataclass
class Result:
    rc: int
    out: str
    err: str


class Cli:
    """Runs command lines against one virtual adapter with the default bench."""

    def __init__(self, adapter, capsys):
        self.adapter = adapter
        self.capsys = capsys

    def __call__(self, *argv: str) -> Result:
        self.capsys.readouterr()
        rc = cli_main.main(["--device", self.adapter.path, *argv])
        captured = self.capsys.readouterr()
        return Result(rc, captured.out, captured.err)

    def start(self, *argv: str, requests_before_wait: int):
        """Runs a streaming command in a thread; returns once the command
        sent its set-up requests, with a function that joins it."""
        self.adapter.clear()
        self.capsys.readouterr()
        outcome: dict = {}
        # The idle timeout ends the command should the test fail before
        # its events come.
        argv_all = ["--device", self.adapter.path, *argv, "--idle-timeout", "5"]
        thread = threading.Thread(target=lambda: outcome.setdefault("rc", cli_main.main(argv_all)))
        thread.start()
        assert self.adapter.wait_for_requests(requests_before_wait, 5.0)

        def finish() -> Result:
            thread.join(10.0)
            assert not thread.is_alive()
            captured = self.capsys.readouterr()
            return Result(outcome["rc"], captured.out, captured.err)

        return finish


@pytest.fixture
def cli(capsys):
    with sim.VirtualAdapter() as adapter:
        cli_main.default_bench(adapter)
        yield Cli(adapter, capsys)


@pytest.fixture
def never_opened(monkeypatch):
    """Fails the test should the command open the adapter."""

    def must_not_open(*_args):
        raise AssertionError("the adapter was opened")

    monkeypatch.setattr(cli_main, "open_device", must_not_open)


# --------------------------------------------------------------- i2c detect


def test_detect_range_all_addresses_and_addresses_in_use(cli):
    lines = cli("i2c", "detect", "-y", "A", "0x4e", "0x51").out.splitlines()
    assert lines[5:8] == ["40:" + " " * 43 + "-- -- ", "50: 50 -- " + " " * 42, "60: " + " " * 48]
    lines = cli("i2c", "detect", "-y", "-a", "B").out.splitlines()
    assert (lines[1], lines[8]) == ("00: " + "-- " * 16, "70: " + "-- " * 16)
    assert lines[6] == "50: -- -- -- -- 54 " + "-- " * 11
    assert detect_grid({0x50}, 0x08, 0x77, in_use={0x51})[6].startswith("50: 50 UU -- ")
    # With -a, the general call address alone.
    document = json.loads(cli("i2c", "detect", "-y", "-a", "A", "0x00", "0x00", "--json").out)
    assert (document["first"], document["last"], document["addresses"]) == (0, 0, [])


def test_detect_functionality_and_bus_list_layouts(cli):
    lines = cli("i2c", "detect", "-F", "B").out.splitlines()
    assert lines[0] == "Functionalities implemented by bus B:"
    assert "SMBus PEC                        yes" in lines
    functionality = json.loads(cli("i2c", "detect", "-F", "B", "--json").out)["functionality"]
    assert functionality["smbus_block_read"] is True
    lines = cli("i2c", "detect", "-l").out.splitlines()
    assert [line.split("\t") for line in lines] == [
        [bus, "i2c       ", f"Teranox SIM0001 bus {bus} (3300 mV)".ljust(32), "I2C adapter"]
        for bus in "AB"
    ]


# 0 and 1 name the buses too (one bus type serves every subcommand): the
# device at 0x54 is on bus B only.
def test_bus_1_is_bus_b(cli):
    result = cli("i2c", "detect", "-y", "1", "0x54", "0x54", "--json")
    assert json.loads(result.out)["addresses"] == [0x54], result.err


# ----------------------------------------------------------------- i2c dump
def test_dump_rows_carry_the_ascii_column(cli):
    cli.adapter.i2c.write_memory(
        BUS_A, 0x50, 0, b"\x00\xffAz\x7f\x0a~ " + bytes(range(0x30, 0x38)) + b"\xff" * 16
    )
    result = cli("i2c", "dump", "-y", "A", "0x50")
    lines = result.out.splitlines()
    assert result.err == "No size given (using byte-data access)\n"
    assert lines[0] == "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef"
    assert lines[1] == "00: 00 ff 41 7a 7f 0a 7e 20 30 31 32 33 34 35 36 37    ..Az??~ 01234567"
    assert lines[2] == "10: " + "ff " * 16 + "   " + "." * 16
    assert len(lines) == 17 and lines[16].startswith("f0: ")


def test_dump_range_blanks_the_cells_outside(cli):
    memory = cli.adapter.i2c.memory(BUS_A, 0x50)
    lines = cli("i2c", "dump", "-y", "-r", "0x04-0x12", "A", "0x50", "b").out.splitlines()
    row0 = "".join(f"{b:02x} " for b in memory[4:16])
    assert lines[1] == "00: " + "   " * 4 + row0 + "   " + "    " + memory[4:16].decode()
    assert lines[2] == "10: 45 50 52 " + "   " * 13 + "   " + "EPR" + " " * 13
    assert len(lines) == 3
    # LAST at the start of a row: that row shows LAST alone.
    lines = cli("i2c", "dump", "-y", "-r", "0x00-0x10", "A", "0x50").out.splitlines()
    assert lines[2:] == ["10: 45 " + "   " * 15 + "   " + "E" + " " * 15]


def test_dump_word_mode_reads_little_endian_words(cli):
    cli.adapter.i2c.write_memory(BUS_A, 0x68, 0, bytes([0x11, 0x22, 0x33]))
    lines = cli("i2c", "dump", "-y", "A", "0x68", "w").out.splitlines()
    assert lines[0] == "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f"
    assert lines[1] == "00: 2211 3322 0033 0000 0000 0000 0000 0000 "
    assert len(lines) == 1 + 32
    # The word at 0xff takes its high byte from where the pointer wraps to.
    document = json.loads(cli("i2c", "dump", "-y", "-r", "0xfe-0xff", "A", "0x68", "w", "--json").out)
    assert document["words"] == [0x0000, 0x1100]


def test_dump_even_word_mode_shows_bytes_read_as_words(cli):
    cli.adapter.i2c.write_memory(BUS_A, 0x68, 0, b"AB\x00\xff")
    cli.adapter.clear()
    lines = cli("i2c", "dump", "-y", "-r", "0x00-0x03", "A", "0x68", "W").out.splitlines()
    assert lines[1] == "00: 41 42 00 ff " + "   " * 12 + "   AB.." + " " * 12
    # (register, length) of every read request
    reads = [(m[9], m[5] | m[6] << 8) for m in cli.adapter.requests if m[2:4] == b"\x05\x09"]
    assert reads == [(0, 2), (2, 2)]


def test_dump_smbus_block_shows_the_block_from_register_0(cli):
    cli.adapter.i2c.write_memory(BUS_A, 0x68, 0, b"\x03xyz")
    result = cli("i2c", "dump", "-y", "A", "0x68", "s")
    assert result.out.splitlines()[1:] == ["00: 78 79 7a " + "   " * 13 + "   xyz" + " " * 13]


# Byte reads with PEC: each register of the map holds the PEC of a read of
# the register before it, so every read from 0x00 to 0x0e checks out.
def pec_chain(length: int) -> bytearray:
    chain = bytearray([0x5A])
    for register in range(length - 1):
        chain.append(pec(bytes([0xD0, register, 0xD1, chain[register]])))
    return chain


@pytest.mark.parametrize(
    "corrupt, rc, row, says",
    [
        (None, 0, "00: 5a " + " ".join(f"{b:02x}" for b in pec_chain(16)[1:15]) + " ", ""),
        # Register 4 is both the PEC of register 3 and the data of register 4.
        (4, 1, "00: 5a " + " ".join(f"{b:02x}" for b in pec_chain(16)[1:3]) + " XX XX ",
         "i2c dump: PEC mismatch at 2 register(s) (shown as XX): 0x03 0x04\n"),
    ],
    ids=["all-good", "one-corrupted"],
)
def test_dump_byte_data_with_pec_checks_each_register(cli, corrupt, rc, row, says):
    chain = pec_chain(16)
    if corrupt is not None:
        chain[corrupt] ^= 0x01
    cli.adapter.i2c.write_memory(BUS_A, 0x68, 0, bytes(chain))
    result = cli("i2c", "dump", "-y", "-r", "0x00-0x0e", "A", "0x68", "bp")
    assert result.rc == rc
    assert result.out.splitlines()[1].startswith(row)
    assert result.err == says


# --------------------------------------------------------- i2c get and set
@pytest.mark.parametrize(
    "argv, expected",
    [
        (["0x50"], "0x76"),  # receive byte: the pointer starts at 0
        (["0x50", "0x01"], "0x61"),
        (["0x50", "0x00", "w"], "0x6176"),
        (["0x50", "0x02", "c"], "0x6e"),
        (["0x50", "0x00", "i", "4"], "0x76 0x61 0x6e 0x74"),
    ],
    ids=["receive-byte", "byte-data", "word-little-endian", "write-then-read", "i2c-block"],
)
def test_get_modes(cli, argv, expected):
    result = cli("i2c", "get", "-y", "A", *argv)
    assert (result.rc, result.out) == (0, expected + "\n")


# The register map at 0x68 answers reads with the bytes stored after the
# data, so a PEC (good or corrupted) is set up as the next register.
def with_pec(covered: bytes, data: bytes, corrupt: int = 0) -> bytes:
    return data + bytes([pec(covered + data) ^ corrupt])


READ_0x10 = b"\xd0\x10\xd1"  # write address, command 0x10, read address


@pytest.mark.parametrize(
    "memory, mode, rc, expected",
    [
        (with_pec(READ_0x10, b"\x5a"), "bp", 0, "0x5a\n"),
        (with_pec(READ_0x10, b"\x34\x12"), "wp", 0, "0x1234\n"),
        (with_pec(READ_0x10, b"\x02\x07\x08"), "sp", 0, "0x07 0x08\n"),
        (with_pec(READ_0x10, b"\x5a", corrupt=0xFF), "bp",
         1, f"i2c get: PEC mismatch: expected 0x{pec(READ_0x10 + b'Z'):02x}, "
         f"received 0x{pec(READ_0x10 + b'Z') ^ 0xFF:02x}\n"),
        (with_pec(READ_0x10, b"\x02\x07\x08", corrupt=1), "sp", 1, "PEC mismatch"),
        (bytes([118]) + bytes(range(40)), "s", 1, "SMBus block count 118 out of range (1-32)"),
        (bytes([0, 1, 2]), "s", 1, "SMBus block count 0 out of range (1-32)"),
    ],
    ids=["byte-pec", "word-pec", "block-pec", "byte-pec-corrupted", "block-pec-corrupted",
         "block-count-118", "block-count-0"],
)
def test_get_checks_what_the_device_sent(cli, memory, mode, rc, expected):
    cli.adapter.i2c.write_memory(BUS_A, 0x68, 0x10, memory)
    result = cli("i2c", "get", "-y", "A", "0x68", "0x10", mode)
    assert result.rc == rc
    assert expected in (result.out if rc == 0 else result.err)


@pytest.mark.parametrize(
    "argv, offset, expected",
    [
        (["0x68", "0x10", "0x1234", "w"], 0x10, b"\x34\x12"),
        (["0x68", "0x20", "1", "2", "3", "i"], 0x20, b"\x01\x02\x03"),
        (["0x68", "0x30", "2", "7", "8", "s"], 0x30, b"\x03\x02\x07\x08"),
        (["0x68", "0x10", "0x5a", "bp"], 0x10, with_pec(b"\xd0\x10", b"\x5a")),
        (["0x68", "0x30", "7", "8", "sp"], 0x30, with_pec(b"\xd0\x30", b"\x02\x07\x08")),
        # Send byte: the register map takes the data address as its pointer
        # and stores the PEC there.
        (["0x68", "0x10", "cp"], 0x10, bytes([pec(b"\xd0\x10")])),
    ],
    ids=["word-little-endian", "i2c-block", "smbus-block-count-first", "byte-pec",
         "smbus-block-pec", "send-byte-pec"],
)
def test_set_modes_reach_the_device(cli, argv, offset, expected):
    assert cli("i2c", "set", "-y", "A", *argv).rc == 0
    assert cli.adapter.i2c.memory(BUS_A, 0x68)[offset : offset + len(expected)] == expected


def test_set_with_mask_changes_only_masked_bits_and_reads_back(cli):
    cli.adapter.i2c.write_memory(BUS_A, 0x68, 0x40, b"\xa5")
    result = cli("i2c", "set", "-y", "-r", "-m", "0x0f", "A", "0x68", "0x40", "0x3c")
    assert result.rc == 0
    assert cli.adapter.i2c.memory(BUS_A, 0x68)[0x40] == 0xAC
    assert result.out == "Value 0xac written, readback matched\n"


class ShortReads:
    """A device whose reads deliver one byte less than asked for, called
    one by one or in a batch."""

    def __init__(self, dev):
        self._dev = dev

    def __getattr__(self, name):
        return getattr(self._dev, name)

    def i2c_read(self, *args):
        return self._dev.i2c_read(*args)[:-1]

    @contextlib.contextmanager
    def batch(self, *args, **kwargs):
        with self._dev.batch(*args, **kwargs) as batch:
            yield ShortBatch(batch)


class ShortBatch(ShortReads):
    def i2c_read(self, *args):
        call = self._dev.i2c_read(*args)
        return types.SimpleNamespace(result=lambda: call.result()[:-1])


@pytest.mark.parametrize(
    "argv",
    [
        ["get", "-y", "A", "0x68", "0x00", "w"],
        ["dump", "-y", "-r", "0-1", "A", "0x68", "w"],
        ["transfer", "-y", "A", "w1@0x68", "0x00", "r2"],
    ],
    ids=["get-word", "dump-words", "transfer-register-read"],
)
def test_a_short_read_fails_the_command(cli, monkeypatch, argv):
    opened = cli_main.open_device

    @contextlib.contextmanager
    def open_short(*args):
        with opened(*args) as dev:
            yield ShortReads(dev)

    monkeypatch.setattr(cli_main, "open_device", open_short)
    result = cli("i2c", *argv)
    assert (result.rc, result.out) == (1, "")
    assert result.err.startswith(f"i2c {argv[0]}: short read: ")


# ------------------------------------------------------------- i2c transfer
def test_transfer_fill_suffixes_and_address_carry_over(cli):
    result = cli("i2c", "transfer", "-y", "A", "w5@0x68", "0x80", "0x10+", "w3", "0x90", "0xfe-", "r2@0x50")
    assert result.rc == 0
    memory = cli.adapter.i2c.memory(BUS_A, 0x68)
    assert memory[0x80:0x84] == bytes([0x10, 0x11, 0x12, 0x13])
    assert memory[0x90:0x92] == bytes([0xFE, 0xFD])
    assert result.out == "0x76 0x61\n"


def test_transfer_verbose_lists_every_message(cli):
    result = cli("i2c", "transfer", "-y", "-v", "A", "w1@0x50", "0x00", "r2")
    assert result.out == (
        "msg 0: addr 0x50, write, len 1, buf 0x00\nmsg 1: addr 0x50, read, len 2, buf 0x76 0x61\n"
    )


# ------------------------------------------------------------------- usage
def usage(id: str, *argv: str, says: str):
    return pytest.param(list(argv), says, id=id)


DETECT = ("i2c", "detect", "-y", "A")
TRANSFER = ("i2c", "transfer", "-y", "A")


# One or more malformed lines for every subcommand, and each command line the
# defects report named; ``says`` is part of the one error line.
@pytest.mark.parametrize("argv, says", [
    usage("list-extra-word", "list", "extra", says="vantor list: error: unrecognized arguments: extra"),
    usage("timeout-negative", "--timeout", "-5", "info", says="timeout -5 out of range"),
    usage("timeout-zero-after-the-command", "i2c", "detect", "-y", "A", "--timeout", "0",
          says="vantor i2c detect: error: argument --timeout: timeout 0 out of range"),
    usage("timeout-nan-in-a-family", "spi", "--timeout", "nan", "flash", "id",
          says="vantor spi: error: argument --timeout: invalid timeout 'nan'"),
    # (--device comes before each line.)
    usage("adapter-chosen-twice", "info", "--sim",
          says="--device and --sim each choose the adapter: give one"),
    usage("flash-id-unknown-option", "spi", "flash", "id", "--fast",
          says="vantor spi flash id: error: unrecognized arguments: --fast"),
    usage("detect-bad-bus", "i2c", "detect", "-y", "C", says="invalid bus 'C'"),
    usage("detect-reserved-without-a", *DETECT, "0x00", "0x7f",
          says="FIRST 0x00 out of range (0x08-0x77)"),
    usage("detect-last-past-the-end", *DETECT, "0x08", "0x78",
          says="LAST 0x78 out of range (0x08-0x77)"),
    usage("detect-last-below-first", *DETECT, "0x20", "0x10",
          says="LAST 0x10 out of range (0x20-0x77)"),
    usage("detect-last-past-0x7f", "i2c", "detect", "-y", "-a", "A", "0x00", "0x80",
          says="LAST 0x80 out of range (0x00-0x7f)"),
    usage("detect-first-alone", *DETECT, "0x10", says="both FIRST and LAST must be given"),
    usage("detect-functionality-with-range", "i2c", "detect", "-F", "A", "0x10", "0x20",
          says="-F takes no address range"),
    usage("detect-list-with-bus", "i2c", "detect", "-l", "A", says="-l takes no I2CBUS"),
    usage("get-extra-word", "i2c", "get", "-y", "A", "0x50", "0", "i", "4", "5",
          says="vantor i2c get: error: unrecognized arguments: 5"),
    usage("get-bad-mode", "i2c", "get", "-y", "A", "0x50", "0x00", "x", says="invalid mode"),
    usage("get-pec-on-i2c-block", "i2c", "get", "-y", "A", "0x50", "0x00", "ip",
          says="mode i has no PEC"),
    usage("get-length-without-i", "i2c", "get", "-y", "A", "0x50", "0", "b", "4", says="LENGTH"),
    usage("set-two-values-byte-mode", "i2c", "set", "-y", "A", "0x50", "0x00", "1", "2", "b",
          says="mode b takes one VALUE"),
    usage("dump-even-words-odd-first", "i2c", "dump", "-y", "-r", "0x01-0x0f", "A", "0x68",
          "W", says="mode W needs an even FIRST and an odd LAST"),
    usage("dump-block-with-range", "i2c", "dump", "-y", "-r", "0x00-0x0f", "A", "0x68", "s",
          says="-r does not go with mode s"),
    usage("dump-pec-on-even-words", "i2c", "dump", "-y", "A", "0x68", "Wp",
          says="mode W has no PEC"),
    usage("dump-reversed-range", "i2c", "dump", "-y", "-r", "0x10-0x01", "A", "0x50",
          says="FIRST is above LAST"),
    usage("transfer-direction", *TRANSFER, "x2@0x50", says="invalid direction"),
    usage("transfer-no-length", *TRANSFER, "w@0x50", says="length missing"),
    usage("transfer-bad-length", *TRANSFER, "wq@0x50", says="invalid length"),
    usage("transfer-no-address", *TRANSFER, "r8", says="no address given"),
    usage("transfer-short-data", *TRANSFER, "w2@0x50", "0x00", says="data missing"),
    usage("transfer-byte-too-big", *TRANSFER, "w1@0x50", "0x100", says="out of range"),
    usage("transfer-not-a-number", *TRANSFER, "w1@0x50", "zz", says="invalid data byte"),
    usage("transfer-zero-read", *TRANSFER, "r0@0x50", says="read length"),
    usage("transfer-reserved-address", *TRANSFER, "r2@0x05", says="chip address"),
    usage("transfer-bad-address", *TRANSFER, "r2@0x50x", says="chip address"),
    usage("transfer-read-length-from-device", *TRANSFER, "r?@0x50",
          says="read length '?' in 'r?@0x50' is not supported"),
    usage("transfer-read-over-one-transfer", *TRANSFER, "r1025@0x50",
          says="read length in 'r1025@0x50' out of range (1-1024)"),
    usage("transfer-write-too-long", *TRANSFER, "w2000@0x50", "0x00+",
          says="write length in 'w2000@0x50' out of range (0-1024)"),
    usage("eeprom-read-2-byte-without-size", "i2c", "eeprom", "read", "--address-width", "2",
          "A", "0x50", "x.bin", says="give --size"),
    usage("eeprom-write-stdin-without-y", "i2c", "eeprom", "write", "A", "0x50", "-",
          says="FILE - (stdin) carries the data: give -y"),
    usage("eeprom-verify-offset-past-the-part", "i2c", "eeprom", "verify", "--offset", "0x100",
          "A", "0x50", os.devnull, says="--offset 0x100 lies outside the EEPROM (256 bytes)"),
    usage("spi-transfer-bad-hex", "spi", "transfer", "9g", says="invalid hex bytes '9g'"),
    usage("flash-id-bad-cs", "spi", "flash", "id", "--cs", "4", says="chip select 4 out of range"),
    usage("flash-read-bad-offset", "spi", "flash", "read", "--offset", "zz", "x.bin",
          says="invalid offset 'zz'"),
    usage("flash-write-skip-past-the-file", "spi", "flash", "write", "--skip", "3", os.devnull,
          says="--skip 3 is beyond the end of"),
    usage("flash-erase-unaligned", "spi", "flash", "erase", "--offset", "0x10", "--length", "16",
          says="4096-byte sectors: 0x10+16 would erase 0x000000-0x000fff"),
    usage("flash-erase-unaligned-to-end", "spi", "flash", "erase", "--offset", "0x1800",
          says="4096-byte sectors: --offset 0x1800"),
    usage("gpio-get-pin-out-of-range", "gpio", "get", "7", says="invalid pin '7'"),
    usage("gpio-set-pin-0", "gpio", "set", "0=1", says="invalid pin '0' (1-6)"),
    usage("gpio-set-bad-level", "gpio", "set", "1=maybe", says="invalid value in '1=maybe'"),
    usage("gpio-monitor-idle-nan", "gpio", "monitor", "--idle-timeout", "nan", "1",
          says="seconds nan out of range"),
    usage("uart-monitor-idle-negative", "uart", "monitor", "--idle-timeout", "-1",
          says="seconds -1 out of range"),
    usage("i3c-init-bcr-too-big", "i3c", "init", "--target", "static=0x50,bcr=0x1ff",
          says="bcr 0x1ff out of range (0-255)"),
    usage("i3c-init-reserved-dynamic", "i3c", "init", "--target", "0x50:0x7e",
          says="dynamic address 0x7e is not a valid dynamic address"),
    usage("i3c-init-static-not-dynamic", "i3c", "init", "--target", "static=0x3e",
          says="static address 0x3e cannot be a dynamic address"),
    usage("ccc-missing-address", "i3c", "ccc", "getpid", says="wrong arguments for getpid"),
    usage("ccc-unknown", "i3c", "ccc", "nosuch", says="unknown CCC 'nosuch'"),
    usage("ccc-setmwl-too-big", "i3c", "ccc", "setmwl", "0x08", "70000",
          says="value 70000 out of range (0-65535)"),
    usage("ccc-getstatus-def-byte-too-big", "i3c", "ccc", "getstatus", "0x08", "300",
          says="value 300 out of range (0-255)"),
    usage("ccc-enec-events-too-big", "i3c", "ccc", "enec", "0x08", "0x1ff",
          says="events 0x1ff out of range (0-255)"),
    usage("i3c-read-too-long", "i3c", "read", "0x08", "70000",
          says="sdr transfers are 1 to 32767 bytes, not 70000"),
    usage("i3c-read-hdr-too-long", "i3c", "read", "--mode", "hdr-ddr", "--command", "0x80",
          "0x08", "1026", says="hdr-ddr transfers are 1 to 1024 bytes"),
    usage("i3c-write-hdr-odd-length", "i3c", "write", "--mode", "hdr-ddr", "--command", "0x01",
          "0x08", "010203", says="16-bit words: 3 bytes"),
    usage("i3c-write-register-too-long", "i3c", "write", "0x08", "--register", "0011223344",
          "00", says="--register is at most 4 bytes, 5 given"),
    usage("i3c-ibi-zero-events", "i3c", "ibi", "-n", "0", says="count 0 out of range"),
    usage("target-i2c-10-bit-address", "target", "i2c", "--address", "0x100",
          says="addresses above 0x7f need --ten-bit"),
    usage("target-i3c-pid-too-big", "target", "i3c", "--pid", "0x1000000000000",
          says="is not 48 bits"),
    usage("voltage-set-range-in-mv", "voltage", "set", "99999",
          says="voltage 99999 out of range (0-65535 mV)"),
    usage("voltage-set-json-usage", "--json", "voltage", "set", says="give either a voltage"),
    usage("voltage-set-i3c-persist", "voltage", "set", "--rail", "i3c", "--persist", "1200",
          says="cannot be persisted"),
    usage("udev-rules-group-that-ends-the-quote", "udev-rules", "--group", 'x", RUN+="/bin/sh',
          says="invalid group name"),
])
def test_usage_error_is_one_line_exit_2_before_the_adapter_is_opened(cli, never_opened, argv, says):
    cli.adapter.clear()
    result = cli(*argv)
    assert (result.rc, result.out, result.err.count("\n")) == (2, "", 1), result.err
    assert result.err.startswith("vantor") and says in result.err
    assert cli.adapter.requests == []


# ---------------------------------------------------------- global options
def run_main(capsys, *argv: str) -> Result:
    capsys.readouterr()
    rc = cli_main.main(list(argv))
    captured = capsys.readouterr()
    return Result(rc, captured.out, captured.err)


@pytest.mark.parametrize("before, after", [
    (["--sim", "i2c", "detect", "-y", "A"], ["i2c", "detect", "-y", "A", "--sim"]),
    (["--sim", "eeprom-and-sensor", "i2c", "detect", "-y", "A"],
     ["i2c", "detect", "-y", "--sim", "eeprom-and-sensor", "A"]),
    (["--sim", "spi", "flash", "id"], ["spi", "--sim", "flash", "id"]),
    (["--sim", "--json", "--timeout", "-1", "spi", "flash", "id"],
     ["spi", "flash", "--timeout", "-1", "id", "--sim", "--json"]),
    # A word after --sim that is the command's own argument, not a profile.
    (["--sim", "spi", "flash", "verify", os.devnull], ["spi", "flash", "verify", "--sim", os.devnull]),
], ids=["sim-after-the-command", "sim-profile-between-arguments", "sim-in-a-family",
        "json-and-timeout-at-every-depth", "sim-before-a-file"])
def test_global_options_after_the_command_mean_the_same(capsys, before, after):
    expected = run_main(capsys, *before)
    assert expected.rc == 0, expected.err
    assert run_main(capsys, *after) == expected


def test_a_global_option_written_twice_takes_the_last(capsys):
    result = run_main(capsys, "--sim", "eeprom-and-sensor", "i2c", "detect", "-y", "A", "--sim")
    assert (result.rc, result.out) == (0, DEFAULT_GRID)


# What a command line imports: the family module of its command, no other
# (each family costs start-up time), and the resource loader only for the
# commands that read package data.
@pytest.mark.parametrize("argv, loaded, resources", [
    (["--version"], set(), False),
    (["--help"], set(), False),
    (["i2c", "--sim", "detect", "--help"], {"i2c", "i2cbus", "eeprom"}, False),
    (["--sim", "spi", "flash", "id", "--help"], {"spi"}, False),
    (["voltage", "get", "--help"], {"system"}, False),
    # The script lists the shipped profiles.
    (["completion", "bash"],
     {"system", "i2c", "i2cbus", "eeprom", "spi", "gpio", "uart", "i3c", "target", "trace"}, True),
], ids=["version", "help", "family-help", "subcommand-help", "system-command", "completion"])
def test_a_command_line_imports_only_its_family_module(argv, loaded, resources, tmp_path):
    probe = (
        "import sys\n"
        "from pyvantorsdk.cli import main\n"
        f"main.main({argv!r})\n"
        "cli = {m.rpartition('.')[2] for m in sys.modules if m.startswith('pyvantorsdk.cli.')}\n"
        "print(sorted(cli - {'main', 'common'}), 'importlib.resources' in sys.modules, file=sys.stderr)\n"
    )
    # Run outside the source tree, so that the child imports the installed package.
    done = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, timeout=60,
                          cwd=tmp_path)
    assert done.stderr.splitlines()[-1] == f"{sorted(loaded)} {resources}"


# -------------------------------------------------------------- SPI flash
@pytest.fixture
def ctrl_c_interrupts():
    """Ctrl-C raises KeyboardInterrupt even where the test runner was
    started with SIGINT ignored."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)


@pytest.fixture(params=[True, False], ids=["bulk", "hid-only"])
def flash_cli(request, capsys):
    with sim.VirtualAdapter(bulk=request.param) as adapter:
        adapter.spi.attach_flash(0, size=1 << 17, jedec_id=b"\xa7\x40\x11", busy_polls=3)
        yield Cli(adapter, capsys)


def test_flash_write_read_verify_round_trip(flash_cli, tmp_path):
    image = bytes((i * 7 + i // 256) & 0xFF for i in range(40_000))  # more than one bulk transfer
    source, back = tmp_path / "image.bin", tmp_path / "back.bin"
    source.write_bytes(image)
    written = flash_cli("spi", "flash", "write", str(source))
    assert written.rc == 0, written.err
    assert "write: 40960 bytes" in written.err
    assert written.out.endswith("10 sectors: 0 unchanged, 0 erased; 157 pages programmed, "
                                "3 left as they were; verified\n")
    again = json.loads(flash_cli("spi", "flash", "write", str(source), "--json").out)
    assert (again["sectors_skipped"], again["pages_programmed"], again["erases"]) == (10, 0, {})
    assert flash_cli.adapter.spi.memory(0)[: len(image)] == image
    assert flash_cli("spi", "flash", "read", "--length", str(len(image)), str(back)).rc == 0
    assert back.read_bytes() == image
    assert flash_cli("spi", "flash", "verify", str(source)).rc == 0


def test_flash_write_stopped_by_ctrl_c_says_how_to_go_on_and_keeps_the_neighbours(
    flash_cli, tmp_path, monkeypatch, ctrl_c_interrupts
):
    neighbours = bytes(range(256)) * 16 * 4
    flash_cli.adapter.spi.write_memory(0, 0, neighbours)
    image = bytes((i * 13) & 0xFF for i in range(3 * 4096))
    source = tmp_path / "image.bin"
    source.write_bytes(image)
    program_page = spi.Flash.program_page

    def ctrl_c_at_the_first_page(self, address, data):
        monkeypatch.setattr(spi.Flash, "program_page", program_page)
        os.kill(os.getpid(), signal.SIGINT)
        program_page(self, address, data)

    monkeypatch.setattr(spi.Flash, "program_page", ctrl_c_at_the_first_page)
    stopped = flash_cli("spi", "flash", "write", "--offset", "0x100", str(source))
    assert stopped.rc == 130
    # The sector under way is finished: its bytes before the image are back.
    resume = f"--offset 0x1000 --skip 3840 {source}"
    assert stopped.err == "spi flash write: interrupted: 0x000100-0x000fff written (3840 of 12288 " \
        f"bytes); to go on: vantor --device {flash_cli.adapter.path} spi flash write {resume}\n"
    assert flash_cli("spi", "flash", "write", *resume.split()).rc == 0
    expected = neighbours[:0x100] + image + neighbours[0x3100:]
    assert flash_cli.adapter.spi.memory(0)[: len(expected)] == expected


def test_flash_write_stopped_by_ctrl_c_in_the_comparison_read_stops_at_once(
    flash_cli, tmp_path, monkeypatch, ctrl_c_interrupts
):
    source = tmp_path / "image.bin"
    source.write_bytes(b"\x00" * 8192)
    read = spi.Flash.read

    def ctrl_c_before_reading(self, address, length):
        os.kill(os.getpid(), signal.SIGINT)
        return read(self, address, length)

    monkeypatch.setattr(spi.Flash, "read", ctrl_c_before_reading)
    flash_cli.adapter.clear()
    stopped = flash_cli("spi", "flash", "write", "--quiet", str(source))
    assert stopped.rc == 130
    assert "interrupted: nothing written; to go on:" in stopped.err
    # Neither the rest of the read nor any change was sent.
    assert not [m for m in flash_cli.adapter.requests if m[2:4] in (b"\x04\x0d", b"\x08\x0d")
                and m[8] != 0x9F]


def test_flash_verify_names_the_first_difference(flash_cli, tmp_path):
    source = tmp_path / "image.bin"
    source.write_bytes(b"\xff" * 0x2345 + b"\x00")
    result = flash_cli("spi", "flash", "verify", str(source))
    assert result.rc == 1
    assert "spi flash verify: mismatch at 0x002345: flash 0xff, file 0x00" in result.err


def test_flash_erase_range_and_out_of_range_offset(flash_cli, tmp_path):
    flash_cli.adapter.spi.write_memory(0, 0, b"\x00" * 0x3000)
    erased = flash_cli("spi", "flash", "erase", "-y", "--offset", "0x1000", "--length", "4096", "--json")
    assert json.loads(erased.out) == {"offset": 0x1000, "length": 0x1000}
    memory = flash_cli.adapter.spi.memory(0)
    assert memory[0x0FFF] == 0 and memory[0x1000:0x2000] == b"\xff" * 0x1000 and memory[0x2000] == 0
    source = tmp_path / "x.bin"
    source.write_bytes(b"12")
    assert flash_cli("spi", "flash", "write", "--offset", str((1 << 17) - 1), str(source)).rc == 2


ERASE = ["spi", "flash", "erase", "--offset", "0x1000", "--length", "4096"]


# A command that changes something asks first; declined, it changes nothing
# (i2c asks before it sets up the bus: declined, it sends nothing).
@pytest.mark.parametrize("argv, answer, goes_on", [
    (ERASE, "n\n", False),
    (ERASE, "", False),
    (ERASE, "\n", True),
    ([*ERASE, "-y"], "n\n", True),
    (["i2c", "detect", "A"], "n\n", False),
], ids=["declined", "end-of-input", "enter-accepts", "yes-option-does-not-ask",
        "i2c-declined-before-the-bus-set-up"])
def test_confirmation(cli, monkeypatch, argv, answer, goes_on):
    cli.adapter.spi.write_memory(0, 0x1000, b"\x00" * 16)
    monkeypatch.setattr("sys.stdin", io.StringIO(answer))
    cli.adapter.clear()
    result = cli(*argv)
    assert result.rc == (0 if goes_on else 1), result.err
    assert ("Continue? [Y/n]" in result.err) == ("-y" not in argv)
    assert cli.adapter.spi.memory(0)[0x1000:0x1010] == (b"\xff" if goes_on else b"\x00") * 16
    assert ("aborting on user request" in result.err) == (not goes_on)
    if argv[0] == "i2c":
        assert cli.adapter.requests == []


# An output FILE that cannot be written fails as a missing input file does
# (exit 1), before the adapter is opened; JSON and data cannot share stdout.
@pytest.mark.parametrize("file, json_output, rc, says", [
    ("missing/dump.bin", False, 1, "No such file or directory"),
    (".", False, 1, "Is a directory"),
    ("-", True, 2, "--json and FILE '-' would both write to standard output"),
], ids=["missing-folder", "a-folder", "json-and-data-on-stdout"])
def test_flash_read_refuses_an_output_it_cannot_write_before_opening(
    cli, never_opened, monkeypatch, tmp_path, file, json_output, rc, says
):
    monkeypatch.chdir(tmp_path)
    result = cli("spi", "flash", "read", "--length", "16", file, *(["--json"] if json_output else []))
    assert (result.rc, result.err.count("\n")) == (rc, 1) and says in result.err, result.err


def test_flash_image_from_stdin_and_read_to_stdout(capsysbinary, monkeypatch):
    image = bytes(range(256)) * 20
    with sim.VirtualAdapter() as adapter:
        cli_main.default_bench(adapter)
        cli = Cli(adapter, capsysbinary)
        monkeypatch.setattr("sys.stdin", io.TextIOWrapper(io.BytesIO(image)))
        written = cli("spi", "flash", "write", "-")
        assert written.rc == 0 and written.out.startswith(b"-: 2 sectors"), written.err
        assert adapter.spi.memory(0)[: len(image)] == image
        read = cli("spi", "flash", "read", "--length", str(len(image)), "-")
        assert (read.rc, read.out) == (0, image)
        assert read.err.startswith(b"read: 5120 bytes")


# ------------------------------------------------------------- GPIO, UART
def test_gpio_set_and_get(cli):
    assert cli("gpio", "set", "3=1", "4=inactive").rc == 0
    assert (cli.adapter.gpio.output_level(2), cli.adapter.gpio.output_level(3)) == (1, 0)
    cli.adapter.gpio.drive_input(0, 1)
    assert cli("gpio", "get", "1", "2").out == '"1"=active "2"=inactive\n'
    assert cli("gpio", "get", "--numeric", "1", "2").out == "1 0\n"


def test_gpio_monitor_prints_one_line_per_edge(cli):
    finish = cli.start("gpio", "monitor", "-n", "2", "2", requests_before_wait=2)
    cli.adapter.gpio.drive_input(1, 1)
    cli.adapter.gpio.drive_input(1, 0)
    result = finish()
    assert result.rc == 0
    fields = [line.split("\t") for line in result.out.splitlines()]
    assert [(f[1], f[2]) for f in fields] == [("rising", "2"), ("falling", "2")]
    seconds, _dot, nanoseconds = fields[0][0].partition(".")
    assert seconds.isdigit() and len(nanoseconds) == 9


def test_uart_send_and_monitor(cli):
    cli.adapter.uart.loopback = False
    assert cli("uart", "send", "--crlf", "hello", "world").rc == 0
    assert cli.adapter.uart.sent == b"hello world\r\n"
    finish = cli.start("uart", "monitor", "--hex", "-n", "2", requests_before_wait=1)
    cli.adapter.uart.inject(b"ping")
    cli.adapter.uart.inject(b"\x00\x01")
    result = finish()
    assert result.out.splitlines() == [
        "00000000  70 69 6e 67" + " " * 39 + "|ping|",
        "00000004  00 01" + " " * 45 + "|..|",
    ]


# ---------------------------------------------------------------------- I3C
def test_i3c_init_table_and_private_transfers(cli):
    result = cli("i3c", "init", "--target", "0x50:0x0a")
    assert result.out.splitlines() == [
        "DA    SA    PID             BCR   DCR   MWL   MRL   IBI  CONF",
        "0x0a  0x50  0123456789ab  0x07  0xc5  256   256   4    0x00",
        "0x08  --    0123456789ac  0x06  0x44  256   256   0    0x00",
    ]
    assert cli("i3c", "write", "0x0a", "--register", "0004", "de", "ad").rc == 0
    assert cli.adapter.i3c.memory(0x0123456789AB)[4:6] == b"\xde\xad"
    assert cli("i3c", "read", "0x0a", "2", "--register", "0004").out.startswith("00000000  de ad ")
    assert cli("i3c", "ccc", "getpid", "0x0a").out == "01 23 45 67 89 ab\n"
    assert cli("i3c", "ccc", "setmwl", "0x08", "64").rc == 0
    assert cli("i3c", "ccc", "getmwl", "0x08").out == "64\n"


def test_i3c_ibi_follow_prints_each_interrupt(cli):
    finish = cli.start("i3c", "ibi", "--init", "--follow", "-n", "2", requests_before_wait=3)
    assert cli.adapter.i3c.raise_ibi(0x0123456789AB, b"\x2a")
    assert cli.adapter.i3c.raise_ibi(0x0123456789AB, b"")
    result = finish()
    lines = [line.split("\t")[1:] for line in result.out.splitlines()]
    assert lines == [["ibi", "0x08", "2a"], ["ibi", "0x08"]]


# ------------------------------------------------------------------ targets
def test_target_i2c_loads_the_image_prints_events_and_saves(cli, tmp_path):
    image, saved = tmp_path / "image.bin", tmp_path / "saved.bin"
    image.write_bytes(b"hello")
    finish = cli.start("target", "i2c", "--bus", "B", "--address", "0x33", "-n", "1", "--save",
                       str(saved), str(image), requests_before_wait=2)
    # The image travels over the bulk interface after its request.
    assert wait_until(lambda: cli.adapter.i2c_target.memory[:5] == b"hello")
    assert cli.adapter.i2c_target.controller.write(0x33, b"\x02XY", bus=1).ack
    result = finish()
    assert result.rc == 0
    assert result.out.split("\t")[1:] == ["write", "0x33", "0x0002", "2\n"]
    assert saved.read_bytes()[:5] == b"heXYo"


# ------------------------------------------------ the adapter and its setup
def test_voltage_set_then_get(cli):
    assert cli("voltage", "set", "1800").rc == 0
    assert cli("voltage", "get").out.splitlines()[0] == "io:     1800 mV"


def test_list_shows_the_virtual_adapter_only_with_sim(cli, capsys):
    assert cli_main.main(["--sim", "--json", "list"]) == 0
    listed = json.loads(capsys.readouterr().out)
    assert any(entry["virtual"] and entry["path"] != cli.adapter.path for entry in listed)
    assert cli_main.main(["--json", "list"]) == 0
    assert all(not entry["virtual"] for entry in json.loads(capsys.readouterr().out))


# The tour and each family's main command, on every profile the package ships.
FAMILY_COMMANDS = {
    "demo": ["demo"],
    "info": ["info"],
    "i2c": ["i2c", "detect", "-y", "A"],
    "spi": ["spi", "flash", "id"],
    "gpio": ["gpio", "get", "1", "2", "3", "4", "5", "6"],
    "uart": ["uart", "send", "hello"],
    "i3c": ["i3c", "init"],
    "target": ["target", "i2c", "--address", "0x33", "--idle-timeout", "0"],
    "voltage": ["voltage", "get"],
}


@pytest.mark.parametrize("profile", profiles.shipped())
@pytest.mark.parametrize("argv", FAMILY_COMMANDS.values(), ids=FAMILY_COMMANDS.keys())
def test_every_shipped_profile_runs_every_family(capsys, profile, argv):
    rc = cli_main.main(["--sim", profile, *argv])
    assert rc == 0, capsys.readouterr()


def test_demo_fails_when_a_step_fails(capsys, tmp_path):
    # An adapter emulating an SPI target has no SPI controller to read a flash id with.
    bench = tmp_path / "target.toml"
    bench.write_text("version = 1\n[spi_target]\nmodel = 'flash'\n")
    assert cli_main.main(["--sim", str(bench), "demo"]) == 1
    lines = capsys.readouterr().out.splitlines()
    assert lines[3].startswith("SPI CS0:") and "FW_SPI_ROLE_CONFLICT" in lines[3]
    assert lines[4].startswith("hint: the SPI target role holds the bus")
    assert lines[5:] == ["1 of 4 steps failed."]


@pytest.mark.parametrize(
    "argv, message",
    [
        ([], "no adapter found"),
        (["--serial", "NOSUCH"], "no adapter with serial number NOSUCH"),
        (["--device", "/dev/nonexistent-hidraw"], "no adapter at /dev/nonexistent-hidraw"),
    ],
    ids=["none-attached", "unknown-serial", "unknown-path"],
)
def test_device_selection_errors(capsys, argv, message):
    assert cli_main.main([*argv, "info"]) == 1
    first, hint = capsys.readouterr().err.splitlines()
    assert message in first and "'vantor list'" in hint and "--sim" in hint


@pytest.mark.parametrize("argv, lines", [
    (["voltage", "set", "5000"], ["voltage set: FW_VOLTAGE_OUT_OF_RANGE (0x0101)",
                                  "hint: the I/O rail takes 1200 to 3300 mV"]),
    (["i2c", "get", "-y", "--frequency", "500", "A", "0x50", "0"],
     ["i2c get: FW_INVALID_PARAMETER (0x0004)", "hint: the I2C clock takes 1000 to 1000000 Hz"]),
    (["i3c", "read", "0x08", "2"],
     ["i3c read: FW_INTERFACE_NOT_INITIALIZED (0x0006)",
      "hint: initialise the I3C bus first: add --init, or run 'vantor i3c init'"]),
], ids=["voltage-range", "i2c-frequency", "i3c-not-initialised"])
def test_failure_line_and_what_to_do_next(cli, argv, lines):
    result = cli(*argv)
    assert (result.rc, result.out, result.err.splitlines()) == (1, "", lines)


# Every line but the comments is one of the rules, so the output can be piped
# into the rules file as it is.
@pytest.mark.parametrize(
    "argv, access",
    [([], 'TAG+="uaccess"'),
     (["--group", "plugdev"], 'TAG+="uaccess", GROUP="plugdev", MODE="0660"')],
    ids=["seat", "seat-and-group"],
)
def test_udev_rules_cover_every_supported_adapter(capsys, argv, access):
    assert cli_main.main(["udev-rules", *argv]) == 0
    rules = [line for line in capsys.readouterr().out.splitlines() if line and line[0] != "#"]
    expected = [
        f'SUBSYSTEM=="{subsystem}", {attr}{{idVendor}}=="{vendor:04x}", '
        f'{attr}{{idProduct}}=="{product:04x}", {access}'
        for vendor, product, _model, _size in pyvantorsdk.SUPPORTED_DEVICES
        for subsystem, attr in (("hidraw", "ATTRS"), ("usb", "ATTR"))
    ]
    assert sorted(rules) == sorted(expected)


@pytest.fixture(scope="module")
def bash_completion():
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        assert cli_main.main(["completion", "bash"]) == 0
    return out.getvalue()


# The words typed, the last one being completed, and what bash offers.
@pytest.mark.skipif(shutil.which("bash") is None, reason="needs bash")
@pytest.mark.parametrize("words, offered", [
    (["--sim", "i2c", "d"], ["detect", "dump"]),
    (["i2c", "detect", "-y"], ["-y"]),
    (["spi", "flash", "id", "--ti"], ["--timeout"]),
    (["--sim", "i3"], ["i3c-bus", "i3c"]),
    (["--timeout", ""], []),
    (["i2c", "get", "--frequency", "-"], []),
    (["voltage", "set", "--rail", ""], ["io", "i3c"]),
    (["--trace", "spi", "s"], ["spi"]),
    (["completion", "b"], ["bash"]),
], ids=["subcommands", "short-option", "global-option-after-the-command",
        "profiles-and-commands-after-sim", "nothing-for-a-value", "no-option-for-a-value",
        "choices-of-a-value", "a-value-is-not-a-command", "positional-choices"])
def test_bash_completion_offers(bash_completion, words, offered):
    typed = " ".join(shlex.quote(w) for w in ["vantor", *words])
    probe = (bash_completion + f"\nCOMP_WORDS=({typed}); COMP_CWORD={len(words)}; _vantor; "
             'printf "%s\\n" "${COMPREPLY[@]}"\n')
    done = subprocess.run(["bash", "-c", probe], capture_output=True, text=True, timeout=10)
    assert done.stdout.split() == offered, done.stderr


def actions_without_help(parser, path):
    """The options and positional arguments below ``parser`` that --help
    would list without a word, and the subcommands without a help line."""
    found = []
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            found += [f"{' '.join(path)} {a.dest}" for a in action._choices_actions if not a.help]
            for name, child in action.choices.items():
                found += actions_without_help(child, [*path, name])
        elif not action.help:
            found.append(f"{' '.join(path)} {'/'.join(action.option_strings) or action.dest}")
    return found


def test_help_describes_every_command_argument_and_option_with_examples(capsys):
    assert cli_main.main(["--help"]) == 0
    text = capsys.readouterr().out
    assert [c for c in cli_main.TOP_LEVEL_COMMANDS if f"    {c} " not in text] == []
    parser = cli_main.build_parser()
    assert actions_without_help(parser, []) == []
    for path, _words in subcommand_tree(parser):
        if path:
            assert cli_main.main([*path, "--help"]) == 0
            assert "examples:\n" in capsys.readouterr().out, path


# ------------------------------------------------------ CCC argument forms
@pytest.mark.parametrize(
    "words, method, values",
    [
        (["enec", "ibi,hj"], "i3c_ccc_enec_broadcast", [9]),
        (["enec", "0x08", "ibi"], "i3c_ccc_enec_direct", [0x08, 1]),
        (["setmrl", "0x08", "64"], "i3c_ccc_setmrl_direct", [0x08, 64]),
        (["setmrl", "64"], "i3c_ccc_setmrl_broadcast", [64]),
        (["--broadcast", "setmrl", "64", "8"], "i3c_ccc_setmrl_broadcast", [64, 8]),
        (["setdasa", "0x50", "0x0a"], "i3c_ccc_setdasa", [0x50, 0x0A]),
        (["setaasa", "0x50", "0x51"], "i3c_ccc_setaasa", [[0x50, 0x51]]),
        (["entas2"], "i3c_ccc_entas2_broadcast", []),
        (["setxtime", "0x08", "0xdf", "0102"], "i3c_ccc_setxtime_direct", [0x08, 0xDF, b"\x01\x02"]),
        (["rstact", "0x08", "reset-whole-target", "read"], "i3c_ccc_rstact_direct",
         [0x08, I3cTargetResetDefByte.RESET_WHOLE_TARGET, I3cTransferDirection.READ]),
    ],
    ids=["broadcast-by-arity", "direct-with-address", "direct-optional-left-out",
         "broadcast-optional-left-out", "broadcast-forced", "two-addresses", "address-list",
         "no-arguments", "hex-argument", "names-and-direction"],
)
def test_ccc_form_and_arguments(words, method, values):
    args = cli_main.build_parser().parse_args(["i3c", "ccc", *words])
    args.prepare(args)
    assert args.ccc_call == (method, values)


# -------------------------------------------- confirmation, choosing, sim
def test_every_facade_ccc_is_offered_by_the_cli():
    # The CLI lists what the SDK's CCC table exports: a facade method no row
    # leads to (a row missing from the table) is a CCC the CLI cannot send.
    offered = {form.method for ccc in i3c_cli.CCCS.values()
               for form in (ccc.direct, ccc.broadcast) if form is not None}
    assert offered == {name for name in dir(pyvantorsdk.DeviceFacade) if name.startswith("i3c_ccc_")}


def test_several_adapters_are_listed_for_a_choice(monkeypatch, capsys):
    found = [types.SimpleNamespace(path=f"/dev/hidraw{n}", serial_number=sn, product_name="Teranox")
             for n, sn in ((1, "A1"), (2, "B2"))]
    monkeypatch.setattr(pyvantorsdk, "find_adapters", lambda include_virtual=True: found)
    assert cli_main.main(["info"]) == 1
    err = capsys.readouterr().err
    assert "2 adapters found; choose one with --device PATH or --serial SN" in err
    assert "/dev/hidraw1 (serial A1, Teranox)" in err and "/dev/hidraw2 (serial B2, Teranox)" in err


def test_a_profile_that_cannot_be_loaded_is_one_line(capsys, tmp_path):
    assert cli_main.main(["--sim", str(tmp_path / "missing.toml"), "info"]) == 1
    err = capsys.readouterr().err
    assert err.startswith("info: --sim") and err.count("\n") == 1


# -------------------------------------------------- SPI and I3C targets
def test_target_spi_prints_reads_of_the_external_controller(cli, tmp_path):
    image = tmp_path / "image.bin"
    image.write_bytes(b"spi!")
    finish = cli.start("target", "spi", "-n", "1", str(image), requests_before_wait=2)
    assert wait_until(lambda: cli.adapter.spi_target.memory[:4] == b"spi!")
    miso = cli.adapter.spi_target.controller.transfer(b"\x03\x00\x00" + bytes(4))
    result = finish()
    assert miso[3:] == b"spi!"  # the memory takes a 2-byte address
    assert result.out.split("\t")[1:] == ["read", "0", "0x0000", "4\n"]


def test_target_i3c_prints_private_writes(cli):
    finish = cli.start("target", "i3c", "--static-address", "0x30", "-n", "2",
                       requests_before_wait=1)
    controller = cli.adapter.i3c_target.controller
    assert controller.setdasa(0x30, 0x0B).ack
    assert controller.private_write(0x0B, b"\x00\x05\xaa").ack
    result = finish()
    events = [line.split("\t")[1:] for line in result.out.splitlines()]
    assert [e[0] for e in events] == ["dyn-addr-change", "write-transfer"]
    assert events[1][-1] == "aa"


# ------------------------------------------------------------ --json schema
SCHEMA = json.loads((Path(pyvantorsdk.__file__).parent / "data" / "cli-schema.json").read_text())
# Subcommands that print their text (or write a file) with or without --json.
TEXT_ONLY = {"udev-rules", "completion", "trace-plot", "trace-dissector"}


def json_row(command: str, *argv: str, profile=None, events=None, fails=False, check=None,
             id=None):
    """``command`` names the schema entry (a failure row checks the error
    object instead); ``events``: (requests before the stream is ready, what
    makes its event) for a subcommand that prints a stream; ``check``: what
    the first document must hold besides its form."""
    return pytest.param(command, list(argv), profile, events, fails, check,
                        id=id or (command + ("-fails" if fails else "")))


JSON_ROWS = [
    json_row("list", "list"),
    json_row("info", "info", profile="eeprom-and-sensor",
             check=lambda d: d["serial_number"] == "EEPSENS1" and d["bulk"] is True),
    json_row("demo", "demo"),
    json_row("demo", "demo", profile="spi-flash", id="demo-spi-refused"),
    json_row("i2c-detect", "i2c", "detect", "-y", "A", profile="eeprom-and-sensor",
             check=lambda d: d["addresses"] == [0x48, 0x50]),
    json_row("i2c-get", "i2c", "get", "-y", "A", "0x50", "0x00", "i", "4", profile="eeprom-and-sensor",
             check=lambda d: d["data"] == b"BRD1".hex()),
    json_row("i2c-get", "i2c", "get", "-y", "A", "0x48", "0x0f", "w", profile="eeprom-and-sensor",
             id="i2c-get-word"),
    json_row("i2c-get", "i2c", "get", "-y", "A", "0x42", "0x00", profile="eeprom-and-sensor",
             fails=True),
    json_row("i2c-set", "i2c", "set", "-y", "-r", "A", "0x48", "0x01", "0x1234", "w",
             profile="eeprom-and-sensor"),
    json_row("i2c-set", "i2c", "set", "-y", "A", "0x50", "0x00", "1", "2", "i",
             profile="eeprom-and-sensor", id="i2c-set-block"),
    json_row("i2c-dump", "i2c", "dump", "-y", "-r", "0-15", "A", "0x50", profile="eeprom-and-sensor",
             check=lambda d: d["data"] == (b"BRD1" + bytes(range(4)) + b"\xff" * 8).hex()),
    json_row("i2c-transfer", "i2c", "transfer", "-y", "A", "w1@0x50", "0", "r4",
             profile="eeprom-and-sensor", check=lambda d: d[1]["data"] == b"BRD1".hex()),
    json_row("i2c-eeprom-read", "i2c", "eeprom", "read", "--quiet", "A", "0x50", "{tmp}/read.bin",
             profile="eeprom-and-sensor"),
    json_row("i2c-eeprom-write", "i2c", "eeprom", "write", "-y", "--quiet", "A", "0x50",
             "{tmp}/erased.bin", profile="eeprom-and-sensor"),
    json_row("i2c-eeprom-verify", "i2c", "eeprom", "verify", "--quiet", "A", "0x50",
             "{tmp}/zeros.bin", profile="eeprom-and-sensor", fails=True),
    json_row("spi-transfer", "spi", "transfer", "9f", "--length", "4",
             check=lambda d: d["received"] == "ffa74014"),
    json_row("spi-flash-id", "spi", "flash", "id",
             check=lambda d: d["size"] == 1 << 20 and d["jedec_id"] == "a74014"),
    json_row("spi-flash-read", "spi", "flash", "read", "--length", "16", "{tmp}/read.bin"),
    json_row("spi-flash-write", "spi", "flash", "write", "{tmp}/erased.bin"),
    json_row("spi-flash-verify", "spi", "flash", "verify", "{tmp}/erased.bin"),
    json_row("spi-flash-erase", "spi", "flash", "erase", "-y", "--length", "4096"),
    json_row("gpio-get", "gpio", "get", "1", "2", profile="eeprom-and-sensor",
             check=lambda d: d == {"1": 0, "2": 1}),
    json_row("gpio-set", "gpio", "set", "3=1", "4=0"),
    json_row("gpio-monitor", "gpio", "monitor", "-n", "1", "2",
             events=(2, lambda a: a.gpio.drive_input(1, 1))),
    json_row("uart-send", "uart", "send", "hi"),
    json_row("uart-monitor", "uart", "monitor", "-n", "1", events=(1, lambda a: a.uart.inject(b"ok"))),
    # The target with a static address keeps it (SETDASA); the other joins by ENTDAA.
    json_row("i3c-init", "i3c", "init", "--profile", "i3c-bus", profile="i3c-bus",
             check=lambda d: [(t["static_address"], t["dynamic_address"], t["pid"]) for t in d]
             == [(0x30, 0x30, "04a012345601"), (0, 0x08, "04a012345602")]),
    json_row("i3c-table", "i3c", "table", "--init", profile="i3c-bus",
             check=lambda d: [t["pid"] for t in d] == ["04a012345601", "04a012345602"]),
    json_row("i3c-ccc", "i3c", "ccc", "getpid", "--init", "0x08", id="i3c-ccc-bytes",
             check=lambda d: d["data"] == "0123456789ab"),
    json_row("i3c-ccc", "i3c", "ccc", "--init", "getbcr", "0x08", id="i3c-ccc-number"),
    json_row("i3c-ccc", "i3c", "ccc", "--init", "getmrl", "0x08", id="i3c-ccc-mrl",
             check=lambda d: (d["address"], d["mrl"], d["max_ibi_payload_length"]) == (8, 256, 4)),
    json_row("i3c-ccc", "i3c", "ccc", "--init", "rstdaa", id="i3c-ccc-no-reply"),
    json_row("i3c-read", "i3c", "read", "--init", "0x08", "4", profile="i3c-bus"),
    json_row("i3c-write", "i3c", "write", "--init", "0x08", "--register", "00", "aa"),
    json_row("i3c-ibi", "i3c", "ibi", "--init", "-n", "1",
             events=(3, lambda a: a.i3c.raise_ibi(0x0123456789AB, b"\x2a"))),
    json_row("target-i2c", "target", "i2c", "--bus", "B", "--address", "0x33", "-n", "1",
             events=(1, lambda a: a.i2c_target.controller.write(0x33, b"\x02XY", bus=1))),
    json_row("target-spi", "target", "spi", "-n", "1",
             events=(1, lambda a: a.spi_target.controller.transfer(b"\x03\x00\x00" + bytes(4)))),
    json_row("target-i3c", "target", "i3c", "--static-address", "0x30", "-n", "1",
             events=(1, lambda a: a.i3c_target.controller.setdasa(0x30, 0x0B))),
    json_row("trace-decode", "trace", "decode", "{tmp}/t.pcapng",
             check=lambda d: [r["status"] for r in d] == ["SUCCESS"] * 2),
    json_row("trace-stats", "trace", "stats", "{tmp}/t.pcapng",
             check=lambda d: d["records"] == {"transaction": 2}),
    json_row("trace-decode", "trace", "decode", "{tmp}/erased.bin", fails=True),
    json_row("voltage-get", "voltage", "get", check=lambda d: d["io_mv"] == 3300),
    json_row("voltage-set", "voltage", "set", "1800"),
]


@pytest.mark.parametrize("command, argv, profile, events, fails, check", JSON_ROWS)
def test_json_output_follows_the_schema(capsys, tmp_path, command, argv, profile, events, fails,
                                        check):
    jsonschema = pytest.importorskip("jsonschema")
    (tmp_path / "erased.bin").write_bytes(b"\xff" * 16)
    (tmp_path / "zeros.bin").write_bytes(bytes(16))
    argv = [word.replace("{tmp}", str(tmp_path)) for word in argv] + ["--json"]
    with (sim.VirtualAdapter.from_profile(profile) if profile else sim.VirtualAdapter()) as adapter:
        if profile is None:
            cli_main.default_bench(adapter)
        cli = Cli(adapter, capsys)
        if argv[0] == "trace":  # a capture to read back
            assert cli("--trace", f"{tmp_path}/t.pcapng", "voltage", "get").rc == 0
        if events is None:
            result = cli(*argv)
        else:
            requests, make_event = events
            finish = cli.start(*argv, requests_before_wait=requests)
            make_event(adapter)
            result = finish()
    entry = "error" if fails else command
    validator = jsonschema.Draft202012Validator({"$defs": SCHEMA["$defs"], "$ref": f"#/$defs/{entry}"})
    lines = result.out.splitlines()
    assert (result.rc, len(lines) >= 1) == (1 if fails else 0, True), result.err
    for line in lines:
        validator.validate(json.loads(line))
    if check is not None:
        assert check(json.loads(lines[0]))
    if fails:
        # The JSON error object says what the error line on stderr says.
        report = json.loads(lines[0])["error"]
        assert result.err.splitlines()[0] == f"{report['operation']}: {report['message']}"


def schema_kind(schema) -> str:
    """The JSON type a schema's values take, with hex strings apart and null
    left out (null is how every key says 'none')."""
    if "$ref" in schema:
        name = schema["$ref"].rsplit("/", 1)[-1]
        return "hex" if name == "hex" else schema_kind(SCHEMA["$defs"][name])
    for key in ("anyOf", "allOf", "oneOf"):
        if key in schema:
            kinds = {schema_kind(s) for s in schema[key]} - {"null"}
            return "|".join(sorted(kinds))
    if "const" in schema or "enum" in schema:
        values = [schema["const"]] if "const" in schema else schema["enum"]
        return "|".join(sorted({"boolean" if isinstance(v, bool) else
                                "integer" if isinstance(v, int) else "string" for v in values}))
    return schema.get("type", "object")


def test_json_schema_gives_every_key_one_type_and_every_subcommand_a_row():
    kinds = {}

    def walk(schema):
        for key, value in schema.get("properties", {}).items():
            kinds.setdefault(key, set()).add(schema_kind(value))
            walk(value)
        for key in ("items", "additionalProperties"):
            if isinstance(schema.get(key), dict):
                walk(schema[key])
        for key in ("anyOf", "allOf", "oneOf"):
            for part in schema.get(key, []):
                walk(part)

    for definition in SCHEMA["$defs"].values():
        walk(definition)
    assert {key: k for key, k in kinds.items() if len(k) > 1} == {}
    # Every leaf subcommand has a schema entry and a row; no entry outlives its subcommand.
    tree = subcommand_tree(cli_main.build_parser())
    paths = [path for path, _words in tree]
    leaves = {"-".join(p) for p in paths if p and not any(q[: len(p)] == p and q != p for q in paths)}
    # The schema's own document accepts the output of any subcommand, or the error.
    commands = {ref["$ref"].rsplit("/", 1)[-1] for ref in SCHEMA["anyOf"]} - {"error"}
    assert commands == leaves - TEXT_ONLY
    assert {row.values[0] for row in JSON_ROWS} == commands
