// SPDX-License-Identifier: MIT
// I3C common command codes. One generic command carries every code; the
// named operations are rows of one table (what the code addresses, how its
// arguments become the payload, what a read asks for and how the reply is
// decoded), read by one encoder and one decoder. Each public method is a
// one-line call into them.

#include <optional>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"
#include "sdk/i3c/I3cCccTable.h"

namespace vantor {

using namespace i3c;
using namespace status;

namespace {

using Direction = I3cTransferDirection;

constexpr size_t kCccRequestBytes = 5;  // parameters before the data

enum class Addressing : uint8_t {
    Broadcast,  // to 0x7E
    Direct,     // to the caller's address
};

// How the arguments become the payload (defining byte and data bytes).
enum class Payload : uint8_t {
    None,                  // nothing
    DefiningByte,          // the value as defining byte (type 1), no data
    OptionalDefiningByte,  // the optional byte as defining byte when given
    Byte,                  // the value as one data byte
    ShiftedAddress,        // the value, a 7-bit address, shifted left by one
    U16,                   // the value, most significant byte first
    U16OptionalByte,       // as U16, then the optional byte when given
    ByteThenList,          // the value, then the caller's byte list
    List,                  // the caller's byte list unchanged
    Targets,               // 16 bytes per target, in list order
};

// What the blocking form makes of the reply.
enum class Decode : uint8_t {
    Status,         // nothing but the status
    ByteList,       // the announced data bytes, as far as present
    U8,             // the byte at offset 10
    U16,            // bytes 10 and 11, most significant first
    Mrl,            // U16 and, when three bytes came back, the IBI size
    ResetReadBack,  // U8 into an optional output, for reads only
};

struct CccOperation {
    CCC code;
    Addressing addressing;
    Payload payload;
    uint8_t readLength;  // bytes a read asks for; 0: the command writes
    uint8_t bareLength;  // length byte of a write that carries no data bytes
    Decode decode;
    bool callerDirection;  // direction taken from the caller (RSTACT direct)
};

constexpr CccOperation write(CCC code, Addressing a, Payload p = Payload::None,
                             uint8_t bareLength = 0) {
    return {code, a, p, 0, bareLength, Decode::Status, false};
}
constexpr CccOperation read(CCC code, uint8_t length, Decode decode, Payload p = Payload::None) {
    return {code, Addressing::Direct, p, length, 0, decode, false};
}

constexpr auto kBc = Addressing::Broadcast;
constexpr auto kDc = Addressing::Direct;

// clang-format off
constexpr CccOperation kRSTDAA         = write(CCC::RSTDAA, kBc);
constexpr CccOperation kENTDAA         = write(CCC::ENTDAA, kBc, Payload::Targets);
constexpr CccOperation kSETAASA        = write(CCC::SETAASA, kBc, Payload::List);
constexpr CccOperation kSETDASA        = write(CCC::SETDASA, kDc, Payload::ShiftedAddress);
constexpr CccOperation kSETNEWDA       = write(CCC::SETNEWDA, kDc, Payload::ShiftedAddress);
constexpr CccOperation kGETPID         = read(CCC::GETPID, 6, Decode::ByteList);
constexpr CccOperation kGETBCR         = read(CCC::GETBCR, 1, Decode::U8);
constexpr CccOperation kGETDCR         = read(CCC::GETDCR, 1, Decode::U8);
constexpr CccOperation kGETSTATUS      = read(CCC::GETSTATUS, 2, Decode::ByteList, Payload::OptionalDefiningByte);
constexpr CccOperation kGETCAPS        = read(CCC::GETCAPS, 4, Decode::ByteList, Payload::OptionalDefiningByte);
constexpr CccOperation kGETMXDS        = read(CCC::GETMXDS, 5, Decode::ByteList);
constexpr CccOperation kGETXTIME       = read(CCC::GETXTIME, 4, Decode::ByteList);
constexpr CccOperation kGETMWL         = read(CCC::GETMWL, 2, Decode::U16);
constexpr CccOperation kGETMRL         = read(CCC::GETMRL, 3, Decode::Mrl);
constexpr CccOperation kSETMWLBc       = write(CCC::SETMWL_BROADCAST, kBc, Payload::U16);
constexpr CccOperation kSETMWLDc       = write(CCC::SETMWL_DIRECT, kDc, Payload::U16);
constexpr CccOperation kSETMRLBc       = write(CCC::SETMRL_BROADCAST, kBc, Payload::U16OptionalByte);
constexpr CccOperation kSETMRLDc       = write(CCC::SETMRL_DIRECT, kDc, Payload::U16OptionalByte);
constexpr CccOperation kENECBc         = write(CCC::ENEC_BROADCAST, kBc, Payload::DefiningByte, 1);
constexpr CccOperation kDISECBc        = write(CCC::DISEC_BROADCAST, kBc, Payload::DefiningByte, 1);
constexpr CccOperation kENECDc         = write(CCC::ENEC_DIRECT, kDc, Payload::Byte);
constexpr CccOperation kDISECDc        = write(CCC::DISEC_DIRECT, kDc, Payload::Byte);
constexpr CccOperation kENTAS0Bc       = write(CCC::ENTAS0_BROADCAST, kBc);
constexpr CccOperation kENTAS1Bc       = write(CCC::ENTAS1_BROADCAST, kBc);
constexpr CccOperation kENTAS2Bc       = write(CCC::ENTAS2_BROADCAST, kBc);
constexpr CccOperation kENTAS3Bc       = write(CCC::ENTAS3_BROADCAST, kBc);
constexpr CccOperation kENTAS0Dc       = write(CCC::ENTAS0_DIRECT, kDc);
constexpr CccOperation kENTAS1Dc       = write(CCC::ENTAS1_DIRECT, kDc);
constexpr CccOperation kENTAS2Dc       = write(CCC::ENTAS2_DIRECT, kDc);
constexpr CccOperation kENTAS3Dc       = write(CCC::ENTAS3_DIRECT, kDc);
constexpr CccOperation kRSTACTBc       = write(CCC::RSTACT_BROADCAST, kBc, Payload::DefiningByte, 1);
constexpr CccOperation kRSTACTDc       = {CCC::RSTACT_DIRECT, kDc, Payload::DefiningByte, 1, 0, Decode::ResetReadBack, true};
constexpr CccOperation kRSTGRPABc      = write(CCC::RSTGRPA_BROADCAST, kBc);
constexpr CccOperation kRSTGRPADc      = write(CCC::RSTGRPA_DIRECT, kDc);
constexpr CccOperation kSETGRPADc      = write(CCC::SETGRPA, kDc, Payload::ShiftedAddress);
constexpr CccOperation kSETXTIMEBc     = write(CCC::SETXTIME_BROADCAST, kBc, Payload::ByteThenList);
constexpr CccOperation kSETXTIMEDc     = write(CCC::SETXTIME_DIRECT, kDc, Payload::ByteThenList);
constexpr CccOperation kSETBUSCONBc    = write(CCC::SETBUSCON, kBc, Payload::ByteThenList);
// clang-format on

const char* payloadName(Payload p) {
    switch (p) {
        case Payload::None:
            return "none";
        case Payload::DefiningByte:
            return "defining_byte";
        case Payload::OptionalDefiningByte:
            return "optional_defining_byte";
        case Payload::Byte:
            return "byte";
        case Payload::ShiftedAddress:
            return "shifted_address";
        case Payload::U16:
            return "u16";
        case Payload::U16OptionalByte:
            return "u16_optional_byte";
        case Payload::ByteThenList:
            return "byte_then_list";
        case Payload::List:
            return "list";
        case Payload::Targets:
            return "targets";
    }
    return "";
}

const char* decodeName(Decode d) {
    switch (d) {
        case Decode::Status:
            return "status";
        case Decode::ByteList:
            return "byte_list";
        case Decode::U8:
            return "u8";
        case Decode::U16:
            return "u16";
        case Decode::Mrl:
            return "mrl";
        case Decode::ResetReadBack:
            return "reset_read_back";
    }
    return "";
}

NamedCcc named(const char* name, const CccOperation& op, const char* value = "byte") {
    const char* direction = op.callerDirection ? "caller" : op.readLength != 0 ? "read" : "write";
    return {name,          static_cast<uint8_t>(op.code), op.addressing == Addressing::Broadcast,
            direction,     payloadName(op.payload),       value,
            op.readLength, decodeName(op.decode)};
}

}  // namespace

// One entry per row above; a row left out here is an operation tools do not
// offer (the Python tests check that every facade method is listed).
const std::vector<NamedCcc>& namedCccOperations() {
    // clang-format off
    static const std::vector<NamedCcc> table = {
        named("rstdaa", kRSTDAA),           named("entdaa", kENTDAA),
        named("setaasa", kSETAASA),         named("setdasa", kSETDASA),
        named("setnewda", kSETNEWDA),       named("getpid", kGETPID),
        named("getbcr", kGETBCR),           named("getdcr", kGETDCR),
        named("getstatus", kGETSTATUS),     named("getcaps", kGETCAPS),
        named("getmxds", kGETMXDS),         named("getxtime", kGETXTIME),
        named("getmwl", kGETMWL),           named("getmrl", kGETMRL),
        named("setmwl", kSETMWLBc),         named("setmwl", kSETMWLDc),
        named("setmrl", kSETMRLBc),         named("setmrl", kSETMRLDc),
        named("enec", kENECBc, "events"),   named("disec", kDISECBc, "events"),
        named("enec", kENECDc, "events"),   named("disec", kDISECDc, "events"),
        named("entas0", kENTAS0Bc),         named("entas1", kENTAS1Bc),
        named("entas2", kENTAS2Bc),         named("entas3", kENTAS3Bc),
        named("entas0", kENTAS0Dc),         named("entas1", kENTAS1Dc),
        named("entas2", kENTAS2Dc),         named("entas3", kENTAS3Dc),
        named("rstact", kRSTACTBc, "reset_action"),
        named("rstact", kRSTACTDc, "reset_action"),
        named("rstgrpa", kRSTGRPABc),       named("rstgrpa", kRSTGRPADc),
        named("setgrpa", kSETGRPADc),       named("setxtime", kSETXTIMEBc),
        named("setxtime", kSETXTIMEDc),     named("setbuscon", kSETBUSCONBc),
    };
    // clang-format on
    return table;
}

namespace {

// The caller's inputs of one named operation; each row reads the fields its
// payload names.
struct CccArguments {
    uint8_t address = 0;
    unsigned value = 0;
    std::optional<uint8_t> optional;
    const std::vector<uint8_t>* list = nullptr;
    const std::vector<I3cTargetInfo>* targets = nullptr;
    Direction direction = Direction::WRITE;
    I3cTransferFlags flags = I3cTransferFlags::NONE;

