// I2C controller commands (group 2): bus set-up, transfers over the command
// channel, the bus scan, and the bulk transfers whose data moves over the
// vendor bulk interface.

#include <limits>

#include "sdk/core/RequestBuilder.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"

namespace vantor {

namespace {

constexpr uint16_t kCmdDeinit = 0x0801;
constexpr uint16_t kCmdSetPullUp = 0x0802;
constexpr uint16_t kCmdInit = 0x0901;
constexpr uint16_t kCmdSetParameters = 0x0902;
constexpr uint16_t kCmdWrite = 0x0904;
constexpr uint16_t kCmdRead = 0x0905;
constexpr uint16_t kCmdScanBus = 0x0906;
constexpr uint16_t kCmdWriteBulk = 0x0907;
constexpr uint16_t kCmdReadBulk = 0x0908;

using namespace status;

constexpr size_t kMaxSubaddressBytes = 4;
constexpr size_t kTransferHeaderBytes = 10;  // parameters after the command code
constexpr uint8_t kMaxBus = 1;

// Response layouts: the transfer block's data count and read data, the scan
// block's counts and addresses.
constexpr size_t kTransferCountOffset = 7;
constexpr size_t kReadDataOffset = 9;
constexpr size_t kScanCount7Offset = 7;
constexpr size_t kScanCount10Offset = 8;
constexpr size_t kScanAddressOffset = 9;

// The subaddress is given most significant byte first; on the wire it is the
// number those bytes form, as a u32 little-endian. At most four bytes.
uint32_t subaddressValue(const std::vector<uint8_t>& subaddress) {
    uint32_t value = 0;
    for (uint8_t byte : subaddress) value = (value << 8) | byte;
    return value;
}

// The transfer header every write and read command starts with: bus, data
// length, target address, subaddress length and value, non-stop flag.
// `extra` reserves room for inline data.
RequestBuilder transferHeader(uint16_t transactionId, uint16_t command, uint8_t bus,
                              uint16_t length, uint8_t address,
                              const std::vector<uint8_t>& subaddress, bool nonStop,
                              size_t extra = 0) {
    RequestBuilder request(transactionId, command, kTransferHeaderBytes + extra);
    request.u8(bus)
        .u16(length)
        .u8(address)
        .u8(static_cast<uint8_t>(subaddress.size()))
        .u32(subaddressValue(subaddress))
        .u8(nonStop ? 1 : 0);
    return request;
}

// The checks every transfer makes before building anything.
uint16_t checkTransfer(const VantorAsyncSDK& sdk, bool bulk,
                       const std::vector<uint8_t>& subaddress) {
    if (!sdk.isConnected()) return kDisconnect;
    if (bulk && !sdk.isBulkTransportAvailable()) return kBulkUnavailable;
    if (subaddress.size() > kMaxSubaddressBytes) return kWrongRequest;
    return kSuccess;
}

}  // namespace

// ------------------------------------------------------------ asynchronous

uint16_t VantorAsyncSDK::i2cControllerInit(uint16_t transactionId, uint8_t bus, uint32_t frequency,
                                           uint8_t pullUp) {
    if (!connected_) return kDisconnect;
    return send(
        RequestBuilder(transactionId, kCmdInit, 6).u8(bus).u32(frequency).u8(pullUp).message());
}

uint16_t VantorAsyncSDK::i2cSetParameters(uint16_t transactionId, uint8_t bus, uint32_t frequency,
                                          uint8_t pullUp) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdSetParameters, 6)
                    .u8(bus)
                    .u32(frequency)
                    .u8(pullUp)
                    .message());
}

uint16_t VantorAsyncSDK::i2cSetPullUpResistors(uint16_t transactionId, uint8_t bus, uint8_t value) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdSetPullUp, 2).u8(bus).u8(value).message());
}

uint16_t VantorAsyncSDK::i2cDeinit(uint16_t transactionId, uint8_t bus) {
    if (!connected_) return kDisconnect;
    return send(RequestBuilder(transactionId, kCmdDeinit, 1).u8(bus).message());
}

uint16_t VantorAsyncSDK::i2cWrite(uint16_t transactionId, uint8_t bus, uint8_t address,
                                  const std::vector<uint8_t>& subaddress,
                                  const std::vector<uint8_t>& data, bool nonStop) {
    const uint16_t check = checkTransfer(*this, false, subaddress);
    if (check != kSuccess) return check;
    // The length field is 16 bits wide: more data would be announced short.
    if (data.size() > std::numeric_limits<uint16_t>::max()) return kWrongRequest;
    return send(transferHeader(transactionId, kCmdWrite, bus, static_cast<uint16_t>(data.size()),
                               address, subaddress, nonStop, data.size())
                    .bytes(data)
                    .message());
}

uint16_t VantorAsyncSDK::i2cRead(uint16_t transactionId, uint8_t bus, uint8_t address,
                                 const std::vector<uint8_t>& subaddress, uint16_t length,
                                 bool nonStop) {
    const uint16_t check = checkTransfer(*this, false, subaddress);
    if (check != kSuccess) return check;
    return send(transferHeader(transactionId, kCmdRead, bus, length, address, subaddress, nonStop)
                    .message());
}

