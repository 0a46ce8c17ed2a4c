#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qor {

// The texts are UTF-8 here but land in fixed buffers of UTF-16 code units on
// the Windows side (260 for status texts and message boxes, 8 for a "COM%d"
// name), so every limit is counted in UTF-16 code units and includes the
// terminating NUL.

// Length of a UTF-8 text in UTF-16 code units: two for a character beyond
// U+FFFF, one for any other character and for each malformed sequence.
std::size_t utf16Length(std::string_view text);

// The longest prefix of `text` that fits `capacity` units with the
// terminator, cut between characters, never inside one. The text ends at its
// first NUL, as it does in such a buffer. A malformed sequence becomes U+FFFD,
// as the conversion to UTF-16 would make it, so the result is valid UTF-8.
std::string fitText(std::string_view text, std::size_t capacity);

// Appends `more` to `text` as far as `capacity` allows.
void appendText(std::string& text, std::string_view more, std::size_t capacity);

}  // namespace qor
