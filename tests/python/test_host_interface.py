# SPDX-License-Identifier: MIT
"""The raw host interface of the virtual adapter: whole reports written and
read as through a HID device handle, answered by the adapter's firmware."""

from __future__ import annotations

import struct
import threading

import pytest

from pyvantorsdk import DeviceModel, sim

GET_USB_CONFIG = 0x040E


def single_segment(report_size: int, message: bytes) -> bytes:
    """An output report (report id 0) carrying `message` as one segment."""
    body = struct.pack("<H", 0x3 | len(message) << 2) + message
    return b"\x00" + body + bytes(report_size - len(body))


def segments_of(host: sim.HostInterface, timeout_ms: int = 1000) -> bytes:
    """Reads reports until a last segment; returns the reassembled message."""
    message = b""
    while True:
        report = host.read(host.report_size, timeout_ms)
        assert report, "no answer"
        (header,) = struct.unpack_from("<H", report)
        message += report[2:2 + ((header >> 2) & 0x3FF)]
        if header & 0x2:
            return message


@pytest.mark.parametrize("model", [DeviceModel.TERANOX, DeviceModel.QUILLEX],
                         ids=["64-byte", "1024-byte"])
def test_request_report_is_answered_by_the_firmware(model):
    with sim.VirtualAdapter(model=model) as adapter, adapter.open_host() as host:
        assert host.report_size == adapter.report_size
        request = struct.pack("<HH", 7, GET_USB_CONFIG)
        report = single_segment(host.report_size, request)
        assert host.write(report) == len(report)
        answer = host.read(host.report_size, 1000)
        assert len(answer) == host.report_size
        assert struct.unpack_from("<HHHH", answer) == (0x3 | 9 << 2, 7, GET_USB_CONFIG, 0)
        assert adapter.requests == [request]


def test_long_answer_arrives_in_segments():
    long = struct.pack("<HHH", 3, 0x0401, 0) + bytes(range(200))
    with sim.VirtualAdapter(model=DeviceModel.TERANOX) as adapter, adapter.open_host() as host:
        adapter.set_handler(lambda request: long)
        host.write(single_segment(host.report_size, struct.pack("<HH", 3, 0x0401)))
        assert segments_of(host) == long


def test_read_times_out_empty_and_returns_at_most_size_bytes(adapter):
    with adapter.open_host() as host:
        assert host.read(host.report_size, 20) == b""
        adapter.send_report(bytes(range(64)))
        assert host.read(10, 1000) == bytes(range(10))


# The replugged case and the malformed reports the device refuses are
# VirtualAdapterTest.cpp's; here the binding's mapping of the failures.
def test_handle_of_a_lost_device_fails(adapter):
    host = adapter.open_host()
    adapter.unplug()
    with pytest.raises(OSError):
        host.read(host.report_size, 10)
    assert host.write(single_segment(host.report_size, b"\x01\x00\x0e\x04")) == -1


def test_open_on_an_unplugged_adapter_raises(adapter):
    adapter.unplug()
    with pytest.raises(OSError):
        adapter.open_host()


def test_read_waiting_without_limit_ends_with_an_error_when_unplugged(adapter):
    """Whether the unplug comes before the read or while it waits, it fails."""
    host = adapter.open_host()
    errors = []

    def reader() -> None:
        try:
            host.read(host.report_size, -1)
        except OSError as e:
            errors.append(e)

    thread = threading.Thread(target=reader)
    thread.start()
    adapter.unplug()
    thread.join(5)
    assert not thread.is_alive() and len(errors) == 1


@pytest.mark.parametrize("call", [
    lambda h: h.write(b"\x00" + bytes(64)),
    lambda h: h.read(64, 0),
], ids=["write", "read"])
def test_closed_handle_refuses(adapter, call):
    with adapter.open_host() as host:
        pass
    assert host.closed
    with pytest.raises(ValueError):
        call(host)
    host.close()  # closing again is harmless


def test_empty_report_is_refused(adapter):
    with adapter.open_host() as host:
        assert host.write(b"") == -1
