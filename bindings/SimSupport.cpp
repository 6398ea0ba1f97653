// SPDX-License-Identifier: MIT
#include "bindings/SimSupport.h"

#include <cmath>
#include <exception>

#include "bindings/ExitGuard.h"
#include "bindings/Logging.h"
#include "bindings/ReaderGil.h"

namespace pyvantorsdk::simbind {

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

namespace {

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

}  // namespace

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

vantor::sim::timing::UsbSpeed usbSpeed(const std::optional<std::string>& name,
                                       vantor::sim::Model model) {
    using vantor::sim::timing::UsbSpeed;
    UsbSpeed speed = UsbSpeed::Off;
    if (!name || *name == "off") {
        speed = UsbSpeed::Off;
    } else if (*name == "full-speed") {
        speed = UsbSpeed::FullSpeed;
    } else if (*name == "high-speed") {
        speed = UsbSpeed::HighSpeed;
    } else {
        throw nb::value_error("timing is \"full-speed\", \"high-speed\" or None");
    }
    if (!vantor::sim::timing::modelFits(model, speed)) {
        throw nb::value_error(
            "the QUILLEX's 1024-byte reports need high speed: a full-speed interrupt endpoint "
            "carries at most 64 bytes per frame");
    }
    return speed;
}

SimAdapter::SimAdapter(vantor::DeviceModel model, const std::string& serial, bool bulk,
                       uint16_t bulkPacketSize, bool plugged,
                       const std::optional<std::string>& timing, double timeScale,
                       unsigned receptionQueueDepth) {
    vantor::sim::AdapterOptions options;
    options.model = simModel(model);
    options.serial = serial;
    options.bulk = bulk;
    options.bulkPacketSize = bulkPacketSize;
    options.plugged = plugged;
    options.timing.speed = usbSpeed(timing, options.model);
    options.timing.timeScale = timeScale;
    options.timing.receptionQueueDepth = receptionQueueDepth;
    ReleasedGil unlocked;
    adapter_ = std::make_unique<Adapter>(std::move(options));
}

void SimAdapter::close() {
    std::unique_ptr<Adapter> adapter = std::move(adapter_);
    if (!adapter) return;
    GilReleaseIfHeld unlocked;
    adapter.reset();
}

void SimAdapter::setHandler(nb::object fn) {
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

int SimAdapter::traverse(visitproc visit, void* arg) const {
    if (std::shared_ptr<PyRef> ref = handler_.lock(); ref && ref.use_count() == 2) {
        Py_VISIT(ref->get().ptr());
    }
    return 0;
}

void SimAdapter::clearHandler() {
    if (adapter_ && !handler_.expired()) adapter_->setHandler(nullptr);
    handler_.reset();
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

}  // namespace pyvantorsdk::simbind
