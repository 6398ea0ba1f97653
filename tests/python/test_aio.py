# SPDX-License-Identifier: MIT
"""pyvantorsdk.aio on virtual adapters: the same results and exceptions as
DeviceFacade, events under a storm, cancellation, several adapters on one
loop (which also shows the loop runs while a call waits), unplugging, and
closing with calls in flight. Stale answers are the fault matrix's."""

from __future__ import annotations

import asyncio
import gc
import logging
import queue
import re
import struct
import threading
import tracemalloc
import weakref
from types import SimpleNamespace

import pytest

from helpers import I3C_RATES, UART_8N1, command_of, response, uart_rx
from pyvantorsdk import (
    DeviceFacade,
    I2cBus,
    I2cPullUp,
    aio,
    errors,
    sim,
)


def run(coroutine):
    """Runs a test's coroutine on a fresh loop, failing instead of hanging."""
    return asyncio.run(asyncio.wait_for(coroutine, 30))


async def remaining(events):
    return [e.data async for e in events]


def bench(adapter):
    adapter.i2c.attach_eeprom(I2cBus.A, 0x50)
    adapter.i2c.write_memory(0, 0x50, 0, b"hello")
    adapter.i3c.attach_target(0x0123456789AB, bcr=0x07, dcr=0xC5, static_address=0x50)


# Each case is a list of calls, run in order on a fresh adapter; what each
# returns or raises is compared between DeviceFacade and aio. Every
# operation is forwarded the same way: one case per kind of result and
# exception, and the target dictionaries.
SAMPLES = {
    "system": [lambda d: d.get_usb_config(), lambda d: d.get_version()],
    "i2c-nack": [lambda d: d.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7),
                 lambda d: d.i2c_read(I2cBus.A, 0x50, b"\x00", 5, False),
                 lambda d: d.i2c_read(I2cBus.A, 0x33, b"", 1, False)],
    "refused-before-sending": [lambda d: d.i2c_write(I2cBus.A, 0x50, bytes(5), b"x", False)],
    "argument-type": [lambda d: d.uart_init(4, *UART_8N1[1:])],
    "i3c": [lambda d: d.i3c_controller_init(*I3C_RATES), lambda d: d.i3c_init_bus(),
            lambda d: d.i3c_get_device_table(), lambda d: d.i3c_ccc_getbcr(0x33)],
}


def outcome(call):
    try:
        return ("result", repr(call()))
    except Exception as e:
        return ("error", type(e), getattr(e, "status_code", None), getattr(e, "operation", None))


async def async_outcome(call):
    try:
        return ("result", repr(await call()))
    except Exception as e:
        return ("error", type(e), getattr(e, "status_code", None), getattr(e, "operation", None))


@pytest.mark.parametrize("calls", list(SAMPLES.values()), ids=list(SAMPLES))
def test_results_and_exceptions_match_the_blocking_facade(calls):
    with sim.VirtualAdapter(serial="SAME") as adapter, DeviceFacade() as dev:
        bench(adapter)
        assert dev.connect(adapter.path)
        expected = [outcome(lambda c=c: c(dev)) for c in calls]

    async def main(adapter):
        async with aio.open(adapter.path) as dev:
            return [await async_outcome(lambda c=c: c(dev)) for c in calls]

    with sim.VirtualAdapter(serial="SAME") as adapter:
        bench(adapter)
        assert run(main(adapter)) == expected


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(), errors.NoAdapterError,
     "no adapter found (connect failed: SDK_ERROR_DISCONNECT (0x4000))\nhint: check the cable"),
    (dict(path="sim:absent"), errors.NoAdapterError, "no adapter at sim:absent (connect failed"),
    (dict(serial="absent"), errors.NoAdapterError, "no adapter with serial number absent ("),
    (dict(path="sim:0", serial="x"), ValueError, None),
    (dict(timeout=-1), ValueError, "from 0 to 2147483.647 seconds"),
    (dict(timeout=float("nan")), ValueError, "from 0 to 2147483.647 seconds"),
    (dict(timeout=3e6), ValueError, "from 0 to 2147483.647 seconds"),
    (dict(timeout="2"), TypeError, "number of seconds"),
    (dict(timeout=True), TypeError, "number of seconds"),
], ids=["none-attached", "unknown-path", "unknown-serial", "path-and-serial", "negative-timeout", "nan-timeout",
        "timeout-beyond-range", "timeout-not-a-number", "timeout-bool"])
def test_open_refusals(kwargs, error, message):
    async def main():
        with pytest.raises(error, match=message and re.escape(message)):
            await aio.connect(**kwargs)

    run(main())


@pytest.mark.parametrize("timeout, milliseconds", [
    (0.0004, 1), (2.007, 2007), (0, 0), (2147483.647, 2**31 - 1),
    (float("inf"), -1), (None, -1),
], ids=["below-a-millisecond-waits-one", "exact-milliseconds-kept", "zero",
        "largest", "inf-is-no-limit", "none-is-no-limit"])
def test_timeout_in_whole_milliseconds(timeout, milliseconds):
    assert aio._timeout_ms(timeout) == milliseconds


