// SPDX-License-Identifier: MIT
#pragma once
// Capture of a connection's USB traffic as a pcapng file that packet
// analysers open as a Linux USB capture (link type 220: each packet starts
// with the 64-byte header of the kernel's binary usbmon interface).
//
// PcapngWriter knows the file format and nothing about threads. UsbTrace is
// what the transports hold: a switchable, thread-safe recorder whose
// inactive state costs one relaxed atomic load per transfer.
//
// Every transfer becomes two packets with one URB id, as usbmon shows it: a
// submission ('S') and a completion ('C'). An OUT transfer carries its data
// in the submission and is recorded as it is made; an IN transfer carries
// its data in the completion and is recorded, both packets at once, when it
// ends. An IN transfer that ended without data because nothing came (a HID
// read or bulk transfer that timed out) is not recorded: the bus carried
// nothing. Each packet is one pcapng block written whole and flushed, so
// that the file is readable up to the last packet however the process ends.
// A block the file system does not take whole (disk full, file size limit)
// is cut off again and ends the trace: the file stays readable, and the
// failure is kept for the owner to report (UsbTrace::stop).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vantor {

// usbmon transfer types.
enum class UsbTransferType : uint8_t {
    Interrupt = 1,
    Bulk = 3,
};

// One usbmon event.
struct UsbPacket {
    uint64_t urbId = 0;
    char type = 'S';  // 'S' submission, 'C' completion
    UsbTransferType transferType = UsbTransferType::Bulk;
    uint8_t endpoint = 0;  // bit 7 set for IN
    uint8_t device = 1;
    uint16_t bus = 1;
    int64_t timestampUs = 0;  // microseconds since the Unix epoch
    int32_t status = 0;       // 0 or a negative errno; -EINPROGRESS in submissions
    uint32_t length = 0;      // requested (submission) or moved (completion) bytes
    // The bytes the packet carries; null when it carries none (an IN
    // submission, an OUT completion).
    const uint8_t* data = nullptr;
    uint32_t dataLength = 0;
};

class PcapngWriter {
  public:
    static constexpr uint16_t kLinkTypeUsbLinuxMmapped = 220;
    static constexpr size_t kUsbHeaderSize = 64;

    PcapngWriter() = default;
    ~PcapngWriter();
    PcapngWriter(const PcapngWriter&) = delete;
    PcapngWriter& operator=(const PcapngWriter&) = delete;

    // Creates (or truncates) the file and writes the section header and the
    // one interface description: 0, or the errno of the failure.
    int open(const std::string& path);
    // Appends one enhanced packet block and flushes it. False once a write
    // has failed; the file is then cut back to its last whole block, and
    // error() tells why.
    bool write(const UsbPacket& packet);
    void close();
    bool isOpen() const { return file_ != nullptr; }
    // The errno of the failed write; 0 while every write succeeded.
    int error() const { return error_; }

    // The bytes of the file's first two blocks, and of the block of one
    // packet (appended to `out`).
    static void appendFileHeader(std::vector<uint8_t>& out);
    static void appendPacketBlock(const UsbPacket& packet, std::vector<uint8_t>& out);

  private:
    bool writeAll(const std::vector<uint8_t>& bytes);

    std::FILE* file_ = nullptr;
    int error_ = 0;
    int64_t whole_ = 0;           // the file's length up to its last whole block
    std::vector<uint8_t> block_;  // reused for every packet
};

class UsbTrace {
  public:
    // hidapi does not tell the HID interface's endpoint numbers; the trace
    // shows input reports on 0x81 and output reports on 0x01, as interrupt
    // transfers.
    static constexpr uint8_t kHidInEndpoint = 0x81;
    static constexpr uint8_t kHidOutEndpoint = 0x01;

    UsbTrace() = default;
    UsbTrace(const UsbTrace&) = delete;
    UsbTrace& operator=(const UsbTrace&) = delete;

    // The one check the transports make before anything else.
    bool active() const { return writer_.load(std::memory_order_relaxed) != nullptr; }

    // Starts recording into a new file, replacing the current one (which is
    // closed whole) only when the new one could be created: 0, or the errno
    // of the failure, with the current trace going on.
    int start(const std::string& path);
    // A trace whose file could not take a packet stops itself (active()
    // turns false; the file ends with the last whole packet). stop() ends
    // the trace and returns the errno of that failure, with the file's path,
    // once; 0 when the trace did not fail.
    int stop(std::string* failedPath = nullptr);
    // The errno of that failure until stop() or the next start(); 0 when
    // there was none.
    int failure(std::string* path = nullptr) const;

    // The bus and device numbers written into every packet; taken from the
    // HID path when it names them (hidapi's libusb form "bus:device:iface"),
    // else 1 and 1.
    void setDevicePath(const std::string& path);

    // Records the submission of an OUT transfer of `length` bytes about to
    // be made; returns the URB id for its completion (0 when not tracing).
    uint64_t submitOut(UsbTransferType type, uint8_t endpoint, const uint8_t* data, size_t length);
    // Records the completion of that transfer: `status` 0 or a negative
    // errno, `moved` the bytes sent.
    void completeOut(uint64_t urbId, UsbTransferType type, uint8_t endpoint, int32_t status,
                     size_t moved);
    // Records an IN transfer that has ended: its submission for `requested`
    // bytes and its completion with the `received` bytes of `data`.
    void transferIn(UsbTransferType type, uint8_t endpoint, size_t requested, int32_t status,
                    const uint8_t* data, size_t received);

    // A libusb error code as the URB status usbmon would show.
    static int32_t urbStatus(int usbError);

  private:
    UsbPacket packet(UsbTransferType type, uint8_t endpoint) const;
    // Writes one packet into the open file (mutex_ held); a failure ends
    // the trace. False when nothing is open any more.
    bool writeLocked(const UsbPacket& p);

    // Lock order: mutex_ is taken last (a sender holds the engine's send
    // lock and the bulk transport's mutex around it) and nothing else is
    // taken while it is held. It guards everything below and every write to
    // the file; writer_ mirrors owned_ for the unlocked check and is never
    // dereferenced.
    std::atomic<PcapngWriter*> writer_{nullptr};
    mutable std::mutex mutex_;
    std::unique_ptr<PcapngWriter> owned_;
    std::string path_;  // of owned_, or of the trace that failed
    int failure_ = 0;
    uint64_t nextUrbId_ = 1;
    uint16_t bus_ = 1;
    uint8_t device_ = 1;
};

}  // namespace vantor
