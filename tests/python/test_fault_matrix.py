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
README's reliability section.
"""

from __future__ import annotations

import struct
import threading
import time
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterator, List, Optional, Tuple, Type

import pytest

from helpers import Collector, command_of, response, uart_rx
from pyvantorsdk import (
    DeviceFacade,
    GpioFunctionality,
    GpioPinNumber,
    I2cBus,
    I2cOpenDrainRate,
    I2cPullUp,
    I2cTargetAddressMode,
    I2cTargetMemoryLayout,
    I2cTargetModel,
    I3cDriveStrength,
    I3cOpenDrainRate,
    I3cPushPullRate,
    I3cTargetMemoryLayout,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
    StatusCode,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartRxNotification,
    UartStopBit,
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
UART_8N1 = (UartBaudRate.BAUD_115200, UartHwHandshake.DISABLED, UartParity.NONE,
            UartDataSize.BITS_8, UartStopBit.ONE)
GPIO_PIN = GpioPinNumber.PIN_3
# Two I3C targets, brought up by ENTDAA at the addresses the list asks for.
I3C_ADDRESS = {0x0A0000000001: 0x30, 0x0B0000000002: 0x31}
I3C_MEMORY = bytes((5 * i + 1) & 0xFF for i in range(1024))
# The adapter's own target memories: I3C (1024 bytes), I2C (256 bytes).
I3C_TARGET_MEMORY = bytes((11 * i + 5) & 0xFF for i in range(1024))
I2C_TARGET_MEMORY = bytes((3 * i + 9) & 0xFF for i in range(256))


def written(i: int) -> bytes:
    """What write call i writes: each call its own bytes, so data taken
    from another call shows."""
    return f"written{i}".encode()


PIDS = list(I3C_ADDRESS)


# ------------------------------------------------------------------ families

@dataclass(frozen=True)
class Family:
    """One command family as the matrix drives it.

    ``call(dev, i)`` is the i-th call of a row (0: the one the fault hits,
    1: the next one); I2C and SPI reads move to other addresses, so data
    returned twice shows. ``result(i)`` is what call i returns, from the
    firmware and from the scripted answers: ``answer(request, i)`` answers
    call i as the firmware does, and a bulk read's data, ``bulk_data(i)``,
    goes out on bulk IN first; a bulk write (``bulk_out``) sends its data
    after the request. ``cut`` shortens an answer to one byte less
    than the call decodes.
    """

    name: str
    code: int
    setup: Callable[[sim.VirtualAdapter, DeviceFacade], None]
    call: Callable[[DeviceFacade, int], object]
    result: Callable[[int], object]
    answer: Callable[[bytes, int], bytes]
    cut: Callable[[bytes], bytes]
    bulk_data: Optional[Callable[[int], bytes]] = None
    bulk_out: bool = False  # the call's data goes out on bulk OUT
    # Whether call i's effect is there, seen through the bench (calls whose
    # result does not show it: writes and the bus set-up).
    landed: Optional[Callable[[sim.VirtualAdapter, int], bool]] = None

    @property
    def bulk(self) -> bool:
        return self.bulk_data is not None


def _setup_system(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    adapter.system.set_usb_settings(webusb_enabled=1)  # kept across power-on


def _setup_rail(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    dev.i2c_set_bus_voltage(2500)


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


def _setup_uart(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    dev.uart_init(*UART_8N1)


def _i3c_entry(pid: int, dynamic: int) -> Dict[str, Any]:
    return {"static_address": 0, "dynamic_address": dynamic, "pid": pid.to_bytes(6, "big"),
            "bcr": 0, "dcr": 0, "mwl": 0, "mrl": 0, "max_ibi_payload_length": 0,
            "configuration": 0}


I3C_LIST = [_i3c_entry(pid, address) for pid, address in I3C_ADDRESS.items()]


def _setup_i3c(adapter: sim.VirtualAdapter, dev: DeviceFacade) -> None:
    for pid in I3C_ADDRESS:
        if adapter.i3c.target(pid) is None:  # targets stay attached across a replug
            adapter.i3c.attach_target(pid, bcr=0x06, dcr=0x63)
            adapter.i3c.write_memory(pid, 0, I3C_MEMORY)
    dev.i3c_controller_init(I3cPushPullRate.PUSH_PULL_3_125_MHZ_DC_25,
                            I3cOpenDrainRate.OPEN_DRAIN_1_MHZ, I2cOpenDrainRate.FAST_MODE,
                            I3cDriveStrength.STANDARD)
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


def _i3c_answer(request: bytes, count: int, data: bytes = b"") -> bytes:
    """A private transfer's answer: the address, a reserved byte, the count."""
    return response(request, 0, bytes([request[4], 0]) + struct.pack("<H", count) + data)


