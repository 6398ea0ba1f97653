# SPDX-License-Identifier: MIT
"""Adapter-wide subcommands: list, info, demo, voltage, udev-rules and
completion."""

from __future__ import annotations

import argparse
import re
import shlex
from typing import Any, Callable, Dict, List, Optional, Tuple

import pyvantorsdk
from pyvantorsdk import I2cBus, I2cPullUp, errors
from pyvantorsdk.cli.common import (
    EXIT_FAILURE,
    EXIT_OK,
    Context,
    UsageError,
    failure_report,
    init_or_reconfigure,
    int_arg,
    parser_tree,
    subcommand,
    subcommand_tree,
)

RULES_FILE = "70-pyvantorsdk.rules"


def register(commands: Any) -> None:
    subcommand(
        commands, "list", help="list the attached adapters",
        examples=["vantor list", "vantor --sim list", "vantor list --json"],
        func=list_adapters, device=False,
    )
    subcommand(
        commands, "info", help="identify the adapter: model, serial number, versions, bulk interface",
        examples=["vantor info", "vantor --serial SN0042 info --json"],
        func=info,
    )
    subcommand(
        commands, "demo", help="a short tour: identity, I/O voltage, I2C scan, SPI flash id",
        examples=["vantor --sim demo", "vantor demo"],
        func=demo,
    )


