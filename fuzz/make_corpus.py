#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus (fuzz/corpus/<fuzzer>/) from the messages
and report sequences the C++ tests use. Run it again after changing the input
format of a fuzzer; the files are small and kept in the repository."""

import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
FIRST, LAST = 1, 2

GPIO_EVENT = bytes([0, 0, 0x81, 0x14, 0, 0, 0x02, 0x01, 0x01])
UART_HELLO = bytes([0, 0, 0x81, 0x10, 0, 0, 5, 0]) + b"hello"


# --------------------------------------------------------- reassembly script
def raw(report):
    return bytes([0]) + struct.pack("<H", len(report)) + report


def segment(flags, chunk):
    return bytes([1, flags]) + struct.pack("<H", len(chunk)) + chunk


def burst(count, flags, fill):
    return bytes([2, count - 1, flags, fill])


def framed(message):
    return bytes([3]) + struct.pack("<H", len(message) - 1) + message


def header(flags, length):
    return struct.pack("<H", flags | length << 2)


SMALL, LARGE = b"\x00", b"\x01"  # 64- and 1024-byte reports

REASSEMBLY = {
    "one_segment": SMALL + segment(FIRST | LAST, b"abc"),
    "empty_message": SMALL + segment(FIRST | LAST, b""),
    "three_segments": SMALL + segment(FIRST, b"ab") + segment(0, b"cd") + segment(LAST, b"e"),
    "gpio_then_three_strays": SMALL + segment(FIRST | LAST, GPIO_EVENT)
    + segment(LAST, b"x") + segment(0, b"y") + segment(LAST, b"z"),
    "uart_hello_then_stray": LARGE + segment(FIRST | LAST, UART_HELLO) + segment(LAST, b"hello"),
    "continuation_without_start": SMALL + segment(0, b"ab") + segment(LAST, b"cd"),
    "first_abandons_unfinished": SMALL + segment(FIRST, b"ab") + segment(FIRST | LAST, b"xy"),
    "short_report": SMALL + segment(FIRST, b"ab") + raw(b"\x02") + segment(LAST, b"cd"),
    "lying_length": SMALL + segment(FIRST, b"ab") + raw(header(LAST, 10) + b"c")
    + segment(LAST, b"cd"),
    "exact_capacity_64": SMALL + framed(bytes(range(62))),
    "capacity_plus_one_64": SMALL + framed(bytes(range(63))),
    "exact_capacity_1024": LARGE + framed(bytes(i & 0xFF for i in range(1022))),
    "capacity_plus_one_1024": LARGE + framed(bytes(i & 0xFF for i in range(1023))),
    "endless_continuations_1024": LARGE + burst(256, FIRST, 0xEE) + burst(256, 0, 0xEE)
    + segment(LAST, b"end") + segment(FIRST | LAST, b"next"),
    "largest_message_1024": LARGE + burst(64, FIRST, 0x11) + segment(LAST, bytes(65549 - 64 * 1022)),
}


# ---------------------------------------------------------- notification
def note(code_pick, message):
    return bytes([code_pick]) + message


def notification(code, fields, header_word=0):
    return struct.pack("<HHH", 0, code, header_word) + bytes(fields)


# Byte 0 picks the code written at offset 2: 0 hot-join, 1 IBI, 2 GPIO,
# 3 UART, 4 connector, 5 I2C target, 6 SPI target, 7 I3C target, 8 code 0,
# 9 the message's own code.
NOTIFICATION = {
    "hot_join": note(0, notification(0x1982, [1, 2, 3, 4, 5, 6, 0x07, 0xC6, 0x09])),
    "ibi": note(1, notification(0x1981, [0x08, 3, 0xA, 0xB, 0xC])),
    "ibi_payload_longer_than_message": note(1, notification(0x1981, [0x08, 200, 1])),
    "gpio": note(2, GPIO_EVENT),
    "gpio_eight_bytes": note(2, GPIO_EVENT[:8]),
    "uart_hello": note(3, UART_HELLO),
    "uart_length_beyond_message": note(3, notification(0x1081, [0xFF, 0xFF]) + b"abc"),
    "connector": note(4, notification(0x0481, [1, 0, 2])),
    "i2c_target": note(5, notification(0x0A81, [1, 0x50, 0x10, 0x00, 4, 0])),
    "spi_target": note(6, notification(0x0E81, [2, 0, 0x00, 0x01, 8, 0])),
    "i3c_target_write": note(7, notification(0x1A81, [0, 0x30, 4, 0, 20, 0, 1, 2, 3, 4], 0x55)),
    "i3c_target_ccc_with_address": note(7, notification(0x1A81, [2, 0x30, 0x34, 0x12, 2, 0, 9, 9])),
    "unknown_code": note(9, notification(0x1983, [1, 2, 3])),
    "too_short_for_a_code": note(9, b"\x00\x00\x81"),
}


def write(name, seeds):
    folder = HERE / "corpus" / name
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for seed, data in seeds.items():
        (folder / seed).write_bytes(data)


if __name__ == "__main__":
    write("fuzz_reassembly", REASSEMBLY)
    write("fuzz_notification", NOTIFICATION)
