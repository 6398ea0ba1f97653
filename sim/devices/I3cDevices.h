// SPDX-License-Identifier: MIT
#pragma once
// Virtual I3C targets on the virtual adapter's I3C bus.
//
// A target has the identity it reports on the bus (48-bit provisioned id,
// BCR, DCR, an optional static address), the limits and enables the
// controller sets with common command codes, and a byte-addressed memory that
// private transfers read and write. Targets are devices outside the adapter:
// they keep their memory across resets and unplugging; what the controller
// set (dynamic address, enables, limits) is lost when the bus is reset.
// Called with the firmware mutex held.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/records/I3cRecords.h"
#include "sim/usb/Wire.h"

namespace vantor::sim {

// Bus characteristics register bits.
namespace i3c::bcr {
constexpr uint8_t kSpeedLimited = 0x01;  // answers GETMXDS with its limits
constexpr uint8_t kIbiCapable = 0x02;    // may raise in-band interrupts
constexpr uint8_t kIbiPayload = 0x04;    // in-band interrupts carry a payload
constexpr uint8_t kRoleMask = 0xC0;
constexpr uint8_t kControllerCapable = 0x40;  // role bits: may act as controller
}  // namespace i3c::bcr

// ENEC/DISEC event bits.
namespace i3c::event {
constexpr uint8_t kInterrupt = 0x01;
constexpr uint8_t kControllerRequest = 0x02;
constexpr uint8_t kHotJoin = 0x08;
constexpr uint8_t kAll = kInterrupt | kControllerRequest | kHotJoin;
}  // namespace i3c::event

// RSTACT defining bytes a target acts on.
namespace i3c::rstact {
constexpr uint8_t kNoReset = 0x00;
constexpr uint8_t kResetPeripheral = 0x01;
constexpr uint8_t kResetWholeTarget = 0x02;
constexpr uint8_t kResetDebugNetwork = 0x03;
constexpr uint8_t kVirtualTargetDetect = 0x04;
constexpr uint8_t kPeripheralResetTime = 0x81;
constexpr uint8_t kWholeTargetResetTime = 0x82;
constexpr uint8_t kDebugNetworkResetTime = 0x83;
constexpr uint8_t kVirtualTargetIndication = 0x84;
}  // namespace i3c::rstact

class I3cTarget {
  public:
    // `options` must be `valid`.
    explicit I3cTarget(const I3cTargetOptions& options);
    static bool valid(const I3cTargetOptions& options);

    const I3cTargetOptions& options() const { return options_; }
    uint64_t pid() const { return options_.pid; }
    uint8_t bcr() const { return options_.bcr; }
    // The provisioned id as it travels in ENTDAA and GETPID: most
    // significant byte first.
    std::array<uint8_t, 6> pidBytes() const;
    // What the target answers in ENTDAA arbitration after its id: the 64
    // bits the lowest of which wins (the id, then BCR, then DCR).
    uint64_t arbitrationKey() const;

    // ------------------------------------------------ controller-set state
    std::optional<uint8_t> dynamicAddress() const { return dynamicAddress_; }
    void setDynamicAddress(std::optional<uint8_t> address) { dynamicAddress_ = address; }
    uint8_t events() const { return events_; }
    void enableEvents(uint8_t bits) {
        events_ = static_cast<uint8_t>(events_ | (bits & i3c::event::kAll));
    }
    void disableEvents(uint8_t bits) { events_ = static_cast<uint8_t>(events_ & ~bits); }
    void setMwl(uint16_t mwl) { mwl_ = mwl; }
    // The IBI payload size changes only on a target whose interrupts carry one.
    void setMrl(uint16_t mrl, std::optional<uint8_t> ibiPayload);
    void setActivityState(uint8_t state) { activityState_ = state; }
    void setGroupAddress(std::optional<uint8_t> address) { groupAddress_ = address; }
    std::optional<uint8_t> groupAddress() const { return groupAddress_; }
    void armReset(uint8_t action) { resetAction_ = action; }
    // The target reset pattern: the armed action runs and the default one is
    // armed again. True when the target lost its dynamic address.
    bool resetPattern();
    // RSTDAA: the dynamic address is gone; nothing else changes.
    void resetDynamicAddress() { dynamicAddress_.reset(); }
    // Everything the controller set back to its power-on value (a bus reset
    // or the whole-target reset). The memory stays.
    void resetBusState();
    void setPendingInterrupt(bool pending) { pendingInterrupt_ = pending; }

    // ---------------------------------------------------- the CCC answers
    Bytes getStatus();  // clears the pending interrupt it reports
    Bytes getMrl() const;
    Bytes getMwl() const;
    Bytes getCaps() const;
    Bytes getMxds() const;

    // -------------------------------------------------- private transfers
    // A write of `size` bytes from `offset` (the sub-address), or from where
    // the last transfer ended. At most MWL bytes are taken; when those do not
    // fit between the start and the end of memory the write is refused whole
    // (nothing stored, the pointer unchanged), as the host's memory commands
    // refuse theirs. The memory never wraps. Returns the bytes stored.
    size_t write(std::optional<size_t> offset, const uint8_t* data, size_t size);
    // A read of up to `size` bytes into `out`: the target ends the read at
    // MRL and at the end of its memory (a start past the end reads nothing).
    // Returns the bytes read.
    size_t read(std::optional<size_t> offset, uint8_t* out, size_t size);
    uint16_t mwl() const { return mwl_; }
    uint16_t mrl() const { return mrl_; }

    // ------------------------------------------------------------- bench
    const Bytes& memory() const { return memory_; }
    bool writeMemory(size_t offset, const uint8_t* data, size_t size);
    I3cTargetState state() const;

  private:
    I3cTargetOptions options_;
    Bytes memory_;
    size_t pointer_ = 0;

    std::optional<uint8_t> dynamicAddress_;
    std::optional<uint8_t> groupAddress_;
    uint8_t events_ = i3c::event::kAll;
    uint16_t mwl_;
    uint16_t mrl_;
    uint8_t ibiPayload_;
    uint8_t activityState_ = 0;
    uint8_t resetAction_ = i3c::rstact::kResetPeripheral;
    bool pendingInterrupt_ = false;
};

}  // namespace vantor::sim