def register_tail(commands: Any) -> None:
    """The subcommands listed after the bus families."""
    voltage = commands.add_parser(
        "voltage", help="the I/O voltage of the ports",
        description="Read or set the I/O voltage: the shared rail of the I2C, SPI, UART and "
        "GPIO ports, and the two I3C ports.",
        epilog="examples:\n  vantor voltage get\n  vantor voltage set 1800\n"
        "  vantor voltage set --rail i3c 1200\n  vantor voltage set --external",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    rails = voltage.add_subparsers(dest="voltage_command", metavar="COMMAND", required=True)
    subcommand(
        rails, "get", help="print the voltages in millivolts",
        examples=["vantor voltage get", "vantor voltage get --json"], func=voltage_get,
    )
    setter = subcommand(
        rails, "set", help="set a rail's voltage, or hand it to an external supply",
        examples=["vantor voltage set 3300", "vantor voltage set --persist 1800",
                  "vantor voltage set --rail i3c 1200", "vantor voltage set --external"],
        func=voltage_set, prepare=prepare_voltage_set,
    )
    setter.add_argument("millivolts", nargs="?", type=int_arg("voltage", 0, 65535, "mV"),
                        help="the voltage in mV")
    setter.add_argument("--rail", choices=("io", "i3c"), default="io",
                        help="io: I2C/SPI/UART/GPIO (default); i3c: the I3C ports")
    setter.add_argument("--external", action="store_true",
                        help="power the rail from an external supply instead")
    setter.add_argument("--persist", action="store_true",
                        help="keep the setting across power cycles")

    rules = subcommand(
        commands, "udev-rules",
        help="print the udev rules that let the logged-in user open the adapter",
        description="Print the udev rules that let the user logged in at the seat open the "
        "adapter; with --group, members of that group may open it too, from SSH and CI "
        "sessions. The install commands are in the rules' comments.",
        examples=[
            "vantor udev-rules | sudo tee /etc/udev/rules.d/70-pyvantorsdk.rules",
            "vantor udev-rules --group plugdev | sudo tee /etc/udev/rules.d/70-pyvantorsdk.rules",
            "sudo udevadm control --reload-rules && sudo udevadm trigger",
            "sudo usermod -aG plugdev $USER",
        ],
        func=udev_rules, json_output=False, device=False,
    )
    rules.add_argument("--group", type=group_name, metavar="GROUP",
                       help="also let this group open the adapter (mode 0660), e.g. plugdev")
    completion = subcommand(
        commands, "completion", help="print a shell completion script",
        examples=["source <(vantor completion bash)",
                  "vantor completion bash > ~/.local/share/bash-completion/completions/vantor"],
        func=completion_script, json_output=False, device=False,
    )
    completion.add_argument("shell", choices=("bash",), help="the shell")


# -------------------------------------------------------------------- list
def list_adapters(ctx: Context, args: argparse.Namespace) -> None:
    found = pyvantorsdk.find_adapters(include_virtual=args.sim is not None)
    models = {(vid, pid): model.name for vid, pid, model, _size in pyvantorsdk.SUPPORTED_DEVICES}
    rows: List[Dict[str, Any]] = [
        {
            "path": info.path,
            "serial_number": info.serial_number,
            "model": models.get((info.vendor_id, info.product_id), "UNKNOWN"),
            "product_name": info.product_name,
            "vendor_id": info.vendor_id,
            "product_id": info.product_id,
            "virtual": pyvantorsdk.is_virtual_path(info.path),
        }
        for info in found
    ]
    if ctx.json:
        ctx.emit(rows)
        return
    if not rows:
        ctx.note("no adapter found")
        return
    width = max(len(r["path"]) for r in rows)
    for r in rows:
        kind = "  (virtual)" if r["virtual"] else ""
        ctx.print(
            f"{r['path']:<{width}}  {r['vendor_id']:04x}:{r['product_id']:04x}  "
            f"{r['model']:<8} {r['serial_number']}{kind}"
        )


# -------------------------------------------------------------------- info
def describe_adapter(ctx: Context) -> Dict[str, Any]:
    dev = ctx.dev
    info = dev.get_device_info()
    result: Dict[str, Any] = {
        "manufacturer": info.manufacturer,
        "product_name": info.product_name,
        "model": info.model.name,
        "serial_number": info.serial_number,
        "hw_version": info.hw_version,
        "fw_version": info.fw_version,
        "sdk_version": dev.get_version(),
        "bulk": dev.is_bulk_transport_available(),
    }
    if result["bulk"]:
        _info, supported, groups = dev.get_bulk_capabilities()
        result["bulk_groups"] = [
            {"group": g, "max_payload": size, "command_mask": mask} for g, size, mask in groups
        ] if supported else []
    with _ignore_unsupported():
        webusb, cdc, cdc_mode = dev.get_usb_config()
        result["usb_config"] = {"webusb_enabled": webusb, "cdc_enabled": cdc, "cdc_mode": cdc_mode}
    return result


class _ignore_unsupported:
    """Leaves out a detail an older firmware does not answer."""

    def __enter__(self) -> None:
        return None

    def __exit__(self, kind: Optional[type], value: Optional[BaseException], tb: Any) -> bool:
        return kind is not None and issubclass(kind, errors.FirmwareError)


GROUP_NAMES = {2: "i2c", 3: "spi", 4: "uart", 5: "gpio", 6: "i3c"}


def info(ctx: Context, args: argparse.Namespace) -> None:
    result = describe_adapter(ctx)
    lines = [
        f"model:         {result['model']} ({result['product_name']}, {result['manufacturer']})",
        f"serial number: {result['serial_number']}",
        f"hardware:      {result['hw_version']}",
        f"firmware:      {result['fw_version']}",
        f"sdk:           {result['sdk_version']}",
    ]
    if result["bulk"]:
        groups = ", ".join(
            f"{GROUP_NAMES.get(g['group'], g['group'])} (up to {g['max_payload']} bytes)"
            for g in result.get("bulk_groups", [])
        )
        lines.append(f"bulk:          {groups or 'present'}")
    else:
        lines.append("bulk:          none")
    if "usb_config" in result:
        usb = result["usb_config"]
        lines.append(
            f"usb:           webusb {usb['webusb_enabled']}, cdc {usb['cdc_enabled']}, "
            f"cdc mode {usb['cdc_mode']}"
        )
    ctx.emit(result, "\n".join(lines))


# -------------------------------------------------------------------- demo
def demo(ctx: Context, args: argparse.Namespace) -> int:
    """The tour's steps one after another: a step the adapter refuses prints
    its error in place of its line (with --json in the list "errors") and
    the next step still runs; the tour then ends with EXIT_FAILURE."""
    dev = ctx.dev
    from pyvantorsdk.cli import spi

    def identity() -> Tuple[Any, str]:
        adapter = describe_adapter(ctx)
        return adapter, (f"{adapter['model']} serial {adapter['serial_number']}, "
                         f"firmware {adapter['fw_version']}")

    def io_voltage() -> Tuple[Any, str]:
        mv = dev.i2c_get_bus_voltage()
        return mv, f"{mv} mV"

    def i2c_scan() -> Tuple[Any, str]:
        init_or_reconfigure(
            lambda: dev.i2c_controller_init(I2cBus.A, 100_000, I2cPullUp.KOHM_4_7),
            lambda: dev.i2c_set_parameters(I2cBus.A, 100_000, I2cPullUp.KOHM_4_7),
        )
        found = sorted(dev.i2c_scan_bus(I2cBus.A).addresses_7bit)
        return found, " ".join(f"0x{a:02x}" for a in found) or "no devices"

    def spi_flash() -> Tuple[Any, str]:
        spi.setup(dev, spi.SpiSettings())
        jedec = spi.jedec_id(dev)
        size = spi.flash_size(jedec)
        return ({"jedec_id": jedec.hex(), "size": size},
                f"JEDEC id {jedec.hex(' ')}" + (f", {size} bytes" if size else ""))

    steps: List[Tuple[str, str, Callable[[], Tuple[Any, str]]]] = [
        ("adapter", "adapter:", identity),
        ("io_mv", "I/O voltage:", io_voltage),
        ("i2c_bus_a", "I2C bus A:", i2c_scan),
        ("spi_cs0", "SPI CS0:", spi_flash),
    ]
    # A step that failed has no key of its own; "errors" lists it with its
    # failure instead, so that every key keeps one type.
    report: Dict[str, Any] = {}
    failures: List[Dict[str, Any]] = []
    lines = []
    failed = 0
    for key, title, step in steps:
        try:
            report[key], line = step()
        except errors.VantorError as e:
            failures.append({"step": key, "error": failure_report(args.operation, e)})
            line, failed = str(e), failed + 1
        lines.append(f"{title:<12} {line}")
    report["errors"] = failures
    if failed:
        lines.append(f"{failed} of {len(steps)} steps failed.")
    else:
        lines.append("See 'vantor --help' for the commands of every bus.")
    ctx.emit(report, "\n".join(lines))
    return EXIT_FAILURE if failed else EXIT_OK


# ----------------------------------------------------------------- voltage
def voltage_get(ctx: Context, args: argparse.Namespace) -> None:
    dev = ctx.dev
    io_mv = dev.i2c_get_bus_voltage()
    low, high = dev.i3c_get_bus_voltage()
    ctx.emit(
        {"io_mv": io_mv, "i3c_lv_mv": low, "i3c_hv_mv": high},
        f"io:     {io_mv} mV\ni3c lv: {low} mV\ni3c hv: {high} mV",
    )


def prepare_voltage_set(args: argparse.Namespace) -> None:
    if args.external == (args.millivolts is not None):
        raise UsageError("give either a voltage in mV or --external")
    if args.rail == "i3c" and args.persist and not args.external:
        raise UsageError("the I3C voltage cannot be persisted")


def voltage_set(ctx: Context, args: argparse.Namespace) -> None:
    dev = ctx.dev
    if args.rail == "io":
        if args.external:
            dev.i2c_use_external_voltage(args.persist)
        else:
            dev.i2c_set_bus_voltage(args.millivolts, args.persist)
    elif args.external:
        dev.i3c_use_external_voltage(args.persist)
    else:
        dev.i3c_set_bus_voltage(args.millivolts)
    ctx.emit({"rail": args.rail, "millivolts": args.millivolts, "external": args.external,
              "persist": args.persist})


# -------------------------------------------------------- udev, completion
# A group name as useradd takes it. Anything else could end the quoted value
# and add keys of its own to every rule.
GROUP_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_.-]{0,31}")


