// SPDX-License-Identifier: MIT
// The I3C controller's common command codes: one table row per CCC (its
// direction, the data a write needs, its handler), the command that runs
// them, and the handlers, broadcast ones first.
#include <algorithm>
#include <utility>

#include "sim/firmware/I3cFirmware.h"
#include "sim/usb/AdapterState.h"

namespace vantor::sim {

namespace {

constexpr uint8_t kResetRecoveryTime = 0x05;  // RSTACT read-back, in the defining byte's unit
constexpr uint8_t kGetstatusPrecr = 0x91;     // GETSTATUS format 2

// The 7-bit address in the upper bits of a SETDASA, SETNEWDA or SETGRPA byte.
uint8_t shiftedAddress(const Bytes& data) {
    return static_cast<uint8_t>(data.at(0) >> 1);
}

uint16_t bigEndian16(const Bytes& data) {
    return static_cast<uint16_t>((data.at(0) << 8) | data.at(1));
}

}  // namespace

const std::map<uint8_t, I3cFirmware::CccInfo>& I3cFirmware::cccTable() {
    namespace c = i3c::ccc;
    using F = I3cFirmware;
    static const std::map<uint8_t, CccInfo> table = {
        // Broadcast: write only, acted on by every target.
        {c::kEnecBroadcast, {false, 0, &F::enec, nullptr}},
        {c::kDisecBroadcast, {false, 0, &F::disec, nullptr}},
        {c::kEntas0Broadcast, {false, 0, &F::entasBroadcast, nullptr}},
        {c::kEntas0Broadcast + 1, {false, 0, &F::entasBroadcast, nullptr}},
        {c::kEntas0Broadcast + 2, {false, 0, &F::entasBroadcast, nullptr}},
        {c::kEntas3Broadcast, {false, 0, &F::entasBroadcast, nullptr}},
        {c::kRstdaa, {false, 0, &F::rstdaa, nullptr}},
        {c::kEntdaa, {false, 0, &F::entdaa, nullptr}},
        {c::kSetmwlBroadcast, {false, 2, &F::setmwlBroadcast, nullptr}},
        {c::kSetmrlBroadcast, {false, 2, &F::setmrlBroadcast, nullptr}},
        {c::kSetbuscon, {false, 1, &F::setbuscon, nullptr}},
        {c::kSetxtimeBroadcast, {false, 1, &F::accept, nullptr}},
        {c::kSetaasa, {false, 0, &F::setaasa, nullptr}},
        {c::kRstactBroadcast, {false, 0, &F::rstactBroadcast, nullptr}},
        {c::kRstgrpaBroadcast, {false, 0, &F::rstgrpaBroadcast, nullptr}},
        // Direct: one target, by its dynamic address (SETDASA: its static one).
        {c::kEnecDirect, {false, 1, nullptr, &F::enecDirect}},
        {c::kDisecDirect, {false, 1, nullptr, &F::disecDirect}},
        {c::kEntas0Direct, {false, 0, nullptr, &F::entasDirect}},
        {c::kEntas0Direct + 1, {false, 0, nullptr, &F::entasDirect}},
        {c::kEntas0Direct + 2, {false, 0, nullptr, &F::entasDirect}},
        {c::kEntas3Direct, {false, 0, nullptr, &F::entasDirect}},
        {c::kSetdasa, {false, 1, nullptr, &F::setdasa}},
        {c::kSetnewda, {false, 1, nullptr, &F::setnewda}},
        {c::kSetmwlDirect, {false, 2, nullptr, &F::setmwlDirect}},
        {c::kSetmrlDirect, {false, 2, nullptr, &F::setmrlDirect}},
        {c::kGetmwl, {true, 0, nullptr, &F::getmwl}},
        {c::kGetmrl, {true, 0, nullptr, &F::getmrl}},
        {c::kGetpid, {true, 0, nullptr, &F::getpid}},
        {c::kGetbcr, {true, 0, nullptr, &F::getbcr}},
        {c::kGetdcr, {true, 0, nullptr, &F::getdcr}},
        {c::kGetstatus, {true, 0, nullptr, &F::getstatus}},
        {c::kGetmxds, {true, 0, nullptr, &F::getmxds}},
        {c::kGetcaps, {true, 0, nullptr, &F::getcaps}},
        {c::kSetxtimeDirect, {false, 1, nullptr, &F::acceptDirect}},
        {c::kGetxtime, {true, 0, nullptr, &F::getxtime}},
        // RSTACT direct is a write or a read, as its direction says.
        {c::kRstactDirect, {false, 0, nullptr, &F::rstactDirect}},
        {c::kSetgrpa, {false, 1, nullptr, &F::setgrpa}},
        {c::kRstgrpaDirect, {false, 0, nullptr, &F::rstgrpaDirect}},
    };
    return table;
}

void I3cFirmware::ccc(const Request& request, Firmware& firmware) {
    Ccc command;
    command.address = request.u8(0);
    command.read = (request.u8(1) & 0x01) != 0;
    command.definingByte = (request.u8(1) >> 4) != 0;
    command.length = request.u8(2);
    command.code = request.u8(3);
    command.defining = request.u8(4);
    const auto data = request.bytes(kCccHeaderSize, request.paramSize());
    command.data.assign(data.first, data.first + data.second);

    CccAnswer result{status::kSuccess, {}};
    const auto& table = cccTable();
    const auto it = table.find(command.code);
    const bool broadcast = command.address == kBroadcastAddress;
    if (!controller_.initialized) {
        result.status = status::kInterfaceNotInitialized;
    } else if (it == table.end()) {
        // A code no target knows: nobody acknowledges it.
        result.status = i3c::status::kNackAddress;
    } else if ((broadcast ? it->second.broadcast == nullptr : it->second.direct == nullptr) ||
               (command.read && !(it->second.read || command.code == i3c::ccc::kRstactDirect)) ||
               (!command.read && it->second.read) || (command.read && !command.data.empty()) ||
               command.data.size() < it->second.minData) {
        result.status = status::kInvalidParameter;
    } else if (broadcast) {
        // A broadcast is acknowledged by any I3C target on the bus.
        result = targets_.empty() ? CccAnswer{i3c::status::kNackAddress, {}}
                                  : (this->*(it->second.broadcast))(command);
    } else {
        I3cTarget* const addressed = command.code == i3c::ccc::kSetdasa
                                         ? byStaticAddress(command.address)
                                         : byDynamicAddress(command.address);
        result = addressed == nullptr ? CccAnswer{i3c::status::kNackAddress, {}}
                                      : (this->*(it->second.direct))(*addressed, command);
    }
    // The controller stops reading after the bytes asked for.
    if (result.data.size() > command.length) result.data.resize(command.length);
    firmware.respond(MessageBuilder::response(request, result.status)
                         .u8(command.address)
                         .u8(command.code)
                         .u8(0)
                         .u8(static_cast<uint8_t>(result.data.size()))
                         .append(result.data.data(), result.data.size())
                         .take());
}

namespace {

// The argument of ENEC, DISEC and RSTACT broadcast: the defining byte, or
// the first data byte when the command carries it as data.
std::optional<uint8_t> broadcastArgument(bool definingByte, uint8_t defining, const Bytes& data) {
    if (definingByte) return defining;
    if (!data.empty()) return data[0];
    return std::nullopt;
}

}  // namespace

I3cFirmware::CccAnswer I3cFirmware::enec(const Ccc& ccc) {
    const auto events = broadcastArgument(ccc.definingByte, ccc.defining, ccc.data);
    if (!events) return {status::kInvalidParameter, {}};
    for (auto& entry : targets_) entry.second->enableEvents(*events);
    if (*events & i3c::event::kHotJoin) controller_.hotJoinEnabled = true;
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::disec(const Ccc& ccc) {
    const auto events = broadcastArgument(ccc.definingByte, ccc.defining, ccc.data);
    if (!events) return {status::kInvalidParameter, {}};
    for (auto& entry : targets_) entry.second->disableEvents(*events);
    if (*events & i3c::event::kHotJoin) controller_.hotJoinEnabled = false;
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::entasBroadcast(const Ccc& ccc) {
    for (auto& entry : targets_) {
        entry.second->setActivityState(static_cast<uint8_t>(ccc.code - i3c::ccc::kEntas0Broadcast));
    }
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::rstdaa(const Ccc&) {
    for (auto& entry : targets_) entry.second->resetDynamicAddress();
    table_.clear();
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::entdaa(const Ccc& ccc) {
    if (ccc.data.size() % kTargetRecordSize != 0) return {status::kInvalidParameter, {}};
    const std::vector<I3cTableEntry> wanted =
        parseTargetList(ccc.data.data(), ccc.data.size() / kTargetRecordSize);
    if (const uint16_t refused = checkTargetList(wanted)) return {refused, {}};
    for (const I3cTableEntry& entry : wanted) {
        // An address already on the bus cannot be handed out again.
        if (entry.dynamicAddress != 0 && addressInUse(entry.dynamicAddress)) {
            return {i3c::status::kRepeatedAddress, {}};
        }
    }
    std::set<uint64_t> won;
    const uint16_t stopped = runEntdaa(wanted, won);
    if (stopped != status::kSuccess) return {stopped, {}};
    // Nobody took part: the ENTDAA header went unacknowledged.
    return {won.empty() ? i3c::status::kNackAddress : status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setmwlBroadcast(const Ccc& ccc) {
    for (auto& entry : targets_) entry.second->setMwl(bigEndian16(ccc.data));
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setmrlBroadcast(const Ccc& ccc) {
    const std::optional<uint8_t> ibi =
        ccc.data.size() > 2 ? std::optional<uint8_t>(ccc.data[2]) : std::nullopt;
    for (auto& entry : targets_) entry.second->setMrl(bigEndian16(ccc.data), ibi);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setbuscon(const Ccc& ccc) {
    controller_.busContext = ccc.data.at(0);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::accept(const Ccc&) {
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setaasa(const Ccc& ccc) {
    // Each listed static address becomes a dynamic one.
    for (uint8_t address : ccc.data) {
        if (!validStaticAddress(address) || !validDynamicAddress(address)) {
            return {i3c::status::kInvalidAddress, {}};
        }
        if (addressInUse(address)) return {i3c::status::kRepeatedAddress, {}};
    }
    bool taken = false;
    for (auto& entry : targets_) {
        I3cTarget& candidate = *entry.second;
        if (!takesStaticAddress(candidate)) continue;
        if (table_.size() >= kTableCapacity) {
            return {taken ? i3c::status::kNotEnoughSpaceInTable : i3c::status::kFullTable, {}};
        }
        candidate.setDynamicAddress(*candidate.options().staticAddress);
        enterInTable(candidate, 0);
        taken = true;
    }
    return {taken ? status::kSuccess : i3c::status::kNackAddress, {}};
}

I3cFirmware::CccAnswer I3cFirmware::rstactBroadcast(const Ccc& ccc) {
    const auto action = broadcastArgument(ccc.definingByte, ccc.defining, ccc.data);
    if (!action) return {status::kInvalidParameter, {}};
    for (auto& entry : targets_) entry.second->armReset(*action);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::rstgrpaBroadcast(const Ccc&) {
    for (auto& entry : targets_) entry.second->setGroupAddress(std::nullopt);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::enecDirect(I3cTarget& target, const Ccc& ccc) {
    target.enableEvents(ccc.data[0]);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::disecDirect(I3cTarget& target, const Ccc& ccc) {
    target.disableEvents(ccc.data[0]);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::entasDirect(I3cTarget& target, const Ccc& ccc) {
    target.setActivityState(static_cast<uint8_t>(ccc.code - i3c::ccc::kEntas0Direct));
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setdasa(I3cTarget& target, const Ccc& ccc) {
    const uint8_t address = shiftedAddress(ccc.data);
    if (!validDynamicAddress(address)) return {i3c::status::kInvalidAddress, {}};
    if (addressInUse(address)) return {i3c::status::kRepeatedAddress, {}};
    target.setDynamicAddress(address);
    if (!enterInTable(target, 0)) {
        target.resetDynamicAddress();
        return {i3c::status::kFullTable, {}};
    }
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setnewda(I3cTarget& target, const Ccc& ccc) {
    const uint8_t address = shiftedAddress(ccc.data);
    if (!validDynamicAddress(address)) return {i3c::status::kInvalidAddress, {}};
    if (address != target.dynamicAddress() && addressInUse(address)) {
        return {i3c::status::kRepeatedAddress, {}};
    }
    target.setDynamicAddress(address);
    for (I3cTableEntry& entry : table_) {
        if (entry.pid == target.pid()) entry.dynamicAddress = address;
    }
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setmwlDirect(I3cTarget& target, const Ccc& ccc) {
    target.setMwl(bigEndian16(ccc.data));
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setmrlDirect(I3cTarget& target, const Ccc& ccc) {
    const std::optional<uint8_t> ibi =
        ccc.data.size() > 2 ? std::optional<uint8_t>(ccc.data[2]) : std::nullopt;
    target.setMrl(bigEndian16(ccc.data), ibi);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::getmwl(I3cTarget& target, const Ccc&) {
    return {status::kSuccess, target.getMwl()};
}

I3cFirmware::CccAnswer I3cFirmware::getmrl(I3cTarget& target, const Ccc&) {
    return {status::kSuccess, target.getMrl()};
}

I3cFirmware::CccAnswer I3cFirmware::getpid(I3cTarget& target, const Ccc&) {
    const auto pid = target.pidBytes();
    return {status::kSuccess, Bytes(pid.begin(), pid.end())};
}

I3cFirmware::CccAnswer I3cFirmware::getbcr(I3cTarget& target, const Ccc&) {
    return {status::kSuccess, {target.bcr()}};
}

I3cFirmware::CccAnswer I3cFirmware::getdcr(I3cTarget& target, const Ccc&) {
    return {status::kSuccess, {target.options().dcr}};
}

I3cFirmware::CccAnswer I3cFirmware::getstatus(I3cTarget& target, const Ccc& ccc) {
    // Format 1, also under the defining byte 0x00; format 2 (0x91) only from
    // a target whose BCR role bits say it can act as controller, which this
    // model never does.
    if (ccc.definingByte && ccc.defining == kGetstatusPrecr &&
        (target.bcr() & i3c::bcr::kRoleMask) == i3c::bcr::kControllerCapable) {
        return {status::kSuccess, {0x00, 0x00}};
    }
    if (ccc.definingByte && ccc.defining != 0x00) return {i3c::status::kNackAddress, {}};
    return {status::kSuccess, target.getStatus()};
}

I3cFirmware::CccAnswer I3cFirmware::getmxds(I3cTarget& target, const Ccc&) {
    return {status::kSuccess, target.getMxds()};
}

I3cFirmware::CccAnswer I3cFirmware::getcaps(I3cTarget& target, const Ccc& ccc) {
    if (ccc.definingByte && ccc.defining != 0x00) return {i3c::status::kNackAddress, {}};
    return {status::kSuccess, target.getCaps()};
}

I3cFirmware::CccAnswer I3cFirmware::acceptDirect(I3cTarget&, const Ccc&) {
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::getxtime(I3cTarget&, const Ccc&) {
    // No timing control: no mode supported, none active.
    return {status::kSuccess, {0x00, 0x00, 0x00, 0x00}};
}

I3cFirmware::CccAnswer I3cFirmware::rstactDirect(I3cTarget& target, const Ccc& ccc) {
    namespace r = i3c::rstact;
    const uint8_t action = ccc.defining;
    if (ccc.read) {
        switch (action) {
            case r::kPeripheralResetTime:
            case r::kWholeTargetResetTime:
            case r::kDebugNetworkResetTime:
                return {status::kSuccess, {kResetRecoveryTime}};
            case r::kVirtualTargetIndication:
                return {status::kSuccess, {0x00}};
            default:
                return {i3c::status::kNackAddress, {}};
        }
    }
    if (action > r::kVirtualTargetDetect) return {i3c::status::kNackAddress, {}};
    target.armReset(action);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::setgrpa(I3cTarget& target, const Ccc& ccc) {
    const uint8_t address = shiftedAddress(ccc.data);
    if (!validDynamicAddress(address)) return {i3c::status::kInvalidAddress, {}};
    // Several targets may share a group; nothing else may use its address.
    if (addressInUse(address) && !isGroupAddress(address)) {
        return {i3c::status::kRepeatedAddress, {}};
    }
    target.setGroupAddress(address);
    return {status::kSuccess, {}};
}

I3cFirmware::CccAnswer I3cFirmware::rstgrpaDirect(I3cTarget& target, const Ccc&) {
    target.setGroupAddress(std::nullopt);
    return {status::kSuccess, {}};
}

}  // namespace vantor::sim
