# SPDX-License-Identifier: MIT
"""The native module's published surface: enumerations, `_abi_probe`, errors."""

from __future__ import annotations

import enum
import pickle

import pytest

import pyvantorsdk
from pyvantorsdk import errors
from pyvantorsdk._cpp import _pyvantorsdk_cpp as native

PLAIN_UNSIGNED = ["DeviceModel", "I2cBus", "I2cPullUp", "StatusCode"]
INT_ENUMS = [
    "GpioPinNumber", "GpioFunctionality", "GpioLogicLevel", "I3cTargetDcr",
    "I3cTargetBusEventKind", "I3cConnectorPort", "I3cConnectorEvent", "I3cConnectorType",
]
FLAGS = ["GpioTriggerType", "I3cTransferFlags", "I3cEvent"]


def enum_classes():
    return {n: v for n, v in vars(native).items() if isinstance(v, enum.EnumMeta)}


class TestEnumerations:
    def test_forty_enumerations_in_registration_order(self):
        names = list(enum_classes())
        assert len(names) == 40
        assert names[:3] == ["DeviceModel", "I2cBus", "I2cPullUp"]
        assert names[-4:] == ["I3cConnectorPort", "I3cConnectorEvent", "I3cConnectorType", "StatusCode"]

    def test_base_classes(self):
        classes = enum_classes()
        for name, cls in classes.items():
            if name in FLAGS:
                assert issubclass(cls, enum.IntFlag), name
            elif name in INT_ENUMS:
                assert issubclass(cls, enum.IntEnum) and not issubclass(cls, enum.Flag), name
            else:
                assert not issubclass(cls, int), name
            assert cls.__doc__, name
            # Members are reached through the class, never as module attributes.
            for member_name, member in cls.__members__.items():
                assert not hasattr(native, member_name) or member_name in classes, (name, member_name)
                assert member.__doc__, (name, member_name)

    def test_integer_semantics(self):
        assert native.GpioPinNumber.PIN_1 == 0
        assert native.SpiMode.MODE_0 != 0
        assert native.I3cTargetDcr.MEMORY == 197
        assert native.I3cTargetResetDefByte.RETURN_TIME_RESET_PERIPHERAL.value == 0x81
        both = native.GpioTriggerType.RISING_EDGE | native.GpioTriggerType.FALLING_EDGE
        assert both == native.GpioTriggerType.BOTH_EDGES

    def test_transfer_flag_alias(self):
        flags = native.I3cTransferFlags
        assert flags.SKIP_EXIT_PATTERN is flags.NONSTOP
        assert flags(1) is flags.NONSTOP
        assert len(list(flags)) == 3
        assert list(flags.__members__) == ["NONE", "NONSTOP", "SKIP_EXIT_PATTERN", "START_WITH_7E"]

    def test_gpio_trigger_type_has_no_zero_member(self):
        assert [m.value for m in native.GpioTriggerType] == [1, 2, 3]

    def test_selected_values(self):
        assert [m.name for m in native.DeviceModel] == ["UNKNOWN", "TERANOX", "QUILLEX"]
        assert native.I2cPullUp.DISABLE.value == 12
        assert native.UartBaudRate.BAUD_115200.value == 10
        rates = native.I3cPushPullRate
        assert len(rates) == 22
        assert rates.PUSH_PULL_12_5_MHZ_DC_50.value == 18
        assert rates.PUSH_PULL_100_KHZ_DC_34.value == 21
        assert native.I3cEvent.HJ == 8
        status = native.StatusCode
        assert len(status) == 87
        assert status.FW_I3C_TRANSFER_INCOMPLETE_READ.value == 0x061A
        assert status.SDK_ERROR_BULK_UNAVAILABLE.value == 0xC000

    def test_package_reexports_enumerations(self):
        assert pyvantorsdk.StatusCode is native.StatusCode
        assert pyvantorsdk.I3cTransferFlags is native.I3cTransferFlags


