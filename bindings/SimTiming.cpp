// SPDX-License-Identifier: MIT
// sim.TimingModel: the virtual adapter's timing figures as pure functions,
// in seconds, so that benchmarks compute their lower bounds from the same
// model the adapter waits for.

#include <string>

#include "bindings/SimSupport.h"
#include "sim/timing/TimingModel.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace pyvantorsdk::simbind {

namespace {

namespace timing = vantor::sim::timing;

double seconds(timing::Nanos duration) {
    return std::chrono::duration<double>(duration).count();
}

struct TimingModel {
    TimingModel(const std::string& speedName, vantor::DeviceModel deviceModel,
                double bulkBytesPerSecond)
        : model(simModel(deviceModel)), speed(usbSpeed(speedName, model)) {
        if (speed == timing::UsbSpeed::Off) {
            throw nb::value_error("a timing model is \"full-speed\" or \"high-speed\"");
        }
        if (!(bulkBytesPerSecond >= 0)) {
            throw nb::value_error("a bulk throughput is a number of bytes per second, 0 or more");
        }
        bulkRate =
            bulkBytesPerSecond > 0 ? bulkBytesPerSecond : timing::defaultBulkBytesPerSecond(speed);
    }

    size_t reportSize() const { return model == vantor::sim::Model::Quillex ? 1024 : 64; }

    vantor::sim::Model model;
    timing::UsbSpeed speed;
    double bulkRate = 0;
};

timing::FlashOperation flashKind(const std::string& kind) {
    if (kind == "4k") return timing::FlashOperation::Erase4K;
    if (kind == "32k") return timing::FlashOperation::Erase32K;
    if (kind == "64k") return timing::FlashOperation::Erase64K;
    if (kind == "chip") return timing::FlashOperation::EraseChip;
    throw nb::value_error("an erase is \"4k\", \"32k\", \"64k\" or \"chip\"");
}

}  // namespace

void bindTiming(nb::module_& sim) {
    using M = TimingModel;
    nb::class_<M>(sim, "TimingModel",
                  "The virtual adapter's timing figures, in seconds (USB, buses, devices).")
        .def(nb::init<const std::string&, vantor::DeviceModel, double>(), "speed"_a,
             "model"_a = vantor::DeviceModel::TERANOX, "bulk_bytes_per_second"_a = 0.0)
        .def_prop_ro("report_size", &M::reportSize)
        .def_prop_ro("bulk_bytes_per_second", [](const M& m) { return m.bulkRate; })
        .def(
            "report_interval", [](const M& m) { return seconds(timing::reportInterval(m.speed)); },
            "One interrupt transaction per interval and direction.")
        .def(
            "reports",
            [](const M& m, size_t messageBytes) {
                return timing::reportsFor(messageBytes, m.reportSize());
            },
            "message_bytes"_a, "HID reports a message takes.")
        .def(
            "round_trip",
            [](const M& m, size_t requestBytes, size_t responseBytes) {
                return seconds(
                    timing::roundTrip(m.speed, m.reportSize(), requestBytes, responseBytes));
            },
            "request_bytes"_a, "response_bytes"_a,
            "A request's and its answer's reports, one per interval each way.")
        .def(
            "bulk",
            [](const M& m, size_t bytes) { return seconds(timing::bulk(bytes, m.bulkRate)); },
            "nbytes"_a)
        .def_static(
            "i2c_bytes",
            [](size_t n, uint32_t clockHz) { return seconds(timing::i2cBytes(n, clockHz)); }, "n"_a,
            "clock_hz"_a,
            "One addressed transfer of n bytes: start, address, 9 clocks a byte, stop.")
        .def_static(
            "i2c_transfer",
            [](size_t writeBytes, size_t readBytes, uint32_t clockHz) {
                return seconds(timing::i2cTransfer(writeBytes, readBytes, clockHz));
            },
            "write_bytes"_a, "read_bytes"_a, "clock_hz"_a,
            "A write, then a read after a repeated start when both are given.")
        .def_static(
            "spi_bytes",
            [](size_t n, uint32_t clockHz) { return seconds(timing::spiBytes(n, clockHz)); }, "n"_a,
            "clock_hz"_a)
        .def_static(
            "uart_bytes",
            [](size_t n, uint32_t baud, unsigned dataBits, bool parity, unsigned stopBits) {
                return seconds(timing::uartBytes(
                    n, baud, timing::uartBitsPerByte(dataBits, parity, stopBits)));
            },
            "n"_a, "baud"_a, "data_bits"_a = 8, "parity"_a = false, "stop_bits"_a = 1)
        .def_static(
            "i3c_sdr_bytes",
            [](size_t n, uint32_t pushPullHz, uint32_t openDrainHz) {
                return seconds(timing::i3cSdrBytes(n, pushPullHz, openDrainHz));
            },
            "n"_a, "push_pull_hz"_a, "open_drain_hz"_a)
        .def_static(
            "i3c_ddr_bytes",
            [](size_t n, uint32_t pushPullHz) {
                return seconds(timing::i3cDdrBytes(n, pushPullHz));
            },
            "n"_a, "push_pull_hz"_a)
        .def_static("eeprom_write_cycle", [] { return seconds(timing::kEepromWriteCycle); })
        .def_static(
            "flash_page_program",
            [] { return seconds(timing::flashOperation(timing::FlashOperation::PageProgram, 0)); })
        .def_static(
            "flash_erase",
            [](const std::string& kind, size_t chipBytes) {
                return seconds(timing::flashOperation(flashKind(kind), chipBytes));
            },
            "kind"_a, "chip_bytes"_a = 8 * 1024 * 1024,
            "\"4k\", \"32k\", \"64k\" or \"chip\" (scaled to chip_bytes).");
}

}  // namespace pyvantorsdk::simbind
