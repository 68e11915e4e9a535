// The window list and screenshots on a real X server. Skipped without DISPLAY.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "Platform/linux/Backends.h"
#include "tests/platform/ColourWindow.h"

namespace zoba::platform {
namespace {

using namespace std::chrono_literals;

// A GTK window painted by its own process, which must repaint it when asked.
class GtkColourWindow {
 public:
  GtkColourWindow(const std::string& rgb, int x, int y, int width, int height, const std::string& title) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      const std::string script = std::string(ZOBA_TEST_SOURCE_DIR) + "/colour_window.py";
      execl("/usr/bin/python3", "python3", script.c_str(), rgb.c_str(), std::to_string(width).c_str(),
            std::to_string(height).c_str(), std::to_string(x).c_str(), std::to_string(y).c_str(),
            title.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char ch;
    while (read(out[0], &ch, 1) == 1 && ch != '\n') line.push_back(ch);
    close(out[0]);
    if (!line.empty()) id_ = static_cast<xcb_window_t>(std::stoul(line));
  }
  ~GtkColourWindow() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  GtkColourWindow(const GtkColourWindow&) = delete;
  GtkColourWindow& operator=(const GtkColourWindow&) = delete;
  xcb_window_t id() const { return id_; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  xcb_window_t id_ = 0;
};

class X11ScreenCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!hasDisplay()) GTEST_SKIP() << "no X display";
    capture_ = linux_backend::makeScreenCapture();
  }

  // The listed window with this id, once the window manager has shown it.
  std::optional<ShareableWindow> waitForWindow(std::uint32_t id) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      auto content = capture_->shareableContent(true, true);
      if (auto* list = std::get_if<ShareableContent>(&content)) {
        for (const auto& window : list->windows) {
          if (window.windowID == id) return window;
        }
      }
      std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
  }

  // Waits until the window manager has stacked `upper` above `lower`.
  bool waitAbove(std::uint32_t upper, std::uint32_t lower) {
    for (int attempt = 0; attempt < 250; ++attempt) {
      auto content = capture_->shareableContent(true, true);
      if (auto* list = std::get_if<ShareableContent>(&content)) {
        for (const auto& window : list->windows) {  // topmost first
          if (window.windowID == upper) return true;
          if (window.windowID == lower) break;
        }
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  // Shoots until `ready` holds of the picture (the server paints a new window
  // a little after mapping it), for up to 5 s; the last picture either way.
  Image shootWhen(const ShareableWindow& window, std::int64_t width, std::int64_t height,
                  const std::function<bool(const Image&)>& ready) {
    Image image;
    for (int attempt = 0; attempt < 250; ++attempt) {
      image = shoot(window, width, height);
      if (!image.empty() && ready(image)) break;
      std::this_thread::sleep_for(20ms);
    }
    return image;
  }

  Image shoot(const ShareableWindow& window, std::int64_t width, std::int64_t height) {
    StreamConfiguration configuration;
    configuration.width = width;
    configuration.height = height;
    auto result = capture_->captureImage(capture_->filter(window), configuration);
    if (auto* error = std::get_if<ScreenCaptureError>(&result)) ADD_FAILURE() << error->description;
    auto* image = std::get_if<Image>(&result);
    return image ? *image : Image();
  }

  std::unique_ptr<ScreenCapture> capture_;
};

TEST_F(X11ScreenCaptureTest, ListsAWindowWithItsOwnerTitleLayerAndFrame) {
  ColourWindow window(0x3080C0, 200, 150, 320, 240, "Caf\xC3\xA9 window");
  auto listed = waitForWindow(window.id());
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->owningProcessID, getpid());
  EXPECT_EQ(listed->title, "Caf\xC3\xA9 window");
  EXPECT_EQ(listed->windowLayer, 0);
  EXPECT_EQ(listed->frame.width(), 320);
  EXPECT_EQ(listed->frame.height(), 240);
  EXPECT_EQ(capture_->filter(*listed).pointPixelScale, 1.0);
}

TEST_F(X11ScreenCaptureTest, CapturesAWindowAtItsSizeAndScaledDown) {
  ColourWindow window(0x3080C0, 100, 100, 300, 200, "Blue");
  auto listed = waitForWindow(window.id());
  ASSERT_TRUE(listed);
  auto full =
      shootWhen(*listed, 300, 200, [](const Image& image) { return image.pixel(0, 0) == 0xFF3080C0u; });
  ASSERT_EQ(full.width(), 300);
  ASSERT_EQ(full.height(), 200);
  EXPECT_EQ(full.pixel(0, 0), 0xFF3080C0u);
  EXPECT_EQ(full.pixel(299, 199), 0xFF3080C0u);
  auto half = shoot(*listed, 150, 100);
  ASSERT_EQ(half.width(), 150);
  ASSERT_EQ(half.height(), 100);
  EXPECT_EQ(half.pixel(75, 50), 0xFF3080C0u);
  auto png = encodePNG(full);
  ASSERT_TRUE(png);
  EXPECT_EQ(decodePNG(*png)->pixel(10, 10), 0xFF3080C0u);
}

TEST_F(X11ScreenCaptureTest, CoveredAndOffScreenWindowsAreCapturedAsThemselves) {
  ColourWindow below(0x20A040, 300, 300, 400, 300, "Below");
  ASSERT_TRUE(waitForWindow(below.id()));
  ColourWindow cover(0xC03030, 350, 350, 200, 150, "Cover");
  ASSERT_TRUE(waitForWindow(cover.id()));
  cover.raise();
  ASSERT_TRUE(waitAbove(cover.id(), below.id()));
  auto listed = waitForWindow(below.id());
  auto image = shoot(*listed, 400, 300);
  ASSERT_EQ(image.width(), 400);
  for (auto [x, y] : {std::pair{10, 10}, {100, 100}, {200, 120}, {399, 299}}) {
    EXPECT_EQ(image.pixel(x, y), 0xFF20A040u) << x << "," << y;
  }
}

TEST_F(X11ScreenCaptureTest, ACoveredApplicationWindowIsRepaintedForTheCapture) {
  GtkColourWindow gtk("8040c0", 120, 120, 360, 260, "Purple");
  ASSERT_NE(gtk.id(), 0u) << "GTK window did not start";
  auto listed = waitForWindow(gtk.id());
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->owningProcessID, gtk.pid());
  ColourWindow cover(0xFFFF00, int(listed->frame.minX()) + 40, int(listed->frame.minY()) + 40, 200, 120,
                     "Cover");
  ASSERT_TRUE(waitForWindow(cover.id()));
  cover.raise();
  ASSERT_TRUE(waitAbove(cover.id(), gtk.id()));
  auto image = shoot(*listed, std::int64_t(listed->frame.width()), std::int64_t(listed->frame.height()));
  ASSERT_FALSE(image.empty());
  // Under the cover, well inside the window.
  EXPECT_EQ(image.pixel(120, 100), 0xFF8040C0u);
  EXPECT_EQ(image.pixel(5, image.height() - 5), 0xFF8040C0u);
}

TEST_F(X11ScreenCaptureTest, AGoneWindowIsAnErrorWithADescription) {
  ShareableWindow gone;
  gone.windowID = 0x7FFFFFF0;
  auto result = capture_->captureImage(capture_->filter(gone), StreamConfiguration{});
  auto* error = std::get_if<ScreenCaptureError>(&result);
  ASSERT_TRUE(error);
  EXPECT_FALSE(error->description.empty());
}

}  // namespace
}  // namespace zoba::platform