class TestAbiProbe:
    probe = native._abi_probe

    def test_protocol_structure_sizes(self):
        expected = {
            "CommandResponseHeader": 6, "I2cTransferParameters": 3, "I2cScanBusParameters": 3,
            "SpiTransferResponseParameters": 2, "UsbConfigResponseParameters": 3,
            "GetAnalogMeasurementsParameters": 12, "I3cCccTransferParameters": 4,
            "I3cTransferResponseParameters": 4, "I3cTableHeaderParameters": 1,
            "I3cTargetMemoryParameters": 2, "I2cTargetInitResponseParameters": 5,
            "SpiTargetInitResponseParameters": 4, "I3cTargetInfo": 16,
        }
        for name, size in expected.items():
            assert self.probe["sizeof_" + name] == size, name

    def test_key_order(self):
        sizes = [k for k in self.probe if k.startswith("sizeof_")]
        assert len(sizes) == 24
        assert sizes[:2] == ["sizeof_VantorSDK", "sizeof_VantorAsyncSDK"]
        assert sizes[11:13] == ["sizeof_BulkCapabilities", "sizeof_CommandResponseHeader"]
        assert list(self.probe)[-3:] == [
            "offsetof_I3cTargetInfo", "offsetof_I2cTargetInitResponseParameters", "values"]

    def test_offsets(self):
        assert self.probe["offsetof_I3cTargetInfo"] == {
            "staticAddress": 0, "dynamicAddress": 1, "pid": 2, "bcr": 8, "dcr": 9,
            "mwl": 10, "mrl": 12, "maxIbiPayloadLength": 14, "configuration": 15}
        assert self.probe["offsetof_I2cTargetInitResponseParameters"] == {"busId": 0, "memorySize": 1}

    def test_values(self):
        values = self.probe["values"]
        assert values["I3C_BULK_MAX_PAYLOAD"] == 32767
        assert values["I2C_BULK_MAX_PAYLOAD"] == values["SPI_BULK_MAX_PAYLOAD"] == 32768
        assert values["NOTIF_I3C_TARGET_BUS_EVENT"] == 8
        assert values["USB_CDC_NO_CHANGE"] == 255
        assert values["GPIO_TRIGGER_BOTH_EDGES"] == 3
        assert values["BULK_COMMAND_BIT"] == {
            "CMD_I2C_CONTROLLER_WRITE_BULK": 128, "CMD_I2C_CONTROLLER_READ_BULK": 256,
            "CMD_SPI_CONTROLLER_WRITE_BULK": 128, "CMD_SPI_CONTROLLER_READ_BULK": 256}
        assert len(values) == 40


# (status, class) at every boundary of the status pages.
BOUNDARIES = [
    (0x0001, errors.FirmwareError), (0x000D, errors.FirmwareError), (0x00FF, errors.FirmwareError),
    (0x0100, errors.SystemFirmwareError), (0x0109, errors.SystemFirmwareError),
    (0x01FF, errors.SystemFirmwareError), (0x0200, errors.I2cError), (0x02FF, errors.I2cError),
    (0x0300, errors.SpiError), (0x0316, errors.SpiError), (0x03FF, errors.SpiError),
    (0x0400, errors.UartError), (0x04FF, errors.UartError), (0x0500, errors.GpioError),
    (0x05FF, errors.GpioError), (0x0600, errors.I3cError), (0x061A, errors.I3cError),
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

    def test_success_returns_none(self):
        assert native._test_throw_status(0, "x") is None

    def test_known_status_carries_member_and_readable_message(self):
        with pytest.raises(errors.I2cError) as info:
            native._test_throw_status(0x0203, "i2c_write")
        assert info.value.status_code is native.StatusCode.FW_I2C_NACK_ADDRESS
        assert str(info.value) == "i2c_write failed: FW_I2C_NACK_ADDRESS (0x0203)"

    def test_empty_operation_builds_without_operation(self):
        with pytest.raises(errors.CapabilityError) as info:
            native._test_throw_status(0xC000, "")
        assert info.value.operation is None
        assert info.value.status_code is native.StatusCode.SDK_ERROR_BULK_UNAVAILABLE

    def test_unknown_firmware_status_keeps_raw_value(self):
        # A newer firmware's code has no enumeration member: the family's class
        # is raised anyway, carrying the raw value.
        with pytest.raises(errors.SpiError) as info:
            native._test_throw_status(0x03FF, "spi_transfer")
        assert info.value.status_code == 0x03FF
        assert "0x03FF" in str(info.value)

    def test_standard_exception_hierarchy(self):
        with pytest.raises(TimeoutError):
            native._test_throw_status(0x2000, "connect")
        with pytest.raises(ConnectionError):
            native._test_throw_status(0x4000, "connect")
        assert issubclass(errors.I3cError, errors.FirmwareError)

    @pytest.mark.parametrize("bad", [-1, 0x10000, "1", 1.5],
                             ids=["negative", "above-u16", "str", "float"])
    def test_code_argument_is_checked(self, bad):
        with pytest.raises(TypeError):
            native._test_throw_status(bad, "x")

    def test_exceptions_pickle(self):
        err = errors.GpioError(status_code=native.StatusCode.FW_GPIO_NOT_CONFIGURED, operation="gpio_read")
        clone = pickle.loads(pickle.dumps(err))
        assert type(clone) is errors.GpioError
        assert clone.operation == "gpio_read"
        assert str(clone) == str(err)
