# SPDX-License-Identifier: MIT
"""The peripheral families of DeviceFacade against the virtual adapter's
firmware and bench devices: I2C, the I/O rail, UART, SPI and GPIO."""

from __future__ import annotations

import pytest

from helpers import SPI_MODE_0, UART_8N1
from pyvantorsdk import (
    DeviceFacade, GpioFunctionality, GpioInterruptNotification, GpioLogicLevel, GpioPinNumber,
    GpioTriggerType, I2cBus, I2cPullUp, SpiBitOrder, SpiChipSelect, SpiMode, StatusCode,
    UartBaudRate, UartDataSize, UartHwHandshake, UartParity, UartStopBit, errors, sim,
)


@pytest.fixture
def i2c(adapter, dev):
    adapter.i2c.attach_eeprom(I2cBus.A, 0x50, size=1024, page_size=16, address_bytes=2)
    adapter.i2c.attach_register_map(I2cBus.B, 0x68)
    dev.i2c_controller_init(I2cBus.A, 400_000, I2cPullUp.KOHM_4_7)
    dev.i2c_controller_init(1, 100_000, 5)  # plain integers work too
    return dev


@pytest.fixture
def spi(adapter, dev):
    adapter.spi.attach_flash(SpiChipSelect.CS_0, size=64 * 1024, jedec_id=b"\x01\x02\x03")
    dev.spi_controller_init(*SPI_MODE_0, 1_000_000)
    return dev


class TestI2c:
    def test_settings_reach_the_bus_until_deinit(self, adapter, i2c):
        state = sim.I2cBusState
        assert adapter.i2c.bus(0) == state(initialized=True, frequency_hz=400_000,
                                           pull_up=I2cPullUp.KOHM_4_7.value)
        assert adapter.i2c.bus(1) == state(initialized=True, frequency_hz=100_000, pull_up=5)
        i2c.i2c_set_parameters(I2cBus.B, 1_000_000, I2cPullUp.DISABLE)
        i2c.i2c_set_pull_up_resistors(I2cBus.B, I2cPullUp.OHM_150)
        assert adapter.i2c.bus(1) == state(initialized=True, frequency_hz=1_000_000, pull_up=0)
        i2c.i2c_deinit(I2cBus.B)
        assert not adapter.i2c.bus(1).initialized

    def test_transfers_and_scan(self, adapter, i2c):
        # A two-byte subaddress goes most significant byte first.
        i2c.i2c_write(I2cBus.A, 0x50, b"\x01\x10", b"hello", False)
        assert adapter.i2c.memory(0, 0x50)[0x110:0x115] == b"hello"
        assert i2c.i2c_read(I2cBus.A, 0x50, b"\x01\x10", 5, False) == b"hello"
        assert i2c.i2c_read(bus=0, address=0x50, subaddress=bytearray(b"\x01\x12"), length=3,
                            non_stop=False) == b"llo"
        adapter.i2c.write_memory(1, 0x68, 0x75, b"\x68")
        assert i2c.i2c_read(I2cBus.B, 0x68, b"\x75", 1, False) == b"\x68"
        i2c.i2c_write(I2cBus.B, 0x68, memoryview(b"\x10"), b"\xaa\xbb", True)
        assert adapter.i2c.memory(1, 0x68)[0x10:0x12] == b"\xaa\xbb"
        adapter.i2c.attach_register_map(I2cBus.A, 0x2A3, ten_bit=True)
        assert i2c.i2c_scan_bus(I2cBus.A).addresses_7bit == frozenset({0x50})
        result = i2c.i2c_scan_bus(I2cBus.A, include_10bit=True)
        assert (result.addresses_7bit, result.addresses_10bit) == ({0x50}, {0x2A3})

    def test_refusals_and_nack(self, adapter, i2c):
        adapter.clear()
        with pytest.raises(errors.ProtocolError) as info:
            i2c.i2c_write(I2cBus.A, 0x50, b"\x00" * 5, b"x", False)
        assert info.value.status_code == StatusCode.SDK_ERROR_WRONG_REQUEST
        assert info.value.operation == "i2c_write"
        with pytest.raises(errors.ProtocolError):
            i2c.i2c_scan_bus(2)
        assert adapter.requests == []
        with pytest.raises(errors.I2cError) as info:
            i2c.i2c_read(I2cBus.A, 0x33, b"", 1, False)
        assert info.value.operation == "i2c_read"
        assert info.value.status_code.name.startswith("FW_I2C_")


def test_i2c_and_spi_bulk_transfers_reach_the_memories(adapter, i2c, spi):
    data = bytes(range(256)) * 2
    adapter.clear()
    i2c.i2c_write_bulk(I2cBus.A, 0x50, b"\x00\x00", data, False)
    assert adapter.bulk_received == data
    assert adapter.i2c.memory(0, 0x50)[:16] == data[-16:]  # page writes wrap at 16 bytes
    adapter.i2c.write_memory(0, 0x50, 0, data)
    assert i2c.i2c_read_bulk(I2cBus.A, 0x50, b"\x00\x00", 512, False) == data

    adapter.spi.write_memory(0, 0, data * 4)
    assert i2c.spi_read_bulk(b"\x03\x00\x00\x00", 2048) == data * 4
    assert i2c.spi_transfer_bulk(b"\x9f", 4)[1:] == b"\x01\x02\x03"
    adapter.clear()
    i2c.spi_write_bulk(b"\x06")
    assert adapter.bulk_received == b"\x06"


