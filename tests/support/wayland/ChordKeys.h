#pragma once

// The left and right key of each modifier the helper's chord can use, by the names
// the tests give them ("shift", "alt", "logo"): their keysym names for wtype and
// their evdev codes for KWin's fake input.

#include <array>
#include <optional>
#include <string_view>

namespace zoba::testing::wayland {

struct ChordKeys {
  std::string_view modifier;
  std::string_view left, right;     // keysym names
  int leftCode = 0, rightCode = 0;  // linux/input-event-codes.h
};

inline constexpr std::array chordKeyTable = {
    ChordKeys{"shift", "Shift_L", "Shift_R", 42, 54},
    ChordKeys{"alt", "Alt_L", "Alt_R", 56, 100},
    ChordKeys{"logo", "Super_L", "Super_R", 125, 126},
};

inline std::optional<ChordKeys> chordKeys(std::string_view modifier) {
  for (const auto& keys : chordKeyTable) {
    if (keys.modifier == modifier) return keys;
  }
  return std::nullopt;
}

}  // namespace zoba::testing::wayland
