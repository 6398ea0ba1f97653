// SPDX-License-Identifier: MIT
#include "sim/firmware/I3cFirmware.h"

#include <algorithm>
#include <array>
#include <utility>

#include "sim/firmware/I3cTargetFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr size_t kTransferHeaderSize = 10;  // parameter bytes of the transfer header
constexpr uint8_t kMaxSubaddressSize = 4;
constexpr uint8_t kModeHdrDdr = 1;
constexpr uint8_t kModeLegacyI2c = 2;
constexpr uint8_t kHdrReadCommand = 0x80;  // HDR-DDR commands 0x80..0xFF read
constexpr uint8_t kMaxPushPullRate = 21;
constexpr uint8_t kMaxOpenDrainRate = 4;
constexpr uint8_t kMaxI2cRate = 4;
constexpr uint8_t kMaxDriveStrength = 1;
constexpr uint8_t kMaxIbiPayload = 255;  // the notification counts it in one byte
constexpr uint8_t kFirstStaticAddress = 0x08;
constexpr uint8_t kLastStaticAddress = 0x77;

// HDR-DDR moves whole 16-bit words, at least one, over either channel.
bool wholeWords(uint16_t length) {
    return length != 0 && length % 2 == 0;
}

}  // namespace

I3cFirmware::I3cFirmware() {
    serve<I3cFirmware>({
        {i3c::cmd::kControllerInit, 4, &I3cFirmware::configure},
        {i3c::cmd::kSetParameters, 4, &I3cFirmware::configure},
        {i3c::cmd::kInitBus, 1, &I3cFirmware::initBus},
        {i3c::cmd::kResetBus, 0, &I3cFirmware::resetBus},
        {i3c::cmd::kGetDeviceTable, 0, &I3cFirmware::getDeviceTable},
        {i3c::cmd::kSetTargetConfiguration, 2, &I3cFirmware::setTargetConfiguration},
        {i3c::cmd::kTransfer, kTransferHeaderSize, &I3cFirmware::transfer},
        {i3c::cmd::kCcc, kCccHeaderSize, &I3cFirmware::ccc},
        {i3c::cmd::kPattern, 1, &I3cFirmware::pattern},
        {i3c::cmd::kTransferBulk, kTransferHeaderSize, &I3cFirmware::transferBulk, bulk::kI3c},
    });
}

void I3cFirmware::reset() {
    controller_ = I3cControllerState{};
    table_.clear();
    for (auto& entry : targets_) entry.second->resetBusState();
}

bool I3cFirmware::validStaticAddress(uint8_t address) {
    return address >= kFirstStaticAddress && address <= kLastStaticAddress;
}

bool I3cFirmware::validDynamicAddress(uint8_t address) {
    if (address < 0x08 || address > 0x7D) return false;
    // One bit away from the broadcast address: a corrupted 0x7E would match.
    const uint8_t difference = static_cast<uint8_t>(address ^ kBroadcastAddress);
    return (difference & (difference - 1)) != 0;
}

// ------------------------------------------------------------------- bench

std::optional<I3cTargetState> I3cFirmware::attach(const I3cTargetOptions& options) {
    if (!I3cTarget::valid(options) || targets_.count(options.pid) != 0) return std::nullopt;
    if (options.staticAddress) {
        if (i2c_.count(*options.staticAddress) != 0) return std::nullopt;
        for (const auto& entry : targets_) {
            if (entry.second->options().staticAddress == options.staticAddress) return std::nullopt;
        }
    }
    auto created = std::make_shared<I3cTarget>(options);
    targets_.emplace(options.pid, created);
    return created->state();
}

bool I3cFirmware::detach(uint64_t pid) {
    return targets_.erase(pid) > 0;
}

I3cTarget* I3cFirmware::target(uint64_t pid) const {
    const auto it = targets_.find(pid);
    return it == targets_.end() ? nullptr : it->second.get();
}

