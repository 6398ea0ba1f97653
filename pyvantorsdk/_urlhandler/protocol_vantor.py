# SPDX-License-Identifier: MIT
"""pyserial's handler of ``vantor://`` URLs (``serial.protocol_handler_packages``)."""

from pyvantorsdk.serialport import Serial, serial_class_for_url

__all__ = ["Serial", "serial_class_for_url"]
