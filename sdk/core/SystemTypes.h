#pragma once
// Records of the system command family.

#include <cstdint>
#include <string>

namespace vantor {

constexpr uint32_t USB_WEBUSB_DISABLED = 0;
constexpr uint32_t USB_WEBUSB_ENABLED = 1;
constexpr uint32_t USB_WEBUSB_NO_CHANGE = 255;
constexpr uint32_t USB_CDC_DISABLED = 0;
constexpr uint32_t USB_CDC_ENABLED = 1;
constexpr uint32_t USB_CDC_NO_CHANGE = 255;
constexpr uint32_t USB_CDC_UART_PASSTHROUGH = 0;
constexpr uint32_t USB_CDC_TERMINAL = 1;
constexpr uint32_t USB_CDC_VELNA_COMPAT = 2;
constexpr uint32_t USB_CDC_RS485 = 3;
constexpr uint32_t USB_CDC_CANFD = 4;

struct UsbConfig {
    uint32_t webusbEnabled = 0;
    uint32_t cdcEnabled = 0;
    uint32_t cdcMode = 0;
};

// The five identification strings, as the adapter sends them (no character
// conversion).
struct DeviceInfo {
    std::string manufacturer;  // string index 1
    std::string productName;   // 2
    std::string serialNumber;  // 3
    std::string hwVersion;     // 4
    std::string fwVersion;     // 5
};

// Each travels on the wire as its numeric value in one byte.
enum class DeviceModel : uint8_t {
    UNKNOWN = 0,
    TERANOX = 1,
    QUILLEX = 2,
};

}  // namespace vantor