std::vector<I3cTargetState> I3cFirmware::targets() const {
    std::vector<I3cTargetState> states;
    for (const auto& entry : targets_) states.push_back(entry.second->state());
    return states;
}

bool I3cFirmware::attachI2c(uint8_t address, std::shared_ptr<I2cTarget> device) {
    if (!validStaticAddress(address) || !device || byStaticAddress(address) != nullptr) {
        return false;
    }
    for (const auto& entry : targets_) {
        if (entry.second->options().staticAddress == address) return false;
    }
    return i2c_.emplace(address, std::move(device)).second;
}

bool I3cFirmware::detachI2c(uint8_t address) {
    return i2c_.erase(address) > 0;
}

I2cTarget* I3cFirmware::i2cDevice(uint8_t address) const {
    const auto it = i2c_.find(address);
    return it == i2c_.end() ? nullptr : it->second.get();
}

std::vector<uint8_t> I3cFirmware::i2cAddresses() const {
    std::vector<uint8_t> out;
    out.reserve(i2c_.size());
    for (const auto& entry : i2c_) out.push_back(entry.first);
    return out;
}

I3cEventOutcome I3cFirmware::raiseIbi(uint64_t pid, const Bytes& payload, Firmware& firmware) {
    I3cTarget* const raising = target(pid);
    if (raising == nullptr) return I3cEventOutcome::NoSuchTarget;
    if (!raising->dynamicAddress()) return I3cEventOutcome::NotOnBus;
    const uint8_t bcr = raising->bcr();
    if ((bcr & i3c::bcr::kIbiCapable) == 0) return I3cEventOutcome::NotCapable;
    if (!payload.empty() && (bcr & i3c::bcr::kIbiPayload) == 0) return I3cEventOutcome::NotCapable;
    const uint8_t limit = raising->state().maxIbiPayload;
    if (payload.size() > kMaxIbiPayload || (limit != 0 && payload.size() > limit)) {
        return I3cEventOutcome::PayloadTooLong;
    }
    if ((raising->events() & i3c::event::kInterrupt) == 0) {
        // The target keeps the interrupt pending; GETSTATUS shows it.
        raising->setPendingInterrupt(true);
        return I3cEventOutcome::Disabled;
    }
    const bool reached = firmware.notify(MessageBuilder::notification(i3c::notification::kIbi)
                                             .u8(*raising->dynamicAddress())
                                             .u8(static_cast<uint8_t>(payload.size()))
                                             .append(payload.data(), payload.size())
                                             .take());
    return reached ? I3cEventOutcome::Reported : I3cEventOutcome::Dropped;
}

I3cEventOutcome I3cFirmware::requestHotJoin(uint64_t pid, Firmware& firmware) {
    I3cTarget* const joining = target(pid);
    if (joining == nullptr) return I3cEventOutcome::NoSuchTarget;
    if (joining->dynamicAddress()) return I3cEventOutcome::NotOnBus;
    // The controller refuses the request (NACKs the hot-join address) while
    // hot-join is disabled; the target stays without an address.
    if (!controller_.hotJoinEnabled) return I3cEventOutcome::Disabled;
    const auto pid6 = joining->pidBytes();
    const bool reached =
        firmware.notify(MessageBuilder::notification(i3c::notification::kHotJoin)
                            .append(pid6.data(), pid6.size())
                            .u8(joining->bcr())
                            .u8(joining->options().dcr)
                            .u8(0)  // no dynamic address yet: the host's ENTDAA gives one
                            .take());
    return reached ? I3cEventOutcome::Reported : I3cEventOutcome::Dropped;
}

