// UTF-8 validation shared by the text conversions.
#pragma once

#include <cstddef>
#include <string_view>

namespace tolvan::platform::internal {

// Length of the well-formed UTF-8 sequence starting at bytes[at], or 0 when there is none
// (a stray continuation byte, a truncated sequence, an overlong form, a surrogate, or a code point
// above U+10FFFF).
std::size_t ValidUtf8SequenceLength(std::string_view bytes, std::size_t at);

bool IsValidUtf8(std::string_view bytes);

}  // namespace tolvan::platform::internal
