# SPDX-License-Identifier: MIT
"""Virtual benches described in profiles: loading, checking, saving back."""

from __future__ import annotations

import os
import pickle
import re
import textwrap

import pytest

from pyvantorsdk import profiles, sim
from pyvantorsdk.profiles import ProfileError

# Every part of the format at once, with values away from the defaults; the
# tables written inline.
FULL = """\
version = 1
usb = { webusb_enabled = 1, cdc_enabled = 1, cdc_mode = 2 }
power = { external_mv = 2500 }
measurements = { io_mv = 3100, i3c_low_mv = 1700, i3c_high_mv = 3200 }
gpio.inputs = { pin1 = 1, pin5 = 0 }
adapter = { model = "quillex", serial = "FULL01", bulk = true }
identity = { manufacturer = "Bench Co", product_name = "Rig \\"7\\"", hw_version = "HW 2.1", \
fw_version = "FW 9.9.9" }
i2c.devices = [
  { bus = 1, address = 0x1A3, kind = "eeprom", size = 4096, page_size = 32, address_bytes = 2, \
contents_hex = "00 11 22 33" },
  { bus = 0, address = 0x20, kind = "register_map", registers = { 0x00 = 0x12, 0xFF = 0x34 } },
]
spi.devices = [{ chip_select = 2, size = 65536, jedec_id = "c22817", busy_polls = 5, \
contents_file = "image.bin" }]
i3c.targets = [{ pid = 0x0123456789AB, bcr = 0x07, dcr = 0x44, static_address = 0x31, mwl = 128, \
mrl = 64, max_ibi_payload = 8, memory_size = 512, hdr_ddr = false, max_data_speed = "0102030405", \
contents_hex = "cafe" }]
i3c.i2c_devices = [{ address = 0x52, kind = "register_map" }]
i3c.ports = { lv_connector = "harness", hv_connector = "qwiic_adapter", lv_external_mv = 1200, \
hv_external_mv = 3000 }
i2c_target = { bus = 1, address = 0x3C, model = "register_map", contents_hex = "0102", \
regions = [{ start = 0x00, end = 0x0F, access = "ro" }] }
spi_target = { mode = 2, bit_order = "lsb", chip_select = 1, chip_select_polarity = "active_high", \
model = "flash", engine = "isr", contents_hex = "a5a5", flash = { address_bytes = 3, \
page_size = 128, write_cycle_us = 100, jedec_id = "1f2001", flags = 1 } }
i3c_target = { memory_layout = "2x512", pid = 0x0A0B0C0D0E0F, bcr = 0x06, dcr = 0xC6, \
static_address = 0x28, mwl = 512, mrl = 256, contents_hex = "beef" }
"""

IMAGE = bytes(range(256)) * 5  # longer than a profile writes inline
EEPROM = "[[i2c.devices]]\nbus = 0\naddress = 0x50\nkind = 'eeprom'\n"
REGMAP = "[[i2c.devices]]\nbus = 0\naddress = 0x48\nkind = 'register_map'\n"


@pytest.fixture
def full(tmp_path):
    (tmp_path / "image.bin").write_bytes(IMAGE)
    path = tmp_path / "full.toml"
    path.write_text(FULL)
    return path


def write(tmp_path, text, name="bench.toml"):
    path = tmp_path / name
    path.write_text(textwrap.dedent(text))
    return path


