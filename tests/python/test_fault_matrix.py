# SPDX-License-Identifier: MIT
"""The fault matrix: every fault the virtual adapter can inject, against one
call of every command family, with the outcome each must produce and a check
that the connection serves the next call afterwards.

A row is one (family, fault) pair, named "family-fault". USB-side faults
(unplugging, failing writes and reads, late answers, bulk IN faults) run
against the adapter's firmware; message faults (duplicate, wrong command
code, short answer) against a scripted handler that answers like the
firmware. Where a timeout is the expected outcome the facade waits 200 ms.

Run this file as a script to print the matrix as the Markdown table of the
fault matrix in docs/testing.md.
"""

from __future__ import annotations

import struct
import threading
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Optional, Type

import pytest

from helpers import (
    I3C_RATES,
    UART_8N1,
    Collector,
    command_of,
    i3c_entry,
    response,
    uart_rx,
    wait_until,
)
from pyvantorsdk import (
    BatchState,
    DeviceFacade,
    GpioFunctionality,
    GpioPinNumber,
    I2cBus,
    I2cPullUp,
    I2cTargetAddressMode,
    I2cTargetMemoryLayout,
    I2cTargetModel,
    I3cTargetMemoryLayout,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
    StatusCode,
    UartRxNotification,
    errors,
    sim,
)

TIMEOUT_MS = 200
# A late answer arrives this long after the caller gave up.
LATE_MS = TIMEOUT_MS + 150
# The transport takes a write that fails after 900 ms for a dead handle.
SLOW_FAILURE_MS = 950

EEPROM = bytes(range(256))
FLASH = bytes((7 * i + 3) & 0xFF for i in range(4096))
GPIO_PIN = GpioPinNumber.PIN_3
# Two I3C targets, brought up by ENTDAA at the addresses the list asks for.
I3C_ADDRESS = {0x0A0000000001: 0x30, 0x0B0000000002: 0x31}
PIDS = list(I3C_ADDRESS)
I3C_LIST = [i3c_entry(pid, dynamic=address) for pid, address in I3C_ADDRESS.items()]
I3C_MEMORY = bytes((5 * i + 1) & 0xFF for i in range(1024))
# The adapter's own target memories: I3C (1024 bytes), I2C (256 bytes).
I3C_TARGET_MEMORY = bytes((11 * i + 5) & 0xFF for i in range(1024))
I2C_TARGET_MEMORY = bytes((3 * i + 9) & 0xFF for i in range(256))


def written(i: int) -> bytes:
    """What write call i writes: each call its own bytes, so data taken
    from another call shows."""
    return f"written{i}".encode()


# ------------------------------------------------------------------ outcomes

@dataclass(frozen=True)
class Raises:
    error: Type[errors.VantorError]
    status: StatusCode

    def __str__(self) -> str:
        name = self.error.__name__.replace("Vantor", "").replace("Error", "")
        return f"{name} 0x{self.status.value:04X}"


@dataclass(frozen=True)
class Returns:
    """The call returns; ``part`` names what it returns when that is not the
    whole result."""

    part: str = "result"

    def __str__(self) -> str:
        return self.part


TIMEOUT = Raises(errors.VantorTimeoutError, StatusCode.SDK_ERROR_TIMEOUT)
DISCONNECT = Raises(errors.DisconnectError, StatusCode.SDK_ERROR_DISCONNECT)
UNEXPECTED = Raises(errors.ProtocolError, StatusCode.SDK_ERROR_UNEXPECTED_RESPONSE)
WRONG_RESPONSE = Raises(errors.ProtocolError, StatusCode.SDK_ERROR_WRONG_RESPONSE)
RESULT = Returns()
REOPENED = Returns("result (reopened)")
DATA_PRESENT = Returns("the bytes present")

# ------------------------------------------------------------------ families

# A cut that leaves five bytes: one short of a response header, too short to
# be a message at all.
STATUS_ONLY = 5


