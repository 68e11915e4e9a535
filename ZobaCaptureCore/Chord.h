#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zoba {

// Which modifier's left and right keys, held together, form the hotkey.
enum class ChordPreset { shift, option, command };

namespace ChordPresets {
inline constexpr std::array<ChordPreset, 3> allCases{ChordPreset::shift, ChordPreset::option,
                                                     ChordPreset::command};
// Exactly "shift", "option" or "command", byte for byte.
std::optional<ChordPreset> fromRawValue(std::string_view raw);
std::string_view rawValue(ChordPreset preset);
// Device-dependent bits of the modifier-flags word for the left and the right key.
std::uint64_t leftKeyBit(ChordPreset preset);
std::uint64_t rightKeyBit(ChordPreset preset);
}  // namespace ChordPresets

// Fires once when the second key of the pair goes down; re-arms only when both are up.
class ChordDetector {
 public:
  explicit ChordDetector(ChordPreset preset) : preset(preset) {}

  // Feeds one modifier-flags value; true exactly when it completes a chord.
  bool update(std::uint64_t modifierFlags);

  ChordPreset preset;

 private:
  bool armed_ = true;
};

}  // namespace zoba
