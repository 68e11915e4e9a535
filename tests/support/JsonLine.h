// Reading the helper's output lines as JSON in the end-to-end tests.
#pragma once

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace zoba::testing {

// The line as JSON: null when none came in time or it is not JSON.
inline nlohmann::json parse(const std::optional<std::string>& line) {
  return line ? nlohmann::json::parse(*line, nullptr, false) : nlohmann::json();
}

// A text field of a line that may be missing: empty when absent or not a text.
inline std::string field(const nlohmann::json& line, const char* name) {
  return line.is_object() && line.contains(name) && line[name].is_string() ? line[name].get<std::string>()
                                                                           : "";
}

// The helper's next line of one of `types`, skipping the others, within `bound`;
// null when none came in time or the helper's output ended.
inline nlohmann::json nextLineOfType(ChildProcess& helper, const std::vector<std::string>& types,
                                     std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) return nlohmann::json();
    auto message = parse(helper.readLine(left));
    if (message.is_null()) return message;
    if (std::find(types.begin(), types.end(), field(message, "type")) != types.end()) return message;
  }
}

}  // namespace zoba::testing
