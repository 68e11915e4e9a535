#pragma once

// User-perceived characters (extended grapheme clusters) of UTF-8 text: what a
// person counts, so a cut never splits an accented letter or an emoji sequence.
// Ill-formed bytes count as U+FFFD.

#include <cstdint>
#include <string>
#include <string_view>

namespace zoba::Characters {

std::int64_t count(std::string_view text);

// The first `limit` characters of `text` (all of it when it has fewer).
std::string prefix(std::string_view text, std::int64_t limit);

}  // namespace zoba::Characters