class TestRoundTrip:
    def test_a_full_profile_builds_the_bench_it_describes(self, full):
        with sim.VirtualAdapter.from_profile(full) as adapter:
            assert adapter.to_profile() == profiles.load(full)
            assert adapter.model.name == "QUILLEX" and adapter.serial == "FULL01"
            assert adapter.spi.memory(2)[: len(IMAGE)] == IMAGE
            assert adapter.i2c.memory(0, 0x20)[0xFF] == 0x34
            assert adapter.i3c.ports.hv_connector == 2
            assert adapter.i2c_target.state.address == 0x3C
            assert adapter.requests == []  # setting up the targets left no traffic

    def test_save_then_load_gives_the_same_bench(self, full, tmp_path):
        with sim.VirtualAdapter.from_profile(full) as first:
            # The bench as a test left it: contents changed since loading.
            first.i2c.write_memory(1, 0x1A3, 100, b"late", ten_bit=True)
            first.i3c.write_memory(0x0123456789AB, 0, b"\x00\x00\x01")
            first.gpio.drive_input(4, 0)
            saved = tmp_path / "out" / "saved.toml"
            saved.parent.mkdir()
            first.save_profile(saved)
            expected = first.to_profile()
        # Long contents go to a file beside the profile.
        assert (saved.parent / "saved.spi.devices.0.bin").read_bytes() == IMAGE.rstrip(b"\xff")
        with sim.VirtualAdapter.from_profile(saved) as second:
            assert second.to_profile() == expected
            assert second.i2c.memory(1, 0x1A3, ten_bit=True)[100:104] == b"late"

    def test_a_bench_set_up_by_hand_saves_and_loads(self, tmp_path):
        with sim.VirtualAdapter(serial="HAND") as adapter:
            adapter.i2c.attach_eeprom(
                1, 0x57, size=2048, page_size=64, address_bytes=2
            )
            adapter.i2c.write_memory(1, 0x57, 0, b"\x01\x02")
            adapter.i2c.attach_register_map(0, 0x2C1, ten_bit=True)
            adapter.spi.attach_flash(3, size=8192, jedec_id=b"\xc2\x28\x17", busy_polls=7)
            adapter.spi.write_memory(3, 4, b"flash")
            adapter.i3c.attach_i2c_eeprom(0x50, size=512, page_size=32, address_bytes=2)
            adapter.i3c.attach_i2c_register_map(0x21)
            adapter.gpio.drive_input(5, 1)
            adapter.gpio.drive_input(2, 0)
            adapter.power.set_external_voltage(2700)
            saved = tmp_path / "hand.toml"
            adapter.save_profile(saved)
            expected = adapter.to_profile()
        loaded = profiles.load(saved)
        assert loaded == expected
        # Sorted by bus and address.
        assert [(d["bus"], d["address"], d["ten_bit"], d["size"]) for d in loaded["i2c"]["devices"]] \
            == [(0, 0x2C1, True, 256), (1, 0x57, False, 2048)]
        assert loaded["spi"]["devices"][0]["contents"] == b"\xff" * 4 + b"flash"
        assert [d["address"] for d in loaded["i3c"]["i2c_devices"]] == [0x21, 0x50]
        assert (loaded["gpio"]["inputs"], loaded["power"]["external_mv"]) == ({"pin3": 0, "pin6": 1}, 2700)
        with sim.VirtualAdapter.from_profile(saved) as again:
            assert again.to_profile() == expected

    def test_hand_attached_devices_follow_the_profile_the_adapter_came_from(self, full):
        with sim.VirtualAdapter.from_profile(full) as adapter:
            adapter.i2c.attach_eeprom(0, 0x10)
            devices = adapter.to_profile()["i2c"]["devices"]
        # The profile's own devices keep their order; the new one comes after.
        assert [(d["bus"], d["address"]) for d in devices] == [(1, 0x1A3), (0, 0x20), (0, 0x10)]


# GPIO input keys -> the pins driven (GpioPinNumber), the deprecation notice.
GPIO_KEYS = {
    "pin-names": ("pin1 = 1\npin6 = 0\npin3 = 1", {0: 1, 2: 1, 5: 0}, None),
    "old-numbers-from-0": ("0 = 1\n5 = 0\n2 = 1", {0: 1, 2: 1, 5: 0},
                           r"gpio\.inputs\.0: GPIO inputs numbered from 0 are deprecated "
                           r"\(0 is pin1, 5 is pin6, 2 is pin3\): name them pin1 to pin6"),
}


@pytest.mark.parametrize("keys, driven, notice", GPIO_KEYS.values(), ids=GPIO_KEYS.keys())
def test_gpio_inputs_are_named_as_on_the_adapter(tmp_path, recwarn, keys, driven, notice):
    path = write(tmp_path, f"version = 1\n[gpio.inputs]\n{keys}\n")
    with sim.VirtualAdapter.from_profile(path) as adapter:
        levels = adapter.gpio.driven_levels
        saved = profiles.dumps(adapter.to_profile())
    assert {pin: level for pin, level in enumerate(levels) if level is not None} == driven
    # Saved under the pin names, whichever form was read.
    assert "[gpio.inputs]\npin1 = 1\npin3 = 1\npin6 = 0\n" in saved
    found = [w for w in recwarn if w.category is profiles.ProfileDeprecationWarning]
    assert [(w.filename, w.lineno) for w in found] == ([(str(path), 3)] if notice else [])
    assert all(re.fullmatch(notice, str(w.message)) for w in found)


