#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The command line's rules. Options are exact, case-sensitive words; only the first
// occurrence of an option counts.
namespace zoba::CommandLine {

// The element after the first one equal to `after`, whatever it looks like; absent
// when the option is missing or last.
std::optional<std::string> value(std::string_view after, const std::vector<std::string>& in);

// Whether a flag option is present.
bool has(std::string_view flag, const std::vector<std::string>& in);

// An optional "+" or "-" and one or more ASCII digits, nothing else, within 32 bits.
std::optional<std::int32_t> integer(std::string_view text);

// A whole number text as strtod reads it in the POSIX locale (hexadecimal forms,
// inf and nan included), not beginning with a blank or NUL.
std::optional<double> decimal(std::string_view text);

}  // namespace zoba::CommandLine
