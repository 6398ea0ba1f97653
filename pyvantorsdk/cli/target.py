# SPDX-License-Identifier: MIT
"""``vantor target``: the adapter plays an I2C, SPI or I3C device whose
memory comes from an image file, and prints the bus events as they come."""

from __future__ import annotations

import argparse
from typing import Any, Callable, Dict, List, Optional

from pyvantorsdk import (
    I2cTargetAddressMode,
    I2cTargetBusEventNotification,
    I2cTargetMemoryLayout,
    I2cTargetModel,
    I3cTargetBusEventKind,
    I3cTargetBusEventNotification,
    I3cTargetMemoryLayout,
    SpiBitOrder,
    SpiChipSelect,
    SpiChipSelectPolarity,
    SpiMode,
    SpiTargetBusEventNotification,
    SpiTargetEngine,
    SpiTargetModel,
)
from pyvantorsdk.cli.common import (
    CommandFailed,
    Context,
    EventStream,
    UsageError,
    add_stream_options,
    bus_arg,
    init_or_reconfigure,
    int_arg,
    parse_int,
    subcommand,
    timestamp,
)

CHUNK = 32768  # the most one memory write or read moves
I3C_MEMORY = 1024
I2C_EVENTS = {0: "write", 1: "read", 2: "busy-nack", 3: "write-protected"}
SPI_EVENTS = {0: "write", 1: "read", 2: "command", 3: "erase", 4: "refused"}


