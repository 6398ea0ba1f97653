// SPDX-License-Identifier: MIT
// I3C common command codes: the bytes of every named form (broadcast and
// direct, with and without defining byte and optional data), the generic
// command, the refusals of lists their length byte cannot describe, and the
// decoding of each reply shape.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using namespace test;
using F = I3cTransferFlags;
using D = I3cTransferDirection;

const F kNone = F::NONE;
const Bytes kNoBytes;

I3cTargetInfo sampleTarget() {
    return I3cTargetInfo{0x50, 0x08, {1, 2, 3, 4, 5, 6}, 0x07, 0xC5, 0x0102, 0x0304, 8, 0x11};
}
const Bytes kSampleTargetBytes = {0x50, 0x08, 1,    2,    3,    4,    5,    6,
                                  0x07, 0xC5, 0x02, 0x01, 0x04, 0x03, 0x08, 0x11};

// The request of the generic command 0x1909: address, control, length,
// code, defining byte, data.
Bytes cccWire(const Bytes& parameters) {
    return concat({0x09, 0x19}, parameters);
}

constexpr uint16_t kId = kRequestId;

// clang-format off
INSTANTIATE_TEST_SUITE_P(I3cCcc, RequestBytes, ::testing::Values(
    SentRequest{"RSTDAA", [](VantorAsyncSDK& s) { return s.i3cCccRSTDAA(kId, kNone); }, cccWire({0x7E, 0x00, 0x00, 0x06, 0x00})},
    SentRequest{"StartWith7eIsNotCarried", [](VantorAsyncSDK& s) { return s.i3cCccRSTDAA(kId, F::START_WITH_7E); }, cccWire({0x7E, 0x00, 0x00, 0x06, 0x00})},
    SentRequest{"ENTDAAOneTarget", [](VantorAsyncSDK& s) { return s.i3cCccENTDAA(kId, {sampleTarget()}); }, cccWire(concat({0x7E, 0x00, 0x10, 0x07, 0x00}, kSampleTargetBytes))},
    SentRequest{"ENTDAAFifteenTargetsFillTheLength", [](VantorAsyncSDK& s) { return s.i3cCccENTDAA(kId, std::vector<I3cTargetInfo>(15)); }, cccWire(concat({0x7E, 0x00, 0xF0, 0x07, 0x00}, Bytes(240)))},
    SentRequest{"SETAASAAddressesUnshifted", [](VantorAsyncSDK& s) { return s.i3cCccSETAASA(kId, {0x50, 0x51}, kNone); }, cccWire({0x7E, 0x00, 0x02, 0x29, 0x00, 0x50, 0x51})},
    SentRequest{"SETDASAToStaticAddress", [](VantorAsyncSDK& s) { return s.i3cCccSETDASA(kId, 0x50, 0x08, kNone); }, cccWire({0x50, 0x00, 0x01, 0x87, 0x00, 0x10})},
    SentRequest{"SETNEWDAHighestSevenBitAddress", [](VantorAsyncSDK& s) { return s.i3cCccSETNEWDA(kId, 0x08, 0x7F, kNone); }, cccWire({0x08, 0x00, 0x01, 0x88, 0x00, 0xFE})},
    SentRequest{"GETPID", [](VantorAsyncSDK& s) { return s.i3cCccGETPID(kId, 0x08, kNone); }, cccWire({0x08, 0x01, 0x06, 0x8D, 0x00})},
    SentRequest{"GETMXDSAsksForFiveBytes", [](VantorAsyncSDK& s) { return s.i3cCccGETMXDS(kId, 0x08, kNone); }, cccWire({0x08, 0x01, 0x05, 0x94, 0x00})},
    SentRequest{"GETSTATUSWithDefiningByte", [](VantorAsyncSDK& s) { return s.i3cCccGETSTATUS(kId, 0x08, 0x91, kNone); }, cccWire({0x08, 0x11, 0x02, 0x90, 0x91})},
    SentRequest{"SETMWLBroadcastMostSignificantFirst", [](VantorAsyncSDK& s) { return s.i3cCccSETMWLBroadcast(kId, 0x0400, kNone); }, cccWire({0x7E, 0x00, 0x02, 0x09, 0x00, 0x04, 0x00})},
    SentRequest{"SETMRLBroadcastWithoutIbiSize", [](VantorAsyncSDK& s) { return s.i3cCccSETMRLBroadcast(kId, 0x0100, std::nullopt, kNone); }, cccWire({0x7E, 0x00, 0x02, 0x0A, 0x00, 0x01, 0x00})},
    SentRequest{"SETMRLDirectWithIbiSize", [](VantorAsyncSDK& s) { return s.i3cCccSETMRLDirect(kId, 0x08, 0x0100, 8, kNone); }, cccWire({0x08, 0x00, 0x03, 0x8A, 0x00, 0x01, 0x00, 0x08})},
    SentRequest{"ENECBroadcastEventsAsDefiningByte", [](VantorAsyncSDK& s) { return s.i3cCccENECBroadcast(kId, 0x09, kNone); }, cccWire({0x7E, 0x10, 0x01, 0x00, 0x09})},
    SentRequest{"DISECBroadcastEventsAsDefiningByte", [](VantorAsyncSDK& s) { return s.i3cCccDISECBroadcast(kId, 0x09, kNone); }, cccWire({0x7E, 0x10, 0x01, 0x01, 0x09})},
    SentRequest{"ENECDirectEventsAsData", [](VantorAsyncSDK& s) { return s.i3cCccENECDirect(kId, 0x0A, 0x09, kNone); }, cccWire({0x0A, 0x00, 0x01, 0x80, 0x00, 0x09})},
    SentRequest{"RSTACTDirectRead", [](VantorAsyncSDK& s) { return s.i3cCccRSTACTDirect(kId, 0x08, I3cTargetResetDefByte::RETURN_TIME_RESET_PERIPHERAL, D::READ, kNone); }, cccWire({0x08, 0x11, 0x01, 0x9A, 0x81})},
    SentRequest{"SETXTIMELongestData", [](VantorAsyncSDK& s) { return s.i3cCccSETXTIMEBroadcast(kId, 0xDF, Bytes(254, 0xAB), kNone); }, cccWire(concat({0x7E, 0x00, 0xFF, 0x28, 0x00, 0xDF}, Bytes(254, 0xAB)))},
    SentRequest{"GenericSendsItsArgumentsUnchanged", [](VantorAsyncSDK& s) { return s.i3cCccTransfer(kId, 0x33, D::READ, I3cTransferMode::SDR, static_cast<F>(3), I3cCccType::WITH_DEFINING_BYTE, 7, static_cast<CCC>(0x99), 0x44, {}); }, cccWire({0x33, 0x19, 0x07, 0x99, 0x44})},
    SentRequest{"GenericWriteWithData", [](VantorAsyncSDK& s) { return s.i3cCccTransfer(kId, 0x21, D::WRITE, I3cTransferMode::HDR_DDR, kNone, I3cCccType::WITHOUT_DEFINING_BYTE, 1, CCC::ENEC_DIRECT, 0, {0x0B}); }, cccWire({0x21, 0x02, 0x01, 0x80, 0x00, 0x0B})}),
    RowName{});
