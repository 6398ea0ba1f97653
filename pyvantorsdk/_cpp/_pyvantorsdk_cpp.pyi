"""Native bindings for the pyvantorsdk Python SDK (nanobind)"""

from collections.abc import Callable, Sequence
import enum
import os


_sdk_version: str = '1.5.1'

_abi_probe: dict = ...

class DeviceModel(enum.Enum):
    """The adapter model, recognised from its product name."""

    UNKNOWN = 0
    """A product name that names neither model."""

    TERANOX = 1
    """Teranox: 64-byte HID reports."""

    QUILLEX = 2
    """Quillex: 1024-byte HID reports."""

class I2cBus(enum.Enum):
    """One of the adapter's two I2C buses."""

    A = 0
    """Bus A (0)."""

    B = 1
    """Bus B (1)."""

class I2cPullUp(enum.Enum):
    """The pull-up resistors of an I2C bus."""

    OHM_150 = 0
    """150 ohm."""

    OHM_220 = 1
    """220 ohm."""

    OHM_330 = 2
    """330 ohm."""

    OHM_470 = 3
    """470 ohm."""

    OHM_680 = 4
    """680 ohm."""

    KOHM_1_0 = 5
    """1.0 kilohm."""

    KOHM_1_5 = 6
    """1.5 kilohm."""

    KOHM_2_2 = 7
    """2.2 kilohm."""

    KOHM_3_3 = 8
    """3.3 kilohm."""

    KOHM_4_0 = 9
    """4.0 kilohm."""

    KOHM_4_7 = 10
    """4.7 kilohm."""

    KOHM_10_0 = 11
    """10 kilohm."""

    DISABLE = 12
    """No pull-up resistors."""

class I2cTargetModel(enum.Enum):
    """The device the adapter emulates as I2C target."""

    MEMORY = 0
    """A plain memory."""

    EEPROM = 1
    """An EEPROM with pages, write cycles and protection."""

    REGISTER_MAP = 2
    """A register map with access rules per region."""

class I2cTargetAddressMode(enum.Enum):
    """The I2C target's address width."""

    BIT_7 = 0
    """A 7-bit address."""

    BIT_10 = 1
    """A 10-bit address."""

class I2cTargetMemoryLayout(enum.Enum):
    """The width of the I2C target's memory address."""

    BIT_8 = 0
    """One address byte."""

    BIT_16 = 1
    """Two address bytes."""

class I2cTargetEepromBusyBehavior(enum.Enum):
    """What the emulated EEPROM does while a write cycle runs."""

    NACK = 0
    """Refuse its address."""

    CLOCK_STRETCH = 1
    """Hold the clock low until done."""

class I2cTargetEraseScope(enum.Enum):
    """What an erase of the emulated memory covers."""

    PAGE = 0
    """The page holding the address."""

    CHIP = 1
    """The whole memory."""

class I2cTargetRegisterAccess(enum.Enum):
    """The access rule of a register region."""

    RW = 0
    """Read and write."""

    RO = 1
    """Read only."""

    WO = 2
    """Write only."""

    RC = 3
    """Cleared by a read."""

    W1C = 4
    """Bits cleared by writing 1."""

    RESERVED = 5
    """Reserved."""

class UartBaudRate(enum.Enum):
    """The UART's bit rate."""

    BAUD_600 = 0
    """600 baud."""

    BAUD_1200 = 1
    """1200 baud."""

    BAUD_2400 = 2
    """2400 baud."""

    BAUD_4800 = 3
    """4800 baud."""

    BAUD_9600 = 4
    """9600 baud."""

    BAUD_14400 = 5
    """14400 baud."""

    BAUD_19200 = 6
    """19200 baud."""

    BAUD_38400 = 7
    """38400 baud."""

    BAUD_56000 = 8
    """56000 baud."""

    BAUD_57600 = 9
    """57600 baud."""

    BAUD_115200 = 10
    """115200 baud."""

class UartParity(enum.Enum):
    """The UART's parity bit."""

    NONE = 0
    """No parity bit."""

    EVEN = 1
    """Even parity."""

    ODD = 2
    """Odd parity."""

class UartDataSize(enum.Enum):
    """Data bits per UART character."""

    BITS_7 = 0
    """7 data bits."""

    BITS_8 = 1
    """8 data bits."""

class UartStopBit(enum.Enum):
    """Stop bits per UART character."""

    ONE = 0
    """One stop bit."""

    TWO = 1
    """Two stop bits."""

class UartHwHandshake(enum.Enum):
    """RTS/CTS hardware flow control."""

    DISABLED = 0
    """No flow control."""

    ENABLED = 1
    """RTS/CTS flow control."""

class SpiBitOrder(enum.Enum):
    """The order of the bits of an SPI word."""

    MSB = 0
    """Most significant bit first."""

    LSB = 1
    """Least significant bit first."""

class SpiMode(enum.Enum):
    """SPI clock polarity and phase."""

    MODE_0 = 0
    """Clock idle low, sample on the rising edge."""

    MODE_1 = 1
    """Clock idle low, sample on the falling edge."""

    MODE_2 = 2
    """Clock idle high, sample on the falling edge."""

    MODE_3 = 3
    """Clock idle high, sample on the rising edge."""

class SpiDataWidth(enum.Enum):
    """Bits per SPI word."""

    BITS_8 = 0
    """8-bit words."""

    BITS_16 = 1
    """16-bit words."""

class SpiChipSelect(enum.Enum):
    """The chip-select line of an SPI transfer."""

    CS_0 = 0
    """Chip select 0."""

    CS_1 = 1
    """Chip select 1."""

    CS_2 = 2
    """Chip select 2."""

    CS_3 = 3
    """Chip select 3."""

class SpiChipSelectPolarity(enum.Enum):
    """The level that selects an SPI device."""

    ACTIVE_LOW = 0
    """Selected while low."""

    ACTIVE_HIGH = 1
    """Selected while high."""

class SpiTargetModel(enum.Enum):
    """The device the adapter emulates as SPI target."""

    MEMORY = 0
    """A plain memory."""

    FLASH = 1
    """A serial flash with its command set."""

    REGISTER_MAP = 2
    """A register map."""

class SpiTargetEngine(enum.Enum):
    """How the SPI target moves its data."""

    DMA = 0
    """By DMA."""

    ISR = 1
    """By interrupt service routine."""

class GpioPinNumber(enum.IntEnum):
    """One of the six GPIO pins."""

    PIN_1 = 0
    """Pin 1 (0)."""

    PIN_2 = 1
    """Pin 2 (1)."""

    PIN_3 = 2
    """Pin 3 (2)."""

    PIN_4 = 3
    """Pin 4 (3)."""

    PIN_5 = 4
    """Pin 5 (4)."""

    PIN_6 = 5
    """Pin 6 (5)."""

class GpioFunctionality(enum.IntEnum):
    """The direction of a GPIO pin."""

    DIGITAL_INPUT = 0
    """A digital input."""

    DIGITAL_OUTPUT = 1
    """A digital output."""

class GpioLogicLevel(enum.IntEnum):
    """The logic level of a GPIO pin."""

    LOW = 0
    """Low (0)."""

    HIGH = 1
    """High (1)."""

class GpioTriggerType(enum.IntFlag):
    """The edges that raise a GPIO interrupt."""

    _boundary_: enum.FlagBoundary = enum.FlagBoundary.KEEP

    _flag_mask_: int = 3

    _singles_mask_: int = 3

    _all_bits_: int = 7

    _inverted_: None = None

    __str__ = __repr__

    def __repr__(self, /):
        """Return repr(self)."""

    RISING_EDGE = 1
    """Low to high."""

    FALLING_EDGE = 2
    """High to low."""

    BOTH_EDGES = 3
    """Either edge."""

