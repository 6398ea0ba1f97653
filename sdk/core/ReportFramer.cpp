// SPDX-License-Identifier: MIT
#include "sdk/core/ReportFramer.h"

#include <algorithm>
#include <cstring>

namespace vantor {

ReportFramer::ReportFramer(size_t reportSize)
    : reportSize_(reportSize),
      // A chunk can never exceed what the 10-bit length field expresses, even
      // for a report size larger than any supported model.
      capacity_(std::min(reportSize > kHeaderSize ? reportSize - kHeaderSize : 0, kMaxChunk)) {}

void ReportFramer::segment(const uint8_t* message, size_t length,
                           std::vector<std::vector<uint8_t>>& segments) const {
    if (length == 0 || capacity_ == 0) {
        segments.clear();
        return;
    }
    const size_t count = (length + capacity_ - 1) / capacity_;
    segments.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t begin = i * capacity_;
        const size_t chunk = std::min(length - begin, capacity_);
        uint16_t header = static_cast<uint16_t>((chunk & kMaxChunk) << 2);
        if (i == 0) header |= kFirst;
        if (i + 1 == count) header |= kLast;
        auto& seg = segments[i];
        seg.resize(kHeaderSize + chunk);
        seg[0] = static_cast<uint8_t>(header & 0xFF);
        seg[1] = static_cast<uint8_t>(header >> 8);
        std::memcpy(seg.data() + kHeaderSize, message + begin, chunk);
    }
}

bool ReportAssembler::feed(const uint8_t* report, size_t length) {
    using F = ReportFramer;
    if (length < F::kHeaderSize) return drop();
    const uint16_t header = static_cast<uint16_t>(report[0] | (report[1] << 8));
    const size_t chunk = (header >> 2) & F::kMaxChunk;
    if (chunk > length - F::kHeaderSize) return drop();
    if (header & F::kFirst) {
        buffer_.clear();
        assembling_ = true;
    } else if (!assembling_) {
        // Nothing to continue: keep the complete message or the remains of a
        // dropped one out of the next delivery.
        buffer_.clear();
        ++dropped_;
        return false;
    }
    if (chunk > kMaxMessage - buffer_.size()) return drop();
    buffer_.insert(buffer_.end(), report + F::kHeaderSize, report + F::kHeaderSize + chunk);
    if (!(header & F::kLast)) return false;
    assembling_ = false;
    return true;
}

void ReportAssembler::reset() {
    std::vector<uint8_t>().swap(buffer_);
    assembling_ = false;
}

bool ReportAssembler::drop() {
    buffer_.clear();
    assembling_ = false;
    ++dropped_;
    return false;
}

}  // namespace vantor
