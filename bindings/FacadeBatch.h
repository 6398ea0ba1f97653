// SPDX-License-Identifier: MIT
#pragma once
// `DeviceBatch`: calls of a `DeviceFacade` queued in a `with device.batch():`
// block and sent together when it ends (vantor::Batch), each queued call
// returning a `BatchCall` handle that gives its result afterwards. The
// batch's command methods are the facade's own rows (Commands.h), built by
// BatchBuilder with `BatchCall` as their `sdk`.

#include <nanobind/nanobind.h>
#include <nanobind/stl/shared_ptr.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings/Commands.h"
#include "sdk/core/Batch.h"

namespace pyvantorsdk {

// One queued call: its place and name, and once the batch ran, its result.
struct BatchEntry {
    size_t index = 0;
    const char* name = "";
    bool ran = false;
    vantor::Batch::Result result;
    // The call's outputs as the facade's method returns them (lock held).
    std::function<nanobind::object()> value;
};

struct DeviceBatch {
    DeviceBatch(nanobind::object facade, vantor::Batch::Options options);

    // Queues a call (the interpreter lock held); refused once sent.
    std::shared_ptr<BatchEntry> queue(const char* name, vantor::Batch::Call call,
                                      std::function<nanobind::object()> value);
    // Sends every queued call (at most once) and records the results.
    void send();

    nanobind::object facadeObject;  // keeps the facade alive
    DeviceFacade& facade;
    vantor::Batch::Options options;
    bool sent = false;
    std::vector<vantor::Batch::Call> calls;
    std::vector<std::shared_ptr<BatchEntry>> entries;
};

// The `sdk` of a command's call on a batch: copies the arguments into the
// queued call, with the outputs' storage shared with the handle.
struct BatchCall {
    DeviceBatch& batch;
    const char* operation;

    template <class Method, class... A>
    std::shared_ptr<BatchEntry> operator()(const Method& method, A&&... a) const {
        using Kind = typename detail::OutKindOf<A...>::type;
        using Storage = typename detail::StorageOf<Kind>::type;
        auto storage = std::make_shared<Storage>();
        auto call = [m = method.sync, storage,
                     args = std::make_tuple(std::decay_t<A>(a)...)](vantor::VantorSDK& s) mutable {
            auto arguments = std::apply(
                [&](auto&... x) { return std::tuple_cat(detail::syncArgument(*storage, x)...); },
                args);
            return std::apply([&](auto&... x) { return (s.*m)(x...); }, arguments);
        };
        std::function<nanobind::object()> value;
        if constexpr (std::is_void_v<Kind>) {
            value = [] { return nanobind::none(); };
        } else {
            value = [storage] { return nanobind::cast(Kind::result(*storage)); };
        }
        return batch.queue(operation, std::move(call), std::move(value));
    }
};

void registerDeviceBatch(nanobind::module_& m, nanobind::class_<DeviceFacade>& facade);

}  // namespace pyvantorsdk
