// SPDX-License-Identifier: MIT
#include "bindings/FacadeBatch.h"

#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <string>

#include "bindings/Convert.h"
#include "bindings/Errors.h"
#include "bindings/Interrupt.h"
#include "bindings/ReleasedGil.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

DeviceBatch::DeviceBatch(nb::object facadeObj, vantor::Batch::Options batchOptions)
    : facadeObject(std::move(facadeObj)),
      facade(nb::cast<DeviceFacade&>(facadeObject)),
      options(batchOptions) {}

std::shared_ptr<BatchEntry> DeviceBatch::queue(const char* name, vantor::Batch::Call call,
                                               std::function<nb::object()> value) {
    if (sent) throw nb::value_error("this batch was sent already; start another one");
    auto entry = std::make_shared<BatchEntry>();
    entry->index = entries.size();
    entry->name = name;
    entry->value = std::move(value);
    calls.push_back(std::move(call));
    entries.push_back(entry);
    return entry;
}

void DeviceBatch::send() {
    if (sent) return;
    sent = true;
    std::vector<vantor::Batch::Result> results;
    if (facade.inCallback()) {
        // The answers would be read by this very thread.
        results.assign(calls.size(), vantor::Batch::Result{vantor::Batch::State::NotSent,
                                                           vantor::status::kWrongRequest, 0});
    } else {
        vantor::Batch batch(facade.sdk(), options);
        for (vantor::Batch::Call& call : calls) batch.add(std::move(call));
        results = callWithoutGil([&] { return batch.run(); });
    }
    calls.clear();
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i]->result = results[i];
        entries[i]->ran = true;
    }
    raisePendingInterrupt();
}

namespace {

nb::object entryResult(const BatchEntry& e) {
    if (!e.ran) throw nb::value_error("the batch has not been sent yet");
    using State = vantor::Batch::State;
    if (e.result.state == State::Done) return e.value();
    // The operation names the call and its place: "i2c_read (batch call 2)".
    std::string operation = std::string(e.name) + " (batch call " + std::to_string(e.index);
    if (e.result.state == State::Unknown) operation += ", sent, no answer";
    if (e.result.state == State::NotSent) operation += ", not sent";
    operation += ")";
    // A call that did not succeed always carries a failure status.
    checkStatus(e.result.status != 0 ? e.result.status : vantor::status::kWrongResponse, operation);
    return nb::none();
}

}  // namespace

void registerDeviceBatch(nb::module_& m, nb::class_<DeviceFacade>& facade) {
    using State = vantor::Batch::State;
    nb::enum_<State>(m, "BatchState", "What is known of a batched call once its batch was sent.")
        .value("NOT_SENT", State::NotSent, "Never sent: an earlier failure ended the batch.")
        .value("DONE", State::Done, "Answered with success.")
        .value("FAILED", State::Failed, "Answered with an error, or refused before sending.")
        .value("UNKNOWN", State::Unknown,
               "Sent without an answer (timeout, adapter lost): it may have run.");

    nb::class_<BatchEntry>(m, "BatchCall", "One call of a batch; its result once the batch ran.")
        .def_ro("index", &BatchEntry::index, "The call's place in the batch, from 0.")
        .def_prop_ro(
            "name", [](const BatchEntry& e) { return std::string(e.name); },
            "The device method the call mirrors.")
        .def_prop_ro(
            "state", [](const BatchEntry& e) { return e.result.state; },
            "The call's BatchState (NOT_SENT until the batch was sent).")
        .def_prop_ro(
            "status", [](const BatchEntry& e) { return e.result.status; },
            "The call's status code; for NOT_SENT, the one that ended the batch.")
        .def_prop_ro(
            "resends", [](const BatchEntry& e) { return e.result.resends; },
            "Times the call was sent again because the adapter's request queue was full.")
        .def("result", &entryResult,
             "What the device method returns, or the exception it raises (for a call not sent "
             "or not answered, that of the status that ended the batch).")
        .def("__repr__", [](const BatchEntry& e) {
            std::string state = e.ran ? nb::cast<std::string>(nb::str(nb::cast(e.result.state)))
                                      : std::string("queued");
            return "<BatchCall " + std::to_string(e.index) + " " + e.name + ": " + state + ">";
        });

    nb::class_<DeviceBatch> cls(
        m, "DeviceBatch",
        "Calls of a DeviceFacade queued in a `with device.batch() as b:` block: each method of "
        "the device's commands queues the call and returns its BatchCall. Leaving the block "
        "sends them all, several in flight at once; nothing is sent when the block raises.");
    cls.def(
           "__enter__", [](DeviceBatch& b) -> DeviceBatch& { return b; }, nb::rv_policy::reference)
        .def(
            "__exit__",
            [](DeviceBatch& b, nb::handle type, nb::handle, nb::handle) {
                if (type.is_none()) {
                    b.send();
                } else {
                    b.sent = true;  // abandoned: nothing goes out
                    b.calls.clear();
                }
                return false;
            },
            "exc_type"_a.none(), "exc"_a.none(), "traceback"_a.none())
        .def("__len__", [](const DeviceBatch& b) { return b.entries.size(); })
        .def_prop_ro(
            "results", [](const DeviceBatch& b) { return b.entries; },
            "Every queued call's BatchCall, in order.")
        .def_prop_ro(
            "failures",
            [](const DeviceBatch& b) {
                std::vector<std::shared_ptr<BatchEntry>> failed;
                for (const auto& e : b.entries) {
                    if (e->ran && e->result.state != vantor::Batch::State::Done)
                        failed.push_back(e);
                }
                return failed;
            },
            "The sent batch's calls that did not succeed (failed, unknown or not sent), in order.");
    BatchBuilder g(cls);
    describeEveryFamily(g);

    facade.def(
        "batch",
        [](nb::handle self, bool stopOnError, IntArg<uint16_t> window, IntArg<uint32_t> resends) {
            vantor::Batch::Options options;
            options.stopOnError = stopOnError;
            options.window = window.get("window");
            options.maxResends = resends.get("max_resends");
            if (options.window == 0) throw nb::value_error("invalid window 0");
            return DeviceBatch(nb::borrow(self), options);
        },
        "stop_on_error"_a = false, "window"_a = 16, "max_resends"_a = 64,
        "A batch of this device's calls: `with device.batch() as b:` queues `b.i2c_write(...)` "
        "and the like (the device's own command methods, each returning a BatchCall) and sends "
        "them on leaving the block, up to `window` requests in flight at once. A call the "
        "adapter turns away because its request queue is full is sent again (at most "
        "`max_resends` times); calls already in flight behind it may run before it, so where "
        "the order of writes matters keep `window` within the adapter's queue. A failing call does "
        "not stop the ones after it unless "
        "`stop_on_error` (calls already in flight still complete). `b.results` lists every "
        "call's BatchCall (index, name, state, status, result()); `b.failures` those that did "
        "not succeed. While the batch is sent, calls from other threads wait.");
}

}  // namespace pyvantorsdk
