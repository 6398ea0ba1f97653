# SPDX-License-Identifier: MIT
"""JSON forms of the facade's arguments, results, errors and events, for
calls that cross a process boundary (the lab agent of ``pyvantorsdk.labgrid``).

Plain JSON values (None, bool, int, float, str, list) pass as they are; the
rest are one-key objects tagged with ``$``:

    bytes               {"$b": "48656c6c6f"}          lowercase hex
    tuple               {"$t": [...]}
    frozenset/set       {"$s": [...]}
    dict                {"$d": [[key, value], ...]}   any keys
    enum member         {"$e": "I2cBus", "v": 0}      a pyvantorsdk enum
    record              {"$r": "DeviceInfo", "f": {"serial_number": ...}}

A record is any other object of the native module (DeviceInfo, I2cScanResult,
the notifications); it travels as its class name and its properties and
comes back as a ``Record`` with the same attributes (DeviceInfo as the real
class). Nothing else is encoded: ``encode`` raises TypeError, so a call
with an argument that cannot cross is refused before it is sent.

This module needs only the package, so that the agent can run it on a host
where labgrid is not installed.
"""

from __future__ import annotations

import enum
from typing import Any, Dict, Optional, Type, Union

from pyvantorsdk import errors
from pyvantorsdk._cpp import _pyvantorsdk_cpp as _native

__all__ = ["FORWARDED", "LOCAL_ONLY", "Record", "encode", "decode", "encode_error", "decode_error"]

# DeviceFacade methods that cannot be forwarded one call at a time: the
# agent opens and closes the adapter itself, callbacks stay with the caller
# (events come back through polling), and batches and trace scopes are
# objects that live on for several calls.
LOCAL_ONLY = frozenset(
    {"connect", "connect_serial", "disconnect", "on_notification", "on_connection_lost",
     "batch", "trace"}
)

# The DeviceFacade methods a remote device forwards, taken from the class so
# that a new facade method is forwarded without a change here.
FORWARDED = frozenset(
    name
    for name in dir(_native.DeviceFacade)
    if not name.startswith("_")
    and callable(getattr(_native.DeviceFacade, name))
    and name not in LOCAL_ONLY
)

# The package's enumerations, by class name: the only classes `decode` builds.
_ENUMS: Dict[str, Type[enum.Enum]] = {
    name: value
    for name, value in vars(_native).items()
    if isinstance(value, type) and issubclass(value, enum.Enum)
}

# Builtin exceptions an agent call may raise for a bad argument, re-raised as
# themselves; any other foreign exception becomes a RuntimeError.
_BUILTIN_ERRORS: Dict[str, Type[Exception]] = {
    cls.__name__: cls
    for cls in (TypeError, ValueError, OverflowError, KeyError, IndexError, NotImplementedError)
}


class Record:
    """A native record as it arrived from the agent: the same attributes,
    read-only; its class is named after the original (``UartRxNotification``
    has ``data``, ``I2cScanResult`` has ``addresses_7bit``)."""

    __slots__ = ("_fields",)

    def __init__(self, fields: Dict[str, Any]) -> None:
        object.__setattr__(self, "_fields", dict(fields))

    def __getattr__(self, name: str) -> Any:
        try:
            return self._fields[name]
        except KeyError:
            raise AttributeError(f"{type(self).__name__} has no attribute {name!r}") from None

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"{type(self).__name__} is read-only")

    def __eq__(self, other: object) -> bool:
        return type(other) is type(self) and self._fields == other._fields

    def __hash__(self) -> int:
        return hash((type(self).__name__, tuple(sorted(self._fields))))

    def __repr__(self) -> str:
        inner = ", ".join(f"{key}={value!r}" for key, value in self._fields.items())
        return f"{type(self).__name__}({inner})"


_RECORD_TYPES: Dict[str, Type[Record]] = {}


def _record_type(name: str) -> Type[Record]:
    if not name.isidentifier():
        raise ValueError(f"malformed record name {name!r}")
    found = _RECORD_TYPES.get(name)
    if found is None:
        found = _RECORD_TYPES[name] = type(name, (Record,), {"__slots__": ()})
    return found


def _properties(value: object) -> Dict[str, Any]:
    cls = type(value)
    return {
        name: getattr(value, name)
        for klass in reversed(cls.__mro__)
        for name, attribute in vars(klass).items()
        if isinstance(attribute, property) and not name.startswith("_")
    }


