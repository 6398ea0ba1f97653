// SPDX-License-Identifier: MIT
#include "bindings/SimModule.h"

#include <nanobind/stl/array.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bindings/Convert.h"
#include "bindings/DeviceInfo.h"
#include "bindings/ExitGuard.h"
#include "bindings/Logging.h"
#include "bindings/ReaderGil.h"
#include "bindings/ReleasedGil.h"
#include "sdk/core/SystemTypes.h"
#include "sim/VirtualAdapter.h"
#include "sim/usb/VirtualBackends.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk {

namespace {

using vantor::sim::Bytes;
using Adapter = vantor::sim::VirtualAdapter;

// A Python object owned from native code that may be released on any thread:
// the handler is copied by the adapter's dispatch and its last copy can go
// on a thread that does not hold the interpreter lock.
class PyRef {
  public:
    explicit PyRef(nb::object object) : object_(object.release().ptr()) {}
    ~PyRef() {
        if (object_ == nullptr || !Py_IsInitialized()) return;
        if (PyGILState_Check()) {
            Py_DECREF(object_);
        } else if (!interpreterFinalizing()) {
            EnsuredGil gil;
            Py_DECREF(object_);
        }
        // Otherwise the interpreter is going away and frees it itself.
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    nb::handle get() const { return object_; }

  private:
    PyObject* object_;
};

void appendMessage(nb::handle item, std::vector<Bytes>& out) {
    if (!PyBytes_Check(item.ptr()) && !PyByteArray_Check(item.ptr())) {
        throw nb::type_error("a handler answers with bytes, a list of bytes or None");
    }
    const nb::bytes data(item);
    const auto* p = static_cast<const uint8_t*>(data.data());
    out.emplace_back(p, p + data.size());
}

// The handler as the adapter calls it, on the thread that writes the request
// (which holds no interpreter lock: the facades release it around requests).
std::vector<Bytes> callHandler(const PyRef& handler, const Bytes& request) {
    std::vector<Bytes> answers;
    if (interpreterFinalizing() && !PyGILState_Check()) return answers;
    EnsuredGil gil;
    try {
        nb::object result = handler.get()(toBytes(request));
        if (result.is_none()) return answers;
        if (PyBytes_Check(result.ptr()) || PyByteArray_Check(result.ptr())) {
            appendMessage(result, answers);
        } else {
            for (nb::handle item : result) appendMessage(item, answers);
        }
    } catch (nb::python_error& e) {
        answers.clear();
        if (e.matches(PyExc_KeyboardInterrupt)) {
            // Ctrl-C that landed while the handler ran: the handler runs
            // inside a request, so the signal is raised again for the call
            // waiting on it (its interruption check takes it) instead of
            // being logged and lost.
            PyErr_SetInterrupt();
        } else {
            logPythonException(e.value().ptr());
        }
    } catch (const std::exception& e) {
        answers.clear();
        logException(e.what());
    }
    return answers;
}

vantor::sim::Model simModel(vantor::DeviceModel model) {
    switch (model) {
        case vantor::DeviceModel::TERANOX:
            return vantor::sim::Model::Teranox;
        case vantor::DeviceModel::QUILLEX:
            return vantor::sim::Model::Quillex;
        default:
            throw nb::value_error("a virtual adapter is a TERANOX or a QUILLEX");
    }
}

// The Python object: the adapter until close().
class SimAdapter {
  public:
    SimAdapter(vantor::DeviceModel model, const std::string& serial, bool bulk,
               uint16_t bulkPacketSize, bool plugged) {
        vantor::sim::AdapterOptions options;
        options.model = simModel(model);
        options.serial = serial;
        options.bulk = bulk;
        options.bulkPacketSize = bulkPacketSize;
        options.plugged = plugged;
        ReleasedGil unlocked;
        adapter_ = std::make_unique<Adapter>(std::move(options));
    }

    ~SimAdapter() { close(); }

    Adapter& get() {
        if (!adapter_) throw std::runtime_error("the virtual adapter is closed");
        return *adapter_;
    }

    // Unplugs the adapter and removes it from the registry.
    void close() {
        std::unique_ptr<Adapter> adapter = std::move(adapter_);
        if (!adapter) return;
        GilReleaseIfHeld unlocked;
        adapter.reset();
    }

    bool closed() const { return !adapter_; }

    // Installs (or, with None, removes) the Python handler.
    void setHandler(nb::object fn) {
        Adapter& adapter = get();
        Adapter::Handler handler;
        std::shared_ptr<PyRef> ref;
        if (!fn.is_none()) {
            if (!PyCallable_Check(fn.ptr())) {
                throw nb::type_error("the handler must be callable or None");
            }
            ref = std::make_shared<PyRef>(std::move(fn));
            handler = [ref](const Bytes& request) { return callHandler(*ref, request); };
        }
        handler_ = ref;
        ref.reset();
        ReleasedGil unlocked;
        adapter.setHandler(std::move(handler));
    }

    // Cyclic garbage collection: a handler that refers to its own adapter
    // (it usually does, to inject messages) forms a cycle through the
    // adapter's firmware. The handler object is reported while the adapter's
    // firmware holds the only reference to it (a dispatch in progress holds
    // another and keeps it from being collected until it returns).
    int traverse(visitproc visit, void* arg) const {
        if (std::shared_ptr<PyRef> ref = handler_.lock(); ref && ref.use_count() == 2) {
            Py_VISIT(ref->get().ptr());
        }
        return 0;
    }
    void clearHandler() {
        if (adapter_ && !handler_.expired()) adapter_->setHandler(nullptr);
        handler_.reset();
    }

  private:
    std::unique_ptr<Adapter> adapter_;
    // The handler's Python object, owned through the adapter's firmware.
    std::weak_ptr<PyRef> handler_;
};

int simTraverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (!nb::inst_ready(self)) return 0;
    return nb::inst_ptr<SimAdapter>(self)->traverse(visit, arg);
}

int simClear(PyObject* self) {
    if (nb::inst_ready(self)) nb::inst_ptr<SimAdapter>(self)->clearHandler();
    return 0;
}

PyType_Slot simSlots[] = {{Py_tp_traverse, reinterpret_cast<void*>(&simTraverse)},
                          {Py_tp_clear, reinterpret_cast<void*>(&simClear)},
                          {0, nullptr}};

// Runs `fn(adapter)` with the interpreter lock released.
template <class Fn>
decltype(auto) unlocked(SimAdapter& a, Fn&& fn) {
    Adapter& adapter = a.get();
    ReleasedGil release;
    return std::forward<Fn>(fn)(adapter);
}

// ------------------------------------------------------------------ records
// The bench's records are the C++ structs themselves, bound read-only with a
// keyword constructor, equality and a repr built from one field list each.

// An int, or an enumeration member (whose `value` is taken): buses, chip
// selects, pins and levels.
struct Number {
    long value = 0;
};

}  // namespace
}  // namespace pyvantorsdk

namespace nanobind::detail {
template <>
struct type_caster<pyvantorsdk::Number> {
    NB_TYPE_CASTER(pyvantorsdk::Number, const_name("int | enum.Enum"))

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
    static handle from_cpp(const pyvantorsdk::Number& n, rv_policy, cleanup_list*) noexcept {
        return PyLong_FromLong(n.value);
    }
};
}  // namespace nanobind::detail

