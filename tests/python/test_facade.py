# SPDX-License-Identifier: MIT
"""DeviceFacade end to end against the virtual adapter: connection, the
general methods, errors and argument conversion."""

from __future__ import annotations

import pytest

import pyvantorsdk
from helpers import UART_8N1, response
from pyvantorsdk import (
    DeviceFacade,
    DeviceModel,
    SpiMode,
    StatusCode,
    errors,
    find_adapters,
    sim,
)
from pyvantorsdk._cpp import _pyvantorsdk_cpp as native


class TestConnection:
    def test_connect_by_path_or_serial_and_disconnect(self, adapter):
        with DeviceFacade() as dev:
            dev.disconnect()  # harmless before any connection
            assert dev.connect("sim:no-such-adapter") is False
            assert dev.connect_serial("NO-SUCH-SERIAL") is False
            with pytest.raises(errors.DisconnectError):
                dev.get_usb_config()
            assert dev.connect_serial("SIM0001")
            assert dev.get_usb_config() == (0, 0, 0)
            dev.disconnect()
            dev.disconnect()
            assert dev.connect(adapter.path)
        # Leaving the block disconnected it.
        with pytest.raises(errors.DisconnectError) as info:
            dev.get_usb_config()
        assert info.value.operation == "get_usb_config"

    @pytest.mark.skipif(bool(find_adapters(include_virtual=False)),
                        reason="a real adapter would be opened first")
    def test_connect_without_path_finds_the_virtual_adapter(self, adapter):
        with DeviceFacade() as dev:
            assert dev.connect()
            assert dev.get_device_info().serial_number == adapter.serial

    @pytest.mark.parametrize("model", [DeviceModel.TERANOX, DeviceModel.QUILLEX])
    @pytest.mark.parametrize("bulk", [True, False])
    def test_models_and_bulk_interface(self, model, bulk):
        with sim.VirtualAdapter(model=model, serial=f"SIM-{model.name}-{int(bulk)}",
                                bulk=bulk) as adapter, DeviceFacade() as dev:
            assert dev.connect(adapter.path)
            info = dev.get_device_info()
            assert (info.model, info.serial_number) == (model, adapter.serial)
            assert dev.is_bulk_transport_available() is bulk
            # A response spanning many reports of either size.
            adapter.set_handler(lambda request: response(request, 0, bytes(3)) + bytes(3000))
            assert dev.get_usb_config() == (0, 0, 0)


class TestGeneralMethods:
    def test_device_info_reads_the_identity_and_survives_bytes_that_are_not_utf8(self, adapter, dev):
        info = dev.get_device_info()
        assert (info.manufacturer, info.product_name, info.model) == (
            "Vantor Labs", "Teranox", DeviceModel.TERANOX)
        assert (info.serial_number, info.hw_version, info.fw_version) == (
            "SIM0001", "HW 1.0", "FW " + pyvantorsdk.__version__)
        # Strings that are not UTF-8 survive.
        adapter.system.set_identity(manufacturer=b"Acme \xff\xfe Corp",
                                    product_name=b"QUILLEX \xc3(", fw_version=b"\x80")
        info = dev.get_device_info()
        assert (info.manufacturer, info.product_name) == ("Acme \ufffd\ufffd Corp", "QUILLEX \ufffd(")
        assert (info.model, info.fw_version) == (DeviceModel.QUILLEX, "\ufffd")

    def test_usb_config_is_kept_and_255_leaves_a_setting(self, adapter, dev):
        dev.set_usb_config(1, 1, 3)
        assert dev.get_usb_config() == (1, 1, 3)
        assert adapter.system.usb_settings == sim.UsbSettings(
            webusb_enabled=1, cdc_enabled=1, cdc_mode=3)
        dev.set_usb_config(255, 0, 255)  # 255 keeps a setting
        assert dev.get_usb_config() == (1, 0, 3)
        with pytest.raises(errors.FirmwareError) as info:
            dev.set_usb_config(7, 0, 0)
        assert info.value.status_code == StatusCode.FW_INVALID_PARAMETER
        assert info.value.operation == "set_usb_config"

    def test_reset_and_boot_mode(self, adapter, dev):
        dev.reset_device()
        assert adapter.wait_for_requests(1)
        assert adapter.system.reset_count == 1
        dev.enter_boot_mode()
        assert adapter.system.in_boot_mode and not adapter.plugged
        with pytest.raises(errors.DisconnectError):
            dev.get_usb_config()


