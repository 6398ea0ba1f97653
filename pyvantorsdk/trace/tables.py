# SPDX-License-Identifier: MIT
"""The command and notification tables the compiled module exports, indexed
by code, and the decoding of a message's fields by them."""

from __future__ import annotations

import struct
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

from pyvantorsdk._cpp import _pyvantorsdk_cpp as _native

Value = Union[int, bytes, str]
Fields = Sequence[Mapping[str, Any]]

# The command group (the top six bits of a code) of each family.
FAMILY_OF_GROUP = {1: "system", 2: "i2c", 3: "spi", 4: "uart", 5: "gpio", 6: "i3c"}
_SCALARS = {"u8": ("B", 1), "u16": ("<H", 2), "u32": ("<I", 4), "u16be": (">H", 2)}


def family_of_code(code: int) -> str:
    return FAMILY_OF_GROUP.get(code >> 10, "") if code >= 0 else ""


class Tables:
    """What the decoder knows of the protocol: commands and notifications by
    code, enumeration member names, CCC names and status names.

    By default everything comes from the compiled module."""

    def __init__(
        self,
        commands: Optional[Sequence[Mapping[str, Any]]] = None,
        notifications: Optional[Sequence[Mapping[str, Any]]] = None,
    ) -> None:
        if commands is None:
            commands = native_table("command_table")
        if notifications is None:
            notifications = native_table("notification_table")
        self.commands: Dict[int, Mapping[str, Any]] = {}
        for entry in commands:
            self.commands.setdefault(int(entry["code"]), entry)
        self.notifications: Dict[int, Mapping[str, Any]] = {}
        for entry in notifications:
            self.notifications.setdefault(int(entry["code"]), entry)
        self._ccc: Dict[int, str] = {}
        for ccc in native_table("i3c_ccc_table"):
            self._ccc.setdefault(int(ccc["code"]), str(ccc["name"]))

    def command(self, code: int) -> Optional[Mapping[str, Any]]:
        return self.commands.get(code)

    def notification(self, code: int) -> Optional[Mapping[str, Any]]:
        return self.notifications.get(code)

    def status_name(self, code: int) -> Optional[str]:
        name = self.enum_value("StatusCode", code)
        return name if isinstance(name, str) else None

    def enum_value(self, enum: str, value: int) -> Union[int, str]:
        """The member name of ``value`` in the module's enumeration ``enum``
        (the CCC name for "ccc"); the number itself when it names nothing."""
        if enum == "ccc":
            return self._ccc.get(value, value)
        kind = getattr(_native, enum, None) if enum else None
        if kind is None:
            return value
        try:
            return str(kind(value).name)
        except (ValueError, TypeError):
            return value


def native_table(name: str) -> Tuple[Mapping[str, Any], ...]:
    """One of the compiled module's protocol tables."""
    export = getattr(_native, name, None)
    if export is None:
        raise RuntimeError(f"the compiled module has no {name}(): rebuild it")
    return tuple(export())


def decode_fields(
    fields: Fields, message: bytes, start: int, tables: Tables
) -> Tuple[Dict[str, Value], Dict[str, int], List[str], bool]:
    """The values of ``fields`` read from ``message`` at ``start``.

    Returns the values (enumeration members by name), the raw numbers of
    the scalar fields (for counts and data phases), the problems found, and
    whether the message is too short for a field it must hold. A byte field
    whose count field announces more than is there keeps the bytes present
    and notes it; an optional field the message ends before is left out."""
    values: Dict[str, Value] = {}
    raw: Dict[str, int] = {}
    problems: List[str] = []
    at = start
    for field in fields:
        name = str(field["name"])
        optional = bool(field.get("optional", False))
        left = len(message) - at
        if str(field["type"]) == "bytes":
            count = str(field.get("count", "") or "*")
            if count == "*":
                wanted = max(left, 0)
            elif count.isdigit():
                wanted = int(count)
            elif count in raw:
                wanted = raw[count]
            else:
                problems.append(f"'{name}' counts by '{count}', which the message lacks")
                return values, raw, problems, True
            if wanted > left:
                if optional and left <= 0:
                    break
                if count in raw:
                    # Counted by a field: the bytes present, and a note.
                    problems.append(f"'{count}' announces {wanted} bytes of '{name}', "
                                    f"{max(left, 0)} present")
                    values[name] = bytes(message[at:])
                    at = len(message)
                    continue
                if optional:
                    break
                problems.append(f"the message ends inside '{name}'")
                return values, raw, problems, True
            values[name] = bytes(message[at : at + wanted])
            at += wanted
            continue
        layout = _SCALARS.get(str(field["type"]))
        if layout is None:
            problems.append(f"'{name}' has a type this decoder does not know: {field['type']}")
            return values, raw, problems, True
        form, size = layout
        if size > left:
            if optional:
                break
            problems.append(f"the message ends before '{name}'")
            return values, raw, problems, True
        number = int(struct.unpack_from(form, message, at)[0])
        at += size
        raw[name] = number
        enum = str(field.get("enum", "") or "")
        values[name] = tables.enum_value(enum, number) if enum else number
    return values, raw, problems, False
