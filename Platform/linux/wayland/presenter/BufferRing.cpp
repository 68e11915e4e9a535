#include "Platform/linux/wayland/presenter/BufferRing.h"

namespace zoba::platform::linux_backend::wayland {

namespace {
// Enough for a few moving layers; past it a buffer redraws the bounding box.
constexpr std::size_t kMaxStaleRects = 8;
}  // namespace

BufferRing::BufferRing(std::size_t count, const PixelRect& bounds) : bounds_(bounds), slots_(count) {
  for (auto& slot : slots_) slot.stale = {bounds};
}

void BufferRing::damage(std::span<const PixelRect> damage) {
  for (auto& slot : slots_) {
    for (const auto& rect : damage) {
      const PixelRect inside = intersection(rect, bounds_);
      if (!inside.empty()) slot.stale.push_back(inside);
    }
    slot.stale = simplified(std::move(slot.stale), kMaxStaleRects);
  }
}

std::optional<std::size_t> BufferRing::acquire() const {
  std::optional<std::size_t> best;
  for (std::size_t index = 0; index < slots_.size(); ++index) {
    if (slots_[index].held) continue;
    if (!best || slots_[index].drawnAt > slots_[*best].drawnAt) best = index;
  }
  return best;
}

void BufferRing::committed(std::size_t index) {
  auto& slot = slots_[index];
  slot.stale.clear();
  slot.held = true;
  slot.drawnAt = ++frames_;
}

void BufferRing::released(std::size_t index) { slots_[index].held = false; }

}  // namespace zoba::platform::linux_backend::wayland
