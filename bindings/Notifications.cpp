// SPDX-License-Identifier: MIT
#include "bindings/Notifications.h"

#include <nanobind/stl/string.h>

#include <cstdio>
#include <string>
#include <utility>

#include "sdk/i3c/I3cTypes.h"
#include "sdk/peripherals/GpioTypes.h"

namespace nb = nanobind;

namespace pyvantorsdk {

namespace {

nb::bytes bytesOf(const std::string& s) {
    return nb::bytes(s.data(), s.size());
}

std::string copyOf(const uint8_t* data, size_t length) {
    return data ? std::string(reinterpret_cast<const char*>(data), length) : std::string();
}

template <class T>
nb::object make(std::string payload, T&& record) {
    record.payload = std::move(payload);
    return nb::cast(std::forward<T>(record), nb::rv_policy::move);
}

// "Class(name=value, ...)", each value as Python writes it.
class Repr {
  public:
    explicit Repr(const char* cls) : text_(cls) { text_ += '('; }

    Repr& field(const char* name, const std::string& value) {
        if (!first_) text_ += ", ";
        first_ = false;
        text_ += name;
        text_ += '=';
        text_ += value;
        return *this;
    }
    Repr& bytes(const char* name, const std::string& value) {
        return field(name, nb::cast<std::string>(nb::repr(bytesOf(value))));
    }
    Repr& number(const char* name, long long value) { return field(name, std::to_string(value)); }
    Repr& hex(const char* name, unsigned value) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0x%02X", value);
        return field(name, buffer);
    }
    // "Enumeration.MEMBER" when the value names a member of E, else the
    // number.
    template <class E>
    Repr& member(const char* name, long long value) {
        nb::handle cls = nb::type<E>();
        nb::object found =
            nb::dict(cls.attr("_value2member_map_")).get(nb::int_(value), nb::none());
        if (!found.is_none()) {
            nb::object memberName = found.attr("_name_");
            if (!memberName.is_none()) {
                return field(name, nb::cast<std::string>(cls.attr("__name__")) + "." +
                                       nb::cast<std::string>(memberName));
            }
        }
        return number(name, value);
    }

    std::string str() const { return text_ + ')'; }

  private:
    std::string text_;
    bool first_ = true;
};

}  // namespace

nb::object convertNotification(const vantor::Notification& n) {
    std::string payload = copyOf(n.message(), n.length());
    switch (n.kind()) {
        case vantor::NOTIF_UART:
            if (const auto* r = n.uartRx()) {
                UartRxNotification o;
                o.data = copyOf(r->data, r->dataLength);
                return make(std::move(payload), std::move(o));
            }
            break;
        case vantor::NOTIF_GPIO:
            if (const auto* r = n.gpio()) {
                GpioInterruptNotification o;
                o.pinNumber = r->pinNumber;
                o.triggeredEdge = r->triggeredEdge;
                o.logicLevel = r->logicLevel;
                return make(std::move(payload), std::move(o));
            }
            break;
        case vantor::NOTIF_I3C_HJ:
            if (const auto* r = n.i3cHotJoin()) {
                I3cHotJoinNotification o;
                o.pid = copyOf(r->pid, sizeof r->pid);
                o.bcr = r->bcr;
                o.dcr = r->dcr;
                o.dynamicAddress = r->dynamicAddress;
                return make(std::move(payload), std::move(o));
            }
            break;
        case vantor::NOTIF_I3C_IBI:
            if (const auto* r = n.i3cIbi()) {
                I3cIbiNotification o;
                o.address = r->address;
                o.data = copyOf(r->payload, r->payloadLength);
                return make(std::move(payload), std::move(o));
            }
            break;
        case vantor::NOTIF_I3C_TARGET_BUS_EVENT:
            if (const auto* r = n.i3cTargetBusEvent()) {
                I3cTargetBusEventNotification o;
                o.kind = r->kind;
                o.targetAddress = r->targetAddress;
                o.memoryAddress = r->memoryAddress;
                o.data = copyOf(r->data, r->dataLength);
                return make(std::move(payload), std::move(o));
            }
            break;
        case vantor::NOTIF_I2C_TARGET_BUS_EVENT:
            if (const auto* r = n.i2cTargetBusEvent()) {
                I2cTargetBusEventNotification o;
                o.event = r->event;
                o.targetAddress = r->targetAddress;
                o.memoryAddress = r->memoryAddress;
                o.payloadLength = r->payloadLength;
                return make(std::move(payload), std::move(o));
            }
            break;
        case vantor::NOTIF_SPI_TARGET_BUS_EVENT:
            if (const auto* r = n.spiTargetBusEvent()) {
                SpiTargetBusEventNotification o;
                o.event = r->event;
                o.chipSelect = r->chipSelect;
                o.memoryAddress = r->memoryAddress;
                o.payloadLength = r->payloadLength;
                return make(std::move(payload), std::move(o));
            }
            break;
        case vantor::NOTIF_I3C_CONNECTOR_EVENT:
            if (const auto* r = n.i3cConnectorEvent()) {
                I3cConnectorEventNotification o;
                o.port = r->port;
                o.event = r->event;
                o.connectorType = r->connectorType;
                return make(std::move(payload), std::move(o));
            }
            break;
        default:
            break;
    }
    return make(std::move(payload), UnknownNotification{});
}

