// SPDX-License-Identifier: MIT
// The virtual adapter's I3C bus through the USB seam, with raw request
// messages: dynamic address assignment, the common command codes, private
// transfers and their limits, events raised by targets, and the I3C ports.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cpp/TestSupport.h"

namespace {

using namespace vantor::sim;
using namespace vantor::sim::testing;

constexpr uint16_t kControllerInit = 0x1901;
constexpr uint16_t kInitBus = 0x1904;
constexpr uint16_t kResetBus = 0x1905;
constexpr uint16_t kGetTable = 0x1906;
constexpr uint16_t kSetConfiguration = 0x1907;
constexpr uint16_t kTransfer = 0x1908;
constexpr uint16_t kCcc = 0x1909;
constexpr uint16_t kPattern = 0x190A;
constexpr uint16_t kTransferBulk = 0x190B;
constexpr uint16_t kSetVoltage = 0x0404;
constexpr uint16_t kUseExternal = 0x040A;
constexpr uint16_t kAnalog = 0x0409;

constexpr uint16_t kNackAddress = 0x060B;

// A 16-byte target record: static, dynamic, PID (most significant byte
// first), BCR, DCR, MWL, MRL, IBI payload size, configuration.
Bytes record(uint8_t staticAddress, uint8_t dynamicAddress, uint64_t pid, uint8_t config = 0) {
    Bytes bytes{staticAddress, dynamicAddress};
    for (int shift = 40; shift >= 0; shift -= 8) bytes.push_back((pid >> shift) & 0xFF);
    return concat(bytes, {0, 0, 0, 0, 0, 0, 0, config});
}

Bytes targetList(const std::vector<Bytes>& records) {
    Bytes params{static_cast<uint8_t>(records.size())};
    for (const Bytes& r : records) params = concat(params, r);
    return params;
}

// The CCC request after the command code; `control` as the host builds it.
Bytes ccc(uint8_t address, uint8_t control, uint8_t length, uint8_t code, uint8_t defining = 0,
          const Bytes& data = {}) {
    return concat({address, control, length, code, defining}, data);
}
constexpr uint8_t kWrite = 0x00;
constexpr uint8_t kRead = 0x01;
constexpr uint8_t kWithDefining = 0x10;

// The transfer header after the command code.
Bytes transfer(uint8_t address, uint8_t control, uint16_t length, const Bytes& sub = {},
               uint8_t hdrCommand = 0) {
    Bytes header{address, control, hdrCommand, static_cast<uint8_t>(sub.size())};
    Bytes padded = sub;
    padded.resize(4, 0);
    return concat(concat(header, padded), le16(length));
}
constexpr uint8_t kSdrWrite = 0, kSdrRead = 1, kHdrWrite = 2, kHdrRead = 3, kI2cWrite = 4,
                  kI2cRead = 5;

// Data after the response's 4-byte block (CCC and transfer answers alike).
Bytes dataOf(const Bytes& response) {
    return response.size() > 10 ? Bytes(response.begin() + 10, response.end()) : Bytes{};
}

I3cTargetOptions target(uint64_t pid, std::optional<uint8_t> staticAddress = std::nullopt) {
    I3cTargetOptions options;
    options.pid = pid;
    options.staticAddress = staticAddress;
    return options;
}

// A bus brought up by the controller init; targets attached by each test.
struct Bus {
    explicit Bus(const std::string& serial, Model model = Model::Teranox, bool bulk = true)
        : adapter(adapterOptions(serial, model, bulk)), seam(adapter) {}
    void up() { ASSERT_EQ(seam.status(kControllerInit, {18, 2, 1, 0}), 0); }
    std::optional<uint8_t> address(uint64_t pid) {
        return adapter.i3c().target(pid)->dynamicAddress;
    }

