# SPDX-License-Identifier: MIT
"""pyvantorsdk.sim: traffic records, scripted handlers, injection, plugging
and the adapter's settings, as a test double must provide them."""

from __future__ import annotations

import gc
import logging
import struct
import subprocess
import sys
import tempfile
import textwrap
import threading
import weakref

import pytest

from helpers import I3C_RATES, command_of, i3c_entry, response, uart_rx
from pyvantorsdk import DeviceFacade, enumerate_devices, errors, sim

PID = 0x0A0000000001


def test_records_counts_and_clear(adapter, dev):
    adapter.clear()
    dev.get_usb_config()
    request = adapter.requests[0]
    assert command_of(request) == 0x040E
    assert struct.unpack_from("<H", request)[0] != 0  # a real transaction id
    report = adapter.reports[0]
    assert report[0] == 0 and len(report) == adapter.report_size + 1
    assert adapter.malformed_reports == 0
    adapter.set_recording(False)
    dev.get_usb_config()  # counted, not recorded
    adapter.set_recording(True)
    assert len(adapter.requests) == 1
    assert adapter.wait_for_requests(2) and not adapter.wait_for_requests(3, timeout=0.05)
    with pytest.raises(ValueError):  # NaN once waited for good
        adapter.wait_for_requests(1, float("nan"))
    adapter.clear()
    assert adapter.requests == [] and adapter.reports == [] and adapter.bulk_received == b""


class TestHandler:
    def test_answers_until_the_firmware_is_restored(self, adapter, dev, events):

        def handler(request):
            adapter.send(uart_rx(b"side"))  # injecting from inside the handler
            return [uart_rx(b"before"), response(request, 0, b"\x00\x01\x04")]

        adapter.set_handler(handler)
        assert dev.get_usb_config() == (0, 1, 4)
        assert events.wait_for(2)
        assert sorted(n.data for n in events.items) == [b"before", b"side"]
        adapter.set_handler(lambda request: response(request, 0, b"\x01\x01\x04"))
        assert dev.get_usb_config() == (1, 1, 4)
        adapter.set_handler(None)
        assert dev.get_usb_config() == (0, 0, 0)

    @pytest.mark.parametrize("bad", ["raise", "not bytes", [b"ok", 3]])
    def test_failing_handler_is_logged_and_answers_nothing(self, adapter, caplog, bad):
        def handler(request):
            if bad == "raise":
                raise ValueError("handler failed")
            return bad

        adapter.set_handler(handler)
        with DeviceFacade(timeout_ms=50) as dev, caplog.at_level(logging.ERROR, "pyvantorsdk.backend"):
            assert dev.connect(adapter.path)
            with pytest.raises(errors.VantorTimeoutError):
                dev.get_usb_config()
        records = [r for r in caplog.records if r.name == "pyvantorsdk.backend"]
        assert records and records[0].levelno == logging.ERROR

    def test_handler_replaced_while_threads_make_requests(self, adapter, dev):
        # The facade releases the interpreter lock while it waits; the handler
        # takes it on each writing thread while another thread replaces it.
        answers = [lambda r, n=n: response(r, 0, bytes([0, 0, n])) for n in range(3)]
        adapter.set_handler(answers[0])
        stop = threading.Event()
        results = []

        def swap():
            i = 0
            while not stop.is_set():
                adapter.set_handler(answers[i % 3])
                i += 1

        def ask():
            results.extend(dev.get_usb_config()[2] for _ in range(25))

        swapper = threading.Thread(target=swap)
        askers = [threading.Thread(target=ask) for _ in range(4)]
        for t in [swapper, *askers]:
            t.start()
        for t in askers:
            t.join()
        stop.set()
        swapper.join()
        assert len(results) == 100 and set(results) <= {0, 1, 2}

    def test_handler_closing_over_its_adapter_is_collected(self):
        # Built in a function of its own: deleting a local that a closure
        # captures would empty the cell and break the cycle by hand.
        def adapter_in_a_cycle():
            adapter = sim.VirtualAdapter(serial="SIM-CYCLE")
            adapter.set_handler(lambda request: adapter.send(uart_rx(b"x")))
            return adapter.path, weakref.ref(adapter)

        path, ref = adapter_in_a_cycle()
        gc.collect()
        assert ref() is None
        # Collecting it closed the adapter.
        assert path not in [d.path for d in enumerate_devices(0, 0)]


