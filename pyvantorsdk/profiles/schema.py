# SPDX-License-Identifier: MIT
"""Reading a profile: the schema every table is checked against, the rules
between keys, device contents from hex, dumps and files, and the line of the
key an error names. ``loads`` and ``load`` return the loaded form described
in the package's docstring."""

from __future__ import annotations

import os
import re
import stat
import sys
import warnings
from dataclasses import dataclass
from importlib import resources
from pathlib import Path
from typing import Any, Dict, Iterator, List, Mapping, Optional, Sequence, Tuple, Union

from pyvantorsdk._cpp._pyvantorsdk_cpp import (
    DeviceModel,
    I2cTargetEepromBusyBehavior,
    I2cTargetModel,
    I2cTargetRegisterAccess,
    I3cConnectorType,
    SpiBitOrder,
    SpiChipSelectPolarity,
    SpiTargetEngine,
    SpiTargetModel,
)

if sys.version_info >= (3, 11):
    import tomllib
else:  # pragma: no cover - exercised on older interpreters only
    import tomli as tomllib

# The package that ships the profiles named by ``shipped()``.
_SHIPPED = __name__.rpartition(".")[0]

FORMAT_VERSION = 1

Profile = Dict[str, Any]
# A key's place in a profile: table names, array indices and the key itself.
KeyPath = Tuple[Union[str, int], ...]


class ProfileError(ValueError):
    """A profile that cannot be read, checked or applied.

    ``file`` is the profile's path (None for text without one), ``line`` the
    1-based line of the offending key when it can be found, and ``key`` the
    dotted key (``i2c.devices[1].size``)."""

    def __init__(
        self,
        message: str,
        *,
        file: Optional[str] = None,
        line: Optional[int] = None,
        key: Optional[str] = None,
    ) -> None:
        self.message = message
        self.file = file
        self.line = line
        self.key = key
        self._path: KeyPath = ()
        where = file or "<profile>"
        if line is not None:
            where += f":{line}"
        super().__init__(f"{where}: {key}: {message}" if key else f"{where}: {message}")

    def __reduce__(self) -> Any:
        return (_rebuild_error, (self.message, self.file, self.line, self.key))


def _rebuild_error(
    message: str, file: Optional[str], line: Optional[int], key: Optional[str]
) -> ProfileError:
    return ProfileError(message, file=file, line=line, key=key)


class ProfileDeprecationWarning(FutureWarning):
    """A profile written in a form that is still read but will not always be.

    A FutureWarning rather than a DeprecationWarning: profiles are written by
    the people who run the tests and the command line, and Python shows this
    kind to them by default. It names the profile's file and line."""


class _Invalid(Exception):
    """A rule broken at ``path``; turned into a ProfileError with the file and line."""

    def __init__(self, path: KeyPath, message: str) -> None:
        super().__init__(message)
        self.path = path
        self.message = message


def _key_text(path: KeyPath) -> str:
    text = ""
    for part in path:
        if isinstance(part, int):
            text += f"[{part}]"
        else:
            text += f".{part}" if text else part
    return text


# ---------------------------------------------------------------- the schema
#
# Each table is a dict of field name to _Field. A field's `kind` is one of the
# value kinds below, a nested schema (a table) or a one-element list holding a
# schema (an array of tables). Rules between fields (one contents source, an
# EEPROM's address width, unique addresses) live in the _check_* functions,
# run on the tables once their fields are read.

_REQUIRED = object()


@dataclass(frozen=True)
class _Field:
    kind: Any
    default: Any = None
    low: Optional[int] = None
    high: Optional[int] = None
    choices: Optional[Mapping[str, int]] = None
    hex_width: int = 0  # written as 0x.. with this many digits (0: decimal)
    # An absent table reads as one with its defaults (else as None: absent).
    filled: bool = False

    @property
    def required(self) -> bool:
        return self.default is _REQUIRED


def _table(schema: Dict[str, _Field]) -> _Field:
    return _Field(schema, filled=True)


def _choices(enum_type: Any, **aliases: int) -> Dict[str, int]:
    names = {member.name.lower(): int(member.value) for member in enum_type}
    names.update(aliases)
    return names


_MODELS = {"teranox": DeviceModel.TERANOX.value, "quillex": DeviceModel.QUILLEX.value}
_DEVICE_KINDS = {"eeprom": 0, "register_map": 1}
_TIMINGS = {"off": 0, "full-speed": 1, "high-speed": 2}
# Adapter settings left out of a written profile while they hold their default.
OPTIONAL_ADAPTER_KEYS = ("timing", "time_scale", "reception_queue_depth")
_CONNECTORS = _choices(I3cConnectorType, none=4)
_CONTENT_KEYS = ("contents_hex", "contents_file", "contents_dump", "contents_dump_file")


