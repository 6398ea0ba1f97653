// SPDX-License-Identifier: MIT
#include "bindings/I3cTargetDict.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "bindings/Convert.h"
#include "bindings/DeviceInfo.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

// `what` names the key within the list: I3C target 2 "pid".
std::string keyName(size_t index, const char* key) {
    return "I3C target " + std::to_string(index) + " \"" + key + "\"";
}

template <typename T>
T field(nb::handle target, size_t index, const char* key) {
    // Subscripting raises the mapping's own KeyError for a missing key.
    nb::object value = target[key];
    const std::string range = "from 0 to " + std::to_string(static_cast<unsigned>(T(~T{0})));
    // Integers only (bool is one): a float is not silently truncated.
    if (!PyLong_Check(value.ptr())) {
        throw nb::type_error((keyName(index, key) + " must be an int " + range).c_str());
    }
    T result{};
    if (!nb::try_cast(value, result, false)) {
        throw nb::value_error(
            (keyName(index, key) + " must be " + range + ", not " + integerText(value)).c_str());
    }
    return result;
}

void pidField(nb::handle target, size_t index, uint8_t (&pid)[6]) {
    nb::object value = target["pid"];
    if (!PyBytes_Check(value.ptr())) {
        throw nb::type_error((keyName(index, "pid") + " must be bytes").c_str());
    }
    const auto size = static_cast<size_t>(PyBytes_GET_SIZE(value.ptr()));
    if (size != sizeof pid) {
        throw nb::value_error(
            (keyName(index, "pid") + " must be 6 bytes, not " + std::to_string(size)).c_str());
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(value.ptr()));
    std::copy(bytes, bytes + sizeof pid, pid);
}

}  // namespace

std::vector<vantor::I3cTargetInfo> toTargetInfos(nb::handle targets) {
    std::vector<vantor::I3cTargetInfo> records;
    for (nb::handle target : targets) {
        const size_t i = records.size();
        vantor::I3cTargetInfo r{};
        r.staticAddress = field<uint8_t>(target, i, "static_address");
        r.dynamicAddress = field<uint8_t>(target, i, "dynamic_address");
        pidField(target, i, r.pid);
        r.bcr = field<uint8_t>(target, i, "bcr");
        r.dcr = field<uint8_t>(target, i, "dcr");
        r.mwl = field<uint16_t>(target, i, "mwl");
        r.mrl = field<uint16_t>(target, i, "mrl");
        r.maxIbiPayloadLength = field<uint8_t>(target, i, "max_ibi_payload_length");
        r.configuration = field<uint8_t>(target, i, "configuration");
        // The adapter keeps one table entry per PID: a second target with
        // the same one would silently replace the first.
        for (size_t earlier = 0; earlier < i; ++earlier) {
            if (std::equal(std::begin(r.pid), std::end(r.pid), std::begin(records[earlier].pid))) {
                throw nb::value_error((keyName(i, "pid") + " repeats the PID of I3C target " +
                                       std::to_string(earlier))
                                          .c_str());
            }
        }
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
