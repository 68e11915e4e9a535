#include "tests/fakes/FakeScreenCapture.h"

namespace zoba::fakes {

platform::ShareableWindow FakeScreenCapture::window(std::uint32_t id, std::optional<std::int32_t> pid,
                                                    Rect frame, std::optional<std::string> title,
                                                    std::int32_t layer) {
  return ShareableWindow{id, pid, layer, frame, std::move(title)};
}

platform::ScreenCaptureResult<platform::ShareableContent> FakeScreenCapture::shareableContent(
    bool excludeDesktopWindows, bool onScreenWindowsOnly) {
  std::lock_guard lock(mutex_);
  ++calls.content;
  contentRequests.push_back({excludeDesktopWindows, onScreenWindowsOnly});
  if (contentError) return *contentError;
  return platform::ShareableContent{windows};
}

platform::ContentFilter FakeScreenCapture::filter(const ShareableWindow& window) {
  std::lock_guard lock(mutex_);
  ++calls.filter;
  return platform::ContentFilter{window.windowID, pointPixelScale};
}

platform::ScreenCaptureResult<platform::Image> FakeScreenCapture::captureImage(
    const platform::ContentFilter& filter, const platform::StreamConfiguration& configuration) {
  std::lock_guard lock(mutex_);
  ++calls.capture;
  filters.push_back(filter);
  configurations.push_back(configuration);
  if (captureError) return *captureError;
  if (image) return *image;
  const auto width = configuration.width, height = configuration.height;
  if (width <= 0 || height <= 0)
    return platform::ScreenCaptureError{"The fake cannot make an empty screenshot"};
  return platform::Image::fromWords(
      width, height, platform::Image::Format::opaque,
      std::vector<std::uint32_t>(static_cast<std::size_t>(width * height), fillWord));
}

}  // namespace zoba::fakes
