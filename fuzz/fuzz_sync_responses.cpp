// SPDX-License-Identifier: MIT
// Arbitrary answers to the synchronous class's requests: every response
// decoder it reaches over the HID interface, fed through a virtual adapter
// whose scripted handler answers with the fuzzer's bytes.
//
// Input: byte 0 picks the command; byte 1 holds the answer flags (bit 0: no
// answer at all; bit 1: the answer keeps the request's transaction id and
// command code in front of the fuzzer's bytes, else the bytes are the whole
// answer; bit 2: a second answer, a copy of the first, follows it); bytes 2
// and 3 are a length argument for the commands that take one; the rest are
// the answer's bytes.
//
// Checked: every call returns (within the engine's timeout); a request
// sent without an answer, or with one too short to carry a transaction id,
// times out; byte outputs are no longer than the answer the adapter sent
// nor than the length asked for where the call promises that (i2cRead);
// the I3C device table holds no entry the answer does not carry; a one-byte
// CCC output or an RSTACT read-back is only ever given from an answer long
// enough to hold it, and GETMRL's IBI size only from a 13-byte one.
//
// One adapter and one connected engine live across runs (a short timeout
// keeps the runs without an answer cheap); the bulk reads are left out, as a
// data phase that never comes costs each run the bulk timeout.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sdk/core/StatusCode.h"
#include "sdk/core/VantorSDK.h"
#include "sim/VirtualAdapter.h"

namespace {

using vantor::sim::Bytes;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

constexpr int kTimeoutMs = 2;
constexpr uint16_t kTimeout = static_cast<uint16_t>(vantor::StatusCode::SDK_ERROR_TIMEOUT);

// What the handler answers in the current run.
struct Script {
    std::mutex mutex;
    bool answer = false;
    bool keepHeader = false;
    bool twice = false;
    Bytes bytes;
};

struct Bench {
    Bench() : adapter(options()), sdk(kTimeoutMs) {
        adapter.setHandler([this](const Bytes& request) {
            std::lock_guard<std::mutex> lock(script.mutex);
            std::vector<Bytes> answers;
            if (!script.answer) return answers;
            Bytes answer;
            if (script.keepHeader) answer.assign(request.begin(), request.begin() + 4);
            answer.insert(answer.end(), script.bytes.begin(), script.bytes.end());
            answers.push_back(answer);
            if (script.twice) answers.push_back(answer);
            return answers;
        });
        check(sdk.connect(adapter.path()), "the engine connects");
    }

    static vantor::sim::AdapterOptions options() {
        vantor::sim::AdapterOptions o;
        o.serial = "FUZZSYNC";
        return o;
    }

