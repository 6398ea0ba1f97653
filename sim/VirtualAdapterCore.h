// SPDX-License-Identifier: MIT
#pragma once
// The virtual adapter's class and its options, without the bench objects'
// classes: what the firmware, the devices' records and the USB side need.
// Users include "sim/VirtualAdapter.h", which adds the bench.
//
// A virtual adapter: an in-process emulation of the adapter's USB side.
//
// While plugged in it appears in the HID enumeration (after the real devices)
// and, with `bulk` set, in the libusb device list, under its own path and
// serial number; the SDK reaches it through the same transport code as real
// hardware. It reassembles request messages from output reports, answers them
// with its firmware model (or a scripted handler), and frames responses and
// notifications into input reports. As with the HID driver, every open HID
// handle gets its own copy of each input report sent while it is open.
//
// The virtual adapter shares no protocol code with the SDK: it parses and
// builds messages with code of its own, so that an SDK encoder and decoder
// that are wrong in the same way cannot pass together.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/core/Version.h"
#include "sim/timing/TimingModel.h"

namespace vantor::sim {

using Bytes = std::vector<uint8_t>;

enum class Model {
    Teranox,  // 64-byte reports
    Quillex,  // 1024-byte reports
};

// The five USB strings the adapter reports (string indexes 1 to 5).
struct Identity {
    std::string manufacturer = "Vantor Labs";
    std::string productName;   // empty: derived from the model
    std::string serialNumber;  // empty: the adapter's serial
    std::string hwVersion = "HW 1.0";
    std::string fwVersion = "FW " VANTOR_SDK_VERSION;
};

struct BulkGroupRecord {
    uint8_t group = 0;
    uint16_t maxPayload = 0;
    uint32_t commandMask = 0;
};

// The groups the firmware's bulk commands belong to, with their maximum
// payloads and command masks (bit n: the group's command whose code's low
// five bits are n), as the adapter announces them by default: I2C (group 2)
// and SPI (group 3) with their bulk transfers and target memory transfers,
// I3C (group 6) with its bulk private transfer.
std::vector<BulkGroupRecord> defaultBulkGroups();

// What the adapter answers to the bulk capability query.
struct BulkCapabilityConfig {
    uint16_t status = 0;  // non-zero: answer with this status and no records
    uint8_t capabilityInfo = 1;
    bool supported = true;
    std::vector<BulkGroupRecord> groups = defaultBulkGroups();
};

// The adapter's USB configuration (WebUSB switch, CDC switch, CDC mode), kept
// across connections, resets and unplugging.
struct UsbSettings {
    uint8_t webusbEnabled = 0;
    uint8_t cdcEnabled = 0;
    uint8_t cdcMode = 0;
};

struct AdapterOptions {
    Model model = Model::Teranox;
    std::string serial = "SIM0001";
    bool bulk = true;             // expose the vendor bulk interface
    uint16_t bulkPacketSize = 0;  // 0: 64 on Teranox, 512 on Quillex
    Identity identity;
    bool plugged = true;  // plug in at construction
    // USB, bus and device timing; off by default (answers come as fast as
    // the firmware model gives them). The 1024-byte reports of the Quillex
    // need high speed: the constructor refuses full speed for it, a time
    // scale that is not above zero and an empty reception queue with
    // std::invalid_argument.
    timing::TimingOptions timing;
};

// The test bench: one object per part of the adapter, reached through
// `VirtualAdapter::i2c()`, `spi()`, ... ("sim/bench/*.h").
class FaultBench;
class SystemBench;
class PowerBench;
class I2cBench;
class SpiBench;
class UartBench;
class GpioBench;
class I2cTargetBench;
class SpiTargetBench;
class I3cTargetBench;
class I3cBench;

class VirtualAdapter {
  public:
    // A handler replaces the firmware for every request: it returns the
    // messages to answer with (each a whole message, header included), or
    // an empty vector for no answer.
    using Handler = std::function<std::vector<Bytes>(const Bytes& request)>;

    explicit VirtualAdapter(AdapterOptions options = {});
    ~VirtualAdapter();  // unplugs
    VirtualAdapter(const VirtualAdapter&) = delete;
    VirtualAdapter& operator=(const VirtualAdapter&) = delete;

    const std::string& path() const;  // HID path, starts with "sim:"
    const std::string& serial() const;
    Model model() const;
    size_t reportSize() const;  // 64 or 1024
    uint16_t vendorId() const;
    uint16_t productId() const;
    bool hasBulk() const;  // exposes the vendor bulk interface
    const timing::TimingOptions& timing() const;

