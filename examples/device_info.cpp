// SPDX-License-Identifier: MIT
// Connects to an adapter, reads its identification strings and its USB
// configuration, and prints them.
//
// It opens the adapter at the given HID path. Without one it reads a virtual
// adapter of its own when built with the virtual adapter (VANTOR_HAVE_SIM, as
// inside this repository), and otherwise (built against the installed SDK)
// the first supported adapter attached.
//
//     ./device_info [hid-path]
//
// Exit status: 0 success, 1 a command failed, 2 no adapter to connect to.

#include <cstdio>
#include <string>

#include "sdk/core/StatusCode.h"
#include "sdk/core/VantorSDK.h"
#ifdef VANTOR_HAVE_SIM
#include "sim/VirtualAdapter.h"
#endif

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

int main(int argc, char** argv) {
#ifdef VANTOR_HAVE_SIM
    vantor::sim::VirtualAdapter adapter;  // plugged in until main returns
    const std::string path = argc > 1 ? argv[1] : adapter.path();
#else
    const std::string path = argc > 1 ? argv[1] : "";  // empty: the first adapter
#endif
    vantor::VantorSDK sdk(1000);  // response timeout in milliseconds

    std::printf("SDK version %s\n", vantor::VantorSDK::getVersion().c_str());
    if (!sdk.connect(path)) {
        std::fprintf(stderr, "no adapter at %s\n", path.empty() ? "any path" : path.c_str());
        return 2;
    }
    std::printf("connected to %s\n", path.empty() ? "the first adapter found" : path.c_str());

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
