# SPDX-License-Identifier: MIT
"""What the storage programmers (``pyvantorsdk.flash``,
``pyvantorsdk.eeprom``) share: the bulk transfer size of a command group,
and reads sent a batch at a time on the caller's own ``DeviceFacade``."""

from __future__ import annotations

from typing import Callable, Iterator, Sequence, Tuple, TypeVar

from pyvantorsdk._cpp._pyvantorsdk_cpp import BatchCall, DeviceBatch, DeviceFacade

T = TypeVar("T")

# Reads per batch: enough to keep the window full, few enough that a reader
# stopping early (a comparison at its first difference) wastes little.
READS_PER_BATCH = 32


def bulk_payload(dev: DeviceFacade, group: int) -> int:
    """The largest bulk transfer of a command group (2 I2C, 3 SPI); 0
    without the bulk interface."""
    if not dev.is_bulk_transport_available():
        return 0
    _info, supported, groups = dev.get_bulk_capabilities()
    if not supported:
        return 0
    return next((int(size) for g, size, _mask in groups if g == group), 0)


def batched(dev: DeviceFacade, items: Sequence[T],
            queue: Callable[[DeviceBatch, T], BatchCall]) -> Iterator[Tuple[T, BatchCall]]:
    """Each item with its call, answered: ``queue(b, item)`` queues the
    item's call on a batch of ``dev``, ``READS_PER_BATCH`` items to a batch,
    and a batch is sent before its first item is yielded. The caller takes
    each call's ``result()``; a generator closed early sends no more."""
    for start in range(0, len(items), READS_PER_BATCH):
        part = items[start : start + READS_PER_BATCH]
        with dev.batch() as b:
            calls = [queue(b, item) for item in part]
        yield from zip(part, calls)
