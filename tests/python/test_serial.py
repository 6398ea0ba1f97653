# SPDX-License-Identifier: MIT
"""The pyserial-style UART port: settings, reads with timeouts, buffering of
a burst of received bytes, and opening by vantor:// URL (also from miniterm,
with nothing imported first)."""

from __future__ import annotations

import importlib
import importlib.util
import os
import pty
import select
import subprocess
import sys
import threading
import time

import pytest
import serial

from helpers import Collector, run_readme_example, uart_rx
from pyvantorsdk import GpioPinNumber, GpioTriggerType, UartBaudRate
from pyvantorsdk.serialport import HANDLER_PACKAGE, Serial


@pytest.fixture
def port(adapter, dev):
    with Serial(device=dev, baudrate=115200, timeout=2) as p:
        yield p


# (settings, the adapter's UART state: baud rate index, handshake, parity,
# data size, stop bits; None: refused, as the adapter has no equivalent)
SETTINGS = {
    "115200_8N1": (dict(baudrate=115200), (10, 0, 0, 1, 0)),
    "9600_7E2_rtscts": (dict(baudrate=9600, bytesize=7, parity="E", stopbits=2, rtscts=True),
                        (4, 1, 1, 0, 1)),
    "600_odd": (dict(baudrate=600, parity="O"), (0, 0, 2, 1, 0)),
    "baudrate_not_in_table": (dict(baudrate=9601), None),
    "bytesize_5": (dict(bytesize=5), None),
    "mark_parity": (dict(parity="M"), None),
    "one_and_a_half_stop_bits": (dict(stopbits=1.5), None),
    "xonxoff": (dict(xonxoff=True), None),
    "dsrdtr": (dict(dsrdtr=True), None),
}


@pytest.mark.parametrize("settings, expected", list(SETTINGS.values()), ids=list(SETTINGS))
def test_settings_reach_the_adapter_or_are_refused(adapter, dev, settings, expected):
    if expected is None:
        with pytest.raises(ValueError, match="adapter"):
            Serial(device=dev, **settings)
        assert not adapter.uart.state.initialized
        return
    with Serial(device=dev, **settings):
        s = adapter.uart.state
        assert (s.baud_rate, s.hardware_handshake, s.parity, s.data_size, s.stop_bit) == expected


def test_settings_reads_writes_and_forward_on_an_open_port(adapter, dev):
    forwarded = []
    with Serial(device=dev, baudrate=115200, timeout=2, forward=forwarded.append) as port:
        for timeout in (0, 0.05):  # nothing there: 0 returns at once, else at the timeout
            port.timeout = timeout
            assert port.read(4) == b""
        assert adapter.uart.inject(b"abcdef")  # one notification
        port.timeout = 2
        assert port.read(2) == b"ab"  # waits for it
        assert port.in_waiting == 4
        port.timeout = 0.05
        assert port.read(3) == b"cde"
        assert port.read(10) == b"f"  # the timeout ends the wait for more
        assert adapter.uart.inject(b"gh")
        port.timeout = 2
        assert port.read(1) == b"g"
        port.reset_input_buffer()
        assert port.in_waiting == 0
        assert port.write(b"hello " * 300) == 1800  # more than one request
        assert adapter.uart.sent == b"hello " * 300
        # Other notifications go to forward, in order with the received bytes.
        dev.gpio_configure_pin(GpioPinNumber.PIN_1, 0)
        dev.gpio_configure_interrupt(GpioPinNumber.PIN_1, GpioTriggerType.RISING_EDGE)
        adapter.gpio.drive_input(GpioPinNumber.PIN_1, 1)
        assert adapter.uart.inject(b"x")
        assert port.read(1) == b"x"
        assert [type(n).__name__ for n in forwarded] == ["GpioInterruptNotification"]
        port.baudrate = 57600
        assert adapter.uart.state.baud_rate == int(UartBaudRate.BAUD_57600.value)
        with pytest.raises(ValueError):
            port.baudrate = 12345


def test_burst_of_uart_events_loses_nothing(adapter, dev, port):
    # The burst outruns the host, so the adapter's USB queue must hold it all;
    # what is tested is that every notification ends up in the port's buffer.
    adapter.faults.limit_input_queue(None)
    chunks = [bytes([i % 251]) * (1 + i % 37) for i in range(400)]
    expected = b"".join(chunks)
    received = bytearray()

    def reader():
        while len(received) < len(expected):
            data = port.read(min(100, len(expected) - len(received)))
            if not data:
                return
            received.extend(data)

    thread = threading.Thread(target=reader)
    thread.start()
    for chunk in chunks[:200]:  # while the port reads
        assert adapter.uart.inject(chunk)
    thread.join(timeout=30)  # the reader stops at its 2 s timeout or when done
    for chunk in chunks[200:]:  # while nobody reads
        assert adapter.uart.inject(chunk)
    received.extend(port.read(len(expected) - len(received)))
    assert bytes(received) == expected
    assert adapter.dropped_reports == 0 and dev.dropped_notifications == 0


