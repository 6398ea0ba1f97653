// SPDX-License-Identifier: MIT
#pragma once
// The UART family of the virtual adapter's firmware: set-up and sending.
// Everything sent on TX is recorded for the bench; bytes arriving on RX (the
// bench's injections, or TX itself in loopback) reach the host as UART
// notifications.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/firmware/Firmware.h"
#include "sim/records/UartRecords.h"

namespace vantor::sim {

namespace uart::cmd {
constexpr uint16_t kDeinit = 0x1001;
constexpr uint16_t kInit = 0x1002;
constexpr uint16_t kSetParameters = 0x1003;
constexpr uint16_t kSend = 0x1005;
}  // namespace uart::cmd

namespace uart::notification {
constexpr uint16_t kReceived = 0x1081;
}  // namespace uart::notification

class UartFirmware final : public FirmwareFamily {
  public:
    static constexpr size_t kMaxNotificationData = 1024;  // bytes per UART notification
    static constexpr uint8_t kMaxBaudRate = 10;           // index of 115200 baud

    UartFirmware();
    void reset() override;  // uninitialised; the loopback wire and the record stay

    // The bench (firmware mutex held).
    void setLoopback(bool enabled) { loopback_ = enabled; }
    bool loopback() const { return loopback_; }
    // Bytes arriving on RX; false when nobody receives them.
    bool receive(const uint8_t* data, size_t size, Firmware& firmware);
    const Bytes& sent() const { return sent_; }
    void clearSent() { sent_.clear(); }
    const UartState& state() const { return state_; }

  private:
    void configure(const Request& request, Firmware& firmware);
    void deinit(const Request& request, Firmware& firmware);
    void send(const Request& request, Firmware& firmware);
    // What a byte becomes on a line with the configured data size.
    uint8_t onLine(uint8_t byte) const;
    // Reports received bytes in notifications of at most kMaxNotificationData.
    void notifyReceived(const uint8_t* data, size_t size, Firmware& firmware) const;

    UartState state_;
    bool loopback_ = false;
    Bytes sent_;
};

}  // namespace vantor::sim
