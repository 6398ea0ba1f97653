#pragma once
// Closing every adapter connection before the interpreter exits.
//
// A connection's reader thread calls into Python for every event. Once the
// interpreter is finalising, a thread that asks for the interpreter lock is
// stopped in the middle of native code, so every connection must be closed
// while Python still runs: an `atexit` hook, installed at import, refuses
// further callbacks and disconnects every live facade, with the interpreter
// lock released so that a reader thread waiting for it can finish first.

#include <nanobind/nanobind.h>

#include <optional>

namespace pyvantorsdk {

// An object that owns a connection with a reader thread.
class ExitParticipant {
  public:
    virtual ~ExitParticipant() = default;
    // Stops the reader thread (joins it); called without the interpreter lock.
    virtual void disconnectForExit() noexcept = 0;
};

// Both may be called with or without the interpreter lock; they release it
// while they wait for the registry, which the exit hook holds while it joins
// reader threads that may be waiting for the lock.
void registerLive(ExitParticipant* participant);
void unregisterLive(ExitParticipant* participant);

// Releases the interpreter lock for its lifetime if this thread holds it.
class GilReleaseIfHeld {
  public:
    GilReleaseIfHeld() {
        if (Py_IsInitialized() && PyGILState_Check()) release_.emplace();
    }

  private:
    std::optional<nanobind::gil_scoped_release> release_;
};

// Registers the hook with Python's `atexit`.
void installExitHook();

}  // namespace pyvantorsdk