// clang-format on

// The named forms that share a shape with a row above: each must still name
// its own code (byte 3 of the parameters) and address.
TEST(I3cCcc, EachNamedFormSendsItsOwnCode) {
    sim::VirtualAdapter adapter;
    silence(adapter);
    VantorAsyncSDK s;
    ASSERT_TRUE(s.connect(adapter.path()));
    const auto kReset = I3cTargetResetDefByte::RESET_WHOLE_TARGET;
    // The code each call must send, and what the call returned (in call order).
    // clang-format off
    const std::vector<std::pair<uint8_t, uint16_t>> calls = {
        {0x88, s.i3cCccSETNEWDA(1, 8, 9, kNone)},          {0x8E, s.i3cCccGETBCR(1, 8, kNone)},
        {0x8F, s.i3cCccGETDCR(1, 8, kNone)},               {0x95, s.i3cCccGETCAPS(1, 8, std::nullopt, kNone)},
        {0x94, s.i3cCccGETMXDS(1, 8, kNone)},              {0x99, s.i3cCccGETXTIME(1, 8, kNone)},
        {0x8B, s.i3cCccGETMWL(1, 8, kNone)},               {0x8C, s.i3cCccGETMRL(1, 8, kNone)},
        {0x89, s.i3cCccSETMWLDirect(1, 8, 1, kNone)},      {0x01, s.i3cCccDISECBroadcast(1, 1, kNone)},
        {0x82, s.i3cCccENTAS0Direct(1, 8, kNone)},
        {0x81, s.i3cCccDISECDirect(1, 8, 1, kNone)},       {0x02, s.i3cCccENTAS0Broadcast(1, kNone)},
        {0x03, s.i3cCccENTAS1Broadcast(1, kNone)},         {0x04, s.i3cCccENTAS2Broadcast(1, kNone)},
        {0x05, s.i3cCccENTAS3Broadcast(1, kNone)},         {0x83, s.i3cCccENTAS1Direct(1, 8, kNone)},
        {0x84, s.i3cCccENTAS2Direct(1, 8, kNone)},         {0x85, s.i3cCccENTAS3Direct(1, 8, kNone)},
        {0x2A, s.i3cCccRSTACTBroadcast(1, kReset, kNone)}, {0x2C, s.i3cCccRSTGRPABroadcast(1, kNone)},
        {0x9C, s.i3cCccRSTGRPADirect(1, 8, kNone)},        {0x9B, s.i3cCccSETGRPADirect(1, 8, 0x30, kNone)},
        {0x98, s.i3cCccSETXTIMEDirect(1, 8, 0xDF, kNoBytes, kNone)},
        {0x0C, s.i3cCccSETBUSCONBroadcast(1, 1, kNoBytes, kNone)}};
    // clang-format on
    const std::vector<Bytes> requests = requestsOf(adapter, calls.size());
    ASSERT_EQ(requests.size(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].second, 0) << "call " << i;
        EXPECT_EQ(requests[i].at(7), calls[i].first) << "call " << i;
        // Direct codes (0x80 and up) go to the target's address.
        EXPECT_EQ(requests[i].at(4), calls[i].first >= 0x80 ? 8 : 0x7E) << "call " << i;
    }
}

