// Segmenting and reassembly of messages into HID reports.

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "sdk/core/Protocol.h"
#include "sdk/core/ReportFramer.h"

namespace vantor {
namespace {

using Bytes = std::vector<uint8_t>;
using Segments = std::vector<Bytes>;

Bytes counting(size_t n) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), uint8_t{1});
    return b;
}

uint16_t headerOf(const Bytes& seg) {
    return static_cast<uint16_t>(seg[0] | (seg[1] << 8));
}

// Pads a segment to a full report as the device would send it.
Bytes asReport(const Bytes& seg, size_t reportSize) {
    Bytes r(reportSize, 0);
    std::copy(seg.begin(), seg.end(), r.begin());
    return r;
}

TEST(ReportFramer, SupportedModelsHaveTheirReportSizes) {
    ASSERT_EQ(kSupportedDevices.size(), 2u);
    EXPECT_EQ(kSupportedDevices[0].reportSize, 64u);
    EXPECT_EQ(kSupportedDevices[1].reportSize, 1024u);
    EXPECT_EQ(findSupportedDevice(kVendorId, kProductIdQuillex), &kSupportedDevices[1]);
    EXPECT_EQ(findSupportedDevice(kVendorId, 0x7777), nullptr);
    EXPECT_EQ(findSupportedDevice(0x7777, kProductIdTeranox), nullptr);
}

TEST(ReportFramer, MessageOfExactCapacityIsOneSegment) {
    for (size_t reportSize : {size_t{64}, size_t{1024}}) {
        ReportFramer framer(reportSize);
        const size_t c = reportSize - 2;
        ASSERT_EQ(framer.chunkCapacity(), c);
        Segments segs;
        framer.segment(counting(c).data(), c, segs);
        ASSERT_EQ(segs.size(), 1u);
        EXPECT_EQ(headerOf(segs[0]), 3 | (c << 2));
        EXPECT_EQ(Bytes(segs[0].begin() + 2, segs[0].end()), counting(c));
    }
    ReportFramer small(64);
    Segments segs;
    small.segment(counting(62).data(), 62, segs);
    EXPECT_EQ(headerOf(segs[0]), 0x00FB);
}

TEST(ReportFramer, OneByteOverCapacitySplitsIntoTwo) {
    for (size_t reportSize : {size_t{64}, size_t{1024}}) {
        ReportFramer framer(reportSize);
        const size_t c = reportSize - 2;
        const Bytes msg = counting(c + 1);
        Segments segs;
        framer.segment(msg.data(), msg.size(), segs);
        ASSERT_EQ(segs.size(), 2u);
        EXPECT_EQ(headerOf(segs[0]), 1 | (c << 2));
        EXPECT_EQ(headerOf(segs[1]), 2 | (1 << 2));
        EXPECT_EQ(segs[0].size(), c + 2);
        ASSERT_EQ(segs[1].size(), 3u);
        EXPECT_EQ(segs[1][2], msg.back());
    }
    ReportFramer small(64);
    Segments segs;
    small.segment(counting(63).data(), 63, segs);
    EXPECT_EQ(headerOf(segs[0]), 0x00F9);
    EXPECT_EQ(headerOf(segs[1]), 0x0006);
}

TEST(ReportFramer, EmptyMessageProducesNoSegmentAndReusedListIsReplaced) {
    ReportFramer framer(64);
    Segments segs;
    framer.segment(counting(200).data(), 200, segs);
    EXPECT_EQ(segs.size(), 4u);
    framer.segment(nullptr, 0, segs);
    EXPECT_TRUE(segs.empty());
    framer.segment(counting(5).data(), 5, segs);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_EQ(segs[0].size(), 7u);
}

TEST(ReportFramer, ChunkNeverExceedsTheLengthField) {
    // A report size whose capacity would overflow 10 bits is capped.
    ReportFramer framer(4096);
    EXPECT_EQ(framer.chunkCapacity(), 1023u);
    Segments segs;
    const Bytes msg = counting(2000);
    framer.segment(msg.data(), msg.size(), segs);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_EQ((headerOf(segs[0]) >> 2) & 0x3FF, 1023);
    EXPECT_EQ((headerOf(segs[1]) >> 2) & 0x3FF, 977);
}

