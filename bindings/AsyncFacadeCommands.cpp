// SPDX-License-Identifier: MIT
#include "bindings/AsyncFacadeCommands.h"

#include <nanobind/stl/string.h>

#include <string>

#include "bindings/Commands.h"
#include "bindings/ExitGuard.h"
#include "bindings/ReleasedGil.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

AsyncFacadeCommands::AsyncFacadeCommands() : sdk_(std::make_unique<vantor::VantorAsyncSDK>()) {}

AsyncFacadeCommands::~AsyncFacadeCommands() {
    GilReleaseIfHeld unlocked;
    sdk_.reset();
}

void registerAsyncFacadeCommands(nb::module_& m) {
    nb::class_<AsyncFacadeCommands> cls(
        m, "_AsyncFacadeCommands",
        "The asynchronous command methods: id first, the send status as result.");
    cls.def(nb::init<>())
        .def(
            "connect",
            [](AsyncFacadeCommands& a, const std::string& path) {
                ReleasedGil released;
                return a.sdk().connect(path);
            },
            "device_path"_a = "")
        .def("disconnect", [](AsyncFacadeCommands& a) {
            ReleasedGil released;
            a.sdk().disconnect();
        });
    AsyncCommandsBuilder g(cls);
    describeSystem(g);
    describeI2c(g);
    describeUart(g);
    describeI3c(g);
    describeSpi(g);
    describeGpio(g);
    describeTargets(g);
}

}  // namespace pyvantorsdk
