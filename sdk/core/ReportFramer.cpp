#include "sdk/core/ReportFramer.h"

#include <algorithm>

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
        std::copy(message + begin, message + begin + chunk, seg.begin() + kHeaderSize);
    }
}

bool ReportFramer::feed(const uint8_t* report, size_t length, std::vector<uint8_t>& assembly) {
    if (length < kHeaderSize) {
        assembly.clear();
        return false;
    }
    const uint16_t header = static_cast<uint16_t>(report[0] | (report[1] << 8));
    if (header & kFirst) assembly.clear();
    const size_t chunk = (header >> 2) & kMaxChunk;
    if (chunk > length - kHeaderSize) {
        assembly.clear();
        return false;
    }
    assembly.insert(assembly.end(), report + kHeaderSize, report + kHeaderSize + chunk);
    return (header & kLast) != 0;
}

}  // namespace vantor
