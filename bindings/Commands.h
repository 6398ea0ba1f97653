// SPDX-License-Identifier: MIT
#pragma once
// The facades' device commands, each described once and generated onto both
// facades.
//
// A command family is a function template over a builder, written as a table
// of `g.command(...)` rows in nanobind's own style: the Python name, the doc
// string, the call, and the Python arguments with their defaults:
//
//     g.command("i2c_read", "Read up to length bytes after writing the subaddress.",
//               [](auto sdk, Bus bus, uint8_t address, const ByteArg& sub, uint16_t length,
//                  bool nonStop) {
//                   return sdk(VANTOR_SDK(i2cRead), bus.byte(), address, sub, length,
//                              out<Bytes>, nonStop);
//               },
//               "bus"_a, "address"_a, "subaddress"_a, "length"_a, "non_stop"_a);
//
// The call receives the Python arguments, already converted, and passes them
// on to `sdk(method, ...)` in the order of the blocking SDK method, with an
// `out<Kind>` placeholder where that method takes its output arguments.
// Two builders read the same rows:
//
// - `FacadeBuilder` adds the method to `DeviceFacade`: `sdk` calls the
//   `VantorSDK` method with the interpreter lock released, raises for a
//   non-zero status with the Python name as the operation, and returns the
//   outputs converted by `Kind::result` (None without outputs).
// - `BatchBuilder` adds the method to a batch of `DeviceFacade`
//   (FacadeBatch.h): `sdk` queues the `VantorSDK` call and returns its
//   handle, whose result is the same converted outputs once the batch ran.
// - `AsyncFacadeBuilder<T>` adds the method to a class over a `VantorAsyncSDK`
//   with `id` as the first Python argument: `sdk` drops the placeholders and
//   calls the same-named `VantorAsyncSDK` method with the id, the interpreter
//   lock released, and returns its send status as an int without raising.
//
// `g.syncOnly(...)` rows exist on `DeviceFacade` alone: the results that only
// the blocking SDK decodes (getters, device information) and the bulk
// transfers, whose data phase needs the blocking engine.
//
// An argument wrapped in `asyncRequired(...)` keeps its default on
// `DeviceFacade` and has none on the asynchronous facade, where the caller
// states every part of the request it sends (the target lists of the
// dynamic address assignments).
//
// Both builders take the call's integer arguments (plain, optional or
// `EnumArg`) from Python as any integer and check the range themselves
// before the call runs: an integer that does not fit the argument's width
// raises ValueError "invalid <argument name> <value>" and nothing is sent
// (Convert.h, `IntArg`). A value of the wrong type is a TypeError.

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings/Convert.h"
#include "bindings/DeviceFacade.h"
#include "bindings/DeviceInfo.h"
#include "bindings/ReleasedGil.h"
#include "sdk/core/SystemTypes.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"
#include "sdk/peripherals/GpioTypes.h"

