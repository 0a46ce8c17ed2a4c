#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/tools/imager_sim/sim_line.h"
#include "tools/imager_sim/stats.h"
#include "tools/imager_sim/wire.h"
#include "tools/testkit/json_reader.h"

namespace qor::sim {
namespace {

using testing::blockOf;
using testing::SimLine;

// An exchange over a line timed like a 921600 baud wire, with a turnaround
// of 2 ms per block: the replies are the same as on an instant line, and the
// record has what a benchmark reads from it.
TEST(ImagerSimTiming, PacedLineCarriesTheExchangeAndTimesIt) {
    ImagerOptions options;
    options.wire_baud = kUsbWireBaud;
    options.block_delay_ms = 2;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(4 * 1024);

    EXPECT_EQ(line.connect(), "*echo");
    EXPECT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
    for (std::size_t k = 0; k + 1 < 4; ++k) {
        const auto sent = std::chrono::steady_clock::now();
        EXPECT_EQ(line.ask(blockOf(image, k), "*echo"), "*echo");
        // A lower bound, which no load can break: the block's and the
        // answer's time on the wire, and the imager's turnaround.
        const auto waited = std::chrono::steady_clock::now() - sent;
        EXPECT_GE(waited, std::chrono::microseconds(SerialWire::durationUs(1024, 921600) + 2000 +
                                                    SerialWire::durationUs(5, 921600)));
    }
    EXPECT_EQ(line.ask(blockOf(image, 3), "*ack*update*ack"), "*echo*ack*update*ack");

    // The imager notes a reply's timing just after the reply has gone out,
    // so the last note may come a moment after its bytes have arrived here.
    ASSERT_TRUE(line.imager().waitFor(
        [](const ImagerRecord& r) { return r.timing.late_us.size() == 9; }, 5000));
    const ImagerRecord record = line.imager().record();
    EXPECT_TRUE(record.run.completed);
    EXPECT_EQ(record.run.image, image);
    // Probe answer -> header, header answer -> block 0, block k answer -> block k + 1.
    EXPECT_EQ(record.timing.turnaround_us.size(), 5u);
    EXPECT_EQ(record.timing.pause_us, 4 * 2000u);
    EXPECT_GE(record.timing.image_last_us - record.timing.image_first_us,
              4 * SerialWire::durationUs(1024, 921600));

    const ImagerStats stats = statsOf(2, line.imager().portPath(), record);
    EXPECT_EQ(stats.received, 5u + 6 + 12 + 4 * 1024);
    EXPECT_EQ(stats.sent, std::string("*echo*echo*echo*echo*echo*echo*ack*update*ack").size());
    EXPECT_EQ(stats.blocks, 4u);
    EXPECT_EQ(stats.turnaround_us, record.timing.turnaround_us);
    EXPECT_EQ(stats.late_us.size(), 9u);  // one for every reply
}

TEST(ImagerSimStats, LineReadsBackAsWritten) {
    ImagerStats stats;
    stats.index = 5;
    stats.port = "/dev/pts/17";
    stats.received = 1048599;
    stats.sent = 5155;
    stats.blocks = 1024;
    stats.completed = true;
    stats.pause_us = 2048000;
    stats.image_us = 11500000;
    stats.late_us = {3, 0, 17, 2};
    stats.turnaround_us = {41, 38, 1200};
    const std::string line = formatStats(stats);
    EXPECT_EQ(parseStats(line), stats);

    stats.turnaround_us.clear();
    stats.completed = false;
    EXPECT_EQ(parseStats(formatStats(stats)), stats);
}

// The record as the browser tests read it from another process: every byte
// exactly (a zero byte and 0xff too), each setup packet with its rate.
TEST(ImagerSimStats, RecordJsonHoldsEveryByte) {
    ImagerRecord record;
    record.received = {0x00, 0x25, 0xFF};
    record.sent = {'*', 'e'};
    record.handled = 3;
    record.replies_pending = 1;
    record.setup_packets = {SetupPacket{{0x05, 0x57, 0x0E, 0x0D, 0x01, 0xFF, 0x88}, 9600},
                            SetupPacket{{0x05, 0x57, 0x0E, 0x0D, 0x01, 0xFF, 0x88}, 57600}};
    record.setup_answers = 1;
    record.runs = 2;
    record.run.marker_seen = true;
    record.run.header = {0xAB, 0x01};
    record.run.image_length = 2048;
    record.run.image = {0x10, 0x0F};
    record.run.blocks = 1;

    const auto json = qor::testing::readJson(formatRecordJson(3, "/dev/pts/9", record));
    ASSERT_TRUE(json);
    const auto& r = *json;
    EXPECT_EQ(r["imager"].number(), 3);
    EXPECT_EQ(r["port"].text(), "/dev/pts/9");
    EXPECT_EQ(r["received"].text(), "0025ff");
    EXPECT_EQ(r["sent"].text(), "2a65");
    EXPECT_EQ(r["handled"].number(), 3);
    EXPECT_EQ(r["replies_pending"].number(), 1);
    ASSERT_EQ(r["setup_packets"].array().size(), 2u);
    EXPECT_EQ(r["setup_packets"].array()[1]["bytes"].text(), "05570e0d01ff88");
    EXPECT_EQ(r["setup_packets"].array()[1]["baud"].number(), 57600);
    EXPECT_EQ(r["setup_answers"].number(), 1);
    EXPECT_FALSE(std::get<bool>(r["update_mode"].value));
    EXPECT_EQ(r["runs"].number(), 2);
    EXPECT_TRUE(std::get<bool>(r["run"]["marker_seen"].value));
    EXPECT_FALSE(std::get<bool>(r["run"]["probe_seen"].value));
    EXPECT_EQ(r["run"]["header"].text(), "ab01");
    EXPECT_EQ(r["run"]["image_length"].number(), 2048);
    EXPECT_EQ(r["run"]["image"].text(), "100f");
    EXPECT_EQ(r["run"]["blocks"].number(), 1);
    EXPECT_FALSE(std::get<bool>(r["hung_up"].value));
}

TEST(ImagerSimStats, DamagedLinesAreRefused) {
    ImagerStats stats;
    stats.port = "/dev/pts/1";
    stats.turnaround_us = {7, 9};
    const std::string line = formatStats(stats);
    const std::string cases[] = {
        "",
        line.substr(0, line.find(" turnaround_us")),                  // cut off
        line + " extra",                                              // no key=value
        line.substr(0, line.size() - 1) + "x",                        // not a number
        line + ",",                                                   // empty list entry
        "imager=0 " + line.substr(line.find("port=")) + " imager=1",  // repeated, same count
    };
    for (const std::string& damaged : cases) {
        SCOPED_TRACE(damaged);
        EXPECT_FALSE(parseStats(damaged));
    }
}

}  // namespace
}  // namespace qor::sim
