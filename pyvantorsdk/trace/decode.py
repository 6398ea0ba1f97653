# SPDX-License-Identifier: MIT
"""From usbmon events to records: per adapter and direction the HID reports
are reassembled into messages by the rules the SDK's own reader follows,
requests are paired with their responses by transaction id and command
code, bulk data phases are attributed to the bulk command in flight, and
the fields are decoded by the module's command tables."""

from __future__ import annotations

import os
import struct
from collections import OrderedDict
from dataclasses import dataclass, field
from typing import Any, BinaryIO, Callable, Dict, Iterator, List, Mapping, Optional, Tuple, Union

from pyvantorsdk.trace import usbmon
from pyvantorsdk.trace.pcapng import Damage, TraceError, read_packets
from pyvantorsdk.trace.records import Record, duration_text
from pyvantorsdk.trace.tables import Tables, decode_fields, family_of_code

# HID report sizes of the two adapter models, with and without the report
# id byte that output reports may carry first. An interrupt transfer of one
# of these sizes is what marks a device in a capture as an adapter; the
# traffic of other devices is skipped.
REPORT_SIZES = (64, 1024)
_ADAPTER_TRANSFER_SIZES = {64, 65, 1024, 1025}
# What is kept of devices not (yet) known as adapters.
_BACKLOG_DEVICES = 64
_BACKLOG_PACKETS = 16
RESPONSE_HEADER = 6
ETIMEDOUT = 110  # a bulk transfer's status when its time ran out
# Far above the largest message the SDK or the adapter makes (the big
# transfers go over bulk); a longer one is garbage, and keeping it would let
# a hostile capture grow the buffer without end.
MAX_MESSAGE = 1 << 16
# The synchronous facade's default response timeout: an answer later than
# this came after its caller had given up.
DEFAULT_LATE_AFTER = 2.0

Key = Tuple[int, int]  # (transaction id, command code)


@dataclass
class _Exchange:
    """A request on its way through the decoder: sent, then answered, then
    (for a bulk read) receiving its IN data phase."""

    time: float
    transaction_id: int
    code: int
    message: bytes
    problems: List[str] = field(default_factory=list)
    bulk_out: bytearray = field(default_factory=bytearray)
    bulk_out_expected: int = 0
    write_failed: bool = False
    emitted: bool = False  # its record is out
    response: Optional[bytes] = None
    answered: float = 0.0
    bulk_in: bytearray = field(default_factory=bytearray)
    bulk_in_expected: int = 0
    bulk_in_done: float = 0.0


@dataclass
class _Assembly:
    """The reassembly buffer of one direction of one adapter. As in the SDK,
    a complete message stays in the buffer until the next first segment."""

    buffer: bytearray = field(default_factory=bytearray)
    complete: bool = False
    started: bool = False  # the message began with a first segment
    appended: bool = False  # a continuation came after a complete message
    time: float = 0.0
    urbs: List[int] = field(default_factory=list)

    def clear(self) -> None:
        self.buffer.clear()
        self.complete = self.started = self.appended = False
        self.urbs = []


@dataclass
class _Adapter:
    key: str
    out: _Assembly = field(default_factory=_Assembly)
    into: _Assembly = field(default_factory=_Assembly)
    pending: "OrderedDict[Key, _Exchange]" = field(default_factory=OrderedDict)
    writing: Optional[_Exchange] = None  # a bulk write expecting OUT data
    reading: Optional[_Exchange] = None  # a bulk read receiving IN data
    # Output reports by URB id, to the request they carried (or None while
    # it is still being assembled), and bulk OUT transfers to their bulk
    # write: for a completion that reports a failure.
    urbs: Dict[int, Optional[_Exchange]] = field(default_factory=dict)
    bulk_urbs: Dict[int, Tuple[_Exchange, int, int]] = field(default_factory=dict)


