// SPDX-License-Identifier: MIT
// Commands of the target roles: the adapter emulating an I2C device, an SPI
// device and an I3C target. The I2C and SPI memory transfers run over the
// vendor bulk interface and exist on DeviceFacade alone.

#include <algorithm>
#include <array>
#include <cstdint>
#include <tuple>

#include "bindings/AsyncFacadeCommands.h"
#include "bindings/Commands.h"
#include "bindings/Convert.h"
#include "bindings/Errors.h"
#include "bindings/FacadeBatch.h"
#include "sdk/i3c/I3cTargetTypes.h"
#include "sdk/peripherals/I2cTargetTypes.h"
#include "sdk/peripherals/I2cTypes.h"
#include "sdk/peripherals/SpiTargetTypes.h"
#include "sdk/peripherals/SpiTypes.h"

using namespace nanobind::literals;

namespace pyvantorsdk {

namespace {

// The size of the emulated memory that a target init reports.
struct MemorySize {
    using Storage = uint32_t;
    static auto refs(Storage& s) { return std::tie(s); }
    static uint32_t result(Storage s) { return s; }
};

using Bus = EnumArg<vantor::I2cBus>;
using AddressMode = EnumArg<vantor::I2cTargetAddressMode>;
using I2cLayout = EnumArg<vantor::I2cTargetMemoryLayout>;
using I2cModel = EnumArg<vantor::I2cTargetModel>;
using BusyBehavior = EnumArg<vantor::I2cTargetEepromBusyBehavior>;
using EraseScope = EnumArg<vantor::I2cTargetEraseScope>;
using Access = EnumArg<vantor::I2cTargetRegisterAccess>;

using Mode = EnumArg<vantor::SpiMode>;
using BitOrder = EnumArg<vantor::SpiBitOrder>;
using ChipSelect = EnumArg<vantor::SpiChipSelect>;
using Polarity = EnumArg<vantor::SpiChipSelectPolarity>;
using SpiModel = EnumArg<vantor::SpiTargetModel>;
using Engine = EnumArg<vantor::SpiTargetEngine>;

using I3cLayout = EnumArg<vantor::I3cTargetMemoryLayout>;

// The JEDEC identification as the flash configuration carries it: at most 8
// bytes, zero-padded to the whole field. A longer one is refused here,
// before the SDK sees it, as the adapter would refuse it.
struct JedecField {
    std::array<uint8_t, vantor::SPI_TARGET_JEDEC_ID_FIELD> bytes{};
    uint8_t length = 0;
};
JedecField jedecField(const ByteArg& jedecId, const char* operation) {
    if (jedecId.value.size() > vantor::SPI_TARGET_JEDEC_ID_FIELD) {
        checkStatus(vantor::status::kWrongRequest, operation);
    }
    JedecField field;
    field.length = static_cast<uint8_t>(jedecId.value.size());
    std::copy(jedecId.value.begin(), jedecId.value.end(), field.bytes.begin());
    return field;
}

// clang-format off
template <class G>
void describeI2cTarget(G& g) {
    g.command("i2c_target_init",
        "Emulate an I2C device at address on a bus; returns the emulated memory's size.",
        [](auto sdk, Bus bus, uint16_t address, AddressMode addressMode, I2cLayout layout,
           I2cModel model) {
            return sdk(VANTOR_SDK(i2cTargetInit), bus.byte(), address, addressMode, layout, model,
                       out<MemorySize>);
        },
        "bus"_a, "address"_a, "address_mode"_a, "memory_layout"_a, "model"_a);
    g.command("i2c_target_set_parameters",
        "Change the emulated I2C device's settings; returns the emulated memory's size.",
        [](auto sdk, Bus bus, uint16_t address, AddressMode addressMode, I2cLayout layout,
           I2cModel model) {
            return sdk(VANTOR_SDK(i2cTargetSetParameters), bus.byte(), address, addressMode,
                       layout, model, out<MemorySize>);
        },
        "bus"_a, "address"_a, "address_mode"_a, "memory_layout"_a, "model"_a);
    g.command("i2c_target_set_eeprom_config",
        "Shape the emulated EEPROM: sizes, cycle times in microseconds, busy behaviour, erased "
        "value and write-protected range.",
        [](auto sdk, uint16_t totalSize, uint16_t pageSize, uint32_t writeCycleUs,
           uint32_t eraseCycleUs, BusyBehavior busy, uint8_t erasedValue, uint16_t wpStart,
           uint16_t wpEnd) {
            return sdk(VANTOR_SDK(i2cTargetSetEepromConfig), totalSize, pageSize, writeCycleUs,
                       eraseCycleUs, busy, erasedValue, wpStart, wpEnd);
        },
        "total_size"_a, "page_size"_a, "write_cycle_us"_a, "erase_cycle_us"_a, "busy_behavior"_a,
        "erased_value"_a, "wp_start"_a, "wp_end"_a);
    g.command("i2c_target_erase", "Erase the page holding address, or the whole emulated EEPROM.",
        [](auto sdk, EraseScope scope, uint16_t address) {
            return sdk(VANTOR_SDK(i2cTargetErase), scope, address);
        },
        "scope"_a, "address"_a);
    g.command("i2c_target_set_register_region",
        "Give a region of the emulated register map its access rule.",
        [](auto sdk, uint16_t startAddress, uint16_t endAddress, Access access, uint8_t width,
           uint8_t flags) {
            return sdk(VANTOR_SDK(i2cTargetSetRegisterRegion), startAddress, endAddress, access,
                       width, flags);
        },
        "start_address"_a, "end_address"_a, "access"_a, "width"_a, "flags"_a);
    g.syncOnly("i2c_target_write_memory",
        "Fill the emulated I2C device's memory (1 to 32768 bytes, over the vendor bulk "
        "interface).",
        [](auto sdk, uint16_t memoryAddress, const ByteArg& data) {
            return sdk(VANTOR_SDK(i2cTargetWriteMemory), memoryAddress, data);
        },
        "memory_address"_a, "data"_a);
    g.syncOnly("i2c_target_read_memory",
        "Read the emulated I2C device's memory (1 to 32768 bytes, over the vendor bulk "
        "interface).",
        [](auto sdk, uint16_t memoryAddress, uint16_t length) {
            return sdk(VANTOR_SDK(i2cTargetReadMemory), memoryAddress, length, out<Bytes>);
        },
        "memory_address"_a, "length"_a);
}

template <class G>
void describeSpiTarget(G& g) {
    g.command("spi_target_init",
        "Emulate an SPI device on a chip select; returns the emulated memory's size.",
        [](auto sdk, Mode mode, BitOrder order, ChipSelect cs, Polarity polarity, SpiModel model,
           Engine engine) {
            return sdk(VANTOR_SDK(spiTargetInit), mode, order, cs, polarity, model, engine,
                       out<MemorySize>);
        },
        "mode"_a, "bit_order"_a, "chip_select"_a, "chip_select_polarity"_a, "model"_a, "engine"_a);
    g.command("spi_target_set_parameters",
        "Change the emulated SPI device's settings; returns the emulated memory's size.",
        [](auto sdk, Mode mode, BitOrder order, ChipSelect cs, Polarity polarity, SpiModel model,
           Engine engine) {
            return sdk(VANTOR_SDK(spiTargetSetParameters), mode, order, cs, polarity, model,
                       engine, out<MemorySize>);
        },
        "mode"_a, "bit_order"_a, "chip_select"_a, "chip_select_polarity"_a, "model"_a, "engine"_a);
    g.command("spi_target_set_flash_config",
        "Shape the emulated serial flash: address bytes, page size, write cycle in microseconds, "
        "JEDEC identification (at most 8 bytes) and flags.",
        [](auto sdk, uint8_t addressBytes, uint16_t pageSize, uint32_t writeCycleUs,
           const ByteArg& jedecId, uint8_t flags) {
            const JedecField field = jedecField(jedecId, "spi_target_set_flash_config");
            return sdk(VANTOR_SDK(spiTargetSetFlashConfig), addressBytes, pageSize, writeCycleUs,
                       field.length, field.bytes.data(), flags);
        },
        "address_bytes"_a, "page_size"_a, "write_cycle_us"_a, "jedec_id"_a, "flags"_a);
    g.syncOnly("spi_target_write_memory",
        "Fill the emulated SPI device's memory (1 to 32768 bytes, over the vendor bulk "
        "interface).",
        [](auto sdk, uint16_t memoryAddress, const ByteArg& data) {
            return sdk(VANTOR_SDK(spiTargetWriteMemory), memoryAddress, data);
        },
        "memory_address"_a, "data"_a);
    g.syncOnly("spi_target_read_memory",
        "Read the emulated SPI device's memory (1 to 32768 bytes, over the vendor bulk "
        "interface).",
        [](auto sdk, uint16_t memoryAddress, uint16_t length) {
            return sdk(VANTOR_SDK(spiTargetReadMemory), memoryAddress, length, out<Bytes>);
        },
        "memory_address"_a, "length"_a);
}

template <class G>
void describeI3cTarget(G& g) {
    g.command("i3c_target_init",
        "Present the adapter as an I3C target: memory layout, 6-byte PID (most significant "
        "first), BCR, DCR, 7-bit static address, MWL and MRL (at most 1024).",
        [](auto sdk, I3cLayout layout, const ByteArg& pid, uint8_t bcr, uint8_t dcr,
           uint8_t staticAddress, uint16_t mwl, uint16_t mrl) {
            return sdk(VANTOR_SDK(i3cTargetInit), layout, pid, vantor::I3cBCR{bcr}, dcr,
                       staticAddress, mwl, mrl);
        },
        "memory_layout"_a, "pid"_a, "bcr"_a, "dcr"_a, "static_address"_a, "mwl"_a = 1024,
        "mrl"_a = 1024);
    g.command("i3c_target_set_parameters", "Change the I3C target's identity (as i3c_target_init).",
        [](auto sdk, I3cLayout layout, const ByteArg& pid, uint8_t bcr, uint8_t dcr,
           uint8_t staticAddress, uint16_t mwl, uint16_t mrl) {
            return sdk(VANTOR_SDK(i3cTargetSetParameters), layout, pid, vantor::I3cBCR{bcr}, dcr,
                       staticAddress, mwl, mrl);
        },
        "memory_layout"_a, "pid"_a, "bcr"_a, "dcr"_a, "static_address"_a, "mwl"_a = 1024,
        "mrl"_a = 1024);
    g.command("i3c_target_write_memory",
        "Write the I3C target's 1024-byte memory from memory_address on.",
        [](auto sdk, uint16_t memoryAddress, const ByteArg& data) {
            return sdk(VANTOR_SDK(i3cTargetWriteMemory), memoryAddress, data);
        },
        "memory_address"_a, "data"_a);
    g.command("i3c_target_read_memory",
        "Read length bytes of the I3C target's 1024-byte memory from memory_address on.",
        [](auto sdk, uint16_t memoryAddress, uint16_t length) {
            return sdk(VANTOR_SDK(i3cTargetReadMemory), memoryAddress, length, out<Bytes>);
        },
        "memory_address"_a, "length"_a);
}
// clang-format on

template <class G>
void describe(G& g) {
    describeI2cTarget(g);
    describeSpiTarget(g);
    describeI3cTarget(g);
}

}  // namespace

void describeTargets(FacadeBuilder& g) {
    describe(g);
}
void describeTargets(AsyncCommandsBuilder& g) {
    describe(g);
}
void describeTargets(BatchBuilder& g) {
    describe(g);
}

}  // namespace pyvantorsdk
