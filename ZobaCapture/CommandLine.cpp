#include "ZobaCapture/CommandLine.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>

namespace zoba::CommandLine {

std::optional<std::string> value(std::string_view after, const std::vector<std::string>& in) {
  auto option = std::find(in.begin(), in.end(), after);
  if (option == in.end() || option + 1 == in.end()) return std::nullopt;
  return *(option + 1);
}

bool has(std::string_view flag, const std::vector<std::string>& in) {
  return std::find(in.begin(), in.end(), flag) != in.end();
}

std::optional<std::int32_t> integer(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty() ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  // from_chars takes a "-" but no "+".
  if (text.front() == '+') text.remove_prefix(1);
  std::int32_t result = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return result;
}

std::optional<double> decimal(std::string_view text) {
  if (text.empty() || std::string_view("\0\t\n\v\f\r ", 7).find(text.front()) != std::string_view::npos) {
    return std::nullopt;
  }
  static const locale_t posix = newlocale(LC_ALL_MASK, "C", locale_t{});
  std::string terminated(text);  // an embedded NUL stops strtod short, which makes it invalid
  char* end = nullptr;
  double result = strtod_l(terminated.c_str(), &end, posix);
  if (end != terminated.c_str() + terminated.size()) return std::nullopt;
  return result;
}

}  // namespace zoba::CommandLine
