#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace zoba::platform {

// Bits of the 64-bit modifier-flags word. The device bits tell left and right apart.
namespace ModifierFlag {
inline constexpr std::uint64_t leftControl = 0x1;
inline constexpr std::uint64_t leftShift = 0x2;
inline constexpr std::uint64_t rightShift = 0x4;
inline constexpr std::uint64_t leftCommand = 0x8;
inline constexpr std::uint64_t rightCommand = 0x10;
inline constexpr std::uint64_t leftOption = 0x20;
inline constexpr std::uint64_t rightOption = 0x40;
inline constexpr std::uint64_t rightControl = 0x2000;
inline constexpr std::uint64_t capsLock = 1ull << 16;
inline constexpr std::uint64_t shift = 1ull << 17;
inline constexpr std::uint64_t control = 1ull << 18;
inline constexpr std::uint64_t option = 1ull << 19;
inline constexpr std::uint64_t command = 1ull << 20;
}  // namespace ModifierFlag

// Keeps a monitor installed for as long as it lives.
class EventMonitor {
 public:
  virtual ~EventMonitor() = default;
  // The device bits (left and right keys) the caller acts on. A monitor that has to
  // claim keys from the desktop to see them at all (key bindings of a compositor)
  // claims only these, and watches every pair until told; others see every key anyway.
  virtual void watchKeys(std::uint64_t deviceBits) { static_cast<void>(deviceBits); }
};

class Events {
 public:
  virtual ~Events() = default;
  // Calls `handler` on the main thread with the new flags word at every change of a
  // modifier key anywhere on the desktop. Null when no monitor can be installed
  // (no display).
  virtual std::unique_ptr<EventMonitor> addGlobalFlagsChangedMonitor(
      std::function<void(std::uint64_t modifierFlags)> handler) = 0;
};

}  // namespace zoba::platform
