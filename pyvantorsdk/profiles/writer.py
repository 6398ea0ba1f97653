# SPDX-License-Identifier: MIT
"""Writing a loaded profile as TOML: keys in the schema's order, defaults left
out, and long device contents in binary files beside the profile."""

from __future__ import annotations

import os
from pathlib import Path
from typing import Any, Callable, List, Mapping, Optional, Tuple, Union

from pyvantorsdk.profiles.schema import _SCHEMA, OPTIONAL_ADAPTER_KEYS, Profile, _Field

# Contents longer than this go to a binary file next to the profile.
INLINE_CONTENTS = 256


def dumps(
    profile: Profile,
    *,
    contents_file: Optional[Callable[[str, bytes], str]] = None,
) -> str:
    """The TOML text of a loaded profile. Contents longer than
    INLINE_CONTENTS bytes are handed to `contents_file(name, data)`, which
    stores them and returns the path to write (relative to the profile);
    without it every contents is written inline as hex."""
    out: List[str] = [f"version = {profile['version']}"]
    _dump_table(_SCHEMA, profile, (), out, contents_file)
    return "\n".join(out) + "\n"


def dump(profile: Profile, path: Union[str, "os.PathLike[str]"]) -> None:
    """Write a loaded profile to `path`; long contents go to binary files
    named after it (``bench.toml`` -> ``bench.i2c.devices.0.bin``)."""
    file = Path(path)

    def store(name: str, data: bytes) -> str:
        side = file.with_name(f"{file.stem}.{name}.bin")
        side.write_bytes(data)
        return side.name

    file.write_text(dumps(profile, contents_file=store), encoding="utf-8")


def _format_value(field: Optional[_Field], value: Any) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        if field is not None and field.hex_width:
            return f"0x{value:0{field.hex_width}X}"
        return str(value)
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, bytes):
        return f'"{value.hex()}"'
    text = str(value)
    escaped = text.replace("\\", "\\\\").replace('"', '\\"')
    escaped = "".join(c if c.isprintable() else f"\\u{ord(c):04x}" for c in escaped)
    return f'"{escaped}"'


def _dump_table(
    schema: Mapping[str, _Field],
    table: Mapping[str, Any],
    path: Tuple[str, ...],
    out: List[str],
    contents_file: Optional[Callable[[str, bytes], str]],
    item: Optional[str] = None,
) -> None:
    """Write one table: its header (only when it has keys of its own, or is
    an element of an array of tables, `item`), its keys, then its subtables."""
    name = ".".join(path)
    lines: List[str] = []
    nested: List[Tuple[str, Any]] = []
    order = {key: index for index, key in enumerate(schema)}
    for key, value in sorted(table.items(), key=lambda item: order.get(item[0], len(order))):
        field = schema.get(key)
        if value is None or (not path and key == "version"):
            continue
        optional = path != ("adapter",) or key in OPTIONAL_ADAPTER_KEYS
        if field is not None and optional and not field.required:
            if value == field.default and type(value) is type(field.default):
                continue  # a default is left out, except the adapter's own settings
        if key == "contents":
            if not value:
                continue
            if contents_file is not None and len(value) > INLINE_CONTENTS:
                stored = contents_file(item or name, value)
                lines.append(f"contents_file = {_format_value(None, stored)}")
            else:
                lines.append(f"contents_hex = {_format_value(None, value)}")
        elif isinstance(value, (dict, list)):
            nested.append((key, value))
        else:
            lines.append(f"{key} = {_format_value(field, value)}")
    if path and (lines or item is not None):
        out.extend(["", f"[[{name}]]" if item is not None else f"[{name}]"])
    out.extend(lines)
    for key, value in nested:
        field = schema.get(key)
        kind = field.kind if field is not None else {}
        if isinstance(value, list):
            for index, element in enumerate(value):
                sub = kind[0] if isinstance(kind, list) else {}
                _dump_table(
                    sub,
                    element,
                    (*path, key),
                    out,
                    contents_file,
                    f"{name}.{key}.{index}".lstrip("."),
                )
        else:
            _dump_table(
                kind if isinstance(kind, dict) else {}, value, (*path, key), out, contents_file
            )