def _spi_read_command(address: int) -> bytes:
    return b"\x03" + address.to_bytes(3, "big")


FAMILIES = [
    Family(
        "system", 0x040E, _setup_system,
        call=lambda dev, i: dev.get_usb_config(),
        result=lambda i: (1, 0, 0),
        answer=lambda req, i: response(req, 0, b"\x01\x00\x00"),
        cut=lambda answer: answer[:-1],
    ),
    Family(
        "rail", 0x0409, _setup_rail,
        call=lambda dev, i: dev.i2c_get_bus_voltage(),
        result=lambda i: 2500,
        answer=lambda req, i: response(req, 0, struct.pack("<HHH", 2500, 1800, 3300) + bytes(6)),
        cut=lambda answer: answer[:-1],
    ),
    Family(
        "gpio", 0x1403, _setup_gpio,
        call=lambda dev, i: dev.gpio_digital_read(GPIO_PIN),
        result=lambda i: 1,
        answer=lambda req, i: response(req, 0, b"\x01"),
        cut=lambda answer: answer[:-1],
    ),
    Family(
        # The data is delivered as far as the answer carries it.
        "i2c", 0x0905, _setup_i2c,
        call=lambda dev, i: dev.i2c_read(I2cBus.A, 0x50, bytes([8 * i]), 8, False),
        result=lambda i: EEPROM[8 * i:8 * i + 8],
        answer=lambda req, i: response(req, 0, b"\x50" + struct.pack("<H", 8) + EEPROM[8 * i:8 * i + 8]),
        cut=lambda answer: answer[:-4],
    ),
    Family(
        "i2c-bulk", 0x0908, _setup_i2c,
        call=lambda dev, i: dev.i2c_read_bulk(I2cBus.A, 0x50, bytes([64 + 64 * i]), 64, False),
        result=lambda i: EEPROM[64 + 64 * i:128 + 64 * i],
        answer=lambda req, i: response(req, 0, b"\x50" + struct.pack("<H", 64)),
        cut=lambda answer: answer[:-1],
        bulk_data=lambda i: EEPROM[64 + 64 * i:128 + 64 * i],
    ),
    Family(
        # The first four bytes clock the read command out; the data follows.
        "spi", 0x0D04, _setup_spi,
        call=lambda dev, i: dev.spi_transfer(_spi_read_command(16 * i), 8),
        result=lambda i: b"\xff" * 4 + FLASH[16 * i:16 * i + 4],
        answer=lambda req, i: response(req, 0, struct.pack("<H", 8) + b"\xff" * 4 + FLASH[16 * i:16 * i + 4]),
        cut=lambda answer: answer[:-4],
    ),
    Family(
        "spi-bulk", 0x0D08, _setup_spi,
        call=lambda dev, i: dev.spi_read_bulk(_spi_read_command(256 + 64 * i), 64),
        result=lambda i: FLASH[256 + 64 * i:320 + 64 * i],
        answer=lambda req, i: response(req, 0, struct.pack("<H", 64)),
        cut=lambda answer: answer[:-1],
        bulk_data=lambda i: FLASH[256 + 64 * i:320 + 64 * i],
    ),
    Family(
        # Status only: one byte short of the header is too short to be a message.
        "uart", 0x1005, _setup_uart,
        call=lambda dev, i: dev.uart_send_message(b"hello"),
        result=lambda i: None,
        answer=lambda req, i: response(req, 0),
        cut=lambda answer: answer[:5],
    ),    Family(
        "i3c", 0x1908, _setup_i3c,
        call=lambda dev, i: dev.i3c_sdr_read(0x30, bytes([8 * i]), 8),
        result=lambda i: I3C_MEMORY[8 * i:8 * i + 8],
        answer=lambda req, i: _i3c_answer(req, 8, I3C_MEMORY[8 * i:8 * i + 8]),
        cut=lambda answer: answer[:-4],
    ),
    Family(
        "i3c-write", 0x1908, _setup_i3c,
        call=lambda dev, i: dev.i3c_sdr_write(0x30 + i, b"\x80", written(i)),
        result=lambda i: None,
        answer=lambda req, i: _i3c_answer(req, len(written(i))),
        cut=lambda answer: answer[:5],
        landed=lambda adapter, i: adapter.i3c.memory(PIDS[i])[0x80:0x88] == written(i),
    ),
    Family(
        "i3c-bulk", 0x190B, _setup_i3c,
        call=lambda dev, i: dev.i3c_sdr_read_bulk(0x30, bytes([64 + 64 * i]), 64),
        result=lambda i: I3C_MEMORY[64 + 64 * i:128 + 64 * i],
        answer=lambda req, i: _i3c_answer(req, 64),
        cut=lambda answer: answer[:-1],
        bulk_data=lambda i: I3C_MEMORY[64 + 64 * i:128 + 64 * i],
    ),
    Family(
        "i3c-write-bulk", 0x190B, _setup_i3c,
        call=lambda dev, i: dev.i3c_sdr_write_bulk(0x30 + i, b"\x80", written(i) * 8),
        result=lambda i: None,
        answer=lambda req, i: _i3c_answer(req, 8 * len(written(i))),
        cut=lambda answer: answer[:5],
        bulk_out=True,
        landed=lambda adapter, i: adapter.i3c.memory(PIDS[i])[0x80:0xC0] == written(i) * 8,
    ),
    Family(
        # The two targets answer in turn; the id is a byte list, kept as far
        # as the answer carries it.
        "i3c-ccc", 0x1909, _setup_i3c,
        call=lambda dev, i: dev.i3c_ccc_getpid(0x30 + i),
        result=lambda i: list(I3C_ADDRESS)[i].to_bytes(6, "big"),
        answer=lambda req, i: response(req, 0, bytes([req[4], 0x8D, 0, 6])
                                       + list(I3C_ADDRESS)[i].to_bytes(6, "big")),
        cut=lambda answer: answer[:-3],
    ),
    Family(
        "i3c-init-bus", 0x1904, _setup_i3c,
        call=lambda dev, i: dev.i3c_init_bus(I3C_LIST),
        result=lambda i: None,
        answer=lambda req, i: response(req, 0),
        cut=lambda answer: answer[:5],
        landed=lambda adapter, i: [adapter.i3c.target(pid).dynamic_address for pid in PIDS]
        == list(I3C_ADDRESS.values()),
    ),
    Family(
        "i3c-target", 0x1A04, _setup_i3c_target,
        call=lambda dev, i: dev.i3c_target_read_memory(16 * i, 8),
        result=lambda i: I3C_TARGET_MEMORY[16 * i:16 * i + 8],
        answer=lambda req, i: response(req, 0, struct.pack("<H", 8)
                                       + I3C_TARGET_MEMORY[16 * i:16 * i + 8]),
        cut=lambda answer: answer[:-4],
    ),
    Family(
        "i3c-target-write", 0x1A03, _setup_i3c_target,
        call=lambda dev, i: dev.i3c_target_write_memory(0x200 + 16 * i, written(i)),
        result=lambda i: None,
        answer=lambda req, i: response(req, 0),
        cut=lambda answer: answer[:5],
        landed=lambda adapter, i: adapter.i3c_target.memory[0x200 + 16 * i:0x208 + 16 * i]
        == written(i),
    ),
    Family(
        # The memory address echoed, then the count; the data on bulk IN.
        "i2c-target", 0x0A04, _setup_i2c_target,
        call=lambda dev, i: dev.i2c_target_read_memory(64 + 64 * i, 64),
        result=lambda i: I2C_TARGET_MEMORY[64 + 64 * i:128 + 64 * i],
        answer=lambda req, i: response(req, 0, struct.pack("<HH", 64 + 64 * i, 64)),
        cut=lambda answer: answer[:-1],
        bulk_data=lambda i: I2C_TARGET_MEMORY[64 + 64 * i:128 + 64 * i],
    ),
    Family(
        "i2c-target-write", 0x0A03, _setup_i2c_target,
        call=lambda dev, i: dev.i2c_target_write_memory(0x80 + 16 * i, written(i)),
        result=lambda i: None,
        answer=lambda req, i: response(req, 0),
        cut=lambda answer: answer[:5],
        bulk_out=True,
        landed=lambda adapter, i: adapter.i2c_target.memory[0x80 + 16 * i:0x88 + 16 * i]
        == written(i),
    ),
]
FAMILY = {f.name: f for f in FAMILIES}


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


