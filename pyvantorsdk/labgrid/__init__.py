# SPDX-License-Identifier: MIT
"""The adapter in a labgrid lab: resources, drivers and an exporter.

Importing this package registers with labgrid's target factory:

- resources ``VantorAdapter`` (attached here, found through udev),
  ``NetworkVantorAdapter`` (exported by another host) and
  ``VirtualVantorAdapter`` (a virtual adapter built from a profile);
- drivers ``VantorDriver`` (the device, with the DeviceFacade methods),
  ``VantorConsoleDriver`` (the UART as labgrid's console) and
  ``VantorDigitalOutputDriver`` (a GPIO pin as a digital output).

An environment file names it under ``imports``; ``vantor-labgrid-exporter``
exports the adapters of a host. Needs labgrid: ``pip install pyvantorsdk[labgrid]``.
"""

from __future__ import annotations

try:
    import labgrid  # noqa: F401
except ImportError as error:
    raise ImportError(
        "pyvantorsdk.labgrid needs labgrid: pip install 'pyvantorsdk[labgrid]'",
        name=__name__,
    ) from error

from pyvantorsdk.labgrid.drivers import (
    VantorConsoleDriver,
    VantorDigitalOutputDriver,
    VantorDriver,
)
from pyvantorsdk.labgrid.proxy import RemoteDevice, RemoteDisconnectError, RemoteTimeoutError
from pyvantorsdk.labgrid.resources import NetworkVantorAdapter, VantorAdapter, VirtualVantorAdapter

__all__ = [
    "VantorAdapter",
    "NetworkVantorAdapter",
    "VirtualVantorAdapter",
    "VantorDriver",
    "VantorConsoleDriver",
    "VantorDigitalOutputDriver",
    "RemoteDevice",
    "RemoteTimeoutError",
    "RemoteDisconnectError",
]