namespace pyvantorsdk {
namespace {

// A value of `Number` that must fit `T`; anything else is a ValueError.
template <class T>
T narrow(const Number& n, const char* what) {
    if (n.value < 0 || static_cast<unsigned long>(n.value) > std::numeric_limits<T>::max()) {
        throw nb::value_error(
            (std::string("invalid ") + what + " " + std::to_string(n.value)).c_str());
    }
    return static_cast<T>(n.value);
}

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

void bindRecords(nb::module_& sim) {
    namespace vs = vantor::sim;
    Record<vs::Identity>(sim, "Identity", "The five USB strings the adapter reports.")
        .bytesField("manufacturer", &vs::Identity::manufacturer)
        .bytesField("product_name", &vs::Identity::productName)
        .bytesField("serial_number", &vs::Identity::serialNumber)
        .bytesField("hw_version", &vs::Identity::hwVersion)
        .bytesField("fw_version", &vs::Identity::fwVersion)
        .finish();
    Record<vs::UsbSettings>(sim, "UsbSettings", "The adapter's persistent USB configuration.")
        .field("webusb_enabled", &vs::UsbSettings::webusbEnabled)
        .field("cdc_enabled", &vs::UsbSettings::cdcEnabled)
        .field("cdc_mode", &vs::UsbSettings::cdcMode)
        .finish();
    Record<vs::BulkGroupRecord>(sim, "BulkGroup", "One record of the bulk capability answer.")
        .field("group", &vs::BulkGroupRecord::group)
        .field("max_payload", &vs::BulkGroupRecord::maxPayload)
        .field("command_mask", &vs::BulkGroupRecord::commandMask)
        .finish();
    Record<vs::BulkCapabilityConfig>(
        sim, "BulkCapabilities",
        "What the adapter answers to the bulk capability query; a non-zero status answers "
        "with that status and no records.")
        .field("status", &vs::BulkCapabilityConfig::status)
        .field("capability_info", &vs::BulkCapabilityConfig::capabilityInfo)
        .field("supported", &vs::BulkCapabilityConfig::supported)
        .field("groups", &vs::BulkCapabilityConfig::groups)
        .finish();
    Record<vs::AnalogMeasurements>(sim, "AnalogMeasurements",
                                   "The voltages (millivolts) the adapter measures.")
        .field("io_mv", &vs::AnalogMeasurements::ioMv)
        .field("i3c_low_mv", &vs::AnalogMeasurements::i3cLowMv)
        .field("i3c_high_mv", &vs::AnalogMeasurements::i3cHighMv)
        .finish();
    Record<vs::RailState>(sim, "RailState", "The I/O voltage rail.")
        .field("millivolts", &vs::RailState::millivolts)
        .field("external", &vs::RailState::external)
        .finish();
    Record<vs::I2cBusState>(sim, "I2cBusState", "What the host set an I2C bus to.")
        .field("initialized", &vs::I2cBusState::initialized)
        .field("frequency_hz", &vs::I2cBusState::frequencyHz)
        .field("pull_up", &vs::I2cBusState::pullUp)
        .finish();
    Record<vs::SpiControllerState>(
        sim, "SpiControllerState",
        "What the host set the SPI controller to (values as on the wire).")
        .field("initialized", &vs::SpiControllerState::initialized)
        .field("bit_order", &vs::SpiControllerState::bitOrder)
        .field("mode", &vs::SpiControllerState::mode)
        .field("data_width", &vs::SpiControllerState::dataWidth)
        .field("chip_select", &vs::SpiControllerState::chipSelect)
        .field("chip_select_polarity", &vs::SpiControllerState::chipSelectPolarity)
        .field("frequency_hz", &vs::SpiControllerState::frequencyHz)
        .finish();
    Record<vs::UartState>(sim, "UartState",
                          "What the host set the UART to (values as on the wire).")
        .field("initialized", &vs::UartState::initialized)
        .field("baud_rate", &vs::UartState::baudRate)
        .field("hardware_handshake", &vs::UartState::hardwareHandshake)
        .field("parity", &vs::UartState::parity)
        .field("data_size", &vs::UartState::dataSize)
        .field("stop_bit", &vs::UartState::stopBit)
        .finish();
    Record<vs::GpioPinState>(
        sim, "GpioPinState",
        "One GPIO pin; trigger: armed edges, 0 none, 1 rising, 2 falling, 3 both.")
        .field("configured", &vs::GpioPinState::configured)
        .field("output", &vs::GpioPinState::output)
        .field("level", &vs::GpioPinState::level)
        .field("trigger", &vs::GpioPinState::trigger)
        .finish();
}

// --------------------------------------------------------------- benches

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
vantor::sim::FaultBench& benchOf(Adapter& a) {
    return a.faults();
}
template <>
vantor::sim::SystemBench& benchOf(Adapter& a) {
    return a.system();
}
template <>
vantor::sim::PowerBench& benchOf(Adapter& a) {
    return a.power();
}
template <>
vantor::sim::I2cBench& benchOf(Adapter& a) {
    return a.i2c();
}
template <>
vantor::sim::SpiBench& benchOf(Adapter& a) {
    return a.spi();
}
template <>
vantor::sim::UartBench& benchOf(Adapter& a) {
    return a.uart();
}
template <>
vantor::sim::GpioBench& benchOf(Adapter& a) {
    return a.gpio();
}
template <>
vantor::sim::I3cBench& benchOf(Adapter& a) {
    return a.i3c();
}

// Runs `fn(bench)` with the interpreter lock released.
template <class B, class Fn>
decltype(auto) onBench(BenchRef<B>& ref, Fn&& fn) {
    B& bench = benchOf<B>(ref.owner->get());
    ReleasedGil release;
    return std::forward<Fn>(fn)(bench);
}

nb::list bytesList(const std::vector<Bytes>& items) {
    nb::list out;
    for (const Bytes& item : items) out.append(toBytes(item));
    return out;
}

// A duration in milliseconds from Python: negative counts as zero, infinity
// and anything beyond the range of the adapter's clock mean "no limit"
// (milliseconds::max(), which the adapter treats so), NaN is refused.
std::chrono::milliseconds millis(double ms) {
    using std::chrono::milliseconds;
    if (std::isnan(ms)) throw nb::value_error("a duration must be a number, not NaN");
    if (ms <= 0) return milliseconds(0);
    // 2^62 ms is far beyond any clock's range and still exact as a double.
    constexpr double kNoLimit = 4611686018427387904.0;
    if (ms >= kNoLimit) return milliseconds::max();
    return milliseconds(static_cast<milliseconds::rep>(ms));
}

// A burst's pace in notifications per second: None or 0 (and infinity) for
// as fast as possible; NaN and negative rates are refused.
double burstRate(std::optional<double> rate) {
    if (!rate) return 0;
    if (std::isnan(*rate) || *rate < 0) {
        throw nb::value_error("a rate is a number of notifications per second, 0 or more");
    }
    return std::isinf(*rate) ? 0 : *rate;
}

// ------------------------------------------------------------ host handle

// Raises OSError(code, text), as a HID library's Python wrapper would.
[[noreturn]] void raiseOsError(int code, const char* text) {
    nb::object error = nb::handle(PyExc_OSError)(code, text);
    PyErr_SetObject(PyExc_OSError, error.ptr());
    throw nb::python_error();
}

// A raw handle on the adapter's HID interface, opened through the virtual
// HID backend exactly as the SDK's transport opens it: whole reports in and
// out, no framing. The device object is shared so that close() on one thread
// cannot free it under a read that another thread runs without the
// interpreter lock; the lock itself guards `device_`. The device keeps the
// adapter's state alive, so a handle outlives its adapter; its reads and
// writes then fail.
class HostHandle {
  public:
    HostHandle(std::shared_ptr<vantor::usb::HidDevice> device, size_t reportSize)
        : device_(std::move(device)), reportSize_(reportSize) {}

    int write(const ByteArg& report) {
        const auto device = open();
        ReleasedGil release;
        return device->write(report.value.data(), report.value.size());
    }