def _contents_fields() -> Dict[str, _Field]:
    return {key: _Field(str) for key in _CONTENT_KEYS}


_I2C_DEVICE: Dict[str, _Field] = {
    "bus": _Field(int, _REQUIRED, 0, 1),
    "address": _Field(int, _REQUIRED, 0, 0x3FF, hex_width=2),
    "ten_bit": _Field(bool, False),
    "kind": _Field(str, _REQUIRED, choices=_DEVICE_KINDS),
    "size": _Field(int, 256, 1, 65536),
    "page_size": _Field(int, 16, 1, 65536),
    "address_bytes": _Field(int, 1, 1, 2),
    "registers": _Field(dict),
    **_contents_fields(),
}

_SPI_DEVICE: Dict[str, _Field] = {
    "chip_select": _Field(int, _REQUIRED, 0, 3),
    "kind": _Field(str, "flash", choices={"flash": 0}),
    "size": _Field(int, 1 << 20, 1, 1 << 26),
    "jedec_id": _Field(bytes, bytes.fromhex("a74014")),
    "busy_polls": _Field(int, 2, 0, 1 << 16),
    **_contents_fields(),
}

_I3C_TARGET: Dict[str, _Field] = {
    "pid": _Field(int, _REQUIRED, 0, (1 << 48) - 1, hex_width=12),
    "bcr": _Field(int, 6, 0, 0xFF, hex_width=2),
    "dcr": _Field(int, 0, 0, 0xFF, hex_width=2),
    "static_address": _Field(int, None, 0x08, 0x77, hex_width=2),
    "mwl": _Field(int, 256, 1, 0xFFFF),
    "mrl": _Field(int, 256, 1, 0xFFFF),
    "max_ibi_payload": _Field(int, 0, 0, 0xFF),
    "memory_size": _Field(int, 1024, 1, 1 << 20),
    "hdr_ddr": _Field(bool, True),
    "max_data_speed": _Field(bytes, bytes(5)),
    **_contents_fields(),
}

_I3C_I2C_DEVICE: Dict[str, _Field] = {
    "address": _Field(int, _REQUIRED, 0, 0x7F, hex_width=2),
    "kind": _Field(str, _REQUIRED, choices=_DEVICE_KINDS),
    "size": _Field(int, 256, 1, 65536),
    "page_size": _Field(int, 16, 1, 65536),
    "address_bytes": _Field(int, 1, 1, 2),
}

_I3C_PORTS: Dict[str, _Field] = {
    "lv_connector": _Field(str, "none", choices=_CONNECTORS),
    "hv_connector": _Field(str, "none", choices=_CONNECTORS),
    "lv_external_mv": _Field(int, 0, 0, 5500),
    "hv_external_mv": _Field(int, 0, 0, 5500),
}

_I2C_TARGET_EEPROM: Dict[str, _Field] = {
    "total_size": _Field(int, 256, 1, 32768),
    "page_size": _Field(int, 16, 1, 32768),
    "write_cycle_us": _Field(int, 5000, 0, 0xFFFFFFFF),
    "erase_cycle_us": _Field(int, 5000, 0, 0xFFFFFFFF),
    "busy_behavior": _Field(str, "nack", choices=_choices(I2cTargetEepromBusyBehavior)),
    "erased_value": _Field(int, 0xFF, 0, 0xFF, hex_width=2),
    "wp_start": _Field(int, 0, 0, 0xFFFF),
    "wp_end": _Field(int, 0, 0, 0xFFFF),
}

_REGION: Dict[str, _Field] = {
    "start": _Field(int, _REQUIRED, 0, 0xFFFF, hex_width=2),
    "end": _Field(int, _REQUIRED, 0, 0xFFFF, hex_width=2),
    "access": _Field(str, "rw", choices=_choices(I2cTargetRegisterAccess)),
    "width": _Field(int, 1, 1, 4),
    "flags": _Field(int, 0, 0, 0xFF),
}

_I2C_TARGET: Dict[str, _Field] = {
    "bus": _Field(int, 0, 0, 1),
    "address": _Field(int, _REQUIRED, 0, 0x3FF, hex_width=2),
    "ten_bit": _Field(bool, False),
    "memory_address_bytes": _Field(int, 1, 1, 2),
    "model": _Field(str, "memory", choices=_choices(I2cTargetModel)),
    "eeprom": _Field(_I2C_TARGET_EEPROM),
    "regions": _Field([_REGION]),
    **_contents_fields(),
}

_SPI_TARGET_FLASH: Dict[str, _Field] = {
    "address_bytes": _Field(int, 3, 1, 4),
    "page_size": _Field(int, 256, 1, 0xFFFF),
    "write_cycle_us": _Field(int, 5000, 0, 0xFFFFFFFF),
    "jedec_id": _Field(bytes, b""),
    "flags": _Field(int, 0, 0, 0xFF),
}

