#pragma once
#include <nanobind/nanobind.h>

namespace vantor::bindings {
nanobind::dict buildAbiProbe();
}
