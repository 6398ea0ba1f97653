// SPDX-License-Identifier: MIT
#pragma once
// The I3C target family of the virtual adapter's firmware: the adapter's
// 1024-byte target memory, seen by an external controller as 1024 one-byte,
// 512 two-byte or 256 four-byte registers, and the identity it answers with
// (PID, BCR, DCR, static address, MWL, MRL).
//
// The bench's external controller assigns the dynamic address (SETDASA or
// ENTDAA), reads the identity through GET CCCs and moves data by private
// transfers: a write carries the register index (2 bytes, most significant
// first) and then data; a read runs on from the register pointer, at most
// MRL bytes. The memory never wraps: a write that would run past its end is
// refused whole, a read stops there. Each transfer the target takes part in
// is reported to the host as an I3C target bus event with the bytes moved.
//
// Dynamic addresses follow the controller family's rule
// (`I3cFirmware::validDynamicAddress`); the static address is 7-bit and
// neither 0 nor the broadcast address.

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/firmware/Firmware.h"
#include "sim/firmware/TargetFamily.h"
#include "sim/records/TargetRecords.h"

namespace vantor::sim {

namespace i3c_target::cmd {
constexpr uint16_t kInit = 0x1A01;
constexpr uint16_t kSetParameters = 0x1A02;
constexpr uint16_t kWriteMemory = 0x1A03;
constexpr uint16_t kReadMemory = 0x1A04;
constexpr uint16_t kBusEvent = 0x1A81;  // notification
}  // namespace i3c_target::cmd

namespace i3c_target::status {
constexpr uint16_t kRegisterAddressOutOfRange = 0x0616;
constexpr uint16_t kSurpassedMemorySize = 0x0617;
}  // namespace i3c_target::status

// Byte 6 of the bus-event notification; for CCC events the header word
// carries the CCC, for address changes the CCC that caused it.
namespace i3c_target::event {
constexpr uint8_t kWrite = 0;
constexpr uint8_t kRead = 1;
constexpr uint8_t kCcc = 2;
constexpr uint8_t kAddressChange = 3;
}  // namespace i3c_target::event

namespace i3c_target::ccc {
constexpr uint8_t kRstdaa = 0x06;
constexpr uint8_t kEntdaa = 0x07;
constexpr uint8_t kSetdasa = 0x87;
constexpr uint8_t kGetmwl = 0x8B;
constexpr uint8_t kGetmrl = 0x8C;
constexpr uint8_t kGetpid = 0x8D;
constexpr uint8_t kGetbcr = 0x8E;
constexpr uint8_t kGetdcr = 0x8F;
}  // namespace i3c_target::ccc

class I3cTargetFirmware final : public TargetFamily {
  public:
    static constexpr size_t kMemorySize = 1024;

    I3cTargetFirmware();
    void reset() override;  // identity and dynamic address gone, memory cleared

    // The bench (firmware mutex held).
    I3cTargetRoleState state() const;
    // Whether the host set the target role up (for the controller family).
    bool active() const { return active_; }
    Bytes memory() const { return Bytes(memory_.begin(), memory_.end()); }
    I3cBusTransaction setdasa(Firmware& firmware, uint8_t staticAddress, uint8_t dynamicAddress);
    I3cBusTransaction entdaa(Firmware& firmware, uint8_t dynamicAddress);
    I3cBusTransaction rstdaa(Firmware& firmware);
    I3cBusTransaction privateWrite(Firmware& firmware, uint8_t address, const Bytes& data);
    I3cBusTransaction privateRead(Firmware& firmware, uint8_t address, size_t count);
    I3cBusTransaction cccGet(Firmware& firmware, uint8_t ccc, uint8_t address);

  private:
    void configure(const Request& request, Firmware& firmware);
    void writeMemory(const Request& request, Firmware& firmware);
    void readMemory(const Request& request, Firmware& firmware);

    size_t registerWidth() const { return size_t{1} << layout_; }
    bool addressed(uint8_t address) const {
        return active_ && dynamicAddress_ != 0 && address == dynamicAddress_;
    }
    void notify(Firmware& firmware, uint8_t event, uint16_t headerWord, size_t memoryAddress,
                const uint8_t* data, size_t size) const;

    std::array<uint8_t, kMemorySize> memory_{};
    bool active_ = false;
    uint8_t layout_ = 0;
    uint64_t pid_ = 0;  // 48 bits
    uint8_t bcr_ = 0;
    uint8_t dcr_ = 0;
    uint8_t staticAddress_ = 0;
    uint8_t dynamicAddress_ = 0;
    uint16_t mwl_ = 0;
    uint16_t mrl_ = 0;
    size_t pointer_ = 0;
};

}  // namespace vantor::sim
