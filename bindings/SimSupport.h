// SPDX-License-Identifier: MIT
#pragma once
// What the virtual adapter's bindings share: the Python object that owns an
// adapter (with its handler and garbage-collector support), the references
// through which Python reaches the adapter's benches, argument conversions,
// and the helpers that bind a bench method. Each bench family binds its
// classes in a file of its own (bindings/Sim*.cpp); SimModule.cpp registers
// them in a fixed order, which is the order of the generated stub.

#include <nanobind/nanobind.h>
#include <nanobind/stl/array.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <chrono>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings/Convert.h"
#include "bindings/DeviceInfo.h"
#include "bindings/ReleasedGil.h"
#include "sdk/core/SystemTypes.h"
#include "sim/VirtualAdapter.h"

namespace pyvantorsdk::simbind {

namespace nb = nanobind;

using vantor::sim::Bytes;
using Adapter = vantor::sim::VirtualAdapter;

class PyRef;  // a Python object released safely from any thread

// The Python object: the adapter until close().
class SimAdapter {
  public:
    // The timing options as the Python arguments give them (see usbSpeed);
    // the adapter refuses a scale or a depth it cannot run (ValueError).
    SimAdapter(vantor::DeviceModel model, const std::string& serial, bool bulk,
               uint16_t bulkPacketSize, bool plugged, const std::optional<std::string>& timing,
               double timeScale, unsigned receptionQueueDepth);
    ~SimAdapter() { close(); }

    Adapter& get() {
        if (!adapter_) throw std::runtime_error("the virtual adapter is closed");
        return *adapter_;
    }

    // Unplugs the adapter and removes it from the registry.
    void close();
    bool closed() const { return !adapter_; }

    // Installs (or, with None, removes) the Python handler.
    void setHandler(nb::object fn);

    // Cyclic garbage collection: a handler that refers to its own adapter
    // (it usually does, to inject messages) forms a cycle through the
    // adapter's firmware. The handler object is reported while the adapter's
    // firmware holds the only reference to it (a dispatch in progress holds
    // another and keeps it from being collected until it returns).
    int traverse(visitproc visit, void* arg) const;
    void clearHandler();

  private:
    std::unique_ptr<Adapter> adapter_;
    // The handler's Python object, owned through the adapter's firmware.
    std::weak_ptr<PyRef> handler_;
};

// Runs `fn(adapter)` with the interpreter lock released.
template <class Fn>
decltype(auto) unlocked(SimAdapter& a, Fn&& fn) {
    Adapter& adapter = a.get();
    ReleasedGil release;
    return std::forward<Fn>(fn)(adapter);
}

// An int, or an enumeration member (whose `value` is taken): buses, chip
// selects, pins and levels.
struct Number {
    long value = 0;
};

}  // namespace pyvantorsdk::simbind

namespace nanobind::detail {
template <>
struct type_caster<pyvantorsdk::simbind::Number> {
    NB_TYPE_CASTER(pyvantorsdk::simbind::Number, const_name("int | enum.Enum"))

    bool from_python(handle src, uint32_t, cleanup_list*) noexcept {
        PyObject* o = src.ptr();
        object owned;
        if (!PyLong_Check(o) && PyObject_HasAttrString(o, "value")) {
            owned = steal(PyObject_GetAttrString(o, "value"));
            if (!owned.is_valid()) {
                PyErr_Clear();
                return false;
            }
            o = owned.ptr();
        }
        if (!PyLong_Check(o)) return false;
        value.value = PyLong_AsLong(o);
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        return true;
    }
    static handle from_cpp(const pyvantorsdk::simbind::Number& n, rv_policy,
                           cleanup_list*) noexcept {
        return PyLong_FromLong(n.value);
    }
};
}  // namespace nanobind::detail

