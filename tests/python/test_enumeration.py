# SPDX-License-Identifier: MIT
"""HID enumeration, the result records and the payload decoders."""

from __future__ import annotations

import struct

import pytest
from hypothesis import given, strategies as st

import pyvantorsdk
from pyvantorsdk import (
    DeviceModel,
    StatusCode,
    decode_i2c_scan,
    decode_spi_transfer,
    enumerate_devices,
    errors,
    make_device_info,
    sim,
)


class TestEnumeration:
    def test_lists_virtual_adapters_with_their_fields(self):
        with sim.VirtualAdapter(serial="ENUM-T") as t, \
                sim.VirtualAdapter(model=DeviceModel.QUILLEX, serial="ENUM-Q") as q:
            found = {d.path: d for d in enumerate_devices(t.vendor_id, 0)}
            assert t.path in found and q.path in found
            entry = found[q.path]
            assert (entry.vendor_id, entry.product_id) == (q.vendor_id, q.product_id)
            assert entry.serial_number == "ENUM-Q"
            assert entry.product_name == "Quillex"
            assert entry.manufacturer == "Vantor Labs"
            assert entry.bus_type == 1
            only_teranox = [d.path for d in enumerate_devices(t.vendor_id, t.product_id)]
            assert t.path in only_teranox and q.path not in only_teranox
            assert enumerate_devices(0xFFFE, 0xFFFE) == []

    def test_find_adapters_puts_real_ones_first(self, adapter):
        found = pyvantorsdk.find_adapters()
        assert adapter.path in [d.path for d in found]
        flags = [pyvantorsdk.is_virtual_path(d.path) for d in found]
        assert flags == sorted(flags)
        assert adapter.path not in [d.path for d in pyvantorsdk.find_adapters(include_virtual=False)]


class TestModelRecognition:
    @pytest.mark.parametrize(
        "name, model",
        [
            ("Vantor TERANOX adapter", DeviceModel.TERANOX),
            ("quillex", DeviceModel.QUILLEX),
            ("QuillEx Teranox combo", DeviceModel.TERANOX),  # teranox is tested first
            ("", DeviceModel.UNKNOWN),
        ],
    )
    def test_product_names(self, name, model):
        info = make_device_info("m", name, "s", "h", "f")
        assert info.model == model


def scan_payload(seven, ten):
    return (bytes([0, len(seven), len(ten)]) + bytes(seven)
            + b"".join(struct.pack("<H", a) for a in ten))


class TestDecoders:
    def test_short_payloads(self):
        short = [(decode_i2c_scan, "i2c_scan_bus", p)
                 for p in (b"", b"\x00\x02", bytes.fromhex("000301102030"), bytes.fromhex("00000134"))]
        short += [(decode_spi_transfer, "spi_transfer", p) for p in (b"\x05\x00abc", b"\x01", b"")]
        for decode, operation, payload in short:
            with pytest.raises(errors.ProtocolError) as info:
                decode(payload)
            assert info.value.operation == operation, payload
            assert info.value.status_code == StatusCode.SDK_ERROR_WRONG_RESPONSE

    @given(st.lists(st.integers(0, 255), max_size=255), st.lists(st.integers(0, 0xFFFF), max_size=100),
           st.binary(max_size=8))
    def test_scan_round_trip(self, seven, ten, trailing):
        result = decode_i2c_scan(scan_payload(seven, ten) + trailing)
        assert result.addresses_7bit == frozenset(seven)
        assert result.addresses_10bit == frozenset(ten)
