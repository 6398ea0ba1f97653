// SPDX-License-Identifier: MIT
#include "sim/bench/FaultBench.h"

#include "sim/usb/AdapterState.h"

namespace vantor::sim {

void FaultBench::failWrites(int count, std::chrono::milliseconds delay) {
    state_.failWrites(count, delay);
}
void FaultBench::failReads(int count) {
    state_.failReads(count);
}
void FaultBench::setResponseDelay(std::chrono::milliseconds delay) {
    state_.setResponseDelay(delay);
}
void FaultBench::limitInputQueue(std::optional<size_t> limit) {
    state_.limitInputQueue(limit);
}
void FaultBench::stallBulkIn(bool stalled) {
    state_.stallBulkIn(stalled);
}
void FaultBench::limitBulkIn(std::optional<size_t> limit) {
    state_.limitBulkIn(limit);
}
void FaultBench::turnAwayRequests(int count) {
    state_.firmware().withLock([&](Firmware& fw) { fw.turnAwayRequests(count); });
}
void FaultBench::loseAnswers(int count) {
    state_.firmware().withLock([&](Firmware& fw) { fw.loseAnswers(count); });
}
void FaultBench::holdAnswers(bool hold) {
    state_.firmware().withLock([&](Firmware& fw) { fw.holdAnswers(hold); });
}
void FaultBench::delayBulkIn(size_t after, std::chrono::milliseconds delay) {
    state_.delayBulkIn(after, delay);
}

}  // namespace vantor::sim
