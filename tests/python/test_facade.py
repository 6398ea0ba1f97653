"""DeviceFacade end to end against the virtual adapter: connection, the
general methods, errors and argument conversion."""

from __future__ import annotations

import pytest

from helpers import response
from pyvantorsdk import (
    DeviceFacade,
    DeviceInfo,
    DeviceModel,
    StatusCode,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartStopBit,
    errors,
    find_adapters,
    sim,
)


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

    def test_unplug_and_replug_during_a_session(self, adapter):
        with DeviceFacade(timeout_ms=200) as dev:
            assert dev.connect(adapter.path)
            adapter.unplug()
            # The first request may be written into the void (and time out)
            # before the lost device is noticed; it never succeeds.
            for _ in range(2):
                with pytest.raises((errors.DisconnectError, errors.VantorTimeoutError)):
                    dev.get_usb_config()
            with pytest.raises(errors.DisconnectError):
                dev.get_usb_config()
            adapter.plug()
            # The next request reopens the device under the same path.
            assert dev.get_usb_config() == (0, 0, 0)

    @pytest.mark.parametrize("model", [DeviceModel.TERANOX, DeviceModel.QUILLEX])
    @pytest.mark.parametrize("bulk", [True, False])
    def test_models_and_bulk_interface(self, model, bulk):
        with sim.VirtualAdapter(model=model, serial=f"SIM-{model.name}-{int(bulk)}",
                                bulk=bulk) as adapter, DeviceFacade() as dev:
            assert dev.connect(adapter.path)
            info = dev.get_device_info()
            assert (info.model, info.serial_number) == (model, adapter.serial)
            assert dev.is_bulk_transport_available() is bulk
            if bulk:
                assert dev.get_bulk_capabilities() == (1, True, [(2, 32768, 0x180),
                                                                 (3, 32768, 0x1A0)])
            # A response spanning many reports of either size.
            adapter.set_handler(lambda request: response(request, 0, bytes(3)) + bytes(3000))
            assert dev.get_usb_config() == (0, 0, 0)


class TestGeneralMethods:
    def test_device_info(self, adapter, dev):
        info = dev.get_device_info()
        assert isinstance(info, DeviceInfo)
        assert (info.manufacturer, info.product_name, info.model) == (
            "Vantor Labs", "Teranox", DeviceModel.TERANOX)
        assert (info.serial_number, info.hw_version, info.fw_version) == (
            "SIM0001", "HW 1.0", "FW 1.5.1")
        # Strings that are not UTF-8 survive.
        adapter.system.set_identity(manufacturer=b"Acme \xff\xfe Corp",
                                    product_name=b"QUILLEX \xc3(", fw_version=b"\x80")
        info = dev.get_device_info()
        assert (info.manufacturer, info.product_name) == ("Acme \ufffd\ufffd Corp", "QUILLEX \ufffd(")
        assert (info.model, info.fw_version) == (DeviceModel.QUILLEX, "\ufffd")
        assert "\ufffd" in repr(info)

    def test_usb_config(self, adapter, dev):
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

    def test_discarded_responses_are_counted(self, adapter, dev):
        assert dev.get_discarded_response_count() == 0
        adapter.send(b"\x01\x02\x03")  # too short to be a response
        # The reader handles messages in order: once this request's answer is
        # back, the short message has been counted.
        dev.get_usb_config()
        assert dev.get_discarded_response_count() == 1

    def test_timeout_raises_with_the_operation(self, adapter):
        adapter.set_handler(lambda request: None)
        with DeviceFacade(timeout_ms=100) as dev:
            assert dev.connect(adapter.path)
            with pytest.raises(errors.VantorTimeoutError) as info:
                dev.get_usb_config()
            assert isinstance(info.value, TimeoutError)
            assert info.value.status_code == StatusCode.SDK_ERROR_TIMEOUT
            assert info.value.operation == "get_usb_config"


UART_ARGS = (UartBaudRate.BAUD_9600, UartHwHandshake.DISABLED, UartParity.NONE,
             UartDataSize.BITS_8, UartStopBit.ONE)

# Arguments for every method that talks to the adapter.
CALLS = [
    ("get_device_info", ()), ("reset_device", ()), ("enter_boot_mode", ()),
    ("get_usb_config", ()), ("set_usb_config", (0, 0, 0)),
    ("i2c_set_bus_voltage", (3300,)), ("i2c_use_external_voltage", ()),
    ("i2c_get_bus_voltage", ()), ("i2c_controller_init", (0, 100000, 0)),
    ("i2c_set_parameters", (0, 100000, 0)), ("i2c_set_pull_up_resistors", (0, 0)),
    ("i2c_deinit", (0,)), ("i2c_write", (0, 0x50, b"\x00", b"\x01", False)),
    ("i2c_read", (0, 0x50, b"\x00", 1, False)), ("i2c_scan_bus", (0,)),
    ("i2c_write_bulk", (0, 0x50, b"", b"\x01", False)),
    ("i2c_read_bulk", (0, 0x50, b"", 1, False)),
    ("uart_set_bus_voltage", (3300,)), ("uart_use_external_voltage", ()),
    ("uart_get_bus_voltage", ()), ("uart_init", UART_ARGS), ("uart_set_parameters", UART_ARGS),
    ("uart_deinit", ()), ("uart_send_message", (b"x",)),
    ("spi_set_bus_voltage", (3300,)), ("spi_use_external_voltage", ()),
    ("spi_get_bus_voltage", ()), ("spi_controller_init", (0, 0, 0, 0, 0, 1000000)),
    ("spi_set_parameters", (0, 0, 0, 0, 0, 1000000)), ("spi_deinit", ()),
    ("spi_transfer", (b"\x9f", 4)), ("spi_transfer_bulk", (b"\x9f", 4)),
    ("spi_write_bulk", (b"\x01",)), ("spi_read_bulk", (b"\x03", 4)),
    ("gpio_set_voltage", (3300,)), ("gpio_use_external_voltage", ()),
    ("gpio_get_voltage", ()), ("gpio_configure_pin", (0, 1)), ("gpio_digital_write", (0, 1)),
    ("gpio_digital_read", (0,)), ("gpio_configure_interrupt", (0, 1)),
    ("gpio_disable_interrupt", (0,)),
]


class TestErrors:
    def test_never_connected_facade_names_each_operation(self):
        dev = DeviceFacade()
        for name, args in CALLS:
            with pytest.raises(errors.DisconnectError) as info:
                getattr(dev, name)(*args)
            assert info.value.operation == name, name
            assert info.value.status_code == StatusCode.SDK_ERROR_DISCONNECT
        # Methods without a status never raise.
        assert dev.get_discarded_response_count() == 0
        assert dev.is_bulk_transport_available() is False
        assert dev.get_bulk_capabilities()[1:] == (False, [])

    def test_out_of_range_integers_are_type_errors(self, adapter, dev):
        adapter.clear()
        for bad in (-1, 2**32, 1.5, "1", None):
            with pytest.raises(TypeError):
                dev.set_usb_config(bad, 0, 0)
        with pytest.raises(TypeError):
            DeviceFacade(timeout_ms=2**40)
        assert adapter.requests == []
