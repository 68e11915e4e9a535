// The frontmost application on a real X server, under whichever window manager
// the desktop runs (tests/platform/CMakeLists.txt runs these under several).
// Skipped without DISPLAY.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopSession.h"
#include "tests/platform/ColourWindow.h"

namespace zoba::platform {
namespace {

using namespace std::chrono_literals;

TEST(X11WorkspaceTest, TheFrontmostApplicationOwnsTheActiveWindow) {
  if (!hasDisplay()) GTEST_SKIP() << "no X display";
  auto workspace = linux_backend::makeWorkspace(linux_backend::detectDesktopSession());
  ColourWindow window(0x405060, 240, 200, 300, 200, "Front");
  std::optional<RunningApplication> front;
  // The window manager maps the window, then takes the request to activate it.
  for (int attempt = 0; attempt < 250; ++attempt) {
    window.focus();
    front = workspace->frontmostApplication();
    if (front && front->pid == getpid()) break;
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(front);
  EXPECT_EQ(front->pid, getpid());
}

// The focused window's frame, asked of the X server, is the one the window list
// gives that window, shadow left out: the capture picks its window by it.
TEST(X11WorkspaceTest, TheFocusedWindowsFrameIsTheListedOne) {
  if (!hasDisplay()) GTEST_SKIP() << "no X display";
  auto workspace = linux_backend::makeWorkspace(linux_backend::detectDesktopSession());
  auto capture = linux_backend::makeScreenCapture();
  ColourWindow window(0x506070, 200, 160, 320, 240, "Framed");
  window.setFrameExtents(10, 12, 8, 14);
  std::optional<Rect> focused, listed;
  // The window manager maps, places (i3 tiles) and activates the window in its own time.
  for (int attempt = 0; attempt < 250 && !(focused && focused == listed); ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(20ms);
    window.focus();
    focused = workspace->focusedWindowFrame(getpid());
    listed.reset();
    auto content = capture->shareableContent(true, true);
    if (auto* windows = std::get_if<ShareableContent>(&content)) {
      for (const auto& shown : windows->windows)
        if (shown.windowID == window.id()) listed = shown.frame;
    }
  }
  ASSERT_TRUE(focused);
  EXPECT_EQ(focused, listed);
  EXPECT_GT(focused->width(), 0);
  EXPECT_EQ(workspace->focusedWindowFrame(getpid() + 1), std::nullopt);
}

}  // namespace
}  // namespace zoba::platform
