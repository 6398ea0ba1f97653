#pragma once
// The GPIO family of the virtual adapter's firmware: six pins configured as
// digital inputs or outputs, written, sampled, and armed for edge interrupts
// that reach the host as GPIO notifications. The bench drives the inputs.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/Firmware.h"
#include "sim/VirtualAdapter.h"

namespace vantor::sim {

namespace cmd {
constexpr uint16_t kGpioConfigure = 0x1401;
constexpr uint16_t kGpioWrite = 0x1402;
constexpr uint16_t kGpioRead = 0x1403;
constexpr uint16_t kGpioConfigureInterrupt = 0x1404;
constexpr uint16_t kGpioDisableInterrupt = 0x1405;
}  // namespace cmd

namespace notification {
constexpr uint16_t kGpioInterrupt = 0x1481;
}  // namespace notification

namespace fw {
constexpr uint16_t kGpioNotConfigured = 0x0501;
constexpr uint16_t kGpioWrongConfiguration = 0x0502;
}  // namespace fw

class GpioFirmware final : public FirmwareFamily {
  public:
    static constexpr uint8_t kPins = 6;

    std::vector<Command> commands() const override;
    void handle(const Request& request, Firmware& firmware) override;
    void reset() override;  // every pin unconfigured; the bench's drive stays

    // The bench (firmware mutex held). False for an invalid pin or level.
    bool drive(uint8_t pin, uint8_t level, Firmware& firmware);
    GpioPinState pin(uint8_t number) const;

  private:
    struct Pin {
        GpioPinState state;
        uint8_t driven = 0;  // the level the bench puts on the pin
    };

    void configure(const Request& request, Firmware& firmware);
    // The configured pin a request names, or null after answering the error.
    Pin* configuredPin(const Request& request, Firmware& firmware);

    std::array<Pin, kPins> pins_{};
};

}  // namespace vantor::sim