namespace pyvantorsdk {

// The same-named method of the two SDK classes; `Async` is std::nullptr_t
// for a method that only the blocking class has.
template <class Sync, class Async>
struct SdkMethod {
    Sync sync;
    Async async;
};
template <class Sync, class Async>
SdkMethod(Sync, Async) -> SdkMethod<Sync, Async>;

// clang-format off
#define VANTOR_SDK(method) \
    ::pyvantorsdk::SdkMethod{&::vantor::VantorSDK::method, &::vantor::VantorAsyncSDK::method}
#define VANTOR_SDK_SYNC(method) ::pyvantorsdk::SdkMethod{&::vantor::VantorSDK::method, nullptr}
// clang-format on

// ------------------------------------------------------------ output kinds
// Where the blocking SDK method takes its outputs, what storage they need
// (`refs` gives the arguments that reach it) and how they become the Python
// result.

template <class Kind>
struct Out {};
template <class Kind>
inline constexpr Out<Kind> out{};

struct Bytes {
    using Storage = std::vector<uint8_t>;
    static auto refs(Storage& s) { return std::tie(s); }
    static nanobind::bytes result(const Storage& s) { return toBytes(s); }
};

struct Millivolts {
    using Storage = uint16_t;
    static auto refs(Storage& s) { return std::tie(s); }
    static uint16_t result(Storage s) { return s; }
};

struct Level {
    struct Storage {
        vantor::GpioLogicLevel level = vantor::GpioLogicLevel::LOW;
    };
    static auto refs(Storage& s) { return std::tie(s.level); }
    static int result(const Storage& s) { return static_cast<int>(s.level); }
};

struct UsbSettings {
    using Storage = vantor::UsbConfig;
    static auto refs(Storage& s) { return std::tie(s); }
    static auto result(const Storage& s) {
        return std::make_tuple(s.webusbEnabled, s.cdcEnabled, s.cdcMode);
    }
};

struct Identity {
    using Storage = vantor::DeviceInfo;
    static auto refs(Storage& s) { return std::tie(s); }
    static DeviceInfo result(const Storage& s) { return makeDeviceInfo(s); }
};

// The scanned address bytes and the two counts, as three SDK arguments.
struct ScanAddresses {
    struct Storage {
        std::vector<uint8_t> bytes;
        uint8_t count7 = 0, count10 = 0;
    };
    static auto refs(Storage& s) {
        return std::make_tuple(std::ref(s.bytes), &s.count7, &s.count10);
    }
    static I2cScanResult result(const Storage& s) {
        return decodeScanAddresses(s.bytes.data(), s.bytes.size(), s.count7, s.count10);
    }
};

namespace detail {

template <class T>
struct OutKind {
    using type = void;
};
template <class Kind>
struct OutKind<Out<Kind>> {
    using type = Kind;
};

// The first non-void type of the list, or void.
template <class... T>
struct FirstKind {
    using type = void;
};
template <class T, class... Rest>
struct FirstKind<T, Rest...> {
    using type = std::conditional_t<std::is_void_v<T>, typename FirstKind<Rest...>::type, T>;
};

// The one output kind among the arguments, or void.
template <class... A>
struct OutKindOf {
    static constexpr std::size_t count =
        (std::size_t{0} + ... + (std::is_void_v<typename OutKind<std::decay_t<A>>::type> ? 0 : 1));
    static_assert(count <= 1, "a command has at most one out<> placeholder");
    using type = typename FirstKind<typename OutKind<std::decay_t<A>>::type...>::type;
};

// The argument as it reaches the blocking SDK method: itself, or the
// storage's references in place of the placeholder.
template <class Storage, class A>
auto syncArgument(Storage& storage, A& a) {
    if constexpr (std::is_void_v<typename OutKind<std::decay_t<A>>::type>) {
        return std::forward_as_tuple(a);
    } else {
        return OutKind<std::decay_t<A>>::type::refs(storage);
    }
}

// The argument as it reaches the asynchronous SDK method: placeholders
// vanish.
template <class A>
auto asyncArgument(A& a) {
    if constexpr (std::is_void_v<typename OutKind<std::decay_t<A>>::type>) {
        return std::forward_as_tuple(a);
    } else {
        return std::tuple<>();
    }
}

struct NoStorage {};

template <class Kind>
struct StorageOf {
    using type = typename Kind::Storage;
};
template <>
struct StorageOf<void> {
    using type = NoStorage;
};

}  // namespace detail

// The `sdk` of a command's call on DeviceFacade.
struct SyncCall {
    DeviceFacade& facade;
    const char* operation;

    template <class Method, class... A>
    auto operator()(const Method& method, A&&... a) const {
        using Kind = typename detail::OutKindOf<A...>::type;
        typename detail::StorageOf<Kind>::type storage{};
        auto arguments = std::tuple_cat(detail::syncArgument(storage, a)...);
        facade.run(operation, [&](vantor::VantorSDK& s) {
            return std::apply([&](auto&... x) { return (s.*method.sync)(x...); }, arguments);
        });
        if constexpr (std::is_void_v<Kind>) {
            return;
        } else {
            return Kind::result(storage);
        }
    }
};

// The `sdk` of a command's call on an asynchronous facade.
struct AsyncCall {
    vantor::VantorAsyncSDK& sdk;
    uint16_t id;

