# SPDX-License-Identifier: MIT
"""The timeline plot of a capture: lanes, bars and the marks on what did not
succeed, and the command's message without matplotlib."""

from __future__ import annotations

import re
import sys

import pytest

from pyvantorsdk import trace
from pyvantorsdk.cli.main import main
from pyvantorsdk.trace import plot

pytest.importorskip("matplotlib")

START = 1_700_000_000.0


def record(at_ms, kind, family, command, status=None, latency_us=None):
    return trace.Record(
        time=START + at_ms / 1000, kind=kind, adapter="1.2", family=family, command=command,
        code=0, transaction_id=0, arguments={}, results={}, status=status,
        status_code=None if status is None else (0 if status == "SUCCESS" else 0x203),
        latency=None if latency_us is None else latency_us / 1e6, bulk_out=b"", bulk_in=b"",
        problem="",
    )


RECORDS = [
    record(0.0, "transaction", "i2c", "CMD_I2C_CONTROLLER_WRITE", "SUCCESS", 230),
    record(1.0, "transaction", "i2c", "CMD_I2C_CONTROLLER_READ", "FW_I2C_NACK_ADDRESS", 180),
    record(2.0, "unanswered", "spi", "CMD_SPI_CONTROLLER_TRANSFER"),
    record(2.5, "notification", "gpio", "NOTIF_GPIO"),
    record(3.0, "malformed", "", ""),
    record(4.0, "transaction", "spi", "CMD_SPI_CONTROLLER_TRANSFER", "SUCCESS", 400),
]


def test_svg_names_the_lanes_and_marks_what_did_not_succeed(tmp_path):
    out = tmp_path / "timeline.svg"
    plot.plot_timeline(reversed(RECORDS), out, title="t.pcapng")  # sorted by time
    svg = out.read_text(encoding="utf-8")
    for lane in (">I2C<", ">SPI<", ">other<", ">notifications<"):
        assert lane in svg
    # Numbered in time order; every record that did not succeed has its id.
    for element in ('id="failed-2-CMD_I2C_CONTROLLER_READ-FW_I2C_NACK_ADDRESS"',
                    'id="failed-3-CMD_SPI_CONTROLLER_TRANSFER-unanswered"',
                    'id="failed-5-unknown-malformed"'):
        assert element in svg
    assert svg.count('id="failed-') == 3
    assert "CMD_I2C_CONTROLLER_READ: FW_I2C_NACK_ADDRESS" in svg
    assert "3 transactions, 1 failed, 2 unanswered or malformed" in svg
    # The same records give the same file, byte for byte.
    again = tmp_path / "again.svg"
    plot.plot_timeline(RECORDS, again, title="t.pcapng")
    assert again.read_bytes() == out.read_bytes()


@pytest.mark.parametrize(
    "records, name, message",
    [
        (RECORDS, "timeline.pdf", "written as .svg or .png"),
        ([], "timeline.svg", "no traffic to plot"),
    ],
    ids=["unknown-ending", "no-records"],
)
def test_refused_before_drawing(tmp_path, records, name, message):
    with pytest.raises(ValueError, match=message):
        plot.plot_timeline(records, tmp_path / name)
    assert not (tmp_path / name).exists()


def test_cli_marks_the_failed_read_of_a_capture(tmp_path, capsys):
    capture, out = tmp_path / "t.pcapng", tmp_path / "timeline.svg"
    # Nobody answers at 0x33: the read fails with a NACK.
    assert main(["--sim", "--trace", str(capture), "i2c", "get", "-y", "A", "0x33", "0x00"]) == 1
    assert main(["trace", "plot", str(capture), "-o", str(out)]) == 0
    svg = out.read_text(encoding="utf-8")
    assert ">I2C<" in svg and ">notifications<" in svg
    assert re.findall(r'id="(failed-[^"]*)"', svg) == [
        f"failed-{len(list(trace.read(capture)))}-CMD_I2C_CONTROLLER_READ-FW_I2C_NACK_ADDRESS"
    ]


def test_cli_without_matplotlib_names_the_extra(tmp_path, capsys, monkeypatch):
    capture = tmp_path / "t.pcapng"
    assert main(["--sim", "--trace", str(capture), "i2c", "get", "-y", "A", "0x50", "0x00"]) == 0
    capsys.readouterr()
    monkeypatch.setitem(sys.modules, "matplotlib", None)  # import fails
    assert main(["trace", "plot", str(capture)]) == 2
    assert capsys.readouterr().err == (
        "vantor trace plot: plotting needs matplotlib, which is not installed: "
        "pip install pyvantorsdk[plot]\n"
    )
    assert not capture.with_suffix(".svg").exists()
