#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>
#include <optional>
#include <string>

#include "text/ui_language.h"

namespace qor {
namespace {

constexpr std::array<const char*, 4> kVariables = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

// Saves the locale variables and puts them back, so the test's settings do
// not leak into the rest of the process.
class LocaleEnvironment {
  public:
    LocaleEnvironment() {
        for (std::size_t i = 0; i < kVariables.size(); ++i) {
            if (const char* value = getenv(kVariables[i])) {
                m_saved[i] = value;
            }
            unsetenv(kVariables[i]);
        }
    }
    ~LocaleEnvironment() {
        for (std::size_t i = 0; i < kVariables.size(); ++i) {
            if (m_saved[i]) {
                setenv(kVariables[i], m_saved[i]->c_str(), 1);
            } else {
                unsetenv(kVariables[i]);
            }
        }
    }
    void set(const char* name, const char* value) { setenv(name, value, 1); }

  private:
    std::array<std::optional<std::string>, 4> m_saved;
};

TEST(UserDefaultUiLanguageTest, ReadsEachVariableInItsPlace) {
    LocaleEnvironment environment;
    EXPECT_EQ(userDefaultUiLanguage(), kUiLanguageEnglish);

    environment.set("LANG", "zh_CN.UTF-8");
    EXPECT_EQ(userDefaultUiLanguage(), kUiLanguageChinese);

    environment.set("LC_MESSAGES", "en_GB.UTF-8");
    EXPECT_EQ(userDefaultUiLanguage(), kUiLanguageEnglish);

    environment.set("LC_ALL", "zh_SG.UTF-8");
    EXPECT_EQ(userDefaultUiLanguage(), kUiLanguageChinese);

    environment.set("LANGUAGE", "en");
    EXPECT_EQ(userDefaultUiLanguage(), kUiLanguageEnglish);

    environment.set("LANGUAGE", "");
    EXPECT_EQ(userDefaultUiLanguage(), kUiLanguageChinese);
}

}  // namespace
}  // namespace qor
