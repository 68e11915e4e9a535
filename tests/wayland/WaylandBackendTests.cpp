// The Wayland services themselves on the headless sway desktop: the workspace's
// application (named by a desktop entry found by app_id, with its hicolor icon), its
// focused frame, the screens and the session; the screen capture's list and shot.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopSession.h"
#include "Platform/linux/wayland/WaylandProbe.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::wayland {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
namespace backend = platform::linux_backend;

class WaylandBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!swayDesktopAvailable()) GTEST_SKIP() << "no sway desktop (scripts/headless-sway.sh run -- ...)";
    // A desktop entry and an icon of our own, found before GLib first reads the data dirs.
    data = fs::temp_directory_path() / ("zoba-wayland-data-" + std::to_string(::getpid()));
    fs::create_directories(data / "applications");
    std::ofstream(data / "applications" / "org.zoba.BackendTest.desktop")
        << "[Desktop Entry]\nType=Application\nName=Zoba Backend Test\nExec=true\nIcon=zoba-backend-test\n";
    fs::create_directories(data / "icons/hicolor/48x48/apps");
    auto png = platform::encodePNG(platform::Image::fromWords(
        48, 48, platform::Image::Format::premultiplied, std::vector<std::uint32_t>(48 * 48, 0xFF3366CCu)));
    std::ofstream(data / "icons/hicolor/48x48/apps/zoba-backend-test.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    session = backend::detectDesktopSession();
  }
  void TearDown() override {
    if (!data.empty()) fs::remove_all(data);
  }

  fs::path data;
  backend::DesktopSession session;
};

TEST_F(WaylandBackend, WorkspaceOfANativeWindow) {
  WaylandWindowOptions options;
  options.title = "Backend test window";
  options.appId = "org.zoba.BackendTest";
  WaylandWindow window(options);
  ASSERT_TRUE(window.pid());
  ASSERT_TRUE(window.place({300, 200, 500, 350}));
  ASSERT_EQ(session.compositor, backend::Compositor::sway);
  auto probe = std::make_shared<backend::wayland::WaylandProbe>();
  auto workspace = backend::makeWaylandWorkspace(session, probe);

  auto application = workspace->frontmostApplication();
  ASSERT_TRUE(application);
  EXPECT_EQ(application->pid, *window.pid());
  EXPECT_EQ(application->localizedName, "Zoba Backend Test");
  EXPECT_EQ(application->bundleIdentifier, "org.zoba.BackendTest");
  auto icon = workspace->icon(*application);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width(), 48);
  EXPECT_EQ(icon->pixel(10, 10), 0xFF3366CCu);

  EXPECT_EQ(workspace->focusedWindowFrame(*window.pid()), Rect(300, 200, 500, 350));
  EXPECT_EQ(workspace->focusedWindowFrame(*window.pid() + 100000), std::nullopt);
  auto screens = workspace->screens();
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0].frame, Rect(0, 0, 1920, 1080));
  EXPECT_EQ(workspace->session(), (platform::SessionDescription{"wayland", "sway", {}}));

  // The outputs stay bound between questions: a change reaches a later one. (sway's
  // output is put back before the test ends.)
  const auto screensBecome = [&](const Rect& frame) {
    for (const auto end = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < end;) {
      screens = workspace->screens();
      if (screens.size() == 1 && screens[0].frame == frame) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  };
  ASSERT_TRUE(swayCommand("output * scale 2"));
  EXPECT_TRUE(screensBecome(Rect(0, 0, 960, 540)));
  ASSERT_TRUE(swayCommand("output * scale 1"));
  EXPECT_TRUE(screensBecome(Rect(0, 0, 1920, 1080)));
}

TEST_F(WaylandBackend, ScreenCaptureListsAndShootsTheWindow) {
  WaylandWindowOptions options;
  options.title = "Shot test window";
  options.colour = 0xA03050;
  WaylandWindow window(options);
  ASSERT_TRUE(window.pid());
  ASSERT_TRUE(window.place({150, 120, 420, 300}));
  auto capture = backend::makeWaylandScreenCapture(session);
  auto content = capture->shareableContent(true, true);
  ASSERT_TRUE(std::holds_alternative<platform::ShareableContent>(content));
  const auto& windows = std::get<platform::ShareableContent>(content).windows;
  ASSERT_FALSE(windows.empty());
  // The focused floating window is topmost.
  EXPECT_EQ(windows[0].owningProcessID, *window.pid());
  EXPECT_EQ(windows[0].title, "Shot test window");
  EXPECT_EQ(windows[0].frame, Rect(150, 120, 420, 300));
  const auto filter = capture->filter(windows[0]);
  EXPECT_EQ(filter.pointPixelScale, 1);
  auto shoot = [&](std::int64_t width, std::int64_t height) -> std::optional<platform::Image> {
    platform::StreamConfiguration configuration;
    configuration.width = width;
    configuration.height = height;
    auto shot = capture->captureImage(filter, configuration);
    if (auto* error = std::get_if<platform::ScreenCaptureError>(&shot)) {
      ADD_FAILURE() << error->description;
      return std::nullopt;
    }
    return std::get<platform::Image>(shot);
  };
  // The window repaints at its new size a frame or two after it moved.
  std::optional<platform::Image> image;
  for (auto end = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < end;) {
    image = shoot(420, 300);
    if (!image || (image->pixel(100, 5) & 0xFFFFFFu) == 0xA03050u) break;
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 420);
  EXPECT_EQ(image->height(), 300);
  EXPECT_EQ(image->pixel(100, 5) & 0xFFFFFFu, 0xA03050u);
  EXPECT_EQ(image->pixel(410, 100) & 0xFFFFFFu, 0xA03050u);
  // Asked for at half size: scaled into it.
  image = shoot(210, 150);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 210);
  EXPECT_EQ(image->height(), 150);
  EXPECT_EQ(image->pixel(50, 2) & 0xFFFFFFu, 0xA03050u);
}

}  // namespace
}  // namespace zoba::testing::wayland
