// SPDX-License-Identifier: MIT
#pragma once
// Byte-level helpers of the adapter side: little-endian fields, the HID
// report segments the adapter sends, and the reassembly of the request
// messages it receives. This is the adapter's own code; it deliberately
// shares nothing with the host library's framing.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor::sim {

using Bytes = std::vector<uint8_t>;

// ------------------------------------------------------------ little-endian

inline void putU8(Bytes& out, uint8_t value) {
    out.push_back(value);
}
inline void putU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void putU32(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>((value >> shift) & 0xFF));
    }
}
inline uint16_t loadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (static_cast<unsigned>(p[1]) << 8));
}
inline uint32_t loadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// ----------------------------------------------------------------- segments

// Segment header: bit 0 first segment, bit 1 last segment, bits 2..11 the
// chunk length, bits 12..15 zero.
constexpr uint16_t kSegmentFirst = 0x0001;
constexpr uint16_t kSegmentLast = 0x0002;
constexpr size_t kSegmentHeaderSize = 2;
constexpr size_t kMaxChunk = 0x3FF;  // the 10-bit length field

// Chunk capacity of one report of `reportSize` bytes.
constexpr size_t chunkCapacity(size_t reportSize) {
    const size_t room = reportSize > kSegmentHeaderSize ? reportSize - kSegmentHeaderSize : 0;
    return room < kMaxChunk ? room : kMaxChunk;
}

// Cuts `size` message bytes into input reports of exactly `reportSize` bytes
// (zero-padded) and hands each to `emit(Bytes&&)`. An empty message gives no
// report.
template <class Emit>
void frameMessage(const uint8_t* message, size_t size, size_t reportSize, Emit&& emit) {
    const size_t capacity = chunkCapacity(reportSize);
    if (capacity == 0) return;
    for (size_t offset = 0; offset < size; offset += capacity) {
        const size_t chunk = size - offset < capacity ? size - offset : capacity;
        uint16_t header = static_cast<uint16_t>(chunk << 2);
        if (offset == 0) header |= kSegmentFirst;
        if (offset + chunk == size) header |= kSegmentLast;
        Bytes report(reportSize, 0);
        report[0] = static_cast<uint8_t>(header & 0xFF);
        report[1] = static_cast<uint8_t>(header >> 8);
        for (size_t i = 0; i < chunk; ++i) report[kSegmentHeaderSize + i] = message[offset + i];
        emit(std::move(report));
    }
}

// Reassembles messages from received segments. Anything malformed (a report
// too short for its header, a length beyond the report, reserved header bits
// set, a continuation without a first segment, an oversized message) drops the
// partial message and is counted; the next message must start with a first
// segment.
class SegmentAssembler {
  public:
    enum class Result { Partial, Complete, Dropped };

    // The default admits the largest request any command can form: a 16-bit
    // length field's worth of data behind the longest header.
    explicit SegmentAssembler(size_t maxMessage = 96 * 1024) : maxMessage_(maxMessage) {}

    Result feed(const uint8_t* segment, size_t size) {
        if (size < kSegmentHeaderSize) return drop();
        const uint16_t header = loadU16(segment);
        const size_t length = (header >> 2) & kMaxChunk;
        if ((header & 0xF000) != 0 || length > size - kSegmentHeaderSize) return drop();
        if (header & kSegmentFirst) {
            if (inMessage_) ++dropped_;  // the unfinished message is abandoned
            buffer_.clear();
            inMessage_ = true;
        } else if (!inMessage_) {
            ++dropped_;
            return Result::Dropped;
        }
        if (buffer_.size() + length > maxMessage_) return drop();
        buffer_.insert(buffer_.end(), segment + kSegmentHeaderSize,
                       segment + kSegmentHeaderSize + length);
        if (header & kSegmentLast) {
            inMessage_ = false;
            return Result::Complete;
        }
        return Result::Partial;
    }

    // The message completed by the last feed; leaves the assembler empty.
    Bytes takeMessage() {
        Bytes message;
        message.swap(buffer_);
        return message;
    }

    void reset() {
        buffer_.clear();
        inMessage_ = false;
    }

    // Malformed reports and abandoned partial messages seen so far.
    size_t dropped() const { return dropped_; }
    void clearDropped() { dropped_ = 0; }

  private:
    Result drop() {
        reset();
        ++dropped_;
        return Result::Dropped;
    }

    Bytes buffer_;
    bool inMessage_ = false;
    size_t maxMessage_;
    size_t dropped_ = 0;
};

// A byte FIFO with amortised constant-time removal from the front, for the
// bulk endpoints' data.
class ByteQueue {
  public:
    size_t size() const { return data_.size() - head_; }
    bool empty() const { return size() == 0; }

    void append(const uint8_t* bytes, size_t count) {
        if (count == 0) return;
        compact();
        data_.insert(data_.end(), bytes, bytes + count);
    }

    // Moves up to `count` bytes to `out`; returns how many were moved.
    size_t pop(uint8_t* out, size_t count) {
        const size_t n = count < size() ? count : size();
        for (size_t i = 0; i < n; ++i) out[i] = data_[head_ + i];
        head_ += n;
        if (head_ == data_.size()) clear();
        return n;
    }

    Bytes pop(size_t count) {
        Bytes out(count < size() ? count : size());
        pop(out.data(), out.size());
        return out;
    }

    void clear() {
        data_.clear();
        head_ = 0;
    }

  private:
    void compact() {
        if (head_ > 0 && head_ >= data_.size() / 2) {
            data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }

    Bytes data_;
    size_t head_ = 0;
};

}  // namespace vantor::sim
