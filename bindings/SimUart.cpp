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
        .def_prop_rw("loopback", forwardTo(&vs::UartBench::loopback),
                     forwardTo(&vs::UartBench::setLoopback),
                     "TX wired to RX: every byte sent comes back as a UART notification.")
        .def("inject", forwardTo(&vs::UartBench::inject), "data"_a,
             "Bytes arriving on RX, reported to the host as UART notifications; False (bytes "
             "lost) when the UART is not initialised or unplugged.")
        .def_prop_ro("sent", forwardTo(&vs::UartBench::sent),
                     "Everything sent on TX since the last clear_sent().")
        .def("clear_sent", forwardTo(&vs::UartBench::clearSent), "Forget what was sent on TX.")
        .def_prop_ro("state", forwardTo(&vs::UartBench::state), "What the host set the UART to.");
}

}  // namespace pyvantorsdk::simbind
