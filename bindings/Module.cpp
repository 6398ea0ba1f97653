// SPDX-License-Identifier: MIT
// The extension module `_pyvantorsdk_cpp`. Registration order matters: the
// enumerations come first because every later class refers to them, and the
// facade last because its methods use every other class.

#include <nanobind/nanobind.h>

#include <mutex>

#include "bindings/AbiProbe.h"
#include "bindings/AsyncFacadeCommands.h"
#include "bindings/CommandTable.h"
#include "bindings/DeviceFacade.h"
#include "bindings/DeviceInfo.h"
#include "bindings/Enumeration.h"
#include "bindings/Enums.h"
#include "bindings/Errors.h"
#include "bindings/ExitGuard.h"
#include "bindings/Notifications.h"
#include "bindings/ReleasedGil.h"
#include "sdk/core/Version.h"
#ifdef VANTOR_HAVE_SIM
#include "bindings/SimModule.h"
#endif

#ifdef _WIN32
#include <windows.h>
#endif

namespace nb = nanobind;

namespace {

// hidapi on Windows resolves its functions from these system libraries; load
// them once per process before any device is opened. Elsewhere hidapi's own
// backend needs nothing preloaded.
void preloadPlatformHidLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef _WIN32
        LoadLibraryW(L"hid.dll");
        LoadLibraryW(L"cfgmgr32.dll");
#endif
    });
}

}  // namespace

NB_MODULE(_pyvantorsdk_cpp, m) {
    m.doc() = "Native bindings for the pyvantorsdk Python SDK (nanobind)";
    // The package's __version__: the same project version the distribution
    // carries, without asking the installed metadata at import time.
    m.attr("_sdk_version") = VANTOR_SDK_VERSION;
    preloadPlatformHidLibraries();
    pyvantorsdk::recordMainThread();
    m.attr("_abi_probe") = pyvantorsdk::buildAbiProbe();
    pyvantorsdk::registerEnums(m);
    pyvantorsdk::registerDeviceInfo(m);
    pyvantorsdk::registerErrors(m);
    pyvantorsdk::registerNotifications(m);
    pyvantorsdk::registerEnumeration(m);
    pyvantorsdk::registerDecoders(m);
    pyvantorsdk::registerCommandTable(m);
    pyvantorsdk::registerDeviceFacade(m);
    pyvantorsdk::registerAsyncDeviceFacade(m);
#ifdef VANTOR_HAVE_SIM
    pyvantorsdk::registerSimModule(m);
#endif
    // Connections are closed while Python still runs (see ExitGuard.h).
    pyvantorsdk::installExitHook();
}
