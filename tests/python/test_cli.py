# SPDX-License-Identifier: MIT
"""The vantor command, run in-process (main(argv)) against a virtual adapter
of the test, so that the bench can be prepared and inspected."""

from __future__ import annotations

import io
import json
import os
import shutil
import signal
import subprocess
import threading
from dataclasses import dataclass

import pytest

import pyvantorsdk
from helpers import DEFAULT_GRID, wait_until
from pyvantorsdk import I3cTargetResetDefByte, I3cTransferDirection, sim
from pyvantorsdk.cli import i3c as i3c_cli
from pyvantorsdk.cli import main as cli_main
from pyvantorsdk.cli import spi
from pyvantorsdk.cli.common import subcommand_tree
from pyvantorsdk.cli.i2c import detect_grid

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


# --------------------------------------------------------------- i2c detect


def test_detect_prints_the_grid_of_answering_addresses(cli):
    result = cli("i2c", "detect", "-y", "A")
    assert (result.rc, result.out) == (0, DEFAULT_GRID)


def test_detect_range_all_addresses_and_addresses_in_use(cli):
    lines = cli("i2c", "detect", "-y", "A", "0x4e", "0x51").out.splitlines()
    assert lines[5:8] == ["40:" + " " * 43 + "-- -- ", "50: 50 -- " + " " * 42, "60: " + " " * 48]
    lines = cli("i2c", "detect", "-y", "-a", "B").out.splitlines()
    assert (lines[1], lines[8]) == ("00: " + "-- " * 16, "70: " + "-- " * 16)
    assert lines[6] == "50: -- -- -- -- 54 " + "-- " * 11
    assert detect_grid({0x50}, 0x08, 0x77, in_use={0x51})[6].startswith("50: 50 UU -- ")


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