    nb::bytes read(size_t size, int timeoutMs) {
        const auto device = open();
        // A report is at most 1024 bytes; larger requests get what fits.
        uint8_t buffer[2048];
        const size_t length = std::min(size, sizeof buffer);
        int n;
        {
            ReleasedGil release;
            n = device->readTimeout(buffer, length, timeoutMs < 0 ? -1 : timeoutMs);
        }
        if (n < 0) raiseOsError(EIO, "HID read failed (device unplugged or read error)");
        return nb::bytes(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }

    void close() { device_.reset(); }
    bool closed() const { return !device_; }
    size_t reportSize() const { return reportSize_; }

  private:
    std::shared_ptr<vantor::usb::HidDevice> open() const {
        if (!device_) throw nb::value_error("I/O operation on a closed host handle");
        return device_;
    }

    std::shared_ptr<vantor::usb::HidDevice> device_;
    size_t reportSize_;
};

HostHandle openHost(SimAdapter& a) {
    Adapter& adapter = a.get();
    std::shared_ptr<vantor::usb::HidDevice> device;
    {
        ReleasedGil release;
        device = vantor::sim::virtualHidBackend().openPath(adapter.path());
    }
    if (!device) raiseOsError(ENODEV, "the virtual adapter is not plugged in");
    return HostHandle(std::move(device), adapter.reportSize());
}

void bindHost(nb::module_& sim) {
    nb::class_<HostHandle>(sim, "HostHandle", "A raw handle on the adapter's HID interface.")
        .def("write", &HostHandle::write, "report"_a,
             "Write one output report, report id (0) first; bytes written, -1 on failure.")
        .def("read", &HostHandle::read, "size"_a, "timeout_ms"_a,
             "Read one input report (without report id); b'' on timeout.")
        .def("close", &HostHandle::close)
        .def_prop_ro("closed", &HostHandle::closed)
        .def_prop_ro("report_size", &HostHandle::reportSize);
}

void bindAdapter(nb::module_& sim) {
    nb::class_<SimAdapter>(sim, "VirtualAdapter", nb::type_slots(simSlots),
                           "An in-process emulation of an adapter.")
        .def(nb::init<vantor::DeviceModel, const std::string&, bool, uint16_t, bool>(), "model"_a,
             "serial"_a, "bulk"_a, "bulk_packet_size"_a = 0, "plugged"_a = true)
        .def("close", &SimAdapter::close, "Unplug for good and leave the registry.")
        .def_prop_ro("closed", &SimAdapter::closed)
        // Fixed at creation.
        .def_prop_ro("path", [](SimAdapter& a) { return a.get().path(); })
        .def_prop_ro("serial", [](SimAdapter& a) { return a.get().serial(); })
        .def_prop_ro("model",
                     [](SimAdapter& a) {
                         return a.get().model() == vantor::sim::Model::Quillex
                                    ? vantor::DeviceModel::QUILLEX
                                    : vantor::DeviceModel::TERANOX;
                     })
        .def_prop_ro("report_size", [](SimAdapter& a) { return a.get().reportSize(); })
        .def_prop_ro("bulk", [](SimAdapter& a) { return a.get().hasBulk(); })
        .def_prop_ro("vendor_id", [](SimAdapter& a) { return a.get().vendorId(); })
        .def_prop_ro("product_id", [](SimAdapter& a) { return a.get().productId(); })
        // Plugging.
        .def("plug", [](SimAdapter& a) { unlocked(a, [](Adapter& x) { x.plug(); }); })
        .def("unplug", [](SimAdapter& a) { unlocked(a, [](Adapter& x) { x.unplug(); }); })
        .def("is_plugged",
             [](SimAdapter& a) { return unlocked(a, [](Adapter& x) { return x.isPlugged(); }); })
        // Traffic records.
        .def("reports",
             [](SimAdapter& a) {
                 return bytesList(unlocked(a, [](Adapter& x) { return x.reports(); }));
             })
        .def("requests",
             [](SimAdapter& a) {
                 return bytesList(unlocked(a, [](Adapter& x) { return x.requests(); }));
             })
        .def("bulk_received",
             [](SimAdapter& a) {
                 return toBytes(unlocked(a, [](Adapter& x) { return x.bulkReceived(); }));
             })
        .def("clear", [](SimAdapter& a) { unlocked(a, [](Adapter& x) { x.clear(); }); })
        .def(
            "set_recording",
            [](SimAdapter& a, bool on) { unlocked(a, [&](Adapter& x) { x.setRecording(on); }); },
            "recording"_a)
        .def("malformed_reports",
             [](SimAdapter& a) {
                 return unlocked(a, [](Adapter& x) { return x.malformedReports(); });
             })
        .def("dropped_reports",
             [](SimAdapter& a) {
                 return unlocked(a, [](Adapter& x) { return x.droppedReports(); });
             })
        .def(
            "wait_for_requests",
            [](SimAdapter& a, size_t count, double timeoutMs) {
                return unlocked(
                    a, [&](Adapter& x) { return x.waitForRequests(count, millis(timeoutMs)); });
            },
            "count"_a, "timeout_ms"_a)
        // Injection.
        .def(
            "send",
            [](SimAdapter& a, const ByteArg& m) { unlocked(a, [&](Adapter& x) { x.send(m); }); },
            "message"_a)
        .def(
            "send_report",
            [](SimAdapter& a, const ByteArg& r) {
                unlocked(a, [&](Adapter& x) { x.sendReport(r); });
            },
            "report"_a)
        .def(
            "send_bulk",
            [](SimAdapter& a, const ByteArg& d) {
                unlocked(a, [&](Adapter& x) { x.sendBulk(d); });
            },
            "data"_a)
        .def(
            "notify",
            [](SimAdapter& a, uint16_t code, const ByteArg& fields, uint16_t headerWord,
               size_t count, std::optional<double> rate) {
                const double perSecond = burstRate(rate);
                unlocked(a, [&](Adapter& x) {
                    if (count == 1 && perSecond == 0) {
                        x.notify(code, fields, headerWord);
                    } else {
                        x.notify(code, fields, headerWord, count, perSecond);
                    }
                });
            },
            "code"_a, "fields"_a, "header_word"_a = 0, "count"_a = 1, "rate"_a.none() = nb::none())
        .def("set_handler", &SimAdapter::setHandler, "handler"_a.none())
        .def("open_host", &openHost, "A raw handle on the HID interface.")
        // The bench, one object per part of the adapter.
        .def_prop_ro(
            "faults", [](SimAdapter& a) { return BenchRef<vantor::sim::FaultBench>{&a}; },
            nb::keep_alive<0, 1>(), "USB-side fault injection.")
        .def_prop_ro(
            "system", [](SimAdapter& a) { return BenchRef<vantor::sim::SystemBench>{&a}; },
            nb::keep_alive<0, 1>(), "Identity, USB settings, measurements and counters.")
        .def_prop_ro(
            "power", [](SimAdapter& a) { return BenchRef<vantor::sim::PowerBench>{&a}; },
            nb::keep_alive<0, 1>(), "The I/O rail.")
        .def_prop_ro(
            "i2c", [](SimAdapter& a) { return BenchRef<vantor::sim::I2cBench>{&a}; },
            nb::keep_alive<0, 1>(), "Devices on the I2C buses.")
        .def_prop_ro(
            "spi", [](SimAdapter& a) { return BenchRef<vantor::sim::SpiBench>{&a}; },
            nb::keep_alive<0, 1>(), "Devices on the SPI chip selects.")
        .def_prop_ro(
            "uart", [](SimAdapter& a) { return BenchRef<vantor::sim::UartBench>{&a}; },
            nb::keep_alive<0, 1>(), "The far end of the UART.")
        .def_prop_ro(
            "gpio", [](SimAdapter& a) { return BenchRef<vantor::sim::GpioBench>{&a}; },
            nb::keep_alive<0, 1>(), "The far end of the GPIO pins.")
        .def_prop_ro(
            "i3c", [](SimAdapter& a) { return BenchRef<vantor::sim::I3cBench>{&a}; },
            nb::keep_alive<0, 1>(), "Targets and devices on the I3C bus, and the I3C ports.")
        .def_prop_ro(
            "i2c_target", [](SimAdapter& a) { return BenchRef<vantor::sim::I2cTargetBench>{&a}; },
            nb::keep_alive<0, 1>(), "The adapter as I2C target.")
        .def_prop_ro(
            "spi_target", [](SimAdapter& a) { return BenchRef<vantor::sim::SpiTargetBench>{&a}; },
            nb::keep_alive<0, 1>(), "The adapter as SPI target.")
        .def_prop_ro(
            "i3c_target", [](SimAdapter& a) { return BenchRef<vantor::sim::I3cTargetBench>{&a}; },
            nb::keep_alive<0, 1>(), "The adapter as I3C target.");
}

// The bench's repr: its kind, the adapter's path and what `state` shows.
template <class B>
std::string benchRepr(BenchRef<B>& ref, const char* kind, const std::string& state) {
    Adapter& adapter = ref.owner->get();
    return std::string("<") + kind + " of " + adapter.path() + (state.empty() ? "" : " ") + state +
           ">";
}

std::string reprOf(nb::handle value) {
    return nb::cast<std::string>(nb::repr(value));
}

void bindBenches(nb::module_& sim) {
    namespace vs = vantor::sim;
    using Faults = BenchRef<vs::FaultBench>;
    using System = BenchRef<vs::SystemBench>;
    using Power = BenchRef<vs::PowerBench>;
    using I2c = BenchRef<vs::I2cBench>;
    using Spi = BenchRef<vs::SpiBench>;
    using Uart = BenchRef<vs::UartBench>;
    using Gpio = BenchRef<vs::GpioBench>;

    nb::class_<Faults>(sim, "FaultBench", "Faults of the adapter's USB side.")
        .def("__repr__", [](Faults& r) { return benchRepr(r, "FaultBench", ""); })
        .def(
            "fail_writes",
            [](Faults& r, int count, double delayMs) {
                onBench(r, [&](vs::FaultBench& b) { b.failWrites(count, millis(delayMs)); });
            },
            "count"_a, "delay_ms"_a = 0,
            "The next `count` output reports fail, each after `delay_ms`.")
        .def(
            "fail_reads",
            [](Faults& r, int count) {
                onBench(r, [&](vs::FaultBench& b) { b.failReads(count); });
            },
            "count"_a, "The next `count` reads of the HID interface fail.")
        .def(
            "set_response_delay",
            [](Faults& r, double ms) {
                onBench(r, [&](vs::FaultBench& b) { b.setResponseDelay(millis(ms)); });
            },
            "delay_ms"_a,
            "Answers become readable only after this delay (injected messages are not delayed).")
        .def(
            "limit_input_queue",
            [](Faults& r, std::optional<size_t> limit) {
                onBench(r, [&](vs::FaultBench& b) { b.limitInputQueue(limit); });
            },
            "limit"_a.none(),
            "At most `limit` input reports wait for each connection (64 from creation); newer "
            "ones are dropped and counted, except the answers to the connection's own requests, "
            "which wait in the adapter until the host reads. None: no limit.")
        .def(
            "stall_bulk_in",
            [](Faults& r, bool stalled) {
                onBench(r, [&](vs::FaultBench& b) { b.stallBulkIn(stalled); });
            },
            "stalled"_a = true, "A stalled bulk IN endpoint fails every transfer.")
        .def(
            "limit_bulk_in",
            [](Faults& r, std::optional<size_t> limit) {
                onBench(r, [&](vs::FaultBench& b) { b.limitBulkIn(limit); });
            },
            "limit"_a.none(),
            "Bulk IN delivers at most `limit` of the bytes it announced (None: all).");

    nb::class_<System>(sim, "SystemBench",
                       "The adapter's USB strings, USB settings, bulk capabilities, analog "
                       "measurements and system counters; all persistent.")
        .def("__repr__",
             [](System& r) {
                 const auto s = onBench(r, [](vs::SystemBench& b) { return b.usbSettings(); });
                 return benchRepr(r, "SystemBench", reprOf(nb::cast(s)));
             })
        .def(
            "set_identity",
            [](System& r, std::optional<TextOrBytes> manufacturer,
               std::optional<TextOrBytes> product, std::optional<TextOrBytes> serial,
               std::optional<TextOrBytes> hw, std::optional<TextOrBytes> fw) {
                onBench(r, [&](vs::SystemBench& b) {
                    vs::Identity id = b.identity();
                    if (manufacturer) id.manufacturer = manufacturer->value;
                    if (product) id.productName = product->value;
                    if (serial) id.serialNumber = serial->value;
                    if (hw) id.hwVersion = hw->value;
                    if (fw) id.fwVersion = fw->value;
                    b.setIdentity(id);
                });
            },
            nb::kw_only(), "manufacturer"_a.none() = nb::none(),
            "product_name"_a.none() = nb::none(), "serial_number"_a.none() = nb::none(),
            "hw_version"_a.none() = nb::none(), "fw_version"_a.none() = nb::none(),
            "Change the USB strings; None keeps a string, bytes are reported unchanged.")
        .def_prop_ro(
            "identity",
            [](System& r) { return onBench(r, [](vs::SystemBench& b) { return b.identity(); }); },
            "The five USB strings.")
        .def_prop_ro(
            "usb_settings",
            [](System& r) {
                return onBench(r, [](vs::SystemBench& b) { return b.usbSettings(); });
            },
            "The USB configuration.")
        .def(
            "set_usb_settings",
            [](System& r, uint8_t webusb, uint8_t cdc, uint8_t mode) {
                return onBench(r, [&](vs::SystemBench& b) {
                    return b.setUsbSettings(vs::UsbSettings{webusb, cdc, mode});
                });
            },
            "webusb_enabled"_a = 255, "cdc_enabled"_a = 255, "cdc_mode"_a = 255,
            "Change the USB configuration (255 keeps a setting); False when a value is out of "
            "range.")
        .def_prop_ro(
            "bulk_capabilities",
            [](System& r) {
                return onBench(r, [](vs::SystemBench& b) { return b.bulkCapabilities(); });
            },
            "What the adapter answers to the bulk capability query.")
        .def(
            "set_bulk_capabilities",
            [](System& r, const vs::BulkCapabilityConfig& config) {
                onBench(r, [&](vs::SystemBench& b) { b.setBulkCapabilities(config); });
            },
            "capabilities"_a, "Change what the adapter answers to the bulk capability query.")
        .def_prop_ro(
            "analog_measurements",
            [](System& r) {
                return onBench(r, [](vs::SystemBench& b) { return b.analogMeasurements(); });
            },
            "The voltages the adapter measures.")
        .def(
            "set_analog_measurements",
            [](System& r, uint16_t io, uint16_t low, uint16_t high) {
                onBench(r, [&](vs::SystemBench& b) {
                    b.setAnalogMeasurements(vs::AnalogMeasurements{io, low, high});
                });
            },
            "io_mv"_a, "i3c_low_mv"_a = 1800, "i3c_high_mv"_a = 3300,
            "The voltages (millivolts) the adapter measures: the I/O rail and the two I3C rails.")
        .def_prop_ro(
            "reset_count",
            [](System& r) { return onBench(r, [](vs::SystemBench& b) { return b.resetCount(); }); },
            "Reset requests received.")
        .def_prop_ro(
            "in_boot_mode",
            [](System& r) { return onBench(r, [](vs::SystemBench& b) { return b.inBootMode(); }); },
            "True once the adapter left its application for the boot loader.");

    nb::class_<Power>(sim, "PowerBench", "The I/O rail of the I2C, SPI, UART and GPIO signals.")
        .def("__repr__",
             [](Power& r) {
                 const auto rail = onBench(r, [](vs::PowerBench& b) { return b.ioRail(); });
                 return benchRepr(r, "PowerBench", reprOf(nb::cast(rail)));
             })
        .def(
            "set_external_voltage",
            [](Power& r, uint16_t mv) {
                onBench(r, [&](vs::PowerBench& b) { b.setExternalVoltage(mv); });
            },
            "millivolts"_a,
            "The voltage an external supply puts on the rail, measured while the host has handed "
            "the rail over to it.")
        .def_prop_ro(
            "io_rail",
            [](Power& r) { return onBench(r, [](vs::PowerBench& b) { return b.ioRail(); }); },
            "What the rail carries.");

    nb::class_<I2c>(sim, "I2cBench",
                    "Devices on the I2C buses. They keep their contents across resets and "
                    "unplugging. Addresses above 0x7F (or with ten_bit=True) are 10-bit; they "
                    "answer scans only.")
        .def("__repr__",
             [](I2c& r) {
                 const auto buses =
                     onBench(r, [](vs::I2cBench& b) { return std::make_pair(b.bus(0), b.bus(1)); });
                 return benchRepr(r, "I2cBench",
                                  "bus0=" + reprOf(nb::cast(buses.first)) +
                                      " bus1=" + reprOf(nb::cast(buses.second)));
             })
        .def(
            "attach_eeprom",
            [](I2c& r, const Number& bus, uint16_t address, size_t size, size_t pageSize,
               uint8_t addressBytes, bool tenBit) {
                const vs::I2cEepromOptions options{size, pageSize, addressBytes};
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                if (!onBench(r, [&](vs::I2cBench& b) {
                        return b.attachEeprom(b8, address, options, tenBit);
                    })) {
                    throw nb::value_error("cannot attach an EEPROM there");
                }
            },
            "bus"_a, "address"_a, nb::kw_only(), "size"_a = 256, "page_size"_a = 16,
            "address_bytes"_a = 1, "ten_bit"_a = false,
            "Attach a serial EEPROM (erased to 0xFF). Page writes wrap at the page boundary; "
            "address_bytes is the memory address width (1 or 2).")
        .def(
            "attach_register_map",
            [](I2c& r, const Number& bus, uint16_t address, bool tenBit) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                if (!onBench(r, [&](vs::I2cBench& b) {
                        return b.attachRegisterMap(b8, address, tenBit);
                    })) {
                    throw nb::value_error("cannot attach a register map there");
                }
            },
            "bus"_a, "address"_a, nb::kw_only(), "ten_bit"_a = false,
            "Attach 256 registers with 1-byte register addresses and auto-increment.")
        .def(
            "detach",
            [](I2c& r, const Number& bus, uint16_t address, bool tenBit) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cBench& b) { return b.detach(b8, address, tenBit); });
            },
            "bus"_a, "address"_a, nb::kw_only(), "ten_bit"_a = false,
            "Remove a device; False when there was none.")
        .def(
            "memory",
            [](I2c& r, const Number& bus, uint16_t address, bool tenBit) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                return toBytes(
                    onBench(r, [&](vs::I2cBench& b) { return b.memory(b8, address, tenBit); }));
            },
            "bus"_a, "address"_a, nb::kw_only(), "ten_bit"_a = false,
            "A device's memory (EEPROM contents, the registers); b'' when there is none.")
        .def(
            "write_memory",
            [](I2c& r, const Number& bus, uint16_t address, size_t offset, const ByteArg& data,
               bool tenBit) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                if (!onBench(r, [&](vs::I2cBench& b) {
                        return b.writeMemory(b8, address, offset, data, tenBit);
                    })) {
                    throw nb::value_error("no device there, or the data does not fit");
                }
            },
            "bus"_a, "address"_a, "offset"_a, "data"_a, nb::kw_only(), "ten_bit"_a = false,
            "Change a device's memory directly (no page rules).")
        .def(
            "bus",
            [](I2c& r, const Number& bus) {
                const uint8_t b8 = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cBench& b) { return b.bus(b8); });
            },
            "bus"_a, "What the host set a bus to.");

    nb::class_<Spi>(sim, "SpiBench",
                    "Devices on the SPI chip selects. They keep their contents across resets "
                    "and unplugging.")
        .def("__repr__",
             [](Spi& r) {
                 const auto c = onBench(r, [](vs::SpiBench& b) { return b.controller(); });
                 return benchRepr(r, "SpiBench", reprOf(nb::cast(c)));
             })
        .def(
            "attach_flash",
            [](Spi& r, const Number& chipSelect, size_t size, const ByteArg& jedecId,
               unsigned busyPolls) {
                vs::SpiFlashOptions options;
                if (jedecId.value.size() != options.jedecId.size()) {
                    throw nb::value_error("a JEDEC id is 3 bytes");
                }
                options.size = size;
                std::copy(jedecId.value.begin(), jedecId.value.end(), options.jedecId.begin());
                options.busyPolls = busyPolls;
                const uint8_t cs = narrow<uint8_t>(chipSelect, "chip select");
                if (!onBench(r, [&](vs::SpiBench& b) { return b.attachFlash(cs, options); })) {
                    throw nb::value_error("cannot attach a flash on that chip select");
                }
            },
            "chip_select"_a, nb::kw_only(), "size"_a = 1024 * 1024,
            "jedec_id"_a = nb::bytes("\xa7\x40\x14", 3), "busy_polls"_a = 2,
            "Attach a NOR flash (erased to 0xFF): JEDEC id (0x9F), read (0x03), write enable "
            "(0x06), page program (0x02), 4 KiB sector erase (0x20) and status (0x05). After a "
            "program or erase the flash reads busy for busy_polls status bytes.")
        .def(
            "detach",
            [](Spi& r, const Number& chipSelect) {
                const uint8_t cs = narrow<uint8_t>(chipSelect, "chip select");
                return onBench(r, [&](vs::SpiBench& b) { return b.detach(cs); });
            },
            "chip_select"_a, "Remove a device; False when there was none.")
        .def(
            "memory",
            [](Spi& r, const Number& chipSelect) {
                const uint8_t cs = narrow<uint8_t>(chipSelect, "chip select");
                return toBytes(onBench(r, [&](vs::SpiBench& b) { return b.memory(cs); }));
            },
            "chip_select"_a, "The device's memory; b'' when nothing is attached there.")
        .def(
            "write_memory",
            [](Spi& r, const Number& chipSelect, size_t offset, const ByteArg& data) {
                const uint8_t cs = narrow<uint8_t>(chipSelect, "chip select");
                if (!onBench(r, [&](vs::SpiBench& b) { return b.writeMemory(cs, offset, data); })) {
                    throw nb::value_error(
                        "no device on that chip select, or the data does not fit");
                }
            },
            "chip_select"_a, "offset"_a, "data"_a, "Change a device's memory directly.")
        .def_prop_ro(
            "controller",
            [](Spi& r) { return onBench(r, [](vs::SpiBench& b) { return b.controller(); }); },
            "What the host set the SPI controller to.");

    nb::class_<Uart>(sim, "UartBench", "The far end of the UART.")
        .def("__repr__",
             [](Uart& r) {
                 const auto s = onBench(
                     r, [](vs::UartBench& b) { return std::make_pair(b.loopback(), b.state()); });
                 return benchRepr(r, "UartBench",
                                  std::string("loopback=") + (s.first ? "True " : "False ") +
                                      reprOf(nb::cast(s.second)));
             })
        .def_prop_rw(
            "loopback",
            [](Uart& r) { return onBench(r, [](vs::UartBench& b) { return b.loopback(); }); },
            [](Uart& r, bool on) { onBench(r, [&](vs::UartBench& b) { b.setLoopback(on); }); },
            "TX wired to RX: every byte sent comes back as a UART notification.")
        .def(
            "inject",
            [](Uart& r, const ByteArg& data) {
                return onBench(r, [&](vs::UartBench& b) { return b.inject(data); });
            },
            "data"_a,
            "Bytes arriving on RX, reported to the host as UART notifications; False (bytes "
            "lost) when the UART is not initialised or unplugged.")
        .def_prop_ro(
            "sent",
            [](Uart& r) { return toBytes(onBench(r, [](vs::UartBench& b) { return b.sent(); })); },
            "Everything sent on TX since the last clear_sent().")
        .def(
            "clear_sent", [](Uart& r) { onBench(r, [](vs::UartBench& b) { b.clearSent(); }); },
            "Forget what was sent on TX.")
        .def_prop_ro(
            "state", [](Uart& r) { return onBench(r, [](vs::UartBench& b) { return b.state(); }); },
            "What the host set the UART to.");

    nb::class_<Gpio>(sim, "GpioBench", "The far end of the GPIO pins 0..5.")
        .def("__repr__", [](Gpio& r) { return benchRepr(r, "GpioBench", ""); })
        .def(
            "drive_input",
            [](Gpio& r, const Number& pin, const Number& level) {
                const uint8_t p = narrow<uint8_t>(pin, "pin");
                const uint8_t l = narrow<uint8_t>(level, "level");
                if (!onBench(r, [&](vs::GpioBench& b) { return b.driveInput(p, l); })) {
                    throw nb::value_error("invalid pin or level");
                }
            },
            "pin"_a, "level"_a,
            "Drive a pin from outside; an armed edge raises a GPIO notification.")
        .def(
            "output_level",
            [](Gpio& r, const Number& pin) {
                const uint8_t p = narrow<uint8_t>(pin, "pin");
                return onBench(r, [&](vs::GpioBench& b) { return b.outputLevel(p); });
            },
            "pin"_a, "The level an output pin drives; None when the pin is not an output.")
        .def(
            "pin",
            [](Gpio& r, const Number& pin) {
                const uint8_t p = narrow<uint8_t>(pin, "pin");
                return onBench(r, [&](vs::GpioBench& b) { return b.pin(p); });
            },
            "pin"_a, "What a pin is set to.");
}