    VirtualAdapter adapter;
    Seam seam;
};

TEST(VirtualI3c, InitBusAssignsByStaticAddressThenArbitrationOrder) {
    Bus bus("I3C-DAA");
    // Attached in the opposite order of their ids: arbitration, not
    // attachment, decides.
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x0000AB000300)));
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x0000AB000200)));
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x0000AB000100)));
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x0000CD000001, 0x50)));  // SETDASA
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x0000CD000002, 0x51)));  // SETAASA
    bus.up();

    // Listed: the middle id wants 0x30, configuration 7.
    EXPECT_EQ(bus.seam.status(kInitBus, targetList({record(0x50, 0x20, 0x0000CD000001),
                                                    record(0x51, 0, 0x0000CD000002),
                                                    record(0, 0x30, 0x0000AB000200, 7)})),
              0);
    EXPECT_EQ(bus.address(0x0000CD000001), 0x20);
    EXPECT_EQ(bus.address(0x0000CD000002), 0x51);
    EXPECT_EQ(bus.address(0x0000AB000100), 0x08);  // lowest id first, lowest free address
    EXPECT_EQ(bus.address(0x0000AB000200), 0x30);
    EXPECT_EQ(bus.address(0x0000AB000300), 0x09);

    // The table in assignment order: count, then 16 bytes each.
    const Bytes table = bus.seam.call(kGetTable, {});
    ASSERT_EQ(table.size(), 7u + 5 * 16);
    EXPECT_EQ(table[6], 5);
    const std::vector<uint8_t> order{table[8], table[24], table[40], table[56], table[72]};
    EXPECT_EQ(order, (std::vector<uint8_t>{0x20, 0x51, 0x08, 0x30, 0x09}));
    // One whole entry: static, dynamic, PID, BCR 0x06, DCR, MWL 256 and MRL
    // 256 low byte first, IBI size, configuration.
    EXPECT_EQ(Bytes(table.begin() + 55, table.begin() + 71),
              (Bytes{0, 0x30, 0, 0, 0xAB, 0, 0x02, 0, 0x06, 0, 0, 1, 0, 1, 0, 7}));

    EXPECT_EQ(bus.seam.status(kSetConfiguration, {0x30, 9}), 0);
    EXPECT_EQ(bus.seam.status(kSetConfiguration, {0x31, 9}), 0x0604);
    // A new init starts from RSTDAA: an empty list re-enumerates by ENTDAA alone.
    EXPECT_EQ(bus.seam.status(kInitBus, {0}), 0);
    EXPECT_EQ(bus.address(0x0000AB000300), 0x0A);
    EXPECT_EQ(bus.address(0x0000CD000001), 0x0B);
    EXPECT_EQ(bus.address(0x0000CD000002), 0x0C);
    EXPECT_EQ(bus.seam.status(kResetBus, {}), 0);
    EXPECT_EQ(bus.seam.call(kGetTable, {}).at(6), 0);
    EXPECT_FALSE(bus.address(0x0000AB000100));
}

struct InitCase {
    std::string name;
    std::vector<Bytes> list;
    uint16_t status;
};

class InitBusRefusal : public ::testing::TestWithParam<InitCase> {};

TEST_P(InitBusRefusal, AnswersItsCode) {
    Bus bus("I3C-INIT-" + GetParam().name);
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x100)));
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x200, 0x50)));
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x400, 0x51)));  // never listed
    ASSERT_TRUE(bus.adapter.i3c().attachI2cRegisterMap(0x40));
    bus.up();
    EXPECT_EQ(bus.seam.status(kInitBus, targetList(GetParam().list)), GetParam().status);
}