// A request whose fields cannot hold what it describes: the ENTDAA list its
// length byte cannot count, data over the generic command's length byte,
// data on a read, and an address over 7 bits that shifting into one byte
// would turn into another address.
// clang-format off
INSTANTIATE_TEST_SUITE_P(I3cCcc, WrongRequestRefusal, ::testing::Values(
    RefusedCall{"SETDASANewAddressOver7Bits", [](VantorAsyncSDK& a) { return a.i3cCccSETDASA(1, 0x50, 0x88, kNone); }},
    RefusedCall{"SETNEWDANewAddressOver7Bits", nullptr, [](VantorSDK& s) { return s.i3cCccSETNEWDA(0x08, 0x9A, kNone); }},
    RefusedCall{"SETGRPAGroupAddressOver7Bits", [](VantorAsyncSDK& a) { return a.i3cCccSETGRPADirect(1, 0x08, 0x80, kNone); }},
    RefusedCall{"ENTDAASixteenTargets", [](VantorAsyncSDK& a) { return a.i3cCccENTDAA(1, std::vector<I3cTargetInfo>(16)); }},
    RefusedCall{"SETXTIMEBroadcastOver255Bytes", [](VantorAsyncSDK& a) { return a.i3cCccSETXTIMEBroadcast(1, 0xDF, Bytes(255), kNone); }},
    RefusedCall{"GenericReadWithData", [](VantorAsyncSDK& a) { return a.i3cCccTransfer(1, 0x08, D::READ, I3cTransferMode::SDR, kNone, I3cCccType::WITHOUT_DEFINING_BYTE, 1, CCC::GETBCR, 0, {0x01}); }}),
    RowName{});
// clang-format on

// ------------------------------------------------------------- decoding

Decoded byteList(VantorSDK& s, uint16_t (VantorSDK::*m)(uint8_t, std::vector<uint8_t>&, F)) {
    Bytes out = {0xEE};
    const uint16_t st = (s.*m)(0x08, out, kNone);
    return {st, out};
}
Decoded getBcr(VantorSDK& s) {
    uint8_t v = 0xEE;
    const uint16_t st = s.i3cCccGETBCR(0x08, v, kNone);
    return {st, {v}};
}
Decoded getMwl(VantorSDK& s) {
    uint16_t v = 0xEEEE;
    const uint16_t st = s.i3cCccGETMWL(0x08, v, kNone);
    return {st, {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}};
}
Decoded getMrl(VantorSDK& s) {
    uint16_t v = 0xEEEE;
    std::optional<uint8_t> ibi = 0xEE;
    const uint16_t st = s.i3cCccGETMRL(0x08, v, ibi, kNone);
    Bytes out = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    if (ibi) out.push_back(*ibi);
    return {st, out};
}
Decoded rstact(VantorSDK& s, D direction) {
    std::optional<uint8_t> back;
    const uint16_t st = s.i3cCccRSTACTDirect(
        0x08, I3cTargetResetDefByte::RETURN_TIME_RESET_PERIPHERAL, direction, back, kNone);
    return {st, back ? Bytes{*back} : Bytes{}};
}

