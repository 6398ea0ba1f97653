#pragma once
// A virtual adapter: an in-process emulation of the adapter's USB side.
//
// While plugged in it appears in the HID enumeration (after the real devices)
// and, with `bulk` set, in the libusb device list, under its own path and
// serial number; the SDK reaches it through the same transport code as real
// hardware. It reassembles request messages from output reports, answers them
// with its firmware model (or a scripted handler), and frames responses and
// notifications into input reports.
//
// The virtual adapter shares no protocol code with the SDK: it parses and
// builds messages with code of its own, so that an SDK encoder and decoder
// that are wrong in the same way cannot pass together.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor::sim {

using Bytes = std::vector<uint8_t>;

enum class Model {
    Teranox,  // 64-byte reports
    Quillex,  // 1024-byte reports
};

// The five USB strings the adapter reports (string indexes 1 to 5).
struct Identity {
    std::string manufacturer = "Vantor Labs";
    std::string productName;   // empty: derived from the model
    std::string serialNumber;  // empty: the adapter's serial
    std::string hwVersion = "HW 1.0";
    std::string fwVersion = "FW 1.5.1";
};

struct BulkGroupRecord {
    uint8_t group = 0;
    uint16_t maxPayload = 0;
    uint32_t commandMask = 0;
};

// What the adapter answers to the bulk capability query.
struct BulkCapabilityConfig {
    uint16_t status = 0;  // non-zero: answer with this status and no records
    uint8_t capabilityInfo = 1;
    bool supported = true;
    // Default: I2C (group 2) and SPI (group 3), 32768 bytes, bulk write and
    // bulk read (mask 0x180), and for SPI also the bulk transfer (0x20).
    std::vector<BulkGroupRecord> groups = {{2, 32768, 0x180}, {3, 32768, 0x1A0}};
};

// The adapter's USB configuration (WebUSB switch, CDC switch, CDC mode), kept
// across connections, resets and unplugging.
struct UsbSettings {
    uint8_t webusbEnabled = 0;
    uint8_t cdcEnabled = 0;
    uint8_t cdcMode = 0;
};

struct AdapterOptions {
    Model model = Model::Teranox;
    std::string serial = "SIM0001";
    bool bulk = true;             // expose the vendor bulk interface
    uint16_t bulkPacketSize = 0;  // 0: 64 on Teranox, 512 on Quillex
    Identity identity;
    bool plugged = true;  // plug in at construction
};

// ------------------------------------------------- the test bench's devices

class I2cTarget;  // "sim/I2cDevices.h"
class SpiTarget;  // "sim/SpiDevices.h"

// A serial EEPROM on an I2C bus.
struct I2cEepromOptions {
    size_t size = 256;         // bytes; a multiple of the page size
    size_t pageSize = 16;      // a page write wraps at this boundary
    uint8_t addressBytes = 1;  // memory address width: 1 (up to 256 bytes) or 2 (up to 64 KiB)
};

// What an I2C controller bus is set to (bus 0 or 1).
struct I2cBusState {
    bool initialized = false;
    uint32_t frequencyHz = 0;
    uint8_t pullUp = 0;  // the pull-up selection, 0..12
};

// A NOR flash on an SPI chip select.
struct SpiFlashOptions {
    size_t size = 1024 * 1024;                         // bytes; a multiple of 4 KiB, at most 16 MiB
    std::array<uint8_t, 3> jedecId{0xA7, 0x40, 0x14};  // answered to 0x9F
    // After a page program or sector erase, this many status bytes still
    // read busy before the operation completes (0: completes at once).
    unsigned busyPolls = 2;
};

// What the SPI controller is set to (values as on the wire).
struct SpiControllerState {
    bool initialized = false;
    uint8_t bitOrder = 0;  // 0 MSB first, 1 LSB first
    uint8_t mode = 0;
    uint8_t dataWidth = 0;
    uint8_t chipSelect = 0;
    uint8_t chipSelectPolarity = 0;
    uint32_t frequencyHz = 0;
};

// What the UART is set to (values as on the wire).
struct UartState {
    bool initialized = false;
    uint8_t baudRate = 0;  // index of the baud rate table
    uint8_t hardwareHandshake = 0;
    uint8_t parity = 0;
    uint8_t dataSize = 0;  // 0: 7 bits, 1: 8 bits
    uint8_t stopBit = 0;
};

