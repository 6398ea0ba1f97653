// SPDX-License-Identifier: MIT
#pragma once
// Ctrl-C during a blocking call.
//
// A blocking call waits with the interpreter lock released, so Python's
// SIGINT handler cannot run until the call returns. The check installed here
// is asked by the SDK while a call waits: on the interpreter's main thread
// it takes the lock and runs the pending signal handlers. When a handler
// raises (KeyboardInterrupt by default), the exception stays set on the
// thread, the SDK abandons the wait (its late answer is discarded) and the
// facade raises that exception instead of the call's status.

#include <cstdint>

namespace vantor {
class VantorSDK;
}

namespace pyvantorsdk {

// How often a waiting call on the main thread looks for pending signals.
inline constexpr int kInterruptPollMs = 50;

// Installs the check on `sdk`. Call with the interpreter lock held (it
// records which thread is the interpreter's main thread).
void installInterruptCheck(vantor::VantorSDK& sdk);

// Call with the interpreter lock held, after a blocking call returned:
// throws the Python exception a signal handler raised during the call, if
// any (nanobind::python_error); returns otherwise.
void raisePendingInterrupt();

}  // namespace pyvantorsdk