def test_timing_settings_build_the_adapter_and_are_saved_only_when_set(tmp_path):
    path = write(tmp_path, "version = 1\n[adapter]\ntiming = 'high-speed'\ntime_scale = 50\n"
                 "reception_queue_depth = 4\n")
    with sim.VirtualAdapter.from_profile(path) as adapter:
        assert (adapter.timing, adapter.time_scale, adapter.reception_queue_depth) \
            == ("high-speed", 50.0, 4)
        adapter.save_profile(tmp_path / "again.toml")
    assert "time_scale = 50.0" in (tmp_path / "again.toml").read_text()
    with sim.VirtualAdapter() as untimed:
        untimed.save_profile(tmp_path / "untimed.toml")
    assert "timing" not in (tmp_path / "untimed.toml").read_text()


# The same 20 bytes of EEPROM contents given each way the format allows.
DUMP = """\
     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef
00: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f    ................
10: 10 11 XX 13                                        ..X.
"""
EXPECTED = bytes(range(18)) + b"\xff\x13"


@pytest.mark.parametrize(
    "keys",
    [
        f'contents_hex = "{EXPECTED.hex(":")}"',
        'contents_file = "data/eeprom.bin"',
        f'contents_dump = """\n{DUMP}"""',
        'contents_dump_file = "data/eeprom.txt"',
    ],
    ids=["hex", "binary-file", "dump", "dump-file"],
)
def test_contents_sources_agree(tmp_path, keys):
    (tmp_path / "data").mkdir()
    (tmp_path / "data" / "eeprom.bin").write_bytes(EXPECTED)
    (tmp_path / "data" / "eeprom.txt").write_text(DUMP)
    path = write(tmp_path, f"version = 1\n{EEPROM}{keys}\n")
    with sim.VirtualAdapter.from_profile(path) as adapter:
        assert adapter.i2c.memory(0, 0x50) == EXPECTED + b"\xff" * (256 - len(EXPECTED))


