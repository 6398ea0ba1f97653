// SPDX-License-Identifier: MIT
// The system backends (hidapi over hidraw, libusb over usbdevfs, enumeration
// through udev) and the transports and SDK above them, against adapters on
// an emulated USB bus: the path every real adapter takes, without one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/core/VantorSDK.h"
#include "sdk/transport/BulkTransport.h"
#include "sdk/transport/SystemUsbBackend.h"
#include "tests/cpp/TestSupport.h"
#include "tests/kernel/EmulatedAdapter.h"

namespace vantor::kernel {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::kDisconnect;
using test::kTimeout;

constexpr uint16_t kVendor = 0x1209;

Bytes pattern(size_t size, uint8_t seed) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
}

// Makes every read-write open and every check for write access of this
// process fail with EACCES, as opening a device node fails for a user whose
// access the node's mode does not grant (modes do not stop root, which the
// tests may run as). Reading files and writing new ones stays possible.
void refuseReadWriteAccess() {
    constexpr uint32_t kArch = offsetof(seccomp_data, arch);
    constexpr uint32_t kNumber = offsetof(seccomp_data, nr);
    constexpr uint32_t kArg1 = offsetof(seccomp_data, args) + 8;
    constexpr uint32_t kArg2 = offsetof(seccomp_data, args) + 16;
    constexpr uint32_t kWriteAccess = 2;  // O_RDWR among open flags, W_OK among access modes
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kArch),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kNumber),
        // openat, faccessat, faccessat2: flags or mode in the third argument
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_faccessat, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 439 /* faccessat2 */, 2, 0),
        // open, access: in the second
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_open, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_access, 2, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kArg2),
        BPF_JUMP(BPF_JMP | BPF_JA, 1, 0, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kArg1),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kWriteAccess, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        _exit(126);
    }
}

// Runs `code` with `interpreter` in this test bed (the preload and
// UMOCKDEV_DIR are inherited), read-write access refused: its exit code (-1
// when killed after 20 s), and in `output` what it printed on stdout and
// stderr.
int runRefusedPython(const char* interpreter, const std::string& code, std::string& output) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        refuseReadWriteAccess();
        execl(interpreter, interpreter, "-c", code.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (char chunk[4096];;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0) break;
        output.append(chunk, static_cast<size_t>(n));
    }
    ::close(out[0]);
    if (pid < 0) return -1;
    kill(pid, SIGKILL);  // still running only past the limit
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class KernelPath : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Testbed::available()) {
            GTEST_SKIP() << "needs umockdev's preload library: run under umockdev-wrapper "
                            "(scripts/test-kernel.sh)";
        }
        bed = std::make_unique<Testbed>();
    }
    std::unique_ptr<Testbed> bed;
};

// ------------------------------------------------------------ enumeration

// Both adapters listed through udev with their USB identity, and each one
// used at once by its own SDK, chosen by serial number.
TEST_F(KernelPath, EnumerationListsEachAdapterAndItsSerialSelectsIt) {
    EmulatedAdapter a(*bed, test::adapterOptions("KRN-A"), 1);
    EmulatedAdapter b(*bed, test::adapterOptions("KRN-B", sim::Model::Quillex), 2);
    auto& hid = usb::systemHidBackend();
    ASSERT_EQ(hid.init(), 0);
    ASSERT_EQ(hid.enumerate(kVendor, 0).size(), 2u);
    const auto quillex = hid.enumerate(kVendor, 0x0002);
    ASSERT_EQ(quillex.size(), 1u);
    const usb::HidDeviceEntry& entry = quillex[0];
    EXPECT_EQ(entry.path, b.hidrawNode());
    EXPECT_EQ(entry.productId, 0x0002);
    EXPECT_EQ(entry.serialNumber, L"KRN-B");
    EXPECT_EQ(entry.manufacturer, L"Vantor Labs");
    EXPECT_EQ(entry.product, L"Quillex");
    EXPECT_EQ(entry.interfaceNumber, 0);
    EXPECT_EQ(entry.usagePage, 0xFF00);
    EXPECT_EQ(entry.usage, 0x0001);
    EXPECT_EQ(entry.releaseNumber, 0x0100);
    EXPECT_EQ(entry.busType, 1);  // USB
    EXPECT_TRUE(hid.enumerate(kVendor, 0x0003).empty());
    EXPECT_EQ(usb::defaultHidBackend().enumerate(kVendor, 0).size(), 2u);

    VantorSDK first(2000);
    VantorSDK second(2000);
    ASSERT_TRUE(first.connectWithSerialNumber("KRN-B"));
    ASSERT_TRUE(second.connectWithSerialNumber("KRN-A"));
    DeviceInfo info;
    ASSERT_EQ(first.getDeviceInfo(info), 0);
    EXPECT_EQ(info.serialNumber, "KRN-B");
    ASSERT_EQ(second.getDeviceInfo(info), 0);
    EXPECT_EQ(info.serialNumber, "KRN-A");
    EXPECT_EQ(a.device().requests().size(), b.device().requests().size());
}