// ------------------------------------------------------------------- I3C
// The I3C bench and its records: one block, bound after the other benches.

// A bench event's outcome as Python sees it: True when the host got the
// notification, False when the event is disabled or its notification was
// lost; anything else is a ValueError naming the reason.
bool reported(vantor::sim::I3cEventOutcome outcome) {
    using O = vantor::sim::I3cEventOutcome;
    switch (outcome) {
        case O::Reported:
            return true;
        case O::Dropped:
        case O::Disabled:
            return false;
        case O::NoSuchTarget:
            throw nb::value_error("no target with that provisioned id");
        case O::NotOnBus:
            throw nb::value_error(
                "an interrupt needs a dynamic address; a hot-join request a target without one");
        case O::NotCapable:
            throw nb::value_error("the target's BCR does not allow that interrupt or its payload");
        case O::PayloadTooLong:
            throw nb::value_error("the payload is longer than the target's IBI payload size");
    }
    return false;
}

void bindI3c(nb::module_& sim) {
    namespace vs = vantor::sim;
    using I3c = BenchRef<vs::I3cBench>;

    Record<vs::I3cTargetState>(sim, "I3cTargetState",
                               "An I3C target: its identity and what the controller set it to "
                               "(events: enabled ENEC bits, 0x01 interrupts, 0x02 controller "
                               "role, 0x08 hot-join).")
        .field("pid", &vs::I3cTargetState::pid)
        .field("bcr", &vs::I3cTargetState::bcr)
        .field("dcr", &vs::I3cTargetState::dcr)
        .field("static_address", &vs::I3cTargetState::staticAddress)
        .field("dynamic_address", &vs::I3cTargetState::dynamicAddress)
        .field("mwl", &vs::I3cTargetState::mwl)
        .field("mrl", &vs::I3cTargetState::mrl)
        .field("max_ibi_payload", &vs::I3cTargetState::maxIbiPayload)
        .field("events", &vs::I3cTargetState::events)
        .field("activity_state", &vs::I3cTargetState::activityState)
        .field("group_address", &vs::I3cTargetState::groupAddress)
        .field("reset_action", &vs::I3cTargetState::resetAction)
        .field("pending_interrupt", &vs::I3cTargetState::pendingInterrupt)
        .finish();
    Record<vs::I3cTableEntry>(sim, "I3cTableEntry",
                              "One entry of the controller's table of targets (static address 0: "
                              "none).")
        .field("static_address", &vs::I3cTableEntry::staticAddress)
        .field("dynamic_address", &vs::I3cTableEntry::dynamicAddress)
        .field("pid", &vs::I3cTableEntry::pid)
        .field("bcr", &vs::I3cTableEntry::bcr)
        .field("dcr", &vs::I3cTableEntry::dcr)
        .field("mwl", &vs::I3cTableEntry::mwl)
        .field("mrl", &vs::I3cTableEntry::mrl)
        .field("max_ibi_payload", &vs::I3cTableEntry::maxIbiPayload)
        .field("configuration", &vs::I3cTableEntry::configuration)
        .finish();
    Record<vs::I3cControllerState>(sim, "I3cControllerState",
                                   "What the host set the I3C controller to (values as on the "
                                   "wire).")
        .field("initialized", &vs::I3cControllerState::initialized)
        .field("push_pull_rate", &vs::I3cControllerState::pushPullRate)
        .field("open_drain_rate", &vs::I3cControllerState::openDrainRate)
        .field("i2c_rate", &vs::I3cControllerState::i2cRate)
        .field("drive_strength", &vs::I3cControllerState::driveStrength)
        .field("hot_join_enabled", &vs::I3cControllerState::hotJoinEnabled)
        .field("bus_context", &vs::I3cControllerState::busContext)
        .finish();
    Record<vs::I3cPortsState>(sim, "I3cPortsState",
                              "The I3C ports: the millivolts each carries, whether an external "
                              "supply feeds them, the connector plugged into each (4: none) and "
                              "the supplies on the target board.")
        .field("lv_mv", &vs::I3cPortsState::lvMv)
        .field("hv_mv", &vs::I3cPortsState::hvMv)
        .field("external", &vs::I3cPortsState::external)
        .field("lv_connector", &vs::I3cPortsState::lvConnector)
        .field("hv_connector", &vs::I3cPortsState::hvConnector)
        .field("lv_external_mv", &vs::I3cPortsState::lvExternalMv)
        .field("hv_external_mv", &vs::I3cPortsState::hvExternalMv)
        .finish();

    nb::class_<I3c>(sim, "I3cBench",
                    "The I3C bus: I3C targets (by provisioned id) and legacy I2C devices. "
                    "Devices keep their memory across resets and unplugging; what the "
                    "controller set them to is lost with a bus reset.")
        .def("__repr__",
             [](I3c& r) {
                 const auto s = onBench(r, [](vs::I3cBench& b) {
                     return std::make_pair(b.controller(), b.targets().size());
                 });
                 return benchRepr(
                     r, "I3cBench",
                     "targets=" + std::to_string(s.second) + " " + reprOf(nb::cast(s.first)));
             })
        .def(
            "attach_target",
            [](I3c& r, uint64_t pid, uint8_t bcr, uint8_t dcr, std::optional<uint8_t> staticAddress,
               uint16_t mwl, uint16_t mrl, uint8_t maxIbiPayload, size_t memorySize, bool hdrDdr,
               const ByteArg& maxDataSpeed) {
                vs::I3cTargetOptions options;
                if (maxDataSpeed.value.size() != options.maxDataSpeed.size()) {
                    throw nb::value_error("max_data_speed is the 5-byte GETMXDS answer");
                }
                options.pid = pid;
                options.bcr = bcr;
                options.dcr = dcr;
                options.staticAddress = staticAddress;
                options.mwl = mwl;
                options.mrl = mrl;
                options.maxIbiPayload = maxIbiPayload;
                options.memorySize = memorySize;
                options.hdrDdr = hdrDdr;
                std::copy(maxDataSpeed.value.begin(), maxDataSpeed.value.end(),
                          options.maxDataSpeed.begin());
                const auto state =
                    onBench(r, [&](vs::I3cBench& b) { return b.attachTarget(options); });
                if (!state) {
                    throw nb::value_error(
                        "cannot attach that target: an id above 48 bits or already attached, a "
                        "static address outside 0x08..0x77 or taken, a memory size outside "
                        "1..65536, or an IBI payload size without the payload bit in BCR");
                }
                return *state;
            },
            "pid"_a, nb::kw_only(), "bcr"_a = 0x06, "dcr"_a = 0,
            "static_address"_a.none() = nb::none(), "mwl"_a = 256, "mrl"_a = 256,
            "max_ibi_payload"_a = 0, "memory_size"_a = 1024, "hdr_ddr"_a = true,
            "max_data_speed"_a = nb::bytes("\0\0\0\0\0", 5),
            "Attach an I3C target (memory zero-filled) and return its state. BCR bit 1 allows "
            "in-band interrupts, bit 2 their payload (max_ibi_payload: 0 no limit); transfers "
            "use the sub-address, or the HDR-DDR command's low seven bits, as the memory "
            "offset.")
        .def(
            "detach_target",
            [](I3c& r, uint64_t pid) {
                return onBench(r, [&](vs::I3cBench& b) { return b.detachTarget(pid); });
            },
            "pid"_a, "Remove a target; False when there was none.")
        .def_prop_ro(
            "targets",
            [](I3c& r) { return onBench(r, [](vs::I3cBench& b) { return b.targets(); }); },
            "Every target, by provisioned id.")
        .def(
            "target",
            [](I3c& r, uint64_t pid) {
                return onBench(r, [&](vs::I3cBench& b) { return b.target(pid); });
            },
            "pid"_a, "A target's state; None when there is no such target.")
        .def(
            "memory",
            [](I3c& r, uint64_t pid) {
                return toBytes(onBench(r, [&](vs::I3cBench& b) { return b.memory(pid); }));
            },
            "pid"_a, "A target's memory; b'' when there is no such target.")
        .def(
            "write_memory",
            [](I3c& r, uint64_t pid, size_t offset, const ByteArg& data) {
                if (!onBench(r,
                             [&](vs::I3cBench& b) { return b.writeMemory(pid, offset, data); })) {
                    throw nb::value_error("no such target, or the data does not fit");
                }
            },
            "pid"_a, "offset"_a, "data"_a, "Change a target's memory directly.")
        .def(
            "raise_ibi",
            [](I3c& r, uint64_t pid, const ByteArg& payload) {
                return reported(
                    onBench(r, [&](vs::I3cBench& b) { return b.raiseIbi(pid, payload); }));
            },
            "pid"_a, "payload"_a = nb::bytes("", 0),
            "The target raises an in-band interrupt: True when it reached the host as a "
            "notification, False when its interrupts are disabled (it stays pending until "
            "GETSTATUS) or when the notification was lost (the host's input queue was full, "
            "counted in dropped_reports, or no connection was open). ValueError when the "
            "target cannot raise it.")
        .def(
            "request_hot_join",
            [](I3c& r, uint64_t pid) {
                return reported(onBench(r, [&](vs::I3cBench& b) { return b.requestHotJoin(pid); }));
            },
            "pid"_a,
            "An attached target without a dynamic address asks to join: True when the host got "
            "the hot-join notification, False while hot-join is disabled or when the "
            "notification was lost (as for raise_ibi). ENTDAA then gives it an address.")
        .def(
            "attach_i2c_eeprom",
            [](I3c& r, uint8_t address, size_t size, size_t pageSize, uint8_t addressBytes) {
                const vs::I2cEepromOptions options{size, pageSize, addressBytes};
                if (!onBench(
                        r, [&](vs::I3cBench& b) { return b.attachI2cEeprom(address, options); })) {
                    throw nb::value_error("cannot attach an EEPROM there");
                }
            },
            "address"_a, nb::kw_only(), "size"_a = 256, "page_size"_a = 16, "address_bytes"_a = 1,
            "Attach a legacy I2C EEPROM (erased to 0xFF) to the I3C bus.")
        .def(
            "attach_i2c_register_map",
            [](I3c& r, uint8_t address) {
                if (!onBench(r, [&](vs::I3cBench& b) { return b.attachI2cRegisterMap(address); })) {
                    throw nb::value_error("cannot attach a register map there");
                }
            },
            "address"_a, "Attach a legacy I2C register map (256 registers) to the I3C bus.")
        .def(
            "detach_i2c",
            [](I3c& r, uint8_t address) {
                return onBench(r, [&](vs::I3cBench& b) { return b.detachI2c(address); });
            },
            "address"_a, "Remove a legacy I2C device; False when there was none.")
        .def(
            "i2c_memory",
            [](I3c& r, uint8_t address) {
                return toBytes(onBench(r, [&](vs::I3cBench& b) { return b.i2cMemory(address); }));
            },
            "address"_a, "A legacy device's memory; b'' when there is none.")
        .def(
            "plug_connector",
            [](I3c& r, const Number& port, const Number& connectorType) {
                const uint8_t p = narrow<uint8_t>(port, "port");
                const uint8_t t = narrow<uint8_t>(connectorType, "connector type");
                if (!onBench(r, [&](vs::I3cBench& b) { return b.plugConnector(p, t); })) {
                    throw nb::value_error("no such port, a connector is already in, or type NONE");
                }
            },
            "port"_a, "connector_type"_a = 1,
            "Plug a connector (an I3cConnectorType, HARNESS by default) into a port (0 LV, 1 HV); "
            "the host gets a connector notification.")
        .def(
            "unplug_connector",
            [](I3c& r, const Number& port) {
                const uint8_t p = narrow<uint8_t>(port, "port");
                if (!onBench(r, [&](vs::I3cBench& b) { return b.unplugConnector(p); })) {
                    throw nb::value_error("no such port, or nothing is plugged in");
                }
            },
            "port"_a, "Pull a port's connector; the host gets a connector notification.")
        .def(
            "set_external_supply",
            [](I3c& r, const Number& port, uint16_t millivolts) {
                const uint8_t p = narrow<uint8_t>(port, "port");
                if (!onBench(r,
                             [&](vs::I3cBench& b) { return b.setExternalSupply(p, millivolts); })) {
                    throw nb::value_error("no such port");
                }
            },
            "port"_a, "millivolts"_a,
            "The supply a target board puts on a port (0: none), used once the host hands the "
            "ports over to it.")
        .def_prop_ro(
            "ports", [](I3c& r) { return onBench(r, [](vs::I3cBench& b) { return b.ports(); }); },
            "The I3C ports.")
        .def_prop_ro(
            "controller",
            [](I3c& r) { return onBench(r, [](vs::I3cBench& b) { return b.controller(); }); },
            "What the host set the I3C controller to.")
        .def(
            "device_table",
            [](I3c& r) { return onBench(r, [](vs::I3cBench& b) { return b.deviceTable(); }); },
            "The controller's table of targets, as i3c_get_device_table reports it.");
}