constexpr uint16_t kNack = 0x060B;  // FW_I3C_NACK_ADDRESS
const auto kGetPid = [](VantorSDK& s) { return byteList(s, &VantorSDK::i3cCccGETPID); };

// clang-format off
INSTANTIATE_TEST_SUITE_P(I3cCcc, ReplyDecoding, ::testing::Values(
    ScriptedReply{"ByteListTakesTheAnnouncedBytes", 0, {0, 0, 0, 6, 1, 2, 3, 4, 5, 6, 7}, kGetPid, {0, {1, 2, 3, 4, 5, 6}}},
    ScriptedReply{"ByteListFilledWhateverTheStatus", kNack, {0, 0, 0, 2, 9, 8}, kGetPid, {kNack, {9, 8}}},
    ScriptedReply{"ByteListEmptyWithoutCount", 0, {0, 0}, kGetPid, {0, {}}},
    ScriptedReply{"U8AtOffset10", 0, {0, 0, 0, 1, 0x27}, getBcr, {0, {0x27}}},
    ScriptedReply{"U8ShortWithSuccessIsWrongResponse", 0, {0, 0, 0, 1}, getBcr, {kWrongResponse, {0xEE}}},
    ScriptedReply{"U8ShortKeepsItsStatus", kNack, {0, 0, 0, 0}, getBcr, {kNack, {0xEE}}},
    ScriptedReply{"U16MostSignificantFirst", 0, {0, 0, 0, 2, 0x01, 0x02}, getMwl, {0, {0x01, 0x02}}},
    ScriptedReply{"U16ShortIsWrongResponse", 0, {0, 0, 0, 2, 0x01}, getMwl, {kWrongResponse, {0xEE, 0xEE}}},
    ScriptedReply{"MrlWithoutIbiSize", 0, {0, 0, 0, 2, 0x00, 0x40}, getMrl, {0, {0x00, 0x40}}},
    ScriptedReply{"MrlWithIbiSize", 0, {0, 0, 0, 3, 0x01, 0x00, 0x08}, getMrl, {0, {0x01, 0x00, 0x08}}},
    ScriptedReply{"MrlAnnouncingIbiSizeWithoutIt", 0, {0, 0, 0, 3, 0x01, 0x00}, getMrl, {kWrongResponse, {0xEE, 0xEE, 0xEE}}},
    ScriptedReply{"MrlAnnouncingIbiSizeWithoutItKeepsStatus", kNack, {0, 0, 0, 3, 0x01, 0x00}, getMrl, {kNack, {0xEE, 0xEE, 0xEE}}},
    ScriptedReply{"RstactReadBack", 0, {0, 0, 0, 1, 0x42}, [](VantorSDK& s) { return rstact(s, D::READ); }, {0, {0x42}}},
    ScriptedReply{"RstactReadShort", 0, {0, 0, 0, 1}, [](VantorSDK& s) { return rstact(s, D::READ); }, {kWrongResponse, {}}},
    ScriptedReply{"RstactWriteReadsNothing", 0, {0, 0, 0, 1, 0x42}, [](VantorSDK& s) { return rstact(s, D::WRITE); }, {0, {}}},
    ScriptedReply{"StatusOnly", kNack, {}, [](VantorSDK& s) { return Decoded{s.i3cCccSETDASA(0x50, 0x08, kNone), {}}; }, {kNack, {}}}),
    RowName{});
// clang-format on

// The blocking forms hand their arguments to the same encoder.
TEST(I3cCcc, BlockingFormsSendThroughTheEncoder) {
    sim::VirtualAdapter adapter;
    script(adapter, [](const Bytes& req) { return reply(req, 0, {0, 0, 0, 1, 0x07}); });
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    uint8_t bcr = 0;
    ASSERT_EQ(sdk.i3cCccGETBCR(0x09, bcr, F::NONSTOP), 0);
    ASSERT_EQ(sdk.i3cCccSETXTIMEDirect(0x08, 0xDF, {0x05}, kNone), 0);
    const auto requests = requestsOf(adapter, 2);
    EXPECT_EQ(withoutId(requests.at(0)), (Bytes{0x09, 0x19, 0x09, 0x09, 0x01, 0x8E, 0x00}));
    EXPECT_EQ(withoutId(requests.at(1)),
              (Bytes{0x09, 0x19, 0x08, 0x00, 0x02, 0x98, 0x00, 0xDF, 0x05}));
}

}  // namespace
}  // namespace vantor
