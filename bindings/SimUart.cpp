// SPDX-License-Identifier: MIT
// The bench of the UART's far end.
#include "bindings/SimSupport.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

void bindUartBench(nb::module_& sim) {
    namespace vs = vantor::sim;
    using Uart = BenchRef<vs::UartBench>;

    nb::class_<Uart>(sim, "UartBench", "The far end of the UART.")
        .def("__repr__",
             [](Uart& r) {
                 const auto s = onBench(
                     r, [](vs::UartBench& b) { return std::make_pair(b.loopback(), b.state()); });
                 return benchRepr(r, "UartBench",
                                  std::string("loopback=") + (s.first ? "True " : "False ") +
                                      reprOf(nb::cast(s.second)));
             })
        .def_prop_rw(
            "loopback",
            [](Uart& r) { return onBench(r, [](vs::UartBench& b) { return b.loopback(); }); },
            [](Uart& r, bool on) { onBench(r, [&](vs::UartBench& b) { b.setLoopback(on); }); },
            "TX wired to RX: every byte sent comes back as a UART notification.")
        .def(
            "inject",
            [](Uart& r, const ByteArg& data) {
                return onBench(r, [&](vs::UartBench& b) { return b.inject(data); });
            },
            "data"_a,
            "Bytes arriving on RX, reported to the host as UART notifications; False (bytes "
            "lost) when the UART is not initialised or unplugged.")
        .def_prop_ro(
            "sent",
            [](Uart& r) { return toBytes(onBench(r, [](vs::UartBench& b) { return b.sent(); })); },
            "Everything sent on TX since the last clear_sent().")
        .def(
            "clear_sent", [](Uart& r) { onBench(r, [](vs::UartBench& b) { b.clearSent(); }); },
            "Forget what was sent on TX.")
        .def_prop_ro(
            "state", [](Uart& r) { return onBench(r, [](vs::UartBench& b) { return b.state(); }); },
            "What the host set the UART to.");
}

}  // namespace pyvantorsdk::simbind