class I3cPushPullRate(enum.Enum):
    """The I3C push-pull clock: frequency and duty cycle (percent)."""

    PUSH_PULL_2_5_MHZ_DC_10 = 0
    """2.5 MHz, 10 % duty cycle."""

    PUSH_PULL_2_5_MHZ_DC_15 = 1
    """2.5 MHz, 15 % duty cycle."""

    PUSH_PULL_2_5_MHZ_DC_20 = 2
    """2.5 MHz, 20 % duty cycle."""

    PUSH_PULL_2_5_MHZ_DC_25 = 3
    """2.5 MHz, 25 % duty cycle."""

    PUSH_PULL_3_125_MHZ_DC_12_5 = 4
    """3.125 MHz, 12.5 % duty cycle."""

    PUSH_PULL_3_125_MHZ_DC_18_75 = 5
    """3.125 MHz, 18.75 % duty cycle."""

    PUSH_PULL_3_125_MHZ_DC_25 = 6
    """3.125 MHz, 25 % duty cycle."""

    PUSH_PULL_3_125_MHZ_DC_31_25 = 7
    """3.125 MHz, 31.25 % duty cycle."""

    PUSH_PULL_5_MHZ_DC_20 = 8
    """5 MHz, 20 % duty cycle."""

    PUSH_PULL_5_MHZ_DC_30 = 9
    """5 MHz, 30 % duty cycle."""

    PUSH_PULL_5_MHZ_DC_40 = 10
    """5 MHz, 40 % duty cycle."""

    PUSH_PULL_5_MHZ_DC_50 = 11
    """5 MHz, 50 % duty cycle."""

    PUSH_PULL_6_25_MHZ_DC_25 = 12
    """6.25 MHz, 25 % duty cycle."""

    PUSH_PULL_6_25_MHZ_DC_37_5 = 13
    """6.25 MHz, 37.5 % duty cycle."""

    PUSH_PULL_6_25_MHZ_DC_50 = 14
    """6.25 MHz, 50 % duty cycle."""

    PUSH_PULL_7_5_MHZ_DC_30 = 15
    """7.5 MHz, 30 % duty cycle."""

    PUSH_PULL_7_5_MHZ_DC_45 = 16
    """7.5 MHz, 45 % duty cycle."""

    PUSH_PULL_10_MHZ_DC_40 = 17
    """10 MHz, 40 % duty cycle."""

    PUSH_PULL_12_5_MHZ_DC_50 = 18
    """12.5 MHz, 50 % duty cycle."""

    PUSH_PULL_1_MHZ_DC_40 = 19
    """1 MHz, 40 % duty cycle."""

    PUSH_PULL_400_KHZ_DC_46 = 20
    """400 kHz, 46 % duty cycle."""

    PUSH_PULL_100_KHZ_DC_34 = 21
    """100 kHz, 34 % duty cycle."""

class I3cOpenDrainRate(enum.Enum):
    """The I3C open-drain clock."""

    OPEN_DRAIN_100_KHZ = 0
    """100 kHz."""

    OPEN_DRAIN_400_KHZ = 1
    """400 kHz."""

    OPEN_DRAIN_1_MHZ = 2
    """1 MHz."""

    OPEN_DRAIN_2_MHZ = 3
    """2 MHz."""

    OPEN_DRAIN_4_17_MHZ = 4
    """4.17 MHz."""

class I2cOpenDrainRate(enum.Enum):
    """The clock of legacy I2C transfers on the I3C bus."""

    STANDARD_MODE = 0
    """Standard mode, 100 kHz."""

    FAST_MODE = 1
    """Fast mode, 400 kHz."""

    FAST_MODE_PLUS = 2
    """Fast mode plus, 1 MHz."""

    HIGH_SPEED_MODE = 3
    """High-speed mode."""

    ULTRA_FAST_MODE = 4
    """Ultra-fast mode."""

class I3cDriveStrength(enum.Enum):
    """The drive strength of the I3C lines."""

    STANDARD = 0
    """Standard drive."""

    FAST = 1
    """Strong drive for fast edges."""

class I3cTransferFlags(enum.IntFlag):
    """Options of an I3C transfer."""

    _boundary_: enum.FlagBoundary = enum.FlagBoundary.KEEP

    _flag_mask_: int = 3

    _singles_mask_: int = 3

    _all_bits_: int = 7

    _inverted_: None = None

    __str__ = __repr__

    def __repr__(self, /):
        """Return repr(self)."""

    NONE = 0
    """No option."""

    NONSTOP = 1
    """End with a repeated start instead of a stop."""

    SKIP_EXIT_PATTERN = 1
    """End with a repeated start instead of a stop."""

    START_WITH_7E = 2
    """Begin with the broadcast address 0x7E."""

class I3cTransferDirection(enum.Enum):
    """The direction of an I3C transfer."""

    WRITE = 0
    """Controller to target."""

    READ = 1
    """Target to controller."""

class I3cTargetResetDefByte(enum.Enum):
    """The defining byte of the RSTACT common command."""

    NO_RESET = 0
    """No reset on the next reset pattern."""

    RESET_I3C_PERIPHERAL = 1
    """Reset the I3C peripheral only."""

    RESET_WHOLE_TARGET = 2
    """Reset the whole target."""

    RESET_DEBUG_NETWORK = 3
    """Reset the debug network."""

    VIRTUAL_TARGET_DETECT = 4
    """Detect virtual targets."""

    RETURN_TIME_RESET_PERIPHERAL = 129
    """Read the time a peripheral reset takes."""

    RETURN_TIME_RESET_WHOLE_TARGET = 130
    """Read the time a whole-target reset takes."""

    RETURN_TIME_DEBUG_NETWORK_RESET = 131
    """Read the time a debug-network reset takes."""

    RETURN_VIRTUAL_TARGET_INDICATION = 132
    """Read whether the target is virtual."""

class I3cEvent(enum.IntFlag):
    """Target events enabled or disabled by ENEC and DISEC."""

    _boundary_: enum.FlagBoundary = enum.FlagBoundary.KEEP

    _flag_mask_: int = 11

    _singles_mask_: int = 11

    _all_bits_: int = 31

    _inverted_: None = None

    __str__ = __repr__

    def __repr__(self, /):
        """Return repr(self)."""

    IBI = 1
    """In-band interrupts."""

    CR = 2
    """Controller role requests."""

    HJ = 8
    """Hot-join requests."""

class I3cTargetMemoryLayout(enum.Enum):
    """The register layout of the emulated I3C target's memory."""

    MEMORY_1_BYTE_X_1024_REGS = 0
    """1024 one-byte registers."""

    MEMORY_2_BYTES_X_512_REGS = 1
    """512 two-byte registers."""

    MEMORY_4_BYTES_X_256_REGS = 2
    """256 four-byte registers."""

class I3cTargetDcr(enum.IntEnum):
    """Device characteristics of the emulated I3C target."""

    SECONDARY_CONTROLLER = 196
    """A secondary controller (0xC4)."""

    MEMORY = 197
    """A memory (0xC5)."""

    MICROCONTROLLER = 198
    """A microcontroller (0xC6)."""

class I3cTargetBusEventKind(enum.IntEnum):
    """What the emulated I3C target saw on the bus."""

    WRITE_TRANSFER = 0
    """A write to its memory."""

    READ_TRANSFER = 1
    """A read of its memory."""

    CCC_TRANSFER = 2
    """A common command code."""

    DYN_ADDR_CHANGE = 3
    """A change of its dynamic address."""

class I3cConnectorPort(enum.IntEnum):
    """The I3C connector an event concerns."""

    LV = 0
    """The low-voltage connector."""

    HV = 1
    """The high-voltage connector."""

class I3cConnectorEvent(enum.IntEnum):
    """A plug event of an I3C connector."""

    PLUGGED = 0
    """Something was plugged in."""

    UNPLUGGED = 1
    """It was unplugged."""

class I3cConnectorType(enum.IntEnum):
    """What is plugged into an I3C connector."""

    UNIDENTIFIED = 0
    """Something the adapter does not recognise."""

    HARNESS = 1
    """A harness."""

    QWIIC_ADAPTER = 2
    """A Qwiic adapter."""

    KELDRIX = 3
    """A Keldrix board."""

    NONE = 4
    """Nothing."""

    ERROR = 5
    """The identification failed."""

