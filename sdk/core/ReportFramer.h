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

    // Feeds one received report (without report id) into `assembly`.
    // Returns true when `assembly` now holds one complete message. The buffer
    // is not cleared after a complete message: the next first segment or a
    // malformed report clears it.
    static bool feed(const uint8_t* report, size_t length, std::vector<uint8_t>& assembly);

  private:
    size_t reportSize_;
    size_t capacity_;
};

}  // namespace vantor