std::vector<I3cTableEntry> I3cFirmware::deviceTable() const {
    std::vector<I3cTableEntry> entries = table_;
    // The limits are what the controller last set or read.
    for (I3cTableEntry& entry : entries) {
        const I3cTarget* const known = target(entry.pid);
        if (known == nullptr || !known->dynamicAddress()) continue;
        const I3cTargetState state = known->state();
        entry.dynamicAddress = *state.dynamicAddress;
        entry.mwl = state.mwl;
        entry.mrl = state.mrl;
        entry.maxIbiPayload = state.maxIbiPayload;
    }
    return entries;
}

// ------------------------------------------------------------ address space

I3cTarget* I3cFirmware::byDynamicAddress(uint8_t address) const {
    for (const auto& entry : targets_) {
        if (entry.second->dynamicAddress() == address) return entry.second.get();
    }
    return nullptr;
}

I3cTarget* I3cFirmware::byStaticAddress(uint8_t address) const {
    for (const auto& entry : targets_) {
        const I3cTarget& each = *entry.second;
        if (!each.dynamicAddress() && each.options().staticAddress == address) {
            return entry.second.get();
        }
    }
    return nullptr;
}

bool I3cFirmware::addressInUse(uint8_t address) const {
    if (i2c_.count(address) != 0 || byDynamicAddress(address) != nullptr ||
        isGroupAddress(address)) {
        return true;
    }
    return std::any_of(table_.begin(), table_.end(),
                       [&](const I3cTableEntry& entry) { return entry.dynamicAddress == address; });
}

bool I3cFirmware::isGroupAddress(uint8_t address) const {
    return std::any_of(targets_.begin(), targets_.end(),
                       [&](const auto& entry) { return entry.second->groupAddress() == address; });
}

bool I3cFirmware::takesStaticAddress(const I3cTarget& candidate) const {
    const auto fixed = candidate.options().staticAddress;
    return !candidate.dynamicAddress() && fixed && validDynamicAddress(*fixed) &&
           !addressInUse(*fixed);
}

std::optional<uint8_t> I3cFirmware::freeAddress(const std::set<uint8_t>& reserved) const {
    for (uint8_t address = 0x08; address <= 0x7D; ++address) {
        if (validDynamicAddress(address) && reserved.count(address) == 0 &&
            !addressInUse(address)) {
            return address;
        }
    }
    return std::nullopt;
}

std::vector<I3cTableEntry> I3cFirmware::parseTargetList(const uint8_t* data, size_t count) {
    std::vector<I3cTableEntry> list(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* record = data + i * kTargetRecordSize;
        I3cTableEntry& entry = list[i];
        entry.staticAddress = record[0];
        entry.dynamicAddress = record[1];
        for (size_t b = 0; b < 6; ++b) entry.pid = (entry.pid << 8) | record[2 + b];
        entry.bcr = record[8];
        entry.dcr = record[9];
        entry.mwl = loadU16(record + 10);
        entry.mrl = loadU16(record + 12);
        entry.maxIbiPayload = record[14];
        entry.configuration = record[15];
    }
    return list;
}

uint16_t I3cFirmware::checkTargetList(const std::vector<I3cTableEntry>& list) const {
    // The dynamic address each entry asks for: the wanted one, or its static
    // address when it has one and wants none (SETAASA).
    const auto wantedAddress = [](const I3cTableEntry& entry) -> uint8_t {
        return entry.dynamicAddress != 0 ? entry.dynamicAddress : entry.staticAddress;
    };
    for (const I3cTableEntry& entry : list) {
        if (entry.staticAddress != 0 && !validStaticAddress(entry.staticAddress)) {
            return i3c::status::kInvalidAddress;
        }
        const uint8_t wanted = wantedAddress(entry);
        if (wanted != 0 && !validDynamicAddress(wanted)) return i3c::status::kInvalidAddress;
    }
    std::set<uint8_t> statics;
    std::set<uint8_t> dynamics;
    for (const I3cTableEntry& entry : list) {
        if (entry.staticAddress != 0 && !statics.insert(entry.staticAddress).second) {
            return i3c::status::kRepeatedAddress;
        }
        const uint8_t wanted = wantedAddress(entry);
        if (wanted == 0) continue;
        // Two targets cannot share an address, nor a target a legacy device's.
        if (!dynamics.insert(wanted).second || i2c_.count(wanted) != 0) {
            return i3c::status::kRepeatedAddress;
        }
    }
    return status::kSuccess;
}

