#pragma once

#include <string_view>

namespace qor::fuzz {

// True when `text` is exactly one JSON value (RFC 8259) and nothing else,
// whitespace aside: strings of valid UTF-8 with no raw control characters,
// escapes of the listed forms only (a \u escape of a surrogate must be
// paired), numbers in JSON's own grammar (no leading zeros, no "1.", no
// "+1"), no trailing commas. Nesting deeper than 64 levels is refused.
bool isStrictJson(std::string_view text);

// The same for an object: the first character is '{'.
bool isStrictJsonObject(std::string_view text);

}  // namespace qor::fuzz
