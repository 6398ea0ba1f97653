// SPDX-License-Identifier: MIT
// `_abi_probe`: the sizes, offsets and protocol constants the module was
// built with, so that the Python package can check them.

#include "bindings/AbiProbe.h"

#include <cstddef>
#include <string>
#include <vector>

#include "sdk/core/Notification.h"
#include "sdk/core/Protocol.h"
#include "sdk/core/SystemTypes.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"
#include "sdk/i3c/I3cTypes.h"
#include "sdk/peripherals/GpioTypes.h"
#include "sdk/peripherals/I2cTypes.h"

namespace nb = nanobind;

namespace pyvantorsdk {

nb::dict buildAbiProbe() {
    using namespace vantor;
    nb::dict probe;
    probe["sizeof_VantorSDK"] = sizeof(VantorSDK);
    probe["sizeof_VantorAsyncSDK"] = sizeof(VantorAsyncSDK);
    probe["sizeof_Notification"] = sizeof(vantor::Notification);
    probe["sizeof_DeviceInfo"] = sizeof(vantor::DeviceInfo);
    probe["sizeof_UsbConfig"] = sizeof(UsbConfig);
    probe["sizeof_I3cTargetInfo"] = sizeof(I3cTargetInfo);
    probe["sizeof_pointer"] = sizeof(void*);
    probe["sizeof_std_string"] = sizeof(std::string);
    probe["sizeof_std_vector"] = sizeof(std::vector<uint8_t>);
    probe["sizeof_NotificationCallback"] = sizeof(NotificationCallback);
    probe["sizeof_BulkGroupSupport"] = sizeof(VantorSDK::BulkGroupSupport);
    probe["sizeof_BulkCapabilities"] = sizeof(VantorSDK::BulkCapabilities);
    probe["sizeof_CommandResponseHeader"] = sizeof(CommandResponseHeader);
    probe["sizeof_I2cTransferParameters"] = sizeof(I2cTransferParameters);
    probe["sizeof_I2cScanBusParameters"] = sizeof(I2cScanBusParameters);
    probe["sizeof_SpiTransferResponseParameters"] = sizeof(SpiTransferResponseParameters);
    probe["sizeof_UsbConfigResponseParameters"] = sizeof(UsbConfigResponseParameters);
    probe["sizeof_GetAnalogMeasurementsParameters"] = sizeof(GetAnalogMeasurementsParameters);
    probe["sizeof_I3cCccTransferParameters"] = sizeof(I3cCccTransferParameters);
    probe["sizeof_I3cTransferResponseParameters"] = sizeof(I3cTransferResponseParameters);
    probe["sizeof_I3cTableHeaderParameters"] = sizeof(I3cTableHeaderParameters);
    probe["sizeof_I3cTargetMemoryParameters"] = sizeof(I3cTargetMemoryParameters);
    probe["sizeof_I2cTargetInitResponseParameters"] = sizeof(I2cTargetInitResponseParameters);
    probe["sizeof_SpiTargetInitResponseParameters"] = sizeof(SpiTargetInitResponseParameters);

    nb::dict targetInfo;
    targetInfo["staticAddress"] = offsetof(I3cTargetInfo, staticAddress);
    targetInfo["dynamicAddress"] = offsetof(I3cTargetInfo, dynamicAddress);
    targetInfo["pid"] = offsetof(I3cTargetInfo, pid);
    targetInfo["bcr"] = offsetof(I3cTargetInfo, bcr);
    targetInfo["dcr"] = offsetof(I3cTargetInfo, dcr);
    targetInfo["mwl"] = offsetof(I3cTargetInfo, mwl);
    targetInfo["mrl"] = offsetof(I3cTargetInfo, mrl);
    targetInfo["maxIbiPayloadLength"] = offsetof(I3cTargetInfo, maxIbiPayloadLength);
    targetInfo["configuration"] = offsetof(I3cTargetInfo, configuration);
    probe["offsetof_I3cTargetInfo"] = targetInfo;

    nb::dict i2cTarget;
    i2cTarget["busId"] = offsetof(I2cTargetInitResponseParameters, busId);
    i2cTarget["memorySize"] = offsetof(I2cTargetInitResponseParameters, memorySize);
    probe["offsetof_I2cTargetInitResponseParameters"] = i2cTarget;

    nb::dict bulkBits;
    bulkBits["CMD_I2C_CONTROLLER_WRITE_BULK"] = CMD_I2C_CONTROLLER_WRITE_BULK;
    bulkBits["CMD_I2C_CONTROLLER_READ_BULK"] = CMD_I2C_CONTROLLER_READ_BULK;
    bulkBits["CMD_SPI_CONTROLLER_WRITE_BULK"] = CMD_SPI_CONTROLLER_WRITE_BULK;
    bulkBits["CMD_SPI_CONTROLLER_READ_BULK"] = CMD_SPI_CONTROLLER_READ_BULK;

    auto i = [](auto v) { return static_cast<long long>(v); };
    nb::dict values;
    values["NOTIF_I3C_HJ"] = i(NOTIF_I3C_HJ);
    values["NOTIF_I3C_IBI"] = i(NOTIF_I3C_IBI);
    values["NOTIF_GPIO"] = i(NOTIF_GPIO);
    values["NOTIF_UART"] = i(NOTIF_UART);
    values["NOTIF_I3C_CONNECTOR_EVENT"] = i(NOTIF_I3C_CONNECTOR_EVENT);
    values["NOTIF_UNKNOWN"] = i(NOTIF_UNKNOWN);
    values["NOTIF_I3C_TARGET_BUS_EVENT"] = i(NOTIF_I3C_TARGET_BUS_EVENT);
    values["NOTIFICATION_ID"] = i(NOTIFICATION_ID);
    values["USB_WEBUSB_DISABLED"] = i(USB_WEBUSB_DISABLED);
    values["USB_WEBUSB_ENABLED"] = i(USB_WEBUSB_ENABLED);
    values["USB_WEBUSB_NO_CHANGE"] = i(USB_WEBUSB_NO_CHANGE);
    values["USB_CDC_DISABLED"] = i(USB_CDC_DISABLED);
    values["USB_CDC_ENABLED"] = i(USB_CDC_ENABLED);
    values["USB_CDC_NO_CHANGE"] = i(USB_CDC_NO_CHANGE);
    values["USB_CDC_UART_PASSTHROUGH"] = i(USB_CDC_UART_PASSTHROUGH);
    values["USB_CDC_TERMINAL"] = i(USB_CDC_TERMINAL);
    values["USB_CDC_VELNA_COMPAT"] = i(USB_CDC_VELNA_COMPAT);
    values["USB_CDC_RS485"] = i(USB_CDC_RS485);
    values["USB_CDC_CANFD"] = i(USB_CDC_CANFD);
    values["BULK_COMMAND_BIT"] = bulkBits;
    values["GPIO_1"] = i(GpioPinNumber::PIN_1);
    values["GPIO_2"] = i(GpioPinNumber::PIN_2);
    values["GPIO_3"] = i(GpioPinNumber::PIN_3);
    values["GPIO_4"] = i(GpioPinNumber::PIN_4);
    values["GPIO_5"] = i(GpioPinNumber::PIN_5);
    values["GPIO_6"] = i(GpioPinNumber::PIN_6);
    values["GPIO_LOW"] = i(GpioLogicLevel::LOW);
    values["GPIO_HIGH"] = i(GpioLogicLevel::HIGH);
    values["GPIO_DIGITAL_INPUT"] = i(GpioFunctionality::DIGITAL_INPUT);
    values["GPIO_DIGITAL_OUTPUT"] = i(GpioFunctionality::DIGITAL_OUTPUT);
    values["GPIO_TRIGGER_RISING_EDGE"] = i(GpioTriggerType::RISING_EDGE);
    values["GPIO_TRIGGER_FALLING_EDGE"] = i(GpioTriggerType::FALLING_EDGE);
    values["GPIO_TRIGGER_BOTH_EDGES"] = i(GpioTriggerType::BOTH_EDGES);
    values["I3C_TARGET_MEMORY_SIZE"] = i(I3C_TARGET_MEMORY_SIZE);
    values["MAX_I2C_TRANSFER_LENGTH"] = i(MAX_I2C_TRANSFER_LENGTH);
    values["I2C_BULK_MAX_PAYLOAD"] = i(I2C_BULK_MAX_PAYLOAD);
    values["SPI_BULK_MAX_PAYLOAD"] = i(SPI_BULK_MAX_PAYLOAD);
    values["I3C_BULK_MAX_PAYLOAD"] = i(I3C_BULK_MAX_PAYLOAD);
    values["I2C_BUS_A"] = i(I2cBus::A);
    values["I2C_BUS_B"] = i(I2cBus::B);
    probe["values"] = values;
    return probe;
}

}  // namespace pyvantorsdk
