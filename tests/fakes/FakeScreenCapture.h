#pragma once

// An in-memory window list and screenshots for module tests: windows as the
// test lists them, errors on demand, and a record of every call.

#include <mutex>
#include <optional>
#include <vector>

#include "Platform/ScreenCapture.h"

namespace zoba::fakes {

// The calls may come from a worker thread (the capture makes them off the main
// thread); the test reads what they recorded after the capture has ended.
class FakeScreenCapture final : public platform::ScreenCapture {
 public:
  using ShareableWindow = platform::ShareableWindow;

  // A window of the list, layer 0 unless told otherwise.
  static ShareableWindow window(std::uint32_t id, std::optional<std::int32_t> pid, Rect frame,
                                std::optional<std::string> title = std::nullopt, std::int32_t layer = 0);

  // What the window list answers.
  std::vector<ShareableWindow> windows;
  std::optional<platform::ScreenCaptureError> contentError;
  // What the screenshot answers: the error, else `image`, else an opaque image
  // of exactly the configured size filled with `fillWord`.
  std::optional<platform::ScreenCaptureError> captureError;
  std::optional<platform::Image> image;
  std::uint32_t fillWord = 0xFF3366CC;
  // The point-to-pixel scale of every filter.
  double pointPixelScale = 1;

  struct Counts {
    int content = 0, filter = 0, capture = 0;
  };
  Counts calls;
  struct ContentRequest {
    bool excludeDesktopWindows, onScreenWindowsOnly;
  };
  std::vector<ContentRequest> contentRequests;
  std::vector<platform::ContentFilter> filters;               // as passed to captureImage
  std::vector<platform::StreamConfiguration> configurations;  // as passed to captureImage

  platform::ScreenCaptureResult<platform::ShareableContent> shareableContent(
      bool excludeDesktopWindows, bool onScreenWindowsOnly) override;
  platform::ContentFilter filter(const ShareableWindow& window) override;
  platform::ScreenCaptureResult<platform::Image> captureImage(
      const platform::ContentFilter& filter, const platform::StreamConfiguration& configuration) override;

 private:
  std::mutex mutex_;
};

}  // namespace zoba::fakes