def expect(outcome: object, fn: Callable[[], object], family: Family, i: int = 0) -> None:
    """Checks that ``fn()`` ends the way ``outcome`` says."""
    if isinstance(outcome, Raises):
        with pytest.raises(outcome.error) as info:
            fn()
        assert info.value.status_code == outcome.status
        return
    value = fn()
    if outcome == DATA_PRESENT:
        full = family.result(i)
        assert isinstance(value, bytes) and isinstance(full, bytes)
        assert 0 < len(value) < len(full) and full.startswith(value)
    else:
        assert value == family.result(i)


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

    def call(self, i: int) -> object:
        return self.family.call(self.dev, i)

    def next_call_works(self) -> None:
        assert self.call(1) == self.family.result(1)
        if self.family.landed is not None and not self.scripted:
            assert self.family.landed(self.adapter, 1)

    def script(self, fault: Callable[[bytes, bytes], List[bytes]], with_data: bool) -> None:
        """Answers the first request with ``fault(request, answer)`` (a bulk
        read's data sent first only ``with_data``) and every later one
        plainly, as call 1."""
        family = self.family
        self.scripted = True
        count = [0]

        def handler(request: bytes) -> List[bytes]:
            assert command_of(request) == family.code
            i = min(count[0], 1)
            count[0] += 1
            if family.bulk_data is not None and (i > 0 or with_data):
                self.adapter.send_bulk(family.bulk_data(i))
            answer = family.answer(request, i)
            return fault(request, answer) if i == 0 else [answer]

        self.adapter.set_handler(handler)

    def sync_reader(self) -> None:
        """Returns once the reader has handled everything the adapter queued
        before now: an injected notification is read after all of it."""
        before = len(self.notifications.items)
        self.adapter.send(uart_rx(b"sync"))
        assert self.notifications.wait_for(before + 1)