_SPI_TARGET: Dict[str, _Field] = {
    "mode": _Field(int, 0, 0, 3),
    "bit_order": _Field(str, "msb", choices=_choices(SpiBitOrder)),
    "chip_select": _Field(int, 0, 0, 3),
    "chip_select_polarity": _Field(str, "active_low", choices=_choices(SpiChipSelectPolarity)),
    "model": _Field(str, "memory", choices=_choices(SpiTargetModel)),
    "engine": _Field(str, "dma", choices=_choices(SpiTargetEngine)),
    "flash": _Field(_SPI_TARGET_FLASH),
    **_contents_fields(),
}

_I3C_LAYOUTS = {"1x1024": 0, "2x512": 1, "4x256": 2}

_I3C_TARGET_ROLE: Dict[str, _Field] = {
    "memory_layout": _Field(str, "1x1024", choices=_I3C_LAYOUTS),
    "pid": _Field(int, _REQUIRED, 0, (1 << 48) - 1, hex_width=12),
    "bcr": _Field(int, 0, 0, 0xFF, hex_width=2),
    "dcr": _Field(int, 0, 0, 0xFF, hex_width=2),
    "static_address": _Field(int, _REQUIRED, 0, 0x7F, hex_width=2),
    "mwl": _Field(int, 1024, 1, 1024),
    "mrl": _Field(int, 1024, 1, 1024),
    **_contents_fields(),
}

_SCHEMA: Dict[str, _Field] = {
    "version": _Field(int, _REQUIRED),
    "adapter": _table(
        {
            "model": _Field(str, "teranox", choices=_MODELS),
            "serial": _Field(str, "SIM0001"),
            "bulk": _Field(bool, True),
            # The timing model (sim.VirtualAdapter's timing arguments);
            # written only when not the default.
            "timing": _Field(str, "off", choices=_TIMINGS),
            "time_scale": _Field(float, 1.0),
            "reception_queue_depth": _Field(int, 16, 1, 0xFFFF),
        }
    ),
    "identity": _table(
        {name: _Field(str) for name in ("manufacturer", "product_name", "hw_version", "fw_version")}
    ),
    "usb": _table(
        {
            "webusb_enabled": _Field(int, None, 0, 1),
            "cdc_enabled": _Field(int, None, 0, 1),
            "cdc_mode": _Field(int, None, 0, 254),
        }
    ),
    "power": _table({"external_mv": _Field(int, None, 0, 5500)}),
    "measurements": _table(
        {
            "io_mv": _Field(int, None, 0, 0xFFFF),
            "i3c_low_mv": _Field(int, None, 0, 0xFFFF),
            "i3c_high_mv": _Field(int, None, 0, 0xFFFF),
        }
    ),
    "gpio": _table({"inputs": _Field(dict)}),
    "i2c": _table({"devices": _Field([_I2C_DEVICE])}),
    "spi": _table({"devices": _Field([_SPI_DEVICE])}),
    "i3c": _table(
        {
            "targets": _Field([_I3C_TARGET]),
            "i2c_devices": _Field([_I3C_I2C_DEVICE]),
            "ports": _table(_I3C_PORTS),
        }
    ),
    "i2c_target": _Field(_I2C_TARGET),
    "spi_target": _Field(_SPI_TARGET),
    "i3c_target": _Field(_I3C_TARGET_ROLE),
}

_TYPE_NAMES = {
    int: "an integer",
    float: "a number",
    bool: "true or false",
    str: "a string",
    bytes: "a hex string",
}


def _describe(value: Any) -> str:
    if isinstance(value, bool):
        return "a boolean"
    if isinstance(value, int):
        return "an integer"
    if isinstance(value, float):
        return "a number"
    if isinstance(value, str):
        return "a string"
    if isinstance(value, dict):
        return "a table"
    if isinstance(value, list):
        return "an array"
    return type(value).__name__


def _hex_bytes(text: str, path: KeyPath) -> bytes:
    cleaned = re.sub(r"[\s:_]", "", text)
    if cleaned.lower().startswith("0x"):
        cleaned = cleaned[2:]
    try:
        return bytes.fromhex(cleaned)
    except ValueError:
        raise _Invalid(path, f"not a hex string: {text!r}") from None


