// SPDX-License-Identifier: MIT
// Arbitrary output reports and request messages into the virtual adapter's
// HID side: its request reassembly and every firmware family's parameter
// parsing.
//
// Input: byte 0 picks the model (bit 0: 1024-byte reports); then operations
// until the input ends:
//   0, n, bytes[n]       one raw output report (after the report id), cut to
//                        the report size
//   1, n(u16), bytes[n]  one request message, framed by this fuzzer into as
//                        many output reports as it needs
//   2, code(u16)         a request with the next transaction id and no
//                        parameters
// After each operation every input report the adapter queued is read.
//
// Checked: each input report has a valid segment header (reserved bits
// clear, chunk inside the report, no continuation without a start); every
// reassembled message has a whole header; every response carries the
// transaction id and command code of a request the adapter reassembled.
//
// One adapter of each model lives across runs, with two I3C targets and a
// legacy I2C device on its I3C bus; each run replugs it, which restarts its
// firmware and empties its queues.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "sdk/transport/UsbBackend.h"
#include "sim/VirtualAdapter.h"
#include "sim/bench/I3cBench.h"
#include "sim/usb/VirtualBackends.h"

namespace {

using vantor::sim::Bytes;
using vantor::sim::Model;
using vantor::sim::VirtualAdapter;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

uint16_t u16At(const Bytes& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() {
        const uint8_t lo = byte();
        return static_cast<uint16_t>(lo | (byte() << 8));
    }
    Bytes bytes(size_t count) {
        const size_t n = std::min(count, size_ - std::min(at_, size_));
        Bytes out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

class Run {
  public:
    explicit Run(VirtualAdapter& adapter) : adapter_(adapter) {
        adapter_.unplug();
        adapter_.plug();
        adapter_.clear();
        hid_ = vantor::sim::virtualHidBackend().openPath(adapter_.path());
        check(hid_ != nullptr, "the replugged adapter opens");
    }

    void writeReport(const Bytes& chunk) {
        Bytes report(adapter_.reportSize() + 1, 0);
        std::copy_n(chunk.begin(), std::min(chunk.size(), adapter_.reportSize()),
                    report.begin() + 1);
        write(report);
    }

    void writeMessage(const Bytes& message) {
        const size_t capacity = adapter_.reportSize() - 2;
        const size_t count = message.empty() ? 1 : (message.size() + capacity - 1) / capacity;
        for (size_t i = 0; i < count; ++i) {
            const size_t start = i * capacity;
            const size_t length = std::min(capacity, message.size() - start);
            const size_t header = (i == 0 ? 1u : 0u) | (i + 1 == count ? 2u : 0u) | (length << 2);
            Bytes report(adapter_.reportSize() + 1, 0);
            report[1] = static_cast<uint8_t>(header & 0xFF);
            report[2] = static_cast<uint8_t>(header >> 8);
            std::copy_n(message.begin() + static_cast<long>(start), length, report.begin() + 3);
            write(report);
        }
    }

    uint16_t nextId() { return ++lastId_ == 0 ? ++lastId_ : lastId_; }

  private:
    void write(const Bytes& report) {
        // A request may unplug the adapter (boot mode): writes then fail.
        if (hid_->write(report.data(), report.size()) < 0) return;
        drain();
    }

    // Reads and checks everything queued; the firmware answers within the
    // write, so it is all there.
    void drain() {
        Bytes buffer(adapter_.reportSize());
        for (;;) {
            const int n = hid_->readTimeout(buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            check(static_cast<size_t>(n) == adapter_.reportSize(), "whole input reports");
            const unsigned header = buffer[0] | (buffer[1] << 8);
            const size_t length = (header >> 2) & 0x3FF;
            check((header & 0xF000) == 0, "reserved header bits clear");
            check(length <= static_cast<size_t>(n) - 2, "chunk inside the report");
            if (header & 1) {
                message_.clear();
                started_ = true;
            }
            check(started_, "no continuation without a start");
            message_.insert(message_.end(), buffer.begin() + 2,
                            buffer.begin() + 2 + static_cast<long>(length));
            if (header & 2) {
                checkMessage(message_);
                started_ = false;
            }
        }
    }

    void checkMessage(const Bytes& message) {
        check(message.size() >= 6, "a whole header");
        const uint16_t id = u16At(message, 0);
        if (id == 0) return;  // a notification
        std::set<std::pair<uint16_t, uint16_t>> asked;
        for (const Bytes& request : adapter_.requests()) {
            if (request.size() >= 4) asked.emplace(u16At(request, 0), u16At(request, 2));
        }
        check(asked.count({id, u16At(message, 2)}) == 1, "answers name a request");
    }

    VirtualAdapter& adapter_;
    std::unique_ptr<vantor::usb::HidDevice> hid_;
    Bytes message_;
    bool started_ = false;
    uint16_t lastId_ = 0;
};

// The I3C bus of each adapter: a target with a static address (SETDASA,
// SETAASA) and IBI payloads, one for ENTDAA with small MWL and MRL, and a
// legacy EEPROM, so that bus set-up, transfers and CCCs reach their targets.
// They stay attached across the replugs.
VirtualAdapter* withI3cBus(VirtualAdapter* adapter) {
    vantor::sim::I3cTargetOptions withStatic;
    withStatic.pid = 0x0A0000000001;
    withStatic.bcr = 0x07;
    withStatic.dcr = 0xC5;
    withStatic.staticAddress = 0x50;
    withStatic.maxIbiPayload = 4;
    vantor::sim::I3cTargetOptions small;
    small.pid = 0x0B0000000002;
    small.mwl = 16;
    small.mrl = 16;
    small.memorySize = 64;
    small.hdrDdr = false;
    check(adapter->i3c().attachTarget(withStatic).has_value(), "the first I3C target attaches");
    check(adapter->i3c().attachTarget(small).has_value(), "the second I3C target attaches");
    check(adapter->i3c().attachI2cEeprom(0x54), "the legacy EEPROM attaches");
    return adapter;
}

VirtualAdapter& adapterFor(bool large) {
    static VirtualAdapter* const adapters[2] = {
        withI3cBus(new VirtualAdapter([] {
            vantor::sim::AdapterOptions o;
            o.serial = "FUZZ64";
            o.bulk = false;
            return o;
        }())),
        withI3cBus(new VirtualAdapter([] {
            vantor::sim::AdapterOptions o;
            o.model = Model::Quillex;
            o.serial = "FUZZ1024";
            o.bulk = false;
            return o;
        }())),
    };
    return *adapters[large ? 1 : 0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Input in(data, size);
    Run run(adapterFor((in.byte() & 1) != 0));
    while (!in.empty()) {
        switch (in.byte() % 3) {
            case 0:
                run.writeReport(in.bytes(in.byte()));
                break;
            case 1:
                run.writeMessage(in.bytes(in.u16()));
                break;
            default: {
                const uint16_t id = run.nextId();
                const uint16_t code = in.u16();
                run.writeMessage({static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                                  static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8)});
                break;
            }
        }
    }
    return 0;
}
