#include "serial/wait_for_token.h"

#include <gtest/gtest.h>

#include <string>

#include "base/manual_clock.h"
#include "tests/support/scripted_port.h"

namespace qor {
namespace {

using testing::ScriptedLine;

class WaitForTokenTest : public ::testing::Test {
  protected:
    // Starts away from zero and close to the 32-bit wrap, so every limit is
    // also checked across the tick counter's wrap-around.
    ManualClock clock{0xFFFFFF00u};
    ScriptedLine line{clock};
    PortHandle port = line.open(921600);
    const uint32_t start = clock.now_ms();

    int wait(const char* token) { return WaitForToken(token, *port, clock); }
    uint32_t elapsed() { return clock.now_ms() - start; }
};

TEST_F(WaitForTokenTest, NothingArrivingIsSilenceJustOverOneSecond) {
    EXPECT_EQ(wait("*echo"), kTokenSilence);
    EXPECT_EQ(elapsed(), 1001u);
}

TEST_F(WaitForTokenTest, FirstByteAtExactlyTheLimitStillCounts) {
    line.arriveAt(start + 1000, "*echo");
    EXPECT_EQ(wait("*echo"), kTokenSeen);
    EXPECT_EQ(elapsed(), 1000u);
}

TEST_F(WaitForTokenTest, BytesTwoHundredMillisecondsApartStillMatch) {
    line.trickle(200, "*echo");
    EXPECT_EQ(wait("*echo"), kTokenSeen);
    EXPECT_EQ(elapsed(), 1000u);
}

TEST_F(WaitForTokenTest, PartialTokenThenSilenceEndsAfterTheShortLimit) {
    line.arriveAt(start + 10, "*ec");
    line.arriveAt(start + 10 + 300, "ho");
    EXPECT_EQ(wait("*echo"), kTokenSilence);
    EXPECT_EQ(elapsed(), 10u + 251u);
    // The late bytes stay in the port for whoever reads next.
    EXPECT_EQ(line.bytesLeft(), 2u);
}

TEST_F(WaitForTokenTest, GapOfExactlyTheShortLimitIsNotSilence) {
    line.arriveAt(start + 5, "*ec");
    line.arriveAt(start + 5 + 250, "ho");
    EXPECT_EQ(wait("*echo"), kTokenSeen);
}

TEST_F(WaitForTokenTest, TokenSplitByDiscardedBytesIsFound) {
    line.arriveAt(start + 1, "*ec\n\x01\xFF-ho");
    EXPECT_EQ(wait("*echo"), kTokenSeen);
}

TEST_F(WaitForTokenTest, DiscardedBytesRestartTheSilenceClockButAreNotStored) {
    // Noise every 900 ms keeps the one-second limit from running out, and
    // since nothing was stored the limit stays one second.
    for (uint32_t t = 900; t <= 2700; t += 900) {
        line.arriveAt(start + t, "\n");
    }
    EXPECT_EQ(wait("*echo"), kTokenSilence);
    EXPECT_EQ(elapsed(), 2700u + 1001u);
}

struct WindowCase {
    const char* name;
    const char* token;
    std::string bytes;
    int expected;
};

class WaitForTokenWindow : public WaitForTokenTest,
                           public ::testing::WithParamInterface<WindowCase> {};

TEST_P(WaitForTokenWindow, Decides) {
    line.arriveAt(start + 1, GetParam().bytes);
    EXPECT_EQ(wait(GetParam().token), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaitForTokenWindow,
    ::testing::Values(
        WindowCase{"NackWhileAckAwaited", "*ack", "*nack", kTokenNack},
        WindowCase{"ErrorWhileEchoAwaited", "*echo", "*error", kTokenError},
        WindowCase{"ErrorWhileUpdateAwaited", "*update", "xx*error", kTokenError},
        WindowCase{"UpperCaseTokenDoesNotMatch", "*echo", "*ECHO", kTokenSilence},
        WindowCase{"ElevenCharactersThenToken", "*echo", "abcdefghijk*echo", kTokenSeen},
        WindowCase{"TwelveCharactersThenToken", "*echo", "abcdefghijkl*echo", kTokenError},
        WindowCase{"SixteenCharactersWithoutMatch", "*echo", "0123456789ABCDEF", kTokenError},
        WindowCase{"UpperCaseCountsTowardTheWindow", "*echo", "*ECHO*ECHO*ECHO*echo", kTokenError},
        WindowCase{"CarriageReturnFirstHidesEverythingAfter", "*echo", "\r*echo*echo*echo",
                   kTokenError},
        WindowCase{"CarriageReturnInsideTheTokenHidesIt", "*echo", "*ec\rho0123456789",
                   kTokenError},
        WindowCase{"LineFeedIsDiscardedNotStored", "*echo", "\n\n\n\n\n\n\n\n\n\n\n\n*echo",
                   kTokenSeen},
        WindowCase{"AckInsideNackIsTheNack", "*ack", "*na\nck", kTokenNack}),
    [](const ::testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

TEST_F(WaitForTokenTest, CarriageReturnFirstThenTokenEndsInShortSilence) {
    line.arriveAt(start + 3, "\r*echo");
    EXPECT_EQ(wait("*echo"), kTokenSilence);
    EXPECT_EQ(elapsed(), 3u + 251u);
}

TEST_F(WaitForTokenTest, LineEndAfterTokenIsLeftForTheNextCall) {
    line.arriveAt(start + 2, "*echo\r\n*echo");
    EXPECT_EQ(wait("*echo"), kTokenSeen);
    EXPECT_EQ(line.bytesLeft(), 7u);
    // The next call reads the carriage return first and so can match nothing.
    EXPECT_EQ(wait("*echo"), kTokenSilence);
}

TEST_F(WaitForTokenTest, BytesBehindTheDecidingCharacterStayForTheNextCall) {
    line.arriveAt(start + 2, "*echo*ack");
    EXPECT_EQ(wait("*echo"), kTokenSeen);
    EXPECT_EQ(wait("*ack"), kTokenSeen);
    EXPECT_EQ(line.bytesLeft(), 0u);
}

TEST_F(WaitForTokenTest, ANoisyLineCannotHoldAWaitForEver) {
    for (uint32_t t = 100; t <= 60000; t += 100) {
        line.arriveAt(start + t, "\n");
    }
    EXPECT_EQ(wait("*echo"), kTokenSilence);
    EXPECT_GT(elapsed(), kMaxWaitMs);
    EXPECT_LE(elapsed(), kMaxWaitMs + 100);
}

TEST_F(WaitForTokenTest, TheLongestRealAnswerIsWellInsideTheBound) {
    // First character after 1000 ms, then one every 250 ms, the token last.
    line.arriveAt(start + 1000, "a");
    uint32_t t = start + 1000;
    for (char c : std::string("bcdefghijk*echo")) {
        t += 250;
        line.arriveAt(t, std::string(1, c));
    }
    EXPECT_EQ(wait("*echo"), kTokenSeen);
    EXPECT_EQ(elapsed(), 4750u);
}

}  // namespace
}  // namespace qor