    CccArguments& to(uint8_t a) {
        address = a;
        return *this;
    }
    CccArguments& with(unsigned v) {
        value = v;
        return *this;
    }
    CccArguments& withOptional(std::optional<uint8_t> o) {
        optional = o;
        return *this;
    }
    CccArguments& withList(const std::vector<uint8_t>& l) {
        list = &l;
        return *this;
    }
    CccArguments& withTargets(const std::vector<I3cTargetInfo>& t) {
        targets = &t;
        return *this;
    }
    CccArguments& inDirection(Direction d) {
        direction = d;
        return *this;
    }
};

CccArguments flags(I3cTransferFlags f) {
    CccArguments a;
    a.flags = f;
    return a;
}

uint8_t low(unsigned value) {
    return static_cast<uint8_t>(value & 0xFF);
}

Direction directionOf(const CccOperation& op, const CccArguments& in) {
    if (op.callerDirection) return in.direction;
    return op.readLength != 0 ? Direction::READ : Direction::WRITE;
}

// The encoder: the generic command's arguments for one row and its inputs.
uint16_t encode(VantorAsyncSDK& sdk, uint16_t transactionId, const CccOperation& op,
                const CccArguments& in) {
    if (!sdk.isConnected()) return kDisconnect;
    std::vector<uint8_t> data;
    I3cCccType type = I3cCccType::WITHOUT_DEFINING_BYTE;
    uint8_t definingByte = 0;
    switch (op.payload) {
        case Payload::None:
            break;
        case Payload::DefiningByte:
            type = I3cCccType::WITH_DEFINING_BYTE;
            definingByte = low(in.value);
            break;
        case Payload::OptionalDefiningByte:
            if (in.optional) {
                type = I3cCccType::WITH_DEFINING_BYTE;
                definingByte = *in.optional;
            }
            break;
        case Payload::Byte:
            data = {low(in.value)};
            break;
        case Payload::ShiftedAddress:
            // Shifted into one byte, a wider value would name another address.
            if (in.value > kMaxAddress) return kWrongRequest;
            data = {low(in.value << 1)};
            break;
        case Payload::U16:
        case Payload::U16OptionalByte:
            data = {low(in.value >> 8), low(in.value)};
            if (op.payload == Payload::U16OptionalByte && in.optional) {
                data.push_back(*in.optional);
            }
            break;
        case Payload::ByteThenList:
            data = {low(in.value)};
            data.insert(data.end(), in.list->begin(), in.list->end());
            break;
        case Payload::List:
            data = *in.list;
            break;
        case Payload::Targets:
            // Checked before the copy: the length byte counts 16 per target.
            if (in.targets->size() > kMaxEntdaaTargets) return kWrongRequest;
            data.assign(reinterpret_cast<const uint8_t*>(in.targets->data()),
                        reinterpret_cast<const uint8_t*>(in.targets->data() + in.targets->size()));
            break;
    }
    const Direction direction = directionOf(op, in);
    uint8_t length = op.bareLength;
    if (direction == Direction::READ) {
        length = op.readLength;
    } else if (!data.empty()) {
        length = low(static_cast<unsigned>(data.size() & 0xFF));
    }
    const uint8_t address = op.addressing == Addressing::Broadcast ? kBroadcastAddress : in.address;
    // Data longer than the length byte can describe is refused here.
    return sdk.i3cCccTransfer(transactionId, address, direction, I3cTransferMode::SDR, in.flags,
                              type, length, op.code, definingByte, data);
}

// The generic command as each decoder needs its reply: how many parameter
// bytes must be present, and what a shorter reply yields.
constexpr CommandInfo kCccStatusOnly = statusOnlyCommand(kCccCode);
constexpr CommandInfo kCccData = commandWithResponse(kCccCode, 0);
constexpr CommandInfo kCccU8 =
    commandWithResponse(kCccCode, kCccDataOffset + 1 - kResponseHeaderSize, ShortResponse::Status);
constexpr CommandInfo kCccU16 =
    commandWithResponse(kCccCode, kCccDataOffset + 2 - kResponseHeaderSize, ShortResponse::Status);
constexpr size_t kMrlWithIbiSize = 3;

// Where the blocking form writes what it decodes.
struct CccOutputs {
    std::vector<uint8_t>* list = nullptr;
    uint8_t* u8 = nullptr;
    uint16_t* u16 = nullptr;
    std::optional<uint8_t>* optional = nullptr;
};

// The decoder: sends the row through the request engine and fills the
// outputs as the row's decoding says.
template <typename Impl>
uint16_t transactCcc(Impl& impl, const CccOperation& op, const CccArguments& in,
                     const CccOutputs& out) {
    using Response = typename Impl::Response;
    auto send = [&](uint16_t id) { return encode(*impl.async, id, op, in); };
    auto u16At = [](const Response& r, size_t offset) {
        return static_cast<uint16_t>(r.u8(offset) << 8 | r.u8(offset + 1));
    };
    switch (op.decode) {
        case Decode::Status:
            break;
        case Decode::ByteList:
            // Filled whatever the status; empty when no count is present.
            return impl.transact(kCccData, send, [&](const Response& r) {
                impl.assignResponsePayload(kCccDataOffset, r.u8(kCccCountOffset), *out.list);
            });
        case Decode::U8:
            return impl.transact(kCccU8, send,
                                 [&](const Response& r) { *out.u8 = r.u8(kCccDataOffset); });
        case Decode::U16:
            return impl.transact(kCccU16, send,
                                 [&](const Response& r) { *out.u16 = u16At(r, kCccDataOffset); });
        case Decode::Mrl:
            return impl.transact(kCccU16, send, [&](const Response& r) -> uint16_t {
                if (r.u8(kCccCountOffset) != kMrlWithIbiSize) {
                    *out.u16 = u16At(r, kCccDataOffset);
                    out.optional->reset();
                    return r.status();
                }
                if (r.size() < kCccDataOffset + kMrlWithIbiSize) return impl.shortResponseStatus();
                *out.u16 = u16At(r, kCccDataOffset);
                *out.optional = r.u8(kCccDataOffset + 2);
                return r.status();
            });
        case Decode::ResetReadBack:
            if (directionOf(op, in) != Direction::READ || out.optional == nullptr) break;
            return impl.transact(kCccU8, send,
                                 [&](const Response& r) { *out.optional = r.u8(kCccDataOffset); });
    }
    return impl.transact(kCccStatusOnly, send);
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::i3cCccTransfer(uint16_t transactionId, uint8_t address,
                                        I3cTransferDirection direction, I3cTransferMode mode,
                                        I3cTransferFlags flags, I3cCccType cccType, uint8_t length,
                                        CCC ccc, uint8_t definingByte,
                                        const std::vector<uint8_t>& data) {
    if (!connected_) return kDisconnect;
    if (!data.empty() && direction == Direction::READ) return kWrongRequest;
    // The data must fit the one-byte length the named operations derive.
    if (data.size() > kMaxCccData) return kWrongRequest;
    return send(RequestBuilder(transactionId, kCccStatusOnly, kCccRequestBytes + data.size())
                    .u8(address)
                    .u8(cccControl(direction, mode, flags, cccType))
                    .u8(length)
                    .u8(static_cast<uint8_t>(ccc))
                    .u8(definingByte)
                    .bytes(data)
                    .message());
}

// clang-format off
uint16_t VantorAsyncSDK::i3cCccRSTDAA(uint16_t id, I3cTransferFlags f) { return encode(*this, id, kRSTDAA, flags(f)); }
uint16_t VantorAsyncSDK::i3cCccENTDAA(uint16_t id, std::vector<I3cTargetInfo> targets) { return encode(*this, id, kENTDAA, flags(I3cTransferFlags::NONE).withTargets(targets)); }
uint16_t VantorAsyncSDK::i3cCccSETAASA(uint16_t id, const std::vector<uint8_t>& addresses, I3cTransferFlags f) { return encode(*this, id, kSETAASA, flags(f).withList(addresses)); }
uint16_t VantorAsyncSDK::i3cCccSETDASA(uint16_t id, uint8_t staticAddress, uint8_t dynamicAddress, I3cTransferFlags f) { return encode(*this, id, kSETDASA, flags(f).to(staticAddress).with(dynamicAddress)); }
uint16_t VantorAsyncSDK::i3cCccSETNEWDA(uint16_t id, uint8_t oldAddress, uint8_t newAddress, I3cTransferFlags f) { return encode(*this, id, kSETNEWDA, flags(f).to(oldAddress).with(newAddress)); }
uint16_t VantorAsyncSDK::i3cCccGETPID(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kGETPID, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccGETBCR(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kGETBCR, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccGETDCR(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kGETDCR, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccGETSTATUS(uint16_t id, uint8_t address, std::optional<uint8_t> definingByte, I3cTransferFlags f) { return encode(*this, id, kGETSTATUS, flags(f).to(address).withOptional(definingByte)); }
uint16_t VantorAsyncSDK::i3cCccGETCAPS(uint16_t id, uint8_t address, std::optional<uint8_t> definingByte, I3cTransferFlags f) { return encode(*this, id, kGETCAPS, flags(f).to(address).withOptional(definingByte)); }
uint16_t VantorAsyncSDK::i3cCccGETMXDS(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kGETMXDS, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccGETXTIME(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kGETXTIME, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccGETMWL(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kGETMWL, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccGETMRL(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kGETMRL, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccSETMWLBroadcast(uint16_t id, uint16_t mwl, I3cTransferFlags f) { return encode(*this, id, kSETMWLBc, flags(f).with(mwl)); }
uint16_t VantorAsyncSDK::i3cCccSETMWLDirect(uint16_t id, uint8_t address, uint16_t mwl, I3cTransferFlags f) { return encode(*this, id, kSETMWLDc, flags(f).to(address).with(mwl)); }
uint16_t VantorAsyncSDK::i3cCccSETMRLBroadcast(uint16_t id, uint16_t mrl, std::optional<uint8_t> ibi, I3cTransferFlags f) { return encode(*this, id, kSETMRLBc, flags(f).with(mrl).withOptional(ibi)); }
uint16_t VantorAsyncSDK::i3cCccSETMRLDirect(uint16_t id, uint8_t address, uint16_t mrl, std::optional<uint8_t> ibi, I3cTransferFlags f) { return encode(*this, id, kSETMRLDc, flags(f).to(address).with(mrl).withOptional(ibi)); }
uint16_t VantorAsyncSDK::i3cCccENECBroadcast(uint16_t id, uint8_t events, I3cTransferFlags f) { return encode(*this, id, kENECBc, flags(f).with(events)); }
uint16_t VantorAsyncSDK::i3cCccDISECBroadcast(uint16_t id, uint8_t events, I3cTransferFlags f) { return encode(*this, id, kDISECBc, flags(f).with(events)); }
uint16_t VantorAsyncSDK::i3cCccENECDirect(uint16_t id, uint8_t address, uint8_t events, I3cTransferFlags f) { return encode(*this, id, kENECDc, flags(f).to(address).with(events)); }
uint16_t VantorAsyncSDK::i3cCccDISECDirect(uint16_t id, uint8_t address, uint8_t events, I3cTransferFlags f) { return encode(*this, id, kDISECDc, flags(f).to(address).with(events)); }
uint16_t VantorAsyncSDK::i3cCccENTAS0Broadcast(uint16_t id, I3cTransferFlags f) { return encode(*this, id, kENTAS0Bc, flags(f)); }
uint16_t VantorAsyncSDK::i3cCccENTAS1Broadcast(uint16_t id, I3cTransferFlags f) { return encode(*this, id, kENTAS1Bc, flags(f)); }
uint16_t VantorAsyncSDK::i3cCccENTAS2Broadcast(uint16_t id, I3cTransferFlags f) { return encode(*this, id, kENTAS2Bc, flags(f)); }
uint16_t VantorAsyncSDK::i3cCccENTAS3Broadcast(uint16_t id, I3cTransferFlags f) { return encode(*this, id, kENTAS3Bc, flags(f)); }
uint16_t VantorAsyncSDK::i3cCccENTAS0Direct(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kENTAS0Dc, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccENTAS1Direct(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kENTAS1Dc, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccENTAS2Direct(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kENTAS2Dc, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccENTAS3Direct(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kENTAS3Dc, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccRSTACTBroadcast(uint16_t id, I3cTargetResetDefByte defByte, I3cTransferFlags f) { return encode(*this, id, kRSTACTBc, flags(f).with(static_cast<unsigned>(defByte))); }
uint16_t VantorAsyncSDK::i3cCccRSTACTDirect(uint16_t id, uint8_t address, I3cTargetResetDefByte defByte, I3cTransferDirection direction, I3cTransferFlags f) { return encode(*this, id, kRSTACTDc, flags(f).to(address).with(static_cast<unsigned>(defByte)).inDirection(direction)); }
uint16_t VantorAsyncSDK::i3cCccRSTGRPABroadcast(uint16_t id, I3cTransferFlags f) { return encode(*this, id, kRSTGRPABc, flags(f)); }
uint16_t VantorAsyncSDK::i3cCccRSTGRPADirect(uint16_t id, uint8_t address, I3cTransferFlags f) { return encode(*this, id, kRSTGRPADc, flags(f).to(address)); }
uint16_t VantorAsyncSDK::i3cCccSETGRPADirect(uint16_t id, uint8_t address, uint8_t group, I3cTransferFlags f) { return encode(*this, id, kSETGRPADc, flags(f).to(address).with(group)); }
uint16_t VantorAsyncSDK::i3cCccSETXTIMEBroadcast(uint16_t id, uint8_t subCommand, const std::vector<uint8_t>& extra, I3cTransferFlags f) { return encode(*this, id, kSETXTIMEBc, flags(f).with(subCommand).withList(extra)); }
uint16_t VantorAsyncSDK::i3cCccSETXTIMEDirect(uint16_t id, uint8_t address, uint8_t subCommand, const std::vector<uint8_t>& extra, I3cTransferFlags f) { return encode(*this, id, kSETXTIMEDc, flags(f).to(address).with(subCommand).withList(extra)); }
uint16_t VantorAsyncSDK::i3cCccSETBUSCONBroadcast(uint16_t id, uint8_t context, const std::vector<uint8_t>& extra, I3cTransferFlags f) { return encode(*this, id, kSETBUSCONBc, flags(f).with(context).withList(extra)); }
// clang-format on

// ------------------------------------------------------------- synchronous

namespace {
CccOutputs listOut(std::vector<uint8_t>& v) {
    CccOutputs o;
    o.list = &v;
    return o;
}
CccOutputs u8Out(uint8_t& v) {
    CccOutputs o;
    o.u8 = &v;
    return o;
}
CccOutputs u16Out(uint16_t& v, std::optional<uint8_t>* optional = nullptr) {
    CccOutputs o;
    o.u16 = &v;
    o.optional = optional;
    return o;
}
CccOutputs optionalOut(std::optional<uint8_t>& v) {
    CccOutputs o;
    o.optional = &v;
    return o;
}
const CccOutputs kNoOutput{};
}  // namespace

// clang-format off
uint16_t VantorSDK::i3cCccRSTDAA(I3cTransferFlags f) { return transactCcc(*impl_, kRSTDAA, flags(f), kNoOutput); }
uint16_t VantorSDK::i3cCccENTDAA(std::vector<I3cTargetInfo> targets) { return transactCcc(*impl_, kENTDAA, flags(I3cTransferFlags::NONE).withTargets(targets), kNoOutput); }
uint16_t VantorSDK::i3cCccSETAASA(const std::vector<uint8_t>& addresses, I3cTransferFlags f) { return transactCcc(*impl_, kSETAASA, flags(f).withList(addresses), kNoOutput); }
uint16_t VantorSDK::i3cCccSETDASA(uint8_t staticAddress, uint8_t dynamicAddress, I3cTransferFlags f) { return transactCcc(*impl_, kSETDASA, flags(f).to(staticAddress).with(dynamicAddress), kNoOutput); }
uint16_t VantorSDK::i3cCccSETNEWDA(uint8_t oldAddress, uint8_t newAddress, I3cTransferFlags f) { return transactCcc(*impl_, kSETNEWDA, flags(f).to(oldAddress).with(newAddress), kNoOutput); }
uint16_t VantorSDK::i3cCccGETPID(uint8_t address, std::vector<uint8_t>& pid, I3cTransferFlags f) { return transactCcc(*impl_, kGETPID, flags(f).to(address), listOut(pid)); }
uint16_t VantorSDK::i3cCccGETBCR(uint8_t address, uint8_t& bcr, I3cTransferFlags f) { return transactCcc(*impl_, kGETBCR, flags(f).to(address), u8Out(bcr)); }
uint16_t VantorSDK::i3cCccGETDCR(uint8_t address, uint8_t& dcr, I3cTransferFlags f) { return transactCcc(*impl_, kGETDCR, flags(f).to(address), u8Out(dcr)); }
uint16_t VantorSDK::i3cCccGETSTATUS(uint8_t address, std::optional<uint8_t> definingByte, std::vector<uint8_t>& out, I3cTransferFlags f) { return transactCcc(*impl_, kGETSTATUS, flags(f).to(address).withOptional(definingByte), listOut(out)); }
uint16_t VantorSDK::i3cCccGETCAPS(uint8_t address, std::optional<uint8_t> definingByte, std::vector<uint8_t>& out, I3cTransferFlags f) { return transactCcc(*impl_, kGETCAPS, flags(f).to(address).withOptional(definingByte), listOut(out)); }
uint16_t VantorSDK::i3cCccGETMXDS(uint8_t address, std::vector<uint8_t>& out, I3cTransferFlags f) { return transactCcc(*impl_, kGETMXDS, flags(f).to(address), listOut(out)); }
uint16_t VantorSDK::i3cCccGETXTIME(uint8_t address, std::vector<uint8_t>& out, I3cTransferFlags f) { return transactCcc(*impl_, kGETXTIME, flags(f).to(address), listOut(out)); }
uint16_t VantorSDK::i3cCccGETMWL(uint8_t address, uint16_t& mwl, I3cTransferFlags f) { return transactCcc(*impl_, kGETMWL, flags(f).to(address), u16Out(mwl)); }
uint16_t VantorSDK::i3cCccGETMRL(uint8_t address, uint16_t& mrl, std::optional<uint8_t>& ibi, I3cTransferFlags f) { return transactCcc(*impl_, kGETMRL, flags(f).to(address), u16Out(mrl, &ibi)); }
uint16_t VantorSDK::i3cCccSETMWLBroadcast(uint16_t mwl, I3cTransferFlags f) { return transactCcc(*impl_, kSETMWLBc, flags(f).with(mwl), kNoOutput); }
uint16_t VantorSDK::i3cCccSETMWLDirect(uint8_t address, uint16_t mwl, I3cTransferFlags f) { return transactCcc(*impl_, kSETMWLDc, flags(f).to(address).with(mwl), kNoOutput); }
uint16_t VantorSDK::i3cCccSETMRLBroadcast(uint16_t mrl, std::optional<uint8_t> ibi, I3cTransferFlags f) { return transactCcc(*impl_, kSETMRLBc, flags(f).with(mrl).withOptional(ibi), kNoOutput); }
uint16_t VantorSDK::i3cCccSETMRLDirect(uint8_t address, uint16_t mrl, std::optional<uint8_t> ibi, I3cTransferFlags f) { return transactCcc(*impl_, kSETMRLDc, flags(f).to(address).with(mrl).withOptional(ibi), kNoOutput); }
uint16_t VantorSDK::i3cCccENECBroadcast(uint8_t events, I3cTransferFlags f) { return transactCcc(*impl_, kENECBc, flags(f).with(events), kNoOutput); }
uint16_t VantorSDK::i3cCccDISECBroadcast(uint8_t events, I3cTransferFlags f) { return transactCcc(*impl_, kDISECBc, flags(f).with(events), kNoOutput); }
uint16_t VantorSDK::i3cCccENECDirect(uint8_t address, uint8_t events, I3cTransferFlags f) { return transactCcc(*impl_, kENECDc, flags(f).to(address).with(events), kNoOutput); }
uint16_t VantorSDK::i3cCccDISECDirect(uint8_t address, uint8_t events, I3cTransferFlags f) { return transactCcc(*impl_, kDISECDc, flags(f).to(address).with(events), kNoOutput); }
uint16_t VantorSDK::i3cCccENTAS0Broadcast(I3cTransferFlags f) { return transactCcc(*impl_, kENTAS0Bc, flags(f), kNoOutput); }
uint16_t VantorSDK::i3cCccENTAS1Broadcast(I3cTransferFlags f) { return transactCcc(*impl_, kENTAS1Bc, flags(f), kNoOutput); }
uint16_t VantorSDK::i3cCccENTAS2Broadcast(I3cTransferFlags f) { return transactCcc(*impl_, kENTAS2Bc, flags(f), kNoOutput); }
uint16_t VantorSDK::i3cCccENTAS3Broadcast(I3cTransferFlags f) { return transactCcc(*impl_, kENTAS3Bc, flags(f), kNoOutput); }
uint16_t VantorSDK::i3cCccENTAS0Direct(uint8_t address, I3cTransferFlags f) { return transactCcc(*impl_, kENTAS0Dc, flags(f).to(address), kNoOutput); }
uint16_t VantorSDK::i3cCccENTAS1Direct(uint8_t address, I3cTransferFlags f) { return transactCcc(*impl_, kENTAS1Dc, flags(f).to(address), kNoOutput); }
uint16_t VantorSDK::i3cCccENTAS2Direct(uint8_t address, I3cTransferFlags f) { return transactCcc(*impl_, kENTAS2Dc, flags(f).to(address), kNoOutput); }
uint16_t VantorSDK::i3cCccENTAS3Direct(uint8_t address, I3cTransferFlags f) { return transactCcc(*impl_, kENTAS3Dc, flags(f).to(address), kNoOutput); }
uint16_t VantorSDK::i3cCccRSTACTBroadcast(I3cTargetResetDefByte defByte, I3cTransferFlags f) { return transactCcc(*impl_, kRSTACTBc, flags(f).with(static_cast<unsigned>(defByte)), kNoOutput); }
uint16_t VantorSDK::i3cCccRSTACTDirect(uint8_t address, I3cTargetResetDefByte defByte, I3cTransferDirection direction, std::optional<uint8_t>& readBack, I3cTransferFlags f) { return transactCcc(*impl_, kRSTACTDc, flags(f).to(address).with(static_cast<unsigned>(defByte)).inDirection(direction), optionalOut(readBack)); }
uint16_t VantorSDK::i3cCccRSTGRPABroadcast(I3cTransferFlags f) { return transactCcc(*impl_, kRSTGRPABc, flags(f), kNoOutput); }
uint16_t VantorSDK::i3cCccRSTGRPADirect(uint8_t address, I3cTransferFlags f) { return transactCcc(*impl_, kRSTGRPADc, flags(f).to(address), kNoOutput); }
uint16_t VantorSDK::i3cCccSETGRPADirect(uint8_t address, uint8_t group, I3cTransferFlags f) { return transactCcc(*impl_, kSETGRPADc, flags(f).to(address).with(group), kNoOutput); }
uint16_t VantorSDK::i3cCccSETXTIMEBroadcast(uint8_t subCommand, const std::vector<uint8_t>& extra, I3cTransferFlags f) { return transactCcc(*impl_, kSETXTIMEBc, flags(f).with(subCommand).withList(extra), kNoOutput); }
uint16_t VantorSDK::i3cCccSETXTIMEDirect(uint8_t address, uint8_t subCommand, const std::vector<uint8_t>& extra, I3cTransferFlags f) { return transactCcc(*impl_, kSETXTIMEDc, flags(f).to(address).with(subCommand).withList(extra), kNoOutput); }
uint16_t VantorSDK::i3cCccSETBUSCONBroadcast(uint8_t context, const std::vector<uint8_t>& extra, I3cTransferFlags f) { return transactCcc(*impl_, kSETBUSCONBc, flags(f).with(context).withList(extra), kNoOutput); }
// clang-format on

}  // namespace vantor
