// SPDX-License-Identifier: MIT
#include "sdk/transport/SystemUsbBackend.h"

#include <hidapi/hidapi.h>
#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

namespace vantor::usb {
namespace {

// ------------------------------------------------------------------ hidapi

std::wstring wideOrEmpty(const wchar_t* text) {
    return text ? std::wstring(text) : std::wstring();
}

class SystemHidDevice final : public HidDevice {
  public:
    explicit SystemHidDevice(hid_device* device) : device_(device) {}
    ~SystemHidDevice() override { hid_close(device_); }
    SystemHidDevice(const SystemHidDevice&) = delete;
    SystemHidDevice& operator=(const SystemHidDevice&) = delete;

    // hid_read_timeout cannot be woken from another thread, and hid_close
    // must not run while it waits, so a wait longer than one slice is cut
    // into slices with cancelReads checked between them. A close then waits
    // one slice at most.
    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        using Clock = std::chrono::steady_clock;
        const bool unlimited = milliseconds < 0;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(unlimited ? 0 : milliseconds);
        for (;;) {
            if (cancelled_.load()) return 0;
            int slice = kReadSliceMs;
            if (!unlimited) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count();
                slice = static_cast<int>(std::clamp<long long>(left, 0, kReadSliceMs));
            }
            const int result = hid_read_timeout(device_, data, length, slice);
            if (result != 0 || (!unlimited && Clock::now() >= deadline)) return result;
        }
    }
    int write(const uint8_t* data, size_t length) override {
        return hid_write(device_, data, length);
    }
    void cancelReads() override { cancelled_.store(true); }

  private:
    static constexpr int kReadSliceMs = 10;

    hid_device* device_;
    std::atomic<bool> cancelled_{false};
};

// ------------------------------------------------------------- libusb-1.0

struct ConfigFree {
    void operator()(libusb_config_descriptor* config) const {
        libusb_free_config_descriptor(config);
    }
};
struct DeviceListFree {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};

// One libusb_init. Devices and handles listed or opened through the context
// keep it alive, so libusb_exit always runs after their last unref/close,
// whatever order their owners drop them in.
struct LibusbSession {
    explicit LibusbSession(libusb_context* c) : context(c) {}
    ~LibusbSession() { libusb_exit(context); }
    LibusbSession(const LibusbSession&) = delete;
    LibusbSession& operator=(const LibusbSession&) = delete;
    libusb_context* context;
};
using SessionPtr = std::shared_ptr<LibusbSession>;

class SystemUsbDeviceHandle final : public UsbDeviceHandle {
  public:
    SystemUsbDeviceHandle(SessionPtr session, libusb_device_handle* handle)
        : session_(std::move(session)), handle_(handle) {}
    ~SystemUsbDeviceHandle() override { libusb_close(handle_); }
    SystemUsbDeviceHandle(const SystemUsbDeviceHandle&) = delete;
    SystemUsbDeviceHandle& operator=(const SystemUsbDeviceHandle&) = delete;

    int getStringDescriptorAscii(uint8_t index, uint8_t* data, int length) override {
        return libusb_get_string_descriptor_ascii(handle_, index, data, length);
    }
    int claimInterface(int interfaceNumber) override {
        return libusb_claim_interface(handle_, interfaceNumber);
    }
    int releaseInterface(int interfaceNumber) override {
        return libusb_release_interface(handle_, interfaceNumber);
    }
    int bulkTransfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                     unsigned int timeoutMs) override {
        return libusb_bulk_transfer(handle_, endpoint, data, length, transferred, timeoutMs);
    }
    int clearHalt(uint8_t endpoint) override { return libusb_clear_halt(handle_, endpoint); }

  private:
    SessionPtr session_;
    libusb_device_handle* handle_;
};

class SystemUsbDevice final : public UsbDevice {
  public:
    // Takes a reference of its own on `device`.
    SystemUsbDevice(SessionPtr session, libusb_device* device)
        : session_(std::move(session)), device_(libusb_ref_device(device)) {}
    ~SystemUsbDevice() override { libusb_unref_device(device_); }
    SystemUsbDevice(const SystemUsbDevice&) = delete;
    SystemUsbDevice& operator=(const SystemUsbDevice&) = delete;

    int getDeviceDescriptor(UsbDeviceDescriptor& out) override {
        libusb_device_descriptor descriptor{};
        const int result = libusb_get_device_descriptor(device_, &descriptor);
        if (result != LIBUSB_SUCCESS) return result;
        out.vendorId = descriptor.idVendor;
        out.productId = descriptor.idProduct;
        out.serialNumberIndex = descriptor.iSerialNumber;
        return LIBUSB_SUCCESS;
    }

