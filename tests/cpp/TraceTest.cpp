// SPDX-License-Identifier: MIT
// Traffic capture: the pcapng blocks byte for byte, and traces of real
// exchanges with a virtual adapter read back packet by packet (also to see
// the lengths a bulk read asks for).

#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/Protocol.h"
#include "sdk/transport/BulkTransport.h"
#include "sdk/transport/PcapngTrace.h"
#include "tests/cpp/TestSupport.h"

namespace vantor {
namespace {

using test::Bytes;

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "vantor_trace_" + name + ".pcapng";
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t le32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
                                 static_cast<uint32_t>(b.at(at + 3)) << 24);
}

// One packet as a reader of the file sees it.
struct Captured {
    uint64_t urb;
    char type;
    uint8_t transferType, endpoint, device;
    uint16_t bus;
    int32_t status;
    uint32_t length;
    Bytes data;

    bool isOut() const { return (endpoint & 0x80) == 0; }
    bool isBulk() const { return transferType == 3; }
};

// Reads the packets of a whole file, failing the test on any malformed block.
// (The two header blocks are checked byte for byte below.)
std::vector<Captured> parseFile(const std::string& path) {
    const Bytes file = readFile(path);
    std::vector<Captured> packets;
    EXPECT_GE(file.size(), 48u);
    for (size_t at = 48; at < file.size();) {
        const uint32_t total = le32(file, at + 4);
        if (le32(file, at) != 6 || total % 4 != 0 || total < 32 + 64 || at + total > file.size() ||
            le32(file, at + total - 4) != total) {
            ADD_FAILURE() << "bad block at " << at;
            break;
        }
        const uint32_t captured = le32(file, at + 20);
        const size_t h = at + 28;  // the usbmon header
        const uint32_t dataLength = le32(file, h + 36);
        EXPECT_EQ(captured, 64 + dataLength);
        Captured p{le32(file, h) | static_cast<uint64_t>(le32(file, h + 4)) << 32,
                   static_cast<char>(file[h + 8]),
                   file[h + 9],
                   file[h + 10],
                   file[h + 11],
                   test::u16At(file, h + 12),
                   static_cast<int32_t>(le32(file, h + 28)),
                   le32(file, h + 32),
                   Bytes(file.begin() + static_cast<long>(h + 64),
                         file.begin() + static_cast<long>(h + 64 + dataLength))};
        packets.push_back(std::move(p));
        at += total;
    }
    return packets;
}

// ------------------------------------------------------------ file layout

TEST(PcapngWriter, OnePacketFileByteForByte) {
    const std::string path = tempPath("layout");
    PcapngWriter writer;
    ASSERT_EQ(writer.open(path), 0);
    const uint8_t data[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x42};
    UsbPacket p;
    p.urbId = 0x1122334455667788;
    p.type = 'S';
    p.transferType = UsbTransferType::Bulk;
    p.endpoint = 0x02;
    p.device = 5;
    p.bus = 3;
    p.timestampUs = 1700000000123456;  // 0x00060A2418202240
    p.status = -115;
    p.length = 5;
    p.data = data;
    p.dataLength = 5;
    ASSERT_TRUE(writer.write(p));
    writer.close();

    const Bytes expected = {
        // section header block
        0x0A, 0x0D, 0x0D, 0x0A, 28, 0, 0, 0, 0x4D, 0x3C, 0x2B, 0x1A, 1, 0, 0, 0,  //
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 28, 0, 0, 0,              //
        // interface description block: link type 220, no snap length
        1, 0, 0, 0, 20, 0, 0, 0, 220, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,  //
        // enhanced packet block: 28 + 72 (69 padded) + 4 = 104 bytes
        6, 0, 0, 0, 104, 0, 0, 0, 0, 0, 0, 0,            // type, length, interface
        0x24, 0x0A, 0x06, 0x00, 0x40, 0x22, 0x20, 0x18,  // timestamp high, low
        69, 0, 0, 0, 69, 0, 0, 0,                        // captured, original
        // usbmon header
        0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // URB id
        'S', 3, 0x02, 5, 3, 0, '-', 0,                   // type, bulk, ep, dev, bus, flags
        0x00, 0xF1, 0x53, 0x65, 0, 0, 0, 0,              // seconds 1700000000
        0x40, 0xE2, 0x01, 0x00,                          // microseconds 123456
        0x8D, 0xFF, 0xFF, 0xFF,                          // -EINPROGRESS
        5, 0, 0, 0, 5, 0, 0, 0,                          // length, captured data
        0, 0, 0, 0, 0, 0, 0, 0,                          // setup
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // interval .. descriptors
        0xDE, 0xAD, 0xBE, 0xEF, 0x42, 0, 0, 0,           // data, padding
        104, 0, 0, 0};
    EXPECT_EQ(readFile(path), expected);
}

