# SPDX-License-Identifier: MIT
"""The ``vantor://`` handler as a package of pyvantorsdk's own, which
``pyvantorsdk.serialport`` adds to pyserial's handler packages (see there)."""
