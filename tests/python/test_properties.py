# SPDX-License-Identifier: MIT
"""Property: whatever the adapter sends, every facade call returns a
well-formed result or raises a VantorError within its timeouts, every
notification the callback receives can be read, and the connection serves
the next plain request afterwards. A scripted handler answers with random
messages (matching, with another code or id, raw bytes), bulk reads get
random bulk IN data, and random reports and notifications arrive first.
Derandomized: a run is the same every time.
"""

from __future__ import annotations

import struct
import threading
from dataclasses import dataclass
from typing import Any, Callable, Iterator, List, Optional, Tuple

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from helpers import NOTIF_CODES, command_of, uart_rx
from pyvantorsdk import (
    DeviceFacade,
    DeviceInfo,
    GpioPinNumber,
    I2cBus,
    I2cScanResult,
    Notification,
    errors,
    sim,
)

TIMEOUT_MS = 100
# A call that has not returned after this long hangs: the longest legitimate
# call is a bulk read whose data phase times out (2 s) and drains (250 ms).
HANG_S = 10.0
BULK_LENGTH = 64
EXAMPLES = 25


def is_bytes(limit: Optional[int] = None) -> Callable[[object], bool]:
    return lambda r: isinstance(r, bytes) and (limit is None or len(r) <= limit)


def is_u16(r: object) -> bool:
    return isinstance(r, int) and 0 <= r <= 0xFFFF


INFO_FIELDS = ("manufacturer", "product_name", "serial_number", "hw_version", "fw_version")
# name: (the call, what a well-formed result is). One call per kind of
# result: the calls that return only a status all decode it alike, so
# i2c_write stands for them and i2c_write_bulk for the bulk writes.
PROBES = {
    "get_usb_config": (lambda d: d.get_usb_config(), lambda r: isinstance(r, tuple) and len(r) == 3
                       and all(isinstance(v, int) and 0 <= v <= 0xFFFFFFFF for v in r)),
    "get_device_info": (lambda d: d.get_device_info(), lambda r: isinstance(r, DeviceInfo)
                        and all(isinstance(getattr(r, f), str) for f in INFO_FIELDS)),
    "i2c_get_bus_voltage": (lambda d: d.i2c_get_bus_voltage(), is_u16),
    "gpio_digital_read": (lambda d: d.gpio_digital_read(GpioPinNumber.PIN_1), is_u16),
    "i2c_read": (lambda d: d.i2c_read(I2cBus.A, 0x50, b"\x00", 16, False), is_bytes(16)),
    "i2c_write": (lambda d: d.i2c_write(I2cBus.A, 0x50, b"\x00", b"data", False),
                  lambda r: r is None),
    "i2c_scan_bus": (lambda d: d.i2c_scan_bus(I2cBus.A, True), lambda r: isinstance(r, I2cScanResult)
                     and all(isinstance(a, int) for a in [*r.addresses_7bit, *r.addresses_10bit])),
    "i2c_read_bulk": (lambda d: d.i2c_read_bulk(I2cBus.A, 0x50, b"\x00", BULK_LENGTH, False),
                      is_bytes(BULK_LENGTH)),
    "i2c_write_bulk": (lambda d: d.i2c_write_bulk(I2cBus.B, 0x68, b"", bytes(100), False),
                       lambda r: r is None),
    # The received bytes are as many as the answer announces and carries.
    "spi_transfer": (lambda d: d.spi_transfer(b"\x9f", 4), is_bytes()),
    "spi_read_bulk": (lambda d: d.spi_read_bulk(b"\x03\x00\x00\x00", BULK_LENGTH),
                      is_bytes(BULK_LENGTH)),
    "spi_transfer_bulk": (lambda d: d.spi_transfer_bulk(b"\x9f", BULK_LENGTH), is_bytes(BULK_LENGTH)),
}


# ---------------------------------------------------------------- strategies

u16 = st.integers(0, 0xFFFF)
# Statuses: success most often, the adapter's own ranges, anything.
statuses = st.one_of(st.just(0), st.just(0), st.integers(0x0100, 0x06FF), u16)
# Up to two segments on the 64-byte model: random bytes, or a small count
# where the transfer answers keep theirs (offset 6 or 7 of the message).
payloads = st.one_of(
    st.binary(max_size=90),
    st.tuples(st.binary(max_size=1), st.integers(0, BULK_LENGTH + 4), st.binary(max_size=88))
    .map(lambda t: t[0] + struct.pack("<H", t[1]) + t[2]),
)


@st.composite
def messages(draw: Any) -> Callable[[bytes], bytes]:
    """One message of an answer, as a function of the request it answers."""
    kind = draw(st.sampled_from(["match", "match", "match", "other-code", "other-id", "raw"]))
    status = draw(statuses)
    payload = draw(payloads)
    if kind == "match":
        return lambda req: req[:4] + struct.pack("<H", status) + payload
    if kind == "other-code":
        code = draw(u16)
        return lambda req: req[:2] + struct.pack("<HH", code, status) + payload
    if kind == "other-id":
        tid = draw(u16)
        return lambda req: struct.pack("<H", tid) + req[2:4] + struct.pack("<H", status) + payload
    raw = draw(st.binary(max_size=12))
    return lambda req: raw


