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

__version__ = "1.5.1"

# Enumerations of the native module, re-exported under their own names.
_ENUM_NAMES = [
    name
    for name, value in vars(_native).items()
    if isinstance(value, type) and not name.startswith("_") and hasattr(value, "__members__")
]
globals().update({name: getattr(_native, name) for name in _ENUM_NAMES})

__all__ = [
    "__version__",
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
