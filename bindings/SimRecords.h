// SPDX-License-Identifier: MIT
#pragma once
// The record-class builder: a record of the virtual adapter is the C++
// struct itself, bound read-only with a keyword constructor, equality and a
// repr built from one field list each.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bindings/SimSupport.h"

namespace pyvantorsdk::simbind {

template <class T>
class Record {
  public:
    Record(nb::module_& scope, const char* name, const char* doc)
        : cls_(scope, name, doc), fields_(std::make_shared<std::vector<Field>>()), name_(name) {}

    template <class M>
    Record& field(const char* name, M T::*member) {
        cls_.def_ro(name, member);
        fields_->push_back(
            Field{name, [member](const T& t) { return nb::cast(t.*member); },
                  [member](T& t, nb::handle value) { t.*member = nb::cast<M>(value); }});
        return *this;
    }
    // A string member shown to Python as bytes (it need not be UTF-8).
    Record& bytesField(const char* name, std::string T::*member) {
        cls_.def_prop_ro(name, [member](const T& t) {
            return nb::bytes((t.*member).data(), (t.*member).size());
        });
        fields_->push_back(Field{
            name,
            [member](const T& t) {
                return nb::object(nb::bytes((t.*member).data(), (t.*member).size()));
            },
            [member](T& t, nb::handle value) { t.*member = nb::cast<TextOrBytes>(value).value; }});
        return *this;
    }

    // Adds the constructor (keywords only, missing fields at their
    // defaults), equality and the repr.
    void finish() {
        auto fields = fields_;
        std::string name = name_;
        cls_.def("__init__",
                 [fields, name](T* self, nb::kwargs kwargs) {
                     new (self) T{};
                     size_t used = 0;
                     for (const Field& f : *fields) {
                         if (!kwargs.contains(f.name)) continue;
                         f.set(*self, nb::handle(PyDict_GetItemString(kwargs.ptr(), f.name)));
                         ++used;
                     }
                     if (used != nb::len(kwargs)) {
                         throw nb::type_error((name + " got an unknown field").c_str());
                     }
                 })
            .def("__eq__",
                 [fields](const T& a, nb::handle other) {
                     if (!nb::isinstance<T>(other)) return false;
                     const T& b = nb::cast<const T&>(other);
                     for (const Field& f : *fields) {
                         if (!f.get(a).equal(f.get(b))) return false;
                     }
                     return true;
                 })
            .def("__repr__", [fields, name](const T& t) {
                std::string out = name + "(";
                bool first = true;
                for (const Field& f : *fields) {
                    if (!first) out += ", ";
                    first = false;
                    out += f.name;
                    out += "=";
                    out += nb::cast<std::string>(nb::repr(f.get(t)));
                }
                return out + ")";
            });
        cls_.attr("__hash__") = nb::none();
    }

  private:
    struct Field {
        const char* name;
        std::function<nb::object(const T&)> get;
        std::function<void(T&, nb::handle)> set;
    };

    nb::class_<T> cls_;
    std::shared_ptr<std::vector<Field>> fields_;
    std::string name_;
};

}  // namespace pyvantorsdk::simbind