def _read_value(field: _Field, value: Any, path: KeyPath) -> Any:
    kind = field.kind
    if isinstance(kind, dict):
        if not isinstance(value, dict):
            raise _Invalid(path, f"expected a table, got {_describe(value)}")
        return _read_table(kind, value, path)
    if isinstance(kind, list):
        if not isinstance(value, list) or not all(isinstance(item, dict) for item in value):
            raise _Invalid(path, f"expected an array of tables, got {_describe(value)}")
        return [_read_table(kind[0], item, (*path, index)) for index, item in enumerate(value)]
    if kind is dict:
        if not isinstance(value, dict):
            raise _Invalid(path, f"expected a table, got {_describe(value)}")
        return dict(value)
    if kind is bytes:
        if not isinstance(value, str):
            raise _Invalid(path, f"expected a hex string, got {_describe(value)}")
        return _hex_bytes(value, path)
    if kind is int and (isinstance(value, bool) or not isinstance(value, int)):
        raise _Invalid(path, f"expected an integer, got {_describe(value)}")
    if kind is float:
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise _Invalid(path, f"expected a number, got {_describe(value)}")
        if not 0 < value < float("inf"):
            raise _Invalid(path, f"{value} is not a number above zero")
        return float(value)
    if kind is not int and not isinstance(value, kind):
        raise _Invalid(path, f"expected {_TYPE_NAMES[kind]}, got {_describe(value)}")
    if field.choices is not None:
        name = value.lower()
        if name not in field.choices:
            options = ", ".join(sorted(field.choices))
            raise _Invalid(path, f"unknown value {value!r} (one of: {options})")
        return name
    if kind is int:
        if (field.low is not None and value < field.low) or (
            field.high is not None and value > field.high
        ):
            raise _Invalid(path, f"{value} is out of range {field.low}..{field.high}")
    return value


def _read_table(schema: Mapping[str, _Field], table: Mapping[str, Any], path: KeyPath) -> Profile:
    out: Profile = {}
    for key, value in table.items():
        if key not in schema:
            raise _Invalid((*path, key), "unknown key")
        out[key] = _read_value(schema[key], value, (*path, key))
    for key, field in schema.items():
        if key in out:
            continue
        if field.required:
            raise _Invalid((*path, key), "missing required key")
        if isinstance(field.kind, list):
            out[key] = []
        elif field.filled:
            out[key] = _read_table(field.kind, {}, (*path, key))
        else:
            out[key] = field.default
    return out


# ------------------------------------------------------------ device contents

_DUMP_ROW = re.compile(r"^\s*([0-9a-fA-F]+):((?:\s+(?:[0-9a-fA-F]{2}|XX|xx|--))+)")


def parse_dump(text: str, size: Optional[int] = None) -> bytes:
    """The bytes of an i2cdump-style listing: rows ``00: 12 34 ...`` (an
    optional header row of column numbers and a trailing ASCII column are
    ignored). Bytes the listing shows as ``XX`` or ``--`` read as 0xFF; rows
    not listed are 0xFF too. With `size`, a row reaching past that many bytes
    is refused (ValueError) rather than grown into."""
    image = bytearray()
    for number, line in enumerate(text.splitlines(), 1):
        match = _DUMP_ROW.match(line)
        if match is None:
            if line.strip() and not re.fullmatch(r"[\s0-9a-fA-F]+", line):
                raise ValueError(f"line {number} of the dump is not a row: {line.strip()!r}")
            continue
        offset = int(match.group(1), 16)
        cells = match.group(2).split()[:16]
        if size is not None and offset + len(cells) > size:
            raise ValueError(
                f"line {number} of the dump reaches past the memory's {size} bytes"
            )
        values = [0xFF if cell.upper() in ("XX", "--") else int(cell, 16) for cell in cells]
        if len(image) < offset:
            image.extend(b"\xff" * (offset - len(image)))
        image[offset : offset + len(values)] = bytes(values)
    return bytes(image)


@dataclass(frozen=True)
class _Files:
    """Where a profile's contents files are found: relative to `folder` and,
    unless `anywhere`, only inside it."""

    folder: Path
    anywhere: bool = False

    def find(self, name: str, where: KeyPath) -> Path:
        file = self.folder / name
        if self.anywhere:
            return file
        # Symbolic links are followed before the check, so that a link inside
        # the folder cannot lead out of it.
        real, root = Path(os.path.realpath(file)), Path(os.path.realpath(self.folder))
        if real != root and root not in real.parents:
            raise _Invalid(
                where,
                f"{name} is outside the profile's folder {root} "
                "(contents_anywhere=True allows any file)",
            )
        return real


# How much of a contents_dump_file is read for a memory of `size` bytes: a
# row of 16 bytes with its offset, ASCII column and spacing fits 128
# characters, and the header and comments a fixed allowance.
def _dump_text_limit(size: int) -> int:
    return (size + 15) // 16 * 128 + 65536


def _read_limited(file: Path, limit: int, where: KeyPath, too_long: str) -> bytes:
    """`file`, refused with `too_long` when it holds more than `limit` bytes.
    At most one byte more is read, so an endless or huge file is never read
    whole."""
    try:
        # Opened without blocking, so that a named pipe cannot hold the load
        # up waiting for a writer; it is refused.
        with open(os.open(file, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0)), "rb") as stream:
            if stat.S_ISFIFO(os.fstat(stream.fileno()).st_mode):
                raise _Invalid(where, f"{file} is a pipe, not a file")
            data = stream.read(limit + 1)
    except OSError as error:
        raise _Invalid(where, f"cannot read {file}: {error.strerror}") from None
    if len(data) > limit:
        raise _Invalid(where, f"{file} {too_long}")
    return data


