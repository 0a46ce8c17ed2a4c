#include "text/ui_language.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace qor {
namespace {

struct LocaleCase {
    const char* name;
    LocaleVariables variables;
    uint16_t expected;
};

void PrintTo(const LocaleCase& row, std::ostream* out) {
    *out << row.name;
}

class UiLanguageFromLocaleTest : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(UiLanguageFromLocaleTest, PicksTheLanguage) {
    EXPECT_EQ(uiLanguageFromLocale(GetParam().variables), GetParam().expected);
}

constexpr uint16_t zh = kUiLanguageChinese;
constexpr uint16_t en = kUiLanguageEnglish;

const LocaleCase kLocaleCases[] = {
    {"NothingSet", {}, en},
    {"PrcUtf8", {.lang = "zh_CN.UTF-8"}, zh},
    {"Singapore", {.lang = "zh_SG.GB2312"}, zh},
    {"SimplifiedScript", {.lang = "zh_Hans"}, zh},
    {"BareLanguage", {.lang = "zh"}, zh},
    {"HyphenatedTag", {.language = "zh-CN"}, zh},
    {"Taiwan", {.lang = "zh_TW.UTF-8"}, en},
    {"TraditionalScript", {.lang = "zh_Hant"}, en},
    {"OtherLanguageStartingWithZh", {.lang = "zha_CN"}, en},
    {"RegionOnlyPrefix", {.lang = "zh_CNX"}, en},
    {"LanguageListFirstEntryCounts", {.language = "zh_CN:en_US", .lang = "en_US"}, zh},
    {"LanguageListLaterEntryIgnored", {.language = "en_US:zh_CN", .lang = "zh_CN"}, en},
    {"LanguageListEmptyEntriesSkipped", {.language = "::zh_CN", .lang = "en_US"}, zh},
    {"LcAllBeforeLcMessages", {.lcAll = "en_US", .lcMessages = "zh_CN"}, en},
    {"LcMessagesBeforeLang", {.lcMessages = "zh_CN.UTF-8", .lang = "en_US"}, zh},
    {"EmptyCountsAsUnset", {.language = "", .lcAll = "", .lcMessages = "", .lang = "zh_CN"}, zh},
};

INSTANTIATE_TEST_SUITE_P(Locale, UiLanguageFromLocaleTest, ::testing::ValuesIn(kLocaleCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
