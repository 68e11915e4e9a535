// Reading the helper's output lines as JSON in the end-to-end tests.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zoba::testing {

// The line as JSON: null when none came in time or it is not JSON.
inline nlohmann::json parse(const std::optional<std::string>& line) {
  return line ? nlohmann::json::parse(*line, nullptr, false) : nlohmann::json();
}

// A text field of a line that may be missing: empty when absent or not a text.
inline std::string field(const nlohmann::json& line, const char* name) {
  return line.is_object() && line.contains(name) && line[name].is_string() ? line[name].get<std::string>() : "";
}

}  // namespace zoba::testing