def group_name(text: str) -> str:
    if not GROUP_NAME.fullmatch(text):
        raise argparse.ArgumentTypeError(f"invalid group name {text!r}")
    return text


def rules_text(group: Optional[str] = None) -> str:
    """The shipped rules; with ``group``, every rule also hands the node to
    that group with mode 0660, for sessions that "uaccess" does not reach.
    The seat's access stays either way."""
    from importlib import resources

    text = (resources.files("pyvantorsdk") / "data" / RULES_FILE).read_text(encoding="utf-8")
    if group is None:
        return text
    lines = text.splitlines(keepends=True)
    first = next(i for i, line in enumerate(lines) if line.startswith("SUBSYSTEM=="))
    while first > 0 and lines[first - 1].startswith("#"):  # above the first model's heading
        first -= 1
    lines.insert(first, f'# Members of the group "{group}" may open the nodes too.\n\n')
    access = f', GROUP="{group}", MODE="0660"'
    return "".join(
        line.rstrip("\n") + access + "\n" if line.startswith("SUBSYSTEM==") else line
        for line in lines
    )


def udev_rules(ctx: Context, args: argparse.Namespace) -> None:
    ctx.print(rules_text(args.group), end="")


def takes_a_value(action: argparse.Action) -> bool:
    """An option that takes the next word as its value (``--sim``'s value
    is optional and is completed on its own)."""
    return bool(action.option_strings) and action.nargs not in (0, "?")


