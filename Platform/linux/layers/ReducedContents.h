#pragma once

// Contents images halved ahead of time: a screenshot drawn much smaller than
// itself is scaled from the copy closest above its drawn size, so a cheap
// bilinear filter looks right and costs little.

#include <cstdint>
#include <map>
#include <set>
#include <utility>

#include "Platform/Image.h"

namespace zoba::platform::linux_backend {

class ReducedContents {
 public:
  // How many halvings keep an image at least as large as it is drawn at `scale`.
  static int levelFor(double scale);
  // `image` halved `level` times; made once per image and level.
  const Image& reduced(const Image& image, int level);
  // Forgets the copies of every image whose pixels are not in `keep`.
  void retainOnly(const std::set<const std::uint8_t*>& keep);
  std::size_t size() const { return copies_.size(); }

 private:
  std::map<std::pair<const std::uint8_t*, int>, Image> copies_;  // by the original's pixels and level
};

// Every 2 × 2 block averaged into one pixel, channel by channel.
Image halved(const Image& image);

}  // namespace zoba::platform::linux_backend
