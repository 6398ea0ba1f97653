// SPDX-License-Identifier: MIT
// The bench of USB-side faults.
#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

void bindFaultBench(nb::module_& sim) {
    namespace vs = vantor::sim;
    using Faults = BenchRef<vs::FaultBench>;

    nb::class_<Faults>(sim, "FaultBench", "Faults of the adapter's USB side.")
        .def("__repr__", [](Faults& r) { return benchRepr(r, "FaultBench", ""); })
        .def(
            "fail_writes",
            [](Faults& r, int count, double delayMs) {
                onBench(r, [&](vs::FaultBench& b) { b.failWrites(count, millis(delayMs)); });
            },
            "count"_a, "delay_ms"_a = 0,
            "The next `count` output reports fail, each after `delay_ms`.")
        .def("fail_reads", forwardTo(&vs::FaultBench::failReads), "count"_a,
             "The next `count` reads of the HID interface fail.")
        .def(
            "set_response_delay",
            [](Faults& r, double ms) {
                onBench(r, [&](vs::FaultBench& b) { b.setResponseDelay(millis(ms)); });
            },
            "delay_ms"_a,
            "Answers become readable only after this delay (injected messages are not delayed).")
        .def("limit_input_queue", forwardTo(&vs::FaultBench::limitInputQueue), "limit"_a.none(),
             "At most `limit` input reports wait for each connection (64 from creation); newer "
             "ones are dropped and counted, except the answers to the connection's own requests, "
             "which wait in the adapter until the host reads. None: no limit.")
        .def("stall_bulk_in", forwardTo(&vs::FaultBench::stallBulkIn), "stalled"_a = true,
             "A stalled bulk IN endpoint fails every transfer.")
        .def("limit_bulk_in", forwardTo(&vs::FaultBench::limitBulkIn), "limit"_a.none(),
             "Bulk IN delivers at most `limit` of the bytes it announced (None: all).")
        .def("turn_away_requests", forwardTo(&vs::FaultBench::turnAwayRequests), "count"_a,
             "The next `count` requests are answered FW_FULL_RECEPTION_QUEUE without being "
             "executed, as when the adapter's request queue has no room.")
        .def("lose_answers", forwardTo(&vs::FaultBench::loseAnswers), "count"_a,
             "The answers to the next `count` requests are lost; the requests run.")
        .def("hold_answers", forwardTo(&vs::FaultBench::holdAnswers), "hold"_a = true,
             "While held, answers wait in the adapter; hold_answers(False) sends the waiting "
             "ones in order (unplugging drops them).");
}

}  // namespace pyvantorsdk::simbind
