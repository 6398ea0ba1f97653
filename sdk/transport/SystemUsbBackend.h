// SPDX-License-Identifier: MIT
#pragma once
// The system's HID and USB libraries behind the backend seam: hidapi (hidraw
// on Linux) for HID devices and libusb-1.0 for the vendor bulk interface.

#include <memory>
#include <string>
#include <vector>

#include "sdk/transport/UsbBackend.h"

namespace vantor::usb {

class SystemHidBackend final : public HidBackend {
  public:
    // hid_init runs once per process, however often this is called.
    int init() override;
    std::vector<HidDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) override;
    std::unique_ptr<HidDevice> openPath(const std::string& path) override;
};

class SystemUsbBackend final : public UsbBackend {
  public:
    int init(std::unique_ptr<UsbContext>& context) override;
    const char* errorName(int code) override;
};

// Process-wide instances.
SystemHidBackend& systemHidBackend();
SystemUsbBackend& systemUsbBackend();

}  // namespace vantor::usb