class StatusCode(enum.Enum):
    """
    The result of a device operation: SUCCESS, a firmware status (FW_*) or one the library produces itself (SDK_ERROR_*).
    """

    SUCCESS = 0
    """The operation succeeded."""

    FW_UNSUPPORTED_COMMAND = 1
    """General firmware status 0x0001."""

    FW_INVALID_COMMAND = 2
    """General firmware status 0x0002."""

    FW_FULL_RECEPTION_QUEUE = 3
    """General firmware status 0x0003."""

    FW_INVALID_PARAMETER = 4
    """General firmware status 0x0004."""

    FW_FEATURE_NOT_SUPPORTED_BY_HARDWARE = 5
    """General firmware status 0x0005."""

    FW_INTERFACE_NOT_INITIALIZED = 6
    """General firmware status 0x0006."""

    FW_INTERFACE_ALREADY_INITIALIZED = 7
    """General firmware status 0x0007."""

    FW_BUS_NOT_SUPPORTED = 8
    """General firmware status 0x0008."""

    FW_BUS_TIMEOUT = 9
    """General firmware status 0x0009."""

    FW_RX_FIFO_FULL = 10
    """General firmware status 0x000A."""

    FW_TX_FIFO_EMPTY = 11
    """General firmware status 0x000B."""

    FW_UNHANDLED_ERROR = 12
    """General firmware status 0x000C."""

    FW_INTERFACE_UNAVAILABLE_IN_CDC_MODE = 13
    """General firmware status 0x000D."""

    FW_VOLTAGE_OUT_OF_RANGE = 257
    """System firmware status 0x0101."""

    FW_EXTERNAL_VOLTAGE_DETECTED = 258
    """System firmware status 0x0102."""

    FW_VOLTAGE_ADJUSTMENT_FAILURE = 259
    """System firmware status 0x0103."""

    FW_I3C_PORTS_NOT_POWERED = 260
    """System firmware status 0x0104."""

    FW_BOTH_I3C_PORTS_POWERED = 261
    """System firmware status 0x0105."""

    FW_VOLTAGE_OUT_OF_RANGE_ON_I3C_LV = 262
    """System firmware status 0x0106."""

    FW_VOLTAGE_OUT_OF_RANGE_ON_I3C_HV = 263
    """System firmware status 0x0107."""

    FW_SETTINGS_SAVE_FAILED = 264
    """System firmware status 0x0108."""

    FW_SHELL_MODE_ACTIVE = 265
    """System firmware status 0x0109."""

    FW_I2C_PULLUP_RESISTOR_SETTING_FAILURE = 513
    """I2C firmware status 0x0201."""

    FW_I2C_ARBITRATION_LOST = 514
    """I2C firmware status 0x0202."""

    FW_I2C_NACK_ADDRESS = 515
    """I2C firmware status 0x0203."""

    FW_I2C_NACK_BYTE = 516
    """I2C firmware status 0x0204."""

    FW_I2C_BIT_ERROR = 517
    """I2C firmware status 0x0205."""

    FW_I2C_START_STOP_ERROR = 518
    """I2C firmware status 0x0206."""

    FW_I2C_BUSY = 519
    """I2C firmware status 0x0207."""

    FW_I2C_TIMEOUT_CONTINUE_TRANSFER = 520
    """I2C firmware status 0x0208."""

    FW_I2C_TIMEOUT_WAITING_BUS_EVENT = 521
    """I2C firmware status 0x0209."""

    FW_I2C_TIMEOUT_SCL_LOW = 522
    """I2C firmware status 0x020A."""

    FW_I2C_DMA_REQUEST_FAIL = 523
    """I2C firmware status 0x020B."""

    FW_I2C_INVALID_PARAMETER = 524
    """I2C firmware status 0x020C."""

    FW_I2C_NO_TRANSFER_IN_PROGRESS = 525
    """I2C firmware status 0x020D."""

    FW_I2C_UNEXPECTED_STATE = 526
    """I2C firmware status 0x020E."""

    FW_I2C_BUS_WITH_NO_TARGETS_CONNECTED = 527
    """I2C firmware status 0x020F."""

    FW_I2C_TARGET_STAGING_UNAVAILABLE = 528
    """I2C firmware status 0x0210."""

    FW_I2C_TARGET_SURPASSED_MEMORY_SIZE = 529
    """I2C firmware status 0x0211."""

    FW_I2C_TARGET_PAYLOAD_TRANSFER_FAILED = 530
    """I2C firmware status 0x0212."""

    FW_I2C_TARGET_WRONG_MODEL = 531
    """I2C firmware status 0x0213."""

    FW_I2C_TARGET_INVALID_CONFIG = 532
    """I2C firmware status 0x0214."""

    FW_I2C_TARGET_REGION_TABLE_FULL = 533
    """I2C firmware status 0x0215."""

    FW_I2C_ROLE_CONFLICT = 534
    """I2C firmware status 0x0216."""

    FW_SPI_TARGET_STAGING_UNAVAILABLE = 784
    """SPI firmware status 0x0310."""

    FW_SPI_TARGET_SURPASSED_MEMORY_SIZE = 785
    """SPI firmware status 0x0311."""

    FW_SPI_TARGET_PAYLOAD_TRANSFER_FAILED = 786
    """SPI firmware status 0x0312."""

    FW_SPI_TARGET_WRONG_MODEL = 787
    """SPI firmware status 0x0313."""

    FW_SPI_TARGET_INVALID_CONFIG = 788
    """SPI firmware status 0x0314."""

    FW_SPI_TARGET_REGION_TABLE_FULL = 789
    """SPI firmware status 0x0315."""

    FW_SPI_ROLE_CONFLICT = 790
    """SPI firmware status 0x0316."""

    FW_UART_IN_VCOM_PORT_MODE = 1025
    """UART firmware status 0x0401."""

    FW_GPIO_NOT_CONFIGURED = 1281
    """GPIO firmware status 0x0501."""

    FW_GPIO_WRONG_CONFIGURATION = 1282
    """GPIO firmware status 0x0502."""

    FW_FULL_TARGET_DEVICES_TABLE = 1537
    """I3C firmware status 0x0601."""

    FW_NOT_ENOUGH_SPACE_IN_TARGET_DEVICES_TABLE = 1538
    """I3C firmware status 0x0602."""

    FW_TARGET_DEVICES_TABLE_OVERFLOW = 1539
    """I3C firmware status 0x0603."""

    FW_TARGET_ADDRESS_NOT_FOUND_IN_THE_TABLE = 1540
    """I3C firmware status 0x0604."""

    FW_REPEATED_TARGET_ADDRESS = 1541
    """I3C firmware status 0x0605."""

    FW_INVALID_TARGET_ADDRESS = 1542
    """I3C firmware status 0x0606."""

    FW_I3C_BUS_INIT_NACK_RSTDAA = 1543
    """I3C firmware status 0x0607."""

    FW_I3C_BUS_INIT_NACK_SETDASA = 1544
    """I3C firmware status 0x0608."""

    FW_I3C_BUS_INIT_NACK_SETAASA = 1545
    """I3C firmware status 0x0609."""

    FW_I3C_BUS_INIT_NACK_ENTDAA = 1546
    """I3C firmware status 0x060A."""

    FW_I3C_NACK_ADDRESS = 1547
    """I3C firmware status 0x060B."""

    FW_I3C_I2C_NACK_BYTE = 1548
    """I3C firmware status 0x060C."""

    FW_I3C_TRANSFER_ABORTED_BY_CONTROLLER = 1549
    """I3C firmware status 0x060D."""

    FW_I3C_TRANSFER_MWL_REACHED = 1550
    """I3C firmware status 0x060E."""

    FW_I3C_TRANSFER_MRL_REACHED = 1551
    """I3C firmware status 0x060F."""

    FW_I3C_TRANSFER_PARITY_ERROR = 1552
    """I3C firmware status 0x0610."""

    FW_IBI_REQUEST_ACCEPTED = 1553
    """I3C firmware status 0x0611."""

    FW_IBI_REQUEST_ACCEPTED_WITH_PAYLOAD = 1554
    """I3C firmware status 0x0612."""

    FW_IBI_REQUEST_REJECTED = 1555
    """I3C firmware status 0x0613."""

    FW_HJ_REQUEST_ACCEPTED = 1556
    """I3C firmware status 0x0614."""

    FW_HJ_REQUEST_REJECTED = 1557
    """I3C firmware status 0x0615."""

    FW_REGISTER_ADDRESS_OUT_OF_RANGE = 1558
    """I3C firmware status 0x0616."""

    FW_SURPASSED_MEMORY_SIZE = 1559
    """I3C firmware status 0x0617."""

    FW_I3C_TRANSFER_CRC_ERROR = 1560
    """I3C firmware status 0x0618."""

    FW_I3C_ENGINE_BUSY = 1561
    """I3C firmware status 0x0619."""

    FW_I3C_TRANSFER_INCOMPLETE_READ = 1562
    """I3C firmware status 0x061A."""

    SDK_ERROR_TIMEOUT = 8192
    """No response within the facade's time-out."""

    SDK_ERROR_DISCONNECT = 16384
    """Not connected, or the adapter was lost."""

    SDK_ERROR_UNEXPECTED_RESPONSE = 24576
    """A response that does not answer the request."""

    SDK_ERROR_WRONG_REQUEST = 32768
    """Arguments refused before anything was sent."""

    SDK_ERROR_WRONG_RESPONSE = 40960
    """A response too short or malformed for its command."""

    SDK_ERROR_BULK_UNAVAILABLE = 49152
    """No bulk interface, or the command is not offered on it."""

class DeviceInfo:
    """Identification strings of an adapter."""

    def __init__(self) -> None: ...

    @property
    def manufacturer(self) -> str: ...

    @property
    def product_name(self) -> str: ...

    @property
    def model(self) -> DeviceModel: ...

    @property
    def serial_number(self) -> str: ...

    @property
    def hw_version(self) -> str: ...

    @property
    def fw_version(self) -> str: ...

    def __repr__(self) -> str: ...

def _test_throw_status(code: int, operation: str) -> None:
    """Raise the exception a real SDK failure with this status would raise."""

class Notification:
    """An event reported by the adapter."""

    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def payload(self) -> bytes:
        """The whole notification message as received."""

class I3cHotJoinNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def pid(self) -> bytes: ...

    @property
    def bcr(self) -> int: ...

    @property
    def dcr(self) -> int: ...

    @property
    def dynamic_address(self) -> int: ...

class I3cIbiNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def address(self) -> int: ...

    @property
    def payload(self) -> bytes:
        """The in-band interrupt's data bytes."""

class I3cTargetBusEventNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def kind(self) -> int: ...

    @property
    def target_address(self) -> int: ...

    @property
    def memory_address(self) -> int: ...

    @property
    def payload(self) -> bytes:
        """The transferred bytes."""

class I2cTargetBusEventNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def event(self) -> int: ...

    @property
    def target_address(self) -> int: ...

    @property
    def memory_address(self) -> int: ...

    @property
    def payload_length(self) -> int: ...

class SpiTargetBusEventNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def event(self) -> int: ...

    @property
    def chip_select(self) -> int: ...

    @property
    def memory_address(self) -> int: ...

    @property
    def payload_length(self) -> int: ...

