// SPDX-License-Identifier: MIT
#pragma once
#include <nanobind/nanobind.h>

namespace pyvantorsdk {
void registerEnums(nanobind::module_& m);
}
