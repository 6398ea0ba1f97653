// SPDX-License-Identifier: MIT
#pragma once
// Reports errors raised inside callbacks, and notifications lost, to the
// Python logger "pyvantorsdk.backend". Call with the interpreter lock held;
// never throws.

#include <Python.h>

namespace pyvantorsdk {
// `exception`, when given, is made the exception being handled for the
// duration of the call, so that the log record carries its traceback.
void logException(const char* message, PyObject* exception = nullptr) noexcept;
// Logs a Python exception object with its str() as the message.
void logPythonException(PyObject* exception) noexcept;
// Logs `message` at error level, without an exception.
void logError(const char* message) noexcept;
}  // namespace pyvantorsdk