bool I3cFirmware::enterInTable(const I3cTarget& entered, uint8_t configuration) {
    I3cTableEntry entry;
    entry.staticAddress = entered.options().staticAddress.value_or(0);
    entry.dynamicAddress = entered.dynamicAddress().value_or(0);
    entry.pid = entered.pid();
    entry.bcr = entered.bcr();
    entry.dcr = entered.options().dcr;
    const I3cTargetState state = entered.state();
    entry.mwl = state.mwl;
    entry.mrl = state.mrl;
    entry.maxIbiPayload = state.maxIbiPayload;
    entry.configuration = configuration;
    for (I3cTableEntry& existing : table_) {
        if (existing.pid == entry.pid) {
            existing = entry;
            return true;
        }
    }
    if (table_.size() >= kTableCapacity) return false;
    table_.push_back(entry);
    return true;
}

void I3cFirmware::forgetInTable(uint64_t pid) {
    table_.erase(std::remove_if(table_.begin(), table_.end(),
                                [pid](const I3cTableEntry& entry) { return entry.pid == pid; }),
                 table_.end());
}

uint16_t I3cFirmware::runEntdaa(const std::vector<I3cTableEntry>& wanted, std::set<uint64_t>& won) {
    std::set<uint8_t> reserved;
    for (const I3cTableEntry& entry : wanted) {
        if (entry.dynamicAddress != 0) reserved.insert(entry.dynamicAddress);
    }
    bool repeated = false;
    for (;;) {
        // Arbitration: every target without an address sends its id, BCR
        // and DCR bit by bit with open drain; the lowest value wins.
        I3cTarget* winner = nullptr;
        for (const auto& entry : targets_) {
            I3cTarget& each = *entry.second;
            if (each.dynamicAddress()) continue;
            if (winner == nullptr || each.arbitrationKey() < winner->arbitrationKey()) {
                winner = &each;
            }
        }
        if (winner == nullptr) return repeated ? i3c::status::kRepeatedAddress : status::kSuccess;
        if (table_.size() >= kTableCapacity) {
            return won.empty() ? i3c::status::kFullTable : i3c::status::kNotEnoughSpaceInTable;
        }
        std::optional<uint8_t> address;
        uint8_t configuration = 0;
        for (const I3cTableEntry& entry : wanted) {
            if (entry.pid != winner->pid()) continue;
            configuration = entry.configuration;
            if (entry.dynamicAddress == 0) continue;
            if (addressInUse(entry.dynamicAddress)) {
                repeated = true;
            } else {
                address = entry.dynamicAddress;
            }
        }
        if (!address) address = freeAddress(reserved);
        if (!address) return i3c::status::kNotEnoughSpaceInTable;
        winner->setDynamicAddress(*address);
        reserved.erase(*address);
        enterInTable(*winner, configuration);
        won.insert(winner->pid());
    }
}

// ----------------------------------------------------------- bus set-up

void I3cFirmware::configure(const Request& request, Firmware& firmware) {
    const bool init = request.commandCode() == i3c::cmd::kControllerInit;
    if (!init && !controller_.initialized) {
        return firmware.respond(request, status::kInterfaceNotInitialized);
    }
    // One I3C engine serves both roles: while the adapter poses as a target
    // it cannot also drive the bus.
    if (init && firmware.family<I3cTargetFirmware>().active()) {
        return firmware.respond(request, i3c::status::kEngineBusy);
    }
    if (request.u8(0) > kMaxPushPullRate || request.u8(1) > kMaxOpenDrainRate ||
        request.u8(2) > kMaxI2cRate || request.u8(3) > kMaxDriveStrength) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    // Initialising again only changes the rates.
    controller_.initialized = true;
    controller_.pushPullRate = request.u8(0);
    controller_.openDrainRate = request.u8(1);
    controller_.i2cRate = request.u8(2);
    controller_.driveStrength = request.u8(3);
    firmware.respond(request, status::kSuccess);
}

