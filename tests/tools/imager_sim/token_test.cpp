#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/clock.h"
#include "tests/tools/imager_sim/sim_line.h"

namespace qor::sim {
namespace {

using testing::blockOf;
using testing::bytesOf;
using testing::kAnswerMs;
using testing::SimLine;

std::string concat(std::initializer_list<std::span<const uint8_t>> parts) {
    std::string all;
    for (const auto& part : parts) {
        all.append(part.begin(), part.end());
    }
    return all;
}

std::string asText(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(ImagerSimToken, WholeExchangeIsAnsweredAndRecordedByteForByte) {
    ImagerOptions options;
    options.check_time_ms = 80;
    options.write_time_ms = 80;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(2 * 1024);
    const auto header = headerFor(image);

    EXPECT_EQ(line.connect(), "*echo");
    EXPECT_EQ(line.ask(header, "*echo"), "*echo");
    EXPECT_EQ(line.ask(blockOf(image, 0), "*echo"), "*echo");
    SteadyClock clock;
    const uint32_t lastBlock = clock.now_ms();
    EXPECT_EQ(line.ask(blockOf(image, 1), "*ack"), "*echo*ack");
    // The check and the write take their time: a busy machine can only make
    // the replies later, never earlier (and may read both at once).
    EXPECT_EQ(line.host().readUntil("*update*ack", kAnswerMs), "*update*ack");
    EXPECT_GE(clock.now_ms() - lastBlock, 160u);

    const ImagerRecord record = line.imager().record();
    EXPECT_EQ(asText(record.received),
              concat({bytesOf("%QOR%*probe"), header, blockOf(image, 0), blockOf(image, 1)}));
    EXPECT_EQ(asText(record.sent), "*echo*echo*echo*echo*ack*update*ack");
    EXPECT_EQ(record.runs, 1u);
    EXPECT_TRUE(record.run.marker_seen);
    EXPECT_TRUE(record.run.probe_seen);
    EXPECT_EQ(record.run.header, header);
    EXPECT_EQ(record.run.image_length, 2048u);
    EXPECT_EQ(record.run.image, image);
    EXPECT_EQ(record.run.blocks, 2u);
    EXPECT_TRUE(record.run.completed);
    EXPECT_FALSE(record.hung_up);
}

TEST(ImagerSimToken, LargeImageArrivesIntact) {
    SimLine line;
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(256 * 1024);
    const auto header = headerFor(image);
    ASSERT_EQ(line.connect(), "*echo");
    // 262144 = 00 00 04 00 little-endian.
    EXPECT_EQ(std::vector<uint8_t>(header.begin() + 8, header.end()),
              (std::vector<uint8_t>{0x00, 0x00, 0x04, 0x00}));
    ASSERT_EQ(line.ask(header, "*echo"), "*echo");
    for (std::size_t k = 0; k + 1 < 256; ++k) {
        ASSERT_EQ(line.ask(blockOf(image, k), "*echo"), "*echo") << "block " << k;
    }
    EXPECT_EQ(line.ask(blockOf(image, 255), "*update*ack"), "*echo*ack*update*ack");
    const ImagerRecord record = line.imager().record();
    EXPECT_EQ(record.run.image_length, 262144u);
    EXPECT_EQ(record.run.blocks, 256u);
    EXPECT_EQ(record.run.image, image);
}

TEST(ImagerSimToken, ProbeCountsOnlyAfterTheMarkerAndMayComeInPieces) {
    SimLine line;
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.tell("*probe"), "");
    EXPECT_FALSE(line.imager().record().run.probe_seen);

    line.host().write("%QO");
    line.host().write("R%*pro");
    EXPECT_EQ(line.ask("be", "*echo"), "*echo");
    EXPECT_TRUE(line.imager().record().run.probe_seen);
}

struct RefusalCase {
    const char* name;
    Reply reply;
    const char* answer;
};

constexpr RefusalCase kRefusals[] = {
    {"Nack", Reply::kNack, "*nack"},
    {"Error", Reply::kError, "*error"},
    {"Silent", Reply::kSilent, ""},
};

std::string caseName(const ::testing::TestParamInfo<RefusalCase>& info) {
    return info.param.name;
}

class ImagerSimProbeReply : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ImagerSimProbeReply, ProbeIsAnsweredAsScripted) {
    ImagerOptions options;
    options.probe_reply = GetParam().reply;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    line.host().write("%QOR%");
    EXPECT_EQ(line.tell("*probe"), GetParam().answer);
    EXPECT_TRUE(
        line.imager().waitFor([](const ImagerRecord& r) { return r.run.probe_seen; }, kAnswerMs));
}

INSTANTIATE_TEST_SUITE_P(Replies, ImagerSimProbeReply, ::testing::ValuesIn(kRefusals), caseName);

class ImagerSimHeaderRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ImagerSimHeaderRefusal, RefusedHeaderEndsTheExchange) {
    ImagerOptions options;
    options.header_reply = GetParam().reply;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(1 * 1024);
    ASSERT_EQ(line.connect(), "*echo");
    EXPECT_EQ(line.tell(headerFor(image)), GetParam().answer);
    // The imager no longer takes blocks: the host must start over.
    EXPECT_EQ(line.tell(blockOf(image, 0)), "");
    const ImagerRecord record = line.imager().record();
    EXPECT_EQ(record.run.header, headerFor(image));
    EXPECT_EQ(record.run.blocks, 0u);
    EXPECT_TRUE(record.run.image.empty());
    // ... and a new marker does start over.
    EXPECT_EQ(line.connect(), "*echo");
    EXPECT_EQ(line.imager().record().runs, 2u);
}