# One method of each kind the binding builds: no arguments, arguments, a
# result only the blocking side decodes, the I/O rail under a port's name,
# the bulk forms; the operation's name comes from the same table for all.
CALLS = [
    ("reset_device", ()), ("get_device_info", ()), ("set_usb_config", (0, 0, 0)),
    ("i2c_get_bus_voltage", ()), ("i2c_read", (0, 0x50, b"\x00", 1, False)),
    ("i2c_write_bulk", (0, 0x50, b"", b"\x01", False)), ("uart_init", UART_8N1),
    ("gpio_configure_pin", (0, 1)),
]


# (id, method, arguments, message): an integer that does not fit its argument
# is refused with its name and value (ValueError), a value of another type
# with TypeError (message None); either way before anything is sent.
OUT_OF_RANGE_CASES = [
    ("usb-webusb-256", "set_usb_config", (256, 0, 0), "invalid webusb_enabled 256"),
    ("usb-mode-256", "set_usb_config", (0, 0, 256), "invalid cdc_mode 256"),
    ("u8-negative", "set_usb_config", (-1, 0, 0), "invalid webusb_enabled -1"),
    ("u16-length", "i2c_read", (0, 0x50, b"", 65536, False), "invalid length 65536"),
    ("u32-frequency", "i2c_controller_init", (0, 2**32, 0), "invalid frequency_hz 4294967296"),
    ("u32-negative", "i2c_set_parameters", (0, -1, 0), "invalid frequency_hz -1"),
    ("beyond-64-bits", "i2c_set_parameters", (0, 2**70, 0), f"invalid frequency_hz {2**70}"),
    ("too-long-to-print", "i2c_set_parameters", (0, 2**20000, 0),
     "invalid frequency_hz (an integer of 20001 bits)"),
    ("enum-argument-256", "i2c_controller_init", (256, 100000, 0), "invalid bus 256"),
    ("optional-byte", "i3c_ccc_getstatus", (0x08, 256), "invalid def_byte 256"),
    ("defaulted-argument", "gpio_configure_pin", (0, 1, 256), "invalid initial_level 256"),
    ("text-for-int", "set_usb_config", ("1", 0, 0), None),
    ("float-for-int", "i3c_sdr_read", (0x30, b"", 1.0), None),
    ("other-enum-member", "i2c_write", (SpiMode.MODE_1, 0x50, b"", b"\x01", False), None),
    ("text-for-bytes", "i2c_write", (0, 0x50, "00", b"\x01", False), None),
    ("list-for-bytes", "i2c_write", (0, 0x50, b"", [1, 2], False), None),
    ("address-list-over-u8", "i3c_ccc_setaasa", ([0x50, 300],), None),
]
OUT_OF_RANGE = [(name, args, message) for _, name, args, message in OUT_OF_RANGE_CASES]
OUT_OF_RANGE_IDS = [case[0] for case in OUT_OF_RANGE_CASES]


class TestErrors:
    @pytest.mark.parametrize("name, args", CALLS, ids=[name for name, _ in CALLS])
    def test_never_connected_facade_names_the_operation(self, name, args):
        dev = DeviceFacade()
        with pytest.raises(errors.DisconnectError) as info:
            getattr(dev, name)(*args)
        assert info.value.operation == name
        assert info.value.status_code == StatusCode.SDK_ERROR_DISCONNECT

    def test_methods_without_a_status_never_raise(self):
        dev = DeviceFacade()
        assert dev.get_discarded_response_count() == 0
        assert dev.is_bulk_transport_available() is False
        assert dev.get_bulk_capabilities()[1:] == (False, [])

    @pytest.mark.parametrize("name, args, message", OUT_OF_RANGE, ids=OUT_OF_RANGE_IDS)
    def test_arguments_that_do_not_convert_send_nothing(self, adapter, dev, name, args, message):
        adapter.clear()
        with pytest.raises(ValueError if message else TypeError) as info:
            getattr(dev, name)(*args)
        if message:
            assert str(info.value) == message
        assert adapter.requests == []

    @pytest.mark.parametrize("baudrate", [4, native.GpioPinNumber.PIN_5, native.SpiMode.MODE_0],
                             ids=["plain-int", "int-enum-member", "other-enum-member"])
    def test_uart_settings_take_their_members_only(self, adapter, dev, baudrate):
        adapter.clear()
        with pytest.raises(TypeError):
            dev.uart_init(baudrate, *UART_8N1[1:])
        assert adapter.requests == []

    @pytest.mark.parametrize("timeout, error", [(2**40, ValueError), (3e6, TypeError)],
                             ids=["beyond-int", "float"])
    def test_timeout_that_does_not_convert_is_refused(self, timeout, error):
        with pytest.raises(error, match="timeout_ms" if error is ValueError else None):
            DeviceFacade(timeout_ms=timeout)
