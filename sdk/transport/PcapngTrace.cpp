// SPDX-License-Identifier: MIT
#include "sdk/transport/PcapngTrace.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "sdk/transport/UsbBackend.h"

namespace vantor {
namespace {

constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescriptionBlock = 0x00000001;
constexpr uint32_t kEnhancedPacketBlock = 0x00000006;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kSnapLengthUnlimited = 0;

// usbmon header fields.
constexpr uint8_t kNoSetup = '-';
constexpr uint8_t kDataPresent = 0;
constexpr uint8_t kInDataNotYet = '<';  // an IN submission
constexpr uint8_t kOutDataGone = '>';   // an OUT completion
constexpr int32_t kInterruptInterval = 1;
constexpr uint32_t kUrbDirIn = 0x0200;  // the kernel's URB_DIR_IN transfer flag
constexpr uint8_t kEndpointDirIn = 0x80;
constexpr int32_t kStatusInProgress = -115;  // -EINPROGRESS

// Everything in the file is little-endian; the section header's byte-order
// magic says so to the reader, whatever host wrote it.
void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v));
    put16(out, static_cast<uint16_t>(v >> 16));
}
void put64(std::vector<uint8_t>& out, uint64_t v) {
    put32(out, static_cast<uint32_t>(v));
    put32(out, static_cast<uint32_t>(v >> 32));
}

size_t padded(size_t length) {
    return (length + 3) & ~size_t{3};
}

int64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

uint32_t clamp32(size_t n) {
    return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
}

// Cuts an open file back to `length` bytes.
void truncateFile(std::FILE* file, int64_t length) {
#ifdef _WIN32
    (void)_chsize_s(_fileno(file), length);
#else
    (void)ftruncate(fileno(file), static_cast<off_t>(length));
#endif
}

// The numbers hidapi's libusb back end puts into a path: "%04x:%04x:%02x"
// (bus, device, interface), all hexadecimal.
bool parseUsbPath(const std::string& path, uint16_t& bus, uint8_t& device) {
    unsigned long parts[3] = {};
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t start = at;
        unsigned long value = 0;
        while (at < path.size() && std::isxdigit(static_cast<unsigned char>(path[at]))) {
            const char c = path[at];
            const unsigned digit = c <= '9' ? static_cast<unsigned>(c - '0')
                                            : static_cast<unsigned>((c | 0x20) - 'a' + 10);
            value = value * 16 + digit;
            if (value > 0xFFFF) return false;
            ++at;
        }
        if (at == start) return false;
        parts[i] = value;
        if (i < 2) {
            if (at >= path.size() || path[at] != ':') return false;
            ++at;
        }
    }
    if (at != path.size() || parts[1] > 0xFF) return false;
    bus = static_cast<uint16_t>(parts[0]);
    device = static_cast<uint8_t>(parts[1]);
    return true;
}

}  // namespace

// ------------------------------------------------------------------ writer

PcapngWriter::~PcapngWriter() {
    close();
}

void PcapngWriter::appendFileHeader(std::vector<uint8_t>& out) {
    // Section header: no options, section length unknown (-1).
    put32(out, kSectionHeaderBlock);
    put32(out, 28);
    put32(out, kByteOrderMagic);
    put16(out, 1);  // major version
    put16(out, 0);  // minor version
    put64(out, ~uint64_t{0});
    put32(out, 28);
    // Interface 0: usbmon packets, no length limit, microsecond timestamps
    // (the default resolution, so no option).
    put32(out, kInterfaceDescriptionBlock);
    put32(out, 20);
    put16(out, kLinkTypeUsbLinuxMmapped);
    put16(out, 0);
    put32(out, kSnapLengthUnlimited);
    put32(out, 20);
}

void PcapngWriter::appendPacketBlock(const UsbPacket& p, std::vector<uint8_t>& out) {
    const uint32_t captured = static_cast<uint32_t>(kUsbHeaderSize) + p.dataLength;
    const uint32_t total = static_cast<uint32_t>(28 + padded(captured) + 4);
    const uint64_t ts = static_cast<uint64_t>(p.timestampUs);
    const bool in = (p.endpoint & kEndpointDirIn) != 0;

    put32(out, kEnhancedPacketBlock);
    put32(out, total);
    put32(out, 0);  // interface id
    put32(out, static_cast<uint32_t>(ts >> 32));
    put32(out, static_cast<uint32_t>(ts));
    put32(out, captured);
    put32(out, captured);

    // The usbmon header.
    put64(out, p.urbId);
    out.push_back(static_cast<uint8_t>(p.type));
    out.push_back(static_cast<uint8_t>(p.transferType));
    out.push_back(p.endpoint);
    out.push_back(p.device);
    put16(out, p.bus);
    out.push_back(kNoSetup);
    out.push_back(p.data != nullptr ? kDataPresent : p.type == 'S' ? kInDataNotYet : kOutDataGone);
    put64(out, static_cast<uint64_t>(p.timestampUs / 1000000));
    put32(out, static_cast<uint32_t>(p.timestampUs % 1000000));
    put32(out, static_cast<uint32_t>(p.status));
    put32(out, p.length);
    put32(out, p.dataLength);
    put64(out, 0);  // setup packet: control transfers only
    put32(out, static_cast<uint32_t>(
                   p.transferType == UsbTransferType::Interrupt ? kInterruptInterval : 0));
    put32(out, 0);  // start frame
    put32(out, in ? kUrbDirIn : 0);
    put32(out, 0);  // isochronous descriptors

    if (p.dataLength > 0) out.insert(out.end(), p.data, p.data + p.dataLength);
    out.resize(out.size() + padded(captured) - captured, 0);
    put32(out, total);
}