// One GPIO pin as the firmware sees it.
struct GpioPinState {
    bool configured = false;
    bool output = false;
    uint8_t level = 0;    // an output's driven level, an input's sampled level
    uint8_t trigger = 0;  // armed interrupt edges: 0 none, 1 rising, 2 falling, 3 both
};

// The I/O voltage rail of the I2C, SPI, UART and GPIO signals.
struct RailState {
    uint16_t millivolts = 3300;  // what the rail carries (the external supply's when external)
    bool external = false;
};

class VirtualAdapter {
  public:
    // A handler replaces the firmware for every request: it returns the
    // messages to answer with (each a whole message, header included), or
    // an empty vector for no answer.
    using Handler = std::function<std::vector<Bytes>(const Bytes& request)>;

    explicit VirtualAdapter(AdapterOptions options = {});
    ~VirtualAdapter();  // unplugs
    VirtualAdapter(const VirtualAdapter&) = delete;
    VirtualAdapter& operator=(const VirtualAdapter&) = delete;

    const std::string& path() const;  // HID path, starts with "sim:"
    const std::string& serial() const;
    Model model() const;
    size_t reportSize() const;  // 64 or 1024
    uint16_t vendorId() const;
    uint16_t productId() const;

    // Hot-plug under the same path. Unplugging fails every open handle's
    // reads and writes for good (pending input is lost); a later open by path
    // finds the adapter again. Plugging in starts the firmware from its
    // power-on state; persistent settings (USB configuration, identity,
    // measurements, bulk capabilities) stay.
    void plug();
    void unplug();
    bool isPlugged() const;

    // ---------------------------------------------------- traffic records
    std::vector<Bytes> reports() const;   // every output report as written (report id first)
    std::vector<Bytes> requests() const;  // every reassembled request message
    Bytes bulkReceived() const;           // every byte received on bulk OUT
    void clear();                         // forgets all three (and the malformed count)
    // Stops (or resumes) keeping the three records; for long runs.
    void setRecording(bool recording);
    // Output reports the adapter could not use: too short, a chunk length
    // beyond the report, reserved header bits set, a continuation without a
    // first segment, or a message abandoned unfinished.
    size_t malformedReports() const;
    // Waits until at least `count` requests were received and handled (their
    // answers queued) since the last clear; false on timeout.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

    // ---------------------------------------------------------- injection
    void send(const Bytes& message);       // framed into input reports by the adapter
    void sendReport(const Bytes& report);  // one raw input report (no report id)
    void sendBulk(const Bytes& data);      // queued on bulk IN
    // A notification message: transaction id 0, `code`, `headerWord`, then
    // `fields` (which start at offset 6).
    void notify(uint16_t code, const Bytes& fields, uint16_t headerWord = 0);

    // Scripted answers; an empty function restores the firmware.
    void setHandler(Handler handler);

