# SPDX-License-Identifier: MIT
"""Notifications reach the callback on a delivery thread of the facade, fed
from a bounded queue: the reader thread never waits for Python, so a busy
interpreter or a slow callback cannot hold up responses, and no notification
is lost without being counted and logged."""

from __future__ import annotations

import logging
import struct
import threading
import time

import pytest

from helpers import NOTIF_CODES, Collector, uart_rx
from pyvantorsdk import DeviceFacade, errors, sim

UART = NOTIF_CODES["uart"]
QUEUE_CAPACITY = 65536


def uart_fields(i: int) -> bytes:
    return struct.pack("<HI", 4, i)


def numbers(items) -> list:
    return [struct.unpack("<I", item.data)[0] for item in items]


class Blocking(Collector):
    """A callback that holds up delivery in its first call until released."""

    def __init__(self) -> None:
        super().__init__()
        self.entered = threading.Event()
        self.release = threading.Event()

    def __call__(self, item: object) -> None:
        if not self.entered.is_set():
            self.entered.set()
            assert self.release.wait(30)
        super().__call__(item)


def busy_until(condition, deadline_s: float = 30.0) -> None:
    """Pure-Python work in chunks of about 5 ms (holding the interpreter lock
    as long as the interpreter lets it) until `condition()` holds."""
    end = time.monotonic() + deadline_s
    while not condition() and time.monotonic() < end:
        chunk_end = time.perf_counter() + 0.005
        while time.perf_counter() < chunk_end:
            sum(range(100))


class TestIndependence:
    def test_burst_while_the_main_thread_is_busy(self, adapter, dev, events):
        # The host's queue is under test: the adapter's own bound (64 reports)
        # is lifted so that a descheduled reader cannot lose any.
        adapter.faults.limit_input_queue(None)
        count = 20000

        def inject():
            for i in range(count):
                adapter.notify(UART, uart_fields(i))

        injector = threading.Thread(target=inject)
        injector.start()
        busy_until(lambda: len(events.items) >= count)
        injector.join()
        assert events.wait_for(count, timeout=10)
        assert numbers(events.items) == list(range(count))
        assert dev.dropped_notifications == 0

    def test_overflow_is_counted_and_logged(self, adapter, dev, caplog):
        adapter.faults.limit_input_queue(None)  # only the host's queue may drop
        callback = Blocking()
        dev.on_notification(callback)
        adapter.notify(UART, uart_fields(0))
        assert callback.entered.wait(5)  # it holds exactly that one
        extra = 3
        with caplog.at_level(logging.ERROR, logger="pyvantorsdk.backend"):
            for i in range(1, QUEUE_CAPACITY + extra + 1):
                adapter.notify(UART, uart_fields(i))
            # Answered while the callback blocks: the reader never waits for
            # Python, and has queued (or dropped) every notification by now.
            dev.get_usb_config()
            assert dev.dropped_notifications == extra
            callback.release.set()
            assert callback.wait_for(QUEUE_CAPACITY + 1, timeout=30)
        # The oldest were kept, in order.
        assert numbers(callback.items) == list(range(QUEUE_CAPACITY + 1))
        messages = [r.getMessage() for r in caplog.records if r.name == "pyvantorsdk.backend"]
        assert len(messages) == 1 and f"{extra} notifications dropped" in messages[0]

    def test_disconnect_delivers_what_arrived_before(self, adapter, dev):
        seen = Collector()
        dev.on_notification(lambda item: (time.sleep(0.001), seen(item)))
        for i in range(50):
            adapter.notify(UART, uart_fields(i))
        dev.get_usb_config()
        dev.disconnect()
        assert numbers(seen.items) == list(range(50))
        # Reconnecting starts delivery again.
        assert dev.connect(adapter.path)
        adapter.send(uart_rx(b"again"))
        assert seen.wait_for(51)

    def test_raising_callbacks_do_not_stop_delivery(self, adapter, dev, caplog):
        seen = Collector()

        def callback(item):
            seen(item)
            if numbers([item])[0] % 2:
                raise ValueError(f"odd {numbers([item])[0]}")

        dev.on_notification(callback)
        with caplog.at_level(logging.ERROR, logger="pyvantorsdk.backend"):
            # The last one (even) is delivered after the error before it was
            # logged.
            for i in range(11):
                adapter.notify(UART, uart_fields(i))
            assert seen.wait_for(11)
        assert numbers(seen.items) == list(range(11))
        logged = [r.exc_info[1] for r in caplog.records if r.name == "pyvantorsdk.backend"]
        assert [str(e) for e in logged] == [f"odd {i}" for i in range(1, 10, 2)]


# What a blocking method does when a callback calls it on its own facade:
# (call, check of the outcome).
def refused_request(dev):
    with pytest.raises(errors.ProtocolError) as info:
        dev.i2c_read(0, 0x50, b"", 1, False)
    return info.value.operation == "i2c_read"


IN_CALLBACK = [
    ("command-raises", refused_request),
    ("connect-reports-state", lambda dev: dev.connect("sim:elsewhere") is True),
    ("disconnect-does-nothing", lambda dev: dev.disconnect() is None),
    ("bulk-capabilities-last-result", lambda dev: dev.get_bulk_capabilities()[1] is True),
]


@pytest.mark.parametrize("check", [c for _, c in IN_CALLBACK], ids=[n for n, _ in IN_CALLBACK])
def test_blocking_calls_in_a_callback_are_refused(adapter, dev, check):
    dev.get_bulk_capabilities()
    adapter.clear()
    outcome = Collector()
    dev.on_notification(lambda item: outcome(check(dev)))
    adapter.send(uart_rx(b"x"))
    assert outcome.wait_for(1)
    assert outcome.items == [True]
    assert adapter.requests == []  # nothing reached the adapter
    assert dev.get_usb_config() == (0, 0, 0)  # still connected


def test_callbacks_of_other_facades_may_block(adapter, dev):
    with DeviceFacade() as other, sim.VirtualAdapter(serial="OTHER") as second:
        assert other.connect(second.path)
        seen = Collector()
        dev.on_notification(lambda item: seen(other.get_usb_config()))
        adapter.send(uart_rx(b"x"))
        assert seen.wait_for(1)
        assert seen.items == [(0, 0, 0)]


def test_callback_replacing_itself_during_disconnect(adapter, dev):
    # The callback installs its successor while disconnect waits for the
    # delivery thread to finish the queue.
    second = Collector()
    first_calls = Collector()

    def first(item):
        first_calls(item)
        # Go on once disconnect has closed the connection and is about to
        # wait for this thread.
        deadline = time.monotonic() + 10
        while "disconnected" not in repr(dev) and time.monotonic() < deadline:
            time.sleep(0.001)
        dev.on_notification(second)

    dev.on_notification(first)
    for i in range(20):
        adapter.notify(UART, uart_fields(i))
    dev.get_usb_config()
    assert first_calls.wait_for(1)
    dev.disconnect()
    assert len(first_calls.items) == 1
    assert numbers(first_calls.items + second.items) == list(range(20))
