#include "text/text_fit.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace qor {
namespace {

// U+1F600 takes two UTF-16 units; U+56FA one.
const std::string kWide = "\xF0\x9F\x98\x80";
const std::string kChinese = "\xE5\x9B\xBA";
const std::string kReplacement = "\xEF\xBF\xBD";

struct FitCase {
    const char* name;
    std::string text;
    std::size_t capacity;
    std::string expected;
};

void PrintTo(const FitCase& row, std::ostream* out) {
    *out << row.name;
}

class FitTextTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitTextTest, FitsWithoutSplittingACharacter) {
    const auto& c = GetParam();
    EXPECT_EQ(fitText(c.text, c.capacity), c.expected);
}

const FitCase kFitCases[] = {
    {"ExactlyFull", "COM1234", 8, "COM1234"},
    {"CutAtCapacityLessTerminator", "COM12345", 8, "COM1234"},
    {"ChineseCountsOneUnit", kChinese + kChinese + kChinese, 3, kChinese + kChinese},
    {"SurrogatePairNotSplit", "abcdef" + kWide, 8, "abcdef"},
    {"SurrogatePairFitsWhole", "abcde" + kWide, 8, "abcde" + kWide},
    {"StrayByteReplaced",
     "a\xFF"
     "b",
     8, "a" + kReplacement + "b"},
    {"TruncatedSequenceReplaced", "a\xE5\x9B", 8, "a" + kReplacement},
    {"ZeroCapacity", "abc", 0, ""},
};

INSTANTIATE_TEST_SUITE_P(TextFit, FitTextTest, ::testing::ValuesIn(kFitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextFitTest, CountsUtf16Units) {
    EXPECT_EQ(utf16Length(""), 0u);
    EXPECT_EQ(utf16Length("COM5"), 4u);
    EXPECT_EQ(utf16Length(kChinese + kWide + "a"), 4u);
}

// A worker appends one dot per wait to a status text that may already be
// full when the port name was long.
TEST(TextFitTest, AppendingStopsAtCapacity) {
    std::string status(258, 'x');
    appendText(status, ".", 260);
    EXPECT_EQ(status.size(), 259u);
    appendText(status, ".", 260);
    EXPECT_EQ(status, std::string(258, 'x') + ".");
}

}  // namespace
}  // namespace qor
