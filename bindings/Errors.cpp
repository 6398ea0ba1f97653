#include "bindings/Errors.h"

#include <nanobind/stl/string.h>

#include "sdk/core/StatusCode.h"

namespace nb = nanobind;

namespace pyvantorsdk {

using vantor::StatusCode;
using vantor::statusCodeName;
using vantor::toU16;

const char* errorClassNameFor(uint16_t code) {
    switch (code) {
        case toU16(StatusCode::SDK_ERROR_TIMEOUT):
            return "VantorTimeoutError";
        case toU16(StatusCode::SDK_ERROR_DISCONNECT):
            return "DisconnectError";
        case toU16(StatusCode::SDK_ERROR_UNEXPECTED_RESPONSE):
        case toU16(StatusCode::SDK_ERROR_WRONG_REQUEST):
        case toU16(StatusCode::SDK_ERROR_WRONG_RESPONSE):
            return "ProtocolError";
        case toU16(StatusCode::SDK_ERROR_BULK_UNAVAILABLE):
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
    nb::object instance = e.operation().empty()
                              ? cls(nb::arg("status_code") = status)
                              : cls(nb::arg("status_code") = status,
                                    nb::arg("operation") = nb::str(e.operation().c_str()));
    PyErr_SetObject(cls.ptr(), instance.ptr());
}

}  // namespace

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
