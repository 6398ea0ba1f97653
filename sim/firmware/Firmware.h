// SPDX-License-Identifier: MIT
#pragma once
// The virtual adapter's firmware model.
//
// The firmware answers request messages the way the adapter's application
// firmware does. It is made of command families (system, I2C, SPI, ...), one
// `FirmwareFamily` each, which serve their command codes from a table of
// (code, least parameter length, handler) rows. `Firmware` dispatches every
// request through the merged table, answers unknown commands with
// FW_UNSUPPORTED_COMMAND and too short requests with FW_INVALID_PARAMETER,
// and offers the families the adapter's services: answering, notifications,
// the bulk endpoints' data and leaving the application firmware.
//
// A family's state is reached from outside only through its bench object
// ("sim/bench/*Bench.h"), which takes the firmware mutex around each call.
// A new family is: its firmware class here (codes in its own namespace, the
// table in its constructor), one `install` line in Firmware.cpp, a bench
// header and source with its records, the bench's accessor on
// `VirtualAdapter`, and its Python binding in bindings/SimModule.cpp.
//
// Locking: one mutex guards the firmware and every family's state. It is held
// while a family handles a request and while a bench object reads or changes
// a family. Lock order: firmware mutex, then the adapter's mutex (the USB
// side's, in "sim/usb/AdapterState.h"); never the other way round. Scripted
// handlers run without either.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sim/VirtualAdapterCore.h"
#include "sim/usb/Wire.h"

namespace vantor::sim {

// Status codes every command family answers with; a family's own codes are
// in its namespace (e.g. `i2c::status`).
namespace status {
constexpr uint16_t kSuccess = 0x0000;
constexpr uint16_t kUnsupportedCommand = 0x0001;
constexpr uint16_t kInvalidCommand = 0x0002;
constexpr uint16_t kFullReceptionQueue = 0x0003;
constexpr uint16_t kInvalidParameter = 0x0004;
constexpr uint16_t kFeatureNotSupportedByHardware = 0x0005;
constexpr uint16_t kInterfaceNotInitialized = 0x0006;
constexpr uint16_t kInterfaceAlreadyInitialized = 0x0007;
constexpr uint16_t kBusTimeout = 0x0009;
}  // namespace status

constexpr size_t kRequestHeaderSize = 4;   // transaction id, command code
constexpr size_t kResponseHeaderSize = 6;  // ... and the status

// A request message as the firmware sees it. Every accessor is bounded: a
// field beyond the message reads as zero (the dispatcher has already checked
// the command's minimum parameter length, so this only guards mistakes).
class Request {
  public:
    // `message` must hold at least the 4 header bytes.
    explicit Request(const Bytes& message) : message_(message) {}

    uint16_t transactionId() const { return loadU16(message_.data()); }
    uint16_t commandCode() const { return loadU16(message_.data() + 2); }
    const Bytes& message() const { return message_; }

    // Parameters: the bytes after the 4-byte header.
    size_t paramSize() const { return message_.size() - kRequestHeaderSize; }
    const uint8_t* params() const { return message_.data() + kRequestHeaderSize; }
    uint8_t u8(size_t offset) const { return fits(offset, 1) ? params()[offset] : 0; }
    uint16_t u16(size_t offset) const { return fits(offset, 2) ? loadU16(params() + offset) : 0; }
    uint32_t u32(size_t offset) const { return fits(offset, 4) ? loadU32(params() + offset) : 0; }
    // Parameter bytes from `offset`, at most `count` of them.
    std::pair<const uint8_t*, size_t> bytes(size_t offset, size_t count) const {
        if (offset >= paramSize()) return {params() + paramSize(), 0};
        const size_t available = paramSize() - offset;
        return {params() + offset, count < available ? count : available};
    }

  private:
    bool fits(size_t offset, size_t width) const {
        return offset <= paramSize() && width <= paramSize() - offset;
    }

    const Bytes& message_;
};

// Builds an outgoing message field by field.
class MessageBuilder {
  public:
    // A response to `request` with `status`.
    static MessageBuilder response(const Request& request, uint16_t status) {
        return MessageBuilder(request.transactionId(), request.commandCode(), status);
    }
    // A response by transaction id and command code (for answers given after
    // the request message is gone, e.g. at the end of a bulk data phase).
    static MessageBuilder response(uint16_t transactionId, uint16_t code, uint16_t status) {
        return MessageBuilder(transactionId, code, status);
    }
    // A notification (transaction id 0) with its header word.
    static MessageBuilder notification(uint16_t code, uint16_t headerWord = 0) {
        return MessageBuilder(0, code, headerWord);
    }

