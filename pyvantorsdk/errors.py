# SPDX-License-Identifier: MIT
"""Exceptions raised for a non-success status of an adapter operation.

Every exception carries the status (``status_code``, a ``StatusCode`` member,
or the raw integer for a firmware code this library does not know yet) and
the name of the operation that failed (``operation``, possibly ``None``).
The message is ``OPERATION failed: STATUS_NAME (0xCODE)``; for the common
statuses a second line, ``hint: ...``, says what to do next (``hint`` holds
it, or ``None``).

    VantorError
    ├── VantorTimeoutError (also TimeoutError)
    ├── DisconnectError    (also ConnectionError)
    │   └── NoAdapterError
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
    "NoAdapterError",
    "ProtocolError",
    "CapabilityError",
    "FirmwareError",
    "SystemFirmwareError",
    "I2cError",
    "SpiError",
    "UartError",
    "GpioError",
    "I3cError",
    "hint_for",
]


def _describe(status_code: Union[StatusCode, int]) -> str:
    # StatusCode is a plain Enum (not an int); unknown codes arrive as int.
    if isinstance(status_code, int):
        return f"unknown status 0x{status_code:04X}"
    return f"{status_code.name} (0x{int(status_code.value):04X})"


# ------------------------------------------------------------------- hints
# The call that sets up each family, by the prefix of its operations' names;
# the first prefix that matches wins (i2c_target_ before i2c_).
_SETUP_CALLS = (
    ("i2c_target_", "i2c_target_init()"),
    ("spi_target_", "spi_target_init()"),
    ("i3c_target_", "i3c_target_init()"),
    ("i2c_", "i2c_controller_init()"),
    ("spi_", "spi_controller_init()"),
    ("uart_", "uart_init()"),
    ("i3c_", "i3c_controller_init()"),
)

# What the adapter accepts, for the hints of a refused setting.
I2C_FREQUENCY_HZ = (1_000, 1_000_000)
IO_RAIL_MV = (1_200, 3_300)
I3C_LV_MV = (1_000, 1_800)
I3C_HV_MV = (1_800, 3_300)

NO_ADAPTER_HINT = (
    "check the cable and 'vantor list'; if the adapter is listed but does not open, "
    "install the udev rules ('vantor udev-rules'); pyvantorsdk.sim offers a virtual adapter"
)
NO_ADAPTER_HINT_CLI = (
    "check the cable and 'vantor list'; if the adapter is listed but does not open, "
    "install the udev rules ('vantor udev-rules'); --sim runs on a virtual adapter"
)


def _not_initialized(operation: str, cli: bool) -> Optional[str]:
    if cli:
        # The CLI sets up every bus itself except the I3C controller.
        if operation.startswith("i3c_") and not operation.startswith("i3c_target_"):
            return "initialise the I3C bus first: add --init, or run 'vantor i3c init'"
        return None
    call = next((c for prefix, c in _SETUP_CALLS if operation.startswith(prefix)), None)
    return None if call is None else f"initialise the bus first: call {call}"


def _role_conflict(bus: str, release: str) -> Callable[[str, bool], str]:
    def hint(operation: str, cli: bool) -> str:
        if operation.startswith(f"{bus.lower()}_target_"):
            return (f"the {bus} controller role holds the bus; one role at a time: "
                    f"release it with {release} first")
        return (f"the {bus} target role holds the bus; one role at a time: "
                "reset_device() ends it")
    return hint


def _engine_busy(operation: str, cli: bool) -> Optional[str]:
    if operation == "i3c_target_init":
        holder = "controller"
    elif operation in ("i3c_controller_init", "i3c_init_bus"):
        holder = "target"
    else:
        return None
    return f"the I3C {holder} role holds the adapter's one I3C engine: reset_device() ends it"


def _invalid_parameter(operation: str, cli: bool) -> Optional[str]:
    if operation in ("i2c_controller_init", "i2c_set_parameters"):
        low, high = I2C_FREQUENCY_HZ
        return f"the I2C clock takes {low} to {high} Hz"
    return None


def _disconnect(operation: str, cli: bool) -> str:
    if operation == "connect":
        return NO_ADAPTER_HINT_CLI if cli else NO_ADAPTER_HINT
    return "the adapter is not connected or was unplugged: connect it again ('vantor list')"


def _fixed(text: str) -> Callable[[str, bool], str]:
    return lambda _operation, _cli: text


# What to do next about a status, by status name: a function of the failed
# operation's name (which tells the family) and of whether the reader is at
# the command line; None where nothing useful can be said.
_HINTS: Dict[str, Callable[[str, bool], Optional[str]]] = {
    "FW_INTERFACE_NOT_INITIALIZED": _not_initialized,
    "FW_INVALID_PARAMETER": _invalid_parameter,
    "FW_I2C_ROLE_CONFLICT": _role_conflict("I2C", "i2c_deinit(bus)"),
    "FW_SPI_ROLE_CONFLICT": _role_conflict("SPI", "spi_deinit()"),
    "FW_I3C_ENGINE_BUSY": _engine_busy,
    "FW_VOLTAGE_OUT_OF_RANGE": _fixed(
        f"the I/O rail takes {IO_RAIL_MV[0]} to {IO_RAIL_MV[1]} mV"),
    "FW_VOLTAGE_OUT_OF_RANGE_ON_I3C_LV": _fixed(
        f"the I3C LV port takes {I3C_LV_MV[0]} to {I3C_LV_MV[1]} mV (0 switches it off)"),
    "FW_VOLTAGE_OUT_OF_RANGE_ON_I3C_HV": _fixed(
        f"the I3C HV port takes {I3C_HV_MV[0]} to {I3C_HV_MV[1]} mV (0 switches it off)"),
    "FW_EXTERNAL_VOLTAGE_DETECTED": _fixed(
        "an external supply drives this rail: remove it, or use the external supply "
        "(the *_use_external_voltage() calls, 'vantor voltage set --external')"),
    "FW_GPIO_NOT_CONFIGURED": _fixed("configure the pin first: gpio_configure_pin()"),
    "SDK_ERROR_DISCONNECT": _disconnect,
}


def hint_for(
    status_code: Union[StatusCode, int], operation: Optional[str], *, cli: bool = False
) -> Optional[str]:
    """One line on what to do next about ``status_code`` from ``operation``
    (a facade method name), or None. ``cli`` words it for the ``vantor``
    command line instead of Python code."""
    rule = _HINTS.get(getattr(status_code, "name", ""))
    return None if rule is None else rule(operation or "", cli)


class VantorError(Exception):
    """Base class of every error reported by an adapter operation."""

    status_code: Union[StatusCode, int]
    operation: Optional[str]
    hint: Optional[str]

    def __init__(
        self, status_code: Union[StatusCode, int], operation: Optional[str] = None
    ) -> None:
        self.status_code = status_code
        self.operation = operation or None
        self.hint = hint_for(status_code, operation)
        where = f"{operation} failed" if operation else "operation failed"
        message = f"{where}: {_describe(status_code)}"
        super().__init__(message if self.hint is None else f"{message}\nhint: {self.hint}")

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


class NoAdapterError(DisconnectError):
    """No adapter opened: none is attached, none matches the path or serial
    number asked for, or the one found cannot be opened (permissions).

    The message says which, keeps the status (``SDK_ERROR_DISCONNECT``) and
    adds the hint; ``reason`` is its first part."""

    reason: str

    def __init__(
        self,
        status_code: Union[StatusCode, int],
        operation: Optional[str] = "connect",
        reason: str = "no adapter found",
    ) -> None:
        super().__init__(status_code, operation)
        self.reason = reason
        # "no adapter found (connect failed: SDK_ERROR_DISCONNECT (0x4000))",
        # then the hint line.
        first, newline, rest = str(self.args[0]).partition("\n")
        self.args = (f"{reason} ({first}){newline}{rest}",)

    def __reduce__(self) -> Tuple[Callable[..., VantorError], Tuple[object, ...]]:
        return (_rebuild, (type(self), self.status_code, self.operation, {"reason": self.reason}))


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
