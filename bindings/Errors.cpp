// SPDX-License-Identifier: MIT
#include "bindings/Errors.h"

#include <nanobind/stl/string.h>

#include "bindings/ReleasedGil.h"
#include "sdk/core/StatusCode.h"

namespace nb = nanobind;

namespace pyvantorsdk {

using vantor::statusCodeName;
namespace status = vantor::status;

const char* errorClassNameFor(uint16_t code) {
    switch (code) {
        case status::kTimeout:
            return "VantorTimeoutError";
        case status::kDisconnect:
            return "DisconnectError";
        case status::kUnexpectedResponse:
        case status::kWrongRequest:
        case status::kWrongResponse:
            return "ProtocolError";
        case status::kBulkUnavailable:
            return "CapabilityError";
        default:
            break;
    }
    // Whole 256-value pages, so that a firmware code newer than this library
    // still lands in its family's class.
    switch (code >> 8) {
        case 0x02:
            return "I2cError";
        case 0x03:
            return "SpiError";
        case 0x04:
            return "UartError";
        case 0x05:
            return "GpioError";
        case 0x06:
            return "I3cError";
        case 0x01:
            return "SystemFirmwareError";
        default:
            return "FirmwareError";
    }
}

namespace {

// Sets the Python exception for a failed status. The references are plain
// and released by hand, and nothing here has a destructor that touches one:
// the exception's constructor is Python code, which may give up the
// interpreter lock, and a thread that asks for it back while the interpreter
// finalises is ended by a forced unwind that passes through this frame
// without the lock. Destructors run by that unwind must not change reference
// counts (another thread is tearing the objects down); the references are
// left to the interpreter's end instead. On any Python failure the error it
// set stays set and is what the caller raises.
void translate(const VantorStatusError& e) {
    PyObject* errors = PyImport_ImportModule("pyvantorsdk.errors");
    PyObject* native =
        errors ? PyImport_ImportModule("pyvantorsdk._cpp._pyvantorsdk_cpp") : nullptr;
    PyObject* cls = native ? PyObject_GetAttrString(errors, errorClassNameFor(e.code())) : nullptr;
    PyObject* i3cError = cls ? PyObject_GetAttrString(errors, "I3cError") : nullptr;
    // A code the StatusCode enumeration does not list (a newer firmware's) is
    // passed on as the raw integer rather than failing the lookup and losing
    // the device's status.
    PyObject* status = nullptr;
    if (i3cError) {
        PyObject* code = PyLong_FromLong(e.code());
        PyObject* statusType = code && statusCodeName(e.code())
                                   ? PyObject_GetAttrString(native, "StatusCode")
                                   : nullptr;
        status = statusType ? PyObject_CallOneArg(statusType, code) : code;
        if (statusType) Py_DECREF(code);
        Py_XDECREF(statusType);
    }
    PyObject* kwargs = status ? PyDict_New() : nullptr;
    bool ok = kwargs && PyDict_SetItemString(kwargs, "status_code", status) == 0;
    if (ok) {
        PyObject* operation =
            e.operation().empty()
                ? (Py_INCREF(Py_None), Py_None)
                : PyUnicode_FromStringAndSize(e.operation().data(),
                                              static_cast<Py_ssize_t>(e.operation().size()));
        ok = operation && PyDict_SetItemString(kwargs, "operation", operation) == 0;
        Py_XDECREF(operation);
    }
    // Only I3cError takes the bytes of a failed read; a read that failed
    // otherwise (a timeout, a lost connection) has none left to give.
    if (ok && e.data().has_value() && cls == i3cError) {
        PyObject* data = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(e.data()->data()),
                                                   static_cast<Py_ssize_t>(e.data()->size()));
        ok = data && PyDict_SetItemString(kwargs, "data", data) == 0;
        Py_XDECREF(data);
    }
    PyObject* args = ok ? PyTuple_New(0) : nullptr;
    PyObject* instance = args ? PyObject_Call(cls, args, kwargs) : nullptr;
    if (instance) PyErr_SetObject(cls, instance);
    Py_XDECREF(instance);
    Py_XDECREF(args);
    Py_XDECREF(kwargs);
    Py_XDECREF(status);
    Py_XDECREF(i3cError);
    Py_XDECREF(cls);
    Py_XDECREF(native);
    Py_XDECREF(errors);
}

// translate() for a thread that the interpreter may end meanwhile. Nothing
// translate() calls throws a C++ exception (it calls only the C API, and the
// binding library turns C++ exceptions into Python ones before they reach
// Python code), so the one unwind that can pass through is the forced one
// that ends the thread. It is caught without naming its type: that unwind
// carries no exception object, and a handler for abi::__forced_unwind& binds
// a null reference.
void translateOrPark(const VantorStatusError& error) {
    try {
        translate(error);
    } catch (...) {
        // The interpreter ended this thread while the exception was built:
        // the unwind must not reach the binding library's handlers.
        parkThisThread();
    }
}

}  // namespace

void raiseStatus(const VantorStatusError& error) {
    if (!Py_IsInitialized() || !PyGILState_Check()) throw error;
    translateOrPark(error);
    // The status's exception, or the error that building it raised.
    throw nb::python_error();
}

void registerErrors(nb::module_& m) {
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const VantorStatusError& e) {
            translate(e);
        }
    });

    m.def(
        "_test_throw_status",
        [](uint16_t code, const std::string& operation) { checkStatus(code, operation); },
        nb::arg("code"), nb::arg("operation"),
        "Raise the exception a real SDK failure with this status would raise.");
}

}  // namespace pyvantorsdk
