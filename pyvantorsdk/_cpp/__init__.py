# SPDX-License-Identifier: MIT
"""The compiled core of pyvantorsdk (``_pyvantorsdk_cpp``)."""
