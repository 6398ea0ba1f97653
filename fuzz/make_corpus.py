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


def i3c_record(static, dynamic, pid):
    """A target of the I3C bus-initialisation and ENTDAA lists (16 bytes)."""
    return bytes([static, dynamic]) + pid.to_bytes(6, "big") + bytes(8)


def i3c_transfer(address, control, length, data=b"", subaddress=b"", hdr_command=0):
    """A private transfer's parameters: control bit 0 reads, bits 2..1 the
    mode (0 SDR, 1 HDR-DDR, 2 legacy I2C)."""
    return (bytes([address, control, hdr_command, len(subaddress)]) + subaddress.ljust(4, b"\0")
            + struct.pack("<H", length) + data)


def i3c_ccc(address, control, length, code, defining=0, data=b""):
    """A common command: control bit 0 reads, bits 7..4 mark the defining byte."""
    return bytes([address, control, length, code, defining]) + data


I3C_BRING_UP = (message(request(1, 0x1901, bytes([1, 1, 1, 0])))
                + message(request(2, 0x1904, b"\x02" + i3c_record(0x50, 0x30, 0x0A0000000001)
                                  + i3c_record(0, 0x31, 0x0B0000000002))))

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
    "i3c_bring_up_write_read_getpid": b"\x00" + I3C_BRING_UP
    + message(request(3, 0x1908, i3c_transfer(0x30, 0, 4, b"abcd", b"\x10")))
    + message(request(4, 0x1908, i3c_transfer(0x30, 1, 4, subaddress=b"\x10")))
    + message(request(5, 0x1909, i3c_ccc(0x30, 1, 6, 0x8D))) + ask(0x1906),
    "i3c_past_mwl_and_mrl": b"\x01" + I3C_BRING_UP
    + message(request(3, 0x1908, i3c_transfer(0x31, 0, 17, bytes(17))))
    + message(request(4, 0x1908, i3c_transfer(0x31, 1, 40, subaddress=b"\x30"))),
    "i3c_hdr_ddr_and_legacy": b"\x00" + I3C_BRING_UP
    + message(request(3, 0x1908, i3c_transfer(0x30, 2, 2, b"\x11\x22", hdr_command=0x05)))
    + message(request(4, 0x1908, i3c_transfer(0x30, 3, 2, hdr_command=0x85)))
    + message(request(5, 0x1908, i3c_transfer(0x54, 4, 3, b"xyz", b"\x20")))
    + message(request(6, 0x190B, i3c_transfer(0x30, 0, 2))),
    "i3c_broadcasts_and_reset_pattern": b"\x00" + I3C_BRING_UP
    + message(request(3, 0x1909, i3c_ccc(0x7E, 0, 1, 0x00, data=b"\x01")))
    + message(request(4, 0x1909, i3c_ccc(0x7E, 0x10, 0, 0x2A, defining=2)))
    + message(request(5, 0x190A, b"\x00"))
    + message(request(6, 0x1909, i3c_ccc(0x7E, 0, 0, 0x06)))
    + message(request(7, 0x1909, i3c_ccc(0x7E, 0, 16, 0x07, data=i3c_record(0, 0x40, 0x0B0000000002)))),
    "i3c_direct_setters": b"\x00" + I3C_BRING_UP
    + message(request(3, 0x1909, i3c_ccc(0x30, 0, 2, 0x89, data=b"\x00\x40")))
    + message(request(4, 0x1909, i3c_ccc(0x30, 0, 1, 0x9B, data=b"\xc0")))
    + message(request(5, 0x1909, i3c_ccc(0x31, 0, 1, 0x88, data=b"\x84")))
    + message(request(6, 0x1909, i3c_ccc(0x30, 0x11, 2, 0x90, defining=0x91)))
    + message(request(7, 0x1909, i3c_ccc(0x30, 1, 3, 0x8C))),
    "i3c_target_role": b"\x00"
    + message(request(1, 0x1A01, bytes([0]) + struct.pack("<IBH", 1, 0, 0x235) + bytes([0x26, 0xC5, 0x30])
                      + struct.pack("<HH", 64, 64)))
    + message(request(2, 0x1A03, struct.pack("<HH", 0x3FE, 2) + b"ab"))
    + message(request(3, 0x1A04, struct.pack("<HH", 0x3FE, 4)))
    + message(request(4, 0x1901, bytes([1, 1, 1, 0]))),
    "i2c_and_spi_target_roles": b"\x01"
    + message(request(1, 0x0A01, bytes([0]) + struct.pack("<H", 0x50) + bytes([0, 0, 0, 1])))
    + message(request(2, 0x0A05, struct.pack("<HHIIBBHH", 256, 16, 2000, 4000, 0, 0xFF, 0xF0, 0x100)))
    + message(request(3, 0x0901, bytes([0, 0xA0, 0x86, 1, 0, 5])))
    + message(request(4, 0x0E01, bytes([0, 0, 0, 0, 1, 0]))),
}


