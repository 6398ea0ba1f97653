// Throughput and latency of the SDK's hot paths against a virtual adapter:
// framing, synchronous round trips, asynchronous sends and notification
// delivery through the reader thread. Prints figures; asserts nothing.
//
//   build/<dir>/bench_engine [iterations]

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "sdk/core/ReportFramer.h"
#include "sdk/core/VantorAsyncSDK.h"
#include "sdk/core/VantorSDK.h"
#include "sim/VirtualAdapter.h"

using Clock = std::chrono::steady_clock;
using vantor::sim::Model;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

vantor::sim::AdapterOptions options(Model model) {
    vantor::sim::AdapterOptions o;
    o.model = model;
    o.serial = model == Model::Teranox ? "BENCH64" : "BENCH1K";
    return o;
}

const char* name(Model model) {
    return model == Model::Teranox ? "64-byte" : "1024-byte";
}

void benchFraming(int iterations) {
    for (size_t reportSize : {size_t{64}, size_t{1024}}) {
        vantor::ReportFramer framer(reportSize);
        std::vector<uint8_t> message(4096, 0x5A);
        std::vector<std::vector<uint8_t>> segments;
        vantor::ReportAssembler assembler;
        std::vector<uint8_t> report(reportSize);
        const auto start = Clock::now();
        size_t complete = 0;
        for (int i = 0; i < iterations; ++i) {
            framer.segment(message.data(), message.size(), segments);
            for (const auto& seg : segments) {
                std::copy(seg.begin(), seg.end(), report.begin());
                complete += assembler.feed(report.data(), report.size());
            }
        }
        const double s = secondsSince(start);
        std::printf("framing   %-9s segment+reassemble 4 KiB: %8.1f MB/s (%zu messages)\n",
                    name(reportSize == 64 ? Model::Teranox : Model::Quillex),
                    iterations * 4096.0 / s / 1e6, complete);
    }
}

void benchRoundTrips(int iterations) {
    for (Model model : {Model::Teranox, Model::Quillex}) {
        vantor::sim::VirtualAdapter adapter(options(model));
        adapter.setRecording(false);
        vantor::VantorSDK sdk(2000);
        if (!sdk.connect(adapter.path())) {
            std::printf("round trip: cannot connect\n");
            return;
        }
        vantor::UsbConfig config;
        const auto start = Clock::now();
        int failures = 0;
        for (int i = 0; i < iterations; ++i) failures += sdk.getUsbConfig(config) != 0;
        const double s = secondsSince(start);
        std::printf("sync      %-9s getUsbConfig round trip: %8.1f us each, %8.0f /s (%d failed)\n",
                    name(model), s / iterations * 1e6, iterations / s, failures);
    }
}

void benchAsyncSends(int iterations) {
    for (Model model : {Model::Teranox, Model::Quillex}) {
        vantor::sim::VirtualAdapter adapter(options(model));
        adapter.setRecording(false);
        std::atomic<int> responses{0};
        std::mutex mutex;
        std::condition_variable done;
        vantor::VantorAsyncSDK sdk;
        sdk.onResponse([&](const std::vector<uint8_t>&) {
            if (++responses == iterations) {
                std::lock_guard<std::mutex> lock(mutex);
                done.notify_all();
            }
        });
        if (!sdk.connect(adapter.path())) return;
        const auto start = Clock::now();
        for (int i = 0; i < iterations; ++i) {
            sdk.getUsbConfig(static_cast<uint16_t>(i % 65535 + 1));
        }
        const double sendSeconds = secondsSince(start);
        std::unique_lock<std::mutex> lock(mutex);
        done.wait_for(lock, std::chrono::seconds(30), [&] { return responses >= iterations; });
        const double s = secondsSince(start);
        std::printf("async     %-9s sends: %8.0f /s; all %d answers received after %.3f s\n",
                    name(model), iterations / sendSeconds, responses.load(), s);
        sdk.disconnect();
    }
}

void benchNotifications(int iterations) {
    for (Model model : {Model::Teranox, Model::Quillex}) {
        vantor::sim::VirtualAdapter adapter(options(model));
        std::atomic<int> received{0};
        std::mutex mutex;
        std::condition_variable done;
        vantor::VantorSDK sdk(2000);
        sdk.onNotification([&](const vantor::Notification& n) {
            if (n.gpio() && ++received == iterations) {
                std::lock_guard<std::mutex> lock(mutex);
                done.notify_all();
            }
        });
        if (!sdk.connect(adapter.path())) return;
        const vantor::sim::Bytes fields = {0x02, 0x01, 0x01};  // pin 3, rising, high
        const auto start = Clock::now();
        for (int i = 0; i < iterations; ++i) adapter.notify(0x1481, fields);
        std::unique_lock<std::mutex> lock(mutex);
        done.wait_for(lock, std::chrono::seconds(30), [&] { return received >= iterations; });
        const double s = secondsSince(start);
        std::printf("notify    %-9s GPIO events delivered: %8.0f /s (%d of %d)\n", name(model),
                    received.load() / s, received.load(), iterations);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 20000;
    benchFraming(iterations);
    benchRoundTrips(iterations / 4);
    benchAsyncSends(iterations);
    benchNotifications(iterations);
    return 0;
}
