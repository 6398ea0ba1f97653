# SPDX-License-Identifier: MIT
"""Virtual benches described in TOML files.

A profile describes one virtual adapter: its model, serial number and bulk
interface, the devices on its I2C, SPI and I3C buses with their contents, the
adapter's own target emulation, the I/O rail and the levels driven onto the
GPIO inputs::

    version = 1

    [adapter]
    model = "teranox"
    serial = "BENCH01"

    [[i2c.devices]]
    bus = 0
    address = 0x50
    kind = "eeprom"
    size = 256
    contents_hex = "de ad be ef"

``load`` reads and checks a file, ``apply`` builds the bench it describes,
``capture`` reads a bench back into the same form and ``dump`` writes it out.
``sim.VirtualAdapter.from_profile`` and ``save_profile`` wrap them.

A loaded profile is a plain nested dict with every default filled in, choices
as their lower-case names and device contents as ``bytes`` (without the
trailing erased bytes), so that two profiles describing the same bench compare
equal.
"""

from __future__ import annotations

import os
import re
import stat
import sys
from contextlib import contextmanager
from dataclasses import dataclass
from importlib import resources
from pathlib import Path
from typing import (
    TYPE_CHECKING,
    Any,
    Callable,
    Dict,
    Iterator,
    List,
    Mapping,
    Optional,
    Sequence,
    Tuple,
    Union,
)