namespace pyvantorsdk::simbind {

// A value of `Number` that must fit `T`; anything else is a ValueError.
template <class T>
T narrow(const Number& n, const char* what) {
    if (n.value < 0 || static_cast<unsigned long>(n.value) > std::numeric_limits<T>::max()) {
        throw nb::value_error(
            (std::string("invalid ") + what + " " + std::to_string(n.value)).c_str());
    }
    return static_cast<T>(n.value);
}

// ------------------------------------------------------------ benches

// The Python face of one bench object: the adapter it belongs to, which
// the Python object keeps alive. Every call goes through the adapter, so a
// bench of a closed adapter raises instead of touching freed memory.
template <class B>
struct BenchRef {
    SimAdapter* owner;
};

template <class B>
B& benchOf(Adapter& adapter);
template <>
inline vantor::sim::FaultBench& benchOf(Adapter& a) {
    return a.faults();
}
template <>
inline vantor::sim::SystemBench& benchOf(Adapter& a) {
    return a.system();
}
template <>
inline vantor::sim::PowerBench& benchOf(Adapter& a) {
    return a.power();
}
template <>
inline vantor::sim::I2cBench& benchOf(Adapter& a) {
    return a.i2c();
}
template <>
inline vantor::sim::SpiBench& benchOf(Adapter& a) {
    return a.spi();
}
template <>
inline vantor::sim::UartBench& benchOf(Adapter& a) {
    return a.uart();
}
template <>
inline vantor::sim::GpioBench& benchOf(Adapter& a) {
    return a.gpio();
}
template <>
inline vantor::sim::I3cBench& benchOf(Adapter& a) {
    return a.i3c();
}

// Runs `fn(bench)` with the interpreter lock released.
template <class B, class Fn>
decltype(auto) onBench(BenchRef<B>& ref, Fn&& fn) {
    B& bench = benchOf<B>(ref.owner->get());
    ReleasedGil release;
    return std::forward<Fn>(fn)(bench);
}

// The adapter as I2C, SPI and I3C target, and the external controllers.
template <>
inline vantor::sim::I2cTargetBench& benchOf(Adapter& a) {
    return a.i2cTarget();
}
template <>
inline vantor::sim::SpiTargetBench& benchOf(Adapter& a) {
    return a.spiTarget();
}
template <>
inline vantor::sim::I3cTargetBench& benchOf(Adapter& a) {
    return a.i3cTarget();
}
template <>
inline vantor::sim::I2cTargetController& benchOf(Adapter& a) {
    return a.i2cTarget().controller();
}
template <>
inline vantor::sim::SpiTargetController& benchOf(Adapter& a) {
    return a.spiTarget().controller();
}
template <>
inline vantor::sim::I3cTargetController& benchOf(Adapter& a) {
    return a.i3cTarget().controller();
}

// The bench's repr: its kind, the adapter's path and what `state` shows.
template <class B>
std::string benchRepr(BenchRef<B>& ref, const char* kind, const std::string& state) {
    Adapter& adapter = ref.owner->get();
    return std::string("<") + kind + " of " + adapter.path() + (state.empty() ? "" : " ") + state +
           ">";
}

inline std::string reprOf(nb::handle value) {
    return nb::cast<std::string>(nb::repr(value));
}

nb::list bytesList(const std::vector<Bytes>& items);

// A duration in milliseconds from Python: negative counts as zero, infinity
// and anything beyond the range of the adapter's clock mean "no limit"
// (milliseconds::max(), which the adapter treats so), NaN is refused.
std::chrono::milliseconds millis(double ms);

// ------------------------------------------------------ forwarding methods
// A Python method that only forwards to a C++ method of the adapter or of a
// bench takes the C++ method's own arguments and returns its result; the
// call runs with the interpreter lock released. `forwardTo(&Bench::method)`
// gives that Python method, so a binding row names the method once. Bytes
// travel as Python bytes both ways: a `const Bytes&` parameter takes any
// bytes-like object, a `Bytes` result is returned as bytes.

template <class F>
decltype(auto) released(SimAdapter& self, F&& fn) {
    return unlocked(self, std::forward<F>(fn));
}
template <class B, class F>
decltype(auto) released(BenchRef<B>& self, F&& fn) {
    return onBench(self, std::forward<F>(fn));
}

// The Python object a method of `T` is reached through.
template <class T>
struct SelfOf {
    using type = BenchRef<T>;
};
template <>
struct SelfOf<Adapter> {
    using type = SimAdapter;
};

// The Python-side type of a parameter of type `A`.
template <class A>
struct PyArg {
    using type = A;
};
template <>
struct PyArg<const Bytes&> {
    using type = const ByteArg&;
};

template <class T, class R, class M, class... A>
auto forwarding(M method) {
    return [method](typename SelfOf<T>::type& self, typename PyArg<A>::type... args) {
        auto call = [&](T& object) -> R { return (object.*method)(args...); };
        if constexpr (std::is_same_v<R, Bytes>) {
            return toBytes(released(self, call));
        } else {
            return released(self, call);
        }
    };
}
template <class T, class R, class... A>
auto forwardTo(R (T::*method)(A...)) {
    return forwarding<T, R, decltype(method), A...>(method);
}
template <class T, class R, class... A>
auto forwardTo(R (T::*method)(A...) const) {
    return forwarding<T, R, decltype(method), A...>(method);
}

// Adds a read-only property to a bench class after its other members: the
// read accessors that report what was attached and driven by hand, so that
// a bench can be written back out as a profile.

template <class B, class Fn>
void addBenchProperty(const char* name, Fn&& get, const char* doc) {
    nb::handle cls = nb::type<BenchRef<B>>();
    nb::object getter =
        nb::cpp_function(std::forward<Fn>(get), nb::is_method(), nb::name(name), nb::scope(cls));
    nb::object builtins = nb::module_::import_("builtins");
    nb::setattr(cls, name, builtins.attr("property")(getter, nb::none(), nb::none(), doc));
}

// The adapter model of a DeviceModel, and the USB speed of a timing name
// ("full-speed", "high-speed", or None or "off" for no timing); ValueError
// for anything else and for a pair the hardware cannot run.
vantor::sim::Model simModel(vantor::DeviceModel model);
vantor::sim::timing::UsbSpeed usbSpeed(const std::optional<std::string>& name,
                                       vantor::sim::Model model);

// The binding of each part, in registration order (see SimModule.cpp).
void bindRecords(nb::module_& sim);
void bindTiming(nb::module_& sim);
void bindAdapter(nb::module_& sim);
void bindHost(nb::module_& sim);
void bindFaultBench(nb::module_& sim);
void bindSystemBench(nb::module_& sim);
void bindI2cBench(nb::module_& sim);
void bindSpiBench(nb::module_& sim);
void bindUartBench(nb::module_& sim);
void bindGpioBench(nb::module_& sim);
void bindI3cRecords(nb::module_& sim);
void bindI3cBench(nb::module_& sim);
void bindTargetRecords(nb::module_& sim);
void bindTargetBenches(nb::module_& sim);
void bindReportRecords(nb::module_& sim);

}  // namespace pyvantorsdk::simbind