// The header fields that tell a reader where the data is, for the packets
// without data (a packet with data is the one above): an OUT completion, an
// IN submission. An interrupt transfer also gives its polling interval.
TEST(PcapngWriter, PacketsWithoutDataSayWhereItIs) {
    for (const uint8_t endpoint : {0x01, 0x81}) {
        const bool in = endpoint == 0x81;
        UsbPacket p;
        p.type = in ? 'S' : 'C';
        p.transferType = UsbTransferType::Interrupt;
        p.endpoint = endpoint;
        Bytes block;
        PcapngWriter::appendPacketBlock(p, block);
        ASSERT_EQ(block.size(), 28u + 64u + 4u);
        EXPECT_EQ(block[28 + 14], '-');
        EXPECT_EQ(block[28 + 15], in ? '<' : '>');
        EXPECT_EQ(le32(block, 28 + 48), 1u);
        EXPECT_EQ(le32(block, 28 + 56), in ? 0x200u : 0u);  // URB_DIR_IN
    }
}

// Bus and device numbers come from a HID path that names them, in hexadecimal;
// any other path gives bus 1, device 1.
TEST(UsbTrace, BusAndDeviceComeFromAPathThatNamesThem) {
    struct Row {
        const char* path;
        uint16_t bus;
        uint8_t device;
    };
    for (const Row& row : {Row{"0003:001a:01", 3, 26}, Row{"/dev/hidraw2", 1, 1},
                           Row{"0001:0100:00", 1, 1}, Row{"0001:0005:00x", 1, 1}}) {
        SCOPED_TRACE(row.path);
        const std::string path = tempPath("device_path");
        UsbTrace trace;
        ASSERT_EQ(trace.start(path), 0);
        trace.setDevicePath(row.path);
        const uint8_t byte = 1;
        trace.completeOut(trace.submitOut(UsbTransferType::Bulk, 0x02, &byte, 1),
                          UsbTransferType::Bulk, 0x02, 0, 1);
        trace.stop();
        const auto packets = parseFile(path);
        ASSERT_EQ(packets.size(), 2u);
        for (const Captured& p : packets) {
            EXPECT_EQ(p.bus, row.bus);
            EXPECT_EQ(p.device, row.device);
        }
    }
}

// --------------------------------------------------- through the transports

class TraceExchange : public ::testing::Test {
  protected:
    TraceExchange() : adapter(test::adapterOptions("TRACE01")) {
        adapter.i2c().attachEeprom(0, 0x50);
    }
    sim::VirtualAdapter adapter;  // 64-byte reports, bulk interface
    VantorSDK sdk{2000};
};

