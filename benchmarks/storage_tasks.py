# SPDX-License-Identifier: MIT
"""Storage tasks for the benchmark harness: programming and verifying an
SPI NOR flash and reading and writing an I2C EEPROM through the fast paths
(bulk reads when the adapter has the bulk interface, requests pipelined on
the facade itself unless ``pipelined=False``, skipping what already matches).

Each task sets up its bus, runs, and returns what the library returned. The
adapter at ``dev`` needs a flash on chip select 0 (``flash_program_verify``)
or an EEPROM at ``address`` on bus A (the EEPROM tasks), for instance::

    with sim.VirtualAdapter() as adapter, DeviceFacade() as dev:
        adapter.spi.attach_flash(0, busy_polls=0)
        dev.connect(adapter.path)
        flash_program_verify(dev, image)

    .venv/bin/python benchmarks/storage_tasks.py   (prints each task's time)
"""

from __future__ import annotations

import time
from typing import Optional

from pyvantorsdk import (
    DeviceFacade,
    I2cPullUp,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiDataWidth,
    SpiMode,
    eeprom,
    flash,
    sim,
)
from pyvantorsdk.cli.common import init_or_reconfigure

SPI_HZ = 20_000_000
I2C_HZ = 1_000_000


def _spi(dev: DeviceFacade) -> None:
    values = (SpiBitOrder.MSB, SpiMode.MODE_0, SpiDataWidth.BITS_8, SpiChipSelect.CS_0,
              SpiChipSelectPolarity.ACTIVE_LOW, SPI_HZ)
    init_or_reconfigure(lambda: dev.spi_controller_init(*values),
                        lambda: dev.spi_set_parameters(*values))


def _i2c(dev: DeviceFacade) -> None:
    init_or_reconfigure(lambda: dev.i2c_controller_init(0, I2C_HZ, I2cPullUp.KOHM_2_2),
                        lambda: dev.i2c_set_parameters(0, I2C_HZ, I2cPullUp.KOHM_2_2))


def flash_program_verify(dev: DeviceFacade, image: bytes, *, offset: int = 0,
                         size: Optional[int] = None,
                         pipelined: bool = True) -> flash.ProgramReport:
    """Programs ``image`` at ``offset`` and verifies it; ``size`` defaults
    to what the JEDEC id announces."""
    _spi(dev)
    if size is None:
        size = flash.flash_size(flash.jedec_id(dev))
        if size is None:
            raise RuntimeError("no flash recognised on chip select 0")
    return flash.program(dev, offset, image, size=size, pipelined=pipelined)


def eeprom_read(dev: DeviceFacade, offset: int, length: int, *, address: int = 0x50,
                address_width: int = 2, pipelined: bool = True) -> bytes:
    _i2c(dev)
    return eeprom.read(dev, 0, address, offset, length, address_width=address_width,
                       pipelined=pipelined)


def eeprom_write(dev: DeviceFacade, offset: int, data: bytes, *, address: int = 0x50,
                 address_width: int = 2, page_size: int = 64) -> int:
    _i2c(dev)
    return eeprom.write(dev, 0, address, offset, data, address_width=address_width,
                        page_size=page_size)


def main() -> None:
    image = bytes((i * 7 + i // 251) & 0xFF for i in range(1 << 20))
    for bulk in (True, False):
        with sim.VirtualAdapter(bulk=bulk) as adapter, DeviceFacade() as dev:
            adapter.set_recording(False)
            adapter.spi.attach_flash(0, busy_polls=0)
            adapter.i2c.attach_eeprom(0, 0x50, size=64 * 1024, page_size=64, address_bytes=2)
            dev.connect(adapter.path)
            kind = "bulk" if bulk else "hid"
            for what, task in (
                ("flash program+verify 1 MiB", lambda: flash_program_verify(dev, image)),
                ("flash unchanged 1 MiB", lambda: flash_program_verify(dev, image)),
                ("eeprom write 64 KiB", lambda: eeprom_write(dev, 0, image[: 64 * 1024])),
                ("eeprom read 64 KiB", lambda: eeprom_read(dev, 0, 64 * 1024)),
            ):
                start = time.perf_counter()
                task()
                print(f"{kind:4} {what:28} {time.perf_counter() - start:7.3f} s")


if __name__ == "__main__":
    main()
