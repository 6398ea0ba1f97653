// SPDX-License-Identifier: MIT
#pragma once
// The I/O voltage rail of the virtual adapter's firmware: the rail that
// powers the I2C, SPI, UART and GPIO signals, set to a voltage or handed over
// to an external supply, optionally persisted across resets and power cycles.
// The system family's analog measurement reports the rail: whenever the rail
// changes, this family updates the measured I/O voltage there.
//
// It also powers the two I3C ports (LV and HV): each has its own supply,
// the I3C voltage command sets the one of the port the bus goes out on (HV
// when only the HV connector is plugged, LV otherwise), and the host may hand
// both ports over to a supply on the target board. The measured I3C voltages
// follow the ports the same way. Connector insertion and removal are reported
// to the host.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/firmware/Firmware.h"
#include "sim/records/I3cRecords.h"
#include "sim/records/PowerRecords.h"

namespace vantor::sim {

namespace power::cmd {
constexpr uint16_t kSetRailVoltage = 0x0405;
constexpr uint16_t kUseExternalSupply = 0x040B;
constexpr uint16_t kSetI3cVoltage = 0x0404;
constexpr uint16_t kUseI3cExternalSupply = 0x040A;
}  // namespace power::cmd

namespace power::notification {
constexpr uint16_t kI3cConnector = 0x0481;
}  // namespace power::notification

namespace power::status {
constexpr uint16_t kVoltageOutOfRange = 0x0101;
constexpr uint16_t kExternalVoltageDetected = 0x0102;
constexpr uint16_t kI3cPortsNotPowered = 0x0104;
constexpr uint16_t kBothI3cPortsPowered = 0x0105;
constexpr uint16_t kOutOfRangeOnI3cLv = 0x0106;
constexpr uint16_t kOutOfRangeOnI3cHv = 0x0107;
}  // namespace power::status

class PowerFirmware final : public FirmwareFamily {
  public:
    static constexpr uint16_t kMinMillivolts = 1200;
    static constexpr uint16_t kMaxMillivolts = 3300;
    static constexpr uint16_t kDefaultMillivolts = 3300;

    PowerFirmware();
    void installed(Firmware& firmware) override { firmware_ = &firmware; }

    void reset() override;  // back to the persisted setting

    // The I3C ports' ranges (millivolts) and power-on voltages.
    static constexpr uint16_t kI3cLvMin = 1000;
    static constexpr uint16_t kI3cLvMax = 1800;
    static constexpr uint16_t kI3cHvMin = 1800;
    static constexpr uint16_t kI3cHvMax = 3300;
    static constexpr uint8_t kI3cPorts = 2;  // 0 LV, 1 HV

    // The bench (firmware mutex held).
    void setExternalMillivolts(uint16_t millivolts);
    RailState rail() const;
    // What setExternalMillivolts last set; nothing before it was called.
    std::optional<uint16_t> externalMillivolts() const;
    // False when the port does not exist or already is in that state.
    bool plugI3cConnector(uint8_t port, uint8_t connectorType, Firmware& firmware);
    bool unplugI3cConnector(uint8_t port, Firmware& firmware);
    bool setI3cExternalSupply(uint8_t port, uint16_t millivolts);
    I3cPortsState i3cPorts() const;

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

    struct I3cPorts {
        std::array<uint16_t, kI3cPorts> own{{1800, 3300}};  // the adapter's own supplies
        bool external = false;
        std::array<uint8_t, kI3cPorts> connector{{kI3cNoConnector, kI3cNoConnector}};
        std::array<uint16_t, kI3cPorts> supply{};  // on the target board; 0: none
    };

    void setI3cVoltage(const Request& request, Firmware& firmware);
    void useI3cExternalSupply(const Request& request, Firmware& firmware);
    static bool inI3cRange(uint8_t port, uint16_t millivolts);
    // The voltage each port carries.
    std::array<uint16_t, kI3cPorts> i3cVoltages() const;
    // Changes the I3C ports; the measurement follows what they carry.
    void applyI3c(const I3cPorts& next);

    Firmware* firmware_ = nullptr;  // the firmware it is installed in
    Setting current_;
    Setting persisted_;
    uint16_t externalMillivolts_ = kDefaultMillivolts;
    bool externalSet_ = false;  // by the bench
    I3cPorts i3c_;
};

}  // namespace vantor::sim
