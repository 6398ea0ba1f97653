// SPDX-License-Identifier: MIT
#pragma once
// The system command family of the virtual adapter's firmware: reset, boot
// mode, USB strings, analog measurements, the USB configuration and the bulk
// capability query.

#include <cstdint>
#include <vector>

#include "sim/firmware/Firmware.h"
#include "sim/records/SystemRecords.h"

namespace vantor::sim {

namespace system::cmd {
constexpr uint16_t kReset = 0x0401;
constexpr uint16_t kEnterBootMode = 0x0402;
constexpr uint16_t kGetUsbString = 0x0407;
constexpr uint16_t kGetAnalogMeasurements = 0x0409;
constexpr uint16_t kSetUsbConfig = 0x040D;
constexpr uint16_t kGetUsbConfig = 0x040E;
constexpr uint16_t kGetBulkCapabilities = 0x040F;
}  // namespace system::cmd

class SystemFirmware final : public FirmwareFamily {
  public:
    SystemFirmware();

    void powerOn() override;
    void installed(Firmware& firmware) override;

    // Settings and counters; the caller holds the firmware mutex. None of
    // them is volatile: they survive resets and unplugging.
    const AnalogMeasurements& analog() const { return analog_; }
    void setAnalog(const AnalogMeasurements& analog) { analog_ = analog; }
    const UsbSettings& usbSettings() const { return usbSettings_; }
    // False, changing nothing, when a value is out of range (255 keeps).
    bool applyUsbSettings(uint8_t webusb, uint8_t cdc, uint8_t cdcMode);
    const BulkCapabilityConfig& bulkCapabilities() const { return bulkCapabilities_; }
    void setBulkCapabilities(const BulkCapabilityConfig& config) { bulkCapabilities_ = config; }
    int resetCount() const { return resetCount_; }
    bool inBootMode() const { return bootMode_; }

  private:
    void restart(const Request& request, Firmware& firmware);
    void enterBootMode(const Request& request, Firmware& firmware);
    void getUsbString(const Request& request, Firmware& firmware);
    void getAnalogMeasurements(const Request& request, Firmware& firmware);
    void setUsbConfig(const Request& request, Firmware& firmware);
    void getUsbConfig(const Request& request, Firmware& firmware);
    void getBulkCapabilities(const Request& request, Firmware& firmware);

    AnalogMeasurements analog_;
    UsbSettings usbSettings_;
    // Its groups are filled in at installation: building them builds a
    // system family, which must not ask for them itself.
    BulkCapabilityConfig bulkCapabilities_{0, 1, true, {}};
    int resetCount_ = 0;
    bool bootMode_ = false;
};

}  // namespace vantor::sim
