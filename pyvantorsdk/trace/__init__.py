# SPDX-License-Identifier: MIT
"""Reading the adapter's USB traffic back from the pcapng captures that
``vantor --trace`` and ``DeviceFacade.start_trace`` write, as named
transactions::

    from pyvantorsdk import trace

    for record in trace.read("session.pcapng"):
        print(record.line())

``read`` decodes a file; ``Decoder`` does the same incrementally, one usbmon
event at a time; ``summarize`` adds records up per command. Each :class:`Record` is a request paired with its response
(with the data phases of bulk commands), a notification, or what could not
be paired or read, with the reason in ``problem``."""

from pyvantorsdk.trace.decode import Decoder, packets, read
from pyvantorsdk.trace.pcapng import TraceError
from pyvantorsdk.trace.records import Record
from pyvantorsdk.trace.stats import summarize
from pyvantorsdk.trace.usbmon import UsbPacket

__all__ = ["Decoder", "Record", "TraceError", "UsbPacket", "packets", "read", "summarize"]