void I3cFirmware::initBus(const Request& request, Firmware& firmware) {
    if (!controller_.initialized) {
        return firmware.respond(request, status::kInterfaceNotInitialized);
    }
    const size_t count = request.u8(0);
    if (request.paramSize() != 1 + count * kTargetRecordSize) {
        return firmware.respond(request, status::kInvalidParameter);
    }
    if (count > kTableCapacity) return firmware.respond(request, i3c::status::kTableOverflow);
    const std::vector<I3cTableEntry> list = parseTargetList(request.params() + 1, count);
    if (const uint16_t refused = checkTargetList(list)) return firmware.respond(request, refused);

    // RSTDAA: every target gives up its dynamic address.
    table_.clear();
    for (auto& entry : targets_) entry.second->resetDynamicAddress();
    if (targets_.empty()) {
        return firmware.respond(request,
                                list.empty() ? status::kSuccess : i3c::status::kInitNackRstdaa);
    }
    uint16_t result = status::kSuccess;
    const auto fail = [&result](uint16_t code) {
        if (result == status::kSuccess) result = code;
    };

    // SETDASA to each listed static address with a wanted dynamic one.
    bool setaasa = false;
    for (const I3cTableEntry& entry : list) {
        if (entry.staticAddress == 0) continue;
        if (entry.dynamicAddress == 0 || entry.dynamicAddress == entry.staticAddress) {
            setaasa = true;
            continue;
        }
        I3cTarget* const addressed = byStaticAddress(entry.staticAddress);
        if (addressed == nullptr || addressInUse(entry.dynamicAddress)) {
            fail(i3c::status::kInitNackSetdasa);
            continue;
        }
        addressed->setDynamicAddress(entry.dynamicAddress);
        enterInTable(*addressed, entry.configuration);
    }
    // SETAASA: every target with a static address and no dynamic one takes
    // its static address, unless another target already answers to it.
    if (setaasa) {
        for (auto& each : targets_) {
            I3cTarget& candidate = *each.second;
            if (!takesStaticAddress(candidate)) continue;
            const auto fixed = candidate.options().staticAddress;
            candidate.setDynamicAddress(*fixed);
            uint8_t configuration = 0;
            for (const I3cTableEntry& entry : list) {
                if (entry.staticAddress == *fixed) configuration = entry.configuration;
            }
            if (!enterInTable(candidate, configuration)) {
                candidate.resetDynamicAddress();
                fail(i3c::status::kNotEnoughSpaceInTable);
            }
        }
        for (const I3cTableEntry& entry : list) {
            const bool asked =
                entry.staticAddress != 0 &&
                (entry.dynamicAddress == 0 || entry.dynamicAddress == entry.staticAddress);
            if (asked && byDynamicAddress(entry.staticAddress) == nullptr) {
                fail(i3c::status::kInitNackSetaasa);
            }
        }
    }
    // ENTDAA for everything still without an address.
    std::set<uint64_t> won;
    std::vector<I3cTableEntry> wanted;
    for (const I3cTableEntry& entry : list) {
        if (entry.staticAddress == 0) wanted.push_back(entry);
    }
    fail(runEntdaa(wanted, won));
    for (const I3cTableEntry& entry : wanted) {
        if (won.count(entry.pid) == 0) fail(i3c::status::kInitNackEntdaa);
    }
    firmware.respond(request, result);
}

