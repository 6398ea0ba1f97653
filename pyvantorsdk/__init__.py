"""Drive a USB host adapter for I2C, SPI, UART, GPIO and I3C from Python."""

from __future__ import annotations

from pyvantorsdk._cpp import _pyvantorsdk_cpp as _native
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

from pyvantorsdk._cpp._pyvantorsdk_cpp import (
    DeviceFacade,
    DeviceInfo,
    GpioInterruptNotification,
    HidDeviceInfo,
    I2cScanResult,
    I2cTargetBusEventNotification,
    I3cConnectorEventNotification,
    I3cHotJoinNotification,
    I3cIbiNotification,
    I3cTargetBusEventNotification,
    Notification,
    SpiTargetBusEventNotification,
    UartRxNotification,
    UnknownNotification,
    decode_i2c_scan,
    decode_spi_transfer,
    enumerate_devices,
    make_device_info,
)

__version__ = "1.5.1"

# The adapters the SDK opens: (vendor_id, product_id, model, report_size).
SUPPORTED_DEVICES = _native._supported_devices


def is_virtual_path(path: str) -> bool:
    """True for the HID path of a virtual adapter of this process
    (``pyvantorsdk.sim``), False for a device of the system."""
    return path.startswith(_native._virtual_path_prefix)


def find_adapters(include_virtual: bool = True) -> "list[HidDeviceInfo]":
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

# Enumerations of the native module, re-exported under their own names.
_ENUM_NAMES = [
    name
    for name, value in vars(_native).items()
    if isinstance(value, type) and not name.startswith("_") and hasattr(value, "__members__")
]
globals().update({name: getattr(_native, name) for name in _ENUM_NAMES})

__all__ = [
    "__version__",
    "DeviceFacade",
    "DeviceInfo",
    "HidDeviceInfo",
    "I2cScanResult",
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
    "enumerate_devices",
    "make_device_info",
    "decode_i2c_scan",
    "decode_spi_transfer",
    "SUPPORTED_DEVICES",
    "is_virtual_path",
    "find_adapters",
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
    *_ENUM_NAMES,
]
