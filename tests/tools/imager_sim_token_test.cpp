#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/clock.h"
#include "tests/tools/sim_line.h"

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
    EXPECT_EQ(line.ask(blockOf(image, 1), "*ack"), "*echo*ack");
    // The check and the write take their time: nothing in the first half of it.
    EXPECT_EQ(line.host().readFor(40), "");
    EXPECT_EQ(line.host().readUntil("*update", kAnswerMs), "*update");
    EXPECT_EQ(line.host().readFor(40), "");
    EXPECT_EQ(line.host().readUntil("*ack", kAnswerMs), "*ack");

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
        EXPECT_EQ(line.ask(blockOf(image, 0), "*update"), "*echo*ack*update");
        EXPECT_EQ(line.host().readFor(200), "");
        EXPECT_EQ(line.host().readFor(300), forever ? "" : "*ack");
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
    for (const auto& step :
         {bytesOf("*probe"), std::span<const uint8_t>(header), blockOf(image, 0)}) {
        line.host().write(step);
        EXPECT_EQ(line.host().readFor(60), "");
        EXPECT_EQ(line.host().readUntil("*echo", kAnswerMs), "*echo");
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
    std::string got;
    for (int i = 0; i < 5; ++i) {
        const auto piece = line.host().read(1, kAnswerMs);
        ASSERT_EQ(piece.size(), 1u) << "read " << i;
        got.append(piece.begin(), piece.end());
    }
    EXPECT_EQ(got, "*echo");
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
    const std::string noise = line.tell(headerFor(sampleImage(1 * 1024)), 200);
    EXPECT_GE(noise.size(), 5u);
    EXPECT_EQ(noise.find_first_not_of('\n'), std::string::npos);
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
    EXPECT_EQ(line.tell("*probe", 450), "*echo");
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
