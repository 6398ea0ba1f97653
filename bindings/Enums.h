#pragma once
#include <nanobind/nanobind.h>

namespace vantor::bindings {
void registerEnums(nanobind::module_& m);
}