TEST_F(TraceExchange, RecordsReportsAndBulkDataFromBeforeConnect) {
    const std::string path = tempPath("exchange");
    ASSERT_EQ(sdk.startTrace(path), 0);
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.i2cControllerInit(0, 100000, 0), 0);
    const Bytes written = test::pattern(12, 3);
    ASSERT_EQ(sdk.i2cWriteBulk(0, 0x50, {0x10}, written, false), 0);
    Bytes read;
    ASSERT_EQ(sdk.i2cReadBulk(0, 0x50, {0x10}, 12, read, false), 0);
    ASSERT_EQ(read, written);
    sdk.stopTrace();
    const size_t size = readFile(path).size();
    UsbConfig config;
    ASSERT_EQ(sdk.getUsbConfig(config), 0);  // after the stop: not recorded
    EXPECT_EQ(readFile(path).size(), size);

    const auto packets = parseFile(path);
    ASSERT_FALSE(packets.empty());
    // Every URB: a submission, later its completion. (The response can come
    // in between: the transfers of the reader thread and the sender interleave.)
    std::map<uint64_t, std::vector<const Captured*>> urbs;
    for (const Captured& p : packets) urbs[p.urb].push_back(&p);
    std::vector<const Captured*> hidOut, hidIn, bulkOut, bulkIn;
    for (const auto& [urb, pair] : urbs) {
        ASSERT_EQ(pair.size(), 2u) << "URB " << urb;
        const Captured& sub = *pair[0];
        const Captured& done = *pair[1];
        EXPECT_EQ(sub.type, 'S');
        EXPECT_EQ(done.type, 'C');
        EXPECT_EQ(sub.endpoint, done.endpoint);
        EXPECT_EQ(done.status, 0);
        EXPECT_EQ(sub.status, -115);
        if (sub.isOut()) {
            EXPECT_EQ(done.length, sub.data.size());
            (sub.isBulk() ? bulkOut : hidOut).push_back(&sub);
        } else {
            EXPECT_TRUE(sub.data.empty());
            (done.isBulk() ? bulkIn : hidIn).push_back(&done);
        }
    }
    // init, bulk capability query, bulk write, bulk read: one report each,
    // each answered by one report. (Which reports a session started before
    // the connect records, read back by tshark, is tests/python/test_trace.py's.)
    ASSERT_EQ(hidOut.size(), 4u);
    ASSERT_EQ(hidIn.size(), 4u);
    for (const Captured* p : hidOut) EXPECT_EQ(p->data.size(), 64u);
    for (const Captured* p : hidIn) EXPECT_EQ(p->data.size(), 64u);
    ASSERT_EQ(bulkOut.size(), 1u);
    EXPECT_EQ(bulkOut[0]->data, written);
    ASSERT_EQ(bulkIn.size(), 1u);
    EXPECT_EQ(bulkIn[0]->data, written);
}

TEST_F(TraceExchange, StartingAgainMovesToTheNewFile) {
    const std::string first = tempPath("first");
    const std::string second = tempPath("second");
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.startTrace(first), 0);
    UsbConfig config;
    ASSERT_EQ(sdk.getUsbConfig(config), 0);
    // (A file that cannot be created keeps the running trace: test_trace.py.)
    ASSERT_EQ(sdk.startTrace(second), 0);
    ASSERT_EQ(sdk.getUsbConfig(config), 0);
    ASSERT_EQ(sdk.getUsbConfig(config), 0);
    sdk.disconnect();
    sdk.stopTrace();
    EXPECT_FALSE(sdk.isTracing());
    EXPECT_EQ(parseFile(first).size(), 4u);   // one request, one response
    EXPECT_EQ(parseFile(second).size(), 8u);  // two of each
}

