// SPDX-License-Identifier: MIT
#include "sim/usb/VirtualBackends.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "sim/usb/AdapterState.h"

namespace vantor::sim {

using State = VirtualAdapter::State;

// ------------------------------------------------------------------ registry

const std::shared_ptr<Registry>& Registry::instance() {
    static const std::shared_ptr<Registry> registry = std::make_shared<Registry>();
    return registry;
}

std::string Registry::nextPath() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::string(usb::kVirtualPathPrefix) + std::to_string(created_++);
}

void Registry::add(const std::shared_ptr<State>& adapter) {
    std::lock_guard<std::mutex> lock(mutex_);
    adapters_.push_back(adapter);
}

void Registry::remove(const State* adapter) {
    std::lock_guard<std::mutex> lock(mutex_);
    adapters_.erase(std::remove_if(adapters_.begin(), adapters_.end(),
                                   [&](const std::weak_ptr<State>& entry) {
                                       const auto locked = entry.lock();
                                       return !locked || locked.get() == adapter;
                                   }),
                    adapters_.end());
}

std::vector<std::shared_ptr<State>> Registry::adapters() const {
    std::vector<std::shared_ptr<State>> out;
    std::lock_guard<std::mutex> lock(mutex_);
    out.reserve(adapters_.size());
    for (const auto& entry : adapters_) {
        if (auto adapter = entry.lock()) out.push_back(std::move(adapter));
    }
    return out;
}

std::shared_ptr<State> Registry::find(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : adapters_) {
        auto adapter = entry.lock();
        if (adapter && adapter->path == path) return adapter;
    }
    return nullptr;
}

namespace {

std::wstring widen(const std::string& text) {
    // USB strings of the virtual adapters are ASCII; other bytes pass as
    // their code unit.
    std::wstring out;
    out.reserve(text.size());
    for (unsigned char c : text) out.push_back(static_cast<wchar_t>(c));
    return out;
}

// ------------------------------------------------------------------ HID side

class VirtualHidDevice final : public usb::HidDevice {
  public:
    VirtualHidDevice(std::shared_ptr<State> adapter, std::shared_ptr<State::HidInput> input)
        : adapter_(std::move(adapter)), input_(std::move(input)) {}
    ~VirtualHidDevice() override { adapter_->closeHid(*input_); }
    VirtualHidDevice(const VirtualHidDevice&) = delete;
    VirtualHidDevice& operator=(const VirtualHidDevice&) = delete;

    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        return adapter_->hidRead(*input_, data, length, milliseconds, &cancelled_);
    }
    int write(const uint8_t* data, size_t length) override {
        return adapter_->hidWrite(*input_, data, length);
    }
    // The blocked read waits on the adapter's input condition, so the flag
    // alone would be seen only at its timeout: the adapter wakes it.
    void cancelReads() override {
        cancelled_.store(true);
        adapter_->wakeHidReaders();
    }

  private:
    std::shared_ptr<State> adapter_;
    std::shared_ptr<State::HidInput> input_;  // this handle's input reports
    std::atomic<bool> cancelled_{false};
};

class VirtualHidBackend final : public usb::HidBackend {
  public:
    explicit VirtualHidBackend(std::shared_ptr<Registry> registry)
        : registry_(std::move(registry)) {}

    int init() override { return 0; }

