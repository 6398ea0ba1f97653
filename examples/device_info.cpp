// Connects to a virtual adapter, reads its identification strings and its USB
// configuration, and prints them.
//
//     ./device_info

#include <cstdio>
#include <string>

#include "sdk/core/StatusCode.h"
#include "sdk/core/VantorSDK.h"
#include "sim/VirtualAdapter.h"

namespace {

const char* statusText(uint16_t status) {
    const char* name = vantor::statusCodeName(status);
    return name ? name : "unknown status";
}

const char* switchText(uint32_t value) {
    switch (value) {
        case 0:
            return "disabled";
        case 1:
            return "enabled";
        default:
            return "unknown";
    }
}

const char* cdcModeText(uint32_t mode) {
    switch (mode) {
        case vantor::USB_CDC_UART_PASSTHROUGH:
            return "UART pass-through";
        case vantor::USB_CDC_TERMINAL:
            return "terminal";
        case vantor::USB_CDC_VELNA_COMPAT:
            return "Velna compatible";
        case vantor::USB_CDC_RS485:
            return "RS-485";
        case vantor::USB_CDC_CANFD:
            return "CAN FD";
        default:
            return "unknown";
    }
}

}  // namespace

int main() {
    vantor::sim::VirtualAdapter adapter;
    vantor::VantorSDK sdk(1000);  // response timeout in milliseconds

    std::printf("SDK version %s\n", vantor::VantorSDK::getVersion().c_str());
    if (!sdk.connect(adapter.path())) {
        std::fprintf(stderr, "could not connect to %s\n", adapter.path().c_str());
        return 1;
    }
    std::printf("connected to %s\n", adapter.path().c_str());

    vantor::DeviceInfo info;
    uint16_t status = sdk.getDeviceInfo(info);
    if (status != 0) {
        std::fprintf(stderr, "getDeviceInfo failed: 0x%04X %s\n", status, statusText(status));
        return 1;
    }
    std::printf("manufacturer:     %s\n", info.manufacturer.c_str());
    std::printf("product:          %s\n", info.productName.c_str());
    std::printf("serial number:    %s\n", info.serialNumber.c_str());
    std::printf("hardware version: %s\n", info.hwVersion.c_str());
    std::printf("firmware version: %s\n", info.fwVersion.c_str());

    vantor::UsbConfig config;
    status = sdk.getUsbConfig(config);
    if (status != 0) {
        std::fprintf(stderr, "getUsbConfig failed: 0x%04X %s\n", status, statusText(status));
        return 1;
    }
    std::printf("WebUSB:           %s\n", switchText(config.webusbEnabled));
    std::printf("CDC serial port:  %s\n", switchText(config.cdcEnabled));
    std::printf("CDC mode:         %s (%u)\n", cdcModeText(config.cdcMode), config.cdcMode);
    std::printf("bulk interface:   %s\n", sdk.isBulkTransportAvailable() ? "present" : "absent");

    sdk.disconnect();
    return 0;
}
