// SPDX-License-Identifier: MIT
#pragma once
// `_AsyncFacadeCommands`: the command methods of the asynchronous facade over
// one `VantorAsyncSDK`, generated from the same command rows as
// `DeviceFacade` (see Commands.h), with connect and disconnect but without
// the response and notification callbacks: responses are dropped. The class
// is private to the module and absent from its stubs.

#include <nanobind/nanobind.h>

#include <memory>

#include "sdk/core/VantorAsyncSDK.h"

namespace pyvantorsdk {

class AsyncFacadeCommands {
  public:
    AsyncFacadeCommands();
    // Destroys the SDK (joining its reader thread) with the interpreter lock
    // released.
    ~AsyncFacadeCommands();
    AsyncFacadeCommands(const AsyncFacadeCommands&) = delete;
    AsyncFacadeCommands& operator=(const AsyncFacadeCommands&) = delete;

    vantor::VantorAsyncSDK& sdk() { return *sdk_; }

  private:
    std::unique_ptr<vantor::VantorAsyncSDK> sdk_;
};

void registerAsyncFacadeCommands(nanobind::module_& m);

}  // namespace pyvantorsdk