    std::vector<usb::HidDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) override {
        std::vector<usb::HidDeviceEntry> entries;
        for (const auto& adapter : registry_->adapters()) {
            if (!adapter->isPlugged()) continue;
            if (vendorId != 0 && vendorId != adapter->vendorId) continue;
            if (productId != 0 && productId != adapter->productId) continue;
            const Identity identity = adapter->identity();
            usb::HidDeviceEntry entry;
            entry.path = adapter->path;
            entry.vendorId = adapter->vendorId;
            entry.productId = adapter->productId;
            entry.hasSerialNumber = true;
            entry.serialNumber = widen(adapter->serial);
            entry.manufacturer = widen(identity.manufacturer);
            entry.product = widen(identity.productName);
            entry.releaseNumber = 0x0100;
            entry.usagePage = 0xFF00;  // vendor-defined
            entry.usage = 0x0001;
            entry.interfaceNumber = kHidInterface;
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    std::unique_ptr<usb::HidDevice> openPath(const std::string& path) override {
        const auto adapter = registry_->find(path);
        if (!adapter) return nullptr;
        auto input = adapter->openHid();
        if (!input) return nullptr;
        return std::make_unique<VirtualHidDevice>(adapter, std::move(input));
    }

  private:
    std::shared_ptr<Registry> registry_;
};

// --------------------------------------------------------------- libusb side

std::atomic<uint64_t> nextHandleId{1};

class VirtualUsbDeviceHandle final : public usb::UsbDeviceHandle {
  public:
    VirtualUsbDeviceHandle(std::shared_ptr<State> adapter, uint64_t epoch)
        : adapter_(std::move(adapter)), epoch_(epoch), id_(nextHandleId++) {}
    ~VirtualUsbDeviceHandle() override { adapter_->releaseAll(id_); }

    int getStringDescriptorAscii(uint8_t index, uint8_t* data, int length) override {
        if (data == nullptr || length <= 0) return usb::kUsbErrorInvalidParam;
        std::string text;
        const int result = adapter_->stringDescriptor(epoch_, index, text);
        if (result != usb::kUsbSuccess) return result;
        // Like libusb: non-ASCII characters become '?', the text is cut to
        // length - 1 bytes and terminated.
        const size_t n = std::min(text.size(), static_cast<size_t>(length - 1));
        for (size_t i = 0; i < n; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            data[i] = c < 0x80 ? c : '?';
        }
        data[n] = 0;
        return static_cast<int>(n);
    }
    int claimInterface(int interfaceNumber) override {
        return adapter_->claimInterface(epoch_, id_, interfaceNumber);
    }
    int releaseInterface(int interfaceNumber) override {
        return adapter_->releaseInterface(epoch_, id_, interfaceNumber);
    }
    int bulkTransfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                     unsigned int timeoutMs) override {
        return adapter_->bulkTransfer(epoch_, id_, endpoint, data, length, transferred, timeoutMs);
    }

  private:
    std::shared_ptr<State> adapter_;
    uint64_t epoch_;
    uint64_t id_;
};

class VirtualUsbDevice final : public usb::UsbDevice {
  public:
    VirtualUsbDevice(std::shared_ptr<State> adapter, uint64_t epoch)
        : adapter_(std::move(adapter)), epoch_(epoch) {}

    int getDeviceDescriptor(usb::UsbDeviceDescriptor& out) override {
        out.vendorId = adapter_->vendorId;
        out.productId = adapter_->productId;
        out.serialNumberIndex = kSerialStringIndex;
        return usb::kUsbSuccess;
    }

    int getActiveConfigDescriptor(usb::UsbConfigDescriptor& out) override {
        if (!adapter_->alive(epoch_)) return usb::kUsbErrorNoDevice;
        const uint16_t hidPacket =
            static_cast<uint16_t>(std::min<size_t>(adapter_->reportSize, 1024));
        usb::UsbAltSetting hid;
        hid.interfaceNumber = kHidInterface;
        hid.interfaceClass = 0x03;
        hid.endpoints.push_back({kHidInEndpoint, 0x03, hidPacket});
        usb::UsbAltSetting vendor;
        vendor.interfaceNumber = kBulkInterface;
        vendor.interfaceClass = 0xFF;
        vendor.endpoints.push_back({kBulkInEndpoint, 0x02, adapter_->bulkPacketSize});
        vendor.endpoints.push_back({kBulkOutEndpoint, 0x02, adapter_->bulkPacketSize});
        out.interfaces.clear();
        out.interfaces.push_back(usb::UsbInterface{{std::move(hid)}});
        out.interfaces.push_back(usb::UsbInterface{{std::move(vendor)}});
        return usb::kUsbSuccess;
    }