// ---------------------------------------------------- reports on hidraw

class ReportPath : public KernelPath, public ::testing::WithParamInterface<sim::Model> {};

// A request and a response spanning several reports, on both report sizes:
// each report written is report id 0 and one whole report; then the same
// bytes over bulk.
TEST_P(ReportPath, MultiReportMessagesKeepTheirBytesBothWays) {
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-R", GetParam()), 1);
    const size_t reportSize = adapter.device().reportSize();
    sim::I2cEepromOptions eeprom;  // one page: a whole transfer is one write
    eeprom.size = 8192;
    eeprom.pageSize = 8192;
    eeprom.addressBytes = 2;
    ASSERT_TRUE(adapter.device().i2c().attachEeprom(0, 0x50, eeprom));
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.hidrawNode()));
    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, 0), 0);

    // The longest write the command channel takes spans two reports on both.
    const Bytes data = pattern(std::min<size_t>(reportSize * 3 / 2, 1024), 11);
    adapter.device().clear();
    ASSERT_EQ(sdk.i2cWrite(0, 0x50, {0x00, 0x10}, data, false), 0);
    const auto written = adapter.device().reports();
    ASSERT_GE(written.size(), 2u);
    for (const Bytes& report : written) {
        ASSERT_EQ(report.size(), reportSize + 1);
        EXPECT_EQ(report[0], 0x00);
    }
    Bytes out;
    ASSERT_EQ(sdk.i2cRead(0, 0x50, {0x00, 0x10}, static_cast<uint16_t>(data.size()), out, false),
              0);
    EXPECT_EQ(out, data);

    ASSERT_TRUE(sdk.isBulkTransportAvailable()) << sdk.getLastBulkError();
    const Bytes bulkData = pattern(3000, 5);
    ASSERT_EQ(sdk.i2cWriteBulk(0, 0x50, {0x00, 0x00}, bulkData, false), 0)
        << sdk.getLastBulkError();
    EXPECT_EQ(adapter.device().bulkReceived(), bulkData);
    ASSERT_EQ(sdk.i2cReadBulk(0, 0x50, {0x00, 0x00}, 3000, out, false), 0)
        << sdk.getLastBulkError();
    EXPECT_EQ(out, bulkData);
}

INSTANTIATE_TEST_SUITE_P(BothModels, ReportPath,
                         ::testing::Values(sim::Model::Teranox, sim::Model::Quillex),
                         [](const auto& row) {
                             return row.param == sim::Model::Teranox ? "Teranox" : "Quillex";
                         });

