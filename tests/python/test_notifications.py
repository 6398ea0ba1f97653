# SPDX-License-Identifier: MIT
"""Notification delivery: conversion of every kind, callback management and
the lifetime of facades with callbacks. Errors inside callbacks and calls
made from them are test_delivery.py's."""

from __future__ import annotations

import gc
import struct
import threading
import weakref

import pytest

from helpers import NOTIF_CODES, Collector, gpio_interrupt, notification, uart_rx
import pyvantorsdk
from pyvantorsdk import DeviceFacade

HJ_PID = bytes([0x11, 0x22, 0x33, 0x44, 0x55, 0x66])

# (message, class name, expected attributes). `payload` is the whole message
# unless the class replaces it with its own data.
CASES = [
    (notification(NOTIF_CODES["hot_join"], HJ_PID + bytes([0x27, 0xC6, 0x09]) + b"extra"),
     "I3cHotJoinNotification", {"pid": HJ_PID, "bcr": 0x27, "dcr": 0xC6, "dynamic_address": 9}),
    (notification(NOTIF_CODES["ibi"], bytes([0x08, 3, 0xA1, 0xA2, 0xA3])),
     "I3cIbiNotification", {"address": 8, "payload": b"\xa1\xa2\xa3"}),
    (gpio_interrupt(4, 2, 0),
     "GpioInterruptNotification", {"pin_number": 4, "triggered_edge": 2, "logic_level": 0}),
    (uart_rx(b"hello"), "UartRxNotification", {"data": b"hello"}),
    (notification(NOTIF_CODES["connector"], bytes([1, 0, 3])),
     "I3cConnectorEventNotification", {"port": 1, "event": 0, "connector_type": 3}),
    (notification(NOTIF_CODES["i2c_target"], bytes([2, 0x50]) + struct.pack("<HH", 0x1234, 16)),
     "I2cTargetBusEventNotification",
     {"event": 2, "target_address": 0x50, "memory_address": 0x1234, "payload_length": 16}),
    (notification(NOTIF_CODES["spi_target"], bytes([1, 3]) + struct.pack("<HH", 0x0100, 4)),
     "SpiTargetBusEventNotification",
     {"event": 1, "chip_select": 3, "memory_address": 0x0100, "payload_length": 4}),
    (notification(NOTIF_CODES["i3c_target"], bytes([0, 0x30]) + struct.pack("<HH", 0x20, 2) + b"\xde\xad",
                  header_word=0x0102),
     "I3cTargetBusEventNotification",
     {"kind": 0, "target_address": 0x30, "memory_address": 0x20, "payload": b"\xde\xad"}),
    # A CCC transfer carries no memory address and no data.
    (notification(NOTIF_CODES["i3c_target"], bytes([2, 0x30]) + struct.pack("<HH", 0x20, 2) + b"\xde\xad"),
     "I3cTargetBusEventNotification",
     {"kind": 2, "target_address": 0x30, "memory_address": 0, "payload": b""}),
    # No accessor for it (too short or unknown codes: NotificationTest.cpp).
    (notification(0x7777, b"\x01\x02"), "UnknownNotification", {}),
]


class TestConversion:
    @pytest.mark.parametrize("message, cls_name, attributes", CASES,
                             ids=[f"{c[1]}-{i}" for i, c in enumerate(CASES)])
    def test_each_kind(self, adapter, events, message, cls_name, attributes):
        adapter.send(message)
        assert events.wait_for(1)
        item = events.items[0]
        assert type(item) is getattr(pyvantorsdk, cls_name)
        assert isinstance(item, pyvantorsdk.Notification)
        for name, value in attributes.items():
            assert getattr(item, name) == value, name
        if "payload" not in attributes:
            assert item.payload == message  # the whole message, header included


@pytest.mark.parametrize("facade_class", [DeviceFacade, pyvantorsdk.AsyncDeviceFacade],
                         ids=["blocking", "async"])
def test_on_notification_returns_the_callback_it_replaces(facade_class):
    facade = facade_class()
    first = Collector()
    assert facade.on_notification(first) is None
    assert facade.on_notification(None) is first
    assert facade.on_notification(None) is None


