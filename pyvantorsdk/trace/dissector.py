# SPDX-License-Identifier: MIT
"""A Wireshark dissector (a Lua plugin) for the adapter's USB traffic,
written from the command tables the compiled module exports, so that it
names every command, status and field the SDK knows.

``generate_dissector()`` returns the script; ``vantor trace dissector``
writes it. The Lua engine that segments, reassembles and dissects is
``dissector.lua`` beside this file; the generated tables are put in place
of its ``@TABLES@`` line."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Any, Dict, Iterable, List, Mapping, Optional, Sequence, Set, Tuple

import pyvantorsdk
from pyvantorsdk._cpp import _pyvantorsdk_cpp as _native
from pyvantorsdk.cli.common import Context, subcommand
from pyvantorsdk.trace.tables import native_table

PLUGIN_DIR = "~/.local/lib/wireshark/plugins/"
# The kind the SDK gives a notification code it does not know.
UNKNOWN_KIND = 5
UNKNOWN_KIND_NAME = "NOTIF_UNKNOWN"

Row = Mapping[str, Any]
_SCALARS = {"u8": "uint8", "u16": "uint16", "u32": "uint32", "u16be": "uint16"}
_TYPES = set(_SCALARS) | {"bytes"}


def lua_string(text: str) -> str:
    """``text`` as a Lua string literal (printable ASCII kept, every other
    byte escaped)."""
    out = []
    for byte in text.encode("utf-8"):
        char = chr(byte)
        if char in '"\\':
            out.append("\\" + char)
        elif " " <= char <= "~":
            out.append(char)
        else:
            out.append(f"\\{byte:03d}")
    return '"' + "".join(out) + '"'


def _value_table(names: Mapping[int, str]) -> str:
    return "{" + ", ".join(f"[{v}] = {lua_string(n)}" for v, n in sorted(names.items())) + "}"


def _enum_names(enum_name: str) -> Dict[int, str]:
    """Value -> member name of an enumeration the module exports (the first
    name of values that have several)."""
    cls = getattr(_native, enum_name, None)
    if cls is None:
        raise ValueError(f"the command tables name the enumeration {enum_name!r}, "
                         "which the module does not export")
    names: Dict[int, str] = {}
    for name, member in cls.__members__.items():
        names.setdefault(int(member.value), str(name))
    return names


def _check_field(owner: str, field: Row, earlier: Sequence[str]) -> None:
    """Refuses a layout the Lua engine would misread: an unknown type, or
    a byte count that names no earlier field."""
    kind, count = field["type"], str(field.get("count", ""))
    if kind not in _TYPES:
        raise ValueError(f"{owner}: field {field['name']!r} has the unknown type {kind!r}")
    if kind == "bytes" and not (count == "*" or count.isdigit() or count in earlier):
        raise ValueError(f"{owner}: field {field['name']!r} takes its count from {count!r}, "
                         "which is not an earlier field")


class _Fields:
    """One ProtoField per distinct (family, name, type, enumeration):
    ``vantor.<family>.<name>``, with the type (and enumeration) added to
    the name when a family uses one name with different types, so that
    no two fields share a filter name."""

    def __init__(self) -> None:
        self.index: Dict[Tuple[str, str, str, str], int] = {}
        self.abbrev: Dict[Tuple[str, str, str, str], str] = {}
        self.lines: List[str] = []
        self.abbrevs: Set[str] = set()
        self.enums: Set[str] = set()

    def add(self, family: str, field: Row) -> int:
        name, kind, enum = str(field["name"]), str(field["type"]), str(field.get("enum", ""))
        key = (family, name, kind, enum)
        if key in self.index:
            return self.index[key]
        prefix = f"vantor.{family or 'unknown'}."
        candidates = [prefix + name, f"{prefix}{name}_{kind}", f"{prefix}{name}_{kind}_{enum.lower()}"]
        abbrev = next((a for a in candidates if a not in self.abbrevs), "")
        number = 2
        while not abbrev or abbrev in self.abbrevs:  # Wireshark refuses a name twice
            abbrev, number = f"{candidates[-1]}_{number}", number + 1
        self.abbrevs.add(abbrev)
        self.abbrev[key] = abbrev
        label = name.replace("_", " ").capitalize()
        if kind == "bytes":
            proto = f"ProtoField.bytes({lua_string(abbrev)}, {lua_string(label)})"
        else:
            if enum in ("StatusCode", "ccc"):
                base, strings = "base.HEX", "STATUS" if enum == "StatusCode" else "CCC"
            elif enum:
                base, strings = "base.DEC", f"ENUMS[{lua_string(enum)}]"
                self.enums.add(enum)
            else:
                base, strings = "base.HEX_DEC", "nil"
            proto = (f"ProtoField.{_SCALARS[kind]}({lua_string(abbrev)}, {lua_string(label)}, "
                     f"{base}, {strings})")
        self.lines.append(f"    {{ field = {proto} }},")
        self.index[key] = len(self.lines)
        return len(self.lines)

    def layout(self, owner: str, family: str, fields: Iterable[Row]) -> str:
        rows: List[str] = []
        earlier: List[str] = []
        for field in fields:
            _check_field(owner, field, earlier)
            earlier.append(str(field["name"]))
            number = self.add(family, field)
            rows.append(
                f"{{ name = {lua_string(str(field['name']))}, type = {lua_string(field['type'])}, "
                f"count = {lua_string(str(field.get('count', '')))}, "
                f"optional = {'true' if field.get('optional') else 'false'}, "
                f"def = FIELD_DEFS[{number}] }}"
            )
        return "{" + ", ".join(rows) + "}"


def generate_tables(
    commands: Sequence[Row], notifications: Sequence[Row], ccc: Sequence[Row],
    status: Mapping[int, str], enums: Optional[Mapping[str, Mapping[int, str]]] = None,
) -> str:
    """The Lua tables the engine reads. ``enums`` gives the value names of
    the enumerations the layouts name (read from the module when None)."""
    return _generate(commands, notifications, ccc, status, enums)[0]


def field_abbreviations() -> Dict[Tuple[str, str, str, str], str]:
    """The display-filter name of each decoded field, by (family, field
    name, type, enumeration): ``("i2c", "address", "u8", "")`` ->
    ``"vantor.i2c.address"``."""
    return _generate(native_table("command_table"), native_table("notification_table"), (), {}, None)[1].abbrev


def _generate(
    commands: Sequence[Row], notifications: Sequence[Row], ccc: Sequence[Row],
    status: Mapping[int, str], enums: Optional[Mapping[str, Mapping[int, str]]],
) -> Tuple[str, _Fields]:
    fields = _Fields()
    command_rows, notification_rows = [], []
    code_names: Dict[int, str] = {}
    families: Dict[int, str] = {}
    kinds = {UNKNOWN_KIND: UNKNOWN_KIND_NAME}
    for index, row in enumerate([*commands, *notifications]):
        code, name, family = int(row["code"]), str(row["name"]), str(row["family"])
        owner = f"{name} (0x{code:04x})"
        if code in code_names:
            raise ValueError(f"{owner}: the code is taken by {code_names[code]}")
        code_names[code] = name
        families.setdefault(code >> 10, family)
        if index >= len(commands):
            kinds[int(row["kind"])] = name
            notification_rows.append(
                f"    [{code}] = {{ name = {lua_string(name)}, kind = {int(row['kind'])}, "
                f"family = {lua_string(family)}, "
                f"fields = {fields.layout(owner, family, row['fields'])} }},"
            )
            continue
        request = fields.layout(owner, family, row["request"])
        response = fields.layout(owner, family, row["response"])
        for phase, layout in (("bulk_out", row["request"]), ("bulk_in", row["response"])):
            source = str(row.get(phase, ""))
            if source.startswith("request."):
                source, layout = source[len("request."):], row["request"]
            if source and source not in {str(f["name"]) for f in layout}:
                raise ValueError(f"{owner}: {phase} names the missing field {source!r}")
        # Commands that move data either way: bit 0 of this request field is
        # 1 for a read (bulk_in applies), 0 for a write (bulk_out applies).
        direction = str(row.get("direction_field", ""))
        if direction and direction not in {str(f["name"]) for f in row["request"]}:
            raise ValueError(f"{owner}: direction_field names the missing field {direction!r}")
        command_rows.append(
            f"    [{code}] = {{ name = {lua_string(name)}, family = {lua_string(family)}, "
            f"bulk_out = {lua_string(str(row.get('bulk_out', '')))}, "
            f"bulk_in = {lua_string(str(row.get('bulk_in', '')))}, "
            f"direction = {lua_string(direction)},\n"
            f"        request = {request},\n        response = {response} }},"
        )
    ccc_names: Dict[int, str] = {}
    for row in ccc:
        ccc_names.setdefault(int(row["code"]), str(row["name"]).upper())
    enum_rows = []
    for enum in sorted(fields.enums):
        values = enums[enum] if enums is not None and enum in enums else _enum_names(enum)
        enum_rows.append(f"    [{lua_string(enum)}] = {_value_table(values)},")
    return "\n".join([
        f"local STATUS = {_value_table(status)}",
        f"local CCC = {_value_table(ccc_names)}",
        "local ENUMS = {", *enum_rows, "}",
        f"local GROUP_FAMILY = {_value_table(families)}",
        f"local KIND_NAMES = {_value_table(kinds)}",
        f"local UNKNOWN_KIND = {UNKNOWN_KIND}",
        f"local CODE_NAMES = {_value_table(code_names)}",
        "local FIELD_DEFS = {", *fields.lines, "}",
        "local COMMANDS = {", *command_rows, "}",
        "local NOTIFICATIONS = {", *notification_rows, "}",
    ]), fields


def generate_dissector() -> str:
    """The Lua dissector for this SDK's commands, notifications and
    statuses, ready to be loaded by Wireshark or tshark."""
    tables = generate_tables(
        native_table("command_table"), native_table("notification_table"), native_table("i3c_ccc_table"),
        _enum_names("StatusCode"),
    )
    engine = (Path(__file__).with_name("dissector.lua")).read_text(encoding="utf-8")
    engine = engine.replace("@VERSION@", pyvantorsdk.__version__)
    before, marker, after = engine.partition("@TABLES@")
    if not marker:
        raise RuntimeError("dissector.lua has lost its @TABLES@ line")
    return before + tables + after


# ----------------------------------------------------------------------- CLI
def add_dissector_command(subparsers: Any) -> argparse.ArgumentParser:
    """``vantor trace dissector [-o FILE]``, under the ``trace`` family's
    subparsers."""
    parser = subcommand(
        subparsers, "dissector",
        help="write a Wireshark dissector (Lua) for the traces --trace records",
        description="Write a Wireshark/tshark dissector, a Lua plugin, that shows the traffic "
        "of --trace captures as commands, responses and notifications with their fields. "
        f"Install it by copying it into {PLUGIN_DIR}.",
        examples=[
            f"vantor trace dissector -o {PLUGIN_DIR}vantor.lua",
            "tshark -X lua_script:vantor.lua -r session.pcapng",
        ],
        func=write_dissector, json_output=False, device=False,
    )
    parser.add_argument("-o", "--output", metavar="FILE",
                        help="write the script into FILE, creating its folder "
                        "(default: standard output)")
    return parser


def write_dissector(ctx: Context, args: argparse.Namespace) -> None:
    """Writes the script to standard output, or into ``--output`` (its
    missing folders created, as the plugin folder often does not exist
    yet); tells where Wireshark looks for it on standard error or, with a
    file, on standard output."""
    script = generate_dissector()
    if args.output is None:
        ctx.print(script, end="")
        ctx.note(f"vantor trace dissector: install the script by saving it into {PLUGIN_DIR}")
        return
    path = Path(args.output).expanduser()
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(script, encoding="utf-8")
    where = "Wireshark loads it from there" if path.parent == Path(PLUGIN_DIR).expanduser() \
        else f"install it by copying it into {PLUGIN_DIR}"
    ctx.print(f"wrote {path}: {where}")
