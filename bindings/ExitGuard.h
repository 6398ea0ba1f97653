// SPDX-License-Identifier: MIT
#pragma once
// Closing every adapter connection before the interpreter exits.
//
// A facade's delivery thread calls into Python for every event. Once the
// interpreter is finalising, a thread that asks for the interpreter lock is
// stopped in the middle of native code, so every connection and its delivery
// thread must be stopped while Python still runs: an `atexit` hook, installed
// at import, refuses further callbacks and disconnects every live facade,
// with the interpreter lock released so that a delivery thread waiting for it
// can finish first.

#include <Python.h>

#include <optional>

#include "bindings/ReleasedGil.h"

namespace pyvantorsdk {

// An object that owns a connection with a reader thread.
class ExitParticipant {
  public:
    virtual ~ExitParticipant() = default;
    // Stops the reader and delivery threads (joins them); called without the
    // interpreter lock.
    virtual void disconnectForExit() noexcept = 0;
};

// Both may be called with or without the interpreter lock; they release it
// while they wait for the registry, which the exit hook holds while it joins
// delivery threads that may be waiting for the lock.
void registerLive(ExitParticipant* participant);
void unregisterLive(ExitParticipant* participant);

// Releases the interpreter lock for its lifetime if this thread holds it.
class GilReleaseIfHeld {
  public:
    GilReleaseIfHeld() {
        if (Py_IsInitialized() && PyGILState_Check()) release_.emplace();
    }

  private:
    std::optional<ReleasedGil> release_;
};

// Registers the hook with Python's `atexit`.
void installExitHook();

}  // namespace pyvantorsdk
