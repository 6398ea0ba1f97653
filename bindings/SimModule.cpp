// SPDX-License-Identifier: MIT
#include "bindings/SimModule.h"

#include "bindings/SimSupport.h"

namespace nb = nanobind;

namespace pyvantorsdk {

// The order of registration is the order of the generated stub: the
// adapter's records and class, the benches, the I3C and target records each
// before their benches, and last the records the benches report what they
// were given with.
void registerSimModule(nb::module_& m) {
    using namespace simbind;
    nb::module_ sim = m.def_submodule("_sim", "The virtual adapter (see pyvantorsdk.sim).");
    bindRecords(sim);
    bindAdapter(sim);
    bindTiming(sim);
    bindHost(sim);
    bindFaultBench(sim);
    bindSystemBench(sim);
    bindI2cBench(sim);
    bindSpiBench(sim);
    bindUartBench(sim);
    bindGpioBench(sim);
    bindI3cRecords(sim);
    bindI3cBench(sim);
    bindTargetRecords(sim);
    bindTargetBenches(sim);
    bindReportRecords(sim);
}

}  // namespace pyvantorsdk
