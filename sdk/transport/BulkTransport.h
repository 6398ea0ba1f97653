#pragma once
// The adapter's vendor bulk interface (one IN and one OUT bulk endpoint),
// found, claimed, read and written through libusb-1.0.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdk/transport/UsbBackend.h"

namespace vantor {

class BulkTransport {
  public:
    explicit BulkTransport(usb::UsbBackend& backend = usb::defaultUsbBackend());
    ~BulkTransport();
    BulkTransport(const BulkTransport&) = delete;
    BulkTransport& operator=(const BulkTransport&) = delete;

    // Claims the vendor interface of the first listed device with these ids
    // (and this serial number, when `serialFilter` is not empty). On failure
    // lastError() holds the first problem met, or "no vendor bulk interface
    // found".
    bool open(uint16_t vendorId, uint16_t productId, const std::string& serialFilter);
    void close();
    bool isOpen() const { return device_ != nullptr; }

    // Moves exactly `length` bytes or fails with lastError() set; the whole
    // transfer must finish within `timeoutMs`. A failed read drains the IN
    // endpoint for 250 ms so that a late remainder cannot corrupt the next
    // transfer.
    bool read(uint8_t* buffer, uint64_t length, uint32_t timeoutMs);
    bool write(const uint8_t* buffer, uint64_t length, uint32_t timeoutMs);

    std::string lastError() const { return lastError_; }
    uint16_t maxPacketSize() const { return maxPacketSize_; }

  private:
    bool claimVendorInterface(usb::UsbDeviceHandle& handle, const usb::UsbConfigDescriptor& config);
    // Discards what the IN endpoint delivers, packet by packet with 1 ms
    // transfers, until it is quiet or `milliseconds` have passed.
    void drain(unsigned milliseconds);
    void recordError(std::string text);

    usb::UsbBackend& backend_;
    std::unique_ptr<usb::UsbContext> context_;
    std::unique_ptr<usb::UsbDeviceHandle> device_;
    int interfaceNumber_ = -1;
    uint8_t inEndpoint_ = 0;
    uint8_t outEndpoint_ = 0;
    uint16_t maxPacketSize_ = 64;
    std::string lastError_;
    std::vector<uint8_t> drainBuffer_;  // one packet, sized at open
};

}  // namespace vantor
