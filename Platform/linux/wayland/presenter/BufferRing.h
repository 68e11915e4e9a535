#pragma once

// Which of a surface's buffers the next frame is drawn into, and what of it must be
// drawn again. The compositor reads a committed buffer until it releases it, so a
// frame never goes into a held buffer; and a buffer last drawn some frames ago lacks
// every change since, so each buffer collects the damage of the frames it missed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Platform/linux/layers/ShownLayers.h"

namespace zoba::platform::linux_backend::wayland {

class BufferRing {
 public:
  // `count` buffers of `bounds`, none drawn yet: each must be drawn whole first.
  BufferRing(std::size_t count, const PixelRect& bounds);

  // The newest picture differs from the last committed one inside `damage`.
  void damage(std::span<const PixelRect> damage);
  // The free buffer drawn most recently (it has the least to catch up on); absent
  // while the compositor holds every one.
  std::optional<std::size_t> acquire() const;
  // What buffer `index` must draw again to show the newest picture.
  const std::vector<PixelRect>& stale(std::size_t index) const { return slots_[index].stale; }
  // Buffer `index` now shows the newest picture and was given to the compositor.
  void committed(std::size_t index);
  // The compositor let go of buffer `index`.
  void released(std::size_t index);
  bool held(std::size_t index) const { return slots_[index].held; }
  std::size_t size() const { return slots_.size(); }

 private:
  struct Slot {
    std::vector<PixelRect> stale;
    bool held = false;
    std::uint64_t drawnAt = 0;  // the frame it last showed; 0: never drawn
  };
  PixelRect bounds_;
  std::vector<Slot> slots_;
  std::uint64_t frames_ = 0;
};

}  // namespace zoba::platform::linux_backend::wayland
