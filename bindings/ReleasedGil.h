// SPDX-License-Identifier: MIT
#pragma once
// Releasing the interpreter lock around native work, safely at interpreter
// exit.
//
// A thread that gives the lock up and asks for it back while the interpreter
// finalises is not given it: the interpreter ends the thread on the spot with
// a forced unwind (on the versions this module supports). Unwinding through
// a destructor or another noexcept frame aborts the whole process, and a
// daemon thread that is inside a facade call when the main thread exits is
// exactly that case. So every place that releases the lock takes it back
// through `retakeGil`, which catches the forced unwind and parks the thread
// instead: the thread is a daemon thread and the process is exiting, so the
// thread sleeps until the process ends. Parking switches off the binding
// library's leak report, since the parked thread's frames keep their objects
// alive.

#include <Python.h>

#include <type_traits>
#include <utility>

namespace pyvantorsdk {

// Takes the lock back with `state` (what PyEval_SaveThread returned). Never
// returns on a thread that may not have the lock any more: once the
// interpreter finalises, every thread but the main one is parked.
void retakeGil(PyThreadState* state) noexcept;

// Blocks the calling thread until the process ends. The thread must hold no
// lock that process exit needs.
[[noreturn]] void parkThisThread() noexcept;

// True once a thread has been parked by retakeGil.
bool anyThreadParked() noexcept;

// Threads that are inside a ReleasedGil section now. Counted so that the exit
// hook knows whether daemon threads will be abandoned inside library calls.
int threadsWithoutGil() noexcept;
// Switches the binding library's leak report off: objects held by abandoned
// daemon threads are not the module's leaks.
void silenceLeakReport() noexcept;

// Called at import, on the importing thread, to learn the main thread (the
// one that finalises the interpreter).
void recordMainThread();

// Releases the interpreter lock for its lifetime (the calling thread must
// hold it); the destructor takes it back through retakeGil.
class ReleasedGil {
  public:
    ReleasedGil();
    ~ReleasedGil();
    ReleasedGil(const ReleasedGil&) = delete;
    ReleasedGil& operator=(const ReleasedGil&) = delete;

  private:
    PyThreadState* state_;
};

// Takes the interpreter lock for its lifetime on a thread that may not hold
// it (PyGILState_Ensure), parking the thread instead when the interpreter
// finalises, like retakeGil.
class EnsuredGil {
  public:
    EnsuredGil() noexcept;
    ~EnsuredGil() { PyGILState_Release(state_); }
    EnsuredGil(const EnsuredGil&) = delete;
    EnsuredGil& operator=(const EnsuredGil&) = delete;

  private:
    PyGILState_STATE state_{};
};

// Calls `fn()` with the interpreter lock released and returns its result.
template <class Fn>
auto callWithoutGil(Fn&& fn) -> std::invoke_result_t<Fn> {
    ReleasedGil released;
    return std::forward<Fn>(fn)();
}

}  // namespace pyvantorsdk
