// SPDX-License-Identifier: MIT
#include "tests/kernel/EmulatedAdapter.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

#include "sdk/transport/UsbBackend.h"
#include "sim/usb/AdapterState.h"
#include "sim/usb/VirtualBackends.h"

namespace vantor::kernel {
namespace {

using State = sim::VirtualAdapter::State;

struct DataRef {
    void operator()(UMockdevIoctlData* data) const {
        if (data != nullptr) umockdev_ioctl_data_unref(data);
    }
};
using DataPtr = std::unique_ptr<UMockdevIoctlData, DataRef>;

DataPtr resolve(UMockdevIoctlData* parent, size_t offset, size_t length) {
    return DataPtr(umockdev_ioctl_data_resolve(parent, offset, length, nullptr));
}

std::string hex(const Bytes& bytes) {
    std::string out;
    for (uint8_t b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0xF]};
    return out;
}

void appendLe16(Bytes& out, size_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

// Vendor page 0xFF00, usage 1: one input and one output report of
// `reportSize` bytes, no report ids.
Bytes reportDescriptor(size_t reportSize) {
    const auto low = static_cast<uint8_t>(reportSize & 0xFF);
    const auto high = static_cast<uint8_t>((reportSize >> 8) & 0xFF);
    // Usage page, usage, collection, logical range 0..255, 8-bit fields,
    // then a two-byte report count before the input and the output item.
    return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26,
            0xFF, 0x00, 0x75, 0x08, 0x96, low,  high, 0x09, 0x01, 0x81,
            0x02, 0x96, low,  high, 0x09, 0x01, 0x91, 0x02, 0xC0};
}

// The device descriptor and the one configuration, as sysfs' `descriptors`
// holds them: the HID interface 0 with its interrupt IN endpoint, and the
// vendor interface 1 with its two bulk endpoints.
Bytes usbDescriptors(const State& state, size_t reportDescriptorSize) {
    Bytes device = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40};
    appendLe16(device, state.vendorId);
    appendLe16(device, state.productId);
    device.insert(device.end(), {0x00, 0x01, sim::kManufacturerStringIndex,
                                 sim::kProductStringIndex, sim::kSerialStringIndex, 0x01});
    // Interface 0 (HID, one endpoint), then its HID descriptor, which gives
    // the report descriptor's length.
    Bytes interfaces = {0x09, 0x04, sim::kHidInterface, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00};
    interfaces.insert(interfaces.end(), {0x09, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22});
    appendLe16(interfaces, reportDescriptorSize);
    interfaces.insert(interfaces.end(), {0x07, 0x05, sim::kHidInEndpoint, 0x03});
    appendLe16(interfaces, std::min<size_t>(state.reportSize, 1024));
    interfaces.push_back(0x01);
    if (state.bulk) {
        interfaces.insert(interfaces.end(),
                          {0x09, 0x04, sim::kBulkInterface, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00});
        for (uint8_t endpoint : {sim::kBulkInEndpoint, sim::kBulkOutEndpoint}) {
            interfaces.insert(interfaces.end(), {0x07, 0x05, endpoint, 0x02});
            appendLe16(interfaces, state.bulkPacketSize);
            interfaces.push_back(0x00);
        }
    }
    Bytes config = {0x09, 0x02};
    appendLe16(config, 9 + interfaces.size());
    config.insert(config.end(), {static_cast<uint8_t>(state.bulk ? 2 : 1), 0x01, 0x00, 0x80, 0x32});
    config.insert(config.end(), interfaces.begin(), interfaces.end());
    device.insert(device.end(), config.begin(), config.end());
    return device;
}

std::string format(const char* pattern, int value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// The errno a usbdevfs ioctl fails with for a libusb-style result.
int errnoOf(int usbError) {
    constexpr std::pair<int, int> kErrnos[] = {{usb::kUsbErrorBusy, EBUSY},
                                               {usb::kUsbErrorNotFound, ENOENT},
                                               {usb::kUsbErrorNoDevice, ENODEV},
                                               {usb::kUsbErrorPipe, EPIPE},
                                               {usb::kUsbErrorTimeout, ETIMEDOUT}};
    for (const auto& [error, number] : kErrnos) {
        if (error == usbError) return number;
    }
    return EIO;
}

// umockdev removes a device's directory but leaves its links in
// /sys/bus/*/devices and /sys/class/*, which would refuse the same device
// plugged in again; the kernel removes them.
void removeDanglingLinks(const std::string& sysDir) {
    namespace fs = std::filesystem;
    std::error_code error;
    for (const char* top : {"/bus", "/class"}) {
        for (auto it = fs::recursive_directory_iterator(sysDir + top, error);
             it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_symlink(error) && !fs::exists(it->path(), error)) {
                fs::remove(it->path(), error);
            }
        }
    }
}

}  // namespace