class TestEvents:
    def test_events_in_order_with_the_overflow_counted(self, adapter, caplog):
        count, chunk, small = 2000, 16, 8
        messages = [uart_rx(struct.pack("<H", i)) for i in range(count)]

        async def main():
            async with aio.open(adapter.path) as dev:
                with caplog.at_level(logging.WARNING, logger="pyvantorsdk.aio"):
                    async with dev.events(maxsize=chunk) as everything, \
                            dev.events(maxsize=small) as slow:
                        got = []
                        # Chunks small enough for the adapter's input queue.
                        for first in range(0, count, chunk):
                            for m in messages[first:first + chunk]:
                                adapter.send(m)
                            got += [await everything.__anext__() for _ in range(chunk)]
                        assert [e.payload for e in got] == messages
                        assert everything.dropped == 0
                        # The slow subscriber kept the newest ones.
                        assert (slow.dropped, dev.dropped_events) == (count - small, count - small)
                        slow.close()
                        assert [e.payload async for e in slow] == messages[-small:]

        run(main())
        warnings = [r for r in caplog.records if r.name == "pyvantorsdk.aio"]
        assert len(warnings) == 1 and warnings[0].levelno == logging.WARNING

    def test_subscribers_see_what_arrives_after_they_subscribe(self, adapter):
        async def main():
            async with aio.open(adapter.path) as dev:
                with pytest.raises(ValueError):
                    dev.events(maxsize=0)
                early = dev.events()
                adapter.send(uart_rx(b"one"))
                assert (await early.__anext__()).data == b"one"
                late = dev.events()
                adapter.send(uart_rx(b"two"))
                assert (await early.__anext__()).data == b"two"
                assert (await late.__anext__()).data == b"two"
            # Closing the device ends every subscription.
            assert [e async for e in early] == [] and [e async for e in late] == []
            assert [e async for e in dev.events()] == []

        run(main())

    @pytest.mark.parametrize("ending", ["stream-closed", "device-closed"])
    def test_every_task_iterating_a_stream_ends(self, adapter, ending):
        async def main():
            async with aio.open(adapter.path) as dev:
                events = dev.events()
                readers = [asyncio.create_task(remaining(events)) for _ in range(2)]
                await asyncio.sleep(0)  # both readers now wait for an event
                if ending == "device-closed":
                    await dev.close()
                else:
                    events.close()
                assert await asyncio.wait_for(asyncio.gather(*readers), 10) == [[], []]

        run(main())

    @pytest.mark.parametrize("maxsizes, kept", [
        ([], 0), ([4, 16], 16),
    ], ids=["no-subscription-keeps-none", "largest-subscription-bounds"])
    def test_events_held_while_the_loop_is_not_running_are_bounded(self, adapter, maxsizes, kept):
        count, size = 20_000, 1000
        loop = asyncio.new_event_loop()
        try:
            dev = loop.run_until_complete(aio.connect(adapter.path))
            streams = [dev.events(maxsize) for maxsize in maxsizes]
            tracemalloc.start()
            try:
                for i in range(count):  # as the delivery thread does while the loop stands
                    dev._router(SimpleNamespace(data=i.to_bytes(size, "little")))
                assert tracemalloc.get_traced_memory()[0] < (kept + 100) * size
            finally:
                tracemalloc.stop()
            loop.run_until_complete(dev.close())  # runs the drain queued before it
            for stream in streams:  # the newest are kept, every other one counted
                assert stream.dropped == count - stream.maxsize
                assert loop.run_until_complete(remaining(stream)) == [
                    i.to_bytes(size, "little") for i in range(count - stream.maxsize, count)]
        finally:
            loop.close()


class Gate:
    """A request handler that holds the first request until released and
    answers get_usb_config with the number of the request (1, 2, ...)."""

    def __init__(self):
        self.entered = threading.Event()
        self.release = threading.Event()
        self.seen = []

    def __call__(self, request):
        self.seen.append(request)
        if len(self.seen) == 1:
            self.entered.set()
            self.release.wait(10)
        return response(request, payload=bytes([1, 0, len(self.seen)]))

    async def wait_entered(self):
        assert await asyncio.to_thread(self.entered.wait, 10)


def test_cancelled_calls_never_take_a_later_answer(adapter):
    gate = Gate()

    async def main():
        async with aio.open(adapter.path) as dev:
            adapter.set_handler(gate)
            on_the_wire = asyncio.create_task(dev.get_usb_config())
            queued = asyncio.create_task(dev.get_usb_config())
            await gate.wait_entered()
            on_the_wire.cancel()
            queued.cancel()
            for task in (on_the_wire, queued):
                with pytest.raises(asyncio.CancelledError):
                    await task
            gate.release.set()
            # The next call is the second request: its own answer, not the
            # first request's (which the worker takes and throws away).
            assert await dev.get_usb_config() == (1, 0, 2)
            assert len(gate.seen) == 2 and command_of(gate.seen[0]) == command_of(gate.seen[1])

    run(main())


