// SPDX-License-Identifier: MIT
// Segmenting and reassembly of messages into HID reports.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sdk/core/Protocol.h"
#include "sdk/core/ReportFramer.h"
#include "sdk/core/VantorSDK.h"
#include "sim/VirtualAdapter.h"
#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;
using Segments = std::vector<Bytes>;

// Pads a segment to a full report as the device would send it.
Bytes asReport(const Bytes& seg, size_t reportSize) {
    return concat(seg, Bytes(reportSize - seg.size(), 0));
}

TEST(ReportFramer, ExactCapacityIsOneSegmentAndOneByteMoreTwo) {
    for (size_t reportSize : {size_t{64}, size_t{1024}}) {
        ReportFramer framer(reportSize);
        const size_t c = reportSize - 2;
        ASSERT_EQ(framer.chunkCapacity(), c);
        Segments segs;
        framer.segment(pattern(c).data(), c, segs);
        ASSERT_EQ(segs.size(), 1u);
        EXPECT_EQ(u16At(segs[0], 0), 3 | (c << 2));
        EXPECT_EQ(Bytes(segs[0].begin() + 2, segs[0].end()), pattern(c));

        const Bytes msg = pattern(c + 1);
        framer.segment(msg.data(), msg.size(), segs);
        ASSERT_EQ(segs.size(), 2u);
        EXPECT_EQ(u16At(segs[0], 0), 1 | (c << 2));
        EXPECT_EQ(u16At(segs[1], 0), 2 | (1 << 2));
        EXPECT_EQ(segs[0].size(), c + 2);
        ASSERT_EQ(segs[1].size(), 3u);
        EXPECT_EQ(segs[1][2], msg.back());
        // Each call replaces the list; an empty message leaves it empty.
        framer.segment(nullptr, 0, segs);
        EXPECT_TRUE(segs.empty());
    }
}

TEST(ReportFramer, ChunkNeverExceedsTheLengthField) {
    // A report size whose capacity would overflow 10 bits is capped.
    ReportFramer framer(4096);
    EXPECT_EQ(framer.chunkCapacity(), 1023u);
    Segments segs;
    const Bytes msg = pattern(2000);
    framer.segment(msg.data(), msg.size(), segs);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_EQ((u16At(segs[0], 0) >> 2) & 0x3FF, 1023);
    EXPECT_EQ((u16At(segs[1], 0) >> 2) & 0x3FF, 977);
}

// ------------------------------------------------------------ reassembly

constexpr uint16_t kF = ReportFramer::kFirst;
constexpr uint16_t kL = ReportFramer::kLast;

// One segment with the given flags carrying `chunk`, its length field true.
Bytes seg(uint16_t flags, const Bytes& chunk) {
    return concat(le16(flags | (chunk.size() << 2)), chunk);
}

Bytes text(const char* s) {
    return Bytes(s, s + std::char_traits<char>::length(s));
}

const Bytes kGpioEvent = {0x00, 0x00, 0x81, 0x14, 0x00, 0x00, 0x02, 0x01, 0x01};
const Bytes kUartHello = {0x00, 0x00, 0x81, 0x10, 0x00, 0x00, 0x05, 0x00, 'h', 'e', 'l', 'l', 'o'};

struct ReassemblyCase {
    const char* name;
    std::vector<Bytes> reports;
    std::vector<Bytes> delivered;
    uint64_t dropped;
};

class Reassembly : public ::testing::TestWithParam<ReassemblyCase> {};

