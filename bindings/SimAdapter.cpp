// SPDX-License-Identifier: MIT
// The virtual adapter's own Python class and its raw host handle.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

#include "bindings/GcSupport.h"
#include "bindings/SimSupport.h"
#include "sim/usb/VirtualBackends.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

namespace {

// A burst's pace in notifications per second: None or 0 (and infinity) for
// as fast as possible; NaN and negative rates are refused.
double burstRate(std::optional<double> rate) {
    if (!rate) return 0;
    if (std::isnan(*rate) || *rate < 0) {
        throw nb::value_error("a rate is a number of notifications per second, 0 or more");
    }
    return std::isinf(*rate) ? 0 : *rate;
}

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

// The adapter's garbage-collector support: its handler.
int traverseHandler(SimAdapter& adapter, visitproc visit, void* arg) {
    return adapter.traverse(visit, arg);
}
void clearHandler(SimAdapter& adapter) {
    adapter.clearHandler();
}
using AdapterGc = GcSupport<SimAdapter, &traverseHandler, &clearHandler>;

}  // namespace

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
    nb::class_<SimAdapter>(sim, "VirtualAdapter", nb::type_slots(AdapterGc::slots),
                           "An in-process emulation of an adapter.")
        .def(nb::init<vantor::DeviceModel, const std::string&, bool, uint16_t, bool,
                      const std::optional<std::string>&, double, unsigned>(),
             "model"_a, "serial"_a, "bulk"_a, "bulk_packet_size"_a = 0, "plugged"_a = true,
             "timing"_a = nb::none(), "time_scale"_a = 1.0, "reception_queue_depth"_a = 16)
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
        .def_prop_ro("timing",
                     [](SimAdapter& a) -> std::optional<std::string> {
                         switch (a.get().timing().speed) {
                             case vantor::sim::timing::UsbSpeed::FullSpeed:
                                 return "full-speed";
                             case vantor::sim::timing::UsbSpeed::HighSpeed:
                                 return "high-speed";
                             case vantor::sim::timing::UsbSpeed::Off:
                                 break;
                         }
                         return std::nullopt;
                     })
        .def_prop_ro("time_scale", [](SimAdapter& a) { return a.get().timing().timeScale; })
        .def_prop_ro("reception_queue_depth",
                     [](SimAdapter& a) { return a.get().timing().receptionQueueDepth; })
        .def_prop_ro("vendor_id", [](SimAdapter& a) { return a.get().vendorId(); })
        .def_prop_ro("product_id", [](SimAdapter& a) { return a.get().productId(); })
        // Plugging.
        .def("plug", forwardTo(&Adapter::plug))
        .def("unplug", forwardTo(&Adapter::unplug))
        .def("is_plugged", forwardTo(&Adapter::isPlugged))
        // Traffic records.
        .def("reports",
             [](SimAdapter& a) {
                 return bytesList(unlocked(a, [](Adapter& x) { return x.reports(); }));
             })
        .def("requests",
             [](SimAdapter& a) {
                 return bytesList(unlocked(a, [](Adapter& x) { return x.requests(); }));
             })
        .def("bulk_received", forwardTo(&Adapter::bulkReceived))
        .def("clear", forwardTo(&Adapter::clear))
        .def("set_recording", forwardTo(&Adapter::setRecording), "recording"_a)
        .def("malformed_reports", forwardTo(&Adapter::malformedReports))
        .def("dropped_reports", forwardTo(&Adapter::droppedReports))
        .def(
            "wait_for_requests",
            [](SimAdapter& a, size_t count, double timeoutMs) {
                return unlocked(
                    a, [&](Adapter& x) { return x.waitForRequests(count, millis(timeoutMs)); });
            },
            "count"_a, "timeout_ms"_a)
        // Injection.
        .def("send", forwardTo(&Adapter::send), "message"_a)
        .def("send_report", forwardTo(&Adapter::sendReport), "report"_a)
        .def("send_bulk", forwardTo(&Adapter::sendBulk), "data"_a)
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

}  // namespace pyvantorsdk::simbind
