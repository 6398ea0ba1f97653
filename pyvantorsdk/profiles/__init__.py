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

GPIO inputs are named as the adapter's pins are labelled, ``pin1`` to
``pin6`` (``GpioPinNumber.PIN_1`` to ``PIN_6``)::

    [gpio.inputs]
    pin2 = 1

The bare numbers 0 to 5 of the first profiles, counted from 0, are still read
(``2`` is ``pin3``) with a ``ProfileDeprecationWarning``.
"""

from pyvantorsdk.profiles.bench import apply, capture
from pyvantorsdk.profiles.schema import (
    FORMAT_VERSION,
    Profile,
    ProfileDeprecationWarning,
    ProfileError,
    load,
    loads,
    parse_dump,
    resolve,
    shipped,
)
from pyvantorsdk.profiles.writer import INLINE_CONTENTS as INLINE_CONTENTS
from pyvantorsdk.profiles.writer import dump, dumps

__all__ = [
    "FORMAT_VERSION",
    "Profile",
    "ProfileError",
    "ProfileDeprecationWarning",
    "load",
    "loads",
    "apply",
    "capture",
    "dump",
    "dumps",
    "shipped",
    "resolve",
    "parse_dump",
]

# The error is raised from the package's modules but belongs to the package.
ProfileError.__module__ = __name__
ProfileDeprecationWarning.__module__ = __name__
