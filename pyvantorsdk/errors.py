# SPDX-License-Identifier: MIT
"""Exceptions raised for a non-success status of an adapter operation.

Every exception carries the status (``status_code``, a ``StatusCode`` member,
or the raw integer for a firmware code this library does not know yet) and
the name of the operation that failed (``operation``, possibly ``None``).

    VantorError
    ├── VantorTimeoutError (also TimeoutError)
    ├── DisconnectError    (also ConnectionError)
    ├── ProtocolError
    ├── CapabilityError
    └── FirmwareError
        ├── SystemFirmwareError
        ├── I2cError
        ├── SpiError
        ├── UartError
        ├── GpioError
        └── I3cError
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Callable, Dict, Optional, Tuple, Type, Union

if TYPE_CHECKING:  # the compiled module imports this one
    from pyvantorsdk._cpp._pyvantorsdk_cpp import StatusCode

__all__ = [
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
]


def _describe(status_code: Union[StatusCode, int]) -> str:
    # StatusCode is a plain Enum (not an int); unknown codes arrive as int.
    if isinstance(status_code, int):
        return f"unknown status 0x{status_code:04X}"
    return f"{status_code.name} (0x{int(status_code.value):04X})"


class VantorError(Exception):
    """Base class of every error reported by an adapter operation."""

    status_code: Union[StatusCode, int]
    operation: Optional[str]

    def __init__(
        self, status_code: Union[StatusCode, int], operation: Optional[str] = None
    ) -> None:
        self.status_code = status_code
        self.operation = operation or None
        where = f"{operation} failed" if operation else "operation failed"
        super().__init__(f"{where}: {_describe(status_code)}")

    # Keeps pickling working with keyword-only construction in subclasses.
    def __reduce__(self) -> Tuple[Callable[..., VantorError], Tuple[object, ...]]:
        return (_rebuild, (type(self), self.status_code, self.operation))


def _rebuild(
    cls: Type[VantorError],
    status_code: Union[StatusCode, int],
    operation: Optional[str],
    extra: Optional[Dict[str, Any]] = None,
) -> VantorError:
    # `extra`: the keyword arguments a subclass adds (I3cError: data).
    return cls(status_code=status_code, operation=operation, **(extra or {}))


class VantorTimeoutError(VantorError, TimeoutError):
    """No matching response arrived before the timeout."""


class DisconnectError(VantorError, ConnectionError):
    """The adapter is not connected, or writing the request failed."""


class ProtocolError(VantorError):
    """The request was refused before sending, or the response was malformed
    or belonged to another request."""


class CapabilityError(VantorError):
    """The adapter's bulk interface is absent or does not support the command."""


class FirmwareError(VantorError):
    """The adapter's firmware answered with an error status."""


class SystemFirmwareError(FirmwareError):
    """Power, voltage and settings errors (0x01xx)."""


class I2cError(FirmwareError):
    """I2C errors (0x02xx)."""


class SpiError(FirmwareError):
    """SPI errors (0x03xx)."""


class UartError(FirmwareError):
    """UART errors (0x04xx)."""


class GpioError(FirmwareError):
    """GPIO errors (0x05xx)."""


class I3cError(FirmwareError):
    """I3C and target-table errors (0x06xx).

    ``data`` holds the bytes a failed read received before it stopped (for
    ``FW_I3C_TRANSFER_INCOMPLETE_READ``, what the target sent); it is empty
    for every other call.
    """

    data: bytes

    def __init__(
        self,
        status_code: Union[StatusCode, int],
        operation: Optional[str] = None,
        data: bytes = b"",
    ) -> None:
        super().__init__(status_code, operation)
        self.data = bytes(data)

    def __reduce__(self) -> Tuple[Callable[..., VantorError], Tuple[object, ...]]:
        return (_rebuild, (type(self), self.status_code, self.operation, {"data": self.data}))