    vantor::sim::VirtualAdapter adapter;
    vantor::VantorSDK sdk;
    Script script;
};

Bench& bench() {
    static Bench* const instance = new Bench;  // lives until the process ends
    return *instance;
}

template <class T>
T pick(uint8_t value, std::initializer_list<T> values) {
    return *(values.begin() + value % values.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    Bench& b = bench();
    const uint8_t command = data[0];
    const uint8_t flags = data[1];
    const uint16_t length = static_cast<uint16_t>(data[2] | (data[3] << 8));
    {
        std::lock_guard<std::mutex> lock(b.script.mutex);
        b.script.answer = (flags & 1) == 0;
        b.script.keepHeader = (flags & 2) != 0;
        b.script.twice = (flags & 4) != 0;
        b.script.bytes.assign(data + 4, data + size);
    }
    // The longest answer the adapter sends, header included.
    const size_t answerSize = (b.script.keepHeader ? 4 : 0) + (size - 4);
    // An answer shorter than a transaction id can never be taken.
    const bool unusable = (flags & 1) != 0 || answerSize < 2;
    b.adapter.clear();

    vantor::VantorSDK& sdk = b.sdk;
    uint16_t status = 0;
    Bytes out;
    size_t outLimit = answerSize;
    switch (command % 28) {
        case 0:
            status = sdk.getUsbString(out, static_cast<uint8_t>(length));
            break;
        case 1: {
            vantor::UsbConfig config;
            status = sdk.getUsbConfig(config);
            break;
        }
        case 2: {
            vantor::DeviceInfo info;
            status = sdk.getDeviceInfo(info);
            for (const std::string* s : {&info.manufacturer, &info.productName, &info.serialNumber,
                                         &info.hwVersion, &info.fwVersion}) {
                check(s->size() <= answerSize, "device strings come from the answers");
            }
            break;
        }
        case 3: {
            vantor::GpioLogicLevel level = vantor::GpioLogicLevel::LOW;
            status = sdk.gpioDigitalRead(vantor::GpioPinNumber::PIN_1, level);
            break;
        }
        case 4: {
            uint16_t millivolts = 0;
            status = sdk.i2cGetBusVoltage(millivolts);
            break;
        }
        case 5:
            status = sdk.i2cRead(0, 0x50, {0x10}, length, out, false);
            outLimit = std::min<size_t>(outLimit, length);
            break;
        case 6: {
            uint8_t count7 = 0;
            uint8_t count10 = 0;
            status = sdk.i2cScanBus(out, &count7, &count10, 0, (length & 1) != 0);
            break;
        }
        case 7:
            // The received bytes are those the answer announces, which may
            // be more than the transfer's length: bounded by the answer only.
            status = sdk.spiTransfer(Bytes(length % 300, 0xA5), out, length);
            break;
        case 8:
            status = sdk.i2cWrite(1, 0x20, {}, Bytes(length % 300, 0x5A), (length & 1) != 0);
            break;
        case 9:
            status = sdk.uartSendMessage(Bytes(length % 300 + 1, 'u'));
            break;
        case 10:
            status = sdk.setUsbConfig(vantor::UsbConfig{length & 1u, (length >> 1) & 1u, 0});
            break;
        case 11:
            status = sdk.gpioConfigurePin(
                vantor::GpioPinNumber::PIN_2,
                pick(static_cast<uint8_t>(length), {vantor::GpioFunctionality::DIGITAL_INPUT,
                                                    vantor::GpioFunctionality::DIGITAL_OUTPUT}),
                vantor::GpioLogicLevel::HIGH);
            break;
        case 12:
            status = sdk.spiControllerInit(
                vantor::SpiBitOrder::MSB, vantor::SpiMode::MODE_0, vantor::SpiDataWidth::BITS_8,
                vantor::SpiChipSelect::CS_0, vantor::SpiChipSelectPolarity::ACTIVE_LOW, 1000000);
            break;
        case 14:
            status = sdk.i3cSdrRead(0x30, {0x10}, length, out, vantor::I3cTransferFlags::NONE);
            break;
        case 15:
            status = sdk.i3cHdrDdrRead(0x30, 0x85, length, out, vantor::I3cTransferFlags::NONE);
            break;
        case 16:
            status = sdk.i3cLegacyI2cRead(0x50, {0x00, 0x10}, length, out,
                                          vantor::I3cTransferFlags::NONE);
            break;
        case 17: {
            std::vector<vantor::I3cTargetInfo> table;
            status = sdk.i3cGetDeviceTable(table);
            // One count byte after the header, then 16 bytes per entry.
            check(table.empty() || 7 + 16 * table.size() <= answerSize,
                  "table entries come from the answer");
            break;
        }
        case 18:
            status = sdk.i3cCccGETPID(0x30, out, vantor::I3cTransferFlags::NONE);
            break;
        case 19: {
            // The defining byte is present for odd lengths.
            const std::optional<uint8_t> definingByte =
                (length & 1) != 0 ? std::optional<uint8_t>(static_cast<uint8_t>(length >> 8))
                                  : std::nullopt;
            status = sdk.i3cCccGETSTATUS(0x30, definingByte, out, vantor::I3cTransferFlags::NONE);
            break;
        }
        case 20: {
            // Byte outputs sit at offset 10 of the answer.
            uint8_t bcr = 0;
            status = sdk.i3cCccGETBCR(0x30, bcr, vantor::I3cTransferFlags::NONE);
            check(status != 0 || answerSize >= 11, "GETBCR succeeds only with its byte");
            break;
        }
        case 21: {
            uint16_t mrl = 0;
            std::optional<uint8_t> ibiSize;
            status = sdk.i3cCccGETMRL(0x30, mrl, ibiSize, vantor::I3cTransferFlags::NONE);
            check(status != 0 || answerSize >= 12, "GETMRL succeeds only with its two bytes");
            check(!ibiSize || answerSize >= 13, "the IBI size comes from the answer");
            break;
        }
        case 22: {
            std::optional<uint8_t> readBack;
            status = sdk.i3cCccRSTACTDirect(
                0x30, vantor::I3cTargetResetDefByte::RETURN_TIME_RESET_PERIPHERAL,
                vantor::I3cTransferDirection::READ, readBack, vantor::I3cTransferFlags::NONE);
            check(!readBack || answerSize >= 11, "the read-back byte comes from the answer");
            break;
        }
        case 23: {
            uint16_t first = 0;
            uint16_t second = 0;
            status = sdk.i3cGetBusVoltage(first, second);
            break;
        }
        case 24:
            // Lengths above the target memory are refused before sending.
            status = sdk.i3cTargetReadMemory(static_cast<uint16_t>(length >> 6),
                                             static_cast<uint16_t>(length % 1100), out);
            break;
        case 25: {
            uint32_t memorySize = 0;
            status = sdk.i2cTargetInit(0, 0x50, vantor::I2cTargetAddressMode::BIT_7,
                                       vantor::I2cTargetMemoryLayout::BIT_8,
                                       vantor::I2cTargetModel::EEPROM, memorySize);
            check(memorySize == 0 || (status == 0 && answerSize >= 11),
                  "the memory size comes from a successful answer");
            break;
        }
        case 26: {
            uint32_t memorySize = 0;
            status = sdk.spiTargetInit(
                vantor::SpiMode::MODE_0, vantor::SpiBitOrder::MSB, vantor::SpiChipSelect::CS_0,
                vantor::SpiChipSelectPolarity::ACTIVE_LOW, vantor::SpiTargetModel::FLASH,
                vantor::SpiTargetEngine::DMA, memorySize);
            break;
        }
        case 27: {
            // Up to three targets in the list: the request grows by 16 each.
            std::vector<vantor::I3cTargetInfo> targets(length % 4);
            for (size_t i = 0; i < targets.size(); ++i) {
                targets[i] = vantor::I3cTargetInfo{};
                targets[i].dynamicAddress = static_cast<uint8_t>(0x30 + i);
                targets[i].pid[5] = static_cast<uint8_t>(i + 1);
            }
            status = sdk.i3cInitBus(targets);
            break;
        }
        default:
            status = sdk.uartInit(vantor::UartBaudRate::BAUD_115200,
                                  vantor::UartHwHandshake::DISABLED, vantor::UartParity::NONE,
                                  vantor::UartDataSize::BITS_8, vantor::UartStopBit::ONE);
            break;
    }
    // Refused arguments never reach the adapter; whatever was sent and got
    // no usable answer times out.
    if (unusable && !b.adapter.requests().empty()) {
        check(status == kTimeout, "no usable answer times out");
    }
    check(out.size() <= outLimit, "outputs bounded by the answer and the length asked for");
    return 0;
}