void I3cFirmware::resetBus(const Request& request, Firmware& firmware) {
    if (!controller_.initialized) {
        return firmware.respond(request, status::kInterfaceNotInitialized);
    }
    table_.clear();
    for (auto& entry : targets_) entry.second->resetBusState();
    firmware.respond(request, status::kSuccess);
}

void I3cFirmware::getDeviceTable(const Request& request, Firmware& firmware) {
    const std::vector<I3cTableEntry> entries = deviceTable();
    MessageBuilder answer = MessageBuilder::response(request, status::kSuccess);
    answer.u8(static_cast<uint8_t>(entries.size()));
    for (const I3cTableEntry& entry : entries) {
        answer.u8(entry.staticAddress).u8(entry.dynamicAddress);
        for (int shift = 40; shift >= 0; shift -= 8) {
            answer.u8(static_cast<uint8_t>((entry.pid >> shift) & 0xFF));
        }
        answer.u8(entry.bcr)
            .u8(entry.dcr)
            .u16(entry.mwl)
            .u16(entry.mrl)
            .u8(entry.maxIbiPayload)
            .u8(entry.configuration);
    }
    firmware.respond(answer.take());
}

void I3cFirmware::setTargetConfiguration(const Request& request, Firmware& firmware) {
    for (I3cTableEntry& entry : table_) {
        if (entry.dynamicAddress == request.u8(0)) {
            entry.configuration = request.u8(1);
            return firmware.respond(request, status::kSuccess);
        }
    }
    firmware.respond(request, i3c::status::kAddressNotInTable);
}

void I3cFirmware::pattern(const Request& request, Firmware& firmware) {
    if (!controller_.initialized) {
        return firmware.respond(request, status::kInterfaceNotInitialized);
    }
    switch (request.u8(0)) {
        case 0:  // target reset pattern: each target runs its armed action
            for (auto& entry : targets_) {
                if (entry.second->resetPattern()) forgetInTable(entry.first);
            }
            break;
        case 1:  // HDR exit pattern: leaves HDR mode, which no target is left in
            break;
        default:
            return firmware.respond(request, status::kInvalidParameter);
    }
    firmware.respond(request, status::kSuccess);
}

// ------------------------------------------------------------- transfers

I3cFirmware::Transfer I3cFirmware::parseTransfer(const Request& request) {
    Transfer transfer{};
    transfer.transactionId = request.transactionId();
    transfer.code = request.commandCode();
    transfer.address = request.u8(0);
    transfer.read = (request.u8(1) & 0x01) != 0;
    transfer.mode = static_cast<uint8_t>((request.u8(1) >> 1) & 0x03);
    transfer.hdrCommand = request.u8(2);
    transfer.subaddressSize = request.u8(3);
    for (size_t i = 0; i < transfer.subaddress.size(); ++i) {
        transfer.subaddress[i] = request.u8(4 + i);
    }
    transfer.length = request.u16(8);
    return transfer;
}

uint16_t I3cFirmware::checkTransfer(const Transfer& transfer) const {
    if (!controller_.initialized) return status::kInterfaceNotInitialized;
    if (transfer.mode > kModeLegacyI2c || transfer.subaddressSize > kMaxSubaddressSize ||
        transfer.address > 0x7F) {
        return status::kInvalidParameter;
    }
    if (transfer.mode == kModeHdrDdr &&
        (transfer.subaddressSize != 0 ||
         (transfer.hdrCommand >= kHdrReadCommand) != transfer.read ||
         !wholeWords(transfer.length))) {
        return status::kInvalidParameter;
    }
    return status::kSuccess;
}