# (profile after "version = 1", key, line, message)
INVALID = {
    "toml-syntax": ("[adapter\n", None, 2, "not valid TOML"),
    "unknown-top-level-key": ("colour = 'red'\n", "colour", 2, "unknown key"),
    "table-expected": ("adapter = 3\n", "adapter", 2, "expected a table, got an integer"),
    "wrong-type": ("[adapter]\nbulk = 'yes'\n", "adapter.bulk", 3, "expected true or false"),
    "bool-is-not-int": ("[power]\nexternal_mv = true\n",
        "power.external_mv", 3, "expected an integer"),
    "unknown-choice": ("[adapter]\nmodel = 'x9'\n", "adapter.model", 3, "unknown value 'x9'"),
    "out-of-range": ("[power]\nexternal_mv = 9000\n",
        "power.external_mv", 3, "out of range 0..5500"),
    "serial-too-long": ("[adapter]\nserial = '" + "S" * 32 + "'\n", "adapter.serial", 3, "1 to 31"),
    "missing-required": ("[[i2c.devices]]\nbus = 0\nkind = 'eeprom'\n",
        "i2c.devices[0].address", 2, "missing required key"),
    "unknown-device-key": (EEPROM + "colour = 1\n", "i2c.devices[0].colour", 6, "unknown key"),
    "gpio-pin-past-6": ("[gpio.inputs]\npin7 = 1\n", "gpio.inputs.pin7", 3, "pin1 to pin6"),
    "gpio-pin-0": ("[gpio.inputs]\npin0 = 1\n", "gpio.inputs.pin0", 3, "pin1 to pin6"),
    "gpio-enum-name": ("[gpio.inputs]\nPIN_3 = 1\n", "gpio.inputs.PIN_3", 3, "pin1 to pin6"),
    # 6 is no pin of the old numbering from 0: a pin counted from 1, written bare.
    "gpio-bare-6": ("[gpio.inputs]\n6 = 1\n", "gpio.inputs.6", 3, "old numbering from 0"),
    "gpio-non-ascii-digit": ('[gpio.inputs]\n"\u00b2" = 1\n', "gpio.inputs.\u00b2", 3, "pin1 to"),
    "gpio-mixed-numbering": ("[gpio.inputs]\npin1 = 1\n3 = 0\n", "gpio.inputs.3", 4, "mix pin names"),
    "gpio-same-pin-twice": ("[gpio.inputs]\n2 = 1\n02 = 0\n", "gpio.inputs.02", 4, "pin3 is given"),
    "gpio-level": ("[gpio.inputs]\npin1 = 2\n", "gpio.inputs.pin1", 3, "0 or 1"),
    "eeprom-address-width": (EEPROM + "size = 1024\n",
        "i2c.devices[0].address_bytes", 2, "needs 2 address bytes"),
    "page-larger-than-eeprom": (EEPROM + "size = 8\npage_size = 16\n",
        "i2c.devices[0].page_size", 7, "larger than the EEPROM"),
    "register-map-size": (REGMAP + "size = 128\n", "i2c.devices[0].size", 6, "has no size"),
    "registers-on-eeprom": (EEPROM + "registers = { 0 = 1 }\n",
        "i2c.devices[0].registers", 6, "only a register map"),
    "register-number": (REGMAP + "registers = { r1 = 1 }\n",
        "i2c.devices[0].registers.r1", 6, "its number"),
    "register-value": (REGMAP + "registers = { 1 = 256 }\n",
        "i2c.devices[0].registers.1", 6, "0..255"),
    "two-contents": (EEPROM + "contents_hex = '00'\ncontents_file = 'x'\n",
        "i2c.devices[0].contents_file", 7, "at most one"),
    "bad-hex": (EEPROM + "contents_hex = 'g0'\n",
        "i2c.devices[0].contents_hex", 6, "not a hex string"),
    "bad-dump": (EEPROM + "contents_dump = 'zz: 00'\n",
        "i2c.devices[0].contents_dump", 6, "not a row"),
    "dump-row-past-memory": (EEPROM + "contents_dump = 'ffffffffffff: 00'\n",
        "i2c.devices[0].contents_dump", 6, "reaches past the memory's 256 bytes"),
    "missing-file": (EEPROM + "contents_file = 'none.bin'\n",
        "i2c.devices[0].contents_file", 6, "cannot read"),
    "contents-too-long": (EEPROM + "size = 2\npage_size = 1\ncontents_hex = '000102'\n",
        "i2c.devices[0]", 2, "more than the size (2)"),
    "same-address-twice": (EEPROM + EEPROM,
        "i2c.devices[1].address", 8, "already described at [0]"),
    "jedec-id-length": ("[[spi.devices]]\nchip_select = 0\njedec_id = 'aabb'\n",
        "spi.devices[0].jedec_id", 4, "3 bytes"),
    "legacy-on-static-address": ("[[i3c.targets]]\npid = 1\nstatic_address = 0x50\n"
                                 "[[i3c.i2c_devices]]\naddress = 0x50\nkind = 'eeprom'\n",
        "i3c.i2c_devices[0].address", 6, "taken by i3c.targets[0]"),
    "eeprom-table-on-memory-target": ("[i2c_target]\naddress = 0x50\n[i2c_target.eeprom]\n",
        "i2c_target.eeprom", 4, "only an EEPROM target"),
    "regions-on-eeprom-target": ("[i2c_target]\naddress = 0x50\nmodel = 'eeprom'\n"
                                 "[[i2c_target.regions]]\nstart = 0\nend = 1\n",
        "i2c_target.regions", 5, "only a register-map"),
    "region-backwards": ("[i2c_target]\naddress = 0x50\nmodel = 'register_map'\n"
                         "[[i2c_target.regions]]\nstart = 4\nend = 1\n",
        "i2c_target.regions[0].end", 7, "ends before it starts"),
    "target-eeprom-address-width": ("[i2c_target]\naddress = 0x50\nmodel = 'eeprom'\n"
                                    "[i2c_target.eeprom]\ntotal_size = 1024\n",
        "i2c_target.memory_address_bytes", 2, "needs 2 memory address bytes"),
    "target-memory-without-bulk": ("[adapter]\nbulk = false\n[spi_target]\ncontents_hex = '01'\n",
        "spi_target.contents", 4, "over bulk"),
    "target-jedec-length": ("[spi_target]\nmodel = 'flash'\n[spi_target.flash]\n"
                            "jedec_id = '" + "00" * 9 + "'\n",
        "spi_target.flash.jedec_id", 5, "at most 8 bytes"),
    "quillex-at-full-speed": ("[adapter]\nmodel = 'quillex'\ntiming = 'full-speed'\n",
        "adapter.timing", 4, "need high speed"),
    "time-scale-zero": ("[adapter]\ntiming = 'high-speed'\ntime_scale = 0\n",
        "adapter.time_scale", 4, "not a number above zero"),
    "time-scale-text": ("[adapter]\ntime_scale = 'fast'\n",
        "adapter.time_scale", 3, "expected a number"),
    # What only the bench itself refuses.
    "bench-refuses-device": (EEPROM + "size = 100\npage_size = 16\n",
        "i2c.devices[0]", 2, "the bench refused this"),
    "bench-refuses-usb-settings": ("[usb]\ncdc_mode = 9\n", "usb", 2, "out of the adapter's range"),
    # 16-bit memory addresses and 32 KiB are each fine; the target refuses
    # an EEPROM page that does not divide the memory.
    "adapter-refuses-target": ("[i2c_target]\naddress = 0x50\nmemory_address_bytes = 2\n"
                               "model = 'eeprom'\n\n[i2c_target.eeprom]\ntotal_size = 1000\n"
                               "page_size = 64\n",
        "i2c_target.eeprom", 7, "the adapter refused this set-up"),
    # Quotes that open no multi-line string must not hide the lines after them.
    "triple-quote-in-comment": ('# ends with """\n[adapter]\nmodel = "x9"\n',
        "adapter.model", 4, "unknown value"),
    "triple-quote-in-string": ("[adapter]\nserial = '\"\"\"'\nmodel = 'x9'\n",
        "adapter.model", 4, "unknown value"),
    "key-after-multi-line-string": ('[adapter]\nserial = """S\n# not a comment\n"""\nmodel = "x9"\n',
        "adapter.model", 6, "unknown value"),
}


