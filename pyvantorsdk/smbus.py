# SPDX-License-Identifier: MIT
"""An adapter I2C bus with the interface of ``smbus2.SMBus``.

Drivers written for Linux's ``/dev/i2c-N`` through ``smbus2`` take an
``SMBus`` object; this one sends the same SMBus transactions through the
adapter::

    from pyvantorsdk import DeviceFacade
    from pyvantorsdk.smbus import SMBus

    with DeviceFacade() as dev, SMBus(dev) as bus:    # bus A, 100 kHz
        dev.connect()
        print(bus.read_word_data(0x48, 0x00))

The SMBus rules hold: words are sent and read low byte first, block
transfers carry a count byte and at most 32 data bytes, and with ``pec``
set each transaction that has a Packet Error Code (all but quick commands
and I2C block transfers) sends one and checks the one it reads.

Errors are ``OSError`` with the errno that Linux I2C adapters report:
``ENXIO`` when the address is not acknowledged, ``EIO`` for a refused data
byte, ``ETIMEDOUT``, ``EAGAIN`` on lost arbitration, ``EBADMSG`` for a wrong
PEC and ``EPROTO`` for a block count outside 1..32; the adapter's exception
is the ``__cause__``.
"""

from __future__ import annotations

import errno
import operator
from typing import Iterable, Iterator, List, Optional, Sequence, Union

from pyvantorsdk._cpp._pyvantorsdk_cpp import DeviceFacade, I2cBus, I2cPullUp, StatusCode
from pyvantorsdk._oserror import raising_os_error
from pyvantorsdk.errors import VantorError

__all__ = ["SMBus", "i2c_msg", "I2C_SMBUS_BLOCK_MAX", "I2C_M_RD", "pec"]

I2C_SMBUS_BLOCK_MAX = 32
# The length field of one I2C transfer is 16 bits wide.
_MAX_MESSAGE = 0xFFFF
# i2c_msg flag of a read message, as in Linux's i2c.h.
I2C_M_RD = 0x0001

_ERRNO = {
    StatusCode.FW_I2C_NACK_ADDRESS: errno.ENXIO,
    StatusCode.FW_I2C_NACK_BYTE: errno.EIO,
    StatusCode.FW_I2C_ARBITRATION_LOST: errno.EAGAIN,
}


def pec(data: Iterable[int]) -> int:
    """The SMBus Packet Error Code: CRC-8 with polynomial x^8 + x^2 + x + 1,
    initial value 0, over every byte of the transaction including the
    address bytes."""
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc


class i2c_msg:  # noqa: N801 - the name drivers import
    """One message of an ``SMBus.i2c_rdwr`` transaction: a write of ``buf`` or
    a read of ``len`` bytes into ``buf``."""

    def __init__(self, addr: int, flags: int, buf: bytearray) -> None:
        self.addr = addr
        self.flags = flags
        self.buf = buf

    @property
    def len(self) -> int:
        return len(self.buf)

    @staticmethod
    def read(address: int, length: int) -> "i2c_msg":
        """A message that reads ``length`` bytes."""
        return i2c_msg(address, I2C_M_RD, bytearray(length))

    @staticmethod
    def write(address: int, buf: Union[bytes, bytearray, str, Sequence[int]]) -> "i2c_msg":
        """A message that writes ``buf`` (bytes, a list of ints, or a str)."""
        if isinstance(buf, str):
            data = bytearray(buf.encode("utf-8"))
        else:
            data = bytearray(buf)
        return i2c_msg(address, 0, data)

    @property
    def is_read(self) -> bool:
        return bool(self.flags & I2C_M_RD)

    def __iter__(self) -> Iterator[int]:
        return iter(self.buf)

    def __len__(self) -> int:
        return len(self.buf)

    def __bytes__(self) -> bytes:
        return bytes(self.buf)

    def __repr__(self) -> str:
        kind = "read" if self.is_read else "write"
        return f"i2c_msg({kind} addr=0x{self.addr:02X} buf={bytes(self.buf)!r})"


