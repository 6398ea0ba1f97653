# SPDX-License-Identifier: MIT
"""``vantor-labgrid-exporter``: labgrid's exporter, able to export the
adapter resources as well (``VantorAdapter``, ``VirtualVantorAdapter``).

It takes labgrid's exporter options and configuration file unchanged. A
``VantorAdapter`` is available while udev sees it; a ``VirtualVantorAdapter``
always is (the agent builds it on this host when a client's driver
activates). Clients see both as ``NetworkVantorAdapter``.
"""

from __future__ import annotations

from typing import Any, Dict

import attr
from labgrid.remote import exporter as _exporter

from pyvantorsdk.labgrid.resources import VantorAdapter, VirtualVantorAdapter

__all__ = ["VantorAdapterExport", "main"]


@attr.s(eq=False)
class VantorAdapterExport(_exporter.ResourceExport):
    """Exports a VantorAdapter or VirtualVantorAdapter of this host."""

    def __attrs_post_init__(self) -> None:
        super().__attrs_post_init__()
        # `cls` reads data["cls"]: the local class is chosen before the
        # exported name replaces it.
        local_cls: Any = VirtualVantorAdapter if self.cls == "VirtualVantorAdapter" else VantorAdapter
        self.local = local_cls(target=None, name=None, **self.local_params)
        self.data["cls"] = "NetworkVantorAdapter"

    def _get_params(self) -> Dict[str, Any]:
        local = self.local
        if isinstance(local, VirtualVantorAdapter):
            return {
                "host": self.host,
                "busnum": None,
                "devnum": None,
                "path": None,
                "vendor_id": None,
                "model_id": None,
                "virtual": True,
                "profile": local.profile,
                "uart_loopback": local.uart_loopback,
            }
        return {
            "host": self.host,
            "busnum": local.busnum,
            "devnum": local.devnum,
            "path": local.path,
            "vendor_id": local.vendor_id,
            "model_id": local.model_id,
            "serial": local.serial,
        }


def register() -> None:
    """Add the adapter's export class to labgrid's exporter."""
    _exporter.exports["VantorAdapter"] = VantorAdapterExport
    _exporter.exports["VirtualVantorAdapter"] = VantorAdapterExport


def main() -> None:
    register()
    _exporter.main()


if __name__ == "__main__":
    main()