std::vector<Bytes> manyTargets(size_t count) {
    std::vector<Bytes> list;
    for (size_t i = 0; i < count; ++i) list.push_back(record(0, 0, 0x1000 + i));
    return list;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(VirtualI3c, InitBusRefusal, ::testing::Values(
    InitCase{"MoreThanTheTableHolds", manyTargets(33), 0x0603},
    InitCase{"StaticAddressNotSevenBit", {record(0x78, 0x20, 0x200)}, 0x0606},
    InitCase{"BroadcastAddressWanted", {record(0, 0x7E, 0x100)}, 0x0606},
    InitCase{"AddressOneBitFromBroadcast", {record(0, 0x3E, 0x100)}, 0x0606},
    InitCase{"ReservedLowAddress", {record(0, 0x03, 0x100)}, 0x0606},
    InitCase{"LegacyDeviceAddress", {record(0, 0x40, 0x100)}, 0x0605},
    InitCase{"SetaasaOntoAWantedAddress", {record(0x50, 0, 0x200), record(0, 0x50, 0x100)}, 0x0605},
    InitCase{"EntdaaOntoAnAddressSetaasaGaveAnUnlistedTarget", {record(0x50, 0, 0x200), record(0, 0x51, 0x100)}, 0x0605},
    InitCase{"NoTargetAtStaticAddress", {record(0x52, 0x20, 0x300)}, 0x0608},
    InitCase{"NoTargetTakesItsStaticAddress", {record(0x53, 0x53, 0x300)}, 0x0609},
    InitCase{"ListedIdNeverArbitrates", {record(0, 0x21, 0x999)}, 0x060A}),
    RowName{});
// clang-format on

// SETAASA, in the bus initialisation or on its own, gives a target its
// static address only where that is a valid dynamic address: a target at
// 0x3E (one bit from the broadcast address) is left to ENTDAA.
struct SetaasaCase {
    std::string name;
    uint16_t code;
    Bytes params;
    uint16_t status;
    std::optional<uint8_t> address;  // what the target at 0x3E ends up with
};

class SetaasaOfAnInvalidDynamicAddress : public ::testing::TestWithParam<SetaasaCase> {};

TEST_P(SetaasaOfAnInvalidDynamicAddress, LeavesTheTargetWithoutIt) {
    const SetaasaCase& c = GetParam();
    Bus bus("I3C-AASA-" + c.name);
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x100, 0x3E)));
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x200, 0x51)));
    bus.up();
    EXPECT_EQ(bus.seam.status(c.code, c.params), c.status);
    EXPECT_EQ(bus.address(0x100), c.address);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(VirtualI3c, SetaasaOfAnInvalidDynamicAddress, ::testing::Values(
    SetaasaCase{"InitBusStepForAnotherTarget", kInitBus, targetList({record(0x51, 0, 0x200)}), 0, 0x08},
    SetaasaCase{"CommandForAnotherAddress", kCcc, ccc(0x7E, kWrite, 1, 0x29, 0, {0x51}), 0, std::nullopt},
    SetaasaCase{"CommandListingIt", kCcc, ccc(0x7E, kWrite, 1, 0x29, 0, {0x3E}), 0x0606, std::nullopt}),
    RowName{});
// clang-format on

TEST(VirtualI3c, InitBusOnAnEmptyBusIsNotAcknowledged) {
    Bus bus("I3C-EMPTY");
    EXPECT_EQ(bus.seam.status(kInitBus, targetList({record(0, 0x20, 1)})), 0x0006);
    bus.up();
    EXPECT_EQ(bus.seam.status(kInitBus, targetList({record(0, 0x20, 1)})), 0x0607);
    EXPECT_EQ(bus.seam.status(kInitBus, {0}), 0);
    EXPECT_EQ(bus.seam.status(kInitBus, {1, 0}), 0x0004);  // a record cut short
    EXPECT_EQ(bus.seam.status(kCcc, ccc(0x7E, kWrite, 0, 0x06)), kNackAddress);
}

// The GET codes against one target: BCR 0x27 (IBI with payload, speed
// limits, advanced capabilities), DCR 0xC5, MWL 0x0140, MRL 0x0120, IBI
// payload size 9. GETPID, GETBCR, GETDCR, GETMWL and the whole GETMRL are
// read through the facade in tests/python/test_i3c_bus.py.
struct GetCase {
    std::string name;
    uint8_t control;
    uint8_t length;
    uint8_t code;
    uint8_t defining;
    uint16_t status;
    Bytes data;
};

class CccGet : public ::testing::TestWithParam<GetCase> {};

TEST_P(CccGet, AnswersFromTheTargetsIdentityAndState) {
    Bus bus("I3C-GET-" + GetParam().name);
    I3cTargetOptions options = target(0x0123456789AB);
    options.bcr = 0x27;
    options.dcr = 0xC5;
    options.mwl = 0x0140;
    options.mrl = 0x0120;
    options.maxIbiPayload = 9;
    options.maxDataSpeed = {0x01, 0x02, 0x10, 0x20, 0x03};
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(options));
    bus.up();
    ASSERT_EQ(bus.seam.status(kInitBus, targetList({record(0, 0x0A, 0x0123456789AB)})), 0);
    const GetCase& c = GetParam();
    const Bytes response = bus.seam.call(kCcc, ccc(0x0A, c.control, c.length, c.code, c.defining));
    EXPECT_EQ(u16At(response, 4), c.status);
    EXPECT_EQ(response.at(9), c.data.size());
    EXPECT_EQ(dataOf(response), c.data);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(VirtualI3c, CccGet, ::testing::Values(
    GetCase{"GetmrlCutShortByTheController", kRead, 2, 0x8C, 0, 0, {0x01, 0x20}},
    GetCase{"GetstatusDefiningByteZero", kRead | kWithDefining, 2, 0x90, 0x00, 0, {0, 0}},
    GetCase{"GetstatusControllerFormatFromPlainTarget", kRead | kWithDefining, 2, 0x90, 0x91, kNackAddress, {}},
    GetCase{"GetstatusUnknownFormat", kRead | kWithDefining, 2, 0x90, 0x55, kNackAddress, {}},
    GetCase{"GetcapsHdrDdrAndVersion", kRead, 4, 0x95, 0, 0, {0x01, 0x11, 0x00, 0x00}},
    GetCase{"GetmxdsTurnaroundLowByteFirst", kRead, 5, 0x94, 0, 0, {0x01, 0x02, 0x10, 0x20, 0x03}},
    GetCase{"GetxtimeNoTimingControl", kRead, 4, 0x99, 0, 0, {0, 0, 0, 0}},
    GetCase{"RstactReadsRecoveryTime", kRead | kWithDefining, 1, 0x9A, 0x81, 0, {0x05}},
    GetCase{"RstactReadOfAnActionNotAcknowledged", kRead | kWithDefining, 1, 0x9A, 0x01, kNackAddress, {}},
    GetCase{"GetAsWriteRefused", kWrite, 1, 0x8E, 0, 0x0004, {}},
    GetCase{"UnknownCodeNotAcknowledged", kRead, 1, 0x9F, 0, kNackAddress, {}}),
    RowName{});
