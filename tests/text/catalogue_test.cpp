#include "text/catalogue.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>

#include "text/text_fit.h"

namespace qor {
namespace {

std::string utf8(const char8_t* text) {
    return std::string(reinterpret_cast<const char*>(text));
}

struct WrittenText {
    Situation situation;
    const char* english;
    const char8_t* chinese;  // nullptr: English only
};

// Written out independently of the catalogue, the Chinese as code points, so
// that a character that drifted in either place shows up here.
const WrittenText kWrittenTexts[] = {
    {Situation::Step1Instructions, "Step 1:\r\rScan barcode to start update mode",
     u8"\u66f4\u65b0\u6b65\u9aa4\u4e00:"
     u8"\r\r\u626b\u63cf\u4e8c\u7ef4\u7801\u8bbe\u7f6e\u66f4\u65b0\u6a21\u5f0f"},
    {Situation::Step2Instructions, "Step 2:\r\rSelect FW file",
     u8"\u66f4\u65b0\u6b65\u9aa4\u4e8c:\r\r\u9009\u53d6\u56fa\u4ef6\u6863\u6848"},
    {Situation::BrowseCaption, "Browse..", u8"\u56fa\u4ef6"},
    {Situation::ConnectCaption, "Connect", u8"\u8fde\u7ebf"},
    {Situation::DevicesConnected, "  %d Devices Connected",
     u8"  %d \u4e2a\u88c5\u7f6e\u4e0a\u7ebf"},
    {Situation::OneDeviceConnected, "  %d Device Connected",
     u8"  %d \u4e2a\u88c5\u7f6e\u4e0a\u7ebf"},
    {Situation::NoDeviceConnected, "  Disconnected", u8"\u79bb\u7ebf"},
    {Situation::PortListEntry, "COM%d", u8"COM%d"},
    {Situation::DeviceRowLabel, "Device: %d ", u8"Device: %d "},
    {Situation::HandshakePortOpenFailed, "Connect To %s Failed", u8"%s \u5f00\u542f\u5931\u8d25"},
    {Situation::TooManyDevices, "Too Many COM Ports !", nullptr},
    {Situation::InvalidFile, "Invalid File !", u8"\u6863\u6848\u683c\u5f0f\u9519\u8bef"},
    {Situation::PortsNotFound, "COM Port Error !", u8"\u8fde\u7ebf\u5931\u8d25"},
    {Situation::ImageOpenFailed, "Open File Failed", u8"\u6863\u6848\u8bfb\u53d6\u5931\u8d25"},
    {Situation::DevicePortOpenFailed, "Connect To %s Failed", u8"%s \u5f00\u542f\u5931\u8d25"},
    {Situation::WaitingForProbeAnswer, "Connect to %s ", u8"\u8fde\u7ebf %s "},
    {Situation::ProbeNotAnswered, "Connect Failed", u8"\u8fde\u7ebf\u5931\u8d25"},
    {Situation::HeaderNotAcknowledged, "Transmit File Failed",
     u8"\u6863\u6848\u4f20\u9001\u5931\u8d25"},
    {Situation::HeaderRefused, "Invalid Firmware !",
     u8"\u4e0d\u652f\u6301\u6b64\u56fa\u4ef6\u7248\u672c !!"},
    {Situation::BlockReadShort, "Open File Failed", u8"\u6863\u6848\u8bfb\u53d6\u5931\u8d25"},
    {Situation::BlockWriteFailed, "Transmit File Failed", u8"\u4f20\u9001\u53d1\u751f\u9519\u8bef"},
    {Situation::TransferProgress, "%d KB / %d KB", u8"%d KB / %d KB"},
    {Situation::BlockNotAcknowledged, "Transmit File Failed (%d)",
     u8"\u6863\u6848\u4f20\u9001\u5931\u8d25"},
    {Situation::TransferCompleted, "File Transmit Completed", nullptr},
    {Situation::CheckingImage, "Check FW....", nullptr},
    {Situation::Updating, "Upating", nullptr},
    {Situation::TransferNotConfirmed, "File Transmit Failed",
     u8"\u6863\u6848\u4f20\u9001\u5931\u8d25"},
    {Situation::UpdateReportedFailure, "Upate Failed", u8"\u66f4\u65b0\u5931\u8d25"},
    {Situation::UpdateTimedOut, "Upate Failed", u8"\u8f6f\u4ef6\u66f4\u65b0\u5931\u8d25"},
    {Situation::UpdatesSucceeded, "The updates were successfully installed",
     u8"\u8f6f\u4ef6\u66f4\u65b0\u6210\u529f"},
    {Situation::InstanceNotAttached, "Imager %s Not Attached",
     u8"\u626b\u63cf\u5668 %s \u672a\u8fde\u63a5"},
};

TEST(CatalogueTest, EveryTextMatchesItsWrittenForm) {
    std::set<Situation> seen;
    for (const auto& row : kWrittenTexts) {
        SCOPED_TRACE(row.english);
        EXPECT_TRUE(seen.insert(row.situation).second);
        EXPECT_EQ(catalogueText(row.situation, kUiLanguageEnglish), row.english);
        const std::string chinese = row.chinese != nullptr ? utf8(row.chinese) : row.english;
        EXPECT_EQ(catalogueText(row.situation, kUiLanguageChinese), chinese);
        EXPECT_EQ(isEnglishOnly(row.situation), row.chinese == nullptr);
        // Traditional Chinese and every other id get English.
        for (uint16_t other : {0, 1028, 2051, 2053, 3076, 65535}) {
            EXPECT_EQ(catalogueText(row.situation, other), row.english) << other;
        }
    }
    EXPECT_EQ(seen.size(), kSituationCount);
}

TEST(CatalogueTest, SharedEnglishTextsKeepTheirOwnChineseTexts) {
    const std::pair<Situation, Situation> pairs[] = {
        {Situation::HeaderNotAcknowledged, Situation::BlockWriteFailed},
        {Situation::UpdateReportedFailure, Situation::UpdateTimedOut},
    };
    for (const auto& [first, second] : pairs) {
        EXPECT_EQ(catalogueText(first, kUiLanguageEnglish),
                  catalogueText(second, kUiLanguageEnglish));
        EXPECT_NE(catalogueText(first, kUiLanguageChinese),
                  catalogueText(second, kUiLanguageChinese));
    }
}

// Every outcome a worker or a run's check reports has a code of its own, so
// that situations sharing a text in either language stay apart in scripts.
TEST(CatalogueTest, OutcomesHaveCodesOfTheirOwn) {
    const Situation outcomes[] = {
        Situation::NoDeviceConnected,    Situation::HandshakePortOpenFailed,
        Situation::TooManyDevices,       Situation::InvalidFile,
        Situation::PortsNotFound,        Situation::ImageOpenFailed,
        Situation::ProbeNotAnswered,     Situation::HeaderNotAcknowledged,
        Situation::HeaderRefused,        Situation::BlockReadShort,
        Situation::BlockWriteFailed,     Situation::BlockNotAcknowledged,
        Situation::TransferNotConfirmed, Situation::UpdateReportedFailure,
        Situation::UpdateTimedOut,       Situation::UpdatesSucceeded,
        Situation::InstanceNotAttached,
    };
    std::set<std::string_view> codes;
    for (const Situation situation : outcomes) {
        const std::string_view code = situationCode(situation);
        EXPECT_FALSE(code.empty()) << static_cast<int>(situation);
        EXPECT_TRUE(codes.insert(code).second) << code;
    }
    // One outcome, two places it is met: one code.
    EXPECT_EQ(situationCode(Situation::DevicePortOpenFailed),
              situationCode(Situation::HandshakePortOpenFailed));
    EXPECT_TRUE(situationCode(Situation::TransferProgress).empty());
}

struct FormatCase {
    const char* name;
    Situation situation;
    uint16_t language;
    std::initializer_list<TextArg> args;
    std::string expected;
    std::size_t capacity = kTextCapacity;
};

void PrintTo(const FormatCase& row, std::ostream* out) {
    *out << row.name;
}

class FormatTextTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTextTest, FillsAndFits) {
    const auto& c = GetParam();
    const std::string text = formatText(c.situation, c.language, c.capacity, c.args);
    EXPECT_EQ(text, c.expected);
    EXPECT_LT(utf16Length(text), std::max<std::size_t>(c.capacity, 1));
}

// The values must outlive the table: a TextArg only refers to its text.
const std::string kLongName(300, 'P');
const std::string kName257(257, 'P');
constexpr uint16_t zh = kUiLanguageChinese;
constexpr uint16_t en = kUiLanguageEnglish;
using S = Situation;

const FormatCase kFormatCases[] = {
    {"Progress", S::TransferProgress, zh, {1, 256}, "1 KB / 256 KB"},
    {"Count", S::DevicesConnected, en, {6}, "  6 Devices Connected"},
    {"NegativeResult", S::BlockNotAcknowledged, en, {-2}, "Transmit File Failed (-2)"},
    {"ChineseDropsTheResult",
     S::BlockNotAcknowledged,
     zh,
     {-1},
     utf8(u8"\u6863\u6848\u4f20\u9001\u5931\u8d25")},
    {"ChinesePortName",
     S::HandshakePortOpenFailed,
     zh,
     {"COM17"},
     utf8(u8"COM17 \u5f00\u542f\u5931\u8d25")},
    {"PercentInNameIsText", S::WaitingForProbeAnswer, en, {"%s%n%d"}, "Connect to %s%n%d "},
    {"NameEndsAtNul",
     S::WaitingForProbeAnswer,
     en,
     {std::string_view("COM3\0COM4", 9)},
     "Connect to COM3 "},
    {"ComNameCut", S::PortListEntry, en, {12345678}, "COM1234", kComNameCapacity},
    {"LongNameCut",
     S::DevicePortOpenFailed,
     en,
     {kLongName},
     "Connect To " + std::string(248, 'P')},
    // 257 + " " leaves room for one Chinese character before the terminator.
    {"LongNameChineseCut", S::DevicePortOpenFailed, zh, {kName257}, kName257 + utf8(u8" \u5f00")},
};

INSTANTIATE_TEST_SUITE_P(Catalogue, FormatTextTest, ::testing::ValuesIn(kFormatCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