TEST(ReportFramer, MalformedReportsDropThePartialMessage) {
    ReportFramer framer(64);
    const Bytes msg = counting(100);
    Segments segs;
    framer.segment(msg.data(), msg.size(), segs);
    ASSERT_EQ(segs.size(), 2u);

    Bytes assembly;
    // A report shorter than the header clears the buffer.
    EXPECT_FALSE(ReportFramer::feed(segs[0].data(), segs[0].size(), assembly));
    const uint8_t tiny[1] = {0x02};
    EXPECT_FALSE(ReportFramer::feed(tiny, 1, assembly));
    EXPECT_TRUE(assembly.empty());
    // A continuation alone then completes only its own bytes.
    EXPECT_TRUE(ReportFramer::feed(segs[1].data(), segs[1].size(), assembly));
    EXPECT_EQ(assembly, Bytes(msg.begin() + 62, msg.end()));

    // A chunk length larger than the report carries clears the buffer.
    assembly.clear();
    EXPECT_FALSE(ReportFramer::feed(segs[0].data(), segs[0].size(), assembly));
    const uint8_t lying[4] = {static_cast<uint8_t>(2 | (10 << 2)), 0, 0xAA, 0xBB};
    EXPECT_FALSE(ReportFramer::feed(lying, sizeof lying, assembly));
    EXPECT_TRUE(assembly.empty());
}

TEST(ReportFramer, ContinuationAfterACompleteMessageExtendsIt) {
    Bytes assembly;
    const uint8_t whole[5] = {0x03 | (3 << 2), 0, 'a', 'b', 'c'};
    ASSERT_TRUE(ReportFramer::feed(whole, sizeof whole, assembly));
    const uint8_t more[4] = {0x02 | (2 << 2), 0, 'd', 'e'};
    ASSERT_TRUE(ReportFramer::feed(more, sizeof more, assembly));
    EXPECT_EQ(assembly, (Bytes{'a', 'b', 'c', 'd', 'e'}));
    // A new first segment starts afresh.
    const uint8_t fresh[3] = {0x03 | (1 << 2), 0, 'z'};
    ASSERT_TRUE(ReportFramer::feed(fresh, sizeof fresh, assembly));
    EXPECT_EQ(assembly, Bytes{'z'});
}

TEST(ReportFramer, RoundTripsRandomMessagesOnBothModels) {
    std::mt19937 rng(1234);
    for (size_t reportSize : {size_t{64}, size_t{1024}}) {
        ReportFramer framer(reportSize);
        Segments segs;
        Bytes assembly;
        for (int i = 0; i < 300; ++i) {
            const size_t n = std::uniform_int_distribution<size_t>(1, 5000)(rng);
            Bytes msg(n);
            for (auto& b : msg) b = static_cast<uint8_t>(rng());
            framer.segment(msg.data(), msg.size(), segs);
            ASSERT_EQ(segs.size(), (n + reportSize - 3) / (reportSize - 2));
            size_t completions = 0;
            for (size_t s = 0; s < segs.size(); ++s) {
                const Bytes report = asReport(segs[s], reportSize);
                const bool complete = ReportFramer::feed(report.data(), report.size(), assembly);
                completions += complete;
                EXPECT_EQ(complete, s + 1 == segs.size());
            }
            ASSERT_EQ(completions, 1u);
            ASSERT_EQ(assembly, msg) << "size " << n;
        }
    }
}

TEST(ReportFramer, NotificationCodesMapToKinds) {
    EXPECT_EQ(notificationKindForCode(0x1982), NOTIF_I3C_HJ);
    EXPECT_EQ(notificationKindForCode(0x1481), NOTIF_GPIO);
    EXPECT_EQ(notificationKindForCode(0x1A81), NOTIF_I3C_TARGET_BUS_EVENT);
    EXPECT_EQ(NOTIF_I3C_TARGET_BUS_EVENT, 8);
    EXPECT_EQ(notificationKindForCode(0x1983), NOTIF_UNKNOWN);
    EXPECT_EQ(notificationKindForCode(0x0000), NOTIF_UNKNOWN);
}

}  // namespace
}  // namespace vantor
