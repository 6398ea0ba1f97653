// SPDX-License-Identifier: MIT
// The refusal test every command family instantiates with its own rows of
// arguments the adapter could not take (see RefusedCall).

#include <gtest/gtest.h>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;

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

}  // namespace
}  // namespace vantor