namespace {

// Where a private transfer starts in a target's memory: the sub-address
// (most significant byte first), the HDR-DDR command's register number, or
// where the last transfer ended.
std::optional<size_t> startOffset(uint8_t mode, uint8_t hdrCommand, const uint8_t* subaddress,
                                  uint8_t subaddressSize) {
    if (mode == kModeHdrDdr) return static_cast<size_t>(hdrCommand & 0x7F);
    if (subaddressSize == 0) return std::nullopt;
    size_t offset = 0;
    for (uint8_t i = 0; i < subaddressSize; ++i) offset = (offset << 8) | subaddress[i];
    return offset;
}

// Bus time of a private transfer of `bytes` data bytes (and `subaddress`
// bytes written first) at the controller's rates; legacy I2C devices run at
// the I2C rate: standard, fast, fast plus, high speed and ultra fast mode.
void spendTransferTime(const I3cControllerState& controller, uint8_t mode, size_t subaddress,
                       size_t bytes) {
    static constexpr std::array<uint32_t, 5> kI2cHz = {100000, 400000, 1000000, 3400000, 5000000};
    const uint32_t pushPull = timing::i3cPushPullHz(controller.pushPullRate).value_or(0);
    if (mode == kModeHdrDdr) return timing::spendBusTime(timing::i3cDdrBytes(bytes, pushPull));
    if (mode == kModeLegacyI2c) {
        const uint32_t hz = controller.i2cRate < kI2cHz.size() ? kI2cHz[controller.i2cRate] : 0;
        return timing::spendBusTime(timing::i2cBytes(subaddress + bytes, hz));
    }
    const uint32_t openDrain = timing::i3cOpenDrainHz(controller.openDrainRate).value_or(0);
    timing::spendBusTime(timing::i3cSdrBytes(subaddress + bytes, pushPull, openDrain));
}

}  // namespace

I3cFirmware::Outcome I3cFirmware::write(const Transfer& transfer, const uint8_t* data,
                                        size_t size) {
    if (transfer.mode == kModeLegacyI2c) {
        I2cTarget* const device = i2cDevice(transfer.address);
        if (device == nullptr) return {i3c::status::kNackAddress, 0, {}};
        const uint16_t status =
            device->write(transfer.subaddress.data(), transfer.subaddressSize, data, size);
        return {
            status == 0 ? status::kSuccess : i3c::status::kI2cNackByte, status == 0 ? size : 0, {}};
    }
    I3cTarget* const addressed = byDynamicAddress(transfer.address);
    if (addressed == nullptr || (transfer.mode == kModeHdrDdr && !addressed->options().hdrDdr)) {
        return {i3c::status::kNackAddress, 0, {}};
    }
    const size_t taken = std::min<size_t>(size, addressed->mwl());
    const size_t stored =
        addressed->write(startOffset(transfer.mode, transfer.hdrCommand, transfer.subaddress.data(),
                                     transfer.subaddressSize),
                         data, size);
    uint16_t status = status::kSuccess;
    if (stored < taken) {
        status = i3c::status::kSurpassedMemorySize;
    } else if (size > taken) {
        status = i3c::status::kMwlReached;
    }
    return {status, stored, {}};
}

I3cFirmware::Outcome I3cFirmware::read(const Transfer& transfer) {
    Outcome outcome{status::kSuccess, 0, Bytes(transfer.length)};
    if (transfer.mode == kModeLegacyI2c) {
        I2cTarget* const device = i2cDevice(transfer.address);
        if (device == nullptr) return {i3c::status::kNackAddress, 0, {}};
        if (device->read(transfer.subaddress.data(), transfer.subaddressSize, outcome.data.data(),
                         outcome.data.size()) != 0) {
            return {i3c::status::kI2cNackByte, 0, {}};
        }
        outcome.count = outcome.data.size();
        return outcome;
    }
    I3cTarget* const addressed = byDynamicAddress(transfer.address);
    if (addressed == nullptr || (transfer.mode == kModeHdrDdr && !addressed->options().hdrDdr)) {
        return {i3c::status::kNackAddress, 0, {}};
    }
    outcome.count =
        addressed->read(startOffset(transfer.mode, transfer.hdrCommand, transfer.subaddress.data(),
                                    transfer.subaddressSize),
                        outcome.data.data(), outcome.data.size());
    outcome.data.resize(outcome.count);
    // The target ends the read early: at its MRL, or at the end of its memory.
    if (outcome.count < transfer.length) {
        outcome.status = outcome.count == addressed->mrl() ? i3c::status::kMrlReached
                                                           : i3c::status::kIncompleteRead;
    }
    return outcome;
}