// clang-format on

// A target without an IBI payload answers GETMRL with two bytes. (The
// refused IBI size at attach and GETMRL after bring-up are
// tests/python/test_sim_i3c.py's and test_i3c_bus.py's.)
TEST(VirtualI3c, GetmrlWithoutIbiPayloadHasTwoBytes) {
    Bus bus("I3C-GETMRL");
    I3cTargetOptions options = target(0x42);
    options.bcr = 0x02;  // interrupts without payload
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(options));
    bus.up();
    ASSERT_EQ(bus.seam.status(kInitBus, {0}), 0);
    // Even after a SETMRL that names an IBI size, which such a target ignores.
    EXPECT_EQ(bus.seam.status(kCcc, ccc(0x08, kWrite, 3, 0x8A, 0, {0x00, 0x80, 7})), 0);
    const Bytes response = bus.seam.call(kCcc, ccc(0x08, kRead, 3, 0x8C));
    EXPECT_EQ(tail(response), (Bytes{0, 0, 0x08, 0x8C, 0, 2, 0x00, 0x80}));
}

// What raw CCC requests change and refuse. SETMWL, RSTACT with the reset
// pattern, group addresses and activity states go through the facade in
// tests/python/test_i3c_bus.py.
TEST(VirtualI3c, SetCodesChangeTheTargets) {
    Bus bus("I3C-SET");
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x1)));
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x2, 0x50)));
    ASSERT_TRUE(bus.adapter.i3c().attachI2cRegisterMap(0x44));
    bus.up();
    I3cBench& i3c = bus.adapter.i3c();
    bus.seam.expectStatuses({
        {kCcc, ccc(0x7E, kWrite, 0, 0x07), 0},                  // ENTDAA: 0x1 to 0x08, 0x2 to 0x09
        {kCcc, ccc(0x7E, kWrite, 0, 0x07), kNackAddress},       // nobody left
        {kCcc, ccc(0x08, kWrite, 1, 0x88, 0, {0x20 << 1}), 0},  // SETNEWDA
        {kCcc, ccc(0x08, kWrite, 1, 0x88, 0, {0x20 << 1}), kNackAddress},
        {kCcc, ccc(0x20, kWrite, 1, 0x88, 0, {0x09 << 1}), 0x0605},  // taken
        {kCcc, ccc(0x20, kWrite, 1, 0x88, 0, {0x44 << 1}), 0x0605},  // legacy device
        {kCcc, ccc(0x20, kWrite, 1, 0x88, 0, {0x7C << 1}), 0x0606},
        {kCcc, ccc(0x20, kWrite, 2, 0x8A, 0, {0x00, 0x10}), 0},       // SETMRL direct 16
        {kCcc, ccc(0x7E, kWrite | kWithDefining, 1, 0x01, 0x09), 0},  // DISEC IBI|HJ
        {kCcc, ccc(0x09, kWrite, 1, 0x80, 0, {0x01}), 0},             // ENEC IBI direct
        {kCcc, ccc(0x7E, kWrite, 2, 0x0C, 0, {0x00, 0x01}), 0},       // SETBUSCON
        {kCcc, ccc(0x7E, kWrite, 1, 0x28, 0, {0x7F}), 0},             // SETXTIME
        {kCcc, ccc(0x7E, kRead, 1, 0x00), 0x0004},                    // broadcast read
        {kCcc, ccc(0x20, kWrite, 0, 0x06), 0x0004},                   // broadcast code, direct
        {kCcc, ccc(0x7E, kWrite, 1, 0x8E), 0x0004},                   // direct code, broadcast
        {kPattern, {2}, 0x0004},                                      // no such pattern
    });
    EXPECT_EQ(i3c.target(0x1)->mrl, 16);
    EXPECT_EQ(i3c.target(0x1)->events, 0x02);
    EXPECT_EQ(i3c.target(0x2)->events, 0x03);
    EXPECT_FALSE(i3c.controller().hotJoinEnabled);
    EXPECT_EQ(i3c.controller().busContext, 0x00);
    EXPECT_EQ(i3c.deviceTable().at(0).dynamicAddress, 0x20);

    // SETDASA reaches a target by its static address, once it has none else.
    bus.seam.expectStatuses({
        {kCcc, ccc(0x7E, kWrite, 0, 0x06), 0},  // RSTDAA
        {kCcc, ccc(0x50, kWrite, 1, 0x87, 0, {0x44 << 1}), 0x0605},
        {kCcc, ccc(0x50, kWrite, 1, 0x87, 0, {0x31 << 1}), 0},
        {kCcc, ccc(0x50, kWrite, 1, 0x87, 0, {0x32 << 1}), kNackAddress},
        {kCcc, ccc(0x7E, kWrite, 1, 0x29, 0, {0x50}), kNackAddress},  // SETAASA: none left
    });
    EXPECT_EQ(i3c.target(0x2)->dynamicAddress, 0x31);
    ASSERT_EQ(i3c.deviceTable().size(), 1u);
    EXPECT_EQ(i3c.deviceTable()[0].pid, 0x2u);
}

