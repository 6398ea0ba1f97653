# SPDX-License-Identifier: MIT
"""labgrid resources for the adapter: attached here, exported by another
host, or virtual (built from a profile)."""

from __future__ import annotations

from typing import Any, Dict, Optional

import attr
from labgrid.factory import target_factory
from labgrid.resource.common import Resource
from labgrid.resource.remote import RemoteUSBResource
from labgrid.resource.udev import USBResource

from pyvantorsdk import SUPPORTED_DEVICES

__all__ = ["VantorAdapter", "NetworkVantorAdapter", "VirtualVantorAdapter"]

# (vendor id, product id) of the supported adapters, as udev spells them.
_USB_IDS = frozenset((f"{vid:04x}", f"{pid:04x}") for vid, pid, _model, _size in SUPPORTED_DEVICES)


@target_factory.reg_resource
@attr.s(eq=False)
class VantorAdapter(USBResource):
    """An adapter attached to this host, found through udev like labgrid's
    other USB resources: ``match`` narrows it down (``ID_SERIAL_SHORT``,
    ``ID_PATH``); only the supported vendor and product ids match."""

    def filter_match(self, device: Any) -> bool:
        ids = (device.properties.get("ID_VENDOR_ID"), device.properties.get("ID_MODEL_ID"))
        if ids not in _USB_IDS:
            return False
        return bool(super().filter_match(device))

    @property
    def serial(self) -> Optional[str]:
        """The adapter's serial number (None while it is absent)."""
        if self.device is None:
            return None
        found = self.device.properties.get("ID_SERIAL_SHORT")
        return str(found) if found else None

    def agent_locator(self) -> Dict[str, Any]:
        """What the agent (or a local facade) opens: the adapter by serial number."""
        return {"virtual": False, "serial": self.serial}


@target_factory.reg_resource
@attr.s(eq=False)
class NetworkVantorAdapter(RemoteUSBResource):
    """An adapter exported by another host (``vantor-labgrid-exporter``).

    ``serial`` names a real adapter there; ``virtual`` says that the exporter
    offers a virtual adapter built from ``profile`` (resolved on that host),
    which the agent builds when a driver activates."""

    serial: Optional[str] = attr.ib(
        default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))
    virtual: bool = attr.ib(default=False, validator=attr.validators.instance_of(bool))
    profile: Optional[str] = attr.ib(
        default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))
    uart_loopback: bool = attr.ib(default=False, validator=attr.validators.instance_of(bool))

    def __attrs_post_init__(self) -> None:
        self.timeout = 10.0
        super().__attrs_post_init__()

    def agent_locator(self) -> Dict[str, Any]:
        if self.virtual:
            return {"virtual": True, "profile": self.profile, "uart_loopback": self.uart_loopback}
        return {"virtual": False, "serial": self.serial}


@target_factory.reg_resource
@attr.s(eq=False)
class VirtualVantorAdapter(Resource):
    """A virtual adapter (``pyvantorsdk.sim``) for CI and demos, built from
    ``profile`` (a shipped profile's name or a TOML file; none: a plain
    adapter) when a driver activates, and closed when it deactivates.
    ``uart_loopback`` joins the UART's TX to its RX, so that a console
    sees what it sends."""

    profile: Optional[str] = attr.ib(
        default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))
    uart_loopback: bool = attr.ib(default=False, validator=attr.validators.instance_of(bool))

    def agent_locator(self) -> Dict[str, Any]:
        return {"virtual": True, "profile": self.profile, "uart_loopback": self.uart_loopback}

