// SPDX-License-Identifier: MIT
// The catalog joins the families' command rows into one table and states
// the notification layouts (their decoder is Notification.cpp).

#include "sdk/core/CommandCatalog.h"

#include <iterator>
#include <string_view>

#include "sdk/core/Protocol.h"
#include "sdk/core/SystemLayouts.h"
#include "sdk/i3c/I3cLayouts.h"
#include "sdk/peripherals/I2cLayouts.h"
#include "sdk/peripherals/SpiLayouts.h"
#include "sdk/peripherals/UartGpioLayouts.h"

namespace vantor {

namespace {

using namespace layout;

constexpr auto kCommands =
    join(device::layouts::kCommands, i2c::layouts::kCommands, i2c_target::layouts::kCommands,
         spi::layouts::kCommands, spi_target::layouts::kCommands, uart::layouts::kCommands,
         gpio::layouts::kCommands, i3c::layouts::kCommands, i3c_target::layouts::kCommands);

// Notification bodies start at offset 6, after a u16 header word.
constexpr FieldLayout kHotJoinFields[] = {bytes("pid", "6"), u8("bcr"), u8("dcr"),
                                          u8("dynamic_address")};
// The payload is delivered as far as the message holds it.
constexpr FieldLayout kIbiFields[] = {u8("address"), u8("length"), bytes("data", "length")};
constexpr FieldLayout kGpioFields[] = {u8("pin", "GpioPinNumber"), u8("edge", "GpioTriggerType"),
                                       u8("level", "GpioLogicLevel")};
constexpr FieldLayout kUartFields[] = {u16("length"), bytes("data", "length")};
constexpr FieldLayout kConnectorFields[] = {u8("port", "I3cConnectorPort"),
                                            u8("event", "I3cConnectorEvent"),
                                            u8("connector_type", "I3cConnectorType")};
// Target bus events of every family: event, target address (chip select
// for SPI), memory address, length, then the bytes the transfer moved, when
// the event carries them (the SDK's decoder reads only the first four).
constexpr FieldLayout kI2cTargetFields[] = {u8("event"), u8("address"), u16("memory_address"),
                                            u16("length"), optional(bytes("data", "length"))};
constexpr FieldLayout kSpiTargetFields[] = {u8("event"), u8("chip_select", "SpiChipSelect"),
                                            u16("memory_address"), u16("length"),
                                            optional(bytes("data", "length"))};
constexpr FieldLayout kI3cTargetFields[] = {u8("event", "I3cTargetBusEventKind"), u8("address"),
                                            u16("memory_address"), u16("length"),
                                            optional(bytes("data", "length"))};

constexpr NotificationDescription kNotifications[] = {
    {"NOTIF_I3C_CONNECTOR_EVENT", kNotifCodeI3cConnector, NOTIF_I3C_CONNECTOR_EVENT, "i3c",
     kConnectorFields},
    {"NOTIF_I2C_TARGET_BUS_EVENT", kNotifCodeI2cTargetBusEvent, NOTIF_I2C_TARGET_BUS_EVENT, "i2c",
     kI2cTargetFields},
    {"NOTIF_SPI_TARGET_BUS_EVENT", kNotifCodeSpiTargetBusEvent, NOTIF_SPI_TARGET_BUS_EVENT, "spi",
     kSpiTargetFields},
    {"NOTIF_UART", kNotifCodeUart, NOTIF_UART, "uart", kUartFields},
    {"NOTIF_GPIO", kNotifCodeGpio, NOTIF_GPIO, "gpio", kGpioFields},
    {"NOTIF_I3C_IBI", kNotifCodeI3cIbi, NOTIF_I3C_IBI, "i3c", kIbiFields},
    {"NOTIF_I3C_HJ", kNotifCodeI3cHotJoin, NOTIF_I3C_HJ, "i3c", kHotJoinFields},
    {"NOTIF_I3C_TARGET_BUS_EVENT", kNotifCodeI3cTargetBusEvent, NOTIF_I3C_TARGET_BUS_EVENT, "i3c",
     kI3cTargetFields},
};

// Value of a count: digits, or the earlier field `count` names.
bool countOf(FieldList fields, size_t index, const std::vector<LayoutWalk::Field>& found,
             size_t rest, uint64_t& count) {
    const std::string_view text = fields[index].count;
    if (text == "*") {
        count = rest;
        return true;
    }
    if (text.empty()) return false;
    if (text.find_first_not_of("0123456789") == std::string_view::npos) {
        count = 0;
        for (char digit : text) count = count * 10 + static_cast<uint64_t>(digit - '0');
        return true;
    }
    for (size_t i = 0; i < index && i < found.size(); ++i) {
        if (text == fields[i].name && fields[i].type != FieldType::Bytes) {
            count = found[i].value;
            return true;
        }
    }
    return false;
}

uint64_t readScalar(FieldType type, const uint8_t* p) {
    switch (type) {
        case FieldType::U8:
            return p[0];
        case FieldType::U16:
            return readU16le(p);
        case FieldType::U16Be:
            return static_cast<uint64_t>(p[0]) << 8 | p[1];
        case FieldType::U32:
            return readU32le(p);
        case FieldType::Bytes:
            break;
    }
    return 0;
}

}  // namespace

CatalogView<CommandDescription> commandCatalog() {
    return {kCommands.data(), kCommands.size()};
}

CatalogView<NotificationDescription> notificationCatalog() {
    return {kNotifications, std::size(kNotifications)};
}

const CommandDescription* findCommand(uint16_t code) {
    for (const CommandDescription& command : kCommands) {
        if (command.info.code == code) return &command;
    }
    return nullptr;
}

LayoutWalk walkLayout(FieldList fields, const uint8_t* parameters, size_t length) {
    LayoutWalk walk;
    walk.fields.reserve(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldLayout& field = fields[i];
        const size_t rest = length - walk.consumed;
        // An optional field may be absent, and with it everything after it.
        if (rest == 0 && field.optional) break;
        uint64_t size = fieldWidth(field.type);
        if (field.type == FieldType::Bytes && !countOf(fields, i, walk.fields, rest, size)) {
            walk.outcome = LayoutWalk::Outcome::BadCount;
            return walk;
        }
        if (size > rest) {
            walk.outcome = LayoutWalk::Outcome::Truncated;
            return walk;
        }
        const uint8_t* at = parameters + walk.consumed;
        const uint64_t value = field.type == FieldType::Bytes ? size : readScalar(field.type, at);
        walk.fields.push_back({walk.consumed, static_cast<size_t>(size), value});
        walk.consumed += static_cast<size_t>(size);
    }
    if (walk.consumed < length) walk.outcome = LayoutWalk::Outcome::Trailing;
    return walk;
}

}  // namespace vantor
