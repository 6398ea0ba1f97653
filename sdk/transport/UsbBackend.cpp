// SPDX-License-Identifier: MIT
// The default backends: the system's devices first, then those of the
// installed virtual provider. Installation may happen while other threads
// enumerate or open, so the provider pair is swapped as one immutable
// snapshot under a mutex; every operation works on the snapshot it took.

#include "sdk/transport/UsbBackend.h"

#include <cstring>
#include <mutex>
#include <utility>

#include "sdk/transport/SystemUsbBackend.h"

namespace vantor::usb {
namespace {

struct VirtualProviders {
    std::shared_ptr<HidBackend> hid;
    std::shared_ptr<UsbBackend> usb;
};

std::mutex& providersMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const VirtualProviders>& providersSlot() {
    static std::shared_ptr<const VirtualProviders> slot;
    return slot;
}

std::shared_ptr<const VirtualProviders> currentProviders() {
    std::lock_guard<std::mutex> lock(providersMutex());
    return providersSlot();
}

bool isVirtualPath(const std::string& path) {
    const size_t prefixLength = std::strlen(kVirtualPathPrefix);
    return path.compare(0, prefixLength, kVirtualPathPrefix) == 0;
}

// ------------------------------------------------------------------- HID

// A virtual device keeps the provider that opened it alive, so replacing the
// provider never pulls the backend out from under an open handle.
class ProviderHidDevice final : public HidDevice {
  public:
    ProviderHidDevice(std::shared_ptr<HidBackend> provider, std::unique_ptr<HidDevice> device)
        : provider_(std::move(provider)), device_(std::move(device)) {}

    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        return device_->readTimeout(data, length, milliseconds);
    }
    int write(const uint8_t* data, size_t length) override { return device_->write(data, length); }
    void cancelReads() override { device_->cancelReads(); }

  private:
    std::shared_ptr<HidBackend> provider_;  // declared first: outlives device_
    std::unique_ptr<HidDevice> device_;
};

class RoutingHidBackend final : public HidBackend {
  public:
    int init() override {
        int result = systemHidBackend().init();
        const auto providers = currentProviders();
        if (providers && providers->hid && providers->hid->init() == 0) result = 0;
        return result;
    }

    std::vector<HidDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) override {
        std::vector<HidDeviceEntry> entries = systemHidBackend().enumerate(vendorId, productId);
        const auto providers = currentProviders();
        if (providers && providers->hid) {
            std::vector<HidDeviceEntry> virtualEntries =
                providers->hid->enumerate(vendorId, productId);
            entries.insert(entries.end(), std::make_move_iterator(virtualEntries.begin()),
                           std::make_move_iterator(virtualEntries.end()));
        }
        return entries;
    }

    std::unique_ptr<HidDevice> openPath(const std::string& path) override {
        if (!isVirtualPath(path)) return systemHidBackend().openPath(path);
        const auto providers = currentProviders();
        if (!providers || !providers->hid) return nullptr;
        std::unique_ptr<HidDevice> device = providers->hid->openPath(path);
        if (!device) return nullptr;
        return std::make_unique<ProviderHidDevice>(providers->hid, std::move(device));
    }
};

// ------------------------------------------------------------------- USB

// The system context's devices (when libusb_init succeeded) followed by the
// virtual provider's.
class RoutingUsbContext final : public UsbContext {
  public:
    RoutingUsbContext(std::unique_ptr<UsbContext> system, std::shared_ptr<UsbBackend> provider,
                      std::unique_ptr<UsbContext> providerContext)
        : system_(std::move(system)),
          provider_(std::move(provider)),
          providerContext_(std::move(providerContext)) {}

    int getDeviceList(std::vector<std::shared_ptr<UsbDevice>>& out) override {
        out.clear();
        int failure = kUsbErrorOther;
        bool listed = false;
        if (system_) {
            const int count = system_->getDeviceList(out);
            if (count >= 0) {
                listed = true;
            } else {
                out.clear();
                failure = count;
            }
        }
        if (providerContext_) {
            std::vector<std::shared_ptr<UsbDevice>> virtualDevices;
            const int count = providerContext_->getDeviceList(virtualDevices);
            if (count >= 0) {
                listed = true;
                out.insert(out.end(), std::make_move_iterator(virtualDevices.begin()),
                           std::make_move_iterator(virtualDevices.end()));
            } else if (!listed) {
                failure = count;
            }
        }
        return listed ? static_cast<int>(out.size()) : failure;
    }

  private:
    std::unique_ptr<UsbContext> system_;
    std::shared_ptr<UsbBackend> provider_;  // declared before its context: outlives it
    std::unique_ptr<UsbContext> providerContext_;
};

class RoutingUsbBackend final : public UsbBackend {
  public:
    int init(std::unique_ptr<UsbContext>& context) override {
        std::unique_ptr<UsbContext> system;
        const int systemResult = systemUsbBackend().init(system);
        if (systemResult != kUsbSuccess) system.reset();

        std::shared_ptr<UsbBackend> provider;
        std::unique_ptr<UsbContext> providerContext;
        const auto providers = currentProviders();
        if (providers && providers->usb && providers->usb->init(providerContext) == kUsbSuccess &&
            providerContext) {
            provider = providers->usb;
        } else {
            providerContext.reset();
        }

        if (!system && !providerContext) {
            return systemResult != kUsbSuccess ? systemResult : kUsbErrorOther;
        }
        context = std::make_unique<RoutingUsbContext>(std::move(system), std::move(provider),
                                                      std::move(providerContext));
        return kUsbSuccess;
    }

    const char* errorName(int code) override { return systemUsbBackend().errorName(code); }
};

}  // namespace

HidBackend& defaultHidBackend() {
    static RoutingHidBackend backend;
    return backend;
}

UsbBackend& defaultUsbBackend() {
    static RoutingUsbBackend backend;
    return backend;
}

void installVirtualBackends(std::shared_ptr<HidBackend> hid, std::shared_ptr<UsbBackend> usb) {
    auto providers =
        std::make_shared<const VirtualProviders>(VirtualProviders{std::move(hid), std::move(usb)});
    std::shared_ptr<const VirtualProviders> previous;
    {
        std::lock_guard<std::mutex> lock(providersMutex());
        previous = std::exchange(providersSlot(), std::move(providers));
    }
    // `previous` is released here, outside the lock: a provider's destructor
    // may do anything, including calling back into this file.
}

}  // namespace vantor::usb