// hidapi's reads on the node: a read with nothing to take ends at its
// timeout, a read without limit ends when cancelled from another thread,
// and reads and writes fail once the adapter is gone.
TEST_F(KernelPath, SystemHidDeviceReadsTimeOutCancelAndFailWhenUnplugged) {
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-H"), 1);
    auto& hid = usb::systemHidBackend();
    ASSERT_EQ(hid.init(), 0);
    EXPECT_EQ(hid.openPath("/dev/hidraw99"), nullptr);
    const auto device = hid.openPath(adapter.hidrawNode());
    ASSERT_NE(device, nullptr);
    Bytes report(64);
    EXPECT_EQ(device->readTimeout(report.data(), report.size(), 30), 0);
    auto blocked = std::async(std::launch::async, [&] {
        Bytes buffer(64);
        return device->readTimeout(buffer.data(), buffer.size(), -1);
    });
    device->cancelReads();
    EXPECT_EQ(blocked.get(), 0);

    const auto other = hid.openPath(adapter.hidrawNode());
    ASSERT_NE(other, nullptr);
    adapter.device().sendReport(pattern(64, 1));
    EXPECT_EQ(other->readTimeout(report.data(), report.size(), 2000), 64);
    EXPECT_EQ(report, pattern(64, 1));
    adapter.unplug();
    EXPECT_EQ(other->readTimeout(report.data(), report.size(), 2000), -1);
    Bytes out(65, 0);
    EXPECT_EQ(other->write(out.data(), out.size()), -1);
}

// Input reports read from the node while no request waits: a notification
// reaches the callback; a late answer is discarded, and the next request
// gets its own.
TEST_F(KernelPath, UnaskedReportsReachTheCallbackOrAreDiscarded) {
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-T"), 1);
    test::Inbox<NotificationKind> kinds;
    VantorSDK sdk(500);  // generous for a loaded machine, well below the delay
    sdk.onNotification([&](const Notification& n) { kinds.push(n.kind()); });
    ASSERT_TRUE(sdk.connect(adapter.hidrawNode()));
    adapter.device().notify(kNotifCodeGpio, {0x01, 0x01, 0x01});
    ASSERT_TRUE(kinds.waitFor(1));
    EXPECT_EQ(kinds.items(), std::vector<NotificationKind>{NOTIF_GPIO});

    adapter.device().faults().setResponseDelay(1500ms);
    DeviceInfo info;
    EXPECT_EQ(sdk.getDeviceInfo(info), kTimeout);
    EXPECT_TRUE(eventually([&] { return sdk.getDiscardedResponseCount() == 1; }, 10s));
    adapter.device().faults().setResponseDelay(0ms);
    ASSERT_EQ(sdk.getDeviceInfo(info), 0);
    EXPECT_EQ(info.serialNumber, "KRN-T");
}

// ------------------------------------------------------------ hot-unplug

struct UnplugRow {
    const char* name;
    // Makes the adapter leave the call waiting; null: unplugged while idle.
    std::function<void(sim::VirtualAdapter&, VantorSDK&)> stall;
    std::function<uint16_t(VantorSDK&)> call;
};

void PrintTo(const UnplugRow& row, std::ostream* os) {
    *os << row.name;
}

class HotUnplug : public KernelPath, public ::testing::WithParamInterface<UnplugRow> {};

// The nodes vanish and the remove events go out: a waiting call ends with
// SDK_ERROR_DISCONNECT, the connection-lost callback fires once, and the
// adapter plugged in again under a new node is found by a reconnect.
TEST_P(HotUnplug, EndsTheCallReportsTheLossAndReconnects) {
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-U"), 1);
    std::atomic<int> lost{0};
    VantorSDK sdk(5000);
    sdk.onConnectionLost([&] { ++lost; });
    ASSERT_TRUE(sdk.connectWithSerialNumber("KRN-U"));
    DeviceInfo info;
    ASSERT_EQ(sdk.getDeviceInfo(info), 0);

    const UnplugRow& row = GetParam();
    std::future<uint16_t> call;
    if (row.stall) {
        row.stall(adapter.device(), sdk);
        adapter.device().clear();
        call = std::async(std::launch::async, [&] { return row.call(sdk); });
        ASSERT_TRUE(adapter.device().waitForRequests(1, 2s));
    }
    const std::string oldNode = adapter.hidrawNode();
    adapter.unplug();
    if (call.valid()) {
        EXPECT_EQ(call.get(), kDisconnect);
    }
    EXPECT_TRUE(eventually([&] { return lost.load() == 1; }));
    EXPECT_EQ(sdk.getDeviceInfo(info), kDisconnect);
    EXPECT_TRUE(usb::systemHidBackend().enumerate(kVendor, 0).empty());

    adapter.device().setHandler(nullptr);
    adapter.device().faults().limitBulkIn(std::nullopt);
    adapter.plug();
    ASSERT_NE(adapter.hidrawNode(), oldNode);
    // No disconnect first: the lost connection must not pass for the one
    // asked for.
    ASSERT_TRUE(sdk.connectWithSerialNumber("KRN-U"));
    ASSERT_EQ(sdk.getDeviceInfo(info), 0);
    EXPECT_EQ(info.serialNumber, "KRN-U");
    EXPECT_EQ(lost.load(), 1);
}