@pytest.mark.parametrize(
    "argv, offset, expected",
    [
        (["0x68", "0x10", "0x5a"], 0x10, b"\x5a"),
        (["0x68", "0x10", "0x1234", "w"], 0x10, b"\x34\x12"),
        (["0x68", "0x20", "1", "2", "3", "i"], 0x20, b"\x01\x02\x03"),
        (["0x68", "0x30", "2", "7", "8", "s"], 0x30, b"\x03\x02\x07\x08"),
    ],
    ids=["byte", "word-little-endian", "i2c-block", "smbus-block-count-first"],
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


@pytest.mark.parametrize(
    "messages, message",
    [
        (["x2@0x50"], "invalid direction"),
        (["w@0x50"], "length missing"),
        (["wq@0x50"], "invalid length"),
        (["r8"], "no address given"),
        (["w2@0x50", "0x00"], "data missing"),
        (["w1@0x50", "0x100"], "out of range"),
        (["w1@0x50", "zz"], "invalid data byte"),
        (["r0@0x50"], "read length"),
        (["r2@0x05"], "chip address"),
        (["r2@0x50x"], "chip address"),
    ],
    ids=["direction", "no-length", "bad-length", "no-address", "short-data", "byte-too-big",
         "not-a-number", "zero-read", "reserved-address", "bad-address"],
)
def test_malformed_transfer_is_a_usage_error_and_sends_nothing(cli, messages, message):
    cli.adapter.clear()
    result = cli("i2c", "transfer", "-y", "A", *messages)
    assert result.rc == 2
    assert result.err.startswith("vantor i2c transfer: error: ") and message in result.err
    assert cli.adapter.requests == []


# ------------------------------------------------------------------- usage
def usage(id: str, *argv: str, says: str):
    return pytest.param(list(argv), says, id=id)


# One or more malformed lines for every subcommand, and each command line the
# defects report named; ``says`` is part of the one error line.
@pytest.mark.parametrize("argv, says", [
    usage("list-extra-word", "list", "extra", says="unrecognized arguments: extra"),
    usage("timeout-zero", "--timeout", "0", "info", says="timeout 0 out of range"),
    usage("timeout-negative", "--timeout", "-5", "info", says="timeout -5 out of range"),
    usage("demo-unknown-option", "demo", "--fast", says="unrecognized arguments: --fast"),
    usage("detect-bad-bus", "i2c", "detect", "-y", "C", says="invalid bus 'C'"),
    usage("detect-address-too-big", "i2c", "detect", "-y", "A", "0x80", says="out of range"),
    usage("get-bad-mode", "i2c", "get", "-y", "A", "0x50", "0x00", "x", says="invalid mode"),
    usage("get-length-without-i", "i2c", "get", "-y", "A", "0x50", "0", "b", "4", says="LENGTH"),
    usage("set-two-values-byte-mode", "i2c", "set", "-y", "A", "0x50", "0x00", "1", "2", "b",
          says="mode b takes one VALUE"),
    usage("dump-reversed-range", "i2c", "dump", "-y", "-r", "0x10-0x01", "A", "0x50",
          says="FIRST is above LAST"),
    usage("transfer-write-too-long", "i2c", "transfer", "-y", "A", "w2000@0x50", "0x00+",
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
    usage("flash-verify-bad-skip", "spi", "flash", "verify", "--skip", "x", "x.bin",
          says="invalid skip 'x'"),
    usage("flash-write-skip-past-the-file", "spi", "flash", "write", "--skip", "3", os.devnull,
          says="--skip 3 is beyond the end of"),
    usage("flash-erase-unaligned", "spi", "flash", "erase", "--offset", "0x10", "--length", "16",
          says="4096-byte sectors: 0x10+16 would erase 0x000000-0x000fff"),
    usage("flash-erase-unaligned-to-end", "spi", "flash", "erase", "--offset", "0x1800",
          says="4096-byte sectors: --offset 0x1800"),
    usage("gpio-get-pin-out-of-range", "gpio", "get", "7", says="invalid pin '7'"),
    usage("gpio-set-bad-level", "gpio", "set", "1=maybe", says="invalid value in '1=maybe'"),
    usage("gpio-monitor-idle-nan", "gpio", "monitor", "--idle-timeout", "nan", "1",
          says="seconds nan out of range"),
    usage("uart-send-bad-baud", "uart", "send", "--baud", "12345", "x", says="invalid choice"),
    usage("uart-monitor-idle-negative", "uart", "monitor", "--idle-timeout", "-1",
          says="seconds -1 out of range"),
    usage("i3c-init-bcr-too-big", "i3c", "init", "--target", "static=0x50,bcr=0x1ff",
          says="bcr 0x1ff out of range (0-255)"),
    usage("i3c-init-reserved-dynamic", "i3c", "init", "--target", "0x50:0x7e",
          says="dynamic address 0x7e is not a valid dynamic address"),
    usage("i3c-init-static-not-dynamic", "i3c", "init", "--target", "static=0x3e",
          says="static address 0x3e cannot be a dynamic address"),
    usage("i3c-table-bad-drive", "i3c", "table", "--drive", "turbo", says="invalid choice 'turbo'"),
    usage("ccc-missing-address", "i3c", "ccc", "getpid", says="wrong arguments for getpid"),
    usage("ccc-unknown", "i3c", "ccc", "nosuch", says="unknown CCC 'nosuch'"),
    usage("ccc-setmwl-too-big", "i3c", "ccc", "setmwl", "0x08", "70000",
          says="value 70000 out of range (0-65535)"),
    usage("ccc-getstatus-def-byte-too-big", "i3c", "ccc", "getstatus", "0x08", "300",
          says="value 300 out of range (0-255)"),
    usage("ccc-setxtime-byte-too-big", "i3c", "ccc", "setxtime", "0x08", "300",
          says="value 300 out of range (0-255)"),
    usage("ccc-enec-events-too-big", "i3c", "ccc", "enec", "0x08", "0x1ff",
          says="events 0x1ff out of range (0-255)"),
    usage("ccc-setnewda-reserved", "i3c", "ccc", "setnewda", "0x08", "0x3e",
          says="new address 0x3e is not a valid dynamic address"),
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
    usage("target-spi-bad-cs", "target", "spi", "--cs", "4", says="chip select 4 out of range"),
    usage("target-i3c-pid-too-big", "target", "i3c", "--pid", "0x1000000000000",
          says="is not 48 bits"),
    usage("voltage-get-extra-word", "voltage", "get", "1800", says="unrecognized arguments"),
    usage("voltage-set-nothing", "voltage", "set", says="give either a voltage in mV or --external"),
    usage("voltage-set-i3c-persist", "voltage", "set", "--rail", "i3c", "--persist", "1200",
          says="cannot be persisted"),
    usage("udev-rules-extra-word", "udev-rules", "x", says="unrecognized arguments: x"),
    usage("completion-unknown-shell", "completion", "zsh", says="invalid choice: 'zsh'"),
])
def test_usage_error_is_one_line_exit_2_before_the_adapter_is_opened(cli, monkeypatch, argv, says):
    def must_not_open(*_args):
        raise AssertionError("the adapter was opened for a malformed command line")

    monkeypatch.setattr(cli_main, "open_device", must_not_open)
    cli.adapter.clear()
    result = cli(*argv)
    assert (result.rc, result.err.count("\n")) == (2, 1), result.err
    assert result.err.startswith("vantor") and says in result.err
    assert cli.adapter.requests == []


# -------------------------------------------------------------------- json
@pytest.mark.parametrize(
    "argv, check",
    [
        (["info"], lambda d: d["serial_number"] == "SIM0001" and d["bulk"] is True),
        (["i2c", "detect", "-y", "A"], lambda d: d["addresses"] == [0x50, 0x68]),
        (["i2c", "get", "-y", "A", "0x50", "0x00", "i", "2"], lambda d: d["values"] == [0x76, 0x61]),
        (["i2c", "dump", "-y", "-r", "0-3", "A", "0x50"], lambda d: d["data"] == list(b"vant")),
        (["i2c", "transfer", "-y", "A", "w1@0x50", "0", "r1"], lambda d: d[1]["data"] == [0x76]),
        (["spi", "flash", "id"], lambda d: d["size"] == 1 << 20 and d["jedec_id"] == "a74014"),
        (["spi", "transfer", "9f", "--length", "4"], lambda d: d["received"] == "ffa74014"),
        (["gpio", "get", "1"], lambda d: d == {"1": 0}),
        (["voltage", "get"], lambda d: d["io_mv"] == 3300),
        (["i3c", "table", "--init"], lambda d: [t["pid"] for t in d] == ["0123456789ab", "0123456789ac"]),
        (["i3c", "ccc", "--init", "getmrl", "0x08"], lambda d: d["result"] == [256, 4]),
        (["i3c", "ccc", "getpid", "--init", "0x08"], lambda d: d["result"] == "0123456789ab"),
    ],
    ids=["info", "detect", "get", "dump", "transfer", "flash-id", "spi-transfer", "gpio-get",
         "voltage", "i3c-table", "ccc", "ccc-init-after-name"],
)
def test_json_output_parses_back(cli, argv, check):
    result = cli(*argv, "--json")
    assert result.rc == 0, result.err
    assert check(json.loads(result.out))


def test_json_before_the_subcommand_means_the_same(cli):
    assert cli("--json", "voltage", "get").out == cli("voltage", "get", "--json").out


# -------------------------------------------------------------- SPI flash
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
    flash_cli, tmp_path, monkeypatch, request
):
    # Ctrl-C raises KeyboardInterrupt here even where the test runner was
    # started with SIGINT ignored.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    request.addfinalizer(lambda: signal.signal(signal.SIGINT, previous))
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
    flash_cli, tmp_path, monkeypatch, request
):
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    request.addfinalizer(lambda: signal.signal(signal.SIGINT, previous))
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
    erased = flash_cli("spi", "flash", "erase", "--offset", "0x1000", "--length", "4096", "--json")
    assert json.loads(erased.out) == {"offset": 0x1000, "length": 0x1000}
    memory = flash_cli.adapter.spi.memory(0)
    assert memory[0x0FFF] == 0 and memory[0x1000:0x2000] == b"\xff" * 0x1000 and memory[0x2000] == 0
    source = tmp_path / "x.bin"
    source.write_bytes(b"12")
    assert flash_cli("spi", "flash", "write", "--offset", str((1 << 17) - 1), str(source)).rc == 2


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