class TestPlugging:
    def test_unplugged_adapter_leaves_the_enumeration(self):
        def paths():
            return [d.path for d in enumerate_devices(adapter.vendor_id, adapter.product_id)]

        with sim.VirtualAdapter(plugged=False) as adapter, DeviceFacade() as dev:
            assert adapter.path not in paths() and not adapter.plugged
            assert not dev.connect(adapter.path)
            adapter.plug()
            assert adapter.path in paths() and adapter.plugged
            assert dev.connect(adapter.path)
            adapter.unplug()
            assert adapter.path not in paths()

    def test_closed_adapter_is_unlisted_and_refuses_traffic(self):
        adapter = sim.VirtualAdapter(serial="SIM-CLOSE")
        path = adapter.path
        adapter.close()
        assert adapter.closed
        assert path not in [d.path for d in enumerate_devices(0, 0)]
        with pytest.raises(RuntimeError):
            adapter.send(b"\x00" * 6)
        adapter.close()  # twice is harmless


class TestBench:
    # All benches reach their adapter through one holder: those with a repr of their own.
    @pytest.mark.parametrize("part", ["system", "i2c", "spi", "i3c"])
    def test_each_part_raises_once_its_adapter_is_closed(self, part):
        adapter = sim.VirtualAdapter(serial="SIM-BENCH")
        bench = getattr(adapter, part)
        adapter.close()
        with pytest.raises(RuntimeError, match="closed"):
            repr(bench)

    REFUSED = {
        "i2c-bus-out-of-range": lambda a: a.i2c.attach_eeprom(2, 0x50),
        "eeprom-size-not-page-multiple": lambda a: a.i2c.attach_eeprom(0, 0x50, size=100,
                                                                       page_size=16),
        "i2c-address-taken": lambda a: (a.i2c.attach_register_map(0, 0x50),
                                        a.i2c.attach_register_map(0, 0x50)),
        "i2c-write-to-nobody": lambda a: a.i2c.write_memory(0, 0x51, 0, b"\x00"),
        "spi-chip-select-out-of-range": lambda a: a.spi.attach_flash(4),
        "jedec-id-not-three-bytes": lambda a: a.spi.attach_flash(0, jedec_id=b"\x01\x02"),
        "gpio-pin-out-of-range": lambda a: a.gpio.drive_input(6, 1),
        "gpio-level-not-0-or-1": lambda a: a.gpio.drive_input(0, 2),
    }

    @pytest.mark.parametrize("attach", REFUSED.values(), ids=REFUSED.keys())
    def test_refused_set_ups_raise_value_error(self, adapter, attach):
        with pytest.raises(ValueError):
            attach(adapter)

    def test_bulk_capabilities_reach_the_host(self, adapter, dev):
        capabilities = sim.BulkCapabilities(
            capability_info=1, supported=True,
            groups=[sim.BulkGroup(group=2, max_payload=512, command_mask=0x180)])
        adapter.system.set_bulk_capabilities(capabilities)
        assert adapter.system.bulk_capabilities == capabilities
        assert dev.get_bulk_capabilities() == (1, True, [(2, 512, 0x180)])


class TestInputQueue:
    # The bound crosses from Python (None: no bound); the queue itself is the
    # C++ suite's. The host interface's queue is read by nobody.
    def test_bound_can_be_changed_and_removed(self, adapter):
        with adapter.open_host():
            adapter.faults.limit_input_queue(2)
            adapter.notify(0x1081, count=5)
            assert adapter.dropped_reports == 3
            adapter.clear()
            adapter.faults.limit_input_queue(None)
            adapter.notify(0x1081, count=500)
            assert adapter.dropped_reports == 0

    # An interrupt whose notification was lost is not reported as delivered.
    @pytest.mark.parametrize("lose", [
        lambda adapter, dev: adapter.faults.limit_input_queue(0),
        lambda adapter, dev: dev.disconnect(),
    ], ids=["queue-full", "no-connection"])
    def test_raise_ibi_is_false_when_the_notification_was_lost(self, adapter, dev, lose):
        adapter.i3c.attach_target(PID, static_address=0x50)
        dev.i3c_controller_init(*I3C_RATES)
        dev.i3c_init_bus([i3c_entry(PID, static=0x50, dynamic=0x30)])
        assert adapter.i3c.raise_ibi(PID, b"\x01") is True
        lose(adapter, dev)
        assert adapter.i3c.raise_ibi(PID, b"\x02") is False


class TestDurations:
    @pytest.mark.parametrize(
        "rate, error",
        [(float("nan"), ValueError), (-1.0, ValueError), ("fast", TypeError)],
        ids=["nan", "negative", "not-a-number"],
    )
    def test_refused_burst_rates(self, adapter, rate, error):
        with pytest.raises(error):
            adapter.notify(0x1081, count=2, rate=rate)
        assert adapter.dropped_reports == 0

    # Durations too long for the clock cross from Python as "no limit"
    # instead of overflowing.
    @pytest.mark.parametrize("delay", [float("inf"), 2.0**63], ids=["inf", "2**63"])
    def test_endless_response_delay_holds_answers_back(self, adapter, delay):
        adapter.faults.set_response_delay(delay)
        with DeviceFacade(timeout_ms=50) as dev:
            assert dev.connect(adapter.path)
            with pytest.raises(errors.VantorTimeoutError):
                dev.get_usb_config()