void answerNothing(sim::VirtualAdapter& adapter, VantorSDK&) {
    adapter.setHandler([](const Bytes&) { return std::vector<Bytes>{}; });
}

uint16_t readBulk(VantorSDK& sdk) {
    Bytes out;
    return sdk.i2cReadBulk(0, 0x50, {0}, 64, out, false);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HotUnplug,
    ::testing::Values(UnplugRow{"WhileIdle", nullptr, nullptr},
                      UnplugRow{"DuringACall", answerNothing,
                                [](VantorSDK& sdk) {
                                    DeviceInfo ignored;
                                    return sdk.getDeviceInfo(ignored);
                                }},
                      // Answered on the HID interface, its data never comes on bulk IN.
                      UnplugRow{"DuringABulkDataPhase",
                                [](sim::VirtualAdapter& a, VantorSDK& sdk) {
                                    ASSERT_TRUE(a.i2c().attachEeprom(0, 0x50));
                                    ASSERT_EQ(sdk.i2cControllerInit(0, 400000, 0), 0);
                                    ASSERT_TRUE(sdk.getBulkCapabilities().supported);
                                    a.faults().limitBulkIn(0);
                                },
                                readBulk},
                      // The first bulk call asks for the bulk capabilities, unanswered.
                      UnplugRow{"DuringTheBulkCapabilityQuery", answerNothing, readBulk}),
    test::RowName());

// ----------------------------------------------------- bulk over usbdevfs

// The vendor interface found from the configuration descriptor (sysfs),
// claimed through usbdevfs, and held by one handle at a time.
TEST_F(KernelPath, BulkInterfaceIsClaimedOnceWithTheDescribedPacketSize) {
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-Q", sim::Model::Quillex), 1);
    BulkTransport first(usb::systemUsbBackend());
    ASSERT_TRUE(first.open(kVendor, 0x0002, "KRN-Q")) << first.lastError();
    EXPECT_EQ(first.maxPacketSize(), 512);
    BulkTransport second(usb::systemUsbBackend());
    EXPECT_FALSE(second.open(kVendor, 0x0002, "KRN-Q"));
    EXPECT_FALSE(second.open(kVendor, 0x0002, "OTHER"));

    const Bytes data = pattern(1500, 3);
    ASSERT_TRUE(first.write(data.data(), data.size(), 1000)) << first.lastError();
    EXPECT_EQ(adapter.device().bulkReceived(), data);
    first.close();
    EXPECT_TRUE(second.open(kVendor, 0x0002, "KRN-Q")) << second.lastError();
}

// Unplugging ends a bulk read waiting on the endpoint.
TEST_F(KernelPath, BulkReadEndsWhenTheAdapterIsUnplugged) {
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-G"), 1);
    BulkTransport bulk(usb::systemUsbBackend());
    ASSERT_TRUE(bulk.open(kVendor, 0x0001, "KRN-G")) << bulk.lastError();
    auto read = std::async(std::launch::async, [&] {
        Bytes in(16);
        return bulk.read(in.data(), in.size(), 5000);
    });
    adapter.unplug();
    EXPECT_FALSE(read.get());
    EXPECT_EQ(bulk.lastError(), "bulk read failed: LIBUSB_ERROR_NO_DEVICE");
}