def test_i3c_init_takes_the_known_targets_from_a_profile(capsys):
    with sim.VirtualAdapter.from_profile("i3c-bus") as adapter:
        result = Cli(adapter, capsys)("i3c", "init", "--profile", "i3c-bus")
    # The target with a static address keeps it (SETDASA); the other joins by ENTDAA.
    assert result.out.splitlines() == [
        "DA    SA    PID             BCR   DCR   MWL   MRL   IBI  CONF",
        "0x30  0x30  04a012345601  0x06  0xc5  256   256   0    0x00",
        "0x08  --    04a012345602  0x07  0x00  256   256   4    0x00",
    ]


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
    assert message in capsys.readouterr().err


def test_udev_rules_cover_every_supported_adapter(capsys):
    assert cli_main.main(["udev-rules"]) == 0
    rules = [line for line in capsys.readouterr().out.splitlines() if 'TAG+="uaccess"' in line]
    for vendor, product, _model, _size in pyvantorsdk.SUPPORTED_DEVICES:
        for subsystem, attr in (("hidraw", "ATTRS"), ("usb", "ATTR")):
            ids = f'{attr}{{idVendor}}=="{vendor:04x}", {attr}{{idProduct}}=="{product:04x}"'
            assert any(line.startswith(f'SUBSYSTEM=="{subsystem}"') and ids in line for line in rules)


