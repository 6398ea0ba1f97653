#pragma once
// The adapter's vendor bulk interface (one IN and one OUT bulk endpoint),
// found, claimed, read and written through libusb-1.0.

#include <cstdint>
#include <memory>
#include <string>

#include "sdk/transport/UsbBackend.h"

namespace vantor {

class BulkTransport {
public:
    explicit BulkTransport(usb::UsbBackend& backend = usb::defaultUsbBackend());
    ~BulkTransport();
    BulkTransport(const BulkTransport&) = delete;
    BulkTransport& operator=(const BulkTransport&) = delete;

    // Claims the vendor interface of the first listed device with these ids
    // (and this serial number, when `serialFilter` is not empty).
    bool open(uint16_t vendorId, uint16_t productId, const std::string& serialFilter);
    void close();
    bool isOpen() const { return device_ != nullptr; }

    bool read(uint8_t* buffer, uint64_t length, uint32_t timeoutMs);
    bool write(const uint8_t* buffer, uint64_t length, uint32_t timeoutMs);

    std::string lastError() const { return lastError_; }
    uint16_t maxPacketSize() const { return maxPacketSize_; }

private:
    void drain(unsigned milliseconds);

    usb::UsbBackend& backend_;
    std::unique_ptr<usb::UsbContext> context_;
    std::unique_ptr<usb::UsbDeviceHandle> device_;
    int interfaceNumber_ = -1;
    uint8_t inEndpoint_ = 0;
    uint8_t outEndpoint_ = 0;
    uint16_t maxPacketSize_ = 64;
    std::string lastError_;
};

}  // namespace vantor
