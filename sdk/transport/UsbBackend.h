// SPDX-License-Identifier: MIT
#pragma once
// The seam between the transports and the USB libraries.
//
// Each method stands for exactly one hidapi or libusb-1.0 call (named in its
// comment) with the same meaning and return conventions, except
// HidDevice::cancelReads, which hidapi lacks, so that the
// transport algorithms run unchanged against the system libraries and against
// virtual adapters. Enumeration returns owned C++ records instead of the
// libraries' linked lists; that is the only translation.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantor::usb {

// ------------------------------------------------------------------ hidapi

// One entry of hid_enumerate.
struct HidDeviceEntry {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool hasSerialNumber = false;  // hid_device_info::serial_number != NULL
    std::wstring serialNumber;
    std::wstring manufacturer;
    std::wstring product;
    uint16_t releaseNumber = 0;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    int interfaceNumber = -1;
    int busType = 1;  // hid_bus_type; 1 is USB
};

// An open HID device; destroying it is hid_close.
class HidDevice {
  public:
    virtual ~HidDevice() = default;
    // hid_read_timeout: bytes read (report id not included), 0 on timeout,
    // negative on error.
    virtual int readTimeout(uint8_t* data, size_t length, int milliseconds) = 0;
    // hid_write: `data[0]` is the report id; bytes written or negative.
    virtual int write(const uint8_t* data, size_t length) = 0;
    // No hidapi counterpart. Makes a readTimeout blocked on another thread
    // return 0 now, and every later one return 0 at once: the handle is about
    // to be closed, and its reader must let go of it without waiting out its
    // timeout. Safe from any thread while a read runs; the handle itself may
    // be destroyed only after that read has returned. A device that cannot
    // wake a read leaves it to end at its timeout.
    virtual void cancelReads() {}
};

class HidBackend {
  public:
    virtual ~HidBackend() = default;
    virtual int init() = 0;  // hid_init
    // hid_enumerate + hid_free_enumeration (0, 0 lists every device).
    virtual std::vector<HidDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) = 0;
    // hid_open_path; null on failure.
    virtual std::unique_ptr<HidDevice> openPath(const std::string& path) = 0;
};

// ------------------------------------------------------------- libusb-1.0

// libusb error codes used by the transports (same values as libusb.h).
enum UsbError : int {
    kUsbSuccess = 0,
    kUsbErrorIo = -1,
    kUsbErrorInvalidParam = -2,
    kUsbErrorAccess = -3,
    kUsbErrorNoDevice = -4,
    kUsbErrorNotFound = -5,
    kUsbErrorBusy = -6,
    kUsbErrorTimeout = -7,
    kUsbErrorOverflow = -8,
    kUsbErrorPipe = -9,
    kUsbErrorNotSupported = -12,
    kUsbErrorOther = -99,
};

struct UsbEndpointDescriptor {
    uint8_t address = 0;     // bEndpointAddress; bit 7 set for IN
    uint8_t attributes = 0;  // bmAttributes; & 3 == 2 for bulk
    uint16_t maxPacketSize = 0;
};

struct UsbAltSetting {
    uint8_t interfaceNumber = 0;
    uint8_t alternateSetting = 0;
    uint8_t interfaceClass = 0;
    std::vector<UsbEndpointDescriptor> endpoints;
};

struct UsbInterface {
    std::vector<UsbAltSetting> altSettings;
};

// libusb_config_descriptor, reduced to what the bulk transport walks.
struct UsbConfigDescriptor {
    std::vector<UsbInterface> interfaces;
};

struct UsbDeviceDescriptor {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint8_t serialNumberIndex = 0;  // iSerialNumber; 0 when there is none
};

// An open device handle; destroying it is libusb_close.
class UsbDeviceHandle {
  public:
    virtual ~UsbDeviceHandle() = default;
    // libusb_get_string_descriptor_ascii: length or a negative UsbError.
    virtual int getStringDescriptorAscii(uint8_t index, uint8_t* data, int length) = 0;
    virtual int claimInterface(int interfaceNumber) = 0;    // libusb_claim_interface
    virtual int releaseInterface(int interfaceNumber) = 0;  // libusb_release_interface
    // libusb_bulk_transfer: a UsbError; `transferred` holds the bytes moved,
    // also when the result is kUsbErrorTimeout.
    virtual int bulkTransfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                             unsigned int timeoutMs) = 0;
    // libusb_clear_halt: a UsbError. An endpoint that stalled stays halted,
    // failing every transfer with kUsbErrorPipe, until the host clears it.
    // A device whose stalls end by themselves has nothing to clear.
    virtual int clearHalt(uint8_t endpoint) {
        (void)endpoint;
        return kUsbSuccess;
    }
};

// One entry of libusb_get_device_list.
class UsbDevice {
  public:
    virtual ~UsbDevice() = default;
    virtual int getDeviceDescriptor(UsbDeviceDescriptor& out) = 0;  // libusb_get_device_descriptor
    virtual int getActiveConfigDescriptor(
        UsbConfigDescriptor& out) = 0;  // libusb_get_active_config_descriptor
    // libusb_open: kUsbSuccess and `handle` set, or a negative UsbError.
    virtual int open(std::unique_ptr<UsbDeviceHandle>& handle) = 0;
};

// A libusb context; destroying it is libusb_exit.
class UsbContext {
  public:
    virtual ~UsbContext() = default;
    // libusb_get_device_list (+ libusb_free_device_list when the vector goes):
    // the device count or a negative UsbError.
    virtual int getDeviceList(std::vector<std::shared_ptr<UsbDevice>>& out) = 0;
};

class UsbBackend {
  public:
    virtual ~UsbBackend() = default;
    // libusb_init: kUsbSuccess and `context` set, or a negative UsbError.
    virtual int init(std::unique_ptr<UsbContext>& context) = 0;
    virtual const char* errorName(int code) = 0;  // libusb_error_name
};

// ---------------------------------------------------------------- routing

// The backends the transports use by default: the system libraries, with the
// process's virtual adapters listed after the real devices. Paths of virtual
// HID devices start with kVirtualPathPrefix, which no system path does.
HidBackend& defaultHidBackend();
UsbBackend& defaultUsbBackend();

inline constexpr const char* kVirtualPathPrefix = "sim:";

// Installs the provider of virtual devices. The virtual adapter library calls
// this once, before its first device is plugged in; later calls replace it.
void installVirtualBackends(std::shared_ptr<HidBackend> hid, std::shared_ptr<UsbBackend> usb);

}  // namespace vantor::usb