# ------------------------------------------------ synchronous responses
def answer(command, flags, length, body):
    return bytes([command, flags]) + struct.pack("<H", length) + body


NO_ANSWER, KEEP_HEADER, TWICE = 1, 2, 4

# Byte 0 picks the command of the fuzzer's table: 0 getUsbString, 1
# getUsbConfig, 2 getDeviceInfo, 3 gpioDigitalRead, 4 i2cGetBusVoltage, 5
# i2cRead, 6 i2cScanBus, 7 spiTransfer, 8 i2cWrite, 9 uartSendMessage, 10
# setUsbConfig, 11 gpioConfigurePin, 12 spiControllerInit, 13 uartInit, 14
# i3cSdrRead, 15 i3cHdrDdrRead, 16 i3cLegacyI2cRead, 17 i3cGetDeviceTable, 18
# GETPID, 19 GETSTATUS, 20 GETBCR, 21 GETMRL, 22 RSTACT read, 23
# i3cGetBusVoltage, 24 i3cTargetReadMemory, 25 i2cTargetInit, 26
# spiTargetInit, 27 i3cInitBus.
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
    "i3c_sdr_read": answer(14, KEEP_HEADER, 4, b"\x00\x00\x30\x00\x04\x00abcd"),
    "i3c_sdr_read_incomplete": answer(14, KEEP_HEADER, 8, b"\x1a\x06\x30\x00\x02\x00ab"),
    "i3c_hdr_read_announces_more": answer(15, KEEP_HEADER, 2, b"\x00\x00\x30\x00\x09\x00abc"),
    "i3c_legacy_read_short": answer(16, KEEP_HEADER, 4, b"\x00\x00\x54\x00"),
    "i3c_device_table": answer(17, KEEP_HEADER, 0, b"\x00\x00\x02"
                               + i3c_record(0x50, 0x30, 0x0A0000000001)
                               + i3c_record(0, 0x31, 0x0B0000000002)),
    "i3c_device_table_one_short": answer(17, KEEP_HEADER, 0, b"\x00\x00\x02"
                                         + i3c_record(0x50, 0x30, 0x0A0000000001)),
    "i3c_getpid": answer(18, KEEP_HEADER, 0, b"\x00\x00\x30\x8d\x00\x06\x0a\x00\x00\x00\x00\x01"),
    "i3c_getstatus_defining_byte": answer(19, KEEP_HEADER, 0x9101, b"\x00\x00\x30\x90\x00\x02\x00\x01"),
    "i3c_getbcr": answer(20, KEEP_HEADER, 0, b"\x00\x00\x30\x8e\x00\x01\x07"),
    "i3c_getbcr_without_byte": answer(20, KEEP_HEADER, 0, b"\x00\x00\x30\x8e\x00\x01"),
    "i3c_getmrl_with_ibi_size": answer(21, KEEP_HEADER, 0, b"\x00\x00\x30\x8c\x00\x03\x00\x40\x04"),
    "i3c_getmrl_three_announced_two_sent": answer(21, KEEP_HEADER, 0,
                                                  b"\x00\x00\x30\x8c\x00\x03\x00\x40"),
    "i3c_rstact_read_back": answer(22, KEEP_HEADER, 0, b"\x00\x00\x30\x9a\x00\x01\x05"),
    "i3c_bus_voltage": answer(23, KEEP_HEADER, 0, b"\x00\x00" + struct.pack("<6H", 3300, 1800, 1200, 0, 0, 0)),
    "i3c_target_read_memory": answer(24, KEEP_HEADER, 8, b"\x00\x00\x08\x00abcdefgh"),
    "i3c_target_read_memory_too_long": answer(24, KEEP_HEADER, 1025, b"\x00\x00"),
    "i2c_target_init": answer(25, KEEP_HEADER, 0, b"\x00\x00\x00" + struct.pack("<I", 256)),
    "i2c_target_init_short": answer(25, KEEP_HEADER, 0, b"\x00\x00\x00\x00\x01"),
    "spi_target_init": answer(26, KEEP_HEADER, 0, b"\x00\x00" + struct.pack("<I", 65536)),
    "i3c_init_bus_two_targets_nack": answer(27, KEEP_HEADER, 2, b"\x0a\x06"),
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
