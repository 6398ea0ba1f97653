// SPDX-License-Identifier: MIT
#pragma once
// The byte layout of every message the SDK sends or decodes, as data: each
// family lists its commands once, beside its CommandInfo entries, as
// `CommandDescription` rows (request fields from offset 4, response fields
// from offset 6, and the fields that size a bulk data phase). Tools that
// read captured traffic take their layouts from here; the encoders do not.
//
// Everything is constexpr and points at static arrays: nothing allocates.

#include <array>
#include <cstddef>
#include <cstdint>

#include "sdk/core/CommandInfo.h"

namespace vantor {

enum class FieldType : uint8_t {
    U8,
    U16,    // little-endian
    U32,    // little-endian
    U16Be,  // most significant byte first
    Bytes,  // sized by `count`
};

// Wire width of a scalar field; 0 for Bytes, whose size depends on `count`.
constexpr size_t fieldWidth(FieldType type) {
    switch (type) {
        case FieldType::U8:
            return 1;
        case FieldType::U16:
        case FieldType::U16Be:
            return 2;
        case FieldType::U32:
            return 4;
        case FieldType::Bytes:
            break;
    }
    return 0;
}

struct FieldLayout {
    const char* name = "";  // snake_case
    FieldType type = FieldType::U8;
    // "" or the name of an enumeration the Python module exports; "ccc"
    // means the common command codes, "StatusCode" the status codes.
    const char* enumName = "";
    // Bytes fields only: "<digits>" a fixed size, "<field>" an earlier field
    // of the same message holding the byte count, "*" the rest of the
    // message. "" for scalars.
    const char* count = "";
    // The message may end before this field.
    bool optional = false;
};

// A view of a static array of fields.
class FieldList {
  public:
    constexpr FieldList() = default;
    template <size_t N>
    constexpr FieldList(const FieldLayout (&fields)[N]) : data_(fields), size_(N) {}
    template <size_t N>
    constexpr FieldList(const std::array<FieldLayout, N>& fields)
        : data_(fields.data()), size_(N) {}

    constexpr const FieldLayout* begin() const { return data_; }
    constexpr const FieldLayout* end() const { return data_ + size_; }
    constexpr size_t size() const { return size_; }
    constexpr const FieldLayout& operator[](size_t i) const { return data_[i]; }

  private:
    const FieldLayout* data_ = nullptr;
    size_t size_ = 0;
};

struct CommandDescription {
    const char* name = "";       // CMD_<FAMILY>_<ROLE?>_<OPERATION>
    const char* operation = "";  // the SDK method that sends it
    // Every SDK method that sends it, space separated, `operation` first
    // (one command may serve several methods, as the rail voltage does).
    const char* operations = "";
    CommandInfo info{};
    const char* family = "";  // system, i2c, spi, uart, gpio, i3c
    const char* role = "";    // controller, target, or "" when not tied to one
    FieldList request{};      // from offset 4
    FieldList response{};     // from offset 6
    // The request field giving the bytes sent on bulk OUT after the request,
    // and the response field giving the bytes received on bulk IN after the
    // response ("request." names a request field); "" for none.
    const char* bulkOut = "";
    const char* bulkIn = "";
    // Commands that move data either way: the request field whose bit 0 says
    // which (0 = write, `bulkOut` applies; 1 = read, `bulkIn` applies).
    const char* directionField = "";
};

struct NotificationDescription {
    const char* name = "";  // NOTIF_<...>, as NotificationKind
    uint16_t code = 0;
    int32_t kind = 0;  // NotificationKind
    const char* family = "";
    FieldList fields{};  // from offset 6
};

namespace layout {

constexpr FieldLayout u8(const char* name, const char* enumName = "") {
    return {name, FieldType::U8, enumName, "", false};
}
constexpr FieldLayout u16(const char* name, const char* enumName = "") {
    return {name, FieldType::U16, enumName, "", false};
}
constexpr FieldLayout u32(const char* name) {
    return {name, FieldType::U32, "", "", false};
}
constexpr FieldLayout bytes(const char* name, const char* count) {
    return {name, FieldType::Bytes, "", count, false};
}
constexpr FieldLayout optional(FieldLayout field) {
    field.optional = true;
    return field;
}

// The arrays `parts` one after the other (for layouts that share a header).
template <typename T, size_t... N>
constexpr std::array<T, (N + ...)> join(const T (&... parts)[N]) {
    std::array<T, (N + ...)> out{};
    size_t next = 0;
    auto append = [&](const auto& part) {
        for (const T& item : part) out[next++] = item;
    };
    (append(parts), ...);
    return out;
}

}  // namespace layout

}  // namespace vantor
