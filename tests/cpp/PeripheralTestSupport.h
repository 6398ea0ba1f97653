#pragma once
// Helpers shared by the peripheral command tests: scripted answers, request
// bytes written out by hand, and the fault sequence every command family
// goes through.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "sim/VirtualAdapter.h"
#include "tests/cpp/SdkTestAccess.h"

namespace vantor::test {

constexpr uint16_t kTimeout = 0x2000;
constexpr uint16_t kDisconnect = 0x4000;
constexpr uint16_t kWrongRequest = 0x8000;
constexpr uint16_t kWrongResponse = 0xA000;
constexpr uint16_t kBulkUnavailable = 0xC000;

// A request as the adapter records it: id and command code (low byte
// first), then the parameters.
inline Bytes request(uint16_t id, uint16_t command, const Bytes& params) {
    Bytes m = {static_cast<uint8_t>(id & 0xFF), static_cast<uint8_t>(id >> 8),
               static_cast<uint8_t>(command & 0xFF), static_cast<uint8_t>(command >> 8)};
    m.insert(m.end(), params.begin(), params.end());
    return m;
}

// A recorded request from its command code on, for synchronous calls whose
// transaction ids the engine chooses.
inline Bytes withoutId(const Bytes& message) {
    return message.size() > 2 ? Bytes(message.begin() + 2, message.end()) : Bytes{};
}

// The answer to `req` with its id and command code.
inline Bytes reply(const Bytes& req, uint16_t status, const Bytes& params = {}) {
    return responseMessage(idOf(req), commandOf(req), status, params);
}

// Answers every request with `answer(request)`; an empty answer sends
// nothing.
inline void script(sim::VirtualAdapter& adapter, std::function<Bytes(const Bytes&)> answer) {
    adapter.setHandler([answer = std::move(answer)](const Bytes& req) {
        Bytes message = answer(req);
        return message.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{std::move(message)};
    });
}

// Waits until `count` requests arrived and returns them.
inline std::vector<Bytes> requestsOf(sim::VirtualAdapter& adapter, size_t count) {
    EXPECT_TRUE(adapter.waitForRequests(count, kWaitLimit));
    return adapter.requests();
}

inline Bytes pattern(size_t length, uint8_t seed = 0) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// `call` is one synchronous command on `sdk` (connected to `adapter`, with a
// response timeout well under a second). A slowly failing write is repaired
// by one reopen and the request arrives once; an adapter unplugged while the
// call waits makes it time out, the next call finds no device, and after
// replugging the device is reopened and calls work again.
inline void expectWriteFailureAndUnplugRecovery(sim::VirtualAdapter& adapter,
                                                const std::function<uint16_t()>& call) {
    script(adapter, [](const Bytes& req) { return reply(req, 0); });
    adapter.clear();
    adapter.failWrites(1, std::chrono::milliseconds(950));
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(adapter.requests().size(), 1u);

    adapter.setHandler([&adapter](const Bytes&) {
        adapter.unplug();
        return std::vector<Bytes>{};
    });
    EXPECT_EQ(call(), kTimeout);
    EXPECT_EQ(call(), kDisconnect);

    adapter.plug();
    script(adapter, [](const Bytes& req) { return reply(req, 0); });
    EXPECT_EQ(call(), 0);
}

}  // namespace vantor::test