TEST(VirtualI3c, EntdaaCommandHonoursWantedAddressesAndTheTableCapacity) {
    Bus bus("I3C-ENTDAA");
    for (uint64_t pid = 1; pid <= 33; ++pid) {
        ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(pid)));
    }
    bus.up();
    // The wanted list: the id 2 wants 0x60; a repeated wish is refused first.
    EXPECT_EQ(bus.seam.status(kCcc, ccc(0x7E, kWrite, 32, 0x07, 0,
                                        concat(record(0, 0x60, 2), record(0, 0x60, 3)))),
              0x0605);
    EXPECT_EQ(bus.seam.status(kCcc, ccc(0x7E, kWrite, 15, 0x07, 0, Bytes(15, 0))), 0x0004);
    // 32 fit in the table; the 33rd stays without an address.
    EXPECT_EQ(bus.seam.status(kCcc, ccc(0x7E, kWrite, 16, 0x07, 0, record(0, 0x60, 2))), 0x0602);
    EXPECT_EQ(bus.address(1), 0x08);
    EXPECT_EQ(bus.address(2), 0x60);
    EXPECT_EQ(bus.address(3), 0x09);
    EXPECT_FALSE(bus.address(33));
    EXPECT_EQ(bus.adapter.i3c().deviceTable().size(), 32u);
    EXPECT_EQ(bus.seam.status(kCcc, ccc(0x7E, kWrite, 0, 0x07)), 0x0601);
}