// The file system refuses the rest of the file (a file size limit stands in
// for a full disk) in the middle of a packet: the file is cut back to its
// last whole packet, the trace stops and keeps the errno for its owner.
TEST_F(TraceExchange, AFileThatCannotTakeAPacketEndsWholeAndStopsTheTrace) {
    const std::string path = tempPath("full");
    ASSERT_TRUE(sdk.connect(adapter.path()));
    ASSERT_EQ(sdk.startTrace(path), 0);
    // A request and its response: a block with a report (160 bytes) and one
    // without (96) for each. The first two blocks fit, the third does not.
    constexpr size_t kHeaders = 48, kWhole = kHeaders + 160 + 96;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = kWhole + 48;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    UsbConfig config;
    const uint16_t status = sdk.getUsbConfig(config);  // four packets
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(status, 0);  // the trace does not fail the exchange
    EXPECT_FALSE(sdk.isTracing());
    std::string failedPath;
    EXPECT_EQ(sdk.traceFailure(&failedPath), EFBIG);
    EXPECT_EQ(failedPath, path);
    EXPECT_EQ(readFile(path).size(), kWhole);
    EXPECT_EQ(parseFile(path).size(), 2u);
    ASSERT_EQ(sdk.getUsbConfig(config), 0);  // nothing more is written
    EXPECT_EQ(readFile(path).size(), kWhole);
    // Stopping reports the failure once.
    failedPath.clear();
    EXPECT_EQ(sdk.stopTrace(&failedPath), EFBIG);
    EXPECT_EQ(failedPath, path);
    EXPECT_EQ(sdk.stopTrace(), 0);
    EXPECT_EQ(sdk.traceFailure(), 0);
}

// A read asks for whole packets, then the rest; the drain of stale data
// before the next read asks for one packet at a time. The trace shows what
// each IN transfer asked for (a drain step that found nothing is not in it),
// and for a transfer that ends short, what came.
TEST(BulkTransportIo, ReadAsksForWholePacketsThenTheRest) {
    sim::VirtualAdapter adapter(test::adapterOptions("CHUNK", sim::Model::Quillex));
    const std::string path = tempPath("chunks");
    UsbTrace trace;
    BulkTransport bulk(usb::defaultUsbBackend(), trace);
    ASSERT_TRUE(bulk.open(kVendorId, kProductIdQuillex, ""));
    ASSERT_EQ(bulk.maxPacketSize(), 512u);
    ASSERT_EQ(trace.start(path), 0);
    const Bytes sent = test::pattern(1000);
    adapter.sendBulk(sent);
    Bytes received(1000);
    ASSERT_TRUE(bulk.read(received.data(), received.size(), kBulkDataTimeoutMs));
    EXPECT_EQ(received, sent);
    EXPECT_EQ(bulk.lastError(), "");
    adapter.sendBulk(test::pattern(600, 1));
    bulk.discardStale(true);  // as after a read nobody answered
    adapter.faults().limitBulkIn(3);
    const Bytes cut = test::pattern(5, 2);
    adapter.sendBulk(cut);
    EXPECT_FALSE(bulk.read(received.data(), 5, 200));
    trace.stop();

    const auto packets = parseFile(path);
    std::vector<uint32_t> asked;
    for (const Captured& p : packets) {
        if (p.type == 'S') asked.push_back(p.length);
    }
    EXPECT_EQ(asked, (std::vector<uint32_t>{512, 488, 512, 512, 5}));
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.back().type, 'C');
    EXPECT_EQ(packets.back().length, 3u);
    EXPECT_EQ(packets.back().data, Bytes(cut.begin(), cut.begin() + 3));
}

// Starting and stopping while requests flow from another thread: the reader
// thread and the sender record concurrently with the switch.
TEST_F(TraceExchange, ConcurrentStartStopDuringTraffic) {
    ASSERT_TRUE(sdk.connect(adapter.path()));
    std::atomic<bool> done{false};
    std::thread traffic([&] {
        UsbConfig config;
        for (int i = 0; i < 40; ++i) EXPECT_EQ(sdk.getUsbConfig(config), 0);
        done.store(true);
    });
    std::vector<std::string> paths;
    for (int i = 0; !done.load() || i < 2; ++i) {
        paths.push_back(tempPath("concurrent_" + std::to_string(i % 4)));
        ASSERT_EQ(sdk.startTrace(paths.back()), 0);
        if (i % 3 == 2) sdk.stopTrace();
    }
    traffic.join();
    sdk.stopTrace();
    // Every file ends with a whole block. (A transfer's submission and its
    // completion may fall into two files.)
    for (size_t i = paths.size() >= 4 ? paths.size() - 4 : 0; i < paths.size(); ++i) {
        parseFile(paths[i]);
    }
}

}  // namespace
}  // namespace vantor