    template <class Method, class... A>
    uint16_t operator()(const Method& method, A&&... a) const {
        static_assert(!std::is_same_v<std::decay_t<decltype(method.async)>, std::nullptr_t>,
                      "a method of the blocking SDK alone is a syncOnly command");
        auto arguments = std::tuple_cat(detail::asyncArgument(a)...);
        ReleasedGil released;
        return std::apply([&](auto&... x) { return (sdk.*method.async)(id, x...); }, arguments);
    }
};

// An argument with a default on DeviceFacade and without one on the
// asynchronous facade.
struct AsyncRequired {
    nanobind::arg_v arg;
};
inline AsyncRequired asyncRequired(nanobind::arg_v arg) {
    return AsyncRequired{std::move(arg)};
}

namespace detail {

// A row's extra as each builder hands it to nanobind.
template <class Extra>
const Extra& syncExtra(const Extra& extra) {
    return extra;
}
inline const nanobind::arg_v& syncExtra(const AsyncRequired& extra) {
    return extra.arg;
}
template <class Extra>
const Extra& asyncExtra(const Extra& extra) {
    return extra;
}
inline nanobind::arg asyncExtra(const AsyncRequired& extra) {
    return nanobind::arg(extra.arg.name_);
}

// The parameter list of a command's call once its `sdk` is `Context`:
// `&Fn::operator()<Context>` names the generic call's instance, whose type
// spells the Python arguments.
template <class Fn, class Context>
struct CallSignature;
template <class Fn, class Context, class R, class... Args>
struct CallSignature<R (Fn::*)(Context, Args...) const, Context> {
    using Result = R;
    template <class Bind>
    static void apply(Bind&& bind) {
        bind(static_cast<R (*)(Args...)>(nullptr));
    }
};

template <class Context, class Fn>
using SignatureOf = CallSignature<decltype(&Fn::template operator()<Context>), Context>;

// How a call's argument of type A arrives from Python: an integer or an
// integer-valued enumeration as `IntArg`, so that the range check below
// names the argument.
template <class A>
struct PythonArg {
    using type =
        std::conditional_t<std::is_integral_v<A> && !std::is_same_v<A, bool>, IntArg<A>, A>;
};
template <class E>
struct PythonArg<EnumArg<E>> {
    using type = IntArg<EnumArg<E>>;
};
template <class T>
struct PythonArg<std::optional<T>> {
    using type = std::optional<typename PythonArg<T>::type>;
};
template <class A>
using PythonArgT = typename PythonArg<A>::type;

// The argument as the call takes it: an integer checked against its range.
template <class T>
T callArgument(const IntArg<T>& a, const char* name) {
    return a.get(name);
}
template <class T>
std::optional<T> callArgument(const std::optional<IntArg<T>>& a, const char* name) {
    return a ? std::optional<T>(a->get(name)) : std::nullopt;
}
template <class A>
const A& callArgument(const A& a, const char*) {
    return a;
}

// The Python names of a row's arguments, in order, from its extras.
template <std::size_t N, class... Extra>
std::array<const char*, N> argumentNames(const Extra&... extra) {
    std::array<const char*, N> names{};
    names.fill("argument");
    std::size_t next = 0;
    auto add = [&](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, AsyncRequired>) {
            if (next < N) names[next++] = e.arg.name_;
        } else if constexpr (nanobind::detail::arg_traits<E>::is_arg) {
            if (next < N) names[next++] = e.name_;
        }
    };
    (add(extra), ...);
    static_cast<void>(add);  // a row without arguments has no extras
    return names;
}

// Runs `call` with the Python arguments checked and converted.
template <class R, class Fn, class Context, std::size_t N, std::size_t... I, class... P>
R callChecked(const Fn& call, Context context, const std::array<const char*, N>& names,
              std::index_sequence<I...>, P&... args) {
    return call(context, callArgument(args, names[I])...);
}

}  // namespace detail

