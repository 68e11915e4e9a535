#include "ZobaCaptureCore/Chord.h"

namespace zoba {

namespace ChordPresets {

std::optional<ChordPreset> fromRawValue(std::string_view raw) {
  for (ChordPreset preset : allCases) {
    if (rawValue(preset) == raw) return preset;
  }
  return std::nullopt;
}

std::string_view rawValue(ChordPreset preset) {
  switch (preset) {
    case ChordPreset::shift: return "shift";
    case ChordPreset::option: return "option";
    case ChordPreset::command: return "command";
  }
  return "shift";
}

std::uint64_t leftKeyBit(ChordPreset preset) {
  switch (preset) {
    case ChordPreset::shift: return 0x2;
    case ChordPreset::option: return 0x20;
    case ChordPreset::command: return 0x8;
  }
  return 0;
}

std::uint64_t rightKeyBit(ChordPreset preset) {
  switch (preset) {
    case ChordPreset::shift: return 0x4;
    case ChordPreset::option: return 0x40;
    case ChordPreset::command: return 0x10;
  }
  return 0;
}

}  // namespace ChordPresets

bool ChordDetector::update(std::uint64_t modifierFlags) {
  const bool left = (modifierFlags & ChordPresets::leftKeyBit(preset)) != 0;
  const bool right = (modifierFlags & ChordPresets::rightKeyBit(preset)) != 0;
  if (left && right) {
    const bool fires = armed_;
    armed_ = false;
    return fires;
  }
  if (!left && !right) armed_ = true;
  return false;
}

}  // namespace zoba