@dataclass
class Scenario:
    answers: List[List[Callable[[bytes], bytes]]]  # per request, in order
    bulk_data: List[bytes]                         # per request, sent before the answer
    reports: List[bytes]                           # raw input reports, before the call
    notifications: List[Tuple[int, bytes, int]]    # code, fields, header word


def scenarios(report_size: int) -> Any:
    notification_codes = st.one_of(st.sampled_from(sorted(NOTIF_CODES.values())), u16)
    return st.builds(
        Scenario,
        answers=st.lists(st.lists(messages(), max_size=3), min_size=5, max_size=5),
        bulk_data=st.lists(st.binary(min_size=BULK_LENGTH, max_size=BULK_LENGTH + 16),
                           min_size=5, max_size=5),
        reports=st.lists(st.binary(max_size=report_size), max_size=6),
        notifications=st.lists(st.tuples(notification_codes, st.binary(max_size=40), u16),
                               max_size=6),
    )


class Bench:
    """The adapter and facade every example of a module run uses."""

    def __init__(self) -> None:
        self.adapter = sim.VirtualAdapter(serial="PROPERTIES")
        self.adapter.set_recording(False)
        self.dev = DeviceFacade(timeout_ms=TIMEOUT_MS)
        assert self.dev.connect(self.adapter.path)
        # The bulk capabilities are queried once per connection: let the
        # firmware answer that, so that the bulk calls reach the wire.
        assert self.dev.get_bulk_capabilities()[1]
        self.unreadable: List[str] = []
        self.sentinels = 0
        self.last_sentinel = b""
        self.cond = threading.Condition()
        self.dev.on_notification(self.on_notification)

    def on_notification(self, item: object) -> None:
        try:
            assert isinstance(item, Notification), type(item)
            repr(item)
            for name in dir(item):
                if not name.startswith("_"):
                    getattr(item, name)
        except Exception as error:  # reported by the test, not lost in the reader
            self.unreadable.append(f"{type(item).__name__}: {error!r}")
        data = getattr(item, "data", b"")
        if isinstance(data, bytes) and data.startswith(b"sentinel-"):
            with self.cond:
                self.last_sentinel = data
                self.cond.notify_all()

    def play(self, scenario: Scenario) -> None:
        """Installs a handler that answers request i with scenario.answers[i]."""
        count = [0]

        def handler(request: bytes) -> List[bytes]:
            i = count[0] % len(scenario.answers)
            count[0] += 1
            if command_of(request) in (0x0908, 0x0D05, 0x0D08):
                self.adapter.send_bulk(scenario.bulk_data[i])
            return [make(request) for make in scenario.answers[i]]

        self.adapter.set_handler(handler)
        for report in scenario.reports:
            self.adapter.send_report(report)
        for code, fields, header_word in scenario.notifications:
            self.adapter.notify(code, fields, header_word)

    def settle(self) -> None:
        """Back to the firmware, once the reader has handled all that was
        sent: a sentinel notification is one whole segment, read after it."""
        self.adapter.set_handler(None)
        self.sentinels += 1
        marker = b"sentinel-%d" % self.sentinels
        self.adapter.send(uart_rx(marker))
        with self.cond:
            assert self.cond.wait_for(lambda: self.last_sentinel == marker, 5.0), \
                "the sentinel notification never arrived"

    def connection_works(self) -> bool:
        """A plain request is answered; a timeout (a loaded machine) is tried
        again, a broken connection fails every attempt."""
        for _ in range(5):
            try:
                return self.dev.get_usb_config() == (0, 0, 0)
            except errors.VantorTimeoutError:
                continue
        return False


@pytest.fixture(scope="module")
def bench() -> Iterator[Bench]:
    b = Bench()
    yield b
    b.dev.disconnect()
    b.adapter.close()


def call_within_bound(fn: Callable[[], object]) -> Tuple[bool, object]:
    """Runs ``fn`` on a thread of its own; returns (finished, outcome), the
    outcome being the result or the exception raised."""
    outcome: List[object] = []

    def run() -> None:
        try:
            outcome.append(fn())
        except BaseException as error:  # judged by the test
            outcome.append(error)

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    thread.join(HANG_S)
    return not thread.is_alive(), outcome[0] if outcome else None


@pytest.mark.parametrize("name", PROBES)
def test_any_answer_gives_a_result_or_a_vantor_error(bench: Bench, name: str) -> None:
    call, well_formed = PROBES[name]

    @settings(max_examples=EXAMPLES, deadline=None, derandomize=True, database=None,
              suppress_health_check=[HealthCheck.too_slow])
    @given(scenario=scenarios(bench.adapter.report_size))
    def check(scenario: Scenario) -> None:
        bench.play(scenario)
        try:
            finished, outcome = call_within_bound(lambda: call(bench.dev))
            assert finished, f"{name} did not return within {HANG_S} s"
            if isinstance(outcome, BaseException):
                assert isinstance(outcome, errors.VantorError), repr(outcome)
                assert outcome.operation == name
            else:
                assert well_formed(outcome), repr(outcome)
        finally:
            bench.settle()
        assert bench.unreadable == []
        assert bench.connection_works()

    check()
