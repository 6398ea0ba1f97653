// SPDX-License-Identifier: MIT
#include "bindings/Errors.h"

#include <cxxabi.h>
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

void translate(const VantorStatusError& e) {
    nb::module_ errors = nb::module_::import_("pyvantorsdk.errors");
    nb::module_ native = nb::module_::import_("pyvantorsdk._cpp._pyvantorsdk_cpp");
    nb::object cls = errors.attr(errorClassNameFor(e.code()));
    // A code the StatusCode enumeration does not list (a newer firmware's) is
    // passed on as the raw integer rather than failing the lookup and losing
    // the device's status.
    nb::object status = statusCodeName(e.code()) != nullptr
                            ? native.attr("StatusCode")(nb::int_(e.code()))
                            : nb::object(nb::int_(e.code()));
    nb::object operation =
        e.operation().empty() ? nb::none() : nb::object(nb::str(e.operation().c_str()));
    // Only I3cError takes the bytes of a failed read; a read that failed
    // otherwise (a timeout, a lost connection) has none left to give.
    const bool withData = e.data().has_value() && cls.is(errors.attr("I3cError"));
    nb::object instance =
        withData ? cls(nb::arg("status_code") = status, nb::arg("operation") = operation,
                       nb::arg("data") = nb::bytes(e.data()->data(), e.data()->size()))
                 : cls(nb::arg("status_code") = status, nb::arg("operation") = operation);
    PyErr_SetObject(cls.ptr(), instance.ptr());
}

}  // namespace

void raiseStatus(const VantorStatusError& error) {
    if (!Py_IsInitialized() || !PyGILState_Check()) throw error;
    try {
        translate(error);
    } catch (abi::__forced_unwind&) {
        // The interpreter ended this thread while the exception was built:
        // the unwind must not reach the binding library's handlers.
        parkThisThread();
    } catch (nb::python_error& err) {
        // The import or lookup failed: raise that error instead.
        err.restore();
    }
    throw nb::python_error();
}

void registerErrors(nb::module_& m) {
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const VantorStatusError& e) {
            try {
                translate(e);
            } catch (nb::python_error& err) {
                // The import or lookup failed: raise that error instead.
                err.restore();
            }
        }
    });

    m.def(
        "_test_throw_status",
        [](uint16_t code, const std::string& operation) { checkStatus(code, operation); },
        nb::arg("code"), nb::arg("operation"),
        "Raise the exception a real SDK failure with this status would raise.");
}

}  // namespace pyvantorsdk