MessageBuilder I3cFirmware::answer(const Transfer& transfer, uint16_t status, size_t count) {
    MessageBuilder message =
        MessageBuilder::response(transfer.transactionId, transfer.code, status);
    message.u8(transfer.address).u8(0).u16(static_cast<uint16_t>(count));
    return message;
}

void I3cFirmware::transfer(const Request& request, Firmware& firmware) {
    const Transfer transfer = parseTransfer(request);
    uint16_t status = checkTransfer(transfer);
    // A write's data must be exactly what the length announces.
    if (status == status::kSuccess && !transfer.read &&
        request.paramSize() != kTransferHeaderSize + transfer.length) {
        status = status::kInvalidParameter;
    }
    if (status != status::kSuccess) return firmware.respond(answer(transfer, status, 0).take());
    if (!transfer.read) {
        const Outcome outcome =
            write(transfer, request.params() + kTransferHeaderSize, transfer.length);
        spendTransferTime(controller_, transfer.mode, transfer.subaddressSize, outcome.count);
        return firmware.respond(answer(transfer, outcome.status, outcome.count).take());
    }
    const Outcome outcome = read(transfer);
    spendTransferTime(controller_, transfer.mode, transfer.subaddressSize, outcome.data.size());
    firmware.respond(answer(transfer, outcome.status, outcome.data.size())
                         .append(outcome.data.data(), outcome.data.size())
                         .take());
}

void I3cFirmware::transferBulk(const Request& request, Firmware& firmware) {
    const Transfer transfer = parseTransfer(request);
    if (!firmware.adapter().bulk) {
        return firmware.respond(answer(transfer, status::kFeatureNotSupportedByHardware, 0).take());
    }
    const bool hdr = transfer.mode == kModeHdrDdr;
    const bool lengthOk =
        hdr ? wholeWords(transfer.length) && transfer.length <= kMaxHdrDdrBulkTransfer
            : transfer.length >= 1 && transfer.length <= kMaxBulkTransfer;
    if (!lengthOk) return firmware.respond(answer(transfer, status::kInvalidParameter, 0).take());

    if (!transfer.read) {
        // The data phase follows whatever else is wrong with the request:
        // take it in before answering so it cannot pass for the next one's.
        firmware.awaitBulkOut(
            transfer.length, [this, transfer](Firmware& later, std::optional<Bytes> data) {
                uint16_t status = data ? checkTransfer(transfer) : status::kBusTimeout;
                size_t count = 0;
                if (status == status::kSuccess) {
                    const Outcome outcome = write(transfer, data->data(), data->size());
                    spendTransferTime(controller_, transfer.mode, transfer.subaddressSize,
                                      outcome.count);
                    status = outcome.status;
                    count = outcome.count;
                }
                later.respond(answer(transfer, status, count).take());
            });
        return;
    }
    const uint16_t refused = checkTransfer(transfer);
    if (refused != status::kSuccess) return firmware.respond(answer(transfer, refused, 0).take());
    const Outcome outcome = read(transfer);
    spendTransferTime(controller_, transfer.mode, transfer.subaddressSize, outcome.data.size());
    // The host collects bulk data only after a success or an incomplete
    // read; anything queued after another status would linger for the next.
    const bool delivered =
        outcome.status == status::kSuccess || outcome.status == i3c::status::kIncompleteRead;
    firmware.respond(answer(transfer, outcome.status, delivered ? outcome.data.size() : 0).take());
    if (delivered) firmware.queueBulkIn(outcome.data.data(), outcome.data.size());
}

}  // namespace vantor::sim