// ----------------------------------------------------------- target roles
// The adapter as I2C, SPI and I3C target: records, the three benches and
// their external controllers.

template <>
vantor::sim::I2cTargetBench& benchOf(Adapter& a) {
    return a.i2cTarget();
}
template <>
vantor::sim::SpiTargetBench& benchOf(Adapter& a) {
    return a.spiTarget();
}
template <>
vantor::sim::I3cTargetBench& benchOf(Adapter& a) {
    return a.i3cTarget();
}
template <>
vantor::sim::I2cTargetController& benchOf(Adapter& a) {
    return a.i2cTarget().controller();
}
template <>
vantor::sim::SpiTargetController& benchOf(Adapter& a) {
    return a.spiTarget().controller();
}
template <>
vantor::sim::I3cTargetController& benchOf(Adapter& a) {
    return a.i3cTarget().controller();
}

void bindTargetRecords(nb::module_& sim) {
    namespace vs = vantor::sim;
    Record<vs::I2cTargetState>(sim, "I2cTargetState",
                               "What the host set the I2C target to (values as on the wire); "
                               "write-protected bytes are [wp_start, wp_end).")
        .field("active", &vs::I2cTargetState::active)
        .field("bus", &vs::I2cTargetState::bus)
        .field("address", &vs::I2cTargetState::address)
        .field("address_mode", &vs::I2cTargetState::addressMode)
        .field("memory_layout", &vs::I2cTargetState::memoryLayout)
        .field("model", &vs::I2cTargetState::model)
        .field("memory_size", &vs::I2cTargetState::memorySize)
        .field("page_size", &vs::I2cTargetState::pageSize)
        .field("write_cycle_us", &vs::I2cTargetState::writeCycleUs)
        .field("erase_cycle_us", &vs::I2cTargetState::eraseCycleUs)
        .field("busy_behavior", &vs::I2cTargetState::busyBehavior)
        .field("erased_value", &vs::I2cTargetState::erasedValue)
        .field("wp_start", &vs::I2cTargetState::wpStart)
        .field("wp_end", &vs::I2cTargetState::wpEnd)
        .finish();
    Record<vs::I2cBusTransaction>(sim, "I2cBusTransaction",
                                  "What one I2C transaction of the external controller met.")
        .field("address_ack", &vs::I2cBusTransaction::addressAck)
        .field("ack", &vs::I2cBusTransaction::ack)
        .bytesField("data", &vs::I2cBusTransaction::data)
        .field("stretched_us", &vs::I2cBusTransaction::stretchedUs)
        .finish();
    Record<vs::SpiTargetState>(sim, "SpiTargetState",
                               "What the host set the SPI target to (values as on the wire).")
        .field("active", &vs::SpiTargetState::active)
        .field("mode", &vs::SpiTargetState::mode)
        .field("bit_order", &vs::SpiTargetState::bitOrder)
        .field("chip_select", &vs::SpiTargetState::chipSelect)
        .field("chip_select_polarity", &vs::SpiTargetState::chipSelectPolarity)
        .field("model", &vs::SpiTargetState::model)
        .field("engine", &vs::SpiTargetState::engine)
        .field("memory_size", &vs::SpiTargetState::memorySize)
        .field("address_bytes", &vs::SpiTargetState::addressBytes)
        .field("page_size", &vs::SpiTargetState::pageSize)
        .field("write_cycle_us", &vs::SpiTargetState::writeCycleUs)
        .bytesField("jedec_id", &vs::SpiTargetState::jedecId)
        .field("flags", &vs::SpiTargetState::flags)
        .finish();
    Record<vs::I3cTargetRoleState>(sim, "I3cTargetRoleState",
                                   "What the host set the I3C target to.")
        .field("active", &vs::I3cTargetRoleState::active)
        .field("layout", &vs::I3cTargetRoleState::layout)
        .bytesField("pid", &vs::I3cTargetRoleState::pid)
        .field("bcr", &vs::I3cTargetRoleState::bcr)
        .field("dcr", &vs::I3cTargetRoleState::dcr)
        .field("static_address", &vs::I3cTargetRoleState::staticAddress)
        .field("dynamic_address", &vs::I3cTargetRoleState::dynamicAddress)
        .field("mwl", &vs::I3cTargetRoleState::mwl)
        .field("mrl", &vs::I3cTargetRoleState::mrl)
        .finish();
    Record<vs::I3cBusTransaction>(sim, "I3cBusTransaction",
                                  "What one I3C transaction of the external controller met.")
        .field("ack", &vs::I3cBusTransaction::ack)
        .bytesField("data", &vs::I3cBusTransaction::data)
        .finish();
    Record<vs::RegisterRegion>(sim, "RegisterRegion",
                               "A register-map region: [start, end], its access rule (0 RW, 1 RO, "
                               "2 WO, 3 read-clear, 4 write-1-to-clear, 5 reserved).")
        .field("start", &vs::RegisterRegion::start)
        .field("end", &vs::RegisterRegion::end)
        .field("access", &vs::RegisterRegion::access)
        .field("width", &vs::RegisterRegion::width)
        .field("flags", &vs::RegisterRegion::flags)
        .finish();
}