@dataclass(frozen=True)
class Family:
    """One command family as the matrix drives it.

    ``call(dev, i)`` is the i-th call of a row (0: the one the fault hits,
    1: the next one); I2C and SPI reads move to other addresses, so data
    returned twice shows. ``result(i)`` is what call i returns, from the
    firmware and from the scripted answers: ``answer(request, i)`` answers
    call i as the firmware does, and a bulk read's data (``bulk``: its
    result) goes out on bulk IN first; a bulk write (``bulk_out``) sends its data
    after the request. A short answer is the answer up to index ``cut``,
    one field short of what the call decodes, and ends the call as ``short``.
    """

    name: str
    code: int
    setup: Callable[[sim.VirtualAdapter, DeviceFacade], object]
    call: Callable[[DeviceFacade, int], object]
    result: Callable[[int], object]
    answer: Callable[[bytes, int], bytes]
    short: object = WRONG_RESPONSE
    cut: int = -1
    bulk: bool = False  # the call's data comes on bulk IN
    bulk_out: bool = False  # the call's data goes out on bulk OUT
    # Whether call i's effect is there, seen through the bench (calls whose
    # result does not show it: writes and the bus set-up).
    landed: Optional[Callable[[sim.VirtualAdapter, int], bool]] = None


def _setup_gpio(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    dev.gpio_configure_pin(GPIO_PIN, GpioFunctionality.DIGITAL_INPUT)
    adapter.gpio.drive_input(GPIO_PIN, 1)


def _setup_i2c(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    if adapter.i2c.memory(I2cBus.A, 0x50) == b"":
        adapter.i2c.attach_eeprom(I2cBus.A, 0x50)
        adapter.i2c.write_memory(I2cBus.A, 0x50, 0, EEPROM)
    dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)


def _setup_spi(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    if adapter.spi.memory(SpiChipSelect.CS_0) == b"":
        adapter.spi.attach_flash(SpiChipSelect.CS_0, size=64 * 1024)
        adapter.spi.write_memory(SpiChipSelect.CS_0, 0, FLASH)
    dev.spi_controller_init(SpiBitOrder.MSB, SpiMode.MODE_0, SpiDataWidth.BITS_8,
                            SpiChipSelect.CS_0, SpiChipSelectPolarity.ACTIVE_LOW, 1_000_000)


def _setup_i3c(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    for pid in I3C_ADDRESS:
        if adapter.i3c.target(pid) is None:  # targets stay attached across a replug
            adapter.i3c.attach_target(pid, bcr=0x06, dcr=0x63)
            adapter.i3c.write_memory(pid, 0, I3C_MEMORY)
    dev.i3c_controller_init(*I3C_RATES)
    dev.i3c_init_bus(I3C_LIST)


def _fill(target: Any, code: int, params: bytes, bulk_out: bytes = b"") -> None:
    """Fills a target memory through the bench (no USB traffic, so the set-up
    does not depend on the matrix's short timeout)."""
    answer, _ = target.command(code, params, bulk_out)
    assert struct.unpack_from("<H", answer, 4)[0] == 0


def _setup_i3c_target(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    dev.i3c_target_init(I3cTargetMemoryLayout.MEMORY_1_BYTE_X_1024_REGS,
                        b"\x04\x6a\x00\x00\x00\x01", 0x06, 0xC5, 0x30)
    _fill(adapter.i3c_target, 0x1A03, struct.pack("<HH", 0, 1024) + I3C_TARGET_MEMORY)


def _setup_i2c_target(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    dev.i2c_target_init(I2cBus.A, 0x50, I2cTargetAddressMode.BIT_7, I2cTargetMemoryLayout.BIT_8,
                        I2cTargetModel.MEMORY)
    _fill(adapter.i2c_target, 0x0A03, struct.pack("<HH", 0, 256), I2C_TARGET_MEMORY)


def _i3c_head(request: bytes, count: int) -> bytes:
    """A private transfer's answer: the address, a reserved byte, the count."""
    return bytes([request[4], 0]) + struct.pack("<H", count)


def _status(request: bytes, i: int) -> bytes:
    return response(request, 0)


def _spi_read_command(address: int) -> bytes:
    return b"\x03" + address.to_bytes(3, "big")


def _part(data: bytes, start: int, step: int, size: int) -> Callable[[int], bytes]:
    """What call i reads: ``size`` bytes of ``data`` from ``start + step * i``."""
    return lambda i: data[start + step * i:start + step * i + size]


def _reads(name: str, code: int, setup: Any, call: Any, result: Callable[[int], bytes],
           head: Callable[[bytes], bytes], cut: int = -4) -> Family:
    """A read answered with ``head(request)`` and the data; a short answer
    delivers the data as far as it carries it."""
    return Family(name, code, setup, call, result,
                  lambda req, i: response(req, 0, head(req) + result(i)), DATA_PRESENT, cut)


def _writes(name: str, code: int, setup: Any, call: Any, answer: Any, landed: Any = None,
            bulk_out: bool = False) -> Family:
    """A call that returns nothing; a short answer is only a status."""
    return Family(name, code, setup, call, lambda i: None, answer, TIMEOUT, STATUS_ONLY,
                  bulk_out=bulk_out, landed=landed)


FAMILIES = [
    # A setting kept across power-on.
    Family("system", 0x040E, lambda adapter, dev: adapter.system.set_usb_settings(webusb_enabled=1),
           lambda dev, i: dev.get_usb_config(),
           lambda i: (1, 0, 0), lambda req, i: response(req, 0, b"\x01\x00\x00")),
    Family("rail", 0x0409, lambda adapter, dev: dev.i2c_set_bus_voltage(2500),
           lambda dev, i: dev.i2c_get_bus_voltage(), lambda i: 2500,
           lambda req, i: response(req, 0, struct.pack("<3H", 2500, 1800, 3300) + bytes(6))),
    Family("gpio", 0x1403, _setup_gpio, lambda dev, i: dev.gpio_digital_read(GPIO_PIN),
           lambda i: 1, lambda req, i: response(req, 0, b"\x01")),
    _reads("i2c", 0x0905, _setup_i2c,
           lambda dev, i: dev.i2c_read(I2cBus.A, 0x50, bytes([8 * i]), 8, False),
           _part(EEPROM, 0, 8, 8), lambda req: b"\x50\x08\x00"),
    Family("i2c-bulk", 0x0908, _setup_i2c,
           lambda dev, i: dev.i2c_read_bulk(I2cBus.A, 0x50, bytes([64 + 64 * i]), 64, False),
           _part(EEPROM, 64, 64, 64), lambda req, i: response(req, 0, b"\x50\x40\x00"), bulk=True),
    # The first four bytes clock the read command out; the data follows.
    _reads("spi", 0x0D04, _setup_spi, lambda dev, i: dev.spi_transfer(_spi_read_command(16 * i), 8),
           lambda i: b"\xff" * 4 + FLASH[16 * i:16 * i + 4], lambda req: b"\x08\x00"),
    Family("spi-bulk", 0x0D08, _setup_spi,
           lambda dev, i: dev.spi_read_bulk(_spi_read_command(256 + 64 * i), 64),
           _part(FLASH, 256, 64, 64), lambda req, i: response(req, 0, b"\x40\x00"), bulk=True),
    _writes("uart", 0x1005, lambda adapter, dev: dev.uart_init(*UART_8N1),
            lambda dev, i: dev.uart_send_message(b"hello"), _status),
    _reads("i3c", 0x1908, _setup_i3c, lambda dev, i: dev.i3c_sdr_read(0x30, bytes([8 * i]), 8),
           _part(I3C_MEMORY, 0, 8, 8), lambda req: _i3c_head(req, 8)),
    _writes("i3c-write", 0x1908, _setup_i3c,
            lambda dev, i: dev.i3c_sdr_write(0x30 + i, b"\x80", written(i)),
            lambda req, i: response(req, 0, _i3c_head(req, len(written(i)))),
            lambda adapter, i: adapter.i3c.memory(PIDS[i])[0x80:0x88] == written(i)),
    Family("i3c-bulk", 0x190B, _setup_i3c,
           lambda dev, i: dev.i3c_sdr_read_bulk(0x30, bytes([64 + 64 * i]), 64),
           _part(I3C_MEMORY, 64, 64, 64), lambda req, i: response(req, 0, _i3c_head(req, 64)),
           bulk=True),
    _writes("i3c-write-bulk", 0x190B, _setup_i3c,
            lambda dev, i: dev.i3c_sdr_write_bulk(0x30 + i, b"\x80", written(i) * 8),
            lambda req, i: response(req, 0, _i3c_head(req, 8 * len(written(i)))),
            lambda adapter, i: adapter.i3c.memory(PIDS[i])[0x80:0xC0] == written(i) * 8,
            bulk_out=True),
    # The two targets answer in turn; the id is a byte list, kept as far as
    # the answer carries it.
    _reads("i3c-ccc", 0x1909, _setup_i3c, lambda dev, i: dev.i3c_ccc_getpid(0x30 + i),
           lambda i: PIDS[i].to_bytes(6, "big"), lambda req: bytes([req[4], 0x8D, 0, 6]), cut=-3),
    _writes("i3c-init-bus", 0x1904, _setup_i3c, lambda dev, i: dev.i3c_init_bus(I3C_LIST), _status,
            lambda adapter, i: [adapter.i3c.target(pid).dynamic_address for pid in PIDS]
            == list(I3C_ADDRESS.values())),
    _reads("i3c-target", 0x1A04, _setup_i3c_target,
           lambda dev, i: dev.i3c_target_read_memory(16 * i, 8),
           _part(I3C_TARGET_MEMORY, 0, 16, 8), lambda req: b"\x08\x00"),
    _writes("i3c-target-write", 0x1A03, _setup_i3c_target,
            lambda dev, i: dev.i3c_target_write_memory(0x200 + 16 * i, written(i)), _status,
            lambda adapter, i: adapter.i3c_target.memory[0x200 + 16 * i:0x208 + 16 * i]
            == written(i)),
    # The memory address echoed, then the count; the data on bulk IN.
    Family("i2c-target", 0x0A04, _setup_i2c_target,
           lambda dev, i: dev.i2c_target_read_memory(64 + 64 * i, 64),
           _part(I2C_TARGET_MEMORY, 64, 64, 64),
           lambda req, i: response(req, 0, struct.pack("<HH", 64 + 64 * i, 64)), bulk=True),
    _writes("i2c-target-write", 0x0A03, _setup_i2c_target,
            lambda dev, i: dev.i2c_target_write_memory(0x80 + 16 * i, written(i)), _status,
            lambda adapter, i: adapter.i2c_target.memory[0x80 + 16 * i:0x88 + 16 * i]
            == written(i), bulk_out=True),
]


def expect(outcome: object, fn: Callable[[], object], family: Family) -> None:
    """Checks that ``fn()`` ends the way ``outcome`` says."""
    if isinstance(outcome, Raises):
        with pytest.raises(outcome.error) as info:
            fn()
        assert info.value.status_code == outcome.status
        return
    value, full = fn(), family.result(0)
    if outcome == DATA_PRESENT:
        assert isinstance(value, bytes) and isinstance(full, bytes)
        assert 0 < len(value) < len(full) and full.startswith(value)
    else:
        assert value == full


# ------------------------------------------------------------------- helpers

class Bench:
    """One row's adapter and connected facade, set up for its family."""

    def __init__(self, family: Family) -> None:
        self.family = family
        self.adapter = sim.VirtualAdapter(serial=f"MATRIX-{family.name}")
        self.dev = DeviceFacade(timeout_ms=TIMEOUT_MS)
        assert self.dev.connect(self.adapter.path)
        self.notifications = Collector()
        self.scripted = False  # the firmware answers, not a script
        self.dev.on_notification(self.notifications)
        family.setup(self.adapter, self.dev)
        if family.bulk or family.bulk_out:
            # The capability query runs once per connection, answered by the
            # firmware before any handler is installed.
            assert family.call(self.dev, 0) == family.result(0)
        self.adapter.set_recording(False)

    def close(self) -> None:
        self.dev.disconnect()
        self.adapter.close()

    def expect(self, outcome: object) -> None:
        """The faulted call (call 0) ends as ``outcome`` says."""
        expect(outcome, lambda: self.family.call(self.dev, 0), self.family)

    def next_call_works(self) -> None:
        assert self.family.call(self.dev, 1) == self.family.result(1)
        if self.family.landed is not None and not self.scripted:
            assert self.family.landed(self.adapter, 1)

    def discarded(self) -> int:
        return int(self.dev.get_discarded_response_count())

    def script(self, fault: Callable[[bytes], List[bytes]], with_data: bool) -> None:
        """Answers the first request with ``fault(answer)`` (a bulk read's
        data sent first only ``with_data``) and every later one plainly, as
        call 1."""
        family = self.family
        self.scripted = True
        count = [0]

        def handler(request: bytes) -> List[bytes]:
            assert command_of(request) == family.code
            i = min(count[0], 1)
            count[0] += 1
            if family.bulk and (i > 0 or with_data):
                data = family.result(i)
                assert isinstance(data, bytes)
                self.adapter.send_bulk(data)
            answer = family.answer(request, i)
            return fault(answer) if i == 0 else [answer]

        self.adapter.set_handler(handler)

    def sync_reader(self) -> None:
        """Returns once the reader has handled everything the adapter queued
        before now: an injected notification is read after all of it."""
        before = len(self.notifications.items)
        self.adapter.send(uart_rx(b"sync"))
        assert self.notifications.wait_for(before + 1)


# --------------------------------------------------------------------- faults
# Each fault drives one row; its entry in FAULTS says what the faulted call
# must produce.

def lasting(start: Callable[[Any], None], stop: Callable[[Any], None] = lambda faults: None,
            ) -> Callable[[Bench, object], None]:
    """A fault of the adapter's ``faults`` set before the call and, if it
    lasts, cleared after it."""

    def row(bench: Bench, outcome: object) -> None:
        start(bench.adapter.faults)
        bench.expect(outcome)
        stop(bench.adapter.faults)
        bench.next_call_works()

    return row


def unplug_and_replug(bench: Bench, outcome: object) -> None:
    adapter = bench.adapter
    adapter.faults.set_response_delay(60_000)  # the call is still waiting when the adapter goes
    adapter.clear()
    adapter.set_recording(True)

    def pull_out() -> None:
        assert adapter.wait_for_requests(1, 5.0)
        if bench.family.bulk_out:
            # The call waits for its answer only after its data phase; an
            # unplug during the data phase ends it as a failed bulk write.
            assert wait_until(lambda: len(adapter.bulk_received) > 0)
        adapter.unplug()

    puller = threading.Thread(target=pull_out)
    puller.start()
    try:
        bench.expect(outcome)
    finally:
        puller.join()
    adapter.faults.set_response_delay(0)
    adapter.plug()  # the firmware starts from power-on
    bench.family.setup(adapter, bench.dev)
    bench.next_call_works()


def read_error(bench: Bench, outcome: object) -> None:
    bench.adapter.faults.fail_reads(1)
    bench.sync_reader()  # the failed read came before the notification
    bench.expect(outcome)
    bench.next_call_works()


def late_answer(bench: Bench, outcome: object) -> None:
    discarded = bench.discarded()
    bench.adapter.faults.set_response_delay(LATE_MS)
    bench.expect(outcome)
    # The next request goes out before the late answer arrives.
    bench.adapter.faults.set_response_delay(0)
    bench.next_call_works()
    assert wait_until(lambda: bench.discarded() == discarded + 1)


def duplicate_answer(bench: Bench, outcome: object) -> None:
    discarded = bench.discarded()
    bench.script(lambda answer: [answer, answer], with_data=True)
    bench.expect(outcome)
    bench.next_call_works()  # answered after the duplicate, so that was handled
    assert bench.discarded() == discarded + 1


def wrong_command_code(bench: Bench, outcome: object) -> None:
    code = struct.pack("<H", bench.family.code ^ 0x0001)
    # An answer to another command comes without this command's bulk data.
    bench.script(lambda answer: [answer[:2] + code + answer[4:]], with_data=False)
    bench.expect(outcome)
    bench.next_call_works()


def short_answer(bench: Bench, outcome: object) -> None:
    discarded = bench.discarded()
    bench.script(lambda answer: [answer[:bench.family.cut]], with_data=False)
    bench.expect(outcome)
    bench.next_call_works()
    # A message too short for a header reaches no caller and is counted.
    assert bench.discarded() == discarded + (outcome == TIMEOUT)


class Flood:
    """Keeps notifications coming from a thread of its own, at most WINDOW
    of them unread at a time (the adapter's HID input queue holds 64
    reports), and counts what it sent."""

    WINDOW = 16
    FIELDS = struct.pack("<H", 4) + b"tick"

    def __init__(self, adapter: sim.VirtualAdapter, received: Collector) -> None:
        self.adapter = adapter
        self.received = received
        self.sent = 0
        self.first = len(received.items)
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run)

    def unread(self) -> int:
        return self.first + self.sent - len(self.received.items)

    def _run(self) -> None:
        while not self._stop.is_set():
            if self.unread() >= self.WINDOW:
                # Woken by the next notification the callback receives.
                self.received.wait_for(len(self.received.items) + 1, timeout=0.05)
                continue
            self.adapter.notify(0x1081, self.FIELDS)
            self.sent += 1

    def __enter__(self) -> "Flood":
        self._thread.start()
        assert self.received.wait_for(self.first + 2 * self.WINDOW)  # under way
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._stop.set()
        self._thread.join()


def notification_flood(bench: Bench, outcome: object) -> None:
    received = bench.notifications
    with Flood(bench.adapter, received) as flood:
        for _ in range(20):
            bench.expect(outcome)
    assert received.wait_for(flood.first + flood.sent)
    assert flood.unread() == 0  # every notification reached the callback
    ticks = received.items[flood.first:]
    assert all(isinstance(n, UartRxNotification) and n.data == b"tick" for n in ticks)
    bench.next_call_works()


# --------------------------------------------------------------------- matrix

# Each fault and what the faulted call produces (None: the family's own
# outcome for a short answer); the next call works in every row.
FAULTS: Dict[str, Any] = {
    "unplug-replug": (unplug_and_replug, DISCONNECT),
    # A write that fails at once counts as written: the request is lost. One
    # that fails slowly marks the handle dead: reopen, send again.
    "write-fails-fast": (lasting(lambda faults: faults.fail_writes(1)), TIMEOUT),
    "write-fails-slow": (lasting(lambda faults: faults.fail_writes(1, delay_ms=SLOW_FAILURE_MS)),
                         REOPENED),
    "read-error": (read_error, REOPENED),
    "late-answer": (late_answer, TIMEOUT),
    "duplicate-answer": (duplicate_answer, RESULT),
    "wrong-command-code": (wrong_command_code, UNEXPECTED),
    "short-answer": (short_answer, None),
    "bulk-in-stalled": (lasting(lambda faults: faults.stall_bulk_in(True),
                                lambda faults: faults.stall_bulk_in(False)), TIMEOUT),
    # A quarter of the data arrives, then the endpoint goes quiet; the data
    # phase gives up after its own 2 s timeout.
    "bulk-in-short": (lasting(lambda faults: faults.limit_bulk_in(16),
                              lambda faults: faults.limit_bulk_in(None)), TIMEOUT),
    "notification-flood": (notification_flood, RESULT),
}
BULK_ONLY = {"bulk-in-stalled", "bulk-in-short"}


def expected(fault: str, family: Family) -> Optional[object]:
    """What the faulted call produces; None where the row does not apply."""
    if fault in BULK_ONLY and not family.bulk:
        return None
    outcome = FAULTS[fault][1]
    return family.short if outcome is None else outcome


ROWS = [(family, fault) for fault in FAULTS for family in FAMILIES
        if expected(fault, family) is not None]


@pytest.mark.parametrize("family, fault", ROWS, ids=[f"{f.name}-{fault}" for f, fault in ROWS])
def test_fault(family: Family, fault: str) -> None:
    bench = Bench(family)
    try:
        FAULTS[fault][0](bench, expected(fault, family))
    finally:
        bench.close()


# -------------------------------------------------------------- batches
# Faults of the pipeline: a batch of five I2C calls (write registers 1 and
# 2, write to the address the row names, read registers 1 and 2), each row
# with its fault (started by `fault(adapter, dev)`), what each call ends
# as: D(one), F(ailed), U(nknown: sent, no answer), N(ot sent); and the
# resends of each. The next call works after every row. A failing call in
# a batch that goes on is test_batch.py's.

REGISTERS = 0x68
ABSENT = 0x33
D, F, U, N = BatchState.DONE, BatchState.FAILED, BatchState.UNKNOWN, BatchState.NOT_SENT
QUEUE_FULL = StatusCode.FW_FULL_RECEPTION_QUEUE.value


def _unplug_in_flight(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> Callable[[], None]:
    """Holds the answers, then unplugs once the window (3) is in flight."""
    adapter.faults.hold_answers()
    adapter.clear()

    def pull_out() -> None:
        assert adapter.wait_for_requests(3, 5000)
        adapter.unplug()

    puller = threading.Thread(target=pull_out)
    puller.start()

    def finish() -> None:
        puller.join()
        adapter.faults.hold_answers(False)
        adapter.plug()

    return finish


def _unplug_before(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> Callable[[], None]:
    """Unplugs, and waits until the facade has noticed: nothing can be sent
    then (before, a request may still count as written)."""
    lost = threading.Event()
    dev.on_connection_lost(lost.set)
    adapter.unplug()
    assert lost.wait(5)
    return adapter.plug


def _queue_always_full(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> Callable[[], None]:
    adapter.faults.turn_away_requests(1000)
    return lambda: adapter.faults.turn_away_requests(0)


BATCH_FAULTS: Dict[str, Any] = {
    # fault, batch options, third call's address, states, resends
    "queue-full-resent": (lambda a, _: a.faults.turn_away_requests(3), {"window": 1}, REGISTERS,
                          [D, D, D, D, D], [3, 0, 0, 0, 0]),
    "queue-full-beyond-bound": (_queue_always_full, {"max_resends": 2}, REGISTERS, [F] * 5,
                                [2] * 5),
    "answer-lost": (lambda a, _: a.faults.lose_answers(1), {}, REGISTERS, [U, D, D, D, D], [0] * 5),
    "timeout-window-full": (lambda a, _: a.faults.lose_answers(2), {"window": 2}, REGISTERS,
                            [U, U, N, N, N], [0] * 5),
    "unplugged-in-flight": (_unplug_in_flight, {"window": 3}, REGISTERS, [U, U, U, N, N], [0] * 5),
    "unplugged-before": (_unplug_before, {}, REGISTERS, [N] * 5, [0] * 5),
    "failing-call-stop-on-error": (None, {"window": 1, "stop_on_error": True}, ABSENT,
                                   [D, D, F, N, N], [0] * 5),
}


@pytest.mark.parametrize("fault", BATCH_FAULTS)
def test_batch_fault(fault: str) -> None:
    start, options, third, states, resends = BATCH_FAULTS[fault]
    with sim.VirtualAdapter() as adapter, DeviceFacade(timeout_ms=TIMEOUT_MS) as dev:
        adapter.i2c.attach_register_map(I2cBus.A, REGISTERS)
        assert dev.connect(adapter.path)
        dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)
        # A fault's start may return what ends it, once the batch is sent.
        finish = start(adapter, dev) if start else None
        with dev.batch(**options) as b:
            b.i2c_write(I2cBus.A, REGISTERS, b"\x01", b"\x11", False)
            b.i2c_write(I2cBus.A, REGISTERS, b"\x02", b"\x22", False)
            b.i2c_write(I2cBus.A, third, b"\x03", b"\x33", False)
            b.i2c_read(I2cBus.A, REGISTERS, b"\x01", 1, False)
            b.i2c_read(I2cBus.A, REGISTERS, b"\x02", 1, False)
        if finish:
            finish()
        assert [c.state for c in b.results] == states
        assert [c.resends for c in b.results] == resends
        assert b.failures == [c for c in b.results if c.state != D]
        for call in b.results:
            if call.state == D:
                assert call.result() == {3: b"\x11", 4: b"\x22"}.get(call.index)
            else:
                with pytest.raises(errors.VantorError, match=rf"{call.name} \(batch call "
                                                             rf"{call.index}"):
                    call.result()
        if fault.startswith("unplugged"):
            assert b.results[0].status == StatusCode.SDK_ERROR_DISCONNECT.value
            dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)  # after power-on
        elif QUEUE_FULL in [c.status for c in b.results]:
            assert all(c.status == QUEUE_FULL for c in b.results)
        # The next call works, and gets its own answer.
        dev.i2c_write(I2cBus.A, REGISTERS, b"\x05", b"\x55", False)
        assert dev.i2c_read(I2cBus.A, REGISTERS, b"\x05", 1, False) == b"\x55"


def markdown_table() -> str:
    """The matrix as Markdown: faults down, families across, each cell the
    faulted call's outcome. docs/testing.md prints it as two tables: the
    controller families of the serial peripherals, then those of I3C and the
    target roles."""
    lines: List[str] = []
    for families in (FAMILIES[:8], FAMILIES[8:]):
        if lines:
            lines.append("")
        lines += ["| fault | " + " | ".join(f.name for f in families) + " |",
                  "|---" * (len(families) + 1) + "|"]
        for fault in FAULTS:
            cells = [str(expected(fault, family) or "") for family in families]
            lines.append(f"| {fault} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


if __name__ == "__main__":
    print(markdown_table())
