// SPDX-License-Identifier: MIT
#pragma once
// Faults of the adapter's USB side: failing output reports (slow or fast),
// failing HID reads, a response delay, the bound of the HID input queue, and
// a stalled or short bulk IN endpoint. They act below the firmware, on every
// request alike. Besides, the faults of the adapter's request queue: requests
// turned away, answers lost or held back.

#include <chrono>
#include <cstddef>
#include <optional>

#include "sim/VirtualAdapterCore.h"

namespace vantor::sim {

class FaultBench {
  public:
    explicit FaultBench(VirtualAdapter::State& state) : state_(state) {}
    FaultBench(const FaultBench&) = delete;
    FaultBench& operator=(const FaultBench&) = delete;

    // The next `count` output reports fail, each after `delay`.
    void failWrites(int count, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // The next `count` reads on the HID interface fail.
    void failReads(int count);
    // Responses (from the firmware or a handler) become readable only after
    // this delay; injected messages are not delayed.
    void setResponseDelay(std::chrono::milliseconds delay);
    // Bulk IN: a stalled endpoint fails every transfer with a pipe error;
    // a short endpoint delivers at most `limit` of the bytes it announced
    // (the rest is lost).
    void stallBulkIn(bool stalled);
    // At most `limit` input reports wait for each open HID handle (64 from
    // creation, as in the Linux HID driver); newer notifications and raw
    // reports are dropped while its queue is full and counted
    // (`VirtualAdapter::droppedReports`). The answers to a handle's own
    // requests are never dropped for it: the adapter sends them only as fast
    // as the host reads. Nothing: no limit.
    void limitInputQueue(std::optional<size_t> limit);
    void limitBulkIn(std::optional<size_t> limit);
    // A slow bulk IN endpoint: it delivers `after` more bytes, then nothing
    // for `delay`; what waits meanwhile (also data queued later) comes
    // afterwards, in order.
    void delayBulkIn(size_t after, std::chrono::milliseconds delay);

    // The next `count` requests are answered FW_FULL_RECEPTION_QUEUE without
    // being executed.
    void turnAwayRequests(int count);
    // The answers to the next `count` requests are lost; the requests run.
    void loseAnswers(int count);
    // While held, answers wait in the adapter; releasing sends the waiting
    // ones in order (unplugging drops them).
    void holdAnswers(bool hold);

  private:
    VirtualAdapter::State& state_;
};

}  // namespace vantor::sim