def test_handler_calling_back_into_a_facade():
    # A handler runs on the thread that holds the facade's request lock: a
    # call back into that facade is refused (disconnect returns) at once; a
    # call into another facade is served. In a fresh interpreter, so that a
    # hang fails this test instead of the suite.
    script = textwrap.dedent(
        """
        import struct
        from pyvantorsdk import DeviceFacade, errors, sim
        adapter = sim.VirtualAdapter()
        dev = DeviceFacade(timeout_ms=2000)
        assert dev.connect(adapter.path)
        outcomes = []
        def reentering(call):
            def handler(request):
                try:
                    outcomes.append("returned " + repr(call()))
                except errors.VantorError as e:
                    outcomes.append("refused " + type(e).__name__)
                return request[:4] + struct.pack("<H", 0) + b"\\x00\\x00\\x00"
            return handler
        for call in (lambda: dev.i2c_read(0, 0x50, b'', 1, False), dev.disconnect):
            adapter.set_handler(reentering(call))
            assert dev.get_usb_config() == (0, 0, 0)
            adapter.set_handler(None)
            assert "disconnected" not in repr(dev) and dev.get_usb_config() == (0, 0, 0)
        print(outcomes)
        other_adapter = sim.VirtualAdapter(serial="OTHER")
        other = DeviceFacade(timeout_ms=2000)
        assert other.connect(other_adapter.path)
        def handler(request):
            config = other.get_usb_config()
            return request[:4] + struct.pack("<H", 0) + bytes(config)
        adapter.set_handler(handler)
        other_adapter.set_handler(lambda r: r[:4] + b"\\x00\\x00\\x01\\x01\\x04")
        print(dev.get_usb_config())
        """
    )
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=60, cwd=tempfile.gettempdir())
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["['refused ProtocolError', 'returned None']", "(1, 1, 4)"]


class TestTiming:
    @pytest.mark.parametrize("kwargs, message", [
        (dict(model=sim.DeviceModel.QUILLEX, timing="full-speed"), "need high speed"),
        (dict(timing="warp"), "timing is"),
        (dict(timing="high-speed", time_scale=0.0), "time scale"),
        (dict(timing="high-speed", time_scale=float("nan")), "time scale"),
        (dict(timing="high-speed", reception_queue_depth=0), "at least one request"),
    ], ids=["quillex-full-speed", "unknown-speed", "zero-scale", "nan-scale", "empty-queue"])
    def test_settings_the_hardware_cannot_run_are_refused(self, kwargs, message):
        with pytest.raises(ValueError, match=message):
            sim.VirtualAdapter(**kwargs)

    # The native figures as Python sees them, in seconds.
    @pytest.mark.parametrize("figure, seconds", [
        (lambda: sim.TimingModel("full-speed").round_trip(20, 70), 0.003),
        (lambda: sim.TimingModel("full-speed").bulk(1216), 0.001),
        (lambda: sim.TimingModel.i2c_bytes(1, 100_000), 0.0002),
        (lambda: sim.TimingModel.uart_bytes(1, 9600, parity=True, stop_bits=2), 0.00125),
        (lambda: sim.TimingModel.flash_erase("chip", 8 << 20), 20.0),
    ], ids=["round-trip", "bulk", "i2c", "uart-8e2", "chip-erase"])
    def test_model_figures(self, figure, seconds):
        assert figure() == pytest.approx(seconds)

    @pytest.mark.parametrize("build", [
        lambda: sim.TimingModel("full-speed", sim.DeviceModel.QUILLEX),
        lambda: sim.TimingModel("off"),
        lambda: sim.TimingModel.flash_erase("8k"),
    ], ids=["quillex-full-speed", "off", "unknown-erase"])
    def test_model_refusals(self, build):
        with pytest.raises(ValueError):
            build()

    def test_timed_adapter_serves_the_firmware_and_handlers(self):
        with sim.VirtualAdapter(timing="high-speed", time_scale=100) as adapter, \
                DeviceFacade() as dev:
            adapter.i2c.attach_register_map(0, 0x20)
            dev.connect(adapter.path)
            dev.i2c_controller_init(0, 400_000, 0)
            dev.i2c_write(0, 0x20, b"\x05", b"\xaa\xbb", False)
            assert dev.i2c_read(0, 0x20, b"\x05", 2, False) == b"\xaa\xbb"
            adapter.set_handler(lambda request: response(request, 0, b"\x01\x01\x04"))
            assert dev.get_usb_config() == (1, 1, 4)
