// SPDX-License-Identifier: MIT
#include "bindings/I3cTargetDict.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "bindings/DeviceInfo.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

template <typename T>
T field(nb::handle target, const char* key) {
    // Subscripting raises the mapping's own KeyError for a missing key.
    nb::object value = target[key];
    T result{};
    // Integers only (bool is one): a float is not silently truncated.
    if (!PyLong_Check(value.ptr()) || !nb::try_cast(value, result, false)) {
        throw nb::type_error(("I3C target \"" + std::string(key) + "\" must be an int from 0 to " +
                              std::to_string(static_cast<unsigned>(T(~T{0}))))
                                 .c_str());
    }
    return result;
}

void pidField(nb::handle target, uint8_t (&pid)[6]) {
    nb::object value = target["pid"];
    if (!PyBytes_Check(value.ptr())) throw nb::type_error("I3C target \"pid\" must be bytes");
    const auto* bytes = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(value.ptr()));
    const size_t n =
        std::min<size_t>(sizeof pid, static_cast<size_t>(PyBytes_GET_SIZE(value.ptr())));
    std::copy(bytes, bytes + n, pid);
}

}  // namespace

std::vector<vantor::I3cTargetInfo> toTargetInfos(nb::handle targets) {
    std::vector<vantor::I3cTargetInfo> records;
    for (nb::handle target : targets) {
        vantor::I3cTargetInfo r{};
        r.staticAddress = field<uint8_t>(target, "static_address");
        r.dynamicAddress = field<uint8_t>(target, "dynamic_address");
        pidField(target, r.pid);
        r.bcr = field<uint8_t>(target, "bcr");
        r.dcr = field<uint8_t>(target, "dcr");
        r.mwl = field<uint16_t>(target, "mwl");
        r.mrl = field<uint16_t>(target, "mrl");
        r.maxIbiPayloadLength = field<uint8_t>(target, "max_ibi_payload_length");
        r.configuration = field<uint8_t>(target, "configuration");
        records.push_back(r);
    }
    return records;
}

nb::list fromTargetInfos(const std::vector<vantor::I3cTargetInfo>& targets) {
    nb::list list;
    for (const vantor::I3cTargetInfo& r : targets) {
        nb::dict d;
        d["static_address"] = r.staticAddress;
        d["dynamic_address"] = r.dynamicAddress;
        d["pid"] = toBytes(r.pid, sizeof r.pid);
        d["bcr"] = r.bcr;
        d["dcr"] = r.dcr;
        d["mwl"] = r.mwl;
        d["mrl"] = r.mrl;
        d["max_ibi_payload_length"] = r.maxIbiPayloadLength;
        d["configuration"] = r.configuration;
        list.append(d);
    }
    return list;
}

}  // namespace pyvantorsdk