@pytest.mark.parametrize("text, key, line, message", INVALID.values(), ids=INVALID.keys())
def test_invalid_profiles_name_file_line_and_key(tmp_path, text, key, line, message):
    path = write(tmp_path, "version = 1\n" + text)
    with pytest.raises(ProfileError) as caught:
        sim.VirtualAdapter.from_profile(path)
    error = caught.value
    assert (error.file, error.key, error.line) == (str(path), key, line)
    assert message in error.message
    assert str(error).startswith(f"{path}:{line}: ")


# Contents files reached from outside the profile's folder, each way there.
OUTSIDE = {
    "absolute-path": ("contents_file", lambda folder: str(folder.parent / "outside.bin")),
    "parent-folder": ("contents_file", lambda folder: "../outside.bin"),
    "symlink-out": ("contents_file", lambda folder: "link.bin"),
    "dump-file-parent": ("contents_dump_file", lambda folder: "../outside.txt"),
}


@pytest.mark.parametrize("key, name", OUTSIDE.values(), ids=OUTSIDE.keys())
def test_contents_files_stay_in_the_profiles_folder_unless_allowed(tmp_path, key, name):
    folder = tmp_path / "bench"
    folder.mkdir()
    (tmp_path / "outside.bin").write_bytes(b"secret")
    (tmp_path / "outside.txt").write_text("00: 73 65 63 72 65 74\n")
    (folder / "link.bin").symlink_to(tmp_path / "outside.bin")
    path = write(folder, f"version = 1\n{EEPROM}{key} = '{name(folder)}'\n")
    with pytest.raises(ProfileError, match="outside the profile's folder") as caught:
        sim.VirtualAdapter.from_profile(path)
    assert (caught.value.key, caught.value.line) == (f"i2c.devices[0].{key}", 6)
    loaded = profiles.load(path, contents_anywhere=True)
    assert loaded["i2c"]["devices"][0]["contents"] == b"secret"


@pytest.mark.parametrize("key, name, message", [
    ("contents_file", "huge.bin", "is more than the size (256)"),
    ("contents_file", "/dev/zero", "is more than the size (256)"),
    ("contents_dump_file", "/dev/zero", "too long for a dump of 256 bytes"),
    ("contents_file", "pipe", "is a pipe"),
], ids=["sparse-terabyte", "endless-device", "endless-dump", "named-pipe-without-writer"])
def test_contents_files_are_read_only_as_far_as_the_memory_holds(tmp_path, key, name, message):
    with open(tmp_path / "huge.bin", "wb") as huge:
        huge.truncate(1 << 40)  # sparse: takes no space, but reading it whole cannot succeed
    os.mkfifo(tmp_path / "pipe")
    path = write(tmp_path, f"version = 1\n{EEPROM}{key} = '{name}'\n")
    with pytest.raises(ProfileError) as caught:
        profiles.load(path, contents_anywhere=True)
    assert message in caught.value.message
    assert caught.value.key == f"i2c.devices[0].{key}"


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "version: missing required key"),
        ("version = 2\n", "unsupported format version 2"),
    ],
    ids=["no-version", "future-version"],
)
def test_the_format_is_versioned(tmp_path, text, message):
    with pytest.raises(ProfileError, match=message):
        profiles.load(write(tmp_path, text))


def test_unknown_names_list_the_shipped_profiles():
    with pytest.raises(ProfileError, match="shipped: eeprom-and-sensor, i3c-bus, spi-flash"):
        sim.VirtualAdapter.from_profile("no-such-bench")


def test_profile_errors_are_value_errors_and_pickle():
    error = ProfileError("bad", file="a.toml", line=3, key="adapter.model")
    again = pickle.loads(pickle.dumps(error))
    assert isinstance(again, ValueError)
    assert (again.file, again.line, again.key, str(again)) == ("a.toml", 3, "adapter.model", str(error))
