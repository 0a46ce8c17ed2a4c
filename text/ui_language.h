#pragma once

#include <cstdint>
#include <string_view>

namespace qor {

// Windows language ids. The texts come in exactly two sets: Chinese for
// Simplified Chinese (PRC), English for every other id.
inline constexpr uint16_t kUiLanguageChinese = 2052;
inline constexpr uint16_t kUiLanguageEnglish = 1033;

// The value held before the dialog asks the platform.
inline constexpr uint16_t kInitialUiLanguage = kUiLanguageChinese;

constexpr bool usesChineseTexts(uint16_t uiLanguage) {
    return uiLanguage == kUiLanguageChinese;
}

// The locale variables that decide the language of messages on POSIX, in the
// order gettext consults them. An empty value counts as unset, as it does for
// the C library.
struct LocaleVariables {
    std::string_view language = {};    // LANGUAGE, a colon-separated list
    std::string_view lcAll = {};       // LC_ALL
    std::string_view lcMessages = {};  // LC_MESSAGES
    std::string_view lang = {};        // LANG
};

// 2052 when the first variable that is set names Simplified Chinese (zh_CN,
// zh_SG, zh_Hans, or zh without a region; codeset and modifier ignored),
// otherwise 1033. Of LANGUAGE only the first entry counts.
uint16_t uiLanguageFromLocale(const LocaleVariables& variables);

// The user's default UI language as a Windows language id; on POSIX derived
// from the locale variables of the process's environment.
uint16_t userDefaultUiLanguage();

}  // namespace qor
