// SPDX-License-Identifier: MIT
#pragma once
// Carrying a non-success status from the SDK to a Python exception.

#include <nanobind/nanobind.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pyvantorsdk {

class VantorStatusError : public std::runtime_error {
  public:
    VantorStatusError(uint16_t code, std::string operation)
        : std::runtime_error("pyvantorsdk status error"),
          code_(code),
          operation_(std::move(operation)) {}
    uint16_t code() const { return code_; }
    const std::string& operation() const { return operation_; }
    // The bytes a failed read received, handed to Python as the exception's
    // `data` when its class takes them (I3cError); absent for other calls.
    const std::optional<std::vector<uint8_t>>& data() const { return data_; }
    void attachData(std::vector<uint8_t> data) { data_ = std::move(data); }

  private:
    uint16_t code_;
    std::string operation_;
    std::optional<std::vector<uint8_t>> data_;
};

// Raises the pyvantorsdk.errors exception for `error`; never returns.
//
// With the interpreter lock held, the Python exception is built here and
// thrown as nanobind::python_error, rather than left to the exception
// translator. Building it runs Python code, which may give the lock up; a
// daemon thread that asks for it back once the interpreter finalises is ended
// with a forced unwind. The translator runs inside the binding library's
// handler for the C++ exception, and a forced unwind caught while another
// exception is being handled terminates the process; here no exception is
// being handled yet, so the thread can be parked (ReleasedGil.h) instead.
// Without the lock, VantorStatusError is thrown for the translator.
[[noreturn]] void raiseStatus(const VantorStatusError& error);

// Returns for SUCCESS (0); raises (raiseStatus) for any other status.
// The const char* form builds no string unless it raises.
inline void checkStatus(uint16_t code, const char* operation) {
    if (code != 0) raiseStatus(VantorStatusError(code, operation));
}
inline void checkStatus(uint16_t code, const std::string& operation) {
    if (code != 0) raiseStatus(VantorStatusError(code, operation));
}

// Name of the pyvantorsdk.errors class for a non-zero status.
const char* errorClassNameFor(uint16_t code);

// Registers the translator and `_test_throw_status`.
void registerErrors(nanobind::module_& m);

}  // namespace pyvantorsdk
