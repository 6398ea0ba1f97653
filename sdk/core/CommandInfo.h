// SPDX-License-Identifier: MIT
#pragma once
// What the SDK knows about one command: its code, how short its response may
// be, and whether it moves data over the bulk interface. Each family states
// its commands once, as `inline constexpr CommandInfo` entries in its type
// header; the request builder takes the code from there and the synchronous
// decode takes the length rule and the bulk gate's mask bit.

#include <cstdint>

namespace vantor {

// What a response too short for its parameter block yields.
enum class ShortResponse : uint8_t {
    WrongResponse,  // always SDK_ERROR_WRONG_RESPONSE
    Status,         // the response's own non-zero status, else SDK_ERROR_WRONG_RESPONSE
};

struct CommandInfo {
    uint16_t code;  // group << 10 | role << 8 | index
    // Parameter bytes after the 6-byte response header that the decoder
    // needs; a shorter response is answered by `onShortResponse`.
    uint8_t minResponseParameters = 0;
    ShortResponse onShortResponse = ShortResponse::WrongResponse;
    // Bit of the command in its group's bulk capability mask; 0 for commands
    // that do not use the bulk interface.
    uint32_t bulkMaskBit = 0;

    constexpr unsigned group() const { return code >> 10; }
    constexpr bool usesBulk() const { return bulkMaskBit != 0; }
};

// The adapter numbers bulk commands by the low five bits of their code: the
// mask bit every bulk entry must carry.
constexpr uint32_t bulkMaskBitFor(uint16_t code) {
    return uint32_t{1} << (code & 31);
}

// A command whose response carries nothing but the status.
constexpr CommandInfo statusOnlyCommand(uint16_t code) {
    return CommandInfo{code, 0, ShortResponse::WrongResponse, 0};
}
// A command whose response must carry `minParameters` bytes of parameters.
constexpr CommandInfo commandWithResponse(uint16_t code, uint8_t minParameters,
                                          ShortResponse onShort = ShortResponse::WrongResponse) {
    return CommandInfo{code, minParameters, onShort, 0};
}
// A command whose data phase runs over the bulk interface.
constexpr CommandInfo bulkCommand(uint16_t code) {
    return CommandInfo{code, 0, ShortResponse::WrongResponse, bulkMaskBitFor(code)};
}

}  // namespace vantor
