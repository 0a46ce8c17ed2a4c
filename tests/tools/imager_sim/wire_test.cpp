#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "tools/imager_sim/outbox.h"
#include "tools/imager_sim/wire.h"

// The line's timing in virtual microseconds: every time is a number handed
// in, so nothing here depends on how fast the machine is.
namespace qor::sim {
namespace {

TEST(SerialWire, DurationIsTenBitsAByteRoundedUp) {
    struct Case {
        const char* name;
        std::size_t bytes;
        uint32_t baud;
        uint64_t us;
    };
    const Case cases[] = {
        {"one byte at 921600 (10.85 us)", 1, 921600, 11},
        {"an answer at 921600 (54.25 us)", 5, 921600, 55},
        {"a block at 921600 (11111.1 us)", 1024, 921600, 11112},
        {"one byte at 115200 (86.8 us)", 1, 115200, 87},
        {"block and answer at 230400 (44661.5 us)", 1029, 230400, 44662},
        {"exact: 96 bytes at 9600", 96, 9600, 100000},
        {"nothing", 0, 921600, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SerialWire::durationUs(c.bytes, c.baud), c.us);
    }
}

struct Handover {
    WireDirection direction;
    std::size_t bytes;
    uint32_t host_baud;
    uint64_t now_us;
    uint64_t arrival_us;
};

TEST(SerialWire, BytesArriveOneAfterAnotherAtTheLineRate) {
    constexpr auto kIn = WireDirection::kToImager;
    constexpr auto kOut = WireDirection::kToHost;
    struct Case {
        const char* name;
        uint32_t wire_baud;
        std::vector<Handover> handovers;
    };
    const Case cases[] = {
        {"an idle line carries a block in its own time",
         921600,
         {{kIn, 1024, 921600, 1000, 12112}}},
        {"bytes handed over while others are on the wire queue behind them",
         921600,
         {{kIn, 1024, 921600, 0, 11112}, {kIn, 1024, 921600, 5000, 22224}}},
        {"bytes after the line fell idle start when they are handed over",
         921600,
         {{kOut, 5, 921600, 0, 55}, {kOut, 5, 921600, 1000, 1055}}},
        {"the two directions do not share a wire",
         921600,
         {{kIn, 1024, 921600, 0, 11112}, {kOut, 5, 921600, 100, 155}}},
        {"a fixed rate ignores what the host set", 921600, {{kIn, 1024, 9600, 0, 11112}}},
        {"at the host's rate",
         kWireAtHostRate,
         {{kIn, 1, 115200, 0, 87}, {kOut, 1029, 230400, 0, 44662}}},
        {"a rate the imager cannot know carries nothing it could hear",
         kWireAtHostRate,
         {{kIn, 1024, 0, 500, 500}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SerialWire wire(c.wire_baud);
        for (const Handover& h : c.handovers) {
            EXPECT_EQ(wire.arrival(h.direction, h.bytes, h.host_baud, h.now_us), h.arrival_us);
        }
    }
}

TEST(SerialWire, APlannedReplyDoesNotTakeTheLine) {
    // A reply planned for later that a new exchange drops must not hold
    // back the replies that come instead.
    SerialWire wire(921600);
    EXPECT_EQ(wire.wouldArrive(WireDirection::kToHost, 5, 921600, 60'000'000), 60'000'055u);
    EXPECT_EQ(wire.arrival(WireDirection::kToHost, 5, 921600, 1000), 1055u);
    EXPECT_EQ(wire.wouldArrive(WireDirection::kToHost, 5, 921600, 1000), 1110u);
}

TEST(SerialWire, NeverFasterThanTheLineHoweverTheBytesAreSplit) {
    // A MiB handed over in pieces of any size at any moment, as a pty's reads
    // split a host's writes: the last byte arrives no sooner than the whole
    // MiB takes on the wire, and the per-piece rounding adds at most a
    // microsecond a piece.
    std::mt19937 random(7);
    SerialWire wire(921600);
    constexpr uint64_t kTotal = 1 << 20;
    uint64_t handed = 0;
    uint64_t now = 0;
    uint64_t arrival = 0;
    uint64_t pieces = 0;
    while (handed < kTotal) {
        const uint64_t piece =
            std::min<uint64_t>(kTotal - handed, std::uniform_int_distribution<>(1, 4095)(random));
        now += std::uniform_int_distribution<>(0, 3000)(random);
        now = std::min(now, arrival);  // handed over while the line is busy
        const uint64_t next = wire.arrival(WireDirection::kToImager, piece, 921600, now);
        EXPECT_GE(next, arrival + piece * 10'000'000 / 921600);
        arrival = next;
        handed += piece;
        ++pieces;
    }
    const uint64_t exact = kTotal * 10'000'000 / 921600;  // 11377778 us, rounded down
    EXPECT_GE(arrival, exact);
    EXPECT_LE(arrival, exact + pieces + 1);
}

TEST(SerialWire, OptionsChooseTheModel) {
    ImagerOptions options;
    EXPECT_EQ(makeWire(options)->arrival(WireDirection::kToImager, 1024, 921600, 300), 300u);
    options.wire_baud = 115200;
    EXPECT_EQ(makeWire(options)->arrival(WireDirection::kToImager, 1, 921600, 300), 387u);
}

TEST(Outbox, RepliesFallDueTheirDelayAfterTheirCause) {
    Outbox outbox;
    outbox.add(3, "*echo");
    outbox.add(0, "*ack");
    EXPECT_FALSE(outbox.dueAt());  // nothing counts until the imager has what it answers
    outbox.arm(1500);
    outbox.arm(2000);  // already running: the first start holds
    EXPECT_EQ(outbox.dueAt(), 4500u);

    outbox.setReadyAt(4555);
    EXPECT_EQ(outbox.readyAt(), 4555u);
    outbox.pop(4600);
    EXPECT_EQ(outbox.dueAt(), 4600u);
    EXPECT_FALSE(outbox.readyAt());  // the wire times every entry afresh

    outbox.setReadyAt(4644);
    outbox.clear();
    EXPECT_TRUE(outbox.empty());
    EXPECT_FALSE(outbox.dueAt());
    EXPECT_FALSE(outbox.readyAt());
}

}  // namespace
}  // namespace qor::sim