uint16_t VantorAsyncSDK::i2cScanBus(uint16_t transactionId, uint8_t bus, bool include10bit) {
    if (!connected_) return kDisconnect;
    if (bus > kMaxBus) return kWrongRequest;
    return send(
        RequestBuilder(transactionId, kCmdScanBus, 2).u8(bus).u8(include10bit ? 1 : 0).message());
}

uint16_t VantorAsyncSDK::i2cWriteBulk(uint16_t transactionId, uint8_t bus, uint8_t address,
                                      const std::vector<uint8_t>& subaddress,
                                      const std::vector<uint8_t>& data, bool nonStop) {
    const uint16_t check = checkTransfer(*this, true, subaddress);
    if (check != kSuccess) return check;
    if (data.empty() || data.size() > I2C_BULK_MAX_PAYLOAD) return kWrongRequest;
    // Only the header travels over HID; the data follows on bulk OUT.
    return sendWithPayload(
        transferHeader(transactionId, kCmdWriteBulk, bus, static_cast<uint16_t>(data.size()),
                       address, subaddress, nonStop)
            .message(),
        data.data(), data.size());
}

uint16_t VantorAsyncSDK::i2cReadBulk(uint16_t transactionId, uint8_t bus, uint8_t address,
                                     const std::vector<uint8_t>& subaddress, uint16_t length,
                                     bool nonStop) {
    const uint16_t check = checkTransfer(*this, true, subaddress);
    if (check != kSuccess) return check;
    if (length == 0 || length > I2C_BULK_MAX_PAYLOAD) return kWrongRequest;
    return send(
        transferHeader(transactionId, kCmdReadBulk, bus, length, address, subaddress, nonStop)
            .message());
}

// ------------------------------------------------------------- synchronous

uint16_t VantorSDK::i2cControllerInit(uint8_t bus, uint32_t frequency, uint8_t pullUp) {
    return transact(kCmdInit, [&](uint16_t id) {
        return async_->i2cControllerInit(id, bus, frequency, pullUp);
    });
}

uint16_t VantorSDK::i2cSetParameters(uint8_t bus, uint32_t frequency, uint8_t pullUp) {
    return transact(kCmdSetParameters, [&](uint16_t id) {
        return async_->i2cSetParameters(id, bus, frequency, pullUp);
    });
}

uint16_t VantorSDK::i2cSetPullUpResistors(uint8_t bus, uint8_t value) {
    return transact(kCmdSetPullUp,
                    [&](uint16_t id) { return async_->i2cSetPullUpResistors(id, bus, value); });
}

uint16_t VantorSDK::i2cDeinit(uint8_t bus) {
    return transact(kCmdDeinit, [&](uint16_t id) { return async_->i2cDeinit(id, bus); });
}

uint16_t VantorSDK::i2cWrite(uint8_t bus, uint8_t address, const std::vector<uint8_t>& subaddress,
                             const std::vector<uint8_t>& data, bool nonStop) {
    return transact(kCmdWrite, [&](uint16_t id) {
        return async_->i2cWrite(id, bus, address, subaddress, data, nonStop);
    });
}

uint16_t VantorSDK::i2cRead(uint8_t bus, uint8_t address, const std::vector<uint8_t>& subaddress,
                            uint16_t length, std::vector<uint8_t>& out, bool nonStop) {
    return transact(
        kCmdRead, 0,
        [&](uint16_t id) { return async_->i2cRead(id, bus, address, subaddress, length, nonStop); },
        // The data bytes are delivered whatever the status says.
        [&](const Response&) { assignResponsePayload(kReadDataOffset, length, out); });
}

uint16_t VantorSDK::i2cScanBus(std::vector<uint8_t>& out, uint8_t* count7, uint8_t* count10,
                               uint8_t bus, bool include10bit) {
    if (count7 == nullptr || count10 == nullptr || bus > kMaxBus) return kWrongRequest;
    return transact(
        kCmdScanBus, sizeof(I2cScanBusParameters),
        [&](uint16_t id) { return async_->i2cScanBus(id, bus, include10bit); },
        [&](const Response& r) -> uint16_t {
            const uint8_t n7 = r.u8(kScanCount7Offset);
            const uint8_t n10 = r.u8(kScanCount10Offset);
            const size_t end = kScanAddressOffset + n7 + size_t{2} * n10;
            if (end > r.size()) return kWrongResponse;
            *count7 = n7;
            *count10 = n10;
            out.assign(r.data() + kScanAddressOffset, r.data() + end);
            return r.status();
        },
        ShortResponse::Status);
}

uint16_t VantorSDK::i2cWriteBulk(uint8_t bus, uint8_t address,
                                 const std::vector<uint8_t>& subaddress,
                                 const std::vector<uint8_t>& data, bool nonStop) {
    const uint16_t check = bulkPrecheck(kCmdWriteBulk, data.size());
    if (check != kSuccess) return check;
    return transact(kCmdWriteBulk, [&](uint16_t id) {
        return async_->i2cWriteBulk(id, bus, address, subaddress, data, nonStop);
    });
}

uint16_t VantorSDK::i2cReadBulk(uint8_t bus, uint8_t address,
                                const std::vector<uint8_t>& subaddress, uint16_t length,
                                std::vector<uint8_t>& out, bool nonStop) {
    return bulkRead(
        kCmdReadBulk, length, kTransferCountOffset,
        [&](uint16_t id) {
            return async_->i2cReadBulk(id, bus, address, subaddress, length, nonStop);
        },
        out);
}

}  // namespace vantor