INSTANTIATE_TEST_SUITE_P(Replies, ImagerSimHeaderRefusal, ::testing::ValuesIn(kRefusals), caseName);

struct BlockFaultCase {
    const char* name;
    BlockFault fault;
    const char* answer;
};

class ImagerSimBlockFault : public ::testing::TestWithParam<BlockFaultCase> {};

TEST_P(ImagerSimBlockFault, FaultStrikesAtTheChosenBlockOnly) {
    ImagerOptions options;
    options.block_fault = GetParam().fault;
    options.fault_block = 1;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(3 * 1024);
    ASSERT_EQ(line.connect(), "*echo");
    ASSERT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
    EXPECT_EQ(line.ask(blockOf(image, 0), "*echo"), "*echo");
    EXPECT_EQ(line.tell(blockOf(image, 1)), GetParam().answer);
    ASSERT_TRUE(
        line.imager().waitFor([](const ImagerRecord& r) { return r.run.blocks == 2; }, kAnswerMs));
    const ImagerRecord record = line.imager().record();
    EXPECT_EQ(record.run.blocks, 2u);
    EXPECT_FALSE(record.run.completed);
    EXPECT_EQ(asText(record.sent), std::string("*echo*echo*echo") + GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Faults, ImagerSimBlockFault,
                         ::testing::Values(BlockFaultCase{"Nack", BlockFault::kNack, "*nack"},
                                           BlockFaultCase{"Error", BlockFault::kError, "*error"},
                                           BlockFaultCase{"Silent", BlockFault::kSilent, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImagerSimToken, HangUpAtBlockEndsTheLine) {
    ImagerOptions options;
    options.block_fault = BlockFault::kHangUp;
    options.fault_block = 1;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(3 * 1024);
    ASSERT_EQ(line.connect(), "*echo");
    ASSERT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
    ASSERT_EQ(line.ask(blockOf(image, 0), "*echo"), "*echo");
    line.host().write(blockOf(image, 1));
    EXPECT_TRUE(line.host().waitForHangUp(kAnswerMs));
    EXPECT_TRUE(line.imager().waitFor([](const ImagerRecord& r) { return r.hung_up; }, kAnswerMs));
    EXPECT_FALSE(std::filesystem::exists(line.imager().portPath()));
    EXPECT_EQ(line.imager().record().run.blocks, 2u);
}

TEST(ImagerSimToken, SilenceAfterUpdateLastsTheWriteTimeOrForever) {
    const auto image = sampleImage(1 * 1024);
    for (const bool forever : {false, true}) {
        SCOPED_TRACE(forever ? "forever" : "300 ms");
        ImagerOptions options;
        options.write_time_ms = 300;
        options.final_reply = forever ? Reply::kSilent : Reply::kToken;
        SimLine line(options);
        ASSERT_TRUE(line.ok());
        ASSERT_EQ(line.connect(), "*echo");
        ASSERT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
        SteadyClock clock;
        const uint32_t block = clock.now_ms();
        EXPECT_EQ(line.ask(blockOf(image, 0), "*update"), "*echo*ack*update");
        if (forever) {
            // Nothing more is on its way: the imager has queued no reply.
            EXPECT_EQ(line.tell(""), "");
            EXPECT_EQ(asText(line.imager().record().sent), "*echo*echo*echo*ack*update");
        } else {
            EXPECT_EQ(line.host().readUntil("*ack", kAnswerMs), "*ack");
            EXPECT_GE(clock.now_ms() - block, 300u);
        }
    }
}

TEST(ImagerSimToken, RefusalsAfterTheLastBlockStopTheTail) {
    struct Case {
        const char* name;
        Reply ImagerOptions::*step;
        Reply reply;
        const char* tail;
    };
    const Case cases[] = {
        {"ack refused", &ImagerOptions::taken_reply, Reply::kNack, "*echo*nack"},
        {"ack missing", &ImagerOptions::taken_reply, Reply::kSilent, "*echo"},
        {"update is an error", &ImagerOptions::update_reply, Reply::kError, "*echo*ack*error"},
        {"write fails", &ImagerOptions::final_reply, Reply::kNack, "*echo*ack*update*nack"},
    };
    const auto image = sampleImage(1 * 1024);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImagerOptions options;
        options.*c.step = c.reply;
        SimLine line(options);
        ASSERT_TRUE(line.ok());
        ASSERT_EQ(line.connect(), "*echo");
        ASSERT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
        EXPECT_EQ(line.tell(blockOf(image, 0)), c.tail);
    }
}

TEST(ImagerSimToken, EveryDelayHoldsItsReplyBack) {
    ImagerOptions options;
    options.probe_delay_ms = 120;
    options.header_delay_ms = 120;
    options.block_delay_ms = 120;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(2 * 1024);
    line.host().write("%QOR%");
    const auto header = headerFor(image);
    SteadyClock clock;
    for (const auto& step :
         {bytesOf("*probe"), std::span<const uint8_t>(header), blockOf(image, 0)}) {
        const uint32_t sent = clock.now_ms();
        line.host().write(step);
        EXPECT_EQ(line.host().readUntil("*echo", kAnswerMs), "*echo");
        EXPECT_GE(clock.now_ms() - sent, 120u);
    }
}

TEST(ImagerSimToken, NoiseSurroundsEveryToken) {
    ImagerOptions options;
    options.noise_before = std::string("\x00#", 2);
    options.noise_after = "\r\n";
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(1 * 1024);
    line.host().write("%QOR%");
    EXPECT_EQ(line.ask("*probe", "\r\n"), std::string("\x00#*echo\r\n", 9));
    EXPECT_EQ(line.ask(headerFor(image), "\r\n"), std::string("\x00#*echo\r\n", 9));
    EXPECT_EQ(line.tell(blockOf(image, 0)),
              std::string("\x00#*echo\r\n\x00#*ack\r\n\x00#*update\r\n\x00#*ack\r\n", 36));
}

TEST(ImagerSimToken, TrickledTokenComesOneByteAtATime) {
    ImagerOptions options;
    options.trickle_gap_ms = 30;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    SteadyClock clock;
    line.host().write("%QOR%");
    line.host().write("*probe");
    const uint32_t start = clock.now_ms();
    // Sent at once, the token would be here within a gap; a busy machine
    // can only make it later.
    const auto got = line.host().read(5, kAnswerMs);
    EXPECT_EQ(std::string(got.begin(), got.end()), "*echo");
    EXPECT_GE(clock.now_ms() - start, 4 * options.trickle_gap_ms - 1);
}

TEST(ImagerSimToken, FloodKeepsTheLineBusyAroundTheReplies) {
    ImagerOptions options;
    options.flood_gap_ms = 10;
    options.header_reply = Reply::kSilent;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.tell("*probe"), "") << "no flood before the marker";
    line.host().write("%QOR%");
    std::string answer = line.ask("*probe", "*echo");
    std::erase(answer, '\n');
    EXPECT_EQ(answer, "*echo");
    // The header goes unanswered, yet the line never falls quiet.
    line.host().write(headerFor(sampleImage(1 * 1024)));
    const std::vector<uint8_t> noise = line.host().read(5, kAnswerMs);
    EXPECT_GE(noise.size(), 5u);
    EXPECT_EQ(std::count(noise.begin(), noise.end(), '\n'), static_cast<long>(noise.size()));
}

TEST(ImagerSimToken, MarkerInPlaceOfHeaderOrBlockStartsOver) {
    const auto image = sampleImage(2 * 1024);
    for (const bool in_blocks : {false, true}) {
        SCOPED_TRACE(in_blocks ? "instead of a block" : "instead of the header");
        SimLine line;
        ASSERT_TRUE(line.ok());
        ASSERT_EQ(line.connect(), "*echo");
        if (in_blocks) {
            ASSERT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
            ASSERT_EQ(line.ask(blockOf(image, 0), "*echo"), "*echo");
        }
        EXPECT_EQ(line.connect(), "*echo");
        EXPECT_EQ(line.imager().record().runs, 2u);
        EXPECT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
    }
}

TEST(ImagerSimToken, NewMarkerDropsRepliesStillPending) {
    ImagerOptions options;
    options.write_time_ms = 300;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(1 * 1024);
    ASSERT_EQ(line.connect(), "*echo");
    ASSERT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
    ASSERT_EQ(line.ask(blockOf(image, 0), "*update"), "*echo*ack*update");
    line.host().write("%QOR%");
    // The final "*ack" of the abandoned exchange must not turn up in the new one.
    EXPECT_EQ(line.tell("*probe"), "*echo");
    EXPECT_EQ(line.imager().record().runs, 2u);
}

TEST(ImagerSimToken, UsbImagerIgnoresTheLineRate) {
    for (const uint32_t baud : {9600u, 115200u, 921600u}) {
        SCOPED_TRACE(baud);
        SimLine line({}, baud);
        ASSERT_TRUE(line.ok());
        EXPECT_EQ(line.connect(), "*echo");
    }
}

}  // namespace
}  // namespace qor::sim