def test_unread_bytes_over_the_buffer_size_are_dropped_and_counted(adapter, port):
    assert port.dropped_bytes == 0
    port.set_buffer_size(rx_size=4)
    assert adapter.uart.inject(b"abcdef")  # one notification: the last two do not fit
    assert port.read(4) == b"abcd"
    assert port.dropped_bytes == 2
    assert adapter.uart.inject(b"gh")  # room again once read
    assert port.read(2) == b"gh"
    with pytest.raises(ValueError, match="rx_size"):
        port.set_buffer_size(rx_size=0)


@pytest.mark.parametrize("replaced_while_open", [False, True],
                         ids=["puts_back_the_one_it_replaced", "keeps_one_set_while_open"])
def test_closing_leaves_the_facade_a_notification_callback(adapter, dev, events,
                                                            replaced_while_open):
    later = Collector()
    with Serial(device=dev, baudrate=115200):
        if replaced_while_open:
            dev.on_notification(later)
    adapter.send(uart_rx(b"after"))
    assert (later if replaced_while_open else events).wait_for(1)


def test_write_timeout_ends_a_write_between_requests(adapter, port):
    port.write_timeout = 0  # non-blocking: what one request carries
    assert port.write(b"x" * 1500) == 1024
    assert adapter.uart.sent == b"x" * 1024
    adapter.uart.clear_sent()
    port.write_timeout = 0.05
    adapter.faults.set_response_delay(200)  # the first request outlasts the timeout
    with pytest.raises(serial.SerialTimeoutException, match="1024 of 1500"):
        port.write(b"y" * 1500)
    assert adapter.uart.sent == b"y" * 1024


def test_cancel_read_ends_a_waiting_or_the_next_read(port):
    port.timeout = None  # no limit: only the cancel ends these reads
    results = []
    for cancel_first in (True, False):
        thread = threading.Thread(target=lambda: results.append(port.read(1)))
        if cancel_first:
            port.cancel_read()
        thread.start()
        if not cancel_first:
            port.cancel_read()  # while the read waits, or just before it
        thread.join(timeout=10)
        if thread.is_alive():
            port.cancel_read()
            thread.join()
            pytest.fail(f"read not cancelled (cancel first: {cancel_first})")
    assert results == [b"", b""]


# ------------------------------------------------------------- URLs, miniterm
# (loopback option, whether the virtual adapter's TX is wired to its RX)
LOOPBACK = {"1": True, "TRUE": True, "yes": True, "On": True,
            "0": False, "False": False, "no": False, "off": False}


@pytest.mark.parametrize("value, wired", list(LOOPBACK.items()), ids=list(LOOPBACK))
def test_url_loopback_spellings(value, wired):
    with serial.serial_for_url(f"vantor://sim?loopback={value}") as p:
        assert p._adapter.uart.loopback is wired


def test_bad_urls():
    # An unknown option, loopback on a real adapter, a path, no such adapter.
    for url in ("vantor://sim?speed=9", "vantor://SN1?loopback=1", "vantor://sim/x",
                "vantor://NO-SUCH-SERIAL", "vantor://sim?loopback=2", "vantor://sim?loopback="):
        with pytest.raises(serial.SerialException):
            serial.serial_for_url(url)


def test_vantor_urls_open_without_the_handler_in_the_serial_package():
    # labgrid's pyserial fork may provide `serial` without the handler file
    # the wheel installs there; the package's own handler still opens URLs.
    assert HANDLER_PACKAGE in serial.protocol_handler_packages
    module = importlib.import_module(f"{HANDLER_PACKAGE}.protocol_vantor")
    assert module.serial_class_for_url("vantor://sim") == ("vantor://sim", Serial)


# Only where the wheel put the handler into the installed `serial` package
# (not from a source tree beside a `serial` installed on its own).
@pytest.mark.skipif(importlib.util.find_spec("serial.urlhandler.protocol_vantor") is None,
                    reason="the vantor:// handler is not installed in the serial package")
def test_miniterm_talks_to_the_virtual_adapter(tmp_path):
    # miniterm reads keys from a terminal: run it on a pseudo-terminal, type,
    # and wait for the loopback echo (miniterm itself does not echo).
    controller, terminal = pty.openpty()
    # `-m` puts the working directory first on the path: run outside the tree.
    process = subprocess.Popen(
        [sys.executable, "-m", "serial.tools.miniterm", "vantor://sim?loopback=1", "115200"],
        stdin=terminal, stdout=terminal, stderr=terminal, close_fds=True, cwd=tmp_path)
    os.close(terminal)

    def wait_for(expected, timeout=20.0):
        seen = b""
        deadline = time.monotonic() + timeout
        while expected not in seen:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([controller], [], [], remaining)[0]:
                return False
            try:
                seen += os.read(controller, 1024)
            except OSError:
                return False
        return True

    try:
        assert wait_for(b"Quit: Ctrl+]")
        os.write(controller, b"marco")
        assert wait_for(b"marco")
        os.write(controller, b"\x1d")  # Ctrl+]
        assert process.wait(timeout=10) == 0
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        os.close(controller)


def test_readme_example():
    run_readme_example("### pyserial and miniterm")