def _contents(table: Profile, path: KeyPath, files: _Files, size: int) -> bytes:
    """The contents one of the contents_* keys gives (b'' when none does),
    for a memory of `size` bytes."""
    given = [key for key in _CONTENT_KEYS if table.get(key) is not None]
    if len(given) > 1:
        raise _Invalid((*path, given[1]), f"give at most one of {', '.join(_CONTENT_KEYS)}")
    if not given:
        return b""
    key = given[0]
    where = (*path, key)
    value: str = table[key]
    if key == "contents_hex":
        return _hex_bytes(value, where)
    if key == "contents_dump":
        try:
            return parse_dump(value, size)
        except ValueError as error:
            raise _Invalid(where, str(error)) from None
    file = files.find(value, where)
    if key == "contents_file":
        return _read_limited(file, size, where, f"is more than the size ({size})")
    limit = _dump_text_limit(size)
    data = _read_limited(
        file, limit, where, f"is more than {limit} bytes, too long for a dump of {size} bytes"
    )
    try:
        return parse_dump(data.decode("utf-8", "replace"), size)
    except ValueError as error:
        raise _Invalid(where, f"{file}: {error}") from None


def _take_contents(
    table: Profile, path: KeyPath, files: _Files, size: int, erased: int
) -> None:
    """Replace the contents_* keys with `contents`, bytes without the trailing
    erased bytes, checked against the memory's size."""
    data = _contents(table, path, files, size)
    for key in _CONTENT_KEYS:
        table.pop(key, None)
    if len(data) > size:
        raise _Invalid(path, f"contents are {len(data)} bytes, more than the size ({size})")
    table["contents"] = data.rstrip(bytes([erased]))


def _register_contents(table: Profile, path: KeyPath) -> None:
    registers = table.pop("registers", None)
    if registers is None:
        return
    if table["kind"] != "register_map":
        raise _Invalid((*path, "registers"), "only a register map has registers")
    image = bytearray(table["contents"].ljust(256, b"\x00"))
    for key, value in registers.items():
        where = (*path, "registers", key)
        try:
            register = int(key, 0)
        except ValueError:
            raise _Invalid(where, "a register's key is its number (0x10 or 16)") from None
        if not 0 <= register <= 0xFF:
            raise _Invalid(where, f"register {key} is out of range 0..255")
        if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= 0xFF:
            raise _Invalid(where, "a register's value is an integer 0..255")
        image[register] = value
    table["contents"] = bytes(image).rstrip(b"\x00")


def _check_memory_device(table: Profile, path: KeyPath, files: _Files) -> None:
    """The rules of an I2C device (on an I2C bus or as legacy device on I3C)."""
    if table["kind"] == "register_map":
        for key, default in (("size", 256), ("page_size", 16), ("address_bytes", 1)):
            if table[key] != default:
                raise _Invalid((*path, key), f"a register map has no {key} (it has 256 registers)")
        fill = 0x00
    else:
        if table["size"] > 256 and table["address_bytes"] == 1:
            raise _Invalid(
                (*path, "address_bytes"),
                f"a {table['size']}-byte EEPROM needs 2 address bytes",
            )
        if table["page_size"] > table["size"]:
            raise _Invalid((*path, "page_size"), "the page is larger than the EEPROM")
        fill = 0xFF
    _take_contents(table, path, files, table["size"], fill)
    _register_contents(table, path)


# GPIO inputs are named as the adapter's pins are labelled, pin1 to pin6
# (GpioPinNumber.PIN_1 to PIN_6, whose values are 0 to 5). Profiles of the
# first release named them by those values, as bare numbers 0 to 5: still
# read, with a ProfileDeprecationWarning.
GPIO_PINS = 6
_PIN_KEY = re.compile(r"pin([1-9][0-9]*)")
_OLD_PIN_KEY = re.compile(r"[0-9]+")


def gpio_key(pin: int) -> str:
    """The profile key of a GPIO pin given by its GpioPinNumber value (0 -> pin1)."""
    return f"pin{int(pin) + 1}"


def gpio_pin(key: str) -> int:
    """The GpioPinNumber value of a loaded profile's GPIO key (pin1 -> 0)."""
    return int(key[len("pin") :]) - 1