def test_two_adapters_from_one_loop(adapter):
    both_inside = threading.Barrier(2, timeout=10)

    def answer_with(mode):
        def handler(request):
            both_inside.wait()  # neither answers until both requests are out
            return response(request, payload=bytes([1, 0, mode]))
        return handler

    async def main(other):
        async with aio.open(adapter.path) as first, aio.open(other.path) as second:
            adapter.set_handler(answer_with(1))
            other.set_handler(answer_with(2))
            assert await asyncio.gather(first.get_usb_config(), second.get_usb_config()) == [
                (1, 0, 1), (1, 0, 2)]

    with sim.VirtualAdapter() as other:
        run(main(other))


class TestConnectionLost:
    def test_facade_announces_each_loss_after_the_earlier_events(self, adapter):
        seen = []
        losses = queue.Queue()
        arrived, go = threading.Event(), threading.Event()

        def on_event(event):
            arrived.set()
            assert go.wait(10)  # holds the delivery thread until the unplug
            seen.append(event.data)

        def on_lost():
            seen.append("lost")
            losses.put(threading.current_thread())

        with DeviceFacade() as dev:
            with pytest.raises(TypeError):
                dev.on_connection_lost(42)
            dev.on_notification(on_event)
            dev.on_connection_lost(on_lost)
            for text in (b"one", b"two"):
                arrived.clear()
                go.clear()
                assert dev.connect(adapter.path)
                adapter.send(uart_rx(text))
                assert arrived.wait(10)
                adapter.unplug()
                go.set()
                assert losses.get(timeout=10) is not threading.current_thread()
                dev.disconnect()
                adapter.plug()
            assert seen == [b"one", "lost", b"two", "lost"]

    def test_idle_device_ends_its_events_on_unplug(self, adapter):
        async def main():
            async with aio.open(adapter.path) as dev:
                async with dev.events() as events:
                    adapter.send(uart_rx(b"last"))
                    assert (await events.__anext__()).data == b"last"

                    async def iterate():
                        return [e.data async for e in events]

                    iterating = asyncio.create_task(iterate())
                    adapter.unplug()  # no call runs: only the loss itself ends it
                    assert await iterating == []
                # The device stays open: once the adapter is back, it answers
                # again and a new subscription gets its events.
                adapter.plug()
                await dev.get_usb_config()
                async with dev.events() as events:
                    adapter.send(uart_rx(b"back"))
                    assert (await events.__anext__()).data == b"back"

        run(main())


@pytest.mark.parametrize("ending", ["close", "unplug"])
def test_ending_with_calls_in_flight(adapter, ending):
    """With no time-out, a call the adapter never answers is ended by close()
    as by an unplug. A queued call whose task is cancelled in the same loop
    step as the ending (as at the end of an async with block) is withdrawn;
    the call queued behind it fails with DisconnectError."""
    sent, lost, hold = threading.Event(), threading.Event(), threading.Event()

    def never_answer(request):
        sent.set()
        if ending == "unplug":
            hold.wait(10)  # keeps the worker from the queued calls until the loss is handled

    async def main():
        dev = await aio.connect(adapter.path, timeout=None)
        worker = dev._worker._thread
        announce = dev._router.connection_lost
        dev._facade.on_connection_lost(lambda: (announce(), lost.set()))
        events = dev.events()
        adapter.set_handler(never_answer)
        running = asyncio.create_task(dev.get_usb_config())
        cancelled = asyncio.create_task(dev.get_version())
        behind = asyncio.create_task(dev.reset_device())
        try:
            assert await asyncio.to_thread(sent.wait, 10)
            if ending == "unplug":
                adapter.unplug()
                assert lost.wait(10)  # the loss now waits in the loop's queue
            cancelled.cancel()
            if ending == "close":
                await asyncio.wait_for(dev.close(), 10)
            with pytest.raises(errors.DisconnectError) as info:
                await asyncio.wait_for(behind, 10)
            assert info.value.operation == "reset_device"
            hold.set()
            with pytest.raises(errors.DisconnectError):
                await asyncio.wait_for(running, 10)
            assert cancelled.cancelled()
            assert await asyncio.wait_for(remaining(events), 10) == []
        finally:
            hold.set()
            await asyncio.wait_for(dev.close(), 10)  # again, or the first time
        assert dev.closed and "disconnected" in repr(dev._facade)
        await asyncio.to_thread(worker.join, 10)
        assert not worker.is_alive()
        with pytest.raises(errors.DisconnectError):
            await dev.get_usb_config()

    run(main())


def test_a_device_belongs_to_its_loop_and_dropped_unclosed_is_collected(adapter):
    async def opened():
        dev = await aio.connect(adapter.path)
        dev.events()  # an open subscription must not keep the device alive
        return dev

    dev = run(opened())

    async def elsewhere(dev):
        with pytest.raises(RuntimeError):
            await dev.reset_device()

    run(elsewhere(dev))
    device, worker = weakref.ref(dev), dev._worker._thread
    del dev
    gc.collect()
    assert device() is None
    worker.join(10)
    assert not worker.is_alive()