// ----------------------------------------------------------------- Testbed

Testbed::Testbed() {
    if (available()) bed_ = umockdev_testbed_new();
}

Testbed::~Testbed() {
    if (bed_ != nullptr) g_object_unref(bed_);
}

bool Testbed::available() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

std::string Testbed::rootDir() const {
    gchar* root = umockdev_testbed_get_root_dir(bed_);
    std::string out(root);
    g_free(root);
    return out;
}

// ---------------------------------------------------------------- hidraw

struct HidNode {
    // The node's reports come from one handle on the adapter, opened with
    // the node (the harness's hosts open each node once at a time).
    HidNode(UMockdevTestbed* bed, std::shared_ptr<State> state, std::string node)
        : bed_(bed), state_(std::move(state)), input_(state_->openHid()), node_(std::move(node)) {
        if (!input_) throw std::runtime_error("the adapter is unplugged");
        handler_ = umockdev_ioctl_base_new();
        g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
        g_signal_connect(handler_, "handle-read", G_CALLBACK(onRead), this);
        g_signal_connect(handler_, "handle-write", G_CALLBACK(onWrite), this);
        if (!umockdev_testbed_attach_ioctl(bed_, node_.c_str(), handler_, nullptr)) {
            throw std::runtime_error("cannot attach to " + node_);
        }
    }

    ~HidNode() {
        stopPump();
        state_->closeHid(*input_);
        g_signal_handlers_disconnect_by_data(handler_, this);
        g_object_unref(handler_);
        if (tokenFd_ >= 0) ::close(tokenFd_);
    }

