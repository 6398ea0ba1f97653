// SPDX-License-Identifier: MIT
#pragma once
// Cyclic garbage-collector support for a bound class whose instances own
// Python objects from native code (stored callbacks, handlers): a callable
// that refers back to its owner forms a cycle the collector can only break
// when the owner reports what it holds and lets go of it on request.
//
// `Traverse(t, visit, arg)` visits the Python objects `t` owns (0, or the
// first non-zero result of `visit`); `Clear(t)` drops them. Both run with
// the interpreter lock held. The type object is visited too, as heap types
// require, and an instance whose constructor has not run reports nothing.

#include <nanobind/nanobind.h>

namespace pyvantorsdk {

template <class T, int (*Traverse)(T&, visitproc, void*), void (*Clear)(T&)>
struct GcSupport {
    static int traverse(PyObject* self, visitproc visit, void* arg) {
        Py_VISIT(Py_TYPE(self));
        if (!nanobind::inst_ready(self)) return 0;
        return Traverse(*nanobind::inst_ptr<T>(self), visit, arg);
    }

    static int clear(PyObject* self) {
        if (nanobind::inst_ready(self)) Clear(*nanobind::inst_ptr<T>(self));
        return 0;
    }

    // For `nb::type_slots(...)`.
    static inline PyType_Slot slots[] = {{Py_tp_traverse, reinterpret_cast<void*>(&traverse)},
                                         {Py_tp_clear, reinterpret_cast<void*>(&clear)},
                                         {0, nullptr}};
};

}  // namespace pyvantorsdk
