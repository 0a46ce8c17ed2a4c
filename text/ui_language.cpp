#include "text/ui_language.h"

#include <algorithm>
#include <array>

namespace qor {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

bool isRegionSeparator(char c) {
    return c == '_' || c == '-';
}

// language[_territory][.codeset][@modifier]; the hyphenated form of language
// tags ("zh-CN", "zh-Hans-SG") turns up in LANGUAGE lists and is read alike.
bool namesSimplifiedChinese(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    const auto separator = std::find_if(locale.begin(), locale.end(), isRegionSeparator);
    const std::string_view language = locale.substr(0, separator - locale.begin());
    if (!equalsIgnoringCase(language, "zh")) {
        return false;
    }
    if (separator == locale.end()) {
        return true;
    }
    const std::string_view region = locale.substr(separator - locale.begin() + 1);
    if (region.size() > 4 && equalsIgnoringCase(region.substr(0, 4), "Hans") &&
        isRegionSeparator(region[4])) {
        return true;
    }
    constexpr std::array<std::string_view, 3> kSimplified = {"CN", "SG", "Hans"};
    return std::any_of(kSimplified.begin(), kSimplified.end(),
                       [&](std::string_view name) { return equalsIgnoringCase(region, name); });
}

// gettext skips empty entries of the LANGUAGE list.
std::string_view firstListEntry(std::string_view list) {
    while (!list.empty()) {
        const auto colon = list.find(':');
        const auto entry = list.substr(0, colon);
        if (!entry.empty() || colon == std::string_view::npos) {
            return entry;
        }
        list.remove_prefix(colon + 1);
    }
    return {};
}

}  // namespace

uint16_t uiLanguageFromLocale(const LocaleVariables& variables) {
    const std::array<std::string_view, 4> candidates = {
        firstListEntry(variables.language), variables.lcAll, variables.lcMessages, variables.lang};
    for (const auto locale : candidates) {
        if (!locale.empty()) {
            return namesSimplifiedChinese(locale) ? kUiLanguageChinese : kUiLanguageEnglish;
        }
    }
    return kUiLanguageEnglish;
}

}  // namespace qor