class Decoder:
    """Turns usbmon events (:class:`UsbPacket` or any object with its
    attributes) into :class:`Record` objects, incrementally.

    ``feed_packet`` returns the records each event completes; ``finish``
    returns the rest (requests never answered, bulk reads whose data phase
    never ended). Records come in the order they complete. ``adapter``
    ("bus.device") keeps one adapter's traffic; ``late_after`` (seconds) is
    the response timeout of the program that made the capture: an answer
    later than that is paired but flagged, as its caller had given up."""

    def __init__(
        self,
        adapter: Optional[str] = None,
        *,
        late_after: float = DEFAULT_LATE_AFTER,
        tables: Optional[Tables] = None,
    ) -> None:
        self.tables = tables if tables is not None else Tables()
        self.only = adapter
        self.late_after = late_after
        self.adapters: Dict[str, _Adapter] = {}
        # Events of devices that are not adapters (or of transfer types the
        # adapter does not use), skipped.
        self.skipped = 0
        self._backlog: Dict[str, List[Any]] = {}
        self._out: List[Record] = []

    # ------------------------------------------------------------ input
    def feed_packet(self, packet: Any) -> List[Record]:
        bus, device = int(packet.bus), int(packet.device)
        key = f"{bus}.{device}"
        if self.only is not None and key != self.only:
            return []
        transfer = int(packet.transfer_type)
        data = bytes(packet.data)
        state = self.adapters.get(key)
        if state is None:
            if transfer != usbmon.INTERRUPT or len(data) not in _ADAPTER_TRANSFER_SIZES:
                self._hold_back(key, packet, transfer)
                return []
            state = self.adapters[key] = _Adapter(key)
            # The device's earlier interrupt transfers (a short report that
            # came before the first full one) are the adapter's too.
            for earlier in self._backlog.pop(key, []):
                self._feed(state, earlier)
        self._feed(state, packet)
        return self._take()

    def _hold_back(self, key: str, packet: Any, transfer: int) -> None:
        """Keeps a few interrupt transfers of a device not yet known as an
        adapter, in case it turns out to be one; skips everything else."""
        backlog = self._backlog.get(key)
        if backlog is None and len(self._backlog) < _BACKLOG_DEVICES:
            backlog = self._backlog[key] = []
        if transfer != usbmon.INTERRUPT or backlog is None or len(backlog) >= _BACKLOG_PACKETS:
            self.skipped += 1
            return
        backlog.append(packet)

    def _feed(self, state: _Adapter, packet: Any) -> None:
        transfer = int(packet.transfer_type)
        data = bytes(packet.data)
        inbound = bool(int(packet.endpoint) & usbmon.ENDPOINT_IN)
        kind, time, status = str(packet.type), float(packet.time), int(packet.status)
        if transfer == usbmon.INTERRUPT:
            if inbound and kind == "C" and data:
                self._report(state, state.into, data, time, packet.urb_id)
            elif not inbound and kind == "S" and data:
                if len(data) - 1 in REPORT_SIZES and data[0] == 0:
                    data = data[1:]  # the report id
                state.urbs[int(packet.urb_id)] = None
                self._report(state, state.out, data, time, packet.urb_id)
            elif not inbound and kind == "C":
                self._out_completed(state, int(packet.urb_id), status, time)
        elif transfer == usbmon.BULK:
            if inbound and kind == "C":
                self._bulk_in(state, data, time, status)
            elif not inbound and kind == "S":
                self._bulk_out(state, data, time, int(packet.urb_id))
            elif not inbound and kind == "C":
                # Without a byte count, the completion moved what was submitted.
                moved = int(getattr(packet, "length", -1))
                self._bulk_out_completed(state, int(packet.urb_id), status, moved, time)
        else:
            self.skipped += 1

    def finish(self) -> List[Record]:
        """The records of everything still open: requests never answered,
        data phases that never ended, messages cut off by the end."""
        self.skipped += sum(len(backlog) for backlog in self._backlog.values())
        self._backlog.clear()
        for state in self.adapters.values():
            if state.reading is not None:
                self._end_read(state, "the capture ends")
            for exchange in state.pending.values():
                self._emit_unanswered(state, exchange, "the capture ends before an answer")
            state.pending.clear()
            for assembly, what in ((state.out, "request"), (state.into, "answer")):
                if assembly.buffer and not assembly.complete:
                    self._malformed(state, assembly.time, bytes(assembly.buffer),
                                    f"the capture ends inside a {what} of "
                                    f"{len(assembly.buffer)} bytes")
                assembly.clear()
        return self._take()

    def damaged(self, time: float, problem: str) -> List[Record]:
        """A record for damage in the capture file itself."""
        self._out.append(Record(time=time, kind="malformed", adapter="", problem=problem))
        return self._take()

    def _take(self) -> List[Record]:
        out, self._out = self._out, []
        return out

    # ------------------------------------------------------- reassembly
    def _report(self, state: _Adapter, assembly: _Assembly, report: bytes, time: float,
                urb: int) -> None:
        """One HID report, by the SDK's reassembly rules."""
        if len(report) < 2:
            self._drop(state, assembly, time, f"a report of {len(report)} byte")
            return
        header = report[0] | report[1] << 8
        if header & 1:
            if assembly.buffer and not assembly.complete:
                self._drop(state, assembly, time, "a new message began")
            assembly.clear()
        length = (header >> 2) & 0x3FF
        if length > len(report) - 2:
            self._drop(state, assembly, time,
                       f"a segment announced {length} bytes in a report of {len(report)}")
            return
        if assembly.complete:
            # A continuation after a complete message: the SDK appends it to
            # the old message.
            assembly.complete = False
            assembly.appended = True
        elif not assembly.buffer and not assembly.urbs:
            assembly.time = time
            assembly.started = bool(header & 1)
        assembly.buffer += report[2 : 2 + length]
        assembly.urbs.append(int(urb))
        if len(assembly.buffer) > MAX_MESSAGE:
            self._malformed(state, assembly.time, b"", f"a message grew past {MAX_MESSAGE} "
                            "bytes without its last segment and was dropped")
            assembly.clear()
            return
        if header & 2:
            assembly.complete = True
            problems = []
            if assembly.appended:
                problems.append("a continuation segment was appended to a complete message")
            elif not assembly.started:
                problems.append("the message had no first segment")
            message = bytes(assembly.buffer)
            if assembly is state.out:
                self._request(state, message, assembly.time, problems, assembly.urbs)
            else:
                self._incoming(state, message, time, problems)
            assembly.urbs = []

    def _drop(self, state: _Adapter, assembly: _Assembly, time: float, why: str) -> None:
        """A report that makes the SDK drop the message being assembled."""
        lost = bytes(assembly.buffer) if not assembly.complete else b""
        problem = (f"{why}: the unfinished message of {len(lost)} bytes was dropped" if lost
                   else f"{why} was dropped")
        self._malformed(state, assembly.time if lost else time, lost, problem)
        assembly.clear()

    # ---------------------------------------------------------- messages
    def _request(self, state: _Adapter, message: bytes, time: float, problems: List[str],
                 urbs: List[int]) -> None:
        if len(message) < 4:
            self._malformed(state, time, message,
                            f"a request of {len(message)} bytes, shorter than its header")
            return
        transaction_id, code = struct.unpack_from("<HH", message)
        if state.reading is not None:
            self._end_read(state, "the next request was sent")
        exchange = _Exchange(time, transaction_id, code, message, problems)
        for urb in urbs:
            if urb in state.urbs:
                state.urbs[urb] = exchange
        earlier = state.pending.pop((transaction_id, code), None)
        if earlier is not None:
            if earlier.write_failed:
                exchange.problems.append("written again after a failed write")
            else:
                self._emit_unanswered(state, earlier,
                                      "the same transaction was sent again before an answer")
        state.pending[(transaction_id, code)] = exchange
        entry = self.tables.command(code)
        name = _data_phase(entry, "bulk_out", message, self.tables)
        if entry and name:
            _values, raw, _problems, _short = decode_fields(entry["request"], message, 4,
                                                            self.tables)
            exchange.bulk_out_expected = raw.get(name, 0)
            state.writing = exchange if exchange.bulk_out_expected > 0 else None

    def _incoming(self, state: _Adapter, message: bytes, time: float,
                  problems: List[str]) -> None:
        if len(message) < RESPONSE_HEADER:
            code = struct.unpack_from("<H", message, 2)[0] if len(message) >= 4 else -1
            self._malformed(state, time, message,
                            f"a message of {len(message)} bytes, shorter than the 6-byte header",
                            code=code)
            return
        transaction_id, code = struct.unpack_from("<HH", message)
        if transaction_id == 0:
            self._notification(state, message, time, problems)
            return
        exchange = state.pending.pop((transaction_id, code), None)
        if exchange is None:
            problems.append(self._why_unsolicited(state, transaction_id, code))
            self._response_record(state, "unsolicited", None, message, time, problems)
            return
        exchange.response = message
        exchange.answered = time
        exchange.problems += problems
        kind = "transaction"
        if state.writing is exchange:
            state.writing = None
            if len(exchange.bulk_out) < exchange.bulk_out_expected:
                kind = "malformed"
                exchange.problems.append(f"the bulk OUT data phase carried "
                                         f"{len(exchange.bulk_out)} of "
                                         f"{exchange.bulk_out_expected} bytes")
        if time - exchange.time > self.late_after:
            exchange.problems.append(
                f"late answer: {duration_text(time - exchange.time)} after the request, past "
                f"the {duration_text(self.late_after)} timeout")
        expected = self._bulk_in_expected(exchange, message)
        if expected > 0:
            exchange.bulk_in_expected = expected
            if state.reading is not None:
                self._end_read(state, "another bulk read was answered")
            state.reading = exchange
            return
        self._response_record(state, kind, exchange, message, time, [])

    @staticmethod
    def _why_unsolicited(state: _Adapter, transaction_id: int, code: int) -> str:
        for (tid, other), _exchange in state.pending.items():
            if tid == transaction_id:
                return (f"answers transaction {transaction_id} with command 0x{code:04X}, "
                        f"but that request was 0x{other:04X}")
        return f"no request of transaction {transaction_id} with command 0x{code:04X} is open"

    def _bulk_in_expected(self, exchange: _Exchange, response: bytes) -> int:
        entry = self.tables.command(exchange.code)
        name = _data_phase(entry, "bulk_in", exchange.message, self.tables)
        if not entry or not name or struct.unpack_from("<H", response, 4)[0] != 0:
            return 0
        if name.startswith("request."):
            _v, raw, _p, _s = decode_fields(entry["request"], exchange.message, 4, self.tables)
            return raw.get(name[len("request."):], 0)
        _v, raw, _p, _s = decode_fields(entry["response"], response, RESPONSE_HEADER, self.tables)
        return raw.get(name, 0)

    # ------------------------------------------------------- data phases
    def _bulk_out(self, state: _Adapter, data: bytes, time: float, urb: int) -> None:
        exchange = state.writing
        if exchange is None:
            self._malformed(state, time, b"",
                            f"{len(data)} bytes of bulk OUT data with no bulk write in flight",
                            bulk_out=data)
            return
        state.bulk_urbs[urb] = (exchange, len(exchange.bulk_out), len(data))
        exchange.bulk_out += data
        if _phase_ended(exchange, "OUT", exchange.bulk_out, exchange.bulk_out_expected):
            state.writing = None

    def _bulk_out_completed(self, state: _Adapter, urb: int, status: int, moved: int,
                            time: float) -> None:
        """The data went out when the transfer was submitted; its completion
        says how much of it did. A transfer that timed out part way is
        followed by one with the rest (the SDK's write loop), so the bytes
        that did not move are taken back."""
        exchange, start, submitted = state.bulk_urbs.pop(urb, (None, 0, 0))
        if exchange is None:
            return
        if 0 <= moved < submitted and not exchange.emitted and len(exchange.bulk_out) == start + submitted:
            del exchange.bulk_out[start + moved :]
            if exchange.response is None:
                state.writing = exchange
        if status in (0, -ETIMEDOUT):
            return
        problem = f"a bulk OUT transfer failed (status {status})"
        if not exchange.emitted:
            exchange.problems.append(problem)
            return
        # The answer came first (the completion is recorded after the
        # transfer returns): the failure gets a record of its own.
        self._malformed(state, time, b"", f"{problem}, after the answer to transaction "
                                          f"{exchange.transaction_id}", code=exchange.code)

    def _bulk_in(self, state: _Adapter, data: bytes, time: float, status: int) -> None:
        exchange = state.reading
        if exchange is None:
            if data:
                self._malformed(state, time, b"",
                                f"{len(data)} bytes of bulk IN data with no bulk read in flight",
                                bulk_in=data)
            return
        if status != 0:
            exchange.problems.append(f"a bulk IN transfer failed (status {status})")
        exchange.bulk_in += data
        exchange.bulk_in_done = time
        if _phase_ended(exchange, "IN", exchange.bulk_in, exchange.bulk_in_expected):
            state.reading = None
            assert exchange.response is not None
            self._response_record(state, "transaction", exchange, exchange.response, time, [])

    def _end_read(self, state: _Adapter, why: str) -> None:
        exchange = state.reading
        state.reading = None
        if exchange is None or exchange.response is None:
            return
        exchange.problems.append(f"the bulk IN data phase carried {len(exchange.bulk_in)} of "
                                 f"{exchange.bulk_in_expected} bytes when {why}")
        # The caller did not get its data: not a success, whatever the status.
        self._response_record(state, "malformed", exchange, exchange.response,
                              exchange.bulk_in_done or exchange.answered, [])

    def _out_completed(self, state: _Adapter, urb: int, status: int, time: float) -> None:
        if urb not in state.urbs:
            return
        exchange = state.urbs.pop(urb)
        if status == 0:
            return
        if exchange is None:
            if urb not in state.out.urbs:
                return  # its message was dropped already
            # The report belongs to the message being assembled: the device
            # never got it whole.
            self._drop(state, state.out, time, f"a report that failed to be written "
                                               f"(status {status})")
            return
        if not exchange.write_failed:
            exchange.write_failed = True
            exchange.problems.append(f"a report of the request failed to be written "
                                     f"(status {status})")

    # ----------------------------------------------------------- records
    def _response_record(self, state: _Adapter, kind: str, exchange: Optional[_Exchange],
                         response: bytes, time: float, problems: List[str]) -> None:
        transaction_id, code, status = struct.unpack_from("<HHH", response)
        if exchange is not None:
            exchange.emitted = True
        entry = self.tables.command(code)
        arguments: Dict[str, Any] = {}
        results: Dict[str, Any] = {}
        short = False
        if exchange is not None:
            problems = exchange.problems + problems
            arguments, short = self._decode(entry, "request", exchange.message, 4, problems)
        if entry is not None:
            # A failed command's response may end after its status.
            found: List[str] = []
            results, response_short = self._decode(entry, "response", response,
                                                   RESPONSE_HEADER, found)
            if status == 0 or not response_short:
                problems += found
                short = short or response_short
        else:
            problems.append(f"unknown command code 0x{code:04X}")
            if len(response) > RESPONSE_HEADER:
                results = {"parameters": response[RESPONSE_HEADER:]}
        self._out.append(Record(
            time=exchange.time if exchange is not None else time,
            kind="malformed" if short else kind,
            adapter=state.key,
            family=str(entry["family"]) if entry else family_of_code(code),
            command=str(entry["name"]) if entry else "",
            code=code,
            transaction_id=transaction_id,
            arguments=arguments,
            results=results,
            status=self.tables.status_name(status),
            status_code=status,
            latency=(max(time, exchange.answered) - exchange.time) if exchange else None,
            bulk_out=bytes(exchange.bulk_out) if exchange else b"",
            bulk_in=bytes(exchange.bulk_in) if exchange else b"",
            problem="; ".join(problems),
        ))

    def _decode(self, entry: Optional[Mapping[str, Any]], part: str, message: bytes, start: int,
                problems: List[str]) -> Tuple[Dict[str, Any], bool]:
        if entry is None:
            return ({"parameters": message[start:]} if len(message) > start else {}), False
        values, _raw, found, short = decode_fields(entry[part], message, start, self.tables)
        problems += [f"{part}: {p}" for p in found]
        return values, short

    def _emit_unanswered(self, state: _Adapter, exchange: _Exchange, why: str) -> None:
        exchange.emitted = True
        if state.writing is exchange:
            state.writing = None
        code = exchange.code
        entry = self.tables.command(code)
        problems = list(exchange.problems)
        arguments, short = self._decode(entry, "request", exchange.message, 4, problems)
        if entry is None:
            problems.append(f"unknown command code 0x{code:04X}")
        problems.insert(0, why)
        self._out.append(Record(
            time=exchange.time,
            kind="malformed" if short else "unanswered",
            adapter=state.key,
            family=str(entry["family"]) if entry else family_of_code(code),
            command=str(entry["name"]) if entry else "",
            code=code,
            transaction_id=exchange.transaction_id,
            arguments=arguments,
            bulk_out=bytes(exchange.bulk_out),
            problem="; ".join(problems),
        ))

    def _notification(self, state: _Adapter, message: bytes, time: float,
                      problems: List[str]) -> None:
        code = struct.unpack_from("<H", message, 2)[0]
        entry = self.tables.notification(code)
        arguments: Dict[str, Any] = {}
        short = False
        if entry is None:
            problems.append(f"unknown notification code 0x{code:04X}")
            if len(message) > RESPONSE_HEADER:
                arguments = {"parameters": message[RESPONSE_HEADER:]}
        else:
            arguments, _raw, found, short = decode_fields(entry["fields"], message,
                                                          RESPONSE_HEADER, self.tables)
            problems += found
        self._out.append(Record(
            time=time,
            kind="malformed" if short else "notification",
            adapter=state.key,
            family=str(entry["family"]) if entry else family_of_code(code),
            command=str(entry["name"]) if entry else "",
            code=code,
            arguments=arguments,
            problem="; ".join(problems),
        ))

    def _malformed(self, state: _Adapter, time: float, message: bytes, problem: str, *,
                   code: int = -1, bulk_out: bytes = b"", bulk_in: bytes = b"") -> None:
        arguments = {"message": message} if message else {}
        self._out.append(Record(
            time=time, kind="malformed", adapter=state.key, family=family_of_code(code),
            code=code, arguments=arguments, bulk_out=bulk_out, bulk_in=bulk_in, problem=problem,
        ))


