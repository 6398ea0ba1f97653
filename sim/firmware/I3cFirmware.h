// SPDX-License-Identifier: MIT
#pragma once
// The I3C controller family of the virtual adapter's firmware: the bus it
// drives with its targets and legacy I2C devices, the bus initialisation with
// dynamic address assignment, the controller's table of targets, the common
// command codes, private transfers over the command channel and over the
// vendor bulk interface, and the events targets raise (in-band interrupts,
// hot-join requests) reported as notifications.
//
// Dynamic addresses are 7-bit, 0x08..0x7D, without the addresses one bit away
// from the broadcast address 0x7E (0x3E, 0x5E, 0x6E, 0x76, 0x7A, 0x7C).

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "sim/devices/I2cDevices.h"
#include "sim/devices/I3cDevices.h"
#include "sim/firmware/Firmware.h"
#include "sim/records/I3cRecords.h"

namespace vantor::sim {

namespace i3c::cmd {
constexpr uint16_t kControllerInit = 0x1901;
constexpr uint16_t kSetParameters = 0x1902;
constexpr uint16_t kInitBus = 0x1904;
constexpr uint16_t kResetBus = 0x1905;
constexpr uint16_t kGetDeviceTable = 0x1906;
constexpr uint16_t kSetTargetConfiguration = 0x1907;
constexpr uint16_t kTransfer = 0x1908;
constexpr uint16_t kCcc = 0x1909;
constexpr uint16_t kPattern = 0x190A;
constexpr uint16_t kTransferBulk = 0x190B;
}  // namespace i3c::cmd

namespace i3c::notification {
constexpr uint16_t kIbi = 0x1981;
constexpr uint16_t kHotJoin = 0x1982;
}  // namespace i3c::notification

namespace i3c::status {
constexpr uint16_t kFullTable = 0x0601;
constexpr uint16_t kNotEnoughSpaceInTable = 0x0602;
constexpr uint16_t kTableOverflow = 0x0603;
constexpr uint16_t kAddressNotInTable = 0x0604;
constexpr uint16_t kRepeatedAddress = 0x0605;
constexpr uint16_t kInvalidAddress = 0x0606;
constexpr uint16_t kInitNackRstdaa = 0x0607;
constexpr uint16_t kInitNackSetdasa = 0x0608;
constexpr uint16_t kInitNackSetaasa = 0x0609;
constexpr uint16_t kInitNackEntdaa = 0x060A;
constexpr uint16_t kNackAddress = 0x060B;
constexpr uint16_t kI2cNackByte = 0x060C;
constexpr uint16_t kMwlReached = 0x060E;
constexpr uint16_t kMrlReached = 0x060F;
constexpr uint16_t kSurpassedMemorySize = 0x0617;
constexpr uint16_t kEngineBusy = 0x0619;  // the I3C engine serves the target role
constexpr uint16_t kIncompleteRead = 0x061A;
}  // namespace i3c::status

// Common command codes the bus serves.
namespace i3c::ccc {
constexpr uint8_t kEnecBroadcast = 0x00;
constexpr uint8_t kDisecBroadcast = 0x01;
constexpr uint8_t kEntas0Broadcast = 0x02;
constexpr uint8_t kEntas3Broadcast = 0x05;
constexpr uint8_t kRstdaa = 0x06;
constexpr uint8_t kEntdaa = 0x07;
constexpr uint8_t kSetmwlBroadcast = 0x09;
constexpr uint8_t kSetmrlBroadcast = 0x0A;
constexpr uint8_t kSetbuscon = 0x0C;
constexpr uint8_t kSetxtimeBroadcast = 0x28;
constexpr uint8_t kSetaasa = 0x29;
constexpr uint8_t kRstactBroadcast = 0x2A;
constexpr uint8_t kRstgrpaBroadcast = 0x2C;
constexpr uint8_t kEnecDirect = 0x80;
constexpr uint8_t kDisecDirect = 0x81;
constexpr uint8_t kEntas0Direct = 0x82;
constexpr uint8_t kEntas3Direct = 0x85;
constexpr uint8_t kSetdasa = 0x87;
constexpr uint8_t kSetnewda = 0x88;
constexpr uint8_t kSetmwlDirect = 0x89;
constexpr uint8_t kSetmrlDirect = 0x8A;
constexpr uint8_t kGetmwl = 0x8B;
constexpr uint8_t kGetmrl = 0x8C;
constexpr uint8_t kGetpid = 0x8D;
constexpr uint8_t kGetbcr = 0x8E;
constexpr uint8_t kGetdcr = 0x8F;
constexpr uint8_t kGetstatus = 0x90;
constexpr uint8_t kGetmxds = 0x94;
constexpr uint8_t kGetcaps = 0x95;
constexpr uint8_t kSetxtimeDirect = 0x98;
constexpr uint8_t kGetxtime = 0x99;
constexpr uint8_t kRstactDirect = 0x9A;
constexpr uint8_t kSetgrpa = 0x9B;
constexpr uint8_t kRstgrpaDirect = 0x9C;
}  // namespace i3c::ccc

class I3cFirmware final : public FirmwareFamily {
  public:
    static constexpr uint8_t kBroadcastAddress = 0x7E;
    static constexpr size_t kTableCapacity = 32;
    static constexpr size_t kMaxBulkTransfer = 32767;
    static constexpr size_t kMaxHdrDdrBulkTransfer = 1024;