int optionalSetting(const std::optional<Number>& value, const char* what) {
    return value ? narrow<uint8_t>(*value, what) : -1;
}

// A bench's `command`: (response message, bulk IN bytes).
template <class B>
nb::tuple hostCommand(BenchRef<B>& r, uint16_t code, const ByteArg& params,
                      const ByteArg& bulkOut) {
    const auto result = onBench(r, [&](B& b) { return b.command(code, params, bulkOut); });
    return nb::make_tuple(toBytes(result.response), toBytes(result.bulkIn));
}

constexpr const char* kCommandDoc =
    "Run a host command of this target family (its code and parameter bytes) straight on "
    "the firmware; a memory write takes its data from bulk_out. Returns (response message, "
    "bulk IN bytes); nothing travels over USB.";

void bindTargetBenches(nb::module_& sim) {
    namespace vs = vantor::sim;
    using I2cT = BenchRef<vs::I2cTargetBench>;
    using SpiT = BenchRef<vs::SpiTargetBench>;
    using I3cT = BenchRef<vs::I3cTargetBench>;
    using I2cC = BenchRef<vs::I2cTargetController>;
    using SpiC = BenchRef<vs::SpiTargetController>;
    using I3cC = BenchRef<vs::I3cTargetController>;

    nb::class_<I2cC>(sim, "I2cTargetController",
                     "An external I2C controller on the bus of the adapter's I2C target.")
        .def("__repr__", [](I2cC& r) { return benchRepr(r, "I2cTargetController", ""); })
        .def(
            "write",
            [](I2cC& r, uint16_t address, const ByteArg& data, const Number& bus, bool tenBit) {
                const uint8_t b = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cTargetController& c) {
                    return c.write(address, data, b, tenBit);
                });
            },
            "address"_a, "data"_a, nb::kw_only(), "bus"_a = Number{0}, "ten_bit"_a = false,
            "A write transaction: the memory address bytes (most significant first), then data.")
        .def(
            "read",
            [](I2cC& r, uint16_t address, size_t count, const Number& bus, bool tenBit) {
                const uint8_t b = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cTargetController& c) {
                    return c.read(address, count, b, tenBit);
                });
            },
            "address"_a, "count"_a, nb::kw_only(), "bus"_a = Number{0}, "ten_bit"_a = false,
            "A read transaction from the target's address pointer.")
        .def(
            "write_read",
            [](I2cC& r, uint16_t address, const ByteArg& data, size_t count, const Number& bus,
               bool tenBit) {
                const uint8_t b = narrow<uint8_t>(bus, "bus");
                return onBench(r, [&](vs::I2cTargetController& c) {
                    return c.writeRead(address, data, count, b, tenBit);
                });
            },
            "address"_a, "data"_a, "count"_a, nb::kw_only(), "bus"_a = Number{0},
            "ten_bit"_a = false, "A write, a repeated START and a read.");

    nb::class_<I2cT>(sim, "I2cTargetBench",
                     "The adapter as I2C target: its state, memory, virtual clock and an "
                     "external controller.")
        .def("__repr__",
             [](I2cT& r) {
                 const auto s = onBench(r, [](vs::I2cTargetBench& b) { return b.state(); });
                 return benchRepr(r, "I2cTargetBench", reprOf(nb::cast(s)));
             })
        .def("command", &hostCommand<vs::I2cTargetBench>, "code"_a, "params"_a = nb::bytes(""),
             "bulk_out"_a = nb::bytes(""), kCommandDoc)
        .def_prop_ro(
            "controller", [](I2cT& r) { return I2cC{r.owner}; }, nb::keep_alive<0, 1>(),
            "The external controller.")
        .def_prop_ro(
            "state",
            [](I2cT& r) { return onBench(r, [](vs::I2cTargetBench& b) { return b.state(); }); },
            "What the host set the target to.")
        .def_prop_ro(
            "memory",
            [](I2cT& r) {
                return toBytes(onBench(r, [](vs::I2cTargetBench& b) { return b.memory(); }));
            },
            "The target's memory, raw (no access rules).")
        .def_prop_ro(
            "regions",
            [](I2cT& r) { return onBench(r, [](vs::I2cTargetBench& b) { return b.regions(); }); },
            "The register-map regions the host set.")
        .def_prop_ro(
            "clock_us",
            [](I2cT& r) { return onBench(r, [](vs::I2cTargetBench& b) { return b.clockUs(); }); },
            "The bus's virtual clock (90 us per byte on the bus).")
        .def(
            "advance_clock",
            [](I2cT& r, uint32_t us) {
                onBench(r, [&](vs::I2cTargetBench& b) { b.advanceClock(us); });
            },
            "us"_a, "Let virtual time pass on the bus.")
        .def_prop_ro(
            "busy",
            [](I2cT& r) { return onBench(r, [](vs::I2cTargetBench& b) { return b.busy(); }); },
            "An EEPROM write or erase cycle is running.");

    nb::class_<SpiC>(sim, "SpiTargetController",
                     "An external SPI controller wired to the adapter's SPI target.")
        .def("__repr__", [](SpiC& r) { return benchRepr(r, "SpiTargetController", ""); })
        .def(
            "transfer",
            [](SpiC& r, const ByteArg& data, std::optional<Number> chipSelect,
               std::optional<Number> mode, std::optional<Number> bitOrder,
               std::optional<Number> polarity) {
                vs::SpiFrameSettings settings;
                settings.chipSelect = optionalSetting(chipSelect, "chip select");
                settings.mode = optionalSetting(mode, "mode");
                settings.bitOrder = optionalSetting(bitOrder, "bit order");
                settings.chipSelectPolarity = optionalSetting(polarity, "chip select polarity");
                return toBytes(onBench(
                    r, [&](vs::SpiTargetController& c) { return c.transfer(data, settings); }));
            },
            "data"_a, nb::kw_only(), "chip_select"_a.none() = nb::none(),
            "mode"_a.none() = nb::none(), "bit_order"_a.none() = nb::none(),
            "chip_select_polarity"_a.none() = nb::none(),
            "One chip-select frame, full duplex; returns MISO. A setting left at None is the "
            "target's own.");

    nb::class_<SpiT>(sim, "SpiTargetBench",
                     "The adapter as SPI target: its state, memory, virtual clock and an "
                     "external controller.")
        .def("__repr__",
             [](SpiT& r) {
                 const auto s = onBench(r, [](vs::SpiTargetBench& b) { return b.state(); });
                 return benchRepr(r, "SpiTargetBench", reprOf(nb::cast(s)));
             })
        .def("command", &hostCommand<vs::SpiTargetBench>, "code"_a, "params"_a = nb::bytes(""),
             "bulk_out"_a = nb::bytes(""), kCommandDoc)
        .def_prop_ro(
            "controller", [](SpiT& r) { return SpiC{r.owner}; }, nb::keep_alive<0, 1>(),
            "The external controller.")
        .def_prop_ro(
            "state",
            [](SpiT& r) { return onBench(r, [](vs::SpiTargetBench& b) { return b.state(); }); },
            "What the host set the target to.")
        .def_prop_ro(
            "memory",
            [](SpiT& r) {
                return toBytes(onBench(r, [](vs::SpiTargetBench& b) { return b.memory(); }));
            },
            "The target's memory, raw.")
        .def(
            "add_region",
            [](SpiT& r, uint16_t start, uint16_t end, const Number& access) {
                vs::RegisterRegion region;
                region.start = start;
                region.end = end;
                region.access = narrow<uint8_t>(access, "access");
                if (!onBench(r, [&](vs::SpiTargetBench& b) { return b.addRegion(region); })) {
                    throw nb::value_error(
                        "no register map, a full table or a region that does not fit");
                }
            },
            "start"_a, "end"_a, "access"_a, "A register-map region with its access rule.")
        .def_prop_ro(
            "clock_us",
            [](SpiT& r) { return onBench(r, [](vs::SpiTargetBench& b) { return b.clockUs(); }); },
            "The bus's virtual clock (8 us per byte on the bus).")
        .def(
            "advance_clock",
            [](SpiT& r, uint32_t us) {
                onBench(r, [&](vs::SpiTargetBench& b) { b.advanceClock(us); });
            },
            "us"_a, "Let virtual time pass on the bus.")
        .def_prop_ro(
            "busy",
            [](SpiT& r) { return onBench(r, [](vs::SpiTargetBench& b) { return b.busy(); }); },
            "A flash program or erase is running.");

    nb::class_<I3cC>(sim, "I3cTargetController",
                     "An external I3C controller on the bus of the adapter's I3C target.")
        .def("__repr__", [](I3cC& r) { return benchRepr(r, "I3cTargetController", ""); })
        .def(
            "setdasa",
            [](I3cC& r, uint8_t staticAddress, uint8_t dynamicAddress) {
                return onBench(r, [&](vs::I3cTargetController& c) {
                    return c.setdasa(staticAddress, dynamicAddress);
                });
            },
            "static_address"_a, "dynamic_address"_a, "Direct SETDASA.")
        .def(
            "entdaa",
            [](I3cC& r, uint8_t dynamicAddress) {
                return onBench(
                    r, [&](vs::I3cTargetController& c) { return c.entdaa(dynamicAddress); });
            },
            "dynamic_address"_a,
            "ENTDAA offering this address; data: the PID, BCR and DCR of the target that took it.")
        .def(
            "rstdaa",
            [](I3cC& r) {
                return onBench(r, [](vs::I3cTargetController& c) { return c.rstdaa(); });
            },
            "Broadcast RSTDAA.")
        .def(
            "private_write",
            [](I3cC& r, uint8_t address, const ByteArg& data) {
                return onBench(
                    r, [&](vs::I3cTargetController& c) { return c.privateWrite(address, data); });
            },
            "address"_a, "data"_a,
            "Private write: the register index (2 bytes, most significant first), then data. "
            "A write that would run past the end of memory is refused whole (ack False).")
        .def(
            "private_read",
            [](I3cC& r, uint8_t address, size_t count) {
                return onBench(
                    r, [&](vs::I3cTargetController& c) { return c.privateRead(address, count); });
            },
            "address"_a, "count"_a,
            "Private read from the register pointer, at most MRL bytes, stopping at the end of "
            "memory.")
        .def(
            "ccc_get",
            [](I3cC& r, uint8_t ccc, uint8_t address) {
                return onBench(r,
                               [&](vs::I3cTargetController& c) { return c.cccGet(ccc, address); });
            },
            "ccc"_a, "address"_a,
            "A direct GET CCC: GETMWL 0x8B, GETMRL 0x8C, GETPID 0x8D, GETBCR 0x8E, GETDCR 0x8F.");

    nb::class_<I3cT>(sim, "I3cTargetBench",
                     "The adapter as I3C target: its identity, memory and an external "
                     "controller.")
        .def("__repr__",
             [](I3cT& r) {
                 const auto s = onBench(r, [](vs::I3cTargetBench& b) { return b.state(); });
                 return benchRepr(r, "I3cTargetBench", reprOf(nb::cast(s)));
             })
        .def("command", &hostCommand<vs::I3cTargetBench>, "code"_a, "params"_a = nb::bytes(""),
             "bulk_out"_a = nb::bytes(""), kCommandDoc)
        .def_prop_ro(
            "controller", [](I3cT& r) { return I3cC{r.owner}; }, nb::keep_alive<0, 1>(),
            "The external controller.")
        .def_prop_ro(
            "state",
            [](I3cT& r) { return onBench(r, [](vs::I3cTargetBench& b) { return b.state(); }); },
            "What the host set the target to, and its dynamic address.")
        .def_prop_ro(
            "memory",
            [](I3cT& r) {
                return toBytes(onBench(r, [](vs::I3cTargetBench& b) { return b.memory(); }));
            },
            "The 1024-byte target memory.");
}

