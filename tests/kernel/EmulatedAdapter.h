// SPDX-License-Identifier: MIT
#pragma once
// Adapters on an emulated Linux USB bus, for running the system backends
// (hidapi over hidraw, libusb over usbdevfs, enumeration through udev)
// without hardware. umockdev fakes sysfs, the udev database, uevents and the
// device nodes for a process run with its preload library
// (umockdev-wrapper), and forwards the ioctl, read and write calls made on a
// node to this process's handlers, on umockdev's worker thread. They answer
// from a virtual adapter's firmware, taken out of the virtual backends'
// registry so that only the emulated kernel devices are listed.
//
// A hidraw node is a PTY to umockdev, which hidapi polls before each read:
// every input report queued for the host also puts one byte into the PTY,
// and the read handler takes it back with exactly one report.

#include <umockdev.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/VirtualAdapter.h"

namespace vantor::kernel {

using Bytes = std::vector<uint8_t>;

// The umockdev test bed of this process: one at a time, created by a test's
// fixture. Empty (and `available()` false) when the process does not run
// under the preload library.
class Testbed {
  public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    static bool available();  // runs with umockdev's preload library

    UMockdevTestbed* get() const { return bed_; }
    std::string rootDir() const;
    // Numbers for new hidraw nodes and USB device addresses, never reused
    // within a test bed, as the kernel hands out fresh ones on a replug.
    int nextHidraw() { return hidraw_++; }
    int nextDeviceAddress() { return address_++; }

  private:
    UMockdevTestbed* bed_ = nullptr;
    int hidraw_ = 0;
    int address_ = 2;
};

struct HidNode;
struct UsbNode;

class EmulatedAdapter {
  public:
    // Plugs the adapter in on port `port` of bus 1.
    EmulatedAdapter(Testbed& bed, const sim::AdapterOptions& options, int port);
    ~EmulatedAdapter();
    EmulatedAdapter(const EmulatedAdapter&) = delete;
    EmulatedAdapter& operator=(const EmulatedAdapter&) = delete;

    sim::VirtualAdapter& device() { return device_; }
    const std::string& hidrawNode() const { return hidrawNode_; }  // /dev/hidrawN

    // Hot-unplug: pending and later reads and writes on the open nodes fail
    // as the kernel fails them, the nodes and sysfs entries are removed and
    // the remove uevents sent.
    void unplug();
    // Plugs in again under a new device address and hidraw node, the add
    // uevents sent; the firmware starts from power-on.
    void plug();

    // Makes the USB node refuse read-write opens with EACCES, even to root,
    // as it does for a user the node's mode does not admit.
    void refuseUsbNode();

  private:
    void addNodes();

    Testbed& bed_;
    sim::VirtualAdapter device_;
    std::shared_ptr<sim::VirtualAdapter::State> state_;
    int port_;
    std::string usbSysPath_;
    std::vector<std::string> sysPaths_;  // children first
    std::string hidrawNode_;
    std::string usbNode_;  // /dev/bus/usb/001/NNN
    // Nodes of earlier plugs stay alive: a host may still hold them open.
    std::vector<std::unique_ptr<HidNode>> hidNodes_;
    std::vector<std::unique_ptr<UsbNode>> usbNodes_;
};

}  // namespace vantor::kernel
