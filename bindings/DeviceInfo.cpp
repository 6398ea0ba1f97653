// SPDX-License-Identifier: MIT
#include "bindings/DeviceInfo.h"

#include <nanobind/stl/string.h>

#include <cctype>

#include "bindings/Errors.h"
#include "sdk/core/StatusCode.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

nb::str decodeText(const std::string& s) {
    // Descriptor strings come from the device as raw bytes; a device that
    // sends something other than UTF-8 must not make the call fail.
    PyObject* str = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
    if (!str) throw nb::python_error();
    return nb::steal<nb::str>(str);
}

nb::frozenset toFrozenSet(nb::handle items) {
    return nb::steal<nb::frozenset>(PyFrozenSet_New(items.ptr()));
}

}  // namespace

nb::bytes toBytes(const uint8_t* data, size_t length) {
    return nb::bytes(reinterpret_cast<const char*>(data), length);
}

vantor::DeviceModel modelFromProductName(const std::string& name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("teranox") != std::string::npos) return vantor::DeviceModel::TERANOX;
    if (lower.find("quillex") != std::string::npos) return vantor::DeviceModel::QUILLEX;
    return vantor::DeviceModel::UNKNOWN;
}

DeviceInfo makeDeviceInfo(const vantor::DeviceInfo& info) {
    return DeviceInfo{info.manufacturer, info.productName, modelFromProductName(info.productName),
                      info.serialNumber, info.hwVersion,   info.fwVersion};
}

void requireLength(size_t length, size_t minimum, const char* operation) {
    if (length < minimum) {
        checkStatus(vantor::status::kWrongResponse, operation);
    }
}

I2cScanResult decodeScanAddresses(const uint8_t* data, size_t length, unsigned count7,
                                  unsigned count10) {
    requireLength(length, size_t{count7} + 2 * size_t{count10}, "i2c_scan_bus");
    I2cScanResult result;
    result.addresses7bit.assign(data, data + count7);
    result.addresses10bit.reserve(count10);
    for (unsigned i = 0; i < count10; ++i) {
        const uint8_t* p = data + count7 + 2 * i;
        result.addresses10bit.push_back(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    }
    return result;
}

void registerDeviceInfo(nb::module_& m) {
    nb::class_<DeviceInfo>(m, "DeviceInfo", "Identification strings of an adapter.")
        .def(nb::init<>())
        .def_prop_ro("manufacturer", [](const DeviceInfo& d) { return decodeText(d.manufacturer); })
        .def_prop_ro("product_name", [](const DeviceInfo& d) { return decodeText(d.productName); })
        .def_prop_ro("model", [](const DeviceInfo& d) { return d.model; })
        .def_prop_ro("serial_number",
                     [](const DeviceInfo& d) { return decodeText(d.serialNumber); })
        .def_prop_ro("hw_version", [](const DeviceInfo& d) { return decodeText(d.hwVersion); })
        .def_prop_ro("fw_version", [](const DeviceInfo& d) { return decodeText(d.fwVersion); })
        .def("__repr__", [](const DeviceInfo& d) {
            return nb::str(
                       "DeviceInfo(manufacturer={!r}, product_name={!r}, model={}, "
                       "serial_number={!r}, hw_version={!r}, fw_version={!r})")
                .format(decodeText(d.manufacturer), decodeText(d.productName), nb::cast(d.model),
                        decodeText(d.serialNumber), decodeText(d.hwVersion),
                        decodeText(d.fwVersion));
        });
}

void registerDecoders(nb::module_& m) {
    nb::class_<I2cScanResult>(m, "I2cScanResult", "Addresses that answered an I2C bus scan.")
        .def(nb::init<>())
        .def_prop_ro("addresses_7bit",
                     [](const I2cScanResult& r) {
                         nb::list items;
                         for (uint8_t a : r.addresses7bit) items.append(a);
                         return toFrozenSet(items);
                     })
        .def_prop_ro("addresses_10bit",
                     [](const I2cScanResult& r) {
                         nb::list items;
                         for (uint16_t a : r.addresses10bit) items.append(a);
                         return toFrozenSet(items);
                     })
        .def("__repr__", [](const I2cScanResult& r) {
            nb::list seven, ten;
            for (uint8_t a : r.addresses7bit) seven.append(nb::str("0x{:02X}").format(a));
            for (uint16_t a : r.addresses10bit) ten.append(nb::str("0x{:03X}").format(a));
            return nb::str("I2cScanResult(addresses_7bit=[{}], addresses_10bit=[{}])")
                .format(nb::str(", ").attr("join")(seven), nb::str(", ").attr("join")(ten));
        });

    m.def(
        "make_device_info",
        [](const std::string& manufacturer, const std::string& productName,
           const std::string& serialNumber, const std::string& hwVersion,
           const std::string& fwVersion) {
            return makeDeviceInfo(
                vantor::DeviceInfo{manufacturer, productName, serialNumber, hwVersion, fwVersion});
        },
        nb::arg("manufacturer"), nb::arg("product_name"), nb::arg("serial_number"),
        nb::arg("hw_version"), nb::arg("fw_version"),
        "Build a DeviceInfo, recognising the model from the product name.");

    m.def(
        "decode_i2c_scan",
        [](nb::bytes payload) {
            const auto* p = static_cast<const uint8_t*>(payload.data());
            requireLength(payload.size(), 3, "i2c_scan_bus");
            return decodeScanAddresses(p + 3, payload.size() - 3, p[1], p[2]);
        },
        nb::arg("payload"),
        "Decode the parameter block and addresses of an I2C scan response (from offset 6).");

    m.def(
        "decode_spi_transfer",
        [](nb::bytes payload) {
            const auto* p = static_cast<const uint8_t*>(payload.data());
            requireLength(payload.size(), 2, "spi_transfer");
            const size_t n = static_cast<size_t>(p[0] | (p[1] << 8));
            requireLength(payload.size(), n + 2, "spi_transfer");
            return toBytes(p + 2, n);
        },
        nb::arg("payload"),
        "Extract the received bytes of an SPI transfer response (from offset 6).");
}

}  // namespace pyvantorsdk