// Adds the commands to a class `T` whose calls run through `Context` (built
// from the object and the command's Python name): `DeviceFacade` with
// SyncCall, and a batch (FacadeBatch.h), whose context queues the call.
template <class T, class Context>
class SyncBuilder {
  public:
    explicit SyncBuilder(nanobind::class_<T>& cls) : cls_(cls) {}

    template <class Fn, class... Extra>
    void command(const char* name, const char* doc, Fn call, const Extra&... extra) {
        detail::SignatureOf<Context, Fn>::apply(
            [&](auto* signature) { define(name, doc, call, signature, extra...); });
    }
    template <class Fn, class... Extra>
    void syncOnly(const char* name, const char* doc, Fn call, const Extra&... extra) {
        command(name, doc, std::move(call), extra...);
    }

  private:
    template <class Fn, class R, class... Args, class... Extra>
    void define(const char* name, const char* doc, Fn call, R (*)(Args...), const Extra&... extra) {
        const auto names = detail::argumentNames<sizeof...(Args)>(extra...);
        cls_.def(
            name,
            [name, call, names](T& self, detail::PythonArgT<Args>... args) -> R {
                return detail::callChecked<R>(call, Context{self, name}, names,
                                              std::index_sequence_for<Args...>{}, args...);
            },
            detail::syncExtra(extra)..., doc);
    }

    nanobind::class_<T>& cls_;
};

using FacadeBuilder = SyncBuilder<DeviceFacade, SyncCall>;

// Adds the commands to a class `T` whose `sdk()` is a `VantorAsyncSDK`.
template <class T>
class AsyncFacadeBuilder {
  public:
    explicit AsyncFacadeBuilder(nanobind::class_<T>& cls) : cls_(cls) {}

    template <class Fn, class... Extra>
    void command(const char* name, const char* doc, Fn call, const Extra&... extra) {
        detail::SignatureOf<AsyncCall, Fn>::apply(
            [&](auto* signature) { define(name, doc, call, signature, extra...); });
    }
    template <class Fn, class... Extra>
    void syncOnly(const char*, const char*, Fn, const Extra&...) {}

  private:
    template <class Fn, class R, class... Args, class... Extra>
    void define(const char* name, const char* doc, Fn call, R (*)(Args...), const Extra&... extra) {
        using namespace nanobind::literals;
        const auto names = detail::argumentNames<sizeof...(Args)>(extra...);
        cls_.def(
            name,
            [call, names](T& self, IntArg<uint16_t> id,
                          detail::PythonArgT<Args>... args) -> uint16_t {
                return detail::callChecked<uint16_t>(call, AsyncCall{self.sdk(), id.get("id")},
                                                     names, std::index_sequence_for<Args...>{},
                                                     args...);
            },
            "id"_a, detail::asyncExtra(extra)..., doc);
    }

    nanobind::class_<T>& cls_;
};

// ------------------------------------------------------- the shared I/O rail
// One rail powers the I2C, SPI, UART and GPIO ports; each port offers the
// same three operations under names of its own.
struct RailPort {
    const char* setName;
    const char* useExternalName;
    const char* getName;
    SdkMethod<uint16_t (vantor::VantorSDK::*)(uint16_t, bool),
              uint16_t (vantor::VantorAsyncSDK::*)(uint16_t, uint16_t, bool)>
        set;
    SdkMethod<uint16_t (vantor::VantorSDK::*)(bool),
              uint16_t (vantor::VantorAsyncSDK::*)(uint16_t, bool)>
        useExternal;
    SdkMethod<uint16_t (vantor::VantorSDK::*)(uint16_t&), std::nullptr_t> get;
};

