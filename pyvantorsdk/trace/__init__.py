# SPDX-License-Identifier: MIT
"""Reading the traces that ``--trace`` and ``DeviceFacade.start_trace`` record."""