// The answers' raw fields and what no SDK call sends. Reads and writes over
// SDR, HDR-DDR and legacy I2C, the MWL and MRL refusals and the read past the
// end of memory go through the facade in tests/python/test_i3c_bus.py.
TEST(VirtualI3c, PrivateTransfersHonourMwlMrlAndTheMemory) {
    Bus bus("I3C-XFER");
    I3cTargetOptions options = target(0x77);
    options.mwl = 8;
    options.mrl = 6;
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(options));
    I3cTargetOptions noHdr = target(0x78);
    noHdr.hdrDdr = false;
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(noHdr));
    ASSERT_TRUE(bus.adapter.i3c().attachI2cEeprom(0x50));
    EXPECT_FALSE(bus.adapter.i3c().attachI2cRegisterMap(0x50));
    EXPECT_EQ(bus.seam.status(kTransfer, transfer(0x08, kSdrRead, 1)), 0x0006);
    bus.up();
    ASSERT_EQ(bus.seam.status(kInitBus, {0}), 0);  // 0x77 at 0x08, 0x78 at 0x09
    Seam& seam = bus.seam;

    // Answer: status, address, 0, byte count. Past MWL the first MWL bytes
    // are taken; past MRL the read stops there and carries what it got.
    EXPECT_EQ(
        tail(seam.call(kTransfer, concat(transfer(0x08, kSdrWrite, 10, {0x00}), Bytes(10, 0x5A)))),
        (Bytes{0x0E, 0x06, 0x08, 0, 8, 0}));
    EXPECT_EQ(tail(seam.call(kTransfer, transfer(0x08, kSdrRead, 7, {0x00}))),
              (Bytes{0x0F, 0x06, 0x08, 0, 6, 0, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}));
    // Without a sub-address the transfer goes on from where the last ended.
    EXPECT_EQ(seam.status(kTransfer, concat(transfer(0x08, kSdrWrite, 2, {0x00, 0x10}), {7, 8})),
              0);
    EXPECT_EQ(seam.status(kTransfer, concat(transfer(0x08, kSdrWrite, 1), {9})), 0);
    EXPECT_EQ(dataOf(seam.call(kTransfer, transfer(0x08, kSdrRead, 3, {0x10}))), (Bytes{7, 8, 9}));

    seam.expectStatuses({
        {kTransfer, transfer(0x0A, kSdrRead, 1), kNackAddress},  // nobody
        {kTransfer, transfer(0x51, kI2cRead, 1), kNackAddress},
        {kTransfer, transfer(0x50, kSdrRead, 1), kNackAddress},            // not an I3C target
        {kTransfer, transfer(0x09, kHdrRead, 2, {}, 0x80), kNackAddress},  // no HDR-DDR
        {kTransfer, transfer(0x08, kHdrRead, 2, {}, 0x10), 0x0004},        // a write command
        {kTransfer, concat(transfer(0x08, kHdrWrite, 2, {}, 0x90), {1, 2}), 0x0004},  // a read one
        {kTransfer, concat(transfer(0x08, kHdrWrite, 3, {}, 0x10), {1, 2, 3}), 0x0004},  // odd
        {kTransfer, transfer(0x08, kHdrRead, 0, {}, 0x90), 0x0004},      // not one word
        {kTransfer, transfer(0x08, 0x07, 1), 0x0004},                    // no mode 3
        {kTransfer, concat(transfer(0x08, kSdrWrite, 3), {1}), 0x0004},  // length and data
        {kTransfer, {0x08, kSdrRead, 0, 5, 1, 2, 3, 4, 1, 0}, 0x0004},   // 5-byte sub
        {kTransfer, transfer(0x08, kSdrRead | 0x08 | 0x10, 1), 0},       // flags accepted
    });
}

// The end of a target's memory (1024 bytes here, filled with a pattern):
// the last step of each row meets it. A write that does not fit is refused
// whole, a read stops there, and nothing wraps to the start.
struct MemoryEndCase {
    std::string name;
    std::vector<Bytes> before;  // transfers that succeed first
    Bytes last;
    Bytes answer;  // the last answer from its status on
};

class VirtualI3cMemoryEnd : public ::testing::TestWithParam<MemoryEndCase> {};

TEST_P(VirtualI3cMemoryEnd, NeverWraps) {
    const MemoryEndCase& c = GetParam();
    Bus bus("I3C-END-" + c.name);
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(target(0x77)));
    ASSERT_TRUE(bus.adapter.i3c().writeMemory(0x77, 0, pattern(1024)));
    bus.up();
    ASSERT_EQ(bus.seam.status(kInitBus, {0}), 0);  // at 0x08
    for (const Bytes& step : c.before) ASSERT_EQ(bus.seam.status(kTransfer, step), 0);
    const Bytes memory = bus.adapter.i3c().memory(0x77);
    EXPECT_EQ(tail(bus.seam.call(kTransfer, c.last)), c.answer);
    EXPECT_EQ(bus.adapter.i3c().memory(0x77), memory);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(VirtualI3c, VirtualI3cMemoryEnd, ::testing::Values(
    MemoryEndCase{"WriteStartingAtTheEnd", {}, concat(transfer(0x08, kSdrWrite, 1, {0x04, 0x00}), {1}), {0x17, 0x06, 0x08, 0, 0, 0}},
    MemoryEndCase{"WriteRunningPastTheEnd", {}, concat(transfer(0x08, kSdrWrite, 4, {0x03, 0xFE}), {1, 2, 3, 4}), {0x17, 0x06, 0x08, 0, 0, 0}},
    MemoryEndCase{"WriteGoingOnFromTheEnd", {concat(transfer(0x08, kSdrWrite, 2, {0x03, 0xFE}), {1, 2})}, concat(transfer(0x08, kSdrWrite, 1), {3}), {0x17, 0x06, 0x08, 0, 0, 0}},
    MemoryEndCase{"ReadStartingAtTheEnd", {}, transfer(0x08, kSdrRead, 2, {0x04, 0x00}), {0x1A, 0x06, 0x08, 0, 0, 0}},
    MemoryEndCase{"ReadGoingOnFromTheEnd", {transfer(0x08, kSdrRead, 2, {0x03, 0xFE})}, transfer(0x08, kSdrRead, 1), {0x1A, 0x06, 0x08, 0, 0, 0}}),
    RowName{});
