#include <charconv>

#include "text/catalogue.h"
#include "text/text_fit.h"

namespace qor {

namespace {

void appendValue(std::string& out, const TextArg& value) {
    if (value.isNumber()) {
        char digits[24];
        const auto [end, ec] = std::to_chars(std::begin(digits), std::end(digits), value.number());
        out.append(digits, ec == std::errc() ? end : digits);
        return;
    }
    const auto text = value.text();
    out.append(text.substr(0, text.find('\0')));
}

}  // namespace

std::string formatText(Situation situation, uint16_t uiLanguage, std::size_t capacity,
                       std::initializer_list<TextArg> args) {
    const std::string_view pattern = catalogueText(situation, uiLanguage);
    auto next = args.begin();
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool placeholder = pattern[i] == '%' && i + 1 < pattern.size() &&
                                 (pattern[i + 1] == 'd' || pattern[i + 1] == 's');
        if (!placeholder) {
            out += pattern[i];
            continue;
        }
        if (next != args.end()) {
            appendValue(out, *next++);
        }
        ++i;
    }
    return fitText(out, capacity);
}

}  // namespace qor
