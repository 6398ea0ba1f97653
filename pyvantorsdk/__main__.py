# SPDX-License-Identifier: MIT
"""``python -m pyvantorsdk``: the ``vantor`` command."""

import sys

from pyvantorsdk.cli.main import main

if __name__ == "__main__":
    sys.exit(main())