def encode(value: Any) -> Any:
    """``value`` in its JSON-able form; TypeError for what cannot cross."""
    if value is None or isinstance(value, (str, float)):
        return value
    if isinstance(value, enum.Enum):
        cls = type(value)
        if _ENUMS.get(cls.__name__) is not cls:
            raise TypeError(f"cannot send {cls.__name__} values to the agent")
        return {"$e": cls.__name__, "v": value.value}
    if isinstance(value, (bool, int)):
        return value if type(value) in (bool, int) else int(value)
    if isinstance(value, (bytes, bytearray, memoryview)):
        return {"$b": bytes(value).hex()}
    if isinstance(value, list):
        return [encode(item) for item in value]
    if isinstance(value, tuple):
        return {"$t": [encode(item) for item in value]}
    if isinstance(value, (set, frozenset)):
        return {"$s": [encode(item) for item in sorted(value)]}
    if isinstance(value, dict):
        return {"$d": [[encode(key), encode(item)] for key, item in value.items()]}
    if isinstance(value, Record):
        return {"$r": type(value).__name__, "f": {k: encode(v) for k, v in value._fields.items()}}
    if type(value).__module__.startswith("pyvantorsdk"):
        fields = _properties(value)
        return {"$r": type(value).__name__, "f": {k: encode(v) for k, v in fields.items()}}
    raise TypeError(f"cannot send a {type(value).__name__} to the agent")


def _decode_record(name: str, fields: Dict[str, Any]) -> Any:
    if name == "DeviceInfo":
        return _native.make_device_info(
            fields["manufacturer"],
            fields["product_name"],
            fields["serial_number"],
            fields["hw_version"],
            fields["fw_version"],
        )
    return _record_type(name)(fields)


def _decode_tagged(value: Dict[str, Any]) -> Any:
    if len(value) == 1 and "$b" in value:
        return bytes.fromhex(value["$b"])
    if len(value) == 1 and "$t" in value:
        return tuple(decode(item) for item in value["$t"])
    if len(value) == 1 and "$s" in value:
        return frozenset(decode(item) for item in value["$s"])
    if len(value) == 1 and "$d" in value:
        return {decode(key): decode(item) for key, item in value["$d"]}
    if set(value) == {"$e", "v"}:
        cls = _ENUMS.get(value["$e"])
        if cls is None:
            raise ValueError(f"unknown enumeration {value['$e']!r}")
        return cls(value["v"])
    if set(value) == {"$r", "f"} and isinstance(value["f"], dict):
        return _decode_record(value["$r"], {k: decode(v) for k, v in value["f"].items()})
    raise ValueError(f"malformed value {value!r}")


def decode(value: Any) -> Any:
    """The value that ``encode`` turned into ``value``. Raises ValueError
    (or KeyError, TypeError) for a form that ``encode`` does not produce."""
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    if isinstance(value, list):
        return [decode(item) for item in value]
    if isinstance(value, dict):
        return _decode_tagged(value)
    raise ValueError(f"malformed value {value!r}")


# ------------------------------------------------------------------ errors
def encode_error(error: Exception) -> Dict[str, Any]:
    """An exception raised by a facade call, for ``decode_error``."""
    if isinstance(error, errors.VantorError):
        status = error.status_code
        extra: Dict[str, Any] = {}
        if isinstance(error, errors.I3cError):
            extra["data"] = error.data.hex()
        if isinstance(error, errors.NoAdapterError):
            extra["reason"] = error.reason
        return {
            "class": type(error).__name__,
            "status": status.name if isinstance(status, enum.Enum) else int(status),
            "operation": error.operation,
            "extra": extra,
        }
    return {"class": type(error).__name__, "message": str(error)}


def _vantor_class(name: str) -> Optional[Type[errors.VantorError]]:
    found = getattr(errors, name, None)
    if isinstance(found, type) and issubclass(found, errors.VantorError):
        return found
    return None


def decode_error(form: Dict[str, Any]) -> Exception:
    """The exception ``encode_error`` described: the package's own error
    classes with their status code and operation, the common builtin errors
    as themselves, anything else as RuntimeError naming the original class."""
    name = str(form.get("class", ""))
    cls = _vantor_class(name)
    if cls is None or "status" not in form:
        builtin = _BUILTIN_ERRORS.get(name)
        message = str(form.get("message", ""))
        return builtin(message) if builtin is not None else RuntimeError(f"{name}: {message}")
    raw = form["status"]
    status: Union[_native.StatusCode, int]
    status = _native.StatusCode[raw] if isinstance(raw, str) else int(raw)
    operation = form.get("operation")
    extra = form.get("extra") or {}
    if issubclass(cls, errors.I3cError):
        return cls(status, operation, bytes.fromhex(extra.get("data", "")))
    if issubclass(cls, errors.NoAdapterError):
        return cls(status, operation, extra.get("reason", "no adapter found"))
    return cls(status, operation)