    int open(std::unique_ptr<usb::UsbDeviceHandle>& handle) override {
        if (!adapter_->alive(epoch_)) return usb::kUsbErrorNoDevice;
        handle = std::make_unique<VirtualUsbDeviceHandle>(adapter_, epoch_);
        return usb::kUsbSuccess;
    }

  private:
    std::shared_ptr<State> adapter_;
    uint64_t epoch_;
};

class VirtualUsbContext final : public usb::UsbContext {
  public:
    explicit VirtualUsbContext(std::shared_ptr<Registry> registry)
        : registry_(std::move(registry)) {}

    int getDeviceList(std::vector<std::shared_ptr<usb::UsbDevice>>& out) override {
        out.clear();
        for (const auto& adapter : registry_->adapters()) {
            if (!adapter->bulk) continue;
            const auto epoch = adapter->openEpoch();
            if (!epoch) continue;
            out.push_back(std::make_shared<VirtualUsbDevice>(adapter, *epoch));
        }
        return static_cast<int>(out.size());
    }

  private:
    std::shared_ptr<Registry> registry_;
};

class VirtualUsbBackend final : public usb::UsbBackend {
  public:
    explicit VirtualUsbBackend(std::shared_ptr<Registry> registry)
        : registry_(std::move(registry)) {}

    int init(std::unique_ptr<usb::UsbContext>& context) override {
        context = std::make_unique<VirtualUsbContext>(registry_);
        return usb::kUsbSuccess;
    }

    const char* errorName(int code) override {
        switch (code) {
            case usb::kUsbSuccess:
                return "LIBUSB_SUCCESS";
            case usb::kUsbErrorIo:
                return "LIBUSB_ERROR_IO";
            case usb::kUsbErrorInvalidParam:
                return "LIBUSB_ERROR_INVALID_PARAM";
            case usb::kUsbErrorAccess:
                return "LIBUSB_ERROR_ACCESS";
            case usb::kUsbErrorNoDevice:
                return "LIBUSB_ERROR_NO_DEVICE";
            case usb::kUsbErrorNotFound:
                return "LIBUSB_ERROR_NOT_FOUND";
            case usb::kUsbErrorBusy:
                return "LIBUSB_ERROR_BUSY";
            case usb::kUsbErrorTimeout:
                return "LIBUSB_ERROR_TIMEOUT";
            case usb::kUsbErrorOverflow:
                return "LIBUSB_ERROR_OVERFLOW";
            case usb::kUsbErrorPipe:
                return "LIBUSB_ERROR_PIPE";
            case usb::kUsbErrorNotSupported:
                return "LIBUSB_ERROR_NOT_SUPPORTED";
            case usb::kUsbErrorOther:
                return "LIBUSB_ERROR_OTHER";
            default:
                return "**UNKNOWN**";
        }
    }

  private:
    std::shared_ptr<Registry> registry_;
};

struct Backends {
    std::shared_ptr<VirtualHidBackend> hid;
    std::shared_ptr<VirtualUsbBackend> usb;
};

const Backends& backends() {
    static const Backends instance{std::make_shared<VirtualHidBackend>(Registry::instance()),
                                   std::make_shared<VirtualUsbBackend>(Registry::instance())};
    return instance;
}

}  // namespace

usb::HidBackend& virtualHidBackend() {
    return *backends().hid;
}
usb::UsbBackend& virtualUsbBackend() {
    return *backends().usb;
}

void installVirtualBackendsOnce() {
    static std::once_flag once;
    std::call_once(once, [] { usb::installVirtualBackends(backends().hid, backends().usb); });
}

}  // namespace vantor::sim