class SMBus:
    """SMBus transactions on one of the adapter's I2C buses.

    Creating it sets the bus up as controller (unless it already is).
    ``close()`` releases it again when this object set it up.
    """

    def __init__(
        self,
        device: DeviceFacade,
        bus: Union[I2cBus, int] = I2cBus.A,
        *,
        frequency_hz: int = 100_000,
        pull_up: I2cPullUp = I2cPullUp.KOHM_4_7,
    ) -> None:
        self._device: Optional[DeviceFacade] = device
        self._bus = I2cBus(bus)
        self._pec = False
        self._owns_bus = True
        with raising_os_error(_ERRNO):
            try:
                device.i2c_controller_init(self._bus, frequency_hz, pull_up)
            except VantorError as error:
                if error.status_code != StatusCode.FW_INTERFACE_ALREADY_INITIALIZED:
                    raise
                self._owns_bus = False

    def __enter__(self) -> "SMBus":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self._device is None else f"pec={self._pec}"
        return f"<SMBus bus={self._bus.name} {state}>"

    def close(self) -> None:
        """Release the bus if this object set it up; further calls raise."""
        device, self._device = self._device, None
        if device is not None and self._owns_bus:
            try:
                device.i2c_deinit(self._bus)
            except VantorError:
                pass

    @property
    def pec(self) -> bool:
        """Whether transactions carry a Packet Error Code."""
        return self._pec

    @pec.setter
    def pec(self, enable: bool) -> None:
        self._pec = bool(enable)

    def enable_pec(self, enable: bool = True) -> None:
        self.pec = enable

    # ------------------------------------------------------------- transactions
    # Arguments that do not fit their field (an address over 7 bits, a
    # register or byte over 8, a word over 16) raise ValueError naming the
    # argument before anything is sent.
    def write_quick(self, i2c_addr: int, force: Optional[bool] = None) -> None:
        """Address the device with the write bit and no data (and no PEC:
        a quick command has no byte to carry one)."""
        self._raw_write(i2c_addr, b"", b"")

    def read_byte(self, i2c_addr: int, force: Optional[bool] = None) -> int:
        """Receive one byte."""
        data = self._read(i2c_addr, b"", 1)
        return data[0]

    def write_byte(self, i2c_addr: int, value: int, force: Optional[bool] = None) -> None:
        """Send one byte."""
        self._write(i2c_addr, b"", _unsigned("value", value, 1))

    def read_byte_data(self, i2c_addr: int, register: int, force: Optional[bool] = None) -> int:
        """Read one byte from a register."""
        return self._read(i2c_addr, _unsigned("register", register, 1), 1)[0]

    def write_byte_data(
        self, i2c_addr: int, register: int, value: int, force: Optional[bool] = None
    ) -> None:
        """Write one byte to a register."""
        self._write(i2c_addr, _unsigned("register", register, 1), _unsigned("value", value, 1))

    def read_word_data(self, i2c_addr: int, register: int, force: Optional[bool] = None) -> int:
        """Read a 16-bit word from a register (low byte first on the bus)."""
        data = self._read(i2c_addr, _unsigned("register", register, 1), 2)
        return int.from_bytes(data, "little")

    def write_word_data(
        self, i2c_addr: int, register: int, value: int, force: Optional[bool] = None
    ) -> None:
        """Write a 16-bit word to a register (low byte first on the bus)."""
        self._write(i2c_addr, _unsigned("register", register, 1), _unsigned("value", value, 2))

    def process_call(
        self, i2c_addr: int, register: int, value: int, force: Optional[bool] = None
    ) -> int:
        """Write a word to a register and read a word back, with a repeated
        start and no stop between (both words low byte first)."""
        command = _unsigned("register", register, 1) + _unsigned("value", value, 2)
        return int.from_bytes(self._read(i2c_addr, command, 2), "little")

    def read_block_data(
        self, i2c_addr: int, register: int, force: Optional[bool] = None
    ) -> List[int]:
        """Read an SMBus block: the device sends a count (1..32), then that
        many bytes."""
        subaddress = _unsigned("register", register, 1)
        # The count is known only once it is on the bus, so read the longest
        # block and keep what the count covers.
        raw = self._raw_read(i2c_addr, subaddress, 1 + I2C_SMBUS_BLOCK_MAX + self._pec)
        count = raw[0]
        if not 1 <= count <= I2C_SMBUS_BLOCK_MAX:
            raise OSError(errno.EPROTO, f"SMBus block count {count} outside 1..32")
        if self._pec:
            self._check_pec(i2c_addr, subaddress, raw[: 1 + count], raw[1 + count])
        return list(raw[1 : 1 + count])

    def write_block_data(
        self, i2c_addr: int, register: int, data: Sequence[int], force: Optional[bool] = None
    ) -> None:
        """Write an SMBus block: a count byte, then the data (at most 32 bytes)."""
        subaddress, payload = _unsigned("register", register, 1), _block(data)
        self._write(i2c_addr, subaddress, bytes([len(payload)]) + payload)

    def read_i2c_block_data(
        self, i2c_addr: int, register: int, length: int, force: Optional[bool] = None
    ) -> List[int]:
        """Read ``length`` (at most 32) bytes from a register, without count
        byte or PEC."""
        if not 0 <= length <= I2C_SMBUS_BLOCK_MAX:
            raise ValueError(f"Desired block length over {I2C_SMBUS_BLOCK_MAX} bytes")
        subaddress = _unsigned("register", register, 1)
        if length == 0:
            return []
        return list(self._raw_read(i2c_addr, subaddress, length))

    def write_i2c_block_data(
        self, i2c_addr: int, register: int, data: Sequence[int], force: Optional[bool] = None
    ) -> None:
        """Write up to 32 bytes to a register, without count byte or PEC."""
        self._raw_write(i2c_addr, _unsigned("register", register, 1), _block(data))

    def i2c_rdwr(self, *i2c_msgs: i2c_msg) -> None:
        """Run the messages as one combined transaction: a repeated start
        between messages and a stop only after the last. Read messages are
        filled in place. A message longer than the 65535 bytes one transfer
        carries is refused before any is sent."""
        device = self._open_device()
        messages = list(i2c_msgs)
        for index, message in enumerate(messages):
            if len(message) > _MAX_MESSAGE:
                raise ValueError(
                    f"message {index}: {len(message)} bytes, over the {_MAX_MESSAGE} of one "
                    "I2C transfer"
                )
        index = 0
        with raising_os_error(_ERRNO):
            while index < len(messages):
                message = messages[index]
                last = index == len(messages) - 1
                following = None if last else messages[index + 1]
                if (
                    not message.is_read
                    and following is not None
                    and following.is_read
                    and following.addr == message.addr
                    and len(message) <= 4
                ):
                    # A short write followed by a read from the same device:
                    # the adapter sends the written bytes, a repeated start,
                    # then reads, in one transfer.
                    self._fill(following, message.addr, bytes(message.buf), device, index + 1)
                    index += 2
                    continue
                if message.is_read:
                    self._fill(message, message.addr, b"", device, index, non_stop=not last)
                else:
                    device.i2c_write(self._bus, message.addr, b"", bytes(message.buf), not last)
                index += 1

    # ---------------------------------------------------------------- helpers
    def _fill(
        self,
        message: i2c_msg,
        address: int,
        subaddress: bytes,
        device: DeviceFacade,
        index: int,
        *,
        non_stop: bool = False,
    ) -> None:
        data = device.i2c_read(self._bus, address, subaddress, len(message), non_stop)
        if len(data) != len(message):
            raise OSError(errno.EIO, f"message {index}: {len(data)} of {len(message)} bytes read")
        message.buf[:] = data

    def _open_device(self) -> DeviceFacade:
        if self._device is None:
            raise OSError(errno.EBADF, "the SMBus is closed")
        return self._device

    def _write(self, address: int, subaddress: bytes, data: bytes) -> None:
        """An SMBus write: with PEC on, the code over address, command and
        data follows the data."""
        _check_address(address)
        if self._pec:
            data += bytes([pec(bytes([address << 1]) + subaddress + data)])
        self._raw_write(address, subaddress, data)

    def _read(self, address: int, subaddress: bytes, length: int) -> bytes:
        """An SMBus read of ``length`` bytes: with PEC on, one more byte is
        read and checked."""
        raw = self._raw_read(address, subaddress, length + self._pec)
        if self._pec:
            self._check_pec(address, subaddress, raw[:length], raw[length])
        return raw[:length]

    def _check_pec(self, address: int, subaddress: bytes, data: bytes, received: int) -> None:
        # A transaction with a command writes it first, then reads after a
        # repeated start; one without is a plain read.
        covered = (bytes([address << 1]) + subaddress if subaddress else b"") + bytes(
            [address << 1 | 1]
        )
        expected = pec(covered + data)
        if received != expected:
            raise OSError(
                errno.EBADMSG, f"PEC mismatch: received 0x{received:02X}, expected 0x{expected:02X}"
            )

    def _raw_write(self, address: int, subaddress: bytes, data: bytes) -> None:
        _check_address(address)
        device = self._open_device()
        with raising_os_error(_ERRNO):
            device.i2c_write(self._bus, address, subaddress, data, False)

    def _raw_read(self, address: int, subaddress: bytes, length: int) -> bytes:
        _check_address(address)
        device = self._open_device()
        with raising_os_error(_ERRNO):
            data = device.i2c_read(self._bus, address, subaddress, length, False)
        if len(data) != length:
            raise OSError(errno.EIO, f"short read: {len(data)} of {length} bytes")
        return data


def _unsigned(name: str, value: int, size: int) -> bytes:
    """``value`` in ``size`` bytes, low byte first; ValueError naming the
    argument when it does not fit."""
    value = operator.index(value)
    limit = (1 << 8 * size) - 1
    if not 0 <= value <= limit:
        raise ValueError(f"{name} {value!r} outside 0..0x{limit:X}")
    return value.to_bytes(size, "little")


def _check_address(address: int) -> None:
    if not 0 <= address <= 0x7F:
        raise ValueError(f"i2c_addr {address!r} outside the 7-bit addresses 0..0x7F")


def _block(data: Sequence[int]) -> bytes:
    if len(data) > I2C_SMBUS_BLOCK_MAX:
        raise ValueError(f"Data length cannot exceed {I2C_SMBUS_BLOCK_MAX} bytes")
    for index, value in enumerate(data):
        if not 0 <= value <= 0xFF:
            raise ValueError(f"data[{index}] {value!r} outside 0..0xFF")
    return bytes(data)