def wait_until(predicate: Callable[[], bool], timeout: float = 5.0) -> bool:
    """Polls a condition that no event announces (a counter of the SDK)."""
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.002)
    return True


# --------------------------------------------------------------------- faults
# Each fault drives one row and returns nothing; its table entry (below)
# says what the faulted call must produce.

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
        expect(outcome, lambda: bench.call(0), bench.family)
    finally:
        puller.join()
    adapter.faults.set_response_delay(0)
    adapter.plug()  # the firmware starts from power-on
    bench.family.setup(adapter, bench.dev)
    bench.next_call_works()


def write_fails_fast(bench: Bench, outcome: object) -> None:
    # A write that fails at once counts as written: the request is lost.
    bench.adapter.faults.fail_writes(1)
    expect(outcome, lambda: bench.call(0), bench.family)
    bench.next_call_works()


def write_fails_slow(bench: Bench, outcome: object) -> None:
    # A write that fails slowly marks the handle dead: reopen, send again.
    bench.adapter.faults.fail_writes(1, delay_ms=SLOW_FAILURE_MS)
    expect(outcome, lambda: bench.call(0), bench.family)
    bench.next_call_works()


def read_error(bench: Bench, outcome: object) -> None:
    bench.adapter.faults.fail_reads(1)
    bench.sync_reader()  # the failed read came before the notification
    expect(outcome, lambda: bench.call(0), bench.family)
    bench.next_call_works()