    // Once the node exists: the PTY's far end for the poll bytes, and the
    // thread that moves the firmware's input reports to the node.
    void start(const std::string& rootDir) {
        masterFd_ = umockdev_testbed_get_dev_fd(bed_, node_.c_str());
        char target[256] = {};
        if (masterFd_ < 0 || readlink((rootDir + node_).c_str(), target, sizeof target - 1) <= 0) {
            throw std::runtime_error("no PTY behind " + node_);
        }
        tokenFd_ = ::open(target, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios mode{};
        if (tokenFd_ < 0 || tcgetattr(tokenFd_, &mode) != 0) {
            throw std::runtime_error(std::string("cannot open ") + target);
        }
        cfmakeraw(&mode);
        tcsetattr(tokenFd_, TCSANOW, &mode);
        pump_ = std::thread([this] { pumpLoop(); });
    }

    // The device is gone: a blocked poll wakes, and reads and writes fail.
    void hangUp() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            gone_ = true;
        }
        poke();
        stopPump();
        umockdev_testbed_detach_ioctl(bed_, node_.c_str(), nullptr);
    }

  private:
    void poke() const {
        const char token = 'r';
        if (::write(masterFd_, &token, 1) != 1) std::perror("hidraw poll byte");
    }

    void stopPump() {
        if (!pump_.joinable()) return;
        cancelled_.store(true);
        state_->wakeHidReaders();
        pump_.join();
    }

    void pumpLoop() {
        Bytes buffer(state_->reportSize);
        while (!cancelled_.load()) {
            const int n = state_->hidRead(*input_, buffer.data(), buffer.size(), -1, &cancelled_);
            if (n < 0) return;  // unplugged
            if (n == 0) continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                pending_.emplace_back(buffer.begin(), buffer.begin() + n);
            }
            poke();
        }
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto& node = *static_cast<HidNode*>(self);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        const Bytes descriptor = reportDescriptor(node.state_->reportSize);
        switch (umockdev_ioctl_client_get_request(client)) {
            case HIDIOCGRDESCSIZE: {
                const DataPtr size = resolve(arg, 0, sizeof(int));
                const int value = static_cast<int>(descriptor.size());
                umockdev_ioctl_data_update(size.get(), 0, (guint8*)&value, sizeof value);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
            case HIDIOCGRDESC: {
                const DataPtr out = resolve(arg, 0, sizeof(hidraw_report_descriptor));
                hidraw_report_descriptor value{};
                value.size = static_cast<uint32_t>(descriptor.size());
                std::copy(descriptor.begin(), descriptor.end(), value.value);
                umockdev_ioctl_data_update(out.get(), 0, (guint8*)&value, sizeof value);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
            default:
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                return TRUE;
        }
    }

    // One input report per read, without a report id (the adapter numbers
    // none); a read shorter than the report gets its start, as from hidraw.
    static gboolean onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto& node = *static_cast<HidNode*>(self);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::lock_guard<std::mutex> lock(node.mutex_);
        if (node.gone_) {
            // The poll byte stays, so every later poll and read fails too.
            umockdev_ioctl_client_complete(client, -1, EIO);
            return TRUE;
        }
        if (node.pending_.empty()) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return TRUE;
        }
        char token = 0;
        if (::read(node.tokenFd_, &token, 1) != 1) std::perror("hidraw poll byte");
        Bytes report = std::move(node.pending_.front());
        node.pending_.pop_front();
        report.resize(std::min<size_t>(report.size(), arg->data_len));
        umockdev_ioctl_data_update(arg, 0, report.data(), static_cast<gint>(report.size()));
        umockdev_ioctl_client_complete(client, static_cast<glong>(report.size()), 0);
        return TRUE;
    }

    // One output report per write, report id first.
    static gboolean onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto& node = *static_cast<HidNode*>(self);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        {
            std::lock_guard<std::mutex> lock(node.mutex_);
            if (node.gone_) {
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return TRUE;
            }
        }
        const int result = node.state_->hidWrite(*node.input_, arg->data, arg->data_len);
        umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? EIO : 0);
        return TRUE;
    }

    UMockdevTestbed* bed_;
    std::shared_ptr<State> state_;
    std::shared_ptr<State::HidInput> input_;
    std::string node_;
    UMockdevIoctlBase* handler_ = nullptr;
    int masterFd_ = -1;  // the testbed's
    int tokenFd_ = -1;
    std::thread pump_;
    std::atomic<bool> cancelled_{false};

    std::mutex mutex_;
    bool gone_ = false;
    std::deque<Bytes> pending_;
};

// --------------------------------------------------------------- usbdevfs

struct UsbNode {
    UsbNode(UMockdevTestbed* bed, std::shared_ptr<State> state, uint64_t epoch, std::string node)
        : bed_(bed), state_(std::move(state)), epoch_(epoch), node_(std::move(node)) {
        handler_ = umockdev_ioctl_base_new();
        g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
        if (!umockdev_testbed_attach_ioctl(bed_, node_.c_str(), handler_, nullptr)) {
            throw std::runtime_error("cannot attach to " + node_);
        }
    }

    ~UsbNode() {
        g_signal_handlers_disconnect_by_data(handler_, this);
        g_object_unref(handler_);
        std::lock_guard<std::mutex> lock(mutex_);
        for (UMockdevIoctlClient* client : clients_) g_object_unref(client);
    }

