// SPDX-License-Identifier: MIT
#pragma once
// The named common command code operations, described for tools: the Python
// module exports them so that its command line lists every operation the
// SDK encodes without a table of its own. Internal: not installed.

#include <cstdint>
#include <vector>

namespace vantor {

struct NamedCcc {
    const char* name;       // lower case, one name for both forms ("setmwl")
    uint8_t code;           // the command code on the bus
    bool broadcast;         // to 0x7E; otherwise to one target's address
    const char* direction;  // "write", "read", or "caller" (the caller chooses)
    const char* payload;    // how the arguments become the payload (see I3cCcc.cpp)
    const char* value;      // what a one-byte value means: "byte", "events", "reset_action"
    uint8_t readLength;     // bytes a read asks for; 0 for writes
    const char* reply;      // how the blocking form decodes the reply
};

// Every named operation, in the order of the SDK's rows.
const std::vector<NamedCcc>& namedCccOperations();

}  // namespace vantor
