#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zoba {

// One accessibility element, flattened. Texts are UTF-8; invalid bytes are read as U+FFFD.
struct AXNodeRecord {
  std::int64_t depth = 0;
  std::string role;
  std::optional<std::string> roleDescription;
  std::optional<std::string> title;
  std::optional<std::string> value;
  std::optional<std::string> description;
  std::optional<std::string> placeholder;
  std::optional<std::string> url;
  bool settable = false;
  bool selected = false;
  bool focused = false;
  // False where the platform says the element lies outside the window's visible area
  // (scrolled away); a truncated outline gives such records up first.
  bool onScreen = true;

  // Texts compare under Unicode canonical equivalence.
  friend bool operator==(const AXNodeRecord& a, const AXNodeRecord& b);
};

}  // namespace zoba