def completion_script(ctx: Context, args: argparse.Namespace) -> None:
    from pyvantorsdk import profiles

    parser = ctx.parser
    assert parser is not None
    tree = subcommand_tree(parser)
    paths = [" ".join(path) for path, _words in tree if path]
    keys = "        " + "|".join(shlex.quote(p) for p in paths) + ') key="${key:+$key }$word" ;;'
    cases, choices = [], []
    for (path, words), (_path, current) in zip(tree, parser_tree(parser)):
        valued = [a for a in current._actions if takes_a_value(a)]
        values = [s for a in valued for s in a.option_strings]
        cases.append(f"        {shlex.quote(' '.join(path))}) words={shlex.quote(' '.join(words))}; "
                     f"values={shlex.quote(' '.join(values))} ;;")
        choices += [f"        {shlex.quote(' '.join([*path, option]))}) "
                    f"words={shlex.quote(' '.join(str(c) for c in a.choices))} ;;"
                    for a in valued if a.choices for option in a.option_strings]
    script = (BASH_TEMPLATE.replace("@KEYS@", keys).replace("@CASES@", "\n".join(cases))
              .replace("@CHOICES@", "\n".join(choices))
              .replace("@PROFILES@", " ".join(profiles.shipped())))
    ctx.print(script, end="")


# The words typed so far that name subcommands make the key into the table of
# what may follow; options are skipped, and so are the values of those that
# take one. After an option that takes a value only its choices are offered
# (none where it has none, so the shell offers file names); after --sim the
# shipped profiles and the subcommands.
BASH_TEMPLATE = """\
# bash completion for vantor
_vantor_table() {
    case "$key" in
@CASES@
        *) words=""; values="" ;;
    esac
}
_vantor() {
    local cur prev key word i words values skip="" commands=""
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD - 1]}"
    key=""
    _vantor_table
    for ((i = 1; i < COMP_CWORD; i++)); do
        word="${COMP_WORDS[i]}"
        if [[ -n "$skip" ]]; then
            skip=""
            continue
        fi
        if [[ "$word" == -* ]]; then
            [[ " $values " == *" $word "* ]] && skip=1
            continue
        fi
        case "${key:+$key }$word" in
@KEYS@
        esac
        _vantor_table
    done
    if [[ "$prev" == --sim ]]; then
        for word in $words; do
            [[ "$word" == -* ]] || commands="$commands $word"
        done
        words="@PROFILES@$commands"
    elif [[ -n "$skip" ]]; then
        case "$key${key:+ }$prev" in
@CHOICES@
            *) words="" ;;
        esac
    fi
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
}
complete -o default -F _vantor vantor
"""
