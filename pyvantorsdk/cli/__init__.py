# SPDX-License-Identifier: MIT
"""The ``vantor`` command line (also ``python -m pyvantorsdk``); its entry
is ``pyvantorsdk.cli.main.main(argv)``."""