class TestDelivery:
    def test_callback_none_and_replacement(self, adapter, dev):
        adapter.send(uart_rx(b"no callback yet"))
        dev.get_usb_config()  # the reader has handled the message by now
        first, second = Collector(), Collector()
        dev.on_notification(first)
        adapter.send(uart_rx(b"a"))
        assert first.wait_for(1)
        dev.on_notification(second)
        adapter.send(uart_rx(b"b"))
        assert second.wait_for(1)
        dev.on_notification(None)
        adapter.send(uart_rx(b"c"))
        dev.get_usb_config()
        assert [n.data for n in first.items] == [b"a"]
        assert [n.data for n in second.items] == [b"b"]

    def test_many_in_order_on_one_reader_thread(self, adapter, dev):
        # Thread-local data survives between callbacks only if the reader
        # keeps its thread state.
        local = threading.local()
        seen = Collector()

        def callback(item):
            local.count = getattr(local, "count", 0) + 1
            seen((threading.get_ident(), local.count, item))

        dev.on_notification(callback)
        adapter.faults.limit_input_queue(None)
        count = 2000
        for i in range(count):
            adapter.send(uart_rx(struct.pack("<I", i)))
        assert seen.wait_for(count, timeout=10)
        gc.collect()
        # The objects outlive their callbacks and the reader's buffers.
        assert [(c, struct.unpack("<I", item.data)[0]) for _, c, item in seen.items] == [
            (i + 1, i) for i in range(count)]
        assert len({ident for ident, _, _ in seen.items} | {threading.get_ident()}) == 2

    def test_set_callback_from_many_threads_while_delivering(self, adapter, dev):
        counters = [Collector() for _ in range(4)]
        stop = threading.Event()

        def swap(c):
            while not stop.is_set():
                dev.on_notification(c)

        adapter.faults.limit_input_queue(None)
        workers = [threading.Thread(target=swap, args=(c,)) for c in counters]
        for w in workers:
            w.start()
        for _ in range(300):
            adapter.send(uart_rx(b"s"))
        dev.get_usb_config()
        stop.set()
        for w in workers:
            w.join()
        final = Collector()
        dev.on_notification(final)
        adapter.send(uart_rx(b"end"))
        assert final.wait_for(1)
        assert sum(len(c.items) for c in counters) <= 300


class TestLifetime:
    def test_closure_over_its_own_facade_is_collected(self, adapter):
        # Built in a function of its own: deleting a local that a closure
        # captures would empty the cell and break the cycle by hand.
        def facade_in_a_cycle():
            dev = DeviceFacade()
            assert dev.connect(adapter.path)
            seen = Collector()
            dev.on_notification(lambda item: seen((item, dev)))  # refers to dev
            adapter.send(uart_rx(b"x"))
            assert seen.wait_for(1)
            seen.items.clear()
            return weakref.ref(dev)

        ref = facade_in_a_cycle()
        gc.collect()
        assert ref() is None
        # The adapter can be opened again: the collected facade closed it.
        with DeviceFacade() as other:
            assert other.connect(adapter.path)
            assert other.get_usb_config() == (0, 0, 0)

    def test_facade_destroyed_while_events_arrive(self, adapter):
        for _ in range(5):
            dev = DeviceFacade()
            assert dev.connect(adapter.path)
            received = Collector()
            dev.on_notification(received)
            for i in range(200):
                adapter.send(uart_rx(bytes([i % 256])))
            assert received.wait_for(1)
            del dev  # joins the reader thread, which may be waiting for the lock
            gc.collect()

    def test_callback_drops_the_last_reference_to_its_facade(self, adapter):
        holder = [DeviceFacade()]
        assert holder[0].connect(adapter.path)
        ref = weakref.ref(holder[0])
        done = threading.Event()

        def callback(item):
            holder.clear()  # the facade is destroyed here, on its own reader thread
            done.set()

        holder[0].on_notification(callback)
        adapter.send(uart_rx(b"x"))
        assert done.wait(2)
        assert pyvantorsdk._cpp._pyvantorsdk_cpp is not None
        gc.collect()
        assert ref() is None
        with DeviceFacade() as other:
            assert other.connect(adapter.path)
            assert other.get_usb_config() == (0, 0, 0)
