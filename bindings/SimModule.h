// SPDX-License-Identifier: MIT
#pragma once
#include <nanobind/nanobind.h>

namespace pyvantorsdk {
// The private submodule `_sim`: the virtual adapter for Python. It lives in
// this extension so that its adapters are in the registry that this
// extension's transports search.
void registerSimModule(nanobind::module_& m);
}  // namespace pyvantorsdk