@pytest.mark.skipif(shutil.which("bash") is None, reason="needs bash")
def test_bash_completion_completes_subcommands(capsys):
    assert cli_main.main(["completion", "bash"]) == 0
    script = capsys.readouterr().out
    probe = script + '\nCOMP_WORDS=(vantor --sim i2c d); COMP_CWORD=3; _vantor; echo "${COMPREPLY[@]}"\n'
    done = subprocess.run(["bash", "-c", probe], capture_output=True, text=True, timeout=10)
    assert done.stdout.split() == ["detect", "dump"]


def test_help_lists_every_subcommand_with_examples(capsys):
    assert cli_main.main(["--help"]) == 0
    text = capsys.readouterr().out
    for command in cli_main.TOP_LEVEL_COMMANDS:
        assert f"    {command} " in text
    parser = cli_main.build_parser()
    for path, _words in subcommand_tree(parser):
        if not path:
            continue
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
        (["getstatus", "0x08"], "i3c_ccc_getstatus", [0x08]),
        (["entas2"], "i3c_ccc_entas2_broadcast", []),
        (["setxtime", "0x08", "0xdf", "0102"], "i3c_ccc_setxtime_direct", [0x08, 0xDF, b"\x01\x02"]),
        (["rstact", "0x08", "reset-whole-target", "read"], "i3c_ccc_rstact_direct",
         [0x08, I3cTargetResetDefByte.RESET_WHOLE_TARGET, I3cTransferDirection.READ]),
    ],
    ids=["broadcast-by-arity", "direct-with-address", "direct-optional-left-out",
         "broadcast-optional-left-out", "broadcast-forced", "two-addresses", "address-list",
         "direct-only", "no-arguments", "hex-argument", "names-and-direction"],
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


def test_declining_the_confirmation_sends_nothing(cli, monkeypatch):
    monkeypatch.setattr("sys.stdin", io.StringIO("n\n"))
    cli.adapter.clear()
    result = cli("i2c", "detect", "A")
    assert result.rc == 1
    assert "Continue? [Y/n]" in result.err and "aborting on user request" in result.err
    assert cli.adapter.requests == []


@dataclass
class Found:
    path: str
    serial_number: str
    product_name: str = "Teranox"


def test_several_adapters_are_listed_for_a_choice(monkeypatch, capsys):
    monkeypatch.setattr(pyvantorsdk, "find_adapters",
                        lambda include_virtual=True: [Found("/dev/hidraw1", "A1"), Found("/dev/hidraw2", "B2")])
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