def _check_gpio_inputs(gpio: Profile) -> List[Tuple[KeyPath, str]]:
    """The input levels under their pin1..pin6 keys, ordered by pin. Keys of
    the old numbering from 0 are read into the new ones and reported; a
    table mixing both, or a bare number past 5, is refused as ambiguous."""
    levels: Dict[int, int] = {}
    old: List[str] = []
    new: List[str] = []
    for key, value in (gpio["inputs"] or {}).items():
        where: KeyPath = ("gpio", "inputs", key)
        named, bare = _PIN_KEY.fullmatch(key), _OLD_PIN_KEY.fullmatch(key)
        if named is not None and int(named.group(1)) <= GPIO_PINS:
            pin = int(named.group(1)) - 1
            new.append(key)
        elif bare is not None and int(key) < GPIO_PINS:
            pin = int(key)
            old.append(key)
        elif bare is not None:
            raise _Invalid(
                where,
                f"a GPIO input is named pin1 to pin{GPIO_PINS} "
                f"(a bare number is the old numbering from 0, 0 to {GPIO_PINS - 1})",
            )
        else:
            raise _Invalid(where, f"a GPIO input is named pin1 to pin{GPIO_PINS}")
        if old and new:
            raise _Invalid(
                where,
                f"{new[0]} and {old[0]} mix pin names with the old numbering from 0: "
                f"name every input pin1 to pin{GPIO_PINS}",
            )
        if pin in levels:
            raise _Invalid(where, f"{gpio_key(pin)} is given twice")
        if isinstance(value, bool) or value not in (0, 1):
            raise _Invalid(where, "a GPIO input level is 0 or 1")
        levels[pin] = value
    gpio["inputs"] = {gpio_key(pin): levels[pin] for pin in sorted(levels)}
    if not old:
        return []
    meaning = ", ".join(f"{key} is {gpio_key(int(key))}" for key in old)
    return [
        (
            ("gpio", "inputs", old[0]),
            f"GPIO inputs numbered from 0 are deprecated ({meaning}): "
            f"name them pin1 to pin{GPIO_PINS}",
        )
    ]


def _check_unique(items: Sequence[Profile], keys: Sequence[str], path: KeyPath, what: str) -> None:
    seen: Dict[Tuple[Any, ...], int] = {}
    for index, item in enumerate(items):
        identity = tuple(item[key] for key in keys)
        if identity in seen:
            raise _Invalid(
                (*path, index, keys[-1]), f"{what} already described at [{seen[identity]}]"
            )
        seen[identity] = index


def _check_profile(profile: Profile, files: _Files) -> List[Tuple[KeyPath, str]]:
    """Rules between keys, and the contents read into bytes. Returns the
    deprecated forms the profile uses: (where, what to write instead)."""
    if profile["version"] != FORMAT_VERSION:
        raise _Invalid(
            ("version",),
            f"unsupported format version {profile['version']} (this package reads {FORMAT_VERSION})",
        )
    adapter = profile["adapter"]
    if not adapter["serial"] or len(adapter["serial"]) > 31:
        raise _Invalid(("adapter", "serial"), "a serial number has 1 to 31 characters")
    if adapter["model"] == "quillex" and adapter["timing"] == "full-speed":
        raise _Invalid(
            ("adapter", "timing"),
            "the quillex's 1024-byte reports need high speed "
            "(a full-speed interrupt endpoint carries at most 64 bytes per frame)",
        )

    notices = _check_gpio_inputs(profile["gpio"])

    i2c_devices = profile["i2c"]["devices"]
    for index, device in enumerate(i2c_devices):
        if device["address"] > 0x7F:
            device["ten_bit"] = True
        _check_memory_device(device, ("i2c", "devices", index), files)
    _check_unique(
        i2c_devices, ("bus", "ten_bit", "address"), ("i2c", "devices"), "a device at this address"
    )

    spi_devices = profile["spi"]["devices"]
    for index, device in enumerate(spi_devices):
        path: KeyPath = ("spi", "devices", index)
        if len(device["jedec_id"]) != 3:
            raise _Invalid((*path, "jedec_id"), "a JEDEC id is 3 bytes")
        _take_contents(device, path, files, device["size"], 0xFF)
    _check_unique(spi_devices, ("chip_select",), ("spi", "devices"), "a device on this chip select")

    i3c = profile["i3c"]
    for index, target in enumerate(i3c["targets"]):
        path = ("i3c", "targets", index)
        if len(target["max_data_speed"]) != 5:
            raise _Invalid((*path, "max_data_speed"), "the GETMXDS answer is 5 bytes")
        _take_contents(target, path, files, target["memory_size"], 0x00)
    _check_unique(i3c["targets"], ("pid",), ("i3c", "targets"), "a target with this PID")
    statics = {t["static_address"]: i for i, t in enumerate(i3c["targets"]) if t["static_address"]}
    for index, device in enumerate(i3c["i2c_devices"]):
        path = ("i3c", "i2c_devices", index)
        _check_memory_device(device, path, files)
        del device["contents"]  # legacy devices start erased: the bench cannot fill them
        if device["address"] in statics:
            raise _Invalid(
                (*path, "address"),
                f"address taken by i3c.targets[{statics[device['address']]}]",
            )
    _check_unique(
        i3c["i2c_devices"], ("address",), ("i3c", "i2c_devices"), "a device at this address"
    )

    _check_i2c_target(profile, files)
    _check_spi_target(profile, files)
    if profile["i3c_target"] is not None:
        _take_contents(profile["i3c_target"], ("i3c_target",), files, 1024, 0x00)
    return notices


