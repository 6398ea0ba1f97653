# SPDX-License-Identifier: MIT
"""The ``vantor`` command line (also ``python -m pyvantorsdk``)."""

from pyvantorsdk.cli.main import main

__all__ = ["main"]