def _phase_ended(exchange: _Exchange, what: str, moved: bytearray, announced: int) -> bool:
    """Whether a data phase has all its bytes; notes bytes beyond them."""
    if len(moved) > announced:
        exchange.problems.append(f"the bulk {what} data phase carried {len(moved)} bytes, "
                                 f"{announced} announced")
    return len(moved) >= announced


def _data_phase(entry: Optional[Mapping[str, Any]], which: str, request: bytes,
                tables: Tables) -> str:
    """The field counting the bytes of the command's ``which`` ("bulk_out"
    or "bulk_in") data phase, "" when this request has none. A command that
    moves data either way has a direction field, bit 0 set for a read: only
    its reads have an IN phase, only its writes an OUT phase."""
    name = str(entry.get(which, "") or "") if entry else ""
    direction = str(entry.get("direction_field", "") or "") if entry else ""
    if not name or not direction or entry is None:
        return name
    _values, raw, _problems, _short = decode_fields(entry["request"], request, 4, tables)
    if direction not in raw:
        return name
    reads = bool(raw[direction] & 1)
    return name if reads == (which == "bulk_in") else ""


# -------------------------------------------------------------- the file
PathLike = Union[str, "os.PathLike[str]"]


def packets(source: Union[PathLike, BinaryIO],
            on_damage: Optional[Callable[[Damage], None]] = None) -> Iterator[usbmon.UsbPacket]:
    """The usbmon events of a capture file; packets too short for the
    usbmon header, and the damage that ends a file, go to ``on_damage``."""
    if isinstance(source, (str, os.PathLike)):
        with open(source, "rb") as stream:
            yield from packets(stream, on_damage)
        return
    for item in read_packets(source):
        if isinstance(item, Damage):
            if on_damage is not None:
                on_damage(item)
            continue
        try:
            yield usbmon.parse(item.data, item.byte_order, item.time)
        except ValueError as e:
            if on_damage is not None:
                on_damage(Damage(item.offset, str(e)))


def read(source: Union[PathLike, BinaryIO], adapter: Optional[str] = None, *,
         late_after: float = DEFAULT_LATE_AFTER,
         tables: Optional[Tables] = None) -> Iterator[Record]:
    """The records of a capture that ``--trace`` or ``DeviceFacade.start_trace``
    wrote (a path or a binary file object), in the order they complete.

    Raises :class:`TraceError` for a file that is not a usable capture (not
    pcapng, or of another link type). Damage further in (a file cut in the
    middle of a packet, lengths that do not add up) ends the records with a
    "malformed" one that says where: the records before it are kept."""
    decoder = Decoder(adapter, late_after=late_after, tables=tables)
    last = 0.0
    damage: List[Damage] = []
    for packet in packets(source, damage.append):
        for item in damage:
            yield from decoder.damaged(last, f"at byte {item.offset}: {item.problem}")
        damage.clear()
        last = packet.time
        yield from decoder.feed_packet(packet)
    for item in damage:
        yield from decoder.damaged(last, f"at byte {item.offset}: {item.problem}")
    yield from decoder.finish()


__all__ = ["Decoder", "TraceError", "packets", "read"]
