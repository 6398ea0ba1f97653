// SPDX-License-Identifier: MIT
#pragma once
// The adapter's own facts and persistent settings: its USB strings, its USB
// configuration, what it answers to the bulk capability query, its analog
// measurements, and what the system commands did to it.

#include <cstdint>

#include "sim/VirtualAdapterCore.h"
#include "sim/records/SystemRecords.h"

namespace vantor::sim {

class SystemBench {
  public:
    explicit SystemBench(VirtualAdapter::State& state) : state_(state) {}
    SystemBench(const SystemBench&) = delete;
    SystemBench& operator=(const SystemBench&) = delete;

    void setIdentity(const Identity& identity);
    Identity identity() const;
    UsbSettings usbSettings() const;
    // False, changing nothing, when a value is out of range (255 keeps a setting).
    bool setUsbSettings(const UsbSettings& settings);
    BulkCapabilityConfig bulkCapabilities() const;
    void setBulkCapabilities(const BulkCapabilityConfig& config);
    // The I/O value follows the rail: it is replaced whenever the rail
    // changes (a rail command, a reset or power-on that changes it, the
    // external voltage while the rail is external).
    void setAnalogMeasurements(const AnalogMeasurements& measurements);
    AnalogMeasurements analogMeasurements() const;
    // Reset requests the adapter received.
    int resetCount() const;
    // The adapter left its application for the boot loader (and unplugged
    // itself); plugging it in again starts the application.
    bool inBootMode() const;

  private:
    VirtualAdapter::State& state_;
};

}  // namespace vantor::sim
