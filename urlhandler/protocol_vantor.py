# SPDX-License-Identifier: MIT
"""pyserial's handler of ``vantor://`` URLs, installed with pyvantorsdk.

pyserial looks up the scheme of a URL as the module
``serial.urlhandler.protocol_<scheme>``; this file is installed there, so
``serial.serial_for_url("vantor://...")`` and miniterm open the adapter's
UART without importing pyvantorsdk first. The port itself is
``pyvantorsdk.serialport.Serial``.
"""

from pyvantorsdk.serialport import Serial, serial_class_for_url

__all__ = ["Serial", "serial_class_for_url"]
