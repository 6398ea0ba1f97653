// SPDX-License-Identifier: MIT
#include "bindings/ReaderGil.h"

#include <atomic>

#include "bindings/ReleasedGil.h"

namespace pyvantorsdk {

namespace {

std::atomic<bool> shuttingDown{false};

bool interpreterUsable() {
    return !shuttingDown.load(std::memory_order_acquire) && !interpreterFinalizing();
}

}  // namespace

NativeThreadState::NativeThreadState(PyInterpreterState* interpreter) {
    if (interpreterUsable()) state_ = PyThreadState_New(interpreter);
}

NativeThreadState::~NativeThreadState() {
    if (state_ == nullptr || !interpreterUsable()) return;
    retakeGil(state_);
    PyThreadState_Clear(state_);
    PyThreadState_DeleteCurrent();  // releases the lock
}

bool NativeThreadState::acquire() noexcept {
    if (state_ == nullptr || !interpreterUsable()) return false;
    retakeGil(state_);
    return true;
}

void NativeThreadState::release() noexcept {
    PyEval_SaveThread();
}

bool interpreterFinalizing() {
    if (!Py_IsInitialized()) return true;
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

bool pythonShuttingDown() {
    // Sequentially consistent, with the store below: ReleasedGil and the
    // exit hook each write one flag and read the other's, and at least one of
    // them must see the other's write.
    return shuttingDown.load();
}

void markPythonShuttingDown() {
    shuttingDown.store(true);
}

}  // namespace pyvantorsdk
