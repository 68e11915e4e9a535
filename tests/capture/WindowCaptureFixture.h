// The window capture's test fixture on the in-memory platform, and small helpers
// for what a capture hands on.
#pragma once

#include <gtest/gtest.h>

#include <set>

#include "ZobaCapture/WindowCapture.h"
#include "ZobaCaptureCore/UnicodeText.h"
#include "tests/fakes/FakePlatform.h"

namespace zoba::capture_testing {

using fakes::FakeScreenCapture;
using nlohmann::json;
using platform::AXElement;
using platform::AXURL;
using platform::Image;
using platform::RunningApplication;

inline constexpr std::int32_t kPid = 42;

inline std::int64_t utf16(std::string_view text) {
  std::string storage;
  return UnicodeText::utf16Length(UnicodeText::wellFormed(text, storage));
}

inline std::set<std::string> keysOf(const json& object) {
  std::set<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.insert(key);
  return keys;
}

inline Image solid(std::int64_t width, std::int64_t height, std::uint32_t word,
                   Image::Format format = Image::Format::opaque) {
  return Image::fromWords(width, height, format,
                          std::vector<std::uint32_t>(static_cast<std::size_t>(width * height), word));
}

inline std::optional<Image> decodeBase64PNG(const std::string& text) {
  auto bytes = platform::base64Decode(text);
  if (!bytes) return std::nullopt;
  return platform::decodePNG(*bytes);
}

class WindowCaptureTest : public testing::Test {
 protected:
  struct ImageCall {
    std::int64_t width = 0, height = 0;
    std::string title;
    std::size_t activationSetsSoFar = 0;  // the activation's attribute sets when it came
    int walkFetchesSoFar = 0;             // the walk's fetches when it came
    bool resultReady = false;
  };

  WindowCaptureTest() {
    app = ax().addTree("AXApplication");
    ax().mapProcess(kPid, app);
  }
  ~WindowCaptureTest() override { platform::install(nullptr); }

  fakes::FakeAccessibility& ax() { return fake.accessibility; }
  FakeScreenCapture& screen() { return fake.screenCapture; }

  // An accessibility window with a frame (none when absent) and a title.
  AXElement axWindow(std::optional<Rect> frame, std::optional<std::string> title = std::nullopt,
                     const std::vector<AXElement>& children = {}) {
    AXElement window = ax().addTree("AXWindow", children);
    auto& attributes = ax().node(window).attributes;
    if (frame) {
      attributes["AXPosition"] = Point{frame->origin.x, frame->origin.y};
      attributes["AXSize"] = Size{frame->size.width, frame->size.height};
    }
    if (title) attributes["AXTitle"] = *title;
    return window;
  }
  void focus(const AXElement& window, const char* attribute = "AXFocusedWindow") {
    ax().node(app).attributes[attribute] = window;
  }
  // One capturable window of the application, as most cases need.
  void listOneWindow(std::optional<std::string> title = "Inbox", Rect frame = Rect(0, 0, 400, 300)) {
    screen().windows = {FakeScreenCapture::window(7, kPid, frame, std::move(title))};
  }

  // Runs one capture to its end on the main loop.
  WindowCapture::CaptureResult run(RunningApplication application) {
    std::optional<WindowCapture::CaptureResult> result;
    auto handler = [this, &result](const Image& image, const std::string& title) {
      images.push_back({image.width(), image.height(), title, ax().setLog.size(), ax().calls.multiple,
                        result.has_value()});
      if (duringOnImage) duringOnImage();
    };
    [](RunningApplication application, WindowCapture::ImageHandler onImage,
       std::optional<WindowCapture::CaptureResult>& out, fakes::FakeRunLoop& loop) -> Task<void> {
      out = co_await WindowCapture::capture(std::move(application), std::move(onImage));
      loop.quit();
    }(std::move(application), handler, result, fake.runLoop)
                                                                                          .detach();
    fake.runLoop.run();
    return std::move(*result);
  }
  WindowCapture::CaptureResult run() { return run(application); }

  static CapturePayload payloadOf(const WindowCapture::CaptureResult& result) {
    const auto* payload = std::get_if<CapturePayload>(&result);
    if (!payload) {
      ADD_FAILURE() << "failed: " << std::get<CaptureFailure>(result).description();
      return {};
    }
    return *payload;
  }
  static std::string failureOf(const WindowCapture::CaptureResult& result) {
    const auto* failure = std::get_if<CaptureFailure>(&result);
    return failure ? failure->description() : "(no failure)";
  }

  fakes::FakePlatform fake = fakes::installFakePlatform();
  AXElement app;
  RunningApplication application{kPid, "Mail", "org.example.Mail"};
  std::vector<ImageCall> images;
  std::function<void()> duringOnImage;
};

}  // namespace zoba::capture_testing