// ------------------------------------------- what the benches were given
//
// Read accessors that report what was attached and driven by hand, so that
// a bench can be written back out as a profile. They are added to the bench
// classes bound above.

template <class B, class Fn>
void addBenchProperty(const char* name, Fn&& get, const char* doc) {
    nb::handle cls = nb::type<BenchRef<B>>();
    nb::object getter =
        nb::cpp_function(std::forward<Fn>(get), nb::is_method(), nb::name(name), nb::scope(cls));
    nb::object builtins = nb::module_::import_("builtins");
    nb::setattr(cls, name, builtins.attr("property")(getter, nb::none(), nb::none(), doc));
}

void bindBenchReports(nb::module_& sim) {
    namespace vs = vantor::sim;
    nb::enum_<vs::I2cDeviceKind>(sim, "I2cDeviceKind", "What an attached I2C device is.")
        .value("EEPROM", vs::I2cDeviceKind::Eeprom, "A serial EEPROM.")
        .value("REGISTER_MAP", vs::I2cDeviceKind::RegisterMap, "256 registers.")
        .value("OTHER", vs::I2cDeviceKind::Other, "A device of the caller's own.");
    Record<vs::I2cDeviceInfo>(
        sim, "I2cDeviceInfo",
        "An attached I2C device: size in bytes, an EEPROM's page size and memory address width "
        "(a register map: 256, 0, 1). bus is 0 on the I3C bus.")
        .field("bus", &vs::I2cDeviceInfo::bus)
        .field("address", &vs::I2cDeviceInfo::address)
        .field("ten_bit", &vs::I2cDeviceInfo::tenBit)
        .field("kind", &vs::I2cDeviceInfo::kind)
        .field("size", &vs::I2cDeviceInfo::size)
        .field("page_size", &vs::I2cDeviceInfo::pageSize)
        .field("address_bytes", &vs::I2cDeviceInfo::addressBytes)
        .finish();
    Record<vs::SpiFlashInfo>(sim, "SpiFlashInfo",
                             "An attached SPI flash with the options it was attached with.")
        .field("chip_select", &vs::SpiFlashInfo::chipSelect)
        .field("size", &vs::SpiFlashInfo::size)
        .field("jedec_id", &vs::SpiFlashInfo::jedecId)
        .field("busy_polls", &vs::SpiFlashInfo::busyPolls)
        .finish();

    addBenchProperty<vs::I2cBench>(
        "devices",
        [](BenchRef<vs::I2cBench>& r) {
            return onBench(r, [](vs::I2cBench& b) { return b.devices(); });
        },
        "Every attached device: bus 0 first, 7-bit addresses before 10-bit ones, each in "
        "address order.");
    addBenchProperty<vs::SpiBench>(
        "flashes",
        [](BenchRef<vs::SpiBench>& r) {
            return onBench(r, [](vs::SpiBench& b) { return b.flashes(); });
        },
        "The attached flashes in chip-select order (devices of the caller's own are not listed).");
    addBenchProperty<vs::I3cBench>(
        "i2c_devices",
        [](BenchRef<vs::I3cBench>& r) {
            return onBench(r, [](vs::I3cBench& b) { return b.i2cDevices(); });
        },
        "The legacy I2C devices, in address order.");
    addBenchProperty<vs::GpioBench>(
        "driven_levels",
        [](BenchRef<vs::GpioBench>& r) {
            return onBench(r, [](vs::GpioBench& b) {
                std::vector<std::optional<uint8_t>> levels;
                for (uint8_t pin = 0; pin < 6; ++pin) levels.push_back(b.drivenLevel(pin));
                return levels;
            });
        },
        "The level drive_input last put on each pin 0..5; None for a pin never driven.");
    addBenchProperty<vs::PowerBench>(
        "external_voltage",
        [](BenchRef<vs::PowerBench>& r) {
            return onBench(r, [](vs::PowerBench& b) { return b.externalVoltage(); });
        },
        "What set_external_voltage last set (millivolts); None before it was called.");
}

}  // namespace

void registerSimModule(nb::module_& m) {
    nb::module_ sim = m.def_submodule("_sim", "The virtual adapter (see pyvantorsdk.sim).");
    bindRecords(sim);
    bindAdapter(sim);
    bindHost(sim);
    bindBenches(sim);
    bindI3c(sim);
    bindTargetRecords(sim);
    bindTargetBenches(sim);
    bindBenchReports(sim);
}

}  // namespace pyvantorsdk