    int getActiveConfigDescriptor(UsbConfigDescriptor& out) override {
        libusb_config_descriptor* raw = nullptr;
        const int result = libusb_get_active_config_descriptor(device_, &raw);
        if (result != LIBUSB_SUCCESS) return result;
        const std::unique_ptr<libusb_config_descriptor, ConfigFree> config(raw);
        out.interfaces.clear();
        out.interfaces.reserve(config->bNumInterfaces);
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface& source = config->interface[i];
            UsbInterface& target = out.interfaces.emplace_back();
            target.altSettings.reserve(static_cast<size_t>(source.num_altsetting));
            for (int a = 0; a < source.num_altsetting; ++a) {
                const libusb_interface_descriptor& setting = source.altsetting[a];
                UsbAltSetting& copy = target.altSettings.emplace_back();
                copy.interfaceNumber = setting.bInterfaceNumber;
                copy.alternateSetting = setting.bAlternateSetting;
                copy.interfaceClass = setting.bInterfaceClass;
                copy.endpoints.reserve(setting.bNumEndpoints);
                for (int e = 0; e < setting.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
                    copy.endpoints.push_back({endpoint.bEndpointAddress, endpoint.bmAttributes,
                                              endpoint.wMaxPacketSize});
                }
            }
        }
        return LIBUSB_SUCCESS;
    }

    int open(std::unique_ptr<UsbDeviceHandle>& handle) override {
        libusb_device_handle* raw = nullptr;
        const int result = libusb_open(device_, &raw);
        if (result != LIBUSB_SUCCESS) return result;
        handle = std::make_unique<SystemUsbDeviceHandle>(session_, raw);
        return LIBUSB_SUCCESS;
    }

  private:
    SessionPtr session_;
    libusb_device* device_;
};

class SystemUsbContext final : public UsbContext {
  public:
    explicit SystemUsbContext(SessionPtr session) : session_(std::move(session)) {}

    int getDeviceList(std::vector<std::shared_ptr<UsbDevice>>& out) override {
        libusb_device** raw = nullptr;
        const ssize_t count = libusb_get_device_list(session_->context, &raw);
        if (count < 0) return static_cast<int>(count);
        // Freeing the list drops its references; each record holds its own.
        const std::unique_ptr<libusb_device*, DeviceListFree> list(raw);
        out.clear();
        out.reserve(static_cast<size_t>(count));
        for (ssize_t i = 0; i < count; ++i) {
            out.push_back(std::make_shared<SystemUsbDevice>(session_, list.get()[i]));
        }
        return static_cast<int>(count);
    }

  private:
    SessionPtr session_;
};

}  // namespace

int SystemHidBackend::init() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] { result = hid_init(); });
    return result;
}

std::vector<HidDeviceEntry> SystemHidBackend::enumerate(uint16_t vendorId, uint16_t productId) {
    std::vector<HidDeviceEntry> entries;
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
        HidDeviceEntry& entry = entries.emplace_back();
        if (info->path) entry.path = info->path;
        entry.vendorId = info->vendor_id;
        entry.productId = info->product_id;
        entry.hasSerialNumber = info->serial_number != nullptr;
        entry.serialNumber = wideOrEmpty(info->serial_number);
        entry.manufacturer = wideOrEmpty(info->manufacturer_string);
        entry.product = wideOrEmpty(info->product_string);
        entry.releaseNumber = info->release_number;
        entry.usagePage = info->usage_page;
        entry.usage = info->usage;
        entry.interfaceNumber = info->interface_number;
#if defined(HID_API_VERSION) && HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
        entry.busType = static_cast<int>(info->bus_type);
#endif
    }
    hid_free_enumeration(list);
    return entries;
}

std::unique_ptr<HidDevice> SystemHidBackend::openPath(const std::string& path) {
    hid_device* device = hid_open_path(path.c_str());
    if (device == nullptr) return nullptr;
    return std::make_unique<SystemHidDevice>(device);
}

int SystemUsbBackend::init(std::unique_ptr<UsbContext>& context) {
    libusb_context* raw = nullptr;
    const int result = libusb_init(&raw);
    if (result != LIBUSB_SUCCESS) return result;
    context = std::make_unique<SystemUsbContext>(std::make_shared<LibusbSession>(raw));
    return LIBUSB_SUCCESS;
}

const char* SystemUsbBackend::errorName(int code) {
    return libusb_error_name(code);
}

SystemHidBackend& systemHidBackend() {
    static SystemHidBackend backend;
    return backend;
}

SystemUsbBackend& systemUsbBackend() {
    static SystemUsbBackend backend;
    return backend;
}

}  // namespace vantor::usb
