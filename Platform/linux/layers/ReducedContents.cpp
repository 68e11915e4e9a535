#include "Platform/linux/layers/ReducedContents.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zoba::platform::linux_backend {

namespace {
// Past this a copy would be a few pixels across; drawing from it gains nothing.
constexpr int kMaxLevel = 6;
}  // namespace

int ReducedContents::levelFor(double scale) {
  int level = 0;
  while (level < kMaxLevel && scale > 0 && scale * (1 << (level + 1)) <= 1) ++level;
  return level;
}

const Image& ReducedContents::reduced(const Image& image, int level) {
  if (level <= 0 || image.empty()) return image;
  const std::pair key{image.row(0), level};
  if (auto found = copies_.find(key); found != copies_.end()) return found->second;
  Image copy = halved(reduced(image, level - 1));
  return copies_.emplace(key, std::move(copy)).first->second;
}

void ReducedContents::retainOnly(const std::set<const std::uint8_t*>& keep) {
  std::erase_if(copies_, [&](const auto& entry) { return !keep.contains(entry.first.first); });
}

Image halved(const Image& image) {
  const std::int64_t width = std::max<std::int64_t>(1, image.width() / 2);
  const std::int64_t height = std::max<std::int64_t>(1, image.height() / 2);
  std::vector<std::uint32_t> out(static_cast<std::size_t>(width * height));
  const std::int64_t lastX = image.width() - 1, lastY = image.height() - 1;
  for (std::int64_t y = 0; y < height; ++y) {
    const std::uint8_t* top = image.row(std::min(2 * y, lastY));
    const std::uint8_t* bottom = image.row(std::min(2 * y + 1, lastY));
    auto* target = reinterpret_cast<std::uint8_t*>(out.data() + y * width);
    for (std::int64_t x = 0; x < width; ++x) {
      const std::size_t left = static_cast<std::size_t>(std::min(2 * x, lastX)) * 4;
      const std::size_t right = static_cast<std::size_t>(std::min(2 * x + 1, lastX)) * 4;
      for (std::size_t c = 0; c < 4; ++c) {
        target[x * 4 + static_cast<std::int64_t>(c)] = static_cast<std::uint8_t>(
            (top[left + c] + top[right + c] + bottom[left + c] + bottom[right + c] + 2) / 4);
      }
    }
  }
  return Image::fromWords(width, height, image.format(), std::move(out));
}

}  // namespace zoba::platform::linux_backend
