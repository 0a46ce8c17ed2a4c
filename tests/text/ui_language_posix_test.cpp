#include <gtest/gtest.h>

#include <optional>

#include "tests/support/scoped_env.h"
#include "text/ui_language.h"

namespace qor {
namespace {

// Clears the locale variables for the test and puts them back afterwards, so
// the test's settings do not leak into the rest of the process.
class LocaleEnvironment {
  public:
    void set(const char* name, const char* value) { testing::setEnv(name, value); }

  private:
    testing::ScopedEnv m_language{"LANGUAGE", std::nullopt};
    testing::ScopedEnv m_all{"LC_ALL", std::nullopt};
    testing::ScopedEnv m_messages{"LC_MESSAGES", std::nullopt};
    testing::ScopedEnv m_lang{"LANG", std::nullopt};
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