def test_bulk_without_the_interface():
    with sim.VirtualAdapter(bulk=False) as adapter, DeviceFacade() as dev:
        assert dev.connect(adapter.path)
        with pytest.raises(errors.CapabilityError) as info:
            dev.i2c_write_bulk(I2cBus.A, 0x50, b"", b"x", False)
        assert info.value.operation == "i2c_write_bulk"
        with pytest.raises(errors.CapabilityError):
            dev.spi_read_bulk(b"\x03", 4)
        with pytest.raises(errors.CapabilityError) as info:
            dev.i3c_sdr_write_bulk(0x30, b"\x00", b"\x01")
        assert info.value.status_code == StatusCode.SDK_ERROR_BULK_UNAVAILABLE
        assert adapter.requests == []


def test_one_voltage_rail_for_four_ports(adapter, dev):
    dev.spi_set_bus_voltage(1800, persist=True)
    assert adapter.power.io_rail == sim.RailState(millivolts=1800, external=False)
    assert {dev.i2c_get_bus_voltage(), dev.spi_get_bus_voltage(), dev.uart_get_bus_voltage(),
            dev.gpio_get_voltage()} == {1800}
    adapter.power.set_external_voltage(2800)
    dev.uart_use_external_voltage()
    assert adapter.power.io_rail == sim.RailState(millivolts=2800, external=True)
    assert dev.gpio_get_voltage() == 2800
    dev.i2c_set_bus_voltage(3300)
    assert adapter.power.io_rail == sim.RailState(millivolts=3300, external=False)
    with pytest.raises(errors.SystemFirmwareError) as info:
        dev.i2c_set_bus_voltage(9000)
    assert info.value.operation == "i2c_set_bus_voltage"


def test_uart_refuses_to_send_before_init(dev):
    with pytest.raises(errors.FirmwareError) as info:
        dev.uart_send_message(b"x")
    assert info.value.operation == "uart_send_message"


def test_uart_settings_reach_the_adapter_until_deinit(adapter, dev):
    dev.uart_init(*UART_8N1)
    assert adapter.uart.state == sim.UartState(
        initialized=True, baud_rate=10, hardware_handshake=0, parity=0, data_size=1, stop_bit=0
    )
    dev.uart_set_parameters(UartBaudRate.BAUD_9600, UartHwHandshake.ENABLED, UartParity.EVEN,
                            UartDataSize.BITS_8, UartStopBit.TWO)
    assert adapter.uart.state == sim.UartState(
        initialized=True, baud_rate=4, hardware_handshake=1, parity=1, data_size=1, stop_bit=1
    )
    dev.uart_deinit()
    assert not adapter.uart.state.initialized


class TestSpi:
    def test_configuration_and_limits(self, adapter, spi):
        assert adapter.spi.controller == sim.SpiControllerState(
            initialized=True, bit_order=0, mode=0, data_width=0, chip_select=0,
            chip_select_polarity=0, frequency_hz=1_000_000
        )
        spi.spi_set_parameters(SpiBitOrder.LSB, SpiMode.MODE_3, 0, 2, 1, 5_000_000)
        assert adapter.spi.controller == sim.SpiControllerState(
            initialized=True, bit_order=1, mode=3, data_width=0, chip_select=2,
            chip_select_polarity=1, frequency_hz=5_000_000
        )
        adapter.clear()
        with pytest.raises(errors.ProtocolError) as info:
            spi.spi_transfer(b"\x00" * 1025, 4)
        assert info.value.status_code == StatusCode.SDK_ERROR_WRONG_REQUEST
        with pytest.raises(ValueError, match="invalid transfer_length 70000"):
            spi.spi_transfer(b"", 70000)
        assert adapter.requests == []
        spi.spi_deinit()
        assert not adapter.spi.controller.initialized


class TestGpio:
    def test_output_is_refused_until_configured_then_drives_the_pin(self, adapter, dev):
        with pytest.raises(errors.GpioError) as info:
            dev.gpio_digital_write(GpioPinNumber.PIN_6, 1)  # not configured
        assert info.value.operation == "gpio_digital_write"
        dev.gpio_configure_pin(GpioPinNumber.PIN_1, GpioFunctionality.DIGITAL_OUTPUT,
                               initial_level=GpioLogicLevel.HIGH)
        assert adapter.gpio.output_level(0) == 1
        dev.gpio_digital_write(0, 0)
        assert adapter.gpio.output_level(0) == 0
        assert dev.gpio_digital_read(GpioPinNumber.PIN_1) == 0

    def test_inputs_and_interrupts(self, adapter, dev, events):
        pin = GpioPinNumber.PIN_3
        dev.gpio_configure_pin(pin, GpioFunctionality.DIGITAL_INPUT)
        adapter.gpio.drive_input(pin, 1)
        assert dev.gpio_digital_read(pin) == 1
        dev.gpio_configure_interrupt(pin, GpioTriggerType.BOTH_EDGES)
        assert adapter.gpio.pin(pin).trigger == 3
        adapter.gpio.drive_input(pin, 0)
        adapter.gpio.drive_input(pin, 1)
        assert events.wait_for(2)
        edges = [(n.pin_number, n.triggered_edge, n.logic_level) for n in events.items]
        assert all(isinstance(n, GpioInterruptNotification) for n in events.items)
        assert edges == [(2, GpioTriggerType.FALLING_EDGE, 0), (2, GpioTriggerType.RISING_EDGE, 1)]
        dev.gpio_disable_interrupt(pin)
        adapter.gpio.drive_input(pin, 0)
        dev.gpio_digital_read(pin)  # the reader has handled anything sent before this answer
        assert len(events.items) == 2
