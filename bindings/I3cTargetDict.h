// SPDX-License-Identifier: MIT
#pragma once
// The Python form of I3cTargetInfo: a dictionary with the keys
// "static_address", "dynamic_address", "pid", "bcr", "dcr", "mwl", "mrl",
// "max_ibi_payload_length" and "configuration".

#include <nanobind/nanobind.h>

#include <vector>

#include "sdk/i3c/I3cTypes.h"

namespace pyvantorsdk {

// One record per element, in order, each starting zeroed. A missing key
// raises the KeyError of the lookup; a value of the wrong type raises
// TypeError, an integer out of the field's range ValueError. "pid" must be
// exactly six bytes, and no two targets of the list may share one (the
// adapter's table holds one entry per PID): ValueError. Every message names
// the target's index and the key. Other keys are ignored.
std::vector<vantor::I3cTargetInfo> toTargetInfos(nanobind::handle targets);

// One dictionary per record, keys in the order above, "pid" six bytes.
nanobind::list fromTargetInfos(const std::vector<vantor::I3cTargetInfo>& targets);

}  // namespace pyvantorsdk
