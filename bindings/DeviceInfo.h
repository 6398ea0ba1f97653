// SPDX-License-Identifier: MIT
#pragma once
// Result records shared by the facades: device information, I2C scan
// results, and the decoders for scan and SPI transfer payloads.

#include <nanobind/nanobind.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/core/SystemTypes.h"

namespace pyvantorsdk {

struct DeviceInfo {
    std::string manufacturer;
    std::string productName;
    vantor::DeviceModel model = vantor::DeviceModel::UNKNOWN;
    std::string serialNumber;
    std::string hwVersion;
    std::string fwVersion;
};

struct I2cScanResult {
    std::vector<uint8_t> addresses7bit;
    std::vector<uint16_t> addresses10bit;
};

vantor::DeviceModel modelFromProductName(const std::string& name);
DeviceInfo makeDeviceInfo(const vantor::DeviceInfo& info);

// Raises ProtocolError (SDK_ERROR_WRONG_RESPONSE) for `operation` when
// `length` is below `minimum`.
void requireLength(size_t length, size_t minimum, const char* operation);

// Splits scan address bytes (count7 single bytes, then count10 little-endian
// pairs); raises ProtocolError for "i2c_scan_bus" when they don't fit.
I2cScanResult decodeScanAddresses(const uint8_t* data, size_t length, unsigned count7,
                                  unsigned count10);

// Byte strings as Python `bytes`.
nanobind::bytes toBytes(const uint8_t* data, size_t length);
inline nanobind::bytes toBytes(const std::vector<uint8_t>& v) {
    return toBytes(v.data(), v.size());
}

void registerDeviceInfo(nanobind::module_& m);
// `make_device_info`, `decode_i2c_scan`, `decode_spi_transfer`.
void registerDecoders(nanobind::module_& m);

}  // namespace pyvantorsdk