    void hangUp() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            gone_ = true;
        }
        umockdev_testbed_detach_ioctl(bed_, node_.c_str(), nullptr);
    }

  private:
    struct Urb {
        UMockdevIoctlClient* client;
        DataPtr urb;     // struct usbdevfs_urb
        DataPtr buffer;  // its data, null when empty
        int status = 0;
        int actual = 0;
    };

    static uint64_t handleOf(UMockdevIoctlClient* client) {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(client));
    }

    // Interfaces claimed through a closed file are released, as the kernel
    // releases them on close.
    void forgetClosedLocked(UMockdevIoctlClient* current) {
        if (std::find(clients_.begin(), clients_.end(), current) == clients_.end()) {
            clients_.push_back(static_cast<UMockdevIoctlClient*>(g_object_ref(current)));
        }
        for (auto it = clients_.begin(); it != clients_.end();) {
            if (*it != current && !umockdev_ioctl_client_get_connected(*it)) {
                state_->releaseAll(handleOf(*it));
                g_object_unref(*it);
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
    }

    // A control request: only GET_DESCRIPTOR of a string is answered.
    void control(Urb& urb) {
        auto* raw = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
        if (!urb.buffer || raw->buffer_length < 8) {
            urb.status = -EINVAL;
            return;
        }
        uint8_t* setup = urb.buffer->data;
        const size_t wanted = static_cast<size_t>(setup[6] | (setup[7] << 8));
        if (setup[0] != 0x80 || setup[1] != 0x06 || setup[3] != 0x03) {
            urb.status = -EPIPE;
            return;
        }
        Bytes descriptor;
        if (setup[2] == 0) {
            descriptor = {0x04, 0x03, 0x09, 0x04};  // English (US)
        } else {
            std::string text;
            const int result = state_->stringDescriptor(epoch_, setup[2], text);
            if (result != usb::kUsbSuccess) {
                urb.status = -errnoOf(result);
                return;
            }
            descriptor = {static_cast<uint8_t>(2 + 2 * text.size()), 0x03};
            for (char c : text) descriptor.insert(descriptor.end(), {static_cast<uint8_t>(c), 0});
        }
        const size_t n =
            std::min({descriptor.size(), wanted, static_cast<size_t>(raw->buffer_length) - 8});
        std::copy_n(descriptor.begin(), n, setup + 8);
        urb.actual = static_cast<int>(n);
    }

    // Tries to finish a bulk IN URB from what the firmware has queued; false
    // while it has nothing.
    bool fillIn(Urb& urb) {
        auto* raw = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
        if (haltedLocked(urb, raw->endpoint)) return true;
        int moved = 0;
        const int result = state_->bulkTransfer(epoch_, handleOf(urb.client), raw->endpoint,
                                                urb.buffer ? urb.buffer->data : nullptr,
                                                raw->buffer_length, &moved, 1);
        if (result == usb::kUsbErrorTimeout) return false;
        finish(urb, raw->endpoint, result, moved);
        return true;
    }

    // A stalled endpoint stays halted, and fails every transfer at once,
    // until the host clears the halt (CLEAR_FEATURE, USBDEVFS_CLEAR_HALT).
    bool haltedLocked(Urb& urb, uint8_t endpoint) {
        if (halted_.count(endpoint) == 0) return false;
        urb.status = -EPIPE;
        return true;
    }

    void finish(Urb& urb, uint8_t endpoint, int result, int moved) {
        urb.status = result == usb::kUsbSuccess ? 0 : -errnoOf(result);
        urb.actual = moved;
        if (result == usb::kUsbErrorPipe) halted_.insert(endpoint);
    }

    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        Urb urb{client, resolve(arg, 0, sizeof(usbdevfs_urb)), nullptr};
        auto* raw = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
        if (raw->buffer_length > 0) {
            urb.buffer = resolve(urb.urb.get(), offsetof(usbdevfs_urb, buffer),
                                 static_cast<size_t>(raw->buffer_length));
        }
        if (raw->type == USBDEVFS_URB_TYPE_CONTROL) {
            control(urb);
        } else if (raw->type != USBDEVFS_URB_TYPE_BULK) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        } else if (raw->endpoint & 0x80) {
            inFlight_.push_back(std::move(urb));
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        } else if (!haltedLocked(urb, raw->endpoint)) {
            int moved = 0;
            const int result = state_->bulkTransfer(epoch_, handleOf(client), raw->endpoint,
                                                    urb.buffer ? urb.buffer->data : nullptr,
                                                    raw->buffer_length, &moved, 1000);
            finish(urb, raw->endpoint, result, moved);
        }
        done_.push_back(std::move(urb));
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        auto mine = [&](const Urb& urb) { return urb.client == client; };
        auto it = std::find_if(done_.begin(), done_.end(), mine);
        if (it == done_.end()) {
            for (auto in = inFlight_.begin(); in != inFlight_.end(); ++in) {
                if (in->client == client && fillIn(*in)) {
                    done_.push_back(std::move(*in));
                    inFlight_.erase(in);
                    it = done_.end() - 1;
                    break;
                }
            }
        }
        if (it == done_.end()) {
            umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
            return;
        }
        Urb urb = std::move(*it);
        done_.erase(it);
        auto* raw = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
        raw->status = urb.status;
        raw->actual_length = urb.actual;
        if (urb.buffer) umockdev_ioctl_data_update(urb.buffer.get(), 0, nullptr, 0);
        const DataPtr pointer = resolve(arg, 0, sizeof(void*));
        umockdev_ioctl_data_set_ptr(pointer.get(), 0, urb.urb.get());
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        const auto address = *reinterpret_cast<gulong*>(arg->data);
        for (auto it = inFlight_.begin(); it != inFlight_.end(); ++it) {
            if (it->client == client && it->urb->client_addr == address) {
                it->status = -ENOENT;
                done_.push_back(std::move(*it));
                inFlight_.erase(it);
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto& node = *static_cast<UsbNode*>(self);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::lock_guard<std::mutex> lock(node.mutex_);
        node.forgetClosedLocked(client);
        const gulong request = umockdev_ioctl_client_get_request(client);
        if (node.gone_ && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB &&
            request != USBDEVFS_DISCARDURB) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                const DataPtr out = resolve(arg, 0, sizeof(uint32_t));
                const uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                      USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                      USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
                umockdev_ioctl_data_update(out.get(), 0, (guint8*)&caps, sizeof caps);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
            case USBDEVFS_CLAIMINTERFACE:
            case USBDEVFS_RELEASEINTERFACE: {
                const DataPtr number = resolve(arg, 0, sizeof(unsigned int));
                const int interface = *reinterpret_cast<int*>(number->data);
                const int result =
                    request == USBDEVFS_CLAIMINTERFACE
                        ? node.state_->claimInterface(node.epoch_, handleOf(client), interface)
                        : node.state_->releaseInterface(node.epoch_, handleOf(client), interface);
                umockdev_ioctl_client_complete(client, result == usb::kUsbSuccess ? 0 : -1,
                                               result == usb::kUsbSuccess ? 0 : errnoOf(result));
                return TRUE;
            }
            case USBDEVFS_CLEAR_HALT: {
                const DataPtr endpoint = resolve(arg, 0, sizeof(unsigned int));
                node.halted_.erase(
                    static_cast<uint8_t>(*reinterpret_cast<unsigned*>(endpoint->data)));
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
            case USBDEVFS_SUBMITURB:
                node.submit(client, arg);
                return TRUE;
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY:
                node.reap(client, arg);
                return TRUE;
            case USBDEVFS_DISCARDURB:
                node.discard(client, arg);
                return TRUE;
            default:
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                return TRUE;
        }
    }

    UMockdevTestbed* bed_;
    std::shared_ptr<State> state_;
    uint64_t epoch_;
    std::string node_;
    UMockdevIoctlBase* handler_ = nullptr;

    std::mutex mutex_;
    bool gone_ = false;
    std::set<uint8_t> halted_;                   // endpoints
    std::vector<UMockdevIoctlClient*> clients_;  // each holds a reference
    std::deque<Urb> inFlight_;                   // bulk IN URBs waiting for data
    std::deque<Urb> done_;                       // finished, not yet reaped
};

// --------------------------------------------------------- EmulatedAdapter

EmulatedAdapter::EmulatedAdapter(Testbed& bed, const sim::AdapterOptions& options, int port)
    : bed_(bed),
      device_(options),
      state_(sim::Registry::instance()->find(device_.path())),
      port_(port) {
    sim::Registry::instance()->remove(state_.get());
    addNodes();
}

EmulatedAdapter::~EmulatedAdapter() {
    if (device_.isPlugged()) unplug();
}

void EmulatedAdapter::addNodes() {
    const auto& state = state_;
    const int address = bed_.nextDeviceAddress();
    const int hidraw = bed_.nextHidraw();
    usbSysPath_ = "/sys/devices/usb1/1-" + std::to_string(port_);
    hidrawNode_ = "/dev/hidraw" + std::to_string(hidraw);
    usbNode_ = format("/dev/bus/usb/001/%03d", address);
    const uint64_t epoch = *state->openEpoch();
    // The handlers first, so that the nodes answer from the moment they
    // appear.
    hidNodes_.push_back(std::make_unique<HidNode>(bed_.get(), state, hidrawNode_));
    usbNodes_.push_back(std::make_unique<UsbNode>(bed_.get(), state, epoch, usbNode_));

    const sim::Identity identity = device_.system().identity();
    const Bytes report = reportDescriptor(state->reportSize);
    const std::string port = std::to_string(port_);
    const std::string ids =
        format("%04X", state->vendorId) + ":" + format("%04X", state->productId);
    const std::string usb = usbSysPath_.substr(4);  // without "/sys"
    const std::string hid = usb + "/1-" + port + ":1.0/0003:" + ids + format(".%04X", hidraw + 1);
    std::string record;
    record += "P: " + usb + "\nN: " + usbNode_.substr(5) + "\nE: SUBSYSTEM=usb\n" +
              "E: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + usbNode_ +
              "\nE: BUSNUM=001\nE: DEVNUM=" + format("%03d", address) +
              "\nA: idVendor=" + format("%04x", state->vendorId) +
              "\nA: idProduct=" + format("%04x", state->productId) +
              "\nA: manufacturer=" + identity.manufacturer +
              "\nA: product=" + identity.productName + "\nA: serial=" + device_.serial() +
              "\nA: busnum=1\nA: devnum=" + std::to_string(address) +
              "\nA: bcdDevice=0100\nA: bConfigurationValue=1\nA: speed=480\nH: descriptors=" +
              hex(usbDescriptors(*state, report.size())) + "\n\n";
    record += "P: " + usb + "/1-" + port + ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" +
              "E: DRIVER=usbhid\nE: INTERFACE=3/0/0\nA: bInterfaceNumber=00\n" +
              "A: bInterfaceClass=03\n\n";
    if (state->bulk) {
        record += "P: " + usb + "/1-" + port + ":1.1\nE: SUBSYSTEM=usb\n" +
                  "E: DEVTYPE=usb_interface\nE: INTERFACE=255/0/0\nA: bInterfaceNumber=01\n" +
                  "A: bInterfaceClass=ff\n\n";
    }
    record += "P: " + hid + "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=0003:" +
              format("%08X", state->vendorId) + ":" + format("%08X", state->productId) +
              "\nE: HID_NAME=" + identity.manufacturer + " " + identity.productName +
              "\nE: HID_UNIQ=" + device_.serial() + "\nE: HID_PHYS=usb-0000:00:14.0-" + port +
              "/input0\nH: report_descriptor=" + hex(report) + "\n\n";
    record += "P: " + hid + "/hidraw/hidraw" + std::to_string(hidraw) +
              "\nN: " + hidrawNode_.substr(5) + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=" + hidrawNode_ +
              // hidapi reads the parent's ids through this link when filtering.
              "\nL: device=../../../" + hid.substr(hid.rfind('/') + 1) + "\n";
    // Children first, as the kernel removes them.
    sysPaths_ = {"/sys" + hid + "/hidraw/hidraw" + std::to_string(hidraw), "/sys" + hid};
    if (state->bulk) sysPaths_.push_back("/sys" + usb + "/1-" + port + ":1.1");
    sysPaths_.push_back("/sys" + usb + "/1-" + port + ":1.0");
    sysPaths_.push_back(usbSysPath_);
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(bed_.get(), record.c_str(), &error)) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot add the adapter's devices: " + message);
    }
    hidNodes_.back()->start(bed_.rootDir());
}

void EmulatedAdapter::plug() {
    device_.plug();
    addNodes();
}

void EmulatedAdapter::unplug() {
    hidNodes_.back()->hangUp();
    usbNodes_.back()->hangUp();
    device_.unplug();
    for (const std::string& path : sysPaths_) {
        umockdev_testbed_uevent(bed_.get(), path.c_str(), "remove");
    }
    umockdev_testbed_remove_device(bed_.get(), usbSysPath_.c_str());
    removeDanglingLinks(bed_.rootDir() + "/sys");
}

void EmulatedAdapter::refuseUsbNode() {
    namespace fs = std::filesystem;
    const fs::path node = bed_.rootDir() + usbNode_;
    fs::remove(node);
    // Read-only sysfs attributes refuse writers with EACCES, root included.
    fs::create_symlink("/sys/devices/system/cpu/online", node);
}

}  // namespace vantor::kernel
