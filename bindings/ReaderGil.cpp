#include "bindings/ReaderGil.h"

#include <Python.h>

#include <atomic>

namespace pyvantorsdk {

namespace {

std::atomic<bool> shuttingDown{false};

bool interpreterUsable() {
    // A thread that asks for the lock while the interpreter finalises is
    // stopped inside native code; the exit hook normally prevents getting
    // here, the finalising test covers an exit that bypassed it.
    return !shuttingDown.load(std::memory_order_acquire) && !interpreterFinalizing();
}

// One per reader thread: the thread state kept between callbacks.
struct ThreadStateHolder {
    PyGILState_STATE outer{};
    PyThreadState* saved = nullptr;

    // Creates the thread state on first use (with the lock taken once and
    // kept as the "outer" level) and parks it without the lock.
    void ensureCreated() {
        if (saved != nullptr) return;
        outer = PyGILState_Ensure();
        saved = PyEval_SaveThread();
    }

    // At thread exit. Once the interpreter is shutting down the thread state
    // is left to the interpreter, which frees it with the others.
    ~ThreadStateHolder() {
        if (saved == nullptr || !interpreterUsable()) return;
        PyEval_RestoreThread(saved);
        PyGILState_Release(outer);
    }
};

thread_local ThreadStateHolder holder;

}  // namespace

bool interpreterFinalizing() {
    if (!Py_IsInitialized()) return true;
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

bool pythonShuttingDown() {
    return shuttingDown.load(std::memory_order_acquire);
}

void markPythonShuttingDown() {
    shuttingDown.store(true, std::memory_order_release);
}

ReaderGil::ReaderGil() {
    if (!interpreterUsable()) return;
    if (PyGILState_Check()) {
        // Already held by this thread (a callback made from Python code):
        // use it and leave it as it is.
        ok_ = borrowed_ = true;
        return;
    }
    holder.ensureCreated();
    PyEval_RestoreThread(holder.saved);
    ok_ = true;
}

ReaderGil::~ReaderGil() {
    if (ok_ && !borrowed_) holder.saved = PyEval_SaveThread();
}

}  // namespace pyvantorsdk