int PcapngWriter::open(const std::string& path) {
    close();
    errno = 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return errno != 0 ? errno : EIO;
    // Unbuffered: each block leaves in one write call, so that a process
    // killed between two blocks leaves no half block behind.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    error_ = 0;
    whole_ = 0;
    block_.clear();
    appendFileHeader(block_);
    if (!writeAll(block_)) {
        const int error = error_;
        close();
        return error;
    }
    return 0;
}

bool PcapngWriter::write(const UsbPacket& packet) {
    if (file_ == nullptr || error_ != 0) return false;
    // clear() keeps the capacity: after the largest packet so far, no
    // allocation.
    block_.clear();
    appendPacketBlock(packet, block_);
    return writeAll(block_);
}

bool PcapngWriter::writeAll(const std::vector<uint8_t>& bytes) {
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() &&
        std::fflush(file_) == 0) {
        whole_ += static_cast<int64_t>(bytes.size());
        return true;
    }
    error_ = errno != 0 ? errno : EIO;
    // The part of the block that did get in would end the file in the middle
    // of a packet.
    truncateFile(file_, whole_);
    return false;
}

void PcapngWriter::close() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    file_ = nullptr;
}

// ------------------------------------------------------------------- trace

int UsbTrace::start(const std::string& path) {
    // The new file is created before the lock is taken, so that transfers
    // are not held up by the file system, and before the old one is given
    // up, so that a failure changes nothing.
    auto writer = std::make_unique<PcapngWriter>();
    const int error = writer->open(path);
    if (error != 0) return error;
    std::unique_ptr<PcapngWriter> previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        previous = std::move(owned_);
        owned_ = std::move(writer);
        path_ = path;
        failure_ = 0;
        writer_.store(owned_.get(), std::memory_order_relaxed);
    }
    return 0;  // `previous` closes here, outside the lock
}

int UsbTrace::stop(std::string* failedPath) {
    std::unique_ptr<PcapngWriter> previous;
    int failure = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        writer_.store(nullptr, std::memory_order_relaxed);
        previous = std::move(owned_);
        failure = std::exchange(failure_, 0);
        if (failure != 0 && failedPath != nullptr) *failedPath = path_;
    }
    return failure;
}

int UsbTrace::failure(std::string* path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path != nullptr && failure_ != 0) *path = path_;
    return failure_;
}

bool UsbTrace::writeLocked(const UsbPacket& p) {
    if (!owned_) return false;
    if (owned_->write(p)) return true;
    failure_ = owned_->error();
    writer_.store(nullptr, std::memory_order_relaxed);
    owned_.reset();
    return false;
}

void UsbTrace::setDevicePath(const std::string& path) {
    uint16_t bus = 1;
    uint8_t device = 1;
    if (!parseUsbPath(path, bus, device)) {
        bus = 1;
        device = 1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    bus_ = bus;
    device_ = device;
}

UsbPacket UsbTrace::packet(UsbTransferType type, uint8_t endpoint) const {
    UsbPacket p;
    p.transferType = type;
    p.endpoint = endpoint;
    p.bus = bus_;
    p.device = device_;
    return p;
}

uint64_t UsbTrace::submitOut(UsbTransferType type, uint8_t endpoint, const uint8_t* data,
                             size_t length) {
    const int64_t now = nowUs();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!owned_) return 0;
    UsbPacket p = packet(type, endpoint);
    p.urbId = nextUrbId_++;
    p.type = 'S';
    p.timestampUs = now;
    p.status = kStatusInProgress;
    p.length = clamp32(length);
    p.data = data;
    p.dataLength = p.length;
    return writeLocked(p) ? p.urbId : 0;
}

void UsbTrace::completeOut(uint64_t urbId, UsbTransferType type, uint8_t endpoint, int32_t status,
                           size_t moved) {
    if (urbId == 0) return;
    const int64_t now = nowUs();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!owned_) return;
    UsbPacket p = packet(type, endpoint);
    p.urbId = urbId;
    p.type = 'C';
    p.timestampUs = now;
    p.status = status;
    p.length = clamp32(moved);
    writeLocked(p);
}

void UsbTrace::transferIn(UsbTransferType type, uint8_t endpoint, size_t requested, int32_t status,
                          const uint8_t* data, size_t received) {
    const int64_t now = nowUs();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!owned_) return;
    UsbPacket p = packet(type, endpoint);
    p.urbId = nextUrbId_++;
    p.type = 'S';
    p.timestampUs = now;
    p.status = kStatusInProgress;
    p.length = clamp32(requested);
    if (!writeLocked(p)) return;
    p.type = 'C';
    p.status = status;
    p.length = clamp32(received);
    p.data = data;
    p.dataLength = p.length;
    writeLocked(p);
}

int32_t UsbTrace::urbStatus(int usbError) {
    switch (usbError) {
        case usb::kUsbSuccess:
            return 0;
        case usb::kUsbErrorTimeout:
            return -ETIMEDOUT;
        case usb::kUsbErrorPipe:
            return -EPIPE;
        case usb::kUsbErrorNoDevice:
            return -ENODEV;
        case usb::kUsbErrorOverflow:
            return -EOVERFLOW;
        default:
            return -EIO;
    }
}

}  // namespace vantor
