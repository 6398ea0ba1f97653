// SPDX-License-Identifier: MIT
// Arbitrary report sequences through the report assembler, on both report
// sizes, against a reference reading of the segment rules.
//
// Input, read front to back: byte 0 picks the report size (bit 0: 64 or
// 1024 bytes); then each step takes one selector byte (low two bits) and what
// that step reads after it:
//   0: a raw report of any length and content;
//   1: a segment with chosen flags and a true chunk length, zero-padded;
//   2: a burst of up to 256 full segments, flags only at its ends (on the
//      1024-byte size one burst passes the cap);
//   3: a whole message cut by the framer and fed segment by segment.
//
// Checked after every report: the assembler never holds more than the cap;
// a message is delivered exactly when the reports since the latest first
// segment form one unbroken, well-formed run that ends with a last segment
// and fits the cap; the message is those chunks in order.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sdk/core/ReportFramer.h"

namespace {

using vantor::ReportAssembler;
using vantor::ReportFramer;
using Bytes = std::vector<uint8_t>;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// The reference reading: a report is well formed when it carries its header
// and the chunk it announces. A last segment completes a message when the
// reports back to the nearest first segment are all well formed, none of
// them but itself is a last segment, and their chunks fit the cap; the
// message is those chunks in order. Only the reports since the latest first
// segment matter, and their chunks only while they fit the cap, so that is
// all it keeps.
class Reference {
  public:
    // Returns true, with the message, when the report completes one.
    bool feed(const uint8_t* report, size_t length, Bytes& message) {
        Record r;
        size_t chunk = 0;
        r.wellFormed = length >= 2;
        if (r.wellFormed) {
            const uint16_t header = static_cast<uint16_t>(report[0] | (report[1] << 8));
            r.first = header & ReportFramer::kFirst;
            r.last = header & ReportFramer::kLast;
            chunk = (header >> 2) & ReportFramer::kMaxChunk;
            r.wellFormed = chunk <= length - 2;
            if (!r.wellFormed) chunk = 0;
        }
        if (r.wellFormed && r.first) {
            records_.clear();
            bytes_.clear();
            sinceFirst_ = true;
            tooLong_ = false;
        }
        if (!sinceFirst_) return false;  // no first segment yet: nothing to complete
        if (!tooLong_ && bytes_.size() + chunk <= ReportAssembler::kMaxMessage) {
            if (chunk > 0) bytes_.insert(bytes_.end(), report + 2, report + 2 + chunk);
        } else {
            tooLong_ = true;
            bytes_.clear();
        }
        records_.push_back(r);
        if (!r.wellFormed || !r.last || tooLong_) return false;
        for (size_t i = records_.size() - 1; i-- > 0;) {
            if (!records_[i].wellFormed || records_[i].last) return false;
        }
        message = bytes_;
        return true;
    }

  private:
    struct Record {
        bool wellFormed = false;
        bool first = false;
        bool last = false;
    };
    std::vector<Record> records_;  // since the latest first segment
    Bytes bytes_;                  // their chunks, while within the cap
    bool sinceFirst_ = false;
    bool tooLong_ = false;
};

struct Harness {
    explicit Harness(size_t reportSize) : framer(reportSize) {}

    void feed(const uint8_t* report, size_t length) {
        ++reports;
        const bool complete = assembler.feed(report, length);
        check(assembler.message().size() <= ReportAssembler::kMaxMessage, "message within cap");
        const bool expected = reference.feed(report, length, expectedMessage);
        check(complete == expected, "delivered exactly when a run completes");
        if (complete) check(assembler.message() == expectedMessage, "message is its run's chunks");
    }

    void feedSegment(uint16_t flags, const uint8_t* chunk, size_t length) {
        Bytes& report = scratch;
        report.assign(framer.reportSize(), 0);
        const auto header = static_cast<uint16_t>(flags | (length << 2));
        report[0] = static_cast<uint8_t>(header & 0xFF);
        report[1] = static_cast<uint8_t>(header >> 8);
        std::copy(chunk, chunk + length, report.begin() + 2);
        feed(report.data(), report.size());
    }

    ReportFramer framer;
    ReportAssembler assembler;
    Reference reference;
    Bytes expectedMessage;
    size_t reports = 0;
    Bytes scratch;  // the report being built, reused
};

// Reports one input may feed: enough to pass the cap on the 64-byte size
// (1058 segments), few enough to keep an input in the milliseconds.
constexpr size_t kReportBudget = 2048;

// Reads the input front to back; past its end every read yields zeros or
// fewer bytes, so any input is a valid script.
class Script {
  public:
    Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() {
        const uint8_t low = u8();
        return static_cast<uint16_t>(low | (u8() << 8));
    }
    Bytes bytes(size_t n) {
        const size_t take = std::min(n, size_ - std::min(pos_, size_));
        Bytes out(data_ + pos_, data_ + pos_ + take);
        pos_ += take;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Script in(data, size);
    const size_t reportSize = (in.u8() & 1) ? 1024 : 64;
    Harness h(reportSize);
    const size_t capacity = h.framer.chunkCapacity();

    while (!in.done() && h.reports < kReportBudget) {
        switch (in.u8() & 3) {
            case 0: {  // raw report: u16 length, bytes
                const Bytes report = in.bytes(in.u16() % (reportSize + 3));
                h.feed(report.data(), report.size());
                break;
            }
            case 1: {  // segment: u8 flags, u16 chunk length, bytes
                const auto flags = static_cast<uint16_t>(in.u8() & 3);
                const Bytes chunk = in.bytes(in.u16() % (capacity + 1));
                h.feedSegment(flags, chunk.data(), chunk.size());
                break;
            }
            case 2: {  // burst: u8 count - 1, u8 flags of its ends, u8 fill
                const size_t count = in.u8() + 1u;
                const auto flags = static_cast<uint16_t>(in.u8() & 3);
                const Bytes fill(capacity, in.u8());
                for (size_t i = 0; i < count; ++i) {
                    uint16_t f = 0;
                    if (i == 0) f |= flags & ReportFramer::kFirst;
                    if (i + 1 == count) f |= flags & ReportFramer::kLast;
                    h.feedSegment(f, fill.data(), fill.size());
                }
                break;
            }
            default: {  // framed message: u16 length - 1, bytes
                const size_t length = in.u16() % (4 * capacity) + 1;
                const Bytes message = in.bytes(length);
                if (message.empty()) break;
                std::vector<Bytes> segments;
                h.framer.segment(message.data(), message.size(), segments);
                check(segments.size() == (message.size() + capacity - 1) / capacity,
                      "a message has as many segments as its chunks");
                for (const Bytes& s : segments) {
                    check(s.size() <= reportSize, "a segment fits its report");
                    Bytes report(reportSize, 0);
                    std::copy(s.begin(), s.end(), report.begin());
                    h.feed(report.data(), report.size());
                }
                check(h.assembler.message() == message, "a framed message comes back whole");
                break;
            }
        }
    }
    return 0;
}
