// SPDX-License-Identifier: MIT
#pragma once
#include <nanobind/nanobind.h>

namespace pyvantorsdk {
// `HidDeviceInfo` and `enumerate_devices`.
void registerEnumeration(nanobind::module_& m);
}  // namespace pyvantorsdk
