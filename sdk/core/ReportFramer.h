// SPDX-License-Identifier: MIT
#pragma once
// Cuts messages into HID-report segments and reassembles received segments.
//
// A segment is a 2-byte little-endian header followed by a chunk of at most
// reportSize - 2 message bytes. Header bits: 0 first segment, 1 last segment,
// 2..11 chunk length.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor {

class ReportFramer {
  public:
    static constexpr uint16_t kFirst = 0x0001;
    static constexpr uint16_t kLast = 0x0002;
    static constexpr size_t kHeaderSize = 2;
    static constexpr size_t kMaxChunk = 0x3FF;  // what 10 length bits can express

    explicit ReportFramer(size_t reportSize);

    size_t reportSize() const { return reportSize_; }
    // Message bytes one segment carries.
    size_t chunkCapacity() const { return capacity_; }

    // Replaces `segments` with the segments of `message`; each segment is
    // header + chunk, without padding. An empty message yields no segment.
    // The inner vectors are reused so that repeated sends do not reallocate.
    void segment(const uint8_t* message, size_t length,
                 std::vector<std::vector<uint8_t>>& segments) const;

  private:
    size_t reportSize_;
    size_t capacity_;
};

// Reassembles messages from received reports, one connection's worth: a
// message starts with a segment that has the first flag and ends with the
// one that has the last flag. Used by one thread at a time.
//
// A report is dropped, and counted, when it is shorter than the segment
// header, announces a chunk longer than it carries, continues a message that
// was never started (a continuation after a complete message included), or
// would grow the message past kMaxMessage. A dropped report abandons the
// message being assembled, so the next message must start with a first
// segment. A first segment abandons an unfinished message without counting.
class ReportAssembler {
  public:
    // The frame has neither a message length nor a segment counter, so the
    // bound comes from the messages themselves: every variable part of a
    // message is announced by a u16 length field and follows at most 14 fixed
    // bytes (the I3C private transfer request, whose data starts at offset
    // 14). No well-formed message is longer than 14 + 65535 bytes.
    static constexpr size_t kMaxMessage = 14 + 0xFFFF;

    // Feeds one received report (without report id). Returns true when it
    // completed a message, which message() then holds until the next feed or
    // reset.
    bool feed(const uint8_t* report, size_t length);

    // The message completed by the last feed; empty or partial otherwise.
    const std::vector<uint8_t>& message() const { return buffer_; }

    // Forgets any partial message and releases the buffer's memory.
    void reset();

    // Reports dropped since construction.
    uint64_t droppedReports() const { return dropped_; }

  private:
    bool drop();

    std::vector<uint8_t> buffer_;
    bool assembling_ = false;  // buffer_ holds the start of an unfinished message
    uint64_t dropped_ = 0;
};

}  // namespace vantor
