// SPDX-License-Identifier: MIT
#pragma once
// Argument types of the facades and their conversions from Python.
//
// `ByteArg`: any contiguous byte buffer (bytes, bytearray, memoryview, ...)
// copied once into the byte vector the SDK takes. `str` is refused: text has
// no byte form without an encoding.
//
// `EnumArg<E>`: an argument the SDK takes as one byte of the enumeration E.
// It accepts a plain integer 0..255 (passed through without checking that it
// names a member) or a member of E itself, so that `I2cBus.A` works as well
// as 0 even though the plain enumerations are not integers. (The binding
// library's `noconvert` cannot say "an integer or a member"; it serves the
// arguments typed by the enumeration alone, which take members only.)
//
// `IntArg<T>`: an integer argument the SDK takes as T (an integer type or an
// `EnumArg`). Every Python integer converts, so that one out of T's range is
// not reported as a failed overload match; `get(name)` then returns the
// value, or raises ValueError "invalid <name> <value>" for one that does not
// fit. Anything T's own conversion takes (an enumeration member) converts as
// before, and a value that is no integer (float, str, ...) still fails the
// conversion with TypeError.

#include <nanobind/nanobind.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pyvantorsdk {

struct ByteArg {
    std::vector<uint8_t> value;
    operator const std::vector<uint8_t>&() const { return value; }
};

// An integer as text for an error message: its digits, or its size when
// the interpreter refuses to spell out an integer that long.
inline std::string integerText(nanobind::handle number) {
    nanobind::object spelled = nanobind::steal(PyObject_Str(number.ptr()));
    if (spelled.is_valid()) return nanobind::borrow<nanobind::str>(spelled).c_str();
    PyErr_Clear();
    const auto bits = nanobind::cast<size_t>(number.attr("bit_length")());
    return "(an integer of " + std::to_string(bits) + " bits)";
}

// The ValueError for an integer argument outside the range of its type.
[[noreturn]] inline void throwOutOfRange(const char* name, nanobind::handle number) {
    throw nanobind::value_error(
        ("invalid " + std::string(name) + " " + integerText(number)).c_str());
}

template <class T>
struct IntArg {
    T value{};
    // The Python integer when it does not fit T; empty when `value` holds it.
    nanobind::object refused;

    T get(const char* name) const {
        if (refused.is_valid()) throwOutOfRange(name, refused);
        return value;
    }
};

template <class E>
struct EnumArg {
    E value{};
    operator E() const { return value; }
    uint8_t byte() const { return static_cast<uint8_t>(value); }
};

}  // namespace pyvantorsdk

namespace nanobind::detail {

template <>
struct type_caster<pyvantorsdk::ByteArg> {
    NB_TYPE_CASTER(pyvantorsdk::ByteArg, const_name("bytes"))

    bool from_python(handle src, uint32_t, cleanup_list*) noexcept {
        PyObject* o = src.ptr();
        if (PyBytes_Check(o)) {
            const auto* p = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(o));
            value.value.assign(p, p + PyBytes_GET_SIZE(o));
            return true;
        }
        if (PyUnicode_Check(o) || !PyObject_CheckBuffer(o)) return false;
        Py_buffer view;
        if (PyObject_GetBuffer(o, &view, PyBUF_SIMPLE) != 0) {
            PyErr_Clear();
            return false;
        }
        const auto* p = static_cast<const uint8_t*>(view.buf);
        value.value.assign(p, p + view.len);
        PyBuffer_Release(&view);
        return true;
    }

    static handle from_cpp(const pyvantorsdk::ByteArg& v, rv_policy, cleanup_list*) noexcept {
        return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(v.value.data()),
                                         static_cast<Py_ssize_t>(v.value.size()));
    }
};

// A Python integer (an int, or with conversion anything with __index__) as
// an owned int object; an invalid handle for anything else.
inline object integerObject(handle src, uint32_t flags) noexcept {
    PyObject* o = src.ptr();
    if (!PyLong_CheckExact(o) && !(flags & static_cast<uint32_t>(cast_flags::convert))) {
        return object();
    }
    if (!PyIndex_Check(o)) return object();
    object number = steal(PyNumber_Index(o));
    if (!number.is_valid()) PyErr_Clear();
    return number;
}

template <class T>
struct type_caster<pyvantorsdk::IntArg<T>> {
    NB_TYPE_CASTER(pyvantorsdk::IntArg<T>, make_caster<T>::Name)

    bool from_python(handle src, uint32_t flags, cleanup_list* cleanup) noexcept {
        make_caster<T> fits;
        if (fits.from_python(src, flags, cleanup)) {
            value.value = fits.value;
            value.refused.reset();
            return true;
        }
        value.refused = integerObject(src, flags);
        return value.refused.is_valid();
    }

    static handle from_cpp(const pyvantorsdk::IntArg<T>& v, rv_policy policy,
                           cleanup_list* cleanup) noexcept {
        return make_caster<T>::from_cpp(v.value, policy, cleanup);
    }
};

template <class E>
struct type_caster<pyvantorsdk::EnumArg<E>> {
    NB_TYPE_CASTER(pyvantorsdk::EnumArg<E>, const_name("int | ") + make_caster<E>::Name)

    bool from_python(handle src, uint32_t flags, cleanup_list* cleanup) noexcept {
        make_caster<uint8_t> integer;
        if (integer.from_python(src, flags, cleanup)) {
            value.value = static_cast<E>(integer.value);
            return true;
        }
        // A member of E; without the convert flag the enumeration caster
        // accepts nothing else.
        make_caster<E> member;
        if (member.from_python(src, 0, cleanup)) {
            value.value = member.value;
            return true;
        }
        return false;
    }

    static handle from_cpp(const pyvantorsdk::EnumArg<E>& v, rv_policy policy,
                           cleanup_list* cleanup) noexcept {
        return make_caster<E>::from_cpp(v.value, policy, cleanup);
    }
};

}  // namespace nanobind::detail

namespace pyvantorsdk {

// A string the caller gives as text (stored as UTF-8) or as raw bytes (stored
// unchanged, so that tests can produce bytes that are not valid UTF-8).
struct TextOrBytes {
    std::string value;
};

}  // namespace pyvantorsdk

namespace nanobind::detail {

template <>
struct type_caster<pyvantorsdk::TextOrBytes> {
    NB_TYPE_CASTER(pyvantorsdk::TextOrBytes, const_name("str | bytes"))

    bool from_python(handle src, uint32_t, cleanup_list*) noexcept {
        PyObject* o = src.ptr();
        if (PyBytes_Check(o)) {
            value.value.assign(PyBytes_AS_STRING(o), static_cast<size_t>(PyBytes_GET_SIZE(o)));
            return true;
        }
        if (!PyUnicode_Check(o)) return false;
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(o, &size);
        if (text == nullptr) {
            PyErr_Clear();
            return false;
        }
        value.value.assign(text, static_cast<size_t>(size));
        return true;
    }

    static handle from_cpp(const pyvantorsdk::TextOrBytes& v, rv_policy, cleanup_list*) noexcept {
        return PyBytes_FromStringAndSize(v.value.data(), static_cast<Py_ssize_t>(v.value.size()));
    }
};

}  // namespace nanobind::detail
