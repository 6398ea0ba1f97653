// SPDX-License-Identifier: MIT
#include "sdk/core/Protocol.h"

namespace vantor {

const SupportedDevice* findSupportedDevice(uint16_t vendorId, uint16_t productId) {
    for (const auto& entry : kSupportedDevices) {
        if (entry.vendorId == vendorId && entry.productId == productId) return &entry;
    }
    return nullptr;
}

NotificationKind notificationKindForCode(uint16_t code) {
    switch (code) {
        case kNotifCodeI3cHotJoin:
            return NOTIF_I3C_HJ;
        case kNotifCodeI3cIbi:
            return NOTIF_I3C_IBI;
        case kNotifCodeGpio:
            return NOTIF_GPIO;
        case kNotifCodeUart:
            return NOTIF_UART;
        case kNotifCodeI3cConnector:
            return NOTIF_I3C_CONNECTOR_EVENT;
        case kNotifCodeI2cTargetBusEvent:
            return NOTIF_I2C_TARGET_BUS_EVENT;
        case kNotifCodeSpiTargetBusEvent:
            return NOTIF_SPI_TARGET_BUS_EVENT;
        case kNotifCodeI3cTargetBusEvent:
            return NOTIF_I3C_TARGET_BUS_EVENT;
        default:
            return NOTIF_UNKNOWN;
    }
}

}  // namespace vantor
