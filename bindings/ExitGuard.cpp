// SPDX-License-Identifier: MIT
#include "bindings/ExitGuard.h"

#include <nanobind/nanobind.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "bindings/ReaderGil.h"
#include "bindings/ReleasedGil.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<ExitParticipant*> live;
};

// Never destroyed: facades may outlive static destruction at process exit.
Registry& registry() {
    static Registry* instance = new Registry();
    return *instance;
}

// True when a daemon thread other than this one still runs: the interpreter
// abandons it with its frames, and whatever they hold (adapters, facades)
// would be reported as leaked although it is no leak of the module's.
bool daemonThreadsAlive() {
    nb::object threading = nb::module_::import_("threading");
    nb::object current = threading.attr("current_thread")();
    for (nb::handle thread : threading.attr("enumerate")()) {
        if (thread.is(current)) continue;
        if (nb::cast<bool>(thread.attr("daemon")) && nb::cast<bool>(thread.attr("is_alive")())) {
            return true;
        }
    }
    return false;
}

void disconnectAllForExit() {
    markPythonShuttingDown();
    // Threads still inside library calls now are daemon threads (the others
    // were joined before the exit hooks run); the interpreter abandons them
    // with their frames.
    if (threadsWithoutGil() > 0 || daemonThreadsAlive()) silenceLeakReport();
    ReleasedGil released;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (ExitParticipant* participant : r.live) participant->disconnectForExit();
}

}  // namespace

void registerLive(ExitParticipant* participant) {
    GilReleaseIfHeld unlocked;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.live.push_back(participant);
}

void unregisterLive(ExitParticipant* participant) {
    GilReleaseIfHeld unlocked;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.live.erase(std::remove(r.live.begin(), r.live.end(), participant), r.live.end());
}

void installExitHook() {
    nb::object hook = nb::cpp_function(&disconnectAllForExit);
    nb::module_::import_("atexit").attr("register")(hook);
}

}  // namespace pyvantorsdk
