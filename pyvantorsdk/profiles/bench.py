# SPDX-License-Identifier: MIT
"""A profile and a virtual adapter's bench, in both directions: ``apply``
builds the bench a loaded profile describes, ``capture`` reads a bench back
into the loaded form, so that applying a captured profile gives the same
bench again."""

from __future__ import annotations

import os
from contextlib import contextmanager
from pathlib import Path
from typing import (
    Any,
    Callable,
    Dict,
    Iterator,
    List,
    Mapping,
    Optional,
    Protocol,
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
    SpiBitOrder,
    SpiChipSelectPolarity,
    SpiTargetEngine,
    SpiTargetModel,
)
from pyvantorsdk.profiles.schema import (
    _CONNECTORS,
    _I3C_LAYOUTS,
    FORMAT_VERSION,
    KeyPath,
    Profile,
    ProfileError,
    _choices,
    _key_text,
    _line_of,
    gpio_key,
    gpio_pin,
)


class _Adapter(Protocol):
    """What building and reading a bench use of a virtual adapter
    (``pyvantorsdk.sim.VirtualAdapter``): its identity, its bench objects and
    its traffic records."""

    @property
    def path(self) -> str: ...
    @property
    def serial(self) -> str: ...
    @property
    def model(self) -> DeviceModel: ...
    @property
    def bulk(self) -> bool: ...
    @property
    def timing(self) -> Optional[str]: ...
    @property
    def time_scale(self) -> float: ...
    @property
    def reception_queue_depth(self) -> int: ...
    @property
    def system(self) -> Any: ...
    @property
    def power(self) -> Any: ...
    @property
    def gpio(self) -> Any: ...
    @property
    def i2c(self) -> Any: ...
    @property
    def spi(self) -> Any: ...
    @property
    def i3c(self) -> Any: ...
    @property
    def i2c_target(self) -> Any: ...
    @property
    def spi_target(self) -> Any: ...
    @property
    def i3c_target(self) -> Any: ...
    def clear(self) -> None: ...


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


def apply(
    profile: Profile,
    adapter: _Adapter,
    *,
    file: Optional[Union[str, "os.PathLike[str]"]] = None,
) -> None:
    """Build the bench of `profile` on a fresh adapter of the profile's model,
    serial and bulk setting. The adapter's traffic records are cleared
    afterwards, so they start empty.

    `file` is the profile's path when it was loaded from one: a part the
    bench refuses is then reported with the line of its key in that file."""
    try:
        _apply(profile, adapter)
    except ProfileError as error:
        if file is None:
            raise
        path = Path(file)
        text = path.read_text(encoding="utf-8")
        located = ProfileError(
            error.message, file=str(path), line=_line_of(text, error._path), key=error.key
        )
        raise located from error.__cause__


def _apply(profile: Profile, adapter: _Adapter) -> None:
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
    for key, level in profile["gpio"]["inputs"].items():
        adapter.gpio.drive_input(gpio_pin(key), level)

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


def _set_up_targets(profile: Profile, adapter: _Adapter) -> None:
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


def capture(adapter: _Adapter, record: Optional[Profile] = None) -> Profile:
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
            "timing": adapter.timing or "off",
            "time_scale": adapter.time_scale,
            "reception_queue_depth": adapter.reception_queue_depth,
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
            "inputs": {gpio_key(pin): level for pin, level in enumerate(levels) if level is not None}
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


def _capture_i2c_target(adapter: _Adapter) -> Optional[Profile]:
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


def _capture_spi_target(adapter: _Adapter) -> Optional[Profile]:
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


def _capture_i3c_target(adapter: _Adapter) -> Optional[Profile]:
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