// clang-format off
inline const RailPort kI2cRail{"i2c_set_bus_voltage", "i2c_use_external_voltage", "i2c_get_bus_voltage",
    VANTOR_SDK(i2cSetBusVoltage), VANTOR_SDK(i2cUseExternalVoltage), VANTOR_SDK_SYNC(i2cGetBusVoltage)};
inline const RailPort kUartRail{"uart_set_bus_voltage", "uart_use_external_voltage", "uart_get_bus_voltage",
    VANTOR_SDK(uartSetBusVoltage), VANTOR_SDK(uartUseExternalVoltage), VANTOR_SDK_SYNC(uartGetBusVoltage)};
inline const RailPort kSpiRail{"spi_set_bus_voltage", "spi_use_external_voltage", "spi_get_bus_voltage",
    VANTOR_SDK(spiSetBusVoltage), VANTOR_SDK(spiUseExternalVoltage), VANTOR_SDK_SYNC(spiGetBusVoltage)};
inline const RailPort kGpioRail{"gpio_set_voltage", "gpio_use_external_voltage", "gpio_get_voltage",
    VANTOR_SDK(gpioSetVoltage), VANTOR_SDK(gpioUseExternalVoltage), VANTOR_SDK_SYNC(gpioGetVoltage)};
// clang-format on

// The rail's three commands under one port's names.
template <class G>
void describeRail(G& g, const RailPort& port) {
    using namespace nanobind::literals;
    g.command(
        port.setName, "Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).",
        [m = port.set](auto sdk, uint16_t mv, bool persist) { return sdk(m, mv, persist); },
        "voltage_mv"_a, "persist"_a = false);
    g.command(
        port.useExternalName, "Power the shared I/O rail from an external supply.",
        [m = port.useExternal](auto sdk, bool persist) { return sdk(m, persist); },
        "persist"_a = false);
    g.syncOnly(port.getName, "The shared I/O rail voltage in millivolts.",
               [m = port.get](auto sdk) { return sdk(m, out<Millivolts>); });
}

// The command families, in the order both facades register them. Each is
// defined in its own file for the two builders.
void describeSystem(FacadeBuilder& g);
void describeI2c(FacadeBuilder& g);
void describeUart(FacadeBuilder& g);
void describeI3c(FacadeBuilder& g);
void describeSpi(FacadeBuilder& g);
void describeGpio(FacadeBuilder& g);
void describeTargets(FacadeBuilder& g);
// The module's description of the named CCC operations (FacadeI3c.cpp).
void registerCccTable(nanobind::module_& m);

struct DeviceBatch;
struct BatchCall;
using BatchBuilder = SyncBuilder<DeviceBatch, BatchCall>;
void describeSystem(BatchBuilder& g);
void describeI2c(BatchBuilder& g);
void describeUart(BatchBuilder& g);
void describeI3c(BatchBuilder& g);
void describeSpi(BatchBuilder& g);
void describeGpio(BatchBuilder& g);
void describeTargets(BatchBuilder& g);

class AsyncDeviceFacade;
using AsyncCommandsBuilder = AsyncFacadeBuilder<AsyncDeviceFacade>;
void describeSystem(AsyncCommandsBuilder& g);
void describeI2c(AsyncCommandsBuilder& g);
void describeUart(AsyncCommandsBuilder& g);
void describeI3c(AsyncCommandsBuilder& g);
void describeSpi(AsyncCommandsBuilder& g);
void describeGpio(AsyncCommandsBuilder& g);
void describeTargets(AsyncCommandsBuilder& g);

// Every family, in registration order, for a builder that registers nothing
// between them (the synchronous facade interleaves its state and trace).
template <class G>
void describeEveryFamily(G& g) {
    describeSystem(g);
    describeI2c(g);
    describeUart(g);
    describeI3c(g);
    describeSpi(g);
    describeGpio(g);
    describeTargets(g);
}

}  // namespace pyvantorsdk
