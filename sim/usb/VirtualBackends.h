// SPDX-License-Identifier: MIT
#pragma once
// The process-wide registry of virtual adapters and the virtual HID and
// libusb backends that list and open them. The backends are installed into
// the transports' routing when the first `VirtualAdapter` is created; tests
// may also use them directly.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/transport/UsbBackend.h"
#include "sim/VirtualAdapterCore.h"

namespace vantor::sim {

class Registry {
  public:
    // The registry; the first call creates it.
    static const std::shared_ptr<Registry>& instance();

    // A fresh path "sim:<n>" (n counts adapters created in this process).
    std::string nextPath();
    void add(const std::shared_ptr<VirtualAdapter::State>& adapter);
    void remove(const VirtualAdapter::State* adapter);
    // Adapters alive, in creation order.
    std::vector<std::shared_ptr<VirtualAdapter::State>> adapters() const;
    std::shared_ptr<VirtualAdapter::State> find(const std::string& path) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<VirtualAdapter::State>> adapters_;
    uint64_t created_ = 0;
};

// The virtual backends: they see only the virtual adapters.
usb::HidBackend& virtualHidBackend();
usb::UsbBackend& virtualUsbBackend();

// Installs the virtual backends into the transports' routing, once.
void installVirtualBackendsOnce();

}  // namespace vantor::sim
