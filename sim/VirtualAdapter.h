// SPDX-License-Identifier: MIT
#pragma once
// A virtual adapter with its whole bench: the adapter's class and options
// (sim/VirtualAdapterCore.h, which describes it) and the bench objects'
// classes. Inside sim/, the firmware and the USB side include the core
// header only, so that no include runs back up from them to the bench.

#include "sim/VirtualAdapterCore.h"  // IWYU pragma: export

// The bench objects' classes: one include gives the adapter and its whole
// bench. (Each header needs the complete `VirtualAdapter` of the core header.)
#include "sim/bench/FaultBench.h"   // IWYU pragma: export
#include "sim/bench/GpioBench.h"    // IWYU pragma: export
#include "sim/bench/I2cBench.h"     // IWYU pragma: export
#include "sim/bench/I3cBench.h"     // IWYU pragma: export
#include "sim/bench/PowerBench.h"   // IWYU pragma: export
#include "sim/bench/SpiBench.h"     // IWYU pragma: export
#include "sim/bench/SystemBench.h"  // IWYU pragma: export
#include "sim/bench/TargetBench.h"  // IWYU pragma: export
#include "sim/bench/UartBench.h"    // IWYU pragma: export
