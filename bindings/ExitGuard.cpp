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

void disconnectAllForExit() {
    markPythonShuttingDown();
    // Threads still inside library calls now are daemon threads (the others
    // were joined before the exit hooks run); the interpreter abandons them
    // with their frames.
    if (threadsWithoutGil() > 0) silenceLeakReport();
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
