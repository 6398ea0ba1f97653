// SPDX-License-Identifier: MIT
#pragma once
// Every command the SDK can send and every notification it decodes, with
// their message layouts (CommandLayout.h), in code order.
// Internal to the SDK and its bindings.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sdk/core/CommandLayout.h"

namespace vantor {

// A static array and its length.
template <typename T>
struct CatalogView {
    const T* data;
    size_t size;

    const T* begin() const { return data; }
    const T* end() const { return data + size; }
};

CatalogView<CommandDescription> commandCatalog();
CatalogView<NotificationDescription> notificationCatalog();
// The command with this code, or nullptr.
const CommandDescription* findCommand(uint16_t code);

// What walking a message with a field list found.
struct LayoutWalk {
    enum class Outcome {
        Complete,   // every byte belongs to a field
        Truncated,  // the message ends inside a field that is not optional
        Trailing,   // bytes are left after the last field
        BadCount,   // a count names no earlier scalar field
    };
    Outcome outcome = Outcome::Complete;
    size_t consumed = 0;  // bytes of the message the fields covered
    // One entry per field present, in field order.
    struct Field {
        size_t offset;   // within the walked bytes
        size_t size;     // bytes
        uint64_t value;  // a scalar's value; a bytes field's size
    };
    std::vector<Field> fields;
};

// Walks `length` bytes of parameters with `fields`; never reads past them.
LayoutWalk walkLayout(FieldList fields, const uint8_t* parameters, size_t length);

}  // namespace vantor
