# SPDX-License-Identifier: MIT
"""Several requests on the wire at once, through the asynchronous engine:
the storage programmers (``pyvantorsdk.flash``, ``pyvantorsdk.eeprom``) send
a command's next request before the previous answer is in.

A ``Pipeline`` is a second connection to an adapter that a ``DeviceFacade``
already has open. Both connections see every answer, and a facade takes the
first answer bearing the transaction id it waits for: the pipeline numbers
its requests from 0x8000 up, out of the way of a facade's ids, which count
up from 1 (so a facade that has sent 32768 requests or more must not be used
while a pipeline runs). Every request is answered, or has timed out, before
``answer`` returns, and the caller finishes what it sent before it uses the
facade again.
"""

from __future__ import annotations

import threading
import time
from typing import Callable, Dict, Optional, Set, Type, Union

from pyvantorsdk._cpp._pyvantorsdk_cpp import AsyncDeviceFacade, DeviceFacade, StatusCode
from pyvantorsdk.errors import (
    DisconnectError,
    FirmwareError,
    ProtocolError,
    VantorError,
    VantorTimeoutError,
)

__all__ = ["Pipeline", "bulk_payload", "status_error"]

_FIRST_ID = 0x8000
_IDS = 0x8000
HEADER = 6  # transaction id, command code, status


def status_error(status: int, operation: str,
                 firmware: Type[FirmwareError] = FirmwareError) -> VantorError:
    """The exception a ``DeviceFacade`` raises for ``status``; firmware
    statuses become ``firmware`` (the family's class)."""
    code: Union[StatusCode, int]
    try:
        code = StatusCode(status)
    except ValueError:
        code = status
    if status == StatusCode.SDK_ERROR_TIMEOUT.value:
        return VantorTimeoutError(code, operation)
    if status == StatusCode.SDK_ERROR_DISCONNECT.value:
        return DisconnectError(code, operation)
    if status >= 0x2000:
        return ProtocolError(code, operation)
    return firmware(code, operation)


def bulk_payload(dev: DeviceFacade, group: int) -> int:
    """The largest bulk transfer of a command group (2 I2C, 3 SPI); 0
    without the bulk interface."""
    if not dev.is_bulk_transport_available():
        return 0
    _info, supported, groups = dev.get_bulk_capabilities()
    if not supported:
        return 0
    return next((int(size) for g, size, _mask in groups if g == group), 0)


class Pipeline:
    """An ``AsyncDeviceFacade`` on the same adapter, with the answers
    matched to their requests.

    ``timeout`` (seconds) bounds the wait for each answer; None waits
    without limit. An adapter unplugged with requests on the wire shows as
    that timeout (the engine reports the loss at the next send)."""

    def __init__(self, facade: AsyncDeviceFacade, timeout: Optional[float] = 2.0) -> None:
        self.facade = facade
        self.timeout = timeout
        # Answers are kept only for the requests waited for: the facade's
        # traffic, which this connection sees too, is dropped.
        self._waiting: Set[int] = set()
        self._answers: Dict[int, bytes] = {}
        self._ready = threading.Condition()
        self._next = 0
        facade.on_async_response(self._answer)

    @classmethod
    def open(cls, path: str = "", *, serial: Optional[str] = None,
             timeout: Optional[float] = 2.0) -> Optional["Pipeline"]:
        """Connects to the adapter at ``path`` (or with this serial number);
        None when it cannot be opened."""
        facade = AsyncDeviceFacade()
        opened = facade.connect_serial(serial) if serial else facade.connect(path)
        return cls(facade, timeout) if opened else None

    def close(self) -> None:
        self.facade.on_async_response(None)
        self.facade.disconnect()

    def __enter__(self) -> "Pipeline":
        return self

    def __exit__(self, *_exc: object) -> None:
        self.close()

    def _answer(self, message: bytes) -> None:
        request = int.from_bytes(message[0:2], "little")
        with self._ready:
            if request in self._waiting:
                self._answers[request] = message
                self._ready.notify_all()

    def send(self, call: Callable[[AsyncDeviceFacade, int], int], operation: str) -> int:
        """Sends ``call(facade, id)``; returns the id to ``answer`` with."""
        self._next = (self._next + 1) % _IDS
        request = _FIRST_ID + self._next
        with self._ready:
            self._answers.pop(request, None)
            self._waiting.add(request)
        status = call(self.facade, request)
        if status:
            self.forget(request)
            raise status_error(status, operation)
        return request

    def answer(self, request: int, operation: str,
               firmware: Type[FirmwareError] = FirmwareError) -> bytes:
        """The answer to ``request`` after its 6-byte header; a non-zero
        status raises as the ``DeviceFacade`` would."""
        deadline = None if self.timeout is None else time.monotonic() + self.timeout
        with self._ready:
            try:
                while request not in self._answers:
                    left = None if deadline is None else deadline - time.monotonic()
                    if left is not None and left <= 0:
                        raise VantorTimeoutError(StatusCode.SDK_ERROR_TIMEOUT, operation)
                    self._ready.wait(left)
                message = self._answers.pop(request)
            finally:
                self._waiting.discard(request)
        if len(message) < HEADER:
            raise ProtocolError(StatusCode.SDK_ERROR_WRONG_RESPONSE, operation)
        status = int.from_bytes(message[4:6], "little")
        if status:
            raise status_error(status, operation, firmware)
        return message[HEADER:]

    def forget(self, request: int) -> None:
        """Stops waiting for ``request`` (its answer, if any, is dropped)."""
        with self._ready:
            self._waiting.discard(request)
            self._answers.pop(request, None)