from pyvantorsdk._cpp._pyvantorsdk_cpp import (
    DeviceModel,
    I2cTargetAddressMode,
    I2cTargetEepromBusyBehavior,
    I2cTargetMemoryLayout,
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

if TYPE_CHECKING:
    from pyvantorsdk.sim import VirtualAdapter

__all__ = [
    "FORMAT_VERSION",
    "Profile",
    "ProfileError",
    "load",
    "loads",
    "apply",
    "capture",
    "dump",
    "dumps",
    "shipped",
    "resolve",
    "build",
    "parse_dump",
]

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

_TYPE_NAMES = {int: "an integer", bool: "true or false", str: "a string", bytes: "a hex string"}


def _describe(value: Any) -> str:
    if isinstance(value, bool):
        return "a boolean"
    if isinstance(value, int):
        return "an integer"
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


def _check_unique(items: Sequence[Profile], keys: Sequence[str], path: KeyPath, what: str) -> None:
    seen: Dict[Tuple[Any, ...], int] = {}
    for index, item in enumerate(items):
        identity = tuple(item[key] for key in keys)
        if identity in seen:
            raise _Invalid(
                (*path, index, keys[-1]), f"{what} already described at [{seen[identity]}]"
            )
        seen[identity] = index


def _check_profile(profile: Profile, files: _Files) -> None:
    """Rules between keys, and the contents read into bytes."""
    if profile["version"] != FORMAT_VERSION:
        raise _Invalid(
            ("version",),
            f"unsupported format version {profile['version']} (this package reads {FORMAT_VERSION})",
        )
    adapter = profile["adapter"]
    if not adapter["serial"] or len(adapter["serial"]) > 31:
        raise _Invalid(("adapter", "serial"), "a serial number has 1 to 31 characters")

    levels: Dict[int, int] = {}
    for key, value in (profile["gpio"]["inputs"] or {}).items():
        where: KeyPath = ("gpio", "inputs", key)
        if not key.isdigit() or int(key) > 5:
            raise _Invalid(where, "a GPIO input is named by its pin number, 0 to 5")
        if isinstance(value, bool) or value not in (0, 1):
            raise _Invalid(where, "a GPIO input level is 0 or 1")
        levels[int(key)] = value
    profile["gpio"]["inputs"] = {str(pin): levels[pin] for pin in sorted(levels)}

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
        _check_profile(profile, _Files(base or Path.cwd(), contents_anywhere))
    except _Invalid as error:
        raise ProfileError(
            error.message, file=file, line=_line_of(text, error.path), key=_key_text(error.path)
        ) from None
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
    folder = resources.files(__name__)
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
        return Path(str(resources.files(__name__).joinpath(f"{name}.toml")))
    if os.sep in name or name.endswith(".toml"):
        return file  # a path that does not exist; load() says so
    raise ProfileError(
        f"no profile file and no shipped profile of this name (shipped: {', '.join(shipped())})",
        file=name,
    )


# ------------------------------------------------------------ building a bench


def build(
    path_or_name: Union[str, "os.PathLike[str]"], *, contents_anywhere: bool = False
) -> "VirtualAdapter":
    """A virtual adapter built from a profile file or a shipped profile's
    name; `contents_anywhere` as for `loads`."""
    from pyvantorsdk.sim import VirtualAdapter

    file = resolve(path_or_name)
    profile = load(file, contents_anywhere=contents_anywhere)
    settings = profile["adapter"]
    adapter = VirtualAdapter(
        DeviceModel[settings["model"].upper()], settings["serial"], settings["bulk"]
    )
    try:
        apply(profile, adapter)
    except ProfileError as error:
        adapter.close()
        text = file.read_text(encoding="utf-8")
        located = ProfileError(
            error.message, file=str(file), line=_line_of(text, error._path), key=error.key
        )
        raise located from error.__cause__
    except BaseException:
        adapter.close()
        raise
    adapter._profile_record = profile
    return adapter


@contextmanager
def _building(path: KeyPath) -> Iterator[None]:
    """Turns the bench's refusal of one part of a profile into a ProfileError
    naming that part."""
    try:
        yield
    except ProfileError:
        raise
    except ValueError as error:
        failure = ProfileError(f"the bench refused this: {error}", key=_key_text(path))
        failure._path = path
        raise failure from error


def apply(profile: Profile, adapter: "VirtualAdapter") -> None:
    """Build the bench of `profile` on a fresh adapter of the profile's model,
    serial and bulk setting. The adapter's traffic records are cleared
    afterwards, so they start empty."""
    system = adapter.system
    identity = {k: v for k, v in profile["identity"].items() if v is not None}
    if identity:
        system.set_identity(**identity)
    usb = {k: v for k, v in profile["usb"].items() if v is not None}
    if usb and not system.set_usb_settings(**usb):
        with _building(("usb",)):
            raise ValueError("a USB setting is out of the adapter's range")
    if profile["power"]["external_mv"] is not None:
        adapter.power.set_external_voltage(profile["power"]["external_mv"])
    measurements = profile["measurements"]
    if any(value is not None for value in measurements.values()):
        current = system.analog_measurements
        system.set_analog_measurements(
            *(
                measurements[key] if measurements[key] is not None else getattr(current, key)
                for key in ("io_mv", "i3c_low_mv", "i3c_high_mv")
            )
        )
    for pin, level in profile["gpio"]["inputs"].items():
        adapter.gpio.drive_input(int(pin), level)

    for index, device in enumerate(profile["i2c"]["devices"]):
        bus, address, ten_bit = device["bus"], device["address"], device["ten_bit"]
        with _building(("i2c", "devices", index)):
            if device["kind"] == "eeprom":
                adapter.i2c.attach_eeprom(
                    bus,
                    address,
                    size=device["size"],
                    page_size=device["page_size"],
                    address_bytes=device["address_bytes"],
                    ten_bit=ten_bit,
                )
            else:
                adapter.i2c.attach_register_map(bus, address, ten_bit=ten_bit)
            if device["contents"]:
                adapter.i2c.write_memory(bus, address, 0, device["contents"], ten_bit=ten_bit)

    for index, device in enumerate(profile["spi"]["devices"]):
        with _building(("spi", "devices", index)):
            adapter.spi.attach_flash(
                device["chip_select"],
                size=device["size"],
                jedec_id=device["jedec_id"],
                busy_polls=device["busy_polls"],
            )
            if device["contents"]:
                adapter.spi.write_memory(device["chip_select"], 0, device["contents"])

    i3c = profile["i3c"]
    for index, target in enumerate(i3c["targets"]):
        with _building(("i3c", "targets", index)):
            adapter.i3c.attach_target(
                target["pid"], **{key: target[key] for key in _I3C_TARGET_ARGUMENTS}
            )
            if target["contents"]:
                adapter.i3c.write_memory(target["pid"], 0, target["contents"])
    for index, device in enumerate(i3c["i2c_devices"]):
        with _building(("i3c", "i2c_devices", index)):
            if device["kind"] == "eeprom":
                adapter.i3c.attach_i2c_eeprom(
                    device["address"],
                    size=device["size"],
                    page_size=device["page_size"],
                    address_bytes=device["address_bytes"],
                )
            else:
                adapter.i3c.attach_i2c_register_map(device["address"])
    ports = i3c["ports"]
    for port, side in ((0, "lv"), (1, "hv")):
        with _building(("i3c", "ports", f"{side}_external_mv")):
            adapter.i3c.set_external_supply(port, ports[f"{side}_external_mv"])
        connector = ports[f"{side}_connector"]
        if connector != "none":
            adapter.i3c.plug_connector(port, _CONNECTORS[connector])

    if any(profile[role] is not None for role in ("i2c_target", "spi_target", "i3c_target")):
        _set_up_targets(profile, adapter)
    adapter.clear()


_I3C_TARGET_ARGUMENTS = (
    "bcr",
    "dcr",
    "static_address",
    "mwl",
    "mrl",
    "max_ibi_payload",
    "memory_size",
    "hdr_ddr",
    "max_data_speed",
)


def _set_up_targets(profile: Profile, adapter: "VirtualAdapter") -> None:
    """The adapter's target roles are set up the way a host sets them up:
    through a facade connected for the purpose."""
    from pyvantorsdk import DeviceFacade
    from pyvantorsdk.errors import VantorError

    with DeviceFacade() as dev:
        if not dev.connect(adapter.path):
            raise ProfileError("cannot connect to the virtual adapter to set up its targets")
        step: KeyPath = ()
        try:
            target = profile["i2c_target"]
            if target is not None:
                step = ("i2c_target",)
                dev.i2c_target_init(
                    target["bus"],
                    target["address"],
                    int(target["ten_bit"]),
                    target["memory_address_bytes"] - 1,
                    _choices(I2cTargetModel)[target["model"]],
                )
                if target["eeprom"] is not None:
                    step = ("i2c_target", "eeprom")
                    eeprom = target["eeprom"]
                    dev.i2c_target_set_eeprom_config(
                        eeprom["total_size"],
                        eeprom["page_size"],
                        eeprom["write_cycle_us"],
                        eeprom["erase_cycle_us"],
                        _choices(I2cTargetEepromBusyBehavior)[eeprom["busy_behavior"]],
                        eeprom["erased_value"],
                        eeprom["wp_start"],
                        eeprom["wp_end"],
                    )
                for index, region in enumerate(target["regions"]):
                    step = ("i2c_target", "regions", index)
                    dev.i2c_target_set_register_region(
                        region["start"],
                        region["end"],
                        _choices(I2cTargetRegisterAccess)[region["access"]],
                        region["width"],
                        region["flags"],
                    )
                if target["contents"]:
                    step = ("i2c_target", "contents")
                    dev.i2c_target_write_memory(0, target["contents"])
            target = profile["spi_target"]
            if target is not None:
                step = ("spi_target",)
                dev.spi_target_init(
                    target["mode"],
                    _choices(SpiBitOrder)[target["bit_order"]],
                    target["chip_select"],
                    _choices(SpiChipSelectPolarity)[target["chip_select_polarity"]],
                    _choices(SpiTargetModel)[target["model"]],
                    _choices(SpiTargetEngine)[target["engine"]],
                )
                if target["flash"] is not None:
                    step = ("spi_target", "flash")
                    flash = target["flash"]
                    dev.spi_target_set_flash_config(
                        flash["address_bytes"],
                        flash["page_size"],
                        flash["write_cycle_us"],
                        flash["jedec_id"],
                        flash["flags"],
                    )
                if target["contents"]:
                    step = ("spi_target", "contents")
                    dev.spi_target_write_memory(0, target["contents"])
            target = profile["i3c_target"]
            if target is not None:
                step = ("i3c_target",)
                dev.i3c_target_init(
                    _I3C_LAYOUTS[target["memory_layout"]],
                    target["pid"].to_bytes(6, "big"),
                    target["bcr"],
                    target["dcr"],
                    target["static_address"],
                    target["mwl"],
                    target["mrl"],
                )
                if target["contents"]:
                    step = ("i3c_target", "contents")
                    dev.i3c_target_write_memory(0, target["contents"])
        except VantorError as error:
            failure = ProfileError(f"the adapter refused this set-up: {error}", key=_key_text(step))
            failure._path = step
            raise failure from error


# ------------------------------------------------------ reading a bench back


def _text(value: bytes) -> str:
    return bytes(value).decode("utf-8", "replace")


def _name_of(choices: Mapping[str, int], value: int) -> str:
    for name, number in choices.items():
        if number == value:
            return name
    raise ProfileError(f"the bench reports a value this format has no name for: {value}")


def _known(record: Optional[Profile], section: str, key: str) -> Dict[Any, Tuple[int, Profile]]:
    """The devices of a loaded profile, by their place on the bus: their index
    in the profile (a saved bench lists them in the same order) and the device."""
    if record is None:
        return {}
    items = record[section][key]
    places = {
        ("i2c", "devices"): lambda d: (d["bus"], d["ten_bit"], d["address"]),
        ("spi", "devices"): lambda d: d["chip_select"],
        ("i3c", "targets"): lambda d: d["pid"],
        ("i3c", "i2c_devices"): lambda d: d["address"],
    }[(section, key)]
    return {places(item): (index, item) for index, item in enumerate(items)}


def capture(adapter: "VirtualAdapter", record: Optional[Profile] = None) -> Profile:
    """Read the bench of `adapter` into the loaded form.

    The bench reports every device it attached with its settings and
    contents, the GPIO input levels and the external supply it was given.
    `record`, the profile the adapter was built from (if any), gives the
    order devices are listed in and two settings of I3C targets the bench
    does not report (``hdr_ddr``, ``max_data_speed``). A device of the
    caller's own, attached from C++, has no profile form: ProfileError."""
    system = adapter.system
    identity = system.identity
    usb = system.usb_settings
    measurements = system.analog_measurements
    levels = adapter.gpio.driven_levels
    profile: Profile = {
        "version": FORMAT_VERSION,
        "adapter": {
            "model": adapter.model.name.lower(),
            "serial": adapter.serial,
            "bulk": adapter.bulk,
        },
        "identity": {
            key: _text(getattr(identity, key))
            for key in ("manufacturer", "product_name", "hw_version", "fw_version")
        },
        "usb": {
            "webusb_enabled": usb.webusb_enabled,
            "cdc_enabled": usb.cdc_enabled,
            "cdc_mode": usb.cdc_mode,
        },
        "power": {"external_mv": adapter.power.external_voltage},
        "measurements": {
            "io_mv": measurements.io_mv,
            "i3c_low_mv": measurements.i3c_low_mv,
            "i3c_high_mv": measurements.i3c_high_mv,
        },
        "gpio": {
            "inputs": {str(pin): level for pin, level in enumerate(levels) if level is not None}
        },
    }

    devices: List[Profile] = []
    for info in adapter.i2c.devices:
        where = f"I2C bus {info.bus} address {info.address:#04x}"
        device: Profile = {"bus": info.bus, "address": info.address, "ten_bit": info.ten_bit}
        device.update(_memory_device(info, where))
        memory = bytes(adapter.i2c.memory(info.bus, info.address, ten_bit=info.ten_bit))
        fill = 0xFF if device["kind"] == "eeprom" else 0x00
        devices.append({**device, "contents": memory.rstrip(bytes([fill]))})
    known = _known(record, "i2c", "devices")
    profile["i2c"] = {
        "devices": _in_profile_order(
            known, devices, lambda d: (d["bus"], d["ten_bit"], d["address"])
        )
    }

    flashes = {flash.chip_select: flash for flash in adapter.spi.flashes}
    devices = []
    for chip_select in range(4):
        memory = bytes(adapter.spi.memory(chip_select))
        if not memory:
            continue
        flash = flashes.get(chip_select)
        if flash is None:
            raise _unreported(f"SPI chip select {chip_select}")
        devices.append(
            {
                "chip_select": chip_select,
                "kind": "flash",
                "size": flash.size,
                "jedec_id": bytes(flash.jedec_id),
                "busy_polls": flash.busy_polls,
                "contents": memory.rstrip(b"\xff"),
            }
        )
    known = _known(record, "spi", "devices")
    profile["spi"] = {"devices": _in_profile_order(known, devices, lambda d: d["chip_select"])}

    known = _known(record, "i3c", "targets")
    targets: List[Profile] = []
    for state in adapter.i3c.targets:
        memory = bytes(adapter.i3c.memory(state.pid))
        previous = known.get(state.pid, (0, {}))[1]
        targets.append(
            {
                "pid": state.pid,
                "bcr": state.bcr,
                "dcr": state.dcr,
                "static_address": state.static_address,
                "mwl": state.mwl,
                "mrl": state.mrl,
                "max_ibi_payload": state.max_ibi_payload,
                "memory_size": len(memory),
                # Not reported by the bench: as described, or the bench's defaults.
                "hdr_ddr": previous.get("hdr_ddr", True),
                "max_data_speed": previous.get("max_data_speed", bytes(5)),
                "contents": memory.rstrip(b"\x00"),
            }
        )
    targets = _in_profile_order(known, targets, lambda t: t["pid"])
    legacy = [
        {
            "address": info.address,
            **_memory_device(info, f"I2C address {info.address:#04x} on the I3C bus"),
        }
        for info in adapter.i3c.i2c_devices
    ]
    known = _known(record, "i3c", "i2c_devices")
    ports = adapter.i3c.ports
    profile["i3c"] = {
        "targets": targets,
        "i2c_devices": _in_profile_order(known, legacy, lambda d: d["address"]),
        "ports": {
            "lv_connector": _name_of(_CONNECTORS, ports.lv_connector),
            "hv_connector": _name_of(_CONNECTORS, ports.hv_connector),
            "lv_external_mv": ports.lv_external_mv,
            "hv_external_mv": ports.hv_external_mv,
        },
    }
    profile["i2c_target"] = _capture_i2c_target(adapter)
    profile["spi_target"] = _capture_spi_target(adapter)
    profile["i3c_target"] = _capture_i3c_target(adapter)
    return profile


def _unreported(where: str) -> ProfileError:
    return ProfileError(
        f"{where}: a device of the caller's own, which a profile cannot describe; "
        "detach it before saving"
    )


def _memory_device(info: Any, where: str) -> Profile:
    """The kind and sizes of an attached I2C device, as a profile gives them
    (a register map has the format's defaults for the EEPROM settings)."""
    kind = info.kind.name.lower()
    if kind == "register_map":
        return {"kind": kind, "size": 256, "page_size": 16, "address_bytes": 1}
    if kind != "eeprom":
        raise _unreported(where)
    return {
        "kind": kind,
        "size": info.size,
        "page_size": info.page_size,
        "address_bytes": info.address_bytes,
    }


def _in_profile_order(
    known: Mapping[Any, Tuple[int, Profile]], items: List[Profile], place: Callable[[Profile], Any]
) -> List[Profile]:
    """`items` in the order the profile listed them; the others after, as found."""
    unknown = len(known)
    return sorted(items, key=lambda item: known.get(place(item), (unknown, {}))[0])


def _capture_i2c_target(adapter: "VirtualAdapter") -> Optional[Profile]:
    state = adapter.i2c_target.state
    if not state.active:
        return None
    model = _name_of(_choices(I2cTargetModel), state.model)
    eeprom = None
    fill = 0x00
    if model == "eeprom":
        eeprom = {
            "total_size": state.memory_size,
            "page_size": state.page_size,
            "write_cycle_us": state.write_cycle_us,
            "erase_cycle_us": state.erase_cycle_us,
            "busy_behavior": _name_of(_choices(I2cTargetEepromBusyBehavior), state.busy_behavior),
            "erased_value": state.erased_value,
            "wp_start": state.wp_start,
            "wp_end": state.wp_end,
        }
        fill = state.erased_value
    regions = [
        {
            "start": region.start,
            "end": region.end,
            "access": _name_of(_choices(I2cTargetRegisterAccess), region.access),
            "width": region.width,
            "flags": region.flags,
        }
        for region in adapter.i2c_target.regions
    ]
    return {
        "bus": state.bus,
        "address": state.address,
        "ten_bit": state.address_mode == I2cTargetAddressMode.BIT_10.value,
        "memory_address_bytes": 2
        if state.memory_layout == I2cTargetMemoryLayout.BIT_16.value
        else 1,
        "model": model,
        "eeprom": eeprom,
        "regions": regions,
        "contents": bytes(adapter.i2c_target.memory).rstrip(bytes([fill])),
    }


def _capture_spi_target(adapter: "VirtualAdapter") -> Optional[Profile]:
    state = adapter.spi_target.state
    if not state.active:
        return None
    model = _name_of(_choices(SpiTargetModel), state.model)
    flash = None
    if model == "flash":
        flash = {
            "address_bytes": state.address_bytes,
            "page_size": state.page_size,
            "write_cycle_us": state.write_cycle_us,
            "jedec_id": bytes(state.jedec_id),
            "flags": state.flags,
        }
    return {
        "mode": state.mode,
        "bit_order": _name_of(_choices(SpiBitOrder), state.bit_order),
        "chip_select": state.chip_select,
        "chip_select_polarity": _name_of(
            _choices(SpiChipSelectPolarity), state.chip_select_polarity
        ),
        "model": model,
        "engine": _name_of(_choices(SpiTargetEngine), state.engine),
        "flash": flash,
        "contents": bytes(adapter.spi_target.memory).rstrip(b"\xff" if flash else b"\x00"),
    }


def _capture_i3c_target(adapter: "VirtualAdapter") -> Optional[Profile]:
    state = adapter.i3c_target.state
    if not state.active:
        return None
    return {
        "memory_layout": _name_of(_I3C_LAYOUTS, state.layout),
        "pid": int.from_bytes(bytes(state.pid), "big"),
        "bcr": state.bcr,
        "dcr": state.dcr,
        "static_address": state.static_address,
        "mwl": state.mwl,
        "mrl": state.mrl,
        "contents": bytes(adapter.i3c_target.memory).rstrip(b"\x00"),
    }


# ------------------------------------------------------------------ writing

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
        if field is not None and path != ("adapter",) and not field.required:
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