def register(commands: Any) -> None:
    family = commands.add_parser(
        "target", help="emulate an I2C, SPI or I3C device and print its bus events",
        description="The adapter in the target role: its memory is loaded from an image file "
        "(or left as it is), then every transfer of the external controller is printed until "
        "Ctrl-C or --num-events. --save writes the memory back to a file at the end.",
        epilog="examples:\n  vantor target i2c --address 0x50 --model eeprom eeprom.bin\n"
        "  vantor target spi --model flash flash.bin\n"
        "  vantor target i3c --static-address 0x30 --pid 0x0123456789ab",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    sub = family.add_subparsers(dest="target_command", metavar="COMMAND", required=True)

    i2c = subcommand(
        sub, "i2c", help="emulate an I2C memory, EEPROM or register map",
        examples=["vantor target i2c --address 0x50 image.bin",
                  "vantor target i2c --bus B --address 0x57 --model eeprom --layout 16 big.bin",
                  "vantor target i2c --address 0x50 -n 4 --json --save after.bin image.bin"],
        func=run_i2c, prepare=prepare_i2c,
    )
    i2c.add_argument("--bus", type=bus_arg, default="A", help="A (default) or B")
    i2c.add_argument("--address", type=int_arg("address", 0, 0x3FF), required=True,
                     help="the address to answer on (required)")
    i2c.add_argument("--ten-bit", action="store_true", help="a 10-bit address")
    i2c.add_argument("--model", choices=("memory", "eeprom", "register-map"), default="memory",
                     help="the device emulated (default %(default)s)")
    i2c.add_argument("--layout", type=int, choices=(8, 16), default=8,
                     help="memory address bits (default 8)")
    add_common(i2c)

    spi = subcommand(
        sub, "spi", help="emulate an SPI memory, flash or register map",
        examples=["vantor target spi flash.bin", "vantor target spi --model flash --mode 3 flash.bin"],
        func=run_spi,
    )
    spi.add_argument("--cs", type=int_arg("chip select", 0, 3), default=0,
                     help="chip select 0-3 to answer on (default 0)")
    spi.add_argument("--mode", type=int_arg("mode", 0, 3), default=0,
                     help="clock polarity and phase 0-3 (default 0)")
    spi.add_argument("--lsb-first", action="store_true", help="least significant bit first")
    spi.add_argument("--cs-active-high", action="store_true", help="chip select active high")
    spi.add_argument("--model", choices=("memory", "flash", "register-map"), default="memory",
                     help="the device emulated (default %(default)s)")
    spi.add_argument("--engine", choices=("dma", "isr"), default="dma",
                     help="how the adapter serves the bus: dma (default) or isr")
    add_common(spi)

    i3c = subcommand(
        sub, "i3c", help="emulate an I3C target with a 1024-byte memory",
        examples=["vantor target i3c --static-address 0x30 image.bin",
                  "vantor target i3c --pid 0x0123456789ab --dcr 0xc5 --layout 2"],
        func=run_i3c, prepare=prepare_i3c,
    )
    i3c.add_argument("--static-address", type=int_arg("static address", 0, 0x7F), default=0x30,
                     help="the static address (default 0x30)")
    i3c.add_argument("--pid", default="0x0000_0000_0001", help="48-bit provisioned id")
    i3c.add_argument("--bcr", type=int_arg("BCR", 0, 0xFF), default=0x06,
                     help="bus characteristics register (default 0x06)")
    i3c.add_argument("--dcr", type=int_arg("DCR", 0, 0xFF), default=0xC5,
                     help="device characteristics register (default 0xc5)")
    i3c.add_argument("--layout", type=int, choices=(1, 2, 4), default=1,
                     help="register width in bytes (default 1)")
    i3c.add_argument("--mwl", type=int_arg("MWL", 1, 1024), default=1024,
                     help="maximum write length in bytes (default %(default)s)")
    i3c.add_argument("--mrl", type=int_arg("MRL", 1, 1024), default=1024,
                     help="maximum read length in bytes (default %(default)s)")
    add_common(i3c)


def add_common(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--save", metavar="FILE", help="write the memory to FILE at the end")
    add_stream_options(parser, "events")
    parser.add_argument("image", nargs="?", metavar="IMAGE", help="the initial memory contents")


def read_image(path: Optional[str]) -> bytes:
    if path is None:
        return b""
    with open(path, "rb") as f:
        return f.read()


def load(write: Callable[[int, bytes], None], image: bytes, size: int) -> None:
    if len(image) > size:
        raise CommandFailed(f"the image ({len(image)} bytes) is larger than the memory ({size} bytes)")
    for offset in range(0, len(image), CHUNK):
        write(offset, image[offset : offset + CHUNK])


def save(read: Callable[[int, int], bytes], size: int, path: Optional[str]) -> None:
    if path is None:
        return
    data = bytearray()
    while len(data) < size:
        data += read(len(data), min(CHUNK, size - len(data)))
    with open(path, "wb") as f:
        f.write(data)


# Fields printed in hex on a text line (digits); numbers in JSON.
HEX_FIELDS = {"address": 2, "memory_address": 4}


def follow(ctx: Context, args: argparse.Namespace, stream: EventStream,
           describe: Callable[[Any], Dict[str, Any]]) -> None:
    for event in stream.events(args.num_events, args.idle_timeout):
        when = timestamp()
        fields = describe(event)
        cells = [f"0x{v:0{HEX_FIELDS[k]}x}" if k in HEX_FIELDS else str(v)
                 for k, v in fields.items()]
        ctx.emit_event({"timestamp": float(when), **fields}, "\t".join([when] + cells))


def prepare_i2c(args: argparse.Namespace) -> None:
    if args.address > 0x7F and not args.ten_bit:
        raise UsageError("addresses above 0x7f need --ten-bit")


def run_i2c(ctx: Context, args: argparse.Namespace) -> None:
    dev = ctx.dev
    image = read_image(args.image)
    values = (
        args.bus, args.address,
        I2cTargetAddressMode.BIT_10 if args.ten_bit else I2cTargetAddressMode.BIT_7,
        I2cTargetMemoryLayout.BIT_16 if args.layout == 16 else I2cTargetMemoryLayout.BIT_8,
        I2cTargetModel[args.model.upper().replace("-", "_")],
    )
    sizes: List[int] = []
    stream = EventStream(dev, [I2cTargetBusEventNotification])
    try:
        init_or_reconfigure(lambda: sizes.append(dev.i2c_target_init(*values)),
                            lambda: sizes.append(dev.i2c_target_set_parameters(*values)))
        size = sizes[-1]
        load(dev.i2c_target_write_memory, image, size)
        announce(ctx, f"emulating an I2C {args.model} at 0x{args.address:02x} on bus "
                      f"{args.bus.name} ({size} bytes)")

        def describe(n: I2cTargetBusEventNotification) -> Dict[str, Any]:
            return {"event": I2C_EVENTS.get(n.event, str(n.event)),
                    "address": n.target_address, "memory_address": n.memory_address,
                    "length": n.payload_length}

        follow(ctx, args, stream, describe)
    finally:
        stream.close()
        if sizes:
            save(dev.i2c_target_read_memory, sizes[-1], args.save)


def run_spi(ctx: Context, args: argparse.Namespace) -> None:
    dev = ctx.dev
    image = read_image(args.image)
    values = (
        SpiMode(args.mode), SpiBitOrder.LSB if args.lsb_first else SpiBitOrder.MSB,
        SpiChipSelect(args.cs),
        SpiChipSelectPolarity.ACTIVE_HIGH if args.cs_active_high else SpiChipSelectPolarity.ACTIVE_LOW,
        SpiTargetModel[args.model.upper().replace("-", "_")],
        SpiTargetEngine[args.engine.upper()],
    )
    sizes: List[int] = []
    stream = EventStream(dev, [SpiTargetBusEventNotification])
    try:
        init_or_reconfigure(lambda: sizes.append(dev.spi_target_init(*values)),
                            lambda: sizes.append(dev.spi_target_set_parameters(*values)))
        size = sizes[-1]
        load(dev.spi_target_write_memory, image, size)
        announce(ctx, f"emulating an SPI {args.model} on CS{args.cs} ({size} bytes)")

        def describe(n: SpiTargetBusEventNotification) -> Dict[str, Any]:
            return {"event": SPI_EVENTS.get(n.event, str(n.event)), "chip_select": n.chip_select,
                    "memory_address": n.memory_address, "length": n.payload_length}

        follow(ctx, args, stream, describe)
    finally:
        stream.close()
        if sizes:
            save(dev.spi_target_read_memory, sizes[-1], args.save)


def prepare_i3c(args: argparse.Namespace) -> None:
    args.pid_value = parse_int(args.pid, "pid")
    if not 0 <= args.pid_value < 1 << 48:
        raise UsageError(f"pid {args.pid} is not 48 bits")


def run_i3c(ctx: Context, args: argparse.Namespace) -> None:
    dev = ctx.dev
    image = read_image(args.image)
    pid = args.pid_value
    layout = {1: I3cTargetMemoryLayout.MEMORY_1_BYTE_X_1024_REGS,
              2: I3cTargetMemoryLayout.MEMORY_2_BYTES_X_512_REGS,
              4: I3cTargetMemoryLayout.MEMORY_4_BYTES_X_256_REGS}[args.layout]
    values = (layout, pid.to_bytes(6, "big"), args.bcr, args.dcr, args.static_address,
              args.mwl, args.mrl)
    started = False
    stream = EventStream(dev, [I3cTargetBusEventNotification])
    try:
        init_or_reconfigure(lambda: dev.i3c_target_init(*values),
                            lambda: dev.i3c_target_set_parameters(*values))
        started = True
        load(dev.i3c_target_write_memory, image, I3C_MEMORY)
        announce(ctx, f"emulating an I3C target, static address 0x{args.static_address:02x}, "
                      f"pid {pid:012x}")

        def describe(n: I3cTargetBusEventNotification) -> Dict[str, Any]:
            try:
                kind = I3cTargetBusEventKind(n.kind).name.lower().replace("_", "-")
            except ValueError:
                kind = str(n.kind)
            return {"event": kind, "address": n.target_address,
                    "memory_address": n.memory_address, "data": bytes(n.payload).hex()}

        follow(ctx, args, stream, describe)
    finally:
        stream.close()
        if started:
            save(dev.i3c_target_read_memory, I3C_MEMORY, args.save)


def announce(ctx: Context, text: str) -> None:
    ctx.note(text + "; Ctrl-C ends")

