#pragma once
// Helpers shared by the peripheral command tests: hand-written requests,
// scripted answers, and the fault sequence every command family goes through.

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

inline Bytes cat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

inline Bytes pattern(size_t length, uint8_t seed = 0) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// A recorded request from its command code on (synchronous calls choose
// their own transaction ids).
inline Bytes withoutId(const Bytes& message) {
    return Bytes(message.begin() + 2, message.end());
}

// The answer to `req`, with its id and command code.
inline Bytes reply(const Bytes& req, uint16_t status, const Bytes& params = {}) {
    return responseMessage(idOf(req), commandOf(req), status, params);
}

// Answers every request with `answer(request)`; an empty answer sends nothing.
inline void script(sim::VirtualAdapter& adapter, std::function<Bytes(const Bytes&)> answer) {
    adapter.setHandler([answer = std::move(answer)](const Bytes& req) {
        Bytes message = answer(req);
        return message.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{std::move(message)};
    });
}
inline void silence(sim::VirtualAdapter& adapter) {
    script(adapter, [](const Bytes&) { return Bytes{}; });
}

inline std::vector<Bytes> requestsOf(sim::VirtualAdapter& adapter, size_t count) {
    EXPECT_TRUE(adapter.waitForRequests(count, kWaitLimit));
    return adapter.requests();
}

// `call` is one synchronous command on an SDK connected to `adapter` with a
// response timeout well under a second. A slowly failing write is repaired by
// one reopen and the request arrives once; an adapter unplugged during the
// call makes it time out, the next call finds no device, and once the
// adapter is back the device is reopened.
inline void expectWriteFailureAndUnplugRecovery(sim::VirtualAdapter& adapter,
                                                const std::function<uint16_t()>& call) {
    const auto answerAll = [](const Bytes& req) { return reply(req, 0); };
    script(adapter, answerAll);
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
    script(adapter, answerAll);
    EXPECT_EQ(call(), 0);
}

}  // namespace vantor::test
