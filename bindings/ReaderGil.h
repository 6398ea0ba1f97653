// SPDX-License-Identifier: MIT
#pragma once
// The interpreter's state as native threads see it, and the Python thread
// state of a native thread that calls into Python.
//
// Notifications reach Python on a delivery thread (NotificationDelivery.h),
// thousands of times a second; creating a Python thread state per call costs
// microseconds each time. A `NativeThreadState` is created once on that
// thread and kept for the thread's life; each batch of calls only takes and
// releases the lock with it.
//
// Once the interpreter starts shutting down (the module's exit hook ran),
// native threads stop calling into Python: a thread that asks for the lock
// while the interpreter finalises is stopped in the middle of native code.

#include <Python.h>

namespace pyvantorsdk {

class NativeThreadState {
  public:
    // On the thread that will use it, without the interpreter lock.
    explicit NativeThreadState(PyInterpreterState* interpreter);
    // Deletes the thread state, unless the interpreter is shutting down: it
    // then frees it with the others.
    ~NativeThreadState();
    NativeThreadState(const NativeThreadState&) = delete;
    NativeThreadState& operator=(const NativeThreadState&) = delete;

    // Takes the interpreter lock; false (and nothing taken) once Python is
    // shutting down.
    bool acquire() noexcept;
    void release() noexcept;

  private:
    PyThreadState* state_ = nullptr;
};

// True when the interpreter is gone or finalising: a thread other than the
// finalising one must not ask for the interpreter lock then.
bool interpreterFinalizing();

// True once the interpreter is shutting down; native threads then stop
// calling into Python.
bool pythonShuttingDown();
// Called from the module's atexit hook.
void markPythonShuttingDown();

}  // namespace pyvantorsdk
