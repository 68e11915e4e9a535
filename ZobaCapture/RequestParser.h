#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "ZobaCapture/Message.h"

namespace zoba {

// Requests nest two or three levels; anything deeper than this is no request and is
// refused before a parser sees it, however long the line.
inline constexpr std::size_t maxRequestNesting = 64;

// The request on one line: a JSON object with a string "type". Absent for anything
// else (invalid JSON, another top level, nesting beyond the limit).
std::optional<Message> parseRequest(std::string_view line);

}  // namespace zoba