    I3cFirmware();
    void reset() override;  // controller down, table empty, every target's bus state reset

    // The bench (firmware mutex held).
    std::optional<I3cTargetState> attach(const I3cTargetOptions& options);
    bool detach(uint64_t pid);
    I3cTarget* target(uint64_t pid) const;
    std::vector<I3cTargetState> targets() const;
    bool attachI2c(uint8_t address, std::shared_ptr<I2cTarget> device);
    bool detachI2c(uint8_t address);
    I2cTarget* i2cDevice(uint8_t address) const;
    std::vector<uint8_t> i2cAddresses() const;  // in address order
    I3cEventOutcome raiseIbi(uint64_t pid, const Bytes& payload, Firmware& firmware);
    I3cEventOutcome requestHotJoin(uint64_t pid, Firmware& firmware);
    const I3cControllerState& controller() const { return controller_; }
    std::vector<I3cTableEntry> deviceTable() const;

    static bool validDynamicAddress(uint8_t address);

  private:
    // Shared by the command table and the CCCs (sim/firmware/I3cCccFirmware.cpp).
    static constexpr size_t kCccHeaderSize = 5;  // address, control, length, code, defining byte
    static constexpr size_t kTargetRecordSize = 16;   // one entry of a target list
    static bool validStaticAddress(uint8_t address);  // 0x08..0x77

    // The private transfer header of 0x1908 and 0x190B.
    struct Transfer {
        uint16_t transactionId;
        uint16_t code;
        uint8_t address;
        bool read;
        uint8_t mode;  // 0 SDR, 1 HDR-DDR, 2 legacy I2C
        uint8_t hdrCommand;
        uint8_t subaddressSize;
        std::array<uint8_t, 4> subaddress;
        uint16_t length;
    };
    // The outcome of a transfer: its status and the bytes moved (read data,
    // or only the count of a write).
    struct Outcome {
        uint16_t status;
        size_t count;
        Bytes data;
    };
    // A common command as the generic CCC command carries it.
    struct Ccc {
        uint8_t address;
        bool read;
        bool definingByte;  // the defining byte field is meant
        uint8_t length;
        uint8_t code;
        uint8_t defining;
        Bytes data;
    };
    struct CccAnswer {
        uint16_t status;
        Bytes data;
    };
    using BroadcastHandler = CccAnswer (I3cFirmware::*)(const Ccc&);
    using DirectHandler = CccAnswer (I3cFirmware::*)(I3cTarget&, const Ccc&);
    struct CccInfo {
        bool read;
        size_t minData;  // data bytes a write needs
        BroadcastHandler broadcast;
        DirectHandler direct;
    };

    static const std::map<uint8_t, CccInfo>& cccTable();

    // ---------------------------------------------------------- commands
    void configure(const Request& request, Firmware& firmware);
    void initBus(const Request& request, Firmware& firmware);
    void resetBus(const Request& request, Firmware& firmware);
    void getDeviceTable(const Request& request, Firmware& firmware);
    void setTargetConfiguration(const Request& request, Firmware& firmware);
    void pattern(const Request& request, Firmware& firmware);
    void transfer(const Request& request, Firmware& firmware);
    void transferBulk(const Request& request, Firmware& firmware);
    void ccc(const Request& request, Firmware& firmware);

