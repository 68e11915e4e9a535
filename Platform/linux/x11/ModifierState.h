#pragma once

// The modifier-flags word built from raw key events. Pure: no X11 here, so the
// rules are tested without a display.

#include <array>
#include <cstdint>
#include <span>

namespace zoba::platform::linux_backend {

// The X keysyms of the modifier keys we track (values of X11/keysymdef.h).
namespace Keysym {
inline constexpr std::uint32_t none = 0;
inline constexpr std::uint32_t isoLevel3Shift = 0xfe03;  // AltGr, the right Alt key on many layouts
inline constexpr std::uint32_t shiftL = 0xffe1;
inline constexpr std::uint32_t shiftR = 0xffe2;
inline constexpr std::uint32_t controlL = 0xffe3;
inline constexpr std::uint32_t controlR = 0xffe4;
inline constexpr std::uint32_t capsLock = 0xffe5;
inline constexpr std::uint32_t metaL = 0xffe7;
inline constexpr std::uint32_t metaR = 0xffe8;
inline constexpr std::uint32_t altL = 0xffe9;
inline constexpr std::uint32_t altR = 0xffea;
inline constexpr std::uint32_t superL = 0xffeb;
inline constexpr std::uint32_t superR = 0xffec;
}  // namespace Keysym

// The device bit of a modifier keysym (Alt and Meta are Option, Super is Command);
// 0 for every other keysym, Caps Lock included (it is a lock, not a held key).
std::uint64_t deviceBit(std::uint32_t keysym);

// Whether key events with this keysym change the flags word.
bool isModifierKeysym(std::uint32_t keysym);

// The keysym that names a key for our purposes: the first modifier keysym among the
// key's shift levels (a row such as "NoSymbol Alt_L" is still Alt), else the first.
std::uint32_t keysymOfRow(std::span<const std::uint32_t> row);

// Keys held down, by keycode, and the Caps Lock state. A key keeps the bit it had
// when pressed, so a keyboard mapping changed while it is held still releases it.
class ModifierState {
 public:
  // Applies one key event; true when the flags word changed.
  bool apply(std::uint8_t keycode, std::uint32_t keysym, bool pressed);
  // Sets the lock state read from the server; true when the flags word changed.
  bool setCapsLock(bool on);
  std::uint64_t flags() const;

 private:
  std::array<std::uint64_t, 256> heldBits_{};  // keycode → device bit while down
  bool capsLock_ = false;
};

}  // namespace zoba::platform::linux_backend
