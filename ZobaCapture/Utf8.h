#pragma once

#include <string>
#include <string_view>

namespace zoba::Utf8 {

// `bytes` with every ill-formed sequence replaced by U+FFFD, one per maximal subpart.
std::string replacingInvalid(std::string_view bytes);

}  // namespace zoba::Utf8