    // ---------------------------------------------------- address space
    I3cTarget* byDynamicAddress(uint8_t address) const;
    I3cTarget* byStaticAddress(uint8_t address) const;  // among targets without one
    // In use: a target's dynamic or group address, a table entry or a legacy
    // device.
    bool addressInUse(uint8_t address) const;
    bool isGroupAddress(uint8_t address) const;
    // Whether SETAASA gives `target` its static address: it has one, has no
    // dynamic address yet, and the static address is a valid dynamic one
    // that nothing else uses.
    bool takesStaticAddress(const I3cTarget& target) const;
    // The lowest free dynamic address, skipping `reserved`.
    std::optional<uint8_t> freeAddress(const std::set<uint8_t>& reserved) const;
    // Checks a list of wanted targets (16-byte records): 0, or the code of
    // the first invalid or repeated address.
    uint16_t checkTargetList(const std::vector<I3cTableEntry>& list) const;
    static std::vector<I3cTableEntry> parseTargetList(const uint8_t* data, size_t count);
    // Enters an addressed target in the table; false when the table is full.
    bool enterInTable(const I3cTarget& target, uint8_t configuration);
    void forgetInTable(uint64_t pid);
    // ENTDAA rounds: each target without a dynamic address takes part, the
    // lowest id wins and gets the address `wanted` names for its id, or the
    // lowest free one. Returns 0, or the table code that stopped it; `won`
    // receives the ids that got an address. A wanted address something else
    // took meanwhile is reported as repeated once the rounds are over (the
    // target got the lowest free address instead).
    uint16_t runEntdaa(const std::vector<I3cTableEntry>& wanted, std::set<uint64_t>& won);

    // ------------------------------------------------------------ CCCs
    CccAnswer enec(const Ccc& ccc);
    CccAnswer disec(const Ccc& ccc);
    CccAnswer entasBroadcast(const Ccc& ccc);
    CccAnswer rstdaa(const Ccc& ccc);
    CccAnswer entdaa(const Ccc& ccc);
    CccAnswer setmwlBroadcast(const Ccc& ccc);
    CccAnswer setmrlBroadcast(const Ccc& ccc);
    CccAnswer setbuscon(const Ccc& ccc);
    CccAnswer accept(const Ccc& ccc);
    CccAnswer setaasa(const Ccc& ccc);
    CccAnswer rstactBroadcast(const Ccc& ccc);
    CccAnswer rstgrpaBroadcast(const Ccc& ccc);
    CccAnswer enecDirect(I3cTarget& target, const Ccc& ccc);
    CccAnswer disecDirect(I3cTarget& target, const Ccc& ccc);
    CccAnswer entasDirect(I3cTarget& target, const Ccc& ccc);
    CccAnswer setdasa(I3cTarget& target, const Ccc& ccc);
    CccAnswer setnewda(I3cTarget& target, const Ccc& ccc);
    CccAnswer setmwlDirect(I3cTarget& target, const Ccc& ccc);
    CccAnswer setmrlDirect(I3cTarget& target, const Ccc& ccc);
    CccAnswer getmwl(I3cTarget& target, const Ccc& ccc);
    CccAnswer getmrl(I3cTarget& target, const Ccc& ccc);
    CccAnswer getpid(I3cTarget& target, const Ccc& ccc);
    CccAnswer getbcr(I3cTarget& target, const Ccc& ccc);
    CccAnswer getdcr(I3cTarget& target, const Ccc& ccc);
    CccAnswer getstatus(I3cTarget& target, const Ccc& ccc);
    CccAnswer getmxds(I3cTarget& target, const Ccc& ccc);
    CccAnswer getcaps(I3cTarget& target, const Ccc& ccc);
    CccAnswer acceptDirect(I3cTarget& target, const Ccc& ccc);
    CccAnswer getxtime(I3cTarget& target, const Ccc& ccc);
    CccAnswer rstactDirect(I3cTarget& target, const Ccc& ccc);
    CccAnswer setgrpa(I3cTarget& target, const Ccc& ccc);
    CccAnswer rstgrpaDirect(I3cTarget& target, const Ccc& ccc);

    // ------------------------------------------------------- transfers
    static Transfer parseTransfer(const Request& request);
    // Argument checks common to both channels; 0 when the transfer may go on.
    uint16_t checkTransfer(const Transfer& transfer) const;
    Outcome write(const Transfer& transfer, const uint8_t* data, size_t size);
    Outcome read(const Transfer& transfer);
    static MessageBuilder answer(const Transfer& transfer, uint16_t status, size_t count);

    I3cControllerState controller_;
    std::map<uint64_t, std::shared_ptr<I3cTarget>> targets_;  // by provisioned id
    std::map<uint8_t, std::shared_ptr<I2cTarget>> i2c_;       // by address
    std::vector<I3cTableEntry> table_;                        // in order of entry
};

}  // namespace vantor::sim
