// SPDX-License-Identifier: MIT
#include "sdk/core/StatusCode.h"

namespace vantor {

const char* statusCodeName(uint16_t code) {
    switch (code) {
#define VANTOR_STATUS_NAME(name, value) \
    case value:                         \
        return #name;
        VANTOR_STATUS_CODES(VANTOR_STATUS_NAME)
#undef VANTOR_STATUS_NAME
        default:
            return nullptr;
    }
}

}  // namespace vantor
