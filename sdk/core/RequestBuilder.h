// SPDX-License-Identifier: MIT
#pragma once
// Builds one request message byte by byte: transaction id and command code
// (both u16 little-endian), then the command's parameters in call order.
//
//     send(RequestBuilder(id, device::kGetUsbString, 1).u8(index).message());
//
// The buffer is reserved once for the header plus `parameterBytes`, so a
// builder given the right size allocates exactly once.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "sdk/core/CommandInfo.h"
#include "sdk/core/Protocol.h"

namespace vantor {

class RequestBuilder {
  public:
    RequestBuilder(uint16_t transactionId, const CommandInfo& command, size_t parameterBytes = 0) {
        bytes_.reserve(kRequestHeaderSize + parameterBytes);
        // Written in place rather than appended: after the reserve there is
        // nothing to reallocate.
        bytes_.resize(kRequestHeaderSize);
        put16(kTransactionIdOffset, transactionId);
        put16(kCommandCodeOffset, command.code);
    }

    RequestBuilder& u8(uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    RequestBuilder& u16(uint16_t value) {
        bytes_.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
        return *this;
    }
    RequestBuilder& u32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<uint8_t>((value >> shift) & 0xFF));
        }
        return *this;
    }
    // Most significant byte first, for the few fields the protocol defines so.
    RequestBuilder& u16be(uint16_t value) {
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
        bytes_.push_back(static_cast<uint8_t>(value & 0xFF));
        return *this;
    }
    RequestBuilder& bytes(const uint8_t* data, size_t length) {
        if (length != 0) bytes_.insert(bytes_.end(), data, data + length);
        return *this;
    }
    RequestBuilder& bytes(const std::vector<uint8_t>& data) {
        return bytes(data.data(), data.size());
    }
    // `count` copies of `value` (reserved or padding fields).
    RequestBuilder& fill(size_t count, uint8_t value = 0) {
        bytes_.insert(bytes_.end(), count, value);
        return *this;
    }

    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& message() const { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }

  private:
    void put16(size_t offset, uint16_t value) {
        bytes_[offset] = static_cast<uint8_t>(value & 0xFF);
        bytes_[offset + 1] = static_cast<uint8_t>(value >> 8);
    }

    std::vector<uint8_t> bytes_;
};

}  // namespace vantor