// clang-format on

// Data moved over bulk, and the incomplete read at the end of memory, go
// through the facade in tests/python/test_i3c_bus.py.
TEST(VirtualI3cBulk, DataMovesOverTheVendorEndpoints) {
    Bus bus("I3C-BULK", Model::Quillex);
    I3cTargetOptions options = target(0x5);
    options.mwl = 4000;
    options.mrl = 4000;
    options.memorySize = 8192;
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(options));
    bus.up();
    ASSERT_EQ(bus.seam.status(kInitBus, {0}), 0);
    Seam& seam = bus.seam;

    // A write is answered once its data arrived.
    seam.write(kTransferBulk, transfer(0x08, kSdrWrite, 3000, {0x00, 0x10}));
    EXPECT_TRUE(seam.quiet());
    ASSERT_EQ(seam.bulkOut(pattern(3000)), 0);
    EXPECT_EQ(tail(*seam.next()), (Bytes{0, 0, 0x08, 0, 0xB8, 0x0B}));
    // Past MRL over bulk: the status alone, nothing left on bulk IN.
    EXPECT_EQ(seam.status(kCcc, ccc(0x08, kWrite, 2, 0x8A, 0, {0x00, 0x10})), 0);
    EXPECT_EQ(tail(seam.call(kTransferBulk, transfer(0x08, kSdrRead, 32, {0x00}))),
              (Bytes{0x0F, 0x06, 0x08, 0, 0, 0}));
    EXPECT_TRUE(seam.bulkIn(1, 20).empty());

    seam.expectStatuses({
        {kTransferBulk, transfer(0x08, kSdrRead, 0), 0x0004},
        {kTransferBulk, transfer(0x08, kSdrRead, 32768), 0x0004},
        {kTransferBulk, transfer(0x08, kHdrRead, 3, {}, 0x80), 0x0004},     // odd
        {kTransferBulk, transfer(0x08, kHdrRead, 1026, {}, 0x80), 0x0004},  // over 1024
        {kTransferBulk, transfer(0x08, kHdrRead, 16, {}, 0x80), 0},
    });
    EXPECT_EQ(seam.bulkIn(16).size(), 16u);

    Bus hidOnly("I3C-NO-BULK", Model::Teranox, false);
    EXPECT_EQ(hidOnly.seam.status(kTransferBulk, transfer(0x08, kSdrRead, 4)), 0x0005);
}

// The outcomes of a raised interrupt, its message on the wire and the
// interrupt held back while disabled. Disabling and enabling by either CCC
// form and hot join go through the facade in tests/python/test_i3c_bus.py,
// an unknown target or one without an address in test_sim_i3c.py.
TEST(VirtualI3c, InterruptsReachTheHostOnlyWhileEnabled) {
    Bus bus("I3C-IBI");
    I3cTargetOptions options = target(0x10);
    options.maxIbiPayload = 3;
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(options));
    I3cTargetOptions plain = target(0x11);
    plain.bcr = 0x00;
    ASSERT_TRUE(bus.adapter.i3c().attachTarget(plain));
    I3cBench& i3c = bus.adapter.i3c();
    bus.up();
    ASSERT_EQ(bus.seam.status(kInitBus, {0}), 0);

    EXPECT_EQ(i3c.raiseIbi(0x10, {0xAA, 0xBB}), I3cEventOutcome::Reported);
    EXPECT_EQ(bus.seam.next(), (Bytes{0, 0, 0x81, 0x19, 0, 0, 0x08, 2, 0xAA, 0xBB}));
    EXPECT_EQ(i3c.raiseIbi(0x10, {1, 2, 3, 4}), I3cEventOutcome::PayloadTooLong);
    EXPECT_EQ(i3c.raiseIbi(0x11, {}), I3cEventOutcome::NotCapable);

    ASSERT_EQ(bus.seam.status(kCcc, ccc(0x08, kWrite, 1, 0x81, 0, {0x01})), 0);  // DISEC IBI
    EXPECT_EQ(i3c.raiseIbi(0x10, {0xCC}), I3cEventOutcome::Disabled);
    EXPECT_TRUE(bus.seam.quiet());
    // The refused interrupt is pending until GETSTATUS reports it.
    EXPECT_EQ(dataOf(bus.seam.call(kCcc, ccc(0x08, kRead, 2, 0x90))), (Bytes{0x00, 0x01}));
    EXPECT_EQ(dataOf(bus.seam.call(kCcc, ccc(0x08, kRead, 2, 0x90))), (Bytes{0x00, 0x00}));
}

