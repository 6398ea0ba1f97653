# SPDX-License-Identifier: MIT
"""Drive a USB host adapter for I2C, SPI, UART, GPIO and I3C from Python."""

from __future__ import annotations

from pyvantorsdk._cpp import _pyvantorsdk_cpp as _native
from pyvantorsdk._cpp._pyvantorsdk_cpp import (
    AsyncDeviceFacade,
    BatchCall,
    BatchState,
    DeviceBatch,
    DeviceFacade,
    DeviceInfo,
    DeviceModel,
    GpioFunctionality,
    GpioInterruptNotification,
    GpioLogicLevel,
    GpioPinNumber,
    GpioTriggerType,
    HidDeviceInfo,
    I2cBus,
    I2cOpenDrainRate,
    I2cPullUp,
    I2cScanResult,
    I2cTargetAddressMode,
    I2cTargetBusEventNotification,
    I2cTargetEepromBusyBehavior,
    I2cTargetEraseScope,
    I2cTargetMemoryLayout,
    I2cTargetModel,
    I2cTargetRegisterAccess,
    I3cConnectorEvent,
    I3cConnectorEventNotification,
    I3cConnectorPort,
    I3cConnectorType,
    I3cDriveStrength,
    I3cEvent,
    I3cHotJoinNotification,
    I3cIbiNotification,
    I3cOpenDrainRate,
    I3cPushPullRate,
    I3cTargetBusEventKind,
    I3cTargetBusEventNotification,
    I3cTargetDcr,
    I3cTargetMemoryLayout,
    I3cTargetResetDefByte,
    I3cTransferDirection,
    I3cTransferFlags,
    Notification,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
    SpiTargetBusEventNotification,
    SpiTargetEngine,
    SpiTargetModel,
    StatusCode,
    UartBaudRate,
    UartDataSize,
    UartHwHandshake,
    UartParity,
    UartRxNotification,
    UartStopBit,
    UnknownNotification,
    command_table,
    decode_i2c_scan,
    decode_spi_transfer,
    enumerate_devices,
    i3c_ccc_table,
    make_device_info,
    notification_table,
)
from pyvantorsdk.errors import (
    CapabilityError,
    DisconnectError,
    FirmwareError,
    GpioError,
    I2cError,
    I3cError,
    ProtocolError,
    SpiError,
    SystemFirmwareError,
    UartError,
    VantorError,
    VantorTimeoutError,
)

# The C++ SDK's project version, compiled into the native module; the
# distribution's metadata carries the same number.
__version__: str = _native._sdk_version

# The adapters the SDK opens: (vendor_id, product_id, model, report_size).
SUPPORTED_DEVICES: tuple[tuple[int, int, DeviceModel, int], ...] = _native._supported_devices


def is_virtual_path(path: str) -> bool:
    """True for the HID path of a virtual adapter of this process
    (``pyvantorsdk.sim``), False for a device of the system."""
    return path.startswith(_native._virtual_path_prefix)


def find_adapters(include_virtual: bool = True) -> list[HidDeviceInfo]:
    """The supported adapters present, real ones first."""
    found = [
        info
        for vendor_id, product_id, _model, _size in SUPPORTED_DEVICES
        for info in enumerate_devices(vendor_id, product_id)
    ]
    if not include_virtual:
        found = [info for info in found if not is_virtual_path(info.path)]
    found.sort(key=lambda info: is_virtual_path(info.path))
    return found


__all__ = [
    "__version__",
    # Device access
    "DeviceFacade",
    "AsyncDeviceFacade",
    "DeviceBatch",
    "BatchCall",
    "BatchState",
    "DeviceInfo",
    "HidDeviceInfo",
    "I2cScanResult",
    "enumerate_devices",
    "make_device_info",
    "decode_i2c_scan",
    "decode_spi_transfer",
    "i3c_ccc_table",
    "command_table",
    "notification_table",
    "SUPPORTED_DEVICES",
    "is_virtual_path",
    "find_adapters",
    # Notifications
    "Notification",
    "I3cHotJoinNotification",
    "I3cIbiNotification",
    "I3cTargetBusEventNotification",
    "I2cTargetBusEventNotification",
    "SpiTargetBusEventNotification",
    "I3cConnectorEventNotification",
    "UartRxNotification",
    "GpioInterruptNotification",
    "UnknownNotification",
    # Errors
    "VantorError",
    "VantorTimeoutError",
    "DisconnectError",
    "ProtocolError",
    "CapabilityError",
    "FirmwareError",
    "SystemFirmwareError",
    "I2cError",
    "SpiError",
    "UartError",
    "GpioError",
    "I3cError",
    # Enumerations: device and status
    "DeviceModel",
    "StatusCode",
    # GPIO
    "GpioFunctionality",
    "GpioLogicLevel",
    "GpioPinNumber",
    "GpioTriggerType",
    # I2C controller and target
    "I2cBus",
    "I2cOpenDrainRate",
    "I2cPullUp",
    "I2cTargetAddressMode",
    "I2cTargetEepromBusyBehavior",
    "I2cTargetEraseScope",
    "I2cTargetMemoryLayout",
    "I2cTargetModel",
    "I2cTargetRegisterAccess",
    # SPI controller and target
    "SpiBitOrder",
    "SpiChipSelect",
    "SpiChipSelectPolarity",
    "SpiDataWidth",
    "SpiMode",
    "SpiTargetEngine",
    "SpiTargetModel",
    # UART
    "UartBaudRate",
    "UartDataSize",
    "UartHwHandshake",
    "UartParity",
    "UartStopBit",
    # I3C controller, transfers and target
    "I3cConnectorEvent",
    "I3cConnectorPort",
    "I3cConnectorType",
    "I3cDriveStrength",
    "I3cEvent",
    "I3cOpenDrainRate",
    "I3cPushPullRate",
    "I3cTargetBusEventKind",
    "I3cTargetDcr",
    "I3cTargetMemoryLayout",
    "I3cTargetResetDefByte",
    "I3cTransferDirection",
    "I3cTransferFlags",
]
