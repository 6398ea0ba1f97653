# SPDX-License-Identifier: MIT
"""Turning adapter errors into the ``OSError`` that bus-library code expects.

Device drivers written for other Python bus interfaces catch ``OSError`` and
look at its ``errno``; the compatibility classes raise one of those, built
from the ``VantorError`` that the facade raised, which stays attached as
``__cause__``.
"""

from __future__ import annotations

import errno
from contextlib import contextmanager
from typing import Iterator, Mapping

from pyvantorsdk._cpp._pyvantorsdk_cpp import StatusCode
from pyvantorsdk.errors import (
    DisconnectError,
    ProtocolError,
    VantorError,
    VantorTimeoutError,
)

ErrnoTable = Mapping[StatusCode, int]

# Statuses every interface maps the same way.
_COMMON: dict[StatusCode, int] = {
    StatusCode.FW_BUS_TIMEOUT: errno.ETIMEDOUT,
    StatusCode.FW_INVALID_PARAMETER: errno.EINVAL,
    StatusCode.FW_INTERFACE_NOT_INITIALIZED: errno.ENODEV,
    StatusCode.FW_I2C_INVALID_PARAMETER: errno.EINVAL,
    StatusCode.FW_I2C_TIMEOUT_WAITING_BUS_EVENT: errno.ETIMEDOUT,
    StatusCode.FW_I2C_TIMEOUT_SCL_LOW: errno.ETIMEDOUT,
    StatusCode.FW_I2C_TIMEOUT_CONTINUE_TRANSFER: errno.ETIMEDOUT,
    StatusCode.FW_I2C_BUSY: errno.EBUSY,
    StatusCode.SDK_ERROR_WRONG_REQUEST: errno.EINVAL,
}


def errno_for(error: VantorError, table: ErrnoTable) -> int:
    """The errno for ``error``: the interface's own table first, then the
    common one, then the error's class; EIO for anything else."""
    status = error.status_code
    if isinstance(status, StatusCode):
        if status in table:
            return table[status]
        if status in _COMMON:
            return _COMMON[status]
    if isinstance(error, VantorTimeoutError):
        return errno.ETIMEDOUT
    if isinstance(error, DisconnectError):
        return errno.ENODEV
    if isinstance(error, ProtocolError):
        return errno.EINVAL
    return errno.EIO


@contextmanager
def raising_os_error(table: ErrnoTable) -> Iterator[None]:
    """Re-raise a ``VantorError`` from the block as ``OSError``."""
    try:
        yield
    except VantorError as error:
        code = errno_for(error, table)
        # The errno name ends the status line, before the hint line if any.
        first, newline, hint = str(error).partition("\n")
        tag = errno.errorcode.get(code, code)
        raise OSError(code, f"{first} [{tag}]{newline}{hint}") from error