class I3cConnectorEventNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def port(self) -> int: ...

    @property
    def event(self) -> int: ...

    @property
    def connector_type(self) -> int: ...

class UartRxNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def data(self) -> bytes: ...

class GpioInterruptNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

    @property
    def pin_number(self) -> int: ...

    @property
    def triggered_edge(self) -> int: ...

    @property
    def logic_level(self) -> int: ...

class UnknownNotification(Notification):
    def __init__(self) -> None: ...

    def __repr__(self) -> str: ...

class HidDeviceInfo:
    """One HID interface present on the system."""

    def __init__(self) -> None: ...

    @property
    def path(self) -> str: ...

    @property
    def vendor_id(self) -> int: ...

    @property
    def product_id(self) -> int: ...

    @property
    def serial_number(self) -> str: ...

    @property
    def release_number(self) -> int: ...

    @property
    def manufacturer(self) -> str: ...

    @property
    def product_name(self) -> str: ...

    @property
    def usage_page(self) -> int: ...

    @property
    def usage(self) -> int: ...

    @property
    def interface_number(self) -> int: ...

    @property
    def bus_type(self) -> int: ...

    def __repr__(self) -> str: ...

def enumerate_devices(vid: int = 0, pid: int = 0) -> list[HidDeviceInfo]:
    """
    List the HID interfaces with this vendor and product id (0 matches any).
    """

_supported_devices: tuple = ...

_virtual_path_prefix: str = 'sim:'

class I2cScanResult:
    """Addresses that answered an I2C bus scan."""

    def __init__(self) -> None: ...

    @property
    def addresses_7bit(self) -> frozenset: ...

    @property
    def addresses_10bit(self) -> frozenset: ...

    def __repr__(self) -> str: ...

def make_device_info(manufacturer: str, product_name: str, serial_number: str, hw_version: str, fw_version: str) -> DeviceInfo:
    """Build a DeviceInfo, recognising the model from the product name."""

def decode_i2c_scan(payload: bytes) -> I2cScanResult:
    """
    Decode the parameter block and addresses of an I2C scan response (from offset 6).
    """

def decode_spi_transfer(payload: bytes) -> bytes:
    """
    Extract the received bytes of an SPI transfer response (from offset 6).
    """

