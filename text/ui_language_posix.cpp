#include <cstdlib>

#include "text/ui_language.h"

namespace qor {

namespace {

std::string_view variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

}  // namespace

uint16_t userDefaultUiLanguage() {
    return uiLanguageFromLocale({
        .language = variable("LANGUAGE"),
        .lcAll = variable("LC_ALL"),
        .lcMessages = variable("LC_MESSAGES"),
        .lang = variable("LANG"),
    });
}

}  // namespace qor