TEST_P(Reassembly, DeliversEachMessageOnceAndDropsTheRest) {
    const ReassemblyCase& c = GetParam();
    ReportAssembler assembler;
    std::vector<Bytes> delivered;
    for (const Bytes& r : c.reports) {
        if (assembler.feed(r.data(), r.size())) delivered.push_back(assembler.message());
    }
    EXPECT_EQ(delivered, c.delivered);
    EXPECT_EQ(assembler.droppedReports(), c.dropped);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(ReportAssembler, Reassembly, ::testing::Values(
    ReassemblyCase{"EmptyMessage", {seg(kF | kL, {})}, {Bytes{}}, 0},
    ReassemblyCase{"ThreeSegments", {seg(kF, text("ab")), seg(0, text("cd")), seg(kL, text("e"))}, {text("abcde")}, 0},
    ReassemblyCase{"PaddingAfterTheChunkIsIgnored", {asReport(seg(kF | kL, text("abc")), 64)}, {text("abc")}, 0},
    ReassemblyCase{"ContinuationWithNoStartIsDropped", {seg(0, text("ab")), seg(kL, text("cd"))}, {}, 2},
    ReassemblyCase{"FirstSegmentAbandonsAnUnfinishedMessage", {seg(kF, text("ab")), seg(kF | kL, text("xy"))}, {text("xy")}, 0},
    ReassemblyCase{"ReportShorterThanTheHeaderDropsThePartialMessage", {seg(kF, text("ab")), Bytes{0x02}, seg(kL, text("cd"))}, {}, 2},
    ReassemblyCase{"ChunkLongerThanTheReportDropsThePartialMessage", {seg(kF, text("ab")), Bytes{static_cast<uint8_t>(kL | (10 << 2)), 0, 'c'}, seg(kL, text("cd"))}, {}, 2},
    ReassemblyCase{"MalformedReportAfterACompleteMessageKeepsItDeliveredOnce", {seg(kF | kL, text("abc")), Bytes{0x03}, seg(kL, text("d"))}, {text("abc")}, 2}),
    RowName{});
// clang-format on

// A message of `length` bytes is delivered whole up to the cap and not at
// all beyond it; either way the next message comes through intact.
struct CapCase {
    const char* name;
    size_t reportSize;
    size_t length;
    bool delivered;
};

class ReassemblyCap : public ::testing::TestWithParam<CapCase> {};

TEST_P(ReassemblyCap, MessagesUpToTheCapPassAndLongerOnesAreDropped) {
    const CapCase& c = GetParam();
    ReportFramer framer(c.reportSize);
    ReportAssembler assembler;
    Segments segs;
    Bytes msg(c.length);
    for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<uint8_t>(i * 7 + i / 251);
    framer.segment(msg.data(), msg.size(), segs);
    size_t completions = 0;
    for (const Bytes& s : segs) {
        const Bytes report = asReport(s, c.reportSize);
        if (assembler.feed(report.data(), report.size())) {
            ++completions;
            EXPECT_EQ(assembler.message(), msg);
        }
        ASSERT_LE(assembler.message().size(), ReportAssembler::kMaxMessage);
    }
    EXPECT_EQ(completions, c.delivered ? 1u : 0u);
    EXPECT_EQ(assembler.droppedReports() > 0, !c.delivered);

    const Bytes next = pattern(100);
    framer.segment(next.data(), next.size(), segs);
    bool complete = false;
    for (const Bytes& s : segs) complete = assembler.feed(s.data(), s.size());
    EXPECT_TRUE(complete);
    EXPECT_EQ(assembler.message(), next);
}

constexpr size_t kMax = ReportAssembler::kMaxMessage;

INSTANTIATE_TEST_SUITE_P(ReportAssembler, ReassemblyCap,
                         ::testing::Values(CapCase{"Largest64", 64, kMax, true},
                                           CapCase{"OneByteTooLong1024", 1024, kMax + 1, false}),
                         RowName{});

TEST(ReportAssembler, EndlessContinuationsStayBoundedAndResetReleasesTheMemory) {
    ReportAssembler assembler;
    const Bytes first = asReport(seg(kF, Bytes(1022, 0xEE)), 1024);
    const Bytes more = asReport(seg(0, Bytes(1022, 0xEE)), 1024);
    assembler.feed(first.data(), first.size());
    size_t peak = 0;
    for (int i = 0; i < 1000; ++i) {  // a megabyte, sixteen times the cap
        EXPECT_FALSE(assembler.feed(more.data(), more.size()));
        peak = std::max(peak, assembler.message().capacity());
    }
    EXPECT_LE(peak, 2 * ReportAssembler::kMaxMessage);
    // 64 full chunks fit under the cap, the first segment's included; the
    // next one is dropped, and everything after it continues nothing.
    const size_t fitting = ReportAssembler::kMaxMessage / 1022;
    EXPECT_EQ(assembler.droppedReports(), 1000u - (fitting - 1));

    assembler.feed(first.data(), first.size());
    EXPECT_GT(assembler.message().capacity(), 0u);
    assembler.reset();
    EXPECT_EQ(assembler.message().capacity(), 0u);
    // After a reset a continuation has nothing to continue.
    EXPECT_FALSE(assembler.feed(more.data(), more.size()));
    EXPECT_TRUE(assembler.message().empty());
}

// Stray segments sent by the adapter after a notification, through the
// reader thread to the callback: each notification arrives once and intact.
TEST(ReportAssemblerThroughTheEngine, StraySegmentsAfterANotificationAreNotDelivered) {
    Inbox<Bytes> received;
    sim::VirtualAdapter adapter;
    VantorSDK sdk(2000);
    sdk.onNotification([&](const Notification& n) {
        received.push(Bytes(n.message(), n.message() + n.length()));
    });
    ASSERT_TRUE(sdk.connect(adapter.path()));

    adapter.send(kGpioEvent);
    for (const char* stray : {"x", "y", "z"})
        adapter.sendReport(asReport(seg(kL, text(stray)), 64));
    adapter.send(kUartHello);
    adapter.sendReport(asReport(seg(kL, text("hello")), 64));
    const Bytes fence = {0x00, 0x00, 0x81, 0x04, 0x00, 0x00, 0x00, 0x01, 0x04};
    adapter.send(fence);

    // The fence is the last message sent: once it is in, nothing else is due.
    ASSERT_TRUE(received.waitFor(3));
    EXPECT_EQ(received.items(), (std::vector<Bytes>{kGpioEvent, kUartHello, fence}));
}

}  // namespace
}  // namespace vantor