class DeviceFacade:
    """
    Drives one adapter synchronously: every method waits for the adapter's answer and raises a pyvantorsdk.errors exception for a failure status.
    """

    def __init__(self, timeout_ms: int = 2000) -> None:
        """
        A facade for one adapter; each request waits at most timeout_ms for its answer (-1: no limit).
        """

    def connect(self, device_path: str = '') -> bool:
        """
        Open the adapter at this HID path, or the first supported adapter for an empty path. False when none could be opened.
        """

    def connect_serial(self, serial: str) -> bool:
        """Open the first supported adapter with this serial number."""

    def disconnect(self) -> None:
        """
        Close the adapter (nothing happens when it is not open); notifications received before are delivered first.
        """

    def get_version(self) -> str:
        """The SDK version."""

    def get_device_info(self) -> DeviceInfo:
        """The adapter's identification strings and model."""

    def reset_device(self) -> None:
        """Reset the adapter."""

    def enter_boot_mode(self) -> None:
        """Send the adapter into its boot loader; the connection closes."""

    def get_usb_config(self) -> tuple[int, int, int]:
        """(webusb_enabled, cdc_enabled, cdc_mode)."""

    def set_usb_config(self, webusb_enabled: int, cdc_enabled: int, cdc_mode: int) -> None:
        """Change the USB configuration; 255 leaves a setting unchanged."""

    def get_discarded_response_count(self) -> int:
        """
        Messages received that no request took (too short, late or unexpected).
        """

    def is_bulk_transport_available(self) -> bool:
        """True when the adapter's vendor bulk interface is open."""

    def get_bulk_capabilities(self) -> tuple:
        """
        (capability_info, supported, [(group, max_payload, command_mask), ...]), queried once per connection.
        """

    def on_notification(self, cb: Callable[[Notification], object] | None) -> Callable[[Notification], object] | None:
        """
        Call cb(notification) for every event, in order, on the facade's delivery thread; None stops delivery. Returns the callback this one replaces (None if there was none), so a temporary user can put it back. The callback must not call the facade's blocking methods: they are refused there.
        """

    def on_connection_lost(self, cb: Callable[[], object] | None) -> None:
        """
        Call cb() on the facade's delivery thread when the adapter stops answering reads (it was unplugged), after the events that arrived before; once per loss. None removes it. Like the notification callback, it must not call the facade's blocking methods.
        """

    @property
    def dropped_notifications(self) -> int:
        """
        Notifications lost because 65536 were already waiting for the callback (each loss is also logged on "pyvantorsdk.backend").
        """

    def __enter__(self) -> DeviceFacade: ...

    def __exit__(self, exc_type: object | None, exc_value: object | None, traceback: object | None) -> None:
        """Disconnect when the with block ends."""

    def __repr__(self) -> str: ...

    def start_trace(self, path: str | os.PathLike) -> None:
        """
        Record every HID report and bulk transfer of this facade, in both directions and with timestamps, into a pcapng file (Linux USB capture) until stop_trace. Works before connect (the connect's traffic is recorded) and goes on across connections. Starting while a trace runs replaces it: the first file is closed complete. Each packet is flushed as it is written, so the file is readable however the program ends. Raises OSError when the file cannot be created (a running trace then goes on). A file that cannot take the next packet (disk full) ends the trace: the file keeps every whole packet, `tracing` turns False, and stop_trace reports it.
        """

    def stop_trace(self) -> None:
        """
        Close the trace file; nothing happens when no trace runs. When the trace had stopped because its file could not be written (disk full), logs that to 'pyvantorsdk.backend' and raises the OSError of the failed write, once.
        """

    def trace(self, path: str | os.PathLike) -> _TraceScope:
        """
        A context manager: `with device.trace(path):` records the block's traffic (start_trace on entry, stop_trace on exit).
        """

    @property
    def tracing(self) -> bool:
        """
        True while a trace file is being written; False also once a write to it failed.
        """

    def i2c_set_bus_voltage(self, voltage_mv: int, persist: bool = False) -> None:
        """
        Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).
        """

    def i2c_use_external_voltage(self, persist: bool = False) -> None:
        """Power the shared I/O rail from an external supply."""

    def i2c_get_bus_voltage(self) -> int:
        """The shared I/O rail voltage in millivolts."""

    def i2c_controller_init(self, bus: int | I2cBus, frequency_hz: int, pull_up: int | I2cPullUp) -> None:
        """Initialise a bus as controller."""

    def i2c_set_parameters(self, bus: int | I2cBus, frequency_hz: int, pull_up: int | I2cPullUp) -> None:
        """Change an initialised bus's settings."""

    def i2c_set_pull_up_resistors(self, bus: int | I2cBus, value: int | I2cPullUp) -> None:
        """Select a bus's pull-up resistors."""

    def i2c_deinit(self, bus: int | I2cBus) -> None:
        """Release a bus."""

    def i2c_write(self, bus: int | I2cBus, address: int, subaddress: bytes, data: bytes, non_stop: bool) -> None:
        """
        Write data after a subaddress of 0 to 4 bytes (most significant first).
        """

    def i2c_read(self, bus: int | I2cBus, address: int, subaddress: bytes, length: int, non_stop: bool) -> bytes:
        """Read up to length bytes after writing the subaddress."""

    def i2c_scan_bus(self, bus: int | I2cBus, include_10bit: bool = False) -> I2cScanResult:
        """The addresses that answer on a bus."""

    def i2c_write_bulk(self, bus: int | I2cBus, address: int, subaddress: bytes, data: bytes, non_stop: bool) -> None:
        """i2c_write with the data sent over the vendor bulk interface."""

    def i2c_read_bulk(self, bus: int | I2cBus, address: int, subaddress: bytes, length: int, non_stop: bool) -> bytes:
        """i2c_read with the data received over the vendor bulk interface."""

    def uart_set_bus_voltage(self, voltage_mv: int, persist: bool = False) -> None:
        """
        Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).
        """

    def uart_use_external_voltage(self, persist: bool = False) -> None:
        """Power the shared I/O rail from an external supply."""

    def uart_get_bus_voltage(self) -> int:
        """The shared I/O rail voltage in millivolts."""

    def uart_init(self, baudrate: UartBaudRate, hardware_handshake: UartHwHandshake, parity: UartParity, data_size: UartDataSize, stop_bit: UartStopBit) -> None:
        """Initialise the UART."""

    def uart_set_parameters(self, baudrate: UartBaudRate, hardware_handshake: UartHwHandshake, parity: UartParity, data_size: UartDataSize, stop_bit: UartStopBit) -> None:
        """Change the initialised UART's settings."""

    def uart_deinit(self) -> None:
        """Release the UART."""

    def uart_send_message(self, data: bytes) -> None:
        """Send bytes on the UART."""

    def i3c_set_bus_voltage(self, voltage_mv: int) -> None:
        """Set the I3C port voltage in millivolts."""

    def i3c_use_external_voltage(self, persist: bool = False) -> None:
        """
        Power the I3C ports from an external supply (True) or the adapter's own.
        """

    def i3c_get_bus_voltage(self) -> tuple[int, int]:
        """The two I3C port voltages in millivolts."""

    def i3c_controller_init(self, push_pull_frequency: int | I3cPushPullRate, open_drain_frequency: int | I3cOpenDrainRate, i2c_open_drain_frequency: int | I2cOpenDrainRate, drive_strength: int | I3cDriveStrength) -> None:
        """Initialise the I3C controller: rates and drive strength."""

    def i3c_set_parameters(self, push_pull_frequency: int | I3cPushPullRate, open_drain_frequency: int | I3cOpenDrainRate, i2c_open_drain_frequency: int | I2cOpenDrainRate, drive_strength: int | I3cDriveStrength) -> None:
        """Change the I3C controller's rates and drive strength."""

    def i3c_init_bus(self, targets: Sequence = ()) -> None:
        """Assign dynamic addresses to the listed targets (target dictionaries)."""

    def i3c_reset_bus(self) -> None:
        """Reset the I3C bus."""

    def i3c_get_device_table(self) -> list:
        """The adapter's table of targets, as target dictionaries."""

    def i3c_set_target_device_configuration(self, address: int, configuration: int) -> None:
        """Set the configuration byte of a target in the table."""

    def i3c_target_reset_pattern(self) -> None:
        """Send the target reset pattern."""

    def i3c_hdr_exit_pattern(self) -> None:
        """Send the HDR exit pattern."""

    def i3c_legacy_i2c_write(self, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags) -> None:
        """Write to a legacy I2C device on the I3C bus."""

    def i3c_legacy_i2c_read(self, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags) -> bytes:
        """Read from a legacy I2C device on the I3C bus."""

    def i3c_sdr_write(self, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags = 2) -> None:
        """SDR private write after a sub-address of 0 to 4 bytes."""

    def i3c_sdr_read(self, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags = 2) -> bytes:
        """SDR private read after a sub-address of 0 to 4 bytes."""

    def i3c_hdr_ddr_write(self, address: int, command: int, data: bytes, flags: int | I3cTransferFlags = 0) -> None:
        """HDR-DDR write with a command code."""

    def i3c_hdr_ddr_read(self, address: int, command: int, length: int, flags: int | I3cTransferFlags = 0) -> bytes:
        """HDR-DDR read with a command code."""

    def i3c_legacy_i2c_write_bulk(self, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags = 0) -> None:
        """i3c_legacy_i2c_write with the data over the vendor bulk interface."""

    def i3c_legacy_i2c_read_bulk(self, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags = 0) -> bytes:
        """i3c_legacy_i2c_read with the data over the vendor bulk interface."""

    def i3c_sdr_write_bulk(self, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags = 0) -> None:
        """i3c_sdr_write with the data over the vendor bulk interface."""

    def i3c_sdr_read_bulk(self, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags = 0) -> bytes:
        """i3c_sdr_read with the data over the vendor bulk interface."""

    def i3c_hdr_ddr_write_bulk(self, address: int, command: int, data: bytes, flags: int | I3cTransferFlags = 0) -> None:
        """i3c_hdr_ddr_write with the data over the vendor bulk interface."""

    def i3c_hdr_ddr_read_bulk(self, address: int, command: int, length: int, flags: int | I3cTransferFlags = 0) -> bytes:
        """i3c_hdr_ddr_read with the data over the vendor bulk interface."""

    def i3c_ccc_rstdaa(self, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast RSTDAA: every target drops its dynamic address."""

    def i3c_ccc_entdaa(self, targets: Sequence = ()) -> None:
        """ENTDAA for the listed targets (target dictionaries)."""

    def i3c_ccc_setdasa(self, static_address: int, dynamic_address: int, flags: int | I3cTransferFlags = 0) -> None:
        """SETDASA: give the target at a static address a dynamic one."""

    def i3c_ccc_setaasa(self, static_addresses: Sequence[int], flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast SETAASA: targets take their static address as dynamic one."""

    def i3c_ccc_setnewda(self, old_dynamic_address: int, new_dynamic_address: int, flags: int | I3cTransferFlags = 0) -> None:
        """SETNEWDA: move a target to a new dynamic address."""

    def i3c_ccc_getpid(self, address: int, flags: int | I3cTransferFlags = 0) -> bytes:
        """GETPID: the target's 48-bit provisioned id, as sent."""

    def i3c_ccc_getbcr(self, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETBCR: the target's bus characteristics register."""

    def i3c_ccc_getdcr(self, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETDCR: the target's device characteristics register."""

    def i3c_ccc_getstatus(self, target_address: int, def_byte: int | None = None, flags: int | I3cTransferFlags = 0) -> bytes:
        """GETSTATUS, with a defining byte when def_byte is not None."""

    def i3c_ccc_getcaps(self, target_address: int, def_byte: int | None = None, flags: int | I3cTransferFlags = 0) -> bytes:
        """GETCAPS, with a defining byte when def_byte is not None."""

    def i3c_ccc_getmxds(self, target_address: int, flags: int | I3cTransferFlags = 0) -> bytes:
        """GETMXDS: the target's maximum data speeds."""

    def i3c_ccc_getxtime(self, target_address: int, flags: int | I3cTransferFlags = 0) -> bytes:
        """GETXTIME: the target's timing capabilities."""

    def i3c_ccc_rstact_broadcast(self, def_byte: int | I3cTargetResetDefByte, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast RSTACT: the action of the next reset pattern."""

    def i3c_ccc_rstact_direct(self, target_address: int, def_byte: int | I3cTargetResetDefByte, direction: int | I3cTransferDirection, flags: int | I3cTransferFlags = 0) -> int | None:
        """Direct RSTACT; with direction READ the byte read back, else None."""

    def i3c_ccc_rstgrpa_broadcast(self, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast RSTGRPA: every target leaves its group."""

    def i3c_ccc_rstgrpa_direct(self, address: int, flags: int | I3cTransferFlags = 0) -> None:
        """Direct RSTGRPA: one target leaves its group."""

    def i3c_ccc_setgrpa_direct(self, target_address: int, grpa: int, flags: int | I3cTransferFlags = 0) -> None:
        """SETGRPA: give a target a group address."""

    def i3c_ccc_entas0_broadcast(self, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast ENTAS0."""

    def i3c_ccc_entas1_broadcast(self, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast ENTAS1."""

    def i3c_ccc_entas2_broadcast(self, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast ENTAS2."""

    def i3c_ccc_entas3_broadcast(self, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast ENTAS3."""

    def i3c_ccc_entas0_direct(self, address: int, flags: int | I3cTransferFlags = 0) -> None:
        """Direct ENTAS0."""

    def i3c_ccc_entas1_direct(self, address: int, flags: int | I3cTransferFlags = 0) -> None:
        """Direct ENTAS1."""

    def i3c_ccc_entas2_direct(self, address: int, flags: int | I3cTransferFlags = 0) -> None:
        """Direct ENTAS2."""

    def i3c_ccc_entas3_direct(self, address: int, flags: int | I3cTransferFlags = 0) -> None:
        """Direct ENTAS3."""

    def i3c_ccc_enec_broadcast(self, events: int | I3cEvent, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast ENEC: enable target events (I3cEvent bits)."""

    def i3c_ccc_disec_broadcast(self, events: int | I3cEvent, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast DISEC: disable target events (I3cEvent bits)."""

    def i3c_ccc_enec_direct(self, address: int, events: int | I3cEvent, flags: int | I3cTransferFlags = 0) -> None:
        """Direct ENEC: enable one target's events."""

    def i3c_ccc_disec_direct(self, address: int, events: int | I3cEvent, flags: int | I3cTransferFlags = 0) -> None:
        """Direct DISEC: disable one target's events."""

    def i3c_ccc_getmwl(self, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETMWL: the target's maximum write length."""

    def i3c_ccc_setmwl_broadcast(self, mwl: int, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast SETMWL."""

    def i3c_ccc_setmwl_direct(self, address: int, mwl: int, flags: int | I3cTransferFlags = 0) -> None:
        """Direct SETMWL."""

    def i3c_ccc_getmrl(self, address: int, flags: int | I3cTransferFlags = 0) -> tuple[int, int | None]:
        """GETMRL: (maximum read length, IBI payload size or None)."""

    def i3c_ccc_setmrl_broadcast(self, mrl: int, ibi_length: int | None = None, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast SETMRL, with the IBI payload size when not None."""

    def i3c_ccc_setmrl_direct(self, address: int, mrl: int, ibi_length: int | None = None, flags: int | I3cTransferFlags = 0) -> None:
        """Direct SETMRL, with the IBI payload size when not None."""

    def i3c_ccc_setxtime_broadcast(self, sub_cmd_byte: int, data: bytes | None = None, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast SETXTIME: a sub-command and its optional bytes."""

    def i3c_ccc_setxtime_direct(self, target_address: int, sub_cmd_byte: int, data: bytes | None = None, flags: int | I3cTransferFlags = 0) -> None:
        """Direct SETXTIME: a sub-command and its optional bytes."""

    def i3c_ccc_setbuscon_broadcast(self, context: int, data: bytes | None = None, flags: int | I3cTransferFlags = 0) -> None:
        """Broadcast SETBUSCON: a bus context and its optional bytes."""

    def spi_set_bus_voltage(self, voltage_mv: int, persist: bool = False) -> None:
        """
        Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).
        """

    def spi_use_external_voltage(self, persist: bool = False) -> None:
        """Power the shared I/O rail from an external supply."""

    def spi_get_bus_voltage(self) -> int:
        """The shared I/O rail voltage in millivolts."""

    def spi_controller_init(self, bit_order: int | SpiBitOrder, mode: int | SpiMode, data_width: int | SpiDataWidth, chip_select: int | SpiChipSelect, chip_select_polarity: int | SpiChipSelectPolarity, frequency_hz: int) -> None:
        """Initialise the SPI controller."""

    def spi_set_parameters(self, bit_order: int | SpiBitOrder, mode: int | SpiMode, data_width: int | SpiDataWidth, chip_select: int | SpiChipSelect, chip_select_polarity: int | SpiChipSelectPolarity, frequency_hz: int) -> None:
        """Change the initialised controller's settings."""

    def spi_deinit(self) -> None:
        """Release the SPI controller."""

    def spi_transfer(self, data: bytes, transfer_length: int) -> bytes:
        """
        Clock transfer_length bytes full duplex, sending data; returns the bytes received.
        """

    def spi_transfer_bulk(self, data: bytes, transfer_length: int) -> bytes:
        """
        spi_transfer with the received bytes returned over the vendor bulk interface.
        """

    def spi_write_bulk(self, data: bytes) -> None:
        """Write data over the vendor bulk interface."""

    def spi_read_bulk(self, command_bytes: bytes, read_length: int) -> bytes:
        """
        Send command_bytes, then read read_length bytes over the vendor bulk interface.
        """

    def gpio_set_voltage(self, voltage_mv: int, persist: bool = False) -> None:
        """
        Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).
        """

    def gpio_use_external_voltage(self, persist: bool = False) -> None:
        """Power the shared I/O rail from an external supply."""

    def gpio_get_voltage(self) -> int:
        """The shared I/O rail voltage in millivolts."""

    def gpio_configure_pin(self, pin: int | GpioPinNumber, functionality: int | GpioFunctionality, initial_level: int | GpioLogicLevel = 0) -> None:
        """Make a pin a digital input or output (outputs start at initial_level)."""

    def gpio_digital_write(self, pin: int | GpioPinNumber, level: int | GpioLogicLevel) -> None:
        """Drive an output pin."""

    def gpio_digital_read(self, pin: int | GpioPinNumber) -> int:
        """The level of a pin (0 or 1)."""

    def gpio_configure_interrupt(self, pin: int | GpioPinNumber, trigger: int | GpioTriggerType) -> None:
        """
        Report edges on a pin as GpioInterruptNotification (trigger: GpioTriggerType).
        """

    def gpio_disable_interrupt(self, pin: int | GpioPinNumber) -> None:
        """Stop reporting a pin's edges."""

    def i2c_target_init(self, bus: int | I2cBus, address: int, address_mode: int | I2cTargetAddressMode, memory_layout: int | I2cTargetMemoryLayout, model: int | I2cTargetModel) -> int:
        """
        Emulate an I2C device at address on a bus; returns the emulated memory's size.
        """

    def i2c_target_set_parameters(self, bus: int | I2cBus, address: int, address_mode: int | I2cTargetAddressMode, memory_layout: int | I2cTargetMemoryLayout, model: int | I2cTargetModel) -> int:
        """
        Change the emulated I2C device's settings; returns the emulated memory's size.
        """

    def i2c_target_set_eeprom_config(self, total_size: int, page_size: int, write_cycle_us: int, erase_cycle_us: int, busy_behavior: int | I2cTargetEepromBusyBehavior, erased_value: int, wp_start: int, wp_end: int) -> None:
        """
        Shape the emulated EEPROM: sizes, cycle times in microseconds, busy behaviour, erased value and write-protected range.
        """

    def i2c_target_erase(self, scope: int | I2cTargetEraseScope, address: int) -> None:
        """Erase the page holding address, or the whole emulated EEPROM."""

    def i2c_target_set_register_region(self, start_address: int, end_address: int, access: int | I2cTargetRegisterAccess, width: int, flags: int) -> None:
        """Give a region of the emulated register map its access rule."""

    def i2c_target_write_memory(self, memory_address: int, data: bytes) -> None:
        """
        Fill the emulated I2C device's memory (1 to 32768 bytes, over the vendor bulk interface).
        """

    def i2c_target_read_memory(self, memory_address: int, length: int) -> bytes:
        """
        Read the emulated I2C device's memory (1 to 32768 bytes, over the vendor bulk interface).
        """

    def spi_target_init(self, mode: int | SpiMode, bit_order: int | SpiBitOrder, chip_select: int | SpiChipSelect, chip_select_polarity: int | SpiChipSelectPolarity, model: int | SpiTargetModel, engine: int | SpiTargetEngine) -> int:
        """
        Emulate an SPI device on a chip select; returns the emulated memory's size.
        """

    def spi_target_set_parameters(self, mode: int | SpiMode, bit_order: int | SpiBitOrder, chip_select: int | SpiChipSelect, chip_select_polarity: int | SpiChipSelectPolarity, model: int | SpiTargetModel, engine: int | SpiTargetEngine) -> int:
        """
        Change the emulated SPI device's settings; returns the emulated memory's size.
        """

    def spi_target_set_flash_config(self, address_bytes: int, page_size: int, write_cycle_us: int, jedec_id: bytes, flags: int) -> None:
        """
        Shape the emulated serial flash: address bytes, page size, write cycle in microseconds, JEDEC identification (at most 8 bytes) and flags.
        """

    def spi_target_write_memory(self, memory_address: int, data: bytes) -> None:
        """
        Fill the emulated SPI device's memory (1 to 32768 bytes, over the vendor bulk interface).
        """

    def spi_target_read_memory(self, memory_address: int, length: int) -> bytes:
        """
        Read the emulated SPI device's memory (1 to 32768 bytes, over the vendor bulk interface).
        """

    def i3c_target_init(self, memory_layout: int | I3cTargetMemoryLayout, pid: bytes, bcr: int, dcr: int, static_address: int, mwl: int = 1024, mrl: int = 1024) -> None:
        """
        Present the adapter as an I3C target: memory layout, 6-byte PID (most significant first), BCR, DCR, 7-bit static address, MWL and MRL (at most 1024).
        """

    def i3c_target_set_parameters(self, memory_layout: int | I3cTargetMemoryLayout, pid: bytes, bcr: int, dcr: int, static_address: int, mwl: int = 1024, mrl: int = 1024) -> None:
        """Change the I3C target's identity (as i3c_target_init)."""

    def i3c_target_write_memory(self, memory_address: int, data: bytes) -> None:
        """Write the I3C target's 1024-byte memory from memory_address on."""

    def i3c_target_read_memory(self, memory_address: int, length: int) -> bytes:
        """
        Read length bytes of the I3C target's 1024-byte memory from memory_address on.
        """

class _TraceScope:
    """A with block recording a facade's USB traffic."""

    def __enter__(self) -> _TraceScope: ...

    def __exit__(self, exc_type: object | None, exc_value: object | None, traceback: object | None) -> None: ...

def i3c_ccc_table() -> tuple[dict[str, int | bool | str], ...]:
    """
    The named common command codes the facade sends, one dict per form: name, code, broadcast, direction (write, read or caller), payload (how the arguments become the payload), value (what a one-byte value means), read_length and reply.
    """

class AsyncDeviceFacade:
    """
    Drives one adapter without waiting: every command method takes the transaction id first, sends, and returns the send status as an int; the answers arrive as bytes at the response callback.
    """

    def __init__(self) -> None:
        """
        A facade for one adapter whose methods send and return at once; answers arrive at the response callback.
        """

    def connect(self, device_path: str = '') -> bool:
        """
        Open the adapter at this HID path, or the first supported adapter for an empty path. False when none could be opened.
        """

    def connect_serial(self, serial: str) -> bool:
        """Open the first supported adapter with this serial number."""

    def disconnect(self) -> None:
        """
        Close the adapter (nothing happens when it is not open); messages received before are delivered first.
        """

    def get_version(self) -> str:
        """The SDK version."""

    def is_bulk_transport_available(self) -> bool:
        """True when the adapter's vendor bulk interface is open."""

    def on_async_response(self, cb: Callable[[bytes], object] | None) -> None:
        """
        Call cb(message) with every response, the whole message as bytes (transaction id, command code, status, payload), on the facade's delivery thread; None drops them.
        """

    def on_notification(self, cb: Callable[[Notification], object] | None) -> Callable[[Notification], object] | None:
        """
        Call cb(notification) for every event, in order, on the facade's delivery thread; None stops delivery. Returns the callback this one replaces (None if there was none).
        """

    @property
    def dropped_messages(self) -> int:
        """
        Responses and notifications lost because 65536 were already waiting for the callbacks (each loss is also logged on "pyvantorsdk.backend").
        """

    def __repr__(self) -> str: ...

    def get_usb_string(self, id: int, sub_cmd: int) -> int:
        """Request one USB string descriptor."""

    def get_analog_measurements(self, id: int) -> int:
        """
        Request the adapter's analog measurements (the rail voltages among them).
        """

    def get_bulk_capabilities(self, id: int) -> int:
        """Send the bulk capability query."""

    def i3c_ccc_transfer(self, id: int, address: int, direction: int, mode: int, flags: int, type: int, payload_length: int, ccc: int, defining_byte: int, data: bytes = ...) -> int:
        """
        Send a common command code with every header field given: direction, mode, flags, type and ccc are the values of I3cTransferDirection, I3cTransferMode, I3cTransferFlags, I3cCccType and CCC.
        """

    def reset_device(self, id: int) -> int:
        """Reset the adapter."""

    def enter_boot_mode(self, id: int) -> int:
        """Send the adapter into its boot loader; the connection closes."""

    def get_usb_config(self, id: int) -> int:
        """(webusb_enabled, cdc_enabled, cdc_mode)."""

    def set_usb_config(self, id: int, webusb_enabled: int, cdc_enabled: int, cdc_mode: int) -> int:
        """Change the USB configuration; 255 leaves a setting unchanged."""

    def i2c_set_bus_voltage(self, id: int, voltage_mv: int, persist: bool = False) -> int:
        """
        Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).
        """

    def i2c_use_external_voltage(self, id: int, persist: bool = False) -> int:
        """Power the shared I/O rail from an external supply."""

    def i2c_controller_init(self, id: int, bus: int | I2cBus, frequency_hz: int, pull_up: int | I2cPullUp) -> int:
        """Initialise a bus as controller."""

    def i2c_set_parameters(self, id: int, bus: int | I2cBus, frequency_hz: int, pull_up: int | I2cPullUp) -> int:
        """Change an initialised bus's settings."""

    def i2c_set_pull_up_resistors(self, id: int, bus: int | I2cBus, value: int | I2cPullUp) -> int:
        """Select a bus's pull-up resistors."""

    def i2c_deinit(self, id: int, bus: int | I2cBus) -> int:
        """Release a bus."""

    def i2c_write(self, id: int, bus: int | I2cBus, address: int, subaddress: bytes, data: bytes, non_stop: bool) -> int:
        """
        Write data after a subaddress of 0 to 4 bytes (most significant first).
        """

    def i2c_read(self, id: int, bus: int | I2cBus, address: int, subaddress: bytes, length: int, non_stop: bool) -> int:
        """Read up to length bytes after writing the subaddress."""

    def i2c_scan_bus(self, id: int, bus: int | I2cBus, include_10bit: bool = False) -> int:
        """The addresses that answer on a bus."""

    def uart_set_bus_voltage(self, id: int, voltage_mv: int, persist: bool = False) -> int:
        """
        Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).
        """

    def uart_use_external_voltage(self, id: int, persist: bool = False) -> int:
        """Power the shared I/O rail from an external supply."""

    def uart_init(self, id: int, baudrate: UartBaudRate, hardware_handshake: UartHwHandshake, parity: UartParity, data_size: UartDataSize, stop_bit: UartStopBit) -> int:
        """Initialise the UART."""

    def uart_set_parameters(self, id: int, baudrate: UartBaudRate, hardware_handshake: UartHwHandshake, parity: UartParity, data_size: UartDataSize, stop_bit: UartStopBit) -> int:
        """Change the initialised UART's settings."""

    def uart_deinit(self, id: int) -> int:
        """Release the UART."""

    def uart_send_message(self, id: int, data: bytes) -> int:
        """Send bytes on the UART."""

    def i3c_set_bus_voltage(self, id: int, voltage_mv: int) -> int:
        """Set the I3C port voltage in millivolts."""

    def i3c_use_external_voltage(self, id: int, persist: bool = False) -> int:
        """
        Power the I3C ports from an external supply (True) or the adapter's own.
        """

    def i3c_controller_init(self, id: int, push_pull_frequency: int | I3cPushPullRate, open_drain_frequency: int | I3cOpenDrainRate, i2c_open_drain_frequency: int | I2cOpenDrainRate, drive_strength: int | I3cDriveStrength) -> int:
        """Initialise the I3C controller: rates and drive strength."""

    def i3c_set_parameters(self, id: int, push_pull_frequency: int | I3cPushPullRate, open_drain_frequency: int | I3cOpenDrainRate, i2c_open_drain_frequency: int | I2cOpenDrainRate, drive_strength: int | I3cDriveStrength) -> int:
        """Change the I3C controller's rates and drive strength."""

    def i3c_init_bus(self, id: int, targets: Sequence) -> int:
        """Assign dynamic addresses to the listed targets (target dictionaries)."""

    def i3c_reset_bus(self, id: int) -> int:
        """Reset the I3C bus."""

    def i3c_get_device_table(self, id: int) -> int:
        """The adapter's table of targets, as target dictionaries."""

    def i3c_set_target_device_configuration(self, id: int, address: int, configuration: int) -> int:
        """Set the configuration byte of a target in the table."""

    def i3c_target_reset_pattern(self, id: int) -> int:
        """Send the target reset pattern."""

    def i3c_hdr_exit_pattern(self, id: int) -> int:
        """Send the HDR exit pattern."""

    def i3c_legacy_i2c_write(self, id: int, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags) -> int:
        """Write to a legacy I2C device on the I3C bus."""

    def i3c_legacy_i2c_read(self, id: int, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags) -> int:
        """Read from a legacy I2C device on the I3C bus."""

    def i3c_sdr_write(self, id: int, address: int, subaddress: bytes, data: bytes, flags: int | I3cTransferFlags = 2) -> int:
        """SDR private write after a sub-address of 0 to 4 bytes."""

    def i3c_sdr_read(self, id: int, address: int, subaddress: bytes, length: int, flags: int | I3cTransferFlags = 2) -> int:
        """SDR private read after a sub-address of 0 to 4 bytes."""

    def i3c_hdr_ddr_write(self, id: int, address: int, command: int, data: bytes, flags: int | I3cTransferFlags = 0) -> int:
        """HDR-DDR write with a command code."""

    def i3c_hdr_ddr_read(self, id: int, address: int, command: int, length: int, flags: int | I3cTransferFlags = 0) -> int:
        """HDR-DDR read with a command code."""

    def i3c_ccc_rstdaa(self, id: int, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast RSTDAA: every target drops its dynamic address."""

    def i3c_ccc_entdaa(self, id: int, targets: Sequence) -> int:
        """ENTDAA for the listed targets (target dictionaries)."""

    def i3c_ccc_setdasa(self, id: int, static_address: int, dynamic_address: int, flags: int | I3cTransferFlags = 0) -> int:
        """SETDASA: give the target at a static address a dynamic one."""

    def i3c_ccc_setaasa(self, id: int, static_addresses: Sequence[int], flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast SETAASA: targets take their static address as dynamic one."""

    def i3c_ccc_setnewda(self, id: int, old_dynamic_address: int, new_dynamic_address: int, flags: int | I3cTransferFlags = 0) -> int:
        """SETNEWDA: move a target to a new dynamic address."""

    def i3c_ccc_getpid(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETPID: the target's 48-bit provisioned id, as sent."""

    def i3c_ccc_getbcr(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETBCR: the target's bus characteristics register."""

    def i3c_ccc_getdcr(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETDCR: the target's device characteristics register."""

    def i3c_ccc_getstatus(self, id: int, target_address: int, def_byte: int | None = None, flags: int | I3cTransferFlags = 0) -> int:
        """GETSTATUS, with a defining byte when def_byte is not None."""

    def i3c_ccc_getcaps(self, id: int, target_address: int, def_byte: int | None = None, flags: int | I3cTransferFlags = 0) -> int:
        """GETCAPS, with a defining byte when def_byte is not None."""

    def i3c_ccc_getmxds(self, id: int, target_address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETMXDS: the target's maximum data speeds."""

    def i3c_ccc_getxtime(self, id: int, target_address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETXTIME: the target's timing capabilities."""

    def i3c_ccc_rstact_broadcast(self, id: int, def_byte: int | I3cTargetResetDefByte, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast RSTACT: the action of the next reset pattern."""

    def i3c_ccc_rstact_direct(self, id: int, target_address: int, def_byte: int | I3cTargetResetDefByte, direction: int | I3cTransferDirection, flags: int | I3cTransferFlags = 0) -> int:
        """Direct RSTACT; with direction READ the byte read back, else None."""

    def i3c_ccc_rstgrpa_broadcast(self, id: int, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast RSTGRPA: every target leaves its group."""

    def i3c_ccc_rstgrpa_direct(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """Direct RSTGRPA: one target leaves its group."""

    def i3c_ccc_setgrpa_direct(self, id: int, target_address: int, grpa: int, flags: int | I3cTransferFlags = 0) -> int:
        """SETGRPA: give a target a group address."""

    def i3c_ccc_entas0_broadcast(self, id: int, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast ENTAS0."""

    def i3c_ccc_entas1_broadcast(self, id: int, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast ENTAS1."""

    def i3c_ccc_entas2_broadcast(self, id: int, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast ENTAS2."""

    def i3c_ccc_entas3_broadcast(self, id: int, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast ENTAS3."""

    def i3c_ccc_entas0_direct(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """Direct ENTAS0."""

    def i3c_ccc_entas1_direct(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """Direct ENTAS1."""

    def i3c_ccc_entas2_direct(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """Direct ENTAS2."""

    def i3c_ccc_entas3_direct(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """Direct ENTAS3."""

    def i3c_ccc_enec_broadcast(self, id: int, events: int | I3cEvent, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast ENEC: enable target events (I3cEvent bits)."""

    def i3c_ccc_disec_broadcast(self, id: int, events: int | I3cEvent, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast DISEC: disable target events (I3cEvent bits)."""

    def i3c_ccc_enec_direct(self, id: int, address: int, events: int | I3cEvent, flags: int | I3cTransferFlags = 0) -> int:
        """Direct ENEC: enable one target's events."""

    def i3c_ccc_disec_direct(self, id: int, address: int, events: int | I3cEvent, flags: int | I3cTransferFlags = 0) -> int:
        """Direct DISEC: disable one target's events."""

    def i3c_ccc_getmwl(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETMWL: the target's maximum write length."""

    def i3c_ccc_setmwl_broadcast(self, id: int, mwl: int, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast SETMWL."""

    def i3c_ccc_setmwl_direct(self, id: int, address: int, mwl: int, flags: int | I3cTransferFlags = 0) -> int:
        """Direct SETMWL."""

    def i3c_ccc_getmrl(self, id: int, address: int, flags: int | I3cTransferFlags = 0) -> int:
        """GETMRL: (maximum read length, IBI payload size or None)."""

    def i3c_ccc_setmrl_broadcast(self, id: int, mrl: int, ibi_length: int | None = None, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast SETMRL, with the IBI payload size when not None."""

    def i3c_ccc_setmrl_direct(self, id: int, address: int, mrl: int, ibi_length: int | None = None, flags: int | I3cTransferFlags = 0) -> int:
        """Direct SETMRL, with the IBI payload size when not None."""

    def i3c_ccc_setxtime_broadcast(self, id: int, sub_cmd_byte: int, data: bytes | None = None, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast SETXTIME: a sub-command and its optional bytes."""

    def i3c_ccc_setxtime_direct(self, id: int, target_address: int, sub_cmd_byte: int, data: bytes | None = None, flags: int | I3cTransferFlags = 0) -> int:
        """Direct SETXTIME: a sub-command and its optional bytes."""

    def i3c_ccc_setbuscon_broadcast(self, id: int, context: int, data: bytes | None = None, flags: int | I3cTransferFlags = 0) -> int:
        """Broadcast SETBUSCON: a bus context and its optional bytes."""

    def spi_set_bus_voltage(self, id: int, voltage_mv: int, persist: bool = False) -> int:
        """
        Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).
        """

    def spi_use_external_voltage(self, id: int, persist: bool = False) -> int:
        """Power the shared I/O rail from an external supply."""

    def spi_controller_init(self, id: int, bit_order: int | SpiBitOrder, mode: int | SpiMode, data_width: int | SpiDataWidth, chip_select: int | SpiChipSelect, chip_select_polarity: int | SpiChipSelectPolarity, frequency_hz: int) -> int:
        """Initialise the SPI controller."""

    def spi_set_parameters(self, id: int, bit_order: int | SpiBitOrder, mode: int | SpiMode, data_width: int | SpiDataWidth, chip_select: int | SpiChipSelect, chip_select_polarity: int | SpiChipSelectPolarity, frequency_hz: int) -> int:
        """Change the initialised controller's settings."""

    def spi_deinit(self, id: int) -> int:
        """Release the SPI controller."""

    def spi_transfer(self, id: int, data: bytes, transfer_length: int) -> int:
        """
        Clock transfer_length bytes full duplex, sending data; returns the bytes received.
        """

    def gpio_set_voltage(self, id: int, voltage_mv: int, persist: bool = False) -> int:
        """
        Set the I/O voltage of the I2C, SPI, UART and GPIO ports (one shared rail).
        """

    def gpio_use_external_voltage(self, id: int, persist: bool = False) -> int:
        """Power the shared I/O rail from an external supply."""

    def gpio_configure_pin(self, id: int, pin: int | GpioPinNumber, functionality: int | GpioFunctionality, initial_level: int | GpioLogicLevel = 0) -> int:
        """Make a pin a digital input or output (outputs start at initial_level)."""

    def gpio_digital_write(self, id: int, pin: int | GpioPinNumber, level: int | GpioLogicLevel) -> int:
        """Drive an output pin."""

    def gpio_digital_read(self, id: int, pin: int | GpioPinNumber) -> int:
        """The level of a pin (0 or 1)."""

    def gpio_configure_interrupt(self, id: int, pin: int | GpioPinNumber, trigger: int | GpioTriggerType) -> int:
        """
        Report edges on a pin as GpioInterruptNotification (trigger: GpioTriggerType).
        """

    def gpio_disable_interrupt(self, id: int, pin: int | GpioPinNumber) -> int:
        """Stop reporting a pin's edges."""

    def i2c_target_init(self, id: int, bus: int | I2cBus, address: int, address_mode: int | I2cTargetAddressMode, memory_layout: int | I2cTargetMemoryLayout, model: int | I2cTargetModel) -> int:
        """
        Emulate an I2C device at address on a bus; returns the emulated memory's size.
        """

    def i2c_target_set_parameters(self, id: int, bus: int | I2cBus, address: int, address_mode: int | I2cTargetAddressMode, memory_layout: int | I2cTargetMemoryLayout, model: int | I2cTargetModel) -> int:
        """
        Change the emulated I2C device's settings; returns the emulated memory's size.
        """

    def i2c_target_set_eeprom_config(self, id: int, total_size: int, page_size: int, write_cycle_us: int, erase_cycle_us: int, busy_behavior: int | I2cTargetEepromBusyBehavior, erased_value: int, wp_start: int, wp_end: int) -> int:
        """
        Shape the emulated EEPROM: sizes, cycle times in microseconds, busy behaviour, erased value and write-protected range.
        """

    def i2c_target_erase(self, id: int, scope: int | I2cTargetEraseScope, address: int) -> int:
        """Erase the page holding address, or the whole emulated EEPROM."""

    def i2c_target_set_register_region(self, id: int, start_address: int, end_address: int, access: int | I2cTargetRegisterAccess, width: int, flags: int) -> int:
        """Give a region of the emulated register map its access rule."""

    def spi_target_init(self, id: int, mode: int | SpiMode, bit_order: int | SpiBitOrder, chip_select: int | SpiChipSelect, chip_select_polarity: int | SpiChipSelectPolarity, model: int | SpiTargetModel, engine: int | SpiTargetEngine) -> int:
        """
        Emulate an SPI device on a chip select; returns the emulated memory's size.
        """

    def spi_target_set_parameters(self, id: int, mode: int | SpiMode, bit_order: int | SpiBitOrder, chip_select: int | SpiChipSelect, chip_select_polarity: int | SpiChipSelectPolarity, model: int | SpiTargetModel, engine: int | SpiTargetEngine) -> int:
        """
        Change the emulated SPI device's settings; returns the emulated memory's size.
        """

    def spi_target_set_flash_config(self, id: int, address_bytes: int, page_size: int, write_cycle_us: int, jedec_id: bytes, flags: int) -> int:
        """
        Shape the emulated serial flash: address bytes, page size, write cycle in microseconds, JEDEC identification (at most 8 bytes) and flags.
        """

    def i3c_target_init(self, id: int, memory_layout: int | I3cTargetMemoryLayout, pid: bytes, bcr: int, dcr: int, static_address: int, mwl: int = 1024, mrl: int = 1024) -> int:
        """
        Present the adapter as an I3C target: memory layout, 6-byte PID (most significant first), BCR, DCR, 7-bit static address, MWL and MRL (at most 1024).
        """

    def i3c_target_set_parameters(self, id: int, memory_layout: int | I3cTargetMemoryLayout, pid: bytes, bcr: int, dcr: int, static_address: int, mwl: int = 1024, mrl: int = 1024) -> int:
        """Change the I3C target's identity (as i3c_target_init)."""

    def i3c_target_write_memory(self, id: int, memory_address: int, data: bytes) -> int:
        """Write the I3C target's 1024-byte memory from memory_address on."""

    def i3c_target_read_memory(self, id: int, memory_address: int, length: int) -> int:
        """
        Read length bytes of the I3C target's 1024-byte memory from memory_address on.
        """

from pyvantorsdk._cpp import _pyvantorsdk_cpp_sim
_sim = _pyvantorsdk_cpp_sim
