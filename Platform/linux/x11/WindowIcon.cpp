#include "Platform/linux/x11/WindowIcon.h"

#include <vector>

namespace zoba::platform::linux_backend {

namespace {
struct Entry {
  std::uint32_t width = 0, height = 0;
  std::size_t offset = 0;  // of the first pixel
};

std::uint32_t premultiplied(std::uint32_t word) {
  const std::uint32_t alpha = word >> 24;
  auto channel = [&](int shift) { return (((word >> shift) & 0xFF) * alpha + 127) / 255 << shift; };
  return alpha << 24 | channel(16) | channel(8) | channel(0);
}
}  // namespace

std::optional<Image> bestWindowIcon(std::span<const std::uint32_t> property, std::int64_t wanted) {
  std::optional<Entry> best;
  auto better = [&](const Entry& candidate) {
    if (!best) return true;
    const bool fits = candidate.width >= wanted && candidate.height >= wanted;
    const bool bestFits = best->width >= wanted && best->height >= wanted;
    const auto area = std::uint64_t(candidate.width) * candidate.height;
    const auto bestArea = std::uint64_t(best->width) * best->height;
    if (fits != bestFits) return fits;
    return fits ? area < bestArea : area > bestArea;
  };
  for (std::size_t at = 0; at + 2 <= property.size();) {
    const Entry entry{property[at], property[at + 1], at + 2};
    const std::uint64_t pixels = std::uint64_t(entry.width) * entry.height;
    // Real icons are at most a few hundred pixels wide; anything else is garbage.
    if (entry.width == 0 || entry.height == 0 || entry.width > 4096 || entry.height > 4096 ||
        pixels > property.size() - entry.offset) {
      break;
    }
    if (better(entry)) best = entry;
    at = entry.offset + pixels;
  }
  if (!best) return std::nullopt;
  std::vector<std::uint32_t> words(
      property.begin() + static_cast<std::ptrdiff_t>(best->offset),
      property.begin() + static_cast<std::ptrdiff_t>(best->offset) +
          static_cast<std::ptrdiff_t>(std::uint64_t(best->width) * best->height));
  for (auto& word : words) word = premultiplied(word);
  return Image::fromWords(best->width, best->height, Image::Format::premultiplied, std::move(words));
}

}  // namespace zoba::platform::linux_backend