    MessageBuilder& u8(uint8_t value) {
        putU8(bytes_, value);
        return *this;
    }
    MessageBuilder& u16(uint16_t value) {
        putU16(bytes_, value);
        return *this;
    }
    MessageBuilder& u32(uint32_t value) {
        putU32(bytes_, value);
        return *this;
    }
    MessageBuilder& append(const uint8_t* data, size_t size) {
        bytes_.insert(bytes_.end(), data, data + size);
        return *this;
    }
    MessageBuilder& zeros(size_t count) {
        bytes_.insert(bytes_.end(), count, 0);
        return *this;
    }
    Bytes take() { return std::move(bytes_); }

  private:
    MessageBuilder(uint16_t transactionId, uint16_t code, uint16_t word) {
        bytes_.reserve(32);
        putU16(bytes_, transactionId);
        putU16(bytes_, code);
        putU16(bytes_, word);
    }

    Bytes bytes_;
};

class Firmware;

// A group of the vendor bulk interface. A bulk command's row names its group;
// the bulk capability answer lists each group the rows name, with a command
// mask that has bit n set for every command of the group whose code's low
// five bits are n.
struct BulkGroup {
    uint8_t id = 0;  // 0: not a bulk command
    uint16_t maxPayload = 0;
};
namespace bulk {
constexpr BulkGroup kNone{};
constexpr BulkGroup kI2c{2, 32768};
constexpr BulkGroup kSpi{3, 32768};
constexpr BulkGroup kI3c{6, 32767};
}  // namespace bulk

// One command family of the firmware. A family serves its commands from a
// table of rows (code, least parameter length, handler), given to `serve` in
// its constructor:
//
//     I2cFirmware::I2cFirmware() {
//         serve<I2cFirmware>({
//             {i2c::cmd::kDeinit, 1, &I2cFirmware::deinit},
//             {i2c::cmd::kWriteBulk, 8, &I2cFirmware::writeBulk, bulk::kI2c},
//             ...
//         });
//     }
//
// The firmware reads the table once, at installation. A family's command,
// status and notification codes live in its own namespace (`i2c::cmd`,
// `i2c::status`, ...), so families cannot collide on a generic name.
class FirmwareFamily {
  public:
    using Handler = std::function<void(const Request&, Firmware&)>;
    struct CommandInfo {
        uint16_t code;
        size_t minParams;  // shorter requests are answered FW_INVALID_PARAMETER
        Handler handler;   // runs with the firmware mutex held; may answer nothing
        BulkGroup bulk;    // the bulk group it belongs to, if it is a bulk command
    };

    virtual ~FirmwareFamily() = default;
    FirmwareFamily() = default;
    FirmwareFamily(const FirmwareFamily&) = delete;
    FirmwareFamily& operator=(const FirmwareFamily&) = delete;

    // The command codes this family serves.
    const std::vector<CommandInfo>& commands() const { return commands_; }
    // Back to the power-on state of everything volatile (the reset command).
    // Persistent settings stay.
    virtual void reset() {}
    // The adapter was plugged in and its application firmware starts.
    virtual void powerOn() { reset(); }
    // The family was installed into `firmware`, which outlives it.
    virtual void installed(Firmware&) {}

  protected:
    // One row of a family's command table: a member function of `F`.
    template <class F>
    struct Row {
        uint16_t code;
        size_t minParams;
        void (F::*handler)(const Request&, Firmware&);
        BulkGroup bulk = bulk::kNone;
    };

    // Adds the rows to this family's table; `F` is the family's own class.
    template <class F>
    void serve(std::initializer_list<Row<F>> rows) {
        F* const self = static_cast<F*>(this);
        for (const Row<F>& row : rows) {
            const auto handler = row.handler;
            commands_.push_back(
                CommandInfo{row.code, row.minParams,
                            [self, handler](const Request& request, Firmware& firmware) {
                                (self->*handler)(request, firmware);
                            },
                            row.bulk});
        }
    }

  private:
    std::vector<CommandInfo> commands_;
};

class Firmware {
  public:
    // Called with the bulk OUT bytes a family waited for, or with nothing when
    // the wait was abandoned (a new request arrived first).
    using BulkOutHandler = std::function<void(Firmware&, std::optional<Bytes>)>;

