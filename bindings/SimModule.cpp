#include "bindings/SimModule.h"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <chrono>
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
#include "sdk/core/SystemTypes.h"
#include "sim/AdapterState.h"
#include "sim/VirtualAdapter.h"

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
            nb::gil_scoped_acquire gil;
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
    nb::gil_scoped_acquire gil;
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
        logPythonException(e.value().ptr());
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
        nb::gil_scoped_release unlocked;
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
        nb::gil_scoped_release unlocked;
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
    nb::gil_scoped_release release;
    return std::forward<Fn>(fn)(adapter);
}

nb::list bytesList(const std::vector<Bytes>& items) {
    nb::list out;
    for (const Bytes& item : items) out.append(toBytes(item));
    return out;
}

std::chrono::milliseconds millis(double ms) {
    return std::chrono::milliseconds(static_cast<int64_t>(ms < 0 ? 0 : ms));
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
        .def_prop_ro("bulk", [](SimAdapter& a) { return a.get().state().bulk; })
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
            [](SimAdapter& a, uint16_t code, const ByteArg& fields, uint16_t headerWord) {
                unlocked(a, [&](Adapter& x) { x.notify(code, fields, headerWord); });
            },
            "code"_a, "fields"_a, "header_word"_a = 0)
        .def("set_handler", &SimAdapter::setHandler, "handler"_a.none())
        // Faults.
        .def(
            "fail_writes",
            [](SimAdapter& a, int count, double delayMs) {
                unlocked(a, [&](Adapter& x) { x.failWrites(count, millis(delayMs)); });
            },
            "count"_a, "delay_ms"_a = 0)
        .def(
            "fail_reads",
            [](SimAdapter& a, int count) { unlocked(a, [&](Adapter& x) { x.failReads(count); }); },
            "count"_a)
        .def(
            "set_response_delay",
            [](SimAdapter& a, double ms) {
                unlocked(a, [&](Adapter& x) { x.setResponseDelay(millis(ms)); });
            },
            "delay_ms"_a)
        .def(
            "stall_bulk_in",
            [](SimAdapter& a, bool stalled) {
                unlocked(a, [&](Adapter& x) { x.stallBulkIn(stalled); });
            },
            "stalled"_a)
        .def(
            "limit_bulk_in",
            [](SimAdapter& a, std::optional<size_t> limit) {
                unlocked(a, [&](Adapter& x) { x.limitBulkIn(limit); });
            },
            "limit"_a.none())
        // Firmware settings.
        .def(
            "set_identity",
            [](SimAdapter& a, std::optional<TextOrBytes> manufacturer,
               std::optional<TextOrBytes> product, std::optional<TextOrBytes> serial,
               std::optional<TextOrBytes> hw, std::optional<TextOrBytes> fw) {
                unlocked(a, [&](Adapter& x) {
                    vantor::sim::Identity id = x.identity();
                    if (manufacturer) id.manufacturer = manufacturer->value;
                    if (product) id.productName = product->value;
                    if (serial) id.serialNumber = serial->value;
                    if (hw) id.hwVersion = hw->value;
                    if (fw) id.fwVersion = fw->value;
                    x.setIdentity(id);
                });
            },
            "manufacturer"_a.none() = nb::none(), "product_name"_a.none() = nb::none(),
            "serial_number"_a.none() = nb::none(), "hw_version"_a.none() = nb::none(),
            "fw_version"_a.none() = nb::none())
        .def("identity",
             [](SimAdapter& a) {
                 const auto id = unlocked(a, [](Adapter& x) { return x.identity(); });
                 nb::dict out;
                 out["manufacturer"] = nb::bytes(id.manufacturer.data(), id.manufacturer.size());
                 out["product_name"] = nb::bytes(id.productName.data(), id.productName.size());
                 out["serial_number"] = nb::bytes(id.serialNumber.data(), id.serialNumber.size());
                 out["hw_version"] = nb::bytes(id.hwVersion.data(), id.hwVersion.size());
                 out["fw_version"] = nb::bytes(id.fwVersion.data(), id.fwVersion.size());
                 return out;
             })
        .def("bulk_capabilities",
             [](SimAdapter& a) {
                 const auto c = unlocked(a, [](Adapter& x) { return x.bulkCapabilities(); });
                 std::vector<std::tuple<uint8_t, uint16_t, uint32_t>> groups;
                 for (const auto& g : c.groups)
                     groups.emplace_back(g.group, g.maxPayload, g.commandMask);
                 return std::make_tuple(c.status, c.capabilityInfo, c.supported, groups);
             })
        .def(
            "set_bulk_capabilities",
            [](SimAdapter& a, uint16_t status, uint8_t info, bool supported,
               const std::vector<std::tuple<uint8_t, uint16_t, uint32_t>>& groups) {
                vantor::sim::BulkCapabilityConfig config;
                config.status = status;
                config.capabilityInfo = info;
                config.supported = supported;
                config.groups.clear();
                for (const auto& [group, maxPayload, mask] : groups) {
                    config.groups.push_back({group, maxPayload, mask});
                }
                unlocked(a, [&](Adapter& x) { x.setBulkCapabilities(config); });
            },
            "status"_a, "capability_info"_a, "supported"_a, "groups"_a)
        .def("usb_settings",
             [](SimAdapter& a) {
                 const auto s = unlocked(a, [](Adapter& x) { return x.usbSettings(); });
                 return std::make_tuple(s.webusbEnabled, s.cdcEnabled, s.cdcMode);
             })
        .def(
            "set_usb_settings",
            [](SimAdapter& a, uint8_t webusb, uint8_t cdc, uint8_t mode) {
                return unlocked(a, [&](Adapter& x) {
                    return x.setUsbSettings(vantor::sim::UsbSettings{webusb, cdc, mode});
                });
            },
            "webusb_enabled"_a, "cdc_enabled"_a, "cdc_mode"_a)
        .def(
            "set_analog_measurements",
            [](SimAdapter& a, uint16_t io, uint16_t low, uint16_t high) {
                unlocked(a, [&](Adapter& x) { x.setAnalogMeasurements(io, low, high); });
            },
            "io_mv"_a, "i3c_low_mv"_a, "i3c_high_mv"_a)
        // The I2C bench.
        .def(
            "attach_i2c_eeprom",
            [](SimAdapter& a, uint8_t bus, uint16_t address, size_t size, size_t pageSize,
               uint8_t addressBytes, bool tenBit) {
                const vantor::sim::I2cEepromOptions options{size, pageSize, addressBytes};
                return unlocked(a, [&](Adapter& x) {
                    return x.attachI2cEeprom(bus, address, options, tenBit);
                });
            },
            "bus"_a, "address"_a, "size"_a, "page_size"_a, "address_bytes"_a, "ten_bit"_a)
        .def(
            "attach_i2c_register_map",
            [](SimAdapter& a, uint8_t bus, uint16_t address, bool tenBit) {
                return unlocked(
                    a, [&](Adapter& x) { return x.attachI2cRegisterMap(bus, address, tenBit); });
            },
            "bus"_a, "address"_a, "ten_bit"_a)
        .def(
            "detach_i2c",
            [](SimAdapter& a, uint8_t bus, uint16_t address, bool tenBit) {
                return unlocked(a, [&](Adapter& x) { return x.detachI2c(bus, address, tenBit); });
            },
            "bus"_a, "address"_a, "ten_bit"_a)
        .def(
            "i2c_memory",
            [](SimAdapter& a, uint8_t bus, uint16_t address, bool tenBit) {
                return toBytes(
                    unlocked(a, [&](Adapter& x) { return x.i2cMemory(bus, address, tenBit); }));
            },
            "bus"_a, "address"_a, "ten_bit"_a)
        .def(
            "write_i2c_memory",
            [](SimAdapter& a, uint8_t bus, uint16_t address, size_t offset, const ByteArg& data,
               bool tenBit) {
                return unlocked(a, [&](Adapter& x) {
                    return x.writeI2cMemory(bus, address, offset, data, tenBit);
                });
            },
            "bus"_a, "address"_a, "offset"_a, "data"_a, "ten_bit"_a)
        .def(
            "i2c_bus",
            [](SimAdapter& a, uint8_t bus) {
                const auto b = unlocked(a, [&](Adapter& x) { return x.i2cBus(bus); });
                return std::make_tuple(b.initialized, b.frequencyHz, b.pullUp);
            },
            "bus"_a)
        // The SPI bench.
        .def(
            "attach_spi_flash",
            [](SimAdapter& a, uint8_t chipSelect, size_t size, const ByteArg& jedecId,
               unsigned busyPolls) {
                vantor::sim::SpiFlashOptions options;
                if (jedecId.value.size() != options.jedecId.size()) {
                    throw nb::value_error("a JEDEC id is 3 bytes");
                }
                options.size = size;
                std::copy(jedecId.value.begin(), jedecId.value.end(), options.jedecId.begin());
                options.busyPolls = busyPolls;
                return unlocked(a,
                                [&](Adapter& x) { return x.attachSpiFlash(chipSelect, options); });
            },
            "chip_select"_a, "size"_a, "jedec_id"_a, "busy_polls"_a)
        .def(
            "detach_spi",
            [](SimAdapter& a, uint8_t chipSelect) {
                return unlocked(a, [&](Adapter& x) { return x.detachSpi(chipSelect); });
            },
            "chip_select"_a)
        .def(
            "spi_memory",
            [](SimAdapter& a, uint8_t chipSelect) {
                return toBytes(unlocked(a, [&](Adapter& x) { return x.spiMemory(chipSelect); }));
            },
            "chip_select"_a)
        .def(
            "write_spi_memory",
            [](SimAdapter& a, uint8_t chipSelect, size_t offset, const ByteArg& data) {
                return unlocked(
                    a, [&](Adapter& x) { return x.writeSpiMemory(chipSelect, offset, data); });
            },
            "chip_select"_a, "offset"_a, "data"_a)
        .def("spi_controller",
             [](SimAdapter& a) {
                 const auto c = unlocked(a, [](Adapter& x) { return x.spiController(); });
                 return std::make_tuple(c.initialized, c.bitOrder, c.mode, c.dataWidth,
                                        c.chipSelect, c.chipSelectPolarity, c.frequencyHz);
             })
        // The UART bench.
        .def(
            "set_uart_loopback",
            [](SimAdapter& a, bool on) { unlocked(a, [&](Adapter& x) { x.setUartLoopback(on); }); },
            "enabled"_a)
        .def("uart_loopback",
             [](SimAdapter& a) { return unlocked(a, [](Adapter& x) { return x.uartLoopback(); }); })
        .def(
            "inject_uart",
            [](SimAdapter& a, const ByteArg& data) {
                return unlocked(a, [&](Adapter& x) { return x.injectUart(data); });
            },
            "data"_a)
        .def("uart_sent",
             [](SimAdapter& a) {
                 return toBytes(unlocked(a, [](Adapter& x) { return x.uartSent(); }));
             })
        .def("clear_uart_sent",
             [](SimAdapter& a) { unlocked(a, [](Adapter& x) { x.clearUartSent(); }); })
        .def("uart",
             [](SimAdapter& a) {
                 const auto u = unlocked(a, [](Adapter& x) { return x.uart(); });
                 return std::make_tuple(u.initialized, u.baudRate, u.hardwareHandshake, u.parity,
                                        u.dataSize, u.stopBit);
             })
        // The GPIO bench.
        .def(
            "drive_gpio_input",
            [](SimAdapter& a, uint8_t pin, uint8_t level) {
                return unlocked(a, [&](Adapter& x) { return x.driveGpioInput(pin, level); });
            },
            "pin"_a, "level"_a)
        .def(
            "gpio_output_level",
            [](SimAdapter& a, uint8_t pin) {
                return unlocked(a, [&](Adapter& x) { return x.gpioOutputLevel(pin); });
            },
            "pin"_a)
        .def(
            "gpio_pin",
            [](SimAdapter& a, uint8_t pin) {
                const auto p = unlocked(a, [&](Adapter& x) { return x.gpioPin(pin); });
                return std::make_tuple(p.configured, p.output, p.level, p.trigger);
            },
            "pin"_a)
        // The I/O rail.
        .def(
            "set_external_voltage",
            [](SimAdapter& a, uint16_t mv) {
                unlocked(a, [&](Adapter& x) { x.setExternalVoltage(mv); });
            },
            "millivolts"_a)
        .def("io_rail",
             [](SimAdapter& a) {
                 const auto r = unlocked(a, [](Adapter& x) { return x.ioRail(); });
                 return std::make_tuple(r.millivolts, r.external);
             })
        .def("reset_count",
             [](SimAdapter& a) { return unlocked(a, [](Adapter& x) { return x.resetCount(); }); })
        .def("in_boot_mode",
             [](SimAdapter& a) { return unlocked(a, [](Adapter& x) { return x.inBootMode(); }); });
}

}  // namespace

void registerSimModule(nb::module_& m) {
    nb::module_ sim = m.def_submodule("_sim", "The virtual adapter (see pyvantorsdk.sim).");
    bindAdapter(sim);
}

}  // namespace pyvantorsdk
