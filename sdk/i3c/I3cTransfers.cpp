// SPDX-License-Identifier: MIT
// I3C private transfers: SDR, HDR-DDR and legacy I2C writes and reads, with
// the data inside the command (HID) or on the vendor bulk interface.

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorSDKImpl.h"

namespace vantor {

using namespace i3c;
using namespace status;

namespace {

using Direction = I3cTransferDirection;
using Mode = I3cTransferMode;

const std::vector<uint8_t> kNoSubaddress;

// A read that ended early: its bytes are delivered with the status.
constexpr uint16_t kIncompleteRead = toU16(StatusCode::FW_I3C_TRANSFER_INCOMPLETE_READ);

// What one transfer operation is: its mode and direction, and whether its
// data moves over the bulk interface.
struct TransferKind {
    Mode mode;
    Direction direction;
    bool bulk;

    const CommandInfo& command() const { return bulk ? kTransferBulk : kTransfer; }
};

// The 14-byte request every transfer starts with: address, control byte,
// HDR-DDR command, sub-address length and four sub-address bytes (zero
// padded), data length. `extra` reserves room for inline data.
RequestBuilder transferHeader(uint16_t transactionId, const TransferKind& kind, uint8_t address,
                              uint8_t hdrCommand, const std::vector<uint8_t>& subaddress,
                              uint16_t length, I3cTransferFlags flags, size_t extra = 0) {
    RequestBuilder request(transactionId, kind.command(), kTransferHeaderBytes + extra);
    request.u8(address)
        .u8(transferControl(kind.direction, kind.mode, flags))
        .u8(hdrCommand)
        .u8(static_cast<uint8_t>(subaddress.size()))
        .bytes(subaddress)
        .fill(kMaxSubaddressBytes - subaddress.size())
        .u16(length);
    return request;
}

// HDR-DDR lengths are whole words, HID and bulk alike.
bool hdrDdrLengthAccepted(size_t length) {
    return length >= kHdrDdrWordBytes && length % kHdrDdrWordBytes == 0;
}

// Data lengths a bulk transfer of this mode may move.
bool bulkLengthAccepted(Mode mode, size_t length) {
    if (mode == Mode::HDR_DDR) return hdrDdrLengthAccepted(length) && length <= kHdrDdrBulkMax;
    return length >= 1 && length <= I3C_BULK_MAX_PAYLOAD;
}

// The checks every transfer makes before building anything; `length` is the
// data size of a write or the requested length of a read.
uint16_t checkTransfer(const VantorAsyncSDK& sdk, const TransferKind& kind,
                       const std::vector<uint8_t>& subaddress, size_t length) {
    if (!sdk.isConnected()) return kDisconnect;
    if (kind.bulk && !sdk.isBulkTransportAvailable()) return kBulkUnavailable;
    if (subaddress.size() > kMaxSubaddressBytes) return kWrongRequest;
    if (kind.bulk) return bulkLengthAccepted(kind.mode, length) ? kSuccess : kWrongRequest;
    if (kind.mode == Mode::HDR_DDR && !hdrDdrLengthAccepted(length)) return kWrongRequest;
    // A HID write announces its data in a u16.
    if (kind.direction == Direction::WRITE && length > kMaxHidWriteData) return kWrongRequest;
    return kSuccess;
}

constexpr TransferKind kSdrWrite{Mode::SDR, Direction::WRITE, false};
constexpr TransferKind kSdrRead{Mode::SDR, Direction::READ, false};
constexpr TransferKind kHdrWrite{Mode::HDR_DDR, Direction::WRITE, false};
constexpr TransferKind kHdrRead{Mode::HDR_DDR, Direction::READ, false};
constexpr TransferKind kLegacyWrite{Mode::LEGACY_I2C, Direction::WRITE, false};
constexpr TransferKind kLegacyRead{Mode::LEGACY_I2C, Direction::READ, false};
constexpr TransferKind kSdrWriteBulk{Mode::SDR, Direction::WRITE, true};
constexpr TransferKind kSdrReadBulk{Mode::SDR, Direction::READ, true};
constexpr TransferKind kHdrWriteBulk{Mode::HDR_DDR, Direction::WRITE, true};
constexpr TransferKind kHdrReadBulk{Mode::HDR_DDR, Direction::READ, true};
constexpr TransferKind kLegacyWriteBulk{Mode::LEGACY_I2C, Direction::WRITE, true};
constexpr TransferKind kLegacyReadBulk{Mode::LEGACY_I2C, Direction::READ, true};

// A transfer request, or the status that refused it.
struct TransferRequest {
    uint16_t status;
    std::vector<uint8_t> message;
};

// A write: HID writes carry their data after the header, bulk writes send it
// as the data phase (not part of `message`).
TransferRequest writeRequest(const VantorAsyncSDK& sdk, const TransferKind& kind,
                             uint16_t transactionId, uint8_t address, uint8_t hdrCommand,
                             const std::vector<uint8_t>& subaddress,
                             const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    const uint16_t check = checkTransfer(sdk, kind, subaddress, data.size());
    if (check != kSuccess) return {check, {}};
    const auto length = static_cast<uint16_t>(data.size());
    RequestBuilder request = transferHeader(transactionId, kind, address, hdrCommand, subaddress,
                                            length, flags, kind.bulk ? 0 : data.size());
    if (!kind.bulk) request.bytes(data);
    return {kSuccess, request.take()};
}

TransferRequest readRequest(const VantorAsyncSDK& sdk, const TransferKind& kind,
                            uint16_t transactionId, uint8_t address, uint8_t hdrCommand,
                            const std::vector<uint8_t>& subaddress, uint16_t length,
                            I3cTransferFlags flags) {
    const uint16_t check = checkTransfer(sdk, kind, subaddress, length);
    if (check != kSuccess) return {check, {}};
    return {
        kSuccess,
        transferHeader(transactionId, kind, address, hdrCommand, subaddress, length, flags).take()};
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::i3cSdrWrite(uint16_t transactionId, uint8_t address,
                                     const std::vector<uint8_t>& subaddress,
                                     const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    const auto r =
        writeRequest(*this, kSdrWrite, transactionId, address, 0, subaddress, data, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

uint16_t VantorAsyncSDK::i3cSdrRead(uint16_t transactionId, uint8_t address,
                                    const std::vector<uint8_t>& subaddress, uint16_t length,
                                    I3cTransferFlags flags) {
    const auto r =
        readRequest(*this, kSdrRead, transactionId, address, 0, subaddress, length, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

uint16_t VantorAsyncSDK::i3cHdrDdrWrite(uint16_t transactionId, uint8_t address, uint8_t command,
                                        const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    const auto r =
        writeRequest(*this, kHdrWrite, transactionId, address, command, kNoSubaddress, data, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

uint16_t VantorAsyncSDK::i3cHdrDdrRead(uint16_t transactionId, uint8_t address, uint8_t command,
                                       uint16_t length, I3cTransferFlags flags) {
    const auto r =
        readRequest(*this, kHdrRead, transactionId, address, command, kNoSubaddress, length, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

uint16_t VantorAsyncSDK::i3cLegacyI2cWrite(uint16_t transactionId, uint8_t address,
                                           const std::vector<uint8_t>& subaddress,
                                           const std::vector<uint8_t>& data,
                                           I3cTransferFlags flags) {
    const auto r =
        writeRequest(*this, kLegacyWrite, transactionId, address, 0, subaddress, data, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

uint16_t VantorAsyncSDK::i3cLegacyI2cRead(uint16_t transactionId, uint8_t address,
                                          const std::vector<uint8_t>& subaddress, uint16_t length,
                                          I3cTransferFlags flags) {
    const auto r =
        readRequest(*this, kLegacyRead, transactionId, address, 0, subaddress, length, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

uint16_t VantorAsyncSDK::i3cSdrWriteBulk(uint16_t transactionId, uint8_t address,
                                         const std::vector<uint8_t>& subaddress,
                                         const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    const auto r =
        writeRequest(*this, kSdrWriteBulk, transactionId, address, 0, subaddress, data, flags);
    return r.status != kSuccess ? r.status : sendWithPayload(r.message, data.data(), data.size());
}

uint16_t VantorAsyncSDK::i3cSdrReadBulk(uint16_t transactionId, uint8_t address,
                                        const std::vector<uint8_t>& subaddress, uint16_t length,
                                        I3cTransferFlags flags) {
    const auto r =
        readRequest(*this, kSdrReadBulk, transactionId, address, 0, subaddress, length, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

uint16_t VantorAsyncSDK::i3cHdrDdrWriteBulk(uint16_t transactionId, uint8_t address,
                                            uint8_t command, const std::vector<uint8_t>& data,
                                            I3cTransferFlags flags) {
    const auto r = writeRequest(*this, kHdrWriteBulk, transactionId, address, command,
                                kNoSubaddress, data, flags);
    return r.status != kSuccess ? r.status : sendWithPayload(r.message, data.data(), data.size());
}

uint16_t VantorAsyncSDK::i3cHdrDdrReadBulk(uint16_t transactionId, uint8_t address, uint8_t command,
                                           uint16_t length, I3cTransferFlags flags) {
    const auto r = readRequest(*this, kHdrReadBulk, transactionId, address, command, kNoSubaddress,
                               length, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

uint16_t VantorAsyncSDK::i3cLegacyI2cWriteBulk(uint16_t transactionId, uint8_t address,
                                               const std::vector<uint8_t>& subaddress,
                                               const std::vector<uint8_t>& data,
                                               I3cTransferFlags flags) {
    const auto r =
        writeRequest(*this, kLegacyWriteBulk, transactionId, address, 0, subaddress, data, flags);
    return r.status != kSuccess ? r.status : sendWithPayload(r.message, data.data(), data.size());
}

uint16_t VantorAsyncSDK::i3cLegacyI2cReadBulk(uint16_t transactionId, uint8_t address,
                                              const std::vector<uint8_t>& subaddress,
                                              uint16_t length, I3cTransferFlags flags) {
    const auto r =
        readRequest(*this, kLegacyReadBulk, transactionId, address, 0, subaddress, length, flags);
    return r.status != kSuccess ? r.status : send(r.message);
}

// ------------------------------------------------------------- synchronous

namespace {

// A read. Over HID: the data bytes the response announces at offsets 8-9, as
// far as it carries them, whatever its status. Over bulk: the data phase the
// response announces; a read that ended early keeps its bytes with the status.
template <typename Impl, typename Send>
uint16_t readTransfer(Impl& impl, const TransferKind& kind, uint16_t length,
                      std::vector<uint8_t>& out, Send&& send) {
    if (kind.bulk) {
        return impl.bulkRead(kTransferBulk, length, kTransferCountOffset, send, out,
                             kIncompleteRead);
    }
    return impl.transact(kTransfer, send, [&](const typename Impl::Response& r) {
        impl.assignResponsePayload(kTransferDataOffset, r.u16(kTransferCountOffset), out);
    });
}

// A write; over bulk, the bulk gate for the data size comes first, then the
// request and its data phase.
template <typename Impl, typename Send>
uint16_t writeTransfer(Impl& impl, const TransferKind& kind, size_t length, Send&& send) {
    if (kind.bulk) {
        const uint16_t check = impl.bulkPrecheck(kTransferBulk, length);
        if (check != kSuccess) return check;
    }
    return impl.transact(kind.command(), send);
}

}  // namespace

uint16_t VantorSDK::i3cSdrWrite(uint8_t address, const std::vector<uint8_t>& subaddress,
                                const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    return writeTransfer(*impl_, kSdrWrite, data.size(), [&](uint16_t id) {
        return impl_->async->i3cSdrWrite(id, address, subaddress, data, flags);
    });
}

uint16_t VantorSDK::i3cSdrRead(uint8_t address, const std::vector<uint8_t>& subaddress,
                               uint16_t length, std::vector<uint8_t>& out, I3cTransferFlags flags) {
    return readTransfer(*impl_, kSdrRead, length, out, [&](uint16_t id) {
        return impl_->async->i3cSdrRead(id, address, subaddress, length, flags);
    });
}

uint16_t VantorSDK::i3cHdrDdrWrite(uint8_t address, uint8_t command,
                                   const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    return writeTransfer(*impl_, kHdrWrite, data.size(), [&](uint16_t id) {
        return impl_->async->i3cHdrDdrWrite(id, address, command, data, flags);
    });
}

uint16_t VantorSDK::i3cHdrDdrRead(uint8_t address, uint8_t command, uint16_t length,
                                  std::vector<uint8_t>& out, I3cTransferFlags flags) {
    return readTransfer(*impl_, kHdrRead, length, out, [&](uint16_t id) {
        return impl_->async->i3cHdrDdrRead(id, address, command, length, flags);
    });
}

uint16_t VantorSDK::i3cLegacyI2cWrite(uint8_t address, const std::vector<uint8_t>& subaddress,
                                      const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    return writeTransfer(*impl_, kLegacyWrite, data.size(), [&](uint16_t id) {
        return impl_->async->i3cLegacyI2cWrite(id, address, subaddress, data, flags);
    });
}

uint16_t VantorSDK::i3cLegacyI2cRead(uint8_t address, const std::vector<uint8_t>& subaddress,
                                     uint16_t length, std::vector<uint8_t>& out,
                                     I3cTransferFlags flags) {
    return readTransfer(*impl_, kLegacyRead, length, out, [&](uint16_t id) {
        return impl_->async->i3cLegacyI2cRead(id, address, subaddress, length, flags);
    });
}

uint16_t VantorSDK::i3cSdrWriteBulk(uint8_t address, const std::vector<uint8_t>& subaddress,
                                    const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    return writeTransfer(*impl_, kSdrWriteBulk, data.size(), [&](uint16_t id) {
        return impl_->async->i3cSdrWriteBulk(id, address, subaddress, data, flags);
    });
}

uint16_t VantorSDK::i3cSdrReadBulk(uint8_t address, const std::vector<uint8_t>& subaddress,
                                   uint16_t length, std::vector<uint8_t>& out,
                                   I3cTransferFlags flags) {
    return readTransfer(*impl_, kSdrReadBulk, length, out, [&](uint16_t id) {
        return impl_->async->i3cSdrReadBulk(id, address, subaddress, length, flags);
    });
}

uint16_t VantorSDK::i3cHdrDdrWriteBulk(uint8_t address, uint8_t command,
                                       const std::vector<uint8_t>& data, I3cTransferFlags flags) {
    return writeTransfer(*impl_, kHdrWriteBulk, data.size(), [&](uint16_t id) {
        return impl_->async->i3cHdrDdrWriteBulk(id, address, command, data, flags);
    });
}

uint16_t VantorSDK::i3cHdrDdrReadBulk(uint8_t address, uint8_t command, uint16_t length,
                                      std::vector<uint8_t>& out, I3cTransferFlags flags) {
    return readTransfer(*impl_, kHdrReadBulk, length, out, [&](uint16_t id) {
        return impl_->async->i3cHdrDdrReadBulk(id, address, command, length, flags);
    });
}

uint16_t VantorSDK::i3cLegacyI2cWriteBulk(uint8_t address, const std::vector<uint8_t>& subaddress,
                                          const std::vector<uint8_t>& data,
                                          I3cTransferFlags flags) {
    return writeTransfer(*impl_, kLegacyWriteBulk, data.size(), [&](uint16_t id) {
        return impl_->async->i3cLegacyI2cWriteBulk(id, address, subaddress, data, flags);
    });
}

uint16_t VantorSDK::i3cLegacyI2cReadBulk(uint8_t address, const std::vector<uint8_t>& subaddress,
                                         uint16_t length, std::vector<uint8_t>& out,
                                         I3cTransferFlags flags) {
    return readTransfer(*impl_, kLegacyReadBulk, length, out, [&](uint16_t id) {
        return impl_->async->i3cLegacyI2cReadBulk(id, address, subaddress, length, flags);
    });
}

}  // namespace vantor