def _check_i2c_target(profile: Profile, files: _Files) -> None:
    target = profile["i2c_target"]
    if target is None:
        return
    path: KeyPath = ("i2c_target",)
    if target["address"] > 0x7F:
        target["ten_bit"] = True
    if target["eeprom"] is not None and target["model"] != "eeprom":
        raise _Invalid((*path, "eeprom"), "only an EEPROM target has an eeprom table")
    if target["regions"] and target["model"] != "register_map":
        raise _Invalid((*path, "regions"), "only a register-map target has regions")
    target["regions"] = target["regions"] or []
    if target["model"] == "eeprom":
        eeprom = target["eeprom"] or _read_table(_I2C_TARGET_EEPROM, {}, (*path, "eeprom"))
        target["eeprom"] = eeprom
        if eeprom["total_size"] > 256 and target["memory_address_bytes"] == 1:
            raise _Invalid(
                (*path, "memory_address_bytes"),
                f"a {eeprom['total_size']}-byte EEPROM needs 2 memory address bytes",
            )
        if eeprom["page_size"] > eeprom["total_size"]:
            raise _Invalid((*path, "eeprom", "page_size"), "the page is larger than the EEPROM")
        size, fill = eeprom["total_size"], eeprom["erased_value"]
    else:
        size, fill = (32768 if target["memory_address_bytes"] == 2 else 256), 0x00
    for index, region in enumerate(target["regions"]):
        if region["end"] < region["start"]:
            raise _Invalid((*path, "regions", index, "end"), "a region ends before it starts")
    _take_contents(target, path, files, size, fill)
    if target["contents"] and not profile["adapter"]["bulk"]:
        raise _Invalid((*path, "contents"), "target memory is filled over bulk: set adapter.bulk")


def _check_spi_target(profile: Profile, files: _Files) -> None:
    target = profile["spi_target"]
    if target is None:
        return
    path: KeyPath = ("spi_target",)
    if target["flash"] is not None and target["model"] != "flash":
        raise _Invalid((*path, "flash"), "only a flash target has a flash table")
    if target["model"] == "flash":
        target["flash"] = target["flash"] or _read_table(_SPI_TARGET_FLASH, {}, (*path, "flash"))
        if len(target["flash"]["jedec_id"]) > 8:
            raise _Invalid((*path, "flash", "jedec_id"), "a JEDEC id has at most 8 bytes")
    fill = 0xFF if target["model"] == "flash" else 0x00
    _take_contents(target, path, files, 32768, fill)
    if target["contents"] and not profile["adapter"]["bulk"]:
        raise _Invalid((*path, "contents"), "target memory is filled over bulk: set adapter.bulk")


# ------------------------------------------------------------ finding lines

_HEADER = re.compile(r"^\s*(\[\[?)\s*([^\]]+?)\s*\]\]?")
_NAME = r"""(?:[A-Za-z0-9_\-]+|"[^"]*"|'[^']*')"""
_KEY = re.compile(rf"^\s*({_NAME}(?:\s*\.\s*{_NAME})*)\s*=")


def _unquote(name: str) -> str:
    return ".".join(part.strip().strip("\"'") for part in name.split("."))


def _code_lines(text: str) -> Iterator[Tuple[int, str]]:
    """The numbered lines that start outside a multi-line string, with any
    comment cut off. Strings are followed quote by quote, so that quotes in a
    comment or inside another string open nothing."""
    closing: Optional[str] = None  # the delimiter of the open multi-line string
    for number, line in enumerate(text.splitlines(), 1):
        starts_inside = closing is not None
        code_end = len(line)
        i = 0
        while i < len(line):
            if closing is not None:
                if closing == '"""' and line[i] == "\\":
                    i += 2
                elif line.startswith(closing, i):
                    # Quotes right after the delimiter belong to the string:
                    # the last three close it.
                    i += 3
                    while i < len(line) and line[i] == closing[0]:
                        i += 1
                    closing = None
                else:
                    i += 1
                continue
            char = line[i]
            if char == "#":
                code_end = i
                break
            if line.startswith('"""', i) or line.startswith("'''", i):
                closing = line[i : i + 3]
                i += 3
            elif char in "\"'":
                i += 1
                while i < len(line) and line[i] != char:
                    i += 2 if char == '"' and line[i] == "\\" else 1
                i += 1
            else:
                i += 1
        if not starts_inside:
            yield number, line[:code_end]


