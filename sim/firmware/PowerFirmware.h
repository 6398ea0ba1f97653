#pragma once
// The I/O voltage rail of the virtual adapter's firmware: the rail that
// powers the I2C, SPI, UART and GPIO signals, set to a voltage or handed over
// to an external supply, optionally persisted across resets and power cycles.
// The system family's analog measurement reports the rail: whenever the rail
// changes, this family updates the measured I/O voltage there.

#include <cstdint>
#include <vector>

#include "sim/bench/PowerBench.h"
#include "sim/firmware/Firmware.h"

namespace vantor::sim {

namespace power::cmd {
constexpr uint16_t kSetRailVoltage = 0x0405;
constexpr uint16_t kUseExternalSupply = 0x040B;
}  // namespace power::cmd

namespace power::status {
constexpr uint16_t kVoltageOutOfRange = 0x0101;
}  // namespace power::status

class PowerFirmware final : public FirmwareFamily {
  public:
    static constexpr uint16_t kMinMillivolts = 1200;
    static constexpr uint16_t kMaxMillivolts = 3300;
    static constexpr uint16_t kDefaultMillivolts = 3300;

    explicit PowerFirmware(Firmware& firmware);

    void reset() override;  // back to the persisted setting

    // The bench (firmware mutex held).
    void setExternalMillivolts(uint16_t millivolts);
    RailState rail() const;

  private:
    struct Setting {
        uint16_t millivolts = kDefaultMillivolts;
        bool external = false;
    };

    void setRailVoltage(const Request& request, Firmware& firmware);
    void useExternalSupply(const Request& request, Firmware& firmware);
    // Applies a new setting and, with `persist`, keeps it across resets.
    void commit(const Setting& next, bool persist);
    // Applies a new setting; the measurement follows when the rail changed.
    void apply(const Setting& setting);
    void publish();

    Firmware& firmware_;
    Setting current_;
    Setting persisted_;
    uint16_t externalMillivolts_ = kDefaultMillivolts;
};

}  // namespace vantor::sim
