// SPDX-License-Identifier: MIT
#pragma once
// Result codes of every device operation. Firmware codes (FW_*) arrive in the
// status field of a response; host codes (SDK_ERROR_*) are produced by the
// library itself and are multiples of 0x2000.

#include <cstdint>

namespace vantor {

// X-macro list so that the enumeration, its name table and the Python binding
// stay in one order.
#define VANTOR_STATUS_CODES(X)                             \
    X(SUCCESS, 0x0000)                                     \
    X(FW_UNSUPPORTED_COMMAND, 0x0001)                      \
    X(FW_INVALID_COMMAND, 0x0002)                          \
    X(FW_FULL_RECEPTION_QUEUE, 0x0003)                     \
    X(FW_INVALID_PARAMETER, 0x0004)                        \
    X(FW_FEATURE_NOT_SUPPORTED_BY_HARDWARE, 0x0005)        \
    X(FW_INTERFACE_NOT_INITIALIZED, 0x0006)                \
    X(FW_INTERFACE_ALREADY_INITIALIZED, 0x0007)            \
    X(FW_BUS_NOT_SUPPORTED, 0x0008)                        \
    X(FW_BUS_TIMEOUT, 0x0009)                              \
    X(FW_RX_FIFO_FULL, 0x000A)                             \
    X(FW_TX_FIFO_EMPTY, 0x000B)                            \
    X(FW_UNHANDLED_ERROR, 0x000C)                          \
    X(FW_INTERFACE_UNAVAILABLE_IN_CDC_MODE, 0x000D)        \
    X(FW_VOLTAGE_OUT_OF_RANGE, 0x0101)                     \
    X(FW_EXTERNAL_VOLTAGE_DETECTED, 0x0102)                \
    X(FW_VOLTAGE_ADJUSTMENT_FAILURE, 0x0103)               \
    X(FW_I3C_PORTS_NOT_POWERED, 0x0104)                    \
    X(FW_BOTH_I3C_PORTS_POWERED, 0x0105)                   \
    X(FW_VOLTAGE_OUT_OF_RANGE_ON_I3C_LV, 0x0106)           \
    X(FW_VOLTAGE_OUT_OF_RANGE_ON_I3C_HV, 0x0107)           \
    X(FW_SETTINGS_SAVE_FAILED, 0x0108)                     \
    X(FW_SHELL_MODE_ACTIVE, 0x0109)                        \
    X(FW_I2C_PULLUP_RESISTOR_SETTING_FAILURE, 0x0201)      \
    X(FW_I2C_ARBITRATION_LOST, 0x0202)                     \
    X(FW_I2C_NACK_ADDRESS, 0x0203)                         \
    X(FW_I2C_NACK_BYTE, 0x0204)                            \
    X(FW_I2C_BIT_ERROR, 0x0205)                            \
    X(FW_I2C_START_STOP_ERROR, 0x0206)                     \
    X(FW_I2C_BUSY, 0x0207)                                 \
    X(FW_I2C_TIMEOUT_CONTINUE_TRANSFER, 0x0208)            \
    X(FW_I2C_TIMEOUT_WAITING_BUS_EVENT, 0x0209)            \
    X(FW_I2C_TIMEOUT_SCL_LOW, 0x020A)                      \
    X(FW_I2C_DMA_REQUEST_FAIL, 0x020B)                     \
    X(FW_I2C_INVALID_PARAMETER, 0x020C)                    \
    X(FW_I2C_NO_TRANSFER_IN_PROGRESS, 0x020D)              \
    X(FW_I2C_UNEXPECTED_STATE, 0x020E)                     \
    X(FW_I2C_BUS_WITH_NO_TARGETS_CONNECTED, 0x020F)        \
    X(FW_I2C_TARGET_STAGING_UNAVAILABLE, 0x0210)           \
    X(FW_I2C_TARGET_SURPASSED_MEMORY_SIZE, 0x0211)         \
    X(FW_I2C_TARGET_PAYLOAD_TRANSFER_FAILED, 0x0212)       \
    X(FW_I2C_TARGET_WRONG_MODEL, 0x0213)                   \
    X(FW_I2C_TARGET_INVALID_CONFIG, 0x0214)                \
    X(FW_I2C_TARGET_REGION_TABLE_FULL, 0x0215)             \
    X(FW_I2C_ROLE_CONFLICT, 0x0216)                        \
    X(FW_SPI_TARGET_STAGING_UNAVAILABLE, 0x0310)           \
    X(FW_SPI_TARGET_SURPASSED_MEMORY_SIZE, 0x0311)         \
    X(FW_SPI_TARGET_PAYLOAD_TRANSFER_FAILED, 0x0312)       \
    X(FW_SPI_TARGET_WRONG_MODEL, 0x0313)                   \
    X(FW_SPI_TARGET_INVALID_CONFIG, 0x0314)                \
    X(FW_SPI_TARGET_REGION_TABLE_FULL, 0x0315)             \
    X(FW_SPI_ROLE_CONFLICT, 0x0316)                        \
    X(FW_UART_IN_VCOM_PORT_MODE, 0x0401)                   \
    X(FW_GPIO_NOT_CONFIGURED, 0x0501)                      \
    X(FW_GPIO_WRONG_CONFIGURATION, 0x0502)                 \
    X(FW_FULL_TARGET_DEVICES_TABLE, 0x0601)                \
    X(FW_NOT_ENOUGH_SPACE_IN_TARGET_DEVICES_TABLE, 0x0602) \
    X(FW_TARGET_DEVICES_TABLE_OVERFLOW, 0x0603)            \
    X(FW_TARGET_ADDRESS_NOT_FOUND_IN_THE_TABLE, 0x0604)    \
    X(FW_REPEATED_TARGET_ADDRESS, 0x0605)                  \
    X(FW_INVALID_TARGET_ADDRESS, 0x0606)                   \
    X(FW_I3C_BUS_INIT_NACK_RSTDAA, 0x0607)                 \
    X(FW_I3C_BUS_INIT_NACK_SETDASA, 0x0608)                \
    X(FW_I3C_BUS_INIT_NACK_SETAASA, 0x0609)                \
    X(FW_I3C_BUS_INIT_NACK_ENTDAA, 0x060A)                 \
    X(FW_I3C_NACK_ADDRESS, 0x060B)                         \
    X(FW_I3C_I2C_NACK_BYTE, 0x060C)                        \
    X(FW_I3C_TRANSFER_ABORTED_BY_CONTROLLER, 0x060D)       \
    X(FW_I3C_TRANSFER_MWL_REACHED, 0x060E)                 \
    X(FW_I3C_TRANSFER_MRL_REACHED, 0x060F)                 \
    X(FW_I3C_TRANSFER_PARITY_ERROR, 0x0610)                \
    X(FW_IBI_REQUEST_ACCEPTED, 0x0611)                     \
    X(FW_IBI_REQUEST_ACCEPTED_WITH_PAYLOAD, 0x0612)        \
    X(FW_IBI_REQUEST_REJECTED, 0x0613)                     \
    X(FW_HJ_REQUEST_ACCEPTED, 0x0614)                      \
    X(FW_HJ_REQUEST_REJECTED, 0x0615)                      \
    X(FW_REGISTER_ADDRESS_OUT_OF_RANGE, 0x0616)            \
    X(FW_SURPASSED_MEMORY_SIZE, 0x0617)                    \
    X(FW_I3C_TRANSFER_CRC_ERROR, 0x0618)                   \
    X(FW_I3C_ENGINE_BUSY, 0x0619)                          \
    X(FW_I3C_TRANSFER_INCOMPLETE_READ, 0x061A)             \
    X(SDK_ERROR_TIMEOUT, 0x2000)                           \
    X(SDK_ERROR_DISCONNECT, 0x4000)                        \
    X(SDK_ERROR_UNEXPECTED_RESPONSE, 0x6000)               \
    X(SDK_ERROR_WRONG_REQUEST, 0x8000)                     \
    X(SDK_ERROR_WRONG_RESPONSE, 0xA000)                    \
    X(SDK_ERROR_BULK_UNAVAILABLE, 0xC000)

enum class StatusCode : uint16_t {
#define VANTOR_STATUS_ENUM(name, value) name = value,
    VANTOR_STATUS_CODES(VANTOR_STATUS_ENUM)
#undef VANTOR_STATUS_ENUM
};

constexpr uint16_t toU16(StatusCode s) {
    return static_cast<uint16_t>(s);
}

// The codes the SDK itself produces, as the u16 every operation returns.
namespace status {
constexpr uint16_t kSuccess = toU16(StatusCode::SUCCESS);
constexpr uint16_t kTimeout = toU16(StatusCode::SDK_ERROR_TIMEOUT);
constexpr uint16_t kDisconnect = toU16(StatusCode::SDK_ERROR_DISCONNECT);
constexpr uint16_t kUnexpectedResponse = toU16(StatusCode::SDK_ERROR_UNEXPECTED_RESPONSE);
constexpr uint16_t kWrongRequest = toU16(StatusCode::SDK_ERROR_WRONG_REQUEST);
constexpr uint16_t kWrongResponse = toU16(StatusCode::SDK_ERROR_WRONG_RESPONSE);
constexpr uint16_t kBulkUnavailable = toU16(StatusCode::SDK_ERROR_BULK_UNAVAILABLE);
}  // namespace status

// Name of a known code, or nullptr for a value the table does not list.
const char* statusCodeName(uint16_t code);

}  // namespace vantor
