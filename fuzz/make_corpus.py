#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
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


# -------------------------------------------------- virtual adapter requests
def report(chunk):
    return bytes([0, len(chunk)]) + chunk


def message(body):
    return bytes([1]) + struct.pack("<H", len(body)) + body


def ask(code):
    return bytes([2]) + struct.pack("<H", code)


def request(tid, code, params=b""):
    return struct.pack("<HH", tid, code) + params


# Byte 0 picks the model (0: 64-byte reports, 1: 1024-byte reports).
SIM_REQUESTS = {
    "get_usb_config": b"\x00" + ask(0x040E),
    "every_system_query": b"\x00" + ask(0x0407) + ask(0x0409) + ask(0x040E) + ask(0x040F),
    "usb_string_index_99": b"\x00" + message(request(7, 0x0407, b"\x63")),
    "set_usb_config_short": b"\x00" + message(request(8, 0x040D, b"\x01")),
    "unknown_command": b"\x00" + ask(0x7777),
    "i2c_init_then_write": b"\x00" + message(request(1, 0x0901, bytes([0, 0xA0, 0x86, 1, 0, 5])))
    + message(request(2, 0x0904, bytes([0, 1, 0, 0x68, 1, 0x10, 0, 0, 0, 0, 0x5A]))),
    "spi_transfer_long": b"\x01" + message(request(3, 0x0D04, struct.pack("<HH", 300, 300) + bytes(300))),
    "uart_send": b"\x00" + message(request(4, 0x1005, struct.pack("<H", 5) + b"hello")),
    "gpio_configure_and_read": b"\x00" + message(request(5, 0x1401, b"\x05\x00"))
    + message(request(6, 0x1403, b"\x05")),
    "continuation_without_start": b"\x00" + report(struct.pack("<H", 2 | 4 << 2) + b"abcd"),
    "first_segment_only": b"\x00" + report(struct.pack("<H", 1 | 4 << 2) + b"\x01\x00\x0e\x04"),
    "reserved_header_bits": b"\x00" + report(struct.pack("<H", 0xF003 | 4 << 2) + b"\x01\x00\x0e\x04"),
    "empty_message": b"\x00" + message(b""),
    "enter_boot_mode_then_ask": b"\x00" + ask(0x0402) + ask(0x040E),
}


# ------------------------------------------------ synchronous responses
def answer(command, flags, length, body):
    return bytes([command, flags]) + struct.pack("<H", length) + body


NO_ANSWER, KEEP_HEADER, TWICE = 1, 2, 4

# Byte 0 picks the command of the fuzzer's table: 0 getUsbString, 1
# getUsbConfig, 2 getDeviceInfo, 3 gpioDigitalRead, 4 i2cGetBusVoltage, 5
# i2cRead, 6 i2cScanBus, 7 spiTransfer, 8 i2cWrite, 9 uartSendMessage, 10
# setUsbConfig, 11 gpioConfigurePin, 12 spiControllerInit, 13 uartInit.
SYNC_RESPONSES = {
    "usb_string": answer(0, KEEP_HEADER, 1, b"\x00\x00\x06Vantor"),
    "usb_string_one_byte_short": answer(0, KEEP_HEADER, 1, b"\x00\x00\x07Vantor"),
    "usb_config": answer(1, KEEP_HEADER, 0, b"\x00\x00\x01\x00\x02"),
    "usb_config_short": answer(1, KEEP_HEADER, 0, b"\x00\x00\x01"),
    "device_info": answer(2, KEEP_HEADER, 0, b"\x00\x00\x04SIM1"),
    "gpio_level": answer(3, KEEP_HEADER, 0, b"\x00\x00\x01"),
    "bus_voltage": answer(4, KEEP_HEADER, 0, b"\x00\x00\x08\x07"),
    "i2c_read_four": answer(5, KEEP_HEADER, 4, b"\x00\x00\x04\x00abcd"),
    "i2c_read_more_than_asked": answer(5, KEEP_HEADER, 2, b"\x00\x00\x08\x00abcdefgh"),
    "i2c_scan": answer(6, KEEP_HEADER, 1, b"\x00\x00\x02\x01\x50\x68\x34\x02"),
    "spi_transfer_300": answer(7, KEEP_HEADER, 300, b"\x00\x00" + struct.pack("<H", 300) + bytes(300)),
    "i2c_write_status": answer(8, KEEP_HEADER, 3, b"\x02\x00"),
    "uart_send_twice": answer(9, KEEP_HEADER | TWICE, 4, b"\x00\x00"),
    "set_usb_config": answer(10, KEEP_HEADER, 1, b"\x00\x00"),
    "gpio_configure": answer(11, KEEP_HEADER, 0, b"\x00\x00"),
    "spi_init_wrong_code": answer(12, 0, 0, b"\x01\x00\x99\x99\x00\x00"),
    "uart_init_no_answer": answer(13, NO_ANSWER, 0, b""),
    "one_byte_answer": answer(1, 0, 0, b"\x01"),
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
    write("fuzz_sim_requests", SIM_REQUESTS)
    write("fuzz_sync_responses", SYNC_RESPONSES)