def late_answer(bench: Bench, outcome: object) -> None:
    discarded = bench.dev.get_discarded_response_count()
    bench.adapter.faults.set_response_delay(LATE_MS)
    expect(outcome, lambda: bench.call(0), bench.family)
    # The next request goes out before the late answer arrives.
    bench.adapter.faults.set_response_delay(0)
    bench.next_call_works()
    assert wait_until(lambda: bench.dev.get_discarded_response_count() == discarded + 1)


def duplicate_answer(bench: Bench, outcome: object) -> None:
    discarded = bench.dev.get_discarded_response_count()
    bench.script(lambda request, answer: [answer, answer], with_data=True)
    expect(outcome, lambda: bench.call(0), bench.family)
    bench.next_call_works()  # answered after the duplicate, so that was handled
    assert bench.dev.get_discarded_response_count() == discarded + 1


def wrong_command_code(bench: Bench, outcome: object) -> None:
    code = struct.pack("<H", bench.family.code ^ 0x0001)
    # An answer to another command comes without this command's bulk data.
    bench.script(lambda request, answer: [answer[:2] + code + answer[4:]], with_data=False)
    expect(outcome, lambda: bench.call(0), bench.family)
    bench.next_call_works()


def short_answer(bench: Bench, outcome: object) -> None:
    discarded = bench.dev.get_discarded_response_count()
    bench.script(lambda request, answer: [bench.family.cut(answer)], with_data=False)
    expect(outcome, lambda: bench.call(0), bench.family)
    bench.next_call_works()
    # A message too short for a header reaches no caller and is counted.
    too_short = outcome == TIMEOUT
    assert bench.dev.get_discarded_response_count() == discarded + too_short


def bulk_in_stalled(bench: Bench, outcome: object) -> None:
    bench.adapter.faults.stall_bulk_in(True)
    expect(outcome, lambda: bench.call(0), bench.family)
    bench.adapter.faults.stall_bulk_in(False)
    bench.next_call_works()


def bulk_in_short(bench: Bench, outcome: object) -> None:
    # A quarter of the data arrives, then the endpoint goes quiet; the data
    # phase gives up after its own 2 s timeout.
    bench.adapter.faults.limit_bulk_in(16)
    expect(outcome, lambda: bench.call(0), bench.family)
    bench.adapter.faults.limit_bulk_in(None)
    bench.next_call_works()


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
            expect(outcome, lambda: bench.call(0), bench.family)
    assert received.wait_for(flood.first + flood.sent)
    assert flood.unread() == 0  # every notification reached the callback
    ticks = received.items[flood.first:]
    assert all(isinstance(n, UartRxNotification) and n.data == b"tick" for n in ticks)
    bench.next_call_works()


# --------------------------------------------------------------------- matrix

# Known defects, each with a letter for the table's notes. A row that one of
# them breaks fails today; its expected outcome is the mended code's.
DEFECTS: Dict[str, str] = {}

FAULTS: Dict[str, Callable[[Bench, object], None]] = {
    "unplug-replug": unplug_and_replug,
    "write-fails-fast": write_fails_fast,
    "write-fails-slow": write_fails_slow,
    "read-error": read_error,
    "late-answer": late_answer,
    "duplicate-answer": duplicate_answer,
    "wrong-command-code": wrong_command_code,
    "short-answer": short_answer,
    "bulk-in-stalled": bulk_in_stalled,
    "bulk-in-short": bulk_in_short,
    "notification-flood": notification_flood,
}
BULK_ONLY = {"bulk-in-stalled", "bulk-in-short"}