struct VoltageCase {
    std::string name;
    uint16_t lvSupply;
    uint16_t hvSupply;
    bool hvConnectorOnly;
    uint16_t code;
    Bytes params;
    uint16_t status;
    uint16_t lvMv;  // measured afterwards
    uint16_t hvMv;
};

class I3cPortVoltage : public ::testing::TestWithParam<VoltageCase> {};

TEST_P(I3cPortVoltage, AnswersAndMeasures) {
    const VoltageCase& c = GetParam();
    Bus bus("I3C-V-" + c.name);
    I3cBench& i3c = bus.adapter.i3c();
    ASSERT_TRUE(i3c.setExternalSupply(0, c.lvSupply));
    ASSERT_TRUE(i3c.setExternalSupply(1, c.hvSupply));
    if (c.hvConnectorOnly) {
        ASSERT_TRUE(i3c.plugConnector(1));
    }
    EXPECT_EQ(bus.seam.status(c.code, c.params), c.status);
    const Bytes analog = bus.seam.call(kAnalog, {});
    EXPECT_EQ(u16At(analog, 8), c.lvMv);
    EXPECT_EQ(u16At(analog, 10), c.hvMv);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(VirtualI3c, I3cPortVoltage, ::testing::Values(
    VoltageCase{"LvPortSet", 0, 0, false, kSetVoltage, le16(1200), 0, 1200, 3300},
    VoltageCase{"LvPortSwitchedOff", 0, 0, false, kSetVoltage, le16(0), 0, 0, 3300},
    VoltageCase{"OutOfRangeOnLv", 0, 0, false, kSetVoltage, le16(2500), 0x0106, 1800, 3300},
    VoltageCase{"HvPortByItsConnector", 0, 0, true, kSetVoltage, le16(2500), 0, 1800, 2500},
    VoltageCase{"OutOfRangeOnHv", 0, 0, true, kSetVoltage, le16(3600), 0x0107, 1800, 3300},
    VoltageCase{"SupplyAlreadyOnThePort", 1500, 0, false, kSetVoltage, le16(1200), 0x0102, 1800, 3300},
    VoltageCase{"ExternalWithoutSupply", 0, 0, false, kUseExternal, {1}, 0x0104, 1800, 3300},
    VoltageCase{"ExternalOnBothPorts", 1200, 3000, false, kUseExternal, {1}, 0x0105, 1800, 3300},
    VoltageCase{"ExternalOnLv", 1500, 0, false, kUseExternal, {1}, 0, 1500, 0},
    VoltageCase{"ExternalOutOfRangeOnHv", 0, 900, false, kUseExternal, {1}, 0x0107, 1800, 3300}),

    RowName{});
// clang-format on

// Routing the voltage of a plugged connector is tests/python/test_sim_i3c.py's.
TEST(VirtualI3c, ConnectorsAreReportedOncePerChange) {
    Bus bus("I3C-CONN");
    I3cBench& i3c = bus.adapter.i3c();
    EXPECT_TRUE(i3c.plugConnector(0, 2));
    EXPECT_FALSE(i3c.plugConnector(0, 1));  // already in
    EXPECT_EQ(tail(*bus.seam.next()), (Bytes{0, 0, 0, 0, 2}));
    EXPECT_TRUE(i3c.unplugConnector(0));
    EXPECT_EQ(bus.seam.next(), (Bytes{0, 0, 0x81, 0x04, 0, 0, 0, 1, 4}));
    EXPECT_TRUE(bus.seam.quiet());
}

}  // namespace