    explicit Firmware(VirtualAdapter::State& adapter);
    ~Firmware();
    Firmware(const Firmware&) = delete;
    Firmware& operator=(const Firmware&) = delete;

    // ------------------------------------------------ for the adapter itself
    // Adds a family; its commands take over codes another family served.
    // The constructor installs the adapter's families; tests may add more
    // (firmware mutex held, or before any traffic).
    void install(std::unique_ptr<FirmwareFamily> family);
    // Handles one reassembled request message (takes the firmware mutex).
    void dispatch(const Bytes& message);
    // The same for the timing scheduler, which runs a request when its turn
    // comes: dropped (false) when the adapter is no longer plugged in the
    // epoch the request arrived in. Bulk OUT bytes are left alone: with
    // timing on the host sends a request's data phase before the request
    // executes, and stale bytes are cleared when a request arrives instead.
    bool dispatchTimed(const Bytes& message, uint64_t epoch);
    // New bytes arrived on bulk OUT (takes the firmware mutex).
    void bulkOutArrived();
    // The adapter lost power: a pending bulk OUT wait is dropped. Firmware
    // mutex held by the caller.
    void powerOffLocked();
    // The adapter was plugged in: every family starts from its power-on
    // state. Firmware mutex held by the caller.
    void powerOnLocked();
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex_); }
    // Runs `fn(*this)` under the firmware mutex.
    template <class Fn>
    decltype(auto) withLock(Fn&& fn) {
        std::lock_guard<std::mutex> guard(mutex_);
        return fn(*this);
    }

    // ------------------------------------------ services for the families
    // (all called with the firmware mutex held, from a family's handler)

    // Answers: a whole message, or only the 6-byte header with `status`.
    void respond(const Bytes& message);
    void respond(const Request& request, uint16_t status);
    // Emits a notification message (transaction id 0), behind earlier answers.
    // False when some open HID handle did not take it whole (a full input
    // queue) or no handle was open to take it.
    bool notify(const Bytes& message);

    // Bulk OUT data received and not yet consumed.
    size_t bulkOutAvailable() const;
    // Takes up to `count` received bulk OUT bytes.
    Bytes takeBulkOut(size_t count);
    // Calls `handler` once `count` bulk OUT bytes are there (at once if they
    // already are). One wait at a time; a new request abandons it.
    void awaitBulkOut(size_t count, BulkOutHandler handler);
    // Queues bytes for the host to read on bulk IN.
    void queueBulkIn(const uint8_t* data, size_t size);

    // Leaves the application firmware: the adapter unplugs itself.
    void leaveApplication();
    // Every family back to its power-on volatile state (the reset command).
    void resetVolatileState();

    // ------------------------------------------ request and answer faults
    // (firmware mutex held; set through FaultBench)
    // The next `count` requests are turned away unexecuted with
    // FW_FULL_RECEPTION_QUEUE, as when the request queue has no room.
    void turnAwayRequests(int count) { turnAway_ = count > 0 ? count : 0; }
    // The next `count` answers are lost (their requests did run).
    void loseAnswers(int count) { loseAnswers_ = count > 0 ? count : 0; }
    // While held, answers wait in the adapter; releasing sends the waiting
    // ones in order. Losing power drops them.
    void holdAnswers(bool hold);

    // Facts and settings of the adapter the firmware runs on.
    VirtualAdapter::State& adapter() { return adapter_; }
    Model model() const;
    Identity identity() const;
    const std::string& serial() const;

    // The installed family of type F; null when there is none.
    template <class F>
    F* find() {
        for (const auto& family : families_) {
            if (auto* typed = dynamic_cast<F*>(family.get())) return typed;
        }
        return nullptr;
    }
    template <class F>
    F& family() {
        F* typed = find<F>();
        if (typed == nullptr) std::terminate();  // every family is installed at construction
        return *typed;
    }

  private:
    struct BulkOutWait {
        size_t count;
        BulkOutHandler handler;
    };

    void completeBulkOutWait();
    void dispatchLocked(const Bytes& message);

    VirtualAdapter::State& adapter_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<FirmwareFamily>> families_;
    std::unordered_map<uint16_t, FirmwareFamily::CommandInfo> commands_;
    std::optional<BulkOutWait> bulkOutWait_;
    int turnAway_ = 0;
    int loseAnswers_ = 0;
    bool holdAnswers_ = false;
    std::vector<Bytes> heldAnswers_;
};

}  // namespace vantor::sim
