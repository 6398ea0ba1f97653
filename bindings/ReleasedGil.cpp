// SPDX-License-Identifier: MIT
#include "bindings/ReleasedGil.h"

#include <cxxabi.h>
#include <nanobind/nanobind.h>
#include <pythread.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bindings/ReaderGil.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

std::atomic<unsigned long> mainThread{0};
std::atomic<bool> parked{false};
std::atomic<int> withoutGil{0};

bool mayRetake() {
    if (!interpreterFinalizing()) return true;
    // The finalising thread keeps the lock; it runs destructors that
    // release it too.
    return PyThread_get_thread_ident() == mainThread.load(std::memory_order_relaxed);
}

}  // namespace

ReleasedGil::ReleasedGil() : state_(PyEval_SaveThread()) {
    withoutGil.fetch_add(1);
    // The exit hook silences the leak report when it sees threads inside
    // library calls. A daemon thread that enters one after the hook looked
    // is abandoned all the same, so it silences the report itself. (The
    // counter and the shutdown flag are sequentially consistent: the hook
    // sets the flag and reads the counter, this reads them the other way.)
    if (pythonShuttingDown() &&
        PyThread_get_thread_ident() != mainThread.load(std::memory_order_relaxed)) {
        silenceLeakReport();
    }
}

ReleasedGil::~ReleasedGil() {
    retakeGil(state_);
    withoutGil.fetch_sub(1, std::memory_order_relaxed);
}

int threadsWithoutGil() noexcept {
    return withoutGil.load();
}

void silenceLeakReport() noexcept {
    nb::set_leak_warnings(false);
}

void parkThisThread() noexcept {
    // The interpreter cannot collect what this thread's frames hold; that is
    // no leak of the module's.
    parked.store(true, std::memory_order_release);
    silenceLeakReport();
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

bool anyThreadParked() noexcept {
    return parked.load(std::memory_order_acquire);
}

void retakeGil(PyThreadState* state) noexcept {
    if (!mayRetake()) parkThisThread();
    try {
        PyEval_RestoreThread(state);
    } catch (abi::__forced_unwind&) {
        // Finalisation began after the check. The unwind must not leave this
        // frame (the caller may be a destructor), and ending the catch block
        // without rethrowing would abort the process: stay here.
        parkThisThread();
    }
}

EnsuredGil::EnsuredGil() noexcept {
    if (!PyGILState_Check() && !mayRetake()) parkThisThread();
    try {
        state_ = PyGILState_Ensure();
    } catch (abi::__forced_unwind&) {
        parkThisThread();
    }
}

void recordMainThread() {
    nb::object thread = nb::module_::import_("threading").attr("main_thread")();
    mainThread.store(nb::cast<unsigned long>(thread.attr("ident")), std::memory_order_relaxed);
}

}  // namespace pyvantorsdk
