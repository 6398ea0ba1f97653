// SPDX-License-Identifier: MIT
// The table tests every command family instantiates with its own rows: the
// bytes a request puts on the wire (SentRequest), calls refused before
// anything is sent (RefusedCall), and what a blocking call makes of a
// scripted answer (ScriptedReply).

#include <gtest/gtest.h>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

TEST_P(RequestBytes, AreSent) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK sdk;
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(GetParam().call(sdk), 0);
    const auto requests = requestsOf(adapter, 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(idOf(requests[0]), kRequestId);
    EXPECT_EQ(withoutId(requests[0]), GetParam().wire);
}

TEST_P(WrongRequestRefusal, IsWrongRequestAndSendsNothing) {
    const RefusedCall& row = GetParam();
    sim::VirtualAdapter adapter;
    VantorAsyncSDK async;
    VantorSDK sdk(2000);
    if (row.async) {
        ASSERT_TRUE(async.connect(adapter.path()));
        EXPECT_EQ(row.async(async), kWrongRequest);
    } else {
        ASSERT_TRUE(sdk.connect(adapter.path()));
        EXPECT_EQ(row.sync(sdk), kWrongRequest);
    }
    for (const Bytes& request : adapter.requests()) {
        EXPECT_EQ(commandOf(request), 0x040F) << "a command was sent";
    }
}

TEST_P(NotConnected, IsDisconnect) {
    const RefusedCall& row = GetParam();
    VantorAsyncSDK async;
    VantorSDK sdk(2000);
    EXPECT_EQ(row.async ? row.async(async) : row.sync(sdk), kDisconnect);
}

TEST_P(WithoutBulkInterface, IsBulkUnavailableAndSendsNothing) {
    const RefusedCall& row = GetParam();
    sim::VirtualAdapter adapter(adapterOptions("NOBULK", sim::Model::Teranox, false));
    VantorAsyncSDK async;
    VantorSDK sdk(2000);
    ASSERT_TRUE(async.connect(adapter.path()) && sdk.connect(adapter.path()));
    EXPECT_EQ(row.async ? row.async(async) : row.sync(sdk), kBulkUnavailable);
    EXPECT_TRUE(adapter.reports().empty());
}

TEST_P(ReplyDecoding, Decodes) {
    sim::VirtualAdapter adapter;
    script(adapter,
           [&](const Bytes& req) { return reply(req, GetParam().status, GetParam().parameters); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    EXPECT_EQ(GetParam().call(sdk), GetParam().expected);
}

}  // namespace
}  // namespace vantor