# What the faulted call produces, per fault and family; the next call works
# in every row. A (outcome, defect) pair marks a row that fails today because
# of the named defect: the outcome is the one the mended code must produce.
SHORT_ANSWER = {
    "system": WRONG_RESPONSE, "rail": WRONG_RESPONSE, "gpio": WRONG_RESPONSE,
    "i2c": DATA_PRESENT, "i2c-bulk": WRONG_RESPONSE, "spi": DATA_PRESENT,
    "spi-bulk": WRONG_RESPONSE, "uart": TIMEOUT,
    "i3c": DATA_PRESENT, "i3c-write": TIMEOUT, "i3c-bulk": WRONG_RESPONSE,
    "i3c-write-bulk": TIMEOUT, "i3c-ccc": DATA_PRESENT, "i3c-init-bus": TIMEOUT,
    "i3c-target": DATA_PRESENT, "i3c-target-write": TIMEOUT, "i2c-target": WRONG_RESPONSE,
    "i2c-target-write": TIMEOUT,
}


def expected(fault: str, family: Family) -> Tuple[object, str]:
    """What the faulted call produces, and the letters of the defects that
    break the row today."""
    if fault == "unplug-replug":
        return DISCONNECT, ""
    if fault == "write-fails-fast":
        return TIMEOUT, ""
    if fault in ("write-fails-slow", "read-error"):
        return REOPENED, ""
    if fault == "late-answer":
        return TIMEOUT, ""
    if fault == "duplicate-answer":
        return RESULT, ""
    if fault == "wrong-command-code":
        return UNEXPECTED, ""
    if fault == "short-answer":
        return SHORT_ANSWER[family.name], ""
    if fault == "bulk-in-stalled":
        return TIMEOUT, ""
    if fault == "bulk-in-short":
        return TIMEOUT, ""
    if fault == "notification-flood":
        return RESULT, ""
    raise KeyError(fault)


def rows() -> List[Any]:
    params = []
    for fault in FAULTS:
        for family in FAMILIES:
            if fault in BULK_ONLY and not family.bulk:
                continue
            outcome, defects = expected(fault, family)
            reason = "; ".join(DEFECTS[d] for d in defects)
            marks = [pytest.mark.xfail(strict=True, reason=reason)] if defects else []
            params.append(pytest.param(family.name, fault, outcome, marks=marks,
                                       id=f"{family.name}-{fault}"))
    return params


@pytest.fixture(scope="module")
def closer() -> Iterator[Callable[[Bench], None]]:
    """Closes each row's bench on a thread of its own, so that the rows do
    not wait one after the other for a reader thread to notice the end of
    its connection; the last of them are joined when the module ends."""
    threads: List[threading.Thread] = []

    def close(bench: Bench) -> None:
        threads.append(threading.Thread(target=bench.close))
        threads[-1].start()

    yield close
    for thread in threads:
        thread.join()


@pytest.mark.parametrize("family_name, fault, outcome", rows())
def test_fault(closer: Callable[[Bench], None], family_name: str, fault: str, outcome: object) -> None:
    bench = Bench(FAMILY[family_name])
    try:
        FAULTS[fault](bench, outcome)
    finally:
        closer(bench)


# The README prints the matrix as two tables: the controller families of the
# serial peripherals, then those of I3C and the target roles.
TABLES = [FAMILIES[:8], FAMILIES[8:]]


def markdown_table() -> str:
    """The matrix as Markdown: faults down, families across, each cell the
    faulted call's outcome; then the notes on the defects."""
    lines: List[str] = []
    for families in TABLES:
        if lines:
            lines.append("")
        lines += ["| fault | " + " | ".join(f.name for f in families) + " |",
                  "|---" * (len(families) + 1) + "|"]
        for fault in FAULTS:
            cells = []
            for family in families:
                if fault in BULK_ONLY and not family.bulk:
                    cells.append("")
                    continue
                outcome, defects = expected(fault, family)
                cells.append(str(outcome) + "".join(f" ({d})" for d in defects))
            lines.append(f"| {fault} | " + " | ".join(cells) + " |")
    if DEFECTS:
        lines.append("")
        lines.extend(f"({d}) Fails today, {text}." for d, text in DEFECTS.items())
    return "\n".join(lines)


if __name__ == "__main__":
    print(markdown_table())
