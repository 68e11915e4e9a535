#include "ZobaCapture/Utf8.h"

#include <unicode/utf8.h>

#include <cstdint>

namespace zoba::Utf8 {

std::string replacingInvalid(std::string_view bytes) {
  std::string result;
  result.reserve(bytes.size());
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  auto length = static_cast<std::int32_t>(bytes.size());
  std::int32_t at = 0;
  while (at < length) {
    std::int32_t start = at;
    UChar32 c;
    U8_NEXT(data, at, length, c);
    if (c < 0) {
      result += "\xEF\xBF\xBD";
    } else {
      result.append(bytes.data() + start, static_cast<std::size_t>(at - start));
    }
  }
  return result;
}

}  // namespace zoba::Utf8