// A USB node the user may not open: the connection goes on over HID alone,
// and the bulk error says why and what helps.
TEST_F(KernelPath, RefusedUsbNodeLeavesHidAndNamesThePermission) {
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-E"), 1);
    adapter.refuseUsbNode();
    VantorSDK sdk(2000);
    ASSERT_TRUE(sdk.connect(adapter.hidrawNode()));
    EXPECT_FALSE(sdk.isBulkTransportAvailable());
    EXPECT_EQ(sdk.getLastBulkError(),
              "libusb_open failed: LIBUSB_ERROR_ACCESS (no permission on the adapter's USB "
              "device node: install the udev rules)");
    DeviceInfo info;
    EXPECT_EQ(sdk.getDeviceInfo(info), 0);
}

struct BulkFaultRow {
    const char* name;
    std::function<void(sim::VirtualAdapter&)> fault;
    std::string error;  // lastError() of the failed read
};

void PrintTo(const BulkFaultRow& row, std::ostream* os) {
    *os << row.name;
}

class BulkFault : public KernelPath, public ::testing::WithParamInterface<BulkFaultRow> {};

// A bulk read that fails on the endpoint reports why, and once the adapter
// is well again the next read gets its own data.
TEST_P(BulkFault, FailsTheReadAndTheNextOneSucceeds) {
    const BulkFaultRow& row = GetParam();
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-F"), 1);
    BulkTransport bulk(usb::systemUsbBackend());
    ASSERT_TRUE(bulk.open(kVendor, 0x0001, "KRN-F")) << bulk.lastError();
    row.fault(adapter.device());
    Bytes in(16);
    EXPECT_FALSE(bulk.read(in.data(), in.size(), 150));
    EXPECT_EQ(bulk.lastError(), row.error);

    adapter.device().faults().stallBulkIn(false);
    adapter.device().faults().limitBulkIn(std::nullopt);
    bulk.discardStale();
    const Bytes data = pattern(in.size(), 9);
    adapter.device().sendBulk(data);
    ASSERT_TRUE(bulk.read(in.data(), in.size(), 1000)) << bulk.lastError();
    EXPECT_EQ(in, data);
}

INSTANTIATE_TEST_SUITE_P(Rows, BulkFault,
                         ::testing::Values(BulkFaultRow{"StalledEndpoint",
                                                        [](sim::VirtualAdapter& a) {
                                                            a.faults().stallBulkIn(true);
                                                        },
                                                        "bulk read failed: LIBUSB_ERROR_PIPE"},
                                           BulkFaultRow{"ShortOfData",
                                                        [](sim::VirtualAdapter& a) {
                                                            a.faults().limitBulkIn(5);
                                                            a.sendBulk(Bytes(16, 0xAB));
                                                        },
                                                        "bulk read timed out with 5 of 16 bytes"}),
                         test::RowName());

// ------------------------------------------------------- the Python package

// A node the user may not open: the CLI, run by the package in a process of
// its own, says so and names the udev rules.
TEST_F(KernelPath, RefusedNodePointsTheCliUserToTheUdevRules) {
    const char* python = std::getenv("VANTOR_KERNEL_PYTHON");
    if (python == nullptr) {
        GTEST_SKIP() << "VANTOR_KERNEL_PYTHON names no interpreter with the package "
                        "(scripts/test-kernel.sh sets it)";
    }
    EmulatedAdapter adapter(*bed, test::adapterOptions("KRN-D"), 1);
    std::string output;
    EXPECT_NE(
        runRefusedPython(
            python, "import sys; from pyvantorsdk.cli.main import main; sys.exit(main(['info']))",
            output),
        0);
    EXPECT_NE(
        output.find("cannot open the adapter at " + adapter.hidrawNode() + " (permission denied)"),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("vantor udev-rules | sudo tee /etc/udev/rules.d/70-pyvantorsdk.rules"),
              std::string::npos)
        << output;
}

}  // namespace
}  // namespace vantor::kernel
