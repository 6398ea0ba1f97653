// SPDX-License-Identifier: MIT
#pragma once
// `command_table()` and `notification_table()`: the SDK's command catalog
// with its message layouts, for tools that decode captured traffic.

#include <nanobind/nanobind.h>

namespace pyvantorsdk {

void registerCommandTable(nanobind::module_& m);

}  // namespace pyvantorsdk
