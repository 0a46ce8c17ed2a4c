#pragma once

#include <string>
#include <string_view>

namespace qor::testing {

// The manual page `name` ("qor-flash.1") of the source tree, in roff as
// written; empty when it cannot be read.
std::string manualPage(std::string_view name);

// Whether `text` names the long option --NAME as a whole word ("--count",
// not "--count-all"), in plain text or in roff, where a dash is "\-".
bool namesLongOption(std::string_view text, std::string_view name);

// Whether `text` has `word` ("block-refused") as a whole word, its dashes
// plain or in roff.
bool namesWord(std::string_view text, std::string_view word);

}  // namespace qor::testing