    // Hot-plug under the same path. Unplugging fails every open handle's
    // reads and writes for good (pending input is lost); a later open by path
    // finds the adapter again. Plugging in starts the firmware from its
    // power-on state; persistent settings (USB configuration, identity,
    // measurements, bulk capabilities) stay.
    void plug();
    void unplug();
    bool isPlugged() const;

    // ---------------------------------------------------- traffic records
    std::vector<Bytes> reports() const;   // every output report as written (report id first)
    std::vector<Bytes> requests() const;  // every reassembled request message
    Bytes bulkReceived() const;           // every byte received on bulk OUT
    void clear();                         // forgets all three (and the malformed count)
    // Stops (or resumes) keeping the three records; for long runs.
    void setRecording(bool recording);
    // Output reports the adapter could not use: too short, a chunk length
    // beyond the report, reserved header bits set, a continuation without a
    // first segment, or a message abandoned unfinished.
    size_t malformedReports() const;
    // Input reports lost because an open handle's HID input queue was full
    // (see `FaultBench::limitInputQueue`) since the last clear, counted for
    // each handle that lost them. Reports sent while no handle is open reach
    // nobody and are not counted.
    size_t droppedReports() const;
    // Waits until at least `count` requests were received and handled (their
    // answers queued) since the last clear; false on timeout. A timeout
    // beyond the clock's range waits without limit.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

    // ---------------------------------------------------------- injection
    void send(const Bytes& message);       // framed into input reports by the adapter
    void sendReport(const Bytes& report);  // one raw input report (no report id)
    void sendBulk(const Bytes& data);      // queued on bulk IN
    // A notification message: transaction id 0, `code`, `headerWord`, then
    // `fields` (which start at offset 6).
    void notify(uint16_t code, const Bytes& fields, uint16_t headerWord = 0);
    // A burst of `count` such notifications, paced at `perSecond` messages a
    // second on the calling thread (0, negative or infinite: as fast as
    // possible); returns once all are queued, or early when the adapter is
    // unplugged. What the full input queue refuses is counted as dropped.
    void notify(uint16_t code, const Bytes& fields, uint16_t headerWord, size_t count,
                double perSecond);

    // Scripted answers; an empty function restores the firmware.
    void setHandler(Handler handler);

    // ------------------------------------------------------------ the bench
    // Each object lives as long as the adapter; its calls are safe from any
    // thread. Family benches take the firmware mutex.
    FaultBench& faults() const { return *faults_; }   // USB-side fault injection
    SystemBench& system() const { return *system_; }  // identity, USB settings, counters
    PowerBench& power() const { return *power_; }     // the I/O rail
    I2cBench& i2c() const { return *i2c_; }           // devices on the I2C buses
    SpiBench& spi() const { return *spi_; }           // devices on the chip selects
    UartBench& uart() const { return *uart_; }        // the far end of the UART
    GpioBench& gpio() const { return *gpio_; }        // the far end of the GPIO pins
    // The adapter in its target roles, each with an external controller.
    I2cTargetBench& i2cTarget() const { return *i2cTarget_; }
    SpiTargetBench& spiTarget() const { return *spiTarget_; }
    I3cTargetBench& i3cTarget() const { return *i3cTarget_; }
    I3cBench& i3c() const { return *i3c_; }  // targets and devices on the I3C bus

    struct State;  // shared with the virtual USB backends, the firmware and the bench
    // The internals ("sim/usb/AdapterState.h"), for the bench objects and for
    // tests of the firmware model (e.g. installing a family of their own).
    State& state() const { return *state_; }

  private:
    std::shared_ptr<State> state_;
    std::unique_ptr<FaultBench> faults_;
    std::unique_ptr<SystemBench> system_;
    std::unique_ptr<PowerBench> power_;
    std::unique_ptr<I2cBench> i2c_;
    std::unique_ptr<SpiBench> spi_;
    std::unique_ptr<UartBench> uart_;
    std::unique_ptr<GpioBench> gpio_;
    std::unique_ptr<I2cTargetBench> i2cTarget_;
    std::unique_ptr<SpiTargetBench> spiTarget_;
    std::unique_ptr<I3cTargetBench> i3cTarget_;
    std::unique_ptr<I3cBench> i3c_;
};

}  // namespace vantor::sim
