# SPDX-License-Identifier: MIT
"""The native module: the errors each status raises, and the command tables."""

from __future__ import annotations

import enum

import pytest

from pyvantorsdk import errors
from pyvantorsdk._cpp import _pyvantorsdk_cpp as native

# (status, class) at every boundary of the status pages.
BOUNDARIES = [
    (0x0001, errors.FirmwareError), (0x00FF, errors.FirmwareError),
    (0x0100, errors.SystemFirmwareError), (0x01FF, errors.SystemFirmwareError),
    (0x0200, errors.I2cError), (0x02FF, errors.I2cError), (0x0300, errors.SpiError),
    (0x03FF, errors.SpiError), (0x0400, errors.UartError), (0x04FF, errors.UartError),
    (0x0500, errors.GpioError), (0x05FF, errors.GpioError), (0x0600, errors.I3cError),
    (0x06FF, errors.I3cError), (0x0700, errors.FirmwareError), (0x1FFF, errors.FirmwareError),
    (0x2000, errors.VantorTimeoutError), (0x2001, errors.FirmwareError),
    (0x4000, errors.DisconnectError), (0x6000, errors.ProtocolError),
    (0x8000, errors.ProtocolError), (0xA000, errors.ProtocolError),
    (0xC000, errors.CapabilityError), (0xFFFF, errors.FirmwareError),
]


class TestErrors:
    @pytest.mark.parametrize("code, cls", BOUNDARIES,
                             ids=[f"{code:#06x}-{cls.__name__}" for code, cls in BOUNDARIES])
    def test_status_maps_to_class(self, code, cls):
        with pytest.raises(errors.VantorError) as info:
            native._test_throw_status(code, "op")
        assert type(info.value) is cls
        assert int(getattr(info.value.status_code, "value", info.value.status_code)) == code
        assert info.value.operation == "op"
        assert f"0x{code:04X}" in str(info.value)  # a code of no member too

    def test_known_status_carries_member_and_readable_message(self):
        with pytest.raises(errors.I2cError) as info:
            native._test_throw_status(0x0203, "i2c_write")
        assert info.value.status_code is native.StatusCode.FW_I2C_NACK_ADDRESS
        assert str(info.value) == "i2c_write failed: FW_I2C_NACK_ADDRESS (0x0203)"

    # (status, operation, what the hint line must say); None: no hint line. The
    # SPI role, I2C clock and voltage hints are test_cli.py's failure lines.
    HINTS = [
        ("FW_INTERFACE_NOT_INITIALIZED", "i2c_write", "call i2c_controller_init()"),
        ("FW_INTERFACE_NOT_INITIALIZED", "i2c_target_write_memory", "call i2c_target_init()"),
        ("FW_INTERFACE_NOT_INITIALIZED", "uart_send", "call uart_init()"),
        ("FW_INTERFACE_NOT_INITIALIZED", "i3c_sdr_read", "call i3c_controller_init()"),
        ("FW_I2C_ROLE_CONFLICT", "i2c_target_init", "controller role holds the bus"),
        ("FW_I2C_ROLE_CONFLICT", "i2c_controller_init", "target role holds the bus"),
        ("FW_I3C_ENGINE_BUSY", "i3c_controller_init", "I3C target role holds"),
        ("FW_INVALID_PARAMETER", "gpio_digital_write", None),
        ("FW_VOLTAGE_OUT_OF_RANGE_ON_I3C_LV", "i3c_set_bus_voltage", "1000 to 1800 mV"),
        ("SDK_ERROR_DISCONNECT", "connect", "'vantor udev-rules'"),
    ]

    @pytest.mark.parametrize("status, operation, says", HINTS,
                             ids=[f"{s}-{op}" for s, op, _ in HINTS])
    def test_common_status_message_ends_with_a_hint_line(self, status, operation, says):
        code = int(native.StatusCode[status].value)
        with pytest.raises(errors.VantorError) as info:
            native._test_throw_status(code, operation)
        first, *rest = str(info.value).split("\n")
        # The first line is unchanged: scripts match on it.
        assert first == f"{operation} failed: {status} (0x{code:04X})"
        assert rest == ([] if says is None else [f"hint: {info.value.hint}"])
        assert says is None or says in info.value.hint

    def test_empty_operation_builds_without_operation(self):
        with pytest.raises(errors.CapabilityError) as info:
            native._test_throw_status(0xC000, "")
        assert info.value.operation is None
        assert info.value.status_code is native.StatusCode.SDK_ERROR_BULK_UNAVAILABLE

    def test_standard_exception_hierarchy(self):
        assert issubclass(errors.VantorTimeoutError, TimeoutError)
        assert issubclass(errors.DisconnectError, ConnectionError)
        assert issubclass(errors.I3cError, errors.FirmwareError)


class TestCommandTable:
    """The command catalog as decoders of captured traffic read it (its
    layouts are checked against the SDK's requests by the C++ tests)."""

    def test_names_every_bulk_command_with_its_mask_bit(self):
        rows = {row["name"]: row for row in native.command_table()}
        for name, bit in native._abi_probe["values"]["BULK_COMMAND_BIT"].items():
            assert name in rows
            assert 1 << (rows[name]["code"] & 31) == bit
            assert rows[name]["bulk_out"] or rows[name]["bulk_in"]

    def test_every_enum_a_layout_names_is_an_enum_of_the_module(self):
        fields = [field for row in native.command_table()
                  for field in row["request"] + row["response"]]
        fields += [field for row in native.notification_table() for field in row["fields"]]
        named = {field["enum"] for field in fields} - {"", "ccc"}
        assert [name for name in sorted(named)
                if not issubclass(getattr(native, name, type(None)), enum.Enum)] == []
        # The common command codes are looked up in i3c_ccc_table().
        ccc = [field for field in fields if field["enum"] == "ccc"]
        assert ccc and all(field["type"] == "u8" for field in ccc)
        assert {row["code"] for row in native.i3c_ccc_table()} >= {0x06, 0x8D}
