# SPDX-License-Identifier: MIT
"""AsyncDeviceFacade against the virtual adapter: transaction ids as given,
raw responses at the response callback, notifications at theirs in order
with the responses, short messages dropped, and every command family
reachable. The notification objects themselves are test_notifications.py's."""

from __future__ import annotations

import gc
import logging
import struct
import weakref

import pytest

from helpers import Collector, command_of, notification, response, uart_rx
from pyvantorsdk import (
    AsyncDeviceFacade,
    StatusCode,
)

DISCONNECT = StatusCode.SDK_ERROR_DISCONNECT.value
WRONG_REQUEST = StatusCode.SDK_ERROR_WRONG_REQUEST.value
PID = bytes([0x01, 0x23, 0x45, 0x67, 0x89, 0xAB])
CCC_CODE = 0x1909


@pytest.fixture
def facade(adapter):
    f = AsyncDeviceFacade()
    assert f.connect(adapter.path)
    yield f
    f.disconnect()


@pytest.fixture
def responses(facade):
    c = Collector()
    facade.on_async_response(c)
    return c


@pytest.fixture
def events(facade):
    c = Collector()
    facade.on_notification(c)
    return c


def barrier(adapter, events, count):
    """Sends one more notification and waits until `count` notifications have
    arrived: every message the adapter sent before has then been handled."""
    adapter.send(notification(0x7777, b"barrier"))
    assert events.wait_for(count)


@pytest.mark.parametrize("call", [
    lambda f: f.reset_device(1),
    lambda f: f.i3c_ccc_transfer(3, 0x7E, 0, 0, 0, 0, 0, 0, 0),
    lambda f: f.get_bulk_capabilities(4),
], ids=["shared-command", "raw-ccc", "bulk-query"])
def test_before_connect_the_status_is_disconnect(call):
    assert call(AsyncDeviceFacade()) == DISCONNECT


