// SPDX-License-Identifier: MIT
// `HidDeviceInfo` and `enumerate_devices`: the HID interfaces present,
// including the virtual adapters of this process.

#include "bindings/Enumeration.h"

#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <string>
#include <vector>

#include "bindings/ReleasedGil.h"
#include "sdk/core/Protocol.h"
#include "sdk/core/SystemTypes.h"
#include "sdk/transport/HidTransport.h"
#include "sdk/transport/UsbBackend.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

struct HidDeviceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serialNumber;
    uint16_t releaseNumber = 0;
    std::string manufacturer;
    std::string productName;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    int32_t interfaceNumber = 0;
    int32_t busType = 0;
};

std::vector<HidDeviceInfo> enumerateDevices(uint16_t vid, uint16_t pid) {
    std::vector<HidDeviceInfo> result;
    auto& hid = vantor::usb::defaultHidBackend();
    if (hid.init() != 0) return result;
    for (const auto& e : hid.enumerate(vid, pid)) {
        HidDeviceInfo info;
        info.path = e.path;
        info.vendorId = e.vendorId;
        info.productId = e.productId;
        info.serialNumber = vantor::wideToUtf8(e.serialNumber);
        info.releaseNumber = e.releaseNumber;
        info.manufacturer = vantor::wideToUtf8(e.manufacturer);
        info.productName = vantor::wideToUtf8(e.product);
        info.usagePage = e.usagePage;
        info.usage = e.usage;
        info.interfaceNumber = e.interfaceNumber;
        info.busType = e.busType;
        result.push_back(std::move(info));
    }
    return result;
}

}  // namespace

void registerEnumeration(nb::module_& m) {
    nb::class_<HidDeviceInfo>(m, "HidDeviceInfo", "One HID interface present on the system.")
        .def(nb::init<>())
        .def_ro("path", &HidDeviceInfo::path)
        .def_ro("vendor_id", &HidDeviceInfo::vendorId)
        .def_ro("product_id", &HidDeviceInfo::productId)
        .def_ro("serial_number", &HidDeviceInfo::serialNumber)
        .def_ro("release_number", &HidDeviceInfo::releaseNumber)
        .def_ro("manufacturer", &HidDeviceInfo::manufacturer)
        .def_ro("product_name", &HidDeviceInfo::productName)
        .def_ro("usage_page", &HidDeviceInfo::usagePage)
        .def_ro("usage", &HidDeviceInfo::usage)
        .def_ro("interface_number", &HidDeviceInfo::interfaceNumber)
        .def_ro("bus_type", &HidDeviceInfo::busType)
        .def("__repr__", [](const HidDeviceInfo& d) {
            return nb::str(
                       "HidDeviceInfo(path={!r}, vendor_id=0x{:04X}, product_id=0x{:04X}, "
                       "serial_number={!r}, product_name={!r})")
                .format(d.path, d.vendorId, d.productId, d.serialNumber, d.productName);
        });

    m.def(
        "enumerate_devices",
        [](uint16_t vid, uint16_t pid) {
            return callWithoutGil([&] { return enumerateDevices(vid, pid); });
        },
        nb::arg("vid") = 0, nb::arg("pid") = 0,
        "List the HID interfaces with this vendor and product id (0 matches any).");

    // The adapters the SDK opens, for callers of enumerate_devices:
    // (vendor_id, product_id, model, report_size).
    nb::list supported;
    for (const vantor::SupportedDevice& d : vantor::kSupportedDevices) {
        const auto model = d.productId == vantor::kProductIdQuillex ? vantor::DeviceModel::QUILLEX
                                                                    : vantor::DeviceModel::TERANOX;
        supported.append(nb::make_tuple(d.vendorId, d.productId, model, d.reportSize));
    }
    m.attr("_supported_devices") = nb::tuple(supported);
    // Paths of the virtual adapters of this process start with this.
    m.attr("_virtual_path_prefix") = vantor::usb::kVirtualPathPrefix;
}

}  // namespace pyvantorsdk
