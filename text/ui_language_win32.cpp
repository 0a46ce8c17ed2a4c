#include <windows.h>

#include "text/ui_language.h"

namespace qor {

uint16_t userDefaultUiLanguage() {
    return GetUserDefaultUILanguage();
}

}  // namespace qor