nb::object CallbackSlot::set(nb::object callback) {
    nb::object previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        installed_.store(callback.is_valid() && !callback.is_none(), std::memory_order_release);
        previous = std::exchange(callback_, std::move(callback));
    }
    // `previous` leaves the mutex before the caller drops it: its destructor
    // may run arbitrary Python code.
    return previous.is_valid() ? previous : nb::none();
}

nb::object CallbackSlot::get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return callback_;
}

int CallbackSlot::traverse(visitproc visit, void* arg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Py_VISIT(callback_.ptr());
    return 0;
}

void CallbackSlot::clear() {
    set(nb::object());
}

void registerNotifications(nb::module_& m) {
    nb::class_<Notification>(m, "Notification", "An event reported by the adapter.")
        .def(nb::init<>())
        .def("__repr__",
             [](const Notification& n) {
                 return Repr("Notification").bytes("payload", n.payload).str();
             })
        .def_prop_ro(
            "payload", [](const Notification& n) { return bytesOf(n.payload); },
            "The whole notification message as received.");

    nb::class_<I3cHotJoinNotification, Notification>(m, "I3cHotJoinNotification")
        .def(nb::init<>())
        .def("__repr__",
             [](const I3cHotJoinNotification& n) {
                 return Repr("I3cHotJoinNotification")
                     .bytes("pid", n.pid)
                     .hex("bcr", n.bcr)
                     .hex("dcr", n.dcr)
                     .hex("dynamic_address", n.dynamicAddress)
                     .str();
             })
        .def_prop_ro("pid", [](const I3cHotJoinNotification& n) { return bytesOf(n.pid); })
        .def_ro("bcr", &I3cHotJoinNotification::bcr)
        .def_ro("dcr", &I3cHotJoinNotification::dcr)
        .def_ro("dynamic_address", &I3cHotJoinNotification::dynamicAddress);

    nb::class_<I3cIbiNotification, Notification>(m, "I3cIbiNotification")
        .def(nb::init<>())
        .def("__repr__",
             [](const I3cIbiNotification& n) {
                 return Repr("I3cIbiNotification")
                     .hex("address", n.address)
                     .bytes("payload", n.data)
                     .str();
             })
        .def_ro("address", &I3cIbiNotification::address)
        .def_prop_ro(
            "payload", [](const I3cIbiNotification& n) { return bytesOf(n.data); },
            "The in-band interrupt's data bytes.");

    nb::class_<I3cTargetBusEventNotification, Notification>(m, "I3cTargetBusEventNotification")
        .def(nb::init<>())
        .def("__repr__",
             [](const I3cTargetBusEventNotification& n) {
                 return Repr("I3cTargetBusEventNotification")
                     .member<vantor::I3cTargetBusEventKind>("kind", n.kind)
                     .hex("target_address", n.targetAddress)
                     .hex("memory_address", n.memoryAddress)
                     .bytes("payload", n.data)
                     .str();
             })
        .def_ro("kind", &I3cTargetBusEventNotification::kind)
        .def_ro("target_address", &I3cTargetBusEventNotification::targetAddress)
        .def_ro("memory_address", &I3cTargetBusEventNotification::memoryAddress)
        .def_prop_ro(
            "payload", [](const I3cTargetBusEventNotification& n) { return bytesOf(n.data); },
            "The transferred bytes.");

    nb::class_<I2cTargetBusEventNotification, Notification>(m, "I2cTargetBusEventNotification")
        .def(nb::init<>())
        .def("__repr__",
             [](const I2cTargetBusEventNotification& n) {
                 return Repr("I2cTargetBusEventNotification")
                     .number("event", n.event)
                     .hex("target_address", n.targetAddress)
                     .hex("memory_address", n.memoryAddress)
                     .number("payload_length", n.payloadLength)
                     .str();
             })
        .def_ro("event", &I2cTargetBusEventNotification::event)
        .def_ro("target_address", &I2cTargetBusEventNotification::targetAddress)
        .def_ro("memory_address", &I2cTargetBusEventNotification::memoryAddress)
        .def_ro("payload_length", &I2cTargetBusEventNotification::payloadLength);

    nb::class_<SpiTargetBusEventNotification, Notification>(m, "SpiTargetBusEventNotification")
        .def(nb::init<>())
        .def("__repr__",
             [](const SpiTargetBusEventNotification& n) {
                 return Repr("SpiTargetBusEventNotification")
                     .number("event", n.event)
                     .number("chip_select", n.chipSelect)
                     .hex("memory_address", n.memoryAddress)
                     .number("payload_length", n.payloadLength)
                     .str();
             })
        .def_ro("event", &SpiTargetBusEventNotification::event)
        .def_ro("chip_select", &SpiTargetBusEventNotification::chipSelect)
        .def_ro("memory_address", &SpiTargetBusEventNotification::memoryAddress)
        .def_ro("payload_length", &SpiTargetBusEventNotification::payloadLength);

    nb::class_<I3cConnectorEventNotification, Notification>(m, "I3cConnectorEventNotification")
        .def(nb::init<>())
        .def("__repr__",
             [](const I3cConnectorEventNotification& n) {
                 return Repr("I3cConnectorEventNotification")
                     .member<vantor::I3cConnectorPort>("port", n.port)
                     .member<vantor::I3cConnectorEvent>("event", n.event)
                     .member<vantor::I3cConnectorType>("connector_type", n.connectorType)
                     .str();
             })
        .def_ro("port", &I3cConnectorEventNotification::port)
        .def_ro("event", &I3cConnectorEventNotification::event)
        .def_ro("connector_type", &I3cConnectorEventNotification::connectorType);

    nb::class_<UartRxNotification, Notification>(m, "UartRxNotification")
        .def(nb::init<>())
        .def("__repr__",
             [](const UartRxNotification& n) {
                 return Repr("UartRxNotification").bytes("data", n.data).str();
             })
        .def_prop_ro("data", [](const UartRxNotification& n) { return bytesOf(n.data); });

    nb::class_<GpioInterruptNotification, Notification>(m, "GpioInterruptNotification")
        .def(nb::init<>())
        .def("__repr__",
             [](const GpioInterruptNotification& n) {
                 return Repr("GpioInterruptNotification")
                     .member<vantor::GpioPinNumber>("pin_number", n.pinNumber)
                     .member<vantor::GpioTriggerType>("triggered_edge", n.triggeredEdge)
                     .member<vantor::GpioLogicLevel>("logic_level", n.logicLevel)
                     .str();
             })
        .def_ro("pin_number", &GpioInterruptNotification::pinNumber)
        .def_ro("triggered_edge", &GpioInterruptNotification::triggeredEdge)
        .def_ro("logic_level", &GpioInterruptNotification::logicLevel);

    nb::class_<UnknownNotification, Notification>(m, "UnknownNotification")
        .def(nb::init<>())
        .def("__repr__", [](const UnknownNotification& n) {
            return Repr("UnknownNotification").bytes("payload", n.payload).str();
        });
}

}  // namespace pyvantorsdk