def _key_lines(text: str) -> Dict[Tuple[str, Optional[int], str], int]:
    """Where each key is: (table name, index in its array of tables or None,
    key) -> line. A table's header line is stored under the key ''."""
    lines: Dict[Tuple[str, Optional[int], str], int] = {}
    counts: Dict[str, int] = {}
    table, index = "", None
    for number, line in _code_lines(text):
        header = _HEADER.match(line)
        if header is not None and not _KEY.match(line):
            table = _unquote(header.group(2))
            if header.group(1) == "[[":
                index = counts.get(table, 0)
                counts[table] = index + 1
            else:
                index = None
            lines.setdefault((table, index, ""), number)
            lines.setdefault((table, None, ""), number)  # the array as a whole
            continue
        key = _KEY.match(line)
        if key is not None:
            name = _unquote(key.group(1))
            lines.setdefault((table, index, name), number)
            lines.setdefault((table, index, name.split(".")[0]), number)
    return lines


def _line_of(text: str, path: KeyPath) -> Optional[int]:
    """The line of the key at `path`, or of the nearest enclosing key or
    table that the text shows."""
    lines = _key_lines(text)
    parts = list(path)
    while parts:
        # Split into the table part (names, with the index of the last array
        # of tables) and the keys inside it; try each split, longest table first.
        for cut in range(len(parts), -1, -1):
            head, tail = parts[:cut], parts[cut:]
            index: Optional[int] = None
            if head and isinstance(head[-1], int):
                index = head[-1]
                head = head[:-1]
            if any(isinstance(part, int) for part in head + tail):
                continue
            table = ".".join(str(part) for part in head)
            key = ".".join(str(part) for part in tail)
            found = lines.get((table, index, key))
            if found is not None:
                return found
        parts.pop()
    return None


# ---------------------------------------------------------------- loading


def loads(
    text: str,
    *,
    file: Optional[str] = None,
    base: Optional[Path] = None,
    contents_anywhere: bool = False,
) -> Profile:
    """Check a profile's text and return it in the loaded form.

    Contents files (``contents_file``, ``contents_dump_file``) are found from
    `base` (the current directory if None) and must lie inside it, symbolic
    links resolved: an absolute path or one leading out of the folder is
    refused unless `contents_anywhere` is True. Each is read only as far as
    the memory it fills can hold.

    A profile is trusted input all the same: it decides what the virtual
    adapter holds and where ``save_profile`` writes, so load only profiles
    from sources you would run code from."""
    try:
        raw = tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        match = re.search(r"line (\d+)", str(error))
        line = int(match.group(1)) if match else None
        raise ProfileError(f"not valid TOML: {error}", file=file, line=line) from None
    try:
        profile = _read_table(_SCHEMA, raw, ())
        notices = _check_profile(profile, _Files(base or Path.cwd(), contents_anywhere))
    except _Invalid as error:
        raise ProfileError(
            error.message, file=file, line=_line_of(text, error.path), key=_key_text(error.path)
        ) from None
    for path, message in notices:
        # Reported at the profile's own line, which the warning shows below it.
        warnings.warn_explicit(
            f"{_key_text(path)}: {message}",
            ProfileDeprecationWarning,
            filename=file or "<profile>",
            lineno=_line_of(text, path) or 0,
        )
    return profile


def load(path: Union[str, "os.PathLike[str]"], *, contents_anywhere: bool = False) -> Profile:
    """Read and check the profile file at `path`; its contents files are
    found from, and confined to, its folder (see `loads`)."""
    file = Path(path)
    try:
        text = file.read_text(encoding="utf-8")
    except OSError as error:
        raise ProfileError(f"cannot read the profile: {error.strerror}", file=str(file)) from None
    except UnicodeDecodeError:
        raise ProfileError("not UTF-8 text", file=str(file)) from None
    return loads(text, file=str(file), base=file.parent, contents_anywhere=contents_anywhere)


def shipped() -> List[str]:
    """The names of the profiles that come with the package."""
    folder = resources.files(_SHIPPED)
    return sorted(
        entry.name[: -len(".toml")] for entry in folder.iterdir() if entry.name.endswith(".toml")
    )


def resolve(path_or_name: Union[str, "os.PathLike[str]"]) -> Path:
    """The file of a profile given by path or by a shipped profile's name."""
    file = Path(path_or_name)
    if file.exists() or isinstance(path_or_name, os.PathLike):
        return file
    name = str(path_or_name)
    if name in shipped():
        return Path(str(resources.files(_SHIPPED).joinpath(f"{name}.toml")))
    if os.sep in name or name.endswith(".toml"):
        return file  # a path that does not exist; load() says so
    raise ProfileError(
        f"no profile file and no shipped profile of this name (shipped: {', '.join(shipped())})",
        file=name,
    )


# ------------------------------------------------------------ building a bench