    // ------------------------------------------------------------- faults
    // The next `count` output reports fail, each after `delay`.
    void failWrites(int count, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // The next `count` reads on the HID interface fail.
    void failReads(int count);
    // Responses (from the firmware or a handler) become readable only after
    // this delay; injected messages are not delayed.
    void setResponseDelay(std::chrono::milliseconds delay);
    // Bulk IN: a stalled endpoint fails every transfer with a pipe error;
    // a short endpoint delivers at most `limit` of the bytes it announced
    // (the rest is lost).
    void stallBulkIn(bool stalled);
    void limitBulkIn(std::optional<size_t> limit);

    // -------------------------------------------------- firmware settings
    void setIdentity(const Identity& identity);
    Identity identity() const;
    BulkCapabilityConfig bulkCapabilities() const;
    UsbSettings usbSettings() const;
    // False, changing nothing, when a value is out of range (255 keeps a setting).
    bool setUsbSettings(const UsbSettings& settings);
    void setBulkCapabilities(const BulkCapabilityConfig& config);
    // Analog measurements in millivolts (I/O rail, I3C low and high voltage).
    // The I/O value follows the rail: it is replaced whenever the rail
    // changes (a rail command, a reset or power-on that changes it, the
    // external voltage while the rail is external).
    void setAnalogMeasurements(uint16_t ioMv, uint16_t i3cLowMv, uint16_t i3cHighMv);
    // Reset requests the adapter received.
    int resetCount() const;
    // The adapter left its application for the boot loader (and unplugged
    // itself); plugging it in again starts the application.
    bool inBootMode() const;

    // ------------------------------------------------------- I2C bench
    // Targets on bus 0 or 1. A 7-bit address is 0x08..0x77; addresses above
    // 0x7F (up to 0x3FF), and any address with `tenBit`, are 10-bit. Commands
    // carry 7-bit addresses only, so 10-bit targets answer scans, not
    // transfers. Attaching fails (false) on an invalid bus, address or
    // option, or an address already taken. Devices are outside the adapter:
    // they keep their contents across resets and unplugging.
    bool attachI2cEeprom(uint8_t bus, uint16_t address, const I2cEepromOptions& options = {},
                         bool tenBit = false);
    // 256 registers with 1-byte register addresses and auto-increment.
    bool attachI2cRegisterMap(uint8_t bus, uint16_t address, bool tenBit = false);
    // A target of the caller's own; touch it only through the adapter
    // while the adapter may be in use.
    bool attachI2cTarget(uint8_t bus, uint16_t address, std::shared_ptr<I2cTarget> target,
                         bool tenBit = false);
    bool detachI2c(uint8_t bus, uint16_t address, bool tenBit = false);
    // A target's memory (EEPROM contents, the 256 registers); empty when
    // nothing is attached there.
    Bytes i2cMemory(uint8_t bus, uint16_t address, bool tenBit = false) const;
    // Changes a target's memory directly (no page rules); false when there
    // is no such target or the bytes do not fit.
    bool writeI2cMemory(uint8_t bus, uint16_t address, size_t offset, const Bytes& data,
                        bool tenBit = false);
    I2cBusState i2cBus(uint8_t bus) const;

    // ------------------------------------------------------- SPI bench
    // Devices on chip selects 0..3; false on an invalid chip select or
    // option, or one already taken.
    bool attachSpiFlash(uint8_t chipSelect, const SpiFlashOptions& options = {});
    bool attachSpiTarget(uint8_t chipSelect, std::shared_ptr<SpiTarget> target);
    bool detachSpi(uint8_t chipSelect);
    // The flash contents; empty when nothing is attached there.
    Bytes spiMemory(uint8_t chipSelect) const;
    bool writeSpiMemory(uint8_t chipSelect, size_t offset, const Bytes& data);
    SpiControllerState spiController() const;

    // ------------------------------------------------------ UART bench
    // Loopback wires TX to RX: every byte sent comes back as received bytes.
    void setUartLoopback(bool enabled);
    bool uartLoopback() const;
    // Bytes arriving on RX, reported to the host as UART notifications.
    // False (bytes lost) when the UART is not initialised or the adapter is
    // unplugged.
    bool injectUart(const Bytes& data);
    // Everything sent on TX since the last `clearUartSent`.
    Bytes uartSent() const;
    void clearUartSent();
    UartState uart() const;

    // ------------------------------------------------------ GPIO bench
    // Drives pin 0..5 from outside. A configured input sees the level; an
    // edge the pin's interrupt is armed for raises a GPIO notification. False
    // for an invalid pin or level.
    bool driveGpioInput(uint8_t pin, uint8_t level);
    // The level an output pin drives; nothing when the pin is not an output.
    std::optional<uint8_t> gpioOutputLevel(uint8_t pin) const;
    GpioPinState gpioPin(uint8_t pin) const;

    // ------------------------------------------------------ I/O rail
    // The voltage an external supply puts on the rail, measured while the
    // host has handed the rail over to it.
    void setExternalVoltage(uint16_t millivolts);
    RailState ioRail() const;

    struct State;  // shared with the virtual USB backends and the firmware
    // The internals ("sim/AdapterState.h"), for the firmware families' own
    // accessors and for tests of the firmware model.
    State& state() const { return *state_; }

  private:
    std::shared_ptr<State> state_;
};

}  // namespace vantor::sim
