// SPDX-License-Identifier: MIT
#include "bindings/Logging.h"

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace pyvantorsdk {

void logException(const char* message, PyObject* exception) noexcept {
    // The error being reported may still be set; keep it out of the way of
    // the logging calls and drop it afterwards.
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    try {
        nb::module_ logging = nb::module_::import_("logging");
        nb::object logger = logging.attr("getLogger")("pyvantorsdk.backend");
#if PY_VERSION_HEX >= 0x030B0000
        if (exception) PyErr_SetHandledException(exception);
#else
        (void)exception;
#endif
        logger.attr("exception")(nb::str(message));
    } catch (...) {
        PyErr_Clear();
    }
#if PY_VERSION_HEX >= 0x030B0000
    if (exception) PyErr_SetHandledException(nullptr);
#endif
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
}

void logError(const char* message) noexcept {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    try {
        nb::module_ logging = nb::module_::import_("logging");
        logging.attr("getLogger")("pyvantorsdk.backend").attr("error")(nb::str(message));
    } catch (...) {
        PyErr_Clear();
    }
    PyErr_Restore(type, value, traceback);
}

void logPythonException(PyObject* exception) noexcept {
    // Computing the text may itself fail (a broken __str__).
    PyObject* text = exception ? PyObject_Str(exception) : nullptr;
    const char* message = text ? PyUnicode_AsUTF8(text) : nullptr;
    if (!message) PyErr_Clear();
    logException(message ? message : "exception in callback", exception);
    Py_XDECREF(text);
}

}  // namespace pyvantorsdk