@pytest.mark.parametrize("call, message", [
    (lambda f: f.reset_device(0x10000), "invalid id 65536"),
    (lambda f: f.i3c_sdr_read(1, 0x30, b"", 0x10000), "invalid length 65536"),
    (lambda f: f.get_bulk_capabilities(-1), "invalid id -1"),
    (lambda f: f.i3c_ccc_transfer(3, 0x7E, 0, 0, 0, 0, 256, 0, 0), "invalid payload_length 256"),
], ids=["command-id", "command-argument", "query-id", "raw-ccc-field"])
def test_out_of_range_integers_name_the_argument(call, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        call(AsyncDeviceFacade())


class TestResponses:
    def test_ids_go_out_unchanged_and_the_raw_answer_comes_back(self, adapter, facade, responses):
        answers = {0x1234: b"\x01\x02", 0xFFFF: b"", 1: b"\xff" * 40}
        adapter.set_handler(lambda r: response(r, status=0x0701, payload=answers[r[0] | r[1] << 8]))
        for tid in answers:
            assert facade.gpio_digital_read(tid, 2) == 0
        assert responses.wait_for(3)
        assert [struct.unpack_from("<H", r)[0] for r in adapter.requests] == list(answers)
        assert responses.items == [response(r, 0x0701, answers[tid])
                                   for r, tid in zip(adapter.requests, answers)]
        assert all(type(item) is bytes for item in responses.items)

    def test_without_a_callback_responses_are_dropped(self, adapter, facade, events):
        adapter.set_handler(lambda r: response(r, payload=r[:2]))
        assert facade.get_usb_config(5) == 0
        barrier(adapter, events, 1)  # the answer to 5 has been handled
        late = Collector()
        facade.on_async_response(late)
        assert facade.get_usb_config(6) == 0
        assert late.wait_for(1)
        barrier(adapter, events, 2)
        assert [struct.unpack_from("<H", r)[0] for r in late.items] == [6]

    @pytest.mark.parametrize("message", [b"\x05\x00\x01\x02\x03", b"\x00\x00\x81\x10\x00"],
                             ids=["response-id", "notification-id"])
    def test_five_byte_messages_reach_neither_callback(self, adapter, facade, responses, events,
                                                       message):
        adapter.send(message)
        barrier(adapter, events, 1)
        assert responses.items == []
        assert [n.payload for n in events.items] == [notification(0x7777, b"barrier")]

    def test_a_raising_callback_is_logged_and_delivery_goes_on(self, adapter, facade, caplog):
        received = Collector()

        def callback(message):
            received(message)
            if len(received.items) == 1:
                raise RuntimeError("first answer refused")

        facade.on_async_response(callback)
        adapter.set_handler(lambda r: response(r))
        with caplog.at_level(logging.ERROR, logger="pyvantorsdk.backend"):
            assert facade.reset_device(7) == 0
            assert facade.reset_device(8) == 0
            assert received.wait_for(2)
        assert [struct.unpack_from("<H", m)[0] for m in received.items] == [7, 8]
        assert any("first answer refused" in r.getMessage() for r in caplog.records)

    def test_responses_and_notifications_keep_their_order(self, adapter, facade):
        seen = Collector()
        facade.on_async_response(lambda m: seen(("response", struct.unpack_from("<H", m)[0])))
        facade.on_notification(lambda n: seen(("event", n.data)))

        def handler(request):
            tid = struct.unpack_from("<H", request)[0]
            return [uart_rx(bytes([tid])), response(request)]

        adapter.set_handler(handler)
        for tid in range(1, 6):
            assert facade.reset_device(tid) == 0
        assert seen.wait_for(10)
        assert seen.items == [item for tid in range(1, 6)
                              for item in (("event", bytes([tid])), ("response", tid))]


class TestRawCcc:
    def test_data_is_appended_to_the_header_and_may_be_empty(self, adapter, facade):
        adapter.set_handler(lambda r: None)
        assert facade.i3c_ccc_transfer(1, 0x7E, 0, 0, 0, 0, 0, 0x00, 0) == 0
        assert facade.i3c_ccc_transfer(2, 0x7E, 0, 0, 0, 0, 0, 0x00, 0, b"") == 0
        assert facade.i3c_ccc_transfer(3, 0x7E, 0, 0, 0, 0, 2, 0x00, 0, b"\xaa\xbb") == 0
        assert adapter.wait_for_requests(3)
        without, empty, two = adapter.requests
        assert len(without) == 9 and command_of(without) == CCC_CODE
        assert empty[2:] == without[2:]
        assert two[:6] == struct.pack("<HH", 3, CCC_CODE) + without[4:6]
        assert two[9:] == b"\xaa\xbb"

    def test_data_on_a_read_is_refused_before_sending(self, adapter, facade):
        adapter.clear()
        assert facade.i3c_ccc_transfer(1, 0x30, 1, 0, 0, 0, 1, 0x8D, 0, b"\x01") == WRONG_REQUEST
        assert adapter.requests == []


def test_callbacks_closing_over_their_facade_are_collected(adapter):
    def connected_in_a_cycle():
        f = AsyncDeviceFacade()
        assert f.connect(adapter.path)
        f.on_async_response(lambda message: f)
        f.on_notification(lambda event: f)
        return weakref.ref(f)

    facade = connected_in_a_cycle()
    gc.collect()
    assert facade() is None


# The asynchronous side's own methods and one command of the shared table
# (every command of it is sent the same way), answered by the virtual
# adapter's firmware.
FAMILIES = {
    "system": lambda f, i: f.get_usb_config(i),
    "usb-string": lambda f, i: f.get_usb_string(i, 1),
    "analog": lambda f, i: f.get_analog_measurements(i),
    "bulk-query": lambda f, i: f.get_bulk_capabilities(i),
    "i3c-init-bus": lambda f, i: f.i3c_init_bus(i, []),
    "i3c-target": lambda f, i: f.i3c_target_init(i, 0, PID, 0, 0xC6, 0x08),
}


@pytest.mark.parametrize("call", list(FAMILIES.values()), ids=list(FAMILIES))
def test_every_family_is_answered(adapter, facade, responses, call):
    adapter.clear()
    assert call(facade, 0x0BCD) == 0
    assert responses.wait_for(1)
    answer = responses.items[0]
    assert struct.unpack_from("<HH", answer) == (0x0BCD, command_of(adapter.requests[0]))
    assert len(answer) >= 6
