// SPDX-License-Identifier: MIT
// The command and notification catalogs as tuples of plain dicts (see
// sdk/core/CommandCatalog.h for the meaning of each key).

#include "bindings/CommandTable.h"

#include <string_view>

#include "sdk/core/CommandCatalog.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

using vantor::FieldLayout;
using vantor::FieldList;
using vantor::FieldType;

const char* typeName(FieldType type) {
    switch (type) {
        case FieldType::U8:
            return "u8";
        case FieldType::U16:
            return "u16";
        case FieldType::U32:
            return "u32";
        case FieldType::U16Be:
            return "u16be";
        case FieldType::Bytes:
            break;
    }
    return "bytes";
}

nb::tuple fieldTuple(FieldList fields) {
    nb::list out;
    for (const FieldLayout& field : fields) {
        nb::dict row;
        row["name"] = field.name;
        row["type"] = typeName(field.type);
        row["enum"] = field.enumName;
        row["count"] = field.count;
        row["optional"] = field.optional;
        out.append(row);
    }
    return nb::tuple(out);
}

// "a b c" as ("a", "b", "c").
nb::tuple words(std::string_view text) {
    nb::list out;
    while (!text.empty()) {
        const size_t end = text.find(' ');
        const std::string_view word = text.substr(0, end);
        if (!word.empty()) out.append(nb::str(word.data(), word.size()));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return nb::tuple(out);
}

}  // namespace

void registerCommandTable(nb::module_& m) {
    m.def(
        "command_table",
        [] {
            nb::list rows;
            for (const vantor::CommandDescription& command : vantor::commandCatalog()) {
                nb::dict row;
                row["name"] = command.name;
                row["operation"] = command.operation;
                row["operations"] = words(command.operations);
                row["code"] = command.info.code;
                row["family"] = command.family;
                row["role"] = command.role;
                row["request"] = fieldTuple(command.request);
                row["response"] = fieldTuple(command.response);
                row["bulk_out"] = command.bulkOut;
                row["bulk_in"] = command.bulkIn;
                row["direction_field"] = command.directionField;
                row["min_response_parameters"] = command.info.minResponseParameters;
                rows.append(row);
            }
            return nb::tuple(rows);
        },
        nb::sig("def command_table() -> tuple[dict[str, str | int | tuple[str, ...] | "
                "tuple[dict[str, str | bool], ...]], ...]"),
        "Every command the SDK sends, in code order: name, operation (the "
        "SDK method that sends it), operations (every such method), code, family, role, request "
        "(fields from offset 4) and response (fields from offset 6) as tuples of field dicts "
        "(name, type, enum, count, optional), bulk_out (the request field counting the bytes "
        "sent on bulk OUT, or ''), bulk_in (the response field counting the bytes received on "
        "bulk IN, or ''), direction_field (for commands moving data either way, the request "
        "field whose bit 0 is 1 for a read) and min_response_parameters.");
    m.def(
        "notification_table",
        [] {
            nb::list rows;
            for (const vantor::NotificationDescription& n : vantor::notificationCatalog()) {
                nb::dict row;
                row["name"] = n.name;
                row["code"] = n.code;
                row["kind"] = n.kind;
                row["family"] = n.family;
                row["fields"] = fieldTuple(n.fields);
                rows.append(row);
            }
            return nb::tuple(rows);
        },
        nb::sig("def notification_table() -> tuple[dict[str, str | int | "
                "tuple[dict[str, str | bool], ...]], ...]"),
        "Every notification code the SDK decodes: name, code, kind, family and fields (from "
        "offset 6, field dicts as in command_table()).");
}

}  // namespace pyvantorsdk
