// SPDX-License-Identifier: MIT
#pragma once
#include <nanobind/nanobind.h>

namespace pyvantorsdk {
nanobind::dict buildAbiProbe();
}
