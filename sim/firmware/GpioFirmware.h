// SPDX-License-Identifier: MIT
#pragma once
// The GPIO family of the virtual adapter's firmware: six pins configured as
// digital inputs or outputs, written, sampled, and armed for edge interrupts
// that reach the host as GPIO notifications. The bench drives the inputs.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/firmware/Firmware.h"
#include "sim/records/GpioRecords.h"

namespace vantor::sim {

namespace gpio::cmd {
constexpr uint16_t kConfigure = 0x1401;
constexpr uint16_t kWrite = 0x1402;
constexpr uint16_t kRead = 0x1403;
constexpr uint16_t kConfigureInterrupt = 0x1404;
constexpr uint16_t kDisableInterrupt = 0x1405;
}  // namespace gpio::cmd

namespace gpio::notification {
constexpr uint16_t kInterrupt = 0x1481;
}  // namespace gpio::notification

namespace gpio::status {
constexpr uint16_t kNotConfigured = 0x0501;
constexpr uint16_t kWrongConfiguration = 0x0502;
}  // namespace gpio::status

class GpioFirmware final : public FirmwareFamily {
  public:
    static constexpr uint8_t kPins = 6;

    GpioFirmware();
    void reset() override;  // every pin unconfigured; the bench's drive stays

    // The bench (firmware mutex held). False for an invalid pin or level.
    bool drive(uint8_t pin, uint8_t level, Firmware& firmware);
    GpioPinState pin(uint8_t number) const;
    // The level the bench put on a pin; nothing before the bench drove it.
    std::optional<uint8_t> driven(uint8_t number) const;

  private:
    struct Pin {
        GpioPinState state;
        uint8_t driven = 0;  // the level the bench puts on the pin
        bool drivenByBench = false;
    };

    void configure(const Request& request, Firmware& firmware);
    void write(const Request& request, Firmware& firmware);
    void read(const Request& request, Firmware& firmware);
    void configureInterrupt(const Request& request, Firmware& firmware);
    void disableInterrupt(const Request& request, Firmware& firmware);
    // The configured pin a request names, or null after answering the error.
    Pin* configuredPin(const Request& request, Firmware& firmware);

    std::array<Pin, kPins> pins_{};
};

}  // namespace vantor::sim
