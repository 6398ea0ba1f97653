// SPDX-License-Identifier: MIT
#include "bindings/Interrupt.h"

#include <nanobind/nanobind.h>

#include <atomic>

#include "bindings/ReaderGil.h"
#include "sdk/core/VantorSDK.h"

namespace nb = nanobind;

namespace pyvantorsdk {
namespace {

// Identifier (PyThread_get_thread_ident) of the interpreter's main thread,
// the only thread on which Python runs signal handlers; 0 until known.
std::atomic<unsigned long> mainThreadIdent{0};

// Runs on the waiting thread, with no SDK lock and no interpreter lock held.
bool signalRaised() {
    // Other threads never see signals: they need not take the lock at all.
    if (PyThread_get_thread_ident() != mainThreadIdent.load()) return false;
    if (interpreterFinalizing()) return false;
    nb::gil_scoped_acquire locked;
    // -1: a handler raised; its exception stays set for the facade to raise
    // once the call has returned.
    return PyErr_CheckSignals() != 0;
}

}  // namespace

void installInterruptCheck(vantor::VantorSDK& sdk) {
    if (mainThreadIdent.load() == 0) {
        nb::object mainThread = nb::module_::import_("threading").attr("main_thread")();
        mainThreadIdent.store(nb::cast<unsigned long>(mainThread.attr("ident")));
    }
    sdk.setInterruptCheck(&signalRaised, kInterruptPollMs);
}

void raisePendingInterrupt() {
    if (PyErr_Occurred() != nullptr) throw nb::python_error();
}

}  // namespace pyvantorsdk
