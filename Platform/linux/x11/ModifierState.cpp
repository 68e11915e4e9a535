#include "Platform/linux/x11/ModifierState.h"

#include "Platform/Events.h"

namespace zoba::platform::linux_backend {

std::uint64_t deviceBit(std::uint32_t keysym) {
  switch (keysym) {
    case Keysym::shiftL: return ModifierFlag::leftShift;
    case Keysym::shiftR: return ModifierFlag::rightShift;
    case Keysym::controlL: return ModifierFlag::leftControl;
    case Keysym::controlR: return ModifierFlag::rightControl;
    case Keysym::altL:
    case Keysym::metaL: return ModifierFlag::leftOption;
    case Keysym::altR:
    case Keysym::metaR:
    case Keysym::isoLevel3Shift: return ModifierFlag::rightOption;
    case Keysym::superL: return ModifierFlag::leftCommand;
    case Keysym::superR: return ModifierFlag::rightCommand;
    default: return 0;
  }
}

bool isModifierKeysym(std::uint32_t keysym) { return keysym == Keysym::capsLock || deviceBit(keysym) != 0; }

std::uint32_t keysymOfRow(std::span<const std::uint32_t> row) {
  for (auto keysym : row) {
    if (isModifierKeysym(keysym)) return keysym;
  }
  for (auto keysym : row) {
    if (keysym != Keysym::none) return keysym;
  }
  return Keysym::none;
}

bool ModifierState::apply(std::uint8_t keycode, std::uint32_t keysym, bool pressed) {
  const auto before = flags();
  if (keysym == Keysym::capsLock) {
    // The lock toggles on each press; its release changes nothing.
    if (pressed) capsLock_ = !capsLock_;
  } else if (pressed) {
    // A repeated press keeps the bit the key went down with.
    if (!heldBits_[keycode]) heldBits_[keycode] = deviceBit(keysym);
  } else {
    // Releasing a key that is not down (synthetic input sends those) clears nothing else.
    heldBits_[keycode] = 0;
  }
  return flags() != before;
}

bool ModifierState::setCapsLock(bool on) {
  const auto before = flags();
  capsLock_ = on;
  return flags() != before;
}

std::uint64_t ModifierState::flags() const {
  std::uint64_t device = 0;
  for (auto bit : heldBits_) device |= bit;
  std::uint64_t word = device;
  if (device & (ModifierFlag::leftShift | ModifierFlag::rightShift)) word |= ModifierFlag::shift;
  if (device & (ModifierFlag::leftControl | ModifierFlag::rightControl)) word |= ModifierFlag::control;
  if (device & (ModifierFlag::leftOption | ModifierFlag::rightOption)) word |= ModifierFlag::option;
  if (device & (ModifierFlag::leftCommand | ModifierFlag::rightCommand)) word |= ModifierFlag::command;
  if (capsLock_) word |= ModifierFlag::capsLock;
  return word;
}

}  // namespace zoba::platform::linux_backend
